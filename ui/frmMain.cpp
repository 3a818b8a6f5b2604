#include "ui/frmMain.h"

#include "engine/FolderPass.h"
#include "engine/cEmail.h"
#include "engine/cImporter.h"
#include "engine/cImporterGroup.h"
#include "framework/AppLog.h"
#include "framework/DebugLog.h"
#include "framework/GeneralHelpers.h"
#include "framework/NumberText.h"
#include "framework/ToolGlobals.h"
#include "framework/widgets/ToolsCommon.h"
#include "framework/widgets/frmSplash.h"
#include "platform/cartstore/PlayoutAudio.h"
#include "platform/system/FileFunctions.h"
#include "platform/system/FileInUse.h"
#include "platform/system/GeneralFunctions.h"
#include "platform/system/LongWork.h"
#include "platform/system/MessageBox.h"
#include "platform/system/PlatformPaths.h"
#include "platform/system/widgets/uHWndGrab.h"
#include "ui/GraphicsRenderer.h"
#include "ui/ProgramIcon.h"
#include "ui/QtImporterDialogs.h"
#include "ui/SessionEndWatcher.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QEvent>
#include <QFontMetrics>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QProgressBar>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>

#include <cmath>

namespace {

// Design sizes and places, in twips.
constexpr double kWindowWidth = 9780;
constexpr double kWindowHeight = 7800;
constexpr double kMinHeight = 6600;
constexpr double kScrollBarRoom = 285;
constexpr double kLabelHeight = 255;
constexpr double kListLeft = 1080;
constexpr double kListTop = 480;
constexpr double kStatusHeight = 870;
constexpr double kStatusCaptionWidth = 1500;
constexpr double kLogoSize = 900;
constexpr double kSettingsButtonSize = 360;

// Unload modes of the close guard.
constexpr int kUnloadFromControlMenu = 0;
constexpr int kUnloadFromCode = 1;
constexpr int kUnloadFromSessionEnd = 2;

qint32 Rounded(double twips)
{
    return qint32(std::lround(twips));
}

QTreeWidget* MakeReportList(QWidget* parent)
{
    auto* list = new QTreeWidget(parent);
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setItemsExpandable(false);
    list->setAllColumnsShowFocus(true);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->header()->setStretchLastSection(false);
    list->header()->setSectionsMovable(false);
    list->header()->setMinimumSectionSize(0);
    return list;
}

QLabel* MakeLabel(QWidget* parent, const QString& caption)
{
    auto* label = new QLabel(caption, parent);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return label;
}

QAction* AddEntry(QMenu* menu, const QString& caption,
                  const QKeySequence& shortcut = QKeySequence())
{
    QAction* action = menu->addAction(caption);
    if (!shortcut.isEmpty()) {
        action->setShortcut(shortcut);
    }
    return action;
}

} // namespace

QString& frmMain::ProgramFolderOverride()
{
    static QString folder;
    return folder;
}

QString frmMain::ProgramFolder()
{
    return ProgramFolderOverride().isEmpty() ? PlatformPaths::ProgramFolder()
                                             : ProgramFolderOverride();
}

frmMain::frmMain(QWidget* parent, Clocks clocks, bool leasesAllowed)
    : QMainWindow(parent), m_fileInUse(std::make_unique<FileInUse>(leasesAllowed, clocks)),
      m_clocks(std::move(clocks))
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QCoreApplication::applicationName());
    setWindowIcon(ProgramIcon::Icon());
    OpenUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    TrayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    m_folderPass = std::make_unique<FolderPass>(
        *m_fileInUse,
        FolderPass::Hooks{
            .mayGoOn = [this] { return !UnloadPending; },
            .showStatus = [this](const QString& text) { SetOverallStatus(text); },
            .offer =
                [this](int index, const QString& path, const QString& cart) {
                    bool ok = false;
                    OfferFile(index, path, cart, ok);
                    return ok;
                },
            .stillTheGroup =
                [this](int index, cImporterGroup*& group) { return StillTheGroup(index, group); }});
    BuildMenus();
    BuildControls();
    ConnectHandlers();

    tmrCheckGroups = new QTimer(this);
    tmrCheckGroups->setInterval(1000);
    connect(tmrCheckGroups, &QTimer::timeout, this, &frmMain::tmrCheckGroups_Timer);

    m_trayWatch = new QTimer(this);
    m_trayWatch->setInterval(1000);
    connect(m_trayWatch, &QTimer::timeout, this, &frmMain::tmrTrayWatch_Timer);

    uHWndGrab1 = new uHWndGrab(this);
    uHWndGrab::SetSizeInTwips(this, qint32(kWindowWidth), qint32(kWindowHeight));
}

frmMain::~frmMain()
{
    // A window destroyed without being closed still shuts the framework down.
    if (m_loaded && !m_unloading) {
        Form_Unload();
    }
}

void frmMain::BuildMenus()
{
    QMenuBar* bar = menuBar();

    mnuFile = bar->addMenu(QStringLiteral("&File"));
    mnuCheckNow = AddEntry(mnuFile, QStringLiteral("&Check Groups Now"), QKeySequence(Qt::Key_F5));
    mnuCartBrowserSep = mnuFile->addSeparator();
    mnuCartBrowser =
        AddEntry(mnuFile, QStringLiteral("Cart &Browser"), QKeySequence(Qt::CTRL | Qt::Key_F1));
    mnuFileExitSep = mnuFile->addSeparator();
    mnuFileExit = AddEntry(mnuFile, QStringLiteral("E&xit"));

    mnuImporter = bar->addMenu(QStringLiteral("&Importer"));
    mnuAddGroup = AddEntry(mnuImporter, QStringLiteral("A&dd Group"));
    mnuRemoveGroup = AddEntry(mnuImporter, QStringLiteral("R&emove Group"));
    mnuRemoveGroup->setEnabled(false);
    mnuImporterLogSep = mnuImporter->addSeparator();
    mnuViewHistory = AddEntry(mnuImporter, QStringLiteral("&View History Log file"),
                              QKeySequence(Qt::CTRL | Qt::Key_V));
    mnuViewLogFiles = AddEntry(mnuImporter, QStringLiteral("View &All Log Files"));

    mnuSettings = bar->addMenu(QStringLiteral("Settin&gs"));
    mnuAudioSetup = mnuSettings->addMenu(QStringLiteral("&Audio Setup"));
    mnuAudioSettings = AddEntry(mnuAudioSetup, QStringLiteral("&Audio Settings"));
    mnuAudioSettings->setVisible(false);
    mnuCartvaultSettingsSep = mnuAudioSetup->addSeparator();
    mnuCartvaultSettingsSep->setVisible(false);
    mnuGlobalCartvaultSettings =
        AddEntry(mnuAudioSetup, QStringLiteral("Cartvault &Settings (Global)"));
    mnuCorvellaSettingsSep = mnuSettings->addSeparator();
    mnuFileLocations = AddEntry(mnuSettings, QStringLiteral("&File Locations"));
    mnuImportSettingsSep = mnuSettings->addSeparator();
    mnuImporterSettings = AddEntry(mnuSettings, QStringLiteral("&Importer Settings"));
    mnuDirectorySettingsSep = mnuSettings->addSeparator();
    mnuDirectorySettings = AddEntry(mnuSettings, QStringLiteral("Orvane D&irectory Settings"));

    mnuHelp = bar->addMenu(QStringLiteral("&Help"));
    mnuCreateSupportFile = AddEntry(mnuHelp, QStringLiteral("Create &Orvane Support File"));
    mnuCreateSupportFileSep = mnuHelp->addSeparator();
    mnuUpdateInfo = AddEntry(mnuHelp, QStringLiteral("&Update Information"));
    mnuUpdateInfo->setVisible(false);
    mnuHelpORVSep = mnuHelp->addSeparator();
    mnuOrvane = mnuHelp->addMenu(QStringLiteral("Orvane On the Web"));
    mnuOrvaneSupportWebsite = AddEntry(mnuOrvane, QStringLiteral("Online Technical &Support "));
    mnuOrvaneWebsiteSep = mnuOrvane->addSeparator();
    mnuOrvaneWebsite = AddEntry(mnuOrvane, QStringLiteral("Orvane &Home Page"));
    mnuAboutSep = mnuHelp->addSeparator();
    mnuAboutSep->setVisible(false);
    mnuAbout = AddEntry(mnuHelp, QStringLiteral("&About"));

    mPopupSys = new QMenu(QStringLiteral("mPopupSys"), this);
    mnuSysRestore = AddEntry(mPopupSys, QStringLiteral("Restore"));
    mnuSysCheckSep = mPopupSys->addSeparator();
    mnuSysCheckNow = AddEntry(mPopupSys, QStringLiteral("Check Now"));
    mnuSysExitSep = mPopupSys->addSeparator();
    mnuSysExit = AddEntry(mPopupSys, QStringLiteral("E&xit"));
}

void frmMain::BuildControls()
{
    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("frmMainClient"));
    setCentralWidget(central);
    // The layout follows the client area, as the window's resize handler sees it.
    central->installEventFilter(this);

    tbsImporter = new QTabWidget(central);
    tbsImporter->addTab(new QWidget(), QStringLiteral("Importer"));
    SetGeometryTwips(tbsImporter, 60, 60, kWindowWidth - 120, kWindowHeight - 2000);

    // The lists and the logo sit on the tab control itself, over its page, and take its
    // coordinates.
    lblGroupsDesc = MakeLabel(tbsImporter, QStringLiteral("Groups:"));
    SetGeometryTwips(lblGroupsDesc, 120, kListTop, kListLeft - 180, kLabelHeight);
    lvwGroups = MakeReportList(tbsImporter);
    SetGeometryTwips(lvwGroups, kListLeft, kListTop, kWindowWidth - 120 - 120 - kListLeft, 1800);
    lblHistoryDesc = MakeLabel(tbsImporter, QStringLiteral("History:"));
    SetGeometryTwips(lblHistoryDesc, 120, 2400, kListLeft - 180, kLabelHeight);
    lvwHistory = MakeReportList(tbsImporter);
    SetGeometryTwips(lvwHistory, kListLeft, 2400, kWindowWidth - 120 - 120 - kListLeft, 1800);

    picLogo = new QLabel(tbsImporter);
    picLogo->setAlignment(Qt::AlignCenter);
    SetGeometryTwips(picLogo, 120, 4300, kLogoSize, kLogoSize);
    picLogo->setPixmap(ProgramIcon::Picture(PxX(kLogoSize) - 4));

    // A picture button without caption, on the row of the tab captions.
    cmdSettings = new QToolButton(tbsImporter);
    cmdSettings->setAutoRaise(true);
    cmdSettings->setToolTip(QStringLiteral("Importer Settings"));
    QIcon gear = QIcon::fromTheme(QStringLiteral("preferences-system"));
    if (gear.isNull()) {
        gear = style()->standardIcon(QStyle::SP_FileDialogDetailedView);
    }
    cmdSettings->setIcon(gear);
    cmdSettings->setIconSize(QSize(PxX(kSettingsButtonSize) - 8, PxY(kSettingsButtonSize) - 8));
    SetGeometryTwips(cmdSettings, kWindowWidth - 120 - 120 - kSettingsButtonSize, 15,
                     kSettingsButtonSize, kSettingsButtonSize);

    for (QWidget* onTab : std::initializer_list<QWidget*>{lblGroupsDesc, lvwGroups, lblHistoryDesc,
                                                          lvwHistory, picLogo, cmdSettings}) {
        onTab->raise();
    }

    picStatus = new QFrame(central);
    picStatus->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    picStatus->setLineWidth(1);
    SetGeometryTwips(picStatus, 60, kWindowHeight - 240 - kStatusHeight, kWindowWidth - 300,
                     kStatusHeight);
    lblOverallStatusDesc = MakeLabel(picStatus, QStringLiteral("Overall Status:"));
    lblCurrentProgressDesc = MakeLabel(picStatus, QStringLiteral("Current Status:"));
    // The status lines start after the wider caption, whatever the desktop's font.
    const double captionWidth =
        qMax(kStatusCaptionWidth, TwX(qMax(lblOverallStatusDesc->sizeHint().width(),
                                           lblCurrentProgressDesc->sizeHint().width())));
    const double textLeft = 60 + captionWidth + 60;
    SetGeometryTwips(lblOverallStatusDesc, 60, 60, captionWidth, kLabelHeight);
    SetGeometryTwips(lblCurrentProgressDesc, 60, 330, captionWidth, kLabelHeight);
    lblOverallStatus = MakeLabel(picStatus, QString());
    SetGeometryTwips(lblOverallStatus, textLeft, 60, kWindowWidth - 300 - textLeft, kLabelHeight);
    lblCurrentProgress = MakeLabel(picStatus, QString());
    SetGeometryTwips(lblCurrentProgress, textLeft, 330, kWindowWidth - 300 - textLeft,
                     kLabelHeight);
    prgCurrentProgress = new QProgressBar(picStatus);
    prgCurrentProgress->setRange(0, 100);
    prgCurrentProgress->setTextVisible(false);
    SetGeometryTwips(prgCurrentProgress, textLeft, 330 + kLabelHeight,
                     kWindowWidth - 300 - textLeft, 180);
    prgCurrentProgress->hide();

    prgOverallProgress = new QProgressBar(central);
    prgOverallProgress->setRange(0, 100);
    prgOverallProgress->setTextVisible(false);
    SetGeometryTwips(prgOverallProgress, 60, kWindowHeight - 240 - kStatusHeight - 30 - 240,
                     kWindowWidth - 300, 240);
    prgOverallProgress->hide();
}

double frmMain::TwipsPerPixelX() const
{
    return 1440.0 / qMax(1, logicalDpiX());
}

double frmMain::TwipsPerPixelY() const
{
    return 1440.0 / qMax(1, logicalDpiY());
}

int frmMain::PxX(double twips) const
{
    return int(std::lround(twips / TwipsPerPixelX()));
}

int frmMain::PxY(double twips) const
{
    return int(std::lround(twips / TwipsPerPixelY()));
}

double frmMain::TwX(int pixels) const
{
    return pixels * TwipsPerPixelX();
}

double frmMain::TwY(int pixels) const
{
    return pixels * TwipsPerPixelY();
}

void frmMain::SetGeometryTwips(QWidget* widget, double left, double top, double width,
                               double height) const
{
    widget->setGeometry(PxX(left), PxY(top), PxX(qMax(0.0, width)), PxY(qMax(0.0, height)));
}

bool frmMain::Load()
{
    Form_Load();
    return m_loaded;
}

void frmMain::Unload()
{
    close();
}

void frmMain::Form_Load()
{
    GeneralFunctions& general = GeneralFunctions::instance();

    QString forcedProfile;
    qint32 playoutFlags = 256;
    if (!InitialiseTool(QStringLiteral("Cartfeeder"), 1, true, forcedProfile, playoutFlags)) {
        frmSplash::Unload();
        Form_Unload();
        return;
    }
    m_loaded = true;

    // Start-up with playout flags always opens the cart store.
    const QString baseFolder =
        Globals::PlayoutAudio ? Globals::PlayoutAudio->BaseFolder() : PlatformPaths::DataHome();
    InitialiseAppLog(baseFolder + QStringLiteral("/Logs/Cartfeeder"), 6);

    m_renderer = std::make_unique<class GraphicsRenderer>();

    QPalette windowPalette = palette();
    windowPalette.setColor(QPalette::Window, tbsImporter->palette().color(QPalette::Window));
    setPalette(windowPalette);

    // The window's width is fixed; its height can grow.
    uHWndGrab1->setMinHeight(qint32(kMinHeight));
    uHWndGrab1->setMinWidth(qint32(kWindowWidth));
    uHWndGrab1->setMaxWidth(qint32(kWindowWidth));

    m_importer = std::make_unique<cImporter>(nullptr, m_clocks);
    QtImporterDialogs::Install(*m_importer);
    TellStoreNotices();
    connect(m_importer.get(), &cImporter::LogEventAdded, this,
            &frmMain::mclsImporter_LogEventAdded);
    connect(m_importer.get(), &cImporter::ImportStarted, this,
            &frmMain::mclsImporter_ImportStarted);
    connect(m_importer.get(), &cImporter::ImportProgress, this,
            &frmMain::mclsImporter_ImportProgress);
    connect(m_importer.get(), &cImporter::ImportFinished, this,
            &frmMain::mclsImporter_ImportFinished);
    connect(m_importer.get(), &cImporter::ProcessStarted, this,
            &frmMain::mclsImporter_ProcessStarted);
    connect(m_importer.get(), &cImporter::ProcessProgress, this,
            &frmMain::mclsImporter_ProcessProgress);
    connect(m_importer.get(), &cImporter::ProcessEnd, this, &frmMain::mclsImporter_ProcessEnd);
    // A notification mail blocks the window thread while it is sent.
    cEmail::SetBusyPointerHandler([](bool busy) {
        if (busy) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
        } else {
            QApplication::restoreOverrideCursor();
        }
    });
    // The end of the desktop session, or a termination request, is a close like any other:
    // asked nothing, and deferred while a check runs.
    m_sessionEnd = std::make_unique<SessionEndWatcher>();
    connect(m_sessionEnd.get(), &SessionEndWatcher::SessionEnding, this, &frmMain::SessionEnding);

    // The first check is due one interval from now.
    MarkCheckEnd();

    lvwGroups->clear();
    lvwGroups->setColumnCount(6);
    const struct
    {
        const char* key;
        const char* caption;
    } groupColumns[] = {{"ENABLED", ""},
                        {"NAME", "Name"},
                        {"PATH", "Path"},
                        {"RANGE", "Cart Range"},
                        {"DELETEAFTERIMPORT", "D?"},
                        {"USEARCHIVEBIT", "A?"}};
    QTreeWidgetItem* groupHeader = lvwGroups->headerItem();
    for (int column = 0; column < 6; ++column) {
        groupHeader->setText(column, QString::fromLatin1(groupColumns[column].caption));
        groupHeader->setData(column, KeyRole, QString::fromLatin1(groupColumns[column].key));
    }
    SetGroupColumnWidths();

    lvwHistory->clear();
    lvwHistory->setColumnCount(2);
    QTreeWidgetItem* historyHeader = lvwHistory->headerItem();
    historyHeader->setText(0, QStringLiteral("Date/Time"));
    historyHeader->setData(0, KeyRole, QStringLiteral("DATE"));
    historyHeader->setText(1, QStringLiteral("Information"));
    historyHeader->setData(1, KeyRole, QStringLiteral("INFORMATION"));
    const int dateWidth = HistoryDateColumnWidth();
    lvwHistory->header()->resizeSection(0, dateWidth);
    lvwHistory->header()->resizeSection(
        1, PxX(general.MaxLong(
               0, Rounded(TwX(lvwHistory->width()) - kScrollBarRoom - TwX(dateWidth)))));

    if (frmSplash* splash = frmSplash::Loaded()) {
        splash->SetCurrentAction(QStringLiteral("Loading Settings..."));
    }

    LoadSettings();

    general.DebugTrace(QStringLiteral("Loaded Settings OK"));

    const bool haveUpdates = FileFunctions::instance().GetFileSize(ExistingFileIgnoringCase(
                                 ProgramFolder(), QStringLiteral("UPDATES.rtf"))) > 0;
    mnuUpdateInfo->setVisible(haveUpdates);
    mnuAboutSep->setVisible(haveUpdates);

    general.DebugTrace(QStringLiteral("Displayed OK"));

    show();

    // The tip holds what fits in 64 bytes, the product name and its terminating zero.
    QByteArray tip(64, '\0');
    StringToByteArray(tip, QCoreApplication::applicationName() + QChar(u'\0'));
    m_trayIcon = new QSystemTrayIcon(windowIcon(), this);
    m_trayIcon->setToolTip(QString::fromLatin1(tip.constData(), qstrnlen(tip.constData(), 64)));
    connect(m_trayIcon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                switch (reason) {
                case QSystemTrayIcon::Trigger:
                    Form_MouseMove(514);
                    break;
                case QSystemTrayIcon::DoubleClick:
                    Form_MouseMove(515);
                    break;
                case QSystemTrayIcon::Context:
                    Form_MouseMove(517);
                    break;
                default:
                    break;
                }
            });
    m_trayIcon->show();

    general.DebugTrace(QStringLiteral("Shown Importers OK"));

    frmSplash::Unload();
}

bool frmMain::LoadSettings()
{
    GeneralFunctions& general = GeneralFunctions::instance();
    general.DebugTrace(QStringLiteral("Pre-create Importers"));
    lvwGroups->clear();
    QString profile = Globals::ProfileName;
    if (!m_importer->ReadSettings(profile)) {
        general.DebugTrace(QStringLiteral("Disabling Importer Display"));
        cmdSettings->hide();
        return false;
    }
    SetOverallStatus(QStringLiteral(" Loading Settings..."));
    general.DebugTrace(QStringLiteral("Enabling Importer Display"));
    cmdSettings->show();
    UpdateDisplay();
    tmrCheckGroups->start();
    SetOverallStatus(QStringLiteral(" Loading Settings...Completed"));
    return true;
}

void frmMain::UpdateDisplay()
{
    lvwGroups->clear();
    if (!m_importer) {
        return;
    }
    const qint16 count = m_importer->NumberGroups();
    for (qint16 index = 1; index <= count; ++index) {
        const cImporterGroup* group = m_importer->ImporterGroup(index);
        if (!group) {
            break;
        }
        auto* row = new QTreeWidgetItem(lvwGroups);
        row->setText(0, group->GroupName);
        const auto yesNo = [group](bool value) {
            return group->CheckCurrent ? QString() : QString(value ? u'Y' : u'N');
        };
        const QString cells[][2] = {
            {QStringLiteral("NAME"), group->GroupName},
            {QStringLiteral("PATH"),
             group->CheckCurrent ? QStringLiteral("(Current)") : group->Path},
            {QStringLiteral("START"), group->StartHDRef + u'-' + group->EndHDRef},
            {QStringLiteral("DELETE"), yesNo(group->DeleteAfterImport)},
            {QStringLiteral("ARCHIVE"), yesNo(group->UseArchiveBit)},
        };
        for (int cell = 0; cell < 5; ++cell) {
            row->setText(cell + 1, cells[cell][1]);
            row->setData(cell + 1, KeyRole, cells[cell][0]);
        }
    }
    if (!lvwGroups->selectedItems().isEmpty()) {
        mnuRemoveGroup->setEnabled(true);
    }
}

void frmMain::SetGroupColumnWidths()
{
    QHeaderView* header = lvwGroups->header();
    const qint32 path = GeneralFunctions::instance().MaxLong(
        0, Rounded(TwX(lvwGroups->width()) - kScrollBarRoom - 1200 - 1100 - 500 - 500));
    const double widths[] = {0, 1200, double(path), 1100, 500, 500};
    for (int column = 0; column < 6 && column < lvwGroups->columnCount(); ++column) {
        header->resizeSection(column, PxX(widths[column]));
    }
}

QString frmMain::HistoryDateText(const QDateTime& when, const QLocale& locale)
{
    return locale.toString(when.date(), QLocale::ShortFormat) + QStringLiteral(" ") +
           when.time().toString(QStringLiteral("HH:mm:ss"));
}

int frmMain::HistoryDateColumnWidth() const
{
    // The widest date of the year, to the cell's text margins as the list's style draws them.
    const QFontMetrics metrics(lvwHistory->font());
    const QLocale locale;
    int text = 0;
    for (int month = 1; month <= 12; ++month) {
        const QDateTime when(QDate(2000, month, 28), QTime(23, 58, 58));
        text = qMax(text, metrics.horizontalAdvance(HistoryDateText(when, locale)));
    }
    const int margin =
        lvwHistory->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, lvwHistory) + 1;
    return qMax(PxX(1800), text + 2 * margin + 4);
}

void frmMain::tmrTrayWatch_Timer()
{
    // Shown again, or unloaded: nothing to watch.
    if (isVisible() || !m_loaded || m_unloading) {
        m_trayWatch->stop();
    } else if (!TrayAvailable()) {
        m_trayWatch->stop();
        showNormal();
    }
}

void frmMain::tmrCheckGroups_Timer()
{
    // Not inside the breath of other work (a length refresh): the pass would change carts
    // under it.
    if (LeadingNumber(tmrCheckGroupsTag) == 0 && !LongWork::Breathing()) {
        CheckGroups(false);
    }
}

bool frmMain::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == centralWidget() && event->type() == QEvent::Resize) {
        Form_Resize();
    }
    // A double click on the list's empty space opens the selected group too (one on a row
    // arrives as the row's), so a click there must not clear the selection as Qt would.
    if (lvwGroups && watched == lvwGroups->viewport() &&
        (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease ||
         event->type() == QEvent::MouseButtonDblClick)) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (!lvwGroups->itemAt(mouse->position().toPoint())) {
            if (event->type() == QEvent::MouseButtonDblClick && mouse->button() == Qt::LeftButton) {
                lvwGroups_DblClick();
            }
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void frmMain::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized()) {
        Form_Resize();
    }
}

void frmMain::Form_Resize()
{
    if (isMinimized()) {
        // Without a tray on the desktop a hidden window could not be brought back.
        if (m_importer && m_importer->MinimiseToSysTray && TrayAvailable()) {
            hide();
            m_trayWatch->start();
        }
        return;
    }

    // In twips throughout; every size is kept at 0 or more.
    const QWidget* client = centralWidget();
    const double innerWidth = TwX(client->width());
    const double innerHeight = TwY(client->height());

    const double tabLeft = TwX(tbsImporter->x());
    const double tabTop = TwY(tbsImporter->y());
    const double tabWidth = qMax(0.0, innerWidth - 2 * tabLeft);
    double tabHeight = qMax(0.0, innerHeight - 2 * tabTop);

    const double statusLeft = TwX(picStatus->x());
    const double statusHeight = TwY(picStatus->height());
    const double statusTop = tabHeight - 120 - statusHeight;
    const double statusWidth = qMax(0.0, tabWidth - 120 - statusLeft);
    SetGeometryTwips(picStatus, statusLeft, statusTop, statusWidth, statusHeight);

    const double overallHeight = TwY(prgOverallProgress->height());
    const double overallTop = statusTop - 30 - overallHeight;
    SetGeometryTwips(prgOverallProgress, statusLeft, overallTop, statusWidth, overallHeight);

    const double statusInnerWidth = TwX(picStatus->contentsRect().width());
    for (QLabel* line : {lblOverallStatus, lblCurrentProgress}) {
        const double left = TwX(line->x());
        SetGeometryTwips(line, left, TwY(line->y()), statusInnerWidth - 60 - left,
                         TwY(line->height()));
    }

    SetGeometryTwips(prgCurrentProgress, TwX(lblCurrentProgress->x()),
                     TwY(lblCurrentProgress->y()) + TwY(lblCurrentProgress->height()),
                     TwX(lblCurrentProgress->width()), TwY(prgCurrentProgress->height()));

    // The tab control ends above the overall bar; the status area lies below it.
    tabHeight = qMax(0.0, overallTop - 120);
    SetGeometryTwips(tbsImporter, tabLeft, tabTop, tabWidth, tabHeight);

    const double groupsLeft = TwX(lvwGroups->x());
    const double groupsTop = Rounded(TwY(lvwGroups->y()));
    const double groupsHeight = qMax<qint32>(
        0, Rounded((tabHeight - groupsTop - 120 - TwY(lblHistoryDesc->height()) - 240) / 2));
    const double groupsWidth = qMax(0.0, tabWidth - 120 - groupsLeft);
    SetGeometryTwips(lvwGroups, groupsLeft, groupsTop, groupsWidth, groupsHeight);

    const double historyTop = Rounded(groupsTop + groupsHeight + 60);

    SetGroupColumnWidths();
    lvwGroups->raise();

    SetGeometryTwips(lblHistoryDesc, TwX(lblGroupsDesc->x()), historyTop,
                     TwX(lblHistoryDesc->width()), TwY(lblHistoryDesc->height()));

    SetGeometryTwips(lvwHistory, groupsLeft, historyTop, groupsWidth,
                     qMax<qint32>(0, Rounded(tabHeight - historyTop - 120)));

    if (lvwHistory->columnCount() >= 2) {
        const double first = TwX(lvwHistory->header()->sectionSize(0));
        lvwHistory->header()->resizeSection(
            1, PxX(qMax<qint32>(0, Rounded(TwX(lvwHistory->width()) - first - kScrollBarRoom))));
    }
    lvwHistory->raise();

    SetGeometryTwips(picLogo, TwX(picLogo->x()), tabHeight - 120 - TwY(picLogo->height()),
                     TwX(picLogo->width()), TwY(picLogo->height()));
}

void frmMain::closeEvent(QCloseEvent* event)
{
    if (m_unloading) {
        event->accept();
        return;
    }
    bool cancel = false;
    const int origin = m_closeOrigin >= 0     ? m_closeOrigin
                       : event->spontaneous() ? kUnloadFromControlMenu
                                              : kUnloadFromCode;
    m_closeOrigin = -1;
    Form_QueryUnload(cancel, origin);
    if (UnloadPending && m_modalDepth > 0) {
        // Code of ours waits below a modal window and still uses the importer and the playout
        // interfaces: that window goes first, the unload follows once the code has returned
        // (or the running check unloads).
        m_unloadAfterModal = !cancel;
        UnloadOtherWindows();
        event->ignore();
        return;
    }
    if (cancel) {
        event->ignore();
        return;
    }
    if (m_loaded) {
        Form_Unload();
    }
    event->accept();
}

void frmMain::UnloadOtherWindows()
{
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (auto it = windows.crbegin(); it != windows.crend(); ++it) {
        QWidget* window = *it;
        if (window == this || window->windowType() == Qt::Popup ||
            window->windowType() == Qt::ToolTip || window->windowType() == Qt::Desktop) {
            continue;
        }
        if (window == frmSplash::Loaded()) {
            frmSplash::Unload();
            continue;
        }
        window->close();
    }
}

frmMain::ModalScope::ModalScope(frmMain& window) : m_window(window)
{
    ++m_window.m_modalDepth;
}

frmMain::ModalScope::~ModalScope()
{
    if (--m_window.m_modalDepth == 0 && m_window.m_unloadAfterModal && !m_window.m_unloading) {
        m_window.m_unloadAfterModal = false;
        QMetaObject::invokeMethod(&m_window, &frmMain::Unload, Qt::QueuedConnection);
    }
}

void frmMain::SessionEnding()
{
    if (!m_loaded || m_unloading) {
        return;
    }
    // A close is already waiting for the operator's answer; Qt would not start another.
    if (m_asking) {
        m_sessionEndedWhileAsking = true;
        UnloadOtherWindows();
        return;
    }
    m_closeOrigin = kUnloadFromSessionEnd;
    close();
    m_closeOrigin = -1;
}

void frmMain::Form_QueryUnload(bool& Cancel, int UnloadMode)
{
    // Only the operator's own close box asks; menus and the session's end do not.
    if (UnloadMode == kUnloadFromControlMenu) {
        m_asking = true;
        const int answer = MessageBox::Show(
            QStringLiteral("Are you sure you want to close the Cartfeeder?"),
            MsgBoxStyle::YesNo | MsgBoxStyle::Question | MsgBoxStyle::DefaultButton2);
        m_asking = false;
        // The session ended while the question was open: that close needs no answer.
        if (answer != MsgBoxResult::Yes && !m_sessionEndedWhileAsking) {
            Cancel = true;
            return;
        }
    }
    UnloadPending = true;
    // The running check stops after the group or cart it is on and unloads the window itself.
    if (CheckInProgress) {
        Cancel = true;
    }
}

void frmMain::Form_Unload()
{
    m_unloading = true;
    tmrCheckGroups->stop();
    m_sessionEnd.reset();

    // The playout interfaces go before the importer, whose clean-up then finds them gone.
    TerminateTool();

    if (m_trayIcon) {
        m_trayIcon->hide();
        delete m_trayIcon;
        m_trayIcon = nullptr;
    }

    // Logs "Importer Closing".
    m_importer.reset();
    cEmail::SetBusyPointerHandler({});

    UnloadOtherWindows();

    m_renderer.reset();

    m_loaded = false;
    hide();
    Q_EMIT Unloaded();
}

void frmMain::SetOverallStatus(const QString& text)
{
    if (lblOverallStatus->text() != text) {
        lblOverallStatus->setText(text);
        lblOverallStatus_Change();
    }
}

void frmMain::SelectGroupRow(int index)
{
    if (QTreeWidgetItem* row = lvwGroups->topLevelItem(index - 1)) {
        lvwGroups->setCurrentItem(row);
        lvwGroups->scrollToItem(row);
    }
}
