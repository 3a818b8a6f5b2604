#include "framework/AppLog.h"
#include "framework/ToolGlobals.h"
#include "platform/cartstore/CartStore.h"
#include "platform/profiles/PlayLogs.h"
#include "platform/profiles/PlayoutGeneral.h"
#include "platform/support/SupportFileGenerator.h"
#include "platform/support/SupportFilePerson.h"
#include "platform/system/ScriptedAnswerer.h"
#include "tests/support/TempHome.h"
#include "tests/support/ZipEntries.h"
#include "toolwindows/frmGoodInputBox.h"
#include "toolwindows/frmSupportFile.h"

#include <QApplication>
#include <QCheckBox>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QWindow>
#include <functional>
#include <gtest/gtest.h>

namespace {

const QString kClosing = "\n\nFor more information, please contact Orvane Technical Support\n\n"
                         "You will now be able to save the file to your local system";
const QString kUploadQuestion = "Do you want to automatically upload this Support File to "
                                "Orvane?\n\nNote that you must be connected to the internet "
                                "before clicking 'Yes'";
const QString kSent = "Your Support File has been successfully sent to Orvane";

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// The playout configuration: two files for the playout system, one for the cart store.
class FakeGeneral : public PlayoutGeneral
{
public:
    QStringList Files1;
    QStringList Files256;
    void setDebugLevel(qint32) override {}
    qint32 OpenProfile(const QString&, qint32, bool) override { return 1; }
    bool Start(QObject*, qint32) override { return true; }
    PlayoutAudio* Audio() override { return nullptr; }
    PlayoutLogging* Logging() override { return nullptr; }
    qint32 ShowFileLocations(qint32, bool, quint32) override { return 0; }
    qint32 ReloadProfile(const QString&, qint32) override { return 1; }
    QString GetComponentText(qint32 code) const override { return code == 1 ? "profile" : ""; }
    QStringList GetFileList(qint32 code) const override { return code == 1 ? Files1 : Files256; }
};

// Makes files for real; its upload answers from a script, and saving keeps a copy for the test.
class ScriptedGenerator : public SupportFileGenerator
{
public:
    QList<qint32> UploadResults;
    std::function<void()> DuringUpload;
    QStringList Calls;
    QString KeptCopy;

    qint32 CreateSupportFile(bool requireContact) override
    {
        Calls << "create";
        return SupportFileGenerator::CreateSupportFile(requireContact);
    }
    qint32 UploadSupportFile(const QString& uploadText, QString& reply) override
    {
        Calls << "upload";
        const qint32 result = UploadResults.isEmpty() ? 0 : UploadResults.takeFirst();
        emit UploadStarted();
        if (DuringUpload) {
            DuringUpload();
        }
        if (result == 0) {
            emit UploadFinished();
        }
        return result;
    }
    void SaveSupportFile() override
    {
        Calls << "save";
        QFile::remove(KeptCopy);
        QFile::copy(MadeFile(), KeptCopy);
        emit SaveFinished(KeptCopy);
    }
    void Finish() override
    {
        Calls << "finish";
        SupportFileGenerator::Finish();
    }
};

frmGoodInputBox* VisibleInputBox()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<frmGoodInputBox*>(widget); box && box->isVisible()) {
            return box;
        }
    }
    return nullptr;
}

class frmSupportFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        savedVersion = QCoreApplication::applicationVersion();
        QCoreApplication::setApplicationVersion("2.5.13");
        savedEditor = SupportFilePerson::CurrentEditorHook();
        SupportFilePerson::SetEditorHook([this](SupportFilePerson& person, bool, qint32) {
            ++editorShown;
            const bool confirm = !editorAnswers.isEmpty() && editorAnswers.takeFirst();
            if (confirm) {
                person.Email = "pat@station.example";
            }
            return confirm;
        });

        store = std::make_unique<CartStore>(home.File("store"));
        Cart jingle;
        jingle.Title = "Station Jingle";
        jingle.Length = 5.0f;
        bool flag = false;
        ASSERT_EQ(store->SaveCart("42", jingle, 3, false, false, flag), 0);
        ASSERT_TRUE(WriteFile(store->AudioFolder() + "/00042.wav", "RIFF-audio-of-42"));
        logs = std::make_unique<PlayLogs>(*store);
        general.Files1 = {home.File("config/HKEY_CURRENT_USER.ini")};
        general.Files256 = {home.File("store/cartvault.db")};
        ASSERT_TRUE(WriteFile(general.Files1[0], "[x]\n"));
        Globals::PlayoutAudio = store.get();
        Globals::PlayoutLogging = logs.get();
        Globals::PlayoutGeneral = &general;
    }

    void TearDown() override
    {
        Globals::PlayoutAudio = nullptr;
        Globals::PlayoutLogging = nullptr;
        Globals::PlayoutGeneral = nullptr;
        Globals::AppLogFile.clear();
        Globals::AppLogFolder.clear();
        SupportFilePerson::SetEditorHook(savedEditor);
        QCoreApplication::setApplicationVersion(savedVersion);
    }

    // A window with a scripted generator whose contact is complete.
    std::unique_ptr<frmSupportFile> MakeWindow(bool withContact = true)
    {
        generator = new ScriptedGenerator;
        generator->KeptCopy = home.File("kept.zip");
        if (withContact) {
            generator->Person().Email = "pat@station.example";
        }
        return std::make_unique<frmSupportFile>(QColor(10, 20, 30), nullptr, generator);
    }

    // Types the answer into the input box that Add opens; "" with cancel presses Cancel.
    void AddCart(frmSupportFile& window, const QString& answer, bool cancel = false)
    {
        QTimer::singleShot(0, [answer, cancel] {
            QPointer<frmGoodInputBox> box = VisibleInputBox();
            if (!box) {
                ADD_FAILURE() << "the input box is not shown";
                return;
            }
            EXPECT_EQ(box->windowTitle(), "Add Cart");
            EXPECT_EQ(box->TLength(), "5"); // the length of the highest cart, 99999
            QTest::keyClicks(box->Text1, answer);
            cancel ? box->cmdCancel->click() : box->cmdOK->click();
        });
        window.cmdAddCart->click();
    }

    // Fills in what the checks need and leaves only the chosen information ticked.
    void Prepare(frmSupportFile& window, bool logs, bool carts)
    {
        window.txtReason->setPlainText("Carts stop importing");
        window.txtSupportID->setText("4711");
        window.chkLogFiles->setChecked(logs);
        window.chkPlayLogFiles->setChecked(logs);
        window.chkCartvault->setChecked(logs);
        window.chkSendCart->setChecked(carts);
    }

    QStringList Prompts() const
    {
        QStringList prompts;
        for (const MessageBoxRequest& request : answers.Shown()) {
            prompts << request.Prompt;
        }
        return prompts;
    }

    void ExpectIdle(frmSupportFile& window)
    {
        EXPECT_FALSE(window.Busy() || window.pnlStatus->isVisible());
        for (QWidget* w : std::initializer_list<QWidget*>{
                 window.cmdMakeFile, window.cmdEditPerson, window.txtReason, window.txtSupportID,
                 window.fraInformation, window.chkLogFiles}) {
            EXPECT_TRUE(w->isEnabled()) << w->metaObject()->className();
        }
        EXPECT_EQ(window.cursor().shape(), Qt::ArrowCursor);
    }

    TempHome home;
    ScriptedAnswerer answers{
        [](const MessageBoxRequest& r) { ADD_FAILURE() << "box: " << r.Prompt.toStdString(); }};
    std::unique_ptr<CartStore> store;
    std::unique_ptr<PlayLogs> logs;
    FakeGeneral general;
    ScriptedGenerator* generator = nullptr; // owned by the window
    QList<bool> editorAnswers;
    int editorShown = 0;
    SupportFilePerson::EditorHook savedEditor;
    QString savedVersion;
};

} // namespace

TEST_F(frmSupportFileTest, MakeFileChecksTheReasonTheCartsAndTheSupportID)
{
    auto window = MakeWindow();
    window->show();
    const QString noReason = "You must give a reason for this sending this Support File";
    for (const char* reason :
         {"   \n  ", "", "Please read: <ENTER THE REASON you are sending this file to orvane> ok",
          "<enter the reason you are sending this file to orvane>"}) {
        window->txtReason->setPlainText(reason);
        answers.Expect(MsgBoxResult::OK);
        window->cmdMakeFile->click();
    }
    EXPECT_EQ(Prompts(), QStringList(4, noReason));
    EXPECT_EQ(answers.Shown()[0].Style, MsgBoxStyle::OKOnly | MsgBoxStyle::Exclamation);

    answers.Clear();
    window->txtReason->setPlainText("Carts stop importing");
    window->chkSendCart->setChecked(true);
    answers.Expect(MsgBoxResult::OK);
    window->cmdMakeFile->click();
    EXPECT_EQ(Prompts(), QStringList({"You must add at least one cart that you want to send, or "
                                      "de-select the 'Include Audio...' option"}));

    answers.Clear();
    window->chkSendCart->setChecked(false);
    window->txtSupportID->setText("  ");
    answers.Expect(MsgBoxResult::No);
    window->cmdMakeFile->click();
    ASSERT_EQ(answers.Shown().size(), 1);
    EXPECT_EQ(answers.Shown()[0].Prompt,
              "You should enter a Support ID from Orvane Technical Support before you create "
              "this Support File.\nIf you do not have one, you should email "
              "support@orvane.example and you will recieve a code by automated reply.\n\nDo "
              "you want to continue?");
    EXPECT_EQ(answers.Shown()[0].Style,
              MsgBoxStyle::YesNo | MsgBoxStyle::Question | MsgBoxStyle::DefaultButton2);
    EXPECT_TRUE(generator->Calls.isEmpty()); // every refusal stopped before the generator
    ExpectIdle(*window);
}

TEST_F(frmSupportFileTest, AddCartRefusesBadAndDuplicateCartsAndRemoveMovesTheSelection)
{
    auto window = MakeWindow();
    window->chkSendCart->setChecked(true);

    answers.Expect(MsgBoxResult::OK);
    AddCart(*window, "abc");
    AddCart(*window, "42");
    answers.Expect(MsgBoxResult::OK);
    AddCart(*window, "0042"); // the same cart by number
    AddCart(*window, "7");    // empty, but not negative: accepted
    AddCart(*window, "99", true);
    EXPECT_EQ(Prompts(), QStringList({"You must enter a valid Cart to include in the Support File",
                                      "Cart 0042 is already added to the list"}));
    ASSERT_EQ(window->listCarts->count(), 2);
    EXPECT_EQ(window->listCarts->item(0)->text(), "42-Station Jingle");
    EXPECT_EQ(window->listCarts->item(1)->text(), "7-");
    EXPECT_TRUE(window->listCarts->item(1)->isSelected());
    EXPECT_TRUE(window->cmdRemoveCart->isEnabled());

    window->cmdRemoveCart->click(); // the last row: the new last row is selected
    ASSERT_EQ(window->listCarts->count(), 1);
    EXPECT_TRUE(window->listCarts->item(0)->isSelected());
    window->cmdRemoveCart->click(); // the only row: nothing left to select
    EXPECT_EQ(window->listCarts->count(), 0);
    EXPECT_FALSE(window->cmdRemoveCart->isEnabled());
}

TEST_F(frmSupportFileTest, ACartThatCannotBeExportedEndsTheRun)
{
    auto window = MakeWindow();
    Prepare(*window, false, true);
    AddCart(*window, "42");
    AddCart(*window, "7"); // has no audio to export
    answers.Expect(MsgBoxResult::OK);
    window->cmdMakeFile->click();
    EXPECT_EQ(Prompts(), QStringList({"Cart 7 could not be included"}));
    EXPECT_TRUE(generator->Calls.isEmpty()); // nothing made, sent or saved
    ExpectIdle(*window);
    EXPECT_TRUE(window->listCarts->isEnabled());
    EXPECT_EQ(QDir(store->AudioFolder()).entryList({"*.zip"}), QStringList());
}

TEST_F(frmSupportFileTest, MadeFileHoldsTheChosenLogsConfigurationAndCarts)
{
    ASSERT_TRUE(InitialiseAppLog(home.File("Logs"), 6));
    AddToAppLog("GRP:1", "Imported");
    const QString appLog = Globals::AppLogFile;
    const QDate today = QDate::currentDate();
    const QString playLog =
        PlayLogs::FolderOf(store->BaseFolder()) + "/" + PlayLogs::FileNameOf(today);
    ASSERT_TRUE(WriteFile(playLog, "played 42"));
    // A file the store keeps beside the cart's audio, with the name an export would take.
    ASSERT_TRUE(WriteFile(store->AudioFolder() + "/00042.zip", "kept beside the audio"));

    auto window = MakeWindow(false); // no contact yet: the editor is asked for one
    editorAnswers = {true};
    Prepare(*window, true, true);
    AddCart(*window, "0042");
    answers.Expect(MsgBoxResult::No); // save instead of upload
    answers.Expect(MsgBoxResult::OK);
    window->cmdMakeFile->click();
    EXPECT_EQ(editorShown, 1);
    EXPECT_EQ(generator->Calls, QStringList({"create", "create", "save", "finish"}));
    EXPECT_EQ(Prompts(),
              QStringList({kUploadQuestion, "Your Support File has been successfully saved to " +
                                                generator->KeptCopy}));
    ExpectIdle(*window);

    const auto entries = ZipEntries(generator->KeptCopy);
    EXPECT_EQ(entries.value("Files/" + QFileInfo(appLog).fileName()), "GRP:1:Imported\n");
    EXPECT_EQ(entries.value("Files/" + QFileInfo(playLog).fileName()), "played 42");
    EXPECT_TRUE(entries.contains("Files/HKEY_CURRENT_USER.ini"));
    EXPECT_TRUE(entries.contains("Files/cartvault.db"));
    ASSERT_TRUE(entries.contains("Files/00042.zip"));
    EXPECT_NE(entries.value("Files/00042.zip"), "kept beside the audio");
    const QString info = QString::fromUtf8(entries.value("SupportFile.txt"));
    EXPECT_TRUE(info.startsWith("Cartfeeder v2.5.13 Support File\r\nSupport ID: [ORV4711]\r\n"));
    EXPECT_TRUE(info.contains("\r\nCarts stop importing\r\n"));

    // The exported transport file holds the cart's audio, and is gone from disk again.
    ASSERT_TRUE(WriteFile(home.File("inner.zip"), entries.value("Files/00042.zip")));
    EXPECT_EQ(ZipEntries(home.File("inner.zip")).value("00042.wav"), "RIFF-audio-of-42");
    const auto exported = QRegularExpression("Files/00042.zip <- (.*)\r\n").match(info).captured(1);
    ASSERT_FALSE(exported.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(exported));
    QFile kept(store->AudioFolder() + "/00042.zip");
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), "kept beside the audio");
}

TEST_F(frmSupportFileTest, UploadResultsAreAnsweredAsTheTableSays)
{
    const QString saved = "Your Support File has been successfully saved to ";
    const QString prefix = "You can not upload a support file because ";
    const QString noConnection = prefix + "a connection to the Internet could not be found.";
    const QString noDestination = prefix + "the information could not be read to determine where "
                                           "to upload the Support File to.";
    const QString badEmail = "You must enter a valid email address to send the support file to "
                             "Orvane";
    const QString blocked = prefix + "your email address has been blocked.";
    const QString orvuid = prefix + "your ORVUID has been blocked.";
    struct Case
    {
        QList<qint32> results;
        QList<bool> editor;
        QStringList messages; // after the upload question; a save adds its own message
        bool save;
    };
    const QList<Case> cases = {
        {{0}, {}, {kSent}, false},
        {{1}, {}, {noConnection + kClosing}, true},
        {{5}, {}, {}, false},
        {{6}, {}, {noDestination + kClosing}, true},
        {{9, 0}, {true}, {badEmail, kSent}, false},
        {{9}, {false}, {badEmail}, true},
        {{13, 0}, {true}, {blocked + kClosing, kSent}, false},
        {{14}, {}, {orvuid + kClosing}, true},
        {{3}, {}, {}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "first result " << c.results.first());
        auto window = MakeWindow();
        Prepare(*window, false, false);
        generator->UploadResults = c.results;
        editorAnswers = c.editor;
        editorShown = 0;
        answers.Clear();
        const QStringList expected =
            QStringList{kUploadQuestion} + c.messages +
            (c.save ? QStringList{saved + generator->KeptCopy} : QStringList());
        answers.Expect(MsgBoxResult::Yes);
        for (int i = 1; i < expected.size(); ++i) {
            answers.Expect(MsgBoxResult::OK);
        }
        window->cmdMakeFile->click();

        EXPECT_EQ(Prompts(), expected);
        for (const MessageBoxRequest& request : answers.Shown().mid(1)) {
            const bool good = request.Prompt == kSent || request.Prompt.startsWith(saved);
            EXPECT_EQ(request.Icon(), good ? MsgBoxStyle::Information : MsgBoxStyle::Exclamation);
        }
        EXPECT_EQ(generator->Calls.count("upload"), c.results.size());
        EXPECT_EQ(generator->Calls.contains("save"), c.save);
        EXPECT_EQ(editorShown, c.editor.size());
        EXPECT_EQ(generator->Calls.last(), "finish");
        ExpectIdle(*window);
    }
}

TEST_F(frmSupportFileTest, DuringARunTheWindowIsLockedAndCannotBeClosed)
{
    auto window = MakeWindow();
    window->show();
    Prepare(*window, false, false);
    const QString refused =
        "You cannot close this window while a support file is being generated/uploaded";
    generator->UploadResults = {5};
    generator->DuringUpload = [&] {
        EXPECT_TRUE(window->Busy());
        EXPECT_TRUE(window->pnlStatus->isVisible());
        EXPECT_EQ(window->lblStatus->text(), "Sending...");
        EXPECT_FALSE(window->cmdMakeFile->isEnabled());
        EXPECT_FALSE(window->txtReason->isEnabled());
        EXPECT_FALSE(window->txtSupportID->isEnabled());
        EXPECT_FALSE(window->dtpLogsStartDate->isEnabled());
        window->cmdMakeFile_Click(); // a second press does nothing

        answers.Expect(MsgBoxResult::OK);
        answers.Expect(MsgBoxResult::OK);
        window->windowHandle()->close();
        QTest::keyClick(window.get(), Qt::Key_Escape);
        EXPECT_TRUE(window->isVisible());

        window->cmdStop->click();
        EXPECT_TRUE(window->StopRequested());
        EXPECT_EQ(window->lblStatus->text(), "Stopping...");
        EXPECT_FALSE(window->cmdStop->isEnabled());
        bool cancel = false;
        window->SupportFileGenerator1_UploadProgress(40.0f, cancel);
        EXPECT_TRUE(cancel);
    };
    answers.Expect(MsgBoxResult::Yes);
    window->cmdMakeFile->click();
    EXPECT_EQ(Prompts(), QStringList({kUploadQuestion, refused, refused}));
    EXPECT_EQ(generator->Calls, QStringList({"create", "upload", "finish"}));
    ExpectIdle(*window);
    window->chkLogFiles->setChecked(true); // the pickers follow their box again
    EXPECT_TRUE(window->dtpLogsStartDate->isEnabled());
    window->chkLogFiles->setChecked(false);
    EXPECT_FALSE(window->dtpLogsStartDate->isEnabled());

    QTest::keyClick(window.get(), Qt::Key_Escape); // idle: Esc closes
    EXPECT_FALSE(window->isVisible());
}

TEST_F(frmSupportFileTest, GeneratorErrorsAndTheLargeFileWarningAreShown)
{
    auto window = MakeWindow();
    answers.Expect(MsgBoxResult::OK);
    emit generator->CreateError(7, "disk full");
    bool cancel = false;
    answers.Expect(MsgBoxResult::No);
    emit generator->Warning(0x80040001, cancel);
    EXPECT_TRUE(cancel);
    cancel = false;
    emit generator->Warning(0x80040002, cancel); // other codes are ignored
    EXPECT_FALSE(cancel);
    EXPECT_EQ(Prompts(), QStringList({"There was a problem creating the Support File - disk full",
                                      "Caution - this Support File is quite large and may take "
                                      "some time to send.\n\nAre you sure you want to continue?"}));
    EXPECT_EQ(answers.Shown()[1].Style, MsgBoxStyle::YesNo | MsgBoxStyle::Question);
}
