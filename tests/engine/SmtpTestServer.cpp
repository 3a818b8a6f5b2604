#include "tests/engine/SmtpTestServer.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
const QString kPython = QStringLiteral("/usr/bin/python3");
}

bool SmtpTestServer::Available()
{
    static const bool available = [] {
        QProcess probe;
        probe.start(kPython, {QStringLiteral("-c"), QStringLiteral("import aiosmtpd.smtp")});
        return probe.waitForFinished(20000) && probe.exitStatus() == QProcess::NormalExit &&
               probe.exitCode() == 0;
    }();
    return available;
}

bool SmtpTestServer::Start(const QString& user, const QString& password, bool tls)
{
    const QString script = QStringLiteral(CF_SOURCE_DIR "/tests/support/smtp_server.py");
    QStringList arguments{script, QStringLiteral("--out"), m_folder.path()};
    if (!user.isEmpty()) {
        arguments << "--user" << user << "--password" << password;
    }
    if (tls) {
        arguments << "--tls";
    }
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(kPython, arguments);
    while (m_process.waitForReadyRead(20000) && !m_process.canReadLine()) {
    }
    const QByteArray line = m_process.readLine().trimmed();
    m_port = line.startsWith("PORT ") ? line.mid(5).toInt() : 0;
    if (!m_port) {
        Stop();
    }
    return m_port > 0;
}

void SmtpTestServer::Stop()
{
    if (m_process.state() == QProcess::NotRunning) {
        return;
    }
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
        if (!file.open(QIODevice::ReadOnly)) {
            return mails;
        }
        mails.append({QJsonDocument::fromJson(file.readAll()).object()});
    }
}

int DeadPort(bool listening, qint32& port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
        (!listening || ::listen(fd, 4) == 0)) {
        port = ntohs(address.sin_port);
    }
    return fd;
}
