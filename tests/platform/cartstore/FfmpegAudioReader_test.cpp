#include "platform/cartstore/FfmpegAudioReader.h"
#include "tests/support/AudioFixtures.h"
#include "tests/support/TempHome.h"

#include <QFile>
#include <QtEndian>
#include <gtest/gtest.h>
#include <sys/resource.h>

namespace {

long PeakResidentKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

QByteArray Le32(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToLittleEndian(value, bytes.data());
    return bytes;
}

} // namespace

// A WAV whose tag list after the audio claims 1.9 GB, with an entry inside claiming 1.8 GB: FFmpeg
// allocated and cleared the claimed size before finding the bytes missing, for every file
// measured or imported (the fuzzer's had 348 bytes). The audio before it still decodes.
TEST(FfmpegAudioReaderTest, TagListClaimingGigabytesCostsNoGigabytes)
{
    TempHome home;
    const QString plain = home.File("plain.wav");
    ASSERT_TRUE(AudioFixtures::WriteSineWav(plain, 0.5, 8000, 1));
    QFile in(plain);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    const QByteArray wav = in.readAll();

    const QByteArray list = "LIST" + Le32(0x7074731a) + "INFO" + "ISFT" + Le32(14) +
                            QByteArray("Lavf59.27.100", 14) + "mmmm" + Le32(0x6d6d6d6d) +
                            QByteArray(64, 'm');
    QByteArray damaged = wav + list;
    qToLittleEndian<quint32>(quint32(damaged.size() - 8), damaged.data() + 4);
    const QString path = home.File("damaged.wav");
    QFile out(path);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(damaged);
    out.close();

    const long before = PeakResidentKb();
    FfmpegAudioReader reader;
    const Result<> opened = reader.Open(path);
    ASSERT_TRUE(opened) << opened.Reason().toStdString();
    EXPECT_TRUE(reader.Decode());
    EXPECT_LT(PeakResidentKb() - before, 256 * 1024) << "kB more at the peak";
    EXPECT_EQ(reader.FrameCount(), 4000);
}

// The refusal of a rate no audio uses names the declared format; the reason was read from the
// file's stream after the file was closed, and said "0 Hz and 0 channels" (or worse).
TEST(FfmpegAudioReaderTest, RateNoAudioUsesIsRefusedWithTheDeclaredFormat)
{
    TempHome home;
    const QString path = home.File("fast.wav");
    ASSERT_TRUE(AudioFixtures::WriteSineWav(path, 0.2, 8000, 1));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    QByteArray wav = file.readAll();
    ASSERT_EQ(wav.mid(12, 4), "fmt ");
    qToLittleEndian<quint32>(2000000, wav.data() + 24);
    qToLittleEndian<quint32>(4000000, wav.data() + 28);
    file.seek(0);
    file.write(wav);
    file.close();

    FfmpegAudioReader reader;
    const Result<> opened = reader.Open(path);
    EXPECT_FALSE(opened);
    EXPECT_TRUE(opened.Reason().contains("declares 2000000 Hz and 1 channels"))
        << opened.Reason().toStdString();
}
