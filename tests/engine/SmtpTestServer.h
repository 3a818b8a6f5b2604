#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// What the test SMTP server recorded for one accepted message.
struct ReceivedMail
{
    QString MailFrom;
    QStringList Recipients;
    QString AuthUser; // empty: no login
    bool Tls = false;
    QString From;
    QString To;
    QString Subject;
    QString ContentType;
    QStringList Parts;
    QString Text; // null when the message has no text/plain body
    QString Html; // null when it has no text/html body
    bool BareLineFeeds = false;
    QJsonObject Headers;
    QByteArray Raw;
};

// tests/support/smtp_server.py (aiosmtpd) run with Debian's python on a free loopback port.
class SmtpTestServer
{
public:
    struct Options
    {
        QString User; // set: the server requires this login
        QString Password;
        bool Tls = false; // offer STARTTLS with a self-signed certificate
    };

    ~SmtpTestServer() { Stop(); }

    // True when /usr/bin/python3 can import aiosmtpd.
    static bool Available();

    bool Start() { return Start(Options()); }
    bool Start(const Options& options);
    void Stop();
    qint32 Port() const { return m_port; }

    QList<ReceivedMail> Received() const;
    // Forgets the messages received so far.
    void Clear();

private:
    QProcess m_process;
    QTemporaryDir m_folder;
    qint32 m_port = 0;
    int m_first = 1; // number of the first message not yet cleared
};

// Loopback ports that fail in the two ways a dead server does.
namespace DeadPorts {
// A bound socket that does not listen: connections are refused. Closed by Close(fd).
int Refusing(qint32& port);
// A listening socket that never accepts: the connection is made and the greeting never comes.
int Silent(qint32& port);
void Close(int fd);
} // namespace DeadPorts
