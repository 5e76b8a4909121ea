#include "Originals.h"

#include "platform/Durable.h"
#include "platform/Paths.h"
#include "store/Records.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace reception {
namespace {

const QString kArchiveFile = QStringLiteral("★MAilData/received-originals.data");
const QString kIndexFile = QStringLiteral("★MAilData/received-originals.txt");
const QString kIndexTemp = QStringLiteral("★MAilData/received-originals.tmp");
const QString kDeleteJournal = QStringLiteral("★MAilData/delete-journal.txt");

constexpr int kLength = store::MailRecord::kLength;
constexpr int kHeaderFields = store::MailRecord::kBody.offset;

QByteArray encoded(const QString& path) { return QFile::encodeName(path); }

bool writeAllAt(int fd, const char* p, qint64 len, qint64 at) {
  while (len > 0) {
    const ssize_t w = ::pwrite(fd, p, size_t(len), at);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    len -= w;
    at += w;
  }
  return true;
}

bool readAllAt(int fd, char* p, qint64 len, qint64 at) {
  while (len > 0) {
    const ssize_t r = ::pread(fd, p, size_t(len), at);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    p += r;
    len -= r;
    at += r;
  }
  return true;
}

qint64 sizeOf(int fd) {
  struct stat st;
  return ::fstat(fd, &st) == 0 ? qint64(st.st_size) : -1;
}

QByteArray identityOf(int fd) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return {};
  return QByteArray::number(qulonglong(st.st_dev)) + ':' + QByteArray::number(qulonglong(st.st_ino));
}

QByteArray readWhole(const QString& path, bool* exists, QString* error) {
  QFile f(path);
  *exists = f.exists();
  if (!*exists) return {};
  if (!f.open(QIODevice::ReadOnly)) {
    if (error) *error = QStringLiteral("「%1」を読めません（%2）。").arg(QDir::toNativeSeparators(path), f.errorString());
    *exists = false;
    return {};
  }
  return f.readAll();
}

// Opens (creating) a file of the data folder for appending at its end.
handles::Fd openForAppend(const QString& path, bool* created) {
  const QByteArray p = encoded(path);
  handles::Fd fd(::open(p.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  *created = fd.valid();
  if (!fd && errno == EEXIST) fd.reset(::open(p.constData(), O_RDWR | O_CLOEXEC));
  return fd;
}

// The bytes of [offset, offset + length) of the archive gone: the space
// given back where the file system can, zeros written where it cannot.
bool removeRange(int fd, qint64 offset, qint64 length) {
  if (length <= 0) return true;
  if (::fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, offset, length) == 0) return true;
  if (errno != EOPNOTSUPP && errno != ENOSYS) return false;
  const QByteArray zeros(qsizetype(std::min<qint64>(length, 1 << 20)), '\0');
  for (qint64 done = 0; done < length;) {
    const qint64 n = std::min<qint64>(length - done, zeros.size());
    if (!writeAllAt(fd, zeros.constData(), n, offset + done)) return false;
    done += n;
  }
  return true;
}

// True when [from, to) of the file holds nothing outside `dead` (offset
// and length, sorted by offset) but what earlier deletes removed (holes, or
// zeros where the file system keeps partial blocks): the tail can be cut
// without losing anything kept.
bool onlyDeadOrRemoved(int fd, qint64 from, qint64 to, const QList<std::pair<qint64, qint64>>& dead) {
  auto removed = [&](qint64 at, qint64 end) {
    QByteArray buf;
    while (at < end) {
      const off_t data = ::lseek(fd, at, SEEK_DATA);
      if (data < 0) return errno == ENXIO;
      if (data >= end) return true;
      at = data;
      const qint64 n = std::min<qint64>(end - at, 1 << 20);
      buf.resize(qsizetype(n));
      if (!readAllAt(fd, buf.data(), n, at)) return false;
      if (std::any_of(buf.cbegin(), buf.cend(), [](char c) { return c != 0; })) return false;
      at += n;
    }
    return true;
  };
  qint64 at = from;
  for (const auto& [start, length] : dead) {
    const qint64 end = start + length;
    if (end <= at) continue;
    if (start >= to) break;
    if (!removed(at, std::min(start, to))) return false;
    at = std::max(at, end);
    if (at >= to) return true;
  }
  return removed(at, to);
}

// True when [offset, offset + length) reaches past a file of `size` bytes.
bool pastEnd(qint64 offset, qint64 length, qint64 size) { return size < 0 || length > size || offset > size - length; }

QByteArray sumOf(const QByteArray& lines) {
  return QCryptographicHash::hash(lines, QCryptographicHash::Sha256).toHex().left(16);
}

QString dataFolder() { return QFileInfo(paths::resolve(kIndexFile)).absolutePath(); }

void step(int n) {
  if (g_deleteStepHook) g_deleteStepHook(n);
}

// A delete's decision, as its journal holds it.
struct DeletePlan {
  QByteArray archiveIdentity;
  QList<std::pair<qint64, qint64>> punch;  // offset, length
  qint64 cut = -1;                         // the archive's new length; -1: not cut
};

QByteArray planText(const DeletePlan& plan) {
  QByteArray lines = "delete\n";
  for (const auto& [o, l] : plan.punch)
    lines += "punch " + plan.archiveIdentity + ' ' + QByteArray::number(o) + ' ' + QByteArray::number(l) + '\n';
  if (plan.cut >= 0) lines += "cut " + plan.archiveIdentity + ' ' + QByteArray::number(plan.cut) + '\n';
  return lines + "commit " + QByteArray::number(plan.punch.size()) + ' ' + sumOf(lines) + '\n';
}

// The plan of a journal that fully reached the disk, else none.
std::optional<DeletePlan> parsePlan(const QByteArray& all) {
  DeletePlan plan;
  QByteArray lines;
  for (const QByteArray& line : all.split('\n')) {
    const QList<QByteArray> w = line.split(' ');
    if (w[0] == "delete" && w.size() == 1) {
      plan = DeletePlan();
      lines = line + '\n';
    } else if (w[0] == "punch" && w.size() == 4) {
      plan.archiveIdentity = w[1];
      plan.punch.append({w[2].toLongLong(), w[3].toLongLong()});
      lines += line + '\n';
    } else if (w[0] == "cut" && w.size() == 3) {
      plan.archiveIdentity = w[1];
      plan.cut = w[2].toLongLong();
      lines += line + '\n';
    } else if (w[0] == "commit" && w.size() == 3) {
      if (w[1].toLongLong() == plan.punch.size() && w[2] == sumOf(lines) && lines.startsWith("delete\n")) return plan;
      return std::nullopt;
    } else if (!line.isEmpty()) {
      return std::nullopt;
    }
  }
  return std::nullopt;
}

// The decided steps, each of which may already have been done.
bool carryOut(const DeletePlan& plan, QString* why) {
  const QString records = paths::resolve(paths::kReceivedMailFile);
  const QString recordsTemp = paths::resolve(paths::kReceivedMailTemp);
  const QString index = paths::resolve(kIndexFile);
  const QString indexTemp = paths::resolve(kIndexTemp);
  auto failed = [&](const QString& what) {
    if (why)
      *why = QStringLiteral("「%1」の削除を最後まで終えられません（%2）。次の受信か削除のときに続きを行います。")
                 .arg(QDir::toNativeSeparators(what), durable::lastErrorText());
    return false;
  };
  if (QFileInfo::exists(recordsTemp)) {
    if (::rename(encoded(recordsTemp).constData(), encoded(records).constData()) != 0) return failed(records);
    durable::syncFolder(dataFolder());
  }
  step(4);
  if (QFileInfo::exists(indexTemp)) {
    if (::rename(encoded(indexTemp).constData(), encoded(index).constData()) != 0) return failed(index);
    durable::syncFolder(dataFolder());
  }
  step(5);
  const QString archive = paths::resolve(kArchiveFile);
  handles::Fd fd(::open(encoded(archive).constData(), O_RDWR | O_CLOEXEC));
  // A file replaced since is not the one the plan speaks of.
  if (fd && identityOf(fd.get()) == plan.archiveIdentity) {
    for (const auto& [o, l] : plan.punch)
      if (!removeRange(fd.get(), o, l)) return failed(archive);
    if (plan.cut >= 0 && sizeOf(fd.get()) > plan.cut && ::ftruncate(fd.get(), plan.cut) != 0) return failed(archive);
    if (!durable::syncFd(fd.get())) return failed(archive);
  }
  step(6);
  return true;
}

// Gone for good, so that a plan is never carried out again after mail was
// appended where it cut.
bool clearJournal(QString* why) {
  const QString path = paths::resolve(kDeleteJournal);
  if (::unlink(encoded(path).constData()) != 0 && errno != ENOENT) {
    if (why)
      *why = QStringLiteral("「%1」を消せません（%2）。").arg(QDir::toNativeSeparators(path), durable::lastErrorText());
    return false;
  }
  durable::syncFolder(dataFolder());
  step(7);
  return true;
}

}  // namespace

QString originalsPath() { return paths::resolve(kArchiveFile); }
QString originalsIndexPath() { return paths::resolve(kIndexFile); }

QByteArray recordFingerprint(const QByteArray& record) {
  return QCryptographicHash::hash(QByteArrayView(record).first(std::min<qsizetype>(record.size(), kHeaderFields)),
                                  QCryptographicHash::Sha256)
      .toHex()
      .left(16);
}

QByteArray originalDigest(const QByteArray& original) {
  return QCryptographicHash::hash(original, QCryptographicHash::Sha256).toHex();
}

QByteArray indexLine(const OriginalEntry& e) {
  QByteArray line = QByteArray::number(e.record) + ' ' + QByteArray::number(e.offset) + ' ' +
                    QByteArray::number(e.length) + ' ' + e.fingerprint + ' ' + QByteArray::number(e.received) + ' ' +
                    (e.uid.isEmpty() ? QByteArray("-") : e.uid.toPercentEncoding());
  if (e.lost)
    line += " lost";
  else if (!e.digest.isEmpty())
    line += ' ' + e.digest;
  return line + '\n';
}

namespace {

bool isDigest(const QByteArray& w) {
  return w.size() == 64 && std::all_of(w.cbegin(), w.cend(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
         });
}

std::optional<OriginalEntry> parseLine(const QByteArray& line) {
  const QList<QByteArray> w = line.split(' ');
  if (w.size() != 6 && w.size() != 7) return std::nullopt;
  OriginalEntry e;
  bool ok[4] = {};
  e.record = w[0].toInt(&ok[0]);
  e.offset = w[1].toLongLong(&ok[1]);
  e.length = w[2].toLongLong(&ok[2]);
  e.fingerprint = w[3];
  e.received = w[4].toLongLong(&ok[3]);
  if (w[5] != "-") e.uid = QByteArray::fromPercentEncoding(w[5]);
  if (!(ok[0] && ok[1] && ok[2] && ok[3]) || e.record < 0 || e.offset < 0 || e.length < 0) return std::nullopt;
  if (w.size() == 7) {
    // A digest cut short is a damaged line, not one without a digest.
    if (w[6] == "lost")
      e.lost = true;
    else if (isDigest(w[6]))
      e.digest = w[6];
    else
      return std::nullopt;
  }
  return e;
}

}  // namespace

QList<OriginalEntry> parseIndex(const QByteArray& text) {
  QList<OriginalEntry> out;
  // A last line without its line break is one a check is still writing.
  QList<QByteArray> lines = text.split('\n');
  lines.removeLast();
  for (const QByteArray& line : std::as_const(lines))
    if (const std::optional<OriginalEntry> e = parseLine(line)) out.append(*e);
  return out;
}

bool OriginalArchive::load(QString* error) {
  entries_.clear();
  // Before the index: every line read then, but for lost ones, has its
  // bytes within this length, or its digest (lines a check adds meanwhile).
  struct stat st;
  lengthAtLoad_ = ::stat(encoded(originalsPath()).constData(), &st) == 0 ? qint64(st.st_size) : -1;
  bool indexExists = false;
  QString why;
  // A delete that decided and renamed the records but not yet the index
  // (the next start finishes it): the renumbered index is the one that
  // fits the records. Nothing is changed here; readers only read.
  QString indexPath = originalsIndexPath();
  bool journal = false;
  const QByteArray plan = readWhole(paths::resolve(kDeleteJournal), &journal, &why);
  why.clear();
  if (journal && parsePlan(plan) && !QFileInfo::exists(paths::resolve(paths::kReceivedMailTemp)) &&
      QFileInfo::exists(paths::resolve(kIndexTemp)))
    indexPath = paths::resolve(kIndexTemp);
  const QByteArray text = readWhole(indexPath, &indexExists, &why);
  if (!why.isEmpty()) {
    if (error) *error = why;
    return false;
  }
  exists_ = indexExists || QFileInfo::exists(originalsPath());
  entries_ = parseIndex(text);
  return true;
}

std::optional<OriginalEntry> OriginalArchive::forRecord(int number, const QByteArray& record) const {
  if (number < 1) return std::nullopt;
  const QByteArray fp = recordFingerprint(record);
  // The latest line wins, should an index hold two for one number.
  for (qsizetype i = entries_.size() - 1; i >= 0; --i)
    if (entries_[i].record == number && entries_[i].fingerprint == fp) return entries_[i];
  return std::nullopt;
}

QByteArray OriginalArchive::read(const OriginalEntry& e, QString* error) const {
  const QString path = originalsPath();
  auto lost = [&] {
    if (error)
      *error = QStringLiteral("このメールの原文は、原文の保存ファイル「%1」から失われています。").arg(QDir::toNativeSeparators(path));
    return QByteArray();
  };
  if (e.lost || (e.digest.isEmpty() && pastEnd(e.offset, e.length, lengthAtLoad_))) return lost();
  const handles::Fd fd(::open(encoded(path).constData(), O_RDONLY | O_CLOEXEC));
  if (!fd && errno == ENOENT) return lost();
  if (!fd) {
    if (error) *error = QStringLiteral("「%1」を開けません（%2）。").arg(QDir::toNativeSeparators(path), durable::lastErrorText());
    return {};
  }
  if (pastEnd(e.offset, e.length, sizeOf(fd.get()))) return lost();
  QByteArray out(qsizetype(e.length), Qt::Uninitialized);
  if (!readAllAt(fd.get(), out.data(), e.length, e.offset)) {
    if (error) *error = QStringLiteral("「%1」を読めません（%2）。").arg(QDir::toNativeSeparators(path), durable::lastErrorText());
    return {};
  }
  if (!e.digest.isEmpty() && originalDigest(out) != e.digest) {
    if (error)
      *error = QStringLiteral("原文の保存ファイル「%1」にあるこのメールの原文は、受信したときのものと違います。")
                   .arg(QDir::toNativeSeparators(path));
    return {};
  }
  return out;
}

bool OriginalsAppender::open(QString* error) {
  if (isOpen()) return true;
  bool madeArchive = false, madeIndex = false;
  archive_ = openForAppend(originalsPath(), &madeArchive);
  if (archive_) index_ = openForAppend(originalsIndexPath(), &madeIndex);
  if (!archive_ || !index_ || (archiveLength_ = sizeOf(archive_.get())) < 0 ||
      (indexLength_ = sizeOf(index_.get())) < 0) {
    if (error)
      *error = QStringLiteral("原文の保存ファイルを開けません（%1）。").arg(durable::lastErrorText());
    archive_.reset();
    index_.reset();
    return false;
  }
  // A new file must still be listed after a power cut.
  if ((madeArchive || madeIndex) && !durable::syncFolder(dataFolder())) {
    if (error) *error = QStringLiteral("データフォルダをディスクに書き出せません（%1）。").arg(durable::lastErrorText());
    archive_.reset();
    index_.reset();
    return false;
  }
  if (!mendIndex(error)) {
    archive_.reset();
    index_.reset();
    return false;
  }
  return true;
}

// What outside damage leaves (a check never does: the journal cuts both
// files back together) is mended before anything is appended: a torn last
// line would join the first line appended, and a line that reaches past
// the archive's end would read the bytes of the mails appended there. The
// index is rewritten whole (a kill leaves the old one or the new one, and
// the archive is not touched yet), only when something is to be mended.
bool OriginalsAppender::mendIndex(QString* error) {
  if (indexLength_ == 0) return true;
  const QString path = originalsIndexPath();
  QByteArray text(qsizetype(indexLength_), Qt::Uninitialized);
  if (!readAllAt(index_.get(), text.data(), indexLength_, 0)) {
    if (error) *error = QStringLiteral("「%1」を読めません（%2）。").arg(QDir::toNativeSeparators(path), durable::lastErrorText());
    return false;
  }
  const qsizetype whole = text.lastIndexOf('\n') + 1;
  QByteArray mended;
  bool marked = false;
  for (qsizetype at = 0; at < whole;) {
    const qsizetype nl = text.indexOf('\n', at);
    const QByteArray line = text.mid(at, nl - at);
    at = nl + 1;
    std::optional<OriginalEntry> e = parseLine(line);
    if (e && !e->lost && pastEnd(e->offset, e->length, archiveLength_)) {
      e->lost = true;
      mended += indexLine(*e);
      marked = true;
    } else {
      mended += line + '\n';
    }
  }
  if (!marked && whole == text.size()) return true;
  if (!marked) {
    if (::ftruncate(index_.get(), whole) != 0 || !durable::syncFd(index_.get())) {
      if (error)
        *error = QStringLiteral("「%1」を直せません（%2）。").arg(QDir::toNativeSeparators(path), durable::lastErrorText());
      return false;
    }
    indexLength_ = whole;
    return true;
  }
  QString why;
  if (!durable::replaceFile(path, mended, 0600, &why)) {
    if (error) *error = QStringLiteral("「%1」を直せません（%2）。").arg(QDir::toNativeSeparators(path), why);
    return false;
  }
  index_.reset(::open(encoded(path).constData(), O_RDWR | O_CLOEXEC));
  if (!index_ || (indexLength_ = sizeOf(index_.get())) < 0) {
    if (error) *error = QStringLiteral("「%1」を開けません（%2）。").arg(QDir::toNativeSeparators(path), durable::lastErrorText());
    return false;
  }
  return true;
}

bool OriginalsAppender::append(const QByteArray& raw, qint64* offset, QString* error) {
  if (!writeAllAt(archive_.get(), raw.constData(), raw.size(), archiveLength_)) {
    if (error) *error = QStringLiteral("原文を保存できません（%1）。").arg(durable::lastErrorText());
    cutArchive(archiveLength_);
    return false;
  }
  *offset = archiveLength_;
  digests_.insert(archiveLength_, {raw.size(), originalDigest(raw)});
  archiveLength_ += raw.size();
  return true;
}

void OriginalsAppender::addEntry(OriginalEntry e) {
  const std::pair<qint64, QByteArray> appended = digests_.take(e.offset);
  if (e.digest.isEmpty() && !e.lost && appended.first == e.length && !appended.second.isEmpty())
    e.digest = appended.second;
  pending_ += indexLine(e);
}

bool OriginalsAppender::writeEntries(QString* error) {
  if (pending_.isEmpty()) return true;
  if (!writeAllAt(index_.get(), pending_.constData(), pending_.size(), indexLength_)) {
    if (error) *error = QStringLiteral("原文の索引を書き込めません（%1）。").arg(durable::lastErrorText());
    return false;
  }
  indexLength_ += pending_.size();
  pending_.clear();
  return true;
}

bool OriginalsAppender::sync(QString* error) {
  if (durable::syncFd(archive_.get()) && durable::syncFd(index_.get())) return true;
  if (error) *error = QStringLiteral("原文をディスクに書き出せません（%1）。").arg(durable::lastErrorText());
  return false;
}

bool OriginalsAppender::cutArchive(qint64 length) {
  digests_.removeIf([&](const auto& d) { return d.key() >= length; });
  if (::ftruncate(archive_.get(), length) != 0) return false;
  archiveLength_ = length;
  return true;
}

bool OriginalsAppender::cutBack(qint64 archiveLength, qint64 indexLength) {
  pending_.clear();
  const bool index = ::ftruncate(index_.get(), indexLength) == 0;
  if (index) indexLength_ = indexLength;
  return cutArchive(archiveLength) && index;
}

store::StoreResult deleteReceivedMails(const QList<int>& numbers) {
  const QString records = paths::resolve(paths::kReceivedMailFile);
  const QString recordsTemp = paths::resolve(paths::kReceivedMailTemp);
  OriginalArchive archive;
  store::StoreResult res;
  if (!archive.load(&res.error)) return res;
  // Mail received before originals were kept: the rewrite as it always was.
  if (!archive.exists()) return store::deleteRecords(records, recordsTemp, kLength, store::MailRecord::kFlagOffset, numbers);

  QList<int> kept;
  res = store::prepareRewrite(records, recordsTemp, kLength, store::MailRecord::kFlagOffset, numbers, &kept);
  if (!res.ok) return res;
  step(1);
  const QString indexTemp = paths::resolve(kIndexTemp);
  auto fail = [&](const QString& why) {
    ::unlink(encoded(recordsTemp).constData());
    ::unlink(encoded(indexTemp).constData());
    store::StoreResult r;
    r.error = why;
    return r;
  };

  // The index renumbered as the records are; the lines of the deleted
  // records go, and their bytes with them, but only where the line was
  // still that record's: an original that cannot be tied to a deleted
  // record is kept (its line without a record). A line whose bytes went
  // from outside (lost, or past the archive's end) holds no bytes: mails
  // appended since may lie where it points.
  QHash<int, int> renumbered;
  for (qsizetype i = 0; i < kept.size(); ++i) renumbered.insert(kept[i], int(i + 1));
  store::RecordFile old(records, kLength);
  if (!old.open()) return fail(old.errorText());
  const QString archivePath = originalsPath();
  handles::Fd fd(::open(encoded(archivePath).constData(), O_RDONLY | O_CLOEXEC));
  const qint64 archiveSize = fd ? sizeOf(fd.get()) : -1;
  QByteArray newIndex;
  QList<std::pair<qint64, qint64>> dead, live;
  qint64 liveEnd = 0;
  for (OriginalEntry e : archive.entries()) {
    if (!e.lost && pastEnd(e.offset, e.length, archiveSize)) e.lost = true;
    if (e.record > 0 && renumbered.contains(e.record)) {
      e.record = renumbered.value(e.record);
    } else if (e.record > 0) {
      QByteArray head;
      if (old.readPart(e.record, 0, kHeaderFields, head) == store::ReadResult::Ok &&
          recordFingerprint(head) == e.fingerprint) {
        if (!e.lost) dead.append({e.offset, e.length});
        continue;
      }
      e.record = 0;
    }
    newIndex += indexLine(e);
    if (e.lost) continue;
    if (e.length > 0) live.append({e.offset, e.length});
    liveEnd = std::max(liveEnd, e.offset + e.length);
  }
  old.close();
  // Bytes a kept line also points at (only after outside damage) stay.
  std::sort(live.begin(), live.end());
  QList<qint64> liveEnds;  // the furthest end of the first i + 1 live ranges
  for (const auto& [o, l] : live) liveEnds.append(std::max(liveEnds.isEmpty() ? 0 : liveEnds.last(), o + l));
  dead.removeIf([&](const std::pair<qint64, qint64>& d) {
    const auto after = std::lower_bound(live.cbegin(), live.cend(), std::pair<qint64, qint64>{d.first + d.second, 0});
    const qsizetype before = after - live.cbegin();
    return d.second > 0 && before > 0 && liveEnds[before - 1] > d.first;
  });
  QString why;
  if (!durable::replaceFile(indexTemp, newIndex, 0600, &why))
    return fail(QStringLiteral("「%1」を書き込めません（%2）。").arg(QDir::toNativeSeparators(indexTemp), why));
  step(2);

  DeletePlan plan;
  if (fd) {
    std::sort(dead.begin(), dead.end());
    plan.archiveIdentity = identityOf(fd.get());
    plan.punch = dead;
    // The tail after the last kept original goes when it holds nothing
    // else: the file does not keep growing once its newest mails are deleted.
    const qint64 size = archiveSize;
    if (size > liveEnd && onlyDeadOrRemoved(fd.get(), liveEnd, size, dead)) {
      plan.cut = liveEnd;
      plan.punch.removeIf([&](const std::pair<qint64, qint64>& r) { return r.first >= liveEnd; });
    }
    fd.reset();
  }
  if (!durable::replaceFile(paths::resolve(kDeleteJournal), planText(plan), 0600, &why))
    return fail(QStringLiteral("削除の記録を書き込めません（%1）。").arg(why));
  step(3);
  // Decided: from here on the delete is finished, now or by recovery.
  if (!carryOut(plan, &why) || !clearJournal(&why)) {
    res.ok = false;
    res.error = why;
    return res;
  }
  return res;
}

bool recoverInterruptedDelete(QString* why) {
  const QString path = paths::resolve(kDeleteJournal);
  if (!QFileInfo::exists(path)) {
    // Cut off before it decided: the drafts go, the old files stand.
    ::unlink(encoded(paths::resolve(kIndexTemp)).constData());
    if (QFileInfo::exists(originalsIndexPath())) ::unlink(encoded(paths::resolve(paths::kReceivedMailTemp)).constData());
    return true;
  }
  bool exists = false;
  const QByteArray all = readWhole(path, &exists, why);
  if (!exists) return false;
  if (const std::optional<DeletePlan> plan = parsePlan(all)) {
    if (!carryOut(*plan, why)) return false;
  } else {
    // Not decided: the old files stand; the new ones were only drafts.
    ::unlink(encoded(paths::resolve(paths::kReceivedMailTemp)).constData());
    ::unlink(encoded(paths::resolve(kIndexTemp)).constData());
  }
  return clearJournal(why);
}

}  // namespace reception
