#include "ReceiveJournal.h"

#include "DataFiles.h"
#include "platform/Durable.h"
#include "platform/Paths.h"
#include "platform/TestHooks.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QUrl>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace received {
namespace {

QByteArray encodePath(const QString& path) {
  return QUrl::toPercentEncoding(QDir(paths::programFolder()).relativeFilePath(path), "/");
}

// A path of the journal back below the program folder; null for anything
// that would lead out of it.
QString decodePath(const QByteArray& field) {
  const QString rel = QUrl::fromPercentEncoding(field);
  if (rel.isEmpty() || QDir::isAbsolutePath(rel)) return QString();
  for (const QString& part : rel.split(u'/'))
    if (part == u".." || part.isEmpty()) return QString();
  return QDir(paths::programFolder()).filePath(rel);
}

QByteArray entryLine(const JournalEntry& e) {
  return "entry " + QUrl::toPercentEncoding(e.account) + ' ' + (e.id.uid.isEmpty() ? QByteArray("-") : e.id.uid) +
         ' ' + e.id.digest + '\n';
}

QByteArray sumOf(const QByteArray& entryLines, const QByteArray& lengths) {
  return QCryptographicHash::hash(entryLines + lengths, QCryptographicHash::Sha256).toHex().left(16);
}

bool writeAll(int fd, const QByteArray& bytes) {
  const char* p = bytes.constData();
  qsizetype left = bytes.size();
  while (left > 0) {
    const ssize_t w = ::write(fd, p, size_t(left));
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    left -= w;
  }
  return true;
}

Fault journalError(const QString& path) { return {Code::JournalUnwritable, path, durable::lastErrorText()}; }

}  // namespace

QString receiveJournalPath() { return paths::resolve(QStringLiteral("★MAilData/receive-journal.txt")); }

ReceiveJournal::ReceiveJournal(QString path) : path_(std::move(path)) {}
ReceiveJournal::~ReceiveJournal() = default;

bool ReceiveJournal::write(const QByteArray& bytes, bool sync, Fault* fault) {
  if (!fd_) return false;
  const bool ok = writeAll(fd_.get(), bytes) && (!sync || ::fdatasync(fd_.get()) == 0);
  if (!ok) {
    if (fault) *fault = journalError(path_);
    // A line half written is cut off again; should that fail too, a torn
    // commit still fails its sum at recovery.
    const bool cut = ::ftruncate(fd_.get(), length_) == 0;
    Q_UNUSED(cut);
    return false;
  }
  length_ += bytes.size();
#ifdef TOMOSHIBI_TEST_HOOKS
  if (testhooks::afterJournalWrite) testhooks::afterJournalWrite();
#endif
  TOMOSHIBI_KILL_POINT("journal");
  return true;
}

bool ReceiveJournal::begin(const QList<Appended>& files, Fault* fault) {
  const QByteArray p = QFile::encodeName(path_);
  const bool existed = QFileInfo::exists(path_);
  fd_.reset(::open(p.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  if (!fd_) {
    if (fault) *fault = journalError(path_);
    return false;
  }
  length_ = 0;
  QByteArray head = "begin\n";
  for (const Appended& a : files)
    head += "append " + files::identityOf(a.fd) + ' ' + QByteArray::number(a.length) + ' ' + encodePath(a.path) + '\n';
  if (!write(head, true, fault)) {
    fd_.reset();
    return false;
  }
  // A journal the folder does not list after a power cut would be no journal.
  if (!existed && !durable::syncFolder(QFileInfo(path_).absolutePath())) {
    if (fault) *fault = journalError(path_);
    fd_.reset();
    return false;
  }
  return true;
}

bool ReceiveJournal::announce(const QString& path, Fault* fault) {
  return write("new " + encodePath(path) + '\n', false, fault);
}

bool ReceiveJournal::commit(const QList<qint64>& lengths, const QList<JournalEntry>& entries, Fault* fault) {
  QByteArray lines;
  for (const JournalEntry& e : entries) lines += entryLine(e);
  QByteArray lens;
  for (qint64 l : lengths) lens += (lens.isEmpty() ? "" : ",") + QByteArray::number(l);
  return write(lines + "commit " + lens + ' ' + QByteArray::number(entries.size()) + ' ' + sumOf(lines, lens) + '\n',
               true, fault);
}

bool ReceiveJournal::clear(Fault* fault) {
  if (!fd_) {
    // Nothing begun by this check: whatever recovery found is settled.
    handles::Fd fd(::open(QFile::encodeName(path_).constData(), O_WRONLY | O_CLOEXEC));
    if (!fd) return errno == ENOENT;
    fd_ = std::move(fd);
  }
  // Not flushed: a journal that comes back after a power cut holds only
  // committed batches whose length the file has, and their entries, which
  // the ID list forgets again once the server no longer lists them.
  if (::ftruncate(fd_.get(), 0) != 0) {
    if (fault) *fault = journalError(path_);
    return false;
  }
  length_ = 0;
  fd_.reset();
  return true;
}

ReceiveJournal::Recovery ReceiveJournal::recover(const QString& path) {
  Recovery r;
  QFile f(path);
  if (!f.exists()) return r;
  if (!f.open(QIODevice::ReadOnly)) {
    r.fault = {Code::JournalUnreadable, path, f.errorString()};
    return r;
  }
  const QByteArray all = f.readAll();
  f.close();
  if (all.isEmpty()) return r;
  r.found = true;

  struct File {
    QString path;
    QByteArray identity;
    qint64 committed;
  };
  QList<File> files;
  QStringList created;       // by the batch not committed yet
  QList<JournalEntry> batch;  // entries of that batch
  QByteArray batchLines;
  // Only whole lines count: a torn last line is no line.
  const QList<QByteArray> lines = all.left(all.lastIndexOf('\n') + 1).split('\n');
  for (const QByteArray& line : lines) {
    const QList<QByteArray> w = line.split(' ');
    const QByteArray& kind = w[0];
    if (kind == "begin") {
      files.clear();
      created.clear();
      batch.clear();
      batchLines.clear();
    } else if (kind == "append" && w.size() == 4) {
      bool ok = false;
      const qint64 len = w[2].toLongLong(&ok);
      const QString p = decodePath(w[3]);
      if (!ok || p.isNull()) break;
      files.append({p, w[1], len});
    } else if (kind == "new" && w.size() == 2) {
      const QString p = decodePath(w[1]);
      if (p.isNull()) break;
      created.append(p);
    } else if (kind == "entry" && w.size() == 4) {
      JournalEntry e{QUrl::fromPercentEncoding(w[1]), {w[2] == "-" ? QByteArray() : w[2], w[3]}};
      batch.append(e);
      batchLines += line + '\n';
    } else if (kind == "commit" && w.size() == 4) {
      const QList<QByteArray> lens = w[1].split(',');
      bool counted = false;
      const int count = w[2].toInt(&counted);
      bool ok = counted && count == batch.size() && lens.size() == files.size() && sumOf(batchLines, w[1]) == w[3];
      QList<qint64> values;
      for (const QByteArray& l : lens) {
        bool n = false;
        values.append(l.toLongLong(&n));
        ok = ok && n;
      }
      if (!ok) break;  // a commit that did not fully reach the disk
      for (qsizetype i = 0; i < files.size(); ++i) files[i].committed = values[i];
      r.committed += batch;
      batch.clear();
      batchLines.clear();
      created.clear();
    } else if (!line.isEmpty()) {
      break;
    }
  }

  for (const File& file : files) {
    // A file replaced since (its inode differs) is not the one the journal
    // speaks of: it is left alone.
    if (files::identityOf(file.path) != file.identity) continue;
    const QByteArray p = QFile::encodeName(file.path);
    handles::Fd fd(::open(p.constData(), O_WRONLY | O_CLOEXEC));
    struct stat st;
    if (!fd || ::fstat(fd.get(), &st) != 0) {
      r.fault = {Code::Unopenable, file.path, durable::lastErrorText()};
      continue;
    }
    if (st.st_size <= file.committed) continue;
    if (::ftruncate(fd.get(), file.committed) != 0 || ::fsync(fd.get()) != 0) {
      r.fault = {Code::CutBackFailed, file.path, durable::lastErrorText()};
      continue;
    }
    r.bytesCut += st.st_size - file.committed;
  }
  QStringList folders;
  for (const QString& c : created) {
    if (QFile::remove(c)) {
      ++r.filesRemoved;
      if (!folders.contains(QFileInfo(c).absolutePath())) folders.append(QFileInfo(c).absolutePath());
    }
  }
  for (const QString& folder : folders) durable::syncFolder(folder);
  return r;
}

}  // namespace received
