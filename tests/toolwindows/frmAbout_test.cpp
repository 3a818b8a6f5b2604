#include "platform/system/RegistryFunctions.h"
#include "platform/system/ScriptedAnswerer.h"
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
        QDir().mkpath(folder);
    }
    void TearDown() override { QCoreApplication::setApplicationVersion(savedVersion); }

    // A box whose shell calls are recorded instead of made.
    std::unique_ptr<frmAbout> MakeBox()
    {
        auto box = std::make_unique<frmAbout>(nullptr, folder, "cartfeeder");
        box->OpenUrl = [this](const QUrl& url) { return opened << url.toString(), true; };
        box->StartProgram = [this](const QString& program) {
            return started << program, startSucceeds;
        };
        return box;
    }

    TempHome home;
    ScriptedAnswerer answers{
        [](const MessageBoxRequest& r) { ADD_FAILURE() << "box: " << r.Prompt.toStdString(); }};
    QString savedVersion;
    QString folder = home.File("program");
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
    EXPECT_EQ(box->lblVersion->text(), "Version 2.5.13"); // no executable: no build date
    EXPECT_FALSE(box->picLogo->pixmap().isNull());        // the designed picture stays
    EXPECT_FALSE(box->picLogo->testAttribute(Qt::WA_SetCursor));
    box->show();
    QTest::mouseClick(box->picLogo, Qt::LeftButton);
    EXPECT_EQ(box->Sound(), nullptr);

    QTest::mouseClick(box->lblSupportWeb, Qt::LeftButton);
    QTest::mouseClick(box->lblSupportEmail, Qt::LeftButton);
    EXPECT_EQ(opened, QStringList({"https://www.orvane.example/support",
                                   "mailto:support@orvane.example?subject=Cartfeeder Version "
                                   "2.5.13"}));
    EXPECT_EQ(box->cursor().shape(), Qt::ArrowCursor);
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
    box->show();
    QTest::mouseClick(box->picLogo, Qt::LeftButton);
    ASSERT_NE(box->Sound(), nullptr);
    EXPECT_EQ(box->Sound()->source(), QUrl::fromLocalFile(folder + "/cartfeeder.abt"));
    // Not a sound: told by the loader, which must be done before the process ends.
    QTRY_COMPARE(box->Sound()->status(), QSoundEffect::Error);
}

TEST_F(frmAboutTest, SystemInformationStartsTheConfiguredToolOrSaysItIsUnavailable)
{
    RegistryFunctions& registry = RegistryFunctions::instance();
    auto box = MakeBox();
    answers.Expect(MsgBoxResult::OK);
    box->StartSysInfo(); // nothing configured
    ASSERT_EQ(answers.Shown().size(), 1);
    EXPECT_EQ(answers.Shown()[0].Prompt, "System Information Is Unavailable At This Time");
    EXPECT_EQ(answers.Shown()[0].Style, MsgBoxStyle::OKOnly);

    QDir().mkpath(home.File("tools")); // a tools folder without the program
    registry.WriteString(Hive::LocalMachine, "SOFTWARE\\Microsoft\\Shared Tools Location", "MSINFO",
                         home.File("tools"));
    answers.Expect(MsgBoxResult::OK);
    box->StartSysInfo();
    EXPECT_TRUE(started.isEmpty());
    ASSERT_TRUE(WriteFile(home.File("tools/MSINFO32.EXE"), "x"));
    box->StartSysInfo();
    EXPECT_EQ(started, QStringList({home.File("tools") + "/MSINFO32.EXE"}));

    // The tool's own path comes first; a start that fails is reported.
    registry.WriteString(Hive::LocalMachine, "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO", "PATH",
                         "/usr/bin/hardinfo");
    startSucceeds = false;
    answers.Expect(MsgBoxResult::OK);
    box->StartSysInfo();
    EXPECT_EQ(started.last(), "/usr/bin/hardinfo");
    EXPECT_EQ(answers.Shown().size(), 3);
    EXPECT_EQ(box->cursor().shape(), Qt::ArrowCursor);
}

TEST_F(frmAboutTest, GetKeyValueReadsOneValue)
{
    const QString key = "SOFTWARE\\Orvane\\Test";
    const qint32 machine = qint32(Hive::LocalMachine);
    RegistryFunctions& registry = RegistryFunctions::instance();
    registry.WriteString(Hive::LocalMachine, key, "Count", "10");
    registry.WriteString(Hive::LocalMachine, key, "Empty", "");
    registry.WriteString(Hive::LocalMachine, key, "Long", QString(1024, 'x'));
    auto box = MakeBox();
    QString value = "stale";
    EXPECT_TRUE(box->GetKeyValue(machine, "software\\orvane\\test", "COUNT", value));
    EXPECT_EQ(value, "10");
    EXPECT_TRUE(box->GetKeyValue(machine, key, "Empty", value));
    EXPECT_EQ(value, "");
    for (const char* name : {"Missing", "Long"}) { // Long does not fit the value buffer
        value = "stale";
        EXPECT_FALSE(box->GetKeyValue(machine, key, name, value)) << name;
        EXPECT_EQ(value, "");
    }
    EXPECT_FALSE(box->GetKeyValue(qint32(Hive::CurrentUser), key, "Count", value));
    EXPECT_FALSE(box->GetKeyValue(qint32(0x80000003), key, "Count", value));
}
