#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// Playout profiles are the sub-keys of a registry key in HKEY_CURRENT_USER, that is the
// sections "<key>\<name>" of HKEY_CURRENT_USER.ini. A profile's own values (its cart store's
// base folder and identity, its audio settings) are values of that section.
class ProfileStore
{
public:
    // "Software\Orvane\Corvella v3\Profiles"
    static QString DefaultKey();
    static QString KeyOf(const QString& profileName, const QString& registryKey = DefaultKey());

    // The profiles under the key, as their names are stored, sorted without regard to case.
    static QStringList Profiles(const QString& registryKey = DefaultKey());
    // The stored spelling of the profile (names compare without regard to case, as the
    // registry's do); empty when there is no such profile.
    static std::optional<QString> Find(const QString& profileName,
                                       const QString& registryKey = DefaultKey());
    // Creates the profile's key when missing; false when it could not be written.
    static bool Create(const QString& profileName, const QString& registryKey = DefaultKey());

    // A profile name is also a folder name and a registry key name: not empty, no blanks at
    // either end, none of \ / [ ], no control characters, not "." or "..".
    static bool IsValidName(const QString& profileName);

    static QString ReadValue(const QString& profileName, const QString& valueName,
                             const QString& defaultValue);
    static qint32 ReadNumber(const QString& profileName, const QString& valueName,
                             qint32 defaultValue);
    // A null value deletes the value. False when it could not be written.
    static bool WriteValue(const QString& profileName, const QString& valueName,
                           const QString& value);

    // Value names.
    static constexpr const char* NameValue = "Name";
    static constexpr const char* BaseFolderValue = "BaseFolder";
    // The identity of the cart store the profile opened last; none before the first.
    static constexpr const char* StoreIdValue = "StoreId";
    // StoreId of a profile whose base folder was chosen anew: a new store may be made there.
    static constexpr const char* NewStoreId = "New";
    static constexpr const char* NumberPlayersValue = "NumberPlayers";
    static constexpr const char* PlayerSettingValue = "PlayerSetting";
    static constexpr const char* SharesPlayerSettingValue = "SharesPlayerSetting";
};
