#include "AddressBook.h"

#include "platform/Paths.h"
#include "platform/Text.h"
#include "store/Records.h"

#include <QSet>
#include <cerrno>
#include <unistd.h>

namespace addressbook {
namespace {

constexpr int L = store::AddressRecord::kLength;

// How many of len bytes from offset were read before the end or a fault.
qint64 preadAll(int fd, char* dst, qint64 len, qint64 offset) {
  qint64 done = 0;
  while (done < len) {
    const ssize_t r = ::pread(fd, dst + done, size_t(len - done), offset + done);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    done += r;
  }
  return done;
}

// A value from elsewhere as one line: a line break or tab in an address
// would reach the mail server as part of it.
QString oneLine(QString s) {
  for (QChar& c : s)
    if (c == u'\r' || c == u'\n' || c == u'\t') c = u' ';
  return s.trimmed();
}

bool fitsField(const QString& s, int width) { return text::toCp932(s).size() <= width; }

QString mailboxKey(const QString& address) { return bareAddress(address).toCaseFolded(); }

}  // namespace

QString addressFile() { return paths::resolve(paths::kAddressFile); }
QString addressTemp() { return paths::resolve(paths::kAddressTemp); }

store::AddressRecord Listing::entry(int row) const {
  return store::AddressRecord(records.mid(qsizetype(row) * L, L));
}

Listing readAll() {
  Listing out;
  store::RecordFile f(addressFile(), L);
  if (!f.open()) {
    out.failure = f.failure();
    return out;
  }
  out.opened = true;
  out.rows = f.recordCount();
  out.records.resize(qsizetype(out.rows) * L);
  const qint64 read = out.rows > 0 ? preadAll(f.fd(), out.records.data(), out.records.size(), 0) : 0;
  if (read < out.records.size()) {
    // The entries before the fault are listed, as far as they are whole.
    out.failure = {store::StoreCode::Unreadable, f.path()};
    out.rows = int(read / L);
    out.records.truncate(qsizetype(out.rows) * L);
  }
  return out;
}

bool readEntry(int n, store::AddressRecord& out, store::StoreFailure* failure) {
  store::RecordFile f(addressFile(), L);
  QByteArray raw;
  if (!f.open() || f.read(n, raw) != store::ReadResult::Ok) {
    if (failure) *failure = f.failure();
    return false;
  }
  out.setBytes(raw);
  return true;
}

store::StoreResult registerEntry(const QString& name, const QString& address) {
  store::AddressRecord r;
  r.setName(name);
  r.setAddress(address);
  r.markWritten();
  return store::appendRecord(addressFile(), L, r.bytes(), true);
}

store::StoreResult deleteEntry(int n) {
  return store::deleteRecords(addressFile(), addressTemp(), L, store::AddressRecord::kFlagOffset, {n});
}

store::StoreResult compact() {
  return store::rewriteThroughTemporary(addressFile(), addressTemp(), L, store::AddressRecord::kFlagOffset);
}

QString namedAddress(const QString& card, const QString& address) {
  return card + u'<' + text::trimSpaces(address) + u'>';
}

QString bareAddress(const QString& field) {
  const qsizetype open = field.lastIndexOf(u'<');
  const qsizetype close = open >= 0 ? field.indexOf(u'>', open) : -1;
  return (close > open ? field.mid(open + 1, close - open - 1) : field).trimmed();
}

QString shownText(const QString& field) { return text::trimSpaces(text::CutAtNul(field)); }

QList<vcard::Card> exportCards(const Listing& book) {
  QList<vcard::Card> cards;
  cards.reserve(book.rows);
  for (int row = 0; row < book.rows; ++row) {
    const store::AddressRecord r = book.entry(row);
    vcard::Card c;
    c.name = shownText(r.name());
    const QString address = shownText(r.address());
    c.email = bareAddress(address);
    if (address != c.email) c.bookAddress = address;
    cards << c;
  }
  return cards;
}

ImportReport importCards(const QList<vcard::Card>& cards) {
  ImportReport rep;
  rep.cards = int(cards.size());
  const Listing book = readAll();
  if (!book.opened || book.failure) {
    rep.failure = book.failure;
    return rep;
  }
  QSet<QString> registered;
  for (int row = 0; row < book.rows; ++row) registered.insert(mailboxKey(shownText(book.entry(row).address())));

  store::RecordFile f(addressFile(), L);
  if (!f.open()) {
    rep.failure = f.failure();
    return rep;
  }
  int next = f.nextRecordNumber();
  for (const vcard::Card& card : cards) {
    const QString email = oneLine(card.email);
    if (email.isEmpty()) {
      ++rep.withoutAddress;
      continue;
    }
    // The named address this program wrote, unless the card's address has
    // since been changed elsewhere.
    const QString named = oneLine(card.bookAddress);
    const QString address = !named.isEmpty() && mailboxKey(named) == mailboxKey(email) ? named : email;
    const QString key = mailboxKey(address);
    if (registered.contains(key)) {
      ++rep.skipped;
      continue;
    }
    if (next > store::kMaxRecords) {
      ++rep.bookFull;
      continue;
    }
    const QString name = oneLine(card.name);
    store::AddressRecord r;
    r.setName(name);
    r.setAddress(address);
    r.markWritten();
    if (!f.write(next, r.bytes())) {
      rep.failure = f.failure();
      return rep;
    }
    ++next;
    ++rep.added;
    if (!fitsField(name, store::AddressRecord::kName.width) || !fitsField(address, store::AddressRecord::kAddress.width))
      ++rep.cut;
    registered.insert(key);
  }
  if (rep.added > 0 && !f.sync()) {
    rep.failure = f.failure();
    return rep;
  }
  rep.ok = true;
  return rep;
}

}  // namespace addressbook
