#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

// What tests/support/smtp_server.py recorded for one accepted message: "mail_from", "rcpt_tos",
// "auth_user", "tls", "from", "to", "subject", "content_type", "text", "html", "bare_lf",
// "headers", as Python's own mail parser reads the message.
struct ReceivedMail
{
    QJsonObject Record;
    QString operator[](const char* key) const { return Record.value(key).toString(); }
    QStringList Recipients() const { return Record.value("rcpt_tos").toVariant().toStringList(); }
    QJsonObject Headers() const { return Record.value("headers").toObject(); }
};

// The aiosmtpd test server, run with Debian's python on a free loopback port.
class SmtpTestServer
{
public:
    ~SmtpTestServer() { Stop(); }
    // True when /usr/bin/python3 can import aiosmtpd.
    static bool Available();
    // A user name makes the server require that login; tls offers STARTTLS (self-signed).
    bool Start(const QString& user = QString(), const QString& password = QString(),
               bool tls = false);
    void Stop();
    qint32 Port() const { return m_port; }
    QList<ReceivedMail> Received() const;
    void Clear() { m_first += int(Received().size()); } // forgets what came so far

private:
    QProcess m_process;
    QTemporaryDir m_folder;
    qint32 m_port = 0;
    int m_first = 1;
};

// A loopback socket that refuses connections (bound, not listening) or takes them and never
// says a word (listening, never accepting). Returns the descriptor for ::close.
int DeadPort(bool listening, qint32& port);
