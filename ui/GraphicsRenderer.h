#pragma once

#include <QColor>

// The colours the program's windows take, in place of the playout system's graphics library:
// the desktop's own palette.
class GraphicsRenderer
{
public:
    GraphicsRenderer();

    // The background of windows and dialogs.
    QColor BackgroundColour() const { return m_background; }

private:
    QColor m_background;
};
