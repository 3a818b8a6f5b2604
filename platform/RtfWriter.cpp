#include "RtfWriter.h"

#include <algorithm>
#include <cmath>

namespace {

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

void appendText(QByteArray& out, const QString& text)
{
    for (const QChar ch : text) {
        const char16_t c = ch.unicode();
        if (c == '\\' || c == '{' || c == '}') {
            out += '\\';
            out += char(c);
        } else if (c == '\t') {
            out += "\\tab ";
        } else if (c == QChar::LineSeparator) {
            out += "\\line ";
        } else if (c < 0x20 || (c >= 0xA0 && c <= 0xFF)) {
            appendHex(out, c);
        } else if (c < 0x80) {
            out += char(c);
        } else {
            // Signed 16-bit, as the format wants, with "?" for readers without Unicode.
            out += "\\u" + QByteArray::number(c >= 0x8000 ? int(c) - 65536 : int(c)) + '?';
        }
    }
}

QByteArray escapedFontName(const QString& name)
{
    QByteArray out;
    appendText(out, name);
    return out;
}

} // namespace

QByteArray RtfWriter::Write(const RtfDocument& document, const QString& fontName,
                            double defaultPointSize)
{
    const int defaultSize = halfPoints(defaultPointSize > 0 ? defaultPointSize : 10);
    QByteArray out = "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1{\\fonttbl{\\f0\\fnil\\fcharset0 " +
                     escapedFontName(fontName) + ";}}\n\\pard\\plain\\f0\\fs" +
                     QByteArray::number(defaultSize) + ' ';
    bool bold = false;
    bool italic = false;
    bool underline = false;
    int size = defaultSize;
    for (qsizetype p = 0; p < document.Paragraphs.size(); ++p) {
        if (p > 0) {
            out += "\\par\n";
        }
        for (const RtfRun& run : document.Paragraphs.at(p).Runs) {
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
            const int runSize = run.PointSize > 0 ? halfPoints(run.PointSize) : defaultSize;
            if (runSize != size) {
                size = runSize;
                controls += "\\fs" + QByteArray::number(size);
            }
            if (!controls.isEmpty()) {
                out += controls + ' ';
            }
            appendText(out, run.Text);
        }
    }
    out += "\\par\n}\n";
    return out;
}
