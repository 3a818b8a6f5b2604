#include "engine/HtmlToText.h"

#include <gtest/gtest.h>

TEST(HtmlToText, LinesBlanksAndInvisibleContent)
{
    EXPECT_EQ(HtmlToText("<html><font face='Arial'>The file \"a.wav\" was imported at 10:11<br><br>"
                         "Note: x<br><br>From studio1</font></html>")
                  .toStdString(),
              "The file \"a.wav\" was imported at 10:11\n\nNote: x\n\nFrom studio1");
    EXPECT_EQ(HtmlToText("<HTML><HEAD><TITLE>t</TITLE><STYLE>p {}</STYLE></HEAD><body>\r\n"
                         "<script>var a = '<p>';</script><!-- <p>hidden</p> -->"
                         "<P class=\"x\">First   line\r\n   wraps</P><p>Second</p>"
                         "<div>Row<div>Nested</div></div><ul><li>one<li>two</ul>"
                         "<table><tr><td>a</td><td>b</td></tr><tr><td>c</td></tr></table>"
                         "<a href=\"x>y\">link</a><br><br><br><br>end")
                  .toStdString(),
              "First line wraps\nSecond\nRow\nNested\none\ntwo\na b\nc\nlink\n\nend");
    // Unterminated markup ends the text without taking what came before.
    EXPECT_EQ(HtmlToText("text <b unterminated").toStdString(), "text");
    EXPECT_EQ(HtmlToText("a<style>never closed").toStdString(), "a");
}

TEST(HtmlToText, DecodesCharacterReferences)
{
    EXPECT_EQ(HtmlToText("Caf&eacute; &amp; Bar &lt;b&gt; &#233;&#xE9;&#X20AC; &quot;q&quot; "
                         "&euro;&nbsp;5 &hellip; &#0;")
                  .toStdString(),
              "Café & Bar <b> éé€ \"q\" € 5 … \uFFFD");
    // References to blanks, line ends and tabs collapse as the characters themselves do; other
    // control characters, referred to or not, are dropped.
    EXPECT_EQ(HtmlToText("a&#13;b &#9;&#10;&#x20; c&#1;d&#x7F;e\x02"
                         "f&#133;g&#x2003;h&nbsp;&nbsp;i&#x1F600;😀")
                  .toStdString(),
              "a b cdef g h  i😀😀");
    // Unknown or unterminated references, and a "<" that opens no tag, stay as they are.
    EXPECT_EQ(HtmlToText("Rock &roll; &amp &#xZZ; a < b &amp;lt;").toStdString(),
              "Rock &roll; &amp &#xZZ; a < b &lt;");
    // A reference's ';' is looked for only as far as a reference reaches: else four million
    // bare '&' search on to the end for hours.
    const QString ampersands(4'000'000, u'&');
    EXPECT_TRUE(HtmlToText(ampersands + u';') == ampersands + u';');
}
