#include "platform/system/LeftoverFiles.h"
#include "tests/support/SkipOutsideCi.h"

#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

int Create(const QString& path)
{
    return ::open(QFile::encodeName(path).constData(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
}

} // namespace

// A writer owns its temporary file only while the file's name still leads to it: a sweep that
// removed the name in the moment before the lock leaves the writer a file nobody can rename.
TEST(LeftoverFilesTest, OwnedOnlyWhileTheNameLeadsToTheOpenFile)
{
    QTemporaryDir dir;
    const QString kept = dir.filePath(".~a.wav.Aa11Bb");
    const int keptFd = Create(kept);
    EXPECT_TRUE(LeftoverFiles::Own(keptFd, kept));

    const QString swept = dir.filePath(".~b.wav.Cc22Dd");
    const int sweptFd = Create(swept);
    ASSERT_EQ(::unlink(QFile::encodeName(swept).constData()), 0);
    EXPECT_FALSE(LeftoverFiles::Own(sweptFd, swept));

    const QString taken = dir.filePath(".~c.wav.Ee33Ff");
    const int takenFd = Create(taken);
    ASSERT_EQ(::unlink(QFile::encodeName(taken).constData()), 0);
    const int otherFd = Create(taken);
    EXPECT_FALSE(LeftoverFiles::Own(takenFd, taken));
    for (const int fd : {keptFd, sweptFd, takenFd, otherFd}) {
        ::close(fd);
    }
}

// The sweep takes unlocked files of the pattern, never a live writer's, nor another account's,
// nor a link named like one, nor what the link leads to.
TEST(LeftoverFilesTest, SweepTakesOnlyUnlockedFilesOfThePattern)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath("real");
    ASSERT_EQ(::mkdir(QFile::encodeName(folder).constData(), 0755), 0);
    const QRegularExpression names(QStringLiteral("^\\.~.+\\.[A-Za-z0-9]{6}$"));
    for (const char* name :
         {".~dead.wav.Aa11Bb", ".~live.wav.Cc22Dd", ".~theirs.wav.Gg44Hh", "other.txt"}) {
        ::close(Create(folder + "/" + name));
    }
    const QString theirs = folder + "/.~theirs.wav.Gg44Hh";
    if (::chown(QFile::encodeName(theirs).constData(), ::geteuid() + 1, -1) != 0) {
        SKIP_OUTSIDE_CI("cannot give a file to another owner here");
    }
    const QString outside = dir.filePath(".~notes.backup");
    ::close(Create(outside));
    const QString link = folder + "/.~link.wav.Ee33Ff";
    ASSERT_EQ(
        ::symlink(QFile::encodeName(outside).constData(), QFile::encodeName(link).constData()), 0);
    const int live = ::open(QFile::encodeName(folder + "/.~live.wav.Cc22Dd").constData(), O_RDONLY);
    ASSERT_TRUE(LeftoverFiles::Own(live, folder + "/.~live.wav.Cc22Dd"));

    EXPECT_EQ(LeftoverFiles::RemoveUnowned(folder, names), 1);
    EXPECT_FALSE(QFile::exists(folder + "/.~dead.wav.Aa11Bb"));
    EXPECT_TRUE(QFile::exists(folder + "/.~live.wav.Cc22Dd"));
    EXPECT_TRUE(QFile::exists(folder + "/other.txt"));
    EXPECT_TRUE(QFile::exists(theirs));
    EXPECT_TRUE(QFile::exists(link));
    EXPECT_TRUE(QFile::exists(outside));
    ::close(live);
}
