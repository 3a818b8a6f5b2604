#include "framework/ToolGlobals.h"
#include "platform/cartbrowser/CartListModel.h"
#include "platform/cartbrowser/widgets/uAudioBrowser.h"
#include "platform/cartstore/CartStore.h"
#include "platform/directory/UserDirectory.h"
#include "platform/system/widgets/uHWndGrab.h"
#include "tests/support/TempHome.h"
#include "ui/frmAudioBrowser.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>
#include <QTreeView>
#include <QtTest/qtestspontaneevent.h>
#include <cmath>
#include <gtest/gtest.h>

namespace {

class frmAudioBrowserTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        store = std::make_unique<CartStore>(home.File("store"));
        // Rows with a length hold something for a browser, audio file or not.
        for (const auto& [number, title] : {std::pair{"5", "Five"}, {"12", "Twelve"}}) {
            Cart cart = *store->GetCart(number, 0xFFFF, false);
            cart.Title = title;
            cart.Length = 3.0f;
            bool flag = false;
            ASSERT_EQ(store->SaveCart(number, cart, 3, false, false, flag), 0);
        }
        Globals::PlayoutAudio = store.get();
    }
    void TearDown() override
    {
        Globals::PlayoutAudio = nullptr;
        Globals::DirectoryInterface = nullptr;
    }

    static int Px(const QWidget& w, qint32 twips) { return uHWndGrab::TwipsToPixelsX(&w, twips); }
    static int PxY(const QWidget& w, qint32 twips) { return uHWndGrab::TwipsToPixelsY(&w, twips); }
    // The size the limits hold: the frame included.
    static QSize Outer(const QWidget& w) { return w.frameGeometry().size(); }
    static bool WaitIdle(frmAudioBrowser& window)
    {
        for (int turn = 0; window.ctlBrowser->Busy() && turn < 10000; ++turn) {
            QCoreApplication::processEvents();
        }
        return !window.ctlBrowser->Busy();
    }

    TempHome home;
    std::unique_ptr<CartStore> store;
};

} // namespace

TEST_F(frmAudioBrowserTest, LoadsInTheMiniBrowserWithTheStoreAndCaption)
{
    frmAudioBrowser window;
    EXPECT_EQ(window.windowTitle(), "Audio Browser");
    EXPECT_EQ(window.ctlBrowser->AudioEngine(), store.get());
    EXPECT_EQ(window.ctlBrowser->BrowserMode(), 2);
    EXPECT_TRUE(window.ctlBrowser->AllowSelection());
    EXPECT_TRUE(window.ctlBrowser->ApplyUserRights());
    EXPECT_EQ(window.ctlBrowser->CurrentUser(), nullptr) << "no directory, no user";
    EXPECT_FALSE(window.Cancelled);
    // 5610 twips wide; mode 2 fixes the height at 7060 twips.
    EXPECT_EQ(Outer(window), QSize(Px(window, 5610), PxY(window, 7060)));
    if (window.logicalDpiX() == 96 && window.logicalDpiY() == 96) {
        EXPECT_EQ(Outer(window), QSize(374, 471));
    }

    window.setDescription("Choose a cart");
    EXPECT_EQ(window.windowTitle(), "Choose a cart");
    window.setDescription("");
    EXPECT_EQ(window.windowTitle(), "Audio Browser");
    EXPECT_EQ(window.description(), "");
}

TEST_F(frmAudioBrowserTest, EachModeHasItsSizeLimits)
{
    frmAudioBrowser window;
    window.show();
    const QSize frame = Outer(window) - window.size();

    window.ctlBrowser->setBrowserMode(1); // fixed 10950 x 9000 twips
    const QSize full(Px(window, 10950), PxY(window, 9000));
    EXPECT_EQ(Outer(window), full);
    window.resize(200, 1000);
    EXPECT_EQ(Outer(window), full);

    // Any other mode changes no limit, but the size is still fitted into them.
    window.ctlBrowser_ModeChanged(9);
    EXPECT_EQ(Outer(window), full);
    EXPECT_EQ(window.HWndGrab1->MinWidth(), 10950);

    window.ctlBrowser->setBrowserMode(3); // 5610..90000 x 2000..90000
    EXPECT_EQ(Outer(window), full) << "a size within the new limits stays";
    window.resize(50, 50);
    EXPECT_EQ(Outer(window), QSize(Px(window, 5610), PxY(window, 2000)));
    window.resize(900, 700);
    EXPECT_EQ(window.size(), QSize(900, 700));
    EXPECT_EQ(window.ctlBrowser->geometry(), window.rect()) << "the browser fills the window";

    window.ctlBrowser->setBrowserMode(2); // height fixed at 7060, width 5610..90000
    EXPECT_EQ(Outer(window), QSize(900 + frame.width(), PxY(window, 7060)));
    window.resize(1200, 200);
    EXPECT_EQ(Outer(window), QSize(1200 + frame.width(), PxY(window, 7060)));
    EXPECT_EQ(window.ctlBrowser->geometry(), window.rect());
    EXPECT_EQ(uHWndGrab::HeightInTwips(&window),
              std::lround(PxY(window, 7060) * 1440.0 / window.logicalDpiY()));
}

TEST_F(frmAudioBrowserTest, ActivationReloadsUnlessInModeThree)
{
    frmAudioBrowser window;
    window.ctlBrowser->setBrowserMode(3);
    window.Cancelled = true;
    window.Form_Activate();
    EXPECT_FALSE(window.ctlBrowser->Busy());
    EXPECT_EQ(window.ctlBrowser->Carts()->rowCount(), 0);
    EXPECT_FALSE(window.Cancelled);

    window.ctlBrowser->setBrowserMode(2);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    ASSERT_TRUE(WaitIdle(window));
    EXPECT_EQ(window.ctlBrowser->Carts()->rowCount(), 2) << "the window system's activation loads";
}

TEST_F(frmAudioBrowserTest, TheCloseBoxStopsTheBrowserAndOnlyHidesTheWindow)
{
    frmAudioBrowser window;
    window.show();
    window.Form_Activate();
    ASSERT_TRUE(window.ctlBrowser->Busy());

    // The close box's request comes from the window system: a spontaneous event. (Qt 6.4's
    // QWindow::close() sends an ordinary one, as close() from code does.)
    QCloseEvent closeBox;
    QSpontaneKeyEvent::setSpontaneous(&closeBox);
    QCoreApplication::instance()->notify(&window, &closeBox); // sendEvent would clear the flag
    EXPECT_FALSE(window.ctlBrowser->Busy());
    EXPECT_TRUE(window.isHidden());
    EXPECT_TRUE(window.Cancelled);
    EXPECT_EQ(window.ctlBrowser->AudioEngine(), store.get()) << "still loaded";

    // Closing from code unloads it and releases the store; showing it again loads it afresh.
    window.show();
    window.ctlBrowser->setBrowserMode(3);
    window.Cancelled = true;
    EXPECT_TRUE(window.close());
    EXPECT_TRUE(window.isHidden());
    EXPECT_FALSE(window.Cancelled);
    EXPECT_EQ(window.ctlBrowser->AudioEngine(), nullptr);
    window.show();
    EXPECT_EQ(window.ctlBrowser->AudioEngine(), store.get());
    EXPECT_EQ(window.ctlBrowser->BrowserMode(), 2);
}

TEST_F(frmAudioBrowserTest, AChosenCartHidesTheWindowAndIsReadThroughHDReference)
{
    UserDirectory directory;
    ASSERT_EQ(directory.OpenDefaultDirectory(true), 0);
    QList<DirectoryUserEntry> users = directory.ReadUsers();
    ASSERT_EQ(users.size(), 1);
    users[0].Ranges = {{1, 10}};
    const Result<> written = directory.WriteUsers(users);
    ASSERT_TRUE(written) << written.Reason().toStdString();
    Globals::DirectoryInterface = &directory;

    frmAudioBrowser window;
    EXPECT_NE(window.ctlBrowser->CurrentUser(), nullptr);
    window.show();
    window.Form_Activate();
    ASSERT_TRUE(WaitIdle(window));
    window.Cancelled = true;

    // Cart 12 lies outside the user's carts: Enter does nothing.
    EXPECT_FALSE(window.ctlBrowser->Carts()->MayChoose(window.ctlBrowser->Carts()->RowOf("12")));
    QTreeView* list = window.ctlBrowser->CartList();
    window.setHDReference("12");
    EXPECT_EQ(window.HDReference(), "12");
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_TRUE(window.isVisible());

    window.setHDReference("0005");
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_TRUE(window.isHidden());
    EXPECT_FALSE(window.Cancelled);
    EXPECT_EQ(window.HDReference(), "5");
}
