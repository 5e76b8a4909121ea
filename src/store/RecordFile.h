#pragma once
// Record access to a file of fixed-length records: record n (from 1) lies at
// bytes (n - 1) × L … n × L - 1. No header, no index; the count is the length
// divided by L. Each operation opens the file, works and closes it again.
#include "platform/Handles.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace store {

// Record numbers are 16-bit signed: a file holds at most this many.
inline constexpr int kMaxRecords = 32767;

enum class ReadResult { Ok, EndOfFile, Error };

// What went wrong with a record file: a code, with the file it concerns and
// the system's own words. The sentence a user reads is made above the store
// (store/words/StoreWords.h), never here.
enum class StoreCode {
  None,
  FolderMissing,    // path: the data folder of the file is not there
  Unopenable,       // path, cause
  Unreadable,       // path, cause (may be empty)
  BadRecordNumber,  // number: no record can be written there
  Unwritable,       // path, cause
  Unsynced,         // path, cause: not flushed to the disk
  Untruncatable,    // path, cause: not cut back to its length
  Full,             // path: it holds kMaxRecords records already
  TempUnwritable,   // path (the temporary copy), cause: the file is as it was
  Unreplaceable,    // path, cause: the copy did not take its name; the file is as it was
};

struct StoreFailure {
  StoreCode code = StoreCode::None;
  QString path = {};
  QString cause = {};
  int number = 0;

  explicit operator bool() const { return code != StoreCode::None; }
};

class RecordFile {
 public:
  RecordFile(const QString& path, int recordLength);
  ~RecordFile();
  RecordFile(const RecordFile&) = delete;
  RecordFile& operator=(const RecordFile&) = delete;

  // Opens for reading and writing; a missing file is created empty. False
  // when it cannot be opened (its folder is missing, no permission); see
  // failure(). A file that cannot be written is opened read-only.
  bool open();
  void close();
  bool isOpen() const { return fd_.valid(); }

  const QString& path() const { return path_; }
  int recordLength() const { return length_; }
  qint64 byteLength() const;
  // Complete records only: a partial last record is never counted or read.
  int recordCount() const;
  // Where an append goes (see appendNumberFor).
  int nextRecordNumber() const;

  // Record n whole, or `len` bytes of it from `offset`. EndOfFile when the
  // record lies wholly or partly beyond the end of the file.
  ReadResult read(int n, QByteArray& out) const;
  ReadResult readPart(int n, int offset, int len, QByteArray& out) const;
  // Writes the whole record at its place; beyond the end extends the file.
  bool write(int n, const QByteArray& record);
  // Writes the 16-bit live flag of record n only.
  bool writeLiveFlag(int n, int flagOffset, int16_t flag);
  // Flushes everything written so far to the disk.
  bool sync();
  // Cuts the file to `length` bytes (a write that failed half-way goes again).
  bool truncate(qint64 length);

  // Why the last operation that failed did.
  const StoreFailure& failure() const { return failure_; }
  int fd() const { return fd_.get(); }

 private:
  QString path_;
  int length_;
  handles::Fd fd_;
  mutable StoreFailure failure_;
};

// The outcome of an append or a rewrite.
struct StoreResult {
  bool ok = false;
  int recordNumber = 0;  // the number written by an append
  int survivors = 0;     // records kept by a rewrite
  int before = 0;        // records a rewrite found (complete ones, at most kMaxRecords)
  StoreFailure failure;
};

// The one rule for counting and appending, used by every window and by the
// mail check: a file holds its complete records (a partial tail left by a
// crash or a full disk is never shown), and an append goes right after the
// last complete one, so it overwrites such a tail instead of leaving a gap.
qint64 completeRecordsFor(qint64 byteLength, int recordLength);
int appendNumberFor(qint64 byteLength, int recordLength);

// Opens `path` (creating it empty) and closes it again; false when it cannot
// be opened.
bool ensureFile(const QString& path, StoreFailure* failure = nullptr);

// Writes `record` at the next record number. Refuses when that number would
// pass 32767. With `durable` the record is on the disk before this returns.
StoreResult appendRecord(const QString& path, int recordLength, const QByteArray& record, bool durable);

// Deletes the records whose live flag (16-bit at `flagOffset`) is 0 and the
// records numbered in `drop`, keeping the others in order, renumbered from
// 1, and dropping a partial last record. The survivors are written into
// `temp`, flushed, and `temp` is then renamed over `file`: at every instant
// the whole old or the whole new file exists under the real name, and a
// rewrite that fails leaves `file` exactly as it was. A stale `temp` is
// replaced.
StoreResult rewriteThroughTemporary(const QString& file, const QString& temp, int recordLength, int flagOffset,
                                    const QList<int>& drop = {});

// The two halves of rewriteThroughTemporary, for a rewrite that must go
// together with other files: the survivors written into `temp` and flushed
// (`file` untouched; `kept`, when given, receives the old numbers of the
// survivors in order), then `temp` renamed over `file`.
StoreResult prepareRewrite(const QString& file, const QString& temp, int recordLength, int flagOffset,
                           const QList<int>& drop, QList<int>* kept = nullptr);
StoreResult finishRewrite(const QString& file, const QString& temp);

// Deletes the records `numbers`. They are left out of the copy rather than
// marked in the file, so a delete that fails changes nothing on the disk
// and cannot take those records with it at the next delete.
StoreResult deleteRecords(const QString& file, const QString& temp, int recordLength, int flagOffset,
                          const QList<int>& numbers);

// The steps of a rewrite; the test build can make one fail, as a crash or a
// failed write would (platform/TestHooks.h).
enum class RewriteStep { TempOpened, SurvivorsWritten, TempFlushed, Renamed };

}  // namespace store
