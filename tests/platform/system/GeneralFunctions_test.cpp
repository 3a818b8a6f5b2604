#include "platform/system/DateTimeFunctions.h"
#include "platform/system/GeneralFunctions.h"
#include "platform/system/ToolError.h"
#include "tests/support/TempHome.h"

#include <QFile>
#include <QFileInfo>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

TEST(GeneralFunctionsTest, TransformPasswordIsAnInvolutionKeepingPrintableText)
{
    const auto& general = GeneralFunctions::instance();
    QString printable;
    for (char16_t c = 32; c <= 126; ++c) {
        printable.append(QChar(c));
    }
    printable += QString::fromUtf8("äß\t");
    for (bool flag : {true, false}) {
        const QString stored = general.TransformPassword(printable, flag);
        EXPECT_NE(stored, printable);
        EXPECT_EQ(general.TransformPassword(stored, flag), printable);
        for (qsizetype i = 0; i < 95; ++i) {
            EXPECT_TRUE(stored.at(i).unicode() >= 32 && stored.at(i).unicode() <= 126) << i;
        }
        EXPECT_EQ(stored.right(3), QString::fromUtf8("äß\t"));
    }
}

TEST(GeneralFunctionsTest, ExtractToken)
{
    const auto& general = GeneralFunctions::instance();
    qint32 next = 0;
    const QString line = "1234 Station Jingle";
    EXPECT_EQ(general.ExtractToken(line, 1, " ", next, true, true), "1234");
    EXPECT_EQ(next, 6);
    EXPECT_EQ(general.ExtractToken(line, next, " ", next, true, true), "Station");
    EXPECT_EQ(general.ExtractToken(line, next, " ", next, true, true), "Jingle");
    EXPECT_EQ(next, line.size() + 1);
    EXPECT_EQ(general.ExtractToken(line, next, " ", next, true, true), "");
    EXPECT_EQ(next, line.size() + 1);

    // Multi-character delimiters found without regard to case.
    EXPECT_EQ(general.ExtractToken("a/PROFILE=x", 1, "/profile=", next, true, true), "a");
    EXPECT_EQ(next, 11);
    EXPECT_EQ(general.ExtractToken("lang-0009-x", 6, "-", next, true, true), "0009");
    EXPECT_EQ(general.ExtractToken("abc", 2, "", next, true, true), "bc");
    EXPECT_EQ(next, 4);
    EXPECT_EQ(general.ExtractToken("-abc", 1, "-", next, true, true), "");
    EXPECT_EQ(next, 2);
}

TEST(GeneralFunctionsTest, TimeTextsAndSeconds)
{
    const auto& general = GeneralFunctions::instance();
    EXPECT_DOUBLE_EQ(general.TimeTextToSeconds("00:01:30.50", 11), 90.5);
    EXPECT_DOUBLE_EQ(general.TimeTextToSeconds("00013050", 11), 90.5);
    EXPECT_DOUBLE_EQ(general.TimeTextToSeconds("01:00:00.07", 11), 3600.07);
    EXPECT_DOUBLE_EQ(general.TimeTextToSeconds("__:_1:3_.5_", 11), 90.5);
    EXPECT_DOUBLE_EQ(general.TimeTextToSeconds("", 11), 0);
    EXPECT_THROW(general.TimeTextToSeconds("1a:00", 11), ToolError);

    // The pair that fills a time box reproduces the box's text.
    const auto& dt = DateTimeFunctions::instance();
    for (const char* text : {"00:01:30.50", "00:00:00.00", "01:59:59.99", "00:00:00.01"}) {
        const double seconds = general.TimeTextToSeconds(text, 11);
        EXPECT_EQ(dt.FormatTimeText(general.SecondsToTime(0, 0, seconds), 1), text);
    }
    EXPECT_DOUBLE_EQ(general.SecondsToTime(1, 2, 3.5), 3723.5);
}

TEST(GeneralFunctionsTest, CharacterSetsKeysPaddingAndClamps)
{
    const auto& general = GeneralFunctions::instance();
    EXPECT_TRUE(general.IsCharacterInSet(u'0', 1));
    EXPECT_TRUE(general.IsCharacterInSet(u'9', 1));
    EXPECT_FALSE(general.IsCharacterInSet(u'a', 1));
    EXPECT_FALSE(general.IsCharacterInSet(QChar(0x0663), 1)); // Arabic-Indic three
    EXPECT_EQ(general.FilterKey('7', 1), '7');
    EXPECT_EQ(general.FilterKey(8, 1), 8);
    EXPECT_EQ(general.FilterKey('x', 1), 0);
    EXPECT_EQ(general.PadText("1234", 10), "      1234");
    EXPECT_EQ(general.PadText("12345678901", 10), "12345678901");
    EXPECT_EQ(general.ClampLong(5, 5, 9), 5);
    EXPECT_EQ(general.ClampLong(10, 5, 9), 9);
    EXPECT_DOUBLE_EQ(general.ClampDouble(-0.5, 0, 1), 0);
}

TEST(GeneralFunctionsTest, AppendToTextFileAndTrace)
{
    TempHome home;
    auto& general = GeneralFunctions::instance();
    const QString log = home.File("app.log");
    general.AppendToTextFile(log, true, "GRP:1:Imported 'a.wav'");
    general.AppendToTextFile(log, true, QString::fromUtf8("Grüße"));
    QFile file(log);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("GRP:1:Imported 'a.wav'\nGr\xC3\xBC\xC3\x9F"
                                         "e\n"));
    EXPECT_THROW(general.AppendToTextFile(home.File("missing/app.log"), true, "x"), ToolError);

    const qint32 level = general.DebugLevel();
    general.setDebugLevel(0);
    general.DebugTrace("silent");
    EXPECT_FALSE(QFile::exists(GeneralFunctions::TraceFilePath()));
    general.setDebugLevel(-1);
    general.DebugTrace("Loaded Settings OK");
    general.setDebugLevel(level);
    const QString trace = GeneralFunctions::TraceFilePath();
    EXPECT_TRUE(trace.startsWith(home.File("home/.local/state/DebugFiles/")));
    QFile traced(trace);
    ASSERT_TRUE(traced.open(QIODevice::ReadOnly));
    EXPECT_TRUE(traced.readAll().endsWith(" Loaded Settings OK\n"));
    EXPECT_EQ(QFileInfo(trace).permissions() & (QFileDevice::ReadOther | QFileDevice::ReadGroup),
              0);
}

TEST(GeneralFunctionsTest, AlreadyRunningHonoursTheUserLock)
{
    TempHome home;
    auto& general = GeneralFunctions::instance();
    const QByteArray path = QFile::encodeName(GeneralFunctions::LockFilePath());
    ASSERT_TRUE(path.startsWith(QFile::encodeName(home.File("runtime/"))));

    // Another instance holds its share of the lock (flock locks belong to the open file
    // description, so a second open of the file stands for a second process); one in the middle
    // of its own check holds it whole.
    const int other = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_SH | LOCK_NB), 0);
    EXPECT_TRUE(general.AlreadyRunning());
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_TRUE(general.AlreadyRunning());

    // Once it has gone, this instance takes the lock and keeps it.
    ::close(other);
    EXPECT_FALSE(general.AlreadyRunning());
    // A later check is refused; a later instance that skips the check still announces itself.
    const int late = ::open(path.constData(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(late, 0);
    EXPECT_NE(::flock(late, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(::flock(late, LOCK_SH | LOCK_NB), 0);
    ::close(late);
    EXPECT_FALSE(general.AlreadyRunning());
    QFile pid(QFile::decodeName(path));
    ASSERT_TRUE(pid.open(QIODevice::ReadOnly));
    EXPECT_EQ(pid.readAll(), QByteArray::number(qint64(::getpid())) + '\n');
}
