#include "platform/RtfReader.h"
#include "platform/RtfWriter.h"

#include <gtest/gtest.h>

namespace {

RtfRun MakeRun(const QString& text, bool bold = false, bool italic = false, bool underline = false,
               double size = 10)
{
    RtfRun run;
    run.Text = text;
    run.Bold = bold;
    run.Italic = italic;
    run.Underline = underline;
    run.PointSize = size;
    return run;
}

RtfDocument Document(const QList<QList<RtfRun>>& paragraphs)
{
    RtfDocument document;
    document.Paragraphs.clear();
    for (const QList<RtfRun>& runs : paragraphs) {
        RtfParagraph paragraph;
        paragraph.Runs = runs;
        document.Paragraphs.append(paragraph);
    }
    return document;
}

RtfDocument ReadBack(const QByteArray& rtf)
{
    const std::optional<RtfDocument> document = RtfReader::Read(rtf);
    EXPECT_TRUE(document.has_value());
    return document.value_or(RtfDocument());
}

} // namespace

TEST(RtfWriterTest, FormatsAndParagraphsReadBackUnchanged)
{
    const RtfDocument document = Document({
        {MakeRun("Plain "), MakeRun("bold", true), MakeRun(" both", true, true),
         MakeRun(" under", false, false, true), MakeRun(" big", false, false, false, 18.5)},
        {},
        {MakeRun("after an empty paragraph", false, true)},
        {},
    });
    const QByteArray rtf = RtfWriter::Write(document);
    EXPECT_TRUE(rtf.startsWith("{\\rtf1\\ansi"));
    EXPECT_EQ(ReadBack(rtf), document) << rtf.toStdString();
}

TEST(RtfWriterTest, EveryCharacterSurvivesInSevenBitOutput)
{
    const QString text = QString::fromUtf8("a\\b{c}d\te\u2028f é ÿ € “q” \u0080 Привет あ 𝄞 ") +
                         QChar(0x01) + QChar(0xFFFF) + QString::fromUtf8(" \u00A0end");
    const RtfDocument document = Document({{MakeRun(text)}});
    const QByteArray rtf = RtfWriter::Write(document);
    for (const char c : rtf) {
        ASSERT_LT(uchar(c), 0x80) << rtf.toStdString();
    }
    EXPECT_EQ(ReadBack(rtf), document) << rtf.toStdString();
}

TEST(RtfWriterTest, RunsWithoutSizeTakeTheDefault)
{
    RtfDocument document =
        Document({{MakeRun("x", false, false, false, 0), MakeRun("y", true, false, false, 0)}});
    const RtfDocument back = ReadBack(RtfWriter::Write(document, "Courier New", 9));
    ASSERT_EQ(back.Paragraphs.size(), 1);
    ASSERT_EQ(back.Paragraphs[0].Runs.size(), 2);
    EXPECT_EQ(back.Paragraphs[0].Runs[0].PointSize, 9);
    EXPECT_EQ(back.Paragraphs[0].Runs[1].PointSize, 9);
    EXPECT_TRUE(RtfWriter::Write(document, "Courier New", 9).contains("Courier New;"));
}

TEST(RtfWriterTest, AnEmptyDocumentStaysOneEmptyParagraph)
{
    const RtfDocument empty;
    EXPECT_EQ(ReadBack(RtfWriter::Write(empty)), empty);
}
