#include "toolwindows/frmAbout.h"

#include "platform/system/FileFunctions.h"
#include "platform/system/MessageBox.h"
#include "platform/system/PlatformPaths.h"
#include "platform/system/RegistryFunctions.h"
#include "platform/system/ToolError.h"
#include "toolwindows/SupportLinks.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QMouseEvent>
#include <QPixmap>
#include <QProcess>
#include <QPushButton>
#include <QSoundEffect>
#include <QStyle>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <QVersionNumber>

namespace {

// The short date, then the time with seconds unless it is exactly midnight.
QString GeneralDate(const QDateTime& at)
{
    const QLocale locale = QLocale::system();
    const QString date = locale.toString(at.date(), QLocale::ShortFormat);
    if (at.time().hour() == 0 && at.time().minute() == 0 && at.time().second() == 0) {
        return date;
    }
    QString timeFormat = locale.timeFormat(QLocale::LongFormat);
    // The long format may name the time zone, which the general date never shows.
    timeFormat.remove(QLatin1Char('t'));
    return date + QLatin1Char(' ') + locale.toString(at.time(), timeFormat.trimmed());
}

QLabel* LinkLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    QFont font = label->font();
    font.setUnderline(true);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::Link));
    label->setPalette(palette);
    label->setCursor(Qt::PointingHandCursor);
    return label;
}

} // namespace

frmAbout::frmAbout(QWidget* parent, const QString& programFolder, const QString& exeName)
    : QDialog(parent)
{
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    OpenUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    StartProgram = [](const QString& program) { return QProcess::startDetached(program, {}); };

    // Form_Initialize.
    FileFunctions& files = FileFunctions::instance();
    const QString folder = programFolder.isEmpty() ? PlatformPaths::ProgramFolder() : programFolder;
    const QString exe =
        exeName.isEmpty() ? QFileInfo(QCoreApplication::applicationFilePath()).fileName() : exeName;
    m_exePath = folder + QStringLiteral("/") + exe;
    m_soundFile = folder + QStringLiteral("/") + files.GetFileTitle(exe) + QStringLiteral(".abt");
    const QString logo = folder + QStringLiteral("/about.bmp");
    LogoFilename = files.FileExists(logo) ? logo : QString();

    // Design.
    picLogo = new QLabel(this);
    picLogo->setObjectName("picLogo");
    picLogo->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    picLogo->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(64, 64));
    picLogo->setMinimumSize(72, 72);
    picLogo->installEventFilter(this);

    lblProductNameDesc = new QLabel(this);
    QFont titleFont = lblProductNameDesc->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.6);
    titleFont.setBold(true);
    lblProductNameDesc->setFont(titleFont);
    lblVersion = new QLabel(this);
    lblCopyright = new QLabel(tr("Copyright \u00A9 Orvane. All rights reserved."), this);
    lblSupportDesc = new QLabel(tr("Support Website:"), this);
    lblSupportWeb = LinkLabel(QString::fromLatin1(SupportLinks::WebPage), this);
    lblSupportEmailDesc = new QLabel(tr("Support e-mail:"), this);
    lblSupportEmail = LinkLabel(QString::fromLatin1(SupportLinks::EmailAddress), this);
    lblSupportWeb->installEventFilter(this);
    lblSupportEmail->installEventFilter(this);
    lblDisclaimer = new QLabel(
        tr("Warning: this computer program is protected by copyright law and international "
           "treaties. Unauthorised reproduction or distribution of this program, or any portion "
           "of it, may result in severe civil and criminal penalties, and will be prosecuted to "
           "the maximum extent possible under the law."),
        this);
    lblDisclaimer->setWordWrap(true);
    QFont smallFont = lblDisclaimer->font();
    smallFont.setPointSizeF(smallFont.pointSizeF() * 0.85);
    lblDisclaimer->setFont(smallFont);

    cmdOK = new QPushButton(tr("OK"), this);
    cmdOK->setDefault(true);
    cmdSysInfo = new QToolButton(this);
    cmdSysInfo->setIcon(style()->standardIcon(QStyle::SP_ComputerIcon));
    cmdSysInfo->setIconSize(QSize(24, 24));
    cmdSysInfo->setToolTip(tr("System Information"));
    cmdSysInfo->setAutoRaise(true);
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(cmdSysInfo, &QToolButton::clicked, this, &frmAbout::StartSysInfo);

    auto* links = new QGridLayout;
    links->addWidget(lblSupportDesc, 0, 0);
    links->addWidget(lblSupportWeb, 0, 1);
    links->addWidget(lblSupportEmailDesc, 1, 0);
    links->addWidget(lblSupportEmail, 1, 1);
    links->setColumnStretch(2, 1);

    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);

    auto* text = new QVBoxLayout;
    text->addWidget(lblProductNameDesc);
    text->addWidget(lblVersion);
    text->addWidget(lblCopyright);
    text->addSpacing(8);
    text->addLayout(links);
    text->addStretch(1);

    auto* top = new QHBoxLayout;
    top->addWidget(picLogo);
    top->addSpacing(12);
    top->addLayout(text, 1);

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdSysInfo, 0, Qt::AlignHCenter);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(lblDisclaimer, 1);
    bottom->addSpacing(12);
    bottom->addLayout(buttons);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(line);
    layout->addLayout(bottom);
    setMinimumWidth(480);

    // Form_Load.
    if (!LogoFilename.isEmpty() && files.FileExists(LogoFilename)) {
        QPixmap picture;
        if (picture.load(LogoFilename)) {
            picLogo->setPixmap(picture);
            picLogo->setMinimumSize(picture.size());
        }
    }
    const QString product = QCoreApplication::applicationName();
    setWindowTitle(QStringLiteral("About ") + product);
    lblProductNameDesc->setText(product);
    const QVersionNumber version =
        QVersionNumber::fromString(QCoreApplication::applicationVersion());
    QString versionText = QStringLiteral("Version %1.%2.%3")
                              .arg(version.majorVersion())
                              .arg(version.minorVersion())
                              .arg(version.microVersion());
    if (files.FileExists(m_exePath)) {
        versionText += QStringLiteral(" (Build Date: ") +
                       GeneralDate(QFileInfo(m_exePath).lastModified()) + QStringLiteral(")");
    }
    lblVersion->setText(versionText);
    if (SoundAvailable()) {
        picLogo->setCursor(Qt::PointingHandCursor);
    }
}

frmAbout::~frmAbout()
{
    // Qt's sample loader may still call a sound destroyed during its load: such a sound goes
    // once its load has ended.
    if (m_sound && m_sound->status() == QSoundEffect::Loading) {
        m_sound->setParent(nullptr);
        connect(m_sound, &QSoundEffect::statusChanged, m_sound, &QObject::deleteLater);
    }
}

bool frmAbout::SoundAvailable() const
{
    return FileFunctions::instance().GetFileSize(m_soundFile) > 0;
}

void frmAbout::picLogo_Click()
{
    if (!SoundAvailable()) {
        return;
    }
    if (!m_sound) {
        m_sound = new QSoundEffect(this);
    }
    m_sound->stop();
    m_sound->setSource(QUrl::fromLocalFile(m_soundFile));
    m_sound->play();
}

void frmAbout::done(int result)
{
    if (m_sound) {
        m_sound->stop();
    }
    QDialog::done(result);
}

void frmAbout::Open(const QString& address)
{
    setCursor(Qt::WaitCursor);
    OpenUrl(QUrl(address, QUrl::TolerantMode));
    unsetCursor();
}

void frmAbout::lblSupportEmail_Click()
{
    Open(QStringLiteral("mailto:") + lblSupportEmail->text() + QStringLiteral("?subject=") +
         QCoreApplication::applicationName() + QLatin1Char(' ') + lblVersion->text());
}

void frmAbout::lblSupportWeb_Click()
{
    Open(lblSupportWeb->text());
}

bool frmAbout::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        if (watched == picLogo) {
            picLogo_Click();
        } else if (watched == lblSupportWeb) {
            lblSupportWeb_Click();
        } else if (watched == lblSupportEmail) {
            lblSupportEmail_Click();
        }
    }
    return QDialog::eventFilter(watched, event);
}

void frmAbout::StartSysInfo()
{
    setCursor(Qt::WaitCursor);
    bool started = false;
    try {
        QString path;
        QString value;
        if (GetKeyValue(qint32(Hive::LocalMachine),
                        QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO"),
                        QStringLiteral("PATH"), value)) {
            path = value;
        } else if (GetKeyValue(qint32(Hive::LocalMachine),
                               QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools Location"),
                               QStringLiteral("MSINFO"), value)) {
            const QString file = value + QStringLiteral("/MSINFO32.EXE");
            if (FileFunctions::instance().FileExists(file)) {
                path = file;
            }
        }
        if (!path.isEmpty()) {
            started = StartProgram(path);
        }
    } catch (const std::exception&) {
        started = false;
    }
    unsetCursor();
    if (!started) {
        MessageBox::Show(QStringLiteral("System Information Is Unavailable At This Time"),
                         MsgBoxStyle::OKOnly);
    }
}

bool frmAbout::GetKeyValue(qint32 KeyRoot, const QString& KeyName, const QString& SubKeyRef,
                           QString& KeyVal)
{
    KeyVal.clear();
    // No stored value can hold a NUL, so this tells a missing value from an empty one.
    const QString missing(QChar(0));
    QString value;
    try {
        value =
            RegistryFunctions::instance().ReadString(quint32(KeyRoot), KeyName, SubKeyRef, missing);
    } catch (const ToolError&) {
        return false;
    }
    // The value must fit the 1024-character buffer the value is read into.
    if (value == missing || value.size() >= 1024) {
        return false;
    }
    KeyVal = value;
    return true;
}
