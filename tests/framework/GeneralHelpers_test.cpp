#include "framework/DebugLog.h"
#include "framework/GeneralHelpers.h"
#include "platform/system/FileFunctions.h"
#include "platform/system/GeneralFunctions.h"
#include "platform/system/IniFile.h"
#include "tests/support/TempHome.h"
#include "tests/support/WithoutFileOverride.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <unistd.h>

namespace {

class GeneralHelpersTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        root = home.File("tree");
        MakeFile("a.wav");
        MakeFile("Sub/b.wav");
    }

    void TearDown() override
    {
        GeneralFunctions::instance().setDebugLevel(0);
        GeneralFunctions::instance().setDebugPath(QString());
    }

    void MakeFile(const QString& relative)
    {
        const QString path = root + "/" + relative;
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }

    TempHome home;
    FreshDebugLogState debugLog;
    QString root;
};

} // namespace

TEST_F(GeneralHelpersTest, FolderTreeListsFilesAndOptionallyFolders)
{
    QStringList files = GetFolderTree(root, "*.*", false);
    files.sort();
    EXPECT_EQ(files, QStringList({root + "/Sub/b.wav", root + "/a.wav"}));
    EXPECT_EQ(GetFolderTree(root + "/", "", false).size(), 2);

    const QStringList withFolders = GetFolderTree(root, "*.*", true);
    ASSERT_EQ(withFolders.size(), 3);
    const qsizetype sub = withFolders.indexOf(root + "/Sub");
    ASSERT_GE(sub, 0);
    EXPECT_EQ(withFolders.value(sub + 1), root + "/Sub/b.wav");

    // A folder is entered only when the mask lets the enumeration return it.
    EXPECT_EQ(GetFolderTree(root, "*.wav", false), QStringList({root + "/a.wav"}));
    EXPECT_TRUE(ArrayIsEmpty(GetFolderTree("", "*.*", false)));
    EXPECT_TRUE(ArrayIsEmpty(GetFolderTree(root + "/missing", "*.*", true)));
}

TEST_F(GeneralHelpersTest, FolderTreeTracesAreBalanced)
{
    const QString debug = home.File("debug") + "/";
    GeneralFunctions::instance().setDebugPath(debug);
    GeneralFunctions::instance().setDebugLevel(5);
    GetFolderTree("", "", false);
    GetFolderTree(root, "*.wav", true);
    AddToDebugLog("After", 5, ovNone);

    const QStringList logs = QDir(debug).entryList(QDir::Files);
    ASSERT_EQ(logs.size(), 1);
    QFile file(debug + logs.first());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QStringList lines = QString::fromUtf8(file.readAll()).split("\r\n", Qt::SkipEmptyParts);
    for (QString& line : lines) {
        line = line.mid(8);
    }
    EXPECT_EQ(lines, QStringList({" Started GetFolderTree: , , False", " Exit : No Path",
                                  " Started GetFolderTree: " + root + ", *.wav, True",
                                  "     Found File: a.wav", " Finish GetFolderTree", " After"}));
}

TEST_F(GeneralHelpersTest, FolderTreeNeverEntersLinksToFolders)
{
    ASSERT_EQ(symlink(QFile::encodeName(root).constData(),
                      QFile::encodeName(root + "/Sub/loop").constData()),
              0);
    ASSERT_EQ(symlink(QFile::encodeName(root + "/Sub").constData(),
                      QFile::encodeName(root + "/Again").constData()),
              0);
    MakeFile("Elsewhere/c.wav");
    ASSERT_TRUE(QDir(root).rename("Elsewhere", "../Elsewhere"));
    ASSERT_EQ(symlink(QFile::encodeName(root + "/../Elsewhere").constData(),
                      QFile::encodeName(root + "/Out").constData()),
              0);
    ASSERT_EQ(symlink(QFile::encodeName(root + "/../Elsewhere/c.wav").constData(),
                      QFile::encodeName(root + "/c.wav").constData()),
              0);
    QStringList found = GetFolderTree(root, "*.*", true);
    found.sort();
    // Links to folders show as entries, whatever they point at; a link to a file is a file.
    EXPECT_EQ(found,
              QStringList({root + "/Again", root + "/Out", root + "/Sub", root + "/Sub/b.wav",
                           root + "/Sub/loop", root + "/a.wav", root + "/c.wav"}));
    found = GetFolderTree(root, "*.*", false);
    found.sort();
    EXPECT_EQ(found, QStringList({root + "/Sub/b.wav", root + "/a.wav", root + "/c.wav"}));
}

TEST_F(GeneralHelpersTest, FolderTreeSkipsAnUnreadableFolder)
{
    MakeFile("Locked/c.wav");
    ASSERT_TRUE(QFile::setPermissions(root + "/Locked", QFileDevice::Permissions()));
    QStringList found;
    {
        const WithoutFileOverride asAnyAccount;
        ASSERT_TRUE(asAnyAccount.Ok());
        ASSERT_TRUE(QDir(root + "/Locked").entryList(QDir::Files).isEmpty());
        found = GetFolderTree(root, "*.*", true);
    }
    QFile::setPermissions(root + "/Locked",
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    found.sort();
    EXPECT_EQ(found,
              QStringList({root + "/Locked", root + "/Sub", root + "/Sub/b.wav", root + "/a.wav"}));
}

TEST_F(GeneralHelpersTest, WriteProfileValueRemovesTheDefault)
{
    const QString ini = home.File("Importer.ini");
    ASSERT_TRUE(IniFile::WriteString(ini, "Settings", "Interval", "5"));
    EXPECT_EQ(WriteProfileValue("Settings", "Interval", "0", ini, "0"), 1);
    EXPECT_EQ(IniFile::ReadString(ini, "Settings", "Interval", "missing"), "missing");

    EXPECT_EQ(WriteProfileValue("Settings", "Interval", "00", ini, "0"), 1);
    EXPECT_EQ(IniFile::ReadString(ini, "Settings", "Interval", "missing"), "00");
    EXPECT_EQ(WriteProfileValue("Settings", "Name", "Abc", ini, "abc"), 1);
    EXPECT_EQ(IniFile::ReadString(ini, "Settings", "Name", "missing"), "Abc");

    // An empty value that is not the default is written, not taken for a deletion.
    EXPECT_EQ(WriteProfileValue("Settings", "Name", QString(), ini, "abc"), 1);
    QFile file(ini);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains("Name="));

    QFile blocker(home.File("blocker"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_EQ(WriteProfileValue("S", "K", "V", home.File("blocker/x.ini"), ""), 0);
}

TEST_F(GeneralHelpersTest, TextHelpers)
{
    QByteArray bytes(4, 'x');
    StringToByteArray(bytes, "abc");
    EXPECT_EQ(bytes, QByteArray("abc\0", 4));
    StringToByteArray(bytes, "abcdef");
    EXPECT_EQ(bytes, QByteArray("abcd"));
    StringToByteArray(bytes, QString::fromUtf8("\xC3\xA9\xE2\x82\xAC"));
    EXPECT_EQ(bytes, QByteArray("\xE9?\0\0", 4));

    EXPECT_EQ(FilterCharacters("12a4-5", 1, " "), "12 4 5");
    EXPECT_EQ(FilterCharacters("1x2", 1, ""), "12");

    TimeRecord record;
    record.Day = qint32(QDate(1899, 12, 30).daysTo(QDate(2026, 1, 6)));
    record.TimeOfDay = 3723.0f;
    EXPECT_EQ(FormatISODateTime(record), "2026-01-06T01:02:03");

    qint32 handle = 0;
    FileFunctions::instance().FindFirst(root + "/*.*", 0, handle);
    ASSERT_NE(handle, 0);
    CloseFindHandle(handle);
    EXPECT_EQ(handle, 0);
}
