#include "platform/system/TextFileDecoder.h"

#include <gtest/gtest.h>

TEST(TextFileDecoderTest, Utf8WhereValidWindows1252Otherwise)
{
    EXPECT_EQ(TextFileDecoder::Decode(QByteArray("caf\xC3\xA9 \xE2\x82\xAC")),
              QString::fromUtf8("café €"));
    EXPECT_EQ(TextFileDecoder::Decode(QByteArray("\xEF\xBB\xBFmark")), "mark");
    EXPECT_EQ(TextFileDecoder::Decode(QByteArray("caf\xE9 \x80 \x93q\x94")),
              QString::fromUtf8("café € “q”"));
    // A multi-byte sequence cut off at the end is not UTF-8 either.
    EXPECT_EQ(TextFileDecoder::Decode(QByteArray("ab\xC3")), QString::fromUtf8("abÃ"));
    EXPECT_EQ(TextFileDecoder::Decode(QByteArray()), QString());
    // The bytes Windows leaves undefined keep their value.
    EXPECT_EQ(TextFileDecoder::Windows1252Char(0x81), QChar(0x81));
    EXPECT_EQ(TextFileDecoder::Windows1252Char(0x9F), QChar(0x178));
}
