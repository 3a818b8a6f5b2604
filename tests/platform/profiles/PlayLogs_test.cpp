#include "platform/cartstore/PlayoutAudio.h"
#include "platform/profiles/PlayLogs.h"
#include "platform/profiles/PlayoutProfile.h"
#include "tests/support/TempHome.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace {
void Touch(const QString& path)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write("played\n");
}
} // namespace

TEST(PlayLogsTest, ListsTheExistingFilesOfTheDaysInOrder)
{
    TempHome home;
    PlayoutProfile playout;
    PlayoutLogging* logs = playout.Logging();
    EXPECT_TRUE(logs->GetLogFiles(0, 100000).isEmpty()); // no profile open

    ASSERT_NE(playout.OpenProfile("Profile1", 256, true), 0);
    const QString folder = PlayLogs::FolderOf(playout.Audio()->BaseFolder());
    EXPECT_TRUE(logs->GetLogFiles(0, 100000).isEmpty()); // no play-log folder yet
    ASSERT_TRUE(QDir().mkpath(folder));
    Touch(folder + "/2024-03-02.log");
    Touch(folder + "/2024-03-01.log");
    Touch(folder + "/2024-03-05.LOG");
    Touch(folder + "/2024-02-30.log"); // no such day
    Touch(folder + "/notes.log");
    Touch(folder + "/2024-03-03.txt");
    ASSERT_TRUE(QDir().mkpath(folder + "/2024-03-04.log")); // a folder, not a log

    const qint32 first = PlayLogs::DayNumber(QDate(2024, 3, 1));
    EXPECT_EQ(first, 45352); // OLE Automation day of 1 March 2024
    EXPECT_EQ(logs->GetLogFiles(first, first + 4),
              (QStringList{folder + "/2024-03-01.log", folder + "/2024-03-02.log",
                           folder + "/2024-03-05.LOG"}));
    EXPECT_EQ(logs->GetLogFiles(first + 1, first + 1), QStringList{folder + "/2024-03-02.log"});
    EXPECT_TRUE(logs->GetLogFiles(first + 2, first + 3).isEmpty());
    EXPECT_TRUE(logs->GetLogFiles(first + 4, first).isEmpty());
    EXPECT_EQ(logs->GetLogFiles(INT32_MIN, INT32_MAX).size(), 3);
}
