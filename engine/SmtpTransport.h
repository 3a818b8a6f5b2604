#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// Hands one message to an SMTP server through libcurl. TLS is taken up with STARTTLS when the
// server offers it, without requiring a trusted certificate (stations run their own servers
// with self-signed ones), so that servers reached in clear keep working; a login is made only
// when a user name is given, and then only over TLS. While it waits for the server the send
// breathes (LongWork), and stops when told to.
class SmtpTransport
{
public:
    struct Request
    {
        QString Server;
        qint32 Port = 25;
        qint32 TimeoutSeconds = 15;
        QString UserName;
        QString Password;
        QString EnvelopeFrom;
        QStringList Recipients;
        QByteArray Data; // the message, CRLF line ends
    };

    SmtpTransport();
    ~SmtpTransport();
    SmtpTransport(const SmtpTransport&) = delete;
    SmtpTransport& operator=(const SmtpTransport&) = delete;

    // False when libcurl could not make a handle.
    bool IsValid() const { return m_curl != nullptr; }
    // Sets every option for the request; 0, or the libcurl code of the option that failed.
    qint32 Configure(const Request& request);
    // Sends; on failure the reason is libcurl's message with the server's response code, or
    // says that no encrypted connection was offered for the login, or that the send stopped.
    bool Send(QString& failReason);

private:
    // The libcurl code of the transfer; stopped when LongWork said so.
    int Perform(bool& stopped);
    static size_t ReadData(char* buffer, size_t size, size_t count, void* self);
    static int Trace(void* handle, int type, char* data, size_t size, void* self);

    void* m_curl = nullptr;
    struct curl_slist* m_recipients = nullptr;
    QByteArray m_data;
    qsizetype m_sent = 0;
    QString m_setupError;
    QList<QByteArray> m_responses; // the server's last answer lines
    int m_socket = -1;             // the connection's socket while it is open
    bool m_login = false;
    char m_errorBuffer[256] = {};
};
