#include "platform/cartstore/AudioLengthCache.h"
#include "platform/cartstore/CartDatabase.h"
#include "platform/cartstore/CartStore.h"
#include "platform/cartstore/CartStoreSettings.h"
#include "platform/cartstore/IAudioCallback.h"
#include "platform/cartstore/PlayerSetting.h"
#include "platform/cartstore/TransportFile.h"
#include "platform/profiles/ProfileCartStore.h"
#include "platform/system/DateTimeFunctions.h"
#include "platform/system/FileVersionCache.h"
#include "platform/system/LeftoverFiles.h"
#include "platform/system/ScriptedAnswerer.h"
#include "platform/system/ToolError.h"
#include "tests/support/AudioFixtures.h"
#include "tests/support/BreathRecorder.h"
#include "tests/support/InodeFlags.h"
#include "tests/support/SkipOutsideCi.h"
#include "tests/support/TempHome.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <functional>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray Hash(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha1);
}

class Recorder : public IAudioCallback
{
public:
    QStringList calls;
    QList<float> percents;
    float cancelAt = -1; // cancel at the first progress at or past this percent
    bool cancelAtStart = false;
    std::function<void()> atProgress;

    void Callback(qint32, const QString&, const QString&, const QString&, bool&) override {}
    void HardDiskItemsFound(QObject*, bool&) override {}
    void Progress(const QString&, float, bool&) override {}
    void Progress2(qint32 event, const QString&, float percent, bool& cancel) override
    {
        calls << "Progress2";
        percents << percent;
        if (atProgress) {
            std::exchange(atProgress, {})();
        }
        if (cancelAt >= 0 && percent >= cancelAt) {
            cancel = true;
        }
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
    // Everything but the store's own marker.
    QStringList AudioFolderEntries()
    {
        QStringList entries = QDir(store->AudioFolder()).entryList(QDir::Files | QDir::Hidden);
        entries.removeAll(CartStore::MarkerName);
        return entries;
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
    for (const char* bad : {"", "0", "100000", "-5", "+5", "4.2", "12a", "abc"}) {
        EXPECT_FALSE(store->IsValidCart(bad)) << bad;
    }
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
    store.reset();
    store = std::make_unique<CartStore>(home.File("store"), CartStore::Options{.hardLinks = false});
    ASSERT_TRUE(Import("1234", longer, 4));
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

    // The source changed while it is imported is another version, not the one imported.
    recorder.cancelAtStart = false;
    const auto version = FileVersionKey::Of(other);
    recorder.atProgress = [&] {
        QFile file(other);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addSecs(-600),
                                     QFileDevice::FileModificationTime));
    };
    ASSERT_TRUE(Import("5", other, 4));
    EXPECT_EQ(Get("5").SourceVersion, version);
    EXPECT_NE(FileVersionKey::Of(other), version);

    store->UnregisterCallback(&recorder);
    recorder.calls.clear();
    ASSERT_TRUE(Import("5", other, 4));
    EXPECT_TRUE(recorder.calls.isEmpty());
}

// A header may declare a length its file cannot hold (a 122-byte RF64 declaring 8.8e18 frames):
// it is measured by decoding, directly and through a transport file, never taken for the room
// the audio needs. A PCM one is a copy cut short, and refused.
TEST_F(CartStoreTest, ALengthTheFileCannotHoldIsMeasuredByDecoding)
{
    const QString cutShort = "incomplete: declares 288230376151711.8 s, holds 0.0 s";
    // 8000 Hz mono: the 42 bytes hold 42 frames.
    const QByteArray muLaw("\x07\0\x01\0\x40\x1F\0\0\x40\x1F\0\0\x01\0\x08\0", 16);
    const QByteArray pcm("\x01\0\x01\0\x40\x1F\0\0\x80\x3E\0\0\x02\0\x10\0", 16);
    for (const auto& [format, frames] :
         {std::pair{muLaw, 8'800'000'000'000'000'000ULL}, std::pair{muLaw, 1'000'000'000'000ULL},
          std::pair{pcm, 8'800'000'000'000'000'000ULL}}) {
        SCOPED_TRACE(frames);
        QByteArray rf64 = QByteArray("RF64\xFF\xFF\xFF\xFFWAVEds64\x1C\0\0\0", 20);
        for (const quint64 value : {quint64(0), quint64(1) << 62, frames}) {
            rf64.append(reinterpret_cast<const char*>(&value), 8);
        }
        rf64.append(QByteArray("\0\0\0\0fmt \x10\0\0\0", 12) + format + "data\xFF\xFF\xFF\xFF");
        rf64.append(QByteArray(42, 'x'));
        ASSERT_EQ(rf64.size(), 122);
        const QString wav = home.File("declared.wav");
        QFile file(wav);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(rf64);
        file.close();
        const QString zip = home.File("declared.zip");
        ASSERT_TRUE(TransportFile::Write(zip, wav, "declared.wav", {}, {}));
        const bool whole = format == muLaw;
        EXPECT_EQ(Import("1", wav, 0x24), whole) << store->LastError().toStdString();
        EXPECT_EQ(store->LastError().endsWith(cutShort), !whole);
        // A refused file leaves the cart as it was.
        EXPECT_NEAR(Get("1").Length, 42 / 8000.0, 0.0001);
        bool flag = true;
        QString text;
        EXPECT_EQ(store->ImportTransportFile(nullptr, "2", zip, -1, nullptr, 0, text, -1, flag),
                  whole)
            << store->LastError().toStdString();
        EXPECT_EQ(store->LastError().endsWith(cutShort), !whole);
        EXPECT_NEAR(Get("2").Length, 42 / 8000.0, 0.0001);
    }
}

// A long import keeps the window alive; when the program closes meanwhile, the import stops at
// once with an error of its own, not as a failure of the file, and the cart stays as it was.
TEST_F(CartStoreTest, ALongImportBreathesAndAClosingProgramStopsIt)
{
    Recorder recorder;
    store->RegisterCallback(&recorder);
    ASSERT_TRUE(Import("5", jingle, 0x24));
    const QByteArray audio = Hash(Get("5").AudioFilePath);
    const QString silence = home.File("5 Long.wav");
    ASSERT_TRUE(AudioFixtures::WriteLongSilentWav(silence, qint64(3) << 30));
    recorder.calls.clear();

    BreathRecorder window(BreathRecorder::AtBreath{8});
    qint32 error = 0;
    {
        const LongWork::Scope scope(window.Handler());
        try {
            Import("5", silence, 4, 90);
        } catch (const ToolError& e) {
            error = e.Number();
        }
    }
    EXPECT_EQ(error, LongWork::StoppedError);
    ASSERT_GE(window.StoppedAtMs, 0);
    EXPECT_LT(window.ElapsedMs() - window.StoppedAtMs, 500);
    EXPECT_EQ(window.Breaths, 8);
    EXPECT_LT(window.LongestGapMs, 250);
    // The progress frame is closed all the same.
    EXPECT_EQ(recorder.calls.last(), "ProgressEnd");
    EXPECT_EQ(Hash(Get("5").AudioFilePath), audio);
    EXPECT_NEAR(Get("5").Length, 3.0, 0.001);
    EXPECT_EQ(AudioFolderEntries(), QStringList{"00005.wav"});
    store->UnregisterCallback(&recorder);

    // A transport file, stopped while it is unpacked.
    const QString zip = home.File("5 Long.zip");
    ASSERT_TRUE(AudioFixtures::WriteLongSilentWav(silence, qint64(20) << 20));
    ASSERT_TRUE(TransportFile::Write(zip, silence, "5.wav", {}, {}));
    {
        const LongWork::Scope scope([] { return false; });
        bool f = true;
        QString text;
        EXPECT_THROW(store->ImportTransportFile(nullptr, "5", zip, -1, nullptr, 0, text, -1, f),
                     ToolError);
    }
    EXPECT_EQ(Hash(Get("5").AudioFilePath), audio);
    EXPECT_EQ(AudioFolderEntries(), QStringList{"00005.wav"});
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

// A row whose audio file is no plain file directly in the audio folder is damage, whatever it
// names: the cart has no audio, nothing outside the folder is read, replaced or removed, the
// row is told once and mended by the next import.
TEST_F(CartStoreTest, ARowNamingAudioOutsideTheAudioFolderTouchesNothingThere)
{
    const QString base = home.File("store");
    const QString audio = store->AudioFolder();
    ASSERT_TRUE(QDir().mkpath(audio + "/folder.wav"));
    ASSERT_EQ(::symlink(QFile::encodeName(base + "/escape.wav").constData(),
                        QFile::encodeName(audio + "/link.wav").constData()),
              0);
    const QString absolute = home.File("canary.wav");
    const QStringList canaries = {base + "/escape.wav", home.File("canary.txt"), absolute,
                                  base + "/" + CartStore::DatabaseName};
    for (const QString& canary : canaries.mid(0, 3)) {
        ASSERT_TRUE(QFile::copy(jingle, canary));
    }
    QList<QByteArray> before;
    for (const QString& canary : canaries) {
        before << Hash(canary);
    }
    const auto damage = [&](const QString& name) {
        CartDatabase db(base + "/" + CartStore::DatabaseName);
        CartDatabase::Query q(db, "UPDATE carts SET audio_file = ? WHERE number = 1234");
        q.Bind(1, name);
        ASSERT_TRUE(q.Run());
    };
    for (const QString& name :
         {QString("../escape.wav"), QString("../../canary.txt"), QString("/../escape.wav"),
          absolute, QString("../cartvault.db"), QString("link.wav"), QString("folder.wav")}) {
        SCOPED_TRACE(name.toStdString());
        ASSERT_TRUE(Import("1234", jingle, 0x24));
        damage(name);
        EXPECT_FALSE(Get("1234").HasAudio);
        EXPECT_EQ(QFileInfo(store->GetCartAudioPath("1234", 0, false)).path(), audio);
        QString text;
        qint32 changed = 0;
        store->RefreshCartInfo(true, text, changed);
        EXPECT_NEAR(Get("1234").Length, 3.0, 0.001);
        const QString line = "The cart store's database is damaged: the row of Cart 1234 names '" +
                             name + "' as its audio, which is not a file in '" + audio +
                             "'; the cart counts as having no audio until audio is imported "
                             "into it again";
        EXPECT_EQ(store->TakeNotices(), QStringList{line});

        // An import over the cart writes its own file and mends the row.
        ASSERT_TRUE(Import("1234", jingle, 4)) << store->LastError().toStdString();
        EXPECT_TRUE(Get("1234").HasAudio);
        EXPECT_EQ(Get("1234").AudioFilePath, audio + "/01234.wav");
        damage(name);
        EXPECT_TRUE(store->RemoveCart("1234", true, true));
        EXPECT_FALSE(Get("1234").HasAudio);
        EXPECT_TRUE(store->TakeNotices().isEmpty()) << "told once";
        for (qsizetype i = 0; i < canaries.size() - 1; ++i) {
            EXPECT_EQ(Hash(canaries[i]), before[i]) << canaries[i].toStdString();
        }
        EXPECT_TRUE(QFileInfo(audio + "/link.wav").isSymLink());
        EXPECT_TRUE(QFileInfo(audio + "/folder.wav").isDir());
    }
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

    // What the length cache holds is a length only when finite and not negative: audio that
    // became undecodable keeps the cart's length and is told once; a damaged row is measured
    // again.
    const QString audio = Get("3").AudioFilePath;
    const QString notice = "The length of Cart 3 was not refreshed: its audio '" + audio +
                           "' cannot be measured (no audio)";
    int version = 0;
    for (const auto& [cached, length, notices] :
         {std::tuple{-1.0, 10.0, QStringList{notice}},
          {-3.4e16, 3.0, QStringList()},
          {std::numeric_limits<double>::infinity(), 3.0, QStringList()}}) {
        SCOPED_TRACE(cached);
        QFile file(audio);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addSecs(-60 - ++version),
                                     QFileDevice::FileModificationTime));
        file.close();
        const auto key = AudioLengthCache::KeyOf(audio);
        {
            CartDatabase db(AudioLengthCache::instance().Folder() + "/" +
                            AudioLengthCache::FileName);
            CartDatabase::Query q(db,
                                  "INSERT OR REPLACE INTO audio_lengths (path, size, "
                                  "modified_ns, inode, duration_ms, reason) VALUES (?, ?, ?, ?, "
                                  "?, 'no audio')");
            q.Bind(1, audio).Bind(2, key->size).Bind(3, key->modifiedNs).Bind(4, key->inode);
            q.Bind(5, cached);
            ASSERT_TRUE(q.Run());
        }
        cart.Length = 10.0f;
        ASSERT_EQ(store->SaveCart("3", cart, 3, false, false, flag), 0);
        for (int refresh = 0; refresh < 2; ++refresh) {
            store->RefreshCartInfo(true, text, changed);
            EXPECT_NEAR(Get("3").Length, length, 0.001);
        }
        EXPECT_EQ(store->TakeNotices(), notices);
    }
}

// Only the range is measured, and a file the length cache knows is not decoded again: the cache
// is given a length no decoder would find, which the cart can only have taken from there.
TEST_F(CartStoreTest, RefreshOfARangeMeasuresOnlyItsCartsAndDecodesOnlyUnknownFiles)
{
    for (const char* number : {"3", "4", "5"}) {
        ASSERT_TRUE(Import(number, jingle, 0x24));
    }
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

// Lengths of files that are gone are forgotten when a store opens; a file whose folder is gone
// too (a share not mounted) keeps its length.
TEST_F(CartStoreTest, TheLengthCacheForgetsFilesThatAreGone)
{
    AudioLengthCache& cache = AudioLengthCache::instance();
    ASSERT_TRUE(QDir().mkpath(home.File("share")));
    const QStringList files = {home.File("kept.wav"), home.File("gone.wav"),
                               home.File("share/away.wav")};
    QList<AudioLengthCache::FileKey> keys;
    for (const QString& file : files) {
        ASSERT_TRUE(QFile::copy(jingle, file));
        keys.append(*AudioLengthCache::KeyOf(file));
        cache.Store(file, keys.last(), 3000.0);
    }
    ASSERT_TRUE(QFile::remove(files[1]));
    ASSERT_TRUE(QDir(home.File("share")).removeRecursively());
    store = std::make_unique<CartStore>(home.File("store"));
    EXPECT_EQ(cache.Lookup(files[0], keys[0]), 3000.0);
    EXPECT_FALSE(cache.Lookup(files[1], keys[1]));
    EXPECT_EQ(cache.Lookup(files[2], keys[2]), 3000.0);
}

// Databases of the two earlier builds open and keep their rows; what they lack is added.
TEST_F(CartStoreTest, DatabasesOfEarlierBuildsAreUpgradedAndKeepTheirRows)
{
    ASSERT_TRUE(Import("1", jingle, 0x24));
    store.reset();
    {
        CartDatabase db(home.File("store/cartvault.db"));
        ASSERT_TRUE(db.Exec(
            "CREATE TABLE earlier (number INTEGER PRIMARY KEY, title TEXT NOT NULL DEFAULT '',"
            " artist TEXT NOT NULL DEFAULT '', description TEXT NOT NULL DEFAULT '',"
            " length REAL NOT NULL DEFAULT 0, start_point REAL NOT NULL DEFAULT 0,"
            " out_point REAL NOT NULL DEFAULT 0, intro_start REAL NOT NULL DEFAULT -1,"
            " intro_end REAL NOT NULL DEFAULT -1, extro REAL NOT NULL DEFAULT -1,"
            " modified_low INTEGER NOT NULL DEFAULT 0, modified_high INTEGER NOT NULL DEFAULT 0,"
            " source_file TEXT NOT NULL DEFAULT '', audio_file TEXT NOT NULL DEFAULT '');"
            "INSERT INTO earlier SELECT number, title, artist, description, length, start_point,"
            " out_point, intro_start, intro_end, extro, modified_low, modified_high, source_file,"
            " audio_file FROM carts;"
            "DROP TABLE carts; ALTER TABLE earlier RENAME TO carts;"));
    }
    store = std::make_unique<CartStore>(home.File("store"));
    EXPECT_EQ(Get("1").Title, QStringLiteral("1234 Station Jingle"));
    EXPECT_FALSE(Get("1").SourceVersion);
    ASSERT_TRUE(Import("1", jingle, 4));
    EXPECT_EQ(Get("1").SourceVersion, FileVersionKey::Of(jingle));

    AudioLengthCache& cache = AudioLengthCache::instance();
    const auto defaultFolder = qScopeGuard([&] { cache.SetFolder(QString()); });
    const auto key = AudioLengthCache::KeyOf(jingle);
    ASSERT_TRUE(key);
    for (const char* reason : {"", ", reason TEXT NOT NULL DEFAULT ''"}) {
        SCOPED_TRACE(reason);
        const QString folder = home.File(QStringLiteral("cache%1").arg(qstrlen(reason)));
        ASSERT_TRUE(QDir().mkpath(folder));
        {
            CartDatabase db(folder + "/" + AudioLengthCache::FileName);
            ASSERT_TRUE(db.Exec(QStringLiteral("CREATE TABLE audio_lengths (path TEXT PRIMARY KEY,"
                                               " size INTEGER NOT NULL, modified_ns INTEGER NOT "
                                               "NULL, inode INTEGER NOT NULL,"
                                               " duration_ms REAL NOT NULL%1);")
                                    .arg(reason)));
            CartDatabase::Query q(db, "INSERT INTO audio_lengths (path, size, modified_ns, inode,"
                                      " duration_ms) VALUES (?, ?, ?, ?, -1)");
            q.Bind(1, jingle).Bind(2, key->size).Bind(3, key->modifiedNs).Bind(4, key->inode);
            ASSERT_TRUE(q.Run());
        }
        cache.SetFolder(folder);
        EXPECT_EQ(cache.UnmeasurableReason(jingle, *key), "it held no audio when it was examined");
        EXPECT_FALSE(cache.UnmeasurableTold(jingle, *key));
        cache.MarkUnmeasurableTold(jingle, *key);
        EXPECT_TRUE(cache.UnmeasurableTold(jingle, *key));
    }
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
    // The temporary file of an import still running elsewhere (its writer holds the lock)
    // stays; those of writers that died go, however young, as do half-made copies.
    ASSERT_TRUE(QFile::copy(jingle, folder + "/.00003.wav.abcdef.tmp"));
    QFile running(folder + "/.00003.wav.abcdef.tmp");
    ASSERT_TRUE(running.open(QIODevice::ReadOnly));
    ASSERT_TRUE(LeftoverFiles::Own(running.handle(), running.fileName()));
    ASSERT_TRUE(QFile::copy(jingle, folder + "/.00004.wav.Xy12Zq.tmp"));
    ASSERT_TRUE(QFile::copy(jingle, folder + "/.transport-Ab12Cd.mp3"));
    ASSERT_TRUE(QFile::copy(jingle, folder + "/.~.00002.wav.bak.Qw34Er"));
    // A first import into cart 5 that died before its commit: its audio goes with its mark.
    ASSERT_TRUE(QFile::copy(jingle, folder + "/00005.wav"));
    ASSERT_TRUE(QFile(folder + "/.00005.wav.new").open(QIODevice::WriteOnly));

    store = std::make_unique<CartStore>(home.File("store"));
    EXPECT_EQ(Hash(folder + "/00001.wav"), original);
    EXPECT_EQ(AudioFolderEntries(),
              (QStringList{".00003.wav.abcdef.tmp", "00001.wav", "00002.wav"}));
    EXPECT_FALSE(Get("5").HasAudio);
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
            if (percent >= 30) {
                ::_exit(3);
            }
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

namespace {

// The number and text of the error that the call raises; 0 when it raises none.
template <typename Call> QPair<qint32, QString> RaisedBy(Call call)
{
    try {
        call();
    } catch (const ToolError& error) {
        return {error.Number(), error.Description()};
    }
    return {0, QString()};
}

} // namespace

// An unplugged disk, the empty mount point of an unmounted share or another store's folder in
// place of the audio folder: no cart is removed or imported and no folder made; once the folder
// is back everything is as it was, and a real deletion still removes its one cart.
TEST_F(CartStoreTest, AnAudioFolderThatIsNotTheStoresOwnIsNeverUsed)
{
    ASSERT_TRUE(Import("1", jingle, 0x24));
    ASSERT_TRUE(Import("2", jingle, 0x24));
    const QString audio = store->AudioFolder();
    const QString away = audio + ".unplugged";
    CartStore other(home.File("other"));
    bool f1 = false, f2 = true;
    ASSERT_TRUE(other.ImportAudioFile(nullptr, "1", jingle, 0x24, -1, f1, 0, -1, f2));
    const QStringList otherEntries =
        QDir(other.AudioFolder()).entryList(QDir::Files | QDir::Hidden);
    const QString zip = home.File("0003 Transport.zip");
    ASSERT_TRUE(store->ExportCart(nullptr, "1", zip, nullptr, 0, "", true, false));

    const QString reason = "The cart store's audio folder " + audio +
                           " is missing or is not this cart store's folder: is its disk mounted?";
    auto expectRefused = [&](const char* situation) {
        SCOPED_TRACE(situation);
        const QByteArray database = Hash(store->DatabasePath());
        const std::pair<const char*, QPair<qint32, QString>> calls[] = {
            {"RemoveCart", RaisedBy([&] { store->RemoveCart("2", true, true); })},
            {"GetCartAudioPath", RaisedBy([&] { store->GetCartAudioPath("2", 0, false); })},
            {"GetCart", RaisedBy([&] { store->GetCart("2", 3, true); })},
            {"ImportAudioFile", RaisedBy([&] { Import("3", jingle, 0x24); })},
            {"ImportTransportFile", RaisedBy([&] {
                 QString text;
                 bool flag = true;
                 store->ImportTransportFile(nullptr, "3", zip, -1, nullptr, 0, text, -1, flag);
             })},
            {"opening", RaisedBy([&] { CartStore reopened(home.File("store")); })}};
        for (const auto& [call, raised] : calls) {
            SCOPED_TRACE(call);
            EXPECT_EQ(raised.first, PlayoutAudio::StoreUnavailable);
            EXPECT_EQ(raised.second.toStdString(), reason.toStdString());
        }
        EXPECT_EQ(Hash(store->DatabasePath()), database);
    };

    ASSERT_TRUE(QDir().rename(audio, away));
    expectRefused("moved away");
    EXPECT_FALSE(QFileInfo::exists(audio)); // not made again

    ASSERT_TRUE(QDir().mkdir(audio));
    expectRefused("an empty mount point");
    EXPECT_TRUE(QDir(audio).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    ASSERT_TRUE(QDir(audio).removeRecursively());

    ASSERT_TRUE(QDir().rename(other.AudioFolder(), audio));
    expectRefused("another store's folder");
    EXPECT_EQ(QDir(audio).entryList(QDir::Files | QDir::Hidden), otherEntries);
    ASSERT_TRUE(QDir().rename(audio, other.AudioFolder()));

    ASSERT_TRUE(QDir().rename(away, audio));
    store = std::make_unique<CartStore>(home.File("store"));
    EXPECT_TRUE(Get("1").HasAudio);
    EXPECT_NEAR(Get("2").Length, 3.0, 0.001);
    ASSERT_TRUE(QFile::remove(Get("2").AudioFilePath));
    EXPECT_TRUE(store->RemoveCart("2", true, true));
    EXPECT_EQ(Get("2").Length, 0.0f);
    EXPECT_NEAR(Get("1").Length, 3.0, 0.001);
    EXPECT_EQ(AudioFolderEntries(), QStringList{"00001.wav"});
}

// Reads may trust a check made a moment ago; a removal or a write never does, even when the
// folder is swapped right after a read.
TEST_F(CartStoreTest, ARemovalRightAfterTheFolderIsSwappedIsRefused)
{
    ASSERT_TRUE(Import("1", jingle, 0x24));
    ASSERT_TRUE(Import("2", jingle, 0x24));
    CartStore other(home.File("other"));
    bool f1 = false, f2 = true;
    ASSERT_TRUE(other.ImportAudioFile(nullptr, "2", jingle, 0x24, -1, f1, 0, -1, f2));
    const QString audio = store->AudioFolder();
    const QString away = audio + ".unplugged";
    const QByteArray database = Hash(store->DatabasePath());
    const QByteArray otherDatabase = Hash(other.DatabasePath());

    for (const bool emptyMountPoint : {false, true}) {
        SCOPED_TRACE(emptyMountPoint ? "an empty mount point" : "another store's folder");
        EXPECT_TRUE(Get("2").HasAudio); // a fresh check for the reads that follow
        ASSERT_TRUE(QDir().rename(audio, away));
        if (emptyMountPoint) {
            ASSERT_TRUE(QDir().mkdir(audio));
        } else {
            ASSERT_TRUE(QDir().rename(other.AudioFolder(), audio));
        }
        EXPECT_EQ(RaisedBy([&] { store->RemoveCart("2", true, true); }).first,
                  PlayoutAudio::StoreUnavailable);
        EXPECT_EQ(Hash(store->DatabasePath()), database);
        if (emptyMountPoint) {
            EXPECT_TRUE(
                QDir(audio).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
            ASSERT_TRUE(QDir(audio).removeRecursively());
        } else {
            EXPECT_TRUE(QFileInfo::exists(audio + "/00002.wav"));
            ASSERT_TRUE(QDir().rename(audio, other.AudioFolder()));
        }
        ASSERT_TRUE(QDir().rename(away, audio));
    }

    // A read that finds the audio gone does not trust the check made a moment ago.
    EXPECT_TRUE(Get("2").HasAudio);
    ASSERT_TRUE(QDir().rename(audio, away));
    ASSERT_TRUE(QDir().mkdir(audio));
    EXPECT_EQ(RaisedBy([&] { store->GetCart("2", 3, true); }).first,
              PlayoutAudio::StoreUnavailable);
    ASSERT_TRUE(QDir(audio).removeRecursively());
    ASSERT_TRUE(QDir().rename(away, audio));

    // Writes too, once a read has just been served.
    Cart cart = Get("2");
    cart.Title = "Overwritten";
    ASSERT_TRUE(QDir().rename(audio, away));
    ASSERT_TRUE(QDir().rename(other.AudioFolder(), audio));
    EXPECT_EQ(RaisedBy([&] { Import("1", jingle, 0x24); }).first, PlayoutAudio::StoreUnavailable);
    bool flag = false;
    EXPECT_EQ(RaisedBy([&] { store->SaveCart("2", cart, 0xFFFF, false, false, flag); }).first,
              PlayoutAudio::StoreUnavailable);
    EXPECT_EQ(Hash(store->DatabasePath()), database);
    EXPECT_EQ(Hash(other.DatabasePath()), otherDatabase);
    ASSERT_TRUE(QDir().rename(audio, other.AudioFolder()));
    ASSERT_TRUE(QDir().rename(away, audio));
    EXPECT_TRUE(store->RemoveCart("2", true, true));
    EXPECT_EQ(AudioFolderEntries(), QStringList{"00001.wav"});
}

// A walk looks at the audio through the folder it began with only while that is the folder last
// verified: a copy restored in its place is looked into at once, and none is kept open after the
// walk, which would keep a share from being unmounted.
TEST_F(CartStoreTest, AWalkLooksIntoTheFolderRestoredInPlaceOfItsOwn)
{
    ASSERT_TRUE(Import("2", jingle, 0x24));
    const QString audio = store->AudioFolder();
    const QString restored = audio + ".restored";
    store->ReadRangeTogether("1", "2");
    EXPECT_TRUE(Get("2").HasAudio);
    ASSERT_TRUE(QDir().mkdir(restored));
    for (const QString& name : QDir(audio).entryList(QDir::Files | QDir::Hidden)) {
        ASSERT_TRUE(QFile::copy(audio + "/" + name, restored + "/" + name));
    }
    ASSERT_TRUE(QDir().rename(audio, audio + ".old"));
    ASSERT_TRUE(QFile::remove(audio + ".old/00002.wav"));
    ASSERT_TRUE(QDir().rename(restored, audio));
    store->EnsureAvailable(); // as every write does
    EXPECT_TRUE(Get("2").HasAudio);
    store->ReadRangeTogether({}, {});
    for (const QString& fd :
         QDir("/proc/self/fd").entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        EXPECT_FALSE(QFile::symLinkTarget("/proc/self/fd/" + fd).startsWith(audio))
            << fd.toStdString();
    }
}

// Stores made before the marker existed: taken over when their audio folder holds the files
// their database names, never through an empty folder.
TEST_F(CartStoreTest, AStoreOfAnEarlierBuildIsAdoptedOnlyWithItsAudio)
{
    for (const char* cart : {"1", "2", "3", "4"}) {
        ASSERT_TRUE(Import(cart, jingle, 0x24));
    }
    const QString audio = store->AudioFolder();
    const QString id = store->StoreId();
    EXPECT_TRUE(QRegularExpression("^\\{[0-9A-F-]{36}\\}$").match(id).hasMatch())
        << id.toStdString();
    EXPECT_EQ(CartStore::ReadMarker(audio), id);
    EXPECT_EQ(CartStore::ReadMarker(home.File("store")), id);
    store.reset();
    auto makeEarlier = [&] {
        CartDatabase db(home.File("store/cartvault.db"));
        ASSERT_TRUE(db.Exec("DELETE FROM settings WHERE name = 'StoreId'"));
        QFile::remove(audio + "/" + CartStore::MarkerName);
        QFile::remove(home.File("store/") + CartStore::MarkerName);
    };
    makeEarlier();

    ASSERT_TRUE(QDir().rename(audio, audio + ".away"));
    ASSERT_TRUE(QDir().mkdir(audio));
    EXPECT_EQ(RaisedBy([&] { CartStore s(home.File("store")); }).first,
              PlayoutAudio::StoreUnavailable);
    EXPECT_TRUE(QDir(audio).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    ASSERT_TRUE(QDir(audio).removeRecursively());

    // A folder holding 1 of the 4 files named is not the store's.
    ASSERT_TRUE(QDir().mkdir(audio));
    ASSERT_TRUE(QFile::copy(audio + ".away/00003.wav", audio + "/00003.wav"));
    EXPECT_EQ(RaisedBy([&] { CartStore s(home.File("store")); }).first,
              PlayoutAudio::StoreUnavailable);
    EXPECT_EQ(CartStore::ReadMarker(audio), QString());
    ASSERT_TRUE(QDir(audio).removeRecursively());
    ASSERT_TRUE(QDir().rename(audio + ".away", audio));

    // Its audio without its database: no empty database is made over it.
    const QString database = home.File("store/cartvault.db");
    ASSERT_TRUE(QDir().rename(home.File("store"), home.File("store.away")));
    ASSERT_TRUE(QDir().mkpath(audio));
    ASSERT_TRUE(QFile::copy(home.File("store.away/Audio/00001.wav"), audio + "/00001.wav"));
    EXPECT_EQ(RaisedBy([&] { CartStore s(home.File("store")); }).first,
              PlayoutAudio::StoreUnavailable);
    EXPECT_FALSE(QFileInfo::exists(database));
    ASSERT_TRUE(QDir(home.File("store")).removeRecursively());
    ASSERT_TRUE(QDir().rename(home.File("store.away"), home.File("store")));

    // An audio folder that takes no marker is said at once, not at the first write.
    const QByteArray native = QFile::encodeName(audio);
    const auto lock = [&](bool on) {
        return ::geteuid() != 0 ? ::chmod(native.constData(), on ? 0555 : 0755) == 0
                                : SetInodeFlag(native, FS_IMMUTABLE_FL, on);
    };
    ASSERT_TRUE(lock(true));
    const auto refusal = RaisedBy([&] { CartStore s(home.File("store")); });
    lock(false);
    EXPECT_EQ(refusal.first, PlayoutAudio::StoreUnavailable);
    EXPECT_EQ(refusal.second, "Cannot write in the cart store's folder " + audio);

    // One file deleted since the last pass is no reason to refuse the folder.
    ASSERT_TRUE(QFile::remove(audio + "/00002.wav"));
    store = std::make_unique<CartStore>(home.File("store"));
    EXPECT_FALSE(store->StoreId().isEmpty());
    EXPECT_EQ(CartStore::ReadMarker(audio), store->StoreId());
    EXPECT_TRUE(Get("1").HasAudio);
}

// Both markers deleted (dot-files tidied away, a sync tool that skips them): the store asked
// for is taken back, with one line, when its database is that store and its audio is there; a
// foreign database, an empty mount point or an audio folder without its files is not. A marker
// deleted while the store runs is written again the same way.
TEST_F(CartStoreTest, AStoreWhoseMarkersWereDeletedIsTakenBackWithItsAudio)
{
    for (const char* cart : {"1", "2", "3", "4"}) {
        ASSERT_TRUE(Import(cart, jingle, 0x24));
    }
    const QString base = home.File("store");
    const QString audio = store->AudioFolder();
    const QString id = store->StoreId();
    store.reset();
    ASSERT_TRUE(QFile::remove(audio + "/" + CartStore::MarkerName));
    ASSERT_TRUE(QFile::remove(base + "/" + CartStore::MarkerName));
    const auto refused = [&](const QString& storeId) {
        return RaisedBy([&] { CartStore s(base, {.storeId = storeId}); }).first ==
                   PlayoutAudio::StoreUnavailable &&
               CartStore::ReadMarker(audio).isEmpty() && CartStore::ReadMarker(base).isEmpty();
    };
    EXPECT_TRUE(refused("{00000000-0000-0000-0000-000000000000}"));
    ASSERT_TRUE(QDir().rename(audio, audio + ".away"));
    ASSERT_TRUE(QDir().mkdir(audio));
    EXPECT_TRUE(refused(id)) << "an empty mount point";
    ASSERT_TRUE(QFile::copy(audio + ".away/00003.wav", audio + "/00003.wav"));
    EXPECT_TRUE(refused(id)) << "1 of the 4 files";
    ASSERT_TRUE(QDir(audio).removeRecursively());
    ASSERT_TRUE(QDir().rename(audio + ".away", audio));
    ASSERT_TRUE(QDir().rename(base, base + ".away"));
    ASSERT_TRUE(QDir().mkdir(base));
    EXPECT_TRUE(refused(id)) << "an empty base folder";
    ASSERT_TRUE(QDir().rmdir(base));
    ASSERT_TRUE(QDir().rename(base + ".away", base));

    const QString line = "The cart store's identity markers in '" + base +
                         "' were missing and have been written again";
    store = std::make_unique<CartStore>(base, CartStoreOptions{.storeId = id});
    EXPECT_EQ(CartStore::ReadMarker(audio), id);
    EXPECT_EQ(CartStore::ReadMarker(base), id);
    EXPECT_EQ(store->TakeNotices(), QStringList{line});

    ASSERT_TRUE(QFile::remove(audio + "/" + CartStore::MarkerName));
    EXPECT_TRUE(Import("5", jingle, 0x24));
    EXPECT_TRUE(Get("1").HasAudio);
    EXPECT_EQ(CartStore::ReadMarker(audio), id);
    EXPECT_EQ(store->TakeNotices(), QStringList{line});
    EXPECT_TRUE(store->TakeNotices().isEmpty()) << "told once";

    // Exactly half the named audio is enough, while running and at the start; an audio folder
    // that is gone is neither marked nor made again.
    ASSERT_TRUE(Import("6", jingle, 0x24));
    for (const char* name : {"/00001.wav", "/00002.wav", "/00003.wav", "/.cartvault-store"}) {
        ASSERT_TRUE(QFile::remove(audio + name));
    }
    EXPECT_FALSE(Get("1").HasAudio);
    EXPECT_EQ(CartStore::ReadMarker(audio), id);
    EXPECT_EQ(store->TakeNotices(), QStringList{line});
    store.reset();
    ASSERT_TRUE(QFile::remove(audio + "/" + CartStore::MarkerName));
    ASSERT_TRUE(QFile::remove(base + "/" + CartStore::MarkerName));
    ASSERT_TRUE(QDir().rename(audio, audio + ".away"));
    EXPECT_TRUE(refused(id)) << "no audio folder";
    EXPECT_FALSE(QFileInfo::exists(audio));
    ASSERT_TRUE(QDir().rename(audio + ".away", audio));
    store = std::make_unique<CartStore>(base, CartStoreOptions{.storeId = id});
    EXPECT_EQ(CartStore::ReadMarker(audio), id);
}

// A damaged, empty or foreign database is reported in words and never replaced by a new store.
TEST_F(CartStoreTest, ADamagedOrForeignDatabaseIsReportedAndLeftAlone)
{
    ASSERT_TRUE(Import("1", jingle, 0x24));
    const QString database = store->DatabasePath();
    const QByteArray audio = Hash(Get("1").AudioFilePath);
    CartStore other(home.File("other"));
    store.reset();
    QFile::remove(database + "-wal");
    QFile::remove(database + "-shm");
    const QByteArray original = [&] {
        QFile f(database);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    auto put = [&](const QByteArray& bytes) {
        QFile f(database);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    };
    struct Case
    {
        const char* name;
        QByteArray bytes;
        QString reason;
    };
    QByteArray random(4096, 0);
    for (int i = 0; i < random.size(); ++i) {
        random[i] = char((i * 7919 + 13) * 31 >> 3);
    }
    QFile foreignFile(other.DatabasePath());
    ASSERT_TRUE(foreignFile.open(QIODevice::ReadOnly));
    const QByteArray foreign = foreignFile.readAll();
    const QList<Case> cases = {
        {"random bytes", random, "is damaged or unreadable: file is not a database"},
        {"zero length", QByteArray(), "is damaged or unreadable: the file is empty"},
        {"another store's database", foreign, "is not the database of the store"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        put(c.bytes);
        const auto raised = RaisedBy([&] { CartStore s(home.File("store")); });
        EXPECT_EQ(raised.first, PlayoutAudio::StoreUnavailable);
        EXPECT_TRUE(raised.second.contains(database)) << raised.second.toStdString();
        EXPECT_TRUE(raised.second.contains(c.reason)) << raised.second.toStdString();
        QFile f(database);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), c.bytes);
    }
    ASSERT_TRUE(QFile::remove(database));
    const auto missing = RaisedBy([&] { CartStore s(home.File("store")); });
    EXPECT_TRUE(missing.second.contains(database + " is missing")) << missing.second.toStdString();
    EXPECT_FALSE(QFileInfo::exists(database));

    // Through the profile's store the operator is told, naming the file and SQLite's reason.
    put(random);
    ScriptedAnswerer answers;
    answers.Expect(MsgBoxResult::OK);
    ProfileCartStore profileStore;
    EXPECT_FALSE(profileStore.Open(home.File("store")));
    ASSERT_EQ(answers.Shown().size(), 1);
    EXPECT_TRUE(answers.Shown()[0].Prompt.contains(database + " is damaged or unreadable: file is "
                                                              "not a database"))
        << answers.Shown()[0].Prompt.toStdString();
    EXPECT_EQ(answers.Shown()[0].Icon(), MsgBoxStyle::Critical);

    put(original);
    store = std::make_unique<CartStore>(home.File("store"));
    EXPECT_EQ(Hash(Get("1").AudioFilePath), audio);
}

// A healthy database on a full or read-only disk is not called damaged: the words say what to
// repair, and the file is left as it was. A small file system stands for the disk.
TEST_F(CartStoreTest, AHealthyDatabaseThatCannotBeUsedIsNotCalledDamaged)
{
    const QString small = home.File("small");
    ASSERT_TRUE(QDir().mkpath(small));
    const QByteArray at = QFile::encodeName(small);
    if (::mount("tmpfs", at.constData(), "tmpfs", 0, "size=2m") != 0) {
        SKIP_OUTSIDE_CI("cannot mount a small file system here");
    }
    struct Unmount
    {
        QByteArray at;
        ~Unmount() { ::umount2(at.constData(), MNT_DETACH); }
    } unmount{at};
    const QString base = small + "/store";
    {
        CartStore made(base);
        bool f1 = false, f2 = true;
        ASSERT_TRUE(made.ImportAudioFile(nullptr, "1", jingle, 0x24, -1, f1, 0, -1, f2));
    }
    const QString database = base + "/cartvault.db";
    const QByteArray healthy = Hash(database);
    const auto refusal = [&] {
        const auto raised = RaisedBy([&] { CartStore s(base); });
        EXPECT_EQ(raised.first, PlayoutAudio::StoreUnavailable);
        EXPECT_TRUE(raised.second.startsWith("The cart store's database " + database + " "))
            << raised.second.toStdString();
        EXPECT_FALSE(raised.second.contains("damaged")) << raised.second.toStdString();
        EXPECT_EQ(Hash(database), healthy);
        return raised.second;
    };
    {
        QFile filler(small + "/filler");
        ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
        const QByteArray block(4096, 'x');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
    }
    EXPECT_TRUE(refusal().contains("its disk is full")) << refusal().toStdString();
    ASSERT_TRUE(QFile::remove(small + "/filler"));
    ASSERT_EQ(::mount(nullptr, at.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
    EXPECT_TRUE(refusal().contains("read-only (attempt to write a readonly database; Read-only "
                                   "file system)"))
        << refusal().toStdString();
}

TEST_F(CartStoreTest, StoredAudioFollowsTheUmask)
{
    ASSERT_TRUE(Import("1", jingle, 0x24));
    const mode_t mask = ::umask(0);
    ::umask(mask);
    const auto mode = QFileInfo(Get("1").AudioFilePath).permissions();
    const auto expected = QFileInfo(store->DatabasePath()).permissions();
    EXPECT_EQ(mode, expected);
    // The test runs under the usual umask, so this also shows that the file is not owner-only.
    if (mask == 022) {
        EXPECT_TRUE(mode & QFileDevice::ReadOther);
    }
}

TEST_F(CartStoreTest, FailedCallsSayWhyAndTheNextCallForgetsIt)
{
    Recorder recorder;
    store->RegisterCallback(&recorder);
    EXPECT_FALSE(Import("12x", jingle, 0x24));
    EXPECT_EQ(store->LastError(), "12x is not a valid cart");
    EXPECT_FALSE(store->ExportCart(nullptr, "7", home.File("7.zip"), nullptr, 0, "", true, false));
    EXPECT_EQ(store->LastError(), "cart 7 has no audio");
    recorder.cancelAtStart = true;
    EXPECT_FALSE(Import("7", jingle, 0x24));
    EXPECT_EQ(store->LastError(), "import cancelled");
    recorder.cancelAtStart = false;
    ASSERT_TRUE(Import("7", jingle, 0x24));
    EXPECT_EQ(store->LastError(), "");

    // SQLite's own reason reaches the message of a store that cannot read its rows.
    {
        CartDatabase db(home.File("store/cartvault.db"));
        ASSERT_TRUE(db.Exec("ALTER TABLE carts RENAME TO carts_away"));
    }
    const auto raised = RaisedBy([&] { store->RemoveCart("8", true, true); });
    EXPECT_EQ(raised.first, PlayoutAudio::StoreDatabaseFailed);
    EXPECT_EQ(raised.second, "Cannot read cart 8: no such table: carts")
        << raised.second.toStdString();
}
