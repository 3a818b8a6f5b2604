#include "platform/RegistryFunctions.h"
#include "platform/ScriptedAnswerer.h"
#include "tests/support/TempHome.h"
#include "toolwindows/frmAbout.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLocale>
#include <QSoundEffect>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>

namespace {

const char kLocalMachine[] = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
const char kLocation[] = "SOFTWARE\\Microsoft\\Shared Tools Location";

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

class frmAboutTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        savedVersion = QCoreApplication::applicationVersion();
        QCoreApplication::setApplicationVersion("2.5.13");
        folder = home.File("program");
        QDir().mkpath(folder);
    }
    void TearDown() override { QCoreApplication::setApplicationVersion(savedVersion); }

    // A box whose shell calls are recorded instead of made.
    std::unique_ptr<frmAbout> MakeBox()
    {
        auto box = std::make_unique<frmAbout>(nullptr, folder, "cartfeeder");
        box->OpenUrl = [this](const QUrl& url) {
            opened << url.toString();
            return true;
        };
        box->StartProgram = [this](const QString& program) {
            started << program;
            return startSucceeds;
        };
        return box;
    }

    TempHome home;
    ScriptedAnswerer answers{
        [](const MessageBoxRequest& r) { ADD_FAILURE() << "box: " << r.Prompt.toStdString(); }};
    QString savedVersion;
    QString folder;
    QStringList opened;
    QStringList started;
    bool startSucceeds = true;
};

} // namespace

TEST_F(frmAboutTest, WithoutLogoAndSoundTheBoxShowsItsTextsAndTheLogoDoesNothing)
{
    ASSERT_TRUE(WriteFile(folder + "/cartfeeder.abt", "")); // an empty sound counts as none
    auto box = MakeBox();
    EXPECT_EQ(box->LogoFilename, "");
    EXPECT_EQ(box->windowTitle(), "About Cartfeeder");
    EXPECT_EQ(box->lblProductNameDesc->text(), "Cartfeeder");
    EXPECT_EQ(box->lblVersion->text(), "Version 2.5.13"); // no executable: no build date
    EXPECT_EQ(box->lblSupportWeb->text(), "https://www.orvane.example/support");
    EXPECT_EQ(box->lblSupportEmail->text(), "support@orvane.example");
    EXPECT_FALSE(box->picLogo->pixmap().isNull()); // the designed picture stays
    EXPECT_FALSE(box->picLogo->testAttribute(Qt::WA_SetCursor));

    box->show();
    QTest::mouseClick(box->picLogo, Qt::LeftButton);
    EXPECT_EQ(box->Sound(), nullptr);
    box->close();
}

TEST_F(frmAboutTest, LogoSoundAndBuildDateComeFromTheProgramsFolder)
{
    QImage logo(40, 30, QImage::Format_RGB32);
    logo.fill(Qt::darkBlue);
    ASSERT_TRUE(logo.save(folder + "/about.bmp", "BMP"));
    ASSERT_TRUE(WriteFile(folder + "/cartfeeder", "#!/bin/sh\n"));
    QFile exe(folder + "/cartfeeder");
    const QDateTime built(QDate(2026, 12, 6), QTime(14, 35, 41));
    ASSERT_TRUE(exe.open(QIODevice::ReadWrite));
    ASSERT_TRUE(exe.setFileTime(built, QFileDevice::FileModificationTime));
    exe.close();
    ASSERT_TRUE(WriteFile(folder + "/cartfeeder.abt", QByteArray("RIFF") + QByteArray(40, '\0')));

    auto box = MakeBox();
    EXPECT_EQ(box->LogoFilename, folder + "/about.bmp");
    EXPECT_EQ(box->picLogo->pixmap().size(), QSize(40, 30));
    EXPECT_EQ(box->picLogo->cursor().shape(), Qt::PointingHandCursor);
    const QString date = QLocale::system().toString(built.date(), QLocale::ShortFormat);
    EXPECT_TRUE(box->lblVersion->text().startsWith("Version 2.5.13 (Build Date: " + date + " "))
        << box->lblVersion->text().toStdString();
    EXPECT_TRUE(box->lblVersion->text().endsWith(")"));

    box->show();
    QTest::mouseClick(box->picLogo, Qt::LeftButton);
    ASSERT_NE(box->Sound(), nullptr);
    EXPECT_EQ(box->Sound()->source(), QUrl::fromLocalFile(folder + "/cartfeeder.abt"));
    box->close();
    EXPECT_FALSE(box->Sound()->isPlaying());
}

TEST_F(frmAboutTest, LinksOpenTheSupportPageAndAMailToTheSupportMailbox)
{
    auto box = MakeBox();
    box->show();
    QTest::mouseClick(box->lblSupportWeb, Qt::LeftButton);
    QTest::mouseClick(box->lblSupportEmail, Qt::LeftButton);
    EXPECT_EQ(opened, QStringList({"https://www.orvane.example/support",
                                   "mailto:support@orvane.example?subject=Cartfeeder Version "
                                   "2.5.13"}));
    EXPECT_EQ(box->cursor().shape(), Qt::ArrowCursor); // the pointer is back
}

TEST_F(frmAboutTest, SystemInformationStartsTheConfiguredToolOrSaysItIsUnavailable)
{
    RegistryFunctions& registry = RegistryFunctions::instance();
    const QString unavailable = "System Information Is Unavailable At This Time";
    auto box = MakeBox();

    answers.Expect(MsgBoxResult::OK);
    box->StartSysInfo(); // nothing configured
    ASSERT_EQ(answers.Shown().size(), 1);
    EXPECT_EQ(answers.Shown()[0].Prompt, unavailable);
    EXPECT_EQ(answers.Shown()[0].Style, MsgBoxStyle::OKOnly);
    EXPECT_TRUE(started.isEmpty());

    // The tools folder without the program in it.
    QDir().mkpath(home.File("tools"));
    registry.WriteString(Hive::LocalMachine, kLocation, "MSINFO", home.File("tools"));
    answers.Expect(MsgBoxResult::OK);
    box->StartSysInfo();
    EXPECT_EQ(answers.Shown().size(), 2);
    EXPECT_TRUE(started.isEmpty());

    ASSERT_TRUE(WriteFile(home.File("tools/MSINFO32.EXE"), "x"));
    box->StartSysInfo();
    EXPECT_EQ(started, QStringList({home.File("tools") + "/MSINFO32.EXE"}));

    // The tool's own path comes first; a start that fails is reported.
    registry.WriteString(Hive::LocalMachine, kLocalMachine, "PATH", "/usr/bin/hardinfo");
    startSucceeds = false;
    answers.Expect(MsgBoxResult::OK);
    box->StartSysInfo();
    EXPECT_EQ(started.last(), "/usr/bin/hardinfo");
    EXPECT_EQ(answers.Shown().size(), 3);
    EXPECT_EQ(box->cursor().shape(), Qt::ArrowCursor);
}

TEST_F(frmAboutTest, GetKeyValueReadsOneValue)
{
    RegistryFunctions& registry = RegistryFunctions::instance();
    registry.WriteString(Hive::LocalMachine, "SOFTWARE\\Orvane\\Test", "Count", "10");
    registry.WriteString(Hive::LocalMachine, "SOFTWARE\\Orvane\\Test", "Empty", "");
    registry.WriteString(Hive::LocalMachine, "SOFTWARE\\Orvane\\Test", "Long", QString(1024, 'x'));
    auto box = MakeBox();
    QString value = "stale";

    EXPECT_TRUE(
        box->GetKeyValue(qint32(Hive::LocalMachine), "software\\orvane\\test", "COUNT", value));
    EXPECT_EQ(value, "10");
    EXPECT_TRUE(
        box->GetKeyValue(qint32(Hive::LocalMachine), "SOFTWARE\\Orvane\\Test", "Empty", value));
    EXPECT_EQ(value, "");
    value = "stale";
    EXPECT_FALSE(
        box->GetKeyValue(qint32(Hive::LocalMachine), "SOFTWARE\\Orvane\\Test", "Missing", value));
    EXPECT_EQ(value, "");
    value = "stale";
    EXPECT_FALSE(box->GetKeyValue(qint32(Hive::LocalMachine), "SOFTWARE\\Orvane\\Test", "Long",
                                  value)); // does not fit the value buffer
    EXPECT_EQ(value, "");
    EXPECT_FALSE(
        box->GetKeyValue(qint32(Hive::CurrentUser), "SOFTWARE\\Orvane\\Test", "Count", value));
    EXPECT_FALSE(box->GetKeyValue(qint32(0x80000003), "SOFTWARE\\Orvane\\Test", "Count", value));
}
