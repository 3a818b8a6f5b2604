#include "platform/profiles/ProfileAudioSettings.h"

#include "platform/profiles/ProfileStore.h"

bool ProfileAudioSettings::LoadProfile(const QString& profileName)
{
    m_profileName = profileName;
    const bool exists =
        ProfileStore::IsValidName(profileName) && ProfileStore::Find(profileName).has_value();
    if (!exists) {
        m_numberPlayers = DefaultNumberPlayers;
        m_sharesPlayerSetting = true;
        m_playerSetting.setValue(QString());
        return false;
    }
    const qint32 players = ProfileStore::ReadNumber(profileName, ProfileStore::NumberPlayersValue,
                                                    DefaultNumberPlayers);
    // A hand-edited value outside the 16-bit range is not a number of players.
    m_numberPlayers = players >= 1 && players <= 32767 ? qint16(players) : DefaultNumberPlayers;
    m_sharesPlayerSetting =
        ProfileStore::ReadNumber(profileName, ProfileStore::SharesPlayerSettingValue, 1) != 0;
    m_playerSetting.setValue(
        ProfileStore::ReadValue(profileName, ProfileStore::PlayerSettingValue, QString()));
    return true;
}
