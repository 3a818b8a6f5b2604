#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// tests/support/upload_server.py on a free loopback port: records every POST it receives.
class UploadTestServer
{
public:
    struct Request
    {
        QString Path;
        QByteArray Headers;
        QByteArray Body;
    };

    ~UploadTestServer() { Stop(); }

    bool Start();
    void Stop();
    qint32 Port() const { return m_port; }
    QString Url(const QString& path) const;
    QList<Request> Received() const;

    // A loopback port that refuses connections while the returned socket is open.
    static int RefusingPort(qint32& port);
    static void ClosePort(int fd);

private:
    QProcess m_process;
    QTemporaryDir m_folder;
    qint32 m_port = 0;
};
