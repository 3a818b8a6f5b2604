#include "framework/SplashLayout.h"
#include "framework/widgets/frmSplash.h"
#include "tests/support/TempHome.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <gtest/gtest.h>

using namespace SplashLayout;

namespace {

void Touch(const QString& path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("BM");
}

TEST(SplashLayout, IconRowArithmetic)
{
    // Three icons in 6,120 twips: slots of 2,000, icon 2 centred on 3,060.
    const IconRow row = LayoutIconRow(3, 3600, 6120, 480, 255);
    EXPECT_EQ(row.SlotWidth, 2000);
    EXPECT_EQ(row.WindowHeight, 4800);
    ASSERT_EQ(row.Places.size(), 3);
    EXPECT_EQ(row.Places[1].IconLeft + 480 / 2, 3060);
    EXPECT_EQ(row.Places[1].CaptionLeft + row.Places[1].CaptionWidth / 2, 3060);
    EXPECT_EQ(row.Places[0].IconLeft, 60 + (2000 - 480) / 2);
    for (const IconPlace& place : row.Places) {
        EXPECT_EQ(place.CaptionWidth, 1940);
        EXPECT_EQ(place.IconTop, 4800 - 90 - 480 - 255);
        EXPECT_EQ(place.CaptionTop, 4800 - 90 - 255);
    }

    // Slot widths are whole twips, ties to even.
    EXPECT_EQ(LayoutIconRow(2, 0, 125, 480, 255).SlotWidth, 2);
    EXPECT_EQ(LayoutIconRow(2, 0, 127, 480, 255).SlotWidth, 4);
    EXPECT_EQ(LayoutIconRow(3, 0, 130, 480, 255).SlotWidth, 3);

    // No row: the picture alone.
    EXPECT_EQ(LayoutIconRow(0, 3600, 6120, 480, 255).WindowHeight, 3600);
    EXPECT_TRUE(LayoutIconRow(0, 3600, 6120, 480, 255).Places.isEmpty());

    EXPECT_EQ(TwipsPerPixel(96), 15);
    EXPECT_EQ(TwipsPerPixel(144), 10);
    EXPECT_EQ(TwipsToPixels(3060, 96), 204);
}

TEST(SplashLayout, PictureSearchOrder)
{
    TempHome home;
    const QString parent = home.File("opt");
    const QString program = parent + "/bin";
    QDir().mkpath(program);
    EXPECT_EQ(FindLogoFile(program, "cartfeeder"), "");

    Touch(parent + "/logo.bmp");
    EXPECT_EQ(FindLogoFile(program, "cartfeeder"), parent + "/logo.bmp");
    Touch(parent + "/tools.bmp");
    EXPECT_EQ(FindLogoFile(program, "cartfeeder"), parent + "/tools.bmp");
    Touch(program + "/logo.bmp");
    EXPECT_EQ(FindLogoFile(program, "cartfeeder"), program + "/logo.bmp");
    Touch(program + "/tools.bmp");
    EXPECT_EQ(FindLogoFile(program, "cartfeeder"), program + "/tools.bmp");
    Touch(program + "/cartfeeder.bmp");
    EXPECT_EQ(FindLogoFile(program, "cartfeeder"), program + "/cartfeeder.bmp");
    // A folder of that name is not a picture.
    QFile::remove(program + "/cartfeeder.bmp");
    QDir().mkpath(program + "/cartfeeder.bmp");
    EXPECT_EQ(FindLogoFile(program, "cartfeeder"), program + "/tools.bmp");
}

TEST(SplashLayout, PicturesMadeOnWindowsAreFoundInAnyLetterCase)
{
    TempHome home;
    const QString parent = home.File("opt");
    const QString program = parent + "/bin";
    QDir().mkpath(program);
    const auto logo = [&] { return FindLogoFile(program, "cartfeeder").toStdString(); };

    Touch(parent + "/LOGO.BMP");
    EXPECT_EQ(logo(), (parent + "/LOGO.BMP").toStdString());
    Touch(parent + "/Tools.bmp");
    EXPECT_EQ(logo(), (parent + "/Tools.bmp").toStdString());
    Touch(program + "/Logo.Bmp");
    EXPECT_EQ(logo(), (program + "/Logo.Bmp").toStdString());
    Touch(program + "/Tools.bmp");
    EXPECT_EQ(logo(), (program + "/Tools.bmp").toStdString());
    // The exact spelling wins over another case of the same name.
    Touch(program + "/tools.bmp");
    EXPECT_EQ(logo(), (program + "/tools.bmp").toStdString());
    Touch(program + "/CartFeeder.BMP");
    EXPECT_EQ(logo(), (program + "/CartFeeder.BMP").toStdString());
}

TEST(SplashLayout, PlatformLabels)
{
    auto caption = [](qint32 platform, qint32 major, qint32 minor) {
        OSVersionInfo info;
        info.PlatformId = platform;
        info.MajorVersion = major;
        info.MinorVersion = minor;
        return PlatformCaption(info).value_or("(design)");
    };
    EXPECT_EQ(caption(1, 4, 0), "Windows 95");
    EXPECT_EQ(caption(1, 4, 10), "Windows 98");
    EXPECT_EQ(caption(1, 4, 90), "(design)");
    EXPECT_EQ(caption(2, 3, 51), "Windows NT v3.51");
    EXPECT_EQ(caption(2, 4, 0), "Windows NT v4");
    EXPECT_EQ(caption(2, 5, 0), "Windows 2000");
    EXPECT_EQ(caption(2, 5, 2), "Windows XP/2003");
    EXPECT_EQ(caption(2, 6, 0), "Windows Vista");
    EXPECT_EQ(caption(2, 6, 1), "Windows 7");
    EXPECT_EQ(caption(2, 6, 3), "Windows 7");
    EXPECT_EQ(caption(2, 10, 0), "(design)");
    EXPECT_EQ(caption(3, 6, 1), "(design)");

    OSVersionInfo info;
    EXPECT_FALSE(ServicePackCaption(info).has_value());
    info.CSDVersion = "Service Pack 1, v.1000";
    EXPECT_EQ(ServicePackCaption(info).value(), "Service Pack 1");
    info.CSDVersion = QString("Debian") + QChar(0) + ", junk";
    EXPECT_EQ(ServicePackCaption(info).value(), "Debian");
}

class SplashWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_program = m_home.File("program");
        QDir().mkpath(m_program);
    }
    void TearDown() override { frmSplash::Unload(); }

    TempHome m_home;
    QString m_program;
};

TEST_F(SplashWindowTest, IconRowFollowsNumberIcons)
{
    frmSplash splash(m_program, "cartfeeder");
    EXPECT_EQ(splash.LogoFilename, "");
    EXPECT_EQ(splash.NumberIcons(), 0);
    const int pictureHeight = splash.height();
    EXPECT_EQ(pictureHeight, splash.ToPixels(splash.PictureHeightTwips()));
    EXPECT_EQ(splash.width(), splash.ToPixels(frmSplash::DesignWidth));

    splash.setNumberIcons(3);
    const IconRow row = LayoutIconRow(3, splash.PictureHeightTwips(), splash.InnerWidthTwips(),
                                      frmSplash::IconSize, frmSplash::CaptionHeight);
    EXPECT_EQ(splash.height(), splash.ToPixels(row.WindowHeight));
    ASSERT_GE(splash.imgIcon.size(), 4);
    for (int i = 1; i <= 3; ++i) {
        EXPECT_FALSE(splash.imgIcon[i]->isHidden());
        EXPECT_EQ(splash.imgIcon[i]->x(), splash.ToPixels(row.Places[i - 1].IconLeft));
        EXPECT_EQ(splash.imgIcon[i]->y(), splash.ToPixels(row.Places[i - 1].IconTop));
        EXPECT_EQ(splash.lblIconDescription[i]->width(),
                  splash.ToPixels(row.Places[i - 1].CaptionWidth));
        EXPECT_FALSE(splash.lblIconDescription[i]->isHidden());
    }
    EXPECT_TRUE(splash.imgIcon[0]->isHidden());
    EXPECT_TRUE(splash.lblIconDescription[0]->isHidden());

    splash.SetIconInfo(3, "security", "User Security");
    splash.setNumberIcons(2);
    EXPECT_TRUE(splash.imgIcon[3]->isHidden());
    EXPECT_TRUE(splash.lblIconDescription[3]->isHidden());
    EXPECT_TRUE(splash.imgIcon[3]->pixmap().isNull());
    EXPECT_FALSE(splash.imgIcon[2]->isHidden());

    splash.setNumberIcons(0);
    EXPECT_EQ(splash.height(), pictureHeight);
    EXPECT_TRUE(splash.imgIcon[1]->isHidden());
    EXPECT_EQ(splash.NumberIcons(), 0);
}

TEST_F(SplashWindowTest, SetIconInfoOnlyWithinTheRow)
{
    frmSplash splash(m_program, "cartfeeder");
    EXPECT_EQ(splash.imgIconList.size(), 10);
    for (const QPixmap& picture : splash.imgIconList) {
        EXPECT_FALSE(picture.isNull());
    }
    splash.setNumberIcons(2);
    splash.SetIconInfo(1, "local", "Local Settings");
    EXPECT_EQ(splash.LastIconChangedIndex(), 1);
    EXPECT_EQ(splash.lblIconDescription[1]->text(), "Local Settings");
    EXPECT_EQ(splash.imgIcon[1]->pixmap().toImage(), splash.imgIconList["local"].toImage());

    splash.SetIconInfo(0, "playout", "Zero");
    splash.SetIconInfo(3, "playout", "Three");
    EXPECT_EQ(splash.LastIconChangedIndex(), 1);
    EXPECT_EQ(splash.lblIconDescription[0]->text(), "");

    // An unknown key keeps the old picture; the caption and the index still change.
    splash.SetIconInfo(2, "playout", "Audio Systems");
    splash.SetIconInfo(2, "nosuchkey", "Renamed");
    EXPECT_EQ(splash.imgIcon[2]->pixmap().toImage(), splash.imgIconList["playout"].toImage());
    EXPECT_EQ(splash.lblIconDescription[2]->text(), "Renamed");
    EXPECT_EQ(splash.LastIconChangedIndex(), 2);
}

TEST_F(SplashWindowTest, LabelsAndOwnPicture)
{
    QImage picture(100, 50, QImage::Format_RGB32);
    picture.fill(Qt::red);
    ASSERT_TRUE(picture.save(m_program + "/cartfeeder.bmp", "BMP"));
    // tools.bmp is not a picture at all: it is never reached, the own picture wins.
    Touch(m_program + "/tools.bmp");

    const QString savedVersion = QCoreApplication::applicationVersion();
    const QString savedOrganisation = QCoreApplication::organizationName();
    QCoreApplication::setApplicationVersion("2.7.11");
    QCoreApplication::setOrganizationName("Orvane");
    frmSplash splash(m_program, "cartfeeder");
    QCoreApplication::setApplicationVersion(savedVersion);
    QCoreApplication::setOrganizationName(savedOrganisation);

    EXPECT_EQ(splash.LogoFilename, m_program + "/cartfeeder.bmp");
    EXPECT_EQ(splash.height(), 50);
    EXPECT_EQ(splash.lblVersion->text(), "Version 2.7.11");
    EXPECT_EQ(splash.lblCompany->text(), "Orvane ");
    // Platform 3 (Linux) keeps the design caption.
    EXPECT_EQ(splash.lblPlatform->text(), "Linux");
}

TEST_F(SplashWindowTest, BrokenPictureKeepsBuiltIn)
{
    Touch(m_program + "/logo.bmp");
    frmSplash splash(m_program, "cartfeeder");
    EXPECT_EQ(splash.LogoFilename, m_program + "/logo.bmp");
    EXPECT_GT(splash.PictureHeightTwips(), 0);
    EXPECT_EQ(splash.height(), splash.ToPixels(splash.PictureHeightTwips()));
}

// Counts paint events of one widget.
class PaintCounter : public QObject
{
public:
    int Paints = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            ++Paints;
        }
        return false;
    }
};

TEST_F(SplashWindowTest, StatusLinePaintsWithinTheCall)
{
    frmSplash* splash = frmSplash::Load();
    EXPECT_EQ(frmSplash::Load(), splash);
    EXPECT_EQ(frmSplash::Loaded(), splash);
    splash->ShowAndYield();
    EXPECT_TRUE(splash->isVisible());

    PaintCounter counter;
    splash->lblStatus->installEventFilter(&counter);
    // No event loop runs between the call and the check, as during start-up.
    splash->SetCurrentAction("Creating Audio Settings Interface");
    EXPECT_GE(counter.Paints, 1);
    EXPECT_EQ(splash->lblStatus->text(), "Creating Audio Settings Interface");
    splash->lblStatus->removeEventFilter(&counter);

    splash->setFloating(true);
    EXPECT_TRUE(splash->Floating());
    EXPECT_TRUE(splash->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(splash->isVisible());
    splash->setFloating(false);
    EXPECT_FALSE(splash->windowFlags().testFlag(Qt::WindowStaysOnTopHint));

    frmSplash::Unload();
    EXPECT_EQ(frmSplash::Loaded(), nullptr);
}

} // namespace
