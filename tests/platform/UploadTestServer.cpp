#include "UploadTestServer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
QString ScriptPath()
{
    return QFileInfo(QStringLiteral(__FILE__))
        .dir()
        .filePath(QStringLiteral("../support/upload_server.py"));
}

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
} // namespace

bool UploadTestServer::Start()
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral("/usr/bin/python3"),
                    {ScriptPath(), QStringLiteral("--out"), m_folder.path()});
    if (!m_process.waitForStarted(10000)) {
        return false;
    }
    while (m_process.state() == QProcess::Running && !m_process.canReadLine()) {
        m_process.waitForReadyRead(20000);
    }
    const QByteArray line = m_process.readLine().trimmed();
    if (!line.startsWith("PORT ")) {
        Stop();
        return false;
    }
    m_port = line.mid(5).toInt();
    return m_port > 0;
}

void UploadTestServer::Stop()
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

QString UploadTestServer::Url(const QString& path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path);
}

QList<UploadTestServer::Request> UploadTestServer::Received() const
{
    QList<Request> requests;
    const QDir folder(m_folder.path());
    for (int n = 1; QFileInfo::exists(folder.filePath(QStringLiteral("%1.body").arg(n))); ++n) {
        Request request;
        request.Headers = ReadAll(folder.filePath(QStringLiteral("%1.headers").arg(n)));
        request.Body = ReadAll(folder.filePath(QStringLiteral("%1.body").arg(n)));
        request.Path = QString::fromUtf8(request.Headers.split('\n').value(0).mid(5));
        requests.append(request);
    }
    return requests;
}

int UploadTestServer::RefusingPort(qint32& port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        port = 0;
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

void UploadTestServer::ClosePort(int fd)
{
    if (fd >= 0) {
        ::close(fd);
    }
}
