#include "platform/directory/CartRights.h"
#include "platform/directory/DirectoryApplications.h"
#include "platform/directory/DirectoryUserRecord.h"
#include "platform/directory/UserDirectory.h"
#include "platform/directory/widgets/DirectorySettingsDialog.h"
#include "platform/system/ScriptedAnswerer.h"
#include "tests/support/TempHome.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

void OnDirectoryDialog(const std::function<void(DirectorySettingsDialog*)>& action)
{
    QTimer::singleShot(0, [action] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* dialog = qobject_cast<DirectorySettingsDialog*>(w);
                dialog && dialog->isVisible()) {
                action(dialog);
                return;
            }
        }
        ADD_FAILURE() << "the directory settings dialog was not shown";
    });
}

bool MayEdit(UserDirectory& directory, qint32 cart)
{
    const auto user = directory.CurrentUser();
    return user && user->GetCartRights()->MayEdit(cart);
}

class UserDirectoryTest : public ::testing::Test
{
protected:
    void SetUp() override { UserDirectory::SetSettingsHook(nullptr); }
    void TearDown() override { UserDirectory::SetSettingsHook(nullptr); }

    TempHome home;
};

} // namespace

TEST_F(UserDirectoryTest, FreshDirectoryIsCreatedAndTheLoginUserMayEditEveryCart)
{
    UserDirectory directory;
    EXPECT_EQ(directory.DatabasePath(),
              home.File("home/.local/share/Orvane/Corvella v3/directory.db"));
    EXPECT_EQ(directory.CurrentUser(), nullptr); // not open yet
    ASSERT_EQ(directory.OpenDefaultDirectory(true), 0);
    EXPECT_TRUE(QFileInfo::exists(directory.DatabasePath()));

    const auto user = std::dynamic_pointer_cast<DirectoryUserRecord>(directory.CurrentUser());
    ASSERT_NE(user, nullptr);
    EXPECT_EQ(user->LoginName(), UserDirectory::OsLoginName());
    EXPECT_TRUE(MayEdit(directory, 1));
    EXPECT_TRUE(MayEdit(directory, 99999));

    directory.BeginShutdown();
    directory.CloseDirectory();
    EXPECT_EQ(directory.CurrentUser(), nullptr);
}

TEST_F(UserDirectoryTest, RangesAreHonouredAndSurviveReopening)
{
    const QString me = UserDirectory::OsLoginName();
    {
        UserDirectory directory;
        ASSERT_EQ(directory.OpenDefaultDirectory(true), 0);
        QList<DirectoryUserEntry> users = directory.ReadUsers();
        ASSERT_EQ(users.size(), 1);
        users[0].Ranges = {{1000, 1999}, {5000, 5000}};
        users.append({QString(), "other", {{1, 10}}});
        const Result<> written = directory.WriteUsers(users);
        ASSERT_TRUE(written) << written.Reason().toStdString();
    }
    UserDirectory directory;
    ASSERT_EQ(directory.OpenDefaultDirectory(true), 0);
    EXPECT_FALSE(MayEdit(directory, 999));
    EXPECT_TRUE(MayEdit(directory, 1000));
    EXPECT_TRUE(MayEdit(directory, 1999));
    EXPECT_FALSE(MayEdit(directory, 2000));
    EXPECT_TRUE(MayEdit(directory, 5000));
    EXPECT_FALSE(MayEdit(directory, 5)); // another user's range is not ours

    // Identifiers come back from an upper-cased command line, or in lower case.
    const QList<DirectoryUserEntry> users = directory.ReadUsers();
    const auto other = std::find_if(users.begin(), users.end(),
                                    [](const auto& u) { return u.LoginName == "other"; });
    ASSERT_NE(other, users.end());
    ASSERT_FALSE(other->Guid.isEmpty());
    auto found = directory.GetUserByGuid(other->Guid.toLower());
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(std::dynamic_pointer_cast<DirectoryUserRecord>(found)->LoginName(), "other");
    EXPECT_EQ(directory.GetUserByGuid("{00000000-0000-0000-0000-000000000001}"), nullptr);
    EXPECT_EQ(directory.GetUserByGuid(""), nullptr);

    EXPECT_EQ(directory.LoginUser(found, 2, "Cartfeeder"), 0);
    EXPECT_TRUE(MayEdit(directory, 5));
    EXPECT_FALSE(MayEdit(directory, 1000));
    std::shared_ptr<DirectoryUser> none;
    EXPECT_NE(directory.LoginUser(none, 2, "Cartfeeder"), 0);
    EXPECT_EQ(directory.LoginDialog(0, "Cartfeeder", nullptr, true, 0), 0);
    EXPECT_TRUE(MayEdit(directory, 1000)); // the login user again
}

TEST_F(UserDirectoryTest, BadUserListsAreRefusedAndNothingIsWritten)
{
    UserDirectory directory;
    ASSERT_EQ(directory.OpenDefaultDirectory(true), 0);
    const QString me = UserDirectory::OsLoginName();
    const QList<DirectoryUserEntry> before = directory.ReadUsers();

    const QList<QPair<const char*, QList<DirectoryUserEntry>>> refused = {
        {"reversed range", {{QString(), me, {{10, 5}}}}},
        {"cart 0", {{QString(), me, {{0, 5}}}}},
        {"same login twice", {{QString(), me, {}}, {QString(), me, {}}}},
        {"blank login", {{QString(), "  ", {}}}},
    };
    for (const auto& [name, users] : refused) {
        SCOPED_TRACE(name);
        const Result<> written = directory.WriteUsers(users);
        EXPECT_FALSE(written);
        EXPECT_FALSE(written.Reason().isEmpty());
        EXPECT_EQ(written.Reason(), UserDirectory::Validate(users, QString()));
    }
    EXPECT_EQ(directory.ReadUsers().size(), before.size());
    EXPECT_EQ(directory.ReadUsers().first().Guid, before.first().Guid);

    EXPECT_FALSE(UserDirectory::Validate({{QString(), "other", {}}}, me).isEmpty());
    EXPECT_TRUE(UserDirectory::Validate({{QString(), me, {{1, 1}}}}, me).isEmpty());
}

TEST_F(UserDirectoryTest, OpeningFailsWhereTheDatabaseCannotBeCreated)
{
    QFile blocker(home.File("blocker"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    UserDirectory directory(home.File("blocker/directory.db"));
    EXPECT_NE(directory.OpenDefaultDirectory(true), 0);
    EXPECT_EQ(directory.CurrentUser(), nullptr);
    EXPECT_NE(directory.Applications()->Register(2, qApp), 0);
}

TEST_F(UserDirectoryTest, RunningApplicationIsRegisteredAndWithdrawn)
{
    UserDirectory directory;
    directory.setApplicationCode(2);
    directory.setApplicationName("Cartfeeder");
    ASSERT_EQ(directory.OpenDefaultDirectory(true), 0);
    EXPECT_EQ(directory.Applications()->Register(2, qApp), 0);
    EXPECT_EQ(directory.Applications()->Register(2, qApp), 0); // once per process and code
    EXPECT_EQ(directory.RunningApplications(), QStringList{"Cartfeeder"});
    directory.BeginShutdown();
    EXPECT_EQ(directory.Applications()->Unregister(2, qApp), 0);
    EXPECT_TRUE(directory.RunningApplications().isEmpty());
}

TEST_F(UserDirectoryTest, SettingsDialogEditsRangesAndCancelKeepsThem)
{
    UserDirectory directory;
    ASSERT_EQ(directory.OpenDefaultDirectory(true), 0);
    directory.ShowSettingsDialog(); // no dialog installed: nothing happens
    DirectorySettingsDialog::Install();

    OnDirectoryDialog([](DirectorySettingsDialog* d) {
        ASSERT_EQ(d->UserList()->count(), 1);
        EXPECT_FALSE(d->RemoveUserButton()->isEnabled()); // the logged-in user stays
        d->FirstCartBox()->setValue(100);
        d->LastCartBox()->setValue(199);
        d->AddRangeButton()->click();
        d->LoginNameEdit()->setText("jingles");
        d->AddUserButton()->click();
        d->FirstCartBox()->setValue(7000);
        d->LastCartBox()->setValue(7999);
        d->AddRangeButton()->click();
        d->accept();
    });
    directory.ShowSettingsDialog();
    EXPECT_TRUE(MayEdit(directory, 150));
    EXPECT_FALSE(MayEdit(directory, 7500));
    const QList<DirectoryUserEntry> users = directory.ReadUsers();
    ASSERT_EQ(users.size(), 2);
    const auto jingles = std::find_if(users.begin(), users.end(),
                                      [](const auto& u) { return u.LoginName == "jingles"; });
    ASSERT_NE(jingles, users.end());
    EXPECT_EQ(jingles->Ranges, (QList<CartRange>{{7000, 7999}}));

    OnDirectoryDialog([](DirectorySettingsDialog* d) {
        // Opens on the logged-in user.
        EXPECT_EQ(d->UserList()->currentItem()->text(), UserDirectory::OsLoginName());
        d->RangeList()->setCurrentRow(0);
        d->RemoveRangeButton()->click();
        d->reject();
    });
    directory.ShowSettingsDialog();
    EXPECT_FALSE(MayEdit(directory, 7500)); // still limited to 100-199
    EXPECT_TRUE(MayEdit(directory, 100));
}

TEST_F(UserDirectoryTest, SettingsDialogStaysOpenOnAReversedRange)
{
    UserDirectory directory;
    ASSERT_EQ(directory.OpenDefaultDirectory(true), 0);
    DirectorySettingsDialog::Install();
    ScriptedAnswerer answerer([](const MessageBoxRequest& r) {
        ADD_FAILURE() << "unexpected box: " << r.Prompt.toStdString();
    });
    answerer.Expect(MsgBoxResult::OK);
    OnDirectoryDialog([](DirectorySettingsDialog* d) {
        d->FirstCartBox()->setValue(500);
        d->LastCartBox()->setValue(400);
        d->AddRangeButton()->click();
        EXPECT_EQ(d->RangeList()->count(), 0);
        EXPECT_TRUE(d->isVisible());
        d->reject();
    });
    directory.ShowSettingsDialog();
    ASSERT_EQ(answerer.Shown().size(), 1);
    EXPECT_EQ(answerer.Shown()[0].Icon(), MsgBoxStyle::Exclamation);
    EXPECT_TRUE(MayEdit(directory, 12345));
}
