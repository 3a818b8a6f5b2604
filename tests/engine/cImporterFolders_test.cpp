#include "platform/system/LeftoverFiles.h"
#include "tests/engine/ImportDecisionFixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
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
        GTEST_SKIP() << "cannot protect a file from deletion here";
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
    EXPECT_EQ(AppLog().value(0), "Couldn't create folder '" + Drop("Snapshots!") + "'");
    EXPECT_TRUE(AppLog().value(1).startsWith("Imported '1234 Jingle.wav' into Cart 1234"));
}

// A copy cut short by a kill stays behind under its temporary name; the next snapshot removes
// it, but never the copy of a writer still alive, nor a file of someone else's.
TEST_F(FailedAndSnapshotFoldersTest, HalfMadeSnapshotsOfDeadWritersAreRemoved)
{
    AddGroup([](cImporterGroup& g) { g.TakeSnapShotBeforeImport = true; });
    const QString folder = Drop("Snapshots!");
    ASSERT_TRUE(QDir().mkpath(folder));
    for (const char* name :
         {".~1234 Old.wav.Ab12Cd", ".~lock.notes.odt#", ".~9999 Alive.wav.Zz99Yy"}) {
        QFile f(folder + "/" + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("half a copy");
    }
    QFile alive(folder + "/.~9999 Alive.wav.Zz99Yy");
    ASSERT_TRUE(alive.open(QIODevice::ReadOnly));
    ASSERT_TRUE(LeftoverFiles::Own(alive.handle(), alive.fileName()));
    const QString file = Wav("1234 Jingle.wav", 0.5);

    ASSERT_TRUE(Check(file, "1234"));
    QStringList left = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    ASSERT_EQ(left.size(), 3) << Lines(left);
    EXPECT_EQ(left.mid(0, 2), QStringList({".~9999 Alive.wav.Zz99Yy", ".~lock.notes.odt#"}));
    EXPECT_TRUE(left[2].endsWith(" - 1234 Jingle.wav"));
}
