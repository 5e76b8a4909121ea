// The delete journal as a crash or a folder copied from another machine
// leaves it, finished or undone at the next start. The data folder holds
// the received-mail file and the originals with their drafts; beside the
// program folder lies a file of someone else's. In the input, @ARCHIVE@ and
// @OUTSIDE@ stand for the archive's and that file's DEV:INODE, and @SUM@ in
// the commit line for the sum that makes it valid.
//
// Checks: nothing outside the data folder changes; the archive only loses
// bytes (cut off, or made zeros where punched), never gains any; the
// journal is gone afterwards, and a second recovery changes nothing.
#include "FuzzCheck.h"
#include "platform/Paths.h"
#include "store/received/Fault.h"
#include "store/received/ReceivedDelete.h"

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

// A commit's sum in place of @SUM@ (the fuzzer cannot compute SHA-256).
QByteArray withSums(const QByteArray& journal) {
  QByteArray out, lines;
  for (const QByteArray& line : journal.split('\n')) {
    QByteArray l = line;
    const QList<QByteArray> w = line.split(' ');
    if (w[0] == "delete") lines.clear();
    if (w[0] == "commit" && w.size() == 3 && w[2] == "@SUM@")
      l = "commit " + w[1] + ' ' + QCryptographicHash::hash(lines, QCryptographicHash::Sha256).toHex().left(16);
    else
      lines += line + '\n';
    out += l + '\n';
  }
  out.chop(1);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QString root = scratchFolder(QStringLiteral("delete"));
  const QString home = root + QStringLiteral("/home");
  const QString folder = home + QStringLiteral("/★MAilData");
  emptyFolder(root);
  QDir().mkpath(folder);
  QDir().mkpath(root + QStringLiteral("/outside"));
  paths::setProgramFolder(home);
  const QString archive = folder + QStringLiteral("/received-originals.data");
  const QString victim = root + QStringLiteral("/outside/victim.data");
  const QByteArray archiveBytes = pattern(1000, 'A');
  writeFile(archive, archiveBytes);
  writeFile(folder + QStringLiteral("/plkdata2.data"), pattern(300, 'a'));
  writeFile(folder + QStringLiteral("/PLKDATA2.TMP"), pattern(200, 'b'));
  writeFile(folder + QStringLiteral("/received-originals.txt"), "1 0 10 0123456789abcdef 0 -\n");
  writeFile(folder + QStringLiteral("/received-originals.tmp"), "1 10 10 0123456789abcdef 0 -\n");
  writeFile(victim, pattern(1000, '0'));
  writeFile(home + QStringLiteral("/pelkit.ini"), "SMTP=x\r\n");

  QByteArray journal(reinterpret_cast<const char*>(data), qsizetype(size));
  journal.replace("@ARCHIVE@", identity(archive));
  journal.replace("@OUTSIDE@", identity(victim));
  journal = withSums(journal);
  writeFile(folder + QStringLiteral("/delete-journal.txt"), journal);

  const QMap<QString, QByteArray> before = snapshot(root);
  received::Fault fault;
  const bool ok = received::recoverInterruptedDelete(&fault);
  FUZZ_CHECK(ok, QStringLiteral("recovery failed: %1 %2").arg(fault.path, fault.detail));
  const QMap<QString, QByteArray> after = snapshot(root);
  const QString dataFolder = QStringLiteral("home/★MAilData/");
  for (auto it = after.cbegin(); it != after.cend(); ++it)
    if (!it.key().startsWith(dataFolder))
      FUZZ_CHECK(before.contains(it.key()) && before.value(it.key()) == it.value(),
                 QStringLiteral("recovery touched %1").arg(it.key()));
  for (auto it = before.cbegin(); it != before.cend(); ++it)
    if (!it.key().startsWith(dataFolder)) FUZZ_CHECK(after.contains(it.key()), QStringLiteral("recovery removed %1").arg(it.key()));
  const QByteArray now = readFile(archive);
  FUZZ_CHECK(now.size() <= archiveBytes.size(), QStringLiteral("the archive grew to %1 bytes").arg(now.size()));
  for (qsizetype i = 0; i < now.size(); ++i)
    FUZZ_CHECK(now[i] == archiveBytes[i] || now[i] == '\0', QStringLiteral("the archive got other bytes at %1").arg(i));
  FUZZ_CHECK(!QFileInfo::exists(folder + QStringLiteral("/delete-journal.txt")), QStringLiteral("the journal stayed"));
  FUZZ_CHECK(!received::deleteDecided(), QStringLiteral("a delete still decided"));

  FUZZ_CHECK(received::recoverInterruptedDelete(&fault), QStringLiteral("a second recovery failed"));
  FUZZ_CHECK(snapshot(root) == after, QStringLiteral("a second recovery changed files"));
  return 0;
}
