#include "platform/cartstore/RiffReader.h"

#include <QBuffer>
#include <QtEndian>
#include <gtest/gtest.h>

namespace {

QByteArray Chunk(const char* id, const QByteArray& payload, qint64 claimedSize = -1)
{
    QByteArray bytes(id, 4);
    char size[4];
    qToLittleEndian<quint32>(quint32(claimedSize < 0 ? payload.size() : claimedSize), size);
    bytes.append(size, 4).append(payload);
    if (payload.size() % 2 == 1) {
        bytes.append('\0');
    }
    return bytes;
}

QByteArray Riff(const char* form, const QByteArray& body)
{
    return Chunk("RIFF", QByteArray(form, 4) + body);
}

} // namespace

TEST(RiffReaderTest, DescendsPastOddChunksAndIntoLists)
{
    QByteArray list = Chunk("LIST", QByteArray("INFO", 4) + Chunk("INAM", "abc"));
    QByteArray bytes = Riff("WAVE", Chunk("odd ", "x") + list + Chunk("tail", "1234"));
    QBuffer buffer(&bytes);
    ASSERT_TRUE(buffer.open(QIODevice::ReadOnly));
    RiffReader reader(buffer);

    RiffChunk riff;
    riff.FormType = RiffReader::FourCC("WAVE");
    ASSERT_EQ(reader.Descend(riff, nullptr, RiffReader::Find::Riff), RiffReader::NoError);
    EXPECT_EQ(riff.DataOffset, 8);
    EXPECT_EQ(reader.Position(), 12);

    RiffChunk info;
    info.FormType = RiffReader::FourCC("INFO");
    ASSERT_EQ(reader.Descend(info, &riff, RiffReader::Find::List), RiffReader::NoError);
    RiffChunk name;
    name.Id = RiffReader::FourCC("INAM");
    ASSERT_EQ(reader.Descend(name, &info, RiffReader::Find::Chunk), RiffReader::NoError);
    EXPECT_EQ(name.Size, 3u);
    char text[8] = {};
    EXPECT_EQ(reader.Read(text, name.Size), 3);
    EXPECT_STREQ(text, "abc");
    reader.Ascend(name);
    reader.Ascend(info);

    // Searching within the list ends at its end, not in the next chunk.
    reader.Seek(info.DataOffset + 4);
    RiffChunk tail;
    tail.Id = RiffReader::FourCC("tail");
    EXPECT_EQ(reader.Descend(tail, &info, RiffReader::Find::Chunk), RiffReader::ErrorChunkNotFound);
    reader.Seek(riff.DataOffset + 4);
    ASSERT_EQ(reader.Descend(tail, &riff, RiffReader::Find::Chunk), RiffReader::NoError);
    EXPECT_EQ(tail.DataOffset, bytes.size() - 4);
}

TEST(RiffReaderTest, ClaimedSizesBeyondTheEndAreNeverRead)
{
    // The first chunk claims 4 GB; the search must stop, not wrap or read past the end.
    QByteArray bytes = Riff("WAVE", Chunk("big ", "ab", 0xFFFFFFFFu) + Chunk("data", "xy"));
    QBuffer buffer(&bytes);
    ASSERT_TRUE(buffer.open(QIODevice::ReadOnly));
    RiffReader reader(buffer);
    RiffChunk riff;
    riff.FormType = RiffReader::FourCC("WAVE");
    ASSERT_EQ(reader.Descend(riff, nullptr, RiffReader::Find::Riff), RiffReader::NoError);
    RiffChunk big;
    big.Id = RiffReader::FourCC("big ");
    ASSERT_EQ(reader.Descend(big, &riff, RiffReader::Find::Chunk), RiffReader::NoError);
    char data[64];
    EXPECT_EQ(reader.Read(data, sizeof data), bytes.size() - big.DataOffset);
    EXPECT_EQ(reader.Read(data, sizeof data), 0);
    reader.Ascend(big);
    EXPECT_EQ(reader.Read(data, sizeof data), 0);

    reader.Seek(riff.DataOffset + 4);
    RiffChunk chunk;
    chunk.Id = RiffReader::FourCC("data");
    EXPECT_EQ(reader.Descend(chunk, &riff, RiffReader::Find::Chunk),
              RiffReader::ErrorChunkNotFound);

    // Half a header at the end is no chunk.
    QByteArray partial = Riff("WAVE", "fmt ");
    QBuffer partialBuffer(&partial);
    ASSERT_TRUE(partialBuffer.open(QIODevice::ReadOnly));
    RiffReader partialReader(partialBuffer);
    RiffChunk any;
    ASSERT_EQ(partialReader.Descend(riff, nullptr, RiffReader::Find::Riff), RiffReader::NoError);
    EXPECT_EQ(partialReader.Descend(any, &riff, RiffReader::Find::Any),
              RiffReader::ErrorChunkNotFound);
}
