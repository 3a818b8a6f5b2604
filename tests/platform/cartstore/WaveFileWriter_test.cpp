#include "platform/cartstore/WaveFileWriter.h"
#include "tests/support/AudioFixtures.h"
#include "tests/support/TempHome.h"

#include <QFile>
#include <QtEndian>
#include <gtest/gtest.h>

namespace {

quint32 HeaderField(const QString& path, int offset)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return 0;
    }
    const QByteArray header = file.read(44);
    return header.size() == 44 ? qFromLittleEndian<quint32>(header.constData() + offset) : 0;
}

} // namespace

TEST(WaveFileWriterTest, HeaderOfTheLargestFormatAcceptedIsExact)
{
    TempHome home;
    const QString path = home.File("wide.wav");
    WaveFileWriter writer;
    const Result<> opened = writer.Open(path, 768000, 64);
    ASSERT_TRUE(opened) << opened.Reason().toStdString();
    const QList<qint16> frame(64 * 3, 1000);
    ASSERT_TRUE(writer.Write(frame.constData(), 3));
    ASSERT_TRUE(writer.Finish());
    EXPECT_EQ(HeaderField(path, 24), 768000u);
    EXPECT_EQ(HeaderField(path, 28), 768000u * 128); // bytes a second
    EXPECT_EQ(HeaderField(path, 32) & 0xFFFF, 128u); // block align
    EXPECT_EQ(HeaderField(path, 40), 3u * 128);      // data size
    EXPECT_EQ(AudioFixtures::WavChannels(path), 64);
}

// Sample rate x channels x 2 once overflowed a signed int for such values.
TEST(WaveFileWriterTest, FormatsNoAudioUsesAreRefused)
{
    TempHome home;
    WaveFileWriter writer;
    const QPair<int, int> formats[] = {{1077805184, 1}, {1077805184, 2}, {0, 2},   {-44100, 2},
                                       {44100, 0},      {44100, 65535},  {999, 1}, {768001, 2}};
    for (const auto& [rate, channels] : formats) {
        SCOPED_TRACE(testing::Message() << rate << " Hz, " << channels << " channels");
        const Result<> opened = writer.Open(home.File("odd.wav"), rate, channels);
        EXPECT_FALSE(opened);
        EXPECT_TRUE(opened.Reason().startsWith("unsupported sample format: "))
            << opened.Reason().toStdString();
    }
    EXPECT_TRUE(writer.Open(home.File("ok.wav"), 8000, 1));
}
