#include "engine/MailMessage.h"

#include "tests/support/TempHome.h"

#include <QFile>
#include <gtest/gtest.h>

namespace {
QString Write(const TempHome& home, const QString& name, const QByteArray& content)
{
    QFile file(home.File(name));
    file.open(QIODevice::WriteOnly);
    file.write(content);
    return file.fileName();
}
} // namespace

TEST(MailMessage, SplitsAddressListsAndRefusesBadPieces)
{
    QList<MailAddress> list;
    QString bad;
    ASSERT_TRUE(MailMessage::ParseAddressList(
        " a@x.test ;; \"Smith; J\" <js@x.test>, Jörg <j@x.test>; ", list, bad));
    ASSERT_EQ(list.size(), 3);
    EXPECT_EQ(list[1].Name, QStringLiteral("Smith; J"));
    EXPECT_EQ(list[1].Address, QStringLiteral("js@x.test"));
    EXPECT_EQ(list[2].Name, QStringLiteral("Jörg"));
    // GMime's own parser would turn "a@b@c" into "a@b"; a bad piece fails the list instead.
    for (const char* piece : {"nobody", "a@b@c.test", "two words@x.test", "<@x>"}) {
        EXPECT_FALSE(
            MailMessage::ParseAddressList(QStringLiteral("ok@x.test; ") + piece, list, bad));
        EXPECT_EQ(bad, QString(piece));
    }
    // These go into the SMTP envelope as they stand: a NUL would cut the address short in the
    // transfer, other control characters and blanks of any script make no address either.
    for (const QString& piece :
         {QStringLiteral("a@b") + QChar(0) + "c.test", QStringLiteral("a\x01b@x.test"),
          QStringLiteral("a@x.test\x7f"), QStringLiteral("a\u00a0b@x.test"),
          QStringLiteral("a@x\u2028.test")}) {
        SCOPED_TRACE(piece.toStdString());
        EXPECT_FALSE(MailMessage::ParseAddressList("ok@x.test; <" + piece + ">", list, bad));
        EXPECT_EQ(bad, "<" + piece + ">");
    }
}

TEST(MailMessage, LoadsBodiesInTheirCharsets)
{
    TempHome home;
    MailMessage m;
    ASSERT_TRUE(
        m.LoadFromFile(Write(home, "qp.eml",
                             "From: T <t@x.test>\r\nSubject: =?ISO-8859-1?Q?Caf=E9_<A=5FB>?=\r\n"
                             "Content-Type: multipart/alternative; boundary=b\r\n\r\n"
                             "--b\r\nContent-Type: text/plain; charset=ISO-8859-1\r\n\r\n"
                             "Caf\xe9\r\nplain\r\n--b\r\n"
                             "Content-Type: text/html; charset=\"iso-8859-1\"\r\n"
                             "Content-Transfer-Encoding: quoted-printable\r\n\r\n"
                             "<p>Caf=E9 soft=\r\n break</p>\r\n--b--\r\n")));
    EXPECT_EQ(m.Subject(), QStringLiteral("Café <A_B>"));
    EXPECT_EQ(m.From(), QStringLiteral("T <t@x.test>"));
    EXPECT_EQ(m.TextBody().trimmed(), QStringLiteral("Café\nplain"));
    EXPECT_EQ(m.HTMLBody().trimmed(), QStringLiteral("<p>Café soft break</p>"));
    // Declared UTF-8 but written in Windows-1252; a charset nobody knows.
    const QByteArray head = "Subject: s\r\nContent-Type: text/html; charset=";
    ASSERT_TRUE(m.LoadFromFile(Write(home, "a.eml", head + "utf-8\r\n\r\nCaf\xe9 \x80\r\n")));
    EXPECT_EQ(m.HTMLBody().trimmed(), QStringLiteral("Café €"));
    ASSERT_TRUE(
        m.LoadFromFile(Write(home, "b.eml", head + "x-klingon\r\n\r\n\xc3\xa9t\xc3\xa9\r\n")));
    EXPECT_EQ(m.HTMLBody().trimmed(), QStringLiteral("été"));
}

TEST(MailMessage, RefusesWhatIsNoMessage)
{
    TempHome home;
    MailMessage m;
    EXPECT_FALSE(m.LoadFromFile(home.File("missing.eml")));
    EXPECT_FALSE(m.LoadFromFile(Write(home, "text.eml", "Just some words\nand more\n")));
    EXPECT_FALSE(m.LoadFromFile(Write(home, "bin.eml", QByteArray("PK\x03\x04\0\0\xff", 7))));
}

TEST(MailMessage, RebuildsALoadedMessage)
{
    TempHome home;
    MailMessage m;
    ASSERT_TRUE(m.LoadFromFile(
        Write(home, "t.eml",
              "To: old@x.test\r\nCc: cc@x.test\r\nX-Template: kept\r\n"
              "Received: from far\r\nContent-Type: multipart/mixed; boundary=m\r\n\r\n"
              "--m\r\nContent-Type: text/html\r\n\r\n<p>old</p>\r\n"
              "--m\r\nContent-Type: application/octet-stream\r\n"
              "Content-Disposition: attachment; filename=a.bin\r\n\r\nxx\r\n--m--\r\n")));
    m.setFrom(QStringLiteral("Jörg Müller <j@x.test>"));
    m.setTo(QStringLiteral("a@x.test; b@x.test"));
    m.setSubject(QStringLiteral("Grüße"));
    m.setAutoGenerateTextBody(true);
    m.setHTMLBody(QStringLiteral("<p>Hello<br>World &amp; more</p>"));
    const QByteArray mime = m.ToMime();
    EXPECT_FALSE(QByteArray(mime).replace("\r\n", "").contains('\n')) << "CRLF line ends only";
    EXPECT_TRUE(mime.contains("Subject: =?")) << "non-ASCII subject encoded";
    EXPECT_TRUE(mime.contains("X-Template: kept"));
    EXPECT_FALSE(mime.contains("Received:") || mime.contains("cc@x.test"));
    EXPECT_TRUE(mime.contains("multipart/alternative") && mime.contains("filename=a.bin"));

    MailMessage copy;
    ASSERT_TRUE(copy.LoadFromFile(Write(home, "copy.eml", mime)));
    EXPECT_EQ(copy.From(), QStringLiteral("Jörg Müller <j@x.test>"));
    EXPECT_EQ(copy.To(), QStringLiteral("a@x.test, b@x.test"));
    EXPECT_EQ(copy.Subject(), QStringLiteral("Grüße"));
    EXPECT_EQ(copy.TextBody().trimmed(), QStringLiteral("Hello\nWorld & more"));
    EXPECT_EQ(copy.HTMLBody().trimmed(), QStringLiteral("<p>Hello<br>World &amp; more</p>"));
}
