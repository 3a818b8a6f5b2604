#include "engine/cImporter.h"
#include "engine/cImporterEmail.h"
#include "engine/cImporterGroup.h"

#include "framework/AppLog.h"
#include "framework/ToolGlobals.h"
#include "platform/system/GeneralFunctions.h"
#include "platform/system/SystemInfoFunctions.h"
#include "tests/engine/SmtpTestServer.h"
#include "tests/support/SkipOutsideCi.h"
#include "tests/support/TempHome.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <gtest/gtest.h>
#include <memory>

// Reaches the importer's private mail routines and its group list.
class cImporterEmailTest
{
public:
    static cImporterGroup& AddGroup(cImporter& importer)
    {
        importer.m_groups.push_back(std::make_unique<cImporterGroup>());
        return *importer.m_groups.back();
    }
    static void Success(cImporter& importer, qint16 group, QString file, QString note)
    {
        QString cart = QStringLiteral("1234");
        importer.SendSuccessEmail(group, file, cart, note);
    }
    static void Fail(cImporter& importer, qint16 group, QString file, QString note)
    {
        QString cart = QStringLiteral("1234");
        importer.SendFailedEmail(group, file, cart, note);
    }
};

namespace {

const QString kFile = QStringLiteral("/in/1234 Jingle.wav");
const QString kNote = QStringLiteral("Successfully imported new audio file.");

class NotificationEmailTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        if (SmtpTestServer::Available()) {
            s_server = new SmtpTestServer;
            s_server->Start();
        }
    }
    static void TearDownTestSuite() { delete s_server; }

    void SetUp() override
    {
        if (!s_server || !s_server->Port()) {
            SKIP_OUTSIDE_CI("/usr/bin/python3 cannot run aiosmtpd");
        }
        s_server->Clear();
        ASSERT_TRUE(InitialiseAppLog(home.File("Logs/Cartfeeder"), 0));
        NotificationEmail::SetTemplateBaseFolder(home.File("program"));
        NotificationEmail::SetServerPort(s_server->Port());
        importer = std::make_unique<cImporter>();
        QObject::connect(importer.get(), &cImporter::LogEventAdded,
                         [this](const QDateTime&, const QString& text) { log << text; });
        importer->setSMTPServerAddress(QStringLiteral("127.0.0.1"));
        importer->setSMTPEmailEnabled(false); // mails go out whatever this says
        importer->setSMTPPassword(QStringLiteral("unused without a login name"));
        group = &cImporterEmailTest::AddGroup(*importer);
        group->GroupName = QStringLiteral("Jingles");
        group->NotifyEmailSender = QStringLiteral("Cartfeeder <feeder@radio.test>");
        group->NotifySuccessEmailRecipients = QStringLiteral("ops@radio.test;  ; desk@radio.test ");
        group->NotifyFailEmailRecipients = QStringLiteral("tech@radio.test");
    }

    void TearDown() override
    {
        importer.reset(); // it logs as it ends
        Globals::AppLogFile.clear();
        Globals::AppLogFolder.clear();
        Globals::AppLogDate = 0;
        Globals::AppLogSequence = 0;
        NotificationEmail::SetTemplateBaseFolder(QString());
        NotificationEmail::SetServerPort(25);
    }

    void WriteTemplate(const QString& name, const QByteArray& content,
                       const QString& folder = "Templates")
    {
        QDir().mkpath(home.File("program/" + folder));
        QFile file(home.File("program/" + folder + "/") + name);
        file.open(QIODevice::WriteOnly);
        file.write(content);
    }

    ReceivedMail TakeMail()
    {
        const QList<ReceivedMail> mails = s_server->Received();
        s_server->Clear();
        EXPECT_EQ(mails.size(), 1);
        return mails.value(0);
    }

    static QString Today()
    {
        return QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat);
    }
    static QString Computer() { return SystemInfoFunctions::instance().ComputerName(); }

    TempHome home;
    std::unique_ptr<cImporter> importer;
    cImporterGroup* group = nullptr;
    QStringList log;
    static inline SmtpTestServer* s_server = nullptr;
};

} // namespace

TEST_F(NotificationEmailTest, BuiltInMails)
{
    cImporterEmailTest::Success(*importer, 1, kFile, kNote);
    ReceivedMail mail = TakeMail();
    EXPECT_EQ(mail["mail_from"], QStringLiteral("feeder@radio.test"));
    EXPECT_EQ(mail.Recipients(), (QStringList{"ops@radio.test", "desk@radio.test"}));
    EXPECT_TRUE(mail["auth_user"].isEmpty()) << "no login name: no login, password or not";
    EXPECT_EQ(mail["subject"], QStringLiteral("Cartfeeder Success:1234 Jingle.wav -> Cart 1234"));
    EXPECT_EQ(mail["content_type"], QStringLiteral("multipart/alternative"));
    const QString html = mail["html"].trimmed();
    EXPECT_TRUE(html.startsWith("<html><font face='Arial'>The file \"/in/1234 Jingle.wav\" was "
                                "successfully imported into Cart 1234 at " +
                                Today()))
        << html.toStdString();
    EXPECT_TRUE(html.endsWith("<br><br>Additional Information: " + kNote +
                              "<br><br>This is an automatic email from Cartfeeder running on " +
                              Computer() + "</font></html>"))
        << html.toStdString();
    const QStringList lines = mail["text"].trimmed().split(u'\n');
    ASSERT_EQ(lines.size(), 5);
    EXPECT_EQ(lines[2], "Additional Information: " + kNote);

    cImporterEmailTest::Fail(*importer, 1, kFile, QStringLiteral("Cart is locked."));
    mail = TakeMail();
    EXPECT_EQ(mail.Recipients(), QStringList{"tech@radio.test"});
    EXPECT_EQ(mail["subject"], QStringLiteral("Cartfeeder FAIL:1234 Jingle.wav -> Cart 1234"));
    EXPECT_EQ(mail["content_type"], QStringLiteral("text/html")) << "no text part generated";
    EXPECT_TRUE(
        mail["html"].contains("\"/in/1234 Jingle.wav\" FAILED TO importe into Cart 1234 at "));
    EXPECT_TRUE(mail["html"].contains("<br><br>The reason given was: Cart is locked.<br>"));
    EXPECT_EQ(log, (QStringList{"GRP:1:Success Notification Email Sent OK",
                                "GRP:1:Fail Notification Email Sent OK"}));
}

TEST_F(NotificationEmailTest, NothingWithoutGroupOrRecipients)
{
    group->NotifyFailEmailRecipients.clear();
    cImporterEmailTest::Fail(*importer, 1, kFile, kNote);
    cImporterEmailTest::Success(*importer, 0, kFile, kNote);
    cImporterEmailTest::Success(*importer, 2, kFile, kNote); // no such group
    EXPECT_TRUE(s_server->Received().isEmpty());
    EXPECT_TRUE(log.isEmpty());
}

TEST_F(NotificationEmailTest, FailuresAreLoggedWithTheReason)
{
    importer->setSMTPServerAddress(QString());
    cImporterEmailTest::Success(*importer, 1, kFile, kNote);
    cImporterEmailTest::Fail(*importer, 1, kFile, kNote);
    importer->setSMTPServerAddress(QStringLiteral("127.0.0.1"));
    group->NotifySuccessEmailRecipients = QStringLiteral("ops@radio.test;nobody");
    cImporterEmailTest::Success(*importer, 1, kFile, kNote);
    EXPECT_EQ(
        log,
        (QStringList{
            "GRP:1:Failed to send Success Notification Email - Reason: Mail Server not configured.",
            "GRP:1:Failed to send Fail Notification Email - Reason: Mail Server not configured.",
            "GRP:1:Failed to send Success Notification Email - Reason: Invalid e-mail "
            "address 'nobody'"}));
    EXPECT_TRUE(s_server->Received().isEmpty());
}

TEST_F(NotificationEmailTest, TemplateTagsAreExpanded)
{
    // Lower-case tags, tags an HTML editor escaped, and a quoted-printable Latin-1 HTML part.
    WriteTemplate(
        "ImportSuccess.eml",
        "From: template@x.test\r\nTo: template-to@x.test\r\nX-Template: yes\r\n"
        "Subject: Imported <cartfeeder_filename>\r\n"
        "Content-Type: text/html; charset=\"ISO-8859-1\"\r\n"
        "Content-Transfer-Encoding: quoted-printable\r\n\r\n"
        "<p>Caf=E9 &lt;CARTFEEDER_GROUPNAME&gt;|&lt;cartfeeder_filetitle&gt;|"
        "<CARTFEEDER_FULLFILENAME>|<CARTFEEDER_FILENAME>|&lt;CARTFEEDER_HDREF&gt;|=\r\n"
        "<CARTFEEDER_DATETIME>|<Cartfeeder_Notes>|<CARTFEEDER_COMPUTERNAME>|&lt;b&gt;</p>\r\n");
    WriteTemplate("ImportFail.eml",
                  "Subject: FAILED <CARTFEEDER_HDREF>\r\nContent-Type: text/html\r\n\r\n"
                  "<p>Why: <CARTFEEDER_NOTES></p>\r\n");
    cImporterEmailTest::Success(*importer, 1, kFile, kNote);
    ReceivedMail mail = TakeMail();
    EXPECT_EQ(mail["subject"], QStringLiteral("Imported 1234 Jingle.wav"));
    EXPECT_EQ(mail.Recipients(), (QStringList{"ops@radio.test", "desk@radio.test"}));
    EXPECT_EQ(mail["to"], QStringLiteral("ops@radio.test, desk@radio.test"));
    EXPECT_EQ(mail.Headers().value("X-Template").toString(), QStringLiteral("yes"));
    const QString html = mail["html"].trimmed();
    const QString date = html.section(u'|', 5, 5);
    EXPECT_TRUE(date.startsWith(Today())) << html.toStdString();
    EXPECT_EQ(html, "<p>Café Jingles|1234 Jingle|/in/1234 Jingle.wav|1234 Jingle.wav|1234|" + date +
                        "|" + kNote + "|" + Computer() + "|<b></p>");
    EXPECT_TRUE(mail["text"].startsWith(QStringLiteral("Café Jingles|1234 Jingle|")));

    cImporterEmailTest::Fail(*importer, 1, kFile, QStringLiteral("Locked"));
    mail = TakeMail();
    EXPECT_EQ(mail["subject"], QStringLiteral("FAILED 1234"));
    EXPECT_EQ(mail["text"].trimmed(), QStringLiteral("Why: Locked")) << "generated for both mails";

    // Template sets copied from Windows come in any letter case; the exact spelling wins.
    WriteTemplate("importfail.eml", "Subject: Other case\r\n\r\nx\r\n", "TEMPLATES");
    cImporterEmailTest::Fail(*importer, 1, kFile, QStringLiteral("Locked"));
    EXPECT_EQ(TakeMail()["subject"], QStringLiteral("FAILED 1234"));
    ASSERT_TRUE(QDir(home.File("program/Templates")).removeRecursively());
    cImporterEmailTest::Fail(*importer, 1, kFile, QStringLiteral("Locked"));
    EXPECT_EQ(TakeMail()["subject"], QStringLiteral("Other case"));
}

TEST_F(NotificationEmailTest, BadTemplatesStillGiveAMail)
{
    const QList<QPair<QByteArray, QString>> cases{
        {"Dear all, this is no mail.\n", "Cartfeeder Success:1234 Jingle.wav -> Cart 1234"},
        {"Subject: Broken <CARTFEEDER_HDREF>\r\nContent-Type: multipart/mixed; boundary=q\r\n\r\n"
         "--q\r\nContent-Type: text/html\r\n\r\n<i>cut",
         "Broken 1234"},
        {"Subject: Odd\r\nContent-Type: text/html; charset=x-no-such\r\n\r\n\xc3\xa9t\xc3\xa9\r\n",
         "Odd"},
        {"Subject: Plain <CARTFEEDER_HDREF>\r\n\r\nOnly text\r\n", "Plain 1234"},
    };
    for (const auto& [content, subject] : cases) {
        SCOPED_TRACE(subject.toStdString());
        WriteTemplate("ImportSuccess.eml", content);
        cImporterEmailTest::Success(*importer, 1, kFile, kNote);
        EXPECT_EQ(TakeMail()["subject"], subject);
    }
    EXPECT_EQ(log.size(), 4);
}

TEST_F(NotificationEmailTest, FileNamesAreTextInTheHtmlBody)
{
    cImporterEmailTest::Success(*importer, 1, "/in/1234 <Rock & Roll>.wav", "a < b");
    const ReceivedMail mail = TakeMail();
    EXPECT_EQ(mail["subject"],
              QStringLiteral("Cartfeeder Success:1234 <Rock & Roll>.wav -> Cart 1234"));
    EXPECT_TRUE(mail["html"].contains("\"/in/1234 &lt;Rock &amp; Roll&gt;.wav\""));
    EXPECT_TRUE(mail["text"].contains("\"/in/1234 <Rock & Roll>.wav\""));
    EXPECT_TRUE(mail["text"].contains("Additional Information: a < b"));
}

TEST_F(NotificationEmailTest, LogsInWithTheImportersLoginName)
{
    SmtpTestServer server;
    if (!server.Start("feeder", "s3cret", true)) {
        SKIP_OUTSIDE_CI("no TLS test server (openssl missing?)");
    }
    NotificationEmail::SetServerPort(server.Port());
    importer->setSMTPLoginName(QStringLiteral("feeder"));
    importer->setSMTPPassword(QStringLiteral("s3cret"));
    cImporterEmailTest::Success(*importer, 1, kFile, kNote);
    ASSERT_EQ(server.Received().size(), 1);
    EXPECT_EQ(server.Received()[0]["auth_user"], QStringLiteral("feeder"));

    // The mail's trace line names the login but never the password.
    const qint32 level = GeneralFunctions::instance().DebugLevel();
    GeneralFunctions::instance().setDebugLevel(5);
    cImporterEmailTest::Success(*importer, 1, kFile, kNote);
    GeneralFunctions::instance().setDebugLevel(level);
    QFile trace(GeneralFunctions::TraceFilePath());
    ASSERT_TRUE(trace.open(QIODevice::ReadOnly));
    const QByteArray traced = trace.readAll();
    EXPECT_TRUE(traced.contains("UserName: feeder, Password: ********"));
    EXPECT_FALSE(traced.contains("s3cret"));
}
