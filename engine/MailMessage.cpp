// GLib's headers use the word "signals": GMime must come before any Qt header.
#include <gmime/gmime.h>

#include "engine/HtmlToText.h"
#include "engine/MailMessage.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringDecoder>
#include <cerrno>
#include <iconv.h>
#include <mutex>

namespace {

void EnsureGMime()
{
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}

GMimeParserOptions* ParserOptions()
{
    static GMimeParserOptions* options = [] {
        GMimeParserOptions* o = g_mime_parser_options_new();
        // Raw 8-bit header text that is not UTF-8 is read as Windows-1252.
        const char* charsets[] = {"utf-8", "windows-1252", nullptr};
        g_mime_parser_options_set_fallback_charsets(o, charsets);
        return o;
    }();
    return options;
}

QString FromWindows1252(const QByteArray& bytes)
{
    // 0x80-0x9F; the five unassigned bytes keep their Latin-1 values, as Windows does.
    static const char16_t high[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    QString text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        const uchar b = uchar(c);
        text += (b >= 0x80 && b < 0xA0) ? QChar(high[b - 0x80]) : QChar(b);
    }
    return text;
}

QString FromUtf8Or1252(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError()) {
        return FromWindows1252(bytes);
    }
    return text;
}

// Body bytes in their declared charset as text. A missing, unknown or lying charset never
// loses text: such bytes are read as UTF-8 when valid, otherwise as Windows-1252.
QString DecodeText(const QByteArray& bytes, const char* charset)
{
    const QByteArray name = QByteArray(charset ? charset : "").trimmed().toLower();
    if (name.isEmpty() || name == "utf-8" || name == "utf8" || name == "us-ascii" ||
        name == "ascii") {
        return FromUtf8Or1252(bytes);
    }
    iconv_t cd = g_mime_iconv_open("UTF-8", name.constData());
    if (cd == (iconv_t)-1) {
        return FromUtf8Or1252(bytes);
    }
    QByteArray out;
    char buffer[4096];
    char* in = const_cast<char*>(bytes.constData());
    size_t inLeft = size_t(bytes.size());
    bool failed = false;
    while (inLeft > 0) {
        char* o = buffer;
        size_t outLeft = sizeof buffer;
        const size_t r = iconv(cd, &in, &inLeft, &o, &outLeft);
        out.append(buffer, qsizetype(o - buffer));
        if (r == size_t(-1) && errno != E2BIG) {
            failed = true;
            break;
        }
    }
    if (!failed) {
        char* o = buffer;
        size_t outLeft = sizeof buffer;
        iconv(cd, nullptr, nullptr, &o, &outLeft);
        out.append(buffer, qsizetype(o - buffer));
    }
    g_mime_iconv_close(cd);
    return failed ? FromUtf8Or1252(bytes) : QString::fromUtf8(out);
}

QString NormaliseLineEnds(QString text)
{
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(u'\r', u'\n');
    return text;
}

QString PartText(GMimePart* part)
{
    GMimeDataWrapper* content = g_mime_part_get_content(part);
    if (!content) {
        return {};
    }
    GMimeStream* memory = g_mime_stream_mem_new();
    g_mime_data_wrapper_write_to_stream(content, memory);
    GByteArray* array = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(memory));
    const QByteArray bytes(reinterpret_cast<const char*>(array->data), qsizetype(array->len));
    g_object_unref(memory);
    return NormaliseLineEnds(
        DecodeText(bytes, g_mime_object_get_content_type_parameter(GMIME_OBJECT(part), "charset")));
}

QString AddressListText(InternetAddressList* list)
{
    if (!list || internet_address_list_length(list) == 0) {
        return {};
    }
    char* text = internet_address_list_to_string(list, nullptr, FALSE);
    const QString result = QString::fromUtf8(text);
    g_free(text);
    return result;
}

// Headers rebuilt for every message, and traces of an earlier delivery that a reused message
// must not carry.
bool IsRebuiltHeader(const QByteArray& name)
{
    static const QList<QByteArray> names{
        "from",         "to",          "cc",           "bcc",
        "subject",      "date",        "message-id",   "mime-version",
        "received",     "return-path", "delivered-to", "dkim-signature",
        "x-unsent",     "sender",      "resent-from",  "resent-to",
        "resent-cc",    "resent-bcc",  "resent-date",  "resent-message-id",
        "resent-sender"};
    const QByteArray lower = name.toLower();
    return lower.startsWith("content-") || names.contains(lower);
}

GMimeObject* MakeTextPart(const char* subtype, const QString& text)
{
    GMimeTextPart* part = g_mime_text_part_new_with_subtype(subtype);
    const QByteArray utf8 = NormaliseLineEnds(text).toUtf8();
    g_mime_text_part_set_text(part, utf8.constData());
    const GMimeContentEncoding encoding =
        g_mime_part_get_best_content_encoding(GMIME_PART(part), GMIME_ENCODING_CONSTRAINT_7BIT);
    g_mime_part_set_content_encoding(GMIME_PART(part), encoding);
    return GMIME_OBJECT(part);
}

GMimeObject* MakeMultipart(const char* subtype, const QList<GMimeObject*>& parts)
{
    GMimeMultipart* multipart = g_mime_multipart_new_with_subtype(subtype);
    for (GMimeObject* part : parts) {
        g_mime_multipart_add(multipart, part);
    }
    return GMIME_OBJECT(multipart);
}

void AppendAddresses(InternetAddressList* list, const QString& text)
{
    QList<MailAddress> addresses;
    QString bad;
    MailMessage::ParseAddressList(text, addresses, bad);
    for (const MailAddress& address : std::as_const(addresses)) {
        const QByteArray name = address.Name.toUtf8();
        const QByteArray addr = address.Address.toUtf8();
        InternetAddress* mailbox = internet_address_mailbox_new(
            name.isEmpty() ? nullptr : name.constData(), addr.constData());
        internet_address_list_add(list, mailbox);
        g_object_unref(mailbox);
    }
}

} // namespace

struct MailMessage::Private
{
    QString from;
    QString to;
    QString subject;
    QString textBody;
    QString htmlBody;
    bool autoGenerate = false;
    // What a loaded message carried besides the members above.
    QList<QPair<QByteArray, QByteArray>> headers; // name, decoded value (UTF-8)
    QList<GMimeObject*> related;                  // parts the HTML refers to (pictures)
    QList<GMimeObject*> attachments;

    ~Private() { ReleaseParts(); }

    void ReleaseParts()
    {
        for (GMimeObject* part : std::as_const(related)) {
            g_object_unref(part);
        }
        for (GMimeObject* part : std::as_const(attachments)) {
            g_object_unref(part);
        }
        related.clear();
        attachments.clear();
    }

    void Collect(GMimeObject* object, bool insideRelated)
    {
        if (GMIME_IS_MULTIPART(object)) {
            GMimeMultipart* multipart = GMIME_MULTIPART(object);
            GMimeContentType* type = g_mime_object_get_content_type(object);
            const bool isRelated =
                type && g_mime_content_type_is_type(type, "multipart", "related");
            const int count = g_mime_multipart_get_count(multipart);
            for (int i = 0; i < count; ++i) {
                Collect(g_mime_multipart_get_part(multipart, i), isRelated);
            }
            return;
        }
        if (GMIME_IS_PART(object)) {
            GMimePart* part = GMIME_PART(object);
            GMimeContentType* type = g_mime_object_get_content_type(object);
            const bool body = !g_mime_part_is_attachment(part) && type;
            if (body && htmlBody.isNull() && g_mime_content_type_is_type(type, "text", "html")) {
                htmlBody = PartText(part);
                if (htmlBody.isNull()) {
                    htmlBody = QLatin1String("");
                }
                return;
            }
            if (body && textBody.isNull() && g_mime_content_type_is_type(type, "text", "plain")) {
                textBody = PartText(part);
                if (textBody.isNull()) {
                    textBody = QLatin1String("");
                }
                return;
            }
        }
        g_object_ref(object);
        (insideRelated ? related : attachments).append(object);
    }
};

MailMessage::MailMessage() : d(std::make_unique<Private>()) {}

MailMessage::~MailMessage() = default;

QString MailMessage::From() const
{
    return d->from;
}
void MailMessage::setFrom(const QString& from)
{
    d->from = from;
}
QString MailMessage::To() const
{
    return d->to;
}
void MailMessage::setTo(const QString& to)
{
    d->to = to;
}
QString MailMessage::Subject() const
{
    return d->subject;
}
void MailMessage::setSubject(const QString& subject)
{
    d->subject = subject;
}
QString MailMessage::TextBody() const
{
    return d->textBody;
}
void MailMessage::setTextBody(const QString& text)
{
    d->textBody = text;
}
QString MailMessage::HTMLBody() const
{
    return d->htmlBody;
}

void MailMessage::setHTMLBody(const QString& html)
{
    d->htmlBody = html;
    // An empty HTML body keeps the text body a message already has.
    if (d->autoGenerate && !html.isEmpty()) {
        d->textBody = HtmlToText(html);
    }
}

bool MailMessage::AutoGenerateTextBody() const
{
    return d->autoGenerate;
}

void MailMessage::setAutoGenerateTextBody(bool on)
{
    d->autoGenerate = on;
    if (on && !d->htmlBody.isEmpty()) {
        d->textBody = HtmlToText(d->htmlBody);
    }
}

void MailMessage::Clear()
{
    d = std::make_unique<Private>();
}

bool MailMessage::LoadFromFile(const QString& fileName)
{
    Clear();
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QByteArray data = file.readAll();
    file.close();
    if (data.isEmpty()) {
        return false;
    }

    EnsureGMime();
    GMimeStream* stream = g_mime_stream_mem_new_with_buffer(data.constData(), size_t(data.size()));
    GMimeParser* parser = g_mime_parser_new_with_stream(stream);
    GMimeMessage* message = g_mime_parser_construct_message(parser, ParserOptions());
    g_object_unref(parser);
    g_object_unref(stream);
    if (!message) {
        return false;
    }

    // Anything can be read as a header block; a message has at least one of these.
    GMimeHeaderList* headers = g_mime_object_get_header_list(GMIME_OBJECT(message));
    static const char* const messageHeaders[] = {"From",         "To",         "Subject",
                                                 "Date",         "Message-Id", "MIME-Version",
                                                 "Content-Type", "Sender",     "Cc"};
    bool isMessage = false;
    for (const char* name : messageHeaders) {
        isMessage = isMessage || g_mime_header_list_contains(headers, name);
    }
    if (!isMessage) {
        g_object_unref(message);
        return false;
    }

    d->from = AddressListText(g_mime_message_get_from(message));
    d->to = AddressListText(g_mime_message_get_to(message));
    d->subject = QString::fromUtf8(g_mime_message_get_subject(message));
    const int count = g_mime_header_list_get_count(headers);
    for (int i = 0; i < count; ++i) {
        GMimeHeader* header = g_mime_header_list_get_header_at(headers, i);
        const QByteArray name = g_mime_header_get_name(header);
        if (!IsRebuiltHeader(name)) {
            d->headers.append({name, QByteArray(g_mime_header_get_value(header)).trimmed()});
        }
    }
    if (GMimeObject* body = g_mime_message_get_mime_part(message)) {
        d->Collect(body, false);
    }
    g_object_unref(message);
    return true;
}

QByteArray MailMessage::ToMime() const
{
    EnsureGMime();
    GMimeMessage* message = g_mime_message_new(TRUE);
    for (const auto& header : std::as_const(d->headers)) {
        g_mime_object_append_header(GMIME_OBJECT(message), header.first.constData(),
                                    header.second.constData(), nullptr);
    }
    AppendAddresses(g_mime_message_get_from(message), d->from);
    AppendAddresses(g_mime_message_get_to(message), d->to);
    if (!d->subject.isEmpty()) {
        g_mime_message_set_subject(message, d->subject.toUtf8().constData(), nullptr);
    }
    GDateTime* now = g_date_time_new_now_local();
    g_mime_message_set_date(message, now);
    g_date_time_unref(now);
    QList<MailAddress> senders;
    QString bad;
    ParseAddressList(d->from, senders, bad);
    const QByteArray domain = senders.isEmpty()
                                  ? QByteArray("localhost")
                                  : senders.first().Address.section(u'@', -1).toUtf8();
    char* messageId = g_mime_utils_generate_message_id(domain.constData());
    g_mime_message_set_message_id(message, messageId);
    g_free(messageId);

    GMimeObject* text = d->textBody.isEmpty() ? nullptr : MakeTextPart("plain", d->textBody);
    GMimeObject* html = d->htmlBody.isEmpty() ? nullptr : MakeTextPart("html", d->htmlBody);
    QList<GMimeObject*> attachments = d->attachments;
    if (html && !d->related.isEmpty()) {
        QList<GMimeObject*> parts{html};
        parts += d->related;
        GMimeObject* related = MakeMultipart("related", parts);
        g_mime_object_set_content_type_parameter(related, "type", "text/html");
        g_object_unref(html);
        html = related;
    } else if (!html) {
        attachments = d->related + attachments;
    }
    GMimeObject* body = nullptr;
    if (text && html) {
        body = MakeMultipart("alternative", {text, html});
        g_object_unref(text);
        g_object_unref(html);
    } else {
        body = html ? html : text ? text : MakeTextPart("plain", QString());
    }
    if (!attachments.isEmpty()) {
        GMimeObject* mixed = MakeMultipart("mixed", QList<GMimeObject*>{body} + attachments);
        g_object_unref(body);
        body = mixed;
    }
    g_mime_message_set_mime_part(message, body);
    g_object_unref(body);

    GMimeFormatOptions* format = g_mime_format_options_new();
    g_mime_format_options_set_newline_format(format, GMIME_NEWLINE_FORMAT_DOS);
    GMimeStream* memory = g_mime_stream_mem_new();
    g_mime_object_write_to_stream(GMIME_OBJECT(message), format, memory);
    GByteArray* array = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(memory));
    const QByteArray result(reinterpret_cast<const char*>(array->data), qsizetype(array->len));
    g_object_unref(memory);
    g_mime_format_options_free(format);
    g_object_unref(message);
    return result;
}

bool MailMessage::ParseAddressList(const QString& text, QList<MailAddress>& addresses,
                                   QString& badPiece)
{
    addresses.clear();
    badPiece.clear();
    // Split at top-level separators only: a quoted name may hold "," or ";".
    QStringList pieces;
    QString current;
    bool quoted = false;
    bool angle = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted && c == u'\\' && i + 1 < text.size()) {
            current += c;
            current += text.at(++i);
            continue;
        }
        if (c == u'"' && !angle) {
            quoted = !quoted;
        } else if (c == u'<' && !quoted) {
            angle = true;
        } else if (c == u'>' && !quoted) {
            angle = false;
        } else if ((c == u';' || c == u',') && !quoted && !angle) {
            pieces.append(current);
            current.clear();
            continue;
        }
        current += c;
    }
    pieces.append(current);

    // No blank of any script and no control character: the address goes into the envelope.
    static const QRegularExpression plain(
        QStringLiteral(R"(^[^\s\p{Cc}@<>()\[\],;:"\\]+@[^\s\p{Cc}@<>()\[\],;:"\\]+$)"),
        QRegularExpression::UseUnicodePropertiesOption);
    bool ok = true;
    for (const QString& raw : std::as_const(pieces)) {
        const QString piece = raw.trimmed();
        if (piece.isEmpty()) {
            continue;
        }
        MailAddress address;
        const qsizetype open = piece.lastIndexOf(u'<');
        if (open >= 0 && piece.endsWith(u'>')) {
            address.Address = piece.mid(open + 1, piece.size() - open - 2).trimmed();
            QString name = piece.left(open).trimmed();
            if (name.size() >= 2 && name.startsWith(u'"') && name.endsWith(u'"')) {
                name = name.mid(1, name.size() - 2);
                name.replace(QLatin1String("\\\""), QLatin1String("\""));
                name.replace(QLatin1String("\\\\"), QLatin1String("\\"));
            }
            address.Name = name;
        } else {
            address.Address = piece;
        }
        if (!plain.match(address.Address).hasMatch()) {
            if (ok) {
                badPiece = piece;
            }
            ok = false;
            continue;
        }
        addresses.append(address);
    }
    return ok;
}
