#pragma once

#include "platform/profiles/PlayoutGeneral.h"

#include <functional>
#include <memory>

class PlayLogs;
class ProfileCartStore;

// Our playout component: opens a profile (ProfileStore), creating it when new, and its cart
// store in the profile's base folder (CartStore::DefaultBaseFolder() unless the file-locations
// dialog moved it; kept as the profile's "BaseFolder" value).
class PlayoutProfile : public PlayoutGeneral
{
public:
    PlayoutProfile();
    ~PlayoutProfile() override;

    PlayoutProfile(const PlayoutProfile&) = delete;
    PlayoutProfile& operator=(const PlayoutProfile&) = delete;

    void setDebugLevel(qint32 level) override { m_debugLevel = level; }

    // 1 when opened; 0 for a name that cannot be a profile, a missing profile with createNew
    // false, or a store that cannot be opened. A profile that opened a store before opens only
    // that one (its identity is the profile's "StoreId" value); a new store is made only for a
    // profile without one.
    qint32 OpenProfile(const QString& profileName, qint32 playoutFlags, bool createNew) override;
    // True while a profile is open.
    bool Start(QObject* application, qint32 playoutFlags) override;
    PlayoutAudio* Audio() override;
    PlayoutLogging* Logging() override;
    // Through the dialog that the widgets library installs; without one, 0. The chosen folder
    // is stored for the open profile (created when missing) and used from ReloadProfile on;
    // the carts already stored stay in the old folder.
    qint32 ShowFileLocations(qint32 flags, bool flag, quint32 backColour) override;
    qint32 ReloadProfile(const QString& profileName, qint32 flags) override;
    // Code 1: a description of the open profile ("" while none is open).
    QString GetComponentText(qint32 componentCode) const override;
    // Code 1: the registry file holding the profiles and the user directory's database;
    // code 256: the cart store's database. Only files that exist.
    QStringList GetFileList(qint32 componentCode) const override;

    QString ProfileName() const { return m_profileName; }
    // The base folder the profile's store uses.
    static QString BaseFolderOf(const QString& profileName);
    // Stores the profile's base folder (the default is stored as no value) and forgets the store
    // opened before, so that the folder may hold a new one. False when the
    // folder cannot be created or the value not written.
    static bool SetBaseFolder(const QString& profileName, const QString& folder);

    struct FileLocations
    {
        QString ProfileName;
        QString BaseFolder;
        QString DefaultBaseFolder;
        quint32 BackColour = 0;
    };
    // Answers the chosen base folder, "" when cancelled.
    using FileLocationsHook = std::function<QString(const FileLocations& locations)>;
    static void SetFileLocationsHook(FileLocationsHook hook);

private:
    qint32 m_debugLevel = 0;
    QString m_profileName;
    std::unique_ptr<ProfileCartStore> m_audio;
    std::unique_ptr<PlayLogs> m_logging;
};
