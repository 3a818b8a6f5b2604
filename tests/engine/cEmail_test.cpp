#include "engine/cEmail.h"

#include "platform/system/LongWork.h"
#include "platform/system/RegistryFunctions.h"
#include "platform/system/ScriptedAnswerer.h"
#include "tests/engine/SmtpTestServer.h"
#include "tests/support/BreathRecorder.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/SkipOutsideCi.h"
#include "tests/support/TempHome.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

const QString kKey = QStringLiteral("SOFTWARE\\Orvane\\Utils");
const QString kGuard = QStringLiteral("SendingToSMTPServer");

QString Guard()
{
    return RegistryFunctions::instance().ReadString(Hive::CurrentUser, kKey, kGuard, "<none>");
}

void SetGuard(const QString& server)
{
    RegistryFunctions::instance().WriteString(Hive::CurrentUser, kKey, kGuard, server);
}

class cEmailTest : public ::testing::Test
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

    void NeedServer()
    {
        if (!s_server || !s_server->Port()) {
            SKIP_OUTSIDE_CI("/usr/bin/python3 cannot run aiosmtpd");
        }
        s_server->Clear();
    }

    // A mail ready to go to the test server.
    void Fill(cEmail& email, qint32 port = 0)
    {
        email.MailServer = QStringLiteral("127.0.0.1");
        email.ServerPort = port ? port : (s_server ? s_server->Port() : 25);
        email.Message()->setFrom(QStringLiteral("Cartfeeder <feeder@radio.test>"));
        email.Message()->setTo(QStringLiteral("ops@radio.test"));
        email.Message()->setSubject(QStringLiteral("Test"));
    }

    QString Send(cEmail& email, bool silent = true)
    {
        QString reason;
        return email.SendEmail(reason, silent) ? QStringLiteral("sent") : reason;
    }

    TempHome home;
    ScriptedAnswerer answers{
        [](const MessageBoxRequest& r) { ADD_FAILURE() << "box: " << r.Prompt.toStdString(); }};
    static inline SmtpTestServer* s_server = nullptr;
};

} // namespace

TEST_F(cEmailTest, ChecksTheMessageBeforeTheGuardOrTheServer)
{
    cEmail email;
    EXPECT_EQ(email.SendTimeout, 15);
    EXPECT_EQ(Send(email, false), QStringLiteral("Mail Server not configured."));
    // The guard names this server: reading it would raise an unscripted question.
    SetGuard("mail.test");
    email.MailServer = QStringLiteral("mail.test");
    MailMessage* m = email.Message();
    const QString notConfigured = QStringLiteral("Email not configured correctly.");
    m->setTextBody(QStringLiteral("body"));
    m->setFrom(QStringLiteral("feeder@radio.test"));
    EXPECT_EQ(Send(email, false), notConfigured) << "no To";
    m->setTo(QStringLiteral(" ; ,, "));
    EXPECT_EQ(Send(email, false), notConfigured) << "To of separators only";
    m->setTo(QStringLiteral("ops@radio.test"));
    m->setFrom(QString());
    EXPECT_EQ(Send(email, false), notConfigured) << "no From";
    m->setFrom(QStringLiteral("feeder@radio.test"));
    m->setTextBody(QString());
    EXPECT_EQ(Send(email, false), notConfigured) << "nothing to send";
    EXPECT_EQ(Guard(), QStringLiteral("mail.test"));
}

TEST_F(cEmailTest, LoadAndSaveFiles)
{
    cEmail email;
    email.Message()->setSubject(QStringLiteral("mine"));
    MailMessage* before = email.Message();
    EXPECT_FALSE(email.LoadFromFile(home.File("missing.eml")));
    QFile(home.File("empty.eml")).open(QIODevice::WriteOnly);
    EXPECT_FALSE(email.LoadFromFile(home.File("empty.eml")));
    EXPECT_EQ(email.Message(), before);
    EXPECT_EQ(email.Message()->Subject(), QStringLiteral("mine"));

    email.Message()->setHTMLBody(QStringLiteral("<p>kept</p>"));
    ASSERT_TRUE(email.SaveToFile(home.File("new/folder/m.eml")));
    cEmail other;
    ASSERT_TRUE(other.LoadFromFile(home.File("new/folder/m.eml")));
    EXPECT_EQ(other.Message()->Subject(), QStringLiteral("mine"));
    EXPECT_EQ(other.Message()->HTMLBody().trimmed(), QStringLiteral("<p>kept</p>"));

    // Not a mail: false, and the message is a new empty one.
    QFile junk(home.File("junk.eml"));
    junk.open(QIODevice::WriteOnly);
    junk.write("no mail here\n");
    junk.close();
    EXPECT_FALSE(other.LoadFromFile(junk.fileName()));
    EXPECT_TRUE(other.Message()->Subject().isEmpty());
}

// A full disk (here a file-size limit) that shows only when the last buffered bytes go out.
TEST_F(cEmailTest, SaveThatFailsPartwayLeavesTheOldFile)
{
    cEmail email;
    email.Message()->setSubject(QStringLiteral("old"));
    const QString path = home.File("m.eml");
    ASSERT_TRUE(email.SaveToFile(path));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();

    email.Message()->setSubject(QStringLiteral("new"));
    email.Message()->setTextBody(QString(8000, 'x'));
    {
        const FileSizeLimit limit(4096);
        ASSERT_TRUE(limit.Ok());
        EXPECT_FALSE(email.SaveToFile(path));
    }
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll() == before);
    EXPECT_EQ(QDir(home.Path()).entryList({"*m.eml*"}, QDir::Files | QDir::Hidden),
              QStringList{"m.eml"});
}

TEST_F(cEmailTest, SendsEnvelopeAndHeadersWithTheGuardHeldMeanwhile)
{
    NeedServer();
    cEmail email;
    Fill(email);
    email.Password = QStringLiteral("unused without a user name");
    email.Message()->setTo(" ops@radio.test ;; \"Desk, News\" <news@radio.test>, tech@radio.test ");
    email.Message()->setSubject(QStringLiteral("Grüße – only a subject"));
    QStringList busy;
    cEmail::SetBusyPointerHandler([&](bool on) { busy << (on ? "on:" + Guard() : "off"); });
    EXPECT_EQ(Send(email), QStringLiteral("sent"));
    cEmail::SetBusyPointerHandler({});
    EXPECT_EQ(busy, (QStringList{"on:127.0.0.1", "off"}));
    EXPECT_EQ(Guard(), QStringLiteral("<none>"));

    const auto mails = s_server->Received();
    ASSERT_EQ(mails.size(), 1);
    const ReceivedMail& mail = mails.first();
    EXPECT_EQ(mail["mail_from"], QStringLiteral("feeder@radio.test"));
    EXPECT_EQ(mail.Recipients(),
              (QStringList{"ops@radio.test", "news@radio.test", "tech@radio.test"}));
    EXPECT_TRUE(mail["auth_user"].isEmpty());
    EXPECT_EQ(mail["from"], QStringLiteral("Cartfeeder <feeder@radio.test>"));
    EXPECT_EQ(mail["to"], "ops@radio.test, \"Desk, News\" <news@radio.test>, tech@radio.test");
    EXPECT_EQ(mail["subject"], QStringLiteral("Grüße – only a subject"));
    EXPECT_TRUE(mail.Headers().contains("Date"));
    EXPECT_FALSE(mail.Record.value("bare_lf").toBool());
}

TEST_F(cEmailTest, GuardQuestion)
{
    NeedServer();
    SetGuard("LOCALHOST");
    cEmail email;
    Fill(email);
    email.MailServer = QStringLiteral("localhost");
    answers.Expect(MsgBoxResult::No);
    EXPECT_EQ(
        Send(email, false),
        QStringLiteral("User decided not to use the previously failed mail server 'localhost'"));
    ASSERT_EQ(answers.Shown().size(), 1);
    EXPECT_EQ(
        answers.Shown()[0].Prompt,
        QStringLiteral("The last time an email was being sent via the mail server 'localhost', "
                       "it was not successfully sent.\n\nAre you sure you want to try and "
                       "use this server again?"));
    EXPECT_EQ(answers.Shown()[0].Style,
              MsgBoxStyle::YesNo | MsgBoxStyle::Question | MsgBoxStyle::DefaultButton2);
    EXPECT_EQ(Guard(), QStringLiteral("LOCALHOST"));
    EXPECT_TRUE(s_server->Received().isEmpty());

    answers.Expect(MsgBoxResult::Yes);
    EXPECT_EQ(Send(email, false), QStringLiteral("sent"));
    EXPECT_EQ(Guard(), QStringLiteral("<none>"));

    SetGuard("LOCALHOST");
    EXPECT_EQ(Send(email, true), QStringLiteral("sent")); // silent: never asked
    EXPECT_EQ(answers.Shown().size(), 2);
    EXPECT_EQ(s_server->Received().size(), 2);
}

TEST_F(cEmailTest, RefusedSendsGiveTheServersReason)
{
    NeedServer();
    const QList<QPair<const char*, const char*>> cases{
        {"bad@radio.test", "553 5.1.8 Sender address rejected"},
        {"reject@radio.test", "550 5.1.1 No such user here"}, // one refusal fails the whole send
        {"drop@radio.test", "354"},                           // connection closed mid-message
        {"nobody", "Invalid e-mail address 'nobody'"},        // refused before sending
    };
    for (const auto& [address, expected] : cases) {
        SCOPED_TRACE(address);
        cEmail email;
        Fill(email);
        if (QByteArray(address).startsWith("bad")) {
            email.Message()->setFrom(address);
        } else {
            email.Message()->setTo(QStringLiteral("ops@radio.test; ") + address);
        }
        const QString reason = Send(email);
        EXPECT_TRUE(reason.contains(expected)) << reason.toStdString();
        EXPECT_EQ(Guard(), QStringLiteral("<none>"));
    }
    EXPECT_TRUE(s_server->Received().isEmpty());
}

TEST_F(cEmailTest, DeadServers)
{
    qint32 refusing = 0;
    qint32 silent = 0;
    const int fd1 = DeadPort(false, refusing);
    const int fd2 = DeadPort(true, silent);
    ASSERT_TRUE(refusing && silent);
    cEmail email;
    Fill(email, refusing);
    EXPECT_TRUE(Send(email).contains("Couldn't connect")) << Send(email).toStdString();
    Fill(email, silent);
    email.SendTimeout = 1; // the greeting never comes
    // libcurl words it after the phase it was in ("Connection timed out", "... timeout").
    const QString why = Send(email);
    EXPECT_TRUE(why.contains("timeout", Qt::CaseInsensitive) ||
                why.contains("timed out", Qt::CaseInsensitive))
        << why.toStdString();
    EXPECT_EQ(Guard(), QStringLiteral("<none>"));
    email.MailServer = QStringLiteral("bad/name?x");
    EXPECT_TRUE(Send(email).contains("bad/name?x"));
    ::close(fd1);
    ::close(fd2);
}

TEST_F(cEmailTest, LogsInOnlyWithAUserName)
{
    NeedServer();
    SmtpTestServer server;
    if (!server.Start("feeder", "s3cret", true)) {
        SKIP_OUTSIDE_CI("no TLS test server (openssl missing?)");
    }
    cEmail email;
    Fill(email, server.Port());
    email.UserName = QStringLiteral("feeder");
    email.Password = QStringLiteral("s3cret");
    EXPECT_EQ(Send(email), QStringLiteral("sent"));
    ASSERT_EQ(server.Received().size(), 1);
    EXPECT_EQ(server.Received()[0]["auth_user"], QStringLiteral("feeder"));
    EXPECT_TRUE(server.Received()[0].Record.value("tls").toBool());
    email.Password = QStringLiteral("wrong");
    EXPECT_TRUE(Send(email).startsWith("Login denied (server response: 535"));
    // No user name: no login even with a password, which this server refuses.
    email.UserName.clear();
    email.Password = QStringLiteral("s3cret");
    EXPECT_TRUE(Send(email).contains("530 5.7.0 Authentication required"));
}

TEST_F(cEmailTest, TakesUpTlsWithoutTrustingTheCertificate)
{
    NeedServer();
    SmtpTestServer server;
    // The server's private key is not left in the temporary folder, even if it is killed.
    const bool hadTemp = qEnvironmentVariableIsSet("TMPDIR");
    const QByteArray savedTemp = qgetenv("TMPDIR");
    const QString temp = home.File("tmp");
    ASSERT_TRUE(QDir().mkpath(temp));
    qputenv("TMPDIR", QFile::encodeName(temp));
    const bool started = server.Start({}, {}, true);
    hadTemp ? qputenv("TMPDIR", savedTemp) : qunsetenv("TMPDIR");
    if (!started) {
        SKIP_OUTSIDE_CI("no TLS test server (openssl missing?)");
    }
    EXPECT_TRUE(QDir(temp).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
    cEmail email;
    Fill(email, server.Port());
    EXPECT_EQ(Send(email), QStringLiteral("sent"));
    ASSERT_EQ(server.Received().size(), 1);
    EXPECT_TRUE(server.Received()[0].Record.value("tls").toBool());
}

// A server that answers every command but one, at which it falls silent. After a send has
// succeeded or timed out, the answer to QUIT must not cost the window another timeout.
TEST_F(cEmailTest, SilentServerCostsOneTimeoutAtMost)
{
    const QString script = QStringLiteral(R"(
import socket, sys
silent = sys.argv[1].encode()
s = socket.socket()
s.bind(("127.0.0.1", 0))
s.listen(1)
print(s.getsockname()[1], flush=True)
c, _ = s.accept()
f = c.makefile("rb")
c.sendall(b"220 hi\r\n")
for line in f:
    cmd = line.strip().upper()
    if cmd.startswith(silent):
        f.read()
        break
    if cmd == b"DATA":
        c.sendall(b"354 go\r\n")
        while f.readline() not in (b".\r\n", b""):
            pass
    c.sendall(b"250 ok\r\n")
)");
    for (const char* silent : {"MAIL", "QUIT"}) {
        QProcess server;
        server.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), script, silent});
        ASSERT_TRUE(server.waitForReadyRead(10000)) << silent;
        cEmail email;
        Fill(email, server.readLine().trimmed().toInt());
        email.SendTimeout = 3;
        QElapsedTimer clock;
        clock.start();
        const QString result = Send(email);
        const qint64 elapsed = clock.elapsed();
        if (QByteArray(silent) == "MAIL") {
            EXPECT_TRUE(result.contains("timeout")) << result.toStdString();
            EXPECT_LT(elapsed, 5000) << "two timeouts";
        } else {
            EXPECT_EQ(result, QStringLiteral("sent"));
            EXPECT_LT(elapsed, 2500) << "waited for the answer to QUIT";
        }
        EXPECT_EQ(Guard(), QStringLiteral("<none>"));
        server.kill();
        server.waitForFinished();
    }
}

// A server that offers a login but no STARTTLS (or whose offer someone in between removed):
// every line the client writes is echoed to standard output.
TEST_F(cEmailTest, PasswordNeverGoesOutInClear)
{
    const QString script = QStringLiteral(R"(
import socket, sys
s = socket.socket()
s.bind(("127.0.0.1", 0))
s.listen(1)
print(s.getsockname()[1], flush=True)
c, _ = s.accept()
f = c.makefile("rb")
c.sendall(b"220 hi\r\n")
for line in f:
    sys.stdout.buffer.write(line)
    sys.stdout.flush()
    cmd = line.strip().upper()
    if cmd.startswith(b"EHLO"):
        c.sendall(b"250-smtp.test\r\n250-AUTH PLAIN LOGIN\r\n250 8BITMIME\r\n")
    elif cmd.startswith(b"AUTH"):
        c.sendall(b"235 ok\r\n")
    elif cmd == b"DATA":
        c.sendall(b"354 go\r\n")
        while f.readline() not in (b".\r\n", b""):
            pass
        c.sendall(b"250 ok\r\n")
    elif cmd == b"QUIT":
        c.sendall(b"221 bye\r\n")
        break
    else:
        c.sendall(b"250 ok\r\n")
)");
    QProcess server;
    server.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), script});
    ASSERT_TRUE(server.waitForReadyRead(10000));
    cEmail email;
    Fill(email, server.readLine().trimmed().toInt());
    email.UserName = QStringLiteral("feeder");
    email.Password = QStringLiteral("s3cret");
    EXPECT_EQ(Send(email),
              "The mail server offers no encrypted connection; the password was not sent.");
    EXPECT_EQ(Guard(), QStringLiteral("<none>"));
    server.waitForFinished(5000);
    const QByteArray wire = server.readAllStandardOutput();
    // The client did talk to this server: the test would pass on a dead one otherwise.
    EXPECT_TRUE(wire.contains("EHLO")) << wire.constData();
    EXPECT_FALSE(wire.contains("AUTH")) << wire.constData();
    EXPECT_FALSE(wire.contains(QByteArray("\0feeder\0s3cret", 14).toBase64()));
    EXPECT_FALSE(wire.contains("s3cret"));
    server.kill();
    server.waitForFinished();
}

// A server that takes the connection and never answers: the send waits for it without freezing
// the caller, and ends as soon as the caller must stop.
TEST_F(cEmailTest, SendBreathesAndStopsWhenTold)
{
    qint32 port = 0;
    const int fd = DeadPort(true, port);
    ASSERT_TRUE(port);
    cEmail email;
    Fill(email, port);
    ASSERT_EQ(email.SendTimeout, 15);
    BreathRecorder window(400);
    QString result;
    {
        const LongWork::Scope scope(window.Handler());
        result = Send(email);
    }
    EXPECT_EQ(result, QStringLiteral("Sending stopped: the program is closing"));
    ASSERT_GE(window.StoppedAtMs, 0);
    EXPECT_LT(window.ElapsedMs() - window.StoppedAtMs, 500) << "the stop was not honoured at once";
    EXPECT_GE(window.Breaths, 5);
    EXPECT_LT(window.LongestGapMs, 300);
    EXPECT_EQ(Guard(), QStringLiteral("<none>"));
    ::close(fd);
}
