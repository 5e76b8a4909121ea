// The record files of a program folder copied from another machine: the
// received-mail, held-mail and address book files, as the windows read
// them, and the rewrite that drops deleted records. The input is the file;
// for the mail records it is also the start of one record (a whole record
// is 32284 bytes), the rest padded as a fresh record is.
//
// Checks: a field read and written again is the same bytes, and a second
// time the same again; texts have whole surrogate pairs; a held mail
// picked and held again comes back as it was, whatever CP932 cannot keep
// aside; the book exported as vCards reads back as the same cards; the
// rewrite keeps exactly the live records, in order; nothing is written
// outside the data folder but its own temporary file.
#include "FuzzCheck.h"
#include "addressbook/book/AddressBook.h"
#include "composer/model/HeldMail.h"
#include "platform/Paths.h"
#include "platform/Text.h"
#include "store/RecordFile.h"
#include "store/Records.h"
#include "viewer/core/MailText.h"

#include <QDir>

using namespace fuzzcheck;

namespace {

template <int L>
void checkFields(const store::FixedRecord<L>& record, std::initializer_list<store::Field> fields) {
  for (const store::Field f : fields) {
    const QString read = record.text(f);
    checkText(read, "a field");
    const QByteArray once = text::fixedField(read, f.width);
    FUZZ_CHECK(once.size() == f.width, QStringLiteral("a field of another width"));
    const QByteArray twice = text::fixedField(text::fromCp932(once), f.width);
    FUZZ_CHECK(once == twice, QStringLiteral("a field changes each time it is written again"));
  }
}

void checkMailRecord(const store::MailRecord& record) {
  using R = store::MailRecord;
  checkFields(record, {R::kSubject, R::kDate, R::kFrom, R::kBody});
  const QString subject = text::trimSpaces(text::CutAtNul(record.subject()));
  const QString name = viewer::quickSaveFileName(subject);
  FUZZ_CHECK(!name.contains(u'/') && name != u"." && name != u".." && name.toUtf8().size() <= 255,
             QStringLiteral("quick-save name is no single file name: %1").arg(name));

  // Picked as a held mail and held again: the same three boxes.
  const heldmail::Mail picked = heldmail::fromRecord(record);
  heldmail::fillBuffer(picked);
  const heldmail::Mail again = heldmail::fromRecord(store::HeldMailBuffer());
  if (heldmail::losses(picked).isEmpty()) {
    FUZZ_CHECK(again.to == throughCp932(picked.to), QStringLiteral("held recipient changed"));
    FUZZ_CHECK(again.subject == throughCp932(picked.subject), QStringLiteral("held subject changed"));
    QString body = picked.body;
    body.replace(u'\r', u'\n');  // a body box has LF line breaks only
    FUZZ_CHECK(again.body == throughCp932(body), QStringLiteral("held body changed"));
  }
  heldmail::fillBuffer(again);
  const heldmail::Mail third = heldmail::fromRecord(store::HeldMailBuffer());
  FUZZ_CHECK(third.to == again.to && third.subject == again.subject && third.body == again.body,
             QStringLiteral("a held mail changes each time it is held again"));
}

// The live records of a file's bytes, as the rewrite keeps them.
QByteArray liveRecords(const QByteArray& file, int length, int flagOffset) {
  QByteArray out;
  const qsizetype count = std::min<qsizetype>(file.size() / length, store::kMaxRecords);
  for (qsizetype i = 0; i < count; ++i) {
    const QByteArray r = file.mid(i * length, length);
    if (r[flagOffset] != 0 || r[flagOffset + 1] != 0) out += r;
  }
  return out;
}

void checkRewrite(const QString& path, const QString& temp, const QByteArray& bytes, int length, int flagOffset) {
  writeFile(path, bytes);
  const store::StoreResult r = store::rewriteThroughTemporary(path, temp, length, flagOffset);
  FUZZ_CHECK(r.ok, QStringLiteral("the rewrite failed"));
  const QByteArray expected = liveRecords(bytes, length, flagOffset);
  FUZZ_CHECK(readFile(path) == expected, QStringLiteral("the rewrite kept other records than the live ones"));
  FUZZ_CHECK(r.survivors * length == expected.size(), QStringLiteral("survivors miscounted"));
  FUZZ_CHECK(!QFileInfo::exists(temp), QStringLiteral("the temporary file stayed"));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QString root = scratchFolder(QStringLiteral("records"));
  const QString home = root + QStringLiteral("/home");
  emptyFolder(home);
  QDir().mkpath(home + u'/' + paths::kDataFolder);
  paths::setProgramFolder(home);
  const QByteArray bytes = bytesOf(data, size);
  constexpr int M = store::MailRecord::kLength;
  constexpr int A = store::AddressRecord::kLength;

  // The input as the received-mail and held-mail files.
  {
    writeFile(paths::resolve(paths::kReceivedMailFile), bytes);
    store::RecordFile f(paths::resolve(paths::kReceivedMailFile), M);
    FUZZ_CHECK(f.open(), QStringLiteral("open"));
    FUZZ_CHECK(f.recordCount() == int(bytes.size() / M), QStringLiteral("record count"));
    QByteArray raw;
    for (int n = 1; n <= f.recordCount(); ++n) {
      FUZZ_CHECK(f.read(n, raw) == store::ReadResult::Ok && raw == bytes.mid(qsizetype(n - 1) * M, M),
                 QStringLiteral("record %1 read otherwise").arg(n));
      checkMailRecord(store::MailRecord(raw));
    }
    FUZZ_CHECK(f.read(f.recordCount() + 1, raw) == store::ReadResult::EndOfFile, QStringLiteral("read past the end"));
  }
  writeFile(paths::resolve(paths::kHeldMailFile), bytes);
  const heldmail::Listing held = heldmail::list();
  FUZZ_CHECK(held.opened && held.subjects.size() == bytes.size() / M, QStringLiteral("held mail listing"));
  for (const QString& s : held.subjects) checkText(s, "held subject");

  // The input as the start of one mail record.
  QByteArray one = bytes.left(M);
  if (one.size() < M) one.append(M - one.size(), '\0');
  checkMailRecord(store::MailRecord(one));

  // The input as the address book.
  writeFile(addressbook::addressFile(), bytes);
  const addressbook::Listing book = addressbook::readAll();
  FUZZ_CHECK(book.opened && book.rows == bytes.size() / A, QStringLiteral("address book listing"));
  for (int row = 0; row < book.rows; ++row) {
    const store::AddressRecord r = book.entry(row);
    checkFields(r, {store::AddressRecord::kName, store::AddressRecord::kAddress});
  }
  const QList<vcard::Card> cards = addressbook::exportCards(book);
  const QList<vcard::Card> back = vcard::parse(vcard::write(cards));
  FUZZ_CHECK(back.size() == cards.size(), QStringLiteral("exported cards lost"));
  // A carriage return inside a value is left out, and blanks at the ends go.
  auto written = [](QString s) {
    s.remove(u'\r');
    return s.trimmed();
  };
  for (qsizetype i = 0; i < cards.size(); ++i) {
    const vcard::Card expected{written(cards[i].name), written(cards[i].email), written(cards[i].bookAddress)};
    FUZZ_CHECK(back[i] == expected, QStringLiteral("card %1 comes back otherwise: [%2|%3|%4] as [%5|%6|%7]")
                                        .arg(i)
                                        .arg(expected.name, expected.email, expected.bookAddress, back[i].name,
                                             back[i].email, back[i].bookAddress));
  }

  // The rewrite of each file.
  checkRewrite(paths::resolve(paths::kReceivedMailFile), paths::resolve(paths::kReceivedMailTemp), bytes, M,
               store::MailRecord::kFlagOffset);
  checkRewrite(addressbook::addressFile(), addressbook::addressTemp(), bytes, A, store::AddressRecord::kFlagOffset);

  // Only the data folder's own files.
  const QMap<QString, QByteArray> all = snapshot(root);
  for (auto it = all.cbegin(); it != all.cend(); ++it)
    FUZZ_CHECK(it.key() == u"home/" || it.key().startsWith(QStringLiteral("home/") + paths::kDataFolder),
               QStringLiteral("written outside the data folder: %1").arg(it.key()));
  return 0;
}
