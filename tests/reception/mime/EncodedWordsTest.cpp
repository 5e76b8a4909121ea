// Unstructured header text: encoded words as the standard writes them and
// as careless mailers do, and raw Japanese text in a header.
#include "reception/mime/EncodedWords.h"

#include <gtest/gtest.h>

using maillib::decodeHeaderText;

TEST(EncodedWords, AdjacentWordsGluedWordsRawJisAndBrokenWords) {
  // Adjacent words joined without the space between them; text around kept.
  EXPECT_EQ(decodeHeaderText("=?UTF-8?B?5pel?= =?UTF-8?B?5pys?= and =?UTF-8?Q?=E8=AA=9E?= end"),
            QStringLiteral("日本 and 語 end"));
  // Glued to other text, as careless mailers write it.
  EXPECT_EQ(decodeHeaderText("Re:=?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?="), QStringLiteral("Re:テスト"));
  // Raw ISO-2022-JP in a header.
  EXPECT_EQ(decodeHeaderText("\x1b$B%F%9%H\x1b(B"), QStringLiteral("テスト"));
  // A broken word stays as it was written.
  EXPECT_EQ(decodeHeaderText("=?UTF-8?B?broken"), QStringLiteral("=?UTF-8?B?broken"));
}

TEST(EncodedWords, ACharacterSplitOverTwoWordsIsJoinedAsBytes) {
  // 日 is E6 97 A5: its bytes in two B words, then in two Q words.
  EXPECT_EQ(decodeHeaderText("=?utf-8?B?5pc=?=\r\n =?UTF-8?B?pQ==?="), QStringLiteral("日"));
  EXPECT_EQ(decodeHeaderText("=?utf-8?q?=E6=97?= =?utf-8?q?=A5_x?="), QStringLiteral("日 x"));
  // Words of different charsets are not joined; the language of RFC 2231 is dropped.
  EXPECT_EQ(decodeHeaderText("=?iso-8859-1*fr?Q?caf=E9?= =?utf-8?B?5pel?="), QStringLiteral("café日"));
  // Controls and tabs do not reach a one-line field.
  EXPECT_EQ(decodeHeaderText("=?utf-8?Q?a=00b=09c?=\t d"), QStringLiteral("ab c  d"));
}
