#include "framework/LocalisationFN.h"
#include "platform/system/GeneralFunctions.h"
#include "tests/support/TempHome.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <gtest/gtest.h>

using namespace LocalisationFN;

namespace {

GeneralFunctions& General()
{
    return GeneralFunctions::instance();
}

class LocalisationTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetForTests();
        m_folder = m_home.File("program");
        QDir().mkpath(m_folder);
        LanguageFolderOverride = m_folder;
    }
    void TearDown() override { ResetForTests(); }

    void Write(const QString& relative, const QByteArray& content)
    {
        const QString path = m_folder + "/" + relative;
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

    TempHome m_home;
    QString m_folder;
};

TEST_F(LocalisationTest, SingleFileTakesIdsFromHeaderParentheses)
{
    // A byte-order mark and Windows line ends, as a file saved on Windows would have.
    Write("language.txt", "\xEF\xBB\xBFId\tEnglish (44)\tDeutsch (49)\r\n"
                          "12\tHello\tHallo\r\n"
                          "0\tzero\tnull\r\n"
                          "Abc\tletters\tBuchstaben\r\n"
                          "\r\n"
                          "3\tOnly English\r\n"
                          "4\tK\xC3\xA4se? No\tK\xC3\xA4se\textra column\r\n");
    InitLocale(true);

    ASSERT_EQ(Languages.size(), 2);
    EXPECT_EQ(Languages[0].Name, "English (44)");
    EXPECT_EQ(Languages[0].ID, 44);
    EXPECT_EQ(Languages[1].ID, 49);
    EXPECT_EQ(Languages[0].FileName, m_folder + "/language.txt");
    EXPECT_EQ(CurrentLanguageID, 44);
    EXPECT_EQ(CurrentLanguageIndex, 1);

    EXPECT_EQ(Languages[0].Strings.size(), 13);
    EXPECT_EQ(GetLanguageString(12, "fb"), "Hello");
    EXPECT_EQ(Languages[0].Strings[0], "");
    EXPECT_EQ(GetLanguageString(0, "fb"), "fb");
    EXPECT_EQ(GetLanguageString(3, "fb"), "Only English");
    EXPECT_EQ(GetLanguageString(99, "fb"), "fb");
    EXPECT_EQ(Languages[1].Strings[4], QString::fromUtf8("K\xC3\xA4se"));

    SelectLanguage(49);
    EXPECT_EQ(CurrentLanguageIndex, 2);
    EXPECT_EQ(GetLanguageString(12, "fb"), "Hallo");
    // Missing in German: the fallback, not the English text.
    EXPECT_EQ(GetLanguageString(3, "fb"), "fb");

    // An unknown id falls back to language 44 but keeps the id asked for.
    SelectLanguage(33);
    EXPECT_EQ(CurrentLanguageID, 33);
    EXPECT_EQ(CurrentLanguageIndex, 1);
}

TEST_F(LocalisationTest, FolderModeTakesIdsFromFileNamesAndPrefersLanguagesFolder)
{
    Write("Languages/lang-2.txt", "Id\tFrancais\n5\tBonjour\n");
    Write("Languages/lang-1.txt", "Id\tEnglish\tAmerican\n5\tHello\tHowdy\n7\tBye\tSee ya\n");
    // Ignored: the Languages folder had matches.
    Write("lang-44.txt", "Id\tOther\n5\tOther\n");
    Write("language.txt", "Id\tEnglish (44)\n5\tSingle\n");
    InitLocale(true);

    ASSERT_EQ(Languages.size(), 3);
    for (const LanguageEntry& language : Languages) {
        EXPECT_TRUE(language.FileName.startsWith(m_folder + "/Languages/lang-"));
    }
    // No language 44: language 1 becomes current.
    EXPECT_EQ(CurrentLanguageID, 1);
    ASSERT_GT(CurrentLanguageIndex, 0);
    EXPECT_EQ(LanguageAt(CurrentLanguageIndex)->Name, "English");
    EXPECT_EQ(GetLanguageString(5, "fb"), "Hello");
    EXPECT_EQ(GetLanguageString(7, "fb"), "Bye");
    SelectLanguage(2);
    EXPECT_EQ(GetLanguageString(5, "fb"), "Bonjour");
    // Whichever file came first, each language keeps its own strings.
    const LanguageEntry* american = LanguageAt(FindLanguage(1) + 1);
    ASSERT_NE(american, nullptr);
    EXPECT_EQ(american->Name, "American");
    EXPECT_EQ(american->Strings.value(7), "See ya");
}

TEST_F(LocalisationTest, ProgramFolderFilesUsedWhenNoLanguagesFolder)
{
    Write("lang-44.txt", "Id\tEnglish\n1\tOne\n");
    Write("language.txt", "Id\tDeutsch (49)\n1\tEins\n");
    InitLocale(true);
    ASSERT_EQ(Languages.size(), 1);
    EXPECT_EQ(Languages[0].ID, 44);
    EXPECT_EQ(GetLanguageString(1, "fb"), "One");
}

TEST_F(LocalisationTest, NothingToLoadLeavesNoCurrentLanguage)
{
    InitLocale(true);
    EXPECT_TRUE(LanguagesLoaded);
    EXPECT_TRUE(Languages.isEmpty());
    EXPECT_EQ(CurrentLanguageIndex, 0);
    EXPECT_EQ(GetLanguageString(1, "fallback"), "fallback");
    EXPECT_EQ(FindLanguage(44), 0);

    // Read once per run: a file added later is not picked up.
    Write("language.txt", "Id\tEnglish (44)\n1\tOne\n");
    LoadLanguageFiles();
    EXPECT_TRUE(Languages.isEmpty());
}

TEST_F(LocalisationTest, MalformedFilesAreSkippedWithoutHarm)
{
    Write("Languages/lang-10.txt", "");                              // empty: skipped
    Write("Languages/lang-11.txt", "Id only, no languages\n1\tx\n"); // header of one column
    Write("Languages/lang-0.txt", "Id\tZero\n99999999999\tHuge\n70000\tBeyond\n2\tTwo\n");
    Write("Languages/lang-99999.txt", "Id\tBig\n1\tBig one\n");
    Write("Languages/lang-x.txt", "Id\tNoNumber\n\t\t\n-4\tnegative\n");
    // Listed but gone by the time it is read.
    ASSERT_TRUE(QFile::link(m_folder + "/missing.txt", m_folder + "/Languages/lang-12.txt"));
    InitLocale(true);

    ASSERT_EQ(Languages.size(), 3);
    QHash<QString, const LanguageEntry*> byName;
    for (const LanguageEntry& language : Languages) {
        byName.insert(language.Name, &language);
    }
    ASSERT_TRUE(byName.contains("Zero") && byName.contains("Big") && byName.contains("NoNumber"));
    // Ids below 1 become 1, too big ones the largest; the huge and far string ids are dropped
    // instead of sizing the table.
    EXPECT_EQ(byName["Zero"]->ID, 1);
    EXPECT_EQ(byName["NoNumber"]->ID, 1);
    EXPECT_EQ(byName["Big"]->ID, 32767);
    EXPECT_EQ(byName["Zero"]->Strings.value(2), "Two");
    EXPECT_LE(byName["Zero"]->Strings.size(), MaxStringId + 1);
    EXPECT_EQ(byName["Big"]->Strings.value(1), "Big one");
}

TEST_F(LocalisationTest, FilesMadeOnWindowsAreFoundInAnyLetterCase)
{
    Write("LANGUAGES/LANG-49.TXT", "Id\tDeutsch\n1\tEins\n");
    Write("LANGUAGES/Lang-44.txt", "Id\tEnglish\n1\tOne\n");
    InitLocale(true);
    ASSERT_EQ(Languages.size(), 2);
    // In name order without regard to case.
    EXPECT_EQ(Languages[0].FileName.toStdString(),
              (m_folder + "/LANGUAGES/Lang-44.txt").toStdString());
    EXPECT_EQ(Languages[0].ID, 44);
    EXPECT_EQ(Languages[1].ID, 49);
    EXPECT_EQ(CurrentLanguageID, 44);
    EXPECT_EQ(GetLanguageString(1, "?"), "One");

    // The single file, as Windows' own tools name it.
    ResetForTests();
    LanguageFolderOverride = m_folder;
    QDir(m_folder + "/LANGUAGES").removeRecursively();
    Write("Language.txt", "Id\tEnglish (44)\tDeutsch (49)\n1\tOne\tEins\n");
    InitLocale(true);
    ASSERT_EQ(Languages.size(), 2);
    EXPECT_EQ(Languages[1].FileName.toStdString(), (m_folder + "/Language.txt").toStdString());
    EXPECT_EQ(Languages[1].ID, 49);
}

TEST_F(LocalisationTest, HeaderIdsOutOfRangeAreClamped)
{
    Write("language.txt", "Id\tA (0)\tB\tC (70000)\tD (-3)\n1\ta\tb\tc\td\n");
    InitLocale(true);
    ASSERT_EQ(Languages.size(), 4);
    EXPECT_EQ(Languages[0].ID, 1);
    EXPECT_EQ(Languages[1].ID, 1);
    EXPECT_EQ(Languages[2].ID, 32767);
    EXPECT_EQ(Languages[3].ID, 1);
    // FindLanguage gives the lowest index with the id.
    EXPECT_EQ(FindLanguage(1), 1);
    EXPECT_EQ(GetLanguageString(1, "fb"), "a");
}

TEST_F(LocalisationTest, EarlierLanguagesKeepHigherIdsOfTheirFile)
{
    Write("Languages/lang-44.txt", "Id\tEnglish\n50\tFifty\n");
    Write("Languages/lang-49.txt", "Id\tDeutsch\n3\tDrei\n");
    InitLocale(true);
    ASSERT_EQ(Languages.size(), 2);
    EXPECT_EQ(GetLanguageString(50, "fb"), "Fifty");
    SelectLanguage(49);
    EXPECT_EQ(GetLanguageString(3, "fb"), "Drei");
    EXPECT_EQ(GetLanguageString(50, "fb"), "fb");
}

// A small file with many languages and one far string id sized every table to the id: 3,000
// columns and id 65535 asked for 4.3 GB. The tables stay within their bound; the far line is
// skipped with a trace, and nearer lines still load.
TEST_F(LocalisationTest, ManyLanguagesWithFarIdsStayWithinTheTableBound)
{
    General().setDebugLevel(5);
    General().setDebugPath(m_home.File("debug") + "/");
    for (const int columns : {100, 3000}) {
        SCOPED_TRACE(columns);
        ResetForTests();
        LanguageFolderOverride = m_folder;
        QByteArray header = "Id";
        QByteArray far = "65535";
        for (int i = 0; i < columns; ++i) {
            header += "\tL" + QByteArray::number(i) + (i == 0 ? " (44)" : "");
            far += "\tx";
        }
        Write("language.txt", header + "\n" + far + "\n2\tTwo\n");
        InitLocale(true);

        ASSERT_EQ(Languages.size(), columns);
        qint64 cells = 0;
        for (const LanguageEntry& language : Languages) {
            cells += language.Strings.size();
        }
        EXPECT_LE(cells, MaxTableCells);
        EXPECT_EQ(GetLanguageString(2, "fb"), "Two");
        EXPECT_EQ(GetLanguageString(65535, "fb"), "fb");
    }
    QStringList skipped;
    QDir folder(m_home.File("debug"));
    for (const QString& name : folder.entryList(QDir::Files)) {
        QFile log(folder.filePath(name));
        ASSERT_TRUE(log.open(QIODevice::ReadOnly));
        for (const QString& line : QString::fromUtf8(log.readAll()).split("\r\n")) {
            if (line.contains("above id")) {
                skipped.append(line);
            }
        }
    }
    ASSERT_EQ(skipped.size(), 2);
    EXPECT_TRUE(skipped.first().contains("Skipped 1 line")) << skipped.first().toStdString();
    EXPECT_TRUE(skipped.first().contains(m_folder + "/language.txt"));
    General().setDebugLevel(0);
    General().setDebugPath(QString());
}

// Many files, each within the bound, must not add up beyond it; the far ids go, the near stay.
TEST_F(LocalisationTest, ManyFilesWithFarIdsStayWithinTheTableBound)
{
    for (int i = 1; i <= 80; ++i) {
        Write(QString("Languages/lang-%1.txt").arg(i), "Id\tL\n65535\tfar\n3\tnear\n");
    }
    InitLocale(true);
    ASSERT_EQ(Languages.size(), 80);
    qint64 cells = 0;
    for (const LanguageEntry& language : Languages) {
        cells += language.Strings.size();
        EXPECT_EQ(language.Strings.value(3), "near");
    }
    EXPECT_LE(cells, MaxTableCells);
}

TEST(LocalisationLocale, CodePagesAndLocaleValues)
{
    EXPECT_EQ(CodePageToCharset("932"), 128);
    EXPECT_EQ(CodePageToCharset("936"), 134);
    EXPECT_EQ(CodePageToCharset("949"), 129);
    EXPECT_EQ(CodePageToCharset("950"), 136);
    EXPECT_EQ(CodePageToCharset("1250"), 238);
    EXPECT_EQ(CodePageToCharset("1251"), 204);
    EXPECT_EQ(CodePageToCharset("1252"), 0);
    EXPECT_EQ(CodePageToCharset("1253"), 161);
    EXPECT_EQ(CodePageToCharset("1254"), 162);
    EXPECT_EQ(CodePageToCharset("1255"), 177);
    EXPECT_EQ(CodePageToCharset("1256"), 178);
    EXPECT_EQ(CodePageToCharset("1257"), 186);
    EXPECT_EQ(CodePageToCharset("437"), 0);
    EXPECT_EQ(CodePageToCharset("65001"), 0);

    EXPECT_EQ(CodePageForCodeset("UTF-8"), "65001");
    EXPECT_EQ(CodePageForCodeset("utf8"), "65001");
    EXPECT_EQ(CodePageForCodeset("ISO-8859-2"), "1250");
    EXPECT_EQ(CodePageForCodeset("KOI8-R"), "1251");
    EXPECT_EQ(CodePageForCodeset("EUC-JP"), "932");

    EXPECT_EQ(CallingCodeForTerritory(QLocale::UnitedKingdom), 44);
    EXPECT_EQ(CallingCodeForTerritory(QLocale::Germany), 49);

    EXPECT_EQ(StripNull(QString("abc") + QChar(0) + "def"), "abc");
    EXPECT_EQ(StripNull("abc"), "abc");

    ResetForTests();
    LanguageFolderOverride = "/nonexistent-folder";
    InitLocale(false);
    // Qt runs every process in a UTF-8 locale.
    EXPECT_EQ(DefaultCodePage, "65001");
    EXPECT_EQ(CharSet, 0);
    EXPECT_EQ(CurrentLanguageID, 44);
    EXPECT_FALSE(LanguagesLoaded);
    EXPECT_EQ(CountryName, QLocale::territoryToString(QLocale::system().territory()));
    ResetForTests();
}

} // namespace
