// The main window's event side: the menus, the tray icon, the close requests of the session,
// the history list and what the importer reports while it works.
#include "ui/frmMain.h"

#include "engine/cImporter.h"
#include "framework/DebugLog.h"
#include "framework/LogText.h"
#include "framework/ToolGlobals.h"
#include "platform/cartstore/CartvaultSettings.h"
#include "platform/cartstore/PlayoutAudio.h"
#include "platform/directory/DirectoryInterface.h"
#include "platform/profiles/PlayoutGeneral.h"
#include "platform/system/FileFunctions.h"
#include "platform/system/MessageBox.h"
#include "platform/system/PathIgnoringCase.h"
#include "platform/system/ToolError.h"
#include "platform/system/widgets/VbColours.h"
#include "toolwindows/SupportLinks.h"
#include "toolwindows/frmAbout.h"
#include "toolwindows/frmPrintPreview.h"
#include "toolwindows/frmSupportFile.h"
#include "ui/GraphicsRenderer.h"
#include "ui/frmAudioBrowser.h"

#include <QApplication>
#include <QCursor>
#include <QDateTime>
#include <QDir>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QProgressBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>

#include <exception>
#include <optional>

namespace {

// At most this many rows stay in the history list.
constexpr int kHistoryRows = 500;
constexpr qint32 kPlayoutFlags = 256;

int Percent(qint16 progress)
{
    return qBound(0, int(progress), 100);
}

QString Describe(const std::exception& error)
{
    if (const auto* toolError = dynamic_cast<const ToolError*>(&error)) {
        return toolError->Description();
    }
    return QString::fromLocal8Bit(error.what());
}

} // namespace

QString frmMain::ExistingFileIgnoringCase(const QString& folder, const QString& relative)
{
    return PathIgnoringCase::FindFile(folder, relative);
}

void frmMain::ConnectHandlers()
{
    connect(lvwGroups, &QTreeWidget::itemDoubleClicked, this, &frmMain::lvwGroups_DblClick);
    lvwGroups->viewport()->installEventFilter(this);
    connect(lvwGroups, &QTreeWidget::itemClicked, this, &frmMain::lvwGroups_ItemClick);
    connect(cmdSettings, &QToolButton::clicked, this, &frmMain::cmdSettings_Click);

    const std::pair<QAction*, void (frmMain::*)()> entries[] = {
        {mnuCheckNow, &frmMain::mnuCheckNow_Click},
        {mnuCartBrowser, &frmMain::mnuCartBrowser_Click},
        {mnuFileExit, &frmMain::mnuFileExit_Click},
        {mnuAddGroup, &frmMain::mnuAddGroup_Click},
        {mnuRemoveGroup, &frmMain::mnuRemoveGroup_Click},
        {mnuViewHistory, &frmMain::mnuViewHistory_Click},
        {mnuViewLogFiles, &frmMain::mnuViewLogFiles_Click},
        {mnuGlobalCartvaultSettings, &frmMain::mnuGlobalCartvaultSettings_Click},
        {mnuFileLocations, &frmMain::mnuFileLocations_Click},
        {mnuImporterSettings, &frmMain::mnuImporterSettings_Click},
        {mnuDirectorySettings, &frmMain::mnuDirectorySettings_Click},
        {mnuCreateSupportFile, &frmMain::mnuCreateSupportFile_Click},
        {mnuUpdateInfo, &frmMain::mnuUpdateInfo_Click},
        {mnuOrvaneSupportWebsite, &frmMain::mnuOrvaneSupportWebsite_Click},
        {mnuOrvaneWebsite, &frmMain::mnuOrvaneWebsite_Click},
        {mnuAbout, &frmMain::mnuAbout_Click},
        {mnuSysRestore, &frmMain::mnuSysRestore_Click},
        {mnuSysCheckNow, &frmMain::mnuSysCheckNow_Click},
        {mnuSysExit, &frmMain::mnuSysExit_Click},
    };
    for (const auto& [action, handler] : entries) {
        connect(action, &QAction::triggered, this, handler);
    }
}

void frmMain::Form_MouseMove(int message)
{
    switch (message) {
    case 514:
    case 515:
        RestoreWindow();
        break;
    case 517:
        // The pop-up serves the window where it is: a hidden window stays hidden.
        if (isVisible()) {
            raise();
            activateWindow();
        }
        mPopupSys->popup(QCursor::pos());
        break;
    default:
        break;
    }
}

void frmMain::RestoreWindow()
{
    showNormal();
    raise();
    activateWindow();
}

void frmMain::SetCurrentProgress(const QString& text)
{
    if (lblCurrentProgress->text() != text) {
        lblCurrentProgress->setText(text);
        lblCurrentProgress_Change();
    }
}

namespace {

// A display frame, near enough: nobody reads captions that change faster.
constexpr qint64 kFrameNs = 20'000'000;

// The folder walk does not yield, so a caption or bar is painted at once; but at most once a
// frame, as a pass changes it for every file and every step of an import. A change made sooner
// is painted with the next change a frame later, or when the message loop next runs, whichever
// comes first.
void PaintSoon(QWidget* widget, std::optional<qint64>& paintedNs, qint64 nowNs)
{
    if (!paintedNs || nowNs - *paintedNs >= kFrameNs) {
        widget->repaint();
        paintedNs = nowNs;
    } else {
        widget->update();
    }
}

// The bar paints itself at once on every visible step; PaintSoon decides instead.
void SetValueUnpainted(QProgressBar* bar, int value)
{
    bar->setUpdatesEnabled(false);
    bar->setValue(value);
    bar->setUpdatesEnabled(true);
}

} // namespace

void frmMain::lblCurrentProgress_Change()
{
    AddToDebugLog(QStringLiteral("Current Status: ") + lblCurrentProgress->text(), 5, ovNone);
    PaintSoon(lblCurrentProgress, m_currentProgressPaintedNs, m_clocks.SteadyNs());
}

void frmMain::lblOverallStatus_Change()
{
    PaintSoon(lblOverallStatus, m_overallStatusPaintedNs, m_clocks.SteadyNs());
}

void frmMain::lvwGroups_DblClick()
{
    QTreeWidgetItem* item = lvwGroups->currentItem();
    if (!item || !item->isSelected() || !m_importer) {
        return;
    }
    qint16 index = qint16(lvwGroups->indexOfTopLevelItem(item) + 1);
    ShowImporterDialog(QStringLiteral("showing the import group"),
                       [this, &index] { m_importer->DisplayGroup(index); });
    UpdateDisplay();
}

void frmMain::lvwGroups_ItemClick()
{
    mnuRemoveGroup->setEnabled(true);
}

void frmMain::mclsImporter_LogEventAdded(const QDateTime& EventDate, const QString& EventString)
{
    while (lvwHistory->topLevelItemCount() >= kHistoryRows) {
        delete lvwHistory->takeTopLevelItem(0);
    }
    auto* row = new QTreeWidgetItem(lvwHistory);
    row->setText(0, HistoryDateText(EventDate, QLocale()));
    row->setText(1, EscapeControlCharacters(EventString));
    lvwHistory->scrollToItem(row);
}

void frmMain::mclsImporter_ImportStarted(const QString& FileName, const QString& HDReference)
{
    SetValueUnpainted(prgOverallProgress, 0);
    prgOverallProgress->show();
    prgOverallProgress->raise();
    PaintSoon(prgOverallProgress, m_overallProgressPaintedNs, m_clocks.SteadyNs());
    SetOverallStatus(QStringLiteral("Importing ") +
                     FileFunctions::instance().GetFileName(FileName) +
                     QStringLiteral(" into Cart ") + HDReference);
}

void frmMain::mclsImporter_ImportProgress(const QString& FileName, const QString& HDReference,
                                          qint16 Progress)
{
    SetValueUnpainted(prgOverallProgress, Percent(Progress));
    PaintSoon(prgOverallProgress, m_overallProgressPaintedNs, m_clocks.SteadyNs());
}

void frmMain::mclsImporter_ImportFinished(const QString& FileName, const QString& HDReference)
{
    prgOverallProgress->hide();
    prgOverallProgress->setValue(0);
}

void frmMain::mclsImporter_ProcessStarted(const QString& Caption, bool ShowProgress)
{
    if (Caption.isEmpty()) {
        return;
    }
    SetCurrentProgress(Caption);
    if (ShowProgress) {
        prgCurrentProgress->setValue(0);
        prgCurrentProgress->show();
        prgCurrentProgress->raise();
    }
}

void frmMain::mclsImporter_ProcessProgress(const QString& Caption, qint16 Progress)
{
    SetCurrentProgress(Caption);
    prgCurrentProgress->setValue(Percent(Progress));
}

void frmMain::mclsImporter_ProcessEnd(const QString& Caption, bool UsedProgress)
{
    SetCurrentProgress(Caption);
    prgCurrentProgress->hide();
    prgCurrentProgress->setValue(0);
}

void frmMain::ShowImporterDialog(const QString& what, const std::function<void()>& show)
{
    const ModalScope modal(*this);
    try {
        show();
    } catch (const std::exception& error) {
        ShowProblemMessage(what, Describe(error), Globals::Silent);
    }
}

void frmMain::cmdSettings_Click()
{
    mnuImporterSettings_Click();
}

void frmMain::mnuCheckNow_Click()
{
    CheckGroups(true);
}

void frmMain::mnuCartBrowser_Click()
{
    // One browser, owned by this window; a closed one is loaded afresh.
    if (!m_audioBrowser) {
        m_audioBrowser = new frmAudioBrowser(this);
        m_audioBrowser->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_audioBrowser->show();
    m_audioBrowser->raise();
    m_audioBrowser->activateWindow();
}

void frmMain::mnuFileExit_Click()
{
    Unload();
}

void frmMain::mnuAddGroup_Click()
{
    if (!m_importer) {
        return;
    }
    ShowImporterDialog(QStringLiteral("adding an import group"),
                       [this] { m_importer->AddGroup(); });
    UpdateDisplay();
}

void frmMain::mnuRemoveGroup_Click()
{
    QTreeWidgetItem* item = lvwGroups->currentItem();
    // The engine still uses the group of the file it works on.
    if (!item || !item->isSelected() || !m_importer || m_offeringFile) {
        return;
    }
    const ModalScope modal(*this);
    if (MessageBox::Show(QStringLiteral("Are you sure you want to remove \"") + item->text(0) +
                             QStringLiteral("\""),
                         MsgBoxStyle::YesNo | MsgBoxStyle::Question |
                             MsgBoxStyle::DefaultButton2) != MsgBoxResult::Yes) {
        return;
    }
    // The row may have gone while the question was open (a check yields), and the window may
    // be closing.
    const int row = lvwGroups->indexOfTopLevelItem(item);
    if (row < 0 || UnloadPending) {
        return;
    }
    qint16 index = qint16(row + 1);
    ShowImporterDialog(QStringLiteral("removing the import group"),
                       [this, &index] { m_importer->RemoveGroup(index); });
    UpdateDisplay();
    mnuRemoveGroup->setEnabled(lvwGroups->topLevelItemCount() > 0);
}

void frmMain::mnuViewHistory_Click()
{
    if (!FileFunctions::instance().FileExists(Globals::AppLogFile)) {
        MessageBox::Show(QStringLiteral("There has not been a History Log File created yet!"),
                         MsgBoxStyle::OKOnly | MsgBoxStyle::Exclamation);
        return;
    }
    const ModalScope modal(*this);
    frmPrintPreview viewer(this);
    bool floating = false;
    viewer.DisplayFile(Globals::AppLogFile, QString(), 1, floating);
}

void frmMain::mnuViewLogFiles_Click()
{
    FileFunctions& files = FileFunctions::instance();
    const QString folder = files.GetFolderName(Globals::AppLogFile, 0);
    if (files.FolderExists(folder)) {
        OpenUrl(QUrl::fromLocalFile(folder));
    }
}

void frmMain::mnuGlobalCartvaultSettings_Click()
{
    if (!Globals::PlayoutAudio) {
        return;
    }
    const ModalScope modal(*this);
    CartvaultSettings* settings = Globals::PlayoutAudio->GetCartvaultSettings();
    if (settings && settings->ShowSettingsDialog(VbColours::ButtonFace) && !UnloadPending &&
        Globals::PlayoutGeneral) {
        Globals::PlayoutGeneral->Start(QCoreApplication::instance(), kPlayoutFlags);
    }
}

void frmMain::mnuFileLocations_Click()
{
    PlayoutGeneral* general = Globals::PlayoutGeneral;
    if (!general) {
        return;
    }
    const ModalScope modal(*this);
    if (general->ShowFileLocations(kPlayoutFlags, true, VbColours::ButtonFace) != 0 &&
        !UnloadPending && general->ReloadProfile(Globals::ProfileName, kPlayoutFlags) != 0) {
        general->Start(QCoreApplication::instance(), kPlayoutFlags);
    }
}

void frmMain::mnuImporterSettings_Click()
{
    if (!m_importer) {
        return;
    }
    ShowImporterDialog(QStringLiteral("showing the importer settings"),
                       [this] { m_importer->DisplaySettings(); });
}

void frmMain::mnuDirectorySettings_Click()
{
    if (Globals::DirectoryInterface) {
        const ModalScope modal(*this);
        Globals::DirectoryInterface->ShowSettingsDialog();
    }
}

void frmMain::mnuCreateSupportFile_Click()
{
    const QColor background =
        m_renderer ? m_renderer->BackgroundColour() : palette().color(QPalette::Window);
    const ModalScope modal(*this);
    frmSupportFile window(background, this);
    window.exec();
}

void frmMain::mnuUpdateInfo_Click()
{
    setCursor(Qt::WaitCursor);
    FileFunctions& files = FileFunctions::instance();
    const QString program = ProgramFolder();
    QString name = ExistingFileIgnoringCase(program, QStringLiteral("Updates.rtf"));
    const QString parent = files.GetParentFolder(program);
    if (name.isEmpty()) {
        name = ExistingFileIgnoringCase(parent, QStringLiteral("Updates.rtf"));
    }
    if (name.isEmpty()) {
        name = ExistingFileIgnoringCase(parent, QStringLiteral("Common/Updates.rtf"));
    }
    {
        const ModalScope modal(*this);
        frmPrintPreview viewer(this);
        bool floating = false;
        viewer.DisplayFile(name, QStringLiteral("Update Information"), 1, floating);
    }
    unsetCursor();
}

void frmMain::mnuOrvaneSupportWebsite_Click()
{
    OpenUrl(QUrl(QString::fromLatin1(SupportLinks::WebPage)));
}

void frmMain::mnuOrvaneWebsite_Click()
{
    OpenUrl(QUrl(QString::fromLatin1(SupportLinks::HomePage)));
}

void frmMain::mnuAbout_Click()
{
    const ModalScope modal(*this);
    frmAbout about(this);
    about.exec();
}

void frmMain::mnuSysRestore_Click()
{
    RestoreWindow();
}

void frmMain::mnuSysCheckNow_Click()
{
    CheckGroups(true);
}

void frmMain::mnuSysExit_Click()
{
    Unload();
}
