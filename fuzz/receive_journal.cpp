// The receive journal as a crash, a torn write or a folder copied from
// another machine leaves it, recovered at the start of the next check. The
// program folder holds the received-mail file, the originals' archive and
// two attached files; beside it lies a file of someone else's. In the
// input, @DATA@, @ORIGINALS@ and @OUTSIDE@ stand for those files' DEV:INODE,
// which the journal names them by, and @SUM@ in a commit line for the sum
// that makes it valid.
//
// Checks: nothing outside the program folder is touched; inside, files are
// only cut back (never grown or written) or removed, and nothing is
// created; a second recovery finds nothing left to do and hands back the
// same committed mails.
#include "FuzzCheck.h"
#include "platform/Paths.h"
#include "store/received/ReceiveJournal.h"

#include <QCryptographicHash>
#include <QDir>
#include <sys/stat.h>

using namespace fuzzcheck;

namespace {

QByteArray identity(const QString& path) {
  struct stat st;
  if (::stat(QFile::encodeName(path).constData(), &st) != 0) return "0:0";
  return QByteArray::number(qulonglong(st.st_dev)) + ':' + QByteArray::number(qulonglong(st.st_ino));
}

QByteArray pattern(int size, char first) {
  QByteArray b(size, '\0');
  for (int i = 0; i < size; ++i) b[i] = char(first + i % 26);
  return b;
}

// A commit's sum in place of @SUM@: the fuzzer cannot compute SHA-256, so
// without this it would never get past a commit's check.
QByteArray withSums(const QByteArray& journal) {
  QByteArray out, entries;
  for (const QByteArray& line : journal.split('\n')) {
    QByteArray l = line;
    const QList<QByteArray> w = line.split(' ');
    if (w[0] == "begin") entries.clear();
    if (w[0] == "entry") entries += line + '\n';
    if (w[0] == "commit" && w.size() == 4 && w[3] == "@SUM@") {
      l = "commit " + w[1] + ' ' + w[2] + ' ' +
          QCryptographicHash::hash(entries + w[1], QCryptographicHash::Sha256).toHex().left(16);
      entries.clear();
    }
    out += l + '\n';
  }
  out.chop(1);
  return out;
}

bool sameEntries(const QList<received::JournalEntry>& a, const QList<received::JournalEntry>& b) {
  if (a.size() != b.size()) return false;
  for (qsizetype i = 0; i < a.size(); ++i)
    if (a[i].account != b[i].account || !(a[i].id == b[i].id)) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QString root = scratchFolder(QStringLiteral("journal"));
  const QString home = root + QStringLiteral("/home");
  emptyFolder(root);
  QDir().mkpath(home + QStringLiteral("/★MAilData"));
  QDir().mkpath(home + QStringLiteral("/添付フォルダ"));
  QDir().mkpath(root + QStringLiteral("/outside"));
  paths::setProgramFolder(home);
  const QString records = home + QStringLiteral("/★MAilData/plkdata2.data");
  const QString originals = home + QStringLiteral("/★MAilData/received-originals.data");
  const QString victim = root + QStringLiteral("/outside/victim.data");
  writeFile(records, pattern(1000, 'a'));
  writeFile(originals, pattern(1000, 'A'));
  writeFile(home + QStringLiteral("/添付フォルダ/a.pdf"), "%PDF");
  writeFile(home + QStringLiteral("/添付フォルダ/b.txt"), "text");
  writeFile(victim, pattern(1000, '0'));

  QByteArray journal(reinterpret_cast<const char*>(data), qsizetype(size));
  journal.replace("@DATA@", identity(records));
  journal.replace("@ORIGINALS@", identity(originals));
  journal.replace("@OUTSIDE@", identity(victim));
  journal = withSums(journal);
  const QString path = home + QStringLiteral("/★MAilData/receive-journal.txt");
  writeFile(path, journal);

  const QMap<QString, QByteArray> before = snapshot(root);
  const received::ReceiveJournal::Recovery first = received::ReceiveJournal::recover(path);
  const QMap<QString, QByteArray> after = snapshot(root);
  for (auto it = after.cbegin(); it != after.cend(); ++it) {
    FUZZ_CHECK(before.contains(it.key()), QStringLiteral("recovery created %1").arg(it.key()));
    FUZZ_CHECK(before.value(it.key()).startsWith(it.value()),
               QStringLiteral("recovery wrote into %1 (not only cut it back)").arg(it.key()));
  }
  for (auto it = before.cbegin(); it != before.cend(); ++it)
    if (!it.key().startsWith(QStringLiteral("home/")))
      FUZZ_CHECK(after.value(it.key()) == it.value() && after.contains(it.key()),
                 QStringLiteral("recovery touched %1 outside the program folder").arg(it.key()));
  for (const received::JournalEntry& e : first.committed) checkText(e.account, "account");

  const received::ReceiveJournal::Recovery second = received::ReceiveJournal::recover(path);
  FUZZ_CHECK(second.bytesCut == 0 && second.filesRemoved == 0, QStringLiteral("a second recovery found more to do"));
  FUZZ_CHECK(sameEntries(first.committed, second.committed), QStringLiteral("a second recovery committed other mails"));
  FUZZ_CHECK(snapshot(root) == after, QStringLiteral("a second recovery changed files"));
  return 0;
}
