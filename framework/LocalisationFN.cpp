#include "framework/LocalisationFN.h"

#include "framework/CommandLineSwitches.h"
#include "framework/DebugLog.h"
#include "platform/system/FileFunctions.h"
#include "platform/system/GeneralFunctions.h"
#include "platform/system/PathIgnoringCase.h"
#include "platform/system/PlatformPaths.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <algorithm>
#include <langinfo.h>
#include <limits>

namespace LocalisationFN {

namespace {

// Val() of a text: blanks skipped, an optional sign, then the leading digits; 0 without digits.
// Saturates instead of overflowing.
qint64 LeadingNumber(const QString& text)
{
    qsizetype i = 0;
    while (i < text.size() && (text.at(i) == u' ' || text.at(i) == u'\t')) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text.at(i) == u'+' || text.at(i) == u'-')) {
        negative = text.at(i) == u'-';
        ++i;
    }
    qint64 value = 0;
    for (; i < text.size() && text.at(i).isDigit() && text.at(i).unicode() < 128; ++i) {
        value = value * 10 + (text.at(i).unicode() - u'0');
        if (value > std::numeric_limits<qint32>::max()) {
            value = std::numeric_limits<qint32>::max();
        }
    }
    return negative ? -value : value;
}

// Language ids are 16-bit and at least 1.
qint16 ToLanguageId(const QString& text)
{
    const qint64 id = LeadingNumber(text);
    return qint16(std::clamp<qint64>(id, 1, std::numeric_limits<qint16>::max()));
}

// The string id of a data line, or 0 when the line is to be ignored.
qint32 LineStringId(const QString& firstColumn)
{
    const qint64 id = LeadingNumber(firstColumn);
    return id >= 1 && id <= MaxStringId ? qint32(id) : 0;
}

// The highest string id a table may hold with this many languages: all tables together stay
// within MaxTableCells however many files and columns come.
qint32 TopIdWithinBound(qsizetype languages)
{
    return qint32(std::min<qint64>(MaxStringId, MaxTableCells / std::max<qsizetype>(languages, 1)) -
                  1);
}

QString ProgramFolder()
{
    return LanguageFolderOverride.isEmpty() ? PlatformPaths::ProgramFolder()
                                            : LanguageFolderOverride;
}

// Full paths of the files matching the pattern, in listing order.
QStringList FindFiles(const QString& folder, const QString& mask)
{
    FileFunctions& files = FileFunctions::instance();
    QStringList found;
    qint32 handle = 0;
    for (QString name = files.FindFirst(folder + u'/' + mask, 0, handle); !name.isEmpty();
         name = files.FindNext(handle)) {
        if (name != QLatin1String(".") && name != QLatin1String("..")) {
            found.append(folder + u'/' + name);
        }
    }
    if (handle != 0) {
        files.FindClose(handle);
    }
    return found;
}

// The lines of a language file: UTF-8, a byte-order mark skipped, line ends LF or CR LF.
QStringList ReadLines(QFile& file)
{
    QByteArray bytes = file.readAll();
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        bytes.remove(0, 3);
    }
    QStringList lines = QString::fromUtf8(bytes).split(u'\n');
    for (QString& line : lines) {
        if (line.endsWith(u'\r')) {
            line.chop(1);
        }
    }
    return lines;
}

} // namespace

LanguageEntry* LanguageAt(qint32 index)
{
    if (index < 1 || index > Languages.size()) {
        return nullptr;
    }
    return &Languages[index - 1];
}

void InitLocale(bool loadLanguages)
{
    CurrentLanguageID = 44;
    CurrentLanguageIndex = 0;

    const QLocale locale = QLocale::system();
    CountryCode = CallingCodeForTerritory(int(locale.territory()));
    CountryName = StripNull(QLocale::territoryToString(locale.territory()));
    NativeCountryName = StripNull(locale.nativeTerritoryName());
    DefaultCodePage = StripNull(CodePageForCodeset(QByteArray(nl_langinfo(CODESET))));
    CharSet = CodePageToCharset(DefaultCodePage);

    if (loadLanguages) {
        LoadLanguageFiles();
        CurrentLanguageIndex = FindLanguage(44);
        if (CurrentLanguageIndex == 0) {
            CurrentLanguageID = 1;
            CurrentLanguageIndex = FindLanguage(1);
        }
    }
}

void LoadLanguageFiles()
{
    if (CurrentLanguageID == 0) {
        InitLocale(false);
    }
    if (LanguagesLoaded) {
        return;
    }
    // Set first, so that a failed load is not retried.
    LanguagesLoaded = true;

    FileFunctions& files = FileFunctions::instance();
    GeneralFunctions& general = GeneralFunctions::instance();
    const QString folder = ProgramFolder();

    // Names in any letter case, as a set of files made on Windows has them.
    bool singleFile = false;
    const QString languages = PathIgnoringCase::FindFolder(folder, QStringLiteral("Languages"));
    QStringList fileList =
        languages.isEmpty() ? QStringList() : FindFiles(languages, QStringLiteral("lang-*.txt"));
    if (fileList.isEmpty()) {
        fileList = FindFiles(folder, QStringLiteral("lang-*.txt"));
    }
    if (fileList.isEmpty()) {
        singleFile = true;
        const QString single = PathIgnoringCase::FindFile(folder, QStringLiteral("language.txt"));
        fileList.append(single.isEmpty() ? folder + QStringLiteral("/language.txt") : single);
    }

    qsizetype offset = 0;
    for (const QString& path : std::as_const(fileList)) {
        if (!(files.GetFileSize(path) > 0) || QFileInfo(path).isDir()) {
            continue;
        }
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            // Whatever was read before stays loaded, but nothing is selected.
            return;
        }
        const QStringList lines = ReadLines(file);
        file.close();

        const QStringList header = lines.isEmpty() ? QStringList() : lines.first().split(u'\t');
        if (header.size() >= 2) {
            qint16 folderModeId = 1;
            if (!singleFile) {
                qint32 next = 0;
                folderModeId = ToLanguageId(general.ExtractToken(
                    files.GetFileTitle(path), 6, QStringLiteral("-"), next, true, true));
            }
            for (qsizetype column = 1; column < header.size(); ++column) {
                LanguageEntry entry;
                entry.FileName = path;
                entry.Name = header.at(column);
                // The id sits in parentheses in the column header: "English (44)".
                entry.ID = singleFile ? ToLanguageId(GetCommandLineSwitchEx(
                                            entry.Name, QStringLiteral("("), QString(), false,
                                            QStringLiteral(")"), false))
                                      : folderModeId;
                Languages.append(entry);
            }

            qint32 highestId = 1;
            for (qsizetype i = 1; i < lines.size(); ++i) {
                highestId =
                    general.MaxLong(highestId, LineStringId(lines.at(i).section(u'\t', 0, 0)));
            }
            // Every language gets a table up to the highest id, so many languages and a far id
            // would multiply: ids beyond what the bound leaves are skipped, and the tables of
            // earlier files give up theirs.
            const qint32 topId = std::min(highestId, TopIdWithinBound(Languages.size()));
            qint32 dropped = 0;
            for (qsizetype k = 0; k < Languages.size(); ++k) {
                QStringList& strings = Languages[k].Strings;
                if (k < offset && strings.size() > TopIdWithinBound(Languages.size()) + 1) {
                    const qsizetype keep = TopIdWithinBound(Languages.size()) + 1;
                    for (qsizetype id = keep; id < strings.size(); ++id) {
                        dropped += strings.at(id).isEmpty() ? 0 : 1;
                    }
                    strings.resize(keep);
                }
                // Tables only grow otherwise, so that a language of an earlier file keeps its
                // higher ids.
                if (strings.size() <= topId) {
                    strings.resize(topId + 1);
                }
            }
            if (dropped > 0) {
                AddToDebugLog(QStringLiteral("Dropped %1 string(s) above id %2 of earlier language "
                                             "files: %3 languages leave no room for more")
                                  .arg(dropped)
                                  .arg(TopIdWithinBound(Languages.size()))
                                  .arg(Languages.size()),
                              5, ovNone);
            }

            qint32 skipped = 0;
            for (qsizetype i = 1; i < lines.size(); ++i) {
                const QStringList columns = lines.at(i).split(u'\t');
                const qint32 id = LineStringId(columns.first());
                if (id == 0) {
                    continue;
                }
                if (id > topId) {
                    ++skipped;
                    continue;
                }
                for (qsizetype j = 1; j < columns.size() && offset + j <= Languages.size(); ++j) {
                    Languages[offset + j - 1].Strings[id] = columns.at(j);
                }
            }
            if (skipped > 0) {
                AddToDebugLog(QStringLiteral("Skipped %1 line(s) of '%2' above id %3: %4 "
                                             "languages leave no room for more")
                                  .arg(skipped)
                                  .arg(path)
                                  .arg(topId)
                                  .arg(Languages.size()),
                              5, ovNone);
            }
        }
        offset = Languages.size();
        if (singleFile) {
            break;
        }
    }

    SelectLanguage(CurrentLanguageID);
}

void SelectLanguage(qint32 id)
{
    CurrentLanguageID = 44;
    CurrentLanguageIndex = 0;
    if (LanguagesLoaded && !Languages.isEmpty()) {
        CurrentLanguageID = id;
        CurrentLanguageIndex = FindLanguage(id);
        if (CurrentLanguageIndex == 0) {
            CurrentLanguageIndex = FindLanguage(id == 44 ? 1 : 44);
        }
    }
}

qint16 FindLanguage(qint32 id)
{
    if (!LanguagesLoaded) {
        return 0;
    }
    for (qsizetype i = 0; i < Languages.size(); ++i) {
        if (Languages.at(i).ID == id) {
            return qint16(i + 1);
        }
    }
    return 0;
}

qint16 CodePageToCharset(const QString& codePage)
{
    static const QHash<QString, qint16> charsets = {
        {"932", 128}, {"936", 134},  {"949", 129},  {"950", 136},  {"1250", 238}, {"1251", 204},
        {"1252", 0},  {"1253", 161}, {"1254", 162}, {"1255", 177}, {"1256", 178}, {"1257", 186},
    };
    return charsets.value(codePage, 0);
}

QString StripNull(const QString& text)
{
    const qsizetype nul = text.indexOf(QChar(0));
    return nul < 0 ? text : text.left(nul);
}

QString GetLanguageString(qint32 id, const QString& fallback)
{
    const LanguageEntry* language = LanguageAt(CurrentLanguageIndex);
    if (!language || id < 0 || id >= language->Strings.size()) {
        return fallback;
    }
    const QString& text = language->Strings.at(id);
    return text.isEmpty() ? fallback : text;
}

QString CodePageForCodeset(const QByteArray& codeset)
{
    // Spelling varies between C libraries: compare without case, dashes and underscores.
    QByteArray name = codeset.toUpper();
    name.replace('-', "").replace('_', "");
    static const QHash<QByteArray, QString> pages = {
        {"UTF8", "65001"},        {"ISO88591", "1252"}, {"ISO885915", "1252"},
        {"ANSIX3.41968", "1252"}, {"ASCII", "1252"},    {"USASCII", "1252"},
        {"CP1252", "1252"},       {"ISO88592", "1250"}, {"CP1250", "1250"},
        {"ISO88595", "1251"},     {"KOI8R", "1251"},    {"KOI8U", "1251"},
        {"CP1251", "1251"},       {"ISO88597", "1253"}, {"CP1253", "1253"},
        {"ISO88599", "1254"},     {"CP1254", "1254"},   {"ISO88598", "1255"},
        {"CP1255", "1255"},       {"ISO88596", "1256"}, {"CP1256", "1256"},
        {"ISO885913", "1257"},    {"CP1257", "1257"},   {"SHIFTJIS", "932"},
        {"SJIS", "932"},          {"EUCJP", "932"},     {"GB2312", "936"},
        {"GBK", "936"},           {"GB18030", "936"},   {"EUCCN", "936"},
        {"EUCKR", "949"},         {"BIG5", "950"},      {"BIG5HKSCS", "950"},
        {"TIS620", "874"},        {"CP874", "874"},
    };
    return pages.value(name, QStringLiteral("1252"));
}

qint32 CallingCodeForTerritory(int territory)
{
    using T = QLocale::Territory;
    static const QHash<int, qint32> codes = {
        {T::UnitedStates, 1},
        {T::Canada, 2},
        {T::Russia, 7},
        {T::Kazakhstan, 7},
        {T::Egypt, 20},
        {T::SouthAfrica, 27},
        {T::Greece, 30},
        {T::Netherlands, 31},
        {T::Belgium, 32},
        {T::France, 33},
        {T::Spain, 34},
        {T::Gibraltar, 350},
        {T::Portugal, 351},
        {T::Luxembourg, 352},
        {T::Ireland, 353},
        {T::Iceland, 354},
        {T::Albania, 355},
        {T::Malta, 356},
        {T::Cyprus, 357},
        {T::Finland, 358},
        {T::Bulgaria, 359},
        {T::Hungary, 36},
        {T::Lithuania, 370},
        {T::Latvia, 371},
        {T::Estonia, 372},
        {T::Moldova, 373},
        {T::Armenia, 374},
        {T::Belarus, 375},
        {T::Andorra, 376},
        {T::Monaco, 377},
        {T::SanMarino, 378},
        {T::Ukraine, 380},
        {T::Serbia, 381},
        {T::Montenegro, 382},
        {T::Croatia, 385},
        {T::Slovenia, 386},
        {T::BosniaAndHerzegovina, 387},
        {T::Macedonia, 389},
        {T::Italy, 39},
        {T::VaticanCity, 39},
        {T::Romania, 40},
        {T::Switzerland, 41},
        {T::Liechtenstein, 41},
        {T::CzechRepublic, 420},
        {T::Slovakia, 421},
        {T::Austria, 43},
        {T::UnitedKingdom, 44},
        {T::Denmark, 45},
        {T::Sweden, 46},
        {T::Norway, 47},
        {T::Poland, 48},
        {T::Germany, 49},
        {T::Mexico, 52},
        {T::Cuba, 53},
        {T::Argentina, 54},
        {T::Brazil, 55},
        {T::Chile, 56},
        {T::Colombia, 57},
        {T::Venezuela, 58},
        {T::Malaysia, 60},
        {T::Australia, 61},
        {T::Indonesia, 62},
        {T::Philippines, 63},
        {T::NewZealand, 64},
        {T::Singapore, 65},
        {T::Thailand, 66},
        {T::Japan, 81},
        {T::SouthKorea, 82},
        {T::Vietnam, 84},
        {T::China, 86},
        {T::Turkey, 90},
        {T::India, 91},
        {T::Pakistan, 92},
        {T::Afghanistan, 93},
        {T::SriLanka, 94},
        {T::Myanmar, 95},
        {T::Iran, 98},
        {T::Morocco, 212},
        {T::Algeria, 213},
        {T::Tunisia, 216},
        {T::Libya, 218},
        {T::Nigeria, 234},
        {T::Kenya, 254},
        {T::HongKong, 852},
        {T::Macau, 853},
        {T::Taiwan, 886},
        {T::Lebanon, 961},
        {T::Jordan, 962},
        {T::Syria, 963},
        {T::Iraq, 964},
        {T::Kuwait, 965},
        {T::SaudiArabia, 966},
        {T::Yemen, 967},
        {T::Oman, 968},
        {T::UnitedArabEmirates, 971},
        {T::Israel, 972},
        {T::Bahrain, 973},
        {T::Qatar, 974},
        {T::Georgia, 995},
        {T::Azerbaijan, 994},
        {T::Uzbekistan, 998},
    };
    return codes.value(territory, 0);
}

void ResetForTests()
{
    CharSet = 0;
    DefaultCodePage.clear();
    CountryCode = 0;
    CountryName.clear();
    NativeCountryName.clear();
    Languages.clear();
    CurrentLanguageID = 0;
    CurrentLanguageIndex = 0;
    LanguagesLoaded = false;
    LanguageFolderOverride.clear();
}

} // namespace LocalisationFN
