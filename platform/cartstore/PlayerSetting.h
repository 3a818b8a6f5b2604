#pragma once

#include <QString>

// One player-setting item of the audio settings or of the cart store's global settings.
class PlayerSetting
{
public:
    virtual ~PlayerSetting() = default;
    virtual QString Value() const = 0;
    virtual void setValue(const QString& value) = 0;
};
