#include "platform/system/widgets/ProgressDialogFactory.h"

#include <QProgressDialog>
#include <QWidget>
#include <gtest/gtest.h>

TEST(ProgressDialogFactoryTest, ShowsADialogOverTheOwnerThatCanBeCancelled)
{
    ProgressDialogFactory::Install();
    QWidget owner;
    EXPECT_EQ(ProgressDisplay::Create("Copying wav file", nullptr), nullptr);
    {
        auto display = ProgressDisplay::Create("Copying wav file", &owner);
        ASSERT_NE(display, nullptr);
        auto* dialog = owner.findChild<QProgressDialog*>();
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->labelText(), "Copying wav file");
        display->SetPercent(40);
        EXPECT_EQ(dialog->value(), 40);
        EXPECT_FALSE(display->Cancelled());
        dialog->cancel();
        EXPECT_TRUE(display->Cancelled());
    }
    // The dialog goes with its display.
    EXPECT_EQ(owner.findChild<QProgressDialog*>(), nullptr);
    ProgressDisplay::SetFactory(nullptr);
}
