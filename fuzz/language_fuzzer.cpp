// libFuzzer target for language files: one "language.txt", or several "lang-<id>.txt" files
// (the input's parts between form feeds, each with an id from its first byte).
#include "framework/LocalisationFN.h"
#include "fuzz/FuzzSupport.h"

#include <QDir>

using namespace LocalisationFN;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString root = FuzzSupport::Start();
    const QString folder = root + "/program";
    QDir(folder).removeRecursively();
    QDir().mkpath(folder + "/Languages");
    const QByteArray bytes = FuzzSupport::Bytes(data, size);

    if (size > 0 && data[0] == 'M') {
        const QList<QByteArray> parts = bytes.mid(1).split('\f');
        for (qsizetype i = 0; i < parts.size() && i < 8; ++i) {
            const QByteArray& part = parts.at(i);
            const QString id =
                part.isEmpty() ? QString::number(i) : QString::number(uchar(part[0]));
            FuzzSupport::WriteFile("program/Languages/lang-" + id + ".txt", part.mid(1));
        }
    } else {
        FuzzSupport::WriteFile("program/language.txt", bytes);
    }

    ResetForTests();
    LanguageFolderOverride = folder;
    InitLocale(true);

    // However many files and languages, the tables together stay within the bound.
    qint64 cells = 0;
    for (const LanguageEntry& language : std::as_const(Languages)) {
        cells += language.Strings.size();
        if (language.ID < 1) {
            FuzzSupport::Fail("a language id below 1");
        }
    }
    if (cells > MaxTableCells) {
        FuzzSupport::Fail("language tables beyond their bound:", QString::number(cells));
    }
    if (CurrentLanguageIndex < 0 || CurrentLanguageIndex > Languages.size()) {
        FuzzSupport::Fail("the current language is outside the table");
    }
    for (const qint32 id : {-1, 0, 1, 2, 12, 1000, 65535, 65536}) {
        GetLanguageString(id, "fallback");
    }
    for (qint32 index = 1; index <= qMin<qsizetype>(Languages.size(), 4); ++index) {
        SelectLanguage(Languages.at(index - 1).ID);
        if (LanguageAt(CurrentLanguageIndex) == nullptr) {
            FuzzSupport::Fail("a loaded language cannot be selected");
        }
    }
    ResetForTests();
    return 0;
}
