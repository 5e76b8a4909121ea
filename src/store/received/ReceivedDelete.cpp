// The journalled delete of received mail (see ReceivedDelete.h).
#include "ReceivedDelete.h"

#include "DataFiles.h"
#include "LeftOnServer.h"
#include "Originals.h"
#include "platform/Durable.h"
#include "platform/HeaderScan.h"
#include "platform/TestHooks.h"
#include "store/RecordFile.h"
#include "store/Records.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QHash>
#include <QUrl>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <unistd.h>

namespace received {

using namespace files;

namespace {

constexpr int kLength = store::MailRecord::kLength;
constexpr int kHeaderFields = store::MailRecord::kBody.offset;

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

QByteArray sumOf(const QByteArray& lines) {
  return QCryptographicHash::hash(lines, QCryptographicHash::Sha256).toHex().left(16);
}

// The steps a test build can stop a delete after (platform/TestHooks.h).
void step(int n) {
#ifdef TOMOSHIBI_TEST_HOOKS
  if (testhooks::deleteStep) testhooks::deleteStep(n);
#else
  Q_UNUSED(n);
#endif
}

// A delete's decision, as its journal holds it.
struct DeletePlan {
  QByteArray archiveIdentity;
  QList<std::pair<qint64, qint64>> punch;  // offset, length
  qint64 cut = -1;                         // the archive's new length; -1: not cut
  // Mails left on the server to be deleted there: account (percent-encoded),
  // ID ("-" for none) and digest as the ledger of left mails has them.
  QList<QList<QByteArray>> server;
};

QList<QByteArray> serverLine(const LeftEntry& e) {
  return {QUrl::toPercentEncoding(e.account), e.id.uid.isEmpty() ? QByteArray("-") : e.id.uid, e.id.digest};
}

// The left mails of `plan` noted as deleted here; done again after a cut-off,
// to the same effect.
bool markDeletedHere(const DeletePlan& plan, Fault* fault) {
  if (plan.server.isEmpty()) return true;
  LeftLedger ledger;
  QString why;
  bool changed = false;
  if (loadLeftLedger(&ledger, &why)) {
    for (LeftEntry& e : ledger.entries)
      if (!e.deletedHere && plan.server.contains(serverLine(e))) e.deletedHere = changed = true;
    if (!changed || saveLeftLedger(ledger.entries, &why)) return true;
  }
  if (fault) *fault = {Code::DeleteUnfinished, leftOnServerPath(), why};
  return false;
}

QByteArray planText(const DeletePlan& plan) {
  QByteArray lines = "delete\n";
  for (const auto& [o, l] : plan.punch)
    lines += "punch " + plan.archiveIdentity + ' ' + QByteArray::number(o) + ' ' + QByteArray::number(l) + '\n';
  if (plan.cut >= 0) lines += "cut " + plan.archiveIdentity + ' ' + QByteArray::number(plan.cut) + '\n';
  for (const QList<QByteArray>& s : plan.server) lines += "server " + s.join(' ') + '\n';
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
    } else if (w[0] == "server" && w.size() == 4) {
      plan.server.append(w.mid(1));
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
bool carryOut(const DeletePlan& plan, const MailFiles& files, Fault* fault) {
  const QString records = files.records;
  const QString index = files.index;
  auto failed = [&](const QString& what) {
    if (fault) *fault = {Code::DeleteUnfinished, what, durable::lastErrorText()};
    return false;
  };
  if (!markDeletedHere(plan, fault)) return false;
  if (QFileInfo::exists(files.recordsTemp)) {
    if (::rename(encoded(files.recordsTemp).constData(), encoded(records).constData()) != 0) return failed(records);
    durable::syncFolder(dataFolder());
  }
  step(4);
  if (QFileInfo::exists(files.indexTemp)) {
    if (::rename(encoded(files.indexTemp).constData(), encoded(index).constData()) != 0) return failed(index);
    durable::syncFolder(dataFolder());
  }
  step(5);
  const QString archive = files.originals;
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
bool clearJournal(const MailFiles& files, Fault* fault) {
  const QString path = files.deleteJournal;
  if (::unlink(encoded(path).constData()) != 0 && errno != ENOENT) {
    if (fault) *fault = {Code::Unremovable, path, durable::lastErrorText()};
    return false;
  }
  durable::syncFolder(dataFolder());
  step(7);
  return true;
}

Removal fromRecords(const store::StoreResult& r) {
  Removal out;
  out.before = r.before;
  out.survivors = r.survivors;
  if (!r.ok) out.fault = recordsFault(r.failure);
  return out;
}

}  // namespace

bool deleteDecided(const MailFiles& files) {
  bool exists = false;
  const QByteArray plan = readWhole(files.deleteJournal, &exists, nullptr);
  return exists && parsePlan(plan).has_value();
}

Removal deleteReceivedMails(const QList<int>& numbers, const MailFiles& files, bool alsoOnServer) {
  const QString records = files.records;
  const QString recordsTemp = files.recordsTemp;
  OriginalArchive archive(files);
  Removal res;
  if (!archive.load(&res.fault)) return res;
  // Mail received before originals were kept: the rewrite as it always was.
  if (!archive.exists())
    return fromRecords(store::deleteRecords(records, recordsTemp, kLength, store::MailRecord::kFlagOffset, numbers));

  QList<int> kept;
  res = fromRecords(store::prepareRewrite(records, recordsTemp, kLength, store::MailRecord::kFlagOffset, numbers, &kept));
  if (!res.ok()) return res;
  step(1);
  const QString indexTemp = files.indexTemp;
  auto fail = [&](const Fault& why) {
    ::unlink(encoded(recordsTemp).constData());
    ::unlink(encoded(indexTemp).constData());
    Removal r;
    r.fault = why;
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
  if (!old.open()) return fail(recordsFault(old.failure()));
  handles::Fd fd(::open(encoded(files.originals).constData(), O_RDONLY | O_CLOEXEC));
  const qint64 archiveSize = fd ? sizeOf(fd.get()) : -1;
  QByteArray newIndex;
  QList<std::pair<qint64, qint64>> dead, live;
  QList<OriginalEntry> deadEntries;
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
        if (!e.lost) deadEntries.append(e);
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
  if (!durable::replaceFile(indexTemp, newIndex, 0600, &why)) return fail({Code::Unwritable, indexTemp, why});
  step(2);

  DeletePlan plan;
  if (alsoOnServer) {
    // Which of the deleted mails were left on the server: told by their
    // IDs and the digests of their headers, read from their originals.
    LeftLedger ledger;
    if (!loadLeftLedger(&ledger, &why)) return fail({Code::Unreadable, leftOnServerPath(), why});
    for (const OriginalEntry& d : deadEntries) {
      const QByteArray original = archive.read(d);
      if (original.isNull()) continue;
      const QByteArray header = original.left(headerscan::bodyOffset(original));
      for (const LeftEntry& e : ledger.entries)
        if (!e.deletedHere && (e.id.uid == d.uid || e.id.uid.isEmpty() || d.uid.isEmpty()) && sameMail(e, header))
          plan.server.append(serverLine(e));
    }
  }
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
  if (!durable::replaceFile(files.deleteJournal, planText(plan), 0600, &why))
    return fail({Code::DeleteJournalUnwritable, {}, why});
  step(3);
  // Decided: from here on the delete is finished, now or by recovery.
  if (!carryOut(plan, files, &res.fault) || !clearJournal(files, &res.fault)) return res;
  return res;
}

bool recoverInterruptedDelete(Fault* fault, const MailFiles& files) {
  const QString path = files.deleteJournal;
  if (!QFileInfo::exists(path)) {
    // Cut off before it decided: the drafts go, the old files stand.
    ::unlink(encoded(files.indexTemp).constData());
    if (QFileInfo::exists(files.index)) ::unlink(encoded(files.recordsTemp).constData());
    return true;
  }
  bool exists = false;
  const QByteArray all = readWhole(path, &exists, fault);
  if (!exists) return false;
  if (const std::optional<DeletePlan> plan = parsePlan(all)) {
    if (!carryOut(*plan, files, fault)) return false;
  } else {
    // Not decided: the old files stand; the new ones were only drafts.
    ::unlink(encoded(files.recordsTemp).constData());
    ::unlink(encoded(files.indexTemp).constData());
  }
  return clearJournal(files, fault);
}

}  // namespace received
