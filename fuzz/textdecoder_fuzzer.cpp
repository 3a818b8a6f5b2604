// libFuzzer target for the decoding of text files that may come from Windows.
#include "fuzz/FuzzSupport.h"
#include "platform/system/TextFileDecoder.h"

#include <QStringDecoder>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes = FuzzSupport::Bytes(data, size);
    const QString text = TextFileDecoder::Decode(bytes);

    const QByteArray body = bytes.startsWith("\xEF\xBB\xBF") ? bytes.mid(3) : bytes;
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const QString asUtf8 = utf8.decode(body);
    if (!utf8.hasError() && text != asUtf8) {
        FuzzSupport::Fail("valid UTF-8 was not read as UTF-8");
    }
    if (utf8.hasError() && text != TextFileDecoder::FromWindows1252(body)) {
        FuzzSupport::Fail("invalid UTF-8 was not read as Windows-1252");
    }
    // Windows-1252 maps every byte to one character.
    const QString asAnsi = TextFileDecoder::FromWindows1252(bytes);
    if (asAnsi.size() != bytes.size()) {
        FuzzSupport::Fail("Windows-1252 text changed its length");
    }
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (asAnsi.at(i) != TextFileDecoder::Windows1252Char(uchar(bytes.at(i)))) {
            FuzzSupport::Fail("Windows-1252 characters differ");
        }
    }
    return 0;
}
