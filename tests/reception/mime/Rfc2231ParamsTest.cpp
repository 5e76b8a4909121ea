// Parameters of content types and dispositions: RFC 2231 sections and
// charsets, encoded words in quotes and raw 8-bit names.
#include "reception/mime/Rfc2231Params.h"

#include <gtest/gtest.h>

using maillib::headerParameter;

TEST(Rfc2231Params, FileNameParameters) {
  // RFC 2231 continuation without encoding, and a single encoded value.
  EXPECT_EQ(headerParameter("attachment; filename*0=\"long \"; filename*1=\"name.txt\"", "filename"),
            QStringLiteral("long name.txt"));
  EXPECT_EQ(headerParameter("attachment; filename*=UTF-8''%E8%A1%A8.txt", "filename"), QStringLiteral("表.txt"));
  // Raw Shift_JIS in quotes whose second byte is a backslash (表 = 95 5C).
  EXPECT_EQ(headerParameter("attachment; filename=\"\x95\x5c.txt\"; size=3", "filename"), QStringLiteral("表.txt"));
  EXPECT_TRUE(headerParameter("attachment; size=3", "filename").isNull());
}

TEST(Rfc2231Params, SectionsJoinedAsBytesInTheirOrder) {
  // 請 (E8 AB 8B) split between sections written out of order.
  EXPECT_EQ(headerParameter("attachment;\r\n filename*1*=%AB%8B.pdf;\r\n filename*0*=utf-8'ja'%E8", "FileName"),
            QStringLiteral("請.pdf"));
  // Encoded words inside sections, as some senders write them.
  EXPECT_EQ(headerParameter("inline; name*0=\"=?UTF-8?B?5pel?=\"; name*1=\".txt\"", "name"), QStringLiteral("日.txt"));
  // The type itself, quoted, is no parameter; a parameter without a value is empty.
  EXPECT_EQ(headerParameter("text/plain; charset=\"ISO-2022-JP\"; format", "charset"), QStringLiteral("ISO-2022-JP"));
  EXPECT_EQ(headerParameter("text/plain; charset=\"ISO-2022-JP\"; format", "format"), QString());
}
