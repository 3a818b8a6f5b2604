#include "platform/system/widgets/ControlFunctions.h"

#include <QApplication>
#include <QLineEdit>
#include <gtest/gtest.h>

TEST(ControlFunctionsTest, EnableTextBoxSwitchesBetweenWindowAndButtonFaceColours)
{
    QLineEdit box;
    box.setText("00:01:30.50");
    const QPalette standard = QApplication::palette(&box);
    const QColor window = standard.color(QPalette::Active, QPalette::Base);
    const QColor buttonFace = standard.color(QPalette::Active, QPalette::Button);
    // Otherwise the test could not tell the two states apart.
    ASSERT_NE(window, buttonFace);

    auto& controls = ControlFunctions::instance();
    controls.EnableTextBox(&box, false);
    EXPECT_FALSE(box.isEnabled());
    EXPECT_EQ(box.palette().color(QPalette::Disabled, QPalette::Base), buttonFace);

    // Back again: the window colour, not the button face the box carried.
    controls.EnableTextBox(&box, true);
    EXPECT_TRUE(box.isEnabled());
    EXPECT_EQ(box.palette().color(QPalette::Active, QPalette::Base), window);

    controls.SelectAllText(&box);
    EXPECT_EQ(box.selectedText(), "00:01:30.50");
    controls.SelectAllText(nullptr);
    controls.EnableTextBox(nullptr, true);
}
