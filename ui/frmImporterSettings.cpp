#include "ui/frmImporterSettings.h"

#include "ui/HeadedFrame.h"

#include "engine/cImporter.h"
#include "framework/NumberText.h"
#include "platform/system/MessageBox.h"
#include "platform/system/widgets/ControlFunctions.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

namespace {

bool plainlyTicked(const QCheckBox* box)
{
    return box->checkState() == Qt::Checked;
}

void enableTextBox(QLineEdit* box, bool on)
{
    ControlFunctions::instance().EnableTextBox(box, on);
}

// A single's seven significant digits as plain decimal text with "." (what LeadingNumber reads
// back): 10000000, not 1e+07.
QString DecimalText(float value)
{
    QString text = QString::number(value, 'g', 7);
    if (!text.contains(u'e') || !std::isfinite(value)) {
        return text;
    }
    const double rounded = text.toDouble();
    const double magnitude = std::fabs(rounded);
    const int decimals = magnitude >= 1.0 ? 0 : 6 - int(std::floor(std::log10(magnitude)));
    text = QString::number(rounded, 'f', decimals);
    if (text.contains(u'.')) {
        while (text.endsWith(u'0')) {
            text.chop(1);
        }
        if (text.endsWith(u'.')) {
            text.chop(1);
        }
    }
    return text;
}

// Shows the password as "*", whatever mark the style would use.
class StarPasswordStyle : public QProxyStyle
{
public:
    using QProxyStyle::QProxyStyle;

    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override
    {
        if (hint == SH_LineEdit_PasswordCharacter) {
            return '*';
        }
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

} // namespace

frmImporterSettings::frmImporterSettings(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName(QStringLiteral("frmImporterSettings"));
    setWindowTitle(QStringLiteral("Importer Settings"));

    // The heading sits on the frame's edge, outside the frame, which it enables.
    chkEnableEmail =
        new QCheckBox(QStringLiteral("Allow e-mails to be sent as notifications:"), this);
    fraEmail = new HeadedFrame(chkEnableEmail, this);
    lblemailserverDesc = new QLabel(QStringLiteral("E-Mail Server address:"), fraEmail);
    txtEmailServer = new QLineEdit(fraEmail);
    chkEmailLogin =
        new QCheckBox(QStringLiteral("E-Mail server  requires Username and Password:"), fraEmail);
    lblEmailUserNameDesc = new QLabel(QStringLiteral("Username:"), fraEmail);
    txtEmailUsername = new QLineEdit(fraEmail);
    lblEmailPasswordDesc = new QLabel(QStringLiteral("Password:"), fraEmail);
    txtEmailPassword = new QLineEdit(fraEmail);
    txtEmailPassword->setEchoMode(QLineEdit::Password);
    // Created after the box, so the window releases it after the box.
    auto* passwordStyle = new StarPasswordStyle(QApplication::style()->name());
    passwordStyle->setParent(this);
    txtEmailPassword->setStyle(passwordStyle);

    auto* email = new QGridLayout(fraEmail);
    email->addWidget(lblemailserverDesc, 0, 0, 1, 3);
    email->addWidget(txtEmailServer, 1, 0, 1, 3);
    email->addWidget(chkEmailLogin, 2, 0, 1, 3);
    email->addWidget(lblEmailUserNameDesc, 3, 1);
    email->addWidget(txtEmailUsername, 3, 2);
    email->addWidget(lblEmailPasswordDesc, 4, 1);
    email->addWidget(txtEmailPassword, 4, 2);
    email->setColumnMinimumWidth(0, 12);
    email->setColumnStretch(2, 1);

    fraOtherOptions = new QGroupBox(QStringLiteral("Other Options:"), this);
    lblCheckInterval = new QLabel(QStringLiteral("Check the groups every:"), fraOtherOptions);
    txtCheckInterval = new QLineEdit(fraOtherOptions);
    txtCheckInterval->setFixedWidth(
        txtCheckInterval->fontMetrics().horizontalAdvance(QStringLiteral("0000000000")) + 12);
    lblCheckIntervalSecs = new QLabel(QStringLiteral("seconds."), fraOtherOptions);
    chkMinimiseToSysTray =
        new QCheckBox(QStringLiteral("Minimise to the System Tray"), fraOtherOptions);
    auto* interval = new QHBoxLayout;
    interval->addWidget(lblCheckInterval);
    interval->addWidget(txtCheckInterval);
    interval->addWidget(lblCheckIntervalSecs);
    interval->addStretch();
    auto* other = new QVBoxLayout(fraOtherOptions);
    other->addLayout(interval);
    other->addWidget(chkMinimiseToSysTray);

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
    layout->addWidget(fraEmail);
    layout->addSpacing(4);
    layout->addWidget(fraOtherOptions);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    setMinimumWidth(420); // Every control answers to its name.
#define CF_NAME(widget) (widget)->setObjectName(QStringLiteral(#widget))
    CF_NAME(chkEnableEmail);
    CF_NAME(fraEmail);
    CF_NAME(lblemailserverDesc);
    CF_NAME(txtEmailServer);
    CF_NAME(chkEmailLogin);
    CF_NAME(lblEmailUserNameDesc);
    CF_NAME(txtEmailUsername);
    CF_NAME(lblEmailPasswordDesc);
    CF_NAME(txtEmailPassword);
    CF_NAME(fraOtherOptions);
    CF_NAME(lblCheckInterval);
    CF_NAME(txtCheckInterval);
    CF_NAME(lblCheckIntervalSecs);
    CF_NAME(chkMinimiseToSysTray);
    CF_NAME(cmdOK);
    CF_NAME(cmdCancel);
#undef CF_NAME

    // As designed, before the stored settings are shown.
    for (QWidget* w : std::initializer_list<QWidget*>{fraEmail, lblemailserverDesc, chkEmailLogin,
                                                      lblEmailUserNameDesc, lblEmailPasswordDesc}) {
        w->setEnabled(false);
    }
    for (QLineEdit* box : {txtEmailServer, txtEmailUsername, txtEmailPassword}) {
        enableTextBox(box, false);
    }

    connect(chkEnableEmail, &QCheckBox::stateChanged, this,
            &frmImporterSettings::chkEnableEmail_Click);
    connect(chkEmailLogin, &QCheckBox::stateChanged, this,
            &frmImporterSettings::chkEmailLogin_Click);
    connect(cmdOK, &QPushButton::clicked, this, &frmImporterSettings::cmdOK_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmImporterSettings::cmdCancel_Click);
    for (QLineEdit* box : {txtCheckInterval, txtEmailServer, txtEmailUsername, txtEmailPassword}) {
        box->installEventFilter(this);
    }
}

bool frmImporterSettings::DisplayImporter(cImporter* clsImporter)
{
    if (!clsImporter) {
        return false;
    }
    m_cancelled = false;

    txtCheckInterval->setText(DecimalText(clsImporter->CheckInterval));
    chkMinimiseToSysTray->setChecked(clsImporter->MinimiseToSysTray);
    chkEnableEmail->setChecked(clsImporter->SMTPEmailEnabled());
    txtEmailServer->setText(clsImporter->SMTPServerAddress());
    chkEmailLogin->setChecked(!clsImporter->SMTPLoginName().isEmpty());
    txtEmailUsername->setText(clsImporter->SMTPLoginName());
    txtEmailPassword->setText(clsImporter->SMTPPassword());

    exec();

    bool result = false;
    if (!m_cancelled) {
        clsImporter->setSMTPEmailEnabled(plainlyTicked(chkEnableEmail));
        clsImporter->setSMTPServerAddress(txtEmailServer->text().trimmed());
        if (chkEmailLogin->checkState() != Qt::Unchecked) {
            clsImporter->setSMTPLoginName(txtEmailUsername->text().trimmed());
            clsImporter->setSMTPPassword(txtEmailPassword->text().trimmed());
        } else {
            clsImporter->setSMTPLoginName(QString());
            clsImporter->setSMTPPassword(QString());
        }
        clsImporter->CheckInterval = static_cast<float>(LeadingNumber(txtCheckInterval->text()));
        clsImporter->MinimiseToSysTray = chkMinimiseToSysTray->checkState() != Qt::Unchecked;
        result = true;
    }
    hide();
    return result;
}

void frmImporterSettings::chkEnableEmail_Click()
{
    const bool on = chkEnableEmail->checkState() != Qt::Unchecked;
    fraEmail->setEnabled(on);
    lblemailserverDesc->setEnabled(on);
    enableTextBox(txtEmailServer, on);
    chkEmailLogin->setEnabled(on);
    chkEmailLogin_Click();
}

void frmImporterSettings::chkEmailLogin_Click()
{
    const bool on = chkEmailLogin->isEnabledTo(this) && plainlyTicked(chkEmailLogin);
    lblEmailUserNameDesc->setEnabled(on);
    enableTextBox(txtEmailUsername, on);
    lblEmailPasswordDesc->setEnabled(on);
    enableTextBox(txtEmailPassword, on);
}

void frmImporterSettings::cmdOK_Click()
{
    if (plainlyTicked(chkEnableEmail)) {
        if (txtEmailServer->text().trimmed().isEmpty()) {
            MessageBox::Show(
                QStringLiteral("You must enter the name or IP address of an SMTP e-mail server"),
                MsgBoxStyle::OKOnly | MsgBoxStyle::Exclamation);
            return;
        }
        if (plainlyTicked(chkEmailLogin) && txtEmailUsername->text().trimmed().isEmpty()) {
            MessageBox::Show(
                QStringLiteral("You must enter the Username required by your e-mail server"),
                MsgBoxStyle::OKOnly | MsgBoxStyle::Exclamation);
            return;
        }
    }
    hide();
}

void frmImporterSettings::cmdCancel_Click()
{
    m_cancelled = true;
    hide();
}

void frmImporterSettings::reject()
{
    // Esc presses Cancel.
    cmdCancel_Click();
}

void frmImporterSettings::closeEvent(QCloseEvent* event)
{
    // The close box acts as Cancel.
    event->ignore();
    cmdCancel_Click();
}

bool frmImporterSettings::eventFilter(QObject* watched, QEvent* event)
{
    auto* box = qobject_cast<QLineEdit*>(watched);
    if (!box) {
        return QDialog::eventFilter(watched, event);
    }
    if (event->type() == QEvent::FocusIn) {
        if (static_cast<QFocusEvent*>(event)->reason() == Qt::MouseFocusReason) {
            // The click that gave the focus would place the cursor and drop the selection.
            QTimer::singleShot(0, box, [box] { ControlFunctions::instance().SelectAllText(box); });
        } else {
            ControlFunctions::instance().SelectAllText(box);
        }
    } else if (box == txtEmailServer && event->type() == QEvent::KeyPress &&
               static_cast<QKeyEvent*>(event)->text() == QLatin1String(" ")) {
        // No blank can be typed into the server's name.
        return true;
    }
    return QDialog::eventFilter(watched, event);
}
