// vCard files as phones and address books write them, and the book's own
// export read back.
#include "addressbook/book/VCard.h"
#include "platform/Text.h"

#include <QStringDecoder>
#include <gtest/gtest.h>

using vcard::Card;

namespace {

Card only(const QByteArray& file) {
  const QList<Card> cards = vcard::parse(file);
  EXPECT_EQ(cards.size(), 1);
  return cards.value(0);
}

}  // namespace

TEST(VCardRead, PlainCardsInOrderWithTheTextOutsideThemPassedOver) {
  const QList<Card> cards = vcard::parse(
      "junk before\r\n"
      "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:山田 花子\r\nN:山田;花子;;;\r\nEMAIL;TYPE=INTERNET:hanako@example.jp\r\nEND:VCARD\r\n"
      "\r\n"
      "begin:vcard\nversion:3.0\nfn:Bob\nemail:bob@example.com\nend:vcard\n");
  ASSERT_EQ(cards.size(), 2);
  EXPECT_EQ(cards[0], (Card{QStringLiteral("山田 花子"), QStringLiteral("hanako@example.jp"), {}}));
  EXPECT_EQ(cards[1], (Card{QStringLiteral("Bob"), QStringLiteral("bob@example.com"), {}}));
}

TEST(VCardRead, FoldedLinesAndEscapes) {
  // A fold is CR LF and one blank; the blank goes, the rest joins.
  const Card c = only(
      "BEGIN:VCARD\r\nVERSION:3.0\r\n"
      "FN:株式会社 日本商事\\, 営業部\\;東京\r\n"
      "  支店\r\n"
      "EMAIL;TYPE=INTERNET:very.long.address.of.the.sales.department@exam\r\n"
      "\tple.co.jp\r\n"
      "END:VCARD\r\n");
  EXPECT_EQ(c.name, QStringLiteral("株式会社 日本商事, 営業部;東京 支店"));
  EXPECT_EQ(c.email, QStringLiteral("very.long.address.of.the.sales.department@example.co.jp"));
}

TEST(VCardRead, QuotedPrintableNamesFromPhones) {
  // vCard 2.1 as Android writes it: UTF-8 bytes, a soft break at the end of
  // a line and the next line not indented.
  const Card android = only(
      "BEGIN:VCARD\r\nVERSION:2.1\r\n"
      "N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=E6=97=A5=E6=9C=AC;=E5=A4=AA=E9=83=8E;;;\r\n"
      "FN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=E6=97=A5=E6=9C=AC=E5=A4=AA=E9=83=\r\n"
      "=8E\r\n"
      "EMAIL;HOME:taro@example.jp\r\n"
      "END:VCARD\r\n");
  EXPECT_EQ(android.name, QStringLiteral("日本太郎"));
  EXPECT_EQ(android.email, QStringLiteral("taro@example.jp"));

  // An older Japanese phone: Shift_JIS, a bare QUOTED-PRINTABLE, no FN.
  QByteArray sjis = "BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=SHIFT_JIS;QUOTED-PRINTABLE:";
  for (char b : text::toCp932(QStringLiteral("鈴木")))
    sjis += '=' + QByteArray::number(uchar(b), 16).toUpper();
  sjis += ";";
  for (char b : text::toCp932(QStringLiteral("一郎")))
    sjis += '=' + QByteArray::number(uchar(b), 16).toUpper();
  sjis += "\r\nEMAIL;INTERNET:ichiro@example.ne.jp\r\nEND:VCARD\r\n";
  EXPECT_EQ(only(sjis).name, QStringLiteral("鈴木一郎"));

  // A whole file in Shift_JIS without any CHARSET, and ～ and ① in it.
  const Card plain = only("BEGIN:VCARD\r\nFN:" + text::toCp932(QStringLiteral("①～㈱")) +
                          "\r\nEMAIL:a@example.jp\r\nEND:VCARD\r\n");
  EXPECT_EQ(plain.name, QStringLiteral("①～㈱"));
}

TEST(VCardRead, TheNameFromNWhenThereIsNoFn) {
  EXPECT_EQ(only("BEGIN:VCARD\nN:Smith;John;;;\nEMAIL:j@example.com\nEND:VCARD\n").name, QStringLiteral("John Smith"));
  EXPECT_EQ(only("BEGIN:VCARD\nN:;Madonna;;;\nEND:VCARD\n").name, QStringLiteral("Madonna"));
  EXPECT_EQ(only("BEGIN:VCARD\nFN:\nN:O\\;Brien;Pat\nEND:VCARD\n").name, QStringLiteral("Pat O;Brien"));
  EXPECT_EQ(only("BEGIN:VCARD\nEMAIL:x@example.com\nEND:VCARD\n").name, QString());
}

TEST(VCardRead, SeveralAddressesTheFirstOrThePreferredOne) {
  auto email = [](const QByteArray& lines) {
    return only("BEGIN:VCARD\r\nVERSION:3.0\r\nFN:X\r\n" + lines + "END:VCARD\r\n").email;
  };
  EXPECT_EQ(email("EMAIL;TYPE=HOME:first@example.jp\r\nEMAIL;TYPE=WORK:second@example.jp\r\n"),
            QStringLiteral("first@example.jp"));
  EXPECT_EQ(email("EMAIL;TYPE=HOME:first@example.jp\r\nEMAIL;TYPE=INTERNET,PREF:pref@example.jp\r\n"),
            QStringLiteral("pref@example.jp"));
  EXPECT_EQ(email("EMAIL;type=INTERNET;type=HOME:first@example.jp\r\nitem1.EMAIL;type=INTERNET;type=pref:apple@example.jp\r\n"),
            QStringLiteral("apple@example.jp"));
  EXPECT_EQ(email("EMAIL;HOME:first@example.jp\r\nEMAIL;PREF;INTERNET:bare@example.jp\r\n"),
            QStringLiteral("bare@example.jp"));
  EXPECT_EQ(email("EMAIL;PREF=2:two@example.jp\r\nEMAIL;PREF=1:one@example.jp\r\nEMAIL;TYPE=PREF:later@example.jp\r\n"),
            QStringLiteral("one@example.jp"));
  // An empty EMAIL is no address.
  EXPECT_EQ(email("EMAIL;TYPE=PREF:\r\nEMAIL:real@example.jp\r\n"), QStringLiteral("real@example.jp"));
  EXPECT_EQ(email("TEL:03-1234-5678\r\n"), QString());
}

TEST(VCardRead, OddFiles) {
  // A byte-order mark, a nested card, a card cut short by the end of the file.
  const QList<Card> cards = vcard::parse(
      "\xEF\xBB\xBF"
      "BEGIN:VCARD\nFN:Outer\nAGENT:\nBEGIN:VCARD\nFN:Inner\nEMAIL:inner@example.com\nEND:VCARD\n"
      "EMAIL:outer@example.com\nEND:VCARD\n"
      "BEGIN:VCARD\nFN:Cut\nEMAIL:cut@example.com\n");
  ASSERT_EQ(cards.size(), 2);
  EXPECT_EQ(cards[0].name, QStringLiteral("Outer"));
  EXPECT_EQ(cards[0].email, QStringLiteral("outer@example.com"));
  EXPECT_EQ(cards[1].email, QStringLiteral("cut@example.com"));

  // UTF-16 with its mark, as some desktop programs save.
  const QString utf16 = QStringLiteral("BEGIN:VCARD\r\nFN:佐藤\r\nEMAIL:sato@example.jp\r\nEND:VCARD\r\n");
  QByteArray le("\xFF\xFE", 2);
  le.append(reinterpret_cast<const char*>(utf16.utf16()), utf16.size() * 2);
  EXPECT_EQ(only(le).name, QStringLiteral("佐藤"));

  EXPECT_TRUE(vcard::parse("not a card at all\n").isEmpty());
  EXPECT_TRUE(vcard::parse(QByteArray()).isEmpty());
}

TEST(VCardWrite, ThreePointZeroFoldedAndEscapedAndReadBackTheSame) {
  const QList<Card> cards = {
      {QStringLiteral("日本太郎"), QStringLiteral("taro@example.jp"), QStringLiteral("日本太郎<taro@example.jp>")},
      {QStringLiteral("Smith, John; Jr. \\ II"), QStringLiteral("john@example.com"), {}},
      {QStringLiteral("とても長い名前の取引先株式会社　東京本社　営業第一部　第二課　御中"), QStringLiteral("a@example.jp"), {}},
      {QString(), QString(), {}},
  };
  const QByteArray out = vcard::write(cards);
  EXPECT_TRUE(out.startsWith("BEGIN:VCARD\r\nVERSION:3.0\r\nFN:日本太郎\r\nN:日本太郎;;;;\r\n"
                             "EMAIL;TYPE=INTERNET:taro@example.jp\r\n"
                             "X-TOMOSHIBI-ADDRESS:日本太郎<taro@example.jp>\r\nEND:VCARD\r\n"));
  EXPECT_TRUE(out.contains("FN:Smith\\, John\\; Jr. \\\\ II\r\n"));
  // Lines of at most 75 bytes, folds never inside a character, CR LF only.
  for (const QByteArray& line : out.split('\n')) {
    EXPECT_LE(line.size(), 76) << line.constData();  // 75 and the CR
    if (!line.isEmpty()) EXPECT_TRUE(line.endsWith('\r'));
    QStringDecoder utf8(QStringDecoder::Utf8);
    (void)QString(utf8(line));
    EXPECT_FALSE(utf8.hasError()) << line.constData();
  }
  EXPECT_TRUE(out.contains("\r\n "));  // the long name was folded
  EXPECT_EQ(vcard::parse(out), cards);
}
