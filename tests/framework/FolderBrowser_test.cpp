#include "framework/widgets/FolderBrowser.h"
#include "platform/system/PlatformPaths.h"
#include "platform/system/ScriptedAnswerer.h"
#include "tests/support/TempHome.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>

namespace {

// Runs the action on the folder picker once it is open; a picker that never appears fails the
// test instead of leaving it waiting.
void WhenPickerOpen(std::function<void(QFileDialog*)> action, int triesLeft = 200)
{
    QTimer::singleShot(triesLeft == 200 ? 0 : 10, [action, triesLeft] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<QFileDialog*>(widget);
            if (dialog && dialog->isVisible()) {
                action(dialog);
                return;
            }
        }
        if (triesLeft > 0) {
            WhenPickerOpen(action, triesLeft - 1);
        } else {
            ADD_FAILURE() << "the folder picker did not open";
        }
    });
}

void Type(QFileDialog* dialog, const QString& text)
{
    auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit");
    ASSERT_NE(edit, nullptr);
    edit->setText(text);
}

QString Prompt(const QString& folder)
{
    return "The folder '" + folder + "' cannot be found\n\nDo you want it to be created for you?";
}

class FolderBrowserTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        start = home.File("start");
        QDir().mkpath(start + "/Existing");
    }

    TempHome home;
    QString start;
    ScriptedAnswerer answerer{[](const MessageBoxRequest& r) {
        ADD_FAILURE() << "unexpected box: " << r.Prompt.toStdString();
    }};
};

} // namespace

TEST_F(FolderBrowserTest, TypedMissingFolderIsCreatedOnlyOnYes)
{
    const QString folder = start + "/New";
    answerer.Expect(MsgBoxResult::No);
    EXPECT_EQ(BrowseForFolderCallback(nullptr, BrowseMessage::ValidateFailed, folder), 1);
    EXPECT_FALSE(QDir(folder).exists());

    answerer.Expect(MsgBoxResult::Yes);
    EXPECT_EQ(BrowseForFolderCallback(nullptr, BrowseMessage::ValidateFailed, folder), 0);
    EXPECT_TRUE(QDir(folder).exists());

    ASSERT_EQ(answerer.Shown().size(), 2);
    EXPECT_EQ(answerer.Shown()[0].Prompt, Prompt(folder));
    EXPECT_EQ(answerer.Shown()[0].Style, MsgBoxStyle::YesNo | MsgBoxStyle::Question);

    // A folder that cannot be made keeps the picker open without a further box.
    QFile blocker(home.File("blocker"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    answerer.Expect(MsgBoxResult::Yes);
    EXPECT_EQ(
        BrowseForFolderCallback(nullptr, BrowseMessage::ValidateFailed, home.File("blocker/x")), 1);
    EXPECT_EQ(answerer.Shown().size(), 3);
}

TEST_F(FolderBrowserTest, PickerStartsAtTheStartPathAndReturnsTheTypedFolder)
{
    QString shownAt;
    WhenPickerOpen([&](QFileDialog* dialog) {
        shownAt = dialog->directory().absolutePath();
        Type(dialog, "Existing");
        static_cast<QDialog*>(dialog)->accept();
    });
    EXPECT_EQ(BrowseForFolder(nullptr, "Choose", start), start + "/Existing");
    EXPECT_EQ(shownAt, start);
    EXPECT_EQ(BrowseStartPath, start);
}

TEST_F(FolderBrowserTest, MissingFolderKeepsThePickerOpenUntilCreated)
{
    answerer.Expect(MsgBoxResult::No);
    answerer.Expect(MsgBoxResult::Yes);
    bool openAfterNo = false;
    WhenPickerOpen([&](QFileDialog* dialog) {
        Type(dialog, "Brand New");
        static_cast<QDialog*>(dialog)->accept();
        openAfterNo = dialog->isVisible();
        static_cast<QDialog*>(dialog)->accept();
    });
    EXPECT_EQ(BrowseForFolder(nullptr, "Choose", start), start + "/Brand New");
    EXPECT_TRUE(openAfterNo);
    EXPECT_TRUE(QDir(start + "/Brand New").exists());
    ASSERT_EQ(answerer.Shown().size(), 2);
    EXPECT_EQ(answerer.Shown()[0].Prompt, Prompt(start + "/Brand New"));
}

TEST_F(FolderBrowserTest, CancelGivesNothingAndAnEmptyStartIsTheHomeFolder)
{
    QString shownAt;
    WhenPickerOpen([&](QFileDialog* dialog) {
        shownAt = dialog->directory().absolutePath();
        Type(dialog, "Never Made");
        dialog->reject();
    });
    EXPECT_EQ(BrowseForFolder(nullptr, "Choose", ""), "");
    EXPECT_EQ(shownAt, QDir(PlatformPaths::Home()).absolutePath());
    EXPECT_FALSE(QDir(PlatformPaths::Home() + "/Never Made").exists());
}
