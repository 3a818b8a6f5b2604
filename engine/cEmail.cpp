#include "engine/cEmail.h"

#include "engine/SmtpTransport.h"
#include "framework/DebugLog.h"
#include "platform/system/FileFunctions.h"
#include "platform/system/MessageBox.h"
#include "platform/system/RegistryFunctions.h"
#include "platform/system/SaveWhole.h"

#include <QSaveFile>
#include <curl/curl.h>

namespace {

const QString kGuardKey = QStringLiteral("SOFTWARE\\Orvane\\Utils");
const QString kGuardValue = QStringLiteral("SendingToSMTPServer");

cEmail::BusyPointerHandler& BusyHandler()
{
    static cEmail::BusyPointerHandler handler;
    return handler;
}

void ShowBusy(bool busy)
{
    if (BusyHandler()) {
        BusyHandler()(busy);
    }
}

// The problem text of a setup step, traced and never shown.
QString SetupProblem(const QString& what, qint32 code)
{
    return ShowProblemMessage(what, QString::fromUtf8(curl_easy_strerror(CURLcode(code))), true);
}

} // namespace

cEmail::cEmail() : m_message(std::make_unique<MailMessage>()) {}

cEmail::~cEmail() = default;

void cEmail::SetBusyPointerHandler(BusyPointerHandler handler)
{
    BusyHandler() = std::move(handler);
}

bool cEmail::SendEmail(QString& FailReason, bool SilentMode)
{
    if (!m_message) {
        FailReason = QStringLiteral("Email not initialised correctly.");
        return false;
    }
    if (MailServer.isEmpty()) {
        FailReason = QStringLiteral("Mail Server not configured.");
        return false;
    }

    const QString from = m_message->From();
    const QString to = m_message->To();
    QList<MailAddress> senders;
    QList<MailAddress> recipients;
    QString badSender;
    QString badRecipient;
    const bool senderOk = MailMessage::ParseAddressList(from, senders, badSender);
    const bool recipientsOk = MailMessage::ParseAddressList(to, recipients, badRecipient);
    // A list of nothing but separators and blanks counts as empty.
    const bool noSender = from.trimmed().isEmpty() || (senderOk && senders.isEmpty());
    const bool noRecipient = to.trimmed().isEmpty() || (recipientsOk && recipients.isEmpty());
    if (noSender || noRecipient ||
        (m_message->TextBody().isEmpty() && m_message->HTMLBody().isEmpty() &&
         m_message->Subject().isEmpty())) {
        FailReason = QStringLiteral("Email not configured correctly.");
        return false;
    }

    RegistryFunctions& registry = RegistryFunctions::instance();
    if (!SilentMode) {
        const QString lastServer =
            registry.ReadString(Hive::CurrentUser, kGuardKey, kGuardValue, QString());
        if (lastServer.compare(MailServer, Qt::CaseInsensitive) == 0) {
            const int answer = MessageBox::Show(
                QStringLiteral("The last time an email was being sent via the mail server '") +
                    MailServer + QStringLiteral("', it was not successfully sent.") +
                    QStringLiteral("\n\n") +
                    QStringLiteral("Are you sure you want to try and use this server again?"),
                MsgBoxStyle::YesNo | MsgBoxStyle::Question | MsgBoxStyle::DefaultButton2);
            if (answer == MsgBoxResult::No) {
                FailReason =
                    QStringLiteral("User decided not to use the previously failed mail server '") +
                    MailServer + QStringLiteral("'");
                return false;
            }
        }
    }

    // SMTP needs local@domain on the envelope; refuse before the server sees a mangled one.
    if (!senderOk || !recipientsOk) {
        FailReason =
            QStringLiteral("Invalid e-mail address '%1'").arg(senderOk ? badRecipient : badSender);
        return false;
    }

    SmtpTransport transport;
    if (!transport.IsValid()) {
        FailReason = SetupProblem(
            QStringLiteral("sending an email whilst creating a 'CDO Configuration Object'"),
            CURLE_FAILED_INIT);
        return false;
    }
    SmtpTransport::Request request;
    request.Server = MailServer;
    request.Port = ServerPort;
    request.TimeoutSeconds = SendTimeout;
    if (!UserName.isEmpty()) {
        request.UserName = UserName;
        request.Password = Password;
    }
    request.EnvelopeFrom = senders.first().Address;
    for (const MailAddress& recipient : std::as_const(recipients)) {
        request.Recipients.append(recipient.Address);
    }
    request.Data = m_message->ToMime();
    if (const qint32 code = transport.Configure(request)) {
        FailReason = SetupProblem(
            QStringLiteral("sending an email whilst creating a 'CDO Field Object'"), code);
        return false;
    }

    registry.WriteString(Hive::CurrentUser, kGuardKey, kGuardValue, MailServer, QString());
    ShowBusy(true);
    QString reason;
    const bool sent = transport.Send(reason);
    ShowBusy(false);
    registry.DeleteValue(Hive::CurrentUser, kGuardKey, kGuardValue);
    if (!sent) {
        FailReason = reason;
    }
    return sent;
}

bool cEmail::LoadFromFile(const QString& FileName)
{
    if (!(FileFunctions::instance().GetFileSize(FileName) > 0)) {
        return false;
    }
    m_message = std::make_unique<MailMessage>();
    return m_message->LoadFromFile(FileName);
}

bool cEmail::SaveToFile(const QString& FileName)
{
    const QByteArray mime = m_message->ToMime();
    FileFunctions& files = FileFunctions::instance();
    if (!files.CreateFolder(files.GetFolderName(FileName, 0), 0)) {
        return false;
    }
    QSaveFile file(FileName);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    return SaveWhole(file, mime).Ok();
}
