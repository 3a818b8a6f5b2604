#include "platform/cartstore/CartStore.h"
#include "platform/cartstore/CartStoreSettings.h"
#include "platform/cartstore/PlayerSetting.h"
#include "platform/cartstore/widgets/CartvaultSettingsDialog.h"
#include "tests/support/TempHome.h"

#include <QApplication>
#include <QLineEdit>
#include <QSpinBox>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

// Runs action on the dialog once it is shown modally.
void OnDialog(const std::function<void(CartvaultSettingsDialog*)>& action)
{
    QTimer::singleShot(0, [action] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* dialog = qobject_cast<CartvaultSettingsDialog*>(w);
                dialog && dialog->isVisible()) {
                action(dialog);
                return;
            }
        }
        ADD_FAILURE() << "the settings dialog was not shown";
    });
}

} // namespace

TEST(CartvaultSettingsDialogTest, WritesBackOnlyWhenAccepted)
{
    TempHome home;
    CartStore store(home.File("store"));
    CartvaultSettings* settings = store.GetCartvaultSettings();
    CartStoreSettings::SetDialogHook(nullptr);
    EXPECT_FALSE(settings->ShowSettingsDialog(0x8000000F));

    CartvaultSettingsDialog::Install();
    OnDialog([](CartvaultSettingsDialog* d) {
        EXPECT_EQ(d->NormaliseLevelBox()->value(), 90);
        EXPECT_EQ(d->HighestCartBox()->value(), 99999);
        d->NormaliseLevelBox()->setValue(80);
        d->HighestCartBox()->setValue(5000);
        d->PlayerSettingEdit()->setText("Players=2");
        d->accept();
    });
    EXPECT_TRUE(settings->ShowSettingsDialog(0x8000000F));
    EXPECT_EQ(settings->NormaliseLevel(), 80);
    EXPECT_EQ(store.GetLastCart(0), "5000");
    EXPECT_EQ(settings->GetPlayerSetting(0)->Value(), "Players=2");

    OnDialog([](CartvaultSettingsDialog* d) {
        d->NormaliseLevelBox()->setValue(20);
        d->reject();
    });
    EXPECT_FALSE(settings->ShowSettingsDialog(0x8000000F));
    EXPECT_EQ(settings->NormaliseLevel(), 80);
    CartStoreSettings::SetDialogHook(nullptr);
}
