// The index of the sent mail (sent-originals.txt), as a crash, a hand edit
// or a folder copied from another machine leaves it beside three kept mails,
// read as the sent-mail window reads it; then one more mail is sent.
//
// Checks: a kept mail handed out is bytes of the archive, never past its
// end; the sent-mail records are never changed by reading; whatever the
// index held, the mail sent after it is kept whole and read back as sent;
// nothing outside the data folder is written.
#include "FuzzCheck.h"
#include "platform/Paths.h"
#include "store/Records.h"
#include "store/sent/SentStore.h"

#include <QDir>

using namespace fuzzcheck;

namespace {

QByteArray message(int n) {
  return QByteArrayLiteral("From: me@example.jp\r\nTo: you@example.jp\r\nSubject: sent ") + QByteArray::number(n) +
         QByteArrayLiteral("\r\nDate: Tue, 8 Dec 2026 10:00:00 +0900\r\n\r\nbody ") + QByteArray::number(n) +
         QByteArrayLiteral("\r\n");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray index = bytesOf(data, size);
  for (const received::OriginalEntry& e : sent::parseSentIndex(index))
    FUZZ_CHECK(e.record >= 0 && e.offset >= 0 && e.length >= 0, QStringLiteral("negative numbers read"));

  const QString root = scratchFolder(QStringLiteral("sent"));
  emptyFolder(root);
  const QString home = root + QStringLiteral("/home");
  QDir().mkpath(home + u'/' + paths::kDataFolder);
  writeFile(root + QStringLiteral("/outside.txt"), "not the program's");
  paths::setProgramFolder(home);

  // Three mails kept, then the index replaced by the input.
  QByteArray archive, records;
  for (int n = 1; n <= 3; ++n) {
    const QByteArray m = message(n);
    archive += m;
    records += sent::sentRecord(m, QStringLiteral("you@example.jp"), QStringLiteral("sent %1").arg(n),
                                QStringLiteral("body %1").arg(n))
                   .bytes();
  }
  const received::MailFiles files = sent::sentFiles();
  writeFile(files.records, records);
  writeFile(files.originals, archive);
  writeFile(files.index, index);

  for (int n = 1; n <= 3; ++n) {
    const received::Original o = sent::original(n);
    if (o.bytes.isNull()) continue;
    FUZZ_CHECK(archive.contains(o.bytes) && o.bytes.size() <= archive.size(),
               QStringLiteral("bytes handed out for mail %1 that are not the archive's").arg(n));
  }
  FUZZ_CHECK(readFile(files.records) == records, QStringLiteral("reading changed the sent records"));

  const QByteArray fourth = message(4);
  const received::Fault f =
      sent::keep(fourth, sent::sentRecord(fourth, QStringLiteral("you@example.jp"), QStringLiteral("sent 4"),
                                          QStringLiteral("body 4")));
  if (!f) {
    const received::Original o = sent::original(4);
    FUZZ_CHECK(o.bytes == fourth, QStringLiteral("the mail sent after a damaged index is not read back: %1")
                                      .arg(o.fault.detail));
    FUZZ_CHECK(readFile(files.records).startsWith(records), QStringLiteral("keeping a mail changed the records before"));
  }
  const QMap<QString, QByteArray> all = snapshot(root);
  for (auto it = all.begin(); it != all.end(); ++it)
    FUZZ_CHECK(it.key() == u"outside.txt" || it.key().startsWith(QStringLiteral("home/")),
               QStringLiteral("written outside the program folder: ") + it.key());
  FUZZ_CHECK(all.value(QStringLiteral("outside.txt")) == "not the program's", QStringLiteral("a file beside it changed"));
  return 0;
}
