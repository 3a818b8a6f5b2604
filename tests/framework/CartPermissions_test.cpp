#include "framework/CartPermissions.h"
#include "framework/ToolGlobals.h"
#include "platform/directory/DirectoryUserRecord.h"
#include "platform/directory/UserDirectory.h"
#include "platform/system/ScriptedAnswerer.h"
#include "tests/support/TempHome.h"

#include <gtest/gtest.h>

namespace {

// Counts how often the permission check asks the directory.
class CountingDirectory : public UserDirectory
{
public:
    using UserDirectory::UserDirectory;
    std::shared_ptr<DirectoryUser> CurrentUser() override
    {
        ++asked;
        return UserDirectory::CurrentUser();
    }
    int asked = 0;
};

class CartPermissionsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(directory.OpenDefaultDirectory(true), 0);
        ASSERT_TRUE(directory.WriteUsers(
            {{QString(), UserDirectory::OsLoginName(), {{1000, 1999}, {4000, 4000}}}}));
    }
    void TearDown() override { Globals::DirectoryInterface = nullptr; }

    TempHome home;
    CountingDirectory directory;
    ScriptedAnswerer answerer{[](const MessageBoxRequest& r) {
        ADD_FAILURE() << "unexpected box: " << r.Prompt.toStdString();
    }};
};

} // namespace

TEST_F(CartPermissionsTest, WithoutADirectoryEveryCartIsRefusedSilently)
{
    Globals::DirectoryInterface = nullptr;
    EXPECT_FALSE(CanEditCart("1234", true));
    EXPECT_FALSE(CanEditCartInDirectory(nullptr, "1234", true));
    EXPECT_TRUE(answerer.Shown().isEmpty());
}

TEST_F(CartPermissionsTest, WithoutALoggedInUserEveryCartIsRefusedSilently)
{
    directory.CloseDirectory();
    Globals::DirectoryInterface = &directory;
    EXPECT_FALSE(CanEditCart("1234", true));
    EXPECT_FALSE(CanUserEditCart(nullptr, "1234", true));
    EXPECT_TRUE(answerer.Shown().isEmpty());
}

TEST_F(CartPermissionsTest, EmptyNumberIsRefusedWithoutAskingTheDirectory)
{
    Globals::DirectoryInterface = &directory;
    EXPECT_FALSE(CanEditCart("", true));
    EXPECT_EQ(directory.asked, 0);
    EXPECT_TRUE(answerer.Shown().isEmpty());
}

TEST_F(CartPermissionsTest, RangesDecideAndTheLeadingNumberIsAskedFor)
{
    Globals::DirectoryInterface = &directory;
    EXPECT_TRUE(CanEditCart("1234 Station Jingle", true));
    EXPECT_TRUE(CanEditCart("1000", true));
    EXPECT_TRUE(CanEditCart("01999", true));
    EXPECT_TRUE(CanEditCart("4000", false));
    EXPECT_TRUE(CanEditCart("1999.4", false)); // rounded to 1999
    EXPECT_EQ(directory.asked, 5);
    EXPECT_TRUE(answerer.Shown().isEmpty());

    EXPECT_FALSE(CanEditCart("2000", false));
    EXPECT_FALSE(CanEditCart("Jingle 1234", false)); // no leading number: cart 0
    EXPECT_FALSE(CanEditCart("99999999999", false));
    EXPECT_TRUE(answerer.Shown().isEmpty());

    answerer.Expect(MsgBoxResult::OK);
    answerer.Expect(MsgBoxResult::OK);
    EXPECT_FALSE(CanEditCart("2500 Promo", true));
    EXPECT_FALSE(CanEditCartInDirectory(&directory, "1999.6", true)); // rounded to 2000
    ASSERT_EQ(answerer.Shown().size(), 2);
    EXPECT_EQ(answerer.Shown()[0].Prompt, "You are not allowed to edit cart 2500 Promo");
    EXPECT_EQ(answerer.Shown()[0].Icon(), MsgBoxStyle::Exclamation);
    EXPECT_EQ(answerer.Shown()[0].Buttons(), MsgBoxStyle::OKOnly);
    EXPECT_EQ(answerer.Shown()[1].Prompt, "You are not allowed to edit cart 1999.6");
}

TEST_F(CartPermissionsTest, UserWithoutRangesMayEditEveryCart)
{
    ASSERT_TRUE(directory.WriteUsers({{QString(), UserDirectory::OsLoginName(), {}}}));
    Globals::DirectoryInterface = &directory;
    EXPECT_TRUE(CanEditCart("1", true));
    EXPECT_TRUE(CanEditCart("99999 Last", true));
    const auto user =
        std::make_shared<DirectoryUserRecord>("{X}", "someone", QList<CartRange>{{5, 6}});
    EXPECT_TRUE(CanUserEditCart(user, "6", true));
    answerer.Expect(MsgBoxResult::OK);
    EXPECT_FALSE(CanUserEditCart(user, "7", true));
    EXPECT_EQ(answerer.Shown().size(), 1);
}
