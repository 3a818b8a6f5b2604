#include "platform/richtext/RtfReader.h"
#include "tests/support/RtfPrinting.h"

#include <QFile>
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
    QFile file(QStringLiteral(CF_SOURCE_DIR "/tests/platform/richtext/data/") + name);
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
    // Strike-through, superscript and subscript, in their several spellings.
    const RtfParagraph m =
        Read("{\\rtf1 mc{\\super 2} H{\\sub 3}O {\\up6 up}{\\dn4 dn}{\\up0 level} "
             "\\super x\\nosupersub y \\strike gone\\strike0  kept {\\striked1 "
             "twice}{\\striked0 once} {\\super\\strike both}\\plain  end}")
            .Paragraphs[0];
    EXPECT_EQ(m.Text(), "mc2 H3O updnlevel xy gone kept twiceonce both end");
    const struct
    {
        const char* text;
        bool strike;
        RtfScript script;
    } kMarks[] = {
        {"mc", false, RtfScript::Normal},       {"2", false, RtfScript::Superscript},
        {"H", false, RtfScript::Normal},        {"3", false, RtfScript::Subscript},
        {"O", false, RtfScript::Normal},        {"up", false, RtfScript::Superscript},
        {"dn", false, RtfScript::Subscript},    {"level", false, RtfScript::Normal},
        {"x", false, RtfScript::Superscript},   {"y", false, RtfScript::Normal},
        {"gone", true, RtfScript::Normal},      {"kept", false, RtfScript::Normal},
        {"twice", true, RtfScript::Normal},     {"once", false, RtfScript::Normal},
        {"both", true, RtfScript::Superscript}, {"end", false, RtfScript::Normal},
    };
    for (const auto& mark : kMarks) {
        EXPECT_EQ(RunWith(m, mark.text).Strike, mark.strike) << mark.text;
        EXPECT_EQ(RunWith(m, mark.text).Script, mark.script) << mark.text;
    }
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
    EXPECT_EQ(word.Paragraphs[1].SpaceAfter, 200);
    EXPECT_EQ(word.Paragraphs[1].LineSpacing, 276);
    EXPECT_TRUE(word.Paragraphs[1].LineSpacingMultiple);
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
        if (!paragraph.Text().trimmed().isEmpty()) {
            texts << paragraph.Text();
        }
    }
    ASSERT_EQ(texts.size(), 4) << doc.PlainText().toStdString();
    EXPECT_EQ(texts[0], "Cartfeeder update notes");
    EXPECT_EQ(texts[1], "Version 0.1");
    EXPECT_EQ(texts[2], QString::fromUtf8("Fixed: café costs €5 – naïve"));
    EXPECT_EQ(texts[3], QString::fromUtf8("Привет"));
    const auto paragraphWith = [&](const QString& word) -> const RtfParagraph& {
        for (const RtfParagraph& paragraph : doc.Paragraphs) {
            if (paragraph.Text().contains(word)) {
                return paragraph;
            }
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

namespace {

const RtfParagraph& ParagraphWith(const RtfDocument& document, const QString& text)
{
    for (const RtfParagraph& paragraph : document.Paragraphs) {
        if (paragraph.Text().contains(text)) {
            return paragraph;
        }
    }
    ADD_FAILURE() << "no paragraph holds " << text.toStdString();
    static const RtfParagraph none;
    return none;
}

constexpr quint32 kRed = 0xFF0000;
constexpr quint32 kBlue = 0x0000FF;

} // namespace

TEST(RtfReaderTest, ColoursFontsAndAlignmentOfALibreOfficeFile)
{
    // "soffice --headless --infilter='HTML (StarWriter)' --convert-to rtf" of a page with a
    // red centred title, a blue line, a Courier New line, aligned lines and a highlight.
    const RtfDocument doc = Read(DataFile("libreoffice-updates.rtf"));
    const RtfParagraph& title = ParagraphWith(doc, "Cartfeeder Updates");
    EXPECT_EQ(title.Alignment, RtfAlignment::Center);
    const RtfRun titleRun = RunWith(title, "Cartfeeder Updates");
    EXPECT_EQ(titleRun.Color, kRed);
    EXPECT_TRUE(titleRun.Bold);
    EXPECT_EQ(titleRun.PointSize, 18);
    EXPECT_EQ(titleRun.FontFamily, "DejaVu Serif"); // the document's default font

    const RtfRun blue = RunWith(ParagraphWith(doc, "Blue line"), "Blue line");
    EXPECT_EQ(blue.Color, kBlue);
    EXPECT_EQ(blue.FontFamily, "DejaVu Serif");
    EXPECT_EQ(ParagraphWith(doc, "Blue line").Alignment, RtfAlignment::Left);
    // \cf0 and the colour table's empty first entry are the usual colour.
    EXPECT_EQ(RunWith(ParagraphWith(doc, "Right-aligned"), "Right").Color, std::nullopt);

    const RtfRun courier = RunWith(ParagraphWith(doc, "Courier New line"), "Courier");
    EXPECT_EQ(courier.FontFamily, "Courier New");
    EXPECT_EQ(courier.Color, std::nullopt);
    EXPECT_EQ(ParagraphWith(doc, "Right-aligned").Alignment, RtfAlignment::Right);
    EXPECT_EQ(ParagraphWith(doc, "Justified").Alignment, RtfAlignment::Justify);

    const RtfParagraph& marked = ParagraphWith(doc, "highlighted");
    EXPECT_EQ(RunWith(marked, "highlighted words").Highlight, 0xFFFF00u);
    EXPECT_EQ(RunWith(marked, "Marked").Highlight, std::nullopt);
    EXPECT_EQ(RunWith(marked, "here").Highlight, std::nullopt);
}

TEST(RtfReaderTest, ListsIndentsBreaksAndTablesOfALibreOfficeFile)
{
    const RtfDocument doc = Read(DataFile("libreoffice-updates.rtf"));
    // Bullets and numbers come as text before a tab, hanging at the list's indent.
    const RtfParagraph& bullet = ParagraphWith(doc, "First bullet");
    EXPECT_EQ(bullet.Text(), QString::fromUtf8("•\tFirst bullet "));
    EXPECT_EQ(RunWith(bullet, QString::fromUtf8("•")).FontFamily, "OpenSymbol");
    EXPECT_EQ(bullet.LeftIndent, 709);
    EXPECT_EQ(bullet.FirstLineIndent, -283);
    EXPECT_EQ(bullet.TabStops, QList<RtfTabStop>({{709, RtfTabStop::Left}}));
    EXPECT_EQ(ParagraphWith(doc, "Second bullet").Text(), QString::fromUtf8("•\tSecond bullet "));
    EXPECT_EQ(ParagraphWith(doc, "First step").Text(), " 1.\tFirst step ");
    EXPECT_EQ(ParagraphWith(doc, "Second step").Text(), " 2.\tSecond step ");
    EXPECT_EQ(ParagraphWith(doc, "Second step").LeftIndent, 709);

    EXPECT_EQ(ParagraphWith(doc, "Indented by").LeftIndent, 1134);
    EXPECT_EQ(ParagraphWith(doc, "Indented by").FirstLineIndent, 0);
    EXPECT_EQ(ParagraphWith(doc, "Hanging").LeftIndent, 567);
    EXPECT_EQ(ParagraphWith(doc, "Hanging").FirstLineIndent, -283);
    // Leaving the list and the indents: a later paragraph starts afresh.
    EXPECT_EQ(ParagraphWith(doc, "After the table").LeftIndent, 0);
    EXPECT_TRUE(ParagraphWith(doc, "After the table").TabStops.isEmpty());
    EXPECT_FALSE(ParagraphWith(doc, "After the table").TableRow);

    EXPECT_EQ(ParagraphWith(doc, "Line one").Text(),
              QString("Line one") + QChar::LineSeparator + "Line two after a break");
    EXPECT_EQ(doc.DefaultTabWidth, 709);

    // Each table row is one paragraph of tab-separated cells.
    const RtfParagraph& header = ParagraphWith(doc, "Cart\t");
    EXPECT_TRUE(header.TableRow);
    EXPECT_EQ(header.Text(), "Cart\tTitle\tLength");
    const RtfParagraph& row = ParagraphWith(doc, "1234");
    EXPECT_TRUE(row.TableRow);
    EXPECT_EQ(row.Text(), "1234\tMorning jingle\t0:05");
    qsizetype rows = 0;
    for (const RtfParagraph& paragraph : doc.Paragraphs) {
        rows += paragraph.TableRow ? 1 : 0;
    }
    EXPECT_EQ(rows, 2);
}

TEST(RtfReaderTest, TabStopsHighlightAndFontOfALibreOfficeFile)
{
    // Converted from a small .fodt: tab stops of three kinds, a green highlight, a
    // monospaced green run and a line break.
    const RtfDocument doc = Read(DataFile("libreoffice-tabs.rtf"));
    const RtfParagraph& tabs = ParagraphWith(doc, "Cart");
    EXPECT_EQ(tabs.Text(), "Cart\tTitle\t0:05\tend");
    EXPECT_FALSE(tabs.TableRow);
    EXPECT_EQ(tabs.TabStops, QList<RtfTabStop>({{1701, RtfTabStop::Left},
                                                {4535, RtfTabStop::Right},
                                                {5669, RtfTabStop::Center}}));
    const RtfParagraph& green = ParagraphWith(doc, "Green");
    EXPECT_EQ(RunWith(green, "highlight").Highlight, 0x00FF00u);
    EXPECT_EQ(RunWith(green, "highlight").Color, std::nullopt);
    EXPECT_EQ(RunWith(green, "mono").FontFamily, "Liberation Mono");
    EXPECT_EQ(RunWith(green, "mono").Color, 0x008000u);
    EXPECT_EQ(RunWith(green, "second line").FontFamily, "DejaVu Serif");
    EXPECT_EQ(green.Text(),
              QString("Green highlight and mono green") + QChar::LineSeparator + "second line");
}

TEST(RtfReaderTest, FontAndColourTablesInTheirVariousForms)
{
    // Entries without groups, a missing first entry, alternative names, \plain and \deff.
    const RtfDocument doc =
        Read("{\\rtf1\\ansi\\deff1{\\fonttbl\\f0\\fswiss Helvetica;\\f1\\froman Times{\\*\\falt "
             "Roman};\\f2 \\'43ourier  ;}{\\colortbl\\red10\\green20\\blue30;\\red255;;}"
             "a\\f0\\cf1 b\\cf0 c\\f2\\cf2 d\\plain e\\f7\\cf9 f\\highlight1 g\\highlight0 h\\cb0 i"
             "\\chcbpat1 j}");
    const RtfParagraph& p = doc.Paragraphs[0];
    EXPECT_EQ(p.Text(), "abcdefghij");
    EXPECT_EQ(RunWith(p, "a").FontFamily, "Times");
    EXPECT_EQ(RunWith(p, "a").Color, std::nullopt);
    EXPECT_EQ(RunWith(p, "b").FontFamily, "Helvetica");
    EXPECT_EQ(RunWith(p, "b").Color, 0xFF0000u); // missing components are 0
    EXPECT_EQ(RunWith(p, "c").Color, 0x0A141Eu); // a real colour at index 0
    EXPECT_EQ(RunWith(p, "d").FontFamily, "Courier");
    EXPECT_EQ(RunWith(p, "d").Color, std::nullopt); // an empty entry
    EXPECT_EQ(RunWith(p, "e").FontFamily, "Times");
    // Numbers the tables do not hold mean the box's own font and the usual colour.
    EXPECT_EQ(RunWith(p, "f").FontFamily, "");
    EXPECT_EQ(RunWith(p, "f").Color, std::nullopt);
    EXPECT_EQ(RunWith(p, "g").Highlight, 0xFF0000u);
    EXPECT_EQ(RunWith(p, "h").Highlight, std::nullopt);
    EXPECT_EQ(RunWith(p, "i").Highlight, std::nullopt); // never black on black
    EXPECT_EQ(RunWith(p, "j").Highlight, 0xFF0000u);

    // Without a font table every run is in the box's own font.
    EXPECT_EQ(Read("{\\rtf1 x}").Paragraphs[0].Runs[0].FontFamily, "");
}

TEST(RtfReaderTest, BulletsOfSymbolFontsBecomeBullets)
{
    // Word and WordPad write the bullet as byte B7 of the Symbol font.
    const RtfDocument doc =
        Read("{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}{\\f1\\fnil\\fcharset2 Symbol;}"
             "{\\f2\\fcharset2 Wingdings;}}{\\pntext\\f1\\'b7\\tab}One\\par"
             "{\\listtext\\f2 \\'a7\\tab}Two \\'b7\\par}");
    EXPECT_EQ(doc.Paragraphs[0].Text(), QString::fromUtf8("•\tOne"));
    EXPECT_EQ(doc.Paragraphs[1].Text(), QString::fromUtf8("▪\tTwo ·"));
    // Drawn in the symbol font, the character would need its glyph there; in the document's
    // own font it is an ordinary character. Other bytes of Symbol are Greek and mathematics.
    EXPECT_EQ(RunWith(doc.Paragraphs[0], QString::fromUtf8("•")).FontFamily, "Arial");
    EXPECT_EQ(RunWith(doc.Paragraphs[1], QString::fromUtf8("▪")).FontFamily, "Arial");
    // Glyph numbers also come as characters of the private range the font's own table uses.
    EXPECT_EQ(Plain("{\\rtf1{\\fonttbl{\\f1\\fcharset2 Symbol;}}{\\f1 a\\'b3\\'a5 p\\'b9 "
                    "W\\u-3913?}\\u-3913?}"),
              QString::fromUtf8("α≥∞ π≠ Ω•\uF0B7"));
    // The font's name in any case.
    EXPECT_EQ(Plain("{\\rtf1{\\fonttbl{\\f1\\fcharset2 SYMBOL;}{\\f2\\fcharset2 WINGDINGS;}}"
                    "{\\f1 \\'b7\\'a5}{\\f2 \\'a7}}"),
              QString::fromUtf8("•∞▪"));
}

TEST(RtfReaderTest, ParagraphFormatsLastUntilPard)
{
    const RtfDocument doc =
        Read("{\\rtf1\\qc\\li720\\fi-360\\tqr\\tx5000\\tx6000 a\\par b\\par\\pard\\qr c\\par"
             "\\pard{\\qj d}\\par\\pard\\qd\\li-100 e\\par\\pard\\qc f}");
    ASSERT_EQ(doc.Paragraphs.size(), 6);
    for (int i : {0, 1}) {
        EXPECT_EQ(doc.Paragraphs[i].Alignment, RtfAlignment::Center);
        EXPECT_EQ(doc.Paragraphs[i].LeftIndent, 720);
        EXPECT_EQ(doc.Paragraphs[i].FirstLineIndent, -360);
        EXPECT_EQ(doc.Paragraphs[i].TabStops,
                  QList<RtfTabStop>({{5000, RtfTabStop::Right}, {6000, RtfTabStop::Left}}));
    }
    EXPECT_EQ(doc.Paragraphs[2].Alignment, RtfAlignment::Right);
    EXPECT_EQ(doc.Paragraphs[2].LeftIndent, 0);
    EXPECT_TRUE(doc.Paragraphs[2].TabStops.isEmpty());
    // The format in force at the paragraph mark counts.
    EXPECT_EQ(doc.Paragraphs[3].Alignment, RtfAlignment::Left);
    EXPECT_EQ(doc.Paragraphs[4].Alignment, RtfAlignment::Justify);
    EXPECT_EQ(doc.Paragraphs[4].LeftIndent, -100);
    // The last paragraph needs no mark.
    EXPECT_EQ(doc.Paragraphs[5].Alignment, RtfAlignment::Center);
    EXPECT_EQ(doc.DefaultTabWidth, RtfDocument::DefaultTabWidthTwips);

    // Spacing around paragraphs and between lines: at least (positive), exactly (negative) or
    // in 240ths of a line; bounded as in word processors, spacing before and after at 0 below.
    const RtfDocument spaced =
        Read("{\\rtf1\\sb240\\sa120\\sl360\\slmult1 a\\par\\sl-300\\slmult0 b"
             "\\par\\pard\\sl-480\\slmult1\\sb99999 c\\par\\pard\\slmult1\\sb-240\\sa-1 d}");
    ASSERT_EQ(spaced.Paragraphs.size(), 4);
    const auto spacing = [&](int i) {
        const RtfParagraph& p = spaced.Paragraphs[i];
        return std::tuple(p.SpaceBefore, p.SpaceAfter, p.LineSpacing, p.LineSpacingMultiple);
    };
    EXPECT_EQ(spacing(0), std::tuple(240, 120, 360, true));
    EXPECT_EQ(spacing(1), std::tuple(240, 120, -300, false));
    EXPECT_EQ(spacing(2), std::tuple(31680, 0, 480, true));
    EXPECT_EQ(spacing(3), std::tuple(0, 0, 0, false));

    // Tab stops are bounded.
    QByteArray many = "{\\rtf1";
    for (int i = 0; i < 1000; ++i) {
        many += "\\tx" + QByteArray::number(i);
    }
    EXPECT_EQ(Read(many + " x}").Paragraphs[0].TabStops.size(), RtfParagraph::MaxTabStops);
    // And, as indents, in reach: the viewer computes with them.
    const RtfParagraph far =
        Read("{\\rtf1\\li99999999999\\fi-2147483648\\tx-40000 x}").Paragraphs[0];
    ASSERT_EQ(far.TabStops.size(), 1);
    EXPECT_EQ(std::tuple(far.LeftIndent, far.FirstLineIndent, far.TabStops[0].Position),
              std::tuple(31680, -31680, -31680));
}

TEST(RtfReaderTest, TableRowsAreTabSeparatedCells)
{
    // As Word writes them: row properties after the cells, in a group with the row mark;
    // a cell of two paragraphs; an empty cell in the middle and one at the end.
    const RtfDocument doc =
        Read("{\\rtf1 before\\par\\pard\\intbl one\\par two\\cell \\cell {\\b three}\\cell "
             "\\cell\\pard\\intbl{\\trowd\\cellx1000\\cellx2000\\cellx3000\\cellx4000\\row}"
             "\\pard\\intbl x\\tab y\\cell z\\cell\\row\\pard after\\par}");
    ASSERT_EQ(doc.Paragraphs.size(), 4) << doc.PlainText().toStdString();
    EXPECT_FALSE(doc.Paragraphs[0].TableRow);
    EXPECT_TRUE(doc.Paragraphs[1].TableRow);
    EXPECT_EQ(doc.Paragraphs[1].Text(), QString("one") + QChar::LineSeparator + "two\t\tthree\t");
    EXPECT_TRUE(RunWith(doc.Paragraphs[1], "three").Bold);
    // A tab inside a cell cannot be told from a cell's end.
    EXPECT_EQ(doc.Paragraphs[2].Text(), "x\ty\tz");
    EXPECT_TRUE(doc.Paragraphs[2].TableRow);
    EXPECT_EQ(doc.Paragraphs[3].Text(), "after");
    EXPECT_FALSE(doc.Paragraphs[3].TableRow);

    // Cells without a row mark, and a row mark without cells.
    const RtfDocument loose = Read("{\\rtf1 a\\cell b\\par\\row\\intbl c\\par d}");
    ASSERT_EQ(loose.Paragraphs.size(), 3);
    EXPECT_EQ(loose.Paragraphs[0].Text(), "a\tb");
    EXPECT_FALSE(loose.Paragraphs[0].TableRow);
    EXPECT_TRUE(loose.Paragraphs[1].TableRow);
    EXPECT_TRUE(loose.Paragraphs[1].Runs.isEmpty());
    EXPECT_EQ(loose.Paragraphs[2].Text(), QString("c") + QChar::LineSeparator + "d");
}
