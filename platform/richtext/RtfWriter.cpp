#include "platform/richtext/RtfWriter.h"

#include <QHash>
#include <algorithm>
#include <cmath>

namespace {

constexpr qint64 kTableWidth = 9000; // twips: a letter or A4 page between usual margins

int halfPoints(double pointSize)
{
    return std::clamp(int(std::lround(pointSize * 2)), 1, 3276);
}

void appendHex(QByteArray& out, uint value)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    out += "\\'";
    out += kDigits[(value >> 4) & 0xF];
    out += kDigits[value & 0xF];
}

void appendUnicode(QByteArray& out, char16_t c)
{
    // Signed 16-bit, as the format wants, with "?" for readers without Unicode.
    out += "\\u" + QByteArray::number(c >= 0x8000 ? int(c) - 65536 : int(c)) + '?';
}

// In table cells a tab would end the cell; font names take tabs and breaks literally.
enum class Tabs
{
    Tab,
    Cell,
    Literal
};

void appendText(QByteArray& out, const QString& text, Tabs tabs = Tabs::Tab)
{
    for (const QChar ch : text) {
        const char16_t c = ch.unicode();
        if (c == '\\' || c == '{' || c == '}') {
            out += '\\';
            out += char(c);
        } else if (c == '\t' && tabs != Tabs::Literal) {
            out += tabs == Tabs::Cell ? "\\cell " : "\\tab ";
        } else if (c == QChar::LineSeparator) {
            if (tabs == Tabs::Literal) {
                appendUnicode(out, c);
            } else {
                out += "\\line ";
            }
        } else if (c < 0x20 || (c >= 0xA0 && c <= 0xFF)) {
            appendHex(out, c);
        } else if (c < 0x80) {
            out += char(c);
        } else {
            appendUnicode(out, c);
        }
    }
}

QByteArray number(qint64 value)
{
    return QByteArray::number(value);
}

QByteArray colorEntry(quint32 rgb)
{
    return "\\red" + number((rgb >> 16) & 0xFF) + "\\green" + number((rgb >> 8) & 0xFF) + "\\blue" +
           number(rgb & 0xFF) + ';';
}

QByteArray paragraphControls(const RtfParagraph& paragraph)
{
    QByteArray out;
    if (paragraph.TableRow) {
        const qint64 cells = paragraph.Text().count(u'\t') + 1;
        out += "\\trowd\\trgaph108";
        for (qint64 i = 1; i <= cells; ++i) {
            out += "\\cellx" + number(std::max(kTableWidth * i / cells, i));
        }
        out += '\n';
    }
    out += "\\pard";
    if (paragraph.TableRow) {
        out += "\\intbl";
    }
    switch (paragraph.Alignment) {
    case RtfAlignment::Left:
        break;
    case RtfAlignment::Center:
        out += "\\qc";
        break;
    case RtfAlignment::Right:
        out += "\\qr";
        break;
    case RtfAlignment::Justify:
        out += "\\qj";
        break;
    }
    if (paragraph.LeftIndent != 0) {
        out += "\\li" + number(paragraph.LeftIndent);
    }
    if (paragraph.FirstLineIndent != 0) {
        out += "\\fi" + number(paragraph.FirstLineIndent);
    }
    if (paragraph.SpaceBefore != 0) {
        out += "\\sb" + number(paragraph.SpaceBefore);
    }
    if (paragraph.SpaceAfter != 0) {
        out += "\\sa" + number(paragraph.SpaceAfter);
    }
    if (paragraph.LineSpacing != 0) {
        out += "\\sl" + number(paragraph.LineSpacing) +
               (paragraph.LineSpacingMultiple ? "\\slmult1" : "\\slmult0");
    }
    for (const RtfTabStop& tab : paragraph.TabStops) {
        switch (tab.Type) {
        case RtfTabStop::Left:
            break;
        case RtfTabStop::Center:
            out += "\\tqc";
            break;
        case RtfTabStop::Right:
            out += "\\tqr";
            break;
        case RtfTabStop::Decimal:
            out += "\\tqdec";
            break;
        }
        out += "\\tx" + number(tab.Position);
    }
    return out + ' ';
}

} // namespace

QByteArray RtfWriter::Write(const RtfDocument& document, const QString& fontName,
                            double defaultPointSize)
{
    // Font 0 is the default font; colour 0 the usual colour.
    QString defaultFont = fontName;
    defaultFont.remove(u';');
    QList<QString> fonts{defaultFont};
    QHash<QString, int> fontIndex{{defaultFont, 0}, {QString(), 0}};
    QList<quint32> colors;
    QHash<quint32, int> colorIndex;
    for (const RtfParagraph& paragraph : document.Paragraphs) {
        for (const RtfRun& run : paragraph.Runs) {
            QString family = run.FontFamily;
            family.remove(u';'); // it would end the font table's entry
            if (!fontIndex.contains(family)) {
                fontIndex.insert(family, int(fonts.size()));
                fonts.append(family);
            }
            for (const std::optional<quint32>& color : {run.Color, run.Highlight}) {
                if (color && !colorIndex.contains(*color & 0xFFFFFF)) {
                    colors.append(*color & 0xFFFFFF);
                    colorIndex.insert(colors.last(), int(colors.size()));
                }
            }
        }
    }

    const int defaultSize = halfPoints(defaultPointSize > 0 ? defaultPointSize : 10);
    QByteArray out = "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1";
    if (document.DefaultTabWidth > 0) {
        out += "\\deftab" + number(document.DefaultTabWidth);
    }
    out += "{\\fonttbl";
    for (qsizetype i = 0; i < fonts.size(); ++i) {
        // Without a name font 0 stays undefined, so that its runs read back without one.
        if (i > 0 || !fonts.at(i).isEmpty()) {
            out += "{\\f" + number(i) + "\\fnil\\fcharset0 ";
            appendText(out, fonts.at(i), Tabs::Literal);
            out += ";}";
        }
    }
    out += "}\n{\\colortbl;";
    for (const quint32 color : colors) {
        out += colorEntry(color);
    }
    out += "}\n\\plain\\f0\\fs" + number(defaultSize) + '\n';

    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strike = false;
    RtfScript script = RtfScript::Normal;
    int size = defaultSize;
    int font = 0;
    int color = 0;
    int highlight = 0;
    for (const RtfParagraph& paragraph : document.Paragraphs) {
        out += paragraphControls(paragraph);
        for (const RtfRun& run : paragraph.Runs) {
            if (run.Text.isEmpty()) {
                continue;
            }
            QByteArray controls;
            if (run.Bold != bold) {
                bold = run.Bold;
                controls += bold ? "\\b" : "\\b0";
            }
            if (run.Italic != italic) {
                italic = run.Italic;
                controls += italic ? "\\i" : "\\i0";
            }
            if (run.Underline != underline) {
                underline = run.Underline;
                controls += underline ? "\\ul" : "\\ulnone";
            }
            if (run.Strike != strike) {
                strike = run.Strike;
                controls += strike ? "\\strike" : "\\strike0";
            }
            if (run.Script != script) {
                script = run.Script;
                controls += script == RtfScript::Superscript ? "\\super"
                            : script == RtfScript::Subscript ? "\\sub"
                                                             : "\\nosupersub";
            }
            const int runSize = run.PointSize > 0 ? halfPoints(run.PointSize) : defaultSize;
            if (runSize != size) {
                size = runSize;
                controls += "\\fs" + number(size);
            }
            QString family = run.FontFamily;
            family.remove(u';');
            if (fontIndex.value(family) != font) {
                font = fontIndex.value(family);
                controls += "\\f" + number(font);
            }
            const int runColor = run.Color ? colorIndex.value(*run.Color & 0xFFFFFF) : 0;
            if (runColor != color) {
                color = runColor;
                controls += "\\cf" + number(color);
            }
            const int runHighlight =
                run.Highlight ? colorIndex.value(*run.Highlight & 0xFFFFFF) : 0;
            if (runHighlight != highlight) {
                highlight = runHighlight;
                controls += "\\highlight" + number(highlight);
            }
            if (!controls.isEmpty()) {
                out += controls + ' ';
            }
            appendText(out, run.Text, paragraph.TableRow ? Tabs::Cell : Tabs::Tab);
        }
        // A row's last cell needs its own end.
        out += paragraph.TableRow ? "\\cell\\row\n" : "\\par\n";
    }
    out += "}\n";
    return out;
}
