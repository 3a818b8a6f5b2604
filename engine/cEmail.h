#pragma once

#include "engine/MailMessage.h"

#include <QString>
#include <functional>
#include <memory>

// One e-mail with the SMTP settings to send it.
class cEmail
{
public:
    cEmail();
    ~cEmail();
    cEmail(const cEmail&) = delete;
    cEmail& operator=(const cEmail&) = delete;

    QString MailServer;
    QString UserName; // empty: no authentication
    QString Password;
    qint16 SendTimeout = 15; // seconds

    // The message; LoadFromFile replaces it, so fetch it again after a load.
    MailMessage* Message() const { return m_message.get(); }

    bool SendEmail(QString& FailReason, bool SilentMode);
    bool LoadFromFile(const QString& FileName);
    bool SaveToFile(const QString& FileName);

    // The SMTP port. Only tests change it, to reach a server of their own.
    qint32 ServerPort = 25;

    // Shows the busy pointer while a send blocks (true) and takes it away (false). The
    // program's window layer installs it; without one nothing is shown.
    using BusyPointerHandler = std::function<void(bool busy)>;
    static void SetBusyPointerHandler(BusyPointerHandler handler);

private:
    std::unique_ptr<MailMessage> m_message;
};
