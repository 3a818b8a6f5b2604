#include "engine/ImporterDialogs.h"
#include "engine/cImporter.h"
#include "engine/cImporterGroup.h"
#include "framework/ToolGlobals.h"
#include "framework/ToolStartup.h"
#include "platform/cartstore/CartStoreSettings.h"
#include "platform/cartstore/PlayoutAudio.h"
#include "platform/profiles/PlayoutProfile.h"
#include "platform/system/GeneralFunctions.h"
#include "platform/system/IniFile.h"
#include "platform/system/PlatformPaths.h"
#include "platform/system/ScriptedAnswerer.h"
#include "platform/system/ToolError.h"
#include "tests/support/ManualClocks.h"
#include "tests/support/TempHome.h"
#include "ui/frmMain.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <QtTest/qtestspontaneevent.h>

#include <csignal>
#include <gtest/gtest.h>

class frmMainHandlersTestAccess
{
public:
    static bool UnloadPending(const frmMain& w) { return w.UnloadPending; }
    static bool CheckInProgress(const frmMain& w) { return w.CheckInProgress; }
    static void SetProgramFolder(const QString& folder)
    {
        frmMain::ProgramFolderOverride() = folder;
    }
};

namespace {

using Access = frmMainHandlersTestAccess;

QString ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

void WriteFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// As the window manager's close box delivers it.
void CloseBox(QWidget* window)
{
    QCloseEvent event;
    QSpontaneKeyEvent::setSpontaneous(&event);
    // sendEvent() would clear the flag again.
    QApplication::instance()->notify(window, &event);
}

// A double click as the desktop delivers it: press, release, double click, release.
void DoubleClick(QWidget* widget, QPoint pos)
{
    QTest::mousePress(widget, Qt::LeftButton, {}, pos);
    QTest::mouseRelease(widget, Qt::LeftButton, {}, pos);
    QTest::mouseDClick(widget, Qt::LeftButton, {}, pos);
    QTest::mouseRelease(widget, Qt::LeftButton, {}, pos);
}

// Closes the modal window that the code under test opens, once, and records its title and text.
struct ModalCloser
{
    QString title;
    QString text;
    bool seen = false;

    void Arm()
    {
        QTimer::singleShot(0, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal) {
                return;
            }
            seen = true;
            title = modal->windowTitle();
            if (auto* edit = modal->findChild<QTextEdit*>()) {
                text = edit->toPlainText();
            }
            modal->close();
        });
    }
};

class RecordingDialogs : public ImporterDialogs
{
public:
    QStringList calls;
    // Thrown from every call when set, as the editor does without a cart store.
    bool fail = false;
    // What the group editor types before it is cancelled.
    QString typedName;

    bool DisplayGroup(cImporter&, cImporterGroup& group) override
    {
        calls << "group:" + group.GroupName;
        if (fail) {
            throw ToolError(91, QStringLiteral("Object variable or With block variable not set"));
        }
        if (!typedName.isEmpty()) {
            group.GroupName = typedName;
        }
        return false;
    }
    bool DisplayImporter(cImporter&) override
    {
        calls << "importer";
        if (fail) {
            throw ToolError(91, QStringLiteral("Object variable or With block variable not set"));
        }
        return false;
    }
};

class MainWindowHandlersTest : public ::testing::Test
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
        Access::SetProgramFolder(home.File("apps/program"));
        QDir().mkpath(home.File("apps/program"));
    }

    void TearDown() override
    {
        window.reset();
        ToolStartup::Current() = m_saved;
        GeneralFunctions::instance().setDebugLevel(0);
        GeneralFunctions::instance().setDebugPath(QString());
        Access::SetProgramFolder(QString());
        Globals::AppLogFile = m_savedLogFile;
        Globals::AppLogFolder = m_savedLogFolder;
        PlayoutProfile::SetFileLocationsHook({});
        CartStoreSettings::SetDialogHook({});
    }

    QString SettingsFile() const
    {
        return PlatformPaths::DataHome() +
               "/Orvane/Cartvault v3/Tools/Cartfeeder/Profiles/Test/Importer.ini";
    }

    void WriteSettings(const QString& text) { WriteFile(SettingsFile(), text.toUtf8()); }

    static QString Recheck(int n, const QString& name, int last)
    {
        return QStringLiteral("[Group%1]\nName=%2\nStartHDRef=1\nEndHDRef=%3\nEnabled=1\n")
            .arg(n)
            .arg(name)
            .arg(last);
    }

    void Start(Clocks clocks = {})
    {
        window = std::make_unique<frmMain>(nullptr, std::move(clocks));
        window->OpenUrl = [this](const QUrl& url) {
            opened << url;
            return true;
        };
        ASSERT_TRUE(window->Load());
    }

    QString DebugLog() const
    {
        QString text;
        QDirIterator it(home.File("debug"), {"*.log"}, QDir::Files);
        while (it.hasNext()) {
            text += ReadFile(it.next());
        }
        return text;
    }

    void ClickRow(int row)
    {
        QTreeWidget* list = window->lvwGroups;
        const QRect rect = list->visualItemRect(list->topLevelItem(row));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
    }

    TempHome home;
    ScriptedAnswerer answers{[](const MessageBoxRequest& request) {
        ADD_FAILURE() << "unexpected message box: " << request.Prompt.toStdString();
    }};
    std::unique_ptr<frmMain> window;
    QList<QUrl> opened;

private:
    ToolStartup::Components m_saved;
    QString m_savedLogFile;
    QString m_savedLogFolder;
};

TEST_F(MainWindowHandlersTest, HistoryKeepsTheNewest500RowsWithLocalDateAndTime)
{
    Start();
    window->lvwHistory->clear();
    const QDateTime first(QDate(2024, 3, 9), QTime(7, 5, 3));
    for (int n = 1; n <= 500; ++n) {
        Q_EMIT window->Importer()->LogEventAdded(first.addSecs(n - 1),
                                                 "event " + QString::number(n));
    }
    ASSERT_EQ(window->lvwHistory->topLevelItemCount(), 500);
    EXPECT_EQ(window->lvwHistory->topLevelItem(0)->text(1), "event 1");

    Q_EMIT window->Importer()->LogEventAdded(first.addSecs(600), "GRP:1:event 501");
    ASSERT_EQ(window->lvwHistory->topLevelItemCount(), 500);
    EXPECT_EQ(window->lvwHistory->topLevelItem(0)->text(1), "event 2");
    const QTreeWidgetItem* newest = window->lvwHistory->topLevelItem(499);
    EXPECT_EQ(newest->text(1), "GRP:1:event 501");
    EXPECT_EQ(newest->text(0),
              QLocale::system().toString(QDate(2024, 3, 9), QLocale::ShortFormat) + " 07:15:03");
    // Scrolled to the newest row.
    const QScrollBar* bar = window->lvwHistory->verticalScrollBar();
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());

    // The importer's own log lines arrive the same way.
    window->Importer()->AddToLog("GRP:2", "Imported 'x.wav'");
    EXPECT_EQ(window->lvwHistory->topLevelItem(499)->text(1), "GRP:2:Imported 'x.wav'");

    // A line break in a file name shows as such, never as a second line of the row.
    window->Importer()->AddToLog("GRP:2", "Imported 'x\nGRP:1:Removed cart 1234\t.wav'");
    EXPECT_EQ(window->lvwHistory->topLevelItem(499)->text(1),
              "GRP:2:Imported 'x\\nGRP:1:Removed cart 1234\\t.wav'");
}

TEST_F(MainWindowHandlersTest, ImporterEventsDriveTheStatusLinesAndBars)
{
    Start();
    cImporter* importer = window->Importer();
    QLabel* current = window->lblCurrentProgress;
    QProgressBar* currentBar = window->prgCurrentProgress;

    Q_EMIT importer->ProcessStarted("Taking snapshot", true);
    EXPECT_EQ(current->text(), "Taking snapshot");
    EXPECT_TRUE(currentBar->isVisible());
    EXPECT_EQ(currentBar->value(), 0);

    // An empty caption changes nothing, whatever it says about progress.
    currentBar->setValue(40);
    Q_EMIT importer->ProcessStarted("", true);
    Q_EMIT importer->ProcessStarted("", false);
    EXPECT_EQ(current->text(), "Taking snapshot");
    EXPECT_EQ(currentBar->value(), 40);
    EXPECT_TRUE(currentBar->isVisible());

    // The same caption is not written again; the bar still moves.
    EXPECT_EQ(DebugLog().count("Current Status: Taking snapshot"), 1);
    Q_EMIT importer->ProcessProgress("Taking snapshot", 55);
    EXPECT_EQ(currentBar->value(), 55);
    EXPECT_EQ(DebugLog().count("Current Status: Taking snapshot"), 1);
    Q_EMIT importer->ProcessProgress("Copying", 60);
    EXPECT_EQ(current->text(), "Copying");
    EXPECT_EQ(currentBar->value(), 60);
    EXPECT_TRUE(DebugLog().contains("Current Status: Copying"));

    Q_EMIT importer->ProcessEnd("", true);
    EXPECT_EQ(current->text(), "");
    EXPECT_FALSE(currentBar->isVisible());
    EXPECT_EQ(currentBar->value(), 0);

    // A step without progress shows no bar, and a bar moved while hidden stays hidden.
    Q_EMIT importer->ProcessStarted("Normalising", false);
    Q_EMIT importer->ProcessProgress("Normalising", 30);
    EXPECT_FALSE(currentBar->isVisible());
    EXPECT_EQ(currentBar->value(), 30);

    QProgressBar* overall = window->prgOverallProgress;
    overall->setValue(100);
    Q_EMIT importer->ImportStarted("/in/deep/1234 Station Jingle.wav", "1234");
    EXPECT_EQ(window->lblOverallStatus->text(), "Importing 1234 Station Jingle.wav into Cart 1234");
    EXPECT_TRUE(overall->isVisible());
    EXPECT_EQ(overall->value(), 0);
    Q_EMIT importer->ImportProgress("/in/deep/1234 Station Jingle.wav", "1234", 70);
    EXPECT_EQ(overall->value(), 70);
    // Beyond the bar's range: held at its end rather than ignored.
    Q_EMIT importer->ImportProgress("/in/deep/1234 Station Jingle.wav", "1234", 130);
    EXPECT_EQ(overall->value(), 100);
    Q_EMIT importer->ImportFinished("/in/deep/1234 Station Jingle.wav", "1234");
    EXPECT_FALSE(overall->isVisible());
    EXPECT_EQ(overall->value(), 0);
    EXPECT_EQ(window->lblOverallStatus->text(), "Importing 1234 Station Jingle.wav into Cart 1234");
}

// The paints a progress bar receives, and the value it showed at the last of them.
struct PaintWatch : QObject
{
    int paints = 0;
    int shown = -1;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            ++paints;
            shown = static_cast<QProgressBar*>(watched)->value();
        }
        return false;
    }
};

TEST_F(MainWindowHandlersTest, AnImportsStepsPaintTheBarOnceAFrameAndItsLastStepIsShown)
{
    ManualClocks clocks;
    Start(clocks.Get());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    QProgressBar* bar = window->prgOverallProgress;
    PaintWatch watch;
    bar->installEventFilter(&watch);
    cImporter* importer = window->Importer();
    const QString file = "/in/1234 Station Jingle.wav";

    // Steps within one frame: the start is painted at once, the steps after it wait.
    Q_EMIT importer->ImportStarted(file, "1234");
    for (qint16 step = 10; step <= 90; step += 10) {
        Q_EMIT importer->ImportProgress(file, "1234", step);
    }
    EXPECT_EQ(watch.paints, 1);
    EXPECT_EQ(bar->value(), 90);
    QTest::qWait(50);
    EXPECT_EQ(watch.shown, 90);

    // A frame later a step is painted at once.
    clocks.Later(0.02);
    const int before = watch.paints;
    Q_EMIT importer->ImportProgress(file, "1234", 95);
    EXPECT_EQ(watch.paints, before + 1);
    EXPECT_EQ(watch.shown, 95);
}

TEST_F(MainWindowHandlersTest, CloseBoxAsksAndNoLeavesEverythingAsItWas)
{
    Start();
    answers.Expect(MsgBoxResult::No);
    CloseBox(window.get());
    ASSERT_EQ(answers.Shown().size(), 1);
    const MessageBoxRequest& question = answers.Shown()[0];
    EXPECT_EQ(question.Prompt, "Are you sure you want to close the Cartfeeder?");
    EXPECT_EQ(question.Style,
              MsgBoxStyle::YesNo | MsgBoxStyle::Question | MsgBoxStyle::DefaultButton2);
    EXPECT_TRUE(question.Title.isEmpty());
    EXPECT_TRUE(window->IsLoaded());
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(Access::UnloadPending(*window));
    EXPECT_TRUE(window->tmrCheckGroups->isActive());

    answers.Expect(MsgBoxResult::Yes);
    QSignalSpy unloaded(window.get(), &frmMain::Unloaded);
    CloseBox(window.get());
    EXPECT_EQ(unloaded.count(), 1);
    EXPECT_FALSE(window->IsLoaded());
}

TEST_F(MainWindowHandlersTest, YesDuringACheckClosesOnlyAfterItWithoutASecondQuestion)
{
    WriteSettings("[General]\nNumberGroups=1\n" + Recheck(1, "Recheck", 30));
    Start();
    QSignalSpy unloaded(window.get(), &frmMain::Unloaded);
    bool loadedAfterClose = false;
    bool pendingAfterClose = false;
    answers.Expect(MsgBoxResult::Yes);
    // Arrives at the pass's first yield.
    QTimer::singleShot(0, window.get(), [&] {
        CloseBox(window.get());
        loadedAfterClose = window->IsLoaded() && window->isVisible();
        pendingAfterClose = Access::UnloadPending(*window);
    });
    window->CheckGroups(true);
    EXPECT_TRUE(loadedAfterClose);
    EXPECT_TRUE(pendingAfterClose);
    EXPECT_EQ(answers.Shown().size(), 1);
    EXPECT_EQ(unloaded.count(), 1);
    EXPECT_FALSE(window->IsLoaded());
    EXPECT_FALSE(DebugLog().contains("Check Group 2"));
}

TEST_F(MainWindowHandlersTest, ExitFromEitherMenuNeverAsks)
{
    Start();
    QSignalSpy unloaded(window.get(), &frmMain::Unloaded);
    window->mnuFileExit->trigger();
    EXPECT_EQ(unloaded.count(), 1);
    EXPECT_TRUE(Access::UnloadPending(*window));
    EXPECT_TRUE(answers.Shown().isEmpty());

    // From the tray's menu, with the window hidden in the tray.
    window.reset();
    WriteSettings("[General]\nMinimiseToSysTray=1\n");
    Start();
    QSignalSpy unloadedAgain(window.get(), &frmMain::Unloaded);
    window->TrayAvailable = [] { return true; };
    window->setWindowState(Qt::WindowMinimized);
    ASSERT_FALSE(window->isVisible());
    window->mnuSysExit->trigger();
    EXPECT_EQ(unloadedAgain.count(), 1);
    EXPECT_TRUE(answers.Shown().isEmpty());
}

TEST_F(MainWindowHandlersTest, CheckNowDuringACheckDoesNothing)
{
    WriteSettings("[General]\nNumberGroups=1\n" + Recheck(1, "Recheck", 25));
    Start();
    QTimer::singleShot(0, window.get(), [this] {
        window->mnuSysCheckNow->trigger();
        window->mnuCheckNow->trigger();
    });
    window->CheckGroups(true);
    const QString trace = DebugLog();
    EXPECT_EQ(trace.count("CheckGroups True"), 3);
    // One pass only, which ran to its end.
    EXPECT_EQ(trace.count("Check Group 1"), 1);
    EXPECT_EQ(window->lblOverallStatus->text(), " Checking...Finished");

    // Idle again, both entries check at once.
    window->mnuSysCheckNow->trigger();
    EXPECT_EQ(DebugLog().count("Check Group 1"), 2);
}

TEST_F(MainWindowHandlersTest, RemoveGroupAsksRemovesAndSaves)
{
    WriteSettings("[General]\nNumberGroups=2\n" + Recheck(1, "Morning", 10) +
                  Recheck(2, "Evening", 20));
    Start();
    ASSERT_EQ(window->lvwGroups->topLevelItemCount(), 2);
    // Nothing selected: nothing asked.
    window->mnuRemoveGroup->setEnabled(true);
    window->mnuRemoveGroup->trigger();
    EXPECT_TRUE(answers.Shown().isEmpty());

    window->mnuRemoveGroup->setEnabled(false);
    ClickRow(0);
    EXPECT_TRUE(window->mnuRemoveGroup->isEnabled());

    answers.Expect(MsgBoxResult::No);
    window->mnuRemoveGroup->trigger();
    ASSERT_EQ(answers.Shown().size(), 1);
    EXPECT_EQ(answers.Shown()[0].Prompt, "Are you sure you want to remove \"Morning\"");
    EXPECT_EQ(answers.Shown()[0].Style,
              MsgBoxStyle::YesNo | MsgBoxStyle::Question | MsgBoxStyle::DefaultButton2);
    EXPECT_EQ(window->Importer()->NumberGroups(), 2);

    answers.Expect(MsgBoxResult::Yes);
    window->mnuRemoveGroup->trigger();
    EXPECT_EQ(window->Importer()->NumberGroups(), 1);
    ASSERT_EQ(window->lvwGroups->topLevelItemCount(), 1);
    EXPECT_EQ(window->lvwGroups->topLevelItem(0)->text(1), "Evening");
    EXPECT_TRUE(window->mnuRemoveGroup->isEnabled());
    EXPECT_EQ(IniFile::ReadInt(SettingsFile(), "General", "NumberGroups", -1), 1);
    EXPECT_EQ(IniFile::ReadString(SettingsFile(), "Group1", "Name", ""), "Evening");

    ClickRow(0);
    answers.Expect(MsgBoxResult::Yes);
    window->mnuRemoveGroup->trigger();
    EXPECT_EQ(window->lvwGroups->topLevelItemCount(), 0);
    EXPECT_FALSE(window->mnuRemoveGroup->isEnabled());
}

TEST_F(MainWindowHandlersTest, GroupListAndSettingsOpenTheImporterDialogs)
{
    WriteSettings("[General]\nNumberGroups=2\n" + Recheck(1, "Morning", 10) +
                  Recheck(2, "Evening", 20));
    Start();
    RecordingDialogs dialogs;
    window->Importer()->setDialogs(&dialogs);

    // A double click with nothing selected opens nothing.
    QTreeWidget* list = window->lvwGroups;
    const QPoint empty(list->viewport()->width() / 2, list->viewport()->height() - 4);
    ASSERT_EQ(list->itemAt(empty), nullptr);
    DoubleClick(list->viewport(), empty);
    EXPECT_TRUE(dialogs.calls.isEmpty());

    // The list is refreshed even when the editor is cancelled.
    dialogs.typedName = "Late";
    ClickRow(1);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {},
                       list->visualItemRect(list->topLevelItem(1)).center());
    EXPECT_EQ(dialogs.calls, QStringList({"group:Evening"}));
    EXPECT_EQ(list->topLevelItem(1)->text(1), "Late");

    window->cmdSettings->click();
    window->mnuImporterSettings->trigger();
    dialogs.typedName.clear();
    window->mnuAddGroup->trigger();
    EXPECT_EQ(dialogs.calls, QStringList({"group:Evening", "importer", "importer", "group:"}));
    EXPECT_EQ(window->Importer()->NumberGroups(), 2);

    // Without a cart store the dialogs raise an error, which is reported, not thrown on.
    dialogs.fail = true;
    answers.Expect(MsgBoxResult::OK);
    answers.Expect(MsgBoxResult::OK);
    answers.Expect(MsgBoxResult::OK);
    window->mnuImporterSettings->trigger();
    window->mnuAddGroup->trigger();
    ClickRow(0);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {},
                       list->visualItemRect(list->topLevelItem(0)).center());
    ASSERT_EQ(answers.Shown().size(), 3);
    EXPECT_EQ(answers.Shown()[0].Prompt,
              "There was a problem showing the importer settings and the error's description "
              "was reported as : \n\n\"Object variable or With block variable not set\"");
    EXPECT_EQ(answers.Shown()[0].Icon(), MsgBoxStyle::Exclamation);
    EXPECT_TRUE(answers.Shown()[1].Prompt.startsWith("There was a problem adding an import group"));
    EXPECT_TRUE(
        answers.Shown()[2].Prompt.startsWith("There was a problem showing the import group"));
    EXPECT_EQ(list->topLevelItemCount(), 2);
    window->Importer()->setDialogs(nullptr);
}

TEST_F(MainWindowHandlersTest, DoubleClickOnEmptySpaceOpensTheSelectedGroupOnce)
{
    WriteSettings("[General]\nNumberGroups=2\n" + Recheck(1, "Morning", 10) +
                  Recheck(2, "Evening", 20));
    Start();
    RecordingDialogs dialogs;
    window->Importer()->setDialogs(&dialogs);
    QTreeWidget* list = window->lvwGroups;
    const QPoint empty(list->viewport()->width() / 2, list->viewport()->height() - 4);
    ASSERT_EQ(list->itemAt(empty), nullptr);

    ClickRow(1);
    DoubleClick(list->viewport(), empty);
    EXPECT_EQ(dialogs.calls, QStringList({"group:Evening"}));

    // On a row: opened once, not once for the row and once for the list.
    ClickRow(0);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {},
                       list->visualItemRect(list->topLevelItem(0)).center());
    EXPECT_EQ(dialogs.calls, QStringList({"group:Evening", "group:Morning"}));

    // A right double click is no double click of the list.
    ClickRow(1);
    QTest::mouseDClick(list->viewport(), Qt::RightButton, {}, empty);
    EXPECT_EQ(dialogs.calls.size(), 2);
    window->Importer()->setDialogs(nullptr);
}

TEST_F(MainWindowHandlersTest, TrayContextPopsUpTheMenuWithoutRestoring)
{
    WriteSettings("[General]\nMinimiseToSysTray=1\n");
    Start();
    window->TrayAvailable = [] { return true; };
    window->setWindowState(Qt::WindowMinimized);
    ASSERT_FALSE(window->isVisible());
    QSystemTrayIcon* tray = window->TrayIcon();
    ASSERT_NE(tray, nullptr);

    Q_EMIT tray->activated(QSystemTrayIcon::Context);
    EXPECT_TRUE(window->mPopupSys->isVisible());
    EXPECT_FALSE(window->isVisible());
    window->mPopupSys->hide();

    // A middle click does nothing.
    Q_EMIT tray->activated(QSystemTrayIcon::MiddleClick);
    EXPECT_FALSE(window->isVisible());

    Q_EMIT tray->activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->isMinimized());

    window->setWindowState(Qt::WindowMinimized);
    ASSERT_FALSE(window->isVisible());
    Q_EMIT tray->activated(QSystemTrayIcon::DoubleClick);
    EXPECT_TRUE(window->isVisible());

    window->setWindowState(Qt::WindowMinimized);
    window->mnuSysRestore->trigger();
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->isMinimized());
}

TEST_F(MainWindowHandlersTest, UpdateInformationLooksInItsThreePlaces)
{
    Start();
    ModalCloser closer;
    closer.Arm();
    window->mnuUpdateInfo->trigger();
    QApplication::processEvents();
    EXPECT_FALSE(closer.seen);
    EXPECT_NE(window->cursor().shape(), Qt::WaitCursor);

    // Beside the program, the parent folder, its Common folder; the name in any case.
    WriteFile(home.File("apps/COMMON/UPDATES.RTF"), "{\\rtf1 common notes}");
    closer = ModalCloser();
    closer.Arm();
    window->mnuUpdateInfo->trigger();
    EXPECT_TRUE(closer.seen);
    EXPECT_EQ(closer.title, "Update Information");
    EXPECT_TRUE(closer.text.contains("common notes"));
    EXPECT_NE(window->cursor().shape(), Qt::WaitCursor);

    WriteFile(home.File("apps/program/UPDATES.rtf"), "{\\rtf1 own notes}");
    closer = ModalCloser();
    closer.Arm();
    window->mnuUpdateInfo->trigger();
    EXPECT_TRUE(closer.text.contains("own notes"));
}

TEST_F(MainWindowHandlersTest, LogEntriesAndWebLinks)
{
    Start();
    const QString log = Globals::AppLogFile;
    Globals::AppLogFile = home.File("nowhere/2024-01-01.log");
    answers.Expect(MsgBoxResult::OK);
    window->mnuViewHistory->trigger();
    ASSERT_EQ(answers.Shown().size(), 1);
    EXPECT_EQ(answers.Shown()[0].Prompt, "There has not been a History Log File created yet!");
    EXPECT_EQ(answers.Shown()[0].Style, MsgBoxStyle::OKOnly | MsgBoxStyle::Exclamation);
    // A missing folder opens nothing.
    window->mnuViewLogFiles->trigger();
    EXPECT_TRUE(opened.isEmpty());

    Globals::AppLogFile = log;
    window->Importer()->AddToLog("GRP:1", "Imported 'a.wav'");
    ModalCloser closer;
    closer.Arm();
    window->mnuViewHistory->trigger();
    EXPECT_TRUE(closer.seen);
    EXPECT_TRUE(closer.text.contains("GRP:1:Imported 'a.wav'"));

    window->mnuViewLogFiles->trigger();
    window->mnuOrvaneSupportWebsite->trigger();
    window->mnuOrvaneWebsite->trigger();
    ASSERT_EQ(opened.size(), 3);
    EXPECT_EQ(opened[0], QUrl::fromLocalFile(QFileInfo(log).path()));
    EXPECT_EQ(opened[1].scheme(), "https");
    EXPECT_EQ(opened[2].scheme(), "https");
    EXPECT_NE(opened[1], opened[2]);
}

TEST_F(MainWindowHandlersTest, FileLocationsReopenTheStoreOnlyWhenAccepted)
{
    Start();
    const QString before = Globals::PlayoutAudio->BaseFolder();
    PlayoutProfile::SetFileLocationsHook([](const PlayoutProfile::FileLocations&) { return ""; });
    window->mnuFileLocations->trigger();
    EXPECT_EQ(Globals::PlayoutAudio->BaseFolder(), before);

    const QString moved = home.File("store");
    PlayoutProfile::SetFileLocationsHook([&](const PlayoutProfile::FileLocations& locations) {
        EXPECT_EQ(locations.ProfileName, "Test");
        return moved;
    });
    window->mnuFileLocations->trigger();
    EXPECT_EQ(QDir(Globals::PlayoutAudio->BaseFolder()), QDir(moved));

    int shown = 0;
    CartStoreSettings::SetDialogHook([&](CartStoreSettings&, quint32) {
        ++shown;
        return false;
    });
    window->mnuGlobalCartvaultSettings->trigger();
    EXPECT_EQ(shown, 1);
}

TEST_F(MainWindowHandlersTest, TerminationDuringACheckWaitsForItAndAsksNothing)
{
    WriteSettings("[General]\nNumberGroups=1\n" + Recheck(1, "Recheck", 30));
    Start();
    // Without the window's handler the signal would end the test program.
    struct sigaction current = {};
    ASSERT_EQ(sigaction(SIGTERM, nullptr, &current), 0);
    ASSERT_NE(current.sa_handler, SIG_DFL);

    QSignalSpy unloaded(window.get(), &frmMain::Unloaded);
    bool loadedAfterSignal = false;
    QTimer::singleShot(0, window.get(), [&] {
        raise(SIGTERM);
        loadedAfterSignal = window->IsLoaded();
    });
    window->CheckGroups(true);
    EXPECT_TRUE(loadedAfterSignal);
    EXPECT_TRUE(answers.Shown().isEmpty());
    EXPECT_EQ(unloaded.count(), 1);
    EXPECT_FALSE(window->IsLoaded());
    // Stopped between carts, not at once and not at the end.
    EXPECT_EQ(window->lblOverallStatus->text(), " Checking Recheck (Cart 11)");
    // The default action is back once the window has gone.
    ASSERT_EQ(sigaction(SIGTERM, nullptr, &current), 0);
    EXPECT_EQ(current.sa_handler, SIG_DFL);

    // Idle: a hang-up closes at once, without a question.
    window.reset();
    Start();
    QSignalSpy unloadedIdle(window.get(), &frmMain::Unloaded);
    raise(SIGHUP);
    // The byte is in the pipe already; one pass of the event loop reads it.
    QCoreApplication::processEvents();
    EXPECT_EQ(unloadedIdle.count(), 1);
    EXPECT_TRUE(answers.Shown().isEmpty());
}

// A close chosen while a handler waits for a modal window must not pull the importer and the
// playout interfaces away from under that handler.
TEST_F(MainWindowHandlersTest, CloseWhileAModalWindowIsOpenWaitsForItsHandler)
{
    WriteSettings("[General]\nNumberGroups=1\n" + Recheck(1, "Morning", 10));
    Start();
    class ExitingDialogs : public ImporterDialogs
    {
    public:
        frmMain* window = nullptr;
        bool aliveAfterExit = false;
        bool DisplayGroup(cImporter& importer, cImporterGroup&) override
        {
            window->mnuSysExit->trigger();
            aliveAfterExit = window->Importer() == &importer && window->IsLoaded() &&
                             Globals::PlayoutAudio != nullptr;
            return false;
        }
        bool DisplayImporter(cImporter&) override { return false; }
    } dialogs;
    dialogs.window = window.get();
    window->Importer()->setDialogs(&dialogs);
    QSignalSpy unloaded(window.get(), &frmMain::Unloaded);
    ClickRow(0);
    QTest::mouseDClick(
        window->lvwGroups->viewport(), Qt::LeftButton, {},
        window->lvwGroups->visualItemRect(window->lvwGroups->topLevelItem(0)).center());
    EXPECT_TRUE(dialogs.aliveAfterExit);
    QCoreApplication::processEvents();
    EXPECT_EQ(unloaded.count(), 1);
    EXPECT_TRUE(answers.Shown().isEmpty());

    // The session ends while the about box is open: the box goes, then the window.
    window.reset();
    Start();
    QSignalSpy unloadedAgain(window.get(), &frmMain::Unloaded);
    QString modalTitle;
    QTimer::singleShot(0, [&] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            modalTitle = modal->windowTitle();
        }
        raise(SIGTERM);
    });
    window->mnuAbout->trigger();
    EXPECT_FALSE(modalTitle.isEmpty());
    EXPECT_EQ(unloadedAgain.count(), 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(unloadedAgain.count(), 1);

    // And while the close box's question is open: no answer is needed.
    window.reset();
    Start();
    QSignalSpy unloadedThird(window.get(), &frmMain::Unloaded);
    MessageBox::Handler scripted = MessageBox::CurrentHandler();
    MessageBox::SetHandler([&](const MessageBoxRequest& request) {
        raise(SIGTERM);
        QCoreApplication::processEvents();
        return scripted(request);
    });
    answers.Expect(MsgBoxResult::No);
    CloseBox(window.get());
    MessageBox::SetHandler(scripted);
    EXPECT_EQ(unloadedThird.count(), 1);
}

} // namespace
