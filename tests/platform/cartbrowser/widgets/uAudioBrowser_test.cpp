#include "platform/cartbrowser/CartListModel.h"
#include "platform/cartbrowser/widgets/uAudioBrowser.h"
#include "platform/cartstore/CartStore.h"
#include "platform/cartstore/CartStoreSettings.h"
#include "platform/directory/DirectoryUser.h"
#include "platform/directory/UserCartRights.h"
#include "platform/profiles/ProfileCartStore.h"
#include "platform/system/ToolError.h"
#include "tests/support/AudioFixtures.h"
#include "tests/support/TempHome.h"

#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QSignalSpy>
#include <QTest>
#include <QTreeView>
#include <gtest/gtest.h>
#include <map>

namespace {

// The members a browser does not use answer nothing.
class StubStore : public PlayoutAudio
{
public:
    AudioSettingsInterface* AudioSettings() const override { return nullptr; }
    void setAudioSettings(AudioSettingsInterface*) override {}
    CartvaultSettings* GetCartvaultSettings() override { return nullptr; }
    QString BaseFolder() const override { return {}; }
    bool IsValidCart(const QString&) const override { return false; }
    bool IsCartInRange(const QString&, const QString&, const QString&) const override
    {
        return false;
    }
    float GetRangePosition(const QString&, const QString&, const QString&) const override
    {
        return 0;
    }
    QString GetFirstCart(const QString&) const override { return {}; }
    QString GetNextCart(const QString&) const override { return {}; }
    QString GetLastCart(qint32) const override { return {}; }
    std::optional<Cart> GetCart(const QString&, qint32, bool) override { return std::nullopt; }
    qint32 SaveCart(const QString&, Cart&, qint32, bool, bool, bool&) override { return 1; }
    QString GetCartAudioPath(const QString&, qint32, bool) const override { return {}; }
    bool ImportAudioFile(QObject*, const QString&, const QString&, qint32, qint16, bool&, qint32,
                         qint32, bool&) override
    {
        return false;
    }
    bool ImportTransportFile(QObject*, const QString&, const QString&, qint32, QObject*, qint32,
                             QString&, qint32, bool&) override
    {
        return false;
    }
    bool ExportCart(QObject*, const QString&, const QString&, QObject*, qint32, const QString&,
                    bool, bool) override
    {
        return false;
    }
    bool RemoveCart(const QString&, bool, bool) override { return false; }
    void RefreshCartInfo(bool, QString&, qint32&) override {}
    void RegisterCallback(IAudioCallback*) override {}
    void UnregisterCallback(IAudioCallback*) override {}
};

// A store without a listing of its own: the browser walks it cart by cart.
class WalkingView : public StubStore
{
public:
    explicit WalkingView(PlayoutAudio& store) : m_store(store) {}
    QString GetFirstCart(const QString& cart) const override { return m_store.GetFirstCart(cart); }
    QString GetNextCart(const QString& cart) const override { return m_store.GetNextCart(cart); }
    std::optional<Cart> GetCart(const QString& cart, qint32 detail, bool flag) override
    {
        return m_store.GetCart(cart, detail, flag);
    }

private:
    PlayoutAudio& m_store;
};

// A store with a listing over carts held in memory; records every request.
class ListingStore : public StubStore, public CartListing
{
public:
    std::map<qint64, CartSummary> carts;
    mutable QList<QPair<qint64, int>> requests;
    QString failure; // raised by the next request when set

    void Add(qint64 number, const QString& title, const QString& artist = {}, float length = 5)
    {
        carts[number] = {number, QString::number(number), title, artist, length};
    }
    QList<CartSummary> ListCarts(qint64 afterNumber, int maxCount) const override
    {
        requests.append({afterNumber, maxCount});
        if (!failure.isEmpty()) {
            throw ToolError(ToolErrors::DatabaseFailed, failure);
        }
        QList<CartSummary> list;
        for (auto it = carts.upper_bound(afterNumber); it != carts.end() && list.size() < maxCount;
             ++it) {
            list.append(it->second);
        }
        return list;
    }
};

class RangeUser : public DirectoryUser
{
public:
    explicit RangeUser(QList<CartRange> ranges)
        : m_rights(std::make_shared<UserCartRights>(std::move(ranges)))
    {}
    std::shared_ptr<CartRights> GetCartRights() const override { return m_rights; }

private:
    std::shared_ptr<CartRights> m_rights;
};

bool WaitIdle(uAudioBrowser& browser)
{
    for (int turn = 0; browser.Busy() && turn < 100000; ++turn) {
        QCoreApplication::processEvents();
    }
    return !browser.Busy();
}

QStringList Column(const QAbstractItemModel& model, int column)
{
    QStringList texts;
    for (int row = 0; row < model.rowCount(); ++row) {
        texts << model.index(row, column).data().toString();
    }
    return texts;
}

QStringList VisibleCarts(uAudioBrowser& browser)
{
    return Column(*browser.CartList()->model(), CartListModel::CartColumn);
}

QString CurrentCart(uAudioBrowser& browser)
{
    const QModelIndex current = browser.CartList()->currentIndex();
    return current.siblingAtColumn(CartListModel::CartColumn).data().toString();
}

} // namespace

TEST(uAudioBrowserTest, ListsTheCartsThatHoldSomethingAlikeWithAndWithoutAListing)
{
    TempHome home;
    ProfileCartStore profile;
    ASSERT_TRUE(profile.Open(home.File("store")));
    CartStore& store = *profile.Store();
    bool f1 = false, f2 = true, flag = false;
    for (const auto& [cart, seconds] : {std::pair{"5", 2.0}, {"12", 1.5}, {"150", 1.0}}) {
        SCOPED_TRACE(cart);
        const QString wav = home.File(QString("%1 Cart %1.wav").arg(cart));
        ASSERT_TRUE(AudioFixtures::WriteSineWav(wav, seconds, 22050, 1));
        ASSERT_TRUE(store.ImportAudioFile(nullptr, cart, wav, 0x24, -1, f1, 0, -1, f2));
    }
    Cart five = *store.GetCart("5", 0xFFFF, false);
    five.Artist = "Orvane Voices";
    ASSERT_EQ(store.SaveCart("5", five, 3, false, false, flag), 0);
    Cart titleOnly = *store.GetCart("7", 0xFFFF, false); // a row, but nothing in it
    titleOnly.Title = "Reserved";
    ASSERT_EQ(store.SaveCart("7", titleOnly, 3, false, false, flag), 0);
    // Cart 150 lies beyond the highest cart now: no longer a cart of the store.
    ASSERT_TRUE(static_cast<CartStoreSettings*>(store.GetCartvaultSettings())->setHighestCart(100));

    uAudioBrowser browser;
    browser.setAudioEngine(&profile);
    browser.ActivateBrowser();
    ASSERT_TRUE(WaitIdle(browser));
    const CartListModel& carts = *browser.Carts();
    EXPECT_EQ(Column(carts, CartListModel::CartColumn), QStringList({"5", "12"}));
    EXPECT_EQ(Column(carts, CartListModel::TitleColumn), QStringList({"Cart 5", "Cart 12"}));
    EXPECT_EQ(Column(carts, CartListModel::ArtistColumn), QStringList({"Orvane Voices", ""}));
    EXPECT_EQ(Column(carts, CartListModel::LengthColumn), QStringList({"0:02.0", "0:01.5"}));
    EXPECT_EQ(browser.StatusLine()->text(), "2 carts");

    // Walked cart by cart, in batches smaller than the store, the list is the same.
    WalkingView walking(store);
    uAudioBrowser walker;
    walker.setBatchSize(7);
    walker.setAudioEngine(&walking);
    walker.ActivateBrowser();
    ASSERT_TRUE(WaitIdle(walker));
    for (int column = 0; column < CartListModel::ColumnCount; ++column) {
        EXPECT_EQ(Column(*walker.Carts(), column), Column(carts, column));
    }

    EXPECT_EQ(CartListModel::FormatLength(3725.04f), "1:02:05.0");
}

TEST(uAudioBrowserTest, AHundredThousandCartsLoadOneBatchPerTurnOfTheEventLoop)
{
    ListingStore store;
    for (int n = 1; n <= 100000; ++n) {
        store.Add(n * 2, "Cart");
    }
    uAudioBrowser browser;
    browser.setAudioEngine(&store);
    browser.ActivateBrowser();
    EXPECT_TRUE(browser.Busy());
    EXPECT_EQ(browser.Carts()->rowCount(), 0) << "nothing may be read before the loop runs";

    // A load in one go would bring all 100,000 rows in the first turn.
    int turns = 0;
    int largestStep = 0;
    int rows = 0;
    while (browser.Busy() && turns < 1000) {
        QCoreApplication::processEvents();
        ++turns;
        largestStep = std::max(largestStep, browser.Carts()->rowCount() - rows);
        rows = browser.Carts()->rowCount();
        if (rows < 100000) {
            EXPECT_TRUE(browser.Busy());
        }
    }
    EXPECT_FALSE(browser.Busy());
    EXPECT_EQ(rows, 100000);
    EXPECT_EQ(largestStep, 2000);
    ASSERT_EQ(store.requests.size(), 51); // the last one finds the end
    for (int i = 0; i < store.requests.size(); ++i) {
        EXPECT_EQ(store.requests[i], qMakePair(qint64(i) * 4000, 2000));
    }
    EXPECT_EQ(browser.StatusLine()->text(), QLocale().toString(100000) + " carts");

    // Stopped after two batches: what came stays, nothing more is asked for.
    browser.setAudioEngine(nullptr);
    browser.setAudioEngine(&store);
    store.requests.clear();
    browser.ActivateBrowser();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    browser.StopBrowsing();
    EXPECT_FALSE(browser.Busy());
    const int stoppedAt = browser.Carts()->rowCount();
    EXPECT_GT(stoppedAt, 0);
    EXPECT_LE(stoppedAt, 4000);
    const auto asked = store.requests.size();
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(browser.Carts()->rowCount(), stoppedAt);
    EXPECT_EQ(store.requests.size(), asked);
}

TEST(uAudioBrowserTest, AReloadKeepsTheOldListUntilCompleteAndStaysOnTheCurrentCart)
{
    ListingStore store;
    for (int n = 1; n <= 5000; ++n) {
        store.Add(n, QString("Cart %1").arg(n));
    }
    uAudioBrowser browser;
    browser.resize(400, 300);
    browser.show();
    browser.setAudioEngine(&store);
    browser.setHDReference("0042"); // before the cart is listed: chosen when it comes
    browser.ActivateBrowser();
    ASSERT_TRUE(WaitIdle(browser));
    EXPECT_EQ(CurrentCart(browser), "42");
    EXPECT_EQ(browser.HDReference(), "0042");

    store.carts.erase(10);
    store.Add(6000, "New");
    store.carts[42].Title = "Renamed";
    browser.ActivateBrowser();
    QCoreApplication::processEvents();
    EXPECT_TRUE(browser.Busy());
    EXPECT_EQ(browser.Carts()->rowCount(), 5000);
    EXPECT_EQ(browser.Carts()->RowOf("10"), 9) << "the old list stays until the new is complete";
    ASSERT_TRUE(WaitIdle(browser));
    EXPECT_EQ(browser.Carts()->RowOf("10"), -1);
    EXPECT_EQ(browser.Carts()->RowOf("6000"), 4999);
    EXPECT_EQ(CurrentCart(browser), "42");
    EXPECT_EQ(browser.CartList()->currentIndex().siblingAtColumn(1).data().toString(), "Renamed");

    // Moving in the list makes another cart current.
    QTest::keyClick(browser.CartList(), Qt::Key_Down);
    EXPECT_EQ(browser.HDReference(), "43");
}

TEST(uAudioBrowserTest, FilterMatchesEveryWordInNumberTitleOrArtist)
{
    ListingStore store;
    store.Add(12, "News Bed", "Orvane Voices");
    store.Add(112, "Weather", "Studio 12");
    store.Add(300, "Morning News", "Other");
    store.Add(301, "Jingle", "Orvane");
    uAudioBrowser browser;
    browser.setAudioEngine(&store);
    browser.ActivateBrowser();
    ASSERT_TRUE(WaitIdle(browser));

    browser.FilterBox()->setText("news");
    EXPECT_EQ(VisibleCarts(browser), QStringList({"12", "300"}));
    EXPECT_EQ(browser.StatusLine()->text(), "2 of 4 carts");
    browser.FilterBox()->setText("ORVANE");
    EXPECT_EQ(VisibleCarts(browser), QStringList({"12", "301"}));
    browser.FilterBox()->setText("12");
    EXPECT_EQ(VisibleCarts(browser), QStringList({"12", "112"}));
    browser.FilterBox()->setText("  bed   orvane ");
    EXPECT_EQ(VisibleCarts(browser), QStringList({"12"}));
    EXPECT_EQ(CurrentCart(browser), "12") << "Enter picks it without a click";
    browser.FilterBox()->setText("nothing like it");
    EXPECT_EQ(browser.VisibleCount(), 0);
    browser.FilterBox()->clear();
    EXPECT_EQ(browser.VisibleCount(), 4);
    EXPECT_EQ(browser.StatusLine()->text(), "4 carts");
}

TEST(uAudioBrowserTest, DoubleClickAndEnterChooseACartTheUserMayEdit)
{
    ListingStore store;
    store.Add(5, "Five");
    store.Add(12, "Twelve");
    uAudioBrowser browser;
    browser.resize(400, 300);
    browser.show();
    browser.setAudioEngine(&store);
    browser.ActivateBrowser();
    ASSERT_TRUE(WaitIdle(browser));
    QSignalSpy chosen(&browser, &uAudioBrowser::CartSelected);
    QTreeView* list = browser.CartList();
    const auto doubleClick = [&](int row) {
        const QRect cell = list->visualRect(list->model()->index(row, 1));
        // The events of a real double click; QTest's double click alone lacks the first press.
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, cell.center());
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, cell.center());
        QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, cell.center());
    };

    doubleClick(1);
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_EQ(chosen.count(), 0) << "choosing is off until allowed";

    browser.setAllowSelection(true);
    doubleClick(1);
    ASSERT_EQ(chosen.count(), 1);
    EXPECT_EQ(chosen.takeFirst().at(0).toString(), "12");
    EXPECT_EQ(browser.HDReference(), "12");
    browser.setHDReference("5");
    QTest::keyClick(list, Qt::Key_Enter);
    ASSERT_EQ(chosen.count(), 1);
    EXPECT_EQ(chosen.takeFirst().at(0).toString(), "5");

    // The user may edit carts 1 to 10 only: 12 is greyed and cannot be chosen.
    browser.setCurrentUser(std::make_shared<RangeUser>(QList<CartRange>{{1, 10}}));
    browser.setApplyUserRights(true);
    EXPECT_FALSE(list->model()->flags(list->model()->index(1, 0)).testFlag(Qt::ItemIsEnabled));
    doubleClick(1);
    EXPECT_EQ(chosen.count(), 0);
    doubleClick(0);
    EXPECT_EQ(chosen.count(), 1);
}

TEST(uAudioBrowserTest, AStoreThatCannotBeReadEndsTheLoadWithItsReason)
{
    ProfileCartStore closed; // its calls raise an error while no profile is open
    uAudioBrowser browser;
    QSignalSpy notes(&browser, &uAudioBrowser::TextNotify);
    browser.setAudioEngine(&closed);
    browser.ActivateBrowser();
    ASSERT_TRUE(WaitIdle(browser));
    EXPECT_EQ(browser.Carts()->rowCount(), 0);
    ASSERT_EQ(notes.count(), 1);
    EXPECT_TRUE(notes.at(0).at(0).toString().endsWith("No playout profile is open."));
    EXPECT_EQ(browser.StatusLine()->text(), notes.at(0).at(0).toString());

    // A failure during a reload keeps the list that was shown.
    ListingStore store;
    store.Add(1, "One");
    browser.setAudioEngine(&store);
    browser.ActivateBrowser();
    ASSERT_TRUE(WaitIdle(browser));
    store.failure = "disk gone";
    browser.ActivateBrowser();
    ASSERT_TRUE(WaitIdle(browser));
    EXPECT_EQ(browser.Carts()->rowCount(), 1);
    EXPECT_TRUE(browser.StatusLine()->text().endsWith("disk gone"));
}

TEST(uAudioBrowserTest, ModesRaiseModeChangedAndOthersAreIgnored)
{
    uAudioBrowser browser;
    QSignalSpy modes(&browser, &uAudioBrowser::ModeChanged);
    EXPECT_EQ(browser.BrowserMode(), 2);
    browser.setBrowserMode(1);
    browser.setBrowserMode(1);
    browser.setBrowserMode(4);
    browser.setBrowserMode(0);
    browser.setBrowserMode(3);
    ASSERT_EQ(modes.count(), 3);
    EXPECT_EQ(modes.at(2).at(0).toInt(), 3);
    EXPECT_EQ(browser.BrowserMode(), 3);
    EXPECT_TRUE(browser.CartList()->isColumnHidden(CartListModel::LengthColumn));
}
