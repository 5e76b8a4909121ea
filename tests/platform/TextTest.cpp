#include "platform/Text.h"

#include <gtest/gtest.h>

using namespace text;

TEST(FixedField, PadsCutsAndNeverSplitsADoubleByteCharacter) {
  EXPECT_EQ(fixedField(QStringLiteral("ab"), 5), QByteArray("ab   "));
  EXPECT_EQ(fixedField(QStringLiteral("abcdefg"), 5), QByteArray("abcde"));
  // "う" would straddle the end: cut before it, pad with a space.
  EXPECT_EQ(fixedField(QStringLiteral("あいう"), 5), toCp932(QStringLiteral("あい")) + ' ');
  EXPECT_EQ(fixedField(QStringLiteral("あいう"), 6), toCp932(QStringLiteral("あいう")));
  // Half-width katakana are single bytes.
  EXPECT_EQ(fixedField(QStringLiteral("ｱｲｳ"), 2), toCp932(QStringLiteral("ｱｲ")));
  EXPECT_EQ(safeCut(toCp932(QStringLiteral("aあ")), 2), 1);
}

TEST(TextHelpers, TrimCutAtNulAndRounding) {
  // Only ASCII spaces are trimmed, as the stored fields are padded with them.
  EXPECT_EQ(trimSpaces(QStringLiteral("  a b  ")), QStringLiteral("a b"));
  EXPECT_EQ(trimSpaces(QStringLiteral("\ta\u3000")), QStringLiteral("\ta\u3000"));
  EXPECT_EQ(trimSpaces(QStringLiteral("    ")), QString());
  EXPECT_EQ(trimRight(QStringLiteral(" a  ")), QStringLiteral(" a"));
  EXPECT_EQ(CutAtNul(QString::fromUtf16(u"ab\0cd", 5)), QStringLiteral("ab"));
  EXPECT_EQ(CutAtNul(QStringLiteral("abc")), QStringLiteral("abc"));
  EXPECT_EQ(CutAtNul(QByteArray("x\0y", 3)), QByteArray("x"));

  EXPECT_EQ(roundHalfEven(0.5), 0);
  EXPECT_EQ(roundHalfEven(1.5), 2);
  EXPECT_EQ(roundHalfEven(2.5), 2);
  EXPECT_EQ(roundHalfEven(2.6), 3);
  EXPECT_EQ(roundHalfEven(-1.5), -2);

  EXPECT_DOUBLE_EQ(leadingNumber(QStringLiteral("1.6")), 1.6);
  EXPECT_DOUBLE_EQ(leadingNumber(QStringLiteral("  2.5 days")), 2.5);
  EXPECT_DOUBLE_EQ(leadingNumber(QStringLiteral("-3")), -3);
  EXPECT_DOUBLE_EQ(leadingNumber(QStringLiteral("1e2")), 100);
  EXPECT_DOUBLE_EQ(leadingNumber(QStringLiteral("abc")), 0);
  EXPECT_DOUBLE_EQ(leadingNumber(QString()), 0);
  EXPECT_DOUBLE_EQ(leadingNumber(QStringLiteral(".")), 0);
}

TEST(TextHelpers, LineEndsBecomeCrLf) {
  EXPECT_EQ(toCrLf(QStringLiteral("a\nb\r\nc\rd")), QStringLiteral("a\r\nb\r\nc\r\nd"));
}

TEST(FileEncodings, DetectedFromTheBytes) {
  const QString japanese = QStringLiteral("①㈱～ 灯火亭ｱ");
  EXPECT_EQ(detectEncoding(toCp932(japanese)), FileEncoding::Cp932);
  EXPECT_EQ(detectEncoding(japanese.toUtf8()), FileEncoding::Utf8);
  EXPECT_EQ(detectEncoding(QByteArray("plain ascii\r\n")), FileEncoding::Cp932);
  EXPECT_EQ(detectEncoding(QByteArray()), FileEncoding::Cp932);
  // A byte-order mark decides, whatever follows it.
  EXPECT_EQ(detectEncoding(QByteArray("\xEF\xBB\xBF" "abc")), FileEncoding::Utf8Bom);
  EXPECT_EQ(detectEncoding(QByteArray("\xFF\xFE" "a\0", 4)), FileEncoding::Utf16Le);
  EXPECT_EQ(detectEncoding(QByteArray("\xFE\xFF\0a", 4)), FileEncoding::Utf16Be);
  // UTF-8 with one broken sequence is not UTF-8; nor is a surrogate written as UTF-8.
  EXPECT_EQ(detectEncoding(japanese.toUtf8() + "\xE3\x81"), FileEncoding::Cp932);
  EXPECT_EQ(detectEncoding(QByteArray("a\xED\xA0\x80")), FileEncoding::Cp932);
  EXPECT_EQ(detectEncoding(QByteArray("\xC0\xAF")), FileEncoding::Cp932);          // overlong "/"
  EXPECT_EQ(detectEncoding(QByteArray("\xF4\x90\x80\x80")), FileEncoding::Cp932);  // past U+10FFFF
  EXPECT_EQ(detectEncoding(QByteArray("\xF0\x9F\x98\x80")), FileEncoding::Utf8);
  // Short CP932 texts that Japanese files are full of read as CP932.
  for (const QString& s : {QStringLiteral("あ"), QStringLiteral("ｱｲｳ"), QStringLiteral("漢字"), QStringLiteral("～")})
    EXPECT_EQ(detectEncoding(toCp932(s)), FileEncoding::Cp932) << s.toStdString();
}

TEST(FileEncodings, EachReadsAndWritesItsOwnWayWithItsMark) {
  const QString text = QStringLiteral("①㈱～\r\n😀 emoji");
  const FileEncoding all[] = {FileEncoding::Utf8, FileEncoding::Utf8Bom, FileEncoding::Utf16Le, FileEncoding::Utf16Be};
  for (FileEncoding e : all) {
    const QByteArray bytes = encodeText(text, e);
    EXPECT_EQ(detectEncoding(bytes), e) << int(e);
    EXPECT_EQ(decodeText(bytes, e), text) << int(e);
  }
  EXPECT_EQ(encodeText(QStringLiteral("a"), FileEncoding::Utf16Be), QByteArray("\xFE\xFF\0a", 4));
  // A UTF-16 file cut in the middle of a character loses only that byte.
  EXPECT_EQ(decodeText(QByteArray("\xFF\xFE" "a\0b", 5), FileEncoding::Utf16Le), QStringLiteral("a\uFFFD"));
}

TEST(FileEncodings, Cp932MissingNamesEachLostCharacterOnce) {
  EXPECT_EQ(cp932Missing(QStringLiteral("①㈱～〜−—¥ ?あ")), QString());
  EXPECT_EQ(cp932Missing(QStringLiteral("a😀b😀é\uFFFD?")), QStringLiteral("😀é\uFFFD"));
}
