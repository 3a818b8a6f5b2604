#include "tests/engine/ImportDecisionFixture.h"
#include "tests/support/SkipOutsideCi.h"

#include "engine/cImporterEmail.h"
#include "tests/engine/SmtpTestServer.h"

#include "framework/ToolGlobals.h"
#include "platform/cartstore/AudioLengthCache.h"
#include "platform/system/ArchiveAttribute.h"
#include "platform/system/DateTimeFunctions.h"
#include "platform/system/FileVersionCache.h"
#include "platform/system/LongWork.h"
#include "platform/system/ToolError.h"
#include "tests/support/AudioFixtures.h"
#include "tests/support/InodeFlags.h"
#include "tests/support/WithoutFileOverride.h"

#include <csignal>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QThread>
#include <QtEndian>
#include <ctime>

namespace {

std::string Lines(const QStringList& lines)
{
    return lines.join(QLatin1Char('\n')).toStdString();
}

QByteArray Content(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
}

qint64 StampOf(const QString& path)
{
    DateTimeFunctions& dates = DateTimeFunctions::instance();
    qint32 low = 0;
    qint32 high = 0;
    dates.DateToStamp(dates.NormaliseDate(QFileInfo(path).lastModified()), low, high);
    return dates.MakeStamp(low, high);
}

void SetStamp(Cart& cart, qint64 stamp)
{
    cart.LastModifiedLow = qint32(quint32(quint64(stamp) & 0xFFFFFFFFu));
    cart.LastModifiedHigh = qint32(quint64(stamp) >> 32);
}

class ImportDecisionTest : public ImportDecisionFixture
{
};

} // namespace

TEST_F(ImportDecisionTest, EntryChecksLeaveEverythingAlone)
{
    AddGroup();
    const QString file = Wav("1234 Jingle.wav", 0.5);
    Globals::PlayoutAudio = nullptr;
    EXPECT_FALSE(Check(file, "1234"));
    Globals::PlayoutAudio = store.get();
    EXPECT_FALSE(Check(file, "0"));
    EXPECT_FALSE(Check(file, "12x"));
    EXPECT_EQ(Lines(Traces()),
              Lines({"Exit - no Playout System", "Exit - Invalid Cart", "Exit - Invalid Cart"}));
    EXPECT_THROW(Check(file, "1234", 2), ToolError); // no group 2: the caller's error
    EXPECT_TRUE(AppLog().isEmpty());
    EXPECT_TRUE(events.isEmpty());
    EXPECT_TRUE(QFileInfo::exists(file));
}

TEST_F(ImportDecisionTest, WavIntoEmptyCartWithSnapshot)
{
    AddGroup([](cImporterGroup& g) { g.TakeSnapShotBeforeImport = true; });
    const QString file = Wav("1234 Station Jingle.wav", 1.5);
    QSignalSpy finished(importer.get(), &cImporter::ImportFinished);

    ASSERT_TRUE(Check(file, "1234"));
    ASSERT_EQ(finished.size(), 1);
    EXPECT_EQ(finished[0][0].toString(), file);
    EXPECT_EQ(finished[0][1].toString(), "1234");

    const QStringList snapshots = QDir(Drop("Snapshots!")).entryList(QDir::Files);
    ASSERT_EQ(snapshots.size(), 1);
    EXPECT_TRUE(QRegularExpression(R"(^\d{4}-\d\d-\d\d \d\d-\d\d-\d\d - 1234 Station Jingle\.wav$)")
                    .match(snapshots[0])
                    .hasMatch())
        << snapshots[0].toStdString();
    const QString snapshot = Drop("Snapshots!/") + snapshots[0];
    EXPECT_EQ(Content(snapshot), Content(file));

    EXPECT_EQ(
        Lines(ImportEvents()),
        Lines({"ImportStarted", "ProcessStarted Taking Snapshot of '1234 Station Jingle.wav' false",
               "ProcessEnd Taken Snapshot of '1234 Station Jingle.wav' false", "ImportProgress 90",
               "ImportFinished"}));
    EXPECT_EQ(Lines(Record()),
              Lines({"log:Copied '" + file + "' to '" + snapshot + "' OK",
                     "log:Imported '1234 Station Jingle.wav' into Cart 1234 (Station Jingle, "
                     "Length: 00:00:01)",
                     "success:Successfully imported new audio file."}));
    EXPECT_EQ(Lines(Traces()),
              Lines({"New Audio found : NewLength=1.5, CurLength=0", "Calling ImportAudioFile",
                     "ImportAudioFile-OK", "Checking for ancillary files"}));
    ASSERT_EQ(store->imports.size(), 1);
    EXPECT_EQ(store->imports[0].flags, 36);
    EXPECT_EQ(store->imports[0].level, -1);
    EXPECT_TRUE(store->saves.isEmpty()); // no override applied, nothing saved

    const Cart cart = GetCart("1234");
    EXPECT_FLOAT_EQ(cart.Length, 1.5f);
    EXPECT_NEAR(AudioFixtures::WavPeak(cart.AudioFilePath), 16384, 3); // not normalised
    EXPECT_TRUE(QFileInfo::exists(file)); // deleting it is the periodic check's
}

// A WAV beside an MP3 of the same name would land on the stored audio's own name.
TEST_F(ImportDecisionTest, AncillaryFileNeverReplacesTheAudioJustImported)
{
    REQUIRE_FFMPEG();
    AddGroup();
    const QString source = home.File("source.wav");
    ASSERT_TRUE(AudioFixtures::WriteSineWav(source, 2.5, 22050, 1, 0.5));
    const QString file = Drop("1234 Promo.mp3");
    ASSERT_TRUE(AudioFixtures::Encode(source, file));
    const QString other = Wav("1234 Promo.wav", 0.5);
    WriteFile(Drop("1234 Promo.txt"), "cue sheet");

    ASSERT_TRUE(Check(file, "1234"));
    const Cart cart = GetCart("1234");
    EXPECT_NEAR(cart.Length, 2.5, 0.1);
    EXPECT_NE(Content(cart.AudioFilePath), Content(other));
    EXPECT_EQ(AudioFixtures::WavSampleRate(cart.AudioFilePath), 22050);
    EXPECT_EQ(Content(store->AudioFolder() + "/01234.txt"), "cue sheet");
}

TEST_F(ImportDecisionTest, Mp3WithGroupLevelIsNotImportedAgainOnceUnchanged)
{
    REQUIRE_FFMPEG();
    AddGroup([](cImporterGroup& g) {
        g.OverrideNormalise = 80;
        g.OverrideTitle = "Weekend Promo";
    });
    const QString source = home.File("source.wav");
    ASSERT_TRUE(AudioFixtures::WriteSineWav(source, 2.5, 22050, 1, 0.5));
    const QString file = Drop("1234 Promo.mp3");
    ASSERT_TRUE(AudioFixtures::Encode(source, file));

    ASSERT_TRUE(Check(file, "1234"));
    EXPECT_EQ(
        Lines(AppLog()),
        Lines({"Imported '1234 Promo.mp3' into Cart 1234 (Weekend Promo, Length: 00:00:02)"}));
    ASSERT_EQ(store->imports.size(), 1);
    EXPECT_EQ(store->imports[0].level, 80);
    EXPECT_EQ(store->saves, (QList<QPair<bool, bool>>{{false, true}}));
    EXPECT_TRUE(Traces().contains("Overrides need saving"));
    EXPECT_NEAR(AudioFixtures::WavPeak(GetCart("1234").AudioFilePath), 0.8 * 32767, 40);

    // Until the periodic check clears it, the archive attribute still marks the file.
    ForgetSoFar();
    ASSERT_TRUE(Check(file, "1234"));
    EXPECT_EQ(AppLog().value(0),
              "Decided to import '1234 Promo.mp3' into Cart 1234 : File Archive attribute is set");
    ASSERT_EQ(store->imports.size(), 1);
    EXPECT_EQ(store->imports[0].flags, 4);

    ArchiveAttribute::Clear(file, {.tableFolder = Globals::ToolProfileFolder});
    ForgetSoFar();
    EXPECT_FALSE(Check(file, "1234"));
    EXPECT_TRUE(AppLog().isEmpty());
    EXPECT_TRUE(events.isEmpty());
    EXPECT_TRUE(store->imports.isEmpty());
}

// A file that never becomes audio stays where it is, and the operator hears of it once per
// version, with the decoder's reason, also across restarts; a changed file is news again.
TEST_F(ImportDecisionTest, UndecodableFilesAreReportedOncePerVersionAndStay)
{
    AddGroup();
    QByteArray headerOnly;
    {
        const QString wav = home.File("header.wav");
        ASSERT_TRUE(AudioFixtures::WriteSineWav(wav, 0.0, 8000, 1));
        headerOnly = Content(wav);
        ASSERT_EQ(headerOnly.size(), 44);
    }
    QByteArray unknownCodec = headerOnly + QByteArray(8000, '\x11');
    qToLittleEndian<quint16>(0x3F3F, unknownCodec.data() + 20);
    qToLittleEndian<quint32>(8000, unknownCodec.data() + 40);
    QByteArray noise;
    for (int i = 0; i < 6000; ++i) {
        noise.append(char((i * 7919 + 13) % 251));
    }
    struct Case
    {
        const char* name;
        QByteArray content;
        const char* reason;
    };
    const QList<Case> cases = {
        {"1001 Text.mp3", QByteArray("This is a note, not a song.\n").repeated(40),
         "Invalid argument"},
        {"1002 Noise.wav", noise, "Invalid data found when processing input"},
        {"1003 Noise.ogg", noise, "End of file"},
        {"1004 Empty.wav", QByteArray(), "the file is empty"},
        {"1005 Header only.wav", headerOnly, "no audio could be decoded"},
        {"1006 Codec.wav", unknownCodec, "no decoder for its audio codec"},
    };
    // Without a usable length cache (another account's file, a damaged one) the same holds for
    // the run, and why is told once.
    AudioLengthCache& cache = AudioLengthCache::instance();
    const auto defaultFolder = qScopeGuard([&] { cache.SetFolder(QString()); });
    std::optional<WithoutFileOverride> unprivileged;
    for (const char* cacheFile : {"usable", "foreign", "damaged"}) {
        SCOPED_TRACE(cacheFile);
        const QString folder = home.File(cacheFile);
        ASSERT_TRUE(QDir().mkpath(folder));
        const QString cachePath = folder + "/" + AudioLengthCache::FileName;
        if (QByteArray(cacheFile) != "usable") {
            WriteFile(cachePath, QByteArray("not a database ").repeated(300));
        }
        if (QByteArray(cacheFile) == "foreign") {
            ASSERT_EQ(::chown(QFile::encodeName(cachePath).constData(), 65534, 65534), 0);
            ASSERT_EQ(::chmod(QFile::encodeName(cachePath).constData(), 0600), 0);
            unprivileged.emplace();
        }
        cache.SetFolder(folder);
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            ForgetSoFar();
            const QString file = Drop(c.name);
            WriteFile(file, c.content);
            const QString cart = QString(c.name).left(4);
            for (int pass = 1; pass <= 3; ++pass) {
                EXPECT_FALSE(Check(file, cart));
            }
            // Nor after a restart.
            Restart({{}});
            EXPECT_FALSE(Check(file, cart));
            EXPECT_EQ(Lines(Record()),
                      Lines({"log:'" + QString(c.name) + "' cannot be read as audio: " + c.reason +
                                 "; it stays in the folder",
                             "fail:The file cannot be read as audio: " + QString(c.reason) +
                                 ". It stays where it is and is not reported again until it "
                                 "changes."}));
            EXPECT_TRUE(events.isEmpty());
            EXPECT_TRUE(QFileInfo::exists(file));

            // Another version of the file, also one rewritten in place at the same size: told
            // again, once.
            for (const auto& [change, secondsAgo] : {std::pair{"!", 120}, std::pair{"?", 60}}) {
                ForgetSoFar();
                WriteFile(file, c.content + change);
                QFile(file).setFileTime(QDateTime::currentDateTime().addSecs(-secondsAgo),
                                        QFileDevice::FileModificationTime);
                EXPECT_FALSE(Check(file, cart));
                EXPECT_FALSE(Check(file, cart));
                EXPECT_EQ(
                    Record().filter(QRegularExpression("^log:.*cannot be read as audio")).size(),
                    1);
                EXPECT_EQ(Record().filter(QRegularExpression("^fail:")).size(), 1);
            }
        }
        const QStringList notices = store->TakeNotices();
        EXPECT_EQ(notices
                      .filter(QStringLiteral("The length cache '") + cachePath +
                              QStringLiteral("' cannot be used ("))
                      .size(),
                  QByteArray(cacheFile) == "usable" ? 0 : 1)
            << Lines(notices);
        unprivileged.reset();
    }
    EXPECT_TRUE(store->imports.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(Drop("Failed!")));
}

TEST_F(ImportDecisionTest, RefusedImportGoesToFailedAndReplacesTheEarlierFailure)
{
    AddGroup();
    store->refuseImport = true;
    const QString failed = Drop("Failed!/1234 Jingle.wav");
    // The second replaces the first in "Failed!"; moved back by hand as it was, it is news again.
    for (double seconds : {0.5, 0.75, 0.0}) {
        ForgetSoFar();
        const QString file = Drop("1234 Jingle.wav");
        if (seconds > 0) {
            Wav("1234 Jingle.wav", seconds);
        } else {
            ASSERT_TRUE(QFile::rename(failed, file));
        }
        const QByteArray content = Content(file);

        EXPECT_FALSE(Check(file, "1234"));
        EXPECT_EQ(Lines(Record()),
                  Lines({"log:Failed to import '1234 Jingle.wav' into Cart 1234",
                         "fail:Could not import new audio file, file moved to 'Failed!' subfolder",
                         "log:Moved '" + file + "' to '" + failed + "' OK"}));
        EXPECT_EQ(Lines(ImportEvents()), Lines({"ImportStarted", "ImportFinished"}));
        EXPECT_EQ(Traces().value(Traces().size() - 1), "Exit - Couldn't import new audio file");
        EXPECT_FALSE(QFileInfo::exists(file));
        EXPECT_EQ(Content(failed), content);
    }
    EXPECT_LE(GetCart("1234").Length, 0.0f);
}

TEST_F(ImportDecisionTest, CartTheUserMayNotEdit)
{
    AddGroup();
    AddGroup([](cImporterGroup& g) { g.CheckCurrent = true; });
    const Cart own = PrepareCart("1500");
    ASSERT_TRUE(directory->WriteUsers({{QString(), UserDirectory::OsLoginName(), {{1, 999}}}}));
    const QString note =
        "fail:No 'write' permission to that cart, file moved to 'Failed!' subfolder";
    auto refusal = [](const QString& file, const QString& cart) {
        return "log:Cannot import '" + file + "' into Cart " + cart +
               " - Cartfeeder does not have Directory Permissions to edit that destination cart.";
    };

    const QString file = Wav("1234 Jingle.wav", 0.5);
    EXPECT_FALSE(Check(file, "1234"));
    EXPECT_EQ(Lines(Record()),
              Lines({refusal(file, "1234"), note,
                     "log:Moved '" + file + "' to '" + Drop("Failed!/1234 Jingle.wav") + "' OK"}));
    EXPECT_EQ(Lines(Traces()), Lines({"Exit - no 'Write' permission"}));
    EXPECT_TRUE(events.isEmpty());

    // Without a user directory every cart is refused.
    ForgetSoFar();
    Globals::DirectoryInterface = nullptr;
    const QString other = Wav("0500 Bed.wav", 0.5);
    EXPECT_FALSE(Check(other, "500"));
    EXPECT_EQ(Record().value(0), refusal(other, "500"));
    EXPECT_FALSE(QFileInfo::exists(other));

    // A re-checking group's file is the cart's own audio: it stays in the store.
    ForgetSoFar();
    EXPECT_FALSE(Check(own.AudioFilePath, "1500", 2));
    EXPECT_EQ(Lines(Record()), Lines({refusal(own.AudioFilePath, "1500"), note}));
    EXPECT_TRUE(QFileInfo::exists(own.AudioFilePath));
    EXPECT_TRUE(store->imports.isEmpty());
}

TEST_F(ImportDecisionTest, TransportFiles)
{
    AddGroup([](cImporterGroup& g) { g.TakeSnapShotBeforeImport = true; });
    PrepareCart(
        "500", [](Cart& c) { c.Title = "Promo Bed"; }, 2.0);
    const QString zip = Drop("1234 Promo.zip");
    ASSERT_TRUE(store->ExportCart(nullptr, "500", zip, nullptr, 0, QString(), true, false));
    const QString decided = "Decided to import '1234 Promo.zip' into Cart 1234 : ";

    // Empty cart, archive attribute set: the later reason wins.
    ASSERT_TRUE(Check(zip, "1234"));
    EXPECT_EQ(Lines(Traces()), Lines({"Ok to Import Transport File: Current Cart is empty",
                                      "Ok to Import Transport File: File Archive attribute is set",
                                      "GRP:1 - " + decided + "File Archive attribute is set",
                                      "Calling ImportTransportFile", "ImportTransportFile-OK"}));
    EXPECT_EQ(Lines(Record()),
              Lines({"log:" + decided + "File Archive attribute is set",
                     "log:Imported '1234 Promo.zip' into Cart 1234 (Promo Bed, Length: 00:00:02)",
                     "success:Successfully imported transport file."}));
    EXPECT_EQ(Lines(ImportEvents()), Lines({"ImportStarted", "ImportFinished"})); // no snapshot
    EXPECT_FALSE(QFileInfo::exists(Drop("Snapshots!")));
    EXPECT_TRUE(QFileInfo::exists(zip));
    const QString audio = GetCart("1234").AudioFilePath;

    // Older than the cart's audio or of the same time, attribute clear: nothing at all.
    for (const qint64 offset : {-3600 * 1000, 0}) {
        ForgetSoFar();
        SetModifiedRelativeTo(zip, audio, offset);
        ArchiveAttribute::Clear(zip, {.tableFolder = Globals::ToolProfileFolder});
        EXPECT_FALSE(Check(zip, "1234")) << offset;
        EXPECT_TRUE(Traces().isEmpty());
        EXPECT_TRUE(AppLog().isEmpty());
        EXPECT_TRUE(events.isEmpty());
    }

    // Newer.
    SetModifiedRelativeTo(zip, audio, 3600 * 1000);
    ArchiveAttribute::Clear(zip, {.tableFolder = Globals::ToolProfileFolder});
    ASSERT_TRUE(Check(zip, "1234"));
    EXPECT_EQ(AppLog().value(0), decided + "File is newer than current Cart");

    // The cart's audio date cannot be read: the file counts as newer.
    ForgetSoFar();
    ASSERT_TRUE(QFile::remove(audio));
    SetModifiedRelativeTo(zip, zip, -365LL * 24 * 3600 * 1000);
    ArchiveAttribute::Clear(zip, {.tableFolder = Globals::ToolProfileFolder});
    ASSERT_TRUE(Check(zip, "1234"));
    EXPECT_EQ(AppLog().value(0), decided + "File is newer than current Cart");

    // The extension counts in any case; a broken transport file goes to "Failed!".
    ForgetSoFar();
    const QString bad = Drop("1234 Bad.Zip");
    WriteFile(bad, "PK but not a zip");
    EXPECT_FALSE(Check(bad, "1234"));
    EXPECT_EQ(
        Lines(Record()),
        Lines(
            {"log:Decided to import '1234 Bad.Zip' into Cart 1234 : File Archive attribute is set",
             "log:Failed to import '1234 Bad.Zip' into Cart 1234",
             "fail:Could not import transport file, file moved to 'Failed!' subfolder",
             "log:Moved '" + bad + "' to '" + Drop("Failed!/1234 Bad.Zip") + "' OK"}));
    EXPECT_EQ(Lines(ImportEvents()), Lines({"ImportStarted", "ImportFinished"}));
    EXPECT_EQ(Traces().value(Traces().size() - 1), "Exit - Couldn't import Transport File");
    EXPECT_TRUE(store->imports.isEmpty()); // never taken for audio
}

TEST_F(ImportDecisionTest, AncillaryFilesGoBesideTheStoredAudio)
{
    AddGroup();
    const QString file = Wav("1234 Promo.wav", 0.5);
    Wav("1234 PROMO.WAV", 1.0); // the imported file itself, as Windows names go
    WriteFile(Drop("1234 promo.txt"), "cue sheet");
    WriteFile(Drop("1234 Promo.Cue"), "cues");
    WriteFile(Drop("1234 Promotion.txt"), "another file");
    ASSERT_TRUE(QDir().mkpath(Drop("1234 Promo.d")));

    ASSERT_TRUE(Check(file, "1234"));
    const QString audioFolder = store->AudioFolder();
    QStringList stored =
        QDir(audioFolder).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
    stored.sort();
    EXPECT_EQ(Lines(stored), Lines({"01234.Cue", "01234.txt", "01234.wav"}));
    EXPECT_EQ(Content(audioFolder + "/01234.txt"), "cue sheet");
    EXPECT_FLOAT_EQ(GetCart("1234").Length, 0.5f);
    EXPECT_TRUE(QFileInfo::exists(Drop("1234 promo.txt"))); // copied, not moved

    // A file that already is the cart's stored audio has no companions to copy.
    ForgetSoFar();
    const QString inStore = audioFolder + "/01235.wav";
    ASSERT_TRUE(AudioFixtures::WriteSineWav(inStore, 0.5, 8000, 1, 0.5));
    WriteFile(audioFolder + "/01235.txt", "left alone");
    ASSERT_TRUE(Check(inStore, "1235"));
    EXPECT_FALSE(Traces().contains("Checking for ancillary files"));

    // ".zip" inside the name does not make a transport file.
    ForgetSoFar();
    const QString notZip = Wav("1236 Bed.zip.wav", 0.5);
    ASSERT_TRUE(Check(notZip, "1236"));
    EXPECT_EQ(store->imports.size(), 1);
}

TEST_F(ImportDecisionTest, LengthTestAndPrecedenceOfReasons)
{
    AddGroup([](cImporterGroup& g) { g.UseArchiveBit = false; });
    AddGroup([](cImporterGroup& g) { g.DeleteAfterImport = true; });
    AddGroup([](cImporterGroup& g) { g.UseArchiveBit = true; });
    auto existing = [this](const QString& cart) {
        return PrepareCart(cart, [](Cart& c) {
            c.Length = 12.3f;
            c.OutPoint = 12.3f;
        });
    };
    const QString plain = "Ok to Import Audio File: ";

    // 12.3 against 12.34: the same length; the older file changes nothing.
    const Cart same = existing("1001");
    const QString close = Wav("1001 Bed.wav", 12.34);
    SetModifiedRelativeTo(close, same.AudioFilePath, -60 * 1000);
    ForgetSoFar();
    EXPECT_FALSE(Check(close, "1001"));
    EXPECT_TRUE(Traces().isEmpty());
    EXPECT_TRUE(AppLog().isEmpty());

    // 12.3 against 12.36: a different length, imported again in full.
    const Cart differs = existing("1002");
    const QString longer = Wav("1002 Bed.wav", 12.36);
    SetModifiedRelativeTo(longer, differs.AudioFilePath, -60 * 1000);
    ForgetSoFar();
    ASSERT_TRUE(Check(longer, "1002"));
    const QString reason3 = "File is different length from current cart";
    EXPECT_EQ(Lines(Traces().mid(0, 4)),
              Lines({plain + reason3,
                     "GRP:1- Decided to import '1002 Bed.wav' into Cart 1002 : " + reason3,
                     "ReplaceChangedLength=False, CheckCurrent=False", "Full information import"}));
    EXPECT_EQ(AppLog().value(0), "Decided to import '1002 Bed.wav' into Cart 1002 : " + reason3);

    // Deleting after import wins over the archive attribute and the length; the attribute
    // wins over the length.
    existing("1003");
    const QString fresh = Wav("1003 Bed.wav", 12.36);
    ForgetSoFar();
    ASSERT_TRUE(Check(fresh, "1003", 2));
    EXPECT_EQ(Traces().value(0),
              plain + "Because it's there - i.e. not been imported+deleted already");
    EXPECT_FALSE(Traces().value(1).startsWith(plain));
    existing("1003");
    ForgetSoFar();
    ASSERT_TRUE(Check(fresh, "1003", 3));
    EXPECT_EQ(Traces().value(0), plain + "File Archive attribute is set");
    EXPECT_FALSE(Traces().value(1).startsWith(plain));
}

TEST_F(ImportDecisionTest, FolderGroupTakesMissingAudioAndNewerFiles)
{
    AddGroup([](cImporterGroup& g) { g.UseArchiveBit = false; });
    const QString importNew = "(ImportNew):Ok to Import Audio File: ";

    const Cart missing = PrepareCart("1003");
    const QString file = Wav("1003 Bed.wav", 0.5);
    SetModifiedRelativeTo(file, missing.AudioFilePath, -60 * 1000);
    ASSERT_TRUE(QFile::remove(missing.AudioFilePath));
    ForgetSoFar();
    ASSERT_TRUE(Check(file, "1003"));
    EXPECT_EQ(Traces().value(0), importNew + "Cart is missing it's audio file");

    const Cart current = PrepareCart("1004");
    const QString same = Wav("1004 Bed.wav", 0.5);
    for (qint64 offset : {-60 * 1000, 0}) {
        SetModifiedRelativeTo(same, current.AudioFilePath, offset);
        ForgetSoFar();
        EXPECT_FALSE(Check(same, "1004")) << offset;
        EXPECT_TRUE(AppLog().isEmpty());
    }
    SetModifiedRelativeTo(same, current.AudioFilePath, 1);
    ForgetSoFar();
    ASSERT_TRUE(Check(same, "1004"));
    EXPECT_EQ(Traces().value(0), importNew + "File is newer than current Cart");
    EXPECT_EQ(AppLog().value(0),
              "Decided to import '1004 Bed.wav' into Cart 1004 : File is newer than current Cart");
}

// A file dated in the future (a clock running ahead, times kept by a copy) seems newer than the
// cart's audio after its own import: that version is imported once, also across a restart; any
// change to it is imported as before.
TEST_F(ImportDecisionTest, FileDatedInTheFutureIsImportedOncePerVersion)
{
    REQUIRE_FFMPEG();
    const auto importNew = [](cImporterGroup& g) { g.UseArchiveBit = false; };
    const auto archiveFlag = [](cImporterGroup& g) { g.UseArchiveBit = true; };
    AddGroup(importNew);
    AddGroup(archiveFlag);
    const QString source = home.File("source.wav");
    ASSERT_TRUE(AudioFixtures::WriteSineWav(source, 1.5, 22050, 1, 0.5));
    QByteArray zips[2];
    for (int i = 0; i < 2; ++i) {
        PrepareCart(QString::number(500 + i), {}, 1.0 + i);
        const QString zip = home.File(QStringLiteral("%1.zip").arg(i));
        ASSERT_TRUE(store->ExportCart(nullptr, QString::number(500 + i), zip, nullptr, 0, QString(),
                                      true, false));
        zips[i] = Content(zip);
    }
    const QDateTime hourAhead = QDateTime::currentDateTime().addSecs(3600);
    const QDateTime far(QDate(2099, 6, 1), QTime(12, 0));
    struct Row
    {
        qint16 group;
        QString name;
        QDateTime date;
        QString file = {};
        QByteArray other = {};
    };
    QList<Row> rows = {{1, "1201 Ahead.mp3", hourAhead},
                       {2, "1202 Ahead.mp3", far},
                       {1, "1203 Ahead.zip", far},
                       {2, "1204 Ahead.zip", hourAhead}};
    const auto date = [](Row& row) {
        QFile file(row.file);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(row.date, QFileDevice::FileModificationTime));
    };
    for (Row& row : rows) {
        row.file = Drop(row.name);
        if (row.name.endsWith(".zip")) {
            WriteFile(row.file, zips[0]);
            row.other = zips[1];
        } else {
            ASSERT_TRUE(AudioFixtures::Encode(source, row.file));
            row.other = Content(row.file) + Content(row.file);
        }
        date(row);
    }
    const auto pass = [&] {
        for (Row& row : rows) {
            // As the check does after an import.
            if (Check(row.file, row.name.left(4), row.group) && row.group == 2) {
                ArchiveAttribute::Clear(row.file, {.tableFolder = Globals::ToolProfileFolder});
            }
        }
    };
    const auto expect = [&](qsizetype imports) {
        for (const Row& row : rows) {
            SCOPED_TRACE(row.name.toStdString());
            EXPECT_EQ(AppLog().filter("Imported '" + row.name + "'").size(), imports);
            const QString future =
                "The date of '" + row.name + "' (" + row.date.toString("yyyy-MM-dd hh:mm:ss") +
                ") lies in the future; this version of it is not imported into Cart " +
                row.name.left(4) + " again";
            EXPECT_TRUE(AppLog().contains(future)) << Lines(AppLog());
            EXPECT_EQ(AppLog().filter("The date of '" + row.name).size(), imports);
        }
    };
    for (int i = 0; i < 3; ++i) {
        pass();
    }
    Restart({importNew, archiveFlag});
    pass();
    pass();
    expect(1);

    // Touched: another version, imported; so is new content under the same date.
    for (Row& row : rows) {
        row.date = row.date.addSecs(60);
        date(row);
    }
    pass();
    pass();
    expect(2);
    for (Row& row : rows) {
        WriteFile(row.file, row.other);
        date(row);
    }
    pass();
    pass();
    expect(3);
}

TEST_F(ImportDecisionTest, ReCheckGroupComparesLastModifiedStamps)
{
    auto recheck = [](bool lastModified) {
        return [lastModified](cImporterGroup& g) {
            g.CheckCurrent = true;
            g.CheckCurrentLastModified = lastModified;
            g.UseArchiveBit = false;
        };
    };
    AddGroup(recheck(true));
    AddGroup(recheck(false));
    const QString checkCurrent = "(CheckCurrent):Ok to Import Audio File: ";

    const Cart unstamped = PrepareCart("1005", [](Cart& c) { c.LastModifiedLow = 0; });
    ForgetSoFar();
    ASSERT_TRUE(Check(unstamped.AudioFilePath, "1005"));
    EXPECT_EQ(Traces().value(0),
              checkCurrent + "Current Cart is missing it's Last Modified Information");
    // Whatever the reason, a re-checking group without re-import updates the timing only.
    EXPECT_TRUE(store->imports.isEmpty());
    EXPECT_EQ(store->saves, (QList<QPair<bool, bool>>{{true, false}}));

    const Cart stamped = PrepareCart("1006");
    const qint64 fileStamp = StampOf(stamped.AudioFilePath);
    EditCart("1006", [&](Cart& c) { SetStamp(c, fileStamp - 20000000); }); // exactly 2.0 s
    ForgetSoFar();
    EXPECT_FALSE(Check(stamped.AudioFilePath, "1006"));
    EXPECT_TRUE(AppLog().isEmpty());
    EditCart("1006", [&](Cart& c) { SetStamp(c, fileStamp - 20000001); });
    ForgetSoFar();
    ASSERT_TRUE(Check(stamped.AudioFilePath, "1006"));
    EXPECT_EQ(Traces().value(0),
              checkCurrent + "File was Modified more recently than the Current Cart");

    // Without Last-Modified checking, equal lengths leave the cart alone.
    const Cart other = PrepareCart("1007", [](Cart& c) { c.LastModifiedLow = 0; });
    ForgetSoFar();
    EXPECT_FALSE(Check(other.AudioFilePath, "1007", 2));
    EXPECT_TRUE(AppLog().isEmpty());
}

TEST_F(ImportDecisionTest, FullReimportOverAnExistingCart)
{
    AddGroup([](cImporterGroup& g) {
        g.TakeSnapShotBeforeImport = true;
        g.UseArchiveBit = false;
    });
    AddGroup([](cImporterGroup& g) { g.UseArchiveBit = false; });
    const Cart cart = PrepareCart("1234", [](Cart& c) { c.Title = "Old Bed"; });
    const QString file = Wav("1234 New Bed.wav", 1.0);
    WriteFile(Drop("1234 New Bed.txt"), "not copied over an existing cart");

    ASSERT_TRUE(Check(file, "1234"));
    const QString snapshot =
        Drop("Snapshots!/") + QDir(Drop("Snapshots!")).entryList(QDir::Files).value(0);
    EXPECT_EQ(Lines(ImportEvents()),
              Lines({"ImportStarted", "ImportProgress 10",
                     "ProcessStarted Taking Snapshot of '1234 New Bed.wav' false",
                     "ProcessEnd Taken Snapshot of '1234 New Bed.wav' false", "ImportFinished"}));
    EXPECT_EQ(Lines(Record()),
              Lines({"log:Decided to import '1234 New Bed.wav' into Cart 1234 : File is different "
                     "length from current cart",
                     "log:Copied '" + file + "' to '" + snapshot + "' OK",
                     "log:Imported '1234 New Bed.wav' into Cart 1234 (Old Bed, Length: 00:00:01)",
                     "success:Successfully imported new audio file over existing cart."}));
    ASSERT_EQ(store->imports.size(), 1);
    EXPECT_EQ(store->imports[0].flags, 4);
    EXPECT_EQ(store->imports[0].level, -1);
    EXPECT_FALSE(QFileInfo::exists(store->AudioFolder() + "/01234.txt"));
    EXPECT_FLOAT_EQ(GetCart("1234").Length, 1.0f);

    // Refused by the store.
    store->refuseImport = true;
    const QString again = Wav("1234 Newer Bed.wav", 1.5);
    ForgetSoFar();
    EXPECT_FALSE(Check(again, "1234", 2));
    EXPECT_EQ(
        Lines(Record()),
        Lines({"log:Decided to import '1234 Newer Bed.wav' into Cart 1234 : File is "
               "different length from current cart",
               "log:Failed to import '1234 Newer Bed.wav' into Cart 1234",
               "fail:Could not import new audio file over existing cart, file moved to "
               "'Failed!' subfolder",
               "log:Moved '" + again + "' to '" + Drop("Failed!/1234 Newer Bed.wav") + "' OK"}));
    EXPECT_EQ(Lines(ImportEvents()),
              Lines({"ImportStarted", "ImportProgress 10", "ImportFinished"}));
    EXPECT_EQ(Traces().value(Traces().size() - 1), "Exit - Couldn't import new audio file");
}

TEST_F(ImportDecisionTest, TimingOnlyUpdateOfAReCheckedCart)
{
    AddGroup([](cImporterGroup& g) {
        g.CheckCurrent = true;
        g.UseArchiveBit = false;
    });
    auto existing = [this](const QString& number, float outPoint) {
        return PrepareCart(
            number,
            [outPoint](Cart& c) {
                c.Title = "Long Bed";
                c.Length = 45.0f;
                c.OutPoint = outPoint;
                c.StartPoint = -1.0f;
            },
            30.5);
    };
    const QString decided = "Decided to import '%1.wav' into Cart %2 : File is different length "
                            "from current cart";

    const Cart longOut = existing("1234", 45.0f);
    ForgetSoFar();
    ASSERT_TRUE(Check(longOut.AudioFilePath, "1234"));
    EXPECT_EQ(Lines(Record()),
              Lines({"log:" + decided.arg("01234", "1234"),
                     "log:Updated times for Cart 1234 (Long Bed, Length: 00:00:30)",
                     "success:Successfully updated timing on existing cart to reflect new audio "
                     "file length."}));
    EXPECT_EQ(Lines(ImportEvents()), Lines({"ImportStarted", "ImportFinished"}));
    EXPECT_TRUE(Traces().contains("ReplaceChangedLength=False, CheckCurrent=True"));
    EXPECT_TRUE(Traces().contains("Update Timing only"));
    EXPECT_TRUE(store->imports.isEmpty());
    EXPECT_EQ(store->saves, (QList<QPair<bool, bool>>{{true, false}})); // saved without overrides
    Cart updated = GetCart("1234");
    EXPECT_FLOAT_EQ(updated.Length, 30.5f);
    EXPECT_FLOAT_EQ(updated.OutPoint, 30.5f);
    EXPECT_FLOAT_EQ(updated.StartPoint, 0.0f);

    const Cart shortOut = existing("1235", 20.0f);
    ASSERT_TRUE(Check(shortOut.AudioFilePath, "1235"));
    EXPECT_FLOAT_EQ(GetCart("1235").OutPoint, 20.0f);

    // Not stored: logged and mailed, and the cart's own audio stays in the store.
    store->timingSaveStatus = 2;
    const Cart refused = existing("1236", 45.0f);
    ForgetSoFar();
    EXPECT_FALSE(Check(refused.AudioFilePath, "1236"));
    EXPECT_EQ(Lines(Record()),
              Lines({"log:" + decided.arg("01236", "1236"),
                     "log:Failed to Update times for Cart 1236 (Long Bed, Length: 00:00:30)",
                     "fail:Could not update timing on existing cart to reflect new audio file "
                     "length, file moved to 'Failed!' subfolder"}));
    EXPECT_EQ(Lines(ImportEvents()), Lines({"ImportStarted", "ImportFinished"}));
    EXPECT_TRUE(QFileInfo::exists(refused.AudioFilePath));
    for (const QString& trace : Traces()) {
        EXPECT_FALSE(trace.startsWith("Exit")) << trace.toStdString();
    }
}

// The archive flag marks the files of a watched folder; a re-check group reads the carts' own
// audio, whose flag nothing clears: each pass would decide again.
TEST_F(ImportDecisionTest, ReCheckGroupIgnoresTheArchiveFlag)
{
    AddGroup([](cImporterGroup& g) {
        g.CheckCurrent = true;
        g.UseArchiveBit = true;
    });
    const Cart cart = PrepareCart("1234");
    ASSERT_TRUE(
        ArchiveAttribute::IsSet(cart.AudioFilePath, {.tableFolder = Globals::ToolProfileFolder}));
    ForgetSoFar();
    EXPECT_FALSE(Check(cart.AudioFilePath, "1234"));
    EXPECT_TRUE(Record().isEmpty()) << Lines(Record());
    EXPECT_TRUE(store->saves.isEmpty());
}

// A store failure keeps the file for the next pass: its snapshot is not taken again while the
// file stays the same.
TEST_F(ImportDecisionTest, SnapshotIsTakenOncePerVersionOfTheFile)
{
    AddGroup([](cImporterGroup& g) { g.TakeSnapShotBeforeImport = true; });
    store->throwOnImport = PlayoutAudio::StoreDatabaseFailed;
    const QString file = Wav("1234 Jingle.wav", 0.5);
    // The copies, not the log's lines, which the failure memory holds back; each pass in a second
    // of its own, as copies made within one second share one name.
    auto copies = [this] { return QDir(Drop("Snapshots!")).entryList(QDir::Files).size(); };
    auto nextSecond = [] {
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        while (QDateTime::currentSecsSinceEpoch() == now) {
            QThread::msleep(10);
        }
    };
    for (int pass = 0; pass < 3; ++pass) {
        if (pass > 0) {
            nextSecond();
        }
        EXPECT_FALSE(Check(file, "1234"));
    }
    EXPECT_EQ(store->imports.size(), 3);
    EXPECT_EQ(copies(), 1);

    SetModifiedRelativeTo(file, file, 5000);
    store->throwOnImport = 0;
    nextSecond();
    EXPECT_TRUE(Check(file, "1234"));
    EXPECT_EQ(copies(), 2);
}

// The look a pass took at the file and handed on answers the decision's questions before the
// file is read, its length among them; the next decision looks afresh.
TEST_F(ImportDecisionTest, LookHandedOnAnswersTheLengthToo)
{
    AddGroup([](cImporterGroup& g) { g.UseArchiveBit = false; });
    const QString file = Wav("1234 Jingle.wav", 0.5);
    ASSERT_TRUE(Check(file, "1234"));
    const std::optional<FileVersionKey> look = FileVersionKey::Of(file);
    ASSERT_TRUE(look);
    Wav("1234 Jingle.wav", 1.5);
    {
        const FileVersionKey::Recent handed(file, *look);
        EXPECT_FALSE(Check(file, "1234"));
    }
    EXPECT_TRUE(Check(file, "1234"));
    EXPECT_NEAR(GetCart("1234").Length, 1.5, 0.01);
}

// The cart's own audio file was edited to another length: the group asks for everything anew.
TEST_F(ImportDecisionTest, ReCheckGroupReplacingAllInformationReimportsInFull)
{
    AddGroup([](cImporterGroup& g) {
        g.CheckCurrent = true;
        g.ReplaceChangedLengthCarts = true;
        g.UseArchiveBit = false;
    });
    const Cart cart = PrepareCart("1240", [](Cart& c) { c.Title = "Edited Bed"; });
    ASSERT_TRUE(AudioFixtures::WriteSineWav(cart.AudioFilePath, 1.5, 8000, 1, 0.5));
    ForgetSoFar();

    ASSERT_TRUE(Check(cart.AudioFilePath, "1240"));
    EXPECT_EQ(Lines(Record()),
              Lines({"log:Decided to import '01240.wav' into Cart 1240 : File is different "
                     "length from current cart",
                     "log:Imported '01240.wav' into Cart 1240 (Edited Bed, Length: 00:00:01)",
                     "success:Successfully imported new audio file over existing cart."}));
    EXPECT_EQ(Lines(ImportEvents()),
              Lines({"ImportStarted", "ImportProgress 10", "ImportFinished"}));
    EXPECT_TRUE(Traces().contains("ReplaceChangedLength=True, CheckCurrent=True"));
    EXPECT_TRUE(Traces().contains("Full information import"));
    ASSERT_EQ(store->imports.size(), 1);
    EXPECT_EQ(store->imports[0].flags, 4);
    EXPECT_TRUE(store->saves.isEmpty() || !store->saves.first().first); // no timing-only save
    // Imported over itself, the audio is still whole.
    EXPECT_NEAR(GetCart("1240").Length, 1.5, 0.01);
    EXPECT_NEAR(QFileInfo(cart.AudioFilePath).size(), 44 + 1.5 * 8000 * 2, 64);
}

TEST_F(ImportDecisionTest, CartOfVanishedAudioIsRemovedOnlyWhenItReallyWent)
{
    auto recheck = [](bool remove) {
        return [remove](cImporterGroup& g) {
            g.CheckCurrent = true;
            g.RemoveIfDeleted = remove;
            g.UseArchiveBit = false;
        };
    };
    AddGroup(recheck(true));
    AddGroup(recheck(false));
    auto existing = [this](const QString& number) {
        return PrepareCart(number, [](Cart& c) { c.Title = "  Gone Bed "; });
    };
    const QString firstLook = "Exit - audio file missing, cart kept until a look 2 seconds later";

    // An editor saves by removing, then writing and renaming: a file missing at one look, or at
    // two looks less than 2 seconds apart, may be on its way back.
    const Cart gone = existing("1234");
    ASSERT_TRUE(QFile::remove(gone.AudioFilePath));
    for (const double later : {0.0, 1.999}) {
        clocks.Later(later);
        ForgetSoFar();
        EXPECT_FALSE(Check(gone.AudioFilePath, "1234"));
        EXPECT_TRUE(Record().isEmpty()) << Lines(Record());
        EXPECT_EQ(Traces().value(Traces().size() - 1), firstLook);
    }
    clocks.Later(0.001);
    ForgetSoFar();
    ASSERT_TRUE(Check(gone.AudioFilePath, "1234"));
    // The mail is handed over before the line is written.
    EXPECT_EQ(Lines(Record()),
              Lines({"success:Successfully removed cart information after audio file removed.",
                     "log:Removed cart 1234 (Gone Bed)"}));
    EXPECT_EQ(Lines(Traces()),
              Lines({"Cart 1234 already exists, File (" + gone.AudioFilePath + ") length=0",
                     "Removing Cart Information"}));
    EXPECT_TRUE(events.isEmpty());
    EXPECT_LE(GetCart("1234").Length, 0.0f);

    const Cart kept = existing("1235");
    ASSERT_TRUE(QFile::remove(kept.AudioFilePath));
    ForgetSoFar();
    EXPECT_FALSE(Check(kept.AudioFilePath, "1235", 2));
    EXPECT_EQ(Lines(Traces()),
              Lines({"Exit - audio is missing, but option to remove cart is turned off"}));
    EXPECT_GT(GetCart("1235").Length, 0.0f);

    // A file that is there but cannot be measured, or is empty (an editor rewriting it in place,
    // a stalled copy), never removes its cart, however long it stays so.
    const Cart unreadable = existing("1236");
    for (const char* content : {"being copied in", ""}) {
        WriteFile(unreadable.AudioFilePath, content);
        for (int look = 0; look < 2; ++look) {
            clocks.Later(2);
            ForgetSoFar();
            EXPECT_FALSE(Check(unreadable.AudioFilePath, "1236"));
            EXPECT_EQ(Traces().value(1), "Exit - on second check file has no audio length but "
                                         "does exist (possibly still being copied in?)");
        }
    }
    EXPECT_GT(GetCart("1236").Length, 0.0f);

    // Back between two looks: its absence counts afresh from the next look that misses it.
    const Cart saved = existing("1238");
    ASSERT_TRUE(QFile::copy(saved.AudioFilePath, home.File("saved.wav")));
    ASSERT_TRUE(QFile::remove(saved.AudioFilePath));
    EXPECT_FALSE(Check(saved.AudioFilePath, "1238"));
    clocks.Later(1);
    ASSERT_TRUE(QFile::rename(home.File("saved.wav"), saved.AudioFilePath));
    EXPECT_FALSE(Check(saved.AudioFilePath, "1238"));
    ASSERT_TRUE(QFile::remove(saved.AudioFilePath));
    clocks.Later(1.5);
    ForgetSoFar();
    EXPECT_FALSE(Check(saved.AudioFilePath, "1238"));
    EXPECT_EQ(Traces().value(Traces().size() - 1), firstLook);
    clocks.Later(2);
    EXPECT_TRUE(Check(saved.AudioFilePath, "1238"));

    // Refused by the store.
    store->refuseRemove = true;
    const Cart refused = existing("1237");
    ASSERT_TRUE(QFile::remove(refused.AudioFilePath));
    EXPECT_FALSE(Check(refused.AudioFilePath, "1237"));
    clocks.Later(2);
    ForgetSoFar();
    EXPECT_FALSE(Check(refused.AudioFilePath, "1237"));
    EXPECT_EQ(Lines(Record()),
              Lines({"log:Couldn't remove cart 1237 (Gone Bed)",
                     "fail:Could not remove cart information from Cartvault after the audio "
                     "file could not be found, file moved to 'Failed!' subfolder"}));
    EXPECT_EQ(Traces().value(Traces().size() - 1), "Exit - Couldn't remove cart");
    EXPECT_TRUE(events.isEmpty());
}

// Most of a range's audio gone at once looks like an emptied or replaced folder, not deletions.
TEST_F(ImportDecisionTest, MassRemovalIsHeldBackSaidOnceThenHourlyAndMailedOncePerEpisode)
{
    AddGroup([](cImporterGroup& g) {
        g.CheckCurrent = true;
        g.RemoveIfDeleted = true;
        g.StartHDRef = "2000";
        g.EndHDRef = "2009";
    });
    const QString folder = store->AudioFolder();
    const QString held = "Removed none of the carts 2000 to 2009: the audio files of %1 of its %2 "
                         "carts with audio are missing from '" +
                         folder +
                         "' at once, more than half, which looks like an emptied or replaced "
                         "folder rather than deletions; if they were meant, remove those carts in "
                         "the playout system, or restore the files";
    const QString kept = ". The carts are kept as long as more than half of their audio files "
                         "are missing.";

    struct Row
    {
        QString missing;
        qint32 withAudio;
        bool may;
        double minutesLater = 0;
    };
    // 2006 is a file removed and put back again and again beside five that stay gone.
    for (const Row& row :
         {Row{"2001 2002", 2, true}, Row{"2001 2002 2003", 6, true}, Row{"", 0, true},
          Row{"2001 2002 2003 2004 2005", 8, false}, Row{"2001 2002 2003 2004 2005 2006", 8, false},
          Row{"2001 2002 2003 2004 2005", 8, false}, Row{"2001 2002 2003 2004 2005 2006", 8, false},
          Row{"2001 2002 2003 2004 2005", 8, false, 59}, Row{"2001 2002 2003 2004 2005", 8, false},
          Row{"2001 2002 2003 2004 2005 2006", 8, false, 1.5},
          Row{"2001 2002 2003 2004 2005", 8, false}, Row{"2002 2003 2004 2005 2007", 8, false},
          Row{"2001", 6, true}, Row{"2001 2002 2003", 5, false}, Row{"2001 2002 2003", 5, false}}) {
        clocks.Later(row.minutesLater * 60);
        qint16 group = 1;
        EXPECT_EQ(importer->MayRemoveVanishedCarts(
                      group, folder, row.missing.split(' ', Qt::SkipEmptyParts), row.withAudio),
                  row.may)
            << row.missing.toStdString() << " of " << row.withAudio;
    }
    // Said when a cart not named yet goes missing and after an hour; mailed once until removals
    // go on.
    EXPECT_EQ(Lines(Record()),
              Lines({"log:" + held.arg(5).arg(8), "fail:" + held.arg(5).arg(8) + kept,
                     "log:" + held.arg(6).arg(8), "log:" + held.arg(6).arg(8),
                     "log:" + held.arg(5).arg(8), "log:" + held.arg(3).arg(5),
                     "fail:" + held.arg(3).arg(5) + kept}));
}

TEST_F(ImportDecisionTest, MissingAudioFolderRemovesNothing)
{
    AddGroup([](cImporterGroup& g) {
        g.CheckCurrent = true;
        g.RemoveIfDeleted = true;
        g.UseArchiveBit = false;
    });
    const Cart cart = PrepareCart("1234");
    const QString folder = store->AudioFolder();
    // A disk that is not there just now, then the empty mount point of a share: the store
    // refuses, so the decision ends before it could take the file's absence for a deletion.
    ASSERT_TRUE(QDir().rename(folder, folder + ".unplugged"));
    ForgetSoFar();
    for (const char* situation : {"moved away", "empty mount point"}) {
        SCOPED_TRACE(situation);
        try {
            Check(cart.AudioFilePath, "1234");
            ADD_FAILURE() << "no error raised";
        } catch (const ToolError& error) {
            EXPECT_EQ(error.Number(), PlayoutAudio::StoreUnavailable);
        }
        EXPECT_TRUE(Record().isEmpty());
        ASSERT_TRUE(QDir().mkpath(folder));
    }
    ASSERT_TRUE(QDir(folder).removeRecursively());
    ASSERT_TRUE(QDir().rename(folder + ".unplugged", folder));
    const Cart after = GetCart("1234");
    EXPECT_TRUE(after.HasAudio);
    EXPECT_GT(after.Length, 0.0f);
}

TEST_F(ImportDecisionTest, UnavailableStoreEndsTheDecisionButFinishesTheImport)
{
    AddGroup([](cImporterGroup& g) { g.TakeSnapShotBeforeImport = true; });
    store->throwOnImport = PlayoutAudio::StoreUnavailable;
    const QString file = Wav("1234 Jingle.wav", 0.5);

    EXPECT_THROW(Check(file, "1234"), ToolError);
    EXPECT_EQ(Lines(ImportEvents()),
              Lines({"ImportStarted", "ProcessStarted Taking Snapshot of '1234 Jingle.wav' false",
                     "ProcessEnd Taken Snapshot of '1234 Jingle.wav' false", "ImportFinished"}));
    // No failure line, mail or move: the pass ends and logs it once.
    const QStringList record = Record();
    ASSERT_EQ(record.size(), 1);
    EXPECT_TRUE(record[0].startsWith("log:Copied '"));
    EXPECT_TRUE(QFileInfo::exists(file));
}

// The store failed, not the file: it stays for the next pass, the log says why, and the same
// failure mails once and is logged once an hour, not at every pass; a new reason, or the same
// after a success, is told again.
TEST_F(ImportDecisionTest, StoreFailureKeepsTheSourceLogsWhyAndMailsOnce)
{
    AddGroup();
    store->throwOnImport = PlayoutAudio::StoreDatabaseFailed;
    const QString file = Wav("1234 Jingle.wav", 0.5);
    const QString line =
        "log:Failed to import '1234 Jingle.wav' into Cart 1234 Error: The cart store's database "
        "is locked";
    const QString mail = "fail:Could not import new audio file, the cart store failed: The cart "
                         "store's database is locked. The file stays where it is and is tried "
                         "again at the next check.";

    EXPECT_FALSE(Check(file, "1234"));
    EXPECT_EQ(Lines(Record()), Lines({line, mail}));
    EXPECT_TRUE(Traces().contains("Cart store: The cart store's database is locked"));
    EXPECT_EQ(Lines(ImportEvents()), Lines({"ImportStarted", "ImportFinished"}));
    ForgetSoFar();
    for (double later : {60.0, 3539.0}) {
        clocks.Later(later);
        EXPECT_FALSE(Check(file, "1234"));
    }
    EXPECT_EQ(Lines(Record()), "");
    clocks.Later(1.0);
    EXPECT_FALSE(Check(file, "1234"));
    EXPECT_EQ(Lines(Record()), Lines({line}));
    EXPECT_TRUE(QFileInfo::exists(file));
    EXPECT_FALSE(QFileInfo::exists(Drop("Failed!")));

    ForgetSoFar();
    store->throwText = "cannot write in " + store->AudioFolder() + ": No space left on device";
    EXPECT_FALSE(Check(file, "1234"));
    EXPECT_EQ(Record().size(), 2);

    auto mails = [&] { return Record().filter(QRegularExpression("^fail:")).size(); };
    store->throwOnImport = 0;
    ForgetSoFar();
    EXPECT_TRUE(Check(file, "1234"));
    EXPECT_EQ(Record().filter(QRegularExpression("^log:Imported '1234 Jingle.wav'")).size(), 1);
    store->throwOnImport = PlayoutAudio::StoreWriteFailed;
    ForgetSoFar();
    EXPECT_FALSE(Check(file, "1234"));
    EXPECT_EQ(mails(), 1);

    // Other components' errors are not the store's verdict on the file: they stay the caller's.
    store->throwOnImport = 3021;
    ForgetSoFar();
    EXPECT_THROW(Check(file, "1234"), ToolError);
    EXPECT_EQ(mails(), 0);
    EXPECT_TRUE(Record().filter("Failed to import").isEmpty());
}

// A real write failure of the store's disk: the file size limit stands in for a full disk.
TEST_F(ImportDecisionTest, FullStoreDiskKeepsTheSourceAndLogsTheStoresReason)
{
    AddGroup([](cImporterGroup& g) { g.DeleteAfterImport = true; });
    const QString file = Wav("1234 Jingle.wav", 20.0);
    const QString small = Wav("1235 Short.wav", 0.2);
    PrepareCart("1300", {}, 20.0);
    const QString transport = Drop("1237 Transport.zip");
    ASSERT_TRUE(store->ExportCart(nullptr, "1300", transport, nullptr, 0, "", true, false));
    // A damaged file is still the file's fault and goes to "Failed!", with the store's reason
    // in the debug log.
    const QString damaged = Drop("1236 Damaged.zip");
    {
        QFile f(damaged);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray("PK\x03\x04 not a whole archive ").repeated(40));
    }

    struct rlimit saved
    {
    };
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = saved;
    limit.rlim_cur = 128 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    const bool imported = Check(file, "1234");
    const bool smallImported = Check(small, "1235");
    const bool damagedImported = Check(damaged, "1236");
    const bool transportImported = Check(transport, "1237");
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(imported);
    EXPECT_TRUE(QFileInfo::exists(file));
    EXPECT_FALSE(GetCart("1234").HasAudio);
    const QString why = "Failed to import '1234 Jingle.wav' into Cart 1234 Error: cannot write " +
                        store->AudioFolder() + "/01234.wav: File too large";
    EXPECT_TRUE(AppLog().contains(why)) << AppLog().join("\n").toStdString();
    EXPECT_TRUE(smallImported);
    EXPECT_FALSE(damagedImported);
    EXPECT_TRUE(QFileInfo::exists(Drop("Failed!/1236 Damaged.zip")));
    EXPECT_FALSE(transportImported);
    EXPECT_TRUE(QFileInfo::exists(transport));
    EXPECT_TRUE(AppLog().contains("Failed to import '1237 Transport.zip' into Cart 1237 Error: "
                                  "cannot unpack into " +
                                  store->AudioFolder() + ": File too large"))
        << AppLog().join("\n").toStdString();
    bool traced = false;
    for (const QString& trace : Traces()) {
        traced = traced || (trace.startsWith("Cart store: ") && trace.contains(damaged));
    }
    EXPECT_TRUE(traced) << Lines(Traces());
    // No temporary file is left in the store.
    EXPECT_EQ(QDir(store->AudioFolder()).entryList(QDir::Files | QDir::Hidden),
              QStringList({CartStore::MarkerName, "01235.wav", "01300.wav"}));
}

// An audio folder that takes no new file (immutable for root, which ignores permissions, else
// without write permission): neither the writer nor the unpacking can make its output. Later
// passes cost a look per file: the audio is neither probed nor decoded again.
TEST_F(ImportDecisionTest, AStoreFolderThatTakesNoFileKeepsTheSourceAndLogsWhy)
{
    AddGroup([](cImporterGroup& g) { g.DeleteAfterImport = true; });
    PrepareCart("1300");
    const QString transport = Drop("1235 Transport.zip");
    ASSERT_TRUE(store->ExportCart(nullptr, "1300", transport, nullptr, 0, "", true, false));
    const QString file = Wav("1234 Jingle.wav", 0.5);
    QStringList more;
    for (int n = 1240; n < 1245; ++n) {
        more << Wav(QString("%1 More.wav").arg(n), 0.5);
    }
    const QByteArray folder = QFile::encodeName(store->AudioFolder());
    const auto lock = [&](bool on) {
        if (::geteuid() != 0) {
            return ::chmod(folder.constData(), on ? 0555 : 0755) == 0;
        }
        return SetInodeFlag(folder, FS_IMMUTABLE_FL, on);
    };
    if (!lock(true)) {
        SKIP_OUTSIDE_CI("no folder here can refuse new files");
    }
    const bool imported = Check(file, "1234");
    const bool transportImported = Check(transport, "1235");
    for (const QString& wav : more) {
        Check(wav, QFileInfo(wav).fileName().left(4));
    }
    // Every look at the audio opens it.
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(::inotify_add_watch(watch, QFile::encodeName(Drop("")).constData(), IN_OPEN), 0);
    for (const QString& wav : more) {
        EXPECT_FALSE(Check(wav, QFileInfo(wav).fileName().left(4)));
    }
    char events[4096];
    const ssize_t opened = ::read(watch, events, sizeof events);
    ::close(watch);
    lock(false);
    EXPECT_LT(opened, 0) << "the audio was opened again";

    EXPECT_FALSE(imported);
    EXPECT_FALSE(transportImported);
    EXPECT_TRUE(QFileInfo::exists(file));
    EXPECT_TRUE(QFileInfo::exists(transport));
    const QStringList lines = AppLog().filter("Failed to import");
    ASSERT_EQ(lines.size(), 2 + more.size()) << Lines(AppLog());
    EXPECT_TRUE(lines[0].startsWith("Failed to import '1234 Jingle.wav' into Cart 1234 Error: "
                                    "cannot write in " +
                                    store->AudioFolder()))
        << Lines(lines);
    EXPECT_TRUE(lines[1].startsWith("Failed to import '1235 Transport.zip' into Cart 1235 Error: "
                                    "cannot unpack into " +
                                    store->AudioFolder()))
        << Lines(lines);
    EXPECT_FALSE(QFileInfo::exists(Drop("Failed!")));

    // The writer cannot open the output reserved for it (locked the moment the store first
    // looks at the audio): the store's fault all the same.
    ForgetSoFar();
    const auto lockFile = [](const QString& path, bool on) {
        const QByteArray native = QFile::encodeName(path);
        return ::geteuid() != 0 ? ::chmod(native.constData(), on ? 0444 : 0644) == 0
                                : SetInodeFlag(native, FS_IMMUTABLE_FL, on);
    };
    QString reserved;
    {
        const LongWork::Scope breathing([&] {
            const QStringList names =
                QDir(store->AudioFolder()).entryList({".*.tmp"}, QDir::Files | QDir::Hidden);
            if (reserved.isEmpty() && !names.isEmpty()) {
                reserved = store->AudioFolder() + "/" + names.first();
                EXPECT_TRUE(lockFile(reserved, true));
            }
            return true;
        });
        EXPECT_FALSE(Check(file, "1234"));
    }
    ASSERT_FALSE(reserved.isEmpty()) << "the audio was looked at before the output was reserved";
    lockFile(reserved, false);
    ASSERT_EQ(AppLog().size(), 1) << Lines(AppLog());
    EXPECT_TRUE(AppLog()[0].startsWith("Failed to import '1234 Jingle.wav' into Cart 1234 Error: "
                                       "cannot write " +
                                       store->AudioFolder() + "/01234.wav: "))
        << Lines(AppLog());
    EXPECT_TRUE(QFileInfo::exists(file));
    EXPECT_FALSE(QFileInfo::exists(Drop("Failed!")));
}

// A failure that lasts (a damaged file that cannot be moved because "Failed!" is a plain file, a
// store that keeps failing, a file that is no audio) reaches the mail server once per file and
// reason, and the log once, however many checks meet it.
TEST_F(ImportDecisionTest, LastingFailuresReachTheMailServerOnce)
{
    if (!SmtpTestServer::Available()) {
        SKIP_OUTSIDE_CI("/usr/bin/python3 cannot run aiosmtpd");
    }
    SmtpTestServer server;
    ASSERT_TRUE(server.Start());
    NotificationEmail::SetServerPort(server.Port());
    NotificationEmail::SetTemplateBaseFolder(home.File("program"));
    const auto restore = qScopeGuard([] {
        NotificationEmail::SetServerPort(25);
        NotificationEmail::SetTemplateBaseFolder(QString());
    });
    const auto mailing = [](cImporterGroup& g) {
        g.NotifyEmailSender = "feeder@radio.test";
        g.NotifyFailEmailRecipients = "tech@radio.test";
    };
    importer->setSMTPServerAddress("127.0.0.1");
    AddGroup(mailing);
    WriteFile(Drop("Failed!"), "a plain file where the folder should be");
    const QString zip = Drop("1300 Bad.zip");
    WriteFile(zip, QByteArray("PK\x03\x04 not a whole archive ").repeated(40));
    const QString text = Drop("1301 Text.mp3");
    WriteFile(text, QByteArray("not a song\n").repeated(100));
    const QString wav = Wav("1302 Jingle.wav", 0.5);

    QStringList firstPass;
    const auto passes = [&] {
        for (int pass = 1; pass <= 4; ++pass) {
            store->throwOnImport = PlayoutAudio::StoreWriteFailed;
            EXPECT_FALSE(Check(wav, "1302"));
            store->throwOnImport = 0;
            EXPECT_FALSE(Check(zip, "1300"));
            EXPECT_FALSE(Check(text, "1301"));
            if (pass == 1) {
                firstPass = AppLog();
            }
        }
    };
    passes();
    EXPECT_EQ(Lines(AppLog()), Lines(firstPass));
    EXPECT_EQ(firstPass.filter("Failed to import '1300 Bad.zip'").size(), 1) << Lines(firstPass);
    EXPECT_EQ(firstPass.filter(QRegularExpression("^Moved '.*1300 Bad.zip' .* Failed: ")).size(),
              1);
    EXPECT_EQ(firstPass.filter("Fail Notification Email Sent OK").size(), 3);
    QStringList subjects;
    for (const ReceivedMail& mail : server.Received()) {
        subjects << mail["subject"];
    }
    subjects.sort();
    EXPECT_EQ(Lines(subjects), Lines({"Cartfeeder FAIL:1300 Bad.zip -> Cart 1300",
                                      "Cartfeeder FAIL:1301 Text.mp3 -> Cart 1301",
                                      "Cartfeeder FAIL:1302 Jingle.wav -> Cart 1302"}));
    EXPECT_TRUE(QFileInfo::exists(zip));

    // After a restart the store's failures are told once more; the file that holds no audio
    // was told for good.
    Restart({mailing});
    importer->setSMTPServerAddress("127.0.0.1");
    ForgetSoFar();
    passes();
    EXPECT_EQ(firstPass.filter("cannot be read as audio").size(), 0) << Lines(firstPass);
    EXPECT_EQ(firstPass.filter("Fail Notification Email Sent OK").size(), 2);
    EXPECT_EQ(server.Received().size(), 5);

    // Once per reason: another reason of the store is news, and so is one mailed before once
    // the file was imported in between. Each look decides to import it over the cart again.
    Group().DeleteAfterImport = true;
    server.Clear();
    for (const char* reason :
         {"", "disk full", "disk full", "database locked", "", "database locked"}) {
        store->throwOnImport = *reason ? PlayoutAudio::StoreWriteFailed : 0;
        store->throwText = reason;
        EXPECT_EQ(Check(wav, "1302"), !*reason) << reason;
    }
    EXPECT_EQ(server.Received().size(), 3);
}

namespace {

// Byte offsets of a canonical 44-byte header.
void PatchLe32(const QString& path, qint64 offset, quint32 value)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    uchar bytes[4];
    qToLittleEndian<quint32>(value, bytes);
    file.seek(offset);
    file.write(reinterpret_cast<const char*>(bytes), 4);
}

} // namespace

// A WAV header that misstates the audio (a codec other than PCM, a wrong byte rate) must be
// measured the way the store measures, or every check imports it again.
TEST_F(ImportDecisionTest, WavsWhoseHeaderMisstatesTheAudioAreImportedOnce)
{
    REQUIRE_FFMPEG();
    AddGroup();
    const QString source = home.File("source.wav");
    ASSERT_TRUE(AudioFixtures::WriteSineWav(source, 3.0, 22050, 2, 0.5));

    struct Case
    {
        const char* name;
        QString cart;
        std::function<void(const QString&)> make;
    };
    const QList<Case> cases = {
        {"adpcm", "1001",
         [&](const QString& file) {
             ASSERT_TRUE(AudioFixtures::Encode(source, file, {"-c:a", "adpcm_ms"}));
         }},
        {"mu-law", "1002",
         [&](const QString& file) {
             ASSERT_TRUE(AudioFixtures::Encode(source, file, {"-c:a", "pcm_mulaw"}));
         }},
        {"wrong byte rate", "1003",
         [&](const QString& file) {
             ASSERT_TRUE(QFile::copy(source, file));
             PatchLe32(file, 28, 22050 * 4 * 2);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ForgetSoFar();
        const QString file = Drop(c.cart + " Clip.wav");
        c.make(file);
        for (int pass = 1; pass <= 3; ++pass) {
            SCOPED_TRACE(pass);
            EXPECT_EQ(Check(file, c.cart), pass == 1);
            // What the periodic check does after an import.
            ArchiveAttribute::Clear(file, {.tableFolder = Globals::ToolProfileFolder});
        }
        EXPECT_EQ(store->imports.size(), 1);
        EXPECT_GT(GetCart(c.cart).Length, 1.9f);
    }
}

// 45 bytes that declare a sample rate of over a billion: no audio at all; nor in a WAV cut
// short, told once.
TEST_F(ImportDecisionTest, WavOfAnAbsurdFormatIsNeverImported)
{
    REQUIRE_FFMPEG();
    AddGroup();
    const QString file = Wav("1234 Odd.wav", 0.0);
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write("\x01", 1);
    }
    PatchLe32(file, 4, 37);
    PatchLe32(file, 24, 1077805184);
    PatchLe32(file, 28, 1);
    PatchLe32(file, 40, 1);
    ASSERT_EQ(QFileInfo(file).size(), 45);

    for (int pass = 1; pass <= 3; ++pass) {
        EXPECT_FALSE(Check(file, "1234"));
    }
    EXPECT_TRUE(store->imports.isEmpty());
    EXPECT_FALSE(GetCart("1234").HasAudio);
    EXPECT_EQ(Lines(AppLog()), "'1234 Odd.wav' cannot be read as audio: declares 1077805184 Hz and "
                               "1 channels, which no audio uses; it stays in the folder");
    EXPECT_TRUE(QFileInfo::exists(file));

    // A copy that broke off after half a second of the two its header declares: not a short
    // cart.
    const QString cut = Wav("1235 Cut.wav", 2.0);
    ASSERT_TRUE(QFile(cut).resize(44 + 8000));
    for (int pass = 1; pass <= 3; ++pass) {
        EXPECT_FALSE(Check(cut, "1235"));
    }
    EXPECT_TRUE(store->imports.isEmpty());
    EXPECT_TRUE(QFileInfo::exists(cut));
    EXPECT_EQ(AppLog().value(1), "'1235 Cut.wav' cannot be read as audio: incomplete: declares "
                                 "2.0 s, holds 0.5 s; it stays in the folder");
    // So is a float one, as ffmpeg and most editors write it (an extensible record), and one
    // whose sizes are in an RF64 header.
    const QString whole = home.File("whole.wav");
    ASSERT_TRUE(AudioFixtures::WriteSineWav(whole, 2.0, 8000, 1));
    for (const QString cart : {"1236", "1237"}) {
        const QString name = cart + " Cut.wav";
        const QString cutShort = Drop(name);
        const bool floating = cart == "1236";
        ASSERT_TRUE(AudioFixtures::Encode(whole, cutShort,
                                          floating ? QStringList{"-c:a", "pcm_f32le"}
                                                   : QStringList{"-rf64", "always"}));
        ASSERT_TRUE(
            QFile(cutShort).resize(QFileInfo(cutShort).size() - 8000 * (floating ? 4 : 2) * 3 / 2));
        for (int pass = 1; pass <= 3; ++pass) {
            EXPECT_FALSE(Check(cutShort, cart));
        }
        EXPECT_EQ(AppLog().last(), "'" + name +
                                       "' cannot be read as audio: incomplete: declares "
                                       "2.0 s, holds 0.5 s; it stays in the folder");
    }
    EXPECT_TRUE(store->imports.isEmpty());
    EXPECT_EQ(AppLog().size(), 4);
}

// "*" and "?" in a file's title are characters of the name, not wildcards.
TEST_F(ImportDecisionTest, CompanionSearchTakesTheTitleLiterally)
{
    AddGroup();
    const QString file = Wav("3411 *.wav", 0.5);
    WriteFile(Drop("3411 private.key"), "secret");
    WriteFile(Drop("3411 other.doc"), "other");
    WriteFile(Drop("3411 *.txt"), "cue sheet");
    const QString question = Wav("3412 ?.wav", 0.5);
    WriteFile(Drop("3412 a.txt"), "not mine");

    ASSERT_TRUE(Check(file, "3411"));
    ASSERT_TRUE(Check(question, "3412"));
    QStringList stored = QDir(store->AudioFolder()).entryList(QDir::Files);
    stored.sort();
    EXPECT_EQ(Lines(stored), Lines({"03411.txt", "03411.wav", "03412.wav"}));
    EXPECT_EQ(Content(store->AudioFolder() + "/03411.txt"), "cue sheet");
}

// On a store that ignores letter case (an SMB share) "01200.WAV" is the audio just imported.
TEST_F(ImportDecisionTest, CompanionWithTheStoredAudiosNameInAnotherCaseIsSkipped)
{
    REQUIRE_FFMPEG();
    AddGroup();
    const QString source = home.File("source.wav");
    ASSERT_TRUE(AudioFixtures::WriteSineWav(source, 2.5, 22050, 1, 0.5));
    const QString file = Drop("1200 Promo.mp3");
    ASSERT_TRUE(AudioFixtures::Encode(source, file));
    Wav("1200 Promo.WAV", 0.5);
    WriteFile(Drop("1200 Promo.TXT"), "cue sheet");

    ASSERT_TRUE(Check(file, "1200"));
    QStringList stored = QDir(store->AudioFolder()).entryList(QDir::Files);
    stored.sort();
    EXPECT_EQ(Lines(stored), Lines({"01200.TXT", "01200.wav"}));
}

// A line feed in a file name must not forge an entry of the application log.
TEST_F(ImportDecisionTest, FileNameWithALineFeedStaysOnOneLogLine)
{
    AddGroup();
    const QString file = Wav("1234 Jingle\nGRP:1:Removed cart 1234 (Morning Jingle).wav", 0.5);
    ASSERT_TRUE(Check(file, "1234"));
    const QStringList log = AppLog();
    ASSERT_EQ(log.size(), 1) << Lines(log);
    EXPECT_TRUE(log[0].startsWith(
        "Imported '1234 Jingle\\nGRP:1:Removed cart 1234 (Morning Jingle).wav' into Cart 1234 ("))
        << log[0].toStdString();
}
TEST_F(ImportDecisionTest, IntroOverridesReachAFreshlyImportedCartWithoutExtro)
{
    AddGroup([](cImporterGroup& g) {
        g.OverrideIntroStart = 0.5f;
        g.OverrideIntroEnd = 1.25f;
    });
    ASSERT_TRUE(Check(Wav("1234 Bed.wav", 2.0), "1234"));
    const Cart cart = GetCart("1234");
    EXPECT_FLOAT_EQ(cart.Extro, -1.0f);
    EXPECT_FLOAT_EQ(cart.IntroStart, 0.5f);
    EXPECT_FLOAT_EQ(cart.IntroEnd, 1.25f);
}

// A cart whose audio was changed on a day the clocks change is updated once, not at every pass:
// the file's time must come back to the very instant the cart stored. A local 02:30 on
// 25 October 2026 happens twice; which one a conversion from local time picks depends on the
// C library's last conversion, so each pass follows a winter and then a summer one.
TEST_F(ImportDecisionTest, ChangeOnADaylightSavingDayIsTakenOnce)
{
    const QByteArray savedTz = qgetenv("TZ");
    qputenv("TZ", "Europe/Berlin");
    tzset();
    struct RestoreTz
    {
        QByteArray saved;
        ~RestoreTz()
        {
            if (saved.isNull()) {
                qunsetenv("TZ");
            } else {
                qputenv("TZ", saved);
            }
            tzset();
        }
    } restore{savedTz};
    const auto convertLocal = [](int month) {
        QDateTime(QDate(2026, month, 1), QTime(12, 0), Qt::LocalTime).toMSecsSinceEpoch();
    };

    AddGroup([](cImporterGroup& g) {
        g.CheckCurrent = true;
        g.CheckCurrentLastModified = true;
        g.UseArchiveBit = false;
    });
    const struct
    {
        const char* name;
        QDateTime modified;
    } rows[] = {
        {"first repeated hour", QDateTime(QDate(2026, 10, 25), QTime(0, 30), Qt::UTC)},
        {"second repeated hour", QDateTime(QDate(2026, 10, 25), QTime(1, 30), Qt::UTC)},
        {"before the spring gap", QDateTime(QDate(2026, 3, 29), QTime(0, 59, 59), Qt::UTC)},
        {"after the spring gap", QDateTime(QDate(2026, 3, 29), QTime(1, 0, 1), Qt::UTC)},
    };
    int cartNumber = 1300;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const QString number = QString::number(++cartNumber);
        const Cart cart = PrepareCart(number);
        EditCart(number, [&](Cart& c) {
            SetStamp(c, DateTimeFunctions::ToStamp(row.modified.addDays(-1)));
        });
        QFile audio(cart.AudioFilePath);
        ASSERT_TRUE(audio.open(QIODevice::ReadWrite));
        ASSERT_TRUE(audio.setFileTime(row.modified, QFileDevice::FileModificationTime));
        audio.close();

        ForgetSoFar();
        ASSERT_TRUE(Check(cart.AudioFilePath, number));
        EXPECT_TRUE(AppLog().value(1).startsWith("Updated times for Cart " + number))
            << Lines(AppLog());
        for (int month : {12, 7, 12, 7}) {
            convertLocal(month);
            ForgetSoFar();
            EXPECT_FALSE(Check(cart.AudioFilePath, number)) << "after month " << month;
            EXPECT_TRUE(AppLog().isEmpty()) << Lines(AppLog());
        }
    }
}
