// Every charset conversion: CP932 both ways, received text by its label or
// by guessing, ISO-2022-JP through the Windows tables, and what bytes are.
#include "platform/Charset.h"

#include <gtest/gtest.h>

using namespace charset;

TEST(Cp932, RoundTripsTheCharactersJapaneseMailUses) {
  // Circled digits, the company mark and the wave dash are not in strict
  // Shift_JIS; CP932 must keep them.
  const QString s = QStringLiteral("①㈱～髙﨑ｱｲｳ漢字かなカナABC\\~");
  const QByteArray b = toCp932(s);
  EXPECT_EQ(fromCp932(b), s);
  EXPECT_EQ(toCp932(QStringLiteral("①")), QByteArray("\x87\x40"));
  EXPECT_EQ(toCp932(QStringLiteral("～")), QByteArray("\x81\x60"));
  EXPECT_EQ(toCp932(QStringLiteral("ｱ")), QByteArray("\xB1"));
}

TEST(Cp932, UnmappableCharacterBecomesOneReplacement) {
  EXPECT_EQ(toCp932(QStringLiteral("a😀b")), QByteArray("a?b"));  // a surrogate pair is one character
  EXPECT_EQ(toCp932(QStringLiteral("这ㄅ")), QByteArray("??"));
  EXPECT_EQ(toCp932(QString()), QByteArray());
}

TEST(Cp932, BadBytesDecodeToReplacementAndTheRestSurvives) {
  // A lone lead byte at the end, undefined bytes, and a lead byte followed
  // by a byte that cannot trail it.
  EXPECT_EQ(fromCp932(QByteArray("ab\x82")), QStringLiteral("ab\uFFFD"));
  EXPECT_EQ(fromCp932(QByteArray("\xFD\xFEx")), QStringLiteral("\uFFFD\uFFFDx"));
  EXPECT_EQ(fromCp932(QByteArray("\x82\x20\x82\xA0")), QStringLiteral("\uFFFD あ"));
  // NUL bytes pass through, so readers can cut at them.
  EXPECT_EQ(fromCp932(QByteArray("a\0b", 3)), QString::fromUtf16(u"a\0b", 3));
}

TEST(Charsets, LabelsAndGuesses) {
  // Shift_JIS labels mean CP932: 0x5C and 0x7E stay ASCII, NEC row 13 works.
  EXPECT_EQ(decodeCharset("\\~\x87\x40", "Shift_JIS"), QStringLiteral("\\~①"));
  // Half-width katakana in ISO-2022-JP, and JIS X 0212 (not in CP932) as 〓.
  EXPECT_EQ(decodeCharset("\x1b(I\x31\x32\x1b(B!", "iso-2022-jp"), QStringLiteral("ｱｲ!"));
  EXPECT_EQ(decodeCharset("\x1b$(D\x30\x21\x1b(Bx", "iso-2022-jp"), QStringLiteral("〓x"));
  // A wrong label does not turn the text into U+FFFD: CP932 bytes labelled UTF-8.
  EXPECT_EQ(decodeCharset(QStringLiteral("日本語").toUtf8(), "utf-8"), QStringLiteral("日本語"));
  EXPECT_EQ(decodeCharset(QByteArray("\x93\xfa\x96\x7b\x8c\xea"), "utf-8"), QStringLiteral("日本語"));
  // Unlabelled EUC-JP is not mistaken for CP932 half-width katakana.
  EXPECT_EQ(decodeGuess(QByteArray("\xa4\xb3\xa4\xf3\xa4\xcb\xa4\xc1\xa4\xcf")), QStringLiteral("こんにちは"));
  // Unknown labels and labels that try to steer iconv fall back to guessing.
  EXPECT_EQ(decodeCharset(QStringLiteral("テスト").toUtf8(), "x-no-such-charset"), QStringLiteral("テスト"));
  EXPECT_EQ(decodeCharset(QByteArray("\x93\xfa\x96\x7b\x8c\xea"), "UTF-8//TRANSLIT"), QStringLiteral("日本語"));
}

TEST(Charsets, NecAndIbmCharactersInJisFormBecomeCp932) {
  // ① (NEC row 13, 2D 21) survives; half a kanji at the end stays a byte.
  EXPECT_EQ(iso2022jpToCp932("\x1b$B-!\x1b(Ba"), QByteArray("\x87\x40" "a"));
  EXPECT_EQ(decodeCharset("\x1b$B-!\x1b(B", "ISO-2022-JP"), QStringLiteral("①"));
  EXPECT_EQ(iso2022jpToCp932("\x1b$B$"), QByteArray("$"));
  // SO/SI half-width katakana.
  EXPECT_EQ(decodeCharset("a\x0e\x31\x0f" "b", "iso-2022-jp"), QStringLiteral("aｱb"));
}

TEST(Charsets, SevenBitAndUtf8Checks) {
  EXPECT_TRUE(isSevenBit(QByteArray("plain text, long enough for the 8-byte steps")));
  EXPECT_FALSE(isSevenBit(QByteArray("plain text, long enough \x80 for the steps")));
  EXPECT_FALSE(isSevenBit(QStringView(u"eight chars then é")));
  EXPECT_TRUE(isSevenBit(QStringView(u"eight chars then e")));
  const QByteArray cut = QStringLiteral("日本").toUtf8().left(4);  // 日 and one byte of 本
  EXPECT_TRUE(isValidUtf8(cut));
  EXPECT_FALSE(isValidUtf8(cut, Utf8End::Whole));
  EXPECT_TRUE(isValidUtf8(QStringLiteral("日本").toUtf8(), Utf8End::Whole));
  for (const char* bad : {"\xC0\xAF", "a\xED\xA0\x80", "\xF4\x90\x80\x80", "\x93\xfa"})
    EXPECT_FALSE(isValidUtf8(bad)) << bad;
}
