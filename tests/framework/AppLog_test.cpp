#include "framework/AppLog.h"
#include "framework/DebugLog.h"
#include "framework/ToolGlobals.h"
#include "platform/system/GeneralFunctions.h"
#include "platform/system/ScriptedAnswerer.h"
#include "platform/system/SystemInfoFunctions.h"
#include "tests/support/TempHome.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

double OleDay(const QDate& date)
{
    return double(QDate(1899, 12, 30).daysTo(date));
}

class AppLogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetGlobals();
        folder = home.File("Logs/Cartfeeder");
        computer = SystemInfoFunctions::instance().ComputerName();
    }

    void TearDown() override
    {
        ResetGlobals();
        GeneralFunctions::instance().setDebugLevel(0);
        GeneralFunctions::instance().setDebugPath(QString());
    }

    static void ResetGlobals()
    {
        Globals::AppLogFolder.clear();
        Globals::AppLogOptions = 0;
        Globals::AppLogDate = 0;
        Globals::AppLogSequence = 0;
        Globals::AppLogFile.clear();
    }

    static QStringList Lines(const QString& path)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            return {};
        }
        return QString::fromUtf8(file.readAll())
            .split(QRegularExpression("\r?\n"), Qt::SkipEmptyParts);
    }

    void Touch(const QString& name)
    {
        QDir().mkpath(folder);
        QFile file(folder + "/" + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }

    TempHome home;
    FreshDebugLogState debugLog;
    QDate today{2026, 12, 6};
    QString folder;
    QString computer;
};

} // namespace

TEST_F(AppLogTest, DatedFilePerComputerFollowsTheDay)
{
    GeneralFunctions::instance().setDebugPath(home.File("debug") + "/");
    GeneralFunctions::instance().setDebugLevel(5);

    ASSERT_TRUE(InitialiseAppLog(folder, 6, [this] { return today; }));
    const QString firstDay = folder + "/2026-12-06-" + computer + ".log";
    EXPECT_EQ(Globals::AppLogFile, firstDay);
    AddToAppLog("GRP:1", "Importer Closing");
    AddToAppLog("", "Text alone");
    EXPECT_EQ(Lines(firstDay), QStringList({"GRP:1:Importer Closing", "Text alone"}));

    today = today.addDays(1);
    AddToAppLog("", "After midnight");
    const QString secondDay = folder + "/2026-12-07-" + computer + ".log";
    EXPECT_EQ(Globals::AppLogFile, secondDay);
    EXPECT_EQ(Lines(secondDay), QStringList({"After midnight"}));
    EXPECT_EQ(Lines(firstDay).size(), 2);

    const QStringList debugLines = QDir(home.File("debug")).entryList(QDir::Files);
    ASSERT_EQ(debugLines.size(), 1);
    const QStringList mirrored = Lines(home.File("debug/" + debugLines.first()));
    ASSERT_EQ(mirrored.size(), 3);
    EXPECT_TRUE(mirrored[0].endsWith(" AppLog: GRP:1:Importer Closing"));
}

TEST_F(AppLogTest, NumberedFilesTakeTheNextFreeNumberAndRestartOnANewDay)
{
    Touch("2026-12-06-001.log");
    Touch("2026-12-06-002.log");
    ASSERT_TRUE(InitialiseAppLog(folder, 3, [this] { return today; }));
    EXPECT_EQ(Globals::AppLogFile, folder + "/2026-12-06-003.log");
    AddToAppLog("", "Third");
    EXPECT_EQ(Lines(folder + "/2026-12-06-003.log"), QStringList({"Third"}));

    today = today.addDays(1);
    AddToAppLog("", "Next day");
    EXPECT_EQ(Globals::AppLogFile, folder + "/2026-12-07-001.log");
    EXPECT_EQ(Lines(Globals::AppLogFile), QStringList({"Next day"}));
}

TEST_F(AppLogTest, WithoutTheDayOptionTheRunKeepsItsStartDay)
{
    ASSERT_TRUE(InitialiseAppLog(folder, 1, [this] { return today; }));
    EXPECT_EQ(Globals::AppLogFile, folder + "/2026-12-06-001.log");
    today = today.addDays(1);
    AddToAppLog("", "After midnight");
    EXPECT_EQ(Globals::AppLogFile, folder + "/2026-12-06-001.log");

    ResetGlobals();
    ASSERT_TRUE(InitialiseAppLog(folder, 0, [this] { return today; }));
    EXPECT_EQ(Globals::AppLogFile, folder + "/2026-12-07.log");
    today = today.addDays(1);
    AddToAppLog("", "Later");
    EXPECT_EQ(Lines(folder + "/2026-12-07.log"), QStringList({"Later"}));
}

TEST_F(AppLogTest, EntriesBeforeSetUpAreRefused)
{
    GeneralFunctions::instance().setDebugPath(home.File("debug") + "/");
    GeneralFunctions::instance().setDebugLevel(5);
    ScriptedAnswerer answerer([](const MessageBoxRequest& r) { ADD_FAILURE() << "extra box"; });
    answerer.Expect(MsgBoxResult::OK);
    answerer.Expect(MsgBoxResult::OK);

    AddToAppLog("GRP:1", "Lost");
    EXPECT_FALSE(InitialiseAppLog("", 6));
    EXPECT_TRUE(Globals::AppLogFile.isEmpty());
    AddToAppLog("", "Lost too");

    ASSERT_EQ(answerer.Shown().size(), 2);
    EXPECT_EQ(answerer.Shown()[0].Prompt,
              "Internal problem writing to Application Log File, please contact Orvane");
    EXPECT_EQ(answerer.Shown()[0].Style, MsgBoxStyle::OKOnly | MsgBoxStyle::Exclamation);
    EXPECT_FALSE(QDir(home.File("debug")).exists());
}

TEST_F(AppLogTest, LogFilesOfARangeOfDays)
{
    ASSERT_TRUE(InitialiseAppLog(folder, 6, [this] { return today; }));
    Touch("2026-12-07-" + computer + ".log");
    const double sixth = OleDay(QDate(2026, 12, 6));

    const QStringList found = GetAppLogFiles(sixth, sixth + 2);
    EXPECT_EQ(found, QStringList({folder + "/2026-12-07-" + computer + ".log"}));
    EXPECT_TRUE(GetAppLogFiles(sixth + 2, sixth).isEmpty());
    // Whole days to the nearest, a half to the even day.
    EXPECT_EQ(GetAppLogFiles(sixth + 0.6, sixth + 1.4), found);
    // The sixth is day 46362, even: its half goes back to it, not on to the seventh.
    ASSERT_EQ(sixth, 46362.0);
    EXPECT_TRUE(GetAppLogFiles(sixth + 0.5, sixth + 0.5).isEmpty());

    ResetGlobals();
    ASSERT_TRUE(InitialiseAppLog(folder, 1, [this] { return today; }));
    Touch("2026-12-06-001.log");
    EXPECT_EQ(GetAppLogFiles(sixth, sixth), QStringList({folder + "/2026-12-06-???.log"}));
}

// A file name holding a line feed once wrote a forged entry of its own.
TEST_F(AppLogTest, ControlCharactersInAnEntryAreShownEscaped)
{
    GeneralFunctions::instance().setDebugPath(home.File("debug") + "/");
    GeneralFunctions::instance().setDebugLevel(5);
    ASSERT_TRUE(InitialiseAppLog(folder, 0, [this] { return today; }));
    AddToAppLog(
        "GRP:1",
        "Imported '1234 x\nGRP:1:Removed cart 1234 (Morning Jingle)\r\t\x1b.wav' into Cart 1234");
    AddToAppLog("", QStringLiteral("next\u2028line\u0085end \\n stays"));

    const QString forged = "GRP:1:Imported '1234 x\\nGRP:1:Removed cart 1234 (Morning "
                           "Jingle)\\r\\t\\x1b.wav' into Cart 1234";
    const QString unicode = "next\\u2028line\\u0085end \\n stays";
    QFile file(Globals::AppLogFile);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(file.readAll()), forged + "\n" + unicode + "\n");

    const QStringList debugFiles = QDir(home.File("debug")).entryList(QDir::Files);
    ASSERT_EQ(debugFiles.size(), 1);
    const QStringList mirrored = Lines(home.File("debug/" + debugFiles.first()));
    ASSERT_EQ(mirrored.size(), 2);
    EXPECT_TRUE(mirrored[0].endsWith(" AppLog: " + forged)) << mirrored[0].toStdString();
}
