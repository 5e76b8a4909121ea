// Address headers as a person reads them: display names quoted, in
// comments, encoded or raw, commas where they do and do not part addresses.
#include "reception/mime/Addresses.h"

#include <gtest/gtest.h>

using maillib::decodeAddresses;

TEST(Addresses, NamesQuotedInCommentsAndEncoded) {
  EXPECT_EQ(decodeAddresses("\"Yamada, Taro\" <taro@example.jp>, hanako@example.jp (Hanako)"),
            QStringLiteral("Yamada, Taro <taro@example.jp>, Hanako <hanako@example.jp>"));
  EXPECT_EQ(decodeAddresses("<only@example.jp>"), QStringLiteral("only@example.jp"));
  EXPECT_EQ(decodeAddresses("\"=?UTF-8?B?5bGx55Sw?=\" <y@example.jp>"), QStringLiteral("山田 <y@example.jp>"));
}

TEST(Addresses, RawShiftJisNamesAndNamesThatAreTheAddress) {
  // A quoted raw Shift_JIS name whose last byte before the quote is 0x5C
  // (表 = 95 5C) does not escape the quote.
  EXPECT_EQ(decodeAddresses("\"\x95\x5c\" <hyo@example.jp>, x@example.jp"),
            QStringLiteral("表 <hyo@example.jp>, x@example.jp"));
  // A name that only repeats the address is left out; folded lines unfold.
  EXPECT_EQ(decodeAddresses("\"a@example.jp\"\r\n <a@example.jp>"), QStringLiteral("a@example.jp"));
  // Nothing but commas and blanks: nothing.
  EXPECT_EQ(decodeAddresses(" , ,"), QString());
}
