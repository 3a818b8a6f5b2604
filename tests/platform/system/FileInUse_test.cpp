#include "platform/system/FileInUse.h"
#include "tests/support/ManualClocks.h"
#include "tests/support/SkipOutsideCi.h"
#include "tests/support/WithoutFileOverride.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

void Write(const QString& path, const QByteArray& bytes, QIODevice::OpenMode mode)
{
    QFile file(path);
    ASSERT_TRUE(file.open(mode));
    file.write(bytes);
}

void SetModified(const QString& path, const QDateTime& when)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(when, QFileDevice::FileModificationTime));
}

// Holds the file open (for appending, as a copy in progress does) until killed.
// A writer of another account: opens the file, writes a piece at each Piece(), closes the file at
// Close().
class Writer
{
public:
    void Open(const QString& path, bool firstPiece = true)
    {
        m_process.start(
            "sh",
            {"-c", "exec 3>>\"$1\"; echo; while read -r p; do printf %s \"$p\" >&3; echo; done",
             "sh", path});
        ASSERT_TRUE(m_process.waitForReadyRead(5000));
        m_process.readAll();
        if (firstPiece) {
            Piece();
        }
    }
    void Piece()
    {
        m_process.write("RIFF\n");
        ASSERT_TRUE(m_process.waitForReadyRead(5000));
        m_process.readAll();
    }
    void Close()
    {
        m_process.closeWriteChannel();
        ASSERT_TRUE(m_process.waitForFinished(5000));
    }
    ~Writer()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }

private:
    QProcess m_process;
};

class Holder
{
public:
    explicit Holder(const QString& path)
    {
        m_process.start("sh", {"-c", "exec 3>>\"$1\"; echo ready; exec sleep 30", "sh", path});
        EXPECT_TRUE(m_process.waitForReadyRead(5000));
    }
    ~Holder() { Release(); }
    void Release()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

private:
    QProcess m_process;
};

TEST(FileInUseTest, LeaseTellsWhetherAnotherProcessHasTheFileOpen)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("1234 copy.wav");
    Write(path, "RIFF", QIODevice::WriteOnly);
    ManualClocks clocks;
    FileInUse inUse(true, clocks.Get());
    clocks.Later(2);
    EXPECT_TRUE(inUse.OpenExclusively(path));

    Holder holder(path);
    const auto refused = inUse.OpenExclusively(path);
    EXPECT_FALSE(refused);
    EXPECT_FALSE(refused.Reason().isEmpty());

    holder.Release();
    EXPECT_TRUE(inUse.OpenExclusively(path));
    // Our own look left nothing open behind it.
    EXPECT_TRUE(inUse.OpenExclusively(path));
}

// A writer that closes the file between pieces (a resumed transfer, "cat >>") leaves nobody
// holding it for a while: it is taken only once it has rested two seconds.
TEST(FileInUseTest, AFileNobodyHoldsIsTakenOnlyOnceItHasRested)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("1234 pieces.mp3");
    ManualClocks clocks;
    FileInUse inUse(true, clocks.Get());
    Write(path, "ID3", QIODevice::WriteOnly);
    const auto refused = inUse.OpenExclusively(path);
    EXPECT_FALSE(refused);
    EXPECT_EQ(refused.Reason(), "modified less than two seconds ago");
    clocks.Later(1);
    EXPECT_FALSE(inUse.OpenExclusively(path));
    clocks.Rejoin();
    Write(path, "more", QIODevice::Append);
    clocks.Later(1.5);
    EXPECT_FALSE(inUse.OpenExclusively(path));
    clocks.Later(1);
    EXPECT_TRUE(inUse.OpenExclusively(path));

    // A writer that puts the source's old time back after each piece: the change time tells.
    clocks.Rejoin();
    Write(path, "again", QIODevice::Append);
    SetModified(path, QDateTime::currentDateTime().addSecs(-60));
    EXPECT_FALSE(inUse.OpenExclusively(path));
    clocks.Later(2.5);
    EXPECT_TRUE(inUse.OpenExclusively(path));

    // The wall clock stepped back an hour after the last piece: its times lie ahead, and two
    // quiet seconds on the steady clock settle the file.
    clocks.Rejoin();
    Write(path, "last", QIODevice::Append);
    clocks.StepWall(-3600);
    EXPECT_FALSE(inUse.OpenExclusively(path));
    clocks.Later(1);
    EXPECT_FALSE(inUse.OpenExclusively(path));
    clocks.Later(1.5);
    EXPECT_TRUE(inUse.OpenExclusively(path));
}

TEST(FileInUseTest, WithoutLeasesAFileMustSettleBetweenTwoLooks)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("1234 copy.wav");
    const QDateTime old = QDateTime::currentDateTime().addSecs(-60);
    Write(path, "RIFF", QIODevice::WriteOnly);
    SetModified(path, old);
    FileInUse inUse(false);

    // Nothing to compare with at the first look, even for an old file.
    EXPECT_FALSE(inUse.OpenExclusively(path));
    EXPECT_TRUE(inUse.OpenExclusively(path));

    // Still growing, with an old time as copies from Windows clients keep it.
    Write(path, "more", QIODevice::Append);
    SetModified(path, old);
    EXPECT_FALSE(inUse.OpenExclusively(path));
    EXPECT_TRUE(inUse.OpenExclusively(path));

    // The same size, just written: too young.
    SetModified(path, QDateTime::currentDateTime());
    EXPECT_FALSE(inUse.OpenExclusively(path));
    EXPECT_FALSE(inUse.OpenExclusively(path));

    SetModified(path, old);
    EXPECT_FALSE(inUse.OpenExclusively(path));
    inUse.Forget(path);
    EXPECT_FALSE(inUse.OpenExclusively(path));
    EXPECT_TRUE(inUse.OpenExclusively(path));

    // Kept while looked at in every pass; a pass without a look at it (renamed away, and back
    // later) forgets it.
    for (int pass = 0; pass < 2; ++pass) {
        inUse.PassEnded();
        EXPECT_TRUE(inUse.OpenExclusively(path));
    }
    inUse.PassEnded();
    inUse.PassEnded();
    EXPECT_FALSE(inUse.OpenExclusively(path));
    EXPECT_TRUE(inUse.OpenExclusively(path));
}

// The two seconds themselves: a Windows client's copy may still be under way a second after
// its last write, and a settled file must not wait much longer than that.
TEST(FileInUseTest, WithoutLeasesTwoSecondsOfQuietSettleAFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("1234 share.wav");
    Write(path, "RIFF", QIODevice::WriteOnly);
    FileInUse inUse(false);

    SetModified(path, QDateTime::currentDateTime().addMSecs(-1500));
    EXPECT_FALSE(inUse.OpenExclusively(path));
    const auto refused = inUse.OpenExclusively(path);
    EXPECT_FALSE(refused);
    EXPECT_EQ(refused.Reason(), "modified less than two seconds ago");

    SetModified(path, QDateTime::currentDateTime().addMSecs(-2500));
    EXPECT_FALSE(inUse.OpenExclusively(path));
    EXPECT_TRUE(inUse.OpenExclusively(path));
}

// A file of another owner gets no lease. In a watched tree a writer that holds it is seen however
// long it pauses; a file there before the watch began takes the size-and-time test, and its folder
// is named once.
TEST(FileInUseTest, WithoutLeasesAWatchedTreeShowsItsWriters)
{
    QTemporaryDir dir;
    const QString before = dir.filePath("1234 before.wav");
    Write(before, "RIFF", QIODevice::WriteOnly);
    ManualClocks clocks;
    FileInUse inUse(false, clocks.Get());
    inUse.WatchTree(dir.path());
    clocks.Later(3);
    EXPECT_FALSE(inUse.OpenExclusively(before));
    EXPECT_TRUE(inUse.OpenExclusively(before));
    const QList<FileInUse::Unseen> unseen = inUse.TakeUnseen();
    ASSERT_EQ(unseen.size(), 1);
    EXPECT_EQ(unseen[0].folder, dir.path());
    EXPECT_EQ(unseen[0].why, "written before the program began to watch the folder");
    EXPECT_TRUE(inUse.OpenExclusively(before));
    EXPECT_TRUE(inUse.TakeUnseen().isEmpty());

    // In a folder made since the last look.
    ASSERT_TRUE(QDir(dir.path()).mkdir("new"));
    inUse.WatchTree(dir.path());
    const QString path = dir.filePath("new/1234 upload.wav");
    QProcess writer;
    writer.start("sh",
                 {"-c", "exec 3>>\"$1\"; printf RIFF >&3; echo ready; exec sleep 30", "sh", path});
    ASSERT_TRUE(writer.waitForReadyRead(5000));
    for (int look = 0; look < 3; ++look) {
        clocks.Later(3);
        EXPECT_FALSE(inUse.OpenExclusively(path)) << look;
    }
    writer.kill();
    writer.waitForFinished(5000);
    clocks.Later(3);
    EXPECT_TRUE(inUse.OpenExclusively(path));

    // Renamed in once whole from within the tree: no second look needed.
    Write(dir.filePath("new/upload.part"), "RIFF", QIODevice::WriteOnly);
    ASSERT_TRUE(QFile::rename(dir.filePath("new/upload.part"), dir.filePath("1234 renamed.wav")));
    clocks.Later(3);
    EXPECT_TRUE(inUse.OpenExclusively(dir.filePath("1234 renamed.wav")));
    EXPECT_TRUE(inUse.TakeUnseen().isEmpty());
}

// Another account's writer, holding its file open and pausing, through every way its folder can
// change. why: empty where the writer must be seen until it closes the file, else the reason the
// file takes two looks.
TEST(FileInUseTest, WithoutLeasesTheWatchFollowsFoldersAsTheyMove)
{
    struct Tree
    {
        QString root, outside;
        FileInUse& inUse;
        ManualClocks& clocks;
        Writer& writer;
        int held = -1;
        QString At(const QString& name) const
        {
            return (name.startsWith(u'~') ? outside : root) + u'/' +
                   name.mid(name.startsWith(u'~'));
        }
        void Make(const QString& name) const { ASSERT_TRUE(QDir().mkpath(At(name))); }
        void Move(const QString& from, const QString& to) const
        {
            ASSERT_TRUE(QDir().rename(At(from), At(to))) << from.toStdString();
        }
        void Look() const { inUse.WatchTree(root); }
    };
    struct Row
    {
        const char* name;
        std::function<void(Tree&)> run;
        QString judged;
        QString why;
    };
    const QString before = "written before the program began to watch the folder";
    const QString movedIn = "moved in from a folder the program was not watching";
    const std::vector<Row> rows = {
        {"renamed aside and made again",
         [](Tree& t) {
             t.Make("In/Today");
             t.Look();
             t.Move("In", "In.old");
             t.Make("In/Today");
             t.Look();
             t.writer.Open(t.At("In/Today/1234 up.wav"));
         },
         "In/Today/1234 up.wav", ""},
        {"its folder renamed",
         [](Tree& t) {
             t.Make("In");
             t.Look();
             t.writer.Open(t.At("In/1234 up.wav"));
             t.Move("In", "In2");
         },
         "In2/1234 up.wav", ""},
        {"its folder moved out and back",
         [](Tree& t) {
             t.Make("In");
             t.Look();
             t.writer.Open(t.At("In/1234 up.wav"));
             t.Move("In", "~In");
             t.Look();
             t.clocks.Later(1);
             t.writer.Piece();
             t.Move("~In", "In");
         },
         "In/1234 up.wav", ""},
        {"its folder away for over an hour",
         [](Tree& t) {
             t.Make("In");
             t.Look();
             t.writer.Open(t.At("In/1234 up.wav"));
             t.Move("In", "~In");
             t.Look();
             t.clocks.Later(3601);
             t.Look();
             t.Move("~In", "In");
         },
         "In/1234 up.wav", before},
        {"moved in open from a folder made since the watch began",
         [](Tree& t) {
             t.Look();
             t.Make("New");
             t.writer.Open(t.At("New/1234 up.wav"));
             t.Move("New/1234 up.wav", "1234 up.wav");
         },
         "1234 up.wav", movedIn},
        {"moved in open from outside",
         [](Tree& t) {
             t.Look();
             t.writer.Open(t.At("~1234 up.wav"));
             t.Move("~1234 up.wav", "1234 up.wav");
         },
         "1234 up.wav", movedIn},
        {"made and still empty",
         [](Tree& t) {
             t.Look();
             t.writer.Open(t.At("1234 up.wav"), false);
         },
         "1234 up.wav", ""},
        {"in a folder there before the watch",
         [](Tree& t) {
             t.Make("Sub/Deeper");
             t.Look();
             t.writer.Open(t.At("Sub/Deeper/1234 up.wav"));
         },
         "Sub/Deeper/1234 up.wav", ""},
        {"in a folder made again under a deleted one's name",
         [](Tree& t) {
             t.Make("Sub");
             t.Look();
             // Held open, the deleted folder's watch is not given up yet.
             t.held = ::open(QFile::encodeName(t.At("Sub")).constData(), O_RDONLY | O_DIRECTORY);
             ASSERT_TRUE(QDir(t.root).rmdir("Sub"));
             t.Make("Sub");
             t.Look();
             t.writer.Open(t.At("Sub/1234 up.wav"));
         },
         "Sub/1234 up.wav", ""},
        {"beside a busy file, the event loop running",
         [](Tree& t) {
             t.Look();
             t.writer.Open(t.At("1234 up.wav"));
             QFile a(t.At("a")), b(t.At("b")), limit("/proc/sys/fs/inotify/max_queued_events");
             ASSERT_TRUE(limit.open(QIODevice::ReadOnly));
             ASSERT_TRUE(a.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
             ASSERT_TRUE(b.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
             // Alternately, as the kernel folds a report into the same one just before it.
             for (int i = limit.readAll().trimmed().toInt() + 10; i > 0; --i) {
                 (i % 2 ? a : b).write("x", 1);
                 if (i % 1000 == 0) {
                     QCoreApplication::processEvents();
                 }
             }
         },
         "1234 up.wav", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QTemporaryDir dir, outside;
        ManualClocks clocks;
        FileInUse inUse(false, clocks.Get());
        Writer writer;
        Tree tree{dir.path(), outside.path(), inUse, clocks, writer};
        row.run(tree);
        const auto closeHeld = qScopeGuard([&] { ::close(tree.held); });
        const QString path = tree.At(row.judged);
        if (!row.why.isEmpty()) {
            clocks.Later(3);
            EXPECT_FALSE(inUse.OpenExclusively(path));
            QStringList told;
            for (const FileInUse::Unseen& unseen : inUse.TakeUnseen()) {
                told.append(unseen.folder + ": " + unseen.why);
            }
            EXPECT_EQ(told, QStringList{QFileInfo(path).path() + ": " + row.why});
            continue;
        }
        for (int look = 0; look < 3; ++look) {
            clocks.Later(3);
            EXPECT_FALSE(inUse.OpenExclusively(path)) << look;
        }
        EXPECT_TRUE(inUse.TakeUnseen().isEmpty());
        writer.Close();
        clocks.Later(3);
        EXPECT_TRUE(inUse.OpenExclusively(path));
    }
}

// As root the lease on another account's file is granted; without the power to take it the
// kernel refuses (EACCES), which says nothing about other holders.
TEST(FileInUseTest, ARefusedLeaseIsNoAnswer)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("1234 theirs.wav");
    Write(path, "RIFF", QIODevice::WriteOnly);
    SetModified(path, QDateTime::currentDateTime().addSecs(-60));
    if (::chown(QFile::encodeName(path).constData(), ::geteuid() + 1, -1) != 0) {
        SKIP_OUTSIDE_CI("cannot give a file to another owner here");
    }
    Holder holder(path);
    ManualClocks clocks;
    FileInUse inUse(true, clocks.Get());
    clocks.Later(3);
    const WithoutFileOverride withoutLease(1u << CAP_LEASE);
    ASSERT_TRUE(withoutLease.Ok());
    EXPECT_FALSE(inUse.OpenExclusively(path));
}

// More reports than the kernel keeps between two looks: what the watch knew is void, as the
// lost reports may have been of a writer.
TEST(FileInUseTest, WithoutLeasesLostReportsLeaveTheSizeAndTimeTest)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("1234 closed.wav");
    ManualClocks clocks;
    FileInUse inUse(false, clocks.Get());
    inUse.WatchTree(dir.path());
    Write(path, "RIFF", QIODevice::WriteOnly);
    clocks.Later(3);
    ASSERT_TRUE(inUse.OpenExclusively(path));

    QFile limit("/proc/sys/fs/inotify/max_queued_events");
    ASSERT_TRUE(limit.open(QIODevice::ReadOnly));
    const int reports = limit.readAll().trimmed().toInt() + 10;
    QFile first(dir.filePath("a")), second(dir.filePath("b")), again(path);
    ASSERT_TRUE(first.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    ASSERT_TRUE(second.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    for (int i = 0; i < reports; ++i) {
        (i % 2 ? first : second).write("x", 1);
    }
    ASSERT_TRUE(again.open(QIODevice::Append | QIODevice::Unbuffered));
    again.write("more", 4);
    clocks.Later(3);
    EXPECT_FALSE(inUse.OpenExclusively(path));
    const QList<FileInUse::Unseen> unseen = inUse.TakeUnseen();
    ASSERT_EQ(unseen.size(), 1);
    EXPECT_EQ(unseen[0].why, "changes there came too fast to be followed");
}

TEST(FileInUseTest, MissingFoldersAndPipesAreNeverOpenAndNeverWaitedFor)
{
    QTemporaryDir dir;
    FileInUse inUse;
    const auto refused = inUse.OpenExclusively(dir.filePath("gone.wav"));
    EXPECT_FALSE(refused);
    EXPECT_FALSE(refused.Reason().isEmpty());
    EXPECT_FALSE(inUse.OpenExclusively(dir.path()));

    // A pipe without a writer would block an ordinary open for ever.
    const QString pipe = dir.filePath("1234 pipe.wav");
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    const auto pipeRefused = inUse.OpenExclusively(pipe);
    EXPECT_FALSE(pipeRefused);
    EXPECT_EQ(pipeRefused.Reason(), "not a regular file");
}

} // namespace
