#pragma once

#include "platform/cartstore/PlayerSetting.h"
#include "platform/profiles/AudioSettingsInterface.h"

// Our audio settings: the number of players and the player setting of a profile, stored as
// values of the profile's key (ProfileStore). Changes made through the setters hold for this
// run only (a "/PLAYERS" override must not rewrite the profile).
class ProfileAudioSettings : public AudioSettingsInterface
{
public:
    static constexpr qint16 DefaultNumberPlayers = 2;

    void setDebugLevel(qint32 level) override { m_debugLevel = level; }
    qint32 DebugLevel() const { return m_debugLevel; }

    // False when the profile does not exist yet; the settings then hold their defaults.
    bool LoadProfile(const QString& profileName) override;
    QString ProfileName() const { return m_profileName; }

    qint16 NumberPlayers() const override { return m_numberPlayers; }
    void setNumberPlayers(qint16 number) override { m_numberPlayers = number; }
    bool SharesPlayerSetting() const override { return m_sharesPlayerSetting; }
    PlayerSetting* GetPlayerSetting() override { return &m_playerSetting; }

private:
    class Setting : public PlayerSetting
    {
    public:
        QString Value() const override { return m_value; }
        void setValue(const QString& value) override { m_value = value; }

    private:
        QString m_value;
    };

    qint32 m_debugLevel = 0;
    QString m_profileName;
    qint16 m_numberPlayers = DefaultNumberPlayers;
    bool m_sharesPlayerSetting = true;
    Setting m_playerSetting;
};
