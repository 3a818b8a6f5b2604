#include "ui/frmImporterSettings.h"

#include "engine/cImporter.h"
#include "framework/ToolGlobals.h"
#include "platform/system/IniFile.h"
#include "platform/system/ScriptedAnswerer.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/FrameHeadingCheck.h"
#include "tests/support/TempHome.h"
#include "ui/QtImporterDialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QStyle>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace {

class ImporterSettingsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Globals::AppLogFile = home.File("app.log");
        importer = std::make_unique<cImporter>();
        importer->CheckInterval = 60;
        importer->setSMTPEmailEnabled(true);
        importer->setSMTPServerAddress("mail.example.com");
        importer->setSMTPLoginName("feeder");
        importer->setSMTPPassword("secret");
    }
    void TearDown() override
    {
        importer.reset();
        Globals::AppLogFile.clear();
        Globals::ToolProfileFolder.clear();
    }

    // Runs DisplayImporter and hands the open window to act from inside its modal loop; a
    // window that act leaves open is then cancelled.
    bool Show(const std::function<void(frmImporterSettings&)>& act)
    {
        frmImporterSettings window;
        bool ran = false;
        QTimer::singleShot(0, &window, [&] {
            ran = true;
            EXPECT_TRUE(window.isVisible());
            act(window);
            if (window.isVisible()) {
                window.cmdCancel_Click();
            }
        });
        const bool accepted = window.DisplayImporter(importer.get());
        EXPECT_TRUE(ran);
        return accepted;
    }

    bool FaceColoured(const QLineEdit* box) const
    {
        return box->palette().color(QPalette::Active, QPalette::Base) ==
               QApplication::palette(box).color(QPalette::Active, QPalette::Button);
    }

    TempHome home;
    ScriptedAnswerer answerer{[](const MessageBoxRequest& r) {
        ADD_FAILURE() << "unexpected box: " << r.Prompt.toStdString();
    }};
    std::unique_ptr<cImporter> importer;
};

} // namespace

TEST_F(ImporterSettingsTest, LoginBoxFollowsTheStoredLoginName)
{
    EXPECT_TRUE(Show([&](frmImporterSettings& w) {
        EXPECT_EQ(w.windowTitle(), "Importer Settings");
        EXPECT_EQ(w.txtCheckInterval->text(), "60");
        EXPECT_TRUE(w.chkEnableEmail->isChecked());
        EXPECT_TRUE(w.txtEmailServer->isEnabled());
        EXPECT_FALSE(FaceColoured(w.txtEmailServer));
        EXPECT_TRUE(w.chkEmailLogin->isChecked());
        EXPECT_TRUE(w.txtEmailUsername->isEnabled());
        EXPECT_EQ(w.txtEmailPassword->text(), "secret");
        EXPECT_EQ(w.txtEmailPassword->echoMode(), QLineEdit::Password);
        EXPECT_EQ(w.txtEmailPassword->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter,
                                                         nullptr, w.txtEmailPassword),
                  '*');
        w.cmdOK->click();
    }));
    EXPECT_EQ(importer->SMTPLoginName(), "feeder");
    EXPECT_EQ(importer->SMTPPassword(), "secret");

    importer->setSMTPLoginName("");
    EXPECT_FALSE(Show([&](frmImporterSettings& w) {
        EXPECT_FALSE(w.chkEmailLogin->isChecked());
        EXPECT_FALSE(w.txtEmailUsername->isEnabled());
        EXPECT_FALSE(w.txtEmailPassword->isEnabled());
        EXPECT_TRUE(FaceColoured(w.txtEmailPassword));
        EXPECT_FALSE(w.lblEmailUserNameDesc->isEnabled());
        w.chkEmailLogin->setChecked(true);
        EXPECT_TRUE(w.txtEmailUsername->isEnabled());
        EXPECT_FALSE(FaceColoured(w.txtEmailUsername));
        // Switching e-mail off takes the login boxes with it.
        w.chkEnableEmail->setChecked(false);
        EXPECT_FALSE(w.chkEmailLogin->isEnabled());
        EXPECT_FALSE(w.txtEmailUsername->isEnabled());
        EXPECT_TRUE(FaceColoured(w.txtEmailServer));
    }));
}

TEST_F(ImporterSettingsTest, AcceptedValuesAreWrittenBackTrimmed)
{
    importer->setSMTPEmailEnabled(false);
    EXPECT_TRUE(Show([&](frmImporterSettings& w) {
        EXPECT_FALSE(w.txtEmailServer->isEnabled());
        EXPECT_FALSE(w.fraEmail->isEnabled());
        w.txtEmailServer->setText("  ");
        w.txtCheckInterval->setText("abc");
        w.chkMinimiseToSysTray->setChecked(true);
        w.cmdOK->click(); // e-mail off: an empty server is accepted
    }));
    EXPECT_FALSE(importer->SMTPEmailEnabled());
    EXPECT_EQ(importer->SMTPServerAddress(), "");
    EXPECT_EQ(importer->CheckInterval, 0.0f);
    EXPECT_TRUE(importer->MinimiseToSysTray);
    // Still ticked (the box stays ticked while e-mail is off): the login is kept.
    EXPECT_EQ(importer->SMTPLoginName(), "feeder");

    importer->setSMTPEmailEnabled(true);
    EXPECT_TRUE(Show([&](frmImporterSettings& w) {
        w.txtCheckInterval->setText("1.5");
        w.txtEmailServer->setText(" smtp.example.com ");
        w.txtEmailPassword->setText(" pass word ");
        w.chkMinimiseToSysTray->setChecked(false);
        w.cmdOK->click();
    }));
    EXPECT_EQ(importer->CheckInterval, 1.5f);
    EXPECT_EQ(importer->SMTPServerAddress(), "smtp.example.com");
    EXPECT_EQ(importer->SMTPPassword(), "pass word");
    EXPECT_FALSE(importer->MinimiseToSysTray);

    // An unticked login box discards the login, even with e-mail off.
    EXPECT_TRUE(Show([&](frmImporterSettings& w) {
        EXPECT_EQ(w.txtCheckInterval->text(), "1.5");
        w.chkEmailLogin->setChecked(false);
        w.chkEnableEmail->setChecked(false);
        w.cmdOK->click();
    }));
    EXPECT_EQ(importer->SMTPLoginName(), "");
    EXPECT_EQ(importer->SMTPPassword(), "");
}

// OK with the profile's disk full: the file keeps its old values, the new interval holds for this
// run, and the operator is told so.
TEST_F(ImporterSettingsTest, ASaveTheDiskRefusesIsReportedAtOK)
{
    Globals::ToolProfileFolder = home.File("profile");
    const QString file = Globals::ToolProfileFolder + "/Importer.ini";
    ASSERT_TRUE(IniFile::WriteString(file, "General", "CheckInterval", "60"));
    ASSERT_TRUE(IniFile::WriteString(file, "General", "Note", QString(5000, u'n')));
    QString profile = "Main";
    ASSERT_TRUE(importer->ReadSettings(profile));
    QtImporterDialogs::Install(*importer);
    answerer.Expect(MsgBoxResult::OK);
    QTimer::singleShot(0, [] {
        auto* window = qobject_cast<frmImporterSettings*>(QApplication::activeModalWidget());
        ASSERT_NE(window, nullptr);
        window->txtCheckInterval->setText("5");
        window->cmdOK->click();
    });
    {
        const FileSizeLimit limit(4096);
        EXPECT_FALSE(importer->DisplaySettings());
    }
    EXPECT_EQ(importer->CheckInterval, 5.0f);
    EXPECT_EQ(IniFile::ReadString(file, "General", "CheckInterval", ""), "60");
    ASSERT_EQ(answerer.Shown().size(), 1);
    EXPECT_EQ(answerer.Shown()[0].Prompt.toStdString(),
              ("The settings could not be saved to '" + file +
               "':\nFile too large\n\nThe change holds only until the program ends.")
                  .toStdString());
    QFile log(Globals::AppLogFile);
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_TRUE(log.readAll().contains("Couldn't save the settings to '" + file.toUtf8() +
                                       "' Error: File too large; the change holds only until "
                                       "the program ends"));
}

TEST_F(ImporterSettingsTest, CheckIntervalShowsAsPlainDecimalTextAndComesBackUnchanged)
{
    const struct
    {
        float interval;
        const char* shown;
    } rows[] = {{60.0f, "60"},           {1.5f, "1.5"},
                {1e7f, "10000000"},      {123456789.0f, "123456800"},
                {0.000015f, "0.000015"}, {0.0f, "0"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.shown);
        importer->CheckInterval = row.interval;
        EXPECT_TRUE(Show([&](frmImporterSettings& w) {
            EXPECT_EQ(w.txtCheckInterval->text().toStdString(), row.shown);
            // The whole text fits the box.
            EXPECT_LE(w.txtCheckInterval->fontMetrics().horizontalAdvance(row.shown),
                      w.txtCheckInterval->contentsRect().width());
            w.cmdOK->click();
        }));
        EXPECT_FLOAT_EQ(importer->CheckInterval, row.interval);
    }
}

TEST_F(ImporterSettingsTest, ServerAndUsernameAreRequiredWhileEmailIsOn)
{
    EXPECT_TRUE(Show([&](frmImporterSettings& w) {
        w.txtEmailServer->setText(" ");
        answerer.Expect(MsgBoxResult::OK);
        w.cmdOK->click();
        ASSERT_EQ(answerer.Shown().size(), 1);
        EXPECT_EQ(answerer.Shown()[0].Prompt,
                  "You must enter the name or IP address of an SMTP e-mail server");
        EXPECT_EQ(answerer.Shown()[0].Style, MsgBoxStyle::OKOnly | MsgBoxStyle::Exclamation);
        EXPECT_TRUE(w.isVisible());

        w.txtEmailServer->setText("mail.example.com");
        w.txtEmailUsername->setText("  ");
        answerer.Expect(MsgBoxResult::OK);
        w.cmdOK->click();
        ASSERT_EQ(answerer.Shown().size(), 2);
        EXPECT_EQ(answerer.Shown()[1].Prompt,
                  "You must enter the Username required by your e-mail server");
        EXPECT_TRUE(w.isVisible());

        w.txtEmailUsername->setText("feeder");
        w.txtEmailPassword->setText(""); // a password may be empty
        w.cmdOK->click();
        EXPECT_FALSE(w.isVisible());
    }));
    EXPECT_EQ(importer->SMTPPassword(), "");
}

TEST_F(ImporterSettingsTest, NoBlankCanBeTypedIntoTheServerBox)
{
    Show([&](frmImporterSettings& w) {
        w.txtEmailServer->clear();
        QTest::keyClicks(w.txtEmailServer, "mail example.com ");
        EXPECT_EQ(w.txtEmailServer->text(), "mailexample.com");
        // Other boxes take blanks.
        w.txtEmailUsername->clear();
        QTest::keyClicks(w.txtEmailUsername, "a b");
        EXPECT_EQ(w.txtEmailUsername->text(), "a b");
    });
}

TEST_F(ImporterSettingsTest, CloseBoxAndCancelChangeNothing)
{
    EXPECT_FALSE(Show([&](frmImporterSettings& w) {
        w.txtCheckInterval->setText("5");
        w.chkEnableEmail->setChecked(false);
        w.close();
        EXPECT_TRUE(w.Cancelled());
        EXPECT_FALSE(w.isVisible());
    }));
    EXPECT_FALSE(Show([&](frmImporterSettings& w) {
        w.txtCheckInterval->setText("5");
        QTest::keyClick(w.txtCheckInterval, Qt::Key_Escape);
        EXPECT_FALSE(w.isVisible());
    }));
    EXPECT_EQ(importer->CheckInterval, 60.0f);
    EXPECT_TRUE(importer->SMTPEmailEnabled());

    frmImporterSettings window;
    EXPECT_FALSE(window.DisplayImporter(nullptr));
    EXPECT_FALSE(window.isVisible());
}

TEST_F(ImporterSettingsTest, EmailBoxSitsOnTheTopEdgeOfTheServerFrame)
{
    importer->setSMTPEmailEnabled(false);
    Show([&](frmImporterSettings& w) {
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
        ExpectHeadingOnTopEdge(w.chkEnableEmail, w.fraEmail);
        EXPECT_FALSE(w.fraEmail->isEnabled());
        w.chkEnableEmail->click();
        EXPECT_TRUE(w.fraEmail->isEnabled());
    });
}
