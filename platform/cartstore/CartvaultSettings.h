#pragma once

#include <QString>

class PlayerSetting;
class QObject;

// The cart store's global settings.
class CartvaultSettings
{
public:
    virtual ~CartvaultSettings() = default;
    // The store's default normalise level, in percent of full scale.
    virtual qint16 NormaliseLevel() const = 0;
    // A modal dialog of the settings; true when accepted.
    virtual bool ShowSettingsDialog(quint32 backColour) = 0;
    virtual PlayerSetting* GetPlayerSetting(qint32 index) = 0;
};
