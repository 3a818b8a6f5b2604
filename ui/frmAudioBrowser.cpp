#include "ui/frmAudioBrowser.h"

#include "framework/ToolGlobals.h"
#include "platform/cartbrowser/widgets/uAudioBrowser.h"
#include "platform/directory/DirectoryInterface.h"
#include "platform/system/GeneralFunctions.h"
#include "platform/system/widgets/uHWndGrab.h"

#include <QCloseEvent>
#include <QGuiApplication>

namespace {

const char* const Caption = "Audio Browser";

// The limiter as designed on this window.
constexpr qint32 DesignMinHeight = 2000;
constexpr qint32 DesignMinWidth = 5610;
constexpr qint32 DesignMaxHeight = 90000;
constexpr qint32 DesignMaxWidth = 90000;

} // namespace

frmAudioBrowser::frmAudioBrowser(QWidget* owner)
    : QWidget(owner, Qt::Window), ctlBrowser(new uAudioBrowser(this)),
      HWndGrab1(new uHWndGrab(this))
{
    setWindowTitle(Caption);
    connect(ctlBrowser, &uAudioBrowser::ModeChanged, this,
            &frmAudioBrowser::ctlBrowser_ModeChanged);
    connect(ctlBrowser, &uAudioBrowser::CartSelected, this,
            &frmAudioBrowser::ctlBrowser_CartSelected);
    connect(ctlBrowser, &uAudioBrowser::TextNotify, this, &frmAudioBrowser::ctlBrowser_TextNotify);
    Form_Load();
}

frmAudioBrowser::~frmAudioBrowser()
{
    ctlBrowser->StopBrowsing();
    ctlBrowser->setAudioEngine(nullptr);
}

void frmAudioBrowser::setDescription(const QString& strNewValue)
{
    m_description = strNewValue;
    setWindowTitle(strNewValue.isEmpty() ? QString(Caption) : strNewValue);
}

QString frmAudioBrowser::HDReference() const
{
    return ctlBrowser->HDReference();
}

void frmAudioBrowser::setHDReference(const QString& strNewValue)
{
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    ctlBrowser->setHDReference(strNewValue);
    QGuiApplication::restoreOverrideCursor();
}

void frmAudioBrowser::Form_Load()
{
    HWndGrab1->setMinHeight(DesignMinHeight);
    HWndGrab1->setMinWidth(DesignMinWidth);
    HWndGrab1->setMaxHeight(DesignMaxHeight);
    HWndGrab1->setMaxWidth(DesignMaxWidth);
    HWndGrab1->setEnabled(true);
    uHWndGrab::SetSizeInTwips(this, HWndGrab1->MinWidth(), uHWndGrab::HeightInTwips(this));

    ctlBrowser->setAudioEngine(Globals::PlayoutAudio);
    ctlBrowser->setAllowSelection(true);
    ctlBrowser->setApplyUserRights(true);
    ctlBrowser->setBrowserMode(uAudioBrowser::MiniMode);
    if (Globals::DirectoryInterface) {
        ctlBrowser->setCurrentUser(Globals::DirectoryInterface->CurrentUser());
    }
    m_loaded = true;
}

void frmAudioBrowser::Form_Activate()
{
    if (ctlBrowser->BrowserMode() != uAudioBrowser::CompactMode) {
        ctlBrowser->ActivateBrowser();
    }
    Cancelled = false;
}

void frmAudioBrowser::ctlBrowser_ModeChanged(qint32 mode)
{
    struct Limits
    {
        qint32 minWidth, maxWidth, minHeight, maxHeight;
    };
    Limits limits{};
    bool known = true;
    switch (mode) {
    case 1:
        limits = {10950, 10950, 9000, 9000};
        break;
    case 2:
        limits = {5610, 90000, 7060, 7060};
        break;
    case 3:
        limits = {5610, 90000, 2000, 90000};
        break;
    default:
        known = false;
        break;
    }
    if (known) {
        HWndGrab1->setMinWidth(limits.minWidth);
        HWndGrab1->setMaxWidth(limits.maxWidth);
        HWndGrab1->setMinHeight(limits.minHeight);
        HWndGrab1->setMaxHeight(limits.maxHeight);
    }
    const GeneralFunctions& general = GeneralFunctions::instance();
    uHWndGrab::SetSizeInTwips(this,
                              general.ClampLong(uHWndGrab::WidthInTwips(this),
                                                HWndGrab1->MinWidth(), HWndGrab1->MaxWidth()),
                              general.ClampLong(uHWndGrab::HeightInTwips(this),
                                                HWndGrab1->MinHeight(), HWndGrab1->MaxHeight()));
}

void frmAudioBrowser::ctlBrowser_CartSelected(const QString& cart)
{
    Cancelled = false;
    hide();
}

void frmAudioBrowser::ctlBrowser_TextNotify(const QString& text) {}

void frmAudioBrowser::Form_Resize()
{
    ctlBrowser->setGeometry(contentsRect());
}

void frmAudioBrowser::Form_Unload()
{
    Cancelled = false;
    m_loaded = false;
}

bool frmAudioBrowser::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate) {
        Form_Activate();
    }
    return QWidget::event(event);
}

void frmAudioBrowser::showEvent(QShowEvent* event)
{
    // Shown again after it was unloaded: loaded afresh.
    if (!m_loaded) {
        Form_Load();
    }
    QWidget::showEvent(event);
}

void frmAudioBrowser::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    Form_Resize();
}

void frmAudioBrowser::closeEvent(QCloseEvent* event)
{
    if (ctlBrowser->Busy()) {
        ctlBrowser->StopBrowsing();
    }
    // The window system's close box: only hidden, keeping the browser as it is.
    if (event->spontaneous()) {
        Cancelled = true;
        event->ignore();
        hide();
        return;
    }
    ctlBrowser->setAudioEngine(nullptr);
    event->accept();
    Form_Unload();
}
