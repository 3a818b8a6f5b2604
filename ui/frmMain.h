#pragma once

#include "platform/DateTimeFunctions.h"

#include <QMainWindow>
#include <QString>
#include <memory>

class FileInUse;
class GraphicsRenderer;
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
    explicit frmMain(QWidget* parent = nullptr);
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

    // Menus (their handlers come with the window's event side).
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

    // The folder holding "UPDATES.rtf": the program's, unless a test points elsewhere.
    static QString& ProgramFolderOverride();
    static QString ProgramFolder();

    void BuildMenus();
    void BuildControls();
    void Form_Load();
    bool LoadSettings();
    void Form_Resize();
    void Form_QueryUnload(bool& Cancel, int UnloadMode);
    void Form_Unload();
    void tmrCheckGroups_Timer();

    // The periodic check's parts.
    void RunCheck();
    // False when the pass must end (a close is pending, or the groups changed under it).
    bool CheckCartRange(int index, cImporterGroup* group);
    bool CheckFolder(int index, cImporterGroup* group);
    void OfferFile(int index, const QString& path, const QString& cart, bool& ok);
    // After the pass yielded: whether the group at the index is still the one being checked.
    bool StillTheGroup(int index, cImporterGroup*& group) const;
    void EndCheck();
    // An error escaped the pass: back to idle.
    void CheckFailed(bool running, const QString& description);
    void SetOverallStatus(const QString& text);
    // A text's numeric value as the timer's tag and cart numbers are read: blanks, a sign,
    // digits and a decimal fraction from the start; 0 when it does not start with a number.
    static double NumericValue(const QString& text);
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
    QSystemTrayIcon* m_trayIcon = nullptr;
    bool UnloadPending = false;
    TimeRecord LastCheck;
    bool CheckInProgress = false;
    bool m_loaded = false;
    bool m_unloading = false;
};
