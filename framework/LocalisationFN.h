#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// One loaded language: its column header, its id, the file it came from and its strings,
// indexed by string id from 0.
struct LanguageEntry
{
    QString Name;
    qint16 ID = 1;
    QString FileName;
    QStringList Strings;
};

// The system locale and the tool's language tables. Language files are tab-separated UTF-8
// text beside the program: either "Languages/lang-<id>.txt" or "lang-<id>.txt" (one file per
// language group, the id in the file name) or a single "language.txt" whose header names each
// language with its id in parentheses, as in "English (44)".
namespace LocalisationFN {

inline qint16 CharSet = 0;
inline QString DefaultCodePage;
inline qint32 CountryCode = 0;
inline QString CountryName;
inline QString NativeCountryName;
// Index 1 of the tool's numbering is element 0 here; see LanguageAt.
inline QList<LanguageEntry> Languages;
inline qint32 CurrentLanguageID = 0;
inline qint16 CurrentLanguageIndex = 0;
inline bool LanguagesLoaded = false;

// String ids above this are ignored, so that a stray huge number cannot size a table by it.
constexpr qint32 MaxStringId = 65535;
// The string tables of all languages together hold at most this many entries (languages times
// string ids), so that a small file of many columns and far ids cannot claim gigabytes.
constexpr qint64 MaxTableCells = qint64(1) << 20;

void InitLocale(bool loadLanguages);
void LoadLanguageFiles();
void SelectLanguage(qint32 id);
// 1-based index into Languages; 0 when not found.
qint16 FindLanguage(qint32 id);
qint16 CodePageToCharset(const QString& codePage);
QString StripNull(const QString& text);

// The text of string id in the current language, or fallback when there is no current
// language or it has no (or an empty) text for that id.
QString GetLanguageString(qint32 id, const QString& fallback);

// The entry with the 1-based index; nullptr outside 1 to Languages.size().
LanguageEntry* LanguageAt(qint32 index);

// The folder that holds the language files: the program's folder unless a test set another.
inline QString LanguageFolderOverride;

// The default ANSI code page that matches a character-set name of the C library ("UTF-8"
// gives "65001").
QString CodePageForCodeset(const QByteArray& codeset);
// The international dialling code that stands for a Qt territory; 0 when unknown.
qint32 CallingCodeForTerritory(int territory);

// Forgets the loaded languages and locale values, for tests.
void ResetForTests();

} // namespace LocalisationFN
