#include "engine/cEmail.h"

#include "SmtpTestServer.h"
#include "tests/support/TempHome.h"
#include "platform/RegistryFunctions.h"
#include "platform/ScriptedAnswerer.h"

#include <QFile>
#include <gtest/gtest.h>

namespace {

const QString kKey = QStringLiteral("SOFTWARE\\Orvane\\Utils");
const QString kGuard = QStringLiteral("SendingToSMTPServer");

QString Guard()
{
    return RegistryFunctions::instance().ReadString(Hive::CurrentUser, kKey, kGuard,
                                                    QStringLiteral("<none>"));
}

void Fill(cEmail& email, qint32 port)
{
    email.MailServer = QStringLiteral("127.0.0.1");
    email.ServerPort = port;
    email.Message()->setFrom(QStringLiteral("Cartfeeder <feeder@radio.test>"));
    email.Message()->setTo(QStringLiteral("ops@radio.test"));
    email.Message()->setSubject(QStringLiteral("Test"));
}

class cEmailTest : public ::testing::Test
{
protected:
    TempHome home;
    ScriptedAnswerer answers{
        [](const MessageBoxRequest& r) { ADD_FAILURE() << "box: " << r.Prompt.toStdString(); }};
};

class cEmailServerTest : public cEmailTest
{
protected:
    static void SetUpTestSuite()
    {
        if (SmtpTestServer::Available()) {
            s_plain = new SmtpTestServer;
            s_plain->Start();
        }
    }
    static void TearDownTestSuite()
    {
        delete s_plain;
        s_plain = nullptr;
    }
    void SetUp() override
    {
        if (!s_plain || !s_plain->Port())
            GTEST_SKIP() << "/usr/bin/python3 cannot run aiosmtpd";
        s_plain->Clear();
    }
    static SmtpTestServer* s_plain;
};
SmtpTestServer* cEmailServerTest::s_plain = nullptr;

} // namespace

TEST_F(cEmailTest, ChecksTheMessageBeforeAnythingElse)
{
    cEmail email;
    EXPECT_EQ(email.SendTimeout, 15);
    EXPECT_EQ(email.ServerPort, 25);
    QString reason = QStringLiteral("untouched");
    EXPECT_FALSE(email.SendEmail(reason, false));
    EXPECT_EQ(reason, QStringLiteral("Mail Server not configured."));

    // A guard naming this server would raise an (unscripted) question if it were read.
    RegistryFunctions::instance().WriteString(Hive::CurrentUser, kKey, kGuard, "mail.test");
    email.MailServer = QStringLiteral("mail.test");
    MailMessage* m = email.Message();
    const auto check = [&](const char* what) {
        reason.clear();
        EXPECT_FALSE(email.SendEmail(reason, false)) << what;
        EXPECT_EQ(reason, QStringLiteral("Email not configured correctly.")) << what;
    };
    m->setTextBody(QStringLiteral("body"));
    m->setFrom(QStringLiteral("feeder@radio.test"));
    check("no To");
    m->setTo(QStringLiteral(" ; ,, "));
    check("To of separators only");
    m->setTo(QStringLiteral("ops@radio.test"));
    m->setFrom(QString());
    check("no From");
    m->setFrom(QStringLiteral("feeder@radio.test"));
    m->setTextBody(QString());
    check("nothing to send");
    EXPECT_EQ(Guard(), QStringLiteral("mail.test"));
}

TEST_F(cEmailTest, LoadFromFileLeavesTheMessageAloneWhenThereIsNothingToLoad)
{
    cEmail email;
    email.Message()->setSubject(QStringLiteral("mine"));
    MailMessage* before = email.Message();
    EXPECT_FALSE(email.LoadFromFile(home.File("missing.eml")));
    QFile(home.File("empty.eml")).open(QIODevice::WriteOnly);
    EXPECT_FALSE(email.LoadFromFile(home.File("empty.eml")));
    EXPECT_EQ(email.Message(), before);
    EXPECT_EQ(email.Message()->Subject(), QStringLiteral("mine"));

    // Something that is no mail: false, with a new empty message.
    QFile junk(home.File("junk.eml"));
    junk.open(QIODevice::WriteOnly);
    junk.write("no mail here\n");
    junk.close();
    EXPECT_FALSE(email.LoadFromFile(home.File("junk.eml")));
    EXPECT_TRUE(email.Message()->Subject().isEmpty());
}

TEST_F(cEmailTest, SaveToFileCreatesTheFolderAndLoadsBack)
{
    cEmail email;
    email.Message()->setFrom(QStringLiteral("feeder@radio.test"));
    email.Message()->setSubject(QStringLiteral("Saved"));
    email.Message()->setHTMLBody(QStringLiteral("<p>kept</p>"));
    const QString path = home.File("new/folder/m.eml");
    ASSERT_TRUE(email.SaveToFile(path));
    cEmail other;
    ASSERT_TRUE(other.LoadFromFile(path));
    EXPECT_EQ(other.Message()->Subject(), QStringLiteral("Saved"));
    EXPECT_EQ(other.Message()->HTMLBody().trimmed(), QStringLiteral("<p>kept</p>"));
}

TEST_F(cEmailServerTest, SendsEnvelopeAndHeaders)
{
    cEmail email;
    Fill(email, s_plain->Port());
    email.Password = QStringLiteral("ignored without a user name");
    email.Message()->setTo(
        QStringLiteral(" ops@radio.test ;; \"Desk, News\" <news@radio.test>, tech@radio.test "));
    email.Message()->setSubject(QStringLiteral("Grüße – only a subject"));
    QString guardDuringSend;
    int busyCalls = 0;
    cEmail::SetBusyPointerHandler([&](bool busy) {
        ++busyCalls;
        if (busy)
            guardDuringSend = Guard();
    });
    QString reason;
    const bool sent = email.SendEmail(reason, true);
    cEmail::SetBusyPointerHandler({});
    ASSERT_TRUE(sent) << reason.toStdString();
    EXPECT_TRUE(reason.isEmpty());
    EXPECT_EQ(guardDuringSend, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(busyCalls, 2);
    EXPECT_EQ(Guard(), QStringLiteral("<none>"));

    const auto mails = s_plain->Received();
    ASSERT_EQ(mails.size(), 1);
    const ReceivedMail& mail = mails.first();
    EXPECT_EQ(mail.MailFrom, QStringLiteral("feeder@radio.test"));
    EXPECT_EQ(mail.Recipients,
              (QStringList{"ops@radio.test", "news@radio.test", "tech@radio.test"}));
    EXPECT_TRUE(mail.AuthUser.isEmpty());
    EXPECT_EQ(mail.From, QStringLiteral("Cartfeeder <feeder@radio.test>"));
    EXPECT_EQ(mail.To, QStringLiteral("ops@radio.test, \"Desk, News\" <news@radio.test>, "
                                      "tech@radio.test"));
    EXPECT_EQ(mail.Subject, QStringLiteral("Grüße – only a subject"));
    EXPECT_TRUE(mail.Headers.contains("Date"));
    EXPECT_TRUE(mail.Headers.contains("Message-ID") || mail.Headers.contains("Message-Id"));
    EXPECT_FALSE(mail.BareLineFeeds);
}

TEST_F(cEmailServerTest, GuardQuestionAnsweredNoAndYes)
{
    RegistryFunctions::instance().WriteString(Hive::CurrentUser, kKey, kGuard, "127.0.0.1");
    cEmail email;
    Fill(email, s_plain->Port());
    email.MailServer = QStringLiteral("127.0.0.1");
    QString reason;
    answers.Expect(MsgBoxResult::No);
    EXPECT_FALSE(email.SendEmail(reason, false));
    EXPECT_EQ(reason,
              QStringLiteral("User decided not to use the previously failed mail server '127.0.0.1'"));
    ASSERT_EQ(answers.Shown().size(), 1);
    const MessageBoxRequest& box = answers.Shown().first();
    EXPECT_EQ(box.Prompt, QStringLiteral("The last time an email was being sent via the mail server "
                                         "'127.0.0.1', it was not successfully sent.\n\nAre you "
                                         "sure you want to try and use this server again?"));
    EXPECT_EQ(box.Style, MsgBoxStyle::YesNo | MsgBoxStyle::Question | MsgBoxStyle::DefaultButton2);
    EXPECT_TRUE(s_plain->Received().isEmpty());
    EXPECT_EQ(Guard(), QStringLiteral("127.0.0.1"));

    answers.Expect(MsgBoxResult::Yes);
    EXPECT_TRUE(email.SendEmail(reason, false)) << reason.toStdString();
    EXPECT_EQ(answers.Shown().size(), 2);
    EXPECT_EQ(Guard(), QStringLiteral("<none>"));
    EXPECT_EQ(s_plain->Received().size(), 1);
}

TEST_F(cEmailServerTest, SilentModeNeverAsks)
{
    // The stored server differs in letter case only; silent mode does not even look.
    RegistryFunctions::instance().WriteString(Hive::CurrentUser, kKey, kGuard, "LOCALHOST");
    cEmail email;
    Fill(email, s_plain->Port());
    email.MailServer = QStringLiteral("localhost");
    QString reason;
    EXPECT_TRUE(email.SendEmail(reason, true)) << reason.toStdString();
    EXPECT_TRUE(answers.Shown().isEmpty());
    EXPECT_EQ(Guard(), QStringLiteral("<none>"));
}

TEST_F(cEmailServerTest, ServerRefusalsBecomeReasons)
{
    struct Case
    {
        const char* from;
        const char* to;
        const char* expected;
    };
    const Case cases[] = {
        {"bad@radio.test", "ops@radio.test", "553"},
        {"feeder@radio.test", "ops@radio.test; reject@radio.test", "550"},
        {"feeder@radio.test", "drop@radio.test", ""},
    };
    for (const Case& c : cases) {
        cEmail email;
        Fill(email, s_plain->Port());
        email.Message()->setFrom(c.from);
        email.Message()->setTo(c.to);
        QString reason;
        EXPECT_FALSE(email.SendEmail(reason, true)) << c.to;
        EXPECT_FALSE(reason.isEmpty()) << c.to;
        EXPECT_TRUE(reason.contains(c.expected)) << reason.toStdString();
        EXPECT_EQ(Guard(), QStringLiteral("<none>"));
    }
    EXPECT_TRUE(s_plain->Received().isEmpty()) << "one refused recipient fails the whole send";
}

TEST_F(cEmailServerTest, MalformedAddressesAreRefusedBeforeSending)
{
    cEmail email;
    Fill(email, s_plain->Port());
    email.Message()->setTo(QStringLiteral("ops@radio.test; nobody"));
    QString reason;
    EXPECT_FALSE(email.SendEmail(reason, true));
    EXPECT_EQ(reason, QStringLiteral("Invalid e-mail address 'nobody'"));
    email.Message()->setTo(QStringLiteral("ops@radio.test"));
    email.Message()->setFrom(QStringLiteral("Cartfeeder"));
    EXPECT_FALSE(email.SendEmail(reason, true));
    EXPECT_EQ(reason, QStringLiteral("Invalid e-mail address 'Cartfeeder'"));
    EXPECT_TRUE(s_plain->Received().isEmpty());
}

TEST_F(cEmailTest, DeadServersFailWithAReasonAndNoGuardLeft)
{
    qint32 refusing = 0;
    qint32 silent = 0;
    const int refusingFd = DeadPorts::Refusing(refusing);
    const int silentFd = DeadPorts::Silent(silent);
    ASSERT_GT(refusing, 0);
    ASSERT_GT(silent, 0);

    cEmail email;
    Fill(email, refusing);
    QString reason;
    EXPECT_FALSE(email.SendEmail(reason, true));
    EXPECT_TRUE(reason.contains(QStringLiteral("connect"), Qt::CaseInsensitive))
        << reason.toStdString();
    EXPECT_EQ(Guard(), QStringLiteral("<none>"));

    // The connection is made but the greeting never comes: the timeout ends the wait.
    cEmail waiting;
    Fill(waiting, silent);
    waiting.SendTimeout = 1;
    reason.clear();
    EXPECT_FALSE(waiting.SendEmail(reason, true));
    EXPECT_TRUE(reason.contains(QStringLiteral("timed out"), Qt::CaseInsensitive) ||
                reason.contains(QStringLiteral("timeout"), Qt::CaseInsensitive))
        << reason.toStdString();
    EXPECT_EQ(Guard(), QStringLiteral("<none>"));

    email.MailServer = QStringLiteral("bad/name?x");
    EXPECT_FALSE(email.SendEmail(reason, true));
    EXPECT_TRUE(reason.contains(QStringLiteral("bad/name?x"))) << reason.toStdString();

    DeadPorts::Close(refusingFd);
    DeadPorts::Close(silentFd);
}

TEST_F(cEmailTest, LogsInWhenAUserNameIsSet)
{
    if (!SmtpTestServer::Available())
        GTEST_SKIP() << "/usr/bin/python3 cannot run aiosmtpd";
    SmtpTestServer server;
    ASSERT_TRUE(server.Start({QStringLiteral("feeder"), QStringLiteral("s3cret"), false}));

    cEmail email;
    Fill(email, server.Port());
    email.UserName = QStringLiteral("feeder");
    email.Password = QStringLiteral("s3cret");
    QString reason;
    ASSERT_TRUE(email.SendEmail(reason, true)) << reason.toStdString();
    ASSERT_EQ(server.Received().size(), 1);
    EXPECT_EQ(server.Received().first().AuthUser, QStringLiteral("feeder"));

    email.Password = QStringLiteral("wrong");
    EXPECT_FALSE(email.SendEmail(reason, true));
    EXPECT_TRUE(reason.contains(QStringLiteral("535"))) << reason.toStdString();

    // No user name: no login, even with a password; this server then refuses the mail.
    email.UserName.clear();
    email.Password = QStringLiteral("s3cret");
    EXPECT_FALSE(email.SendEmail(reason, true));
    EXPECT_TRUE(reason.contains(QStringLiteral("530"))) << reason.toStdString();
    EXPECT_EQ(server.Received().size(), 1);
    EXPECT_EQ(Guard(), QStringLiteral("<none>"));
}

TEST_F(cEmailTest, TakesUpTlsWithoutTrustingTheCertificate)
{
    if (!SmtpTestServer::Available())
        GTEST_SKIP() << "/usr/bin/python3 cannot run aiosmtpd";
    SmtpTestServer server;
    if (!server.Start({QString(), QString(), true}))
        GTEST_SKIP() << "no TLS test server (openssl missing?)";
    cEmail email;
    Fill(email, server.Port());
    QString reason;
    ASSERT_TRUE(email.SendEmail(reason, true)) << reason.toStdString();
    ASSERT_EQ(server.Received().size(), 1);
    EXPECT_TRUE(server.Received().first().Tls);
}
