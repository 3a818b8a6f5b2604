#include "ui/QtImporterDialogs.h"

#include "engine/cImporter.h"
#include "engine/cImporterGroup.h"
#include "framework/ToolGlobals.h"
#include "platform/system/IniFile.h"
#include "platform/system/ScriptedAnswerer.h"
#include "tests/support/TempHome.h"
#include "tests/ui/FakeCartStore.h"
#include "ui/frmGroupDetails.h"
#include "ui/frmImporterSettings.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

namespace {

// Hands the open modal window of type T to act once the importer has shown it; a window left
// open is closed (which cancels it), so nothing can block.
template <typename T> void WhenShown(const std::function<void(T&)>& act)
{
    QTimer::singleShot(0, [act] {
        T* window = nullptr;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* candidate = qobject_cast<T*>(widget); candidate && candidate->isVisible()) {
                window = candidate;
            }
        }
        if (!window) {
            ADD_FAILURE() << "no window shown";
            return;
        }
        act(*window);
        if (window->isVisible()) {
            window->close();
        }
    });
}

class QtImporterDialogsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Globals::AppLogFile = home.File("app.log");
        Globals::ToolProfileFolder = home.File("profile");
        Globals::PlayoutAudio = &store;
        ASSERT_TRUE(QDir().mkpath(home.File("watched")));
    }
    void TearDown() override
    {
        Globals::PlayoutAudio = nullptr;
        Globals::ToolProfileFolder.clear();
        Globals::AppLogFile.clear();
    }

    QString Ini(const QString& section, const QString& key) const
    {
        return IniFile::ReadString(Globals::ToolProfileFolder + "/Importer.ini", section, key,
                                   "<missing>");
    }

    TempHome home;
    FakeCartStore store;
    ScriptedAnswerer answerer{[](const MessageBoxRequest& r) {
        ADD_FAILURE() << "unexpected box: " << r.Prompt.toStdString();
    }};
};

} // namespace

TEST_F(QtImporterDialogsTest, ImporterShowsTheWindowsAndSaves)
{
    cImporter importer;
    QString profile = "Studio";
    ASSERT_TRUE(importer.ReadSettings(profile));
    QtImporterDialogs::Install(importer);
    ASSERT_NE(importer.dialogs(), nullptr);

    WhenShown<frmGroupDetails>([&](frmGroupDetails& w) {
        w.txtGroupName->setText("Promos");
        w.txtImportDirectory->setText(home.File("watched"));
        w.txtImportStartCart->setText("10");
        w.txtImportEndCart->setText("20");
        answerer.Expect(MsgBoxResult::Yes); // no user directory: every cart is refused
        w.cmdOK->click();
    });
    EXPECT_EQ(importer.AddGroup(), 1);
    ASSERT_EQ(importer.NumberGroups(), 1);
    EXPECT_EQ(importer.ImporterGroup(1)->GroupName, "Promos");
    EXPECT_EQ(Ini("Group1", "Name"), "Promos");

    // Cancelled: nothing added, but saved all the same.
    QFile::remove(Globals::ToolProfileFolder + "/Importer.ini");
    WhenShown<frmGroupDetails>([](frmGroupDetails& w) { w.cmdCancel->click(); });
    EXPECT_EQ(importer.AddGroup(), 0);
    EXPECT_EQ(importer.NumberGroups(), 1);
    EXPECT_EQ(Ini("General", "NumberGroups"), "1");

    qint16 index = 1;
    WhenShown<frmGroupDetails>([](frmGroupDetails& w) {
        EXPECT_EQ(w.txtGroupName->text(), "Promos");
        w.close();
    });
    EXPECT_FALSE(importer.DisplayGroup(index));

    WhenShown<frmImporterSettings>([](frmImporterSettings& w) {
        w.txtCheckInterval->setText("30");
        w.cmdOK->click();
    });
    EXPECT_TRUE(importer.DisplaySettings());
    EXPECT_EQ(importer.CheckInterval, 30.0f);
    EXPECT_EQ(Ini("General", "CheckInterval"), "30");
}
