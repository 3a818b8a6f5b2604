#include "engine/cImporter.h"
#include "engine/cImporterEmail.h"
#include "engine/cImporterGroup.h"
#include "framework/ToolGlobals.h"
#include "framework/ToolStartup.h"
#include "framework/widgets/frmSplash.h"
#include "platform/cartstore/Cart.h"
#include "platform/cartstore/PlayoutAudio.h"
#include "platform/cartstore/WaveFileWriter.h"
#include "platform/profiles/PlayoutProfile.h"
#include "platform/profiles/ProfileLibrary.h"
#include "platform/system/ArchiveAttribute.h"
#include "platform/system/GeneralFunctions.h"
#include "platform/system/LongWork.h"
#include "platform/system/PlatformPaths.h"
#include "platform/system/ScriptedAnswerer.h"
#include "platform/system/ToolError.h"
#include "platform/system/widgets/uHWndGrab.h"
#include "tests/support/AudioFixtures.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/InodeFlags.h"
#include "tests/support/ManualClocks.h"
#include "tests/support/SkipOutsideCi.h"
#include "tests/support/TempHome.h"
#include "ui/GraphicsRenderer.h"
#include "ui/frmMain.h"

#include <QAbstractItemDelegate>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QProcess>
#include <QProgressBar>
#include <QSignalSpy>
#include <QStyleOptionViewItem>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QtEndian>
#include <QtTest/qtestspontaneevent.h>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

// Reaches the window's private state and handlers.
class frmMainTestAccess
{
public:
    static bool UnloadPending(const frmMain& w) { return w.UnloadPending; }
    static bool CheckInProgress(const frmMain& w) { return w.CheckInProgress; }
    static TimeRecord& LastCheck(frmMain& w) { return w.LastCheck; }
    static void Tick(frmMain& w) { w.tmrCheckGroups_Timer(); }
    static void WatchTray(frmMain& w) { w.tmrTrayWatch_Timer(); }
    static bool WatchingTray(const frmMain& w) { return w.m_trayWatch->isActive(); }
    static int PxX(const frmMain& w, double twips) { return w.PxX(twips); }
    static void SetProgramFolder(const QString& folder)
    {
        frmMain::ProgramFolderOverride() = folder;
    }
};

namespace {

using Access = frmMainTestAccess;

void WriteWav(const QString& path, double seconds, double frequency = 440)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    WaveFileWriter writer;
    ASSERT_TRUE(writer.Open(path, 22050, 1)) << path.toStdString();
    std::vector<qint16> samples(size_t(seconds * 22050));
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] = qint16(8000 * std::sin(2 * M_PI * frequency * double(i) / 22050));
    }
    ASSERT_TRUE(writer.Write(samples.data(), int(samples.size())));
    ASSERT_TRUE(writer.Finish());
}

QString ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// A 60-second MP3 cut into 4 files, the pieces of an upload.
QStringList UploadInPieces(const TempHome& home)
{
    const QString mp3 = home.File("source.mp3");
    EXPECT_TRUE(AudioFixtures::WriteSineWav(home.File("source.wav"), 60, 22050, 1));
    EXPECT_TRUE(AudioFixtures::Encode(home.File("source.wav"), mp3));
    QFile source(mp3);
    EXPECT_TRUE(source.open(QIODevice::ReadOnly));
    const QByteArray bytes = source.readAll();
    QStringList pieces;
    for (int piece = 0; piece < 4; ++piece) {
        pieces.append(home.File(QStringLiteral("piece%1").arg(piece)));
        QFile part(pieces.last());
        EXPECT_TRUE(part.open(QIODevice::WriteOnly));
        const qsizetype from = bytes.size() * piece / 4;
        part.write(bytes.mid(from, bytes.size() * (piece + 1) / 4 - from));
    }
    return pieces;
}

// The real cart store with faults put in on request: the named file fails to import with the
// store's error, and asking for the named cart's audio path raises it too.
class FaultyStore : public PlayoutAudio
{
public:
    PlayoutAudio* inner = nullptr;
    QString failingFile;
    QString failingPathCart;

    using S = const QString&;
    AudioSettingsInterface* AudioSettings() const override { return inner->AudioSettings(); }
    void setAudioSettings(AudioSettingsInterface* s) override { inner->setAudioSettings(s); }
    CartvaultSettings* GetCartvaultSettings() override { return inner->GetCartvaultSettings(); }
    QString BaseFolder() const override { return inner->BaseFolder(); }
    bool IsValidCart(S c) const override { return inner->IsValidCart(c); }
    bool IsCartInRange(S c, S f, S l) const override { return inner->IsCartInRange(c, f, l); }
    float GetRangePosition(S c, S f, S l) const override
    {
        return inner->GetRangePosition(c, f, l);
    }
    QString GetFirstCart(S c) const override { return inner->GetFirstCart(c); }
    QString GetNextCart(S c) const override { return inner->GetNextCart(c); }
    QString GetLastCart(qint32 f) const override { return inner->GetLastCart(f); }
    std::optional<Cart> GetCart(S c, qint32 d, bool f) override { return inner->GetCart(c, d, f); }
    qint32 SaveCart(S c, Cart& cart, qint32 d, bool t, bool a, bool& f) override
    {
        return inner->SaveCart(c, cart, d, t, a, f);
    }
    QString GetCartAudioPath(S c, qint32 f, bool b) const override
    {
        if (!failingPathCart.isEmpty() && c == failingPathCart) {
            throw ToolError(3021, QStringLiteral("The cart store is not available"));
        }
        return inner->GetCartAudioPath(c, f, b);
    }
    bool ImportAudioFile(QObject* p, S c, S file, qint32 flags, qint16 n, bool& f1, qint32 a7,
                         qint32 a8, bool& f2) override
    {
        if (!failingFile.isEmpty() && file.contains(failingFile)) {
            throw ToolError(3021, QStringLiteral("The audio store refused the file"));
        }
        return inner->ImportAudioFile(p, c, file, flags, n, f1, a7, a8, f2);
    }
    bool ImportTransportFile(QObject* p, S c, S file, qint32 a4, QObject* a5, qint32 a6,
                             QString& a7, qint32 a8, bool& f) override
    {
        return inner->ImportTransportFile(p, c, file, a4, a5, a6, a7, a8, f);
    }
    bool ExportCart(QObject* p, S c, S t, QObject* pr, qint32 a5, S a6, bool f1, bool f2) override
    {
        return inner->ExportCart(p, c, t, pr, a5, a6, f1, f2);
    }
    bool RemoveCart(S c, bool f1, bool f2) override { return inner->RemoveCart(c, f1, f2); }
    void RefreshCartInfo(bool f, QString& t, qint32& n) override
    {
        inner->RefreshCartInfo(f, t, n);
    }
    void RegisterCallback(IAudioCallback* s) override { inner->RegisterCallback(s); }
    void UnregisterCallback(IAudioCallback* s) override { inner->UnregisterCallback(s); }
};

class FaultyPlayout : public PlayoutProfile
{
public:
    PlayoutAudio* Audio() override
    {
        store.inner = PlayoutProfile::Audio();
        return &store;
    }
    FaultyStore store;
};

class CancelledChooser : public ProfileLibrary
{
public:
    void setSuggestedProfile(const QString&) override {}
    QString ChooseProfile(const QString&, QObject*) override { return QString(); }
};

class MainWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_saved = ToolStartup::Current();
        m_savedLogFile = Globals::AppLogFile;
        m_savedLogFolder = Globals::AppLogFolder;
        ToolStartup::Components& components = ToolStartup::Current();
        components.CommandLine = [] { return QStringLiteral("/Profile=Test /NOPREVCHECK"); };
        components.Wait = [](double) {};
        GeneralFunctions::instance().setDebugLevel(5);
        GeneralFunctions::instance().setDebugPath(home.File("debug") + "/");
        frmMainTestAccess::SetProgramFolder(home.File("program"));
        QDir().mkpath(home.File("program"));
        watch = home.File("watch");
        QDir().mkpath(watch);
    }

    void TearDown() override
    {
        window.reset();
        ToolStartup::Current() = m_saved;
        GeneralFunctions::instance().setDebugLevel(0);
        GeneralFunctions::instance().setDebugPath(QString());
        frmMainTestAccess::SetProgramFolder(QString());
        // The log pointed into this test's folder.
        Globals::AppLogFile = m_savedLogFile;
        Globals::AppLogFolder = m_savedLogFolder;
    }

    QString ProfileFolder() const
    {
        return PlatformPaths::DataHome() + "/Orvane/Cartvault v3/Tools/Cartfeeder/Profiles/Test";
    }

    // Importer.ini with the given group sections after a "General" section.
    void WriteSettings(int groups, const QString& sections, const QString& general = QString())
    {
        QDir().mkpath(ProfileFolder());
        QFile file(ProfileFolder() + "/Importer.ini");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("[General]\nNumberGroups=%1\nCheckInterval=2\n%2\n%3")
                       .arg(groups)
                       .arg(general, sections)
                       .toUtf8());
    }

    static QString FolderGroup(int n, const QString& folder, const QString& range,
                               const QString& extra = QString())
    {
        const QStringList ends = range.split('-');
        return QStringLiteral("[Group%1]\nName=Group %1\nDirectory=%2\nStartHDRef=%3\n"
                              "EndHDRef=%4\nEnabled=1\n%5\n")
            .arg(n)
            .arg(folder, ends.value(0), ends.value(1), extra);
    }

    void Start()
    {
        window = std::make_unique<frmMain>(nullptr, clocks.Get());
        ASSERT_TRUE(window->Load());
    }

    // A forced check once the files just written have rested.
    void Check()
    {
        clocks.Later(2);
        window->CheckGroups(true);
    }

    QString AppLog() const { return ReadFile(Globals::AppLogFile); }

    QString DebugLog() const
    {
        QString text;
        QDirIterator it(home.File("debug"), {"*.log"}, QDir::Files);
        while (it.hasNext()) {
            text += ReadFile(it.next());
        }
        return text;
    }

    static bool CartHasAudio(const QString& cart)
    {
        const std::optional<Cart> c = Globals::PlayoutAudio->GetCart(cart, 0xFFFF, false);
        return c && c->HasAudio && c->Length > 0;
    }

    static float CartLength(const QString& cart)
    {
        const std::optional<Cart> c = Globals::PlayoutAudio->GetCart(cart, 0xFFFF, false);
        return c ? c->Length : -1;
    }

    TempHome home;
    ScriptedAnswerer answers{[](const MessageBoxRequest& request) {
        ADD_FAILURE() << "unexpected message box: " << request.Prompt.toStdString();
    }};
    QString watch;
    ManualClocks clocks;
    std::unique_ptr<frmMain> window;

private:
    ToolStartup::Components m_saved;
    QString m_savedLogFile;
    QString m_savedLogFolder;
};

TEST_F(MainWindowTest, StartsWithoutSettingsShowingAnEmptyListAndWaits)
{
    Start();
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(frmSplash::Loaded(), nullptr);
    EXPECT_EQ(window->lvwGroups->topLevelItemCount(), 0);
    // A missing settings file still loads (the defaults), so the check runs.
    EXPECT_TRUE(window->tmrCheckGroups->isActive());
    EXPECT_EQ(window->tmrCheckGroups->interval(), 1000);
    EXPECT_FALSE(window->cmdSettings->isHidden());
    EXPECT_EQ(window->lblOverallStatus->text(), " Loading Settings...Completed");
    EXPECT_EQ(window->Importer()->CheckInterval, 60.0f);
    EXPECT_NE(window->GraphicsRenderer(), nullptr);
    EXPECT_TRUE(window->GraphicsRenderer()->BackgroundColour().isValid());

    // The application log lives below the store's base folder.
    EXPECT_TRUE(
        Globals::AppLogFile.startsWith(Globals::PlayoutAudio->BaseFolder() + "/Logs/Cartfeeder/"));
    EXPECT_TRUE(AppLog().contains("Loaded Settings OK"));

    ASSERT_NE(window->TrayIcon(), nullptr);
    EXPECT_EQ(window->TrayIcon()->toolTip(), "Cartfeeder");
    EXPECT_FALSE(window->mnuUpdateInfo->isVisible());
    EXPECT_FALSE(window->mnuAboutSep->isVisible());
    EXPECT_FALSE(window->mnuRemoveGroup->isEnabled());

    // Width fixed at 9,780 twips, height from 6,600 up.
    EXPECT_EQ(window->uHWndGrab1->MinWidth(), 9780);
    EXPECT_EQ(window->uHWndGrab1->MaxWidth(), 9780);
    EXPECT_EQ(window->uHWndGrab1->MinHeight(), 6600);
    EXPECT_EQ(window->minimumWidth(), window->maximumWidth());

    // Columns: keys, captions and twip widths.
    const QStringList keys = {"ENABLED",           "NAME",         "PATH", "RANGE",
                              "DELETEAFTERIMPORT", "USEARCHIVEBIT"};
    const QStringList captions = {"", "Name", "Path", "Cart Range", "D?", "A?"};
    ASSERT_EQ(window->lvwGroups->columnCount(), 6);
    for (int column = 0; column < 6; ++column) {
        EXPECT_EQ(window->lvwGroups->headerItem()->data(column, frmMain::KeyRole).toString(),
                  keys[column]);
        EXPECT_EQ(window->lvwGroups->headerItem()->text(column), captions[column]);
    }
    const QHeaderView* header = window->lvwGroups->header();
    EXPECT_EQ(header->sectionSize(0), 0);
    EXPECT_NEAR(header->sectionSize(1) * window->TwipsPerPixelX(), 1200, 15);
    // Path takes the rest, leaving room for the scroll bar.
    double used = 0;
    for (int column = 0; column < 6; ++column) {
        used += header->sectionSize(column) * window->TwipsPerPixelX();
    }
    EXPECT_NEAR(window->lvwGroups->width() * window->TwipsPerPixelX() - used, 285, 30);
    EXPECT_EQ(window->lvwHistory->headerItem()->data(0, frmMain::KeyRole).toString(), "DATE");
    EXPECT_EQ(window->lvwHistory->headerItem()->text(1), "Information");
}

TEST_F(MainWindowTest, FailedStartUpUnloadsSplashAndWindow)
{
    ToolStartup::Components& components = ToolStartup::Current();
    components.CommandLine = [] { return QStringLiteral("/NOPREVCHECK"); };
    components.NewProfileLibrary = [] { return std::make_unique<CancelledChooser>(); };
    window = std::make_unique<frmMain>();
    QSignalSpy unloaded(window.get(), &frmMain::Unloaded);
    EXPECT_FALSE(window->Load());
    EXPECT_EQ(unloaded.count(), 1);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(frmSplash::Loaded(), nullptr);
    EXPECT_EQ(window->Importer(), nullptr);
    EXPECT_EQ(window->TrayIcon(), nullptr);
    EXPECT_TRUE(DebugLog().contains("Start TerminateTool"));
}

TEST_F(MainWindowTest, GroupRowsAndUpdateInformationEntry)
{
    // Named as a Windows copy may name it: found whatever the letter case, as the menu's
    // handler finds it.
    QFile updates(home.File("program/Updates.RTF"));
    ASSERT_TRUE(updates.open(QIODevice::WriteOnly));
    updates.write("{\\rtf1 notes}");
    updates.close();
    WriteSettings(2, FolderGroup(1, watch, "1000-1999", "DeleteAfterImport=1") +
                         "[Group2]\nName=Recheck\nStartHDRef=0042\nEndHDRef=50\nEnabled=1\n"
                         "UseArchiveBit=1\n");
    Start();
    EXPECT_TRUE(window->mnuUpdateInfo->isVisible());
    EXPECT_TRUE(window->mnuAboutSep->isVisible());

    ASSERT_EQ(window->lvwGroups->topLevelItemCount(), 2);
    const QTreeWidgetItem* folder = window->lvwGroups->topLevelItem(0);
    EXPECT_EQ(folder->text(0), "Group 1");
    EXPECT_EQ(folder->text(1), "Group 1");
    EXPECT_EQ(folder->text(2), watch);
    EXPECT_EQ(folder->text(3), "1000-1999");
    EXPECT_EQ(folder->text(4), "Y");
    EXPECT_EQ(folder->text(5), "N");
    const QStringList cellKeys = {"NAME", "PATH", "START", "DELETE", "ARCHIVE"};
    for (int cell = 0; cell < 5; ++cell) {
        EXPECT_EQ(folder->data(cell + 1, frmMain::KeyRole).toString(), cellKeys[cell]);
    }
    // A re-checking group: no folder, the range as stored, no D? and A? answers.
    const QTreeWidgetItem* recheck = window->lvwGroups->topLevelItem(1);
    EXPECT_EQ(recheck->text(2), "(Current)");
    EXPECT_EQ(recheck->text(3), "0042-50");
    EXPECT_EQ(recheck->text(4), "");
    EXPECT_EQ(recheck->text(5), "");
}

TEST_F(MainWindowTest, EmptyUpdateFileHidesTheEntryAndLongProductNamesAreCutInTheTip)
{
    QFile updates(home.File("program/UPDATES.rtf"));
    ASSERT_TRUE(updates.open(QIODevice::WriteOnly));
    updates.close();
    const QString name = QCoreApplication::applicationName();
    QCoreApplication::setApplicationName(QString(70, u'x'));
    Start();
    QCoreApplication::setApplicationName(name);
    EXPECT_FALSE(window->mnuUpdateInfo->isVisible());
    EXPECT_EQ(window->TrayIcon()->toolTip(), QString(64, u'x'));
}

TEST_F(MainWindowTest, DroppedFileIsImportedAtTheNextPassAndDeleted)
{
    WriteSettings(1, FolderGroup(1, watch, "1000-1999", "DeleteAfterImport=1"));
    Start();
    const QString file = watch + "/1234 Station Jingle.wav";
    WriteWav(file, 0.5);

    // The first pass is due one interval after start-up, not at the first tick.
    Access::Tick(*window);
    EXPECT_TRUE(window->lblOverallStatus->text().startsWith(" Time until next check : 00:00:0"))
        << window->lblOverallStatus->text().toStdString();
    EXPECT_FALSE(CartHasAudio("1234"));

    clocks.Later(2);
    Access::Tick(*window);
    EXPECT_TRUE(CartHasAudio("1234"));
    EXPECT_FALSE(QFile::exists(file));
    const QString log = AppLog();
    EXPECT_TRUE(log.contains("GRP:1:Imported '1234 Station Jingle.wav' into Cart 1234"));
    EXPECT_TRUE(log.contains("GRP:1:Successfully deleted '" + file + "'"));
    EXPECT_FALSE(log.contains("Archive flag"));

    // The pass ended: idle again, and the next interval counts from its end.
    EXPECT_EQ(window->lblOverallStatus->text(), " Checking...Finished");
    EXPECT_EQ(window->tmrCheckGroupsTag, "0");
    EXPECT_FALSE(Access::CheckInProgress(*window));
    EXPECT_TRUE(window->mnuSettings->menuAction()->isEnabled());
    EXPECT_EQ(window->prgOverallProgress->value(), 100);
    EXPECT_NE(window->cursor().shape(), Qt::WaitCursor);
    EXPECT_LT(DateTimeFunctions::instance().SecondsElapsed(Access::LastCheck(*window)), 2.0);
    EXPECT_EQ(window->lvwGroups->currentItem(), window->lvwGroups->topLevelItem(0));
    const QString trace = DebugLog();
    EXPECT_TRUE(trace.contains("CheckGroups False"));
    EXPECT_TRUE(trace.contains("Check Group 1"));
    EXPECT_TRUE(trace.contains("Reading Folder Tree Ok - Found Files"));
    EXPECT_TRUE(trace.contains("Checking if 1234 is valid HD Reference"));
}

// The interval runs on a steady clock: the wall clock stepping back an hour (NTP, the repeated
// autumn hour) or a minute and a half, or forward, neither stalls nor hurries the check or its
// countdown; a file stamped ahead of the stepped clock is taken once it has rested.
TEST_F(MainWindowTest, WallClockStepsNeitherStallNorHurryTheCheck)
{
    WriteSettings(1, FolderGroup(1, watch, "1000-1999", "DeleteAfterImport=1"));
    Start();
    WriteWav(watch + "/1234 Station Jingle.wav", 0.5);
    int passes = 0;
    for (const double step : {-3600.0, -90.0, 7200.0}) {
        clocks.Later(1);
        clocks.StepWall(step);
        Access::Tick(*window);
        EXPECT_EQ(window->lblOverallStatus->text(), " Time until next check : 00:00:01");
        EXPECT_EQ(DebugLog().count("Check Group 1"), passes);
        clocks.Later(1);
        Access::Tick(*window);
        EXPECT_EQ(DebugLog().count("Check Group 1"), ++passes) << step;
        EXPECT_EQ(CartHasAudio("1234"), passes > 1) << step;
    }
}

// Other work that lets the windows breathe (the group editor's length refresh) is not
// interleaved with a pass: a tick meanwhile waits for the next one.
TEST_F(MainWindowTest, NoPassStartsWhileOtherWorkBreathes)
{
    WriteSettings(1, FolderGroup(1, watch, "1000-1999"));
    Start();
    clocks.Later(3);
    {
        const LongWork::Scope work([&] {
            Access::Tick(*window);
            return true;
        });
        LongWork::Breathe();
    }
    EXPECT_EQ(DebugLog().count("Check Group 1"), 0);
    Access::Tick(*window);
    EXPECT_EQ(DebugLog().count("Check Group 1"), 1);
}

// A writer that closes the file between pieces (a resumed transfer, "cat >>") leaves nobody
// holding it: the file is taken only once it has rested, whole.
TEST_F(MainWindowTest, FileWrittenInPiecesIsImportedOnlyOnceItHasRested)
{
    REQUIRE_FFMPEG();
    const QString wav = home.File("source.wav");
    const QString mp3 = home.File("source.mp3");
    ASSERT_TRUE(AudioFixtures::WriteSineWav(wav, 20, 22050, 1));
    ASSERT_TRUE(AudioFixtures::Encode(wav, mp3));
    QFile source(mp3);
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    const QByteArray bytes = source.readAll();
    WriteSettings(1, FolderGroup(1, watch, "1000-1999", "DeleteAfterImport=1"));
    Start();

    const QString file = watch + "/1234 Interview.mp3";
    const int pieces = 15;
    for (int piece = 0; piece < pieces; ++piece) {
        clocks.Rejoin();
        QFile target(file);
        ASSERT_TRUE(target.open(QIODevice::Append));
        const qsizetype from = bytes.size() * piece / pieces;
        target.write(bytes.mid(from, bytes.size() * (piece + 1) / pieces - from));
        target.close();
        clocks.Later(1);
        window->CheckGroups(true);
        ASSERT_FALSE(CartHasAudio("1234")) << piece;
    }
    clocks.Later(1);
    window->CheckGroups(true);
    EXPECT_NEAR(CartLength("1234"), 20, 0.1);
    EXPECT_FALSE(QFile::exists(file));
}

// A writer under another account gets no lease: the reports on the watched folder show that it
// still holds the file, however long it pauses between pieces. A file there before the watch
// began takes the size-and-time test, and the log says so once.
TEST_F(MainWindowTest, FileOfAnotherOwnerIsTakenOnlyOnceItsWriterClosedIt)
{
    REQUIRE_FFMPEG();
    const QStringList pieces = UploadInPieces(home);
    WriteSettings(1, FolderGroup(1, watch, "3000-3999", "DeleteAfterImport=1"));
    WriteWav(watch + "/3002 Before.wav", 0.5);
    window = std::make_unique<frmMain>(nullptr, clocks.Get(), false);
    ASSERT_TRUE(window->Load());
    Check();

    const QString file = watch + "/3001 Written.mp3";
    QProcess writer;
    writer.start("sh",
                 {"-c", "exec 3>\"$1\"; while read -r piece; do cat \"$piece\" >&3; echo; done",
                  "sh", file});
    for (const QString& piece : pieces) {
        writer.write(piece.toUtf8() + '\n');
        ASSERT_TRUE(writer.waitForReadyRead(5000));
        writer.readAll();
        Check();
        Check();
        ASSERT_FALSE(CartHasAudio("3001")) << piece.toStdString();
        ASSERT_TRUE(QFile::exists(file));
    }
    writer.closeWriteChannel();
    ASSERT_TRUE(writer.waitForFinished(5000));
    Check();
    EXPECT_NEAR(CartLength("3001"), 60, 0.2);
    EXPECT_FALSE(QFile::exists(file));
    EXPECT_TRUE(CartHasAudio("3002"));
    const QString log = AppLog();
    EXPECT_EQ(log.count("Cannot see whether"), 1) << log.toStdString();
    EXPECT_TRUE(log.contains("GRP:1:Cannot see whether files in '" + watch +
                             "' are still being written (written before the program began to "
                             "watch the folder); a file there is taken once it has not changed "
                             "between two checks"));
}

// The operator moves the folders of an upload of another account about: the watch follows each
// folder, and a folder made again under an old name is watched afresh. Each upload is imported
// whole, and only then deleted.
TEST_F(MainWindowTest, AnotherOwnersUploadIsTakenWholeWhileItsFoldersAreMoved)
{
    REQUIRE_FFMPEG();
    const QStringList pieces = UploadInPieces(home);
    WriteSettings(1, FolderGroup(1, watch, "3000-3999", "DeleteAfterImport=1"));
    ASSERT_TRUE(QDir().mkpath(watch + "/In/Today"));
    window = std::make_unique<frmMain>(nullptr, clocks.Get(), false);
    ASSERT_TRUE(window->Load());
    Check();

    // Renamed aside and made again before the upload; renamed while the upload goes on.
    ASSERT_TRUE(QDir(watch).rename("In", "In.old"));
    ASSERT_TRUE(QDir().mkpath(watch + "/In/Today"));
    Check();
    const QString first = watch + "/In/Today/3001 Upload.mp3";
    const QString second = watch + "/In/Today/3002 Upload.mp3";
    for (const QString& file : {first, second}) {
        QProcess writer;
        writer.start("sh",
                     {"-c", "exec 3>\"$1\"; while read -r piece; do cat \"$piece\" >&3; echo; done",
                      "sh", file});
        for (const QString& piece : pieces) {
            writer.write(piece.toUtf8() + '\n');
            ASSERT_TRUE(writer.waitForReadyRead(5000));
            writer.readAll();
            if (file == second && piece == pieces[1]) {
                ASSERT_TRUE(QDir(watch + "/In").rename("Today", "Later"));
            }
            Check();
            Check();
            ASSERT_FALSE(CartHasAudio(file == first ? "3001" : "3002")) << piece.toStdString();
        }
        writer.closeWriteChannel();
        ASSERT_TRUE(writer.waitForFinished(5000));
    }
    Check();
    EXPECT_NEAR(CartLength("3001"), 60, 0.2);
    EXPECT_NEAR(CartLength("3002"), 60, 0.2);
    EXPECT_FALSE(QFile::exists(first));
    EXPECT_FALSE(QFile::exists(watch + "/In/Later/3002 Upload.mp3"));
    EXPECT_FALSE(AppLog().contains("Cannot see whether")) << AppLog().toStdString();
}

TEST_F(MainWindowTest, ArchiveFlagIsClearedAndTheFileNotImportedAgainButDeleteWins)
{
    const QString both = home.File("both");
    WriteSettings(2, FolderGroup(1, watch, "1000-1499", "UseArchiveBit=1") +
                         FolderGroup(2, both, "1500-1999", "DeleteAfterImport=1\nUseArchiveBit=1"));
    Start();
    const QString file = watch + "/1234 Station Jingle.wav";
    WriteWav(file, 0.5);
    WriteWav(both + "/1500 Both.wav", 0.3);
    Check();
    EXPECT_TRUE(CartHasAudio("1234"));
    ASSERT_TRUE(QFile::exists(file));
    EXPECT_FALSE(ArchiveAttribute::IsSet(file, {.tableFolder = Globals::ToolProfileFolder}));
    EXPECT_TRUE(AppLog().contains("GRP:1:Successfully cleared Archive flag '" + file + "'"));
    EXPECT_TRUE(CartHasAudio("1500"));
    EXPECT_FALSE(QFile::exists(both + "/1500 Both.wav"));
    // Deleted, so there is no flag left to clear, nor a failure to clear it.
    EXPECT_FALSE(AppLog().contains("GRP:2:Successfully cleared Archive flag"));
    EXPECT_FALSE(AppLog().contains("GRP:2:Couldn't clear Archive flag"));

    Check();
    EXPECT_EQ(AppLog().count("into Cart 1234"), 1);
    EXPECT_EQ(AppLog().count("Successfully cleared Archive flag"), 1);
    EXPECT_TRUE(QFile::exists(file));

    // Dated in the future, it stays newer than its own import; clearing the mark is no change.
    const QString ahead = watch + "/1235 Ahead.wav";
    WriteWav(ahead, 0.3);
    {
        QFile dated(ahead);
        ASSERT_TRUE(dated.open(QIODevice::ReadWrite));
        ASSERT_TRUE(dated.setFileTime(QDateTime::currentDateTime().addSecs(3600),
                                      QFileDevice::FileModificationTime));
    }
    for (int pass = 1; pass <= 4; ++pass) {
        Check();
    }
    EXPECT_EQ(AppLog().count("Imported '1235 Ahead.wav'"), 1) << AppLog().toStdString();
}

// A file whose own attribute record is refused (immutable for root, which ignores permissions,
// else read-only) has its mark in the profile's table instead.
TEST_F(MainWindowTest, ArchiveFlagOfAFileThatRefusesTheRecordStaysCleared)
{
    WriteSettings(1, FolderGroup(1, watch, "1000-1999", "UseArchiveBit=1"));
    Start();
    const QString file = watch + "/1234 Locked.wav";
    WriteWav(file, 0.5);
    const QByteArray native = QFile::encodeName(file);
    const auto setImmutable = [&](bool on) { return SetInodeFlag(native, FS_IMMUTABLE_FL, on); };
    const bool immutable = ::geteuid() == 0 && setImmutable(true);
    if (::geteuid() == 0 && !immutable) {
        SKIP_OUTSIDE_CI("no immutable files here");
    }
    if (!immutable) {
        ASSERT_EQ(::chmod(native.constData(), 0444), 0);
    }
    // The file itself refuses the record now.
    EXPECT_NE(::setxattr(native.constData(), ArchiveAttribute::RecordName, "1 1", 3, 0), 0);

    Check();
    EXPECT_TRUE(CartHasAudio("1234"));
    EXPECT_TRUE(AppLog().contains("GRP:1:Successfully cleared Archive flag '" + file + "'"))
        << AppLog().toStdString();
    EXPECT_FALSE(ArchiveAttribute::IsSet(file, {.tableFolder = Globals::ToolProfileFolder}));
    Check();
    EXPECT_EQ(AppLog().count("into Cart 1234"), 1);
    if (immutable) {
        setImmutable(false);
    }
}

// A folder that refuses removals (append-only for root, which ignores permissions, else
// read-only): the imported file stays, and the log says why.
TEST_F(MainWindowTest, FileThatCannotBeDeletedStaysAndTheLogSaysWhy)
{
    WriteSettings(1, FolderGroup(1, watch, "1000-1999", "DeleteAfterImport=1"));
    Start();
    const QString file = watch + "/1234 Kept.wav";
    WriteWav(file, 0.5);
    const QByteArray folder = QFile::encodeName(watch);
    const auto setAppendOnly = [&](bool on) { return SetInodeFlag(folder, FS_APPEND_FL, on); };
    const bool root = ::geteuid() == 0;
    if (root ? !setAppendOnly(true) : ::chmod(folder.constData(), 0555) != 0) {
        SKIP_OUTSIDE_CI("no folder here refuses removals");
    }
    // Imported once: the same version is not imported again at every pass.
    for (int pass = 0; pass < 3; ++pass) {
        Check();
    }
    root ? setAppendOnly(false) : ::chmod(folder.constData(), 0755);
    EXPECT_TRUE(CartHasAudio("1234"));
    EXPECT_TRUE(QFile::exists(file));
    EXPECT_EQ(AppLog().count("GRP:1:Couldn't delete '" + file + "' Error: " +
                             (root ? "Operation not permitted" : "Permission denied")),
              1)
        << AppLog().toStdString();
    EXPECT_EQ(AppLog().count("Imported '1234 Kept.wav'"), 1);
}

// The mark of a file that must go into the profile's table (a link has no attributes of its
// own) cannot be written while the profile's disk is full (a file-size limit stands in): the
// file is not imported again at every pass, and the reason is logged once.
TEST_F(MainWindowTest, ArchiveMarkThatCannotBeRecordedIsKeptForTheRun)
{
    WriteSettings(1, FolderGroup(1, watch, "1000-1999", "UseArchiveBit=1"));
    Start();
    const QString target = home.File("elsewhere/1234 Jingle.wav");
    WriteWav(target, 0.5);
    const QString link = watch + "/1234 Jingle.wav";
    ASSERT_TRUE(QFile::link(target, link));
    // A table already larger than the limit, of files on a share that is not mounted.
    QJsonObject table;
    for (int i = 0; i < 3000; ++i) {
        table.insert(QStringLiteral("/mnt/absent/%1 Some long file name.wav").arg(i), "1 1");
    }
    QDir().mkpath(Globals::ToolProfileFolder);
    QFile file(Globals::ToolProfileFolder + "/" + ArchiveAttribute::TableName);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QJsonDocument(table).toJson(QJsonDocument::Compact));
    file.close();
    ASSERT_GT(file.size(), 100 * 1024);
    {
        FileSizeLimit full(100 * 1024);
        ASSERT_TRUE(full.Ok());
        for (int pass = 1; pass <= 3; ++pass) {
            Check();
        }
    }
    EXPECT_TRUE(CartHasAudio("1234"));
    const QString log = AppLog();
    EXPECT_EQ(log.count("Imported '1234 Jingle.wav' into Cart 1234"), 1) << log.toStdString();
    EXPECT_EQ(log.count("GRP:1:Couldn't clear Archive flag on '" + link + "' Error: "), 1);
    EXPECT_EQ(log.count("File too large"), 1) << log.toStdString();
}

// Names that are not UTF-8 cannot be imported, nor even named to the store: one line per folder
// says so, with the bytes escaped, until the names there change.
TEST_F(MainWindowTest, NamesThatAreNotUtf8AreToldOncePerFolder)
{
    // A second group watching the same folder hears of them too.
    WriteSettings(2, FolderGroup(1, watch, "1000-1999") + FolderGroup(2, watch, "2000-2999"));
    Start();
    const auto make = [](const QString& folder, const QByteArray& name) {
        QDir().mkpath(folder);
        const QByteArray path = QFile::encodeName(folder) + "/" + name;
        FILE* f = std::fopen(path.constData(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs("RIFF", f);
        std::fclose(f);
    };
    make(watch, "1234 Caf\xe9.wav");
    make(watch, "1235 \xff\x01.mp3");
    make(watch, "notes \xe9.txt");
    make(watch + "/sub", "1236 \xc3\xa9t\xe9.ogg");
    make(watch + "/Failed!", "1237 \xe9.wav");
    WriteWav(watch + "/1300 Good.wav", 0.3);

    Check();
    Check();
    EXPECT_TRUE(CartHasAudio("1300"));
    QString log = AppLog();
    EXPECT_EQ(log.count("whose names are not valid UTF-8"), 4) << log.toStdString();
    EXPECT_TRUE(log.contains("GRP:1:Files in '" + watch +
                             "' whose names are not valid UTF-8 are left where they are: "
                             "'1234 Caf\\xe9.wav', '1235 \\xff\\x01.mp3'"))
        << log.toStdString();
    EXPECT_TRUE(log.contains("GRP:1:Files in '" + watch +
                             "/sub' whose names are not valid UTF-8 are left where they are: "
                             "'1236 \u00e9t\\xe9.ogg'"));

    make(watch + "/sub", "1238 \xfe.wav");
    Check();
    log = AppLog();
    EXPECT_EQ(log.count("whose names are not valid UTF-8"), 6);
    EXPECT_TRUE(log.contains("/sub' whose names are not valid UTF-8 are left where they are: "
                             "'1236 \u00e9t\\xe9.ogg', '1238 \\xfe.wav'"));
}

// The title names a real cart, but one of another group's range: neither the file nor the cart
// is this group's business.
TEST_F(MainWindowTest, FileForACartOutsideTheRangeStaysAndTheCartIsUntouched)
{
    const QString other = home.File("other");
    WriteSettings(2, FolderGroup(1, watch, "1000-1499", "DeleteAfterImport=1") +
                         FolderGroup(2, other, "1500-1999", "DeleteAfterImport=1"));
    Start();
    WriteWav(other + "/1600 Original.wav", 0.5);
    Check();
    ASSERT_NEAR(CartLength("1600"), 0.5, 0.05);

    const QString intruder = watch + "/1600 Intruder.wav";
    WriteWav(intruder, 1.0);
    WriteWav(watch + "/1234 Own.wav", 0.3);
    Check();
    EXPECT_TRUE(CartHasAudio("1234"));
    EXPECT_TRUE(QFile::exists(intruder));
    EXPECT_NEAR(CartLength("1600"), 0.5, 0.05);
    EXPECT_EQ(AppLog().count("Cart 1600"), 1);
}

TEST_F(MainWindowTest, FileStillOpenInAnotherProcessWaitsUntilClosed)
{
    WriteSettings(1, FolderGroup(1, watch, "1000-1999", "DeleteAfterImport=1"));
    Start();
    const QString file = watch + "/1300 Copying.wav";
    WriteWav(file, 0.3);

    QProcess writer;
    writer.start("sh", {"-c", "exec 3>>\"$1\"; echo ready; exec sleep 30", "sh", file});
    ASSERT_TRUE(writer.waitForReadyRead(5000));
    Check();
    EXPECT_FALSE(CartHasAudio("1300"));
    EXPECT_TRUE(QFile::exists(file));
    EXPECT_TRUE(DebugLog().contains("Cannot open '" + file + "' exclusively, possibly in use"));

    writer.kill();
    writer.waitForFinished(5000);
    Check();
    EXPECT_TRUE(CartHasAudio("1300"));
    EXPECT_FALSE(QFile::exists(file));
}

// Several files name one cart (in the number their titles begin with) in a folder that keeps its
// files: importing each over the other would change the cart at every pass. The newest goes in,
// and not before it has been written; one that holds no audio never keeps the others out. Each
// of the others waits, told once per version of it.
TEST_F(MainWindowTest, OfSeveralFilesForOneCartTheNewestIsImported)
{
    REQUIRE_FFMPEG();
    WriteSettings(1, FolderGroup(1, watch, "1000-1999"));
    Start();
    const auto write = [](const QString& path, const QByteArray& text, int secondsAgo = 0) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        file.write(text);
        ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addSecs(-secondsAgo),
                                     QFileDevice::FileModificationTime));
    };
    const QString source = home.File("source.wav");
    ASSERT_TRUE(AudioFixtures::WriteSineWav(source, 30, 22050, 1));
    const QString older = watch + "/1900 Spot.wav";
    // First in the pass's order.
    const QString newer = watch + "/1900 Spot new.wav";
    ASSERT_TRUE(AudioFixtures::Encode(source, older, {"-t", "29"}));
    ASSERT_TRUE(AudioFixtures::Encode(source, newer));
    write(older, {}, 60);
    // Cart, good file, and the newer one beside it that cannot be imported.
    const struct
    {
        QString cart, good, bad;
        QByteArray badText;
    } rows[] = {{"1901", "1901 A good.wav", "1901 B notes.wav", "to do: record the spot"},
                {"1902", "1902 A good.wav", "zz/1902 B.wav", {}}};
    for (const auto& row : rows) {
        WriteWav(watch + "/" + row.good, 0.5);
        write(watch + "/" + row.good, {}, 60);
        write(watch + "/" + row.bad, row.badText);
    }
    const QString promo = watch + "/Promos/1903 Spot.wav";
    WriteWav(promo, 0.7);
    write(promo, {}, 60);

    // Filled in the pass that found its newer file cannot be imported.
    const auto filledOnceTold = [&](int pass) {
        for (const auto& row : rows) {
            if (AppLog().contains("'" + row.bad + "' cannot be read as audio")) {
                EXPECT_TRUE(CartHasAudio(row.cart)) << row.cart.toStdString() << " pass " << pass;
            }
        }
    };
    QProcess writer;
    writer.start("sh", {"-c", "exec 3>>\"$1\"; echo ready; exec sleep 30", "sh", newer});
    ASSERT_TRUE(writer.waitForReadyRead(5000));
    Check();
    EXPECT_FALSE(CartHasAudio("1900"));
    filledOnceTold(0);
    writer.kill();
    writer.waitForFinished(5000);
    for (int pass = 1; pass <= 3; ++pass) {
        Check();
        filledOnceTold(pass);
    }
    EXPECT_NEAR(CartLength("1900"), 30, 0.05);
    EXPECT_NEAR(CartLength("1901"), 0.5, 0.05);
    EXPECT_NEAR(CartLength("1902"), 0.5, 0.05);
    EXPECT_NEAR(CartLength("1903"), 0.7, 0.05);
    const QString log = AppLog();
    EXPECT_EQ(log.count("GRP:1:'1900 Spot.wav' is not imported: '1900 Spot new.wav' also names "
                        "Cart 1900"),
              1)
        << log.toStdString();
    EXPECT_EQ(log.count("'1901 B notes.wav' cannot be read as audio"), 1);
    EXPECT_EQ(log.count("'1902 B.wav' cannot be read as audio: the file is empty"), 1);

    // The old file's folder renamed, the new one copied in under the old name; the older file
    // rewritten.
    ASSERT_TRUE(QDir(watch).rename("Promos", "Promos.old"));
    WriteWav(promo, 1.5);
    ASSERT_TRUE(AudioFixtures::Encode(source, older, {"-t", "28"}));
    Check();
    Check();
    EXPECT_NEAR(CartLength("1900"), 28, 0.05);
    EXPECT_NEAR(CartLength("1903"), 1.5, 0.05);
    const QString later = AppLog();
    EXPECT_EQ(later.count("Imported '1900 Spot new.wav' into Cart 1900"), 1) << later.toStdString();
    EXPECT_EQ(later.count("Imported '1900 Spot.wav' into Cart 1900"), 1);
    EXPECT_EQ(later.count("GRP:1:'Promos.old/1903 Spot.wav' is not imported: "
                          "'Promos/1903 Spot.wav' also names Cart 1903"),
              1);
}

// What the program itself put into "Failed!" and "Snapshots!" is never offered, so it never keeps
// the folder's own file for the cart out.
TEST_F(MainWindowTest, FilesInTheEngineFoldersNeverShareACart)
{
    WriteSettings(1, FolderGroup(1, watch, "1000-1999"));
    Start();
    ASSERT_TRUE(QDir().mkpath(watch + "/Failed!") && QDir().mkpath(watch + "/snapshots!"));
    WriteWav(watch + "/Failed!/1900 Refused.wav", 0.5);
    WriteWav(watch + "/snapshots!/1900 Before.wav", 0.75);
    WriteWav(watch + "/1900 Spot.wav", 1.0);
    Check();
    Check();
    EXPECT_NEAR(CartLength("1900"), 1.0, 0.05);
    EXPECT_FALSE(AppLog().contains("is not imported")) << AppLog().toStdString();
}

// A folder that holds the store's audio: the cart's own audio file, which is never offered, leaves
// the file dropped beside it for its cart to be offered.
TEST_F(MainWindowTest, FileBesideTheCartsOwnAudioIsImported)
{
    const QString audio = PlatformPaths::DataHome() + "/Orvane/Cartvault v3/Audio";
    WriteSettings(2, FolderGroup(1, audio, "1000-1999") +
                         FolderGroup(2, watch, "1000-1999", "DeleteAfterImport=1"));
    Start();
    const QString source = home.File("source.wav");
    WriteWav(source, 0.5);
    bool f1 = false, f2 = true;
    ASSERT_TRUE(
        Globals::PlayoutAudio->ImportAudioFile(nullptr, "1900", source, 0x24, -1, f1, 0, -1, f2));
    WriteWav(audio + "/001900 Spot.wav", 1.0);
    Check();
    Check();
    EXPECT_NEAR(CartLength("1900"), 1.0, 0.05);
    EXPECT_EQ(AppLog().count("Imported '001900 Spot.wav'"), 1) << AppLog().toStdString();
    EXPECT_FALSE(AppLog().contains("is not imported"));

    // Another name of the cart's own audio, outside the store's folder, is that audio too.
    const QString link = watch + "/1900 x.wav";
    ASSERT_EQ(::link(QFile::encodeName(Globals::PlayoutAudio->GetCartAudioPath("1900", 0, false)),
                     QFile::encodeName(link)),
              0);
    Check();
    Check();
    EXPECT_TRUE(QFile::exists(link));
    EXPECT_FALSE(AppLog().contains("1900 x.wav")) << AppLog().toStdString();
}

// A new version copied in while the previous one is being imported was never imported: it is
// neither deleted nor marked as archived, and the next pass takes it.
TEST_F(MainWindowTest, FileReplacedDuringItsImportIsKeptForTheNextPass)
{
    const QString archived = home.File("archived");
    WriteSettings(2, FolderGroup(1, watch, "1000-1499", "DeleteAfterImport=1") +
                         FolderGroup(2, archived, "1500-1999", "UseArchiveBit=1"));
    Start();
    const QString deleted = watch + "/1234 Replaced.wav";
    const QString cleared = archived + "/1500 Replaced.wav";
    WriteWav(deleted, 0.5);
    WriteWav(cleared, 0.5);
    bool replace = true;
    QObject::connect(window->Importer(), &cImporter::ImportFinished,
                     [&](const QString& fileName, const QString&) {
                         if (replace) {
                             WriteWav(fileName, 1.5, 880);
                         }
                     });
    Check();
    EXPECT_NEAR(CartLength("1234"), 0.5, 0.05);
    EXPECT_NEAR(CartLength("1500"), 0.5, 0.05);
    ASSERT_TRUE(QFile::exists(deleted));
    EXPECT_TRUE(ArchiveAttribute::IsSet(cleared, {.tableFolder = Globals::ToolProfileFolder}));
    const QString log = AppLog();
    EXPECT_TRUE(log.contains("GRP:1:Couldn't delete '" + deleted + "' Error: "))
        << log.toStdString();
    EXPECT_TRUE(log.contains("GRP:2:Couldn't clear Archive flag on '" + cleared + "' Error: "))
        << log.toStdString();

    replace = false;
    Check();
    EXPECT_NEAR(CartLength("1234"), 1.5, 0.05);
    EXPECT_NEAR(CartLength("1500"), 1.5, 0.05);
    EXPECT_FALSE(QFile::exists(deleted));
    EXPECT_FALSE(ArchiveAttribute::IsSet(cleared, {.tableFolder = Globals::ToolProfileFolder}));

    // Opened for writing during the import, nothing written yet: the rest is to come.
    WriteWav(deleted, 0.7);
    WriteWav(cleared, 0.7);
    std::vector<std::unique_ptr<QProcess>> writers;
    QObject::connect(window->Importer(), &cImporter::ImportFinished,
                     [&](const QString& fileName, const QString&) {
                         writers.push_back(std::make_unique<QProcess>());
                         writers.back()->start(
                             "sh", {"-c", "exec 3>>\"$1\"; echo; exec sleep 30", "sh", fileName});
                         EXPECT_TRUE(writers.back()->waitForReadyRead(5000));
                     });
    Check();
    EXPECT_NEAR(CartLength("1234"), 0.7, 0.05);
    EXPECT_TRUE(QFile::exists(deleted));
    EXPECT_TRUE(ArchiveAttribute::IsSet(cleared, {.tableFolder = Globals::ToolProfileFolder}));
    const QString kept = AppLog();
    EXPECT_TRUE(kept.contains("GRP:1:Kept '" + deleted +
                              "' instead of deleting it: it is still being written"));
    EXPECT_TRUE(kept.contains("GRP:2:Kept the Archive flag on '" + cleared +
                              "': it is still being written"));
    for (const auto& writer : writers) {
        writer->kill();
        writer->waitForFinished(5000);
    }
}

TEST_F(MainWindowTest, FileThatMakesTheEngineFailIsLoggedAndLaterFilesStillImported)
{
    ToolStartup::Current().NewPlayoutGeneral = [] { return std::make_unique<FaultyPlayout>(); };
    WriteSettings(1, FolderGroup(1, watch, "1000-1999", "DeleteAfterImport=1"));
    Start();
    auto* store = dynamic_cast<FaultyStore*>(Globals::PlayoutAudio);
    ASSERT_NE(store, nullptr);
    store->failingFile = "1235 Damaged";
    const QString damaged = watch + "/1235 Damaged.wav";
    WriteWav(damaged, 0.3);
    WriteWav(watch + "/1236 Later.wav", 0.3);
    // Not audio at all: the store reads nothing from it.
    QFile garbage(watch + "/1237 Garbage.wav");
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
    garbage.write(QByteArray(4000, 'z'));
    garbage.close();
    WriteWav(watch + "/1238 Last.wav", 0.3);

    Check();
    EXPECT_TRUE(AppLog().contains("GRP:1:Couldn't check '" + damaged +
                                  "' Error: The audio store refused the file"))
        << AppLog().toStdString();
    EXPECT_TRUE(QFile::exists(damaged));
    EXPECT_FALSE(CartHasAudio("1235"));
    EXPECT_TRUE(CartHasAudio("1236"));
    EXPECT_FALSE(CartHasAudio("1237"));
    EXPECT_TRUE(CartHasAudio("1238"));
    EXPECT_EQ(window->lblOverallStatus->text(), " Checking...Finished");
}

TEST_F(MainWindowTest, ErrorEscapingAPassLeavesTheWindowIdle)
{
    ToolStartup::Current().NewPlayoutGeneral = [] { return std::make_unique<FaultyPlayout>(); };
    WriteSettings(1, "[Group1]\nName=Recheck\nStartHDRef=1\nEndHDRef=5\nEnabled=1\n");
    Start();
    auto* store = dynamic_cast<FaultyStore*>(Globals::PlayoutAudio);
    ASSERT_NE(store, nullptr);
    store->failingPathCart = "3";
    Check();
    EXPECT_EQ(window->tmrCheckGroupsTag, "0");
    EXPECT_FALSE(Access::CheckInProgress(*window));
    EXPECT_TRUE(window->mnuSettings->menuAction()->isEnabled());
    EXPECT_TRUE(window->mnuCheckNow->isEnabled());
    EXPECT_NE(window->cursor().shape(), Qt::WaitCursor);
    EXPECT_TRUE(AppLog().contains(
        "Couldn't finish checking the groups Error: The cart store is not available"));

    // Not stuck: the next check runs to its end.
    store->failingPathCart.clear();
    Check();
    EXPECT_EQ(window->lblOverallStatus->text(), " Checking...Finished");
}

TEST_F(MainWindowTest, RecheckGroupRetimesChangedCartsAndRemovesVanishedOnes)
{
    WriteSettings(2, FolderGroup(1, watch, "2000-2009", "DeleteAfterImport=1") +
                         "[Group2]\nName=Recheck\nStartHDRef=2000\nEndHDRef=2005\nEnabled=1\n"
                         "RemoveIfDeleted=1\n");
    Start();
    WriteWav(watch + "/2001 Changing.wav", 1.0);
    WriteWav(watch + "/2002 Vanishing.wav", 0.5);
    WriteWav(watch + "/2003 Saving.wav", 0.5);
    Check();
    ASSERT_TRUE(CartHasAudio("2001"));
    ASSERT_TRUE(CartHasAudio("2002"));
    EXPECT_NEAR(CartLength("2001"), 1.0, 0.05);

    // The cart's own audio file changes length; the other one disappears.
    const QString changing = Globals::PlayoutAudio->GetCartAudioPath("2001", 0, false);
    const QString vanishing = Globals::PlayoutAudio->GetCartAudioPath("2002", 0, false);
    WriteWav(changing, 2.0);
    QFile changed(changing);
    ASSERT_TRUE(changed.open(QIODevice::ReadWrite));
    changed.setFileTime(QDateTime::currentDateTime().addSecs(60),
                        QFileDevice::FileModificationTime);
    changed.close();
    ASSERT_TRUE(QFile::remove(vanishing));

    // A file stamped ahead of the clock is taken once it has been seen resting.
    Check();
    EXPECT_NEAR(CartLength("2001"), 1.0, 0.05);
    // Removed only when still missing at a look 2 seconds later: an editor's save removes the
    // file for a moment.
    clocks.Later(1.9);
    window->CheckGroups(true);
    EXPECT_GT(CartLength("2002"), 0.0f);
    EXPECT_FALSE(AppLog().contains("Removed cart"));
    Check();
    EXPECT_NEAR(CartLength("2001"), 2.0, 0.05);
    EXPECT_LE(CartLength("2002"), 0.0f);
    const QString log = AppLog();
    EXPECT_TRUE(log.contains("GRP:2:Updated times for Cart 2001")) << log.toStdString();
    EXPECT_TRUE(log.contains("GRP:2:Removed cart 2002")) << log.toStdString();

    // Back, though too freshly saved to be looked into: a miss after that counts afresh.
    const QString saving = Globals::PlayoutAudio->GetCartAudioPath("2003", 0, false);
    ASSERT_TRUE(QFile::remove(saving));
    Check();
    clocks.Later(3);
    clocks.Rejoin();
    WriteWav(saving, 0.5);
    window->CheckGroups(true);
    ASSERT_TRUE(QFile::remove(saving));
    clocks.Later(0.1);
    window->CheckGroups(true);
    EXPECT_GT(CartLength("2003"), 0.0f);
}

// Every audio file of a range gone at once (a restore or a sync that empties the folder): no
// cart is removed, and the log says why once, then hourly; a few gone are removed as before.
TEST_F(MainWindowTest, RecheckPassRemovesNoCartWhenMostOfTheRangesAudioVanishesAtOnce)
{
    WriteSettings(1, "[Group1]\nName=Recheck\nStartHDRef=2000\nEndHDRef=2005\nEnabled=1\n"
                     "RemoveIfDeleted=1\n");
    Start();
    const QString source = home.File("source.wav");
    WriteWav(source, 0.3);
    const QString aside = home.File("aside");
    QDir().mkpath(aside);
    for (int cart = 2000; cart <= 2005; ++cart) {
        bool f1 = false, f2 = true;
        ASSERT_TRUE(Globals::PlayoutAudio->ImportAudioFile(nullptr, QString::number(cart), source,
                                                           0x24, -1, f1, 0, -1, f2));
        const QString audio = Globals::PlayoutAudio->GetCartAudioPath(QString::number(cart), 0, 0);
        ASSERT_TRUE(QFile::rename(audio, aside + "/" + QFileInfo(audio).fileName()));
    }
    const QString held = "GRP:1:Removed none of the carts 2000 to 2005: the audio files of 6 of "
                         "its 6 carts with audio are missing";
    for (int pass = 1; pass <= 3; ++pass) {
        Check();
    }
    EXPECT_EQ(AppLog().count(held), 1) << AppLog().toStdString();
    clocks.Later(3600);
    Check();
    EXPECT_EQ(AppLog().count(held), 2);
    EXPECT_FALSE(AppLog().contains("Removed cart"));

    // Four come back; the two still missing are removed.
    for (const QString& name : QDir(aside).entryList({"*.wav"})) {
        if (!name.startsWith("02000") && !name.startsWith("02001")) {
            ASSERT_TRUE(QFile::rename(aside + "/" + name,
                                      Globals::PlayoutAudio->BaseFolder() + "/Audio/" + name));
        }
    }
    Check();
    Check();
    EXPECT_EQ(AppLog().count(held), 2);
    EXPECT_TRUE(AppLog().contains("GRP:1:Removed cart 2000"));
    EXPECT_TRUE(AppLog().contains("GRP:1:Removed cart 2001"));
    for (const char* kept : {"2002", "2003", "2004", "2005"}) {
        EXPECT_TRUE(CartHasAudio(kept)) << kept;
    }
}

// A snapshot the group asks for could not be made: the import goes ahead, but the file is the
// only copy of this version, so it stays, and it is not imported again while unchanged.
TEST_F(MainWindowTest, FileWhoseSnapshotFailedIsImportedOnceAndKept)
{
    WriteSettings(
        1, FolderGroup(1, watch, "1000-1999", "DeleteAfterImport=1\nTakeSnapShotBeforeImport=1"));
    Start();
    {
        QFile blocker(watch + "/Snapshots!");
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly)); // a file where the folder should be
    }
    const QString file = watch + "/1234 Jingle.wav";
    WriteWav(file, 0.3);
    const QString kept =
        "GRP:1:Kept '" + file + "' instead of deleting it: its snapshot could not be taken";
    Check();
    Check();
    EXPECT_TRUE(CartHasAudio("1234"));
    EXPECT_TRUE(QFile::exists(file));
    const QString log = AppLog();
    EXPECT_EQ(log.count(kept), 1) << log.toStdString();
    EXPECT_EQ(log.count("Imported '1234 Jingle.wav'"), 1);
    EXPECT_EQ(log.count("Couldn't create folder"), 1);
    EXPECT_FALSE(log.contains("Successfully deleted"));
}

// An editor truncates a file before it writes it anew: an empty audio file is no deletion.
TEST_F(MainWindowTest, RecheckGroupKeepsACartWhoseAudioFileIsEmptyForAMoment)
{
    WriteSettings(2, FolderGroup(1, watch, "2000-2009", "DeleteAfterImport=1") +
                         "[Group2]\nName=Recheck\nStartHDRef=2000\nEndHDRef=2005\nEnabled=1\n"
                         "RemoveIfDeleted=1\n");
    Start();
    WriteWav(watch + "/2001 Being Edited.wav", 0.5);
    Check();
    ASSERT_TRUE(CartHasAudio("2001"));
    const QString audio = Globals::PlayoutAudio->GetCartAudioPath("2001", 0, false);
    QFile truncated(audio);
    ASSERT_TRUE(truncated.open(QIODevice::WriteOnly | QIODevice::Truncate));
    truncated.close();
    ASSERT_EQ(QFileInfo(audio).size(), 0);

    Check();
    EXPECT_FALSE(AppLog().contains("Removed cart 2001")) << AppLog().toStdString();
    const std::optional<Cart> kept = Globals::PlayoutAudio->GetCart("2001", 0xFFFF, false);
    ASSERT_TRUE(kept.has_value());
    EXPECT_NEAR(kept->Length, 0.5, 0.05);
    EXPECT_EQ(kept->Title, "Being Edited");
    EXPECT_TRUE(QFileInfo::exists(audio));
}

TEST_F(MainWindowTest, BusyFlagBlocksEvenAForcedCheck)
{
    WriteSettings(1, FolderGroup(1, watch, "1000-1999", "DeleteAfterImport=1"));
    Start();
    WriteWav(watch + "/1234 Waiting.wav", 0.3);
    const QString status = window->lblOverallStatus->text();
    window->tmrCheckGroupsTag = "1";
    Check();
    EXPECT_FALSE(CartHasAudio("1234"));
    EXPECT_EQ(window->lblOverallStatus->text(), status);
    EXPECT_EQ(window->tmrCheckGroupsTag, "1");

    window->tmrCheckGroupsTag = "0";
    Check();
    EXPECT_TRUE(CartHasAudio("1234"));
}

TEST_F(MainWindowTest, EngineFoldersAreSkippedAtAnyDepthAndCartsComeFromTheTitle)
{
    const QString failedWatch = home.File("in/FAILED!/drop");
    // The last group is disabled: its row is still selected, its folder never read.
    WriteSettings(4,
                  FolderGroup(1, watch, "1-2000", "DeleteAfterImport=1") +
                      FolderGroup(2, failedWatch, "1-2000", "DeleteAfterImport=1") +
                      FolderGroup(3, home.File("nowhere  "), "1-2000") +
                      FolderGroup(4, home.File("off"), "1-2000").replace("Enabled=1", "Enabled=0"));
    Start();
    WriteWav(watch + "/Failed!/1240 A.wav", 0.2);
    WriteWav(watch + "/sub/snapshots!/deeper/1241 B.wav", 0.2);
    WriteWav(watch + "/Failed!Old/1242 C.wav", 0.2);
    WriteWav(watch + "/sub/1243 D.wav", 0.2);
    WriteWav(watch + "/0042 Intro.WAV", 0.2);
    WriteWav(watch + "/Jingle 1244.wav", 0.2);
    WriteWav(failedWatch + "/1245 E.wav", 0.2);
    QFile text(watch + "/1246 notes.txt");
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("not audio");
    text.close();

    Check();
    EXPECT_FALSE(CartHasAudio("1240"));
    EXPECT_FALSE(CartHasAudio("1241"));
    EXPECT_FALSE(CartHasAudio("1242"));
    EXPECT_TRUE(CartHasAudio("1243"));
    EXPECT_TRUE(CartHasAudio("42"));
    EXPECT_FALSE(CartHasAudio("1244"));
    EXPECT_FALSE(CartHasAudio("1245"));
    EXPECT_TRUE(QFile::exists(watch + "/1246 notes.txt"));
    const QString trace = DebugLog();
    EXPECT_TRUE(trace.contains("Checking if 42 is valid HD Reference"));
    EXPECT_TRUE(trace.contains("Checking if 0 is valid HD Reference"));
    EXPECT_FALSE(trace.contains("Checking if 1246"));
    EXPECT_TRUE(AppLog().contains("GRP:3:Couldn't find directory \"" + home.File("nowhere") +
                                  "\" to check for new files"));
    EXPECT_EQ(window->lvwGroups->currentItem(), window->lvwGroups->topLevelItem(3));
    EXPECT_FALSE(trace.contains("Check Folder exists " + home.File("off")));
}

// A link in a drop folder never carries the walk, nor a delete or a mark, to a file elsewhere.
TEST_F(MainWindowTest, LinksInAWatchFolderNeverReachOutsideIt)
{
    const QString outside = home.File("outside");
    const QString archived = home.File("archived");
    WriteSettings(2, FolderGroup(1, watch, "1000-1499", "DeleteAfterImport=1") +
                         FolderGroup(2, archived, "1500-1999",
                                     "UseArchiveBit=1\nTakeSnapShotBeforeImport=1"));
    Start();
    WriteWav(outside + "/1300 Elsewhere.wav", 0.3);
    WriteWav(outside + "/1301 Target.wav", 0.4);
    WriteWav(outside + "/1501 Target.wav", 0.6);
    // A damaged transport file: found, then refused.
    QFile garbage(outside + "/1502 Garbage.zip");
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
    garbage.write(QByteArray("PK\x03\x04 not a whole archive ").repeated(40));
    garbage.close();
    const qint64 garbageSize = QFileInfo(outside + "/1502 Garbage.zip").size();
    QDir().mkpath(archived);
    const auto link = [](const QString& target, const QString& path) {
        return ::symlink(QFile::encodeName(target).constData(),
                         QFile::encodeName(path).constData());
    };
    ASSERT_EQ(link(outside, watch + "/Outside"), 0);
    ASSERT_EQ(link(outside + "/1301 Target.wav", watch + "/1302 Link.wav"), 0);
    ASSERT_EQ(link(outside + "/1501 Target.wav", archived + "/1503 Link.wav"), 0);
    ASSERT_EQ(link(outside + "/1502 Garbage.zip", archived + "/1504 Link.zip"), 0);
    const auto isLink = [](const QString& path) {
        struct stat info
        {
        };
        return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISLNK(info.st_mode);
    };

    Check();
    EXPECT_FALSE(CartHasAudio("1300"));
    EXPECT_TRUE(QFile::exists(outside + "/1300 Elsewhere.wav"));
    // A link to one file is imported; the delete takes the link only.
    EXPECT_NEAR(CartLength("1302"), 0.4, 0.05);
    EXPECT_FALSE(isLink(watch + "/1302 Link.wav"));
    EXPECT_TRUE(QFile::exists(outside + "/1301 Target.wav"));

    // The mark belongs to the link: the target's own record stays unwritten.
    EXPECT_NEAR(CartLength("1503"), 0.6, 0.05);
    EXPECT_TRUE(isLink(archived + "/1503 Link.wav"));
    EXPECT_FALSE(ArchiveAttribute::IsSet(archived + "/1503 Link.wav",
                                         {.tableFolder = Globals::ToolProfileFolder}));
    EXPECT_TRUE(ArchiveAttribute::IsSet(outside + "/1501 Target.wav",
                                        {.tableFolder = Globals::ToolProfileFolder}));
    char record[64];
    EXPECT_LT(::getxattr(QFile::encodeName(outside + "/1501 Target.wav").constData(),
                         ArchiveAttribute::RecordName, record, sizeof record),
              0);
    // The snapshot is a copy beside the link; the link that failed goes to "Failed!" itself.
    EXPECT_EQ(QDir(archived + "/Snapshots!").entryList(QDir::Files).size(), 1);
    EXPECT_FALSE(QDir(outside + "/Snapshots!").exists());
    EXPECT_TRUE(isLink(archived + "/Failed!/1504 Link.zip"));
    EXPECT_FALSE(QDir(outside + "/Failed!").exists());
    EXPECT_EQ(QFileInfo(outside + "/1502 Garbage.zip").size(), garbageSize);
    EXPECT_EQ(QDir(outside).entryList(QDir::Files).size(), 4);

    Check();
    EXPECT_EQ(AppLog().count("into Cart 1503"), 1);
    // A new version behind the link counts as a change, as for a file.
    WriteWav(outside + "/1501 Target.wav", 0.8);
    Check();
    EXPECT_NEAR(CartLength("1503"), 0.8, 0.05);
}

// A subfolder renamed during a pass and replaced by a link to a folder elsewhere: what was
// listed in it is not imported through the link, and the delete, the move to "Failed!", the
// snapshot and the archive mark never reach the files there.
TEST_F(MainWindowTest, FolderSwappedForALinkDuringAPassIsNeverReachedThrough)
{
    const QString archived = home.File("archived");
    const QString outside = home.File("outside");
    WriteSettings(2, FolderGroup(1, watch, "1000-1499", "DeleteAfterImport=1") +
                         FolderGroup(2, archived, "1500-1999",
                                     "UseArchiveBit=1\nTakeSnapShotBeforeImport=1"));
    Start();
    WriteWav(watch + "/1000 First.wav", 0.2);
    WriteWav(archived + "/zz/1500 First.wav", 0.2);
    const QStringList names{"1234 Victim.wav", "1400 Bad.zip", "1501 Victim.wav"};
    for (const QString& folder : {watch + "/zz", archived + "/zz", outside}) {
        WriteWav(folder + "/" + names[folder == archived + "/zz" ? 2 : 0], 0.3);
        QFile bad(folder + "/" + names[1]);
        ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
        bad.write(QByteArray("PK\x03\x04 not a whole archive ").repeated(40));
    }
    WriteWav(outside + "/" + names[2], 0.3);
    // "zz" is swapped while the file before it is imported, and while a file in it is.
    QObject::connect(window->Importer(), &cImporter::ImportStarted, [&](const QString& file) {
        const QString zz = (file.startsWith(watch + "/") ? watch : archived) + "/zz";
        if (file.endsWith(" First.wav")) {
            ASSERT_TRUE(QDir().rename(zz, zz + ".old"));
            ASSERT_EQ(::symlink(QFile::encodeName(outside).constData(),
                                QFile::encodeName(zz).constData()),
                      0);
        }
    });
    Check();
    EXPECT_FALSE(CartHasAudio("1234"));
    EXPECT_FALSE(CartHasAudio("1501"));
    EXPECT_EQ(QDir(outside).entryList(QDir::Files | QDir::Hidden), names);
    EXPECT_EQ(QDir(outside).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList());
    char record[64];
    EXPECT_LT(::getxattr(QFile::encodeName(outside + "/" + names[2]).constData(),
                         ArchiveAttribute::RecordName, record, sizeof record),
              0);
    EXPECT_TRUE(ArchiveAttribute::IsSet(outside + "/" + names[2],
                                        {.tableFolder = Globals::ToolProfileFolder}));
    const QString linked = "' is a link, not a folder";
    const QString log = AppLog();
    EXPECT_EQ(log.count(linked), 5) << log.toStdString();
    for (const QString& file : {watch + "/zz/" + names[0], watch + "/zz/" + names[1]}) {
        EXPECT_TRUE(
            log.contains("GRP:1:Couldn't check '" + file + "' Error: '" + watch + "/zz" + linked))
            << log.toStdString();
    }
    EXPECT_TRUE(log.contains("GRP:2:Couldn't check '" + archived + "/zz/" + names[2] +
                             "' Error: '" + archived + "/zz" + linked));
    EXPECT_TRUE(log.contains("GRP:2:Moved '" + archived + "/zz/1500 First.wav' to '" + archived +
                             "/zz/Failed!/1500 First.wav' Failed: '" + archived + "/zz" + linked));
}

// An unmounted share leaves its mount point: the engine's folders must not bring the watched
// folder back there, or the next pass would find an empty folder instead of reporting it.
TEST_F(MainWindowTest, WatchFolderThatVanishesDuringAPassIsNotRecreated)
{
    WriteSettings(
        1, FolderGroup(1, watch, "1000-1999", "DeleteAfterImport=1\nTakeSnapShotBeforeImport=1"));
    Start();
    WriteWav(watch + "/1234 Jingle.wav", 0.3);
    const QString away = home.File("unmounted");
    bool vanish = true;
    QObject::connect(window->Importer(), &cImporter::ImportStarted, [&] {
        if (vanish) {
            ASSERT_TRUE(QDir().rename(watch, away));
        }
    });
    Check();
    EXPECT_FALSE(QFileInfo::exists(watch));
    EXPECT_FALSE(CartHasAudio("1234"));
    EXPECT_FALSE(QFileInfo::exists(away + "/Failed!"));
    Check();
    EXPECT_TRUE(
        AppLog().contains("GRP:1:Couldn't find directory \"" + watch + "\" to check for new files"))
        << AppLog().toStdString();

    // Back again: imported as if nothing had happened.
    vanish = false;
    ASSERT_TRUE(QDir().rename(away, watch));
    Check();
    EXPECT_TRUE(CartHasAudio("1234"));
    EXPECT_FALSE(QFileInfo::exists(watch + "/1234 Jingle.wav"));
    EXPECT_EQ(QDir(watch + "/Snapshots!").entryList(QDir::Files).size(), 1);
}

TEST_F(MainWindowTest, CloseDuringACartWalkStopsBeforeTheNextCart)
{
    WriteSettings(1, "[Group1]\nName=Recheck\nStartHDRef=1\nEndHDRef=30\nEnabled=1\n");
    Start();
    QSignalSpy unloaded(window.get(), &frmMain::Unloaded);
    // Arrives at the pass's first yield, at cart 1.
    QTimer::singleShot(0, window.get(), [this] { window->close(); });
    Check();
    EXPECT_EQ(unloaded.count(), 1);
    EXPECT_FALSE(window->IsLoaded());
    EXPECT_TRUE(Access::UnloadPending(*window));
    EXPECT_EQ(window->lblOverallStatus->text(), " Checking Recheck (Cart 1)");
    EXPECT_EQ(Globals::PlayoutAudio, nullptr);
    EXPECT_EQ(window->Importer(), nullptr);
    EXPECT_EQ(window->TrayIcon(), nullptr);
    EXPECT_TRUE(AppLog().contains("Importer Closing"));
    // Cart 1 lies at 0 % of the range; cart 2 was never reached.
    EXPECT_EQ(window->prgOverallProgress->value(), 0);
}

TEST_F(MainWindowTest, GroupRemovedDuringACartWalkEndsThePassCleanly)
{
    WriteSettings(2, "[Group1]\nName=Recheck\nStartHDRef=1\nEndHDRef=25\nEnabled=1\n" +
                         FolderGroup(2, watch, "1000-1999", "DeleteAfterImport=1"));
    Start();
    WriteWav(watch + "/1234 Later.wav", 0.2);
    QTimer::singleShot(0, window.get(), [this] {
        qint16 first = 1;
        window->Importer()->RemoveGroup(first);
    });
    Check();
    EXPECT_EQ(window->Importer()->NumberGroups(), 1);
    EXPECT_EQ(window->lblOverallStatus->text(), " Checking...Finished");
    EXPECT_EQ(window->tmrCheckGroupsTag, "0");
    // The pass ended with the change; the next one checks the remaining group.
    EXPECT_FALSE(CartHasAudio("1234"));
    Check();
    EXPECT_TRUE(CartHasAudio("1234"));
}

TEST_F(MainWindowTest, MinimisingHidesInTheTrayOnlyWhenAsked)
{
    WriteSettings(0, QString(), "MinimiseToSysTray=1");
    Start();
    window->TrayAvailable = [] { return true; };
    // As the window manager minimises it.
    window->setWindowState(Qt::WindowMinimized);
    EXPECT_FALSE(window->isVisible());
    EXPECT_NE(window->TrayIcon(), nullptr);

    window->Importer()->MinimiseToSysTray = false;
    window->showNormal();
    window->setWindowState(Qt::WindowMinimized);
    EXPECT_TRUE(window->isVisible());
}

TEST_F(MainWindowTest, WithoutATrayMinimisingKeepsTheWindowAndALostTrayBringsItBack)
{
    WriteSettings(0, QString(), "MinimiseToSysTray=1");
    Start();
    bool tray = false;
    window->TrayAvailable = [&] { return tray; };
    // A desktop without a tray: hidden, the window could never be reached again.
    window->setWindowState(Qt::WindowMinimized);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->isMinimized());
    EXPECT_FALSE(Access::WatchingTray(*window));

    tray = true;
    window->showNormal();
    window->setWindowState(Qt::WindowMinimized);
    ASSERT_FALSE(window->isVisible());
    EXPECT_TRUE(Access::WatchingTray(*window));
    Access::WatchTray(*window);
    EXPECT_FALSE(window->isVisible());

    // The tray host stops while the window is hidden in it.
    tray = false;
    Access::WatchTray(*window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(Access::WatchingTray(*window));
}

TEST_F(MainWindowTest, HistoryDateColumnShowsTheWholeDateAndTimeInEveryLocale)
{
    const QLocale saved;
    for (const char* name : {"C", "en_GB", "en_US", "de_DE", "fr_FR", "pt_BR", "ja_JP"}) {
        SCOPED_TRACE(name);
        const QLocale locale(QString::fromLatin1(name));
        QLocale::setDefault(locale);
        window.reset();
        Start();
        const QDateTime when(QDate(2026, 12, 28), QTime(23, 58, 59));
        Q_EMIT window->Importer()->LogEventAdded(when, "Imported 'x.wav'");
        QTreeWidget* list = window->lvwHistory;
        const QTreeWidgetItem* row = list->topLevelItem(list->topLevelItemCount() - 1);
        EXPECT_EQ(row->text(0), locale.toString(when.date(), QLocale::ShortFormat) + " 23:58:59");
        // Wide enough for the row as the list's own delegate measures it: nothing is cut off.
        QStyleOptionViewItem option;
        option.initFrom(list);
        option.widget = list;
        const QModelIndex cell = list->model()->index(list->topLevelItemCount() - 1, 0);
        EXPECT_GE(list->header()->sectionSize(0),
                  list->itemDelegate()->sizeHint(option, cell).width());
        EXPECT_GE(list->header()->sectionSize(0), Access::PxX(*window, 1800));
        // The information column still takes the rest.
        EXPECT_NEAR(list->header()->sectionSize(0) + list->header()->sectionSize(1) +
                        Access::PxX(*window, 285),
                    list->width(), 2);
    }
    QLocale::setDefault(saved);
}

TEST_F(MainWindowTest, ResizeKeepsTheStatusAreaBelowTheListsAndTheListsApart)
{
    Start();
    window->resize(window->width(), window->minimumHeight() + 200);
    QApplication::processEvents();
    const double tpp = window->TwipsPerPixelY();
    const QRect tab = window->tbsImporter->geometry();
    const QRect groups = window->lvwGroups->geometry();
    const QRect history = window->lvwHistory->geometry();
    const QRect overall = window->prgOverallProgress->geometry();
    const QRect status = window->picStatus->geometry();
    // The tab's height ends 120 twips above the overall bar, which sits 30 above the status
    // area.
    EXPECT_NEAR((overall.top() - tab.height()) * tpp, 120, 15);
    EXPECT_NEAR((status.top() - overall.bottom() - 1) * tpp, 30, 15);
    EXPECT_GT(groups.height(), 0);
    EXPECT_NEAR((history.top() - groups.bottom() - 1) * tpp, 60, 15);
    EXPECT_EQ(window->lblHistoryDesc->y(), history.top());
    EXPECT_NEAR((tab.height() - history.bottom() - 1) * tpp, 120, 15);
    EXPECT_EQ(history.width(), groups.width());
    EXPECT_LE(window->picLogo->geometry().bottom(), tab.height());
}

// The store's progress frame ends with the current-status line cleared and its bar hidden:
// neither an import nor an export of the support file leaves its caption standing.
TEST_F(MainWindowTest, StatusLinesAreClearedWhenTheStoreFinishesAnImportOrExport)
{
    WriteSettings(1, FolderGroup(1, watch, "1000-1999", "DeleteAfterImport=1"));
    Start();
    window->show();
    WriteWav(watch + "/1234 Station Jingle.wav", 0.5);
    Check();
    ASSERT_TRUE(CartHasAudio("1234"));
    // The line did show the import while it ran.
    EXPECT_TRUE(DebugLog().contains("Current Status: Importing 1234 Station Jingle.wav"));
    EXPECT_EQ(window->lblCurrentProgress->text().toStdString(), "");
    EXPECT_FALSE(window->prgCurrentProgress->isVisible());

    const QString zip = home.File("support/1234.zip");
    QDir().mkpath(home.File("support"));
    ASSERT_TRUE(Globals::PlayoutAudio->ExportCart(nullptr, "1234", zip, nullptr, 0, QString(), true,
                                                  false));
    EXPECT_TRUE(DebugLog().contains("Current Status: Exporting Cart 1234"));
    EXPECT_EQ(window->lblCurrentProgress->text().toStdString(), "");
    EXPECT_FALSE(window->prgCurrentProgress->isVisible());
    EXPECT_EQ(window->prgCurrentProgress->value(), 0);

    // The group editor's refresh of cart lengths shows there too while it decodes.
    QString text;
    qint32 changed = 0;
    Globals::PlayoutAudio->RefreshCartInfoInRange("1000", "1999", true, text, changed);
    EXPECT_TRUE(DebugLog().contains("Current Status: Refreshing Cart Information"));
    EXPECT_EQ(window->lblCurrentProgress->text().toStdString(), "");
    EXPECT_FALSE(window->prgCurrentProgress->isVisible());
}

} // namespace

// The store's audio folder is unplugged, then an empty mount point: each pass says so once and
// removes, moves, deletes and imports nothing; once the folder is back all goes on as before.
TEST_F(MainWindowTest, UnavailableStoreIsLoggedOncePerPassAndNothingIsTouched)
{
    WriteSettings(2, FolderGroup(1, watch, "1000-1999", "DeleteAfterImport=1") +
                         "[Group2]\nName=Recheck\nStartHDRef=2000\nEndHDRef=2005\nEnabled=1\n"
                         "RemoveIfDeleted=1\n");
    Start();
    const QString source = home.File("source.wav");
    WriteWav(source, 0.3);
    for (const char* cart : {"2000", "2001"}) {
        bool f1 = false, f2 = true;
        ASSERT_TRUE(
            Globals::PlayoutAudio->ImportAudioFile(nullptr, cart, source, 0x24, -1, f1, 0, -1, f2));
    }
    const QString audio = Globals::PlayoutAudio->BaseFolder() + "/Audio";
    const QString dropped = watch + "/1500 News.wav";
    WriteWav(dropped, 0.3);
    const QString line =
        "Couldn't finish checking the groups Error: The cart store's audio folder " + audio +
        " is missing or is not this cart store's folder: is its disk "
        "mounted?";

    ASSERT_TRUE(QDir().rename(audio, audio + ".unplugged"));
    Check();
    EXPECT_EQ(AppLog().count(line), 1) << AppLog().toStdString();
    ASSERT_TRUE(QDir().mkdir(audio));
    Check();
    EXPECT_EQ(AppLog().count(line), 2);
    // A pass that failed restarts the interval all the same: of two ticks a second apart, one
    // checks.
    for (int tick = 0; tick < 2; ++tick) {
        clocks.Later(1);
        Access::Tick(*window);
    }
    EXPECT_EQ(AppLog().count(line), 3);
    EXPECT_TRUE(QFile::exists(dropped));
    EXPECT_FALSE(QFileInfo::exists(watch + "/Failed!"));
    EXPECT_FALSE(AppLog().contains("Removed cart"));
    EXPECT_TRUE(QDir(audio).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    EXPECT_EQ(window->tmrCheckGroupsTag, "0");

    ASSERT_TRUE(QDir(audio).removeRecursively());
    ASSERT_TRUE(QDir().rename(audio + ".unplugged", audio));
    Check();
    EXPECT_EQ(AppLog().count(line), 3);
    EXPECT_TRUE(CartHasAudio("1500"));
    EXPECT_FALSE(QFile::exists(dropped));
    EXPECT_TRUE(CartHasAudio("2000"));
    EXPECT_TRUE(CartHasAudio("2001"));

    // A marker tidied away under the running program is written again and said once.
    ASSERT_TRUE(QFile::remove(audio + "/.cartvault-store"));
    Check();
    Check();
    EXPECT_EQ(AppLog().count("The cart store's identity markers in '" +
                             Globals::PlayoutAudio->BaseFolder() +
                             "' were missing and have been written again"),
              1)
        << AppLog().toStdString();
    EXPECT_EQ(AppLog().count(line), 3);
}

// A damaged database: the operator is told in words which file and why, the start-up fails
// and the file is left exactly as it was.
TEST_F(MainWindowTest, DamagedStoreDatabaseIsReportedAndTheStartUpFails)
{
    const QString base = PlatformPaths::DataHome() + "/Orvane/Cartvault v3";
    ASSERT_TRUE(QDir().mkpath(base + "/Audio"));
    WriteWav(base + "/Audio/01000.wav", 0.3);
    QByteArray noise(4096, 0);
    for (int i = 0; i < noise.size(); ++i) {
        noise[i] = char(i * 131 + 7);
    }
    const QString database = base + "/cartvault.db";
    {
        QFile file(database);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(noise);
    }
    answers.Expect(MsgBoxResult::OK);
    window = std::make_unique<frmMain>();
    EXPECT_FALSE(window->Load());
    ASSERT_EQ(answers.Shown().size(), 1);
    EXPECT_TRUE(answers.Shown()[0].Prompt.contains(database +
                                                   " is damaged or unreadable: file is not a "
                                                   "database"))
        << answers.Shown()[0].Prompt.toStdString();
    QFile file(database);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), noise);
    EXPECT_EQ(Globals::PlayoutAudio, nullptr);
}

namespace {

// A loopback port whose server takes the connection and never says a word.
struct SilentMailServer
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    qint32 port = 0;
    SilentMailServer()
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
            ::listen(fd, 4) == 0) {
            port = ntohs(address.sin_port);
        }
    }
    ~SilentMailServer() { ::close(fd); }
};

} // namespace

// Measuring a file, importing it and mailing about it can each take minutes (a damaged file, a
// huge one, a mail server that stays silent). Meanwhile the window keeps painting and ticking,
// and a close, an Exit or the session's end is honoured within a second: the work stops (the
// cart untouched, the file left where it was), then the window goes.
TEST_F(MainWindowTest, LongWorkOnAFileKeepsTheWindowAliveAndStopsForAClose)
{
    SilentMailServer mailServer;
    ASSERT_GT(mailServer.port, 0);
    NotificationEmail::SetServerPort(mailServer.port);
    struct Row
    {
        const char* name;
        QString file;
        const char* howClosed;
    };
    const QList<Row> rows{
        // FFmpeg searches 400 MB of zeros for a frame for several seconds.
        {"measuring", "1234 Zeros.mp3", "exit"},
        // Three gigabytes of silence (a sparse file): minutes to import.
        {"importing", "1234 Long.wav", "close box"},
        // The success mail waits 15 s for the server.
        {"mailing", "1234 Jingle.wav", "session end"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        WriteSettings(1, FolderGroup(1, watch, "1000-1999",
                                     "DeleteAfterImport=1\nNotifyEmailSender=feeder@radio.test\n"
                                     "NotifySuccessEmailRecipients=ops@radio.test"));
        window.reset();
        Start();
        window->Importer()->setSMTPServerAddress(QStringLiteral("127.0.0.1"));
        const QString file = watch + "/" + row.file;
        if (row.file.endsWith(".mp3")) {
            QFile zeros(file);
            ASSERT_TRUE(zeros.open(QIODevice::WriteOnly) && zeros.resize(qint64(400) << 20));
            // Comes after it, and is left for the next run.
            WriteWav(watch + "/1235 Next.wav", 0.2);
        } else if (row.file.contains("Long")) {
            WriteWav(file, 0.1);
            // The same header with its data size made large, and the file made as large.
            QFile wav(file);
            ASSERT_TRUE(wav.open(QIODevice::ReadWrite));
            QByteArray header = wav.read(44);
            const quint32 data = 3u << 30;
            qToLittleEndian<quint32>(data + 36, header.data() + 4);
            qToLittleEndian<quint32>(data, header.data() + 40);
            ASSERT_TRUE(wav.seek(0) && wav.write(header) == 44 && wav.resize(44 + data));
        } else {
            WriteWav(file, 0.5);
        }

        QElapsedTimer clock;
        clock.start();
        qint64 closedAt = -1;
        qint64 unloadedAt = -1;
        QObject::connect(window.get(), &frmMain::Unloaded, [&] { unloadedAt = clock.elapsed(); });
        // Timed in the window's own ticks, which only come while the work lets it breathe; a
        // machine short of processor time slows both alike.
        int ticks = 0;
        QTimer ticker;
        ticker.setInterval(50);
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            ++ticks;
            if (ticks == 4 && QByteArray(row.name) == "measuring") {
                // Groups cannot be removed while a file of theirs is worked on; no question
                // shows.
                window->lvwGroups->setCurrentItem(window->lvwGroups->topLevelItem(0));
                window->mnuRemoveGroup->setEnabled(true);
                window->mnuRemoveGroup->trigger();
            }
            pollfd waiting{mailServer.fd, POLLIN, 0};
            if (ticks < 8 || closedAt >= 0 ||
                (QByteArray(row.name) == "mailing" && ::poll(&waiting, 1, 0) != 1)) {
                return;
            }
            closedAt = clock.elapsed();
            const QByteArray how = row.howClosed;
            if (how == "exit") {
                window->mnuFileExit->trigger();
            } else if (how == "close box") {
                answers.Expect(MsgBoxResult::Yes);
                QCloseEvent event;
                QSpontaneKeyEvent::setSpontaneous(&event);
                QApplication::instance()->notify(window.get(), &event);
            } else {
                raise(SIGTERM);
            }
        });
        ticker.start();
        Check();
        ASSERT_GE(closedAt, 0) << "the work froze the window";
        ASSERT_GE(unloadedAt, 0);
        EXPECT_LT(unloadedAt - closedAt, 1000)
            << "closed at " << closedAt << " ms, unloaded at " << unloadedAt << " ms";
        EXPECT_FALSE(window->IsLoaded());

        const QString log = AppLog();
        EXPECT_FALSE(log.contains("Failed to import")) << log.toStdString();
        EXPECT_FALSE(log.contains("1235 Next.wav")) << log.toStdString();
        EXPECT_FALSE(QDir(watch + "/Failed!").exists());
        if (QByteArray(row.name) == "mailing") {
            EXPECT_TRUE(log.contains("Sending stopped: the program is closing"))
                << log.toStdString();
            EXPECT_FALSE(QFile::exists(file)) << "imported, so deleted";
        } else {
            EXPECT_TRUE(QFile::exists(file));
            EXPECT_FALSE(log.contains("Imported '"));
            // Said, so that nobody waits for the cart: the file is imported at the next run.
            EXPECT_EQ(log.contains("Error: Import stopped: the program is closing"),
                      QByteArray(row.name) == "importing");
        }
        const QStringList stored =
            QDir(PlatformPaths::DataHome() + "/Orvane/Cartvault v3/Audio").entryList({"*1234*"});
        EXPECT_EQ(stored.size(), QByteArray(row.name) == "mailing" ? 1 : 0)
            << stored.join(' ').toStdString();
        QFile::remove(file);
        QFile::remove(watch + "/1235 Next.wav");
    }
    NotificationEmail::SetServerPort(25);
}
