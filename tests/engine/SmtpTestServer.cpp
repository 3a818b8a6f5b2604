#include "SmtpTestServer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
const QString kPython = QStringLiteral("/usr/bin/python3");

QString ScriptPath()
{
    return QFileInfo(QStringLiteral(__FILE__)).dir().filePath(QStringLiteral("../support/smtp_server.py"));
}

int BoundSocket(qint32& port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (fd >= 0)
            ::close(fd);
        port = 0;
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}
} // namespace

bool SmtpTestServer::Available()
{
    static const bool available = [] {
        if (!QFileInfo::exists(kPython))
            return false;
        QProcess probe;
        probe.start(kPython, {QStringLiteral("-c"), QStringLiteral("import aiosmtpd.smtp")});
        return probe.waitForFinished(20000) && probe.exitStatus() == QProcess::NormalExit &&
               probe.exitCode() == 0;
    }();
    return available;
}

bool SmtpTestServer::Start(const Options& options)
{
    QStringList arguments{ScriptPath(), QStringLiteral("--out"), m_folder.path()};
    if (!options.User.isEmpty())
        arguments << QStringLiteral("--user") << options.User << QStringLiteral("--password")
                  << options.Password;
    if (options.Tls)
        arguments << QStringLiteral("--tls");
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(kPython, arguments);
    if (!m_process.waitForStarted(10000))
        return false;
    while (m_process.state() == QProcess::Running && !m_process.canReadLine())
        m_process.waitForReadyRead(20000);
    const QByteArray line = m_process.readLine().trimmed();
    if (!line.startsWith("PORT ")) {
        Stop();
        return false;
    }
    m_port = line.mid(5).toInt();
    return m_port > 0;
}

void SmtpTestServer::Stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.closeWriteChannel(); // the server ends when its input closes
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QList<ReceivedMail> SmtpTestServer::Received() const
{
    QList<ReceivedMail> mails;
    for (int n = m_first;; ++n) {
        QFile file(QDir(m_folder.path()).filePath(QStringLiteral("%1.json").arg(n)));
        if (!file.open(QIODevice::ReadOnly))
            break;
        const QJsonObject o = QJsonDocument::fromJson(file.readAll()).object();
        ReceivedMail mail;
        mail.MailFrom = o.value("mail_from").toString();
        for (const QJsonValue& value : o.value("rcpt_tos").toArray())
            mail.Recipients << value.toString();
        mail.AuthUser = o.value("auth_user").toString();
        mail.Tls = o.value("tls").toBool();
        mail.From = o.value("from").toString();
        mail.To = o.value("to").toString();
        mail.Subject = o.value("subject").toString();
        mail.ContentType = o.value("content_type").toString();
        for (const QJsonValue& value : o.value("parts").toArray())
            mail.Parts << value.toString();
        if (!o.value("text").isNull())
            mail.Text = o.value("text").toString();
        if (!o.value("html").isNull())
            mail.Html = o.value("html").toString();
        mail.BareLineFeeds = o.value("bare_lf").toBool();
        mail.Headers = o.value("headers").toObject();
        QFile raw(QDir(m_folder.path()).filePath(QStringLiteral("%1.eml").arg(n)));
        if (raw.open(QIODevice::ReadOnly))
            mail.Raw = raw.readAll();
        mails << mail;
    }
    return mails;
}

void SmtpTestServer::Clear() { m_first += int(Received().size()); }

namespace DeadPorts {

int Refusing(qint32& port) { return BoundSocket(port); }

int Silent(qint32& port)
{
    const int fd = BoundSocket(port);
    if (fd >= 0 && ::listen(fd, 4) != 0) {
        ::close(fd);
        port = 0;
        return -1;
    }
    return fd;
}

void Close(int fd)
{
    if (fd >= 0)
        ::close(fd);
}

} // namespace DeadPorts
