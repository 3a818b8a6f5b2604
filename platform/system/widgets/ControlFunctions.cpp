#include "platform/system/widgets/ControlFunctions.h"

#include <QApplication>
#include <QLineEdit>
#include <QPalette>

ControlFunctions& ControlFunctions::instance()
{
    static ControlFunctions functions;
    return functions;
}

void ControlFunctions::SelectAllText(QLineEdit* textBox) const
{
    if (textBox) {
        textBox->selectAll();
    }
}

void ControlFunctions::EnableTextBox(QLineEdit* textBox, bool enabled) const
{
    if (!textBox) {
        return;
    }
    textBox->setEnabled(enabled);
    // From the application's palette, not the box's own, which an earlier call has changed.
    const QPalette standard = QApplication::palette(textBox);
    const QColor colour =
        standard.color(QPalette::Active, enabled ? QPalette::Base : QPalette::Button);
    QPalette palette = textBox->palette();
    palette.setColor(QPalette::Base, colour);
    textBox->setPalette(palette);
}
