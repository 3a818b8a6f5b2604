#include "platform/system/widgets/VbColours.h"

#include <QApplication>
#include <QPalette>

namespace VbColours {

QColor ToColor(quint32 colour)
{
    if (colour & 0x80000000u) {
        const QPalette palette = QApplication::palette();
        switch (colour & 0xFF) {
        case 0x05: // window
            return palette.color(QPalette::Base);
        case 0x08: // window text
            return palette.color(QPalette::Text);
        case 0x0D: // highlight
            return palette.color(QPalette::Highlight);
        case 0x0E: // highlighted text
            return palette.color(QPalette::HighlightedText);
        case 0x12: // button text
            return palette.color(QPalette::ButtonText);
        case 0x17: // tool-tip text
            return palette.color(QPalette::ToolTipText);
        case 0x18: // tool-tip background
            return palette.color(QPalette::ToolTipBase);
        default: // button face and the other 3-D colours
            return palette.color(QPalette::Button);
        }
    }
    return QColor(int(colour & 0xFF), int((colour >> 8) & 0xFF), int((colour >> 16) & 0xFF));
}

} // namespace VbColours
