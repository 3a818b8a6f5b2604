#include "framework/AudioFileHelpers.h"
#include "platform/cartstore/RiffReader.h"
#include "tests/support/TempHome.h"

#include <QBuffer>
#include <QFile>
#include <QRandomGenerator>
#include <QtEndian>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray Le32(quint32 value)
{
    char bytes[4];
    qToLittleEndian(value, bytes);
    return QByteArray(bytes, 4);
}

QByteArray Le16(quint16 value)
{
    char bytes[2];
    qToLittleEndian(value, bytes);
    return QByteArray(bytes, 2);
}

QByteArray Chunk(const char* id, const QByteArray& payload, qint64 claimedSize = -1)
{
    QByteArray bytes =
        QByteArray(id, 4) + Le32(quint32(claimedSize < 0 ? payload.size() : claimedSize)) + payload;
    if (payload.size() % 2 == 1) {
        bytes.append('\0');
    }
    return bytes;
}

QByteArray Wave(const QByteArray& body)
{
    return Chunk("RIFF", "WAVE" + body);
}

// 16-bit stereo PCM at 44.1 kHz: 176,400 bytes a second.
QByteArray PcmFormat(quint32 averageBytes = 176400)
{
    return Le16(1) + Le16(2) + Le32(44100) + Le32(averageBytes) + Le16(4) + Le16(16);
}

// Sub-format PCM, or another GUID.
QByteArray ExtensibleFormat(bool pcm = true)
{
    const QByteArray guid =
        pcm ? QByteArray::fromHex("0100000000001000800000aa00389b71") : QByteArray(16, '\x11');
    return Le16(0xFFFE) + Le16(2) + Le32(44100) + Le32(176400) + Le16(4) + Le16(16) + Le16(22) +
           Le16(16) + Le32(3) + guid;
}

class AudioFileHelpersTest : public ::testing::Test
{
protected:
    QString Write(const QString& name, const QByteArray& bytes)
    {
        const QString path = home.File(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    }

    TempHome home;
};

} // namespace

TEST_F(AudioFileHelpersTest, OrdinaryExtensibleAndDataFirstHeaders)
{
    const QByteArray twoSeconds(352800, '\0');
    WAVEFORMATEX format;
    qint32 dataSize = -5;

    const QString plain =
        Write("plain.wav", Wave(Chunk("fmt ", PcmFormat()) + Chunk("data", twoSeconds)));
    EXPECT_EQ(ReadWaveInfo(plain, format, dataSize), 0);
    EXPECT_EQ(format.wFormatTag, 1);
    EXPECT_EQ(format.nChannels, 2);
    EXPECT_EQ(format.nSamplesPerSec, 44100u);
    EXPECT_EQ(format.nAvgBytesPerSec, 176400u);
    EXPECT_EQ(format.wBitsPerSample, 16);
    EXPECT_EQ(dataSize, 352800);
    EXPECT_FLOAT_EQ(GetWaveDuration(plain), 2.0f);

    // Only the first 18 bytes of a longer "fmt " chunk fill the record; the rest is skipped.
    const QString extensible =
        Write("ext.wav", Wave(Chunk("fmt ", ExtensibleFormat()) + Chunk("LIST", "INFOjunk") +
                              Chunk("data", twoSeconds)));
    EXPECT_EQ(ReadWaveInfo(extensible, format, dataSize), 0);
    EXPECT_EQ(format.wFormatTag, 0xFFFE);
    EXPECT_EQ(format.cbSize, 22);
    EXPECT_EQ(dataSize, 352800);
    EXPECT_FLOAT_EQ(GetWaveDuration(extensible), 2.0f);

    const QString dataFirst = Write(
        "first.wav", Wave(Chunk("data", twoSeconds.left(88200)) + Chunk("fmt ", PcmFormat())));
    EXPECT_EQ(ReadWaveInfo(dataFirst, format, dataSize), 0);
    EXPECT_EQ(dataSize, 88200);
    EXPECT_FLOAT_EQ(GetWaveDuration(dataFirst), 0.5f);

    // An odd-sized chunk before "data" is followed by a pad byte.
    const QString padded =
        Write("padded.wav", Wave(Chunk("fmt ", PcmFormat()) + Chunk("note", "odd") +
                                 Chunk("data", twoSeconds.left(176400))));
    EXPECT_EQ(ReadWaveInfo(padded, format, dataSize), 0);
    EXPECT_EQ(dataSize, 176400);
    EXPECT_FLOAT_EQ(GetWaveDuration(padded), 1.0f);

    // Broadcast chunks before the format or the audio, ending near or past the first 16 KB.
    for (const int junk : {16360, 16370, 40000}) {
        SCOPED_TRACE(junk);
        const QByteArray filler(junk, 'j');
        EXPECT_FLOAT_EQ(GetWaveDuration(Write("junk.wav", Wave(Chunk("JUNK", filler) +
                                                               Chunk("fmt ", PcmFormat()) +
                                                               Chunk("data", twoSeconds)))),
                        2.0f);
        EXPECT_FLOAT_EQ(GetWaveDuration(Write("bext.wav", Wave(Chunk("fmt ", PcmFormat()) +
                                                               Chunk("bext", filler) +
                                                               Chunk("data", twoSeconds)))),
                        2.0f);
    }
}

TEST_F(AudioFileHelpersTest, HeadersWithoutAudioGiveNoDuration)
{
    WAVEFORMATEX format;
    qint32 dataSize = -5;

    const QString noData = Write("nodata.wav", Wave(Chunk("fmt ", PcmFormat())));
    EXPECT_EQ(ReadWaveInfo(noData, format, dataSize), 0);
    EXPECT_EQ(dataSize, 0);
    EXPECT_EQ(GetWaveDuration(noData), 0.0f);

    const QString emptyFormat = Write(
        "emptyfmt.wav", Wave(Chunk("fmt ", QByteArray()) + Chunk("data", QByteArray(100, 1))));
    dataSize = -5;
    EXPECT_EQ(ReadWaveInfo(emptyFormat, format, dataSize), 0);
    EXPECT_EQ(dataSize, 0);
    EXPECT_EQ(GetWaveDuration(emptyFormat), 0.0f);

    // No byte rate: no division by zero; the decoder measures the 25 frames instead.
    const QString noRate =
        Write("norate.wav", Wave(Chunk("fmt ", PcmFormat(0)) + Chunk("data", QByteArray(100, 1))));
    EXPECT_EQ(ReadWaveInfo(noRate, format, dataSize), 0);
    EXPECT_EQ(dataSize, 100);
    EXPECT_NEAR(GetWaveDuration(noRate), 25.0 / 44100, 1e-6);
}

// The cart store records the decoded length; a header that would give another one must not be
// believed, or the import decision sees a changed file at every check.
TEST_F(AudioFileHelpersTest, HeadersThatMisstateTheAudioAreMeasuredByDecoding)
{
    const QByteArray oneSecond(176400, '\0');
    struct Case
    {
        const char* name;
        QByteArray bytes;
        float seconds;
    };
    const Case cases[] = {
        {"byte rate twice too high",
         Wave(Chunk("fmt ", PcmFormat(352800)) + Chunk("data", oneSecond)), 1.0f},
        {"streaming size", Wave(Chunk("fmt ", PcmFormat()) + Chunk("data", oneSecond, 0xFFFFFFFF)),
         1.0f},
        // A copy that broke off: no length, rather than the part that arrived.
        {"claims two seconds, holds one",
         Wave(Chunk("fmt ", PcmFormat()) + Chunk("data", oneSecond, 352800)), 0.0f},
        {"float",
         Wave(Chunk("fmt ", Le16(3) + Le16(1) + Le32(44100) + Le32(176400) + Le16(4) + Le16(32)) +
              Chunk("data", oneSecond)),
         1.0f},
        // A codec nobody knows: no length, rather than the header's.
        {"unknown sub-format",
         Wave(Chunk("fmt ", ExtensibleFormat(false)) + Chunk("data", oneSecond)), 0.0f},
        {"a billion samples a second",
         Wave(Chunk("fmt ", Le16(1) + Le16(1) + Le32(1077805184) + Le32(1) + Le16(2) + Le16(16)) +
              Chunk("data", "\x01")),
         0.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_NEAR(GetWaveDuration(Write("case.wav", c.bytes)), c.seconds, 0.0001);
        QFile::remove(home.File("case.wav"));
    }
}

TEST_F(AudioFileHelpersTest, MissingTruncatedAndGarbageFilesAreHandled)
{
    WAVEFORMATEX format;
    qint32 dataSize = 0;
    EXPECT_EQ(ReadWaveInfo(home.File("missing.wav"), format, dataSize), -1);
    EXPECT_EQ(ReadWaveInfo(Write("empty.wav", QByteArray()), format, dataSize), -1);
    EXPECT_EQ(GetWaveDuration(home.File("missing.wav")), 0.0f);

    EXPECT_EQ(ReadWaveInfo(Write("riff.wav", "RIFF"), format, dataSize),
              RiffReader::ErrorChunkNotFound);
    EXPECT_EQ(ReadWaveInfo(Write("avi.wav", Chunk("RIFF", "AVI " + Chunk("fmt ", PcmFormat()))),
                           format, dataSize),
              RiffReader::ErrorChunkNotFound);
    EXPECT_EQ(ReadWaveInfo(Write("nofmt.wav", Wave(Chunk("data", "abcd"))), format, dataSize),
              RiffReader::ErrorChunkNotFound);

    // The data chunk claims two seconds but the copy stopped after 1000 bytes: measure what is
    // there, as the decoder does.
    QByteArray whole = Wave(Chunk("fmt ", PcmFormat()) + Chunk("data", QByteArray(352800, '\0')));
    const QString truncated = Write("truncated.wav", whole.left(whole.size() - 352800 + 1000));
    EXPECT_EQ(ReadWaveInfo(truncated, format, dataSize), 0);
    EXPECT_EQ(dataSize, 1000);

    // A format record cut short is read as far as it goes.
    const QString shortFormat =
        Write("shortfmt.wav", Wave(Chunk("fmt ", PcmFormat())).left(12 + 8 + 6));
    EXPECT_EQ(ReadWaveInfo(shortFormat, format, dataSize), 0);
    EXPECT_EQ(format.nChannels, 2);
    EXPECT_EQ(format.nAvgBytesPerSec, 0u);
    EXPECT_EQ(dataSize, 0);

    // Every cut of a valid header and random bytes behind a RIFF header end without a crash.
    const QByteArray valid =
        Wave(Chunk("fmt ", ExtensibleFormat()) + Chunk("data", QByteArray(64, 2)));
    for (qsizetype cut = 0; cut <= valid.size(); ++cut) {
        QByteArray bytes = valid.left(cut);
        QBuffer buffer(&bytes);
        ASSERT_TRUE(buffer.open(QIODevice::ReadOnly));
        const qint32 status = ReadWaveInfo(buffer, format, dataSize);
        EXPECT_GE(dataSize, 0);
        EXPECT_LE(dataSize, qMax<qint64>(0, cut - 68)); // the data begins at byte 68
        if (status == 0) {
            EXPECT_GE(cut, 12 + 8);
        }
    }
    QRandomGenerator random(1234);
    for (int round = 0; round < 200; ++round) {
        QByteArray bytes = "RIFF" + Le32(random.bounded(200)) + "WAVE";
        for (int i = 0, n = random.bounded(200); i < n; ++i) {
            bytes.append(char(random.bounded(256)));
        }
        QBuffer buffer(&bytes);
        ASSERT_TRUE(buffer.open(QIODevice::ReadOnly));
        ReadWaveInfo(buffer, format, dataSize);
        EXPECT_LE(qint64(quint32(dataSize)), bytes.size());
    }
}

TEST_F(AudioFileHelpersTest, TypeFlagsFollowTheExtension)
{
    EXPECT_EQ(GetAudioFileType("/in/1234 Jingle.WAV"), 2);
    EXPECT_EQ(GetAudioFileType("/in/1234 Jingle.wav"), 2);
    EXPECT_EQ(GetAudioFileType("song.Mp3"), 4);
    EXPECT_EQ(GetAudioFileType("song.ogg"), 8);
    EXPECT_EQ(GetAudioFileType("song.wma"), 16);
    EXPECT_EQ(GetAudioFileType("song.MP2"), 32);
    EXPECT_EQ(GetAudioFileType("cart.zip"), 1);
    EXPECT_EQ(GetAudioFileType("/in/noextension"), 1);
    EXPECT_EQ(GetAudioFileType("/in.wav/noextension"), 1);
    EXPECT_EQ(GetAudioFileType("song.wav.txt"), 1);
}

TEST_F(AudioFileHelpersTest, ToleranceIncludesBothEnds)
{
    EXPECT_TRUE(IsWithinTolerance(10.05, 10, 0.05));
    EXPECT_TRUE(IsWithinTolerance(9.95, 10, 0.05));
    EXPECT_TRUE(IsWithinTolerance(10, 10, 0));
    EXPECT_FALSE(IsWithinTolerance(10.0501, 10, 0.05));
    EXPECT_FALSE(IsWithinTolerance(9.9499, 10, 0.05));
}

TEST_F(AudioFileHelpersTest, DecoderDurationOfARealWavAndOfMissingFiles)
{
    EXPECT_EQ(GetAudioFileDuration(home.File("missing.mp3")), -1.0);
    EXPECT_EQ(GetAudioFileDuration(Write("empty.mp3", QByteArray())), -1.0);
    EXPECT_EQ(GetAudioFileDuration(Write("garbage.mp3", QByteArray(4096, '\x5a'))), -1.0);

    // 1.5 s of 16-bit stereo silence; the header and the decoder must agree.
    const QString wav = Write(
        "real.wav", Wave(Chunk("fmt ", PcmFormat()) + Chunk("data", QByteArray(264600, '\0'))));
    EXPECT_NEAR(GetAudioFileDuration(wav), 1.5, 0.01);
    EXPECT_NEAR(GetWaveDuration(wav), 1.5, 0.0001);
}

// Lengths are kept per version of a file; every kind of change is seen.
TEST_F(AudioFileHelpersTest, AChangedWaveIsMeasuredAgain)
{
    const QByteArray audio(352800, '\0');
    const QByteArray stereo = Wave(Chunk("fmt ", PcmFormat()) + Chunk("data", audio));
    // The same size, but mono: twice as long.
    const QByteArray mono =
        Wave(Chunk("fmt ", Le16(1) + Le16(1) + Le32(44100) + Le32(88200) + Le16(2) + Le16(16)) +
             Chunk("data", audio));
    ASSERT_EQ(stereo.size(), mono.size());
    const QString path = Write("jingle.wav", stereo);
    const auto setTime = [&](const QString& file, time_t seconds) {
        const timespec times[2] = {{seconds, 0}, {seconds, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(file).constData(), times, 0), 0);
    };
    // The version handed out is the one measured, never an earlier one.
    const auto measure = [&](const QString& file) {
        std::optional<FileVersionKey> version;
        const float seconds = GetWaveDuration(file, version);
        EXPECT_EQ(version, FileVersionKey::Of(file));
        return seconds;
    };
    setTime(path, 1'600'000'000);
    EXPECT_FLOAT_EQ(measure(path), 2.0f);
    EXPECT_FLOAT_EQ(GetWaveDuration(path), 2.0f);

    const auto rewrite = [&](const QString& file, const QByteArray& bytes) {
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::ReadWrite));
        ASSERT_EQ(out.write(bytes), bytes.size());
    };
    // In place, with a new time.
    rewrite(path, mono);
    setTime(path, 1'600'000'100);
    EXPECT_FLOAT_EQ(measure(path), 4.0f);
    EXPECT_EQ(FileVersionKey::Of(path)->modifiedNs, 1'600'000'100'000'000'000);
    // In place, the time put back as it was (rsync --inplace --times).
    rewrite(path, stereo);
    setTime(path, 1'600'000'100);
    EXPECT_FLOAT_EQ(measure(path), 2.0f);
    // Replaced by another file of the same size and time.
    const QString other = Write("other.wav", mono);
    setTime(other, 1'600'000'100);
    ASSERT_EQ(::rename(QFile::encodeName(other).constData(), QFile::encodeName(path).constData()),
              0);
    EXPECT_FLOAT_EQ(GetWaveDuration(path), 4.0f);
    // Gone.
    ASSERT_TRUE(QFile::remove(path));
    std::optional<FileVersionKey> gone = FileVersionKey{};
    EXPECT_EQ(GetWaveDuration(path, gone), 0.0f);
    EXPECT_FALSE(gone);
}

// No descriptor left for a moment: the file cannot be opened, which says nothing about its
// content, so the next look measures it.
TEST_F(AudioFileHelpersTest, AWaveUnreadableForAMomentIsMeasuredAgain)
{
    const QString path = Write(
        "jingle.wav", Wave(Chunk("fmt ", PcmFormat()) + Chunk("data", QByteArray(176400, 0))));
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    const int lowestFree = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(lowestFree, 0);
    ::close(lowestFree);
    rlimit none = saved;
    none.rlim_cur = rlim_t(lowestFree);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &none), 0);
    const float unreadable = GetWaveDuration(path);
    ::setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(unreadable, 0.0f);
    EXPECT_FLOAT_EQ(GetWaveDuration(path), 1.0f);
}

// The walk hands over the look it took at a file; the length may come from that look once, and
// every later question looks at the file again.
TEST_F(AudioFileHelpersTest, ALookHandedOnAnswersOnlyTheFirstQuestion)
{
    const QByteArray audio(352800, '\0');
    const QString path =
        Write("handed.wav", Wave(Chunk("fmt ", PcmFormat()) + Chunk("data", audio)));
    EXPECT_FLOAT_EQ(GetWaveDuration(path), 2.0f);
    const std::optional<FileVersionKey> looked = FileVersionKey::Of(path);
    ASSERT_TRUE(looked);

    // A longer version lands just after the look.
    QFile out(path);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
    out.write(Wave(Chunk("fmt ", PcmFormat()) + Chunk("data", audio + audio)));
    out.close();
    {
        const FileVersionKey::Recent handed(path, *looked);
        EXPECT_FLOAT_EQ(GetWaveDuration(path), 2.0f);
        EXPECT_FLOAT_EQ(GetWaveDuration(path), 4.0f);
        std::optional<FileVersionKey> measured;
        EXPECT_FLOAT_EQ(GetWaveDuration(path, measured), 4.0f);
        EXPECT_EQ(measured, FileVersionKey::Of(path));
    }
    // Nor does a look handed on for one file answer for another.
    const QString other =
        Write("other.wav", Wave(Chunk("fmt ", PcmFormat()) + Chunk("data", audio)));
    const FileVersionKey::Recent handed(path, *looked);
    EXPECT_FLOAT_EQ(GetWaveDuration(other), 2.0f);
    EXPECT_NE(FileVersionKey::Of(other), looked);
}
