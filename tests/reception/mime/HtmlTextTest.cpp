// HTML read as plain text: paragraphs, lists, preformatted text, entities
// and where each link leads.
#include "reception/mime/HtmlText.h"

#include <gtest/gtest.h>

using maillib::htmlToText;

TEST(HtmlText, PreformattedTextAndUnknownEntities) {
  EXPECT_EQ(htmlToText(QStringLiteral("<pre>a  b\n  c</pre>x &unknown; y")), QStringLiteral("a  b\n  c\nx &unknown; y"));
}

TEST(HtmlText, HtmlLinksOncePerLink) {
  EXPECT_EQ(htmlToText(QStringLiteral("<p>Read <a href='https://x.example/a?b=1&amp;c=2'>more</a>.</p>"
                                      "<p><a href=https://x.example/>https://x.example</a> "
                                      "<a href=\"https://www.y.example/\">y.example</a></p>"
                                      "<p><a href=\"https://z.example/\"><img src=\"cid:1\" alt=\"バナー\"></a>"
                                      "<a href=\"https://w.example/\"><img src=\"cid:2\"></a>"
                                      "<a name=\"top\">anchor</a> <a href=\"cid:3\">cid</a></p>"))
                .toStdString(),
            QStringLiteral("Read more <https://x.example/a?b=1&c=2>.\n\nhttps://x.example y.example\n\n"
                           "バナー <https://z.example/> <https://w.example/> anchor cid")
                .toStdString());
}

TEST(HtmlText, ScriptsStylesAndCommentsAreNotText) {
  EXPECT_EQ(htmlToText(QStringLiteral("<!DOCTYPE html><html><head><title>t</title><style>p{}</style></head>"
                                      "<body><!-- note --><script>var a = '<p>';</script>"
                                      "<ul><li>一つ<li><p>二つ</p></ul>&#x2460;&#0;&nbsp;end</body></html>")),
            QStringLiteral("・一つ\n・二つ\n① end"));
  // A mail address link shows the address without "mailto:".
  EXPECT_EQ(htmlToText(QStringLiteral("<a href=\"mailto:info@x.example?subject=hi\">お問い合わせ</a>")),
            QStringLiteral("お問い合わせ <info@x.example>"));
}
