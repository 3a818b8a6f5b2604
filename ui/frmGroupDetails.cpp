#include "ui/frmGroupDetails.h"

#include "ui/HeadedFrame.h"

#include "engine/cImporter.h"
#include "engine/cImporterGroup.h"
#include "framework/CartPermissions.h"
#include "framework/DebugLog.h"
#include "framework/NumberText.h"
#include "framework/ToolGlobals.h"
#include "framework/widgets/FolderBrowser.h"
#include "platform/cartstore/Cart.h"
#include "platform/cartstore/CartvaultSettings.h"
#include "platform/cartstore/PlayoutAudio.h"
#include "platform/system/DateTimeFunctions.h"
#include "platform/system/FileFunctions.h"
#include "platform/system/GeneralFunctions.h"
#include "platform/system/LongWork.h"
#include "platform/system/MessageBox.h"
#include "platform/system/ToolError.h"
#include "platform/system/widgets/ControlFunctions.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <limits>
#include <optional>

namespace {

const QChar LF(u'\n');
const QChar TAB(u'\t');

// The longest time the eleven-character box can show: 99:59:59.99.
constexpr double kLongestTime = 99 * 3600 + 59 * 60 + 59.99;

bool ticked(const QCheckBox* box)
{
    return box->checkState() != Qt::Unchecked;
}

bool plainlyTicked(const QCheckBox* box)
{
    return box->checkState() == Qt::Checked;
}

void setTicked(QCheckBox* box, bool on)
{
    box->setCheckState(on ? Qt::Checked : Qt::Unchecked);
}

void enableTextBox(QLineEdit* box, bool on)
{
    ControlFunctions::instance().EnableTextBox(box, on);
}

PlayoutAudio& cartStore()
{
    if (!Globals::PlayoutAudio) {
        throw ToolError(ToolErrors::ObjectNotSet, QStringLiteral("The cart store is not open"));
    }
    return *Globals::PlayoutAudio;
}

void exclaim(const QString& prompt)
{
    MessageBox::Show(prompt, MsgBoxStyle::OKOnly | MsgBoxStyle::Exclamation);
}

bool askYesNo(const QString& prompt, bool defaultYes)
{
    const int style = MsgBoxStyle::YesNo | MsgBoxStyle::Question |
                      (defaultYes ? MsgBoxStyle::DefaultButton1 : MsgBoxStyle::DefaultButton2);
    return MessageBox::Show(prompt, style) == MsgBoxResult::Yes;
}

QLabel* exampleLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(8.25);
    font.setItalic(true);
    label->setFont(font);
    label->setEnabled(false);
    return label;
}

QLineEdit* timeBox(QWidget* parent)
{
    auto* box = new QLineEdit(parent);
    // "0": a digit allowed but not required, so a partly filled box keeps its "_" and the
    // validation can find it.
    box->setInputMask(QStringLiteral("00:00:00.00;_"));
    box->setFixedWidth(box->fontMetrics().horizontalAdvance(QStringLiteral("00:00:00.00")) + 16);
    return box;
}

QLineEdit* cartBox(QWidget* parent)
{
    auto* box = new QLineEdit(parent);
    box->setFixedWidth(box->fontMetrics().horizontalAdvance(QStringLiteral("000000000")) + 12);
    return box;
}

// Restores the pointer and hides the progress panel however the refresh ends.
class RefreshDisplay
{
public:
    explicit RefreshDisplay(frmGroupDetails* window) : m_window(window) {}
    ~RefreshDisplay()
    {
        m_window->pnlProgress->hide();
        m_window->unsetCursor();
    }

private:
    frmGroupDetails* m_window;
};

} // namespace

frmGroupDetails::frmGroupDetails(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName(QStringLiteral("frmGroupDetails"));
    setWindowTitle(QStringLiteral("Add Group"));

    tbsGroupDetails = new QTabWidget(this);
    tbsGroupDetails->setObjectName(QStringLiteral("tbsGroupDetails"));
    auto* general = new QWidget;
    auto* notification = new QWidget;
    auto* overrides = new QWidget;
    tbsGroupDetails->addTab(general, QStringLiteral("General"));
    tbsGroupDetails->addTab(notification, QStringLiteral("Notification/Logging"));
    tbsGroupDetails->addTab(overrides, QStringLiteral("Overrides"));
    BuildGeneralPage(general);
    BuildNotificationPage(notification);
    BuildOverridesPage(overrides);

    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdCancel = new QPushButton(QStringLiteral("Cancel"), this);
    cmdOK->setDefault(true);
    cmdCancel->setAutoDefault(false);
    const int buttonWidth = std::max(cmdOK->sizeHint().width(), 90);
    cmdOK->setFixedWidth(buttonWidth);
    cmdCancel->setFixedWidth(buttonWidth);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tbsGroupDetails);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    BuildProgressPanel();

    // Every control answers to its name.
#define CF_NAME(widget) (widget)->setObjectName(QStringLiteral(#widget))
    CF_NAME(cmdOK);
    CF_NAME(cmdCancel);
    CF_NAME(fraGroupName);
    CF_NAME(txtGroupName);
    CF_NAME(optCheckExisting);
    CF_NAME(Frame1);
    CF_NAME(lblCheckExisting);
    CF_NAME(lblExistingStartCart);
    CF_NAME(txtExistingStartCart);
    CF_NAME(lblExistingEndCart);
    CF_NAME(txtExistingEndCart);
    CF_NAME(chkCheckCurrentLastModified);
    CF_NAME(fraLengthChange);
    CF_NAME(lblExistingLengthChangesDesc);
    CF_NAME(optCheckLengthUpdateOnly);
    CF_NAME(optCheckLengthReplace);
    CF_NAME(chkRemoveIfDeleted);
    CF_NAME(optImport);
    CF_NAME(fraImportOptions);
    CF_NAME(lblImportDirectory);
    CF_NAME(txtImportDirectory);
    CF_NAME(cmdBrowseImportDirectory);
    CF_NAME(lblNewFileRange);
    CF_NAME(lblImportStartCart);
    CF_NAME(txtImportStartCart);
    CF_NAME(lblImportEndCart);
    CF_NAME(txtImportEndCart);
    CF_NAME(chkUseArchiveBit);
    CF_NAME(chkImportDeleteAfter);
    CF_NAME(chkEmailNotify);
    CF_NAME(fraEmailNotification);
    CF_NAME(lblEmailNotifyFromDesc);
    CF_NAME(txtEmailNotifyFrom);
    CF_NAME(lblEmailNotifyFromExampleDesc);
    CF_NAME(chkNotifySuccessEmailTo);
    CF_NAME(txtNotifySuccessEmailTo);
    CF_NAME(lblNotifySuccessEmailToExampleDesc);
    CF_NAME(chkNotifyFailEmailTo);
    CF_NAME(txtNotifyFailEmailTo);
    CF_NAME(lblNotifyFailEmailToExampleDesc);
    CF_NAME(fraLoggingOptions);
    CF_NAME(chkTakeSnapShotBeforeImport);
    CF_NAME(fraOverrideTiming);
    CF_NAME(chkOverrideIntroStart);
    CF_NAME(mtxtIntroStart);
    CF_NAME(chkOverrideIntroEnd);
    CF_NAME(mtxtIntroEnd);
    CF_NAME(chkOverrideExtro);
    CF_NAME(mtxtExtro);
    CF_NAME(fraOverrideTitles);
    CF_NAME(chkOverrideTitle);
    CF_NAME(txtOverrideTitle);
    CF_NAME(chkOverrideArtist);
    CF_NAME(txtOverrideArtist);
    CF_NAME(chkOverrideDescription);
    CF_NAME(txtOverrideDescription);
    CF_NAME(cmdOverrideHelp);
    CF_NAME(fraOverrideAudio);
    CF_NAME(chkOverrideNormalise);
    CF_NAME(txtOverrideNormalise);
    CF_NAME(lblOverrideNormliseDesc);
    CF_NAME(pnlProgress);
    CF_NAME(lblCurrentTask);
    CF_NAME(progOverallProcess);
#undef CF_NAME

    // Initial states before any rule runs.
    for (QWidget* w : std::initializer_list<QWidget*>{
             lblCheckExisting, lblExistingStartCart, lblExistingEndCart,
             chkCheckCurrentLastModified, fraLengthChange, lblExistingLengthChangesDesc,
             optCheckLengthUpdateOnly, optCheckLengthReplace, lblImportDirectory,
             cmdBrowseImportDirectory, lblNewFileRange, lblImportStartCart, lblImportEndCart,
             chkUseArchiveBit, chkImportDeleteAfter, fraEmailNotification,
             lblEmailNotifyFromDesc}) {
        w->setEnabled(false);
    }
    for (QLineEdit* box :
         {txtExistingStartCart, txtExistingEndCart, txtImportDirectory, txtImportStartCart,
          txtImportEndCart, txtEmailNotifyFrom, txtNotifySuccessEmailTo, txtNotifyFailEmailTo,
          txtOverrideTitle, txtOverrideArtist, txtOverrideDescription, txtOverrideNormalise}) {
        enableTextBox(box, false);
    }
    for (QLineEdit* box : {mtxtIntroStart, mtxtIntroEnd, mtxtExtro}) {
        enableTextBox(box, false);
        box->setText(QLatin1String(ZeroTime));
    }

    connect(cmdOK, &QPushButton::clicked, this, &frmGroupDetails::cmdOK_Clicked);
    connect(cmdCancel, &QPushButton::clicked, this, &frmGroupDetails::cmdCancel_Click);
    connect(cmdOverrideHelp, &QPushButton::clicked, this, &frmGroupDetails::cmdOverrideHelp_Click);
    connect(cmdBrowseImportDirectory, &QPushButton::clicked, this,
            &frmGroupDetails::cmdBrowseImportDirectory_Click);
    // Every change of either option runs the rule, so it ends on the final state whichever
    // order Qt changes them in.
    connect(optCheckExisting, &QRadioButton::toggled, this,
            &frmGroupDetails::optCheckExisting_Click);
    connect(optImport, &QRadioButton::toggled, this, &frmGroupDetails::optImport_Click);
    const QList<QPair<QCheckBox*, void (frmGroupDetails::*)()>> clicks = {
        {chkEmailNotify, &frmGroupDetails::chkEmailNotify_Click},
        {chkNotifySuccessEmailTo, &frmGroupDetails::chkNotifySuccessEmailTo_Click},
        {chkNotifyFailEmailTo, &frmGroupDetails::chkNotifyFailEmailTo_Click},
        {chkOverrideIntroStart, &frmGroupDetails::chkOverrideIntroStart_Click},
        {chkOverrideIntroEnd, &frmGroupDetails::chkOverrideIntroEnd_Click},
        {chkOverrideExtro, &frmGroupDetails::chkOverrideExtro_Click},
        {chkOverrideTitle, &frmGroupDetails::chkOverrideTitle_Click},
        {chkOverrideArtist, &frmGroupDetails::chkOverrideArtist_Click},
        {chkOverrideDescription, &frmGroupDetails::chkOverrideDescription_Click},
        {chkOverrideNormalise, &frmGroupDetails::chkOverrideNormalise_Click}};
    for (const auto& [box, handler] : clicks) {
        connect(box, &QCheckBox::stateChanged, this, handler);
    }

    connect(txtOverrideNormalise, &QLineEdit::textEdited, this,
            &frmGroupDetails::txtOverrideNormalise_Edited);
    connect(txtOverrideNormalise, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_normaliseText = text; });

    for (QLineEdit* box :
         {txtGroupName, txtExistingStartCart, txtExistingEndCart, txtImportDirectory,
          txtImportStartCart, txtImportEndCart, txtEmailNotifyFrom, txtNotifySuccessEmailTo,
          txtNotifyFailEmailTo, txtOverrideTitle, txtOverrideArtist, txtOverrideDescription,
          txtOverrideNormalise}) {
        box->installEventFilter(this);
    }
}

void frmGroupDetails::BuildGeneralPage(QWidget* page)
{
    fraGroupName = new QGroupBox(QStringLiteral("Group Name:"), page);
    txtGroupName = new QLineEdit(fraGroupName);
    auto* nameLayout = new QVBoxLayout(fraGroupName);
    nameLayout->addWidget(txtGroupName);

    optCheckExisting = new QRadioButton(
        QStringLiteral("Check the Cartvault for new changes to audio files:"), page);
    Frame1 = new HeadedFrame(optCheckExisting, page);
    lblCheckExisting = new QLabel(
        QStringLiteral("Check and import information for any new cart files between:"), Frame1);
    lblExistingStartCart = new QLabel(QStringLiteral("Start Cart:"), Frame1);
    txtExistingStartCart = cartBox(Frame1);
    lblExistingEndCart = new QLabel(QStringLiteral("End Cart:"), Frame1);
    txtExistingEndCart = cartBox(Frame1);
    chkCheckCurrentLastModified = new QCheckBox(
        QStringLiteral("Also compare Cart's 'Last Modified' field against the file's date/time."),
        Frame1);
    fraLengthChange = new QGroupBox(Frame1);
    lblExistingLengthChangesDesc =
        new QLabel(QStringLiteral("If the length of the audio file for an existing cart changes:"),
                   fraLengthChange);
    optCheckLengthUpdateOnly = new QRadioButton(
        QStringLiteral("Just update the lengths and check Extros etc."), fraLengthChange);
    optCheckLengthReplace = new QRadioButton(
        QStringLiteral("Replace all the current cart information with new details"),
        fraLengthChange);
    chkRemoveIfDeleted =
        new QCheckBox(QStringLiteral("Remove the cart if the audio file is deleted"), Frame1);

    auto* lengthLayout = new QVBoxLayout(fraLengthChange);
    lengthLayout->addWidget(lblExistingLengthChangesDesc);
    lengthLayout->addWidget(optCheckLengthUpdateOnly);
    lengthLayout->addWidget(optCheckLengthReplace);

    auto* existingRange = new QHBoxLayout;
    existingRange->addSpacing(16);
    existingRange->addWidget(lblExistingStartCart);
    existingRange->addWidget(txtExistingStartCart);
    existingRange->addSpacing(16);
    existingRange->addWidget(lblExistingEndCart);
    existingRange->addWidget(txtExistingEndCart);
    existingRange->addStretch();
    auto* existingLayout = new QVBoxLayout(Frame1);
    existingLayout->addWidget(lblCheckExisting);
    existingLayout->addLayout(existingRange);
    existingLayout->addWidget(chkCheckCurrentLastModified);
    existingLayout->addWidget(fraLengthChange);
    existingLayout->addWidget(chkRemoveIfDeleted);

    optImport = new QRadioButton(QStringLiteral("Import new files from a directory:"), page);
    fraImportOptions = new HeadedFrame(optImport, page);
    lblImportDirectory =
        new QLabel(QStringLiteral("Check the following directory for files:"), fraImportOptions);
    txtImportDirectory = new QLineEdit(fraImportOptions);
    cmdBrowseImportDirectory = new QPushButton(QStringLiteral("Browse"), fraImportOptions);
    cmdBrowseImportDirectory->setAutoDefault(false);
    lblNewFileRange =
        new QLabel(QStringLiteral("Check and import information for any new cart files between:"),
                   fraImportOptions);
    lblImportStartCart = new QLabel(QStringLiteral("Start Cart:"), fraImportOptions);
    txtImportStartCart = cartBox(fraImportOptions);
    lblImportEndCart = new QLabel(QStringLiteral("End Cart:"), fraImportOptions);
    txtImportEndCart = cartBox(fraImportOptions);
    chkUseArchiveBit = new QCheckBox(
        QStringLiteral("Also Use File 'Archive' flag to check if a file needs importing"),
        fraImportOptions);
    chkImportDeleteAfter =
        new QCheckBox(QStringLiteral("Delete the original file after importing"), fraImportOptions);

    auto* directoryRow = new QHBoxLayout;
    directoryRow->addWidget(txtImportDirectory, 1);
    directoryRow->addWidget(cmdBrowseImportDirectory);
    auto* importRange = new QHBoxLayout;
    importRange->addSpacing(16);
    importRange->addWidget(lblImportStartCart);
    importRange->addWidget(txtImportStartCart);
    importRange->addSpacing(16);
    importRange->addWidget(lblImportEndCart);
    importRange->addWidget(txtImportEndCart);
    importRange->addStretch();
    auto* importLayout = new QVBoxLayout(fraImportOptions);
    importLayout->addWidget(lblImportDirectory);
    importLayout->addLayout(directoryRow);
    importLayout->addWidget(lblNewFileRange);
    importLayout->addLayout(importRange);
    importLayout->addWidget(chkUseArchiveBit);
    importLayout->addWidget(chkImportDeleteAfter);

    // Explicit groups: Qt's automatic exclusion would also reach the length options nested
    // in the frames.
    auto* modes = new QButtonGroup(page);
    modes->addButton(optCheckExisting);
    modes->addButton(optImport);
    auto* lengths = new QButtonGroup(page);
    lengths->addButton(optCheckLengthUpdateOnly);
    lengths->addButton(optCheckLengthReplace);

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(fraGroupName);
    layout->addSpacing(4);
    layout->addWidget(Frame1);
    layout->addSpacing(4);
    layout->addWidget(fraImportOptions);
    layout->addStretch();
}

void frmGroupDetails::BuildNotificationPage(QWidget* page)
{
    chkEmailNotify = new QCheckBox(QStringLiteral("Send e-mail notification after import:"), page);
    fraEmailNotification = new HeadedFrame(chkEmailNotify, page);
    lblEmailNotifyFromDesc =
        new QLabel(QStringLiteral("Send 'From' e-mail address:"), fraEmailNotification);
    txtEmailNotifyFrom = new QLineEdit(fraEmailNotification);
    lblEmailNotifyFromExampleDesc =
        exampleLabel(QStringLiteral("E.g. : \"Cartfeeder Importer\" <cartfeeder@example.com>"),
                     fraEmailNotification);
    const QString listExample =
        QStringLiteral("E.g. : \"Jane Smith\" <jane.smith@example.com>; engineer@example.com");
    chkNotifySuccessEmailTo = new QCheckBox(
        QStringLiteral("Send \"Success\" notices to e-mail address/addresses (; separated):"),
        fraEmailNotification);
    txtNotifySuccessEmailTo = new QLineEdit(fraEmailNotification);
    lblNotifySuccessEmailToExampleDesc = exampleLabel(listExample, fraEmailNotification);
    chkNotifyFailEmailTo = new QCheckBox(
        QStringLiteral("Send 'Failed' notices to e-mail address/addresses (; separated):"),
        fraEmailNotification);
    txtNotifyFailEmailTo = new QLineEdit(fraEmailNotification);
    lblNotifyFailEmailToExampleDesc = exampleLabel(listExample, fraEmailNotification);

    auto* emailLayout = new QVBoxLayout(fraEmailNotification);
    emailLayout->addWidget(lblEmailNotifyFromDesc);
    emailLayout->addWidget(txtEmailNotifyFrom);
    emailLayout->addWidget(lblEmailNotifyFromExampleDesc);
    emailLayout->addSpacing(8);
    emailLayout->addWidget(chkNotifySuccessEmailTo);
    emailLayout->addWidget(txtNotifySuccessEmailTo);
    emailLayout->addWidget(lblNotifySuccessEmailToExampleDesc);
    emailLayout->addSpacing(8);
    emailLayout->addWidget(chkNotifyFailEmailTo);
    emailLayout->addWidget(txtNotifyFailEmailTo);
    emailLayout->addWidget(lblNotifyFailEmailToExampleDesc);

    fraLoggingOptions = new QGroupBox(QStringLiteral("Logging Options:"), page);
    chkTakeSnapShotBeforeImport = new QCheckBox(
        QStringLiteral("Take a 'Snapshot' of new files before importing"), fraLoggingOptions);
    auto* loggingLayout = new QVBoxLayout(fraLoggingOptions);
    loggingLayout->addWidget(chkTakeSnapShotBeforeImport);

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(fraEmailNotification);
    layout->addSpacing(4);
    layout->addWidget(fraLoggingOptions);
    layout->addStretch();
}

void frmGroupDetails::BuildOverridesPage(QWidget* page)
{
    fraOverrideTiming = new QGroupBox(QStringLiteral("Override Timing Information:"), page);
    chkOverrideIntroStart =
        new QCheckBox(QStringLiteral("Set the Intro Start to:"), fraOverrideTiming);
    mtxtIntroStart = timeBox(fraOverrideTiming);
    chkOverrideIntroEnd = new QCheckBox(QStringLiteral("Set the Intro End to:"), fraOverrideTiming);
    mtxtIntroEnd = timeBox(fraOverrideTiming);
    chkOverrideExtro = new QCheckBox(QStringLiteral("Set the Extro to:"), fraOverrideTiming);
    mtxtExtro = timeBox(fraOverrideTiming);
    auto* timing = new QGridLayout(fraOverrideTiming);
    timing->addWidget(chkOverrideIntroStart, 0, 0);
    timing->addWidget(mtxtIntroStart, 0, 1);
    timing->addWidget(chkOverrideIntroEnd, 1, 0);
    timing->addWidget(mtxtIntroEnd, 1, 1);
    timing->addWidget(chkOverrideExtro, 2, 0);
    timing->addWidget(mtxtExtro, 2, 1);
    timing->setColumnStretch(2, 1);

    fraOverrideTitles = new QGroupBox(QStringLiteral("Override Title Information:"), page);
    chkOverrideTitle = new QCheckBox(QStringLiteral("Set the Item Title to:"), fraOverrideTitles);
    txtOverrideTitle = new QLineEdit(fraOverrideTitles);
    chkOverrideArtist = new QCheckBox(QStringLiteral("Set the Artist to:"), fraOverrideTitles);
    txtOverrideArtist = new QLineEdit(fraOverrideTitles);
    chkOverrideDescription =
        new QCheckBox(QStringLiteral("Set the Description to:"), fraOverrideTitles);
    txtOverrideDescription = new QLineEdit(fraOverrideTitles);
    cmdOverrideHelp = new QPushButton(fraOverrideTitles);
    cmdOverrideHelp->setIcon(style()->standardIcon(QStyle::SP_MessageBoxQuestion));
    cmdOverrideHelp->setIconSize(QSize(24, 24));
    cmdOverrideHelp->setToolTip(QStringLiteral("Available Tags"));
    cmdOverrideHelp->setAutoDefault(false);
    cmdOverrideHelp->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    cmdOverrideHelp->setFixedWidth(40);
    auto* titles = new QGridLayout(fraOverrideTitles);
    titles->addWidget(chkOverrideTitle, 0, 0);
    titles->addWidget(txtOverrideTitle, 0, 1);
    titles->addWidget(chkOverrideArtist, 1, 0);
    titles->addWidget(txtOverrideArtist, 1, 1);
    titles->addWidget(chkOverrideDescription, 2, 0);
    titles->addWidget(txtOverrideDescription, 2, 1);
    titles->addWidget(cmdOverrideHelp, 0, 2, 3, 1);
    titles->setColumnStretch(1, 1);

    fraOverrideAudio = new QGroupBox(QStringLiteral("Override Audio Information:"), page);
    chkOverrideNormalise =
        new QCheckBox(QStringLiteral("'Normalise' the Audio level to :"), fraOverrideAudio);
    txtOverrideNormalise = new QLineEdit(fraOverrideAudio);
    txtOverrideNormalise->setFixedWidth(
        txtOverrideNormalise->fontMetrics().horizontalAdvance(QStringLiteral("0000")) + 12);
    lblOverrideNormliseDesc = new QLabel(QStringLiteral("%"), fraOverrideAudio);
    auto* audio = new QHBoxLayout(fraOverrideAudio);
    audio->addWidget(chkOverrideNormalise);
    audio->addWidget(txtOverrideNormalise);
    audio->addWidget(lblOverrideNormliseDesc);
    audio->addStretch();

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(fraOverrideTiming);
    layout->addWidget(fraOverrideTitles);
    layout->addWidget(fraOverrideAudio);
    layout->addStretch();
}

void frmGroupDetails::BuildProgressPanel()
{
    // Not in the layout: it lies over the middle of the tab control while it shows.
    pnlProgress = new QFrame(this);
    pnlProgress->setFrameStyle(QFrame::Panel | QFrame::Raised);
    pnlProgress->setLineWidth(2);
    pnlProgress->setAutoFillBackground(true);
    lblCurrentTask = new QLabel(pnlProgress);
    QFont bold(QStringLiteral("Arial"));
    bold.setPointSizeF(8.25);
    bold.setBold(true);
    lblCurrentTask->setFont(bold);
    progOverallProcess = new QProgressBar(pnlProgress);
    progOverallProcess->setRange(0, 100);
    progOverallProcess->setValue(0);
    progOverallProcess->setTextVisible(false);
    auto* layout = new QVBoxLayout(pnlProgress);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->addWidget(lblCurrentTask);
    layout->addWidget(progOverallProcess);
    pnlProgress->hide();
}

void frmGroupDetails::Form_Load()
{
    optCheckExisting->setChecked(true);
    optCheckExisting_Click();
    txtGroupName->setText(QStringLiteral("Import Group"));
    for (QLineEdit* box :
         {txtExistingStartCart, txtExistingEndCart, txtImportStartCart, txtImportEndCart}) {
        box->setText(QStringLiteral("1"));
    }
    setTicked(chkUseArchiveBit, false);
    tbsGroupDetails->setCurrentIndex(GeneralPage);
}

bool frmGroupDetails::DisplayGroup(cImporterGroup* clsGroup, cImporter* importer)
{
    if (!clsGroup) {
        return false;
    }
    Form_Load();
    m_cancelled = false;
    m_importer = importer;
    cImporterGroup& group = *clsGroup;

    txtGroupName->setText(group.GroupName);

    if (group.CheckCurrent) {
        optCheckExisting->setChecked(true);
        optCheckExisting_Click();
        m_originalCheckCurrentLastModified = group.CheckCurrentLastModified;
        setTicked(chkCheckCurrentLastModified, group.CheckCurrentLastModified);
        setTicked(chkRemoveIfDeleted, group.RemoveIfDeleted);
        txtExistingStartCart->setText(group.StartHDRef);
        txtExistingEndCart->setText(group.EndHDRef);
        (group.ReplaceChangedLengthCarts ? optCheckLengthReplace : optCheckLengthUpdateOnly)
            ->setChecked(true);
    } else {
        optImport->setChecked(true);
        // Cleared on the group itself, so they stay cleared even when the operator cancels.
        group.CheckCurrentLastModified = false;
        group.RemoveIfDeleted = false;
        txtImportDirectory->setText(group.Path);
        txtImportStartCart->setText(group.StartHDRef);
        txtImportEndCart->setText(group.EndHDRef);
        setTicked(chkImportDeleteAfter, group.DeleteAfterImport);
        setTicked(chkUseArchiveBit, group.UseArchiveBit);
        optCheckLengthReplace->setChecked(true);
    }

    if (!group.NotifyEmailSender.isEmpty()) {
        setTicked(chkEmailNotify, true);
        txtEmailNotifyFrom->setText(group.NotifyEmailSender);
        txtNotifySuccessEmailTo->setText(group.NotifySuccessEmailRecipients);
        setTicked(chkNotifySuccessEmailTo, !group.NotifySuccessEmailRecipients.isEmpty());
        txtNotifyFailEmailTo->setText(group.NotifyFailEmailRecipients);
        setTicked(chkNotifyFailEmailTo, !group.NotifyFailEmailRecipients.isEmpty());
    }
    chkEmailNotify_Click();

    setTicked(chkTakeSnapShotBeforeImport, group.TakeSnapShotBeforeImport);

    ShowTime(mtxtIntroStart, chkOverrideIntroStart, group.OverrideIntroStart);
    chkOverrideIntroStart_Click();
    ShowTime(mtxtIntroEnd, chkOverrideIntroEnd, group.OverrideIntroEnd);
    chkOverrideIntroEnd_Click();
    ShowTime(mtxtExtro, chkOverrideExtro, group.OverrideExtro);
    chkOverrideExtro_Click();

    txtOverrideTitle->setText(group.OverrideTitle.isEmpty() ? QStringLiteral("<FILENAME>")
                                                            : group.OverrideTitle);
    setTicked(chkOverrideTitle, !group.OverrideTitle.isEmpty());
    txtOverrideArtist->setText(group.OverrideArtist.isEmpty() ? QStringLiteral("On <COMPUTERNAME>")
                                                              : group.OverrideArtist);
    setTicked(chkOverrideArtist, !group.OverrideArtist.isEmpty());
    txtOverrideDescription->setText(group.OverrideDescription.isEmpty()
                                        ? QStringLiteral("Imported <CURRENTDATETIME>")
                                        : group.OverrideDescription);
    setTicked(chkOverrideDescription, !group.OverrideDescription.isEmpty());

    if (group.OverrideNormalise != 0) {
        txtOverrideNormalise->setText(QString::number(group.OverrideNormalise));
        setTicked(chkOverrideNormalise, true);
    } else {
        CartvaultSettings* settings = cartStore().GetCartvaultSettings();
        if (!settings) {
            throw ToolError(ToolErrors::ObjectNotSet,
                            QStringLiteral("The cart store has no settings"));
        }
        txtOverrideNormalise->setText(QString::number(settings->NormaliseLevel()));
        setTicked(chkOverrideNormalise, false);
    }
    chkOverrideNormalise_Click();

    exec();

    bool result = false;
    if (!m_cancelled) {
        WriteBack(group);
        result = true;
    }
    m_importer = nullptr;
    hide();
    return result;
}

void frmGroupDetails::ShowTime(QLineEdit* box, QCheckBox* check, float seconds)
{
    if (seconds < 0) {
        box->setText(QLatin1String(ZeroTime));
        setTicked(check, false);
        return;
    }
    // Beyond 99 hours the text would no longer fit the box's eleven places.
    const double shown = std::min(static_cast<double>(seconds), kLongestTime);
    box->setText(DateTimeFunctions::instance().FormatTimeText(
        GeneralFunctions::instance().SecondsToTime(0, 0, shown), 1));
    setTicked(check, true);
}

float frmGroupDetails::TimeFromBox(QLineEdit* box, QCheckBox* check) const
{
    // The shown text keeps every place, "_" included, where the plain text drops the blanks.
    const double seconds = GeneralFunctions::instance().TimeTextToSeconds(box->displayText(), 11);
    return ticked(check) ? static_cast<float>(seconds) : -1.0f;
}

void frmGroupDetails::WriteBack(cImporterGroup& group)
{
    if (optCheckExisting->isChecked()) {
        group.CheckCurrent = true;
        group.CheckCurrentLastModified = ticked(chkCheckCurrentLastModified);
        group.RemoveIfDeleted = ticked(chkRemoveIfDeleted);
        if (group.CheckCurrentLastModified && !m_originalCheckCurrentLastModified) {
            QString text;
            qint32 number = 0;
            // Carts missing from the length cache are decoded, which can take long: the
            // windows paint meanwhile but take no input, as the dialog has already gone.
            const LongWork::Scope breathing([] {
                QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
                return true;
            });
            // Only the group's carts can be concerned; the whole store may be thousands.
            cartStore().RefreshCartInfoInRange(txtExistingStartCart->text().trimmed(),
                                               txtExistingEndCart->text().trimmed(), true, text,
                                               number);
        }
        group.Path = QString();
        group.DeleteAfterImport = false;
        group.UseArchiveBit = false;
        group.EndHDRef = txtExistingEndCart->text().trimmed();
        group.GroupName = txtGroupName->text();
        group.StartHDRef = txtExistingStartCart->text().trimmed();
        group.ReplaceChangedLengthCarts = optCheckLengthReplace->isChecked();
    } else if (optImport->isChecked()) {
        group.CheckCurrent = false;
        group.CheckCurrentLastModified = false;
        group.RemoveIfDeleted = false;
        group.Path = txtImportDirectory->text();
        group.DeleteAfterImport = ticked(chkImportDeleteAfter);
        group.UseArchiveBit = ticked(chkUseArchiveBit);
        group.GroupName = txtGroupName->text();
        group.StartHDRef = txtImportStartCart->text().trimmed();
        group.EndHDRef = txtImportEndCart->text().trimmed();
        group.ReplaceChangedLengthCarts = false;
    }

    if (ticked(chkEmailNotify)) {
        group.NotifyEmailSender = txtEmailNotifyFrom->text().trimmed();
        group.NotifySuccessEmailRecipients =
            ticked(chkNotifySuccessEmailTo) ? txtNotifySuccessEmailTo->text().trimmed() : QString();
        group.NotifyFailEmailRecipients =
            ticked(chkNotifyFailEmailTo) ? txtNotifyFailEmailTo->text().trimmed() : QString();
    } else {
        group.NotifyEmailSender = QString();
        group.NotifySuccessEmailRecipients = QString();
        group.NotifyFailEmailRecipients = QString();
    }

    group.TakeSnapShotBeforeImport = ticked(chkTakeSnapShotBeforeImport);

    group.OverrideIntroStart = TimeFromBox(mtxtIntroStart, chkOverrideIntroStart);
    group.OverrideIntroEnd = TimeFromBox(mtxtIntroEnd, chkOverrideIntroEnd);
    group.OverrideExtro = TimeFromBox(mtxtExtro, chkOverrideExtro);

    group.OverrideTitle = ticked(chkOverrideTitle) ? txtOverrideTitle->text().trimmed() : QString();
    group.OverrideArtist =
        ticked(chkOverrideArtist) ? txtOverrideArtist->text().trimmed() : QString();
    group.OverrideDescription =
        ticked(chkOverrideDescription) ? txtOverrideDescription->text().trimmed() : QString();

    // Held within 0..100 here too: Enter accepts the dialog without the box losing the focus.
    group.OverrideNormalise = ticked(chkOverrideNormalise)
                                  ? static_cast<qint16>(GeneralFunctions::instance().ClampLong(
                                        RoundHalfEven(LeadingNumber(txtOverrideNormalise->text()),
                                                      std::numeric_limits<qint32>::min(),
                                                      std::numeric_limits<qint32>::max()),
                                        0, 100))
                                  : 0;
}

void frmGroupDetails::optCheckExisting_Click()
{
    optImport_Click();
}

void frmGroupDetails::optImport_Click()
{
    const bool existing = optCheckExisting->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*>{
             lblExistingStartCart, lblExistingEndCart, chkCheckCurrentLastModified, fraLengthChange,
             lblExistingLengthChangesDesc, optCheckLengthUpdateOnly, optCheckLengthReplace,
             lblCheckExisting, chkRemoveIfDeleted}) {
        w->setEnabled(existing);
    }
    enableTextBox(txtExistingStartCart, existing);
    enableTextBox(txtExistingEndCart, existing);

    const bool import = optImport->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*>{
             lblImportStartCart, lblImportEndCart, lblImportDirectory, chkImportDeleteAfter,
             chkUseArchiveBit, lblNewFileRange, cmdBrowseImportDirectory}) {
        w->setEnabled(import);
    }
    enableTextBox(txtImportStartCart, import);
    enableTextBox(txtImportEndCart, import);
    enableTextBox(txtImportDirectory, import);
}

void frmGroupDetails::chkEmailNotify_Click()
{
    const bool on = ticked(chkEmailNotify);
    for (QWidget* w :
         std::initializer_list<QWidget*>{fraEmailNotification, lblEmailNotifyFromDesc,
                                         chkNotifySuccessEmailTo, chkNotifyFailEmailTo}) {
        w->setEnabled(on);
    }
    enableTextBox(txtEmailNotifyFrom, on);
    enableTextBox(txtNotifySuccessEmailTo, on && ticked(chkNotifySuccessEmailTo));
    enableTextBox(txtNotifyFailEmailTo, on && ticked(chkNotifyFailEmailTo));
}

void frmGroupDetails::chkNotifySuccessEmailTo_Click()
{
    chkEmailNotify_Click();
}

void frmGroupDetails::chkNotifyFailEmailTo_Click()
{
    chkEmailNotify_Click();
}

void frmGroupDetails::chkOverrideIntroStart_Click()
{
    enableTextBox(mtxtIntroStart, ticked(chkOverrideIntroStart));
}

void frmGroupDetails::chkOverrideIntroEnd_Click()
{
    enableTextBox(mtxtIntroEnd, ticked(chkOverrideIntroEnd));
}

void frmGroupDetails::chkOverrideExtro_Click()
{
    enableTextBox(mtxtExtro, ticked(chkOverrideExtro));
}

void frmGroupDetails::chkOverrideTitle_Click()
{
    enableTextBox(txtOverrideTitle, ticked(chkOverrideTitle));
}

void frmGroupDetails::chkOverrideArtist_Click()
{
    enableTextBox(txtOverrideArtist, ticked(chkOverrideArtist));
}

void frmGroupDetails::chkOverrideDescription_Click()
{
    enableTextBox(txtOverrideDescription, ticked(chkOverrideDescription));
}

void frmGroupDetails::chkOverrideNormalise_Click()
{
    enableTextBox(txtOverrideNormalise, ticked(chkOverrideNormalise));
}

void frmGroupDetails::txtOverrideNormalise_LostFocus()
{
    const qint32 value =
        RoundHalfEven(LeadingNumber(txtOverrideNormalise->text()),
                      std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max());
    txtOverrideNormalise->setText(
        QString::number(GeneralFunctions::instance().ClampLong(value, 0, 100)));
}

void frmGroupDetails::txtOverrideNormalise_Edited(const QString& text)
{
    // At most three characters can be typed; text put in by the program is not cut, and the
    // operator can still shorten it.
    constexpr qsizetype limit = 3;
    if (text.size() > limit && text.size() > m_normaliseText.size()) {
        const int cursor =
            txtOverrideNormalise->cursorPosition() - int(text.size() - m_normaliseText.size());
        txtOverrideNormalise->setText(m_normaliseText);
        txtOverrideNormalise->setCursorPosition(std::max(cursor, 0));
    }
}

void frmGroupDetails::cmdCancel_Click()
{
    m_cancelled = true;
    hide();
}

void frmGroupDetails::reject()
{
    // Esc presses Cancel.
    cmdCancel_Click();
}

void frmGroupDetails::closeEvent(QCloseEvent* event)
{
    // The close box acts as Cancel; the window stays until DisplayGroup lets it go.
    event->ignore();
    cmdCancel_Click();
}

void frmGroupDetails::cmdOverrideHelp_Click()
{
    QString text = QStringLiteral("Available Tags are:") + LF + LF;
    const QStringList lines = {QStringLiteral("<CURRENTDATE>"),
                               QStringLiteral("<CURRENTTIME>"),
                               QStringLiteral("<CURRENTDATETIME>"),
                               QStringLiteral("<CURRENTDATETIMEXML>"),
                               QString(),
                               QStringLiteral("<COMPUTERNAME>"),
                               QString(),
                               QStringLiteral("<FILEFULLNAME>"),
                               QStringLiteral("<FILENAME>"),
                               QStringLiteral("<FILETITLE>"),
                               QStringLiteral("<FILEEXTENSION>"),
                               QStringLiteral("<FILEPATH>")};
    for (const QString& line : lines) {
        text += TAB + line + LF;
    }
    MessageBox::Show(text, MsgBoxStyle::OKOnly | MsgBoxStyle::Information);
}

void frmGroupDetails::cmdBrowseImportDirectory_Click()
{
    const QString folder =
        BrowseForFolder(this, QStringLiteral("Choose the directory to check for new files:"),
                        txtImportDirectory->text(), -1, nullptr);
    if (!folder.isEmpty()) {
        txtImportDirectory->setText(folder);
    }
}

bool frmGroupDetails::eventFilter(QObject* watched, QEvent* event)
{
    auto* box = qobject_cast<QLineEdit*>(watched);
    if (box && event->type() == QEvent::FocusIn) {
        if (static_cast<QFocusEvent*>(event)->reason() == Qt::MouseFocusReason) {
            // The click that gave the focus would place the cursor and drop the selection.
            QTimer::singleShot(0, box, [box] { ControlFunctions::instance().SelectAllText(box); });
        } else {
            ControlFunctions::instance().SelectAllText(box);
        }
    } else if (box == txtOverrideNormalise && event->type() == QEvent::FocusOut) {
        // Only a move to another control; not the window losing activation to a message box.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
            txtOverrideNormalise_LostFocus();
        }
    }
    return QDialog::eventFilter(watched, event);
}

void frmGroupDetails::SetCurrentTask(const QString& caption)
{
    lblCurrentTask->setText(caption);
    // The refresh does not yield to the message loop, so the label paints itself now.
    lblCurrentTask->repaint();
}

void frmGroupDetails::cmdOK_Clicked()
{
    // An error cannot pass through the message loop; it is reported and the window stays open.
    try {
        cmdOK_Click();
    } catch (const ToolError& error) {
        ShowProblemMessage(QStringLiteral("checking the import group"), error.Description(), false);
    } catch (const std::exception& error) {
        ShowProblemMessage(QStringLiteral("checking the import group"),
                           QString::fromLocal8Bit(error.what()), false);
    }
}

void frmGroupDetails::cmdOK_Click()
{
    if (txtGroupName->text().isEmpty()) {
        exclaim(QStringLiteral("You must enter a Group Name"));
        return;
    }

    auto rangeChecked = [this](const QString& start, const QString& end) {
        PlayoutAudio& store = cartStore();
        if (!store.IsValidCart(start)) {
            tbsGroupDetails->setCurrentIndex(GeneralPage);
            exclaim(QStringLiteral("You must enter a Start cart between 1 and ") +
                    store.GetLastCart(0));
            return false;
        }
        if (!store.IsValidCart(end)) {
            tbsGroupDetails->setCurrentIndex(GeneralPage);
            exclaim(QStringLiteral("You must enter an End cart between 1 and ") +
                    store.GetLastCart(0));
            return false;
        }
        if (!store.IsCartInRange(start, store.GetFirstCart(QString()), end)) {
            tbsGroupDetails->setCurrentIndex(GeneralPage);
            exclaim(QStringLiteral("Your Start cart cannot be higher than your End Cart"));
            return false;
        }
        return true;
    };
    auto permitted = [this](const QString& start, const QString& end) {
        const bool endAllowed = CanEditCart(end, false);
        const bool startAllowed = CanEditCart(start, false);
        if (endAllowed && startAllowed) {
            return true;
        }
        tbsGroupDetails->setCurrentIndex(GeneralPage);
        return askYesNo(QStringLiteral("Warning: Cartfeeder does not have permission to edit "
                                       "some of the carts in that range, so it will not be able "
                                       "to correctly check the Cartvault") +
                            LF + LF + QStringLiteral("Do you want to continue?"),
                        false);
    };

    if (optCheckExisting->isChecked()) {
        const QString start = txtExistingStartCart->text();
        const QString end = txtExistingEndCart->text();
        if (!rangeChecked(start, end) || !permitted(start, end)) {
            return;
        }
        if (ticked(chkCheckCurrentLastModified) && !m_originalCheckCurrentLastModified) {
            tbsGroupDetails->setCurrentIndex(GeneralPage);
            if (!ConfirmLastModifiedRefresh()) {
                return;
            }
            RefreshLastModified();
        }
    } else if (optImport->isChecked()) {
        const QString start = txtImportStartCart->text();
        const QString end = txtImportEndCart->text();
        if (!rangeChecked(start, end)) {
            return;
        }
        const QString directory = txtImportDirectory->text();
        if (directory.isEmpty()) {
            tbsGroupDetails->setCurrentIndex(GeneralPage);
            exclaim(QStringLiteral("You must enter a directory"));
            return;
        }
        if (!permitted(start, end)) {
            return;
        }
        FileFunctions& files = FileFunctions::instance();
        if (!files.FolderExists(directory)) {
            if (!askYesNo(QStringLiteral("Do you want the directory '") + directory +
                              QStringLiteral("' created?"),
                          true)) {
                return;
            }
            files.CreateFolder(directory, 0);
        }
    }

    if (ticked(chkEmailNotify)) {
        if (!txtEmailNotifyFrom->text().contains(u'@')) {
            tbsGroupDetails->setCurrentIndex(NotificationPage);
            exclaim(QStringLiteral("You must enter a valid 'From' e-mail address for "
                                   "notifications"));
            return;
        }
        if (!ticked(chkNotifySuccessEmailTo) && !ticked(chkNotifyFailEmailTo)) {
            tbsGroupDetails->setCurrentIndex(NotificationPage);
            exclaim(QStringLiteral("You have selected to send e-mail nofifcations, but you have "
                                   "not chosen to send either 'Success' or 'Fail' notifications"));
            return;
        }
        if (plainlyTicked(chkNotifySuccessEmailTo) &&
            txtNotifySuccessEmailTo->text().trimmed().isEmpty()) {
            tbsGroupDetails->setCurrentIndex(NotificationPage);
            exclaim(QStringLiteral("You must enter at least one e-mail address to send "
                                   "'Success' notifications 'To'"));
            return;
        }
        if (plainlyTicked(chkNotifyFailEmailTo) &&
            txtNotifyFailEmailTo->text().trimmed().isEmpty()) {
            tbsGroupDetails->setCurrentIndex(NotificationPage);
            exclaim(QStringLiteral("You must enter at least one e-mail address to send 'Fail' "
                                   "notifications 'To'"));
            return;
        }
        // Every piece counts, blank and empty ones too, ticked or not.
        auto listValid = [this](const QString& list, const QString& complaint) {
            const QStringList pieces = list.isEmpty() ? QStringList() : list.split(u';');
            for (const QString& piece : pieces) {
                if (!piece.contains(u'@')) {
                    tbsGroupDetails->setCurrentIndex(NotificationPage);
                    exclaim(QLatin1Char('"') + piece + QLatin1Char('"') + complaint);
                    return false;
                }
            }
            return true;
        };
        if (!listValid(txtNotifySuccessEmailTo->text(),
                       QStringLiteral(" is not a valid e-mail address to send 'Success' "
                                      "notifications 'To'")) ||
            !listValid(txtNotifyFailEmailTo->text(),
                       QStringLiteral(" is not a valid e-mail address to send 'Fail' "
                                      "notifications 'To'"))) {
            return;
        }
        if (!m_importer || !m_importer->SMTPEmailEnabled()) {
            MessageBox::Show(QStringLiteral("Warning: To allow emails to be sent, you must "
                                            "specify the e-mail server details in 'Importer "
                                            "Settings'"),
                             MsgBoxStyle::OKOnly | MsgBoxStyle::Information);
        }
    }

    const QList<std::pair<QCheckBox*, QLineEdit*>> times = {{chkOverrideIntroStart, mtxtIntroStart},
                                                            {chkOverrideIntroEnd, mtxtIntroEnd},
                                                            {chkOverrideExtro, mtxtExtro}};
    const QStringList timeMessages = {
        QStringLiteral("You must enter a valid 'Intro Start' Override"),
        QStringLiteral("You must enter a valid 'Intro End' Override"),
        QStringLiteral("You must enter a valid Extro Override")};
    for (qsizetype i = 0; i < times.size(); ++i) {
        if (plainlyTicked(times[i].first) && times[i].second->displayText().contains(u'_')) {
            exclaim(timeMessages[i]);
            return;
        }
    }
    const QList<std::pair<QCheckBox*, QLineEdit*>> texts = {
        {chkOverrideTitle, txtOverrideTitle},
        {chkOverrideArtist, txtOverrideArtist},
        {chkOverrideDescription, txtOverrideDescription}};
    const QStringList textMessages = {
        QStringLiteral("You must enter a valid 'Title' Override"),
        QStringLiteral("You must enter a valid 'Artist' Override"),
        QStringLiteral("You must enter a valid 'Description' Override")};
    for (qsizetype i = 0; i < texts.size(); ++i) {
        if (plainlyTicked(texts[i].first) && texts[i].second->text().trimmed().isEmpty()) {
            exclaim(textMessages[i]);
            return;
        }
    }

    m_cancelled = false;
    hide();
}

bool frmGroupDetails::ConfirmLastModifiedRefresh()
{
    return askYesNo(
               QStringLiteral("CAUTION! Before activating the '") +
                   chkCheckCurrentLastModified->text() +
                   QStringLiteral("' option, a full backup must be taken as this process may "
                                  "cause many carts to be reimported and in some cases this may "
                                  "remove some Metadata, particularly of Carts from previous "
                                  "versions of Corvella.") +
                   LF + LF +
                   QStringLiteral("Are you absolutely sure you want to continue - if you are "
                                  "unsure, click 'NO' and contact Orvane for more information?"),
               false) &&
           askYesNo(QStringLiteral("Cartfeeder must update the stored 'Last Modified' "
                                   "information in the Cart Lists before it can continue.") +
                        LF + LF +
                        QStringLiteral("Only Carts altered after this check has completed will "
                                       "be detected and imported using this option.") +
                        LF + LF +
                        QStringLiteral("Are you sure you want to continue - if you are unsure, "
                                       "click 'NO' and contact Orvane for more information?"),
                    false);
}

void frmGroupDetails::RefreshLastModified()
{
    PlayoutAudio& store = cartStore();
    FileFunctions& files = FileFunctions::instance();
    DateTimeFunctions& dates = DateTimeFunctions::instance();

    RefreshDisplay display(this);
    setCursor(Qt::WaitCursor);
    progOverallProcess->setValue(0);
    SetCurrentTask(QStringLiteral("Initialising..."));
    const QRect tabs = tbsGroupDetails->geometry();
    const int width = tabs.width() * 4 / 5;
    const int height = pnlProgress->sizeHint().height();
    pnlProgress->setGeometry(tabs.center().x() - width / 2, tabs.center().y() - height / 2, width,
                             height);
    pnlProgress->show();
    pnlProgress->raise();
    repaint();
    // The window's repaint leaves the area of an opaque child to the child, and a child shown
    // outside the message loop has not asked for its paint yet.
    pnlProgress->repaint();

    const QString start = txtExistingStartCart->text();
    const QString end = txtExistingEndCart->text();
    QString current = store.GetFirstCart(start);
    while (!current.isEmpty() && store.IsCartInRange(current, start, end)) {
        SetCurrentTask(QStringLiteral("Checking/Updating: ") + current);
        const qint32 position = RoundHalfEven(store.GetRangePosition(current, start, end), 0, 100);
        if (position != progOverallProcess->value()) {
            progOverallProcess->setValue(position);
            pnlProgress->repaint();
        }
        std::optional<Cart> cart = store.GetCart(current, 3, false);
        if (cart && cart->HasAudio) {
            qint32 low = 0;
            qint32 high = 0;
            dates.DateToStamp(dates.NormaliseDate(files.GetDateLastModified(cart->AudioFilePath)),
                              low, high);
            const qint64 fileStamp = dates.MakeStamp(low, high);
            const qint64 storedStamp =
                dates.MakeStamp(cart->LastModifiedLow, cart->LastModifiedHigh);
            if (dates.StampDifference(fileStamp, storedStamp) > 2.0) {
                cart->LastModifiedLow = low;
                cart->LastModifiedHigh = high;
                bool flag = true;
                store.SaveCart(current, *cart, 3, false, false, flag);
            }
        }
        current = store.GetNextCart(current);
    }
}
