// A text part's bytes made body text: its charset from the part or from an
// HTML document's own <meta>, flowed lines, and the lines the record keeps.
#include "reception/mime/BodyText.h"

#include <gtest/gtest.h>

using namespace maillib;

TEST(BodyText, HtmlWithoutACharsetIsReadInTheOneItsMetaNames) {
  const QByteArray sjis("<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=Shift_JIS\">"
                        "</head><body>\x93\xfa\x96\x7b</body></html>");
  EXPECT_EQ(partText(sjis, {QByteArray(), true}), QStringLiteral("日本"));
  // The part's own charset wins over the document's.
  EXPECT_EQ(partText("<meta charset=\"euc-jp\"><p>\xe6\x97\xa5</p>", {"utf-8", true}), QStringLiteral("日"));
}

TEST(BodyText, FlowedLinesAreJoined) {
  TextPart flowed{"us-ascii", false, true, false};
  // A space-stuffed line loses its first space; the signature mark "-- "
  // is no soft break. Every line ends with a break (the walk trims the end).
  EXPECT_EQ(partText("one \r\ntwo\r\n>quoted\r\n -- \r\n-- \r\nsig", flowed).toStdString(),
            "one two\n>quoted\n-- \n-- \nsig\n");
  flowed.delsp = true;
  EXPECT_EQ(partText("Japa \r\nnese", flowed).toStdString(), "Japanese\n");
  // Not flowed: the lines stay as they are.
  EXPECT_EQ(partText("Japa \r\nnese", {"us-ascii"}).toStdString(), "Japa \r\nnese");
}

TEST(BodyText, BodyLinesAreCrLfWithoutControls) {
  EXPECT_EQ(cleanBody(QStringLiteral("a\nb\rc\r\nd")), QStringLiteral("a\r\nb\r\nc\r\nd"));
  EXPECT_EQ(cleanBody(QString::fromUtf16(u"a\0b\x1b\x7f\tc\fd\u00a0e", 12)), QStringLiteral("ab\tc\fd e"));
  const QString already = QStringLiteral("line\r\nline");
  EXPECT_EQ(cleanBody(already).constData(), already.constData());  // passed on, not copied
}
