#include "platform/system/WriteWatch.h"
#include "tests/support/ManualClocks.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cerrno>
#include <gtest/gtest.h>
#include <sys/inotify.h>

namespace {

// Beyond the limit of watched folders every file there would cost a try: the folder is tried
// again once a watch was given up, or an hour later.
TEST(WriteWatchTest, AFolderBeyondTheLimitIsTriedAgainOnlyOnceAWatchWasGivenUpOrHourly)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir("Gone"));
    ASSERT_TRUE(QDir(dir.path()).mkdir("Full"));
    const QString full = dir.filePath("Full");
    int tries = 0;
    bool room = false;
    ManualClocks clocks;
    WriteWatch watch(clocks.Get(), [&](int fd, const char* path, uint32_t mask) {
        if (QFile::decodeName(path) != full) {
            return ::inotify_add_watch(fd, path, mask);
        }
        ++tries;
        if (!room) {
            errno = ENOSPC;
            return -1;
        }
        return ::inotify_add_watch(fd, path, mask);
    });
    const auto judge = [&] { return watch.Judge(full + "/1234 up.wav", 4); };
    watch.WatchTree(dir.path());
    for (int pass = 0; pass < 3; ++pass) {
        watch.WatchTree(dir.path());
        EXPECT_EQ(judge().why, "no more folders can be watched: fs.inotify.max_user_watches");
    }
    EXPECT_EQ(tries, 1);

    ASSERT_TRUE(QDir(dir.path()).rmdir("Gone"));
    judge();
    judge();
    EXPECT_EQ(tries, 2);

    room = true;
    clocks.Later(3599);
    judge();
    EXPECT_EQ(tries, 2);
    clocks.Later(1);
    EXPECT_EQ(judge().why, "written before the program began to watch the folder");
    EXPECT_EQ(tries, 3);
}

} // namespace
