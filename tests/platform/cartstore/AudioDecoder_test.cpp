#include "platform/cartstore/AudioDecoder.h"
#include "platform/cartstore/CartStore.h"
#include "platform/system/ToolError.h"
#include "tests/support/AudioFixtures.h"
#include "tests/support/BreathRecorder.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/TempHome.h"
#include "tests/support/WithoutFileOverride.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QtEndian>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class AudioDecoderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        AudioDecoder::setCacheFolder(home.File("cache"));
        source = home.File("source.wav");
        ASSERT_TRUE(AudioFixtures::WriteSineWav(source, 2.5, 44100, 2, 0.5));
    }
    void TearDown() override { AudioDecoder::setCacheFolder({}); }

    double Duration(const QString& path)
    {
        AudioDecoder decoder;
        decoder.setWMAMode(path.endsWith(".wma"));
        decoder.OpenFile(path, 0, 1);
        const double ms = decoder.DurationMs();
        decoder.CloseFile();
        return ms;
    }

    TempHome home;
    QString source;
};

} // namespace

// The import decision compares these two numbers; a difference would re-import a file forever.
TEST_F(AudioDecoderTest, DecodedLengthEqualsTheLengthTheStoreKeepsForEveryType)
{
    REQUIRE_FFMPEG();
    CartStore store(home.File("store"));
    int cart = 100;
    for (const QString ext : {"wav", "mp3", "ogg", "wma", "mp2"}) {
        SCOPED_TRACE(ext.toStdString());
        const QString file = home.File("clip." + ext);
        if (ext == "wav") {
            ASSERT_TRUE(QFile::copy(source, file));
        } else {
            ASSERT_TRUE(AudioFixtures::Encode(source, file));
        }
        const double decoded = Duration(file) / 1000.0;
        // Encoders pad to whole frames; the decoded length must stay near the true 2.5 s.
        EXPECT_NEAR(decoded, 2.5, 0.1);

        bool f1 = false, f2 = true;
        ASSERT_TRUE(
            store.ImportAudioFile(nullptr, QString::number(++cart), file, 0x24, -1, f1, 0, -1, f2))
            << store.LastError().toStdString();
        const auto stored = store.GetCart(QString::number(cart), 3, false);
        ASSERT_TRUE(stored);
        EXPECT_NEAR(stored->Length, decoded, 0.01);
        // And the stored WAV decodes to the same length again.
        EXPECT_NEAR(Duration(stored->AudioFilePath) / 1000.0, decoded, 0.01);
    }
}

TEST_F(AudioDecoderTest, Mp3LengthCountsSamplesNotTheContainersClaim)
{
    REQUIRE_FFMPEG();
    const QString mp3 = home.File("long.mp3");
    ASSERT_TRUE(AudioFixtures::Encode(source, mp3));
    const double full = Duration(mp3);
    // Cut the file in half: the Xing header still claims the full length.
    QFile f(mp3);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.resize(f.size() / 2));
    f.close();
    const double truncated = Duration(mp3);
    EXPECT_LT(truncated, full * 0.6);
    EXPECT_GT(truncated, full * 0.4);
}

// Without a decode the cache cannot know that the content changed: a file whose content is
// destroyed while size, modification time and inode stay the same still gives its old length.
TEST_F(AudioDecoderTest, CacheAnswersForAnUnchangedFileAndMeasuresAgainAfterAChange)
{
    const QString wav = home.File("cached.wav");
    ASSERT_TRUE(QFile::copy(source, wav));
    const double first = Duration(wav);
    EXPECT_NEAR(first, 2500.0, 0.1);
    EXPECT_TRUE(QFile::exists(home.File("cache/audiolengths.db")));

    struct stat before
    {
    };
    ASSERT_EQ(::stat(QFile::encodeName(wav).constData(), &before), 0);
    {
        QFile f(wav);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        f.write(QByteArray(f.size(), 'x'));
    }
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(wav).constData(), times, 0), 0);
    EXPECT_EQ(Duration(wav), first);

    // One nanosecond later is a change.
    timespec later[2] = {before.st_atim, before.st_mtim};
    later[1].tv_nsec = (later[1].tv_nsec + 1) % 1000000000;
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(wav).constData(), later, 0), 0);
    EXPECT_THROW(Duration(wav), ToolError);

    // A new file under the same name (new inode) is measured afresh, too.
    ASSERT_TRUE(QFile::remove(wav));
    ASSERT_TRUE(AudioFixtures::WriteSineWav(wav, 1.0));
    EXPECT_NEAR(Duration(wav), 1000.0, 0.1);

    // A cache that takes no write (its disk full) still keeps what this run measured: a check
    // would otherwise decode every compressed file again at every pass.
    const QString uncached = home.File("uncached.wav");
    ASSERT_TRUE(QFile::copy(source, uncached));
    double measured = -1;
    {
        const FileSizeLimit full(1);
        ASSERT_TRUE(full.Ok());
        measured = Duration(uncached);
    }
    ASSERT_EQ(::stat(QFile::encodeName(uncached).constData(), &before), 0);
    {
        QFile f(uncached);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        f.write(QByteArray(f.size(), 'x'));
    }
    const timespec kept[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(uncached).constData(), kept, 0), 0);
    double again = -1;
    EXPECT_NO_THROW(again = Duration(uncached));
    EXPECT_NEAR(again, 2500.0, 0.1);
    EXPECT_EQ(again, measured);
}

TEST_F(AudioDecoderTest, MissingAndDamagedFilesRaiseErrors)
{
    try {
        Duration(home.File("missing.mp3"));
        FAIL() << "no error for a missing file";
    } catch (const ToolError& e) {
        EXPECT_EQ(e.Number(), 53);
    }
    const QString junk = home.File("junk.mp3");
    QFile f(junk);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray("this is no audio at all\n").repeated(200));
    f.close();
    try {
        Duration(junk);
        FAIL() << "no error for a file of text";
    } catch (const ToolError& e) {
        // The decoder's own reason follows; an empty one would leave the operator guessing.
        const QString prefix = QString("Cannot decode %1: ").arg(junk);
        EXPECT_TRUE(e.Description().startsWith(prefix)) << e.Description().toStdString();
        EXPECT_GT(e.Description().size(), prefix.size()) << e.Description().toStdString();
    }
}

// A large file of no audio takes seconds to probe: the verdict is kept like a length, for the
// same size, modification time and inode, and a changed file is examined again.
TEST_F(AudioDecoderTest, AFileThatHoldsNoAudioIsRememberedUntilItChanges)
{
    const QString file = home.File("junk.wav");
    const qint64 size = QFileInfo(source).size();
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(size, '\0'));
    }
    EXPECT_THROW(Duration(file), ToolError);

    // Real audio behind the same size, time and inode: the remembered verdict still answers.
    struct stat before
    {
    };
    ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &before), 0);
    {
        QFile in(source);
        QFile out(file);
        ASSERT_TRUE(in.open(QIODevice::ReadOnly));
        ASSERT_TRUE(out.open(QIODevice::ReadWrite));
        out.write(in.readAll());
    }
    const timespec same[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(file).constData(), same, 0), 0);
    try {
        Duration(file);
        FAIL() << "the earlier verdict was not remembered";
    } catch (const ToolError& e) {
        EXPECT_EQ(e.Number(), 321);
    }

    timespec later[2] = {before.st_atim, before.st_mtim};
    later[1].tv_sec += 1;
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(file).constData(), later, 0), 0);
    EXPECT_NEAR(Duration(file), 2500.0, 0.1);
}

// A WAV whose header declares more than the copy holds broke off: it is not measured (nor
// imported) as the part that arrived, and says why, also from the cache; so are the float and
// extensible ones ffmpeg and most editors write, under every header the decoder takes for a WAV.
// A streaming size is no such promise.
TEST_F(AudioDecoderTest, AWavCutShortCannotBeMeasuredAndSaysWhy)
{
    REQUIRE_FFMPEG();
    const QString whole = home.File("whole.wav");
    ASSERT_TRUE(AudioFixtures::WriteSineWav(whole, 20.0, 8000, 1, 0.5));
    CartStore store(home.File("store"));
    const QString why = "incomplete: declares 20.0 s, holds 6.7 s";
    struct Row
    {
        const char* codec; // written by ffmpeg unless empty
        int bytesPerSample;
        quint16 tag;
        QByteArray form; // RF64 and W64 as ffmpeg writes them; BW64 and RIFX made from them
    };
    for (const Row& row : {Row{"", 2, 1, "RIFF"}, Row{"pcm_f32le", 4, 3, "RIFF"},
                           Row{"pcm_s24le", 3, 0xFFFE, "RIFF"}, Row{"pcm_f32le", 4, 0xFFFE, "RIFF"},
                           Row{"pcm_s16le", 2, 1, "RF64"}, Row{"pcm_f32le", 4, 0xFFFE, "BW64"},
                           Row{"", 2, 1, "RIFX"}, Row{"pcm_s24le", 3, 0xFFFE, "W64"}}) {
        SCOPED_TRACE(
            QString("%1 tag %2 %3").arg(row.codec).arg(row.tag).arg(row.form).toStdString());
        const QString cut =
            home.File(QString("1234 Cut %1 %2 %3.wav").arg(row.codec).arg(row.tag).arg(row.form));
        QStringList args{"-c:a", row.codec};
        if (row.form.endsWith("64")) {
            args << (row.form == "W64" ? QStringList{"-f", "w64"} : QStringList{"-rf64", "always"});
        }
        ASSERT_TRUE(*row.codec ? AudioFixtures::Encode(whole, cut, args) : QFile::copy(whole, cut));
        QFile f(cut);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        QByteArray bytes = f.readAll();
        // Wave64 chunks begin with a GUID and a 64-bit size.
        const int header = row.form == "W64" ? 24 : 8;
        const qsizetype fmt = bytes.indexOf("fmt ") + header;
        // ffmpeg writes these as extensible; plain float is the same record with tag 3.
        if (row.tag == 3) {
            qToLittleEndian<quint16>(3, bytes.data() + fmt);
        }
        ASSERT_EQ(qFromLittleEndian<quint16>(bytes.constData() + fmt), row.tag);
        if (row.form != "W64") {
            bytes.replace(0, 4, row.form);
        }
        // The big-endian header: its sizes and record turned round, the samples left as noise.
        for (const int at : row.form == "RIFX" ? QList<int>{4, 16, 24, 28, 40} : QList<int>{}) {
            qToBigEndian(qFromLittleEndian<quint32>(bytes.constData() + at), bytes.data() + at);
        }
        for (const int at : row.form == "RIFX" ? QList<int>{20, 22, 32, 34} : QList<int>{}) {
            qToBigEndian(qFromLittleEndian<quint16>(bytes.constData() + at), bytes.data() + at);
        }
        const qsizetype data = bytes.indexOf("data") + header;
        bytes.truncate(data + 8000 * row.bytesPerSample * 67 / 10);
        ASSERT_TRUE(f.seek(0) && f.write(bytes) == bytes.size() && f.resize(bytes.size()));
        f.close();
        for (int look = 1; look <= 2; ++look) {
            SCOPED_TRACE(look);
            try {
                Duration(cut);
                ADD_FAILURE() << "measured";
            } catch (const ToolError& e) {
                EXPECT_EQ(e.Number(), 321);
                EXPECT_EQ(e.Description(), "Cannot decode " + cut + ": " + why)
                    << e.Description().toStdString();
            }
        }
        bool f1 = false, f2 = true;
        EXPECT_FALSE(store.ImportAudioFile(nullptr, "1234", cut, 0x24, -1, f1, 0, -1, f2));
        EXPECT_TRUE(store.LastError().endsWith(why)) << store.LastError().toStdString();
    }

    const QString streaming = home.File("streaming.wav");
    ASSERT_TRUE(QFile::copy(home.File("1234 Cut  1 RIFF.wav"), streaming));
    {
        QFile f(streaming);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        f.seek(40);
        f.write("\xFF\xFF\xFF\xFF", 4);
    }
    EXPECT_NEAR(Duration(streaming), 6700.0, 0.2);
    // Nor is a whole file whose sizes are 64-bit.
    for (const QStringList& args : {QStringList{"-rf64", "always"}, QStringList{"-f", "w64"}}) {
        const QString wide = home.File("wide " + args.last() + ".wav");
        ASSERT_TRUE(AudioFixtures::Encode(whole, wide, args));
        EXPECT_NEAR(Duration(wide), 20000.0, 0.2);
    }
}

// A file that cannot be reached says nothing about its content and is not remembered.
TEST_F(AudioDecoderTest, AFileThatCannotBeReadIsTriedAgain)
{
    const QString file = home.File("locked.wav");
    ASSERT_TRUE(QFile::copy(source, file));
    ASSERT_EQ(::chmod(QFile::encodeName(file).constData(), 0), 0);
    {
        const WithoutFileOverride asAnyAccount;
        ASSERT_TRUE(asAnyAccount.Ok());
        ASSERT_FALSE(QFile(file).open(QIODevice::ReadOnly));
        EXPECT_THROW(Duration(file), ToolError);
    }
    ASSERT_EQ(::chmod(QFile::encodeName(file).constData(), 0644), 0);
    EXPECT_NEAR(Duration(file), 2500.0, 0.1);
}

// 45 bytes declaring over a billion samples a second: refused, never decoded into a header
// whose byte rate overflows.
TEST_F(AudioDecoderTest, FormatsNoAudioUsesAreRefused)
{
    const QString file = home.File("odd.wav");
    ASSERT_TRUE(AudioFixtures::WriteSineWav(file, 0.0, 8000, 1));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    QByteArray bytes = f.readAll() + '\x01';
    qToLittleEndian<quint32>(37, bytes.data() + 4);
    qToLittleEndian<quint32>(1077805184, bytes.data() + 24);
    qToLittleEndian<quint32>(1, bytes.data() + 28);
    qToLittleEndian<quint32>(1, bytes.data() + 40);
    f.seek(0);
    f.write(bytes);
    f.close();
    ASSERT_EQ(QFileInfo(file).size(), 45);
    try {
        Duration(file);
        FAIL() << "no error for an absurd format";
    } catch (const ToolError& e) {
        EXPECT_TRUE(e.Description().contains("declares 1077805184 Hz and 1 channels"))
            << e.Description().toStdString();
    }

    CartStore store(home.File("store"));
    bool f1 = false, f2 = true;
    EXPECT_FALSE(store.ImportAudioFile(nullptr, "100", file, 0x24, -1, f1, 0, -1, f2));
    EXPECT_TRUE(store.LastError().contains("declares 1077805184 Hz and 1 channels"))
        << store.LastError().toStdString();
    EXPECT_FALSE(store.GetCart("100", 3, false)->HasAudio);
}

// Measuring a long file keeps the window alive and ends as soon as the program closes. A file
// of zeros named .mp3 keeps FFmpeg searching for a frame that never comes, without a packet.
TEST_F(AudioDecoderTest, MeasuringBreathesAndStopsForAClosingProgram)
{
    const QString zeros = home.File("zeros.mp3");
    {
        QFile f(zeros);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.resize(qint64(400) << 20));
    }
    const QString silence = home.File("silence.wav");
    ASSERT_TRUE(AudioFixtures::WriteLongSilentWav(silence, qint64(3) << 30));
    for (const QString& file : {zeros, silence}) {
        SCOPED_TRACE(file.toStdString());
        BreathRecorder window(BreathRecorder::AtBreath{10});
        qint32 error = 0;
        {
            const LongWork::Scope scope(window.Handler());
            try {
                Duration(file);
            } catch (const ToolError& e) {
                error = e.Number();
            }
        }
        EXPECT_EQ(error, LongWork::StoppedError);
        ASSERT_GE(window.StoppedAtMs, 0);
        EXPECT_LT(window.ElapsedMs() - window.StoppedAtMs, 500);
        EXPECT_EQ(window.Breaths, 10);
        EXPECT_LT(window.LongestGapMs, 250);
    }

    // Stopped at any point, a measurement never passes off the part it read as the length
    // (FFmpeg's interrupted read looks like the end of the file).
    const QString medium = home.File("medium.wav");
    ASSERT_TRUE(AudioFixtures::WriteLongSilentWav(medium, qint64(400) << 20));
    for (int run = 0; run < 30; ++run) {
        int calls = 0;
        const LongWork::Scope scope([&] { return ++calls < 2; });
        EXPECT_THROW(Duration(medium), ToolError) << run;
    }

    // Cut short, a good file is not taken for a bad one: measured in full next time.
    const QString shortSilence = home.File("short.wav");
    ASSERT_TRUE(AudioFixtures::WriteLongSilentWav(shortSilence, 17'640'000)); // 100 s
    {
        const LongWork::Scope scope([] { return false; });
        EXPECT_THROW(Duration(shortSilence), ToolError);
    }
    EXPECT_NEAR(Duration(shortSilence), 100000.0, 0.5);
}
