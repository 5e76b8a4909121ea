#include "ReceivedStore.h"

#include "DataFiles.h"
#include "Originals.h"
#include "ReceivedUids.h"
#include "platform/Durable.h"
#include "store/RecordFile.h"
#include "store/Records.h"

#include <QDateTime>
#include <QHash>
#include <QThreadPool>
#include <fcntl.h>
#include <unistd.h>

namespace received {

namespace {

constexpr int kLength = store::MailRecord::kLength;
constexpr int kHeaderFields = store::MailRecord::kBody.offset;

// Replacing the file frees the storage of the old one, which for a full
// file keeps the file system busy for about half a second. Holding the old
// file open across the rewrite moves that work to the moment the last
// descriptor closes, and that happens on a worker thread.
class OldFileRelease {
 public:
  explicit OldFileRelease(const QString& path)
      : fd_(::open(files::encoded(path).constData(), O_RDONLY | O_CLOEXEC)) {}
  ~OldFileRelease() {
    if (fd_ < 0) return;
    const int fd = fd_;
    QThreadPool::globalInstance()->start([fd] { ::close(fd); });
  }
  OldFileRelease(const OldFileRelease&) = delete;
  OldFileRelease& operator=(const OldFileRelease&) = delete;

 private:
  int fd_;
};

}  // namespace

// What one check has open while it appends, and where its batch began.
struct ReceivedStore::Batch {
  explicit Batch(const MailFiles& files)
      : recordPath(files.records), records(recordPath, kLength), originals(files), journal(files.journal) {}
  QString recordPath;
  store::RecordFile records;
  qint64 recordLength = 0;  // complete records only
  durable::Writeback recordWriteback;
  OriginalsAppender originals;
  ReceiveJournal journal;
  qint64 received = QDateTime::currentSecsSinceEpoch();
  qint64 recordStart = 0, originalsStart = 0, indexStart = 0;
};

ReceivedStore::ReceivedStore(MailFiles files) : files_(std::move(files)) {}
ReceivedStore::~ReceivedStore() = default;

Fault ReceivedStore::lock(bool wait) {
  if (lock_) return {};
  CheckLock lock = CheckLock::acquire(files_.lock, wait);
  if (lock.state() != CheckLock::State::Held) return lock.fault();
  lock_.emplace(std::move(lock));
  return {};
}

Fault ReceivedStore::recover() {
  // A delete cut off is settled first: it renamed or was about to rename
  // the received-mail file that the check's journal speaks of.
  Fault f;
  if (!recoverInterruptedDelete(&f, files_)) return f;
  const QString path = files_.journal;
  const ReceiveJournal::Recovery r = ReceiveJournal::recover(path);
  if (r.fault) return r.fault;
  if (!r.found) return {};
  // The committed mails join the ID list before the journal goes.
  QHash<QString, QList<MailIdentity>> byAccount;
  for (const JournalEntry& e : r.committed) byAccount[e.account].append(e.id);
  for (auto it = byAccount.cbegin(); it != byAccount.cend(); ++it) {
    ReceivedUidList list(receivedUidsPath(), it.key());
    QString error;
    if (!list.load(&error)) return {Code::UidListUnreadable, {}, error};
    // Recovery may run twice (a kill between saving and clearing): an entry
    // the list holds already is not added again.
    QList<MailIdentity> missing;
    for (const MailIdentity& id : it.value())
      if (!list.claim(id)) missing.append(id);
    for (const MailIdentity& id : missing) list.add(id);
    if (!list.save(&error)) return {Code::UidListUnwritable, {}, error};
  }
  ReceiveJournal journal(path);
  journal.clear(&f);
  return f;
}

bool ReceivedStore::begun() const { return batch_ && batch_->journal.begun(); }

Fault ReceivedStore::begin() {
  if (begun()) return {};
  batch_ = std::make_unique<Batch>(files_);
  Batch& b = *batch_;
  if (!b.records.open()) return recordsFault(b.records.failure());
  // A partial record at the end (left by an older version) is never shown
  // and is overwritten by the next append: the batch starts before it.
  b.recordLength = store::completeRecordsFor(b.records.byteLength(), kLength) * kLength;
  b.recordStart = b.recordLength;
  Fault f;
  if (!b.originals.open(&f)) return f;
  b.originalsStart = b.originals.archiveLength();
  b.indexStart = b.originals.indexLength();
  b.journal.begin({{b.recordPath, b.records.fd(), b.recordLength},
                   {files_.originals, b.originals.archiveFd(), b.originalsStart},
                   {files_.index, b.originals.indexFd(), b.indexStart}},
                  &f);
  return f;
}

Fault ReceivedStore::appendOriginal(const QByteArray& raw, qint64* at) {
  Fault f = begin();
  if (!f) batch_->originals.append(raw, at, &f);
  return f;
}

Fault ReceivedStore::announce(const QString& path) {
  Fault f;
  batch_->journal.announce(path, &f);
  return f;
}

Fault ReceivedStore::appendRecord(const QByteArray& record, qint64 at, qint64 length, const QByteArray& uid,
                                  int* number) {
  Batch& b = *batch_;
  *number = store::appendNumberFor(b.recordLength, kLength);
  if (*number > store::kMaxRecords) return {Code::RecordsFull};
  if (!b.records.write(*number, record)) {
    // Never a partial record: what was written of it goes again at once.
    const Fault f = recordsFault(b.records.failure());
    b.records.truncate(b.recordLength);
    return f;
  }
  b.recordLength += kLength;
  // 32 KB a mail, however short: the disk starts on them while the next
  // mails come.
  b.recordWriteback.appended(b.records.fd(), b.recordLength);
  b.originals.addEntry({*number, at, length, recordFingerprint(record), b.received, uid});
  return {};
}

void ReceivedStore::dropOriginal(qint64 at) { batch_->originals.cutArchive(at); }

Fault ReceivedStore::commit(const QList<JournalEntry>& entries) {
  Batch& b = *batch_;
  Fault f;
  bool ok = b.records.sync();
  if (!ok) f = recordsFault(b.records.failure());
  if (ok) ok = b.originals.writeEntries(&f) && b.originals.sync(&f);
  if (ok) ok = b.journal.commit({b.recordLength, b.originals.archiveLength(), b.originals.indexLength()}, entries, &f);
  if (!ok) return f;
  b.recordStart = b.recordLength;
  b.originalsStart = b.originals.archiveLength();
  b.indexStart = b.originals.indexLength();
  return {};
}

void ReceivedStore::rollBack() {
  Batch& b = *batch_;
  if (b.records.truncate(b.recordStart)) b.recordLength = b.recordStart;
  b.recordWriteback.cut(b.recordLength);
  b.originals.cutBack(b.originalsStart, b.indexStart);
}

Fault ReceivedStore::finish() {
  Fault f;
  if (begun()) batch_->journal.clear(&f);
  return f;
}

Fault ReceivedStore::lockFor(ReceivedStore& s, const MailFiles& files) {
  return s.lock(files.lock != receivedFiles().lock);
}

Removal ReceivedStore::remove(const QList<int>& numbers, const MailFiles& files, bool alsoOnServer) {
  // A mail check appending meanwhile (tomoshibi --check from a timer) would
  // have its records lost by the rewrite: it waits for no check and takes
  // the check's lock, and what an interrupted check left is made whole
  // first (so that its records are not carried into the new file).
  ReceivedStore s(files);
  Removal r;
  r.fault = lockFor(s, files);
  if (!r.fault) r.fault = s.recover();
  if (r.fault) return r;
  OldFileRelease old(files.records);
  r = deleteReceivedMails(numbers, files, alsoOnServer);
  r.started = true;
  return r;
}

Removal ReceivedStore::removeAll(const MailFiles& files, bool alsoOnServer) {
  ReceivedStore s(files);
  Removal r;
  r.fault = lockFor(s, files);
  if (!r.fault) r.fault = s.recover();
  if (r.fault) return r;
  // Every complete record goes; a partial last record is dropped by the
  // rewrite all the same.
  QList<int> all;
  int complete = -1;
  {
    store::RecordFile f(files.records, kLength);
    if (f.open()) {
      complete = f.recordCount();
      all.reserve(complete);
      for (int i = 1; i <= complete; ++i) all.append(i);
    }
  }
  OldFileRelease old(files.records);
  r = deleteReceivedMails(all, files, alsoOnServer);
  r.started = true;
  r.before = complete;
  return r;
}

Original ReceivedStore::original(int number, const MailFiles& files) {
  Original r;
  OriginalArchive archive(files);
  if (!archive.load(&r.fault)) return r;
  store::RecordFile records(files.records, kLength);
  QByteArray head;
  if (!records.open() || records.readPart(number, 0, kHeaderFields, head) != store::ReadResult::Ok) {
    r.fault = recordsFault(records.failure(), Code::RecordsUnreadable);
    return r;
  }
  const std::optional<OriginalEntry> e = archive.forRecord(number, head);
  if (!e) {
    r.fault = {Code::OriginalMissing};
    return r;
  }
  r.received = e->received;
  r.bytes = archive.read(*e, &r.fault);
  return r;
}

}  // namespace received
