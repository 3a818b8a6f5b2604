#include "platform/system/TextFileDecoder.h"

#include <QStringDecoder>

namespace {
// 0x80..0x9F; the five bytes Windows leaves undefined map to the C1 controls of the same value.
constexpr char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
} // namespace

QChar TextFileDecoder::Windows1252Char(uchar byte)
{
    if (byte >= 0x80 && byte < 0xA0) {
        return QChar(kHighControls[byte - 0x80]);
    }
    return QChar(char16_t(byte));
}

QString TextFileDecoder::FromWindows1252(const QByteArray& bytes)
{
    QString text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        text.append(Windows1252Char(uchar(c)));
    }
    return text;
}

QString TextFileDecoder::Decode(const QByteArray& bytes)
{
    QByteArrayView view(bytes);
    if (view.startsWith("\xEF\xBB\xBF")) {
        view = view.sliced(3);
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(view);
    if (!utf8.hasError()) {
        return text;
    }
    return FromWindows1252(view.toByteArray());
}
