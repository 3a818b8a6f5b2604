#include "framework/LogText.h"

namespace {

bool NeedsEscape(char16_t c)
{
    return c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F) || c == 0x2028 || c == 0x2029;
}

} // namespace

QString EscapeControlCharacters(const QString& text)
{
    qsizetype first = 0;
    while (first < text.size() && !NeedsEscape(text.at(first).unicode())) {
        ++first;
    }
    if (first == text.size()) {
        return text;
    }

    QString out = text.left(first);
    out.reserve(text.size() + 16);
    for (qsizetype i = first; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (!NeedsEscape(c)) {
            out += QChar(c);
        } else if (c == u'\t') {
            out += QLatin1String("\\t");
        } else if (c == u'\n') {
            out += QLatin1String("\\n");
        } else if (c == u'\r') {
            out += QLatin1String("\\r");
        } else if (c <= 0x7F) {
            out += QStringLiteral("\\x%1").arg(uint(c), 2, 16, QLatin1Char('0'));
        } else {
            out += QStringLiteral("\\u%1").arg(uint(c), 4, 16, QLatin1Char('0'));
        }
    }
    return out;
}

QString NameBytesText(const QByteArray& name)
{
    QString out;
    qsizetype i = 0;
    while (i < name.size()) {
        const auto lead = static_cast<unsigned char>(name.at(i));
        const qsizetype length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        const QByteArrayView sequence =
            QByteArrayView(name).sliced(i, qMin(length, name.size() - i));
        if (sequence.size() == length && QUtf8StringView(sequence).isValidUtf8()) {
            out += QString::fromUtf8(sequence);
            i += length;
        } else {
            out += QStringLiteral("\\x%1").arg(uint(lead), 2, 16, QLatin1Char('0'));
            ++i;
        }
    }
    return out;
}
