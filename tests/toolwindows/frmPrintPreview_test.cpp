#include "toolwindows/frmPrintPreview.h"

#include "platform/richtext/RtfReader.h"
#include "platform/system/ScriptedAnswerer.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/RtfPrinting.h"
#include "tests/support/TempHome.h"

#include <QAbstractTextDocumentLayout>
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QScreen>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QTextLayout>
#include <QTextTable>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

const QByteArray kRtf = "{\\rtf1\\ansi\\ansicpg1252{\\fonttbl{\\f0 Arial;}}{\\colortbl;}"
                        "\\pard\\fs20 Update \\b Information\\b0\\par "
                        "\\i caf\\'e9\\i0  \\ul \\u8364?\\ulnone\\fs32  big\\par "
                        "\\pard\\sb240\\sa120\\sl360\\slmult1\\fs20 E = mc{\\super 2}, "
                        "H{\\sub 2}O, {\\strike old}\\par }";

// Made by LibreOffice Writer from a web page: a red centred title, a blue line, a Courier New
// line, a right-aligned line, a highlight, bullets, numbers, indents, a line break and a table.
QByteArray LibreOfficeUpdates()
{
    QFile file(CF_SOURCE_DIR "/tests/platform/richtext/data/libreoffice-updates.rtf");
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return file.readAll();
}

double TwipsToPixels(int twips)
{
    return twips * QGuiApplication::primaryScreen()->logicalDotsPerInchX() / 1440.0;
}

class PrintPreviewTest : public ::testing::Test
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

    static QByteArray Contents(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // The format of the character at the start of the first occurrence of the text.
    QTextCharFormat FormatAt(const QString& text) const
    {
        const QTextCursor found = viewer.rtfFile->document()->find(text);
        EXPECT_FALSE(found.isNull()) << text.toStdString();
        QTextCursor cursor(viewer.rtfFile->document());
        cursor.setPosition(found.selectionStart() + 1);
        return cursor.charFormat();
    }

    void Show(const QString& path, const QString& caption = QString())
    {
        bool floating = false;
        viewer.DisplayFile(path, caption, 0, floating);
    }

    // Answers the save dialog with the name and records what it was asked.
    void SaveAs(const QString& name)
    {
        viewer.AskSaveFileName = [this, name](const QString& title, const QString& filter,
                                              const QString& proposed) {
            askedTitle = title;
            askedFilter = filter;
            askedName = proposed;
            return name;
        };
        viewer.toolButtons_ButtonClick("save");
    }

    TempHome home;
    ScriptedAnswerer answerer{[](const MessageBoxRequest& request) {
        ADD_FAILURE() << "unexpected box: " << request.Prompt.toStdString();
    }};
    frmPrintPreview viewer;
    QString askedTitle, askedFilter, askedName;
};

} // namespace

TEST_F(PrintPreviewTest, AMissingFileShowsNothing)
{
    Show(home.File("missing.log"));
    EXPECT_FALSE(viewer.isVisible());
    EXPECT_EQ(viewer.windowTitle(), "Print Preview");
    EXPECT_EQ(viewer.CurrentFile(), "");
}

TEST_F(PrintPreviewTest, CaptionIsGivenOrNamesTheFile)
{
    const QString path = Write("x.log", "line\n");
    Show(path);
    EXPECT_TRUE(viewer.isVisible());
    EXPECT_EQ(viewer.windowTitle(), "Print Preview - " + path);
    Show(path, "Update Information");
    EXPECT_EQ(viewer.windowTitle(), "Update Information");
}

TEST_F(PrintPreviewTest, RichTextFileIsShownWithItsFormats)
{
    Show(Write("UPDATES.rtf", kRtf));
    EXPECT_EQ(viewer.rtfFile->toPlainText(),
              QString::fromUtf8("Update Information\ncafé € big\nE = mc2, H2O, old"));
    EXPECT_EQ(FormatAt("Information").fontWeight(), QFont::Bold);
    EXPECT_NE(FormatAt("Update").fontWeight(), QFont::Bold);
    EXPECT_TRUE(FormatAt("café").fontItalic());
    EXPECT_TRUE(FormatAt(QString::fromUtf8("€")).fontUnderline());
    EXPECT_EQ(FormatAt("big").fontPointSize(), 16);
    EXPECT_EQ(FormatAt("Update").fontPointSize(), 10);
    EXPECT_EQ(FormatAt("2, H").verticalAlignment(), QTextCharFormat::AlignSuperScript);
    EXPECT_EQ(FormatAt("2O").verticalAlignment(), QTextCharFormat::AlignSubScript);
    EXPECT_EQ(FormatAt("O, ").verticalAlignment(), QTextCharFormat::AlignNormal);
    EXPECT_TRUE(FormatAt("old").fontStrikeOut());
    EXPECT_FALSE(FormatAt("big").fontStrikeOut());
    const QTextBlockFormat spaced = viewer.rtfFile->document()->find("mc").blockFormat();
    EXPECT_NEAR(spaced.topMargin(), TwipsToPixels(240), 0.01);
    EXPECT_NEAR(spaced.bottomMargin(), TwipsToPixels(120), 0.01);
    EXPECT_EQ(spaced.lineHeightType(), QTextBlockFormat::ProportionalHeight);
    EXPECT_EQ(spaced.lineHeight(), 150);
    const QTextBlockFormat plain = viewer.rtfFile->document()->firstBlock().blockFormat();
    EXPECT_EQ(plain.topMargin() + plain.bottomMargin(), 0);
    EXPECT_EQ(plain.lineHeightType(), QTextBlockFormat::SingleHeight);
    EXPECT_EQ(viewer.rtfFile->textCursor().position(), 0);
    EXPECT_FALSE(viewer.rtfFile->textCursor().hasSelection());
}

TEST_F(PrintPreviewTest, UpdatesFromAWordProcessorShowWithColoursAlignmentFontsAndStructure)
{
    Show(Write("UPDATES.rtf", LibreOfficeUpdates()));
    QTextDocument* document = viewer.rtfFile->document();
    const auto blockWith = [&](const QString& text) { return document->find(text).block(); };

    EXPECT_EQ(blockWith("Cartfeeder Updates").blockFormat().alignment() & Qt::AlignHorizontal_Mask,
              Qt::AlignHCenter);
    EXPECT_EQ(FormatAt("Cartfeeder Updates").foreground().color(), QColor(Qt::red));
    EXPECT_EQ(FormatAt("Cartfeeder Updates").fontFamilies().toStringList(),
              QStringList{"DejaVu Serif"});
    EXPECT_EQ(FormatAt("Blue line").foreground().color(), QColor(Qt::blue));
    EXPECT_EQ(FormatAt("Courier New line").fontFamilies().toStringList(),
              QStringList{"Courier New"});
    EXPECT_FALSE(FormatAt("Courier New line").hasProperty(QTextFormat::ForegroundBrush));
    EXPECT_EQ(blockWith("Right-aligned").blockFormat().alignment() & Qt::AlignHorizontal_Mask,
              Qt::AlignRight);
    EXPECT_EQ(blockWith("Justified").blockFormat().alignment() & Qt::AlignHorizontal_Mask,
              Qt::AlignJustify);
    EXPECT_EQ(FormatAt("highlighted").background().color(), QColor(Qt::yellow));
    EXPECT_FALSE(FormatAt("Marked").hasProperty(QTextFormat::BackgroundBrush));

    // The bullet hangs in front of the text, which starts at the list's indent.
    const QTextBlock bullet = blockWith("First bullet");
    EXPECT_EQ(bullet.text(), QString::fromUtf8("•\tFirst bullet "));
    EXPECT_NEAR(bullet.blockFormat().leftMargin(), TwipsToPixels(709), 0.01);
    EXPECT_NEAR(bullet.blockFormat().textIndent(), TwipsToPixels(-283), 0.01);
    document->documentLayout()->documentSize(); // lays the text out
    const QTextLine line = bullet.layout()->lineAt(0);
    EXPECT_NEAR(line.cursorToX(0), TwipsToPixels(709 - 283), 0.5);
    EXPECT_NEAR(line.cursorToX(2), TwipsToPixels(709), 0.5); // "First", after the tab
    EXPECT_EQ(blockWith("Second step").text(), " 2.\tSecond step ");
    EXPECT_NEAR(blockWith("Indented by").blockFormat().leftMargin(), TwipsToPixels(1134), 0.01);
    EXPECT_EQ(blockWith("Line one").text(),
              QString("Line one") + QChar::LineSeparator + "Line two after a break");

    const QTextTable* table = QTextCursor(blockWith("Morning jingle")).currentTable();
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->rows(), 2);
    EXPECT_EQ(table->columns(), 3);
    EXPECT_EQ(table->cellAt(0, 2).firstCursorPosition().block().text(), "Length");
    EXPECT_EQ(table->cellAt(1, 1).firstCursorPosition().block().text(), "Morning jingle");
    EXPECT_EQ(QTextCursor(blockWith("After the table")).currentTable(), nullptr);
    EXPECT_EQ(viewer.rtfFile->textCursor().position(), 0);
}

TEST_F(PrintPreviewTest, ABulletWithoutATabStopHangsAtTheIndent)
{
    // As WordPad writes a bullet: no tab stop, the left indent serves as one.
    const QByteArray rtf = "{\\rtf1{\\fonttbl{\\f0 Arial;}{\\f1\\fcharset2 Symbol;}}"
                           "\\pard\\fi-720\\li720{\\pntext\\f1\\'b7\\tab}Item\\par}";
    Show(Write("UPDATES.rtf", rtf));
    const QTextBlock block = viewer.rtfFile->document()->firstBlock();
    EXPECT_EQ(block.text(), QString::fromUtf8("•\tItem"));
    // Not in Symbol, whose face has no glyph at U+2022 and is never substituted.
    EXPECT_EQ(FormatAt(QString::fromUtf8("•")).fontFamilies().toStringList(), QStringList{"Arial"});
    viewer.rtfFile->document()->documentLayout()->documentSize();
    EXPECT_NEAR(block.layout()->lineAt(0).cursorToX(2), TwipsToPixels(720), 0.5);

    // The stop is the viewer's, not the document's.
    SaveAs(home.File("saved.rtf"));
    const std::optional<RtfDocument> saved = RtfReader::Read(Contents(home.File("saved.rtf")));
    ASSERT_TRUE(saved.has_value());
    EXPECT_EQ(*saved, *RtfReader::Read(rtf));
}

TEST_F(PrintPreviewTest, SavingRichTextKeepsWhatAWordProcessorWrote)
{
    const QByteArray updates = LibreOfficeUpdates();
    Show(Write("UPDATES.rtf", updates));
    const QString target = home.File("saved.rtf");
    SaveAs(target);
    const std::optional<RtfDocument> saved = RtfReader::Read(Contents(target));
    ASSERT_TRUE(saved.has_value());
    EXPECT_EQ(*saved, *RtfReader::Read(updates)) << Contents(target).toStdString();
    // Not merely equally poor: the formats are there.
    const RtfParagraph& title = saved->Paragraphs.first();
    EXPECT_EQ(title.Alignment, RtfAlignment::Center);
    ASSERT_FALSE(title.Runs.isEmpty());
    EXPECT_EQ(title.Runs[0].Color, 0xFF0000u);
    EXPECT_TRUE(Contents(target).contains("Courier New;"));
    EXPECT_EQ(Contents(target).count("\\row"), 2);

    // And shown again, the table is a table.
    frmPrintPreview again;
    bool floating = false;
    again.DisplayFile(target, "", 0, floating);
    EXPECT_EQ(again.rtfFile->toHtml(), viewer.rtfFile->toHtml());
}

TEST_F(PrintPreviewTest, AFileThatIsNotRichTextIsShownAsPlainText)
{
    // A log written on Windows: CR LF line ends, Windows-1252 bytes, and braces and
    // backslashes that mean nothing here.
    const QByteArray log = "10:00:01 GRP:1:Imported 'caf\xE9.wav' {\\b C:\\Audio}\r\n"
                           "10:01:00 GRP:1:Deleted\r\n";
    Show(Write("Cartfeeder.log", log));
    EXPECT_EQ(viewer.rtfFile->toPlainText(),
              QString::fromUtf8("10:00:01 GRP:1:Imported 'café.wav' {\\b C:\\Audio}\n"
                                "10:01:00 GRP:1:Deleted\n"));

    // An empty file shows an empty box.
    Show(Write("empty.log", ""));
    EXPECT_TRUE(viewer.isVisible());
    EXPECT_EQ(viewer.rtfFile->toPlainText(), "");
}

TEST_F(PrintPreviewTest, RefreshRereadsTheFileAndEmptiesAGivenText)
{
    const QString path = Write("today.log", "first\n");
    Show(path);
    Write("today.log", "first\nsecond\n");
    viewer.Button("refresh")->trigger();
    EXPECT_EQ(viewer.rtfFile->toPlainText(), "first\nsecond\n");

    frmPrintPreview textViewer;
    bool floating = false;
    textViewer.DisplayText("Given text", "", 0, floating);
    EXPECT_EQ(textViewer.windowTitle(), "Print Preview");
    EXPECT_EQ(textViewer.rtfFile->toPlainText(), "Given text");
    textViewer.toolButtons_ButtonClick("refresh");
    EXPECT_EQ(textViewer.rtfFile->toPlainText(), "");
    // Keys of no button do nothing.
    textViewer.toolButtons_ButtonClick("savesep");
    textViewer.toolButtons_ButtonClick("tick");
}

TEST_F(PrintPreviewTest, SavesRichTextByTheTypedExtensionOnly)
{
    const QString source = Write("UPDATES.rtf", kRtf);
    Show(source);
    const QString target = home.File("copy.RTF");
    SaveAs(target);
    EXPECT_EQ(askedTitle, "Select File to Save to");
    EXPECT_TRUE(askedFilter.startsWith("Rich Text Files (*.rtf)"));
    EXPECT_EQ(askedName, "UPDATES.rtf");

    // What was saved reads back as what was shown.
    const std::optional<RtfDocument> saved = RtfReader::Read(Contents(target));
    ASSERT_TRUE(saved.has_value()) << Contents(target).toStdString();
    const std::optional<RtfDocument> original = RtfReader::Read(kRtf);
    EXPECT_EQ(*saved, *original);

    frmPrintPreview again;
    bool floating = false;
    again.DisplayFile(target, "", 0, floating);
    EXPECT_EQ(again.rtfFile->toPlainText(), viewer.rtfFile->toPlainText());
}

TEST_F(PrintPreviewTest, SavesPlainTextForAnyOtherExtension)
{
    Show(Write("UPDATES.rtf", kRtf));
    // The rich-text filter stays chosen in the dialog; the name decides.
    SaveAs(home.File("notes.txt"));
    EXPECT_EQ(QString::fromUtf8(Contents(home.File("notes.txt"))),
              QString::fromUtf8("Update Information\ncafé € big\nE = mc2, H2O, old"));
    SaveAs(home.File("noextension"));
    EXPECT_FALSE(Contents(home.File("noextension")).startsWith("{\\rtf"));
}

TEST_F(PrintPreviewTest, SaveCancelledWritesNothingAndAFailedSaveIsReported)
{
    Show(Write("a.log", "text\n"));
    SaveAs(QString());
    EXPECT_EQ(askedName, "a.log");

    answerer.Expect(MsgBoxResult::OK);
    SaveAs(home.File("no/such/folder/a.txt"));
    ASSERT_EQ(answerer.Shown().size(), 1);
    EXPECT_TRUE(answerer.Shown()[0].Prompt.startsWith("There was a problem while saving to " +
                                                      home.File("no/such/folder/a.txt")));
    EXPECT_FALSE(QFile::exists(home.File("no/such/folder/a.txt")));
}

// A full disk (here a file-size limit) that shows only when the last buffered bytes go out.
TEST_F(PrintPreviewTest, SaveThatFailsPartwayIsReportedAndLeavesTheOldFile)
{
    Show(Write("big.log", QByteArray(8000, 'x') + "\n"));
    const QString target = Write("kept.txt", "the old notes\n");
    answerer.Expect(MsgBoxResult::OK);
    {
        const FileSizeLimit limit(4096);
        ASSERT_TRUE(limit.Ok());
        SaveAs(target);
    }
    ASSERT_EQ(answerer.Shown().size(), 1);
    EXPECT_TRUE(
        answerer.Shown()[0].Prompt.startsWith("There was a problem while saving to " + target));
    EXPECT_EQ(Contents(target), "the old notes\n");
}

TEST_F(PrintPreviewTest, PrintButtonNeedsAPrinter)
{
    if (!QPrinterInfo::availablePrinters().isEmpty()) {
        GTEST_SKIP() << "this machine has a printer";
    }
    EXPECT_FALSE(viewer.Button("print")->isEnabled());
    EXPECT_EQ(viewer.Button("print")->text(), "Print");
    EXPECT_EQ(viewer.Button("print")->toolTip(), "Print this information");
    EXPECT_EQ(viewer.Button("save")->toolTip(), "Save this information");
    EXPECT_EQ(viewer.Button("refresh")->toolTip(), "Refresh this Information");
}

TEST_F(PrintPreviewTest, PrintsTheSelectionOrEverything)
{
    Show(Write("a.log", "first line\nsecond line\n"));
    const QString pdf = home.File("out.pdf");
    bool offered = false;
    bool chooseSelection = false;
    viewer.AskPrinter = [&](QPrinter& printer, bool offerSelection, bool& selectionChosen) {
        offered = offerSelection;
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        selectionChosen = chooseSelection;
        return true;
    };

    viewer.toolButtons_ButtonClick("print");
    EXPECT_FALSE(offered);
    EXPECT_TRUE(Contents(pdf).startsWith("%PDF"));

    // With a selection, the selection option is offered; keeping it keeps the selection.
    QTextCursor cursor(viewer.rtfFile->document());
    cursor.setPosition(6);
    cursor.setPosition(10, QTextCursor::KeepAnchor);
    viewer.rtfFile->setTextCursor(cursor);
    chooseSelection = true;
    QFile::remove(pdf);
    viewer.toolButtons_ButtonClick("print");
    EXPECT_TRUE(offered);
    EXPECT_EQ(viewer.rtfFile->textCursor().selectedText(), "line");
    EXPECT_TRUE(Contents(pdf).startsWith("%PDF"));

    // Choosing all prints the whole text, leaving the caret at the start.
    chooseSelection = false;
    viewer.toolButtons_ButtonClick("print");
    EXPECT_TRUE(offered);
    EXPECT_FALSE(viewer.rtfFile->textCursor().hasSelection());
    EXPECT_EQ(viewer.rtfFile->textCursor().position(), 0);
}

TEST_F(PrintPreviewTest, PrintCancelledDoesNothingAndAFailureIsReported)
{
    Show(Write("a.log", "text\n"));
    viewer.AskPrinter = [](QPrinter&, bool, bool&) { return false; };
    viewer.toolButtons_ButtonClick("print");

    viewer.AskPrinter = [this](QPrinter& printer, bool, bool&) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(home.File("no/such/folder/out.pdf"));
        return true;
    };
    answerer.Expect(MsgBoxResult::OK);
    viewer.toolButtons_ButtonClick("print");
    ASSERT_EQ(answerer.Shown().size(), 1);
    EXPECT_TRUE(answerer.Shown()[0].Prompt.startsWith("There was a problem while printing."));
}

TEST_F(PrintPreviewTest, ModalShowUnloadsAfterwards)
{
    const QString path = Write("a.log", "text\n");
    bool checked = false;
    QTimer::singleShot(0, [&] {
        EXPECT_TRUE(viewer.isVisible());
        EXPECT_TRUE(viewer.isModal());
        EXPECT_TRUE(viewer.windowFlags() & Qt::WindowStaysOnTopHint);
        EXPECT_EQ(viewer.CurrentFile(), path);
        EXPECT_EQ(viewer.rtfFile->toPlainText(), "text\n");
        checked = true;
        viewer.cmdOK->click();
    });
    bool floating = true;
    viewer.DisplayFile(path, "", 1, floating);
    EXPECT_TRUE(checked);
    EXPECT_FALSE(viewer.isVisible());
    EXPECT_FALSE(viewer.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(viewer.CurrentFile(), "");
    EXPECT_EQ(viewer.rtfFile->toPlainText(), "");
}

TEST_F(PrintPreviewTest, ClosingClearsTheWindow)
{
    Show(Write("a.log", "text\n"));
    viewer.close();
    EXPECT_FALSE(viewer.isVisible());
    EXPECT_EQ(viewer.CurrentFile(), "");
    EXPECT_EQ(viewer.rtfFile->toPlainText(), "");
}

TEST(PrintPreviewSaveDialogTest, ProposesTheFilesOwnNameAndTheTypedNameDecides)
{
    TempHome home;
    const QString source = home.File("2026-12-07-vm.log");
    {
        QFile file(source);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("09:30:15 Imported 'news.wav' into Cart 1234\n");
    }
    frmPrintPreview viewer;
    bool floating = false;
    viewer.DisplayFile(source, QString(), 0, floating);

    // The real dialog: what it proposes, accepted as proposed (in the test's folder).
    QString proposed;
    QString filter;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(name, nullptr);
        proposed = name->text();
        filter = dialog->selectedNameFilter();
        dialog->setDirectory(home.Path());
        name->setText(proposed);
        static_cast<QDialog*>(dialog)->accept();
    });
    viewer.toolButtons_ButtonClick("save");
    EXPECT_EQ(proposed.toStdString(), "2026-12-07-vm.log");
    EXPECT_EQ(filter.toStdString(), "Rich Text Files (*.rtf)");
    // Saved under that name, as plain text: the name decides, not the filter.
    QFile saved(home.File("2026-12-07-vm.log"));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), "09:30:15 Imported 'news.wav' into Cart 1234\n");
    EXPECT_FALSE(QFile::exists(home.File("2026-12-07-vm.rtf")));
}
