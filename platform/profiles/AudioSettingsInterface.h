#pragma once

#include <QString>

class PlayerSetting;

// The audio settings of a playout profile. ProfileAudioSettings is our implementation.
class AudioSettingsInterface
{
public:
    virtual ~AudioSettingsInterface() = default;

    virtual void setDebugLevel(qint32 level) = 0;
    // Loads the audio settings of that profile; callers ignore the result.
    virtual bool LoadProfile(const QString& profileName) = 0;
    virtual qint16 NumberPlayers() const = 0;
    virtual void setNumberPlayers(qint16 number) = 0;
    // True when the player setting is taken from the cart store's settings.
    virtual bool SharesPlayerSetting() const = 0;
    // Owned by the settings.
    virtual PlayerSetting* GetPlayerSetting() = 0;
};
