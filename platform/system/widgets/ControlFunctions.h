#pragma once

class QLineEdit;

// Utility component: text-box helpers.
class ControlFunctions
{
public:
    static ControlFunctions& instance();

    void SelectAllText(QLineEdit* textBox) const;
    // Disabled boxes take the button-face colour, enabled ones the window colour.
    void EnableTextBox(QLineEdit* textBox, bool enabled) const;

private:
    ControlFunctions() = default;
};
