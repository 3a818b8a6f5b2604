#include "ui/frmGroupDetails.h"

#include "engine/cImporter.h"
#include "engine/cImporterGroup.h"
#include "framework/ToolGlobals.h"
#include "platform/cartstore/CartStore.h"
#include "platform/cartstore/IAudioCallback.h"
#include "platform/directory/UserDirectory.h"
#include "platform/system/DateTimeFunctions.h"
#include "platform/system/ScriptedAnswerer.h"
#include "platform/system/ToolError.h"
#include "tests/support/AudioFixtures.h"
#include "tests/support/FrameHeadingCheck.h"
#include "tests/support/TempHome.h"
#include "tests/ui/FakeCartStore.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFocusEvent>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace {

using namespace MsgBoxStyle;
const int Exclaim = OKOnly | Exclamation;

QColor base(const QLineEdit* box)
{
    return box->palette().color(QPalette::Active, QPalette::Base);
}
QColor windowColour(const QLineEdit* box)
{
    return QApplication::palette(box).color(QPalette::Active, QPalette::Base);
}
QColor faceColour(const QLineEdit* box)
{
    return QApplication::palette(box).color(QPalette::Active, QPalette::Button);
}

void focusOut(QLineEdit* box, Qt::FocusReason reason)
{
    QFocusEvent event(QEvent::FocusOut, reason);
    QApplication::sendEvent(box, &event);
}

class GroupEditorTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Globals::AppLogFile = home.File("app.log");
        Globals::PlayoutAudio = &store;
        ASSERT_EQ(directory.OpenDefaultDirectory(true), 0);
        ASSERT_TRUE(directory.WriteUsers({{QString(), UserDirectory::OsLoginName(), {{1, 5000}}}}));
        Globals::DirectoryInterface = &directory;
        importer = std::make_unique<cImporter>();
        importer->setSMTPEmailEnabled(true);
        ASSERT_TRUE(QDir().mkpath(watched));
    }
    void TearDown() override
    {
        importer.reset();
        Globals::PlayoutAudio = nullptr;
        Globals::DirectoryInterface = nullptr;
        Globals::AppLogFile.clear();
    }

    // Runs DisplayGroup and hands the open window to act from inside its modal loop; a window
    // that act leaves open is then cancelled.
    bool Edit(cImporterGroup& group, const std::function<void(frmGroupDetails&)>& act)
    {
        frmGroupDetails window;
        bool ran = false;
        QTimer::singleShot(0, &window, [&] {
            ran = true;
            EXPECT_TRUE(window.isVisible());
            act(window);
            if (window.isVisible()) {
                window.cmdCancel_Click();
            }
        });
        const bool accepted = window.DisplayGroup(&group, importer.get());
        EXPECT_TRUE(ran);
        EXPECT_FALSE(window.isVisible());
        return accepted;
    }

    cImporterGroup ImportGroup()
    {
        cImporterGroup group;
        group.GroupName = QStringLiteral("News");
        group.Path = watched;
        group.StartHDRef = QStringLiteral("100");
        group.EndHDRef = QStringLiteral("200");
        return group;
    }

    cImporterGroup RecheckGroup()
    {
        cImporterGroup group;
        group.GroupName = QStringLiteral("Library");
        group.CheckCurrent = true;
        group.UseArchiveBit = false;
        group.StartHDRef = QStringLiteral("1");
        group.EndHDRef = QStringLiteral("6");
        return group;
    }

    // Presses OK and answers the boxes it shows; the prompt of the last one.
    QString PressOK(frmGroupDetails& w, std::initializer_list<int> answers = {MsgBoxResult::OK})
    {
        const qsizetype before = answerer.Shown().size();
        for (int answer : answers) {
            answerer.Expect(answer);
        }
        w.cmdOK_Click();
        EXPECT_EQ(answerer.Pending(), 0);
        return answerer.Shown().size() > before ? answerer.Shown().last().Prompt : QString();
    }
    int LastStyle() const { return answerer.Shown().last().Style; }

    TempHome home;
    QString watched = home.File("watched");
    FakeCartStore store;
    UserDirectory directory{home.File("directory.db")};
    ScriptedAnswerer answerer{[](const MessageBoxRequest& r) {
        ADD_FAILURE() << "unexpected box: " << r.Prompt.toStdString();
    }};
    std::unique_ptr<cImporter> importer;
};

} // namespace

TEST_F(GroupEditorTest, NewGroupOpensInImportModeWithTheOfferedDefaults)
{
    cImporterGroup group;
    const bool accepted = Edit(group, [&](frmGroupDetails& w) {
        EXPECT_EQ(w.windowTitle(), "Add Group");
        EXPECT_EQ(w.tbsGroupDetails->currentIndex(), 0);
        EXPECT_EQ(w.tbsGroupDetails->tabText(1), "Notification/Logging");
        EXPECT_TRUE(w.optImport->isChecked());
        EXPECT_EQ(w.txtGroupName->text(), "");
        EXPECT_EQ(w.txtImportStartCart->text(), "");
        EXPECT_EQ(w.txtImportEndCart->text(), "");
        EXPECT_EQ(w.txtExistingStartCart->text(), "1");
        EXPECT_EQ(w.txtExistingEndCart->text(), "1");
        EXPECT_TRUE(w.chkUseArchiveBit->isChecked());
        EXPECT_FALSE(w.chkImportDeleteAfter->isChecked());
        EXPECT_TRUE(w.optCheckLengthReplace->isChecked());
        EXPECT_FALSE(w.chkEmailNotify->isChecked());
        EXPECT_FALSE(w.txtEmailNotifyFrom->isEnabled());
        for (QLineEdit* box : {w.mtxtIntroStart, w.mtxtIntroEnd, w.mtxtExtro}) {
            EXPECT_EQ(box->displayText(), "00:00:00.00");
            EXPECT_FALSE(box->isEnabled());
        }
        EXPECT_FALSE(w.chkOverrideIntroStart->isChecked());
        EXPECT_FALSE(w.chkOverrideExtro->isChecked());
        EXPECT_EQ(w.txtOverrideTitle->text(), "<FILENAME>");
        EXPECT_EQ(w.txtOverrideArtist->text(), "On <COMPUTERNAME>");
        EXPECT_EQ(w.txtOverrideDescription->text(), "Imported <CURRENTDATETIME>");
        for (QCheckBox* box : {w.chkOverrideTitle, w.chkOverrideArtist, w.chkOverrideDescription,
                               w.chkOverrideNormalise}) {
            EXPECT_FALSE(box->isChecked()) << box->objectName().toStdString();
        }
        EXPECT_FALSE(w.txtOverrideTitle->isEnabled());
        EXPECT_EQ(w.txtOverrideNormalise->text(), "75"); // the store's level
        EXPECT_FALSE(w.txtOverrideNormalise->isEnabled());

        // The mode rule, with its colours.
        EXPECT_TRUE(w.txtImportStartCart->isEnabled());
        EXPECT_EQ(base(w.txtImportStartCart), windowColour(w.txtImportStartCart));
        EXPECT_FALSE(w.txtExistingStartCart->isEnabled());
        EXPECT_EQ(base(w.txtExistingStartCart), faceColour(w.txtExistingStartCart));
        EXPECT_NE(faceColour(w.txtExistingStartCart), windowColour(w.txtExistingStartCart));
        EXPECT_EQ(base(w.txtOverrideTitle), faceColour(w.txtOverrideTitle));
        EXPECT_FALSE(w.chkCheckCurrentLastModified->isEnabled());
        EXPECT_TRUE(w.cmdBrowseImportDirectory->isEnabled());

        w.optCheckExisting->setChecked(true);
        EXPECT_TRUE(w.txtExistingEndCart->isEnabled());
        EXPECT_EQ(base(w.txtExistingEndCart), windowColour(w.txtExistingEndCart));
        EXPECT_FALSE(w.txtImportDirectory->isEnabled());
        EXPECT_FALSE(w.cmdBrowseImportDirectory->isEnabled());
        EXPECT_TRUE(w.fraLengthChange->isEnabled());
        EXPECT_TRUE(w.optCheckLengthReplace->isChecked()); // the mode leaves the length alone
        EXPECT_FALSE(w.optImport->isChecked());

        w.chkOverrideExtro->setChecked(true);
        EXPECT_TRUE(w.mtxtExtro->isEnabled());
        EXPECT_EQ(base(w.mtxtExtro), windowColour(w.mtxtExtro));

        // Controls answer to their names.
        EXPECT_EQ(w.findChild<QLineEdit*>("mtxtIntroEnd"), w.mtxtIntroEnd);
        EXPECT_EQ(w.findChild<QRadioButton*>("optCheckLengthUpdateOnly"),
                  w.optCheckLengthUpdateOnly);
        EXPECT_EQ(w.findChild<QProgressBar*>("progOverallProcess"), w.progOverallProcess);
        EXPECT_FALSE(w.pnlProgress->isVisible());
    });
    EXPECT_FALSE(accepted);
    EXPECT_EQ(group.GroupName, ""); // cancelled: nothing written
}

TEST_F(GroupEditorTest, OkWithoutChangingTheOverridesLeavesThemOff)
{
    cImporterGroup group;
    group.OverrideNormalise = 0;
    const bool accepted = Edit(group, [&](frmGroupDetails& w) {
        w.txtGroupName->setText(" Jingles ");
        w.txtImportDirectory->setText(watched);
        w.txtImportStartCart->setText(" 100 ");
        w.txtImportEndCart->setText("200");
        EXPECT_EQ(PressOK(w, {}), "");
    });
    ASSERT_TRUE(accepted);
    EXPECT_EQ(group.GroupName, " Jingles ");
    EXPECT_EQ(group.Path, watched);
    EXPECT_EQ(group.StartHDRef, "100");
    EXPECT_FALSE(group.CheckCurrent);
    EXPECT_TRUE(group.UseArchiveBit);
    EXPECT_EQ(group.OverrideTitle, "");
    EXPECT_EQ(group.OverrideArtist, "");
    EXPECT_EQ(group.OverrideDescription, "");
    EXPECT_EQ(group.OverrideIntroStart, -1.0f);
    EXPECT_EQ(group.OverrideIntroEnd, -1.0f);
    EXPECT_EQ(group.OverrideExtro, -1.0f);
    EXPECT_EQ(group.OverrideNormalise, 0);
    EXPECT_EQ(group.NotifyEmailSender, "");
}

TEST_F(GroupEditorTest, TimesShowAsHoursMinutesSecondsAndHundredths)
{
    cImporterGroup group = ImportGroup();
    group.OverrideExtro = 90.5f;
    group.OverrideIntroStart = 0.0f;
    const bool accepted = Edit(group, [&](frmGroupDetails& w) {
        EXPECT_EQ(w.mtxtExtro->displayText(), "00:01:30.50");
        EXPECT_TRUE(w.chkOverrideExtro->isChecked());
        EXPECT_TRUE(w.mtxtExtro->isEnabled());
        EXPECT_EQ(w.mtxtIntroStart->displayText(), "00:00:00.00");
        EXPECT_TRUE(w.chkOverrideIntroStart->isChecked());
        EXPECT_FALSE(w.chkOverrideIntroEnd->isChecked());

        w.chkOverrideIntroEnd->setChecked(true);
        w.mtxtIntroEnd->setText("01:00:00.00");
        EXPECT_EQ(PressOK(w, {}), "");
    });
    ASSERT_TRUE(accepted);
    EXPECT_EQ(group.OverrideExtro, 90.5f);
    EXPECT_EQ(group.OverrideIntroStart, 0.0f);
    EXPECT_EQ(group.OverrideIntroEnd, 3600.0f);

    // Unticking drops the override whatever the box holds.
    EXPECT_TRUE(Edit(group, [&](frmGroupDetails& w) {
        w.chkOverrideIntroStart->setChecked(false);
        EXPECT_FALSE(w.mtxtIntroStart->isEnabled());
        PressOK(w, {});
    }));
    EXPECT_EQ(group.OverrideIntroStart, -1.0f);
    EXPECT_EQ(group.OverrideIntroEnd, 3600.0f);
}

TEST_F(GroupEditorTest, SwitchingModesWritesTheFieldsOfTheNewMode)
{
    cImporterGroup recheck = RecheckGroup();
    recheck.CheckCurrentLastModified = true;
    recheck.RemoveIfDeleted = true;
    recheck.ReplaceChangedLengthCarts = true;
    ASSERT_TRUE(Edit(recheck, [&](frmGroupDetails& w) {
        EXPECT_TRUE(w.optCheckExisting->isChecked());
        EXPECT_TRUE(w.chkCheckCurrentLastModified->isChecked());
        EXPECT_TRUE(w.chkRemoveIfDeleted->isChecked());
        EXPECT_TRUE(w.optCheckLengthReplace->isChecked());
        EXPECT_EQ(w.txtImportStartCart->text(), "1"); // the other mode keeps its defaults
        w.optImport->setChecked(true);
        w.txtImportDirectory->setText(watched);
        w.txtImportStartCart->setText("300");
        w.txtImportEndCart->setText(" 400 ");
        PressOK(w, {});
    }));
    EXPECT_FALSE(recheck.CheckCurrent);
    EXPECT_EQ(recheck.Path, watched);
    EXPECT_EQ(recheck.StartHDRef, "300");
    EXPECT_EQ(recheck.EndHDRef, "400");
    EXPECT_FALSE(recheck.CheckCurrentLastModified);
    EXPECT_FALSE(recheck.RemoveIfDeleted);
    EXPECT_FALSE(recheck.ReplaceChangedLengthCarts);
    EXPECT_EQ(store.RefreshCalls, 0);

    cImporterGroup import = ImportGroup();
    import.DeleteAfterImport = true;
    import.UseArchiveBit = true;
    ASSERT_TRUE(Edit(import, [&](frmGroupDetails& w) {
        EXPECT_TRUE(w.chkImportDeleteAfter->isChecked());
        w.optCheckExisting->setChecked(true);
        w.txtExistingStartCart->setText(" 10");
        w.txtExistingEndCart->setText("20 ");
        w.optCheckLengthUpdateOnly->setChecked(true);
        PressOK(w, {});
    }));
    EXPECT_TRUE(import.CheckCurrent);
    EXPECT_EQ(import.Path, "");
    EXPECT_FALSE(import.DeleteAfterImport);
    EXPECT_FALSE(import.UseArchiveBit);
    EXPECT_EQ(import.StartHDRef, "10");
    EXPECT_EQ(import.EndHDRef, "20");
    EXPECT_FALSE(import.ReplaceChangedLengthCarts);
}

TEST_F(GroupEditorTest, CancelAndTheCloseBoxWriteNothingButTheClearedRecheckFields)
{
    cImporterGroup group = ImportGroup();
    group.CheckCurrentLastModified = true; // left over from an earlier re-check life
    group.RemoveIfDeleted = true;
    EXPECT_FALSE(Edit(group, [&](frmGroupDetails& w) {
        w.txtGroupName->setText("Changed");
        w.cmdCancel->click();
        EXPECT_TRUE(w.Cancelled());
    }));
    EXPECT_FALSE(group.CheckCurrentLastModified);
    EXPECT_FALSE(group.RemoveIfDeleted);
    EXPECT_EQ(group.GroupName, "News");

    EXPECT_FALSE(Edit(group, [&](frmGroupDetails& w) {
        w.txtGroupName->setText("Changed");
        w.close();
        EXPECT_TRUE(w.Cancelled());
        EXPECT_FALSE(w.isVisible());
    }));
    EXPECT_EQ(group.GroupName, "News");

    EXPECT_FALSE(Edit(group, [&](frmGroupDetails& w) {
        QTest::keyClick(w.txtGroupName, Qt::Key_Escape);
        EXPECT_TRUE(w.Cancelled());
    }));
}

TEST_F(GroupEditorTest, RangeChecksComeInOrderOnTheGeneralPage)
{
    cImporterGroup group = ImportGroup();
    EXPECT_FALSE(Edit(group, [&](frmGroupDetails& w) {
        w.tbsGroupDetails->setCurrentIndex(2);
        w.txtGroupName->setText("");
        w.txtImportStartCart->setText("10000"); // beyond the store's highest
        EXPECT_EQ(PressOK(w), "You must enter a Group Name");
        EXPECT_EQ(LastStyle(), Exclaim);
        EXPECT_EQ(w.tbsGroupDetails->currentIndex(), 2);

        w.txtGroupName->setText(" ");
        w.txtImportEndCart->setText("abc");
        EXPECT_EQ(PressOK(w), "You must enter a Start cart between 1 and 9999");
        EXPECT_EQ(w.tbsGroupDetails->currentIndex(), 0);

        w.txtImportStartCart->setText("20");
        EXPECT_EQ(PressOK(w), "You must enter an End cart between 1 and 9999");

        w.txtImportEndCart->setText("10");
        w.tbsGroupDetails->setCurrentIndex(1);
        EXPECT_EQ(PressOK(w), "Your Start cart cannot be higher than your End Cart");
        EXPECT_EQ(w.tbsGroupDetails->currentIndex(), 0);

        w.txtImportEndCart->setText("20");
        w.txtImportDirectory->setText("");
        EXPECT_EQ(PressOK(w), "You must enter a directory");

        // The re-check range goes through the same checks.
        w.optCheckExisting->setChecked(true);
        w.txtExistingStartCart->setText("1000");
        w.txtExistingEndCart->setText("999");
        EXPECT_EQ(PressOK(w), "Your Start cart cannot be higher than your End Cart");
        EXPECT_TRUE(w.isVisible());
    }));
    EXPECT_EQ(group.StartHDRef, "100");
}

TEST_F(GroupEditorTest, CartsTheUserMayNotEditAreAskedAbout)
{
    cImporterGroup group = ImportGroup();
    group.StartHDRef = "4000";
    group.EndHDRef = "6000"; // the user may edit 1 to 5000
    EXPECT_TRUE(Edit(group, [&](frmGroupDetails& w) {
        w.tbsGroupDetails->setCurrentIndex(2);
        EXPECT_TRUE(PressOK(w, {MsgBoxResult::No})
                        .startsWith("Warning: Cartfeeder does not have permission to edit some of "
                                    "the carts in that "
                                    "range, so it will not be able to correctly check the "
                                    "Cartvault\n\nDo you want to "
                                    "continue?"));
        EXPECT_EQ(LastStyle(), YesNo | Question | DefaultButton2);
        EXPECT_EQ(w.tbsGroupDetails->currentIndex(), 0);
        EXPECT_TRUE(w.isVisible());
        PressOK(w, {MsgBoxResult::Yes});
    }));
    EXPECT_EQ(group.EndHDRef, "6000");
}

TEST_F(GroupEditorTest, MissingDirectoryIsCreatedOnlyOnYes)
{
    cImporterGroup group = ImportGroup();
    const QString missing = home.File("incoming/new");
    EXPECT_TRUE(Edit(group, [&](frmGroupDetails& w) {
        w.txtImportDirectory->setText(missing);
        EXPECT_EQ(PressOK(w, {MsgBoxResult::No}),
                  "Do you want the directory '" + missing + "' created?");
        EXPECT_EQ(LastStyle(), YesNo | Question | DefaultButton1);
        EXPECT_FALSE(QDir(missing).exists());
        EXPECT_TRUE(w.isVisible());
        PressOK(w, {MsgBoxResult::Yes});
        EXPECT_TRUE(QDir(missing).exists());
    }));
    EXPECT_EQ(group.Path, missing);
}

TEST_F(GroupEditorTest, EmailChecksComeInOrderOnTheNotificationPage)
{
    cImporterGroup group = ImportGroup();
    importer->setSMTPEmailEnabled(false);
    EXPECT_TRUE(Edit(group, [&](frmGroupDetails& w) {
        w.chkEmailNotify->setChecked(true);
        EXPECT_TRUE(w.txtEmailNotifyFrom->isEnabled());
        EXPECT_FALSE(w.txtNotifySuccessEmailTo->isEnabled());
        w.txtEmailNotifyFrom->setText("Cartfeeder");
        EXPECT_EQ(PressOK(w), "You must enter a valid 'From' e-mail address for notifications");
        EXPECT_EQ(w.tbsGroupDetails->currentIndex(), 1);

        w.txtEmailNotifyFrom->setText("cartfeeder@example.com");
        w.tbsGroupDetails->setCurrentIndex(0);
        EXPECT_EQ(PressOK(w), "You have selected to send e-mail nofifcations, but you have not "
                              "chosen to send either 'Success' or 'Fail' notifications");
        EXPECT_EQ(w.tbsGroupDetails->currentIndex(), 1);

        w.chkNotifySuccessEmailTo->setChecked(true);
        EXPECT_TRUE(w.txtNotifySuccessEmailTo->isEnabled());
        w.txtNotifySuccessEmailTo->setText("   ");
        EXPECT_EQ(
            PressOK(w),
            "You must enter at least one e-mail address to send 'Success' notifications 'To'");

        w.txtNotifySuccessEmailTo->setText("news@example.com;");
        EXPECT_EQ(PressOK(w), "\"\" is not a valid e-mail address to send 'Success' "
                              "notifications 'To'");

        // An unticked list is still checked while notification is on.
        w.chkNotifySuccessEmailTo->setChecked(false);
        w.chkNotifyFailEmailTo->setChecked(true);
        w.txtNotifySuccessEmailTo->setText("news@example.com; jane");
        w.txtNotifyFailEmailTo->setText("ops@example.com");
        EXPECT_EQ(PressOK(w), "\" jane\" is not a valid e-mail address to send 'Success' "
                              "notifications 'To'");

        w.txtNotifySuccessEmailTo->setText("");
        w.txtNotifyFailEmailTo->setText("ops@example.com;;x@example.com");
        EXPECT_EQ(PressOK(w),
                  "\"\" is not a valid e-mail address to send 'Fail' notifications 'To'");

        // SMTP switched off: a warning, and the override checks still follow.
        w.txtNotifyFailEmailTo->setText(" ops@example.com ");
        w.chkOverrideTitle->setChecked(true);
        w.txtOverrideTitle->setText(" ");
        w.tbsGroupDetails->setCurrentIndex(1);
        answerer.Expect(MsgBoxResult::OK);
        EXPECT_EQ(PressOK(w), "You must enter a valid 'Title' Override");
        const MessageBoxRequest warning = answerer.Shown()[answerer.Shown().size() - 2];
        EXPECT_EQ(warning.Prompt, "Warning: To allow emails to be sent, you must specify the "
                                  "e-mail server details in 'Importer Settings'");
        EXPECT_EQ(warning.Style, OKOnly | Information);
        EXPECT_EQ(w.tbsGroupDetails->currentIndex(), 1); // no page switch for overrides

        w.chkOverrideTitle->setChecked(false);
        PressOK(w);
    }));
    EXPECT_EQ(group.NotifyEmailSender, "cartfeeder@example.com");
    EXPECT_EQ(group.NotifySuccessEmailRecipients, ""); // unticked
    EXPECT_EQ(group.NotifyFailEmailRecipients, "ops@example.com");
}

TEST_F(GroupEditorTest, PartlyFilledTimesAreRefusedOnlyWhenTicked)
{
    cImporterGroup group = ImportGroup();
    EXPECT_TRUE(Edit(group, [&](frmGroupDetails& w) {
        w.mtxtIntroStart->setText("12:3");
        EXPECT_TRUE(w.mtxtIntroStart->displayText().contains('_'));
        w.chkOverrideIntroStart->setChecked(true);
        EXPECT_EQ(PressOK(w), "You must enter a valid 'Intro Start' Override");
        EXPECT_EQ(w.tbsGroupDetails->currentIndex(), 0);

        w.chkOverrideIntroStart->setChecked(false);
        w.chkOverrideIntroEnd->setChecked(true);
        w.mtxtIntroEnd->setText("");
        EXPECT_EQ(PressOK(w), "You must enter a valid 'Intro End' Override");
        w.mtxtIntroEnd->setText("00:00:05.00");
        w.chkOverrideExtro->setChecked(true);
        w.mtxtExtro->setText("00:00:1");
        EXPECT_EQ(PressOK(w), "You must enter a valid Extro Override");
        w.mtxtExtro->setText("00:00:10.00");

        w.chkOverrideArtist->setChecked(true);
        w.txtOverrideArtist->setText("");
        EXPECT_EQ(PressOK(w), "You must enter a valid 'Artist' Override");
        w.txtOverrideArtist->setText(" Station ");
        w.chkOverrideDescription->setChecked(true);
        w.txtOverrideDescription->setText("  ");
        EXPECT_EQ(PressOK(w), "You must enter a valid 'Description' Override");
        w.chkOverrideDescription->setChecked(false);
        PressOK(w, {});
    }));
    EXPECT_EQ(group.OverrideIntroStart, -1.0f);
    EXPECT_EQ(group.OverrideIntroEnd, 5.0f);
    EXPECT_EQ(group.OverrideExtro, 10.0f);
    EXPECT_EQ(group.OverrideArtist, "Station");
    EXPECT_EQ(group.OverrideDescription, "");
}

TEST_F(GroupEditorTest, NewlyTickedLastModifiedRefreshesStampsThatDifferByMoreThanTwoSeconds)
{
    const QDateTime fileTime =
        QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch() / 60 * 60 - 3600);
    const qint64 fileStamp = DateTimeFunctions::ToStamp(fileTime);
    constexpr qint64 second = 10'000'000;
    auto addCart = [&](qint32 number, bool audio, qint64 stamp) {
        const QString path = home.File(QStringLiteral("%1.wav").arg(number));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.setFileTime(fileTime, QFileDevice::FileModificationTime));
        Cart cart;
        cart.HDReference = QString::number(number);
        cart.AudioFilePath = path;
        cart.HasAudio = audio;
        cart.LastModifiedLow = qint32(quint32(quint64(stamp) & 0xFFFFFFFFu));
        cart.LastModifiedHigh = qint32(quint64(stamp) >> 32);
        store.Carts[number] = cart;
    };
    addCart(1, true, fileStamp - 10 * second); // older: refreshed
    addCart(2, true, fileStamp - 2 * second);  // exactly 2.0: kept
    addCart(3, false, 0);                      // no audio: passed over
    addCart(4, true, fileStamp + 60 * second); // the cart is newer: kept
    addCart(5, true, 0);                       // no stamp yet: refreshed
    addCart(7, true, 0);                       // outside the range
    const auto stampOf = [&](qint32 n) {
        const Cart& c = store.Carts[n];
        return DateTimeFunctions::instance().MakeStamp(c.LastModifiedLow, c.LastModifiedHigh);
    };

    cImporterGroup group = RecheckGroup(); // carts 1 to 6
    const QString caution =
        "CAUTION! Before activating the 'Also compare Cart's 'Last Modified' field against the "
        "file's date/time.' option, a full backup must be taken";
    EXPECT_TRUE(Edit(group, [&](frmGroupDetails& w) {
        EXPECT_FALSE(w.OriginalCheckCurrentLastModified());
        w.chkCheckCurrentLastModified->setChecked(true);
        w.tbsGroupDetails->setCurrentIndex(2);
        EXPECT_TRUE(PressOK(w, {MsgBoxResult::No}).startsWith(caution));
        EXPECT_EQ(LastStyle(), YesNo | Question | DefaultButton2);
        EXPECT_EQ(w.tbsGroupDetails->currentIndex(), 0);
        EXPECT_TRUE(w.isVisible());

        EXPECT_TRUE(PressOK(w, {MsgBoxResult::Yes, MsgBoxResult::No})
                        .startsWith("Cartfeeder must update the stored 'Last Modified' "
                                    "information in the Cart Lists before it can continue.\n\n"));
        EXPECT_EQ(LastStyle(), YesNo | Question | DefaultButton2);
        EXPECT_TRUE(store.Saved.isEmpty());
        EXPECT_TRUE(w.isVisible());

        PressOK(w, {MsgBoxResult::Yes, MsgBoxResult::Yes});
        EXPECT_FALSE(w.isVisible());
        EXPECT_FALSE(w.pnlProgress->isVisible());
        EXPECT_EQ(w.lblCurrentTask->text(), "Checking/Updating: 6");
        EXPECT_EQ(w.progOverallProcess->value(), 100);
        EXPECT_EQ(store.RefreshCalls, 0); // only after the dialog was accepted
    }));
    EXPECT_EQ(store.Saved, QStringList({"1", "5"}));
    EXPECT_EQ(stampOf(1), fileStamp);
    EXPECT_EQ(stampOf(5), fileStamp);
    EXPECT_EQ(stampOf(2), fileStamp - 2 * second);
    EXPECT_EQ(stampOf(7), 0);
    EXPECT_EQ(store.RefreshCalls, 1);
    EXPECT_EQ(store.RefreshRanges, QStringList({"1-6"}));
    EXPECT_TRUE(group.CheckCurrentLastModified);

    // Already on: no question, no refresh.
    store.Saved.clear();
    EXPECT_TRUE(Edit(group, [&](frmGroupDetails& w) {
        EXPECT_TRUE(w.OriginalCheckCurrentLastModified());
        PressOK(w, {});
    }));
    EXPECT_TRUE(store.Saved.isEmpty());
    EXPECT_EQ(store.RefreshCalls, 1);
}

TEST_F(GroupEditorTest, NormaliseBoxIsHeldWithinAHundred)
{
    cImporterGroup group = ImportGroup();
    group.OverrideNormalise = 80;
    EXPECT_TRUE(Edit(group, [&](frmGroupDetails& w) {
        EXPECT_EQ(w.txtOverrideNormalise->text(), "80");
        EXPECT_TRUE(w.chkOverrideNormalise->isChecked());
        EXPECT_TRUE(w.txtOverrideNormalise->isEnabled());
        const QList<std::pair<QString, QString>> cases = {{"150", "100"}, {"abc", "0"},
                                                          {"49.5", "50"}, {"50.5", "50"},
                                                          {" 7x", "7"},   {"-3", "0"}};
        for (const auto& [typed, shown] : cases) {
            w.txtOverrideNormalise->setText(typed);
            focusOut(w.txtOverrideNormalise, Qt::TabFocusReason);
            EXPECT_EQ(w.txtOverrideNormalise->text(), shown) << typed.toStdString();
        }
        // A message box taking the activation is no move to another control.
        w.txtOverrideNormalise->setText("150");
        focusOut(w.txtOverrideNormalise, Qt::ActiveWindowFocusReason);
        EXPECT_EQ(w.txtOverrideNormalise->text(), "150");

        // Only three characters can be typed.
        w.txtOverrideNormalise->clear();
        QTest::keyClicks(w.txtOverrideNormalise, "1234");
        EXPECT_EQ(w.txtOverrideNormalise->text(), "123");

        // Enter accepts without the box losing the focus: the value is held all the same.
        w.txtOverrideNormalise->setText("999");
        PressOK(w, {});
    }));
    EXPECT_EQ(group.OverrideNormalise, 100);

    EXPECT_TRUE(Edit(group, [&](frmGroupDetails& w) {
        w.chkOverrideNormalise->setChecked(false);
        EXPECT_FALSE(w.txtOverrideNormalise->isEnabled());
        PressOK(w, {});
    }));
    EXPECT_EQ(group.OverrideNormalise, 0);
}

TEST_F(GroupEditorTest, EmailFieldsFollowTheSenderAndTheTicks)
{
    cImporterGroup group = ImportGroup();
    group.NotifySuccessEmailRecipients = "news@example.com";
    EXPECT_TRUE(Edit(group, [&](frmGroupDetails& w) {
        EXPECT_FALSE(w.chkEmailNotify->isChecked());
        EXPECT_EQ(w.txtNotifySuccessEmailTo->text(), "");
        EXPECT_FALSE(w.fraEmailNotification->isEnabled());
        PressOK(w, {});
    }));
    EXPECT_EQ(group.NotifySuccessEmailRecipients, "");

    group.NotifyEmailSender = "cartfeeder@example.com";
    group.NotifySuccessEmailRecipients = "news@example.com";
    group.NotifyFailEmailRecipients = "ops@example.com";
    EXPECT_TRUE(Edit(group, [&](frmGroupDetails& w) {
        EXPECT_TRUE(w.chkEmailNotify->isChecked());
        EXPECT_TRUE(w.chkNotifyFailEmailTo->isChecked());
        EXPECT_TRUE(w.txtNotifyFailEmailTo->isEnabled());
        EXPECT_EQ(base(w.txtNotifyFailEmailTo), windowColour(w.txtNotifyFailEmailTo));
        EXPECT_FALSE(w.lblNotifyFailEmailToExampleDesc->isEnabled());
        w.chkEmailNotify->setChecked(false);
        EXPECT_FALSE(w.txtNotifyFailEmailTo->isEnabled());
        EXPECT_EQ(base(w.txtNotifyFailEmailTo), faceColour(w.txtNotifyFailEmailTo));
        PressOK(w, {});
    }));
    EXPECT_EQ(group.NotifyEmailSender, "");
    EXPECT_EQ(group.NotifySuccessEmailRecipients, "");
    EXPECT_EQ(group.NotifyFailEmailRecipients, "");
}

TEST_F(GroupEditorTest, TagHelpAndSelectAllOnFocus)
{
    cImporterGroup group = ImportGroup();
    Edit(group, [&](frmGroupDetails& w) {
        answerer.Expect(MsgBoxResult::OK);
        w.cmdOverrideHelp->click();
        ASSERT_EQ(answerer.Shown().size(), 1);
        EXPECT_EQ(answerer.Shown()[0].Prompt,
                  "Available Tags are:\n\n\t<CURRENTDATE>\n\t<CURRENTTIME>\n\t<CURRENTDATETIME>\n"
                  "\t<CURRENTDATETIMEXML>\n\t\n\t<COMPUTERNAME>\n\t\n\t<FILEFULLNAME>\n"
                  "\t<FILENAME>\n\t<FILETITLE>\n\t<FILEEXTENSION>\n\t<FILEPATH>\n");
        EXPECT_EQ(answerer.Shown()[0].Style, OKOnly | Information);

        w.txtImportDirectory->deselect();
        // A reason for which the box would not select anything by itself.
        QFocusEvent in(QEvent::FocusIn, Qt::OtherFocusReason);
        QApplication::sendEvent(w.txtImportDirectory, &in);
        EXPECT_EQ(w.txtImportDirectory->selectedText(), watched);
    });
}

TEST_F(GroupEditorTest, ErrorsOfTheCartStoreReachTheCallerOrAreReported)
{
    cImporterGroup group = ImportGroup();
    Globals::PlayoutAudio = nullptr;
    {
        frmGroupDetails window;
        // Without a store the normalise default cannot be read; nothing is shown.
        EXPECT_THROW(window.DisplayGroup(&group, importer.get()), ToolError);
        EXPECT_FALSE(window.isVisible());
        EXPECT_FALSE(window.DisplayGroup(nullptr, importer.get()));
    }
    Globals::PlayoutAudio = &store;

    EXPECT_FALSE(Edit(group, [&](frmGroupDetails& w) {
        Globals::PlayoutAudio = nullptr;
        answerer.Expect(MsgBoxResult::OK);
        w.cmdOK->click();
        ASSERT_EQ(answerer.Shown().size(), 1);
        EXPECT_TRUE(
            answerer.Shown()[0].Prompt.startsWith("There was a problem checking the import group"));
        EXPECT_TRUE(w.isVisible());
        Globals::PlayoutAudio = &store;
    }));
}

namespace {

// Hands every cart the refresh asks for to a look at the window first.
class WatchedCartStore : public FakeCartStore
{
public:
    std::function<void(const QString&)> OnGetCart;
    std::optional<Cart> GetCart(S cart, qint32 level, bool flag) override
    {
        if (OnGetCart) {
            OnGetCart(cart);
        }
        return FakeCartStore::GetCart(cart, level, flag);
    }
};

// The share of pixels of the panel's place in the window that differ from the panel drawn
// on its own.
double DifferingShare(const QImage& shown, const QImage& panel)
{
    if (shown.size() != panel.size() || panel.isNull()) {
        return 1.0;
    }
    qint64 differing = 0;
    for (int y = 0; y < panel.height(); ++y) {
        for (int x = 0; x < panel.width(); ++x) {
            if (shown.pixel(x, y) != panel.pixel(x, y)) {
                ++differing;
            }
        }
    }
    return double(differing) / (double(panel.width()) * panel.height());
}

} // namespace

namespace {

// Posts an event when the store's length refresh starts and notes, when it ends, whether the
// event got through meanwhile.
class RefreshBreaths : public IAudioCallback
{
public:
    bool Delivered = false;
    bool DeliveredDuringRefresh = false;

    void ProgressStart(qint32 event, const QString&, bool, bool&) override
    {
        if (event == CartStore::RefreshEvent) {
            QMetaObject::invokeMethod(
                &m_receiver, [this] { Delivered = true; }, Qt::QueuedConnection);
        }
    }
    void ProgressEnd(qint32 event, const QString&, bool) override
    {
        if (event == CartStore::RefreshEvent) {
            DeliveredDuringRefresh = Delivered;
        }
    }
    void Callback(qint32, const QString&, const QString&, const QString&, bool&) override {}
    void HardDiskItemsFound(QObject*, bool&) override {}
    void Progress(const QString&, float, bool&) override {}
    void Progress2(qint32, const QString&, float, bool&) override {}

private:
    QObject m_receiver;
};

} // namespace

// The length refresh decodes carts missing from the length cache, which can take long: the
// program's windows go on with their events meanwhile (and take no input). The real store's
// refresh.
TEST_F(GroupEditorTest, TheLengthRefreshLetsTheWindowsBreathe)
{
    CartStore real(home.File("store"));
    const QString wav = home.File("jingle.wav");
    ASSERT_TRUE(AudioFixtures::WriteSineWav(wav, 0.5));
    bool first = false;
    bool second = true;
    ASSERT_TRUE(real.ImportAudioFile(nullptr, "2", wav, 0x24, -1, first, 0, -1, second));
    RefreshBreaths breaths;
    real.RegisterCallback(&breaths);
    Globals::PlayoutAudio = &real;
    cImporterGroup group = RecheckGroup();
    EXPECT_TRUE(Edit(group, [&](frmGroupDetails& w) {
        w.chkCheckCurrentLastModified->setChecked(true);
        PressOK(w, {MsgBoxResult::Yes, MsgBoxResult::Yes});
    }));
    Globals::PlayoutAudio = &store;
    EXPECT_TRUE(breaths.DeliveredDuringRefresh);
}

TEST_F(GroupEditorTest, RefreshPanelIsPaintedOverThePageWhileTheRefreshRuns)
{
    WatchedCartStore watchedStore;
    Globals::PlayoutAudio = &watchedStore;
    QStringList looked;
    cImporterGroup group = RecheckGroup();
    EXPECT_TRUE(Edit(group, [&](frmGroupDetails& w) {
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
        // What the window really shows: its backing store, not a fresh rendering of it.
        watchedStore.OnGetCart = [&](const QString& cart) {
            if (cart != QLatin1String("1") && cart != QLatin1String("5")) {
                return;
            }
            const QRect place = w.pnlProgress->geometry();
            const QImage shown = QGuiApplication::primaryScreen()
                                     ->grabWindow(w.winId())
                                     .toImage()
                                     .copy(place)
                                     .convertToFormat(QImage::Format_RGB32);
            const QImage panel =
                w.pnlProgress->grab().toImage().convertToFormat(QImage::Format_RGB32);
            EXPECT_TRUE(w.pnlProgress->isVisible());
            EXPECT_EQ(w.lblCurrentTask->text(), "Checking/Updating: " + cart);
            EXPECT_LT(DifferingShare(shown, panel), 0.01) << "at cart " << cart.toStdString();
            looked.append(cart);
        };
        w.chkCheckCurrentLastModified->setChecked(true);
        PressOK(w, {MsgBoxResult::Yes, MsgBoxResult::Yes});
        EXPECT_FALSE(w.isVisible());
    }));
    EXPECT_EQ(looked, QStringList({"1", "5"}));
    Globals::PlayoutAudio = &store;
}

TEST_F(GroupEditorTest, OptionsAndTheEmailBoxSitOnTheTopEdgeOfTheFramesTheyHead)
{
    cImporterGroup group = ImportGroup();
    Edit(group, [&](frmGroupDetails& w) {
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
        ExpectHeadingOnTopEdge(w.optCheckExisting, w.Frame1);
        ExpectHeadingOnTopEdge(w.optImport, w.fraImportOptions);

        w.tbsGroupDetails->setCurrentIndex(frmGroupDetails::NotificationPage);
        QApplication::processEvents();
        ExpectHeadingOnTopEdge(w.chkEmailNotify, w.fraEmailNotification);
        // A disabled frame leaves its heading usable.
        EXPECT_FALSE(w.fraEmailNotification->isEnabled());
        EXPECT_TRUE(w.chkEmailNotify->isEnabled());
        w.chkEmailNotify->click();
        EXPECT_TRUE(w.fraEmailNotification->isEnabled());
    });
}
