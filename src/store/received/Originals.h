#pragma once
// Every received mail kept whole, exactly as the server sent it (dot
// stuffing undone, CR LF lines), beside the record that shows it: the
// record holds only what fits its fields, and the server's copy is gone.
//
// Two files in the data folder, both created by the first check that needs
// them (a folder without them is a folder of mail received before):
//   received-originals.data   the mails' bytes, one after another, appended
//   received-originals.txt    the index, one line per mail:
//                             RECORD OFFSET LENGTH FINGERPRINT RECEIVED UID DIGEST
// RECORD is the record number the mail has now (0: its record is gone), so
// the link survives a rewrite of the received-mail file, which renumbers;
// FINGERPRINT (a hash of the record's subject, date and sender fields) tells
// whether that record is still the one the line was written for. RECEIVED
// is the time of the check (seconds since 1970); UID is the server's ID,
// percent-encoded ("-" when it gave none). DIGEST is the SHA-256 of the
// original (hex), so that bytes that are not the mail's are never handed
// out as its original; lines written before it was kept have six fields
// and are read as they are. DIGEST is "lost" on a line whose bytes went
// from outside (the archive cut short or removed): its mail has no original
// any more, and later mails are appended where its bytes were.
//
// A check appends both within its batches (ReceiveJournal cuts them back
// with the records after a kill); before it appends, it marks the lines
// that point past the archive's end as lost and cuts a torn last line (both
// only after outside damage), rewriting the index whole. A delete rewrites
// the index, removes the deleted mails' bytes and renames the received-mail
// file in one journalled step (ReceivedDelete), so that a record never
// lacks its original and no original outlives its record, whenever the
// program stops.
#include "Fault.h"
#include "MailFiles.h"
#include "platform/Durable.h"
#include "platform/Handles.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <optional>

namespace received {

QString originalsPath();
QString originalsIndexPath();

struct OriginalEntry {
  int record = 0;
  qint64 offset = 0;
  qint64 length = 0;
  QByteArray fingerprint;
  qint64 received = 0;
  QByteArray uid;
  QByteArray digest = {};  // empty on a line written before digests were kept
  bool lost = false;
};

// The fingerprint of a mail record (its first 280 bytes: subject, date, sender).
QByteArray recordFingerprint(const QByteArray& record);
// The digest an index line keeps of an original.
QByteArray originalDigest(const QByteArray& original);
QByteArray indexLine(const OriginalEntry& e);
// One line without its line break; none when it cannot be read.
std::optional<OriginalEntry> parseIndexLine(const QByteArray& line);
// Lines that cannot be read are skipped, and so is a last line without
// its line break (one being written while the index is read).
QList<OriginalEntry> parseIndex(const QByteArray& text);

// The index as it is on the disk, and the originals read through it.
class OriginalArchive {
 public:
  // The originals of `files` (received mail unless told).
  explicit OriginalArchive(MailFiles files = receivedFiles()) : files_(std::move(files)) {}
  // An archive that does not exist is an empty one; false only when a file
  // exists but cannot be read.
  bool load(Fault* fault = nullptr);
  bool exists() const { return exists_; }
  const QList<OriginalEntry>& entries() const { return entries_; }
  // The original of record `number` whose bytes are `record` (at least its
  // first 280 bytes); none when the mail came before originals were kept,
  // or the line no longer fits the record.
  std::optional<OriginalEntry> forRecord(int number, const QByteArray& record) const;
  // The bytes of one original; null with the fault when they cannot be
  // read, are lost, or are not the ones received (their digest differs).
  QByteArray read(const OriginalEntry& e, Fault* fault = nullptr) const;
  // The identity a mail check gives each kept mail whose record is still
  // there (mailDigest of its header and its size), so that a mail brought
  // in from elsewhere is known when it was received already. Only the
  // headers are read; lost originals are left out.
  QSet<QByteArray> mailDigests(Fault* fault = nullptr) const;

 private:
  MailFiles files_;
  bool exists_ = false;
  QList<OriginalEntry> entries_;
  // The archive's length before the index was read (-1: no archive): a
  // line without a digest that reached past it had lost its bytes, even if
  // a check has appended there since.
  qint64 lengthAtLoad_ = -1;
};

// The originals of one check: each mail's bytes appended as it comes, the
// index lines written with the batch's commit.
class OriginalsAppender {
 public:
  explicit OriginalsAppender(MailFiles files = receivedFiles()) : files_(std::move(files)) {}
  // Opens both files (creating them) for appending at their ends; an index
  // damaged from outside is mended first (see above). The caller holds the
  // check's lock.
  bool open(Fault* fault);
  bool isOpen() const { return archive_.valid(); }
  int archiveFd() const { return archive_.get(); }
  int indexFd() const { return index_.get(); }
  qint64 archiveLength() const { return archiveLength_; }
  qint64 indexLength() const { return indexLength_; }
  // Appends one mail; its offset in `offset`.
  bool append(const QByteArray& raw, qint64* offset, Fault* fault);
  // The line of a mail appended here gets the digest of its bytes.
  void addEntry(OriginalEntry e);
  bool writeEntries(Fault* fault);
  bool sync(Fault* fault);
  // Back to lengths an earlier state had (a mail or a batch not kept);
  // pending lines go too when the index is cut.
  bool cutArchive(qint64 length);
  bool cutBack(qint64 archiveLength, qint64 indexLength);

 private:
  bool mendIndex(Fault* fault);

  MailFiles files_;
  handles::Fd archive_, index_;
  qint64 archiveLength_ = 0, indexLength_ = 0;
  durable::Writeback writeback_;
  QByteArray pending_;
  // offset -> length and digest of the mails appended and not yet listed
  QHash<qint64, std::pair<qint64, QByteArray>> digests_;
};

}  // namespace received
