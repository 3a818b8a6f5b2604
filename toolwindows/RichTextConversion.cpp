#include "toolwindows/RichTextConversion.h"

#include <QBrush>
#include <QColor>
#include <QGuiApplication>
#include <QScreen>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextTable>
#include <cmath>

namespace {

// Blocks and cells that only Qt's structure needs: the block that must precede or follow a
// table, and the cells that make a short row as wide as the table.
constexpr int kFillerProperty = QTextFormat::UserProperty;
// The tab stop added where a hanging first line meets the left indent, as word processors
// do without one (in pixels from the first line's start).
constexpr int kImplicitTabProperty = QTextFormat::UserProperty + 1;

double pixelsPerTwip()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return (screen ? screen->logicalDotsPerInchX() : 96.0) / 1440.0;
}

int toTwips(double pixels)
{
    return int(std::lround(pixels / pixelsPerTwip()));
}

QTextCharFormat charFormat(const RtfRun& run)
{
    QTextCharFormat format;
    format.setFontWeight(run.Bold ? QFont::Bold : QFont::Normal);
    format.setFontItalic(run.Italic);
    format.setFontUnderline(run.Underline);
    format.setFontStrikeOut(run.Strike);
    if (run.Script != RtfScript::Normal) {
        format.setVerticalAlignment(run.Script == RtfScript::Superscript
                                        ? QTextCharFormat::AlignSuperScript
                                        : QTextCharFormat::AlignSubScript);
    }
    if (run.PointSize > 0) {
        format.setFontPointSize(run.PointSize);
    }
    if (!run.FontFamily.isEmpty()) {
        format.setFontFamilies(QStringList{run.FontFamily});
    }
    if (run.Color) {
        format.setForeground(QColor::fromRgb(QRgb(*run.Color)));
    }
    if (run.Highlight) {
        format.setBackground(QColor::fromRgb(QRgb(*run.Highlight)));
    }
    return format;
}

RtfRun runFormat(const QTextCharFormat& format)
{
    RtfRun run;
    run.Bold = format.fontWeight() > QFont::Medium;
    run.Italic = format.fontItalic();
    run.Underline = format.fontUnderline();
    run.Strike = format.fontStrikeOut();
    run.Script =
        format.verticalAlignment() == QTextCharFormat::AlignSuperScript ? RtfScript::Superscript
        : format.verticalAlignment() == QTextCharFormat::AlignSubScript ? RtfScript::Subscript
                                                                        : RtfScript::Normal;
    run.PointSize = format.hasProperty(QTextFormat::FontPointSize) ? format.fontPointSize() : 0;
    if (format.hasProperty(QTextFormat::FontFamilies)) {
        run.FontFamily = format.fontFamilies().toStringList().value(0);
    }
    if (format.hasProperty(QTextFormat::ForegroundBrush)) {
        run.Color = format.foreground().color().rgb() & 0xFFFFFF;
    }
    if (format.hasProperty(QTextFormat::BackgroundBrush)) {
        run.Highlight = format.background().color().rgb() & 0xFFFFFF;
    }
    return run;
}

QTextBlockFormat blockFormat(const RtfParagraph& paragraph)
{
    const double scale = pixelsPerTwip();
    QTextBlockFormat format;
    switch (paragraph.Alignment) {
    case RtfAlignment::Left:
        format.setAlignment(Qt::AlignLeft);
        break;
    case RtfAlignment::Center:
        format.setAlignment(Qt::AlignHCenter);
        break;
    case RtfAlignment::Right:
        format.setAlignment(Qt::AlignRight);
        break;
    case RtfAlignment::Justify:
        format.setAlignment(Qt::AlignJustify);
        break;
    }
    format.setLeftMargin(std::max(paragraph.LeftIndent, 0) * scale);
    format.setTextIndent(paragraph.FirstLineIndent * scale);
    format.setTopMargin(paragraph.SpaceBefore * scale);
    format.setBottomMargin(paragraph.SpaceAfter * scale);
    if (paragraph.LineSpacing != 0 && paragraph.LineSpacingMultiple) {
        format.setLineHeight(paragraph.LineSpacing * 100.0 / 240,
                             QTextBlockFormat::ProportionalHeight);
    } else if (paragraph.LineSpacing > 0) {
        format.setLineHeight(paragraph.LineSpacing * scale, QTextBlockFormat::MinimumHeight);
    } else if (paragraph.LineSpacing < 0) {
        format.setLineHeight(-paragraph.LineSpacing * scale, QTextBlockFormat::FixedHeight);
    }

    // Qt measures tab stops from the start of each line, word processors from the left edge;
    // the first line counts, since that is where bullets and numbers stand.
    const int firstLineStart = std::max(paragraph.LeftIndent, 0) + paragraph.FirstLineIndent;
    QList<QTextOption::Tab> tabs;
    bool stopBeforeIndent = false;
    for (const RtfTabStop& stop : paragraph.TabStops) {
        static constexpr QTextOption::TabType kTypes[] = {
            QTextOption::LeftTab, QTextOption::CenterTab, QTextOption::RightTab,
            QTextOption::DelimiterTab};
        QTextOption::Tab tab((stop.Position - firstLineStart) * scale, kTypes[stop.Type]);
        if (stop.Type == RtfTabStop::Decimal) {
            tab.delimiter = QLocale::c().decimalPoint().at(0);
        }
        tabs.append(tab);
        stopBeforeIndent = stopBeforeIndent || (stop.Position > firstLineStart &&
                                                stop.Position <= paragraph.LeftIndent);
    }
    if (paragraph.FirstLineIndent < 0 && !stopBeforeIndent) {
        const double implicit = -paragraph.FirstLineIndent * scale;
        tabs.append(QTextOption::Tab(implicit, QTextOption::LeftTab));
        format.setProperty(kImplicitTabProperty, implicit);
    }
    std::stable_sort(tabs.begin(), tabs.end(),
                     [](const QTextOption::Tab& a, const QTextOption::Tab& b) {
                         return a.position < b.position;
                     });
    format.setTabPositions(tabs);
    return format;
}

void readBlockFormat(const QTextBlockFormat& format, RtfParagraph& paragraph)
{
    const Qt::Alignment alignment = format.alignment() & Qt::AlignHorizontal_Mask;
    paragraph.Alignment = alignment == Qt::AlignHCenter   ? RtfAlignment::Center
                          : alignment == Qt::AlignRight   ? RtfAlignment::Right
                          : alignment == Qt::AlignJustify ? RtfAlignment::Justify
                                                          : RtfAlignment::Left;
    paragraph.LeftIndent = toTwips(format.leftMargin());
    paragraph.FirstLineIndent = toTwips(format.textIndent());
    paragraph.SpaceBefore = toTwips(format.topMargin());
    paragraph.SpaceAfter = toTwips(format.bottomMargin());
    switch (format.lineHeightType()) {
    case QTextBlockFormat::ProportionalHeight:
        paragraph.LineSpacing = int(std::lround(format.lineHeight() * 240 / 100));
        paragraph.LineSpacingMultiple = true;
        break;
    case QTextBlockFormat::MinimumHeight:
        paragraph.LineSpacing = toTwips(format.lineHeight());
        break;
    case QTextBlockFormat::FixedHeight:
        paragraph.LineSpacing = -toTwips(format.lineHeight());
        break;
    default:
        break;
    }
    const double firstLineStart = format.leftMargin() + format.textIndent();
    bool implicitSeen = !format.hasProperty(kImplicitTabProperty);
    const double implicit = format.doubleProperty(kImplicitTabProperty);
    for (const QTextOption::Tab& tab : format.tabPositions()) {
        if (!implicitSeen && tab.position == implicit && tab.type == QTextOption::LeftTab) {
            implicitSeen = true;
            continue;
        }
        RtfTabStop stop;
        stop.Position = toTwips(tab.position + firstLineStart);
        stop.Type = tab.type == QTextOption::CenterTab      ? RtfTabStop::Center
                    : tab.type == QTextOption::RightTab     ? RtfTabStop::Right
                    : tab.type == QTextOption::DelimiterTab ? RtfTabStop::Decimal
                                                            : RtfTabStop::Left;
        paragraph.TabStops.append(stop);
    }
    std::stable_sort(
        paragraph.TabStops.begin(), paragraph.TabStops.end(),
        [](const RtfTabStop& a, const RtfTabStop& b) { return a.Position < b.Position; });
}

void appendBlockText(RtfDocument& document, const QTextBlock& block)
{
    for (auto it = block.begin(); !it.atEnd(); ++it) {
        const QTextFragment fragment = it.fragment();
        if (!fragment.isValid()) {
            continue;
        }
        QString text = fragment.text();
        text.remove(QChar::ObjectReplacementCharacter);
        document.Append(text, runFormat(fragment.charFormat()));
    }
}

void markFiller(QTextCursor cursor)
{
    QTextBlockFormat format = cursor.blockFormat();
    format.setProperty(kFillerProperty, true);
    cursor.setBlockFormat(format);
}

// Consecutive table rows make one table; cells are split at the tabs.
void insertTable(QTextCursor& cursor, const QList<RtfParagraph>& rows)
{
    int columns = 1;
    for (const RtfParagraph& row : rows) {
        columns = std::max<int>(columns, int(row.Text().count(u'\t')) + 1);
    }
    QTextTableFormat tableFormat;
    tableFormat.setBorder(1);
    tableFormat.setBorderBrush(QColor(Qt::gray));
    tableFormat.setBorderCollapse(true);
    tableFormat.setCellSpacing(0);
    tableFormat.setCellPadding(3);
    QTextTable* table = cursor.insertTable(int(rows.size()), columns, tableFormat);
    for (int r = 0; r < rows.size(); ++r) {
        const QTextBlockFormat format = blockFormat(rows.at(r));
        int column = 0;
        QTextCursor cell = table->cellAt(r, 0).firstCursorPosition();
        cell.setBlockFormat(format);
        for (const RtfRun& run : rows.at(r).Runs) {
            const QTextCharFormat runFormat = charFormat(run);
            const QStringList pieces = run.Text.split(u'\t');
            for (qsizetype i = 0; i < pieces.size(); ++i) {
                if (i > 0) {
                    // The tab that ended the cell keeps its format in the cell's block.
                    cell.setBlockCharFormat(runFormat);
                    cell = table->cellAt(r, ++column).firstCursorPosition();
                    cell.setBlockFormat(format);
                }
                cell.insertText(pieces.at(i), runFormat);
            }
        }
        while (++column < columns) {
            markFiller(table->cellAt(r, column).firstCursorPosition());
        }
    }
    cursor = table->lastCursorPosition();
    cursor.movePosition(QTextCursor::NextBlock);
}

void appendTable(RtfDocument& document, const QTextTable* table)
{
    for (int r = 0; r < table->rows(); ++r) {
        document.NewParagraph();
        RtfParagraph& row = document.Paragraphs.last();
        row.TableRow = true;
        readBlockFormat(table->cellAt(r, 0).firstCursorPosition().blockFormat(), row);
        for (int c = 0; c < table->columns(); ++c) {
            const QTextTableCell cell = table->cellAt(r, c);
            const QTextBlock first = cell.firstCursorPosition().block();
            if (first.blockFormat().boolProperty(kFillerProperty)) {
                break;
            }
            if (c > 0) {
                const QTextBlock previous = table->cellAt(r, c - 1).firstCursorPosition().block();
                document.Append(QStringLiteral("\t"), runFormat(previous.charFormat()));
            }
            for (QTextBlock block = first;
                 block.isValid() && block.position() <= cell.lastPosition(); block = block.next()) {
                if (block != first) {
                    document.Append(QString(QChar::LineSeparator), runFormat(block.charFormat()));
                }
                appendBlockText(document, block);
            }
        }
    }
}

} // namespace

void RichTextConversion::Fill(QTextDocument* target, const RtfDocument& source)
{
    target->clear();
    QTextOption option = target->defaultTextOption();
    option.setTabStopDistance(std::max(source.DefaultTabWidth * pixelsPerTwip(), 1.0));
    target->setDefaultTextOption(option);

    QTextCursor cursor(target);
    cursor.beginEditBlock();
    bool blockInUse = false; // the cursor's block already holds a paragraph
    for (qsizetype p = 0; p < source.Paragraphs.size(); ++p) {
        const RtfParagraph& paragraph = source.Paragraphs.at(p);
        if (paragraph.TableRow) {
            qsizetype end = p;
            while (end < source.Paragraphs.size() && source.Paragraphs.at(end).TableRow) {
                ++end;
            }
            if (!blockInUse) {
                // Qt keeps a block in front of every table.
                markFiller(cursor);
            }
            insertTable(cursor, source.Paragraphs.mid(p, end - p));
            p = end - 1;
            blockInUse = false;
            continue;
        }
        if (blockInUse) {
            cursor.insertBlock(blockFormat(paragraph), QTextCharFormat());
        } else {
            cursor.setBlockFormat(blockFormat(paragraph));
        }
        blockInUse = true;
        for (const RtfRun& run : paragraph.Runs) {
            cursor.insertText(run.Text, charFormat(run));
        }
    }
    if (!blockInUse) {
        markFiller(cursor); // Qt keeps a block after every table
    }
    cursor.endEditBlock();
}

RtfDocument RichTextConversion::FromTextDocument(const QTextDocument* source)
{
    RtfDocument document;
    document.Paragraphs.clear();
    document.DefaultTabWidth = toTwips(source->defaultTextOption().tabStopDistance());
    const QTextFrame* root = source->rootFrame();
    for (auto it = root->begin(); !it.atEnd(); ++it) {
        if (const QTextFrame* frame = it.currentFrame()) {
            if (const auto* table = qobject_cast<const QTextTable*>(frame)) {
                appendTable(document, table);
            }
            continue;
        }
        const QTextBlock block = it.currentBlock();
        if (block.blockFormat().boolProperty(kFillerProperty)) {
            continue;
        }
        document.NewParagraph();
        readBlockFormat(block.blockFormat(), document.Paragraphs.last());
        appendBlockText(document, block);
    }
    if (document.Paragraphs.isEmpty()) {
        document.NewParagraph();
    }
    return document;
}

void RichTextConversion::ResetTabDistance(QTextDocument* target)
{
    QTextOption option = target->defaultTextOption();
    option.setTabStopDistance(QTextOption().tabStopDistance());
    target->setDefaultTextOption(option);
}
