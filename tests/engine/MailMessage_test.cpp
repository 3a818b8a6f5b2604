#include "engine/MailMessage.h"

#include "tests/support/TempHome.h"

#include <QFile>
#include <gtest/gtest.h>

namespace {

QString Write(const TempHome& home, const QString& name, const QByteArray& content)
{
    const QString path = home.File(name);
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(content);
    return path;
}

QStringList Addresses(const QList<MailAddress>& list)
{
    QStringList result;
    for (const MailAddress& a : list)
        result << a.Name + QLatin1Char('|') + a.Address;
    return result;
}

} // namespace

TEST(MailMessage, SplitsAddressListsAtSemicolonsAndCommas)
{
    QList<MailAddress> list;
    QString bad;
    ASSERT_TRUE(MailMessage::ParseAddressList(
        QStringLiteral(" ops@radio.test ;; \"Smith; John\" <js@radio.test>, Jörg <j@x.test>;  "),
        list, bad));
    EXPECT_EQ(Addresses(list), (QStringList{"|ops@radio.test", "Smith; John|js@radio.test",
                                            "Jörg|j@x.test"}));

    // GMime would silently turn "a@b@c" into "a@b"; a bad piece fails the list instead.
    for (const QString& piece : {QStringLiteral("nobody"), QStringLiteral("a@b@c.test"),
                                 QStringLiteral("two words@x.test"), QStringLiteral("<@x>")}) {
        EXPECT_FALSE(MailMessage::ParseAddressList(QStringLiteral("ok@x.test; ") + piece, list, bad))
            << piece.toStdString();
        EXPECT_EQ(bad, piece);
        EXPECT_EQ(Addresses(list), QStringList{"|ok@x.test"});
    }
    EXPECT_TRUE(MailMessage::ParseAddressList(QStringLiteral(" ; , "), list, bad));
    EXPECT_TRUE(list.isEmpty());
}

TEST(MailMessage, LoadsQuotedPrintableHtmlInItsCharset)
{
    TempHome home;
    const QString path = Write(home, "t.eml",
                               "From: Template <t@x.test>\r\n"
                               "To: someone@x.test\r\n"
                               "Subject: =?ISO-8859-1?Q?Caf=E9_<CARTFEEDER=5FHDREF>?=\r\n"
                               "MIME-Version: 1.0\r\n"
                               "Content-Type: multipart/alternative; boundary=\"b1\"\r\n"
                               "\r\n"
                               "--b1\r\n"
                               "Content-Type: text/plain; charset=ISO-8859-1\r\n"
                               "Content-Transfer-Encoding: quoted-printable\r\n\r\n"
                               "Caf=E9 plain\r\n"
                               "--b1\r\n"
                               "Content-Type: text/html; charset=\"iso-8859-1\"\r\n"
                               "Content-Transfer-Encoding: quoted-printable\r\n\r\n"
                               "<p>Caf=E9 &lt;CARTFEEDER_NOTES&gt; a long line that is soft=\r\n"
                               " broken</p>\r\n"
                               "--b1--\r\n");
    MailMessage message;
    ASSERT_TRUE(message.LoadFromFile(path));
    EXPECT_EQ(message.Subject(), QStringLiteral("Café <CARTFEEDER_HDREF>"));
    EXPECT_EQ(message.From(), QStringLiteral("Template <t@x.test>"));
    EXPECT_EQ(message.To(), QStringLiteral("someone@x.test"));
    EXPECT_EQ(message.TextBody().trimmed(), QStringLiteral("Café plain"));
    EXPECT_EQ(message.HTMLBody().trimmed(),
              QStringLiteral("<p>Café &lt;CARTFEEDER_NOTES&gt; a long line that is soft broken</p>"));
    EXPECT_FALSE(message.AutoGenerateTextBody());
}

TEST(MailMessage, BadCharsetsNeverLoseText)
{
    TempHome home;
    // Declared UTF-8 but written in Windows-1252; then a charset nobody knows.
    const QByteArray head = "From: a@x.test\r\nSubject: s\r\nContent-Type: text/html; charset=";
    MailMessage message;
    ASSERT_TRUE(message.LoadFromFile(
        Write(home, "a.eml", head + "utf-8\r\n\r\n<p>Caf\xe9 \x80 5</p>\r\n")));
    EXPECT_EQ(message.HTMLBody().trimmed(), QStringLiteral("<p>Café € 5</p>"));
    ASSERT_TRUE(message.LoadFromFile(
        Write(home, "b.eml", head + "x-klingon\r\n\r\n<p>plain \xc3\xa9</p>\r\n")));
    EXPECT_EQ(message.HTMLBody().trimmed(), QStringLiteral("<p>plain é</p>"));
}

TEST(MailMessage, RefusesWhatIsNoMessage)
{
    TempHome home;
    MailMessage message;
    message.setSubject(QStringLiteral("kept?"));
    EXPECT_FALSE(message.LoadFromFile(home.File("missing.eml")));
    EXPECT_FALSE(message.LoadFromFile(Write(home, "empty.eml", "")));
    EXPECT_FALSE(message.LoadFromFile(Write(home, "text.eml", "Just some words\nand more\n")));
    EXPECT_FALSE(message.LoadFromFile(Write(home, "bin.eml", QByteArray("PK\x03\x04\0\0\xff", 7))));
    EXPECT_TRUE(message.Subject().isEmpty()); // a failed load leaves an empty message

    // A multipart whose boundary never comes still gives what it holds.
    ASSERT_TRUE(message.LoadFromFile(Write(home, "broken.eml",
                                           "Subject: broken\r\nMIME-Version: 1.0\r\n"
                                           "Content-Type: multipart/mixed; boundary=zz\r\n\r\n"
                                           "--zz\r\nContent-Type: text/html\r\n\r\n<b>x</b>\r\n")));
    EXPECT_EQ(message.Subject(), QStringLiteral("broken"));
    EXPECT_EQ(message.HTMLBody().trimmed(), QStringLiteral("<b>x</b>"));
}

TEST(MailMessage, BuildsMimeThatSurvivesARoundTrip)
{
    TempHome home;
    const QString path = Write(home, "t.eml",
                               "From: t@x.test\r\nTo: old@x.test\r\nCc: cc@x.test\r\n"
                               "X-Template: kept\r\nReceived: from somewhere\r\n"
                               "Subject: old\r\nMIME-Version: 1.0\r\n"
                               "Content-Type: multipart/mixed; boundary=m\r\n\r\n"
                               "--m\r\nContent-Type: text/html\r\n\r\n<p>old</p>\r\n"
                               "--m\r\nContent-Type: application/octet-stream\r\n"
                               "Content-Disposition: attachment; filename=a.bin\r\n"
                               "Content-Transfer-Encoding: base64\r\n\r\nAAEC\r\n--m--\r\n");
    MailMessage message;
    ASSERT_TRUE(message.LoadFromFile(path));
    message.setFrom(QStringLiteral("Jörg Müller <j@x.test>"));
    message.setTo(QStringLiteral("a@x.test; b@x.test"));
    message.setSubject(QStringLiteral("Grüße from Cartfeeder"));
    message.setAutoGenerateTextBody(true);
    message.setHTMLBody(QStringLiteral("<p>Hello<br>World &amp; more</p>"));
    EXPECT_EQ(message.TextBody(), QStringLiteral("Hello\nWorld & more"));

    const QByteArray mime = message.ToMime();
    EXPECT_FALSE(QByteArray(mime).replace("\r\n", "").contains('\n')) << "only CRLF line ends";
    const QByteArray again = message.ToMime();
    EXPECT_TRUE(again.contains("Subject: =?")) << "non-ASCII subject is encoded";
    EXPECT_TRUE(again.contains("X-Template: kept"));
    EXPECT_FALSE(again.contains("Received:"));
    EXPECT_FALSE(again.contains("cc@x.test"));
    EXPECT_TRUE(again.contains("multipart/alternative"));
    EXPECT_TRUE(again.contains("filename=a.bin"));

    MailMessage copy;
    ASSERT_TRUE(copy.LoadFromFile(Write(home, "copy.eml", again)));
    EXPECT_EQ(copy.Subject(), QStringLiteral("Grüße from Cartfeeder"));
    EXPECT_EQ(copy.From(), QStringLiteral("Jörg Müller <j@x.test>"));
    EXPECT_EQ(copy.To(), QStringLiteral("a@x.test, b@x.test"));
    EXPECT_EQ(copy.HTMLBody().trimmed(), QStringLiteral("<p>Hello<br>World &amp; more</p>"));
    EXPECT_EQ(copy.TextBody().trimmed(), QStringLiteral("Hello\nWorld & more"));
}
