#include "framework/widgets/frmSplash.h"

#include "framework/SplashLayout.h"
#include "platform/system/FileFunctions.h"
#include "platform/system/PlatformPaths.h"
#include "platform/system/SystemInfoFunctions.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QVersionNumber>

static void InitSplashResources()
{
    // The pictures live in a static library, whose resource initialiser the linker would drop.
    Q_INIT_RESOURCE(splash);
}

namespace {

frmSplash* g_instance = nullptr;

const char* const kIconKeys[] = {"playouton", "validateon", "security",     "securityon",
                                 "local",     "localon",    "opendatabase", "opendatabaseon",
                                 "playout",   "validate"};

} // namespace

frmSplash::frmSplash(const QString& programFolder, const QString& exeTitle)
    : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint)
{
    InitSplashResources();
    setAttribute(Qt::WA_ShowWithoutActivating);
    setWindowTitle(QCoreApplication::applicationName());
    if (QScreen* screen = this->screen()) {
        m_dpi = screen->logicalDotsPerInchY();
    }

    const QString folder = programFolder.isEmpty() ? PlatformPaths::ProgramFolder() : programFolder;
    const QString title =
        exeTitle.isEmpty()
            ? FileFunctions::instance().GetFileTitle(QCoreApplication::applicationFilePath())
            : exeTitle;
    LogoFilename = SplashLayout::FindLogoFile(folder, title);

    m_picture.load(QStringLiteral(":/splash/background.png"));
    for (const char* key : kIconKeys) {
        imgIconList.insert(QString::fromLatin1(key),
                           QPixmap(QStringLiteral(":/splash/%1.png").arg(QLatin1String(key))));
    }

    // Design: labels over the picture, light on dark.
    lblVersion = MakeLabel(300, 1920, 3000, 270, 9, Qt::AlignLeft, "#ffffff");
    lblCompany = MakeLabel(300, 2190, 3000, 270, 8, Qt::AlignLeft, "#c8dcf0");
    lblCopyright = MakeLabel(300, 2460, 3000, 270, 8, Qt::AlignLeft, "#c8dcf0");
    lblCopyright->setText(tr("All rights reserved."));
    lblPlatform = MakeLabel(3300, 1920, 2520, 270, 9, Qt::AlignRight, "#ffffff");
    lblPlatform->setText(QStringLiteral("Linux"));
    lblPlatformSP = MakeLabel(2700, 2190, 3120, 270, 8, Qt::AlignRight, "#c8dcf0");
    lblStatus = MakeLabel(300, 3120, 5520, 270, 8, Qt::AlignLeft, "#ffe9a8");

    LoadIconElement(0);
    imgIcon[0]->hide();
    lblIconDescription[0]->hide();

    // Load.
    if (!LogoFilename.isEmpty() && FileFunctions::instance().FileExists(LogoFilename)) {
        QImage logo;
        if (logo.load(LogoFilename)) {
            m_picture = logo;
        }
    }
    QVersionNumber version = QVersionNumber::fromString(QCoreApplication::applicationVersion());
    lblVersion->setText(QStringLiteral("Version %1.%2.%3")
                            .arg(version.majorVersion())
                            .arg(version.minorVersion())
                            .arg(version.microVersion()));
    lblCompany->setText(QCoreApplication::organizationName() + QLatin1Char(' '));
    const OSVersionInfo os = SystemInfoFunctions::instance().GetOSVersion();
    if (const auto platform = SplashLayout::PlatformCaption(os)) {
        lblPlatform->setText(*platform);
    }
    if (const auto servicePack = SplashLayout::ServicePackCaption(os)) {
        lblPlatformSP->setText(*servicePack);
    }
    setFixedWidth(ToPixels(DesignWidth));
    setNumberIcons(0);
}

frmSplash::~frmSplash()
{
    if (g_instance == this) {
        g_instance = nullptr;
    }
}

frmSplash* frmSplash::Load()
{
    if (!g_instance) {
        g_instance = new frmSplash();
    }
    return g_instance;
}

frmSplash* frmSplash::Loaded()
{
    return g_instance;
}

void frmSplash::Unload()
{
    if (frmSplash* splash = g_instance) {
        splash->setNumberIcons(0);
        splash->setLastIconChangedIndex(0);
        g_instance = nullptr;
        splash->hide();
        delete splash;
    }
}

QLabel* frmSplash::MakeLabel(double left, double top, double width, double height, int pointSize,
                             Qt::Alignment alignment, const QString& colour)
{
    auto* label = new QLabel(this);
    label->setGeometry(ToPixels(left), ToPixels(top), ToPixels(width), ToPixels(height));
    label->setAlignment(alignment | Qt::AlignVCenter);
    label->setAttribute(Qt::WA_TranslucentBackground);
    QFont font = label->font();
    font.setPointSize(pointSize);
    label->setFont(font);
    label->setStyleSheet(QStringLiteral("color: %1; background: transparent;").arg(colour));
    return label;
}

void frmSplash::LoadIconElement(int index)
{
    while (imgIcon.size() <= index) {
        auto* icon = new QLabel(this);
        icon->resize(ToPixels(IconSize), ToPixels(IconSize));
        icon->setAlignment(Qt::AlignCenter);
        icon->hide();
        imgIcon.append(icon);

        auto* caption = new QLabel(this);
        caption->resize(ToPixels(IconSize), ToPixels(CaptionHeight));
        caption->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        QFont font = caption->font();
        font.setPointSize(8);
        caption->setFont(font);
        caption->setStyleSheet(QStringLiteral("color: #1d3557;"));
        caption->hide();
        lblIconDescription.append(caption);
    }
}

double frmSplash::TwipsPerPixel() const
{
    return SplashLayout::TwipsPerPixel(m_dpi);
}

int frmSplash::ToPixels(double twips) const
{
    return SplashLayout::TwipsToPixels(twips, m_dpi);
}

double frmSplash::InnerWidthTwips() const
{
    return width() * TwipsPerPixel();
}

double frmSplash::PictureHeightTwips() const
{
    // A bitmap's natural size is its pixel size on the screen.
    return m_picture.height() * TwipsPerPixel();
}

void frmSplash::setFloating(bool newVal)
{
    m_floating = newVal;
    const bool wasVisible = isVisible();
    // Changing the flag hides the window; show it again where it was, without activating it.
    setWindowFlag(Qt::WindowStaysOnTopHint, newVal);
    if (wasVisible) {
        show();
    }
}

void frmSplash::SetCurrentAction(const QString& Action)
{
    lblStatus->setText(Action);
    // Start-up blocks the event loop between actions: paint now.
    lblStatus->repaint();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void frmSplash::setNumberIcons(qint16 value)
{
    const double pictureHeight = PictureHeightTwips();
    if (value > 0) {
        const SplashLayout::IconRow row = SplashLayout::LayoutIconRow(
            value, pictureHeight, InnerWidthTwips(), IconSize, CaptionHeight);
        setFixedHeight(ToPixels(row.WindowHeight));
        LoadIconElement(value);
        for (int i = 1; i <= value; ++i) {
            const SplashLayout::IconPlace& place = row.Places.at(i - 1);
            imgIcon[i]->move(ToPixels(place.IconLeft), ToPixels(place.IconTop));
            imgIcon[i]->show();
            lblIconDescription[i]->setGeometry(
                ToPixels(place.CaptionLeft), ToPixels(place.CaptionTop),
                ToPixels(place.CaptionWidth), ToPixels(CaptionHeight));
            lblIconDescription[i]->show();
        }
        for (int i = value + 1; i < imgIcon.size(); ++i) {
            imgIcon[i]->clear();
            imgIcon[i]->hide();
            lblIconDescription[i]->hide();
        }
    } else {
        for (int i = 1; i < imgIcon.size(); ++i) {
            imgIcon[i]->clear();
            imgIcon[i]->hide();
            lblIconDescription[i]->clear();
        }
        setFixedHeight(ToPixels(pictureHeight));
        value = 0;
    }
    m_numberIcons = value;
}

void frmSplash::SetIconInfo(qint16 IconIndex, const QString& IconReference,
                            const QString& IconDescription)
{
    if (IconIndex < 1 || IconIndex > m_numberIcons) {
        return;
    }
    const auto picture = imgIconList.constFind(IconReference);
    if (picture != imgIconList.constEnd()) {
        imgIcon[IconIndex]->setPixmap(*picture);
        imgIcon[IconIndex]->repaint();
    }
    lblIconDescription[IconIndex]->setText(IconDescription);
    m_lastIconChangedIndex = IconIndex;
}

void frmSplash::ShowAndYield()
{
    show();
    QCoreApplication::processEvents();
}

void frmSplash::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(0xee, 0xf2, 0xf6));
    painter.drawImage(0, 0, m_picture);
}
