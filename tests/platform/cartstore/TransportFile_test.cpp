#include "platform/cartstore/AudioDecoder.h"
#include "platform/cartstore/CartStore.h"
#include "platform/cartstore/TransportFile.h"
#include "platform/system/ToolError.h"
#include "tests/support/AudioFixtures.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/SkipOutsideCi.h"
#include "tests/support/TempHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QtEndian>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <zip.h>

namespace {

// Writes a zip with the given entries (name, content), stored or deflated.
bool MakeZip(const QString& path, const QList<QPair<QByteArray, QByteArray>>& entries,
             bool deflate = false)
{
    int error = 0;
    zip_t* zip = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!zip) {
        return false;
    }
    for (const auto& [name, content] : entries) {
        zip_source_t* source = zip_source_buffer(zip, content.constData(), content.size(), 0);
        const zip_int64_t index = zip_file_add(zip, name.constData(), source, ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            zip_source_free(source);
            zip_discard(zip);
            return false;
        }
        zip_set_file_compression(zip, index, deflate ? ZIP_CM_DEFLATE : ZIP_CM_STORE, 0);
    }
    return zip_close(zip) == 0;
}

// Makes every entry of a zip claim the given unpacked size, in its local and central headers
// alike, so that the archive stays consistent.
bool ClaimSize(const QString& path, quint32 size)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite)) {
        return false;
    }
    QByteArray bytes = file.readAll();
    int patched = 0;
    for (qsizetype at = 0; (at = bytes.indexOf("PK", at)) >= 0; at += 2) {
        const QByteArray signature = bytes.mid(at, 4);
        const qsizetype offset = signature == "PK\x03\x04"   ? 22
                                 : signature == "PK\x01\x02" ? 24
                                                             : -1;
        if (offset < 0) {
            continue;
        }
        qToLittleEndian<quint32>(size, bytes.data() + at + offset);
        ++patched;
    }
    file.seek(0);
    return patched > 0 && patched % 2 == 0 && file.write(bytes) == bytes.size();
}

QByteArray ReadFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class TransportFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        store = std::make_unique<CartStore>(home.File("store"));
        const QString wav = home.File("500 Promo.wav");
        ASSERT_TRUE(AudioFixtures::WriteSineWav(wav, 2.0, 44100, 2, 0.4));
        bool f1 = false, f2 = true;
        ASSERT_TRUE(store->ImportAudioFile(nullptr, "500", wav, 0x24, -1, f1, 0, -1, f2));
        wavBytes = ReadFile(store->GetCart("500", 3, false)->AudioFilePath);
    }

    bool ImportZip(const QString& cart, const QString& zip)
    {
        QString text;
        bool flag = true;
        return store->ImportTransportFile(nullptr, cart, zip, -1, nullptr, 0, text, -1, flag);
    }

    TempHome home;
    std::unique_ptr<CartStore> store;
    QByteArray wavBytes;
};

} // namespace

TEST_F(TransportFileTest, ExportedCartComesBackWithItsAudioAndFields)
{
    Cart cart = *store->GetCart("500", 3, false);
    cart.Title = "Promo = \"Summer\"";
    cart.Artist = "Voice";
    cart.Description = "two\nlines with a \\ backslash";
    cart.StartPoint = 0.25f;
    cart.IntroEnd = 1.5f;
    cart.Extro = 1.75f;
    bool flag = true;
    ASSERT_EQ(store->SaveCart("500", cart, 3, false, false, flag), 0);

    const QString zip = home.File("500.zip");
    ASSERT_TRUE(store->ExportCart(nullptr, "500", zip, nullptr, 0, "", true, false))
        << store->LastError().toStdString();

    // Into an empty cart and over a cart with other fields: the transport's fields win.
    const QString other = home.File("other.wav");
    ASSERT_TRUE(AudioFixtures::WriteSineWav(other, 1.0));
    bool f1 = false, f2 = true;
    ASSERT_TRUE(store->ImportAudioFile(nullptr, "601", other, 0x24, -1, f1, 0, -1, f2));
    for (const char* target : {"600", "601"}) {
        SCOPED_TRACE(target);
        ASSERT_TRUE(ImportZip(target, zip)) << store->LastError().toStdString();
        const Cart back = *store->GetCart(target, 0xFFFF, false);
        EXPECT_EQ(back.Title, cart.Title);
        EXPECT_EQ(back.Artist, "Voice");
        EXPECT_EQ(back.Description, cart.Description);
        EXPECT_FLOAT_EQ(back.Length, cart.Length);
        EXPECT_FLOAT_EQ(back.StartPoint, 0.25f);
        EXPECT_FLOAT_EQ(back.IntroEnd, 1.5f);
        EXPECT_FLOAT_EQ(back.Extro, 1.75f);
        EXPECT_EQ(back.SourceFile, zip);
        EXPECT_EQ(ReadFile(back.AudioFilePath), wavBytes);
    }
    // Nothing unpacked is left behind.
    EXPECT_EQ(QDir(store->AudioFolder())
                  .entryList(QDir::Files | QDir::Hidden)
                  .filter(QRegularExpression("^[^.]")),
              (QStringList{"00500.wav", "00600.wav", "00601.wav"}));
    EXPECT_FALSE(
        store->ExportCart(nullptr, "700", home.File("empty.zip"), nullptr, 0, "", true, false));
}

// Markers that are no numbers of the audio are a damaged file: refused, no cart touched. The
// audio lasts 2 s; an optional marker may say -1, none; the length rounded up a little (within
// 0.001 s) is the end of the audio.
TEST_F(TransportFileTest, MarkersOutsideTheAudioAreRefused)
{
    const char* const refused[] = {"StartPoint=1e308", "OutPoint=nan",  "IntroStart=-inf",
                                   "Extro=2.5",        "StartPoint=-1", "IntroEnd=-0.5",
                                   "OutPoint=1e999",   "StartPoint=x",  "OutPoint=2.002"};
    for (const char* field : refused) {
        SCOPED_TRACE(field);
        const QString zip = home.File("0501 Odd.zip");
        ASSERT_TRUE(MakeZip(zip, {{"odd.wav", wavBytes}, {"cart.txt", field}}));
        EXPECT_FALSE(ImportZip("500", zip));
        EXPECT_FALSE(ImportZip("501", zip));
        EXPECT_TRUE(store->LastError().contains(QString(field) + " lies outside the audio"))
            << store->LastError().toStdString();
    }
    EXPECT_FALSE(store->GetCart("501", 3, false)->HasAudio);
    EXPECT_FLOAT_EQ(store->GetCart("500", 3, false)->StartPoint, 0.0f);

    const QString zip = home.File("0501 Fine.zip");
    ASSERT_TRUE(MakeZip(
        zip, {{"fine.wav", wavBytes},
              {"cart.txt", "StartPoint=0\nOutPoint=2.0009\nIntroStart=-1\nIntroEnd=\nExtro=1.5"}}));
    ASSERT_TRUE(ImportZip("501", zip)) << store->LastError().toStdString();
    const Cart cart = *store->GetCart("501", 0xFFFF, false);
    EXPECT_FLOAT_EQ(cart.OutPoint, 2.0f);
    EXPECT_FLOAT_EQ(cart.IntroStart, -1.0f);
    EXPECT_FLOAT_EQ(cart.Extro, 1.5f);
}

TEST_F(TransportFileTest, AZipWithoutFieldsTakesItsTitleFromTheFileName)
{
    const QString zip = home.File("0042 Traffic Bed.zip");
    ASSERT_TRUE(MakeZip(zip, {{"bed.wav", wavBytes}}));
    ASSERT_TRUE(ImportZip("42", zip)) << store->LastError().toStdString();
    EXPECT_EQ(store->GetCart("42", 3, false)->Title, "Traffic Bed");
}

TEST_F(TransportFileTest, UnsafeOrOversizedArchivesAreRefused)
{
    const QList<QPair<QByteArray, QByteArray>> unsafe[] = {
        {{"../escape.wav", wavBytes}},
        {{"sub/../../escape.wav", wavBytes}},
        {{"/etc/escape.wav", wavBytes}},
        {{"C:\\escape.wav", wavBytes}},
        {{"ok.wav", wavBytes}, {"..\\cart.txt", "Title=x"}},
    };
    int n = 0;
    for (const auto& entries : unsafe) {
        const QString zip = home.File(QString("unsafe%1.zip").arg(++n));
        ASSERT_TRUE(MakeZip(zip, entries));
        EXPECT_FALSE(ImportZip("500", zip)) << entries.first().first.toStdString();
        EXPECT_TRUE(store->LastError().contains("unsafe")) << store->LastError().toStdString();
    }
    // Two entries that claim nearly 4 GiB each, in a file of a few hundred bytes: refused
    // before a byte is unpacked.
    const QString bomb = home.File("bomb.zip");
    ASSERT_TRUE(MakeZip(bomb, {{"big.wav", QByteArray(4096, '\0')}, {"notes.txt", "x"}}, true));
    ASSERT_TRUE(ClaimSize(bomb, 0xFFFFFFF0u));
    EXPECT_FALSE(ImportZip("500", bomb));
    EXPECT_TRUE(store->LastError().contains("too much")) << store->LastError().toStdString();
    EXPECT_EQ(ReadFile(store->GetCart("500", 3, false)->AudioFilePath), wavBytes);
    EXPECT_EQ(QDir(store->AudioFolder())
                  .entryList(QDir::Files | QDir::Hidden)
                  .filter(QRegularExpression("^[^.]")),
              QStringList{"00500.wav"});

    // An audio entry that unpacks to more than it declares is refused before more than it
    // declared is written: the file size limit would refuse the rest.
    const QString liar = home.File("liar.zip");
    ASSERT_TRUE(MakeZip(liar, {{"liar.wav", QByteArray(4 << 20, '\0')}}, true));
    ASSERT_TRUE(ClaimSize(liar, 1000));
    ASSERT_TRUE(QDir().mkpath(home.File("unpack")));
    {
        const FileSizeLimit limit(64 * 1024);
        ASSERT_TRUE(limit.Ok());
        QString audio;
        TransportFile::Fields fields;
        bool targetFault = true;
        const Result<> read =
            TransportFile::Read(liar, home.File("unpack"), audio, fields, {}, &targetFault);
        EXPECT_EQ(read.Reason(), liar + " is damaged: an entry is larger than it claims");
        EXPECT_FALSE(targetFault);
    }

    // A fields entry beyond its cap is no cart's, however well it deflates.
    const QString bulky = home.File("bulky.zip");
    ASSERT_TRUE(MakeZip(bulky,
                        {{"ok.wav", wavBytes},
                         {"cart.txt", "Title=" + QByteArray(TransportFile::MaxFieldsBytes, 'x')}},
                        true));
    EXPECT_FALSE(ImportZip("500", bulky));
    EXPECT_TRUE(store->LastError().endsWith("the fields file is too large"))
        << store->LastError().toStdString();

    for (const char* name : {"a.wav", "dir/a.wav", "a..b.wav", "..a.wav"}) {
        EXPECT_TRUE(TransportFile::IsSafeEntryName(name)) << name;
    }
}

TEST_F(TransportFileTest, DamagedArchivesFailWithoutHarm)
{
    const QString zip = home.File("good.zip");
    ASSERT_TRUE(store->ExportCart(nullptr, "500", zip, nullptr, 0, "", true, false));
    const QByteArray good = ReadFile(zip);

    const QString truncated = home.File("truncated.zip");
    QFile t(truncated);
    ASSERT_TRUE(t.open(QIODevice::WriteOnly));
    t.write(good.left(good.size() / 2));
    t.close();

    // Flip audio bytes inside the stored entry: the CRC no longer matches.
    QByteArray flipped = good;
    for (int i = 2000; i < 2100; ++i) {
        flipped[i] = char(flipped[i] ^ 0x5A);
    }
    const QString corrupt = home.File("corrupt.zip");
    QFile c(corrupt);
    ASSERT_TRUE(c.open(QIODevice::WriteOnly));
    c.write(flipped);
    c.close();

    const QString notZip = home.File("text.zip");
    QFile x(notZip);
    ASSERT_TRUE(x.open(QIODevice::WriteOnly));
    x.write("PK\x03\x04 not really");
    x.close();

    for (const QString& bad : {truncated, corrupt, notZip, home.File("missing.zip")}) {
        EXPECT_FALSE(ImportZip("500", bad)) << bad.toStdString();
        EXPECT_FALSE(ImportZip("501", bad)) << bad.toStdString();
    }
    EXPECT_EQ(ReadFile(store->GetCart("500", 3, false)->AudioFilePath), wavBytes);
    EXPECT_FALSE(store->GetCart("501", 3, false)->HasAudio);
    EXPECT_EQ(QDir(store->AudioFolder())
                  .entryList(QDir::Files | QDir::Hidden)
                  .filter(QRegularExpression("^[^.]")),
              QStringList{"00500.wav"});
}

// A store without room for the audio is the store's fault: raised, the archive or audio left
// alone, nothing written into the audio folder. A small file system stands for a nearly full disk;
// one whose free blocks are kept for root is full for the program too.
TEST_F(TransportFileTest, AStoreWithoutRoomForTheAudioFailsAsTheStore)
{
    REQUIRE_FFMPEG();
    const QString big = home.File("big.wav");
    ASSERT_TRUE(AudioFixtures::WriteSineWav(big, 10.0, 44100, 2, 0.4));
    const QString zip = home.File("0007 Big.zip");
    ASSERT_TRUE(MakeZip(zip, {{"big.wav", ReadFile(big)}, {"cart.txt", "Title=Big"}}));
    const QByteArray before = ReadFile(zip);
    const auto rootsOnly = [&](const QString& at) {
        const QString image = home.File("reserved.img");
        QFile file(image);
        if (!file.open(QIODevice::WriteOnly) || !file.resize(12 << 20) ||
            QProcess::execute("mkfs.ext2", {"-q", "-m", "50", "-F", image}) != 0 ||
            QProcess::execute("mount", {"-o", "loop", image, at}) != 0) {
            return false;
        }
        // All but 100 KiB of what others may use is taken; root still has megabytes.
        struct statvfs st
        {
        };
        QFile filler(at + "/filler");
        return ::statvfs(QFile::encodeName(at).constData(), &st) == 0 &&
               filler.open(QIODevice::WriteOnly) &&
               filler.write(QByteArray(qint64(st.f_bavail * st.f_frsize) - (100 << 10), 1)) > 0 &&
               filler.flush() && ::fsync(filler.handle()) == 0 &&
               ::statvfs(QFile::encodeName(at).constData(), &st) == 0 &&
               qint64(st.f_bfree * st.f_frsize) > 3 * ReadFile(big).size();
    };
    const auto tmpfs = [](const QString& at) {
        return ::mount("tmpfs", QFile::encodeName(at).constData(), "tmpfs", 0, "size=1m") == 0;
    };
    for (const auto& [name, mountSmall] :
         {std::pair<const char*, std::function<bool(const QString&)>>{"small", tmpfs},
          {"reserved", rootsOnly}}) {
        SCOPED_TRACE(name);
        const QString small = home.File(name);
        ASSERT_TRUE(QDir().mkpath(small));
        struct Unmount
        {
            QByteArray at;
            ~Unmount() { ::umount2(at.constData(), MNT_DETACH); }
        } unmount{QFile::encodeName(small)};
        if (!mountSmall(small)) {
            SKIP_OUTSIDE_CI("cannot mount a small file system here");
        }
        CartStore full(small + "/store");
        QString text;
        bool flag = true;
        try {
            full.ImportTransportFile(nullptr, "7", zip, -1, nullptr, 0, text, -1, flag);
            ADD_FAILURE() << "not raised: " << full.LastError().toStdString();
        } catch (const ToolError& error) {
            EXPECT_EQ(error.Number(), PlayoutAudio::StoreWriteFailed);
            EXPECT_TRUE(error.Description().contains("bytes free in " + full.AudioFolder()))
                << error.Description().toStdString();
        }
        EXPECT_EQ(QDir(full.AudioFolder()).entryList(QDir::Files | QDir::Hidden),
                  QStringList{CartStore::MarkerName});

        // Audio too: the length measured before the import tells the room it needs, before
        // anything is decoded (a decode would break off with the disk's own error instead).
        const QString mp3 = home.File("0008 Big.mp3");
        ASSERT_TRUE(AudioFixtures::Encode(big, mp3));
        AudioDecoder measured;
        measured.OpenFile(mp3);
        for (const QString& audio : {big, mp3}) {
            SCOPED_TRACE(audio.toStdString());
            bool f1 = false, f2 = true;
            try {
                full.ImportAudioFile(nullptr, "8", audio, 0x24, -1, f1, 0, -1, f2);
                ADD_FAILURE() << "not raised: " << full.LastError().toStdString();
            } catch (const ToolError& error) {
                EXPECT_EQ(error.Number(), PlayoutAudio::StoreWriteFailed);
                EXPECT_TRUE(
                    error.Description().contains("not enough free space in " + full.AudioFolder()))
                    << error.Description().toStdString();
            }
        }
    }
    EXPECT_EQ(ReadFile(zip), before);
}

// Quiet audio deflates to almost nothing; only the unpacked size itself can be too much.
TEST_F(TransportFileTest, ADeflatedArchiveOfSilenceImports)
{
    const QString silence = home.File("silence.wav");
    ASSERT_TRUE(AudioFixtures::WriteSineWav(silence, 20.0, 44100, 2, 0.0));
    const QString zip = home.File("0043 Silence.zip");
    ASSERT_TRUE(
        MakeZip(zip, {{"silence.wav", ReadFile(silence)}, {"cart.txt", "Title=Quiet"}}, true));
    ASSERT_LT(QFileInfo(zip).size() * 100, QFileInfo(silence).size());

    ASSERT_TRUE(ImportZip("43", zip)) << store->LastError().toStdString();
    const Cart cart = *store->GetCart("43", 3, false);
    EXPECT_EQ(cart.Title, "Quiet");
    EXPECT_FLOAT_EQ(cart.Length, 20.0f);
}

// A failed read gives its reason and names no unpacked file; a stopped one says so.
TEST_F(TransportFileTest, ReadAndWriteSayWhyTheyFailed)
{
    const QString unpack = home.File("unpack");
    ASSERT_TRUE(QDir().mkpath(unpack));
    QString audio = "stale";
    TransportFile::Fields fields = {{"Title", "stale"}};

    const QString fieldsOnly = home.File("fields.zip");
    ASSERT_TRUE(MakeZip(fieldsOnly, {{"cart.txt", "Title=x\n"}}));
    const Result<> noAudio = TransportFile::Read(fieldsOnly, unpack, audio, fields, {});
    EXPECT_FALSE(noAudio);
    EXPECT_EQ(noAudio.Reason(), fieldsOnly + " holds no audio file");
    EXPECT_TRUE(audio.isEmpty());
    EXPECT_TRUE(fields.isEmpty());

    const QString good = home.File("good.zip");
    const QString wav = store->GetCart("500", 3, false)->AudioFilePath;
    const Result<> written = TransportFile::Write(good, wav, "500.wav", {{"Title", "Promo"}}, {});
    ASSERT_TRUE(written) << written.Reason().toStdString();
    EXPECT_TRUE(written.Reason().isEmpty());

    const Result<> stopped =
        TransportFile::Read(good, unpack, audio, fields, [](double) { return false; });
    EXPECT_FALSE(stopped);
    EXPECT_EQ(stopped.Reason(), "stopped");
    EXPECT_TRUE(audio.isEmpty());
    EXPECT_TRUE(QDir(unpack).isEmpty());

    const Result<> read = TransportFile::Read(good, unpack, audio, fields, {});
    ASSERT_TRUE(read) << read.Reason().toStdString();
    EXPECT_EQ(ReadFile(audio), wavBytes);
    EXPECT_EQ(fields, (TransportFile::Fields{{"Title", "Promo"}}));

    // libzip writes beside the target at close time.
    const QString nowhere = home.File("no/such/folder/x.zip");
    const Result<> unwritable = TransportFile::Write(nowhere, wav, "500.wav", {}, {});
    EXPECT_FALSE(unwritable);
    EXPECT_TRUE(unwritable.Reason().startsWith("cannot write " + nowhere + ": "))
        << unwritable.Reason().toStdString();
}
