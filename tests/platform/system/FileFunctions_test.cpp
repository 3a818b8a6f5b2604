#include "platform/system/FileFunctions.h"
#include "platform/system/LongWork.h"
#include "platform/system/PlatformPaths.h"
#include "platform/system/ProgressDisplay.h"
#include "platform/system/ToolError.h"
#include "tests/support/TempHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void MakeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray Read(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList FindAll(const QString& pattern)
{
    auto& files = FileFunctions::instance();
    QStringList names;
    qint32 handle = -1;
    for (QString name = files.FindFirst(pattern, 0, handle); !name.isEmpty();
         name = files.FindNext(handle)) {
        names.append(name);
    }
    files.FindClose(handle);
    return names;
}

// Cancels once the copy has started.
class CancellingDisplay : public ProgressDisplay
{
public:
    explicit CancellingDisplay(int* calls) : m_calls(calls) {}
    void SetPercent(int) override { ++*m_calls; }
    bool Cancelled() const override { return *m_calls > 0; }

private:
    int* m_calls;
};

} // namespace

TEST(FileFunctionsTest, FindFirstAndNextMatchLikeWindows)
{
    TempHome home;
    const QString dir = home.File("watch");
    MakeFile(dir + "/1234 Jingle.WAV", "a");
    MakeFile(dir + "/promo.wav", "b");
    MakeFile(dir + "/promo.txt", "c");
    MakeFile(dir + "/README", "d");
    MakeFile(dir + "/.hidden", "e");
    QDir().mkpath(dir + "/Failed!");

    EXPECT_EQ(FindAll(dir + "/*.*"), (QStringList{".", "..", ".hidden", "1234 Jingle.WAV",
                                                  "Failed!", "promo.txt", "promo.wav", "README"}));
    EXPECT_EQ(FindAll(dir + "/*.wav"), (QStringList{"1234 Jingle.WAV", "promo.wav"}));
    EXPECT_EQ(FindAll(dir + "/PROMO.*"), (QStringList{"promo.txt", "promo.wav"}));
    EXPECT_EQ(FindAll(dir + "/promo.?a?"), QStringList{"promo.wav"});
    EXPECT_EQ(FindAll(dir + "/readme.*"), QStringList{"README"});
    EXPECT_EQ(FindAll(dir + "/*x*"), QStringList{"promo.txt"});
    EXPECT_TRUE(FindAll(dir + "/*.mp3").isEmpty());
    EXPECT_TRUE(FindAll(home.File("nowhere/*.*")).isEmpty());

    // Two enumerations at once keep their own places.
    auto& files = FileFunctions::instance();
    qint32 a = 0;
    qint32 b = 0;
    EXPECT_EQ(files.FindFirst(dir + "/*.wav", 0, a), "1234 Jingle.WAV");
    EXPECT_EQ(files.FindFirst(dir + "/*.txt", 0, b), "promo.txt");
    EXPECT_NE(a, b);
    EXPECT_EQ(files.FindNext(a), "promo.wav");
    EXPECT_EQ(files.FindNext(b), "");
    EXPECT_EQ(files.FindNext(a), "");
    files.FindClose(a);
    files.FindClose(b);
    EXPECT_EQ(files.FindNext(a), "");
}

TEST(FileFunctionsTest, ListingsKeepTheOrderWithoutRegardToCaseAndTellWhatEachNameIs)
{
    TempHome home;
    const QString dir = home.File("watch");
    const QStringList names{"b_2.wav",
                            "B1.wav",
                            "a.WAV",
                            "_a.wav",
                            "Zulu.wav",
                            "zebra.wav",
                            QString::fromUtf8("\u00c9t\u00e9.wav"),
                            QString::fromUtf8("\u00e9a.wav"),
                            QString::fromUtf8("\u00c4rger.mp3"),
                            "10 Ten.wav",
                            "9 Nine.wav",
                            "[x].wav",
                            "~tilde.wav"};
    for (const QString& name : names) {
        MakeFile(dir + "/" + name, "x");
    }
    QDir().mkpath(dir + "/Mid");
    ASSERT_EQ(::symlink(QFile::encodeName(dir + "/Mid").constData(),
                        QFile::encodeName(dir + "/link to folder").constData()),
              0);
    ASSERT_EQ(::symlink(QFile::encodeName(dir + "/B1.wav").constData(),
                        QFile::encodeName(dir + "/link to file").constData()),
              0);
    ASSERT_EQ(::symlink("nowhere", QFile::encodeName(dir + "/Broken").constData()), 0);
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir + "/pipe").constData(), 0600), 0);

    // The order Qt gives a listing sorted by name without regard to case.
    const QStringList expected =
        QStringList{".", ".."} +
        QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                            QDir::Name | QDir::IgnoreCase);
    EXPECT_EQ(FindAll(dir + "/*.*"), expected);

    using Kind = FileFunctions::FoundEntry::Kind;
    QStringList listed;
    QHash<QString, Kind> kinds;
    for (const auto& entry : FileFunctions::instance().FindAll(dir + "/*")) {
        listed.append(entry.name);
        kinds.insert(entry.name, entry.kind);
    }
    EXPECT_EQ(listed, expected);
    EXPECT_EQ(kinds.value("."), Kind::Folder);
    EXPECT_EQ(kinds.value("Mid"), Kind::Folder);
    EXPECT_EQ(kinds.value("link to folder"), Kind::LinkToFolder);
    EXPECT_EQ(kinds.value("link to file"), Kind::File);
    EXPECT_EQ(kinds.value("Broken"), Kind::File);
    EXPECT_EQ(kinds.value("pipe"), Kind::File);
    EXPECT_EQ(kinds.value("a.WAV"), Kind::File);
}

// A folder that is still changing is looked through by name; one that rests is listed once and
// kept. Both must find the same names.
TEST(FileFunctionsTest, NamesStartingWithAPrefixWhetherTheFolderChangesOrRests)
{
    TempHome home;
    const QString dir = home.File("drop");
    const QString kelvin = QString::fromUtf8("\u212a");
    const QStringList present{"1234 Promo.wav",
                              "1234 promo.TXT",
                              "1234 Promo",
                              "1234 Prom.wav",
                              "123 Promo.wav",
                              "12345 Promo.wav",
                              "x1234 Promo.wav",
                              "1234",
                              kelvin + "ey.txt",
                              "key.wav",
                              "Kex.wav",
                              QString::fromUtf8("\u00c9t\u00e9 1.wav"),
                              QString::fromUtf8("\u00e9T\u00c9 2.txt"),
                              "Ete 3.wav"};
    for (const QString& name : present) {
        MakeFile(dir + "/" + name, "x");
    }
    const QList<std::pair<QString, QStringList>> asked{
        {"1234 Promo", {"1234 Promo", "1234 promo.TXT", "1234 Promo.wav"}},
        {"1234 PROMO.", {"1234 promo.TXT", "1234 Promo.wav"}},
        {"1234",
         {"1234", "1234 Prom.wav", "1234 Promo", "1234 promo.TXT", "1234 Promo.wav",
          "12345 Promo.wav"}},
        // The Kelvin sign folds to "k", and sorts as one.
        {"key", {kelvin + "ey.txt", "key.wav"}},
        {QString::fromUtf8("\u00e9t\u00e9"),
         {QString::fromUtf8("\u00c9t\u00e9 1.wav"), QString::fromUtf8("\u00e9T\u00c9 2.txt")}},
        {"1234 Promo.wav.", {}},
        {"9", {}}};
    auto& files = FileFunctions::instance();
    for (const bool resting : {false, true}) {
        if (resting) {
            const timespec old{::time(nullptr) - 60, 0};
            const timespec times[2] = {old, old};
            ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(dir).constData(), times, 0), 0);
        }
        for (const auto& [prefix, expected] : asked) {
            EXPECT_EQ(files.NamesStartingWith(dir, prefix), expected)
                << (resting ? "resting " : "changing ") << prefix.toStdString();
        }
    }
}

// A folder that rests is not listed again; every change of it still shows.
TEST(FileFunctionsTest, AKeptListingShowsEveryChangeOfTheFolder)
{
    TempHome home;
    const QString dir = home.File("drop");
    MakeFile(dir + "/1 One.wav", "x");
    QDir().mkpath(home.File("target"));
    ASSERT_EQ(::symlink(QFile::encodeName(home.File("target")).constData(),
                        QFile::encodeName(dir + "/2 Link").constData()),
              0);
    // Always the same time, so that only the change time tells.
    const auto rest = [&] {
        const timespec old{1'600'000'000, 0};
        const timespec times[2] = {old, old};
        ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(dir).constData(), times, 0), 0);
    };
    using Kind = FileFunctions::FoundEntry::Kind;
    const auto found = [&] {
        QStringList names;
        for (const auto& entry : FileFunctions::instance().FindAll(dir + "/*.*")) {
            names.append(entry.name + (entry.kind == Kind::LinkToFolder ? "/" : ""));
        }
        return names;
    };
    rest();
    EXPECT_EQ(found(), (QStringList{".", "..", "1 One.wav", "2 Link/"}));
    EXPECT_EQ(found(), (QStringList{".", "..", "1 One.wav", "2 Link/"}));

    // A new file, with the folder's time put back as it was.
    MakeFile(dir + "/3 Three.wav", "x");
    rest();
    EXPECT_EQ(found(), (QStringList{".", "..", "1 One.wav", "2 Link/", "3 Three.wav"}));
    // Removed.
    ASSERT_TRUE(QFile::remove(dir + "/1 One.wav"));
    rest();
    EXPECT_EQ(found(), (QStringList{".", "..", "2 Link/", "3 Three.wav"}));
    // The link's folder replaced by a file, the folder itself untouched.
    ASSERT_TRUE(QDir(home.File("target")).removeRecursively());
    MakeFile(home.File("target"), "x");
    EXPECT_EQ(found(), (QStringList{".", "..", "2 Link", "3 Three.wav"}));
    // The folder replaced by another one of the same names.
    ASSERT_TRUE(QDir().rename(dir, home.File("old drop")));
    MakeFile(dir + "/4 Four.wav", "x");
    rest();
    EXPECT_EQ(found(), (QStringList{".", "..", "4 Four.wav"}));
}

// A listing is kept only for a folder that has rested two seconds, and never on a file system
// that another machine may change behind the folder's times.
TEST(FileFunctionsTest, ListingKeptForAFolderThatRestsOnALocalFileSystemOnly)
{
    TempHome home;
    const QString dir = home.File("drop");
    MakeFile(dir + "/1 One.wav", "x");
    struct stat info
    {
    };
    ASSERT_EQ(::stat(QFile::encodeName(dir).constData(), &info), 0);
    const qint64 changedNs = qint64(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
    qint64 nowNs = changedNs + 1'000'000'000;
    FileFunctions files(Clocks{.WallNs = [&] { return nowNs; }});
    (void)files.FindAll(dir + "/*.*");
    EXPECT_FALSE(files.HoldsListingOf(dir)); // changed a second ago
    nowNs = changedNs + 2'500'000'000;
    (void)files.FindAll(dir + "/*.*");
    EXPECT_TRUE(files.HoldsListingOf(dir));

    const qint64 now = 1'700'000'000'000'000'000;
    const long ext4 = 0xEF53;
    EXPECT_TRUE(FileFunctions::ListingMayBeKept(now - 2'500'000'000, now, ext4));
    EXPECT_FALSE(FileFunctions::ListingMayBeKept(now - 1'500'000'000, now, ext4));
    for (const long network : {0x6969L, 0xFF534D42L, 0xFE534D42L, 0x65735546L}) {
        EXPECT_FALSE(FileFunctions::ListingMayBeKept(now - 60'000'000'000, now, network))
            << std::hex << network;
    }
}

TEST(FileFunctionsTest, SizesNamesAndFolders)
{
    TempHome home;
    auto& files = FileFunctions::instance();
    const QString logs = home.File("Logs/Cartfeeder");
    MakeFile(logs + "/2024-03-15-HOST-002.log", "12345");
    EXPECT_DOUBLE_EQ(files.GetFileSize(logs + "/2024-03-15-HOST-???.log"), 5);
    EXPECT_LT(files.GetFileSize(logs + "/2024-03-16-HOST-???.log"), 0);
    EXPECT_DOUBLE_EQ(files.GetFileSize(logs + "/2024-03-15-HOST-002.log"), 5);
    EXPECT_LT(files.GetFileSize(logs + "/missing.log"), 0);
    EXPECT_LT(files.GetFileSize(logs), 0);
    MakeFile(logs + "/empty.log", "");
    EXPECT_DOUBLE_EQ(files.GetFileSize(logs + "/empty.log"), 0);

    const QString path = "/data/In Box/1234 Station.Jingle.wav";
    EXPECT_EQ(files.GetExtensionName(path), "wav");
    EXPECT_EQ(files.GetFileName(path), "1234 Station.Jingle.wav");
    EXPECT_EQ(files.GetFileTitle(path), "1234 Station.Jingle");
    EXPECT_EQ(files.GetFolderName(path, 0), "/data/In Box");
    EXPECT_EQ(files.GetPathWithoutExtension(path), "/data/In Box/1234 Station.Jingle");
    EXPECT_EQ(files.GetPathWithoutExtension("/data/v1.0/README"), "/data/v1.0/README");
    EXPECT_EQ(files.GetExtensionName("/data/v1.0/README"), "");
    EXPECT_EQ(files.GetFileTitle("/data/v1.0/README"), "README");
    EXPECT_EQ(files.GetFileTitle("/data/In Box/.hidden"), "");
    EXPECT_EQ(files.GetFileTitle("1234.wav"), "1234");
    for (const char* transport : {"/in/1234 Promo.zip", "/in/a.ZiP", "b.ZIP"}) {
        EXPECT_TRUE(files.ExtensionIs(transport, QLatin1String("ZIP"))) << transport;
    }
    // The dotless i has a plain capital I.
    EXPECT_TRUE(files.ExtensionIs(QString::fromUtf8("/in/a.z\u0131p"), QLatin1String("ZIP")));
    for (const char* other : {"/in/a.zipx", "/in/a.zip/b", "/in/zip", "/in/a.zi", "/in/a."}) {
        EXPECT_FALSE(files.ExtensionIs(other, QLatin1String("ZIP"))) << other;
    }
    EXPECT_EQ(files.GetParentFolder("/data/In Box/"), "/data");
    EXPECT_EQ(files.GetParentFolder("/data"), "/");

    EXPECT_TRUE(files.CreateFolder(home.File("a/b/c"), 0));
    EXPECT_TRUE(files.FolderExists(home.File("a/b/c")));
    EXPECT_FALSE(files.FileExists(home.File("a/b/c")));
    // A file in the way: no folder, and no exception.
    MakeFile(home.File("blocked"), "x");
    EXPECT_FALSE(files.CreateFolder(home.File("blocked/sub"), 0));

    EXPECT_EQ(files.GetSpecialFolder(35), home.File("home/.local/share"));
    EXPECT_EQ(files.GetSpecialFolder(36), home.File("home/.local/state"));
    EXPECT_THROW(files.GetDateLastModified(home.File("missing.wav")), ToolError);
    const QDateTime stamp(QDate(2021, 6, 1), QTime(12, 0, 0));
    QFile file(logs + "/empty.log");
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(stamp, QFileDevice::FileModificationTime));
    file.close();
    EXPECT_EQ(files.GetDateLastModified(logs + "/empty.log"), stamp);
}

// A time already read converts as the file's own: whole milliseconds, rounded down also before
// 1970.
TEST(FileFunctionsTest, AModificationTimeReadBeforeConvertsAsTheFilesOwn)
{
    TempHome home;
    auto& files = FileFunctions::instance();
    const QString path = home.File("old.wav");
    MakeFile(path, "x");
    for (const timespec when : {timespec{1'600'000'000, 123'999'999}, timespec{-1, 500'500'000}}) {
        const timespec times[2] = {when, when};
        ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
        const qint64 ns = qint64(when.tv_sec) * 1'000'000'000 + when.tv_nsec;
        EXPECT_EQ(FileFunctions::UtcFromNs(ns), files.GetDateLastModifiedUtc(path));
        EXPECT_EQ(FileFunctions::UtcFromNs(ns).toMSecsSinceEpoch(),
                  qint64(when.tv_sec) * 1000 + when.tv_nsec / 1'000'000);
    }
}

TEST(FileFunctionsTest, CopyReplacesTheDestinationCompletely)
{
    TempHome home;
    auto& files = FileFunctions::instance();
    const QString source = home.File("in/Promo.txt");
    const QString destination = home.File("store/01234.txt");
    QByteArray big(3 * 1024 * 1024 + 17, 'x');
    big[12345] = 'y';
    MakeFile(source, big);
    const QDateTime old(QDate(2020, 1, 2), QTime(3, 4, 5));
    {
        QFile file(source);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(old, QFileDevice::FileModificationTime));
    }
    MakeFile(destination, "previous contents");

    qint16 f1 = 0;
    qint16 f2 = 0;
    qint32 flags = 4;
    ASSERT_EQ(
        files.CopyFileWithProgress(source, destination, "Copying txt file", nullptr, f1, f2, flags),
        0);
    EXPECT_EQ(Read(destination), big);
    EXPECT_EQ(files.GetDateLastModified(destination), old);
    EXPECT_EQ(QDir(home.File("store")).entryList(QDir::Files | QDir::Hidden),
              QStringList{"01234.txt"});
}

TEST(FileFunctionsTest, FailedOrCancelledCopyLeavesNothingBehind)
{
    TempHome home;
    auto& files = FileFunctions::instance();
    const QString store = home.File("store");
    QDir().mkpath(store);
    qint16 f1 = 0;
    qint16 f2 = 0;
    qint32 flags = 4;

    EXPECT_EQ(files.CopyFileWithProgress(home.File("missing.wav"), store + "/x.wav", "", nullptr,
                                         f1, f2, flags),
              ENOENT);
    MakeFile(home.File("in/a.wav"), QByteArray(2 * 1024 * 1024 + 1, 'a'));
    EXPECT_NE(files.CopyFileWithProgress(home.File("in/a.wav"), home.File("nofolder/a.wav"), "",
                                         nullptr, f1, f2, flags),
              0);
    EXPECT_NE(
        files.CopyFileWithProgress(home.File("in"), store + "/dir", "", nullptr, f1, f2, flags), 0);
    // Renaming over a folder fails after the data was written: the copy must vanish.
    QDir().mkpath(store + "/taken");
    EXPECT_NE(files.CopyFileWithProgress(home.File("in/a.wav"), store + "/taken", "", nullptr, f1,
                                         f2, flags),
              0);

    // The operator cancels: the old destination stays as it was.
    MakeFile(store + "/kept.wav", "old");
    int calls = 0;
    ProgressDisplay::SetFactory(
        [&calls](const QString&, QObject*) { return std::make_unique<CancellingDisplay>(&calls); });
    QObject owner;
    const qint32 status = files.CopyFileWithProgress(home.File("in/a.wav"), store + "/kept.wav",
                                                     "Copying", &owner, f1, f2, flags);
    ProgressDisplay::SetFactory(nullptr);
    EXPECT_EQ(status, ECANCELED);
    EXPECT_GT(calls, 0);
    EXPECT_EQ(Read(store + "/kept.wav"), "old");

    // The program closes during a long copy (a snapshot of a large file): it stops at once.
    {
        const LongWork::Scope scope([] { return false; });
        EXPECT_EQ(files.CopyFileWithProgress(home.File("in/a.wav"), store + "/kept.wav", "",
                                             nullptr, f1, f2, flags),
                  ECANCELED);
    }
    EXPECT_EQ(Read(store + "/kept.wav"), "old");

    EXPECT_EQ(QDir(store).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              (QStringList{"kept.wav", "taken"}));
}
