#include "platform/system/LeftoverFiles.h"
#include "tests/engine/ImportDecisionFixture.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/SkipOutsideCi.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string Lines(const QStringList& lines)
{
    return lines.join(QLatin1Char('\n')).toStdString();
}

// Keeps a file from being deleted while it lives: immutable for root, which ignores
// permissions, else a folder without write permission.
class Undeletable
{
public:
    explicit Undeletable(const QString& file) : m_file(file), m_folder(QFileInfo(file).path())
    {
        if (::geteuid() == 0) {
            m_immutable = SetImmutable(true);
            m_ok = m_immutable;
        } else {
            m_ok = ::chmod(QFile::encodeName(m_folder).constData(), 0555) == 0;
        }
    }
    ~Undeletable()
    {
        if (m_immutable) {
            SetImmutable(false);
        } else if (m_ok) {
            ::chmod(QFile::encodeName(m_folder).constData(), 0755);
        }
    }
    bool Ok() const { return m_ok; }

private:
    bool SetImmutable(bool on)
    {
        const int fd = ::open(QFile::encodeName(m_file).constData(), O_RDONLY);
        if (fd < 0) {
            return false;
        }
        int flags = 0;
        bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        if (done) {
            flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
            done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        ::close(fd);
        return done;
    }

    QString m_file;
    QString m_folder;
    bool m_immutable = false;
    bool m_ok = false;
};

class FailedAndSnapshotFoldersTest : public ImportDecisionFixture
{
};

} // namespace

TEST_F(FailedAndSnapshotFoldersTest, OldFailedCopyThatCannotBeRemovedKeepsTheNewFileInPlace)
{
    AddGroup();
    const QString failed = Drop("Failed!/123 Jingle.wav");
    ASSERT_TRUE(QDir().mkpath(Drop("Failed!")));
    {
        QFile old(failed);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("an earlier failure");
    }
    const Undeletable guard(failed);
    if (!guard.Ok()) {
        SKIP_OUTSIDE_CI("cannot protect a file from deletion here");
    }
    store->refuseImport = true;
    const QString file = Wav("123 Jingle.wav", 0.5);

    EXPECT_FALSE(Check(file, "123"));
    const QStringList record = Record();
    ASSERT_EQ(record.size(), 3);
    const QString line = "log:Couldn't remove existing file in Failed! folder '" + failed + "' : ";
    EXPECT_TRUE(record[2].startsWith(line)) << record[2].toStdString();
    EXPECT_GT(record[2].size(), line.size()); // with the reason
    EXPECT_TRUE(QFileInfo::exists(file));
    QFile old(failed);
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), "an earlier failure");
}

TEST_F(FailedAndSnapshotFoldersTest, MovingAFileThatIsGoneIsLoggedAsFailed)
{
    AddGroup([](cImporterGroup& g) {
        g.RemoveIfDeleted = true;
        g.UseArchiveBit = false;
    });
    PrepareCart("1238");
    store->refuseRemove = true;
    const QString file = Drop("1238 Gone.wav");
    EXPECT_FALSE(Check(file, "1238")); // a first look at a missing file removes nothing
    clocks.Later(2);
    ForgetSoFar();

    EXPECT_FALSE(Check(file, "1238"));
    EXPECT_EQ(Record().value(2), "log:Moved '" + file + "' to '" + Drop("Failed!/1238 Gone.wav") +
                                     "' Failed: No such file or directory");
}

TEST_F(FailedAndSnapshotFoldersTest, SnapshotThatCannotBeTakenDoesNotStopTheImport)
{
    AddGroup([](cImporterGroup& g) { g.TakeSnapShotBeforeImport = true; });
    {
        QFile blocker(Drop("Snapshots!"));
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly)); // a file where the folder should be
    }
    const QString file = Wav("1234 Jingle.wav", 0.5);

    ASSERT_TRUE(Check(file, "1234"));
    EXPECT_EQ(Lines(ImportEvents()),
              Lines({"ImportStarted", "ProcessStarted Taking Snapshot of '1234 Jingle.wav' false",
                     "ProcessEnd Failed to take Snapshot of '1234 Jingle.wav' false",
                     "ImportProgress 90", "ImportFinished"}));
    EXPECT_EQ(AppLog().value(0), "Couldn't create folder '" + Drop("Snapshots!") + "' Error: '" +
                                     Drop("Snapshots!") + "' is not a folder");
    EXPECT_TRUE(AppLog().value(1).startsWith("Imported '1234 Jingle.wav' into Cart 1234"));
}

// A copy cut short by a kill stays behind under its temporary name; the next snapshot removes
// it, but never the copy of a writer still alive, nor a file of someone else's, even one
// named like a copy.
TEST_F(FailedAndSnapshotFoldersTest, HalfMadeSnapshotsOfDeadWritersAreRemoved)
{
    AddGroup([](cImporterGroup& g) { g.TakeSnapShotBeforeImport = true; });
    const QString folder = Drop("Snapshots!");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString foreign = ".~2020-01-01 00-00-00 - operator notes.abc123";
    for (const QString& name :
         QStringList{".~2026-01-02 03-04-05 - 1234 Old.wav.Ab12Cd", ".~lock.notes.odt#",
                     ".~notes.backup", ".~2026-01-02 03-04-05 - 9999 Alive.wav.Zz99Yy", foreign}) {
        QFile f(folder + "/" + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("half a copy");
    }
    if (::chown(QFile::encodeName(folder + "/" + foreign).constData(), ::geteuid() + 1, -1) != 0) {
        SKIP_OUTSIDE_CI("cannot give a file to another owner here");
    }
    QFile alive(folder + "/.~2026-01-02 03-04-05 - 9999 Alive.wav.Zz99Yy");
    ASSERT_TRUE(alive.open(QIODevice::ReadOnly));
    ASSERT_TRUE(LeftoverFiles::Own(alive.handle(), alive.fileName()));
    const QString file = Wav("1234 Jingle.wav", 0.5);

    ASSERT_TRUE(Check(file, "1234"));
    QStringList left = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    ASSERT_EQ(left.size(), 5) << Lines(left);
    EXPECT_EQ(left.mid(0, 4), QStringList({foreign, ".~2026-01-02 03-04-05 - 9999 Alive.wav.Zz99Yy",
                                           ".~lock.notes.odt#", ".~notes.backup"}));
    EXPECT_TRUE(left[4].endsWith(" - 1234 Jingle.wav"));
}

// "Failed!" and "Snapshots!" that are links or files: the move or the copy fails saying why, and
// nothing where a link leads is replaced, swept or added to.
TEST_F(FailedAndSnapshotFoldersTest, OnlyRealFoldersInsideTheWatchedFolderAreUsed)
{
    AddGroup();
    const qint16 snapshots = AddGroup([](cImporterGroup& g) { g.TakeSnapShotBeforeImport = true; });
    const QString outside = home.File("outside");
    ASSERT_TRUE(QDir().mkpath(outside));
    for (const char* name :
         {"123 Jingle.wav", ".~notes.backup", ".~2026-01-02 03-04-05 - 1234 Old.wav.Ab12Cd"}) {
        QFile f(outside + "/" + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("theirs");
    }
    const auto link = [&](const char* name) {
        ASSERT_EQ(::symlink(QFile::encodeName(outside).constData(),
                            QFile::encodeName(Drop(name)).constData()),
                  0);
    };
    const QString failed = Drop("Failed!");
    const QString file = Drop("123 Jingle.wav");
    const QString moved = "log:Moved '" + file + "' to '" + failed + "/123 Jingle.wav' Failed: ";
    store->refuseImport = true;

    link("Failed!");
    Wav("123 Jingle.wav", 0.5);
    EXPECT_FALSE(Check(file, "123"));
    EXPECT_EQ(Record().value(2), moved + "'" + failed + "' is a link, not a folder");
    ASSERT_TRUE(QFile::remove(failed));
    {
        QFile plain(failed);
        ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    }
    ForgetSoFar();
    EXPECT_FALSE(Check(file, "123"));
    // The same failure of the same file was told already: only the new reason of the move.
    EXPECT_EQ(Lines(Record()), Lines({moved + "'" + failed + "' is not a folder"}));
    EXPECT_TRUE(QFileInfo::exists(file));

    store->refuseImport = false;
    link("Snapshots!");
    const QString jingle = Wav("1234 Jingle.wav", 0.5);
    ForgetSoFar();
    ASSERT_TRUE(Check(jingle, "1234", snapshots));
    const QString copied = AppLog().value(0);
    EXPECT_TRUE(copied.startsWith("Copied '" + jingle + "' to '" + Drop("Snapshots!/")))
        << copied.toStdString();
    EXPECT_TRUE(copied.endsWith("' Failed: '" + Drop("Snapshots!") + "' is a link, not a folder"))
        << copied.toStdString();
    QStringList there = QDir(outside).entryList(QDir::Files | QDir::Hidden);
    EXPECT_EQ(there.size(), 3) << Lines(there);
    QFile theirs(outside + "/123 Jingle.wav");
    ASSERT_TRUE(theirs.open(QIODevice::ReadOnly));
    EXPECT_EQ(theirs.readAll(), "theirs");
}

// The reason a move or a copy failed is the system's own, not the next step's.
TEST_F(FailedAndSnapshotFoldersTest, FailedMovesAndSnapshotsSayTheRealReason)
{
    AddGroup();
    const qint16 snapshots = AddGroup([](cImporterGroup& g) { g.TakeSnapShotBeforeImport = true; });
    // A name that leaves no room for the date in front of it.
    const QString longName = Wav("1234 " + QString(240, u'a') + ".wav", 0.5);
    ASSERT_TRUE(Check(longName, "1234", snapshots));
    EXPECT_TRUE(AppLog().value(0).endsWith("' Failed: File name too long"))
        << AppLog().value(0).toStdString();
    QFile::remove(longName);

    // Larger than the limit; the logs of the test stay below it.
    const QString big = Wav("1235 Big.wav", 20);
    ForgetSoFar();
    {
        const FileSizeLimit full(200'000);
        ASSERT_TRUE(full.Ok());
        Check(big, "1235", snapshots);
    }
    EXPECT_TRUE(AppLog().value(0).endsWith("' Failed: File too large"))
        << AppLog().value(0).toStdString();

    // No inodes left where "Failed!" would go: a small file system of its own.
    const QString full = Drop("full");
    ASSERT_TRUE(QDir().mkpath(full));
    if (::mount("tmpfs", QFile::encodeName(full).constData(), "tmpfs", 0, "size=1m,nr_inodes=4") !=
        0) {
        SKIP_OUTSIDE_CI("cannot mount a small file system here");
    }
    const auto unmount =
        qScopeGuard([&] { ::umount2(QFile::encodeName(full).constData(), MNT_DETACH); });
    const QString file = Wav("full/123 Jingle.wav", 0.5);
    for (int i = 0; i < 8; ++i) {
        QFile(full + "/filler" + QString::number(i)).open(QIODevice::WriteOnly);
    }
    store->refuseImport = true;
    ForgetSoFar();
    EXPECT_FALSE(Check(file, "123"));
    EXPECT_EQ(Record().value(2), "log:Moved '" + file + "' to '" + full +
                                     "/Failed!/123 Jingle.wav' Failed: No space left on device");
}
