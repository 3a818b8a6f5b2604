#include "engine/HtmlToText.h"

#include <gtest/gtest.h>

TEST(HtmlToText, NotificationBodyKeepsItsLines)
{
    const QString html = QStringLiteral(
        "<html><font face='Arial'>The file \"/in/1234 Jingle.wav\" was successfully imported "
        "into Cart 1234 at 02/03/2024 10:11:12<br><br>Additional Information: Done.<br><br>This "
        "is an automatic email from Cartfeeder running on studio1</font></html>");
    EXPECT_EQ(HtmlToText(html).toStdString(),
              "The file \"/in/1234 Jingle.wav\" was successfully imported into Cart 1234 at "
              "02/03/2024 10:11:12\n\nAdditional Information: Done.\n\nThis is an automatic "
              "email from Cartfeeder running on studio1");
}

TEST(HtmlToText, DropsInvisibleContentAndCollapsesBlanks)
{
    const QString html = QStringLiteral(
        "<HTML><HEAD><TITLE>t</TITLE><STYLE>p {color:red}</STYLE></HEAD><body>\r\n"
        "<script type=\"text/javascript\">var a = '<p>';</script><!-- <p>hidden</p> -->"
        "<P class=\"x\">First   line\r\n   wraps</P><p>Second</p>"
        "<div>Row<div>Nested</div></div><ul><li>one<li>two</ul>"
        "<table><tr><td>a</td><td>b</td></tr><tr><td>c</td></tr></table></body></HTML>");
    EXPECT_EQ(HtmlToText(html).toStdString(),
              "First line wraps\nSecond\nRow\nNested\none\ntwo\na b\nc");
}

TEST(HtmlToText, DecodesCharacterReferences)
{
    EXPECT_EQ(HtmlToText(QStringLiteral("Caf&eacute; &amp; Bar &lt;b&gt; &#233;&#xE9;&#X20AC; "
                                        "&quot;q&quot; &euro;&nbsp;5 &hellip;"))
                  .toStdString(),
              "Café & Bar <b> éé€ \"q\" € 5 …");
    // Unknown or unterminated references, and a "<" that opens no tag, stay as text.
    EXPECT_EQ(HtmlToText(QStringLiteral("Rock &roll; &amp &#xZZ; a < b &amp;lt;")).toStdString(),
              "Rock &roll; &amp &#xZZ; a < b &lt;");
    EXPECT_EQ(HtmlToText(QStringLiteral("&#0;&#1114112;")).toStdString(), "\uFFFD\uFFFD");
}

TEST(HtmlToText, BrokenMarkupEndsWithoutLosingText)
{
    EXPECT_EQ(HtmlToText(QStringLiteral("text <b unterminated")).toStdString(), "text");
    EXPECT_EQ(HtmlToText(QStringLiteral("a<style>never closed")).toStdString(), "a");
    EXPECT_EQ(HtmlToText(QStringLiteral("<a href=\"x>y\">link</a> <br><br><br><br>end"))
                  .toStdString(),
              "link\n\nend");
    EXPECT_TRUE(HtmlToText(QString()).isEmpty());
}
