#include "engine/SmtpTransport.h"

#include "platform/system/LongWork.h"

#include <cstring>
#include <curl/curl.h>
#include <mutex>
#include <sys/socket.h>
#include <unistd.h>

namespace {

void EnsureCurl()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// How long one wait for the server lasts before the window gets its turn.
constexpr int kPollMs = 20;

QByteArray Bracketed(const QByteArray& address)
{
    return "<" + address + ">";
}

} // namespace

SmtpTransport::SmtpTransport()
{
    EnsureCurl();
    m_curl = curl_easy_init();
}

SmtpTransport::~SmtpTransport()
{
    if (m_recipients) {
        curl_slist_free_all(m_recipients);
    }
    if (m_curl) {
        curl_easy_cleanup(static_cast<CURL*>(m_curl));
    }
}

size_t SmtpTransport::ReadData(char* buffer, size_t size, size_t count, void* self)
{
    auto* transport = static_cast<SmtpTransport*>(self);
    const size_t wanted = size * count;
    const size_t left = size_t(transport->m_data.size() - transport->m_sent);
    const size_t chunk = wanted < left ? wanted : left;
    std::memcpy(buffer, transport->m_data.constData() + transport->m_sent, chunk);
    transport->m_sent += qsizetype(chunk);
    return chunk;
}

int SmtpTransport::Trace(void*, int type, char* data, size_t size, void* self)
{
    // QUIT goes out once the mail has gone or failed: its answer is not worth another
    // timeout of a silent server, so the connection ends as soon as QUIT is written.
    auto* transport = static_cast<SmtpTransport*>(self);
    if (type == CURLINFO_HEADER_OUT && size >= 4 && std::strncmp(data, "QUIT", 4) == 0 &&
        transport->m_socket >= 0) {
        ::shutdown(transport->m_socket, SHUT_RDWR);
    }
    if (type == CURLINFO_HEADER_IN) {
        const QByteArray line = QByteArray(data, qsizetype(size)).trimmed();
        QList<QByteArray>& responses = transport->m_responses;
        if (!line.isEmpty()) {
            responses.append(line.left(200));
        }
        if (responses.size() > 8) {
            responses.removeFirst();
        }
    }
    return 0;
}

qint32 SmtpTransport::Configure(const Request& request)
{
    CURL* curl = static_cast<CURL*>(m_curl);
    if (!curl) {
        return CURLE_FAILED_INIT;
    }
    m_data = request.Data;
    m_sent = 0;
    m_setupError.clear();

    // Built through libcurl's URL parser, so that a server name cannot smuggle in a path.
    QByteArray host = request.Server.trimmed().toUtf8();
    if (host.count(':') >= 2 && !host.startsWith('[')) {
        host = "[" + host + "]";
    }
    CURLU* url = curl_url();
    if (!url) {
        return CURLE_OUT_OF_MEMORY;
    }
    CURLUcode urlCode = curl_url_set(url, CURLUPART_SCHEME, "smtp", 0);
    if (!urlCode) {
        urlCode = curl_url_set(url, CURLUPART_HOST, host.constData(), 0);
    }
    if (!urlCode) {
        urlCode =
            curl_url_set(url, CURLUPART_PORT, QByteArray::number(request.Port).constData(), 0);
    }
    char* text = nullptr;
    if (!urlCode) {
        urlCode = curl_url_get(url, CURLUPART_URL, &text, 0);
    }
    curl_url_cleanup(url);
    if (urlCode) {
        m_setupError = QStringLiteral("Bad mail server name '%1': %2")
                           .arg(request.Server, QString::fromUtf8(curl_url_strerror(urlCode)));
        return CURLE_OK;
    }
    const QByteArray address(text);
    curl_free(text);

    if (m_recipients) {
        curl_slist_free_all(m_recipients);
        m_recipients = nullptr;
    }
    for (const QString& recipient : request.Recipients) {
        curl_slist* list =
            curl_slist_append(m_recipients, Bracketed(recipient.toUtf8()).constData());
        if (!list) {
            return CURLE_OUT_OF_MEMORY;
        }
        m_recipients = list;
    }

    const long timeout = request.TimeoutSeconds > 0 ? long(request.TimeoutSeconds) : 0L;
    CURLcode code = CURLE_OK;
    auto set = [&](CURLoption option, auto value) {
        if (code == CURLE_OK) {
            code = curl_easy_setopt(curl, option, value);
        }
    };
    set(CURLOPT_ERRORBUFFER, m_errorBuffer);
    set(CURLOPT_NOSIGNAL, 1L);
    // A send stopped while the name is still being looked up does not wait for the lookup.
    set(CURLOPT_QUICK_EXIT, 1L);
    // Only to learn the server's answers for the failure reason; nothing is printed.
    set(CURLOPT_DEBUGFUNCTION, &SmtpTransport::Trace);
    set(CURLOPT_DEBUGDATA, static_cast<void*>(this));
    set(CURLOPT_VERBOSE, 1L);
    // The connection's socket, for Trace.
    const curl_sockopt_callback opened = [](void* self, curl_socket_t socket, curlsocktype) {
        static_cast<SmtpTransport*>(self)->m_socket = int(socket);
        return int(CURL_SOCKOPT_OK);
    };
    const curl_closesocket_callback closing = [](void* self, curl_socket_t socket) {
        auto* transport = static_cast<SmtpTransport*>(self);
        if (transport->m_socket == int(socket)) {
            transport->m_socket = -1;
        }
        return ::close(socket);
    };
    // Closed at the end of the send, not left to the handle's clean-up, which traces nothing.
    set(CURLOPT_FORBID_REUSE, 1L);
    set(CURLOPT_SOCKOPTFUNCTION, opened);
    set(CURLOPT_SOCKOPTDATA, static_cast<void*>(this));
    set(CURLOPT_CLOSESOCKETFUNCTION, closing);
    set(CURLOPT_CLOSESOCKETDATA, static_cast<void*>(this));
    set(CURLOPT_URL, address.constData());
    set(CURLOPT_MAIL_FROM, Bracketed(request.EnvelopeFrom.toUtf8()).constData());
    set(CURLOPT_MAIL_RCPT, m_recipients);
    set(CURLOPT_UPLOAD, 1L);
    set(CURLOPT_READFUNCTION, &SmtpTransport::ReadData);
    set(CURLOPT_READDATA, static_cast<void*>(this));
    set(CURLOPT_INFILESIZE_LARGE, curl_off_t(m_data.size()));
    // A password goes only over an encrypted connection: with a login, no STARTTLS means no
    // send (also when someone in between strips the offer); without one, TLS when offered.
    m_login = !request.UserName.isEmpty();
    set(CURLOPT_USE_SSL, long(m_login ? CURLUSESSL_ALL : CURLUSESSL_TRY));
    set(CURLOPT_SSL_VERIFYPEER, 0L);
    set(CURLOPT_SSL_VERIFYHOST, 0L);
    // The connection timeout also covers the greeting, STARTTLS and the login; every later
    // answer of the server, and a transfer that stalls, are held to the same time.
    set(CURLOPT_CONNECTTIMEOUT, timeout);
    set(CURLOPT_SERVER_RESPONSE_TIMEOUT, timeout);
    if (timeout > 0) {
        set(CURLOPT_LOW_SPEED_LIMIT, 1L);
        set(CURLOPT_LOW_SPEED_TIME, timeout);
    }
    if (!request.UserName.isEmpty()) {
        set(CURLOPT_USERNAME, request.UserName.toUtf8().constData());
        set(CURLOPT_PASSWORD, request.Password.toUtf8().constData());
    }
    return qint32(code);
}

bool SmtpTransport::Send(QString& failReason)
{
    CURL* curl = static_cast<CURL*>(m_curl);
    if (!curl) {
        failReason = QString::fromUtf8(curl_easy_strerror(CURLE_FAILED_INIT));
        return false;
    }
    if (!m_setupError.isEmpty()) {
        failReason = m_setupError;
        return false;
    }
    m_errorBuffer[0] = '\0';
    m_sent = 0;
    m_responses.clear();
    bool stopped = false;
    const CURLcode code = CURLcode(Perform(stopped));
    if (code == CURLE_OK) {
        return true;
    }
    if (stopped) {
        failReason = QStringLiteral("Sending stopped: the program is closing");
        return false;
    }
    if (code == CURLE_USE_SSL_FAILED && m_login) {
        failReason = QStringLiteral(
            "The mail server offers no encrypted connection; the password was not sent.");
        return false;
    }
    QString reason = QString::fromUtf8(m_errorBuffer).trimmed();
    if (reason.isEmpty()) {
        reason = QString::fromUtf8(curl_easy_strerror(code));
    }
    long response = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response);
    if (response > 0) {
        // The answer that failed, not the one to the QUIT that followed it.
        QString answer = QString::number(response);
        for (auto it = m_responses.crbegin(); it != m_responses.crend(); ++it) {
            if (it->startsWith(answer.toLatin1())) {
                answer = QString::fromUtf8(*it);
                break;
            }
        }
        reason += QStringLiteral(" (server response: %1)").arg(answer);
    }
    failReason = reason;
    return false;
}

int SmtpTransport::Perform(bool& stopped)
{
    // Driven step by step rather than by curl_easy_perform, so that the window keeps painting
    // and a close ends the send at once, however long the server takes.
    CURL* curl = static_cast<CURL*>(m_curl);
    CURLM* multi = curl_multi_init();
    if (!multi) {
        return CURLE_OUT_OF_MEMORY;
    }
    if (curl_multi_add_handle(multi, curl) != CURLM_OK) {
        curl_multi_cleanup(multi);
        return CURLE_FAILED_INIT;
    }
    CURLcode code = CURLE_OK;
    for (;;) {
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            code = CURLE_RECV_ERROR;
            break;
        }
        if (!running) {
            int left = 0;
            while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
                if (message->msg == CURLMSG_DONE && message->easy_handle == curl) {
                    code = message->data.result;
                }
            }
            break;
        }
        if (!LongWork::Breathe()) {
            stopped = true;
            code = CURLE_ABORTED_BY_CALLBACK;
            // libcurl ends an unfinished mail by waiting for the server's answer to its end
            // of data; a dead socket answers at once.
            if (m_socket >= 0) {
                ::shutdown(m_socket, SHUT_RDWR);
            }
            break;
        }
        if (curl_multi_poll(multi, nullptr, 0, kPollMs, nullptr) != CURLM_OK) {
            code = CURLE_RECV_ERROR;
            break;
        }
    }
    curl_multi_remove_handle(multi, curl);
    curl_multi_cleanup(multi);
    return code;
}
