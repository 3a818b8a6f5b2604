#include "AudioFixtures.h"
#include "platform/AudioLengthCache.h"
#include "platform/CartStore.h"
#include "platform/CartStoreSettings.h"
#include "platform/DateTimeFunctions.h"
#include "platform/IAudioCallback.h"
#include "platform/PlayerSetting.h"
#include "tests/support/TempHome.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

QByteArray Hash(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha1);
}

class Recorder : public IAudioCallback
{
public:
    QStringList calls;
    QList<float> percents;
    float cancelAt = -1; // cancel at the first progress at or past this percent
    bool cancelAtStart = false;

    void Callback(qint32, const QString&, const QString&, const QString&, bool&) override {}
    void HardDiskItemsFound(QObject*, bool&) override {}
    void Progress(const QString&, float, bool&) override {}
    void Progress2(qint32 event, const QString&, float percent, bool& cancel) override
    {
        calls << "Progress2";
        percents << percent;
        if (cancelAt >= 0 && percent >= cancelAt)
            cancel = true;
    }
    void ProgressStart(qint32 event, const QString& caption, bool, bool& cancel) override
    {
        calls << "ProgressStart";
        cancel = cancelAtStart;
    }
    void ProgressEnd(qint32, const QString&, bool) override { calls << "ProgressEnd"; }
};

class CartStoreTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        store = std::make_unique<CartStore>(home.File("store"));
        jingle = home.File("1234 Station Jingle.wav");
        ASSERT_TRUE(AudioFixtures::WriteSineWav(jingle, 3.0, 22050, 1, 0.5));
    }

    bool Import(const QString& cart, const QString& file, qint32 flags, qint16 level = -1)
    {
        bool f1 = false, f2 = true;
        return store->ImportAudioFile(nullptr, cart, file, flags, level, f1, 0, -1, f2);
    }
    Cart Get(const QString& cart) { return *store->GetCart(cart, 0xFFFF, false); }
    qint64 Stamp(const Cart& c)
    {
        return DateTimeFunctions::instance().MakeStamp(c.LastModifiedLow, c.LastModifiedHigh);
    }
    qint64 FileStamp(const QString& path)
    {
        return DateTimeFunctions::ToStamp(QFileInfo(path).lastModified());
    }
    QStringList AudioFolderEntries()
    {
        return QDir(store->AudioFolder()).entryList(QDir::Files | QDir::Hidden);
    }

    TempHome home;
    std::unique_ptr<CartStore> store;
    QString jingle;
};

} // namespace

TEST_F(CartStoreTest, NumbersAreWholeNumbersUpToTheHighestCart)
{
    EXPECT_TRUE(store->IsValidCart("1"));
    EXPECT_TRUE(store->IsValidCart("0042"));
    EXPECT_TRUE(store->IsValidCart("99999"));
    for (const char* bad : {"", "0", "100000", "-5", "+5", "4.2", "12a", "abc"})
        EXPECT_FALSE(store->IsValidCart(bad)) << bad;
    EXPECT_EQ(store->GetLastCart(0), "99999");
    EXPECT_EQ(store->GetFirstCart(""), "1");
    EXPECT_EQ(store->GetFirstCart("0"), "1");
    EXPECT_EQ(store->GetFirstCart("0042"), "42");
    EXPECT_EQ(store->GetFirstCart("100000"), "");
    EXPECT_EQ(store->GetNextCart("0099"), "100");
    EXPECT_EQ(store->GetNextCart("99999"), "");
    EXPECT_TRUE(store->IsCartInRange("0050", "10", "50"));
    EXPECT_FALSE(store->IsCartInRange("51", "10", "50"));
    EXPECT_FALSE(store->IsCartInRange("9", "10", "50"));
    EXPECT_FLOAT_EQ(store->GetRangePosition("30", "10", "50"), 50.0f);
    EXPECT_FLOAT_EQ(store->GetRangePosition("10", "10", "10"), 100.0f);

    // Every valid number has a cart; "0042" and "42" are the same one.
    EXPECT_FALSE(store->GetCart("0", 3, true));
    Cart empty = Get("42");
    EXPECT_EQ(empty.Length, 0.0f);
    EXPECT_FALSE(empty.HasAudio);
    EXPECT_EQ(QFileInfo(empty.AudioFilePath).fileName(), "00042.wav");
    empty.Title = "Forty-two";
    bool flag = true;
    EXPECT_EQ(store->SaveCart("0042", empty, 3, false, false, flag), 0);
    EXPECT_EQ(Get("42").Title, "Forty-two");
    EXPECT_NE(store->SaveCart("100000", empty, 3, false, false, flag), 0);

    // A wider highest number widens new file names; a cart with audio keeps its file.
    ASSERT_TRUE(Import("7", jingle, 0x24));
    auto* settings = static_cast<CartStoreSettings*>(store->GetCartvaultSettings());
    ASSERT_TRUE(settings->setHighestCart(250000));
    EXPECT_TRUE(store->IsValidCart("100000"));
    EXPECT_EQ(QFileInfo(Get("1234").AudioFilePath).fileName(), "001234.wav");
    EXPECT_EQ(QFileInfo(Get("7").AudioFilePath).fileName(), "00007.wav");
    EXPECT_TRUE(Get("7").HasAudio);
}

TEST_F(CartStoreTest, ImportIntoAnEmptyCartTakesTitleAndSpansTheAudio)
{
    ASSERT_TRUE(Import("1234", jingle, 0x24)) << store->LastError().toStdString();
    const Cart cart = Get("1234");
    EXPECT_EQ(cart.Title, "Station Jingle");
    EXPECT_EQ(cart.Artist, "");
    EXPECT_NEAR(cart.Length, 3.0, 0.001);
    EXPECT_TRUE(cart.HasAudio);
    EXPECT_EQ(cart.AudioFilePath, store->AudioFolder() + "/01234.wav");
    EXPECT_EQ(cart.SourceFile, QFileInfo(jingle).absoluteFilePath());
    EXPECT_EQ(cart.StartPoint, 0.0f);
    EXPECT_NEAR(cart.OutPoint, cart.Length, 1e-6);
    EXPECT_LT(cart.IntroStart, 0);
    EXPECT_LT(cart.Extro, 0);
    EXPECT_EQ(AudioFixtures::WavSampleRate(cart.AudioFilePath), 22050);
    EXPECT_EQ(AudioFixtures::WavChannels(cart.AudioFilePath), 1);
    EXPECT_EQ(AudioFixtures::WavBitsPerSample(cart.AudioFilePath), 16);
    // The stamp is the stored audio's modification time, and no temporary file is left.
    EXPECT_NE(cart.LastModifiedLow, 0);
    EXPECT_EQ(Stamp(cart), FileStamp(cart.AudioFilePath));
    EXPECT_EQ(AudioFolderEntries(), QStringList{"01234.wav"});
}

TEST_F(CartStoreTest, TagsGiveTitleAndArtist)
{
    REQUIRE_FFMPEG();
    const QString mp3 = home.File("77 Anything.mp3");
    ASSERT_TRUE(AudioFixtures::Encode(
        jingle, mp3, {"-metadata", "title=Morning Show", "-metadata", "artist=The Presenters"}));
    ASSERT_TRUE(Import("77", mp3, 0x24));
    EXPECT_EQ(Get("77").Title, "Morning Show");
    EXPECT_EQ(Get("77").Artist, "The Presenters");
}

TEST_F(CartStoreTest, ImportOverAnExistingCartKeepsItsTextAndMarkersWithinTheNewLength)
{
    const QString longer = home.File("long.wav");
    ASSERT_TRUE(AudioFixtures::WriteSineWav(longer, 5.0, 44100, 2, 0.5));
    ASSERT_TRUE(Import("1234", longer, 0x24));
    Cart cart = Get("1234");
    cart.Title = "Kept Title";
    cart.Artist = "Kept Artist";
    cart.Description = "Kept Description";
    cart.StartPoint = 0.5f;
    cart.IntroStart = 1.0f;
    cart.IntroEnd = 4.0f;
    cart.Extro = 4.5f;
    bool flag = true;
    ASSERT_EQ(store->SaveCart("1234", cart, 3, false, true, flag), 0);

    // The out point sat at the old end, so it follows the new one.
    ASSERT_TRUE(Import("1234", jingle, 4));
    cart = Get("1234");
    EXPECT_EQ(cart.Title, "Kept Title");
    EXPECT_EQ(cart.Artist, "Kept Artist");
    EXPECT_EQ(cart.Description, "Kept Description");
    EXPECT_NEAR(cart.Length, 3.0, 0.001);
    EXPECT_FLOAT_EQ(cart.StartPoint, 0.5f);
    EXPECT_FLOAT_EQ(cart.IntroStart, 1.0f);
    EXPECT_FLOAT_EQ(cart.IntroEnd, 3.0f);
    EXPECT_FLOAT_EQ(cart.Extro, 3.0f);
    EXPECT_FLOAT_EQ(cart.OutPoint, 3.0f);
    EXPECT_EQ(AudioFixtures::WavSampleRate(cart.AudioFilePath), 22050);

    // An out point inside the audio stays where it is when the audio grows.
    cart.OutPoint = 2.0f;
    ASSERT_EQ(store->SaveCart("1234", cart, 3, false, true, flag), 0);
    ASSERT_TRUE(Import("1234", longer, 4));
    EXPECT_FLOAT_EQ(Get("1234").OutPoint, 2.0f);
    EXPECT_NEAR(Get("1234").Length, 5.0, 0.001);

    // A group that re-checks carts imports a cart's own audio file over it.
    ASSERT_TRUE(Import("1234", Get("1234").AudioFilePath, 4, 50));
    EXPECT_NEAR(Get("1234").Length, 5.0, 0.001);
    EXPECT_EQ(Get("1234").SourceFile, QFileInfo(longer).absoluteFilePath());
    EXPECT_NEAR(AudioFixtures::WavPeak(Get("1234").AudioFilePath), 0.5 * 32767, 2);
}

TEST_F(CartStoreTest, ReimportWorksOnAStoreWithoutHardLinks)
{
    ASSERT_TRUE(Import("1234", jingle, 0x24));
    const QString longer = home.File("long.wav");
    ASSERT_TRUE(AudioFixtures::WriteSineWav(longer, 5.0, 44100, 2, 0.5));
    CartStore::SetHardLinksDisabledForTests(true);
    const bool imported = Import("1234", longer, 4);
    CartStore::SetHardLinksDisabledForTests(false);
    ASSERT_TRUE(imported);
    EXPECT_NEAR(Get("1234").Length, 5.0, 0.001);
    // The copy kept for a crash is gone once the row is committed.
    const QFileInfo audio(Get("1234").AudioFilePath);
    EXPECT_TRUE(audio.dir().entryList({".*.bak"}, QDir::Files | QDir::Hidden).isEmpty());
}

TEST_F(CartStoreTest, NormalisationBringsThePeakToTheLevel)
{
    const QString quiet = home.File("quiet.wav");
    const QString loud = home.File("loud.wav");
    ASSERT_TRUE(AudioFixtures::WriteSineWav(quiet, 1.0, 44100, 2, 0.2));
    ASSERT_TRUE(AudioFixtures::WriteSineWav(loud, 1.0, 44100, 2, 0.99));
    ASSERT_TRUE(Import("1", quiet, 0x24, 90));
    ASSERT_TRUE(Import("2", loud, 0x24, 50));
    ASSERT_TRUE(Import("3", quiet, 0x24, -1));
    EXPECT_NEAR(AudioFixtures::WavPeak(Get("1").AudioFilePath), 0.9 * 32767, 2);
    EXPECT_NEAR(AudioFixtures::WavPeak(Get("2").AudioFilePath), 0.5 * 32767, 2);
    EXPECT_NEAR(AudioFixtures::WavPeak(Get("3").AudioFilePath), 0.2 * 32767, 2);
}

TEST_F(CartStoreTest, AFailedImportLeavesTheCartAsItWas)
{
    ASSERT_TRUE(Import("1234", jingle, 0x24));
    Cart before = Get("1234");
    before.Title = "Before";
    bool flag = true;
    ASSERT_EQ(store->SaveCart("1234", before, 3, false, false, flag), 0);
    before = Get("1234");
    const QByteArray audio = Hash(before.AudioFilePath);

    const QString damaged = home.File("1234 Damaged.mp3");
    QFile f(damaged);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray("\xFF\xFB garbage that is no audio ").repeated(500));
    f.close();
    EXPECT_FALSE(Import("1234", damaged, 4));
    EXPECT_FALSE(Import("1234", home.File("missing.wav"), 4));
    EXPECT_FALSE(store->LastError().isEmpty());

    const Cart after = Get("1234");
    EXPECT_EQ(after.Title, "Before");
    EXPECT_EQ(after.Length, before.Length);
    EXPECT_EQ(after.SourceFile, before.SourceFile);
    EXPECT_EQ(Stamp(after), Stamp(before));
    EXPECT_EQ(Hash(after.AudioFilePath), audio);
    EXPECT_EQ(AudioFolderEntries(), QStringList{"01234.wav"});
}

TEST_F(CartStoreTest, ProgressReachesTheSinksAndCancelStopsTheImport)
{
    Recorder recorder;
    store->RegisterCallback(&recorder);
    store->RegisterCallback(&recorder);
    ASSERT_TRUE(Import("5", jingle, 0x24, 90));
    ASSERT_GE(recorder.calls.size(), 3);
    EXPECT_EQ(recorder.calls.first(), "ProgressStart");
    EXPECT_EQ(recorder.calls.last(), "ProgressEnd");
    EXPECT_EQ(recorder.calls.count("ProgressStart"), 1);
    EXPECT_TRUE(std::is_sorted(recorder.percents.begin(), recorder.percents.end()));
    EXPECT_EQ(recorder.percents.last(), 100.0f);

    // Cancelled midway and at the start: the cart keeps its first audio.
    const QString other = home.File("other.wav");
    ASSERT_TRUE(AudioFixtures::WriteSineWav(other, 4.0, 44100, 2, 0.3));
    const QByteArray audio = Hash(Get("5").AudioFilePath);
    recorder.cancelAt = 1;
    EXPECT_FALSE(Import("5", other, 4));
    EXPECT_EQ(recorder.calls.last(), "ProgressEnd");
    recorder.cancelAt = -1;
    recorder.cancelAtStart = true;
    EXPECT_FALSE(Import("5", other, 4));
    EXPECT_EQ(Hash(Get("5").AudioFilePath), audio);
    EXPECT_NEAR(Get("5").Length, 3.0, 0.001);
    EXPECT_EQ(AudioFolderEntries(), QStringList{"00005.wav"});

    store->UnregisterCallback(&recorder);
    recorder.calls.clear();
    ASSERT_TRUE(Import("5", other, 4));
    EXPECT_TRUE(recorder.calls.isEmpty());
}

// A check compares the audio file's time with the cart's stamp; the stamp rules keep an
// unchanged cart from looking modified at every check.
TEST_F(CartStoreTest, SaveCartStampsFollowItsFlags)
{
    ASSERT_TRUE(Import("9", jingle, 0x24));
    Cart cart = Get("9");
    const QString audio = cart.AudioFilePath;
    bool flag = true;

    // Both flags off: the stamp given is stored.
    cart.LastModifiedLow = 12345;
    cart.LastModifiedHigh = 30000000;
    ASSERT_EQ(store->SaveCart("9", cart, 3, false, false, flag), 0);
    EXPECT_EQ(Get("9").LastModifiedLow, 12345);
    EXPECT_EQ(Get("9").LastModifiedHigh, 30000000);

    // Timing-only update: the audio file's current time, whatever the cart says.
    QFile file(audio);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    const QDateTime touched = QDateTime::currentDateTimeUtc().addSecs(-3600);
    ASSERT_TRUE(file.setFileTime(touched, QFileDevice::FileModificationTime));
    file.close();
    cart.Length = 2.0f;
    ASSERT_EQ(store->SaveCart("9", cart, 3, true, false, flag), 0);
    EXPECT_EQ(Stamp(Get("9")), DateTimeFunctions::ToStamp(touched));
    EXPECT_EQ(Stamp(cart), DateTimeFunctions::ToStamp(touched));
    EXPECT_FLOAT_EQ(Get("9").Length, 2.0f);

    // The import stamps with the new audio's time.
    ASSERT_TRUE(Import("9", jingle, 4));
    EXPECT_EQ(Stamp(Get("9")), FileStamp(audio));
}

TEST_F(CartStoreTest, RemoveCartTakesRowAudioAndAncillaryFiles)
{
    ASSERT_TRUE(Import("1234", jingle, 0x24));
    const QString audio = Get("1234").AudioFilePath;
    QFile text(store->AudioFolder() + "/01234.txt");
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.close();
    ASSERT_TRUE(Import("12", jingle, 0x24));

    EXPECT_TRUE(store->RemoveCart("1234", true, true));
    const Cart cart = Get("1234");
    EXPECT_EQ(cart.Length, 0.0f);
    EXPECT_EQ(cart.Title, "");
    EXPECT_FALSE(cart.HasAudio);
    EXPECT_EQ(AudioFolderEntries(), QStringList{"00012.wav"});
    EXPECT_TRUE(store->RemoveCart("1234", true, true));
    EXPECT_FALSE(store->RemoveCart("0", true, true));
}

TEST_F(CartStoreTest, RefreshCartInfoReadsLengthsFromTheAudio)
{
    ASSERT_TRUE(Import("3", jingle, 0x24));
    ASSERT_TRUE(Import("4", jingle, 0x24));
    Cart cart = Get("3");
    cart.Length = 10.0f;
    bool flag = true;
    ASSERT_EQ(store->SaveCart("3", cart, 3, false, false, flag), 0);
    QString text;
    qint32 changed = -1;
    store->RefreshCartInfo(true, text, changed);
    EXPECT_EQ(changed, 1);
    EXPECT_NEAR(Get("3").Length, 3.0, 0.001);
}

// Only the range is measured, and a file the length cache knows is not decoded again: the cache
// is given a length no decoder would find, which the cart can only have taken from there.
TEST_F(CartStoreTest, RefreshOfARangeMeasuresOnlyItsCartsAndDecodesOnlyUnknownFiles)
{
    for (const char* number : {"3", "4", "5"})
        ASSERT_TRUE(Import(number, jingle, 0x24));
    const auto setLength = [&](const QString& number, float length) {
        Cart cart = Get(number);
        cart.Length = length;
        bool flag = true;
        ASSERT_EQ(store->SaveCart(number, cart, 3, false, false, flag), 0);
    };
    setLength("3", 10.0f);
    setLength("5", 10.0f);
    Recorder recorder;
    store->RegisterCallback(&recorder);
    QString text;
    qint32 changed = -1;

    store->RefreshCartInfoInRange("3", "4", true, text, changed);
    EXPECT_EQ(changed, 1);
    EXPECT_NEAR(Get("3").Length, 3.0, 0.001);
    EXPECT_FLOAT_EQ(Get("5").Length, 10.0f); // outside the range
    // Files not measured before were decoded, with progress.
    EXPECT_EQ(recorder.calls.value(0), "ProgressStart");
    EXPECT_EQ(recorder.calls.last(), "ProgressEnd");
    EXPECT_EQ(recorder.percents.last(), 100.0f);

    const QString audio = Get("3").AudioFilePath;
    const auto key = AudioLengthCache::KeyOf(audio);
    ASSERT_TRUE(key);
    AudioLengthCache::instance().Store(audio, *key, 7777.0);
    setLength("3", 10.0f);
    recorder.calls.clear();
    store->RefreshCartInfoInRange("3", "4", true, text, changed);
    EXPECT_EQ(changed, 1);
    EXPECT_NEAR(Get("3").Length, 7.777, 0.001);
    EXPECT_TRUE(recorder.calls.isEmpty()); // nothing to decode, nothing to show

    // An invalid end refreshes nothing; the whole store is still there to refresh.
    store->RefreshCartInfoInRange("3", "x", true, text, changed);
    EXPECT_EQ(changed, 0);
    store->RefreshCartInfo(true, text, changed);
    EXPECT_EQ(changed, 1);
    EXPECT_NEAR(Get("5").Length, 3.0, 0.001);
    store->UnregisterCallback(&recorder);
}

// A crash between moving the new audio in and committing its row leaves a backup of the old
// audio; the next store to open puts it back, or drops it when the row was committed.
TEST_F(CartStoreTest, OpeningTheStoreFinishesAnInterruptedImport)
{
    ASSERT_TRUE(Import("1", jingle, 0x24));
    ASSERT_TRUE(Import("2", jingle, 0x24));
    const QString folder = store->AudioFolder();
    const QByteArray original = Hash(folder + "/00001.wav");
    store.reset();

    // Cart 1: crashed before the commit.
    ASSERT_EQ(::link(QFile::encodeName(folder + "/00001.wav").constData(),
                     QFile::encodeName(folder + "/.00001.wav.bak").constData()),
              0);
    ASSERT_TRUE(QFile::remove(folder + "/00001.wav"));
    ASSERT_TRUE(AudioFixtures::WriteSineWav(folder + "/00001.wav", 1.0));
    // Cart 2: crashed after the commit, before the backup was removed.
    ASSERT_TRUE(QFile::copy(folder + "/00002.wav", folder + "/.00002.wav.bak"));
    // And a fresh temporary file of an import still running elsewhere stays.
    ASSERT_TRUE(QFile::copy(jingle, folder + "/.00003.wav.abcdef.tmp"));

    store = std::make_unique<CartStore>(home.File("store"));
    EXPECT_EQ(Hash(folder + "/00001.wav"), original);
    EXPECT_EQ(AudioFolderEntries(),
              (QStringList{".00003.wav.abcdef.tmp", "00001.wav", "00002.wav"}));
}

// The process dies in the middle of an import: the cart and its database are as before.
TEST_F(CartStoreTest, ACrashDuringAnImportLeavesTheCartAsItWas)
{
    ASSERT_TRUE(Import("8", jingle, 0x24));
    const QByteArray audio = Hash(Get("8").AudioFilePath);
    const QString other = home.File("other.wav");
    ASSERT_TRUE(AudioFixtures::WriteSineWav(other, 4.0, 44100, 2, 0.3));

    struct Crasher : Recorder
    {
        void Progress2(qint32, const QString&, float percent, bool&) override
        {
            if (percent >= 30)
                ::_exit(3);
        }
    } crasher;
    GTEST_FLAG_SET(death_test_style, "fast");
    EXPECT_EXIT(
        {
            store->RegisterCallback(&crasher);
            Import("8", other, 4);
        },
        ::testing::ExitedWithCode(3), "");

    CartStore reopened(home.File("store"));
    const Cart cart = *reopened.GetCart("8", 3, false);
    EXPECT_NEAR(cart.Length, 3.0, 0.001);
    EXPECT_EQ(cart.SourceFile, QFileInfo(jingle).absoluteFilePath());
    EXPECT_EQ(Hash(cart.AudioFilePath), audio);
}

TEST_F(CartStoreTest, SettingsHaveDefaultsAndPersist)
{
    auto* settings = static_cast<CartStoreSettings*>(store->GetCartvaultSettings());
    EXPECT_EQ(settings->NormaliseLevel(), 90);
    EXPECT_EQ(settings->HighestCart(), 99999);
    EXPECT_FALSE(settings->setNormaliseLevel(0));
    EXPECT_FALSE(settings->setNormaliseLevel(101));
    EXPECT_FALSE(settings->setHighestCart(0));
    EXPECT_TRUE(settings->setNormaliseLevel(75));
    EXPECT_TRUE(settings->setHighestCart(9999));
    ASSERT_NE(settings->GetPlayerSetting(0), nullptr);
    EXPECT_EQ(settings->GetPlayerSetting(1), nullptr);
    settings->GetPlayerSetting(0)->setValue("Players=4");

    CartStore reopened(home.File("store"));
    auto* again = reopened.GetCartvaultSettings();
    EXPECT_EQ(again->NormaliseLevel(), 75);
    EXPECT_EQ(reopened.GetLastCart(0), "9999");
    EXPECT_EQ(again->GetPlayerSetting(0)->Value(), "Players=4");
    EXPECT_EQ(reopened.BaseFolder(), home.File("store"));
    EXPECT_EQ(CartStore::DefaultBaseFolder().toStdString(),
              home.File("home/.local/share/Orvane/Cartvault v3").toStdString());
}
