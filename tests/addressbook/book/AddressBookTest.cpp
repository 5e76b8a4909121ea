// The address book file without its window: registering, deleting, and
// importing and exporting vCards.
#include "addressbook/book/AddressBook.h"
#include "platform/Paths.h"
#include "platform/Text.h"
#include "support/TempHome.h"

#include <QFile>
#include <gtest/gtest.h>

using addressbook::ImportReport;
using vcard::Card;

namespace {

constexpr int L = store::AddressRecord::kLength;

QStringList addresses() {
  const addressbook::Listing book = addressbook::readAll();
  QStringList out;
  for (int i = 0; i < book.rows; ++i) out << addressbook::shownText(book.entry(i).address());
  return out;
}

}  // namespace

TEST(AddressBookFile, RegisteringWritesTheRecordAsTheComposerReadsIt) {
  TempHome home;
  QFile::remove(home.file(paths::kAddressFile));
  auto done = addressbook::registerEntry(QStringLiteral("日本太郎"), QStringLiteral("taro@example.jp"));
  ASSERT_TRUE(done.ok) << done.failure.cause.toStdString();
  EXPECT_EQ(done.recordNumber, 1);
  const QByteArray raw = home.read(paths::kAddressFile);
  ASSERT_EQ(raw.size(), L);
  EXPECT_EQ(raw.left(8), text::toCp932(QStringLiteral("日本太郎")));
  EXPECT_EQ(raw.mid(8, 82), QByteArray(82, ' '));
  EXPECT_EQ(raw.mid(90, 4), QByteArray("\r\n\x01\x00", 4));
  EXPECT_EQ(raw.mid(94, 15), QByteArray("taro@example.jp"));
}

TEST(AddressBookImport, AppendsAsRegisteringDoesAndReportsWhatItDid) {
  TempHome home;
  ASSERT_TRUE(addressbook::registerEntry(QStringLiteral("既存"), QStringLiteral("Known <KNOWN@example.jp>")).ok);
  const QString longName = QString(60, u'長');  // 120 bytes
  const ImportReport rep = addressbook::importCards({
      {QStringLiteral("新しい人"), QStringLiteral("new@example.jp"), {}},
      {QStringLiteral("既存の別名"), QStringLiteral("known@example.jp"), {}},  // registered, letter case aside
      {QStringLiteral("電話だけ"), QString(), {}},
      {longName, QStringLiteral("long@example.jp"), {}},
      {QStringLiteral("二度目"), QStringLiteral("NEW@example.jp"), {}},  // came earlier in the file
      {QStringLiteral("改行\r\n入り"), QStringLiteral("evil@example.jp\r\nRCPT TO:<x@example.com>"), {}},
      // The book's own named address comes back as it was...
      {QStringLiteral("日本さん"), QStringLiteral("taro@example.jp"), QStringLiteral("日本太郎<taro@example.jp>")},
      // ...unless the card's address was changed elsewhere since.
      {QStringLiteral("変更済み"), QStringLiteral("moved@example.jp"), QStringLiteral("変更前<old@example.jp>")},
  });
  ASSERT_TRUE(rep.ok) << rep.failure.cause.toStdString();
  EXPECT_EQ(rep.cards, 8);
  EXPECT_EQ(rep.added, 5);
  EXPECT_EQ(rep.skipped, 2);
  EXPECT_EQ(rep.withoutAddress, 1);
  EXPECT_EQ(rep.cut, 1);
  EXPECT_EQ(rep.bookFull, 0);
  EXPECT_EQ(addresses(), (QStringList{QStringLiteral("Known <KNOWN@example.jp>"), QStringLiteral("new@example.jp"),
                                      QStringLiteral("long@example.jp"),
                                      QStringLiteral("evil@example.jp  RCPT TO:<x@example.com>"),
                                      QStringLiteral("日本太郎<taro@example.jp>"), QStringLiteral("moved@example.jp")}));
  const addressbook::Listing book = addressbook::readAll();
  EXPECT_EQ(addressbook::shownText(book.entry(2).name()), QString(45, u'長'));
  EXPECT_EQ(addressbook::shownText(book.entry(3).name()), QStringLiteral("改行  入り"));
  for (int i = 0; i < book.rows; ++i) EXPECT_EQ(book.entry(i).liveFlag(), 1);
}

TEST(AddressBookImport, StopsAddingWhenTheBookIsFull) {
  TempHome home;
  store::AddressRecord r;
  r.setName(QStringLiteral("x"));
  r.markWritten();
  QByteArray full;
  for (int i = 0; i < store::kMaxRecords - 1; ++i) {
    r.setAddress(QStringLiteral("a%1@example.jp").arg(i));
    full += r.bytes();
  }
  home.write(paths::kAddressFile, full);
  const ImportReport rep = addressbook::importCards({{QStringLiteral("入る"), QStringLiteral("fits@example.jp"), {}},
                                                     {QStringLiteral("入らない"), QStringLiteral("over@example.jp"), {}}});
  ASSERT_TRUE(rep.ok);
  EXPECT_EQ(rep.added, 1);
  EXPECT_EQ(rep.bookFull, 1);
  EXPECT_EQ(QFile(home.file(paths::kAddressFile)).size(), qint64(store::kMaxRecords) * L);
}

TEST(AddressBookExport, OneCardPerEntryInOrderAndBackAgain) {
  TempHome home;
  ASSERT_TRUE(addressbook::registerEntry(QStringLiteral("山田 花子"), QStringLiteral("hanako@example.jp")).ok);
  ASSERT_TRUE(addressbook::registerEntry(QStringLiteral("日本さん"), QStringLiteral("日本太郎<taro@example.jp>")).ok);
  ASSERT_TRUE(addressbook::registerEntry(QStringLiteral("①～㈱"), QStringLiteral("maru@example.jp")).ok);
  const QByteArray before = home.read(paths::kAddressFile);
  const QList<Card> cards = addressbook::exportCards(addressbook::readAll());
  ASSERT_EQ(cards.size(), 3);
  EXPECT_EQ(cards[1], (Card{QStringLiteral("日本さん"), QStringLiteral("taro@example.jp"),
                            QStringLiteral("日本太郎<taro@example.jp>")}));
  EXPECT_TRUE(cards[0].bookAddress.isEmpty());

  // Through a file, into an empty book: byte for byte the same book.
  const QByteArray file = vcard::write(cards);
  home.write(paths::kAddressFile, QByteArray());
  const ImportReport rep = addressbook::importCards(vcard::parse(file));
  EXPECT_EQ(rep.added, 3);
  EXPECT_EQ(home.read(paths::kAddressFile), before);
}
