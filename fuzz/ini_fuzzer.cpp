// libFuzzer target for INI files in any of the forms a Windows installation leaves (UTF-8 with or
// without a byte-order mark, Windows-1252, UTF-16 with its mark): reads never fail, and a value
// written into any file reads back as written.
#include "fuzz/FuzzSupport.h"
#include "platform/system/IniFile.h"

#include <QFile>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzSupport::Start();
    if (size < 1) {
        return 0;
    }
    // The first byte chooses the file's form, the next up to 32 bytes are a value to write.
    const uint8_t form = data[0];
    const size_t valueLength = size > 1 ? std::min<size_t>(data[1] % 33, size - 2) : 0;
    const QByteArray valueBytes =
        size > 2 ? FuzzSupport::Bytes(data + 2, valueLength) : QByteArray();
    QByteArray content = FuzzSupport::Bytes(data + 2 + valueLength,
                                            size > 2 + valueLength ? size - 2 - valueLength : 0);
    if (form % 4 == 1) {
        content.prepend("\xEF\xBB\xBF");
    } else if (form % 4 == 2) {
        // The same text as UTF-16, as Notepad saves "Unicode".
        const QString text = QString::fromUtf8(content);
        content = QByteArray("\xFF\xFE") +
                  QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    }
    const QString file = FuzzSupport::WriteFile("fuzz.ini", content);

    for (const char* section : {"Settings", "Fuzz", "a"}) {
        for (const char* key : {"Key", "Value", "a"}) {
            IniFile::ReadString(file, section, key, "default");
            IniFile::ReadInt(file, section, key, 7);
        }
    }

    // An empty value, not a null one: a null value deletes the key.
    QString value = QString::fromUtf8(valueBytes);
    if (value.isNull()) {
        value = QStringLiteral("");
    }
    if (!IniFile::WriteString(file, "Fuzz", "Key", value)) {
        FuzzSupport::Fail("a readable file could not be written");
    }
    value.replace(u'\r', u' ').replace(u'\n', u' ');
    const QString back = IniFile::ReadString(file, "Fuzz", "Key", "missing");
    if (back != value) {
        FuzzSupport::Fail("a written value read back differently:",
                          "'" + value + "' came back as '" + back + "'");
    }
    if (form & 4) {
        IniFile::DeleteSection(file, "Fuzz");
        IniFile::WriteString(file, "Settings", "Key", QString());
    }
    return 0;
}
