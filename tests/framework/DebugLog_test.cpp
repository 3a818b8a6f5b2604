#include "framework/DebugLog.h"
#include "platform/system/GeneralFunctions.h"
#include "platform/system/RegistryFunctions.h"
#include "platform/system/ScriptedAnswerer.h"
#include "tests/support/TempHome.h"

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <cerrno>

namespace {

GeneralFunctions& General()
{
    return GeneralFunctions::instance();
}

const QString kOrvaneKey = QStringLiteral("SOFTWARE\\Orvane");

class DebugLogTest : public ::testing::Test
{
protected:
    void SetUp() override { ResetState(); }
    void TearDown() override { ResetState(); }

    static void ResetState()
    {
        General().setDebugLevel(0);
        General().setDebugPath(QString());
    }

    QString UseFolder()
    {
        const QString folder = home.File("debug") + "/";
        General().setDebugPath(folder);
        return folder;
    }

    static QString ExpectedFileName()
    {
        return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName() + "." +
               QDate::currentDate().toString("yyyyMMdd") + ".log";
    }

    // The lines of today's file in the folder, each without the time and its line end.
    static QStringList Lines(const QString& folder)
    {
        QFile file(QDir(folder).filePath(ExpectedFileName()));
        if (!file.open(QIODevice::ReadOnly)) {
            return {};
        }
        const QString text = QString::fromUtf8(file.readAll());
        EXPECT_TRUE(text.endsWith("\r\n"));
        QStringList lines = text.split("\r\n");
        lines.removeLast();
        static const QRegularExpression time("^\\d\\d:\\d\\d:\\d\\d");
        for (QString& line : lines) {
            EXPECT_TRUE(time.match(line).hasMatch()) << line.toStdString();
            line = line.mid(8);
        }
        return lines;
    }

    TempHome home;
    FreshDebugLogState debugLog;
};

} // namespace

TEST_F(DebugLogTest, LevelFilterAndNestedIndentation)
{
    const QString folder = UseFolder();
    General().setDebugLevel(5);
    AddToDebugLog("Started Outer", 5, ovIndent);
    AddToDebugLog("Started Inner", -1, ovIndent);
    // Filtered lines must leave the counter alone whatever their code.
    AddToDebugLog("Hidden indent", 10, ovIndent);
    AddToDebugLog("Hidden outdent", 6, ovOutdent);
    AddToDebugLog("Inner line", 5, 7);
    AddToDebugLog("Finish Inner", 5, ovOutdent);
    AddToDebugLog("Finish Outer", 5, ovOutdent);
    AddToDebugLog("Outdent at zero", 5, ovOutdent);
    AddToDebugLog("Level one", 1, ovIndent);
    AddToDebugLog("Indented", 5, ovIndent);
    AddToDebugLog("Reset", 5, ovResetIndent);

    EXPECT_EQ(Lines(folder),
              QStringList({" Started Outer", "     Started Inner", "         Inner line",
                           "     Finish Inner", " Finish Outer", " Outdent at zero", " Level one",
                           "     Indented", " Reset"}));
}

TEST_F(DebugLogTest, LevelZeroWritesNothingAndIgnoresIndentation)
{
    const QString folder = UseFolder();
    AddToDebugLog("Nothing", 5, ovIndent);
    EXPECT_FALSE(QFileInfo::exists(folder));

    General().setDebugLevel(5);
    AddToDebugLog("First", 5, ovNone);
    EXPECT_EQ(Lines(folder), QStringList({" First"}));
}

// The trace may hold file names and addresses of the station: owner-only, also a file an earlier
// build left readable by all.
TEST_F(DebugLogTest, TheDailyFileIsPrivateToItsOwner)
{
    const QString folder = UseFolder();
    General().setDebugLevel(5);
    const QString path = QDir(folder).filePath(ExpectedFileName());
    for (const bool earlier : {false, true}) {
        if (earlier) {
            ASSERT_TRUE(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner |
                                                        QFile::ReadGroup | QFile::ReadOther));
        }
        AddToDebugLog("Traced", 5, ovNone);
        EXPECT_EQ(QFile::permissions(path) & 0x7777,
                  QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser)
            << earlier;
    }
}

TEST_F(DebugLogTest, LevelMinusOneWritesEveryLineWithoutMemoryColumns)
{
    const QString folder = UseFolder();
    General().setDebugLevel(-1);
    AddToDebugLog("Very detailed", 99, ovNone);
    AddToDebugLog("Normal", -1, ovNone);
    EXPECT_EQ(Lines(folder), QStringList({" Very detailed", " Normal"}));
}

TEST_F(DebugLogTest, LevelTenAddsMemoryColumns)
{
    const QString folder = UseFolder();
    General().setDebugLevel(10);
    AddToDebugLog("With memory", 5, ovIndent);
    AddToDebugLog("Inside", 5, ovNone);
    const QStringList lines = Lines(folder);
    ASSERT_EQ(lines.size(), 2);
    static const QRegularExpression layout("^ ([ 0-9]{10}) ([ 0-9]{10})( +)(.*)$");
    const auto first = layout.match(lines[0]);
    ASSERT_TRUE(first.hasMatch()) << lines[0].toStdString();
    EXPECT_GT(first.captured(1).trimmed().toLongLong(), 0);
    EXPECT_GT(first.captured(2).trimmed().toLongLong(), 0);
    EXPECT_EQ(first.captured(3), " ");
    EXPECT_EQ(first.captured(4), "With memory");
    const auto second = layout.match(lines[1]);
    ASSERT_TRUE(second.hasMatch()) << lines[1].toStdString();
    EXPECT_EQ(second.captured(3), "     ");
    EXPECT_EQ(second.captured(4), "Inside");

    qint32 workingSet = 0;
    qint32 pagefile = 0;
    GetProcessMemory(workingSet, pagefile);
    EXPECT_GT(workingSet, 0);
    EXPECT_GT(pagefile, 0);
}

TEST_F(DebugLogTest, RegistryFolderIsReadOnceElseTheDefaultFolder)
{
    const QString registryFolder = home.File("regdebug");
    RegistryFunctions::instance().WriteString(Hive::LocalMachine, kOrvaneKey, "DebugPath",
                                              registryFolder);
    General().setDebugLevel(5);
    AddToDebugLog("From registry", 5, ovNone);
    EXPECT_EQ(General().DebugPath(), registryFolder + "/");
    EXPECT_EQ(Lines(registryFolder), QStringList({" From registry"}));

    // With the path cleared the registry is not asked again: the default folder is used.
    RegistryFunctions::instance().WriteString(Hive::LocalMachine, kOrvaneKey, "DebugPath",
                                              home.File("other"));
    General().setDebugPath(QString());
    AddToDebugLog("Default", 5, ovNone);
    EXPECT_FALSE(QFileInfo::exists(home.File("other")));
    EXPECT_EQ(Lines(QString::fromLocal8Bit(qgetenv("XDG_STATE_HOME")) + "/DebugFiles"),
              QStringList({" Default"}));
    EXPECT_TRUE(General().DebugPath().isEmpty());
}

TEST_F(DebugLogTest, RegistryFolderWithFinalSeparatorGetsNoSecondOne)
{
    const QString registryFolder = home.File("regdebug");
    for (const QString& stored : {registryFolder + "/", registryFolder + "\\"}) {
        SCOPED_TRACE(stored.toStdString());
        ResetState();
        const FreshDebugLogState fresh;
        RegistryFunctions::instance().WriteString(Hive::LocalMachine, kOrvaneKey, "DebugPath",
                                                  stored);
        General().setDebugLevel(5);
        AddToDebugLog("Line", 5, ovNone);
        EXPECT_EQ(General().DebugPath(), registryFolder + "/");
    }
    EXPECT_EQ(Lines(registryFolder), QStringList({" Line", " Line"}));
}

TEST_F(DebugLogTest, FolderThatCannotBeCreatedIsReportedForEveryLine)
{
    QFile blocker(home.File("blocker"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QString folder = home.File("blocker") + "/debug/";
    General().setDebugPath(folder);
    General().setDebugLevel(5);

    ScriptedAnswerer answerer([](const MessageBoxRequest& r) { ADD_FAILURE() << "extra box"; });
    answerer.Expect(MsgBoxResult::OK);
    answerer.Expect(MsgBoxResult::OK);
    AddToDebugLog("One", 5, ovNone);
    AddToDebugLog("Two", 5, ovNone);
    ASSERT_EQ(answerer.Shown().size(), 2);
    EXPECT_EQ(answerer.Shown()[0].Prompt,
              "The Debug Files folder could not be created in '" + folder + "'!");
    EXPECT_EQ(answerer.Shown()[0].Icon(), MsgBoxStyle::Exclamation);
}

TEST_F(DebugLogTest, InitialiseDebugModeFromCommandLineOrRegistry)
{
    // The registry's 7 shows whenever the registry was read.
    RegistryFunctions::instance().WriteString(Hive::LocalMachine, kOrvaneKey, "DebugMode", "7");
    const QList<QPair<QString, qint32>> cases = {{"/debug=max", 10},
                                                 {"/SILENT /DEBUG", 10},
                                                 {"/DEBUG=XYZ /SILENT", 10},
                                                 {"/DEBUG=medium", 5},
                                                 {"/Debug=Normal", 5},
                                                 {"/DEBUG=OFF", 0},
                                                 {"/PROFILE=A /DEBUG=none", 0},
                                                 {"/SILENT", 7},
                                                 {"", 7}};
    for (const auto& [commandLine, level] : cases) {
        General().setDebugLevel(0);
        InitialiseDebugMode(commandLine);
        EXPECT_EQ(General().DebugLevel(), level) << commandLine.toStdString();
    }
    EXPECT_EQ(General().App(), QCoreApplication::instance());

    General().setDebugLevel(3);
    InitialiseDebugMode("/DEBUG=MAX");
    EXPECT_EQ(General().DebugLevel(), 3);
}

TEST_F(DebugLogTest, ProblemMessagesAreShownUnlessSilentAndAlwaysTraced)
{
    const QString folder = UseFolder();
    General().setDebugLevel(5);
    ScriptedAnswerer answerer([](const MessageBoxRequest& r) {
        ADD_FAILURE() << "unexpected box: " << r.Prompt.toStdString();
    });

    EXPECT_EQ(ShowProblemMessage("while printing.", "", true),
              "There was a problem while printing.");
    EXPECT_TRUE(answerer.Shown().isEmpty());

    answerer.Expect(MsgBoxResult::OK);
    const QString message = ShowProblemMessage("  while copying. ", " Disk full  ", false);
    EXPECT_EQ(message, "There was a problem while copying. and the error's description was "
                       "reported as : \n\n\"Disk full\"");
    ASSERT_EQ(answerer.Shown().size(), 1);
    EXPECT_EQ(answerer.Shown()[0].Prompt, message);
    EXPECT_EQ(answerer.Shown()[0].Style, MsgBoxStyle::OKOnly | MsgBoxStyle::Exclamation);

    bool silent = true;
    EXPECT_EQ(ReportError("while saving.", 0, silent), "There was a problem while saving.");
    const QString withNumber = ReportError("while opening.", ENOENT, silent);
    EXPECT_TRUE(withNumber.startsWith("There was a problem while opening. and the error's "
                                      "description was reported as : \n\n\""));
    EXPECT_GT(withNumber.size(), 90);

    // The trace keeps each message on its one line.
    auto escaped = [](QString text) { return text.replace("\n", "\\n"); };
    EXPECT_EQ(Lines(folder),
              QStringList({" There was a problem while printing.", " " + escaped(message),
                           " There was a problem while saving.", " " + escaped(withNumber)}));
}

TEST_F(DebugLogTest, ControlCharactersAreShownEscapedOnTheirLine)
{
    const QString folder = UseFolder();
    General().setDebugLevel(5);
    AddToDebugLog("Found '1234 a\r\nb\tc\x01\x7f.wav'", 5, ovNone);
    AddToDebugLog(QStringLiteral("C:\\Audio\\new \u2029 file"), 5, ovNone);
    EXPECT_EQ(Lines(folder), QStringList({" Found '1234 a\\r\\nb\\tc\\x01\\x7f.wav'",
                                          " C:\\Audio\\new \\u2029 file"}));
}
