// libFuzzer target for mail templates (.eml files of any charset and encoding), the address
// lists of their headers and the plain-text rendering of their HTML.
#include "engine/HtmlToText.h"
#include "engine/MailMessage.h"
#include "fuzz/FuzzSupport.h"

namespace {

void CheckAddresses(const QString& text)
{
    QList<MailAddress> addresses;
    QString bad;
    const bool ok = MailMessage::ParseAddressList(text, addresses, bad);
    if (ok != bad.isEmpty()) {
        FuzzSupport::Fail("a refused address list named no piece");
    }
    for (const MailAddress& address : std::as_const(addresses)) {
        // These go into the SMTP envelope as they stand.
        const qsizetype at = address.Address.indexOf(u'@');
        if (at <= 0 || at == address.Address.size() - 1 ||
            address.Address.indexOf(u'@', at + 1) >= 0) {
            FuzzSupport::Fail("an address that is not local@domain:", address.Address);
        }
        for (const QChar c : address.Address) {
            if (c.unicode() < 0x20 || c.unicode() == 0x7F || c.isSpace()) {
                FuzzSupport::Fail("an address with a control character or blank:", address.Address);
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzSupport::Start();
    const QByteArray bytes = FuzzSupport::Bytes(data, size);
    const QString text = QString::fromUtf8(bytes);

    CheckAddresses(text);
    const QString plain = HtmlToText(text);
    if (plain.contains(u'\r')) {
        FuzzSupport::Fail("the plain text of a mail holds a carriage return");
    }
    for (const QChar c : plain) {
        if (c.category() == QChar::Other_Control && c != u'\n') {
            FuzzSupport::Fail("the plain text of a mail holds a control character");
        }
    }

    MailMessage message;
    const QString path = FuzzSupport::WriteFile("template.eml", bytes);
    if (message.LoadFromFile(path)) {
        CheckAddresses(message.To());
        CheckAddresses(message.From());
        message.setAutoGenerateTextBody(true);
        message.setHTMLBody(message.HTMLBody() + "<p>Imported 'x' into Cart 1</p>");
        message.setSubject(message.Subject() + " done");
        const QByteArray mime = message.ToMime();
        // What the program sends must read again as a message.
        MailMessage again;
        if (!again.LoadFromFile(FuzzSupport::WriteFile("again.eml", mime))) {
            FuzzSupport::Fail("the message built from a template does not read again");
        }
    }
    return 0;
}
