#include "platform/RtfReader.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <gtest/gtest.h>

namespace {

RtfDocument Read(const QByteArray& rtf)
{
    const std::optional<RtfDocument> document = RtfReader::Read(rtf);
    EXPECT_TRUE(document.has_value()) << rtf.toStdString();
    return document.value_or(RtfDocument());
}

QString Plain(const QByteArray& rtf)
{
    return Read(rtf).PlainText();
}

QByteArray DataFile(const char* name)
{
    QFile file(QFileInfo(QString::fromUtf8(__FILE__)).absolutePath() + "/data/" + name);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    return file.readAll();
}

// The run of the paragraph that holds the text.
RtfRun RunWith(const RtfParagraph& paragraph, const QString& text)
{
    for (const RtfRun& run : paragraph.Runs) {
        if (run.Text.contains(text)) {
            return run;
        }
    }
    ADD_FAILURE() << "no run holds " << text.toStdString();
    return RtfRun();
}

} // namespace

TEST(RtfReaderTest, OnlyDataBeginningWithTheRtfGroupIsRichText)
{
    EXPECT_FALSE(RtfReader::Read("").has_value());
    EXPECT_FALSE(RtfReader::Read("10:15:02 GRP:1:Imported '1234 Jingle.wav'\n").has_value());
    EXPECT_FALSE(RtfReader::Read(" {\\rtf1 x}").has_value());
    EXPECT_FALSE(RtfReader::Read("{\\rt").has_value());
    EXPECT_TRUE(RtfReader::Read("{\\rtf").has_value());
    EXPECT_EQ(Plain("{\\rtf1 Hello}"), "Hello");
}

TEST(RtfReaderTest, CharacterFormatsFollowControlWordsAndGroups)
{
    const RtfDocument document =
        Read("{\\rtf1\\ansi\\fs20 plain \\b bold\\b0  {\\i italic {\\ul under}} back "
             "\\ul u\\ulnone  n \\uldb dbl\\ul0  \\fs36 big\\plain  reset}");
    ASSERT_EQ(document.Paragraphs.size(), 1);
    const RtfParagraph& p = document.Paragraphs[0];
    EXPECT_EQ(p.Text(), "plain bold italic under back u n dbl big reset");

    EXPECT_FALSE(RunWith(p, "plain").Bold);
    EXPECT_EQ(RunWith(p, "plain").PointSize, 10);
    EXPECT_TRUE(RunWith(p, "bold").Bold);
    EXPECT_TRUE(RunWith(p, "italic").Italic);
    EXPECT_FALSE(RunWith(p, "italic").Underline);
    const RtfRun under = RunWith(p, "under");
    EXPECT_TRUE(under.Italic && under.Underline);
    // Leaving the groups restores the formats of before.
    EXPECT_FALSE(RunWith(p, "back").Italic);
    EXPECT_FALSE(RunWith(p, "back").Underline);
    EXPECT_TRUE(RunWith(p, "u").Underline);
    EXPECT_TRUE(RunWith(p, "dbl").Underline);
    EXPECT_EQ(RunWith(p, "big").PointSize, 18);
    const RtfRun reset = RunWith(p, "reset");
    EXPECT_FALSE(reset.Bold || reset.Italic || reset.Underline);
    EXPECT_EQ(reset.PointSize, 12); // the format's default size
    // Adjacent text of one format is one run.
    for (qsizetype i = 1; i < p.Runs.size(); ++i) {
        EXPECT_FALSE(p.Runs[i].SameFormat(p.Runs[i - 1])) << i;
    }
}

TEST(RtfReaderTest, ParagraphsLineBreaksAndTheClosingParagraphMark)
{
    EXPECT_EQ(Read("{\\rtf1 one\\par two\\line three\\tab four}").Paragraphs.size(), 2);
    EXPECT_EQ(Plain("{\\rtf1 one\\par two\\line three\\tab four}"), "one\ntwo\nthree\tfour");
    // The last paragraph mark ends the document rather than opening an empty paragraph.
    EXPECT_EQ(Read("{\\rtf1 one\\par two\\par }").Paragraphs.size(), 2);
    EXPECT_EQ(Read("{\\rtf1 one\\par\\par\\par }").Paragraphs.size(), 3);
    // Raw line ends are not text; a backslash before one is a paragraph mark.
    EXPECT_EQ(Plain("{\\rtf1 a\r\nb\\\nc}"), "ab\nc");
    EXPECT_EQ(Read("{\\rtf1 }").Paragraphs.size(), 1);
}

TEST(RtfReaderTest, EscapesAndUnicode)
{
    EXPECT_EQ(Plain("{\\rtf1\\ansi caf\\'e9 \\'80\\'93q\\'94}"), QString::fromUtf8("café €“q”"));
    EXPECT_EQ(Plain("{\\rtf1 caf\\u233?s}"), QString::fromUtf8("cafés"));
    // The fallback after \u is skipped whether it is a character, a byte or a control symbol.
    EXPECT_EQ(Plain("{\\rtf1 \\u233\\'e9x \\u233\\{y}"), QString::fromUtf8("éx éy"));
    EXPECT_EQ(Plain("{\\rtf1\\uc2 \\u8364 EUx\\uc0 \\u8364 y}"), QString::fromUtf8("€x€y"));
    // A group ends the fallback.
    EXPECT_EQ(Plain("{\\rtf1\\uc3 {\\u233}ab}"), QString::fromUtf8("éab"));
    // Negative values and surrogate pairs, as 16-bit signed units.
    EXPECT_EQ(Plain("{\\rtf1\\uc1 \\u-10188?\\u-8930?}"), QString::fromUtf8("𝄞"));
    EXPECT_EQ(Plain("{\\rtf1 \\\\ \\{ \\} a\\~b c\\emdash d\\bullet\\-e}"),
              QString::fromUtf8("\\ { } a\u00A0b c—d•e"));
}

TEST(RtfReaderTest, BytesFollowTheDocumentCodePage)
{
    EXPECT_EQ(Plain("{\\rtf1\\ansi\\ansicpg1251 \\'cf\\'f0\\'e8\\'e2\\'e5\\'f2}"),
              QString::fromUtf8("Привет"));
    // Double-byte characters written as two escapes decode whole.
    EXPECT_EQ(Plain("{\\rtf1\\ansi\\ansicpg932 \\'82\\'a0x}"), QString::fromUtf8("あx"));
    // An unknown code page falls back to Windows-1252.
    EXPECT_EQ(Plain("{\\rtf1\\ansi\\ansicpg99999 \\'e9}"), QString::fromUtf8("é"));
}

TEST(RtfReaderTest, TablesPicturesAndOtherDestinationsAreSkipped)
{
    const QByteArray rtf = "{\\rtf1\\ansi{\\fonttbl{\\f0\\fswiss Arial;}{\\f1 Courier;}}"
                           "{\\colortbl;\\red255\\green0\\blue0;}{\\stylesheet{\\s0 Normal;}}"
                           "{\\info{\\title Secret title}{\\author Someone}}"
                           "{\\*\\generator Writer 1.0;}{\\*\\unknowndestination hidden text}"
                           "A{\\pict\\pngblip 89504e470d0a}B{\\header header text}C"
                           "{\\object{\\*\\objdata 0102}{\\result R}}"
                           "{\\field{\\*\\fldinst HYPERLINK x}{\\fldrslt D}}"
                           "\\bin4 {}{}E}";
    EXPECT_EQ(Plain(rtf), "ABCDE");
}

TEST(RtfReaderTest, FilesWrittenByWordProcessors)
{
    const RtfDocument wordpad = Read(DataFile("wordpad.rtf"));
    ASSERT_EQ(wordpad.Paragraphs.size(), 5);
    EXPECT_EQ(wordpad.Paragraphs[0].Text(), "Cartfeeder release notes");
    EXPECT_TRUE(RunWith(wordpad.Paragraphs[0], "release").Bold);
    EXPECT_EQ(RunWith(wordpad.Paragraphs[0], "notes").PointSize, 11);
    EXPECT_TRUE(RunWith(wordpad.Paragraphs[1], "Version").Italic);
    EXPECT_EQ(RunWith(wordpad.Paragraphs[1], "Version").PointSize, 14);
    EXPECT_EQ(wordpad.Paragraphs[2].Text(), QString::fromUtf8("Fixed: café costs €5 – naïve"));
    EXPECT_TRUE(RunWith(wordpad.Paragraphs[2], "Fixed").Underline);
    EXPECT_FALSE(RunWith(wordpad.Paragraphs[2], "café").Underline);
    EXPECT_EQ(wordpad.Paragraphs[3].Text(), ""); // held only a picture
    EXPECT_EQ(wordpad.Paragraphs[4].Text(), "Tab\tend");

    const RtfDocument word = Read(DataFile("word.rtf"));
    ASSERT_EQ(word.Paragraphs.size(), 3) << word.PlainText().toStdString();
    EXPECT_EQ(word.Paragraphs[0].Text(), QString::fromUtf8("Station notes for “Morning”"));
    EXPECT_TRUE(RunWith(word.Paragraphs[0], "Station").Bold);
    EXPECT_TRUE(RunWith(word.Paragraphs[0], "Morning").Italic);
    EXPECT_EQ(word.Paragraphs[1].Text(), QString::fromUtf8("·\tJingles at the site"));
    EXPECT_TRUE(RunWith(word.Paragraphs[1], "Jingles").Underline);
    EXPECT_FALSE(RunWith(word.Paragraphs[1], " at ").Underline);
    EXPECT_TRUE(RunWith(word.Paragraphs[1], "the site").Underline);
    EXPECT_EQ(word.Paragraphs[2].Text(), "Big end");
    EXPECT_EQ(RunWith(word.Paragraphs[2], "Big").PointSize, 16);
}

TEST(RtfReaderTest, FileWrittenByLibreOfficeWriter)
{
    // Made by "soffice --headless --convert-to rtf" from a small HTML page.
    const RtfDocument doc = Read(DataFile("libreoffice.rtf"));
    QStringList texts;
    for (const RtfParagraph& paragraph : doc.Paragraphs) {
        if (!paragraph.Text().trimmed().isEmpty())
            texts << paragraph.Text();
    }
    ASSERT_EQ(texts.size(), 4) << doc.PlainText().toStdString();
    EXPECT_EQ(texts[0], "Cartfeeder update notes");
    EXPECT_EQ(texts[1], "Version 0.1");
    EXPECT_EQ(texts[2], QString::fromUtf8("Fixed: café costs €5 – naïve"));
    EXPECT_EQ(texts[3], QString::fromUtf8("Привет"));
    const auto paragraphWith = [&](const QString& word) -> const RtfParagraph& {
        for (const RtfParagraph& paragraph : doc.Paragraphs) {
            if (paragraph.Text().contains(word))
                return paragraph;
        }
        return doc.Paragraphs.first();
    };
    EXPECT_TRUE(RunWith(paragraphWith("Cartfeeder"), "Cartfeeder").Bold);
    EXPECT_FALSE(RunWith(paragraphWith("Cartfeeder"), "update").Bold);
    EXPECT_TRUE(RunWith(paragraphWith("Version"), "Version").Italic);
    EXPECT_EQ(RunWith(paragraphWith("Version"), "0.1").PointSize, 16);
    EXPECT_TRUE(RunWith(paragraphWith("Fixed"), "Fixed:").Underline);
    EXPECT_FALSE(RunWith(paragraphWith("Fixed"), "café").Underline);
}

TEST(RtfReaderTest, MalformedInputEndsQuietly)
{
    // Unbalanced braces: what was read stands; a surplus closing brace ends the document.
    EXPECT_EQ(Plain("{\\rtf1 open {\\b never closed"), "open never closed");
    EXPECT_EQ(Plain("{\\rtf1 a}} b}"), "a");
    EXPECT_EQ(Plain("{\\rtf1 a}}}}}"), "a");
    // Truncated escapes and control words.
    EXPECT_EQ(Plain("{\\rtf1 x\\'"), "x");
    EXPECT_EQ(Plain("{\\rtf1 x\\'4"), "x");
    EXPECT_EQ(Plain("{\\rtf1 x\\'4g}"), "xg");
    EXPECT_EQ(Plain("{\\rtf1 x\\"), "x");
    EXPECT_EQ(Plain("{\\rtf1 x\\u"), "x");
    EXPECT_EQ(Plain("{\\rtf1 x\\u-}"), "x-");
    EXPECT_EQ(Plain("{\\rtf1 x\\bin999999 abc}"), "x");
    EXPECT_EQ(Plain("{\\rtf1 x\\bin-5 abc}"), "xabc");
    // Absurd parameters and words.
    EXPECT_EQ(Read("{\\rtf1\\fs99999999999999999999 x}").Paragraphs[0].Runs[0].PointSize, 1638);
    EXPECT_EQ(Plain("{\\rtf1\\uc2147483647 \\u65 xyz}"), "A");
    // A character that cannot be leaves its fallback to be shown.
    EXPECT_EQ(Plain("{\\rtf1 \\u99999999999 x}"), "x");
    EXPECT_EQ(Plain("{\\rtf1\\" + QByteArray(100000, 'a') + " x}"), "x");
    EXPECT_EQ(Plain(QByteArray("{\\rtf1 ") + QByteArray(100000, '\0') + "x}"), "x");
}

TEST(RtfReaderTest, DeepNestingIsBounded)
{
    // Far deeper than the reader follows: the deep part is skipped, the rest is read.
    const int depth = 200000;
    const QByteArray deep = QByteArray("{\\rtf1 before") + QByteArray(depth, '{') + "\\b deep" +
                            QByteArray(depth, '}') + " after}";
    EXPECT_EQ(Plain(deep), "before after");
    // Within the limit, groups are followed and their formats undone.
    const int depthWithin = RtfReader::MaxDepth - 2;
    const QByteArray within = QByteArray("{\\rtf1 a") + QByteArray(depthWithin, '{') + "\\b b" +
                              QByteArray(depthWithin, '}') + "c}";
    const RtfDocument document = Read(within);
    EXPECT_EQ(document.PlainText(), "abc");
    EXPECT_TRUE(RunWith(document.Paragraphs[0], "b").Bold);
    EXPECT_FALSE(RunWith(document.Paragraphs[0], "c").Bold);
    // Escaped braces inside the skipped depth do not count.
    EXPECT_EQ(Plain(QByteArray("{\\rtf1 a") + QByteArray(300, '{') + "\\}\\{" +
                    QByteArray(300, '}') + "b}"),
              "ab");
    // Never closed at all.
    EXPECT_EQ(Plain(QByteArray("{\\rtf1 a") + QByteArray(depth, '{')), "a");
}

// Mutations of a real file in a fixed sequence; each must read without a crash (the fuzzer
// target explores the same much further).
TEST(RtfReaderTest, MutatedFilesNeverBreakTheReader)
{
    const QByteArray original = DataFile("word.rtf");
    QRandomGenerator random(20240305);
    static constexpr char kTokens[] = "{}\\'u0123456789-;* ?bin";
    for (int round = 0; round < 300; ++round) {
        QByteArray data = original;
        const int edits = 1 + random.bounded(20);
        for (int e = 0; e < edits; ++e) {
            const int at = 5 + random.bounded(int(data.size()) - 5);
            switch (random.bounded(3)) {
            case 0:
                data[at] = kTokens[random.bounded(int(sizeof(kTokens)) - 1)];
                break;
            case 1:
                data.remove(at, random.bounded(50));
                break;
            default:
                data.truncate(at);
                break;
            }
            if (data.size() < 10) {
                break;
            }
        }
        EXPECT_TRUE(RtfReader::Read(data).has_value());
    }
}
