#include "toolwindows/frmSupportFile.h"

#include "framework/AppLog.h"
#include "framework/DebugLog.h"
#include "framework/GeneralHelpers.h"
#include "framework/ToolGlobals.h"
#include "platform/cartstore/Cart.h"
#include "platform/cartstore/PlayoutAudio.h"
#include "platform/profiles/PlayoutGeneral.h"
#include "platform/profiles/PlayoutLogging.h"
#include "platform/support/SupportFileGenerator.h"
#include "platform/system/DateTimeFunctions.h"
#include "platform/system/FileFunctions.h"
#include "platform/system/GeneralFunctions.h"
#include "platform/system/MessageBox.h"
#include "platform/system/RegistryFunctions.h"
#include "platform/system/SystemInfoFunctions.h"
#include "platform/system/ToolError.h"
#include "platform/system/widgets/ControlFunctions.h"
#include "platform/system/widgets/VbColours.h"
#include "toolwindows/GoodInputBox.h"
#include "toolwindows/SupportLinks.h"
#include "toolwindows/frmGoodInputBox.h"

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QVersionNumber>

namespace {

const QString kClosingLines =
    QStringLiteral("\n\nFor more information, please contact Orvane Technical Support\n\nYou will "
                   "now be able to save the file to your local system");

constexpr qint32 kButtonFace = qint32(VbColours::ButtonFace);

void Exclaim(const QString& text)
{
    MessageBox::Show(text, MsgBoxStyle::OKOnly | MsgBoxStyle::Exclamation);
}

void Inform(const QString& text)
{
    MessageBox::Show(text, MsgBoxStyle::OKOnly | MsgBoxStyle::Information);
}

// The Add and Remove pictures: a plus and a minus.
QIcon SignIcon(bool plus)
{
    QPixmap picture(16, 16);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(plus ? 0x2e7d32 : 0xc62828), 3, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(3, 8), QPointF(13, 8));
    if (plus) {
        painter.drawLine(QPointF(8, 3), QPointF(8, 13));
    }
    painter.end();
    return QIcon(picture);
}

// A date as its whole OLE Automation day number.
qint32 DayNumber(const QDate& day)
{
    return qint32(qRound(DateTimeFunctions::ToOleDate(QDateTime(day, QTime(0, 0)))));
}

} // namespace

frmSupportFile::frmSupportFile(const QColor& backgroundColour, QWidget* parent,
                               SupportFileGenerator* generator)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Create Orvane Support File"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    SupportFileGenerator1 = generator ? generator : new SupportFileGenerator(this);
    SupportFileGenerator1->setParent(this);

    tbsOptions = new QTabWidget(this);
    m_page = new QWidget;
    tbsOptions->addTab(m_page, tr("Support File"));

    fraReason = new QGroupBox(QStringLiteral("&Reason for sending Support File:"), m_page);
    txtReason = new QPlainTextEdit(fraReason);
    txtReason->setTabChangesFocus(true);
    txtReason->setFixedHeight(90);
    auto* reasonLayout = new QVBoxLayout(fraReason);
    reasonLayout->addWidget(txtReason);

    lblSupportIDDesc = new QLabel(QStringLiteral("Orvane Support &ID:"), m_page);
    QFont courier(QStringLiteral("Courier New"));
    // Where Courier New is missing, another fixed-pitch font of the same size.
    courier.setStyleHint(QFont::TypeWriter);
    courier.setFixedPitch(true);
    courier.setPointSizeF(txtReason->font().pointSizeF() + 1);
    lblSupportIDPrefix = new QLabel(QStringLiteral("[ORV"), m_page);
    lblSupportIDPrefix->setFont(courier);
    txtSupportID = new QLineEdit(m_page);
    txtSupportID->setFont(courier);
    txtSupportID->setFixedWidth(120);
    Label1 = new QLabel(QStringLiteral("]"), m_page);
    Label1->setFont(courier);
    lblSupportIDDesc->setBuddy(txtSupportID);
    auto* idLayout = new QHBoxLayout;
    idLayout->addWidget(lblSupportIDDesc);
    idLayout->addSpacing(6);
    idLayout->addWidget(lblSupportIDPrefix);
    idLayout->addWidget(txtSupportID);
    idLayout->addWidget(Label1);
    idLayout->addStretch(1);
    idLayout->setSpacing(2);

    fraInformation = new QGroupBox(QStringLiteral("Information to include:"), m_page);
    auto makeDate = [this](QWidget* owner) {
        auto* picker = new QDateEdit(owner);
        picker->setCalendarPopup(true);
        return picker;
    };
    chkLogFiles = new QCheckBox(QStringLiteral("Send Log Files"), fraInformation);
    lblLogsStartDateDesc = new QLabel(QStringLiteral("Start Date:"), fraInformation);
    dtpLogsStartDate = makeDate(fraInformation);
    lblLogsEndDateDesc = new QLabel(QStringLiteral("End Date:"), fraInformation);
    dtpLogsEndDate = makeDate(fraInformation);
    chkPlayLogFiles = new QCheckBox(QStringLiteral("Send Cart Play Log Files"), fraInformation);
    lblPlayLogsStartDateDesc = new QLabel(QStringLiteral("Start Date:"), fraInformation);
    dtpPlayLogsStartDate = makeDate(fraInformation);
    lblPlayLogsEndDateDesc = new QLabel(QStringLiteral("End Date:"), fraInformation);
    dtpPlayLogsEndDate = makeDate(fraInformation);
    chkCartvault = new QCheckBox(QStringLiteral("Send Cartvault Information"), fraInformation);
    chkSendCart = new QCheckBox(QStringLiteral("Include audio for carts:"), fraInformation);
    listCarts = new QListWidget(fraInformation);
    listCarts->setSelectionMode(QAbstractItemView::SingleSelection);
    listCarts->setMinimumHeight(90);
    cmdAddCart = new QToolButton(fraInformation);
    cmdAddCart->setIcon(SignIcon(true));
    cmdAddCart->setToolTip(tr("Add a cart"));
    cmdRemoveCart = new QToolButton(fraInformation);
    cmdRemoveCart->setIcon(SignIcon(false));
    cmdRemoveCart->setToolTip(tr("Remove the selected cart"));

    auto* infoLayout = new QGridLayout(fraInformation);
    infoLayout->addWidget(chkLogFiles, 0, 0);
    infoLayout->addWidget(lblLogsStartDateDesc, 0, 1, Qt::AlignRight);
    infoLayout->addWidget(dtpLogsStartDate, 0, 2);
    infoLayout->addWidget(lblLogsEndDateDesc, 0, 3, Qt::AlignRight);
    infoLayout->addWidget(dtpLogsEndDate, 0, 4);
    infoLayout->addWidget(chkPlayLogFiles, 1, 0);
    infoLayout->addWidget(lblPlayLogsStartDateDesc, 1, 1, Qt::AlignRight);
    infoLayout->addWidget(dtpPlayLogsStartDate, 1, 2);
    infoLayout->addWidget(lblPlayLogsEndDateDesc, 1, 3, Qt::AlignRight);
    infoLayout->addWidget(dtpPlayLogsEndDate, 1, 4);
    infoLayout->addWidget(chkCartvault, 2, 0, 1, 5);
    infoLayout->addWidget(chkSendCart, 3, 0, 1, 5);
    auto* cartButtons = new QVBoxLayout;
    cartButtons->addWidget(cmdAddCart);
    cartButtons->addWidget(cmdRemoveCart);
    cartButtons->addStretch(1);
    auto* cartRow = new QHBoxLayout;
    cartRow->addWidget(listCarts, 1);
    cartRow->addLayout(cartButtons);
    infoLayout->addLayout(cartRow, 4, 0, 1, 5);
    infoLayout->setColumnStretch(0, 1);

    auto* pageLayout = new QVBoxLayout(m_page);
    pageLayout->addWidget(fraReason);
    pageLayout->addLayout(idLayout);
    pageLayout->addWidget(fraInformation, 1);

    // The status area lies over the page while a file is made; it is not in the layout.
    pnlStatus = new QFrame(m_page);
    pnlStatus->setFrameStyle(QFrame::Panel | QFrame::Raised);
    pnlStatus->setLineWidth(2);
    pnlStatus->setAutoFillBackground(true);
    lblStatus = new QLabel(QStringLiteral("Preparing..."), pnlStatus);
    QFont statusFont = lblStatus->font();
    statusFont.setBold(true);
    lblStatus->setFont(statusFont);
    prgProgress = new QProgressBar(pnlStatus);
    prgProgress->setRange(0, 100);
    prgProgress->setTextVisible(false);
    cmdStop = new QToolButton(pnlStatus);
    cmdStop->setIcon(style()->standardIcon(QStyle::SP_BrowserStop));
    cmdStop->setIconSize(QSize(24, 24));
    cmdStop->setToolTip(tr("Stop"));
    cmdStop->setAutoRaise(true);
    auto* statusLayout = new QGridLayout(pnlStatus);
    statusLayout->addWidget(lblStatus, 0, 0);
    statusLayout->addWidget(prgProgress, 1, 0);
    statusLayout->addWidget(cmdStop, 0, 1, 2, 1, Qt::AlignCenter);
    statusLayout->setContentsMargins(16, 12, 12, 12);
    pnlStatus->hide();
    m_page->installEventFilter(this);

    cmdEditPerson = new QPushButton(QStringLiteral("Edit Personal Details"), this);
    cmdMakeFile = new QPushButton(QStringLiteral("Make File"), this);
    cmdMakeFile->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cmdEditPerson);
    buttons->addWidget(cmdMakeFile);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tbsOptions, 1);
    layout->addLayout(buttons);
    setMinimumSize(560, 520);

    connect(chkLogFiles, &QCheckBox::toggled, this, &frmSupportFile::chkLogFiles_Click);
    connect(chkPlayLogFiles, &QCheckBox::toggled, this, &frmSupportFile::chkPlayLogFiles_Click);
    connect(chkSendCart, &QCheckBox::toggled, this, &frmSupportFile::chkSendCart_Click);
    connect(listCarts, &QListWidget::itemSelectionChanged, this, &frmSupportFile::listCarts_Click);
    connect(cmdAddCart, &QToolButton::clicked, this, &frmSupportFile::cmdAddCart_Click);
    connect(cmdRemoveCart, &QToolButton::clicked, this, &frmSupportFile::cmdRemoveCart_Click);
    connect(cmdEditPerson, &QPushButton::clicked, this, &frmSupportFile::cmdEditPerson_Click);
    connect(cmdMakeFile, &QPushButton::clicked, this, &frmSupportFile::cmdMakeFile_Click);
    connect(cmdStop, &QToolButton::clicked, this, &frmSupportFile::cmdStop_Click);
    txtReason->installEventFilter(this);
    txtSupportID->installEventFilter(this);

    SupportFileGenerator* g = SupportFileGenerator1;
    connect(g, &SupportFileGenerator::CreateStarted, this,
            &frmSupportFile::SupportFileGenerator1_CreateStarted);
    connect(g, &SupportFileGenerator::CreateProgress, this,
            &frmSupportFile::SupportFileGenerator1_CreateProgress, Qt::DirectConnection);
    connect(g, &SupportFileGenerator::CreateFinished, this,
            &frmSupportFile::SupportFileGenerator1_CreateFinished);
    connect(g, &SupportFileGenerator::CreateError, this,
            &frmSupportFile::SupportFileGenerator1_CreateError);
    connect(g, &SupportFileGenerator::UploadStarted, this,
            &frmSupportFile::SupportFileGenerator1_UploadStarted);
    connect(g, &SupportFileGenerator::UploadProgress, this,
            &frmSupportFile::SupportFileGenerator1_UploadProgress, Qt::DirectConnection);
    connect(g, &SupportFileGenerator::UploadFinished, this,
            &frmSupportFile::SupportFileGenerator1_UploadFinished);
    connect(g, &SupportFileGenerator::UploadError, this,
            &frmSupportFile::SupportFileGenerator1_UploadError);
    connect(g, &SupportFileGenerator::Warning, this, &frmSupportFile::SupportFileGenerator1_Warning,
            Qt::DirectConnection);
    connect(g, &SupportFileGenerator::SaveFinished, this,
            &frmSupportFile::SupportFileGenerator1_SaveFinished);
    connect(g, &SupportFileGenerator::SaveError, this,
            &frmSupportFile::SupportFileGenerator1_SaveError);

    // Form_Load.
    txtReason->setPlainText(QString::fromLatin1(ReasonPlaceholder));
    if (backgroundColour.isValid()) {
        for (QWidget* widget : {static_cast<QWidget*>(this), m_page}) {
            QPalette palette = widget->palette();
            palette.setColor(QPalette::Window, backgroundColour);
            widget->setPalette(palette);
            widget->setAutoFillBackground(true);
        }
    }
    const QDate today = QDate::currentDate();
    chkLogFiles->setChecked(true);
    dtpLogsStartDate->setDate(today.addDays(-1));
    dtpLogsEndDate->setDate(today);
    chkPlayLogFiles->setChecked(true);
    dtpPlayLogsStartDate->setDate(today.addDays(-1));
    dtpPlayLogsEndDate->setDate(today);
    chkCartvault->setChecked(true);
    chkSendCart->setChecked(false);
    chkLogFiles_Click();
    chkPlayLogFiles_Click();
    chkSendCart_Click();
    txtReason->setFocus();
}

frmSupportFile::~frmSupportFile() = default;

void frmSupportFile::chkLogFiles_Click()
{
    const bool on = chkLogFiles->isChecked() && chkLogFiles->isEnabled();
    for (QWidget* widget :
         {static_cast<QWidget*>(dtpLogsStartDate), static_cast<QWidget*>(dtpLogsEndDate),
          static_cast<QWidget*>(lblLogsStartDateDesc), static_cast<QWidget*>(lblLogsEndDateDesc)}) {
        widget->setEnabled(on);
    }
}

void frmSupportFile::chkPlayLogFiles_Click()
{
    const bool on = chkPlayLogFiles->isChecked() && chkPlayLogFiles->isEnabled();
    for (QWidget* widget :
         {static_cast<QWidget*>(dtpPlayLogsStartDate), static_cast<QWidget*>(dtpPlayLogsEndDate),
          static_cast<QWidget*>(lblPlayLogsStartDateDesc),
          static_cast<QWidget*>(lblPlayLogsEndDateDesc)}) {
        widget->setEnabled(on);
    }
}

void frmSupportFile::PaintCartList(bool enabled)
{
    QPalette palette = listCarts->palette();
    palette.setColor(QPalette::Base,
                     VbColours::ToColor(enabled ? VbColours::Window : VbColours::ButtonFace));
    listCarts->setPalette(palette);
}

void frmSupportFile::chkSendCart_Click()
{
    const bool on = chkSendCart->isChecked();
    listCarts->setEnabled(on);
    PaintCartList(on);
    cmdAddCart->setEnabled(on);
    listCarts_Click();
}

void frmSupportFile::listCarts_Click()
{
    cmdRemoveCart->setEnabled(listCarts->isEnabled() && !listCarts->selectedItems().isEmpty());
}

void frmSupportFile::cmdAddCart_Click()
{
    PlayoutAudio* store = Globals::PlayoutAudio;
    const QString highest = store ? store->GetLastCart(0).trimmed() : QString();
    QString answer;
    if (GoodInputBox(QStringLiteral("Enter the Cart number that you want to include in the "
                                    "Support File"),
                     QStringLiteral("Add Cart"), QString(), qint32(highest.size()), answer, this,
                     QString(), true, kButtonFace, QIcon())) {
        return;
    }
    if (!store || !store->IsValidCart(answer)) {
        Exclaim(QStringLiteral("You must enter a valid Cart to include in the Support File"));
        return;
    }
    const QString trimmed = answer.trimmed();
    const double value = frmGoodInputBox::CaptionValue(answer);
    for (int row = 0; row < listCarts->count(); ++row) {
        if (frmGoodInputBox::CaptionValue(listCarts->item(row)->text()) == value) {
            Exclaim(QStringLiteral("Cart ") + trimmed +
                    QStringLiteral(" is already added to the list"));
            return;
        }
    }
    std::optional<Cart> cart;
    try {
        cart = store->GetCart(answer, 3, false);
    } catch (const ToolError& error) {
        AddToDebugLog(QStringLiteral("cmdAddCart_Click:GetCart failed - ") + error.Description(), 5,
                      ovNone);
    }
    if (!cart) {
        Exclaim(QStringLiteral("Cart ") + trimmed +
                QStringLiteral(" could not be read from the Cartvault"));
        return;
    }
    if (cart->Length < 0) {
        Exclaim(QStringLiteral("Cart ") + trimmed +
                QStringLiteral(" is empty so it cannot be included in the Support File"));
        return;
    }
    auto* item = new QListWidgetItem(answer + QStringLiteral("-") + cart->Title, listCarts);
    listCarts->scrollToItem(item, QAbstractItemView::PositionAtTop);
    listCarts->setCurrentItem(item);
    listCarts_Click();
}

void frmSupportFile::cmdRemoveCart_Click()
{
    const int row = listCarts->currentRow();
    if (row < 0 || !listCarts->item(row)->isSelected()) {
        return;
    }
    delete listCarts->takeItem(row);
    const qint32 next = GeneralFunctions::instance().ClampLong(row, -1, listCarts->count() - 1);
    if (next >= 0) {
        listCarts->setCurrentRow(next);
    } else {
        listCarts->clearSelection();
        listCarts->setCurrentRow(-1);
    }
    listCarts_Click();
}

void frmSupportFile::cmdEditPerson_Click()
{
    qint32 colour = kButtonFace;
    SupportFileGenerator1->Person().EditPersonalDetails(true, colour);
}

void frmSupportFile::cmdStop_Click()
{
    cmdStop->setEnabled(false);
    m_stopRequested = true;
    lblStatus->setText(QStringLiteral("Stopping..."));
}

void frmSupportFile::reject()
{
    if (m_busy) {
        Exclaim(QStringLiteral(
            "You cannot close this window while a support file is being generated/uploaded"));
        return;
    }
    QDialog::reject();
}

bool frmSupportFile::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_page && event->type() == QEvent::Resize) {
        PlaceStatus();
    } else if (watched == txtReason) {
        if (event->type() == QEvent::FocusIn) {
            if (txtReason->toPlainText().contains(QString::fromLatin1(ReasonPlaceholder),
                                                  Qt::CaseInsensitive)) {
                txtReason->selectAll();
            }
            // Enter makes a new line in the reason.
            cmdMakeFile->setDefault(false);
        } else if (event->type() == QEvent::FocusOut) {
            cmdMakeFile->setDefault(true);
        }
    } else if (watched == txtSupportID) {
        if (event->type() == QEvent::FocusIn) {
            // After the click that gave the focus, which would place the cursor.
            QTimer::singleShot(0, txtSupportID, [this] {
                ControlFunctions::instance().SelectAllText(txtSupportID);
            });
        } else if (event->type() == QEvent::KeyPress) {
            auto* key = static_cast<QKeyEvent*>(event);
            switch (key->key()) {
            case Qt::Key_Return:
            case Qt::Key_Enter:
            case Qt::Key_Escape:
            case Qt::Key_Tab:
            case Qt::Key_Backtab:
            case Qt::Key_Delete:
                break;
            default:
                if (!key->text().isEmpty() &&
                    GeneralFunctions::instance().FilterKey(key->text().at(0).unicode(), 1) == 0) {
                    return true;
                }
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

void frmSupportFile::PlaceStatus()
{
    const QRect area = m_page->rect();
    const int width = qMax(200, area.width() - 80);
    const int height = qMax(pnlStatus->sizeHint().height(), 96);
    pnlStatus->setGeometry(area.center().x() - width / 2, area.center().y() - height / 2, width,
                           height);
}

void frmSupportFile::ShowStatus(const QString& caption)
{
    lblStatus->setText(caption);
    prgProgress->setValue(0);
    cmdStop->setEnabled(true);
    PlaceStatus();
    pnlStatus->show();
    pnlStatus->raise();
}

void frmSupportFile::HideStatus()
{
    pnlStatus->hide();
    lblStatus->clear();
    prgProgress->setValue(0);
    cmdStop->setEnabled(true);
}

void frmSupportFile::EnableReason(bool enabled)
{
    txtReason->setEnabled(enabled);
    const QPalette standard = QApplication::palette(txtReason);
    QPalette palette = txtReason->palette();
    palette.setColor(QPalette::Base,
                     standard.color(QPalette::Active, enabled ? QPalette::Base : QPalette::Button));
    txtReason->setPalette(palette);
}

void frmSupportFile::LockWindow()
{
    cmdMakeFile->setEnabled(false);
    cmdEditPerson->setEnabled(false);
    listCarts->setEnabled(false);
    PaintCartList(false);
    chkLogFiles->setEnabled(false);
    chkPlayLogFiles->setEnabled(false);
    chkLogFiles_Click();
    chkPlayLogFiles_Click();
    ControlFunctions::instance().EnableTextBox(txtSupportID, false);
    EnableReason(false);
    fraReason->setEnabled(false);
    fraInformation->setEnabled(false);
}

void frmSupportFile::UnlockWindow()
{
    HideStatus();
    m_busy = false;
    cmdMakeFile->setEnabled(true);
    cmdEditPerson->setEnabled(true);
    ControlFunctions::instance().EnableTextBox(txtSupportID, true);
    EnableReason(true);
    fraReason->setEnabled(true);
    fraInformation->setEnabled(true);
    chkLogFiles->setEnabled(true);
    chkPlayLogFiles->setEnabled(true);
    chkSendCart_Click();
    chkLogFiles_Click();
    chkPlayLogFiles_Click();
    unsetCursor();
}

bool frmSupportFile::ExportCarts(QStringList& targets)
{
    // The transport files go into a folder of our own: beside the cart's audio they could
    // replace (and then delete) a file of the same name that the store keeps there.
    m_exportFolder = std::make_unique<QTemporaryDir>(QDir::tempPath() +
                                                     QStringLiteral("/cartfeeder-carts-XXXXXX"));
    FileFunctions& files = FileFunctions::instance();
    PlayoutAudio* store = Globals::PlayoutAudio;
    for (int row = 0; row < listCarts->count(); ++row) {
        qint32 next = 0;
        const QString cart = GeneralFunctions::instance().ExtractToken(
            listCarts->item(row)->text(), 1, QStringLiteral("-"), next, true, true);
        bool ok = false;
        if (store && m_exportFolder->isValid()) {
            try {
                const QString audioPath = store->GetCartAudioPath(cart, 0, true);
                QString base = files.GetFileTitle(audioPath);
                if (base.isEmpty()) {
                    base = cart.trimmed();
                }
                const QString target = m_exportFolder->filePath(base + QStringLiteral(".zip"));
                targets.append(target);
                ok = store->ExportCart(this, cart, target, nullptr, 0, QString(), true, false);
            } catch (const ToolError& error) {
                AddToDebugLog(QStringLiteral("cmdMakeFile_Click:ExportCart failed - ") +
                                  error.Description(),
                              5, ovNone);
                ok = false;
            }
        }
        if (!ok) {
            Exclaim(QStringLiteral("Cart ") + cart.trimmed() +
                    QStringLiteral(" could not be included"));
            return false;
        }
        SupportFileGenerator1->AddFile(targets.last());
    }
    return true;
}

void frmSupportFile::cmdMakeFile_Click()
{
    if (!cmdMakeFile->isEnabled()) {
        return;
    }
    const QString reason = txtReason->toPlainText();
    if (reason.trimmed().isEmpty() ||
        reason.contains(QString::fromLatin1(ReasonPlaceholder), Qt::CaseInsensitive)) {
        Exclaim(QStringLiteral("You must give a reason for this sending this Support File"));
        txtReason->setFocus();
        return;
    }
    if (chkSendCart->isChecked() && listCarts->count() == 0) {
        Exclaim(QStringLiteral("You must add at least one cart that you want to send, or "
                               "de-select the 'Include Audio...' option"));
        cmdAddCart->setFocus();
        return;
    }
    const QString supportID = txtSupportID->text();
    if (supportID.trimmed().isEmpty()) {
        const QString question =
            QStringLiteral("You should enter a Support ID from Orvane Technical Support before "
                           "you create this Support File.\nIf you do not have one, you should "
                           "email ") +
            QString::fromLatin1(SupportLinks::EmailAddress) +
            QStringLiteral(" and you will recieve a code by automated reply.\n\nDo you want to "
                           "continue?");
        if (MessageBox::Show(question, MsgBoxStyle::YesNo | MsgBoxStyle::Question |
                                           MsgBoxStyle::DefaultButton2) == MsgBoxResult::No) {
            txtSupportID->setFocus();
            return;
        }
    }

    m_busy = true;
    m_stopRequested = false;
    setCursor(Qt::WaitCursor);
    ShowStatus(QStringLiteral("Preparing..."));
    LockWindow();

    SupportFileGenerator& generator = *SupportFileGenerator1;
    generator.LineSeparator = QStringLiteral("\r\n");
    generator.CfgFileSection = QStringLiteral("corvellav3");
    generator.ClearFiles();
    generator.ClearRegistryKeys();
    generator.SupportIDTag.clear();
    if (!supportID.trimmed().isEmpty()) {
        generator.SupportIDTag = QStringLiteral("[ORV") + supportID + QStringLiteral("]");
    }
    const QVersionNumber version =
        QVersionNumber::fromString(QCoreApplication::applicationVersion());
    generator.Title = QStringLiteral("%1 v%2.%3.%4 Support File")
                          .arg(QCoreApplication::applicationName())
                          .arg(version.majorVersion())
                          .arg(version.minorVersion())
                          .arg(version.microVersion());
    generator.Reason = reason;
    generator.AddRegistryKey(Hive::LocalMachine, QStringLiteral("SOFTWARE\\Orvane"));

    auto addAll = [&generator](const QStringList& files) {
        if (!ArrayIsEmpty(files)) {
            for (const QString& file : files) {
                generator.AddFile(file);
            }
        }
    };
    if (chkLogFiles->isChecked()) {
        addAll(
            GetAppLogFiles(DayNumber(dtpLogsStartDate->date()), DayNumber(dtpLogsEndDate->date())));
    }
    if (chkPlayLogFiles->isChecked() && Globals::PlayoutLogging) {
        addAll(Globals::PlayoutLogging->GetLogFiles(DayNumber(dtpPlayLogsStartDate->date()),
                                                    DayNumber(dtpPlayLogsEndDate->date())));
    }
    const QString playoutIni =
        SystemInfoFunctions::instance().GetSystemFolder() + QStringLiteral("/CORVELLA.INI");
    if (FileFunctions::instance().GetFileSize(playoutIni) > 0) {
        generator.AddFile(playoutIni);
    }
    if (PlayoutGeneral* general = Globals::PlayoutGeneral) {
        if (!general->GetComponentText(1).isEmpty()) {
            addAll(general->GetFileList(1));
        }
        if (chkCartvault->isChecked()) {
            addAll(general->GetFileList(256));
        }
    }

    QStringList targets;
    if (chkSendCart->isChecked() && !ExportCarts(targets)) {
        HideStatus();
        m_exportFolder.reset();
        UnlockWindow();
        return;
    }

    qint32 result = SupportFileGenerator::ContactNeeded;
    do {
        result = generator.CreateSupportFile(true);
        if (result == SupportFileGenerator::ContactNeeded) {
            qint32 colour = kButtonFace;
            if (!generator.Person().EditPersonalDetails(true, colour)) {
                break;
            }
        }
    } while (result == SupportFileGenerator::ContactNeeded);

    unsetCursor();
    if (result == SupportFileGenerator::Created) {
        SendOrSaveSupportFile();
    }
    generator.Finish();

    if (chkSendCart->isChecked()) {
        for (const QString& target : std::as_const(targets)) {
            if (FileFunctions::instance().GetFileSize(target) >= 0) {
                QFile::remove(target);
            }
        }
    }
    m_exportFolder.reset();
    UnlockWindow();
}

void frmSupportFile::SendOrSaveSupportFile()
{
    SupportFileGenerator& generator = *SupportFileGenerator1;
    if (MessageBox::Show(QStringLiteral("Do you want to automatically upload this Support File to "
                                        "Orvane?\n\nNote that you must be connected to the "
                                        "internet before clicking 'Yes'"),
                         MsgBoxStyle::YesNo | MsgBoxStyle::Question) == MsgBoxResult::No) {
        generator.SaveSupportFile();
        return;
    }
    setCursor(Qt::WaitCursor);
    QString reply;
    qint32 result = 0;
    bool again = false;
    do {
        again = false;
        result = generator.UploadSupportFile(generator.UploadText(), reply);
        qint32 colour = kButtonFace;
        switch (result) {
        case 0:
        case 5:
            break;
        case 1:
            Exclaim(QStringLiteral("You can not upload a support file because a connection to "
                                   "the Internet could not be found.") +
                    kClosingLines);
            break;
        case 6:
            Exclaim(QStringLiteral("You can not upload a support file because the information "
                                   "could not be read to determine where to upload the Support "
                                   "File to.") +
                    kClosingLines);
            break;
        case 9:
            Exclaim(QStringLiteral(
                "You must enter a valid email address to send the support file to Orvane"));
            again = generator.Person().EditPersonalDetails(true, colour);
            break;
        case 13:
            Exclaim(QStringLiteral("You can not upload a support file because your email address "
                                   "has been blocked.") +
                    kClosingLines);
            again = generator.Person().EditPersonalDetails(true, colour);
            break;
        case 14:
            Exclaim(QStringLiteral("You can not upload a support file because your ORVUID has been "
                                   "blocked.") +
                    kClosingLines);
            break;
        default:
            break;
        }
    } while (again);
    unsetCursor();
    if (result != 0 && result != 5) {
        generator.SaveSupportFile();
    }
}

void frmSupportFile::SupportFileGenerator1_CreateStarted()
{
    ShowStatus(QStringLiteral("Creating..."));
}

void frmSupportFile::SupportFileGenerator1_CreateProgress(float percent, bool& cancel)
{
    prgProgress->setValue(qBound(0, qRound(percent), 100));
    cancel = m_stopRequested;
}

void frmSupportFile::SupportFileGenerator1_CreateFinished(const QString& path)
{
    HideStatus();
}

void frmSupportFile::SupportFileGenerator1_CreateError(qint32 number, const QString& description)
{
    bool silent = false;
    ReportError(QStringLiteral("creating the Support File - ") + description, 0, silent);
    HideStatus();
}

void frmSupportFile::SupportFileGenerator1_UploadStarted()
{
    ShowStatus(QStringLiteral("Sending..."));
}

void frmSupportFile::SupportFileGenerator1_UploadProgress(float percent, bool& cancel)
{
    // Lets Stop be clicked.
    QCoreApplication::processEvents();
    prgProgress->setValue(qBound(0, qRound(percent), 100));
    cancel = m_stopRequested;
}

void frmSupportFile::SupportFileGenerator1_UploadFinished()
{
    HideStatus();
    Inform(QStringLiteral("Your Support File has been successfully sent to Orvane"));
}

void frmSupportFile::SupportFileGenerator1_UploadError(qint32 number, const QString& description)
{
    bool silent = false;
    ReportError(QStringLiteral("uploading the Support File - ") + description, 0, silent);
    HideStatus();
}

void frmSupportFile::SupportFileGenerator1_Warning(quint32 code, bool& cancel)
{
    if (code != SupportFileGenerator::LargeFileWarning) {
        return;
    }
    if (MessageBox::Show(QStringLiteral("Caution - this Support File is quite large and may take "
                                        "some time to send.\n\nAre you sure you want to "
                                        "continue?"),
                         MsgBoxStyle::YesNo | MsgBoxStyle::Question) == MsgBoxResult::No) {
        cancel = true;
    }
}

void frmSupportFile::SupportFileGenerator1_SaveFinished(const QString& path)
{
    Inform(QStringLiteral("Your Support File has been successfully saved to ") + path);
}

void frmSupportFile::SupportFileGenerator1_SaveError(const QString& path,
                                                     const QString& description)
{
    Inform(QStringLiteral("There was a problem saving the Support File to ") + path +
           QStringLiteral(" and the Description of the error was:\n\n") + description);
}
