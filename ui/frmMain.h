#pragma once

#include "platform/system/Clocks.h"
#include "platform/system/DateTimeFunctions.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

struct FolderNamesNotText;

class FileInUse;
class FolderPass;
class GraphicsRenderer;
class QDateTime;
class QLocale;
class QUrl;
class SessionEndWatcher;
class frmAudioBrowser;
class QAction;
class QFrame;
class QLabel;
class QMenu;
class QProgressBar;
class QSystemTrayIcon;
class QTabWidget;
class QTimer;
class QToolButton;
class QTreeWidget;
class cImporter;
class cImporterGroup;
class uHWndGrab;

// The program's main window: the import groups and the history of logged events, the status
// lines and progress bars, the tray icon and the check timer that drives the periodic check of
// all groups. Load() runs the whole start-up; Unload() shuts the program's framework down.
class frmMain : public QMainWindow
{
    Q_OBJECT

public:
    // clocks: what the check measures its interval with and the in-use test compares file times
    // with. leasesAllowed false: every file is tested as one of another owner.
    explicit frmMain(QWidget* parent = nullptr, Clocks clocks = {}, bool leasesAllowed = true);
    ~frmMain() override;

    // Runs the load handler. False when start-up failed and the window was unloaded again.
    bool Load();
    // Closes the window from code: the close guard, then the unload handler.
    void Unload();
    bool IsLoaded() const { return m_loaded; }

    cImporter* Importer() const { return m_importer.get(); }
    class GraphicsRenderer* GraphicsRenderer() const { return m_renderer.get(); }
    void UpdateDisplay();
    // ForceCheck: ignore the check interval. Never entered twice.
    void CheckGroups(const bool& ForceCheck);

    // Twips of this window's screen, 1,440 per logical inch.
    double TwipsPerPixelX() const;
    double TwipsPerPixelY() const;

    // Controls.
    QTimer* tmrCheckGroups = nullptr;
    // The timer's busy flag: "1" while a check runs, "0" after one.
    QString tmrCheckGroupsTag;
    QTabWidget* tbsImporter = nullptr;
    QLabel* lblGroupsDesc = nullptr;
    QTreeWidget* lvwGroups = nullptr;
    QLabel* lblHistoryDesc = nullptr;
    QTreeWidget* lvwHistory = nullptr;
    QLabel* picLogo = nullptr;
    QToolButton* cmdSettings = nullptr;
    QFrame* picStatus = nullptr;
    QLabel* lblOverallStatusDesc = nullptr;
    QLabel* lblOverallStatus = nullptr;
    QLabel* lblCurrentProgressDesc = nullptr;
    QLabel* lblCurrentProgress = nullptr;
    QProgressBar* prgOverallProgress = nullptr;
    QProgressBar* prgCurrentProgress = nullptr;
    // Keeps the window within its size limits.
    uHWndGrab* uHWndGrab1 = nullptr;
    // The tray icon, from start-up to shut-down.
    QSystemTrayIcon* TrayIcon() const { return m_trayIcon; }

    // Opens web pages and folders in the desktop's programs; tests replace it.
    std::function<bool(const QUrl&)> OpenUrl;
    // Whether the desktop shows a tray to hide in; tests replace it.
    std::function<bool()> TrayAvailable;

    // A history row's date and time: the locale's short date and the 24-hour time. The window
    // passes QLocale(), the process locale unless a test has set another default.
    static QString HistoryDateText(const QDateTime& when, const QLocale& locale);

    // Menus.
    QMenu* mnuFile = nullptr;
    QAction* mnuCheckNow = nullptr;
    QAction* mnuCartBrowserSep = nullptr;
    QAction* mnuCartBrowser = nullptr;
    QAction* mnuFileExitSep = nullptr;
    QAction* mnuFileExit = nullptr;
    QMenu* mnuImporter = nullptr;
    QAction* mnuAddGroup = nullptr;
    QAction* mnuRemoveGroup = nullptr;
    QAction* mnuImporterLogSep = nullptr;
    QAction* mnuViewHistory = nullptr;
    QAction* mnuViewLogFiles = nullptr;
    QMenu* mnuSettings = nullptr;
    QMenu* mnuAudioSetup = nullptr;
    QAction* mnuAudioSettings = nullptr;
    QAction* mnuCartvaultSettingsSep = nullptr;
    QAction* mnuGlobalCartvaultSettings = nullptr;
    QAction* mnuCorvellaSettingsSep = nullptr;
    QAction* mnuFileLocations = nullptr;
    QAction* mnuImportSettingsSep = nullptr;
    QAction* mnuImporterSettings = nullptr;
    QAction* mnuDirectorySettingsSep = nullptr;
    QAction* mnuDirectorySettings = nullptr;
    QMenu* mnuHelp = nullptr;
    QAction* mnuCreateSupportFile = nullptr;
    QAction* mnuCreateSupportFileSep = nullptr;
    QAction* mnuUpdateInfo = nullptr;
    QAction* mnuHelpORVSep = nullptr;
    QMenu* mnuOrvane = nullptr;
    QAction* mnuOrvaneSupportWebsite = nullptr;
    QAction* mnuOrvaneWebsiteSep = nullptr;
    QAction* mnuOrvaneWebsite = nullptr;
    QAction* mnuAboutSep = nullptr;
    QAction* mnuAbout = nullptr;
    // The tray icon's pop-up; never on the menu bar.
    QMenu* mPopupSys = nullptr;
    QAction* mnuSysRestore = nullptr;
    QAction* mnuSysCheckSep = nullptr;
    QAction* mnuSysCheckNow = nullptr;
    QAction* mnuSysExitSep = nullptr;
    QAction* mnuSysExit = nullptr;

    // Column keys of the two lists, and the keys of a group row's cells.
    static constexpr int KeyRole = Qt::UserRole + 1;

Q_SIGNALS:
    // The unload handler has run; the program ends.
    void Unloaded();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class frmMainTestAccess;
    friend class frmMainHandlersTestAccess;

    // The folder holding "UPDATES.rtf": the program's, unless a test points elsewhere.
    static QString& ProgramFolderOverride();
    static QString ProgramFolder();
    // The file below the folder, its names matched without regard to case as on Windows;
    // "" when there is none.
    static QString ExistingFileIgnoringCase(const QString& folder, const QString& relative);

    void BuildMenus();
    void BuildControls();
    void Form_Load();
    bool LoadSettings();
    void Form_Resize();
    void Form_QueryUnload(bool& Cancel, int UnloadMode);
    void Form_Unload();
    void tmrCheckGroups_Timer();
    // While the window is hidden in the tray: a tray that has gone gives the window back.
    void tmrTrayWatch_Timer();
    // The Date/Time column's width in pixels: the design width, or more where the locale's
    // dates need it in the list's font.
    int HistoryDateColumnWidth() const;

    // The window's event side.
    void ConnectHandlers();
    // The tray icon's mouse messages: 514 left release, 515 double click, 517 context request.
    void Form_MouseMove(int message);
    void RestoreWindow();
    // The desktop session ends or the process was told to terminate: a close without question.
    void SessionEnding();
    void SetCurrentProgress(const QString& text);
    void lblCurrentProgress_Change();
    void lblOverallStatus_Change();
    void lvwGroups_DblClick();
    void lvwGroups_ItemClick();
    void mclsImporter_LogEventAdded(const QDateTime& EventDate, const QString& EventString);
    void mclsImporter_ImportStarted(const QString& FileName, const QString& HDReference);
    void mclsImporter_ImportProgress(const QString& FileName, const QString& HDReference,
                                     qint16 Progress);
    void mclsImporter_ImportFinished(const QString& FileName, const QString& HDReference);
    void mclsImporter_ProcessStarted(const QString& Caption, bool ShowProgress);
    void mclsImporter_ProcessProgress(const QString& Caption, qint16 Progress);
    void mclsImporter_ProcessEnd(const QString& Caption, bool UsedProgress);
    void cmdSettings_Click();
    void mnuCheckNow_Click();
    void mnuCartBrowser_Click();
    void mnuFileExit_Click();
    void mnuAddGroup_Click();
    void mnuRemoveGroup_Click();
    void mnuViewHistory_Click();
    void mnuViewLogFiles_Click();
    void mnuGlobalCartvaultSettings_Click();
    void mnuFileLocations_Click();
    void mnuImporterSettings_Click();
    void mnuDirectorySettings_Click();
    void mnuCreateSupportFile_Click();
    void mnuUpdateInfo_Click();
    void mnuOrvaneSupportWebsite_Click();
    void mnuOrvaneWebsite_Click();
    void mnuAbout_Click();
    void mnuSysRestore_Click();
    void mnuSysCheckNow_Click();
    void mnuSysExit_Click();
    void UnloadOtherWindows();
    // Held while a handler waits for a modal window: a close meanwhile is put off until the
    // handler has returned.
    class ModalScope
    {
    public:
        explicit ModalScope(frmMain& window);
        ~ModalScope();
        ModalScope(const ModalScope&) = delete;
        ModalScope& operator=(const ModalScope&) = delete;

    private:
        frmMain& m_window;
    };
    // The importer's dialogs; an error they raise (no cart store) is reported, not thrown on.
    void ShowImporterDialog(const QString& what, const std::function<void()>& show);

    // The periodic check's parts.
    void RunCheck();
    // False when the pass must end (a close is pending, or the groups changed under it).
    bool CheckCartRange(int index, cImporterGroup* group);
    bool CheckFolder(int index, cImporterGroup* group);
    bool OfferCartsOfMissingAudio(int index, cImporterGroup*& group, const QStringList& carts,
                                  qint32 present);
    void OfferFile(int index, const QString& path, const QString& cart, bool& ok);
    // The window's turn while the engine works on a file (measuring, importing, mailing): it
    // paints and takes a close, which stops the work. False once the work must stop.
    bool BreatheDuringWork();
    // After the pass yielded: whether the group at the index is still the one being checked.
    bool StillTheGroup(int index, cImporterGroup*& group) const;
    void EndCheck();
    // LastCheck and the steady clock's reading with it.
    void MarkCheckEnd();
    // What the store mended on its own goes into the application log.
    void TellStoreNotices();
    // Seconds since MarkCheckEnd on the steady clock; infinite before the first.
    double SecondsSinceLastCheck() const;
    // An error escaped the pass: back to idle.
    void CheckFailed(bool running, const QString& description);
    void SetOverallStatus(const QString& text);
    void SelectGroupRow(int index);

    // Twips to pixels and back, rounded to whole pixels and twips.
    int PxX(double twips) const;
    int PxY(double twips) const;
    double TwX(int pixels) const;
    double TwY(int pixels) const;
    void SetGeometryTwips(QWidget* widget, double left, double top, double width,
                          double height) const;
    void SetGroupColumnWidths();

    std::unique_ptr<cImporter> m_importer;
    std::unique_ptr<class GraphicsRenderer> m_renderer;
    std::unique_ptr<FileInUse> m_fileInUse;
    // Per group and folder, the names that are not UTF-8 last logged: told again only when they
    // change.
    QHash<QString, QList<QByteArray>> m_namesNotTextTold;
    void TellNamesNotText(int index, const QString& watched, QList<FolderNamesNotText> found);
    // The walk over an import group's files, with what it keeps from pass to pass.
    std::unique_ptr<FolderPass> m_folderPass;
    QSystemTrayIcon* m_trayIcon = nullptr;
    QTimer* m_trayWatch = nullptr;
    bool UnloadPending = false;
    TimeRecord LastCheck;
    Clocks m_clocks;
    std::optional<qint64> m_lastCheckSteadyNs;
    bool CheckInProgress = false;
    bool m_loaded = false;
    bool m_unloading = false;
    // The origin of a close asked for from code with a reason of its own; -1 otherwise.
    int m_closeOrigin = -1;
    int m_modalDepth = 0;
    // The close box's question is open.
    bool m_asking = false;
    bool m_sessionEndedWhileAsking = false;
    bool m_unloadAfterModal = false;
    // The engine works on a file and holds its group.
    bool m_offeringFile = false;
    // When each status label and the overall bar were last painted at once (steady clock).
    std::optional<qint64> m_overallStatusPaintedNs;
    std::optional<qint64> m_currentProgressPaintedNs;
    std::optional<qint64> m_overallProgressPaintedNs;
    QPointer<frmAudioBrowser> m_audioBrowser;
    std::unique_ptr<SessionEndWatcher> m_sessionEnd;
};
