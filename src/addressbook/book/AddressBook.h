#pragma once
// The address book file: listing, registering, deleting and moving entries
// to and from vCard files. No window: the address book window and the
// tests call these. Every record in the file is a live entry, numbered from
// 1 without gaps, as the compose window reads it.
#include "addressbook/book/VCard.h"
#include "store/RecordFile.h"
#include "store/Records.h"

#include <QByteArray>
#include <QString>

namespace addressbook {

QString addressFile();
QString addressTemp();

// Every complete record of the file, in order (at most 32767); a missing
// file is created empty.
struct Listing {
  bool opened = false;  // false: see failure
  store::StoreFailure failure;
  QByteArray records;  // 184 bytes per entry
  int rows = 0;
  store::AddressRecord entry(int row) const;  // row from 0
};
Listing readAll();

// Record n whole, or false when it is not in the file (no failure then) or
// unreadable.
bool readEntry(int n, store::AddressRecord& out, store::StoreFailure* failure = nullptr);

// A new record at the end, flushed to the disk: the name and the address
// as given, cut to the field widths.
store::StoreResult registerEntry(const QString& name, const QString& address);

// Removes record n by the rewrite through the temporary copy; the file is
// unchanged when that fails.
store::StoreResult deleteEntry(int n);

// The rewrite keeping every live record: what a delete does when the user
// answers No.
store::StoreResult compact();

// 名刺挿入: card name<address>, the address with its spaces trimmed.
QString namedAddress(const QString& card, const QString& address);

// The mailbox of an address field: inside its last angle brackets, or the
// whole field; spaces trimmed.
QString bareAddress(const QString& field);

// A field's text as the window shows it once picked: cut at NUL, spaces
// trimmed.
QString shownText(const QString& field);

// The book as vCards, one per entry in order.
QList<vcard::Card> exportCards(const Listing& book);

// What an import did.
struct ImportReport {
  bool ok = false;
  store::StoreFailure failure;
  int cards = 0;           // cards in the file
  int added = 0;
  int skipped = 0;         // the address was registered already
  int cut = 0;             // added, but a name or address was cut to its field
  int withoutAddress = 0;  // cards without a mail address, not added
  int bookFull = 0;        // not added: the book holds 32767 entries
};

// Appends the cards as 登録 registers entries, in order: the name and the
// address, cut to the field widths. A card whose mailbox is registered
// already (letter case aside), or came earlier in the same file, is passed
// over. The new records reach the disk in one write.
ImportReport importCards(const QList<vcard::Card>& cards);

}  // namespace addressbook
