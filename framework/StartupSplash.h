#pragma once

#include <QString>

// The start-up window as tool start-up drives it: a row of step icons and a status line.
// The splash window implements it; tests record the calls.
class StartupSplash
{
public:
    virtual ~StartupSplash() = default;

    virtual void setNumberIcons(qint16 value) = 0;
    virtual void SetIconInfo(qint16 IconIndex, const QString& IconReference,
                             const QString& IconDescription) = 0;
    virtual void SetCurrentAction(const QString& Action) = 0;
    // Shows the window modeless and lets pending window messages run once.
    virtual void ShowAndYield() = 0;
};
