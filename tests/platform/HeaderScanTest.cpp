// A raw mail's header read without a parser: where it ends, a field's raw
// value with its folded lines, and where a header cut short gives way to
// the body. The list of received mails keeps digests of these values, so
// they must not move.
#include "platform/HeaderScan.h"

#include <gtest/gtest.h>

using namespace headerscan;

TEST(HeaderScan, TheHeaderEndsAtItsFirstEmptyLineEitherWay) {
  EXPECT_EQ(bounds("A: 1\r\nB: 2\r\n\r\nbody\n\nmore").headerEnd, 10);
  EXPECT_EQ(bodyOffset("A: 1\r\nB: 2\r\n\r\nbody\n\nmore"), 14);
  // A bare LF empty line before the CR LF one counts first.
  EXPECT_EQ(bodyOffset("A: 1\n\nB: 2\r\n\r\nbody"), 6);
  EXPECT_EQ(headerBlock("A: 1\n\nB: 2\r\n\r\nbody"), QByteArray("A: 1"));
  // No header at all, and no empty line at all.
  EXPECT_EQ(bodyOffset("\r\nbody"), 2);
  EXPECT_EQ(headerBlock("\nbody"), QByteArray());
  EXPECT_EQ(bodyOffset("A: 1\r\nB: 2"), 10);
  EXPECT_EQ(headerBlock("A: 1\r\nB: 2"), QByteArray("A: 1\r\nB: 2"));
  // The split keeps the line break of the header's last line.
  const RawMessage crlf = splitMessage("A: 1\r\n\r\nbody");
  EXPECT_EQ(crlf.header, QByteArray("A: 1\r\n"));
  EXPECT_EQ(crlf.body, QByteArray("body"));
  EXPECT_EQ(splitMessage("A: 1\n\nbody").header, QByteArray("A: 1\n"));
  EXPECT_EQ(splitMessage("\r\nbody").header, QByteArray());
}

TEST(HeaderScan, AFieldsValueWithItsFoldedLines) {
  const QByteArray h = "Received: x\r\nsubject:  one\r\n\t two \r\n  three\r\nSubject: second\r\nX: a\rb\r\n";
  EXPECT_EQ(fieldLines(h, "SUBJECT"), (QByteArrayList{"  one", "\t two ", "  three"}));
  // Unfolded: the line breaks go, the blanks of the folded lines stay.
  EXPECT_EQ(fieldValue(h, "Subject"), QByteArray("one\t two   three"));
  // A CR inside a line is no line break: the lines keep it, the value not.
  EXPECT_EQ(fieldLines(h, "x"), QByteArrayList{" a\rb"});
  EXPECT_EQ(fieldValue(h, "x"), QByteArray("ab"));
  EXPECT_TRUE(fieldLines(h, "Date").isEmpty());
  EXPECT_TRUE(fieldValue(h, "Date").isNull());
}

TEST(HeaderScan, BlanksBeforeTheColonOnlyWhenAskedFor) {
  const QByteArray h = "Message-ID : <a@x.jp>\r\n Message-ID: <folded@x.jp>\r\nMessage-Id:<b@x.jp>\r\n";
  // Exactly: the field with the blank is not it, nor is a folded line.
  EXPECT_EQ(fieldLines(h, "message-id"), QByteArrayList{"<b@x.jp>"});
  EXPECT_EQ(fieldLines(h, "message-id", NameMatch::BlanksBeforeColon),
            (QByteArrayList{" <a@x.jp>", " Message-ID: <folded@x.jp>"}));
}

TEST(HeaderScan, AHeaderCutShortGivesWayWhereALineCannotBeAField) {
  EXPECT_EQ(strayHeaderLine("From: a@b\nSubject: s\nnot a field\nTo: c@d\n\nrest\n"), 21);
  EXPECT_EQ(strayHeaderLine("From x@y Mon Jan  1 00:00:00 2024\r\nSubject: one\r\n\ttwo\r\nX-Odd_Name!: v\r\n\r\nbody"), -1);
  EXPECT_EQ(strayHeaderLine(" folded first\r\nA: b\r\n"), 0);
  EXPECT_EQ(strayHeaderLine("Hello,\r\nthis mail came without any header.\r\n"), 0);
  EXPECT_EQ(strayHeaderLine("A: 1\r\nB: 2"), -1);
  EXPECT_TRUE(isFieldLine("Old-Style : value"));
  EXPECT_FALSE(isFieldLine("no colon here"));
  EXPECT_FALSE(isFieldLine(": no name"));
  EXPECT_FALSE(isFieldLine("Two words: no"));
}
