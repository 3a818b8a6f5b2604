#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <memory>

struct MailAddress
{
    QString Name;
    QString Address;
};

// One e-mail: the members a mail composer fills (sender, recipients, subject, a text and an
// HTML body) plus whatever else a message loaded from an .eml file carried (its other headers,
// inline pictures and attachments), which is kept and sent along.
class MailMessage
{
public:
    MailMessage();
    ~MailMessage();
    MailMessage(const MailMessage&) = delete;
    MailMessage& operator=(const MailMessage&) = delete;

    QString From() const;
    void setFrom(const QString& from);
    // Addresses separated by ";" or ",".
    QString To() const;
    void setTo(const QString& to);
    QString Subject() const;
    void setSubject(const QString& subject);
    QString TextBody() const;
    void setTextBody(const QString& text);
    QString HTMLBody() const;
    // With AutoGenerateTextBody set, a non-empty HTML body also replaces the text body by its
    // plain-text rendering.
    void setHTMLBody(const QString& html);
    bool AutoGenerateTextBody() const;
    void setAutoGenerateTextBody(bool on);

    // Replaces the whole message by the one in the file. False when the file cannot be read or
    // holds no message; the message is then left empty.
    bool LoadFromFile(const QString& fileName);
    // The message as MIME text with CRLF line ends, ready for SMTP or an .eml file.
    QByteArray ToMime() const;

    // Splits a list separated by ";" or "," (outside quotes and angle brackets) into addresses,
    // skipping empty pieces. False, with the offending piece, when a piece is not an address
    // of the form local@domain.
    static bool ParseAddressList(const QString& text, QList<MailAddress>& addresses,
                                 QString& badPiece);

private:
    void Clear();

    struct Private;
    std::unique_ptr<Private> d;
};
