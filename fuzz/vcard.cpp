// vCard files from phones and other address books, imported into the
// address book.
//
// Checks: names and addresses have whole surrogate pairs; the cards written
// as vCard 3.0 read back as the same cards (a carriage return inside a
// value aside, which the writer leaves out); written lines are at most 75
// bytes of whole UTF-8 characters; an import registers every card with an
// address once, on one line each, and counts every card.
#include "FuzzCheck.h"
#include "addressbook/book/AddressBook.h"
#include "addressbook/book/VCard.h"
#include "platform/Paths.h"

#include <QDir>
#include <QSet>
#include <QStringDecoder>

using namespace fuzzcheck;

namespace {

QString written(QString s) {
  s.remove(u'\r');
  return s.trimmed();
}

QString shown(const vcard::Card& c) { return QStringLiteral("[%1|%2|%3]").arg(c.name, c.email, c.bookAddress); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QList<vcard::Card> cards = vcard::parse(bytesOf(data, size));
  for (const vcard::Card& c : cards) {
    checkText(c.name, "a card's name");
    checkText(c.email, "a card's address");
    checkText(c.bookAddress, "a card's book address");
  }

  const QByteArray out = vcard::write(cards);
  for (const QByteArray& line : out.split('\n')) {
    FUZZ_CHECK(line.isEmpty() || (line.endsWith('\r') && line.size() <= 76), QStringLiteral("a line too long"));
    QStringDecoder utf8(QStringDecoder::Utf8);
    (void)QString(utf8(line));
    FUZZ_CHECK(!utf8.hasError(), QStringLiteral("a written line is not whole UTF-8"));
  }
  const QList<vcard::Card> back = vcard::parse(out);
  FUZZ_CHECK(back.size() == cards.size(), QStringLiteral("%1 cards read back as %2").arg(cards.size()).arg(back.size()));
  for (qsizetype i = 0; i < cards.size(); ++i) {
    const vcard::Card expected{written(cards[i].name), written(cards[i].email), written(cards[i].bookAddress)};
    FUZZ_CHECK(back[i] == expected, shown(expected) + QStringLiteral(" reads back as ") + shown(back[i]));
  }

  // Imported into an empty address book.
  const QString home = scratchFolder(QStringLiteral("vcard")) + QStringLiteral("/home");
  emptyFolder(home);
  QDir().mkpath(home + u'/' + paths::kDataFolder);
  paths::setProgramFolder(home);
  const addressbook::ImportReport report = addressbook::importCards(cards);
  FUZZ_CHECK(report.ok, QStringLiteral("the import failed"));
  FUZZ_CHECK(report.added + report.skipped + report.withoutAddress + report.bookFull == cards.size(),
             QStringLiteral("cards not counted"));
  const addressbook::Listing book = addressbook::readAll();
  FUZZ_CHECK(book.rows == report.added, QStringLiteral("%1 entries for %2 added").arg(book.rows).arg(report.added));
  for (int row = 0; row < book.rows; ++row) {
    const store::AddressRecord r = book.entry(row);
    for (const QString& field : {r.name(), r.address()}) {
      checkText(field, "an entry's field");
      FUZZ_CHECK(!field.contains(u'\r') && !field.contains(u'\n') && !field.contains(u'\t'),
                 QStringLiteral("an entry's field of more than one line"));
    }
    FUZZ_CHECK(r.liveFlag() == 1, QStringLiteral("an entry not live"));
  }
  return 0;
}
