#include "platform/richtext/RtfReader.h"
#include "platform/richtext/RtfWriter.h"
#include "tests/support/RtfPrinting.h"

#include <QFile>
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

namespace {

QByteArray DataFile(const char* name)
{
    QFile file(QStringLiteral(CF_SOURCE_DIR "/tests/platform/richtext/data/") + name);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    return file.readAll();
}

} // namespace

TEST(RtfWriterTest, ColoursFontsParagraphFormatsAndTablesReadBackUnchanged)
{
    RtfRun red = MakeRun("Red title", true, false, false, 18);
    red.Color = 0xFF0000;
    red.FontFamily = "DejaVu Serif";
    RtfRun courier = MakeRun("Courier {line}");
    courier.FontFamily = "Courier New";
    courier.Highlight = 0xFFFF00;
    RtfRun marked = MakeRun("marked", false, false, true);
    marked.Highlight = 0x00FF00;
    marked.Color = 0x000080;
    RtfRun bullet = MakeRun(QString::fromUtf8("•\t"));
    bullet.FontFamily = "OpenSymbol";
    RtfRun struck = MakeRun("gone");
    struck.Strike = true;
    RtfRun squared = MakeRun("2");
    squared.Script = RtfScript::Superscript;
    RtfRun low = squared;
    low.Script = RtfScript::Subscript;
    low.Strike = true;
    RtfRun bold = MakeRun("Title", true);
    bold.Color = 0xFF0000; // a colour used twice is one table entry
    RtfDocument document = Document({
        {red},
        {courier, marked},
        {bullet, MakeRun("First bullet")},
        {MakeRun(QString("Cart\tTitle\tLength"))},
        {MakeRun("1234\t"), bold, MakeRun(QString("\tline") + QChar::LineSeparator + "break")},
        {MakeRun("\t\t")},
        {MakeRun("Right")},
        {},
        {struck, MakeRun(" E = mc"), squared, MakeRun(" H"), low, MakeRun("O")},
    });
    document.DefaultTabWidth = 709;
    document.Paragraphs[0].Alignment = RtfAlignment::Center;
    document.Paragraphs[2].LeftIndent = 709;
    document.Paragraphs[2].FirstLineIndent = -283;
    document.Paragraphs[2].TabStops = {{709, RtfTabStop::Left}, {5000, RtfTabStop::Decimal}};
    document.Paragraphs[3].TableRow = true;
    document.Paragraphs[3].Alignment = RtfAlignment::Justify;
    document.Paragraphs[4].TableRow = true;
    document.Paragraphs[5].TableRow = true;
    document.Paragraphs[6].Alignment = RtfAlignment::Right;
    document.Paragraphs[6].TabStops = {{100, RtfTabStop::Center}, {9000, RtfTabStop::Right}};
    document.Paragraphs[7].LeftIndent = -50;
    document.Paragraphs[7].FirstLineIndent = 300;
    document.Paragraphs[7].SpaceBefore = 240;
    document.Paragraphs[7].LineSpacing = -300;
    document.Paragraphs[8].SpaceAfter = 120;
    document.Paragraphs[8].LineSpacing = 360;
    document.Paragraphs[8].LineSpacingMultiple = true;
    document.Paragraphs[3].SpaceBefore = 60; // a table row

    const QByteArray rtf = RtfWriter::Write(document);
    EXPECT_EQ(ReadBack(rtf), document) << rtf.toStdString();
    // Other programs need the row and cell definitions and one table entry per colour.
    EXPECT_EQ(rtf.count("\\trowd"), 3);
    EXPECT_EQ(rtf.count("\\row"), 3);
    EXPECT_EQ(rtf.count("\\cellx"), 9);
    EXPECT_TRUE(rtf.contains("{\\colortbl;\\red255\\green0\\blue0;")) << rtf.toStdString();
    EXPECT_EQ(rtf.count("\\red255\\green0\\blue0;"), 1);
}

TEST(RtfWriterTest, FilesOfWordProcessorsSurviveWritingAndReading)
{
    for (const char* name : {"libreoffice-updates.rtf", "libreoffice-tabs.rtf", "libreoffice.rtf",
                             "word.rtf", "wordpad.rtf"}) {
        SCOPED_TRACE(name);
        const RtfDocument original = ReadBack(DataFile(name));
        const QByteArray rtf = RtfWriter::Write(original);
        EXPECT_EQ(ReadBack(rtf), original) << rtf.toStdString();
    }
}
