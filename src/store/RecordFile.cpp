#include "RecordFile.h"

#include "platform/Durable.h"
#include "platform/TestHooks.h"
#include "platform/Text.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace store {
namespace {

// What the system said of the last call that failed.
StoreFailure failed(StoreCode code, const QString& path) { return {code, path, durable::lastErrorText()}; }

StoreFailure openFailure(const QString& path) {
  if (!QFileInfo(QFileInfo(path).absolutePath()).isDir()) return {StoreCode::FolderMissing, path};
  return failed(StoreCode::Unopenable, path);
}

bool preadAll(int fd, char* dst, qint64 len, qint64 offset) {
  while (len > 0) {
    ssize_t r = ::pread(fd, dst, size_t(len), offset);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    dst += r;
    len -= r;
    offset += r;
  }
  return true;
}

bool pwriteAll(int fd, const char* src, qint64 len, qint64 offset) {
  while (len > 0) {
    ssize_t w = ::pwrite(fd, src, size_t(len), offset);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    src += w;
    len -= w;
    offset += w;
  }
  return true;
}

bool hookFails(RewriteStep s) {
#ifdef TOMOSHIBI_TEST_HOOKS
  return testhooks::rewriteStep && testhooks::rewriteStep(s);
#else
  Q_UNUSED(s);
  return false;
#endif
}

// Copies `len` bytes at `inOff` of `in` to the end of `out`; in the kernel
// when it can, through a buffer otherwise.
bool copyRange(int in, qint64 inOff, int out, qint64 outOff, qint64 len) {
  // A piece at a time, the disk started on each piece as the next is
  // copied: the flush that follows then waits for the last pieces only.
  // Only a hint; that flush is what makes the copy durable.
  constexpr qint64 kPiece = 32 * 1024 * 1024;
  while (len > 0) {
    loff_t a = inOff, b = outOff;
    ssize_t r = ::copy_file_range(in, &a, out, &b, size_t(std::min(len, kPiece)), 0);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    ::sync_file_range(out, outOff, r, SYNC_FILE_RANGE_WRITE);
    inOff += r;
    outOff += r;
    len -= r;
  }
  if (len == 0) return true;
  QByteArray buf(qsizetype(std::min<qint64>(len, 1 << 20)), Qt::Uninitialized);
  while (len > 0) {
    qint64 chunk = std::min<qint64>(len, buf.size());
    if (!preadAll(in, buf.data(), chunk, inOff) || !pwriteAll(out, buf.constData(), chunk, outOff)) return false;
    inOff += chunk;
    outOff += chunk;
    len -= chunk;
  }
  return true;
}

}  // namespace

RecordFile::RecordFile(const QString& path, int recordLength) : path_(path), length_(recordLength) {}

RecordFile::~RecordFile() { close(); }

bool RecordFile::open() {
  if (fd_) return true;
  const QByteArray p = QFile::encodeName(path_);
  fd_.reset(durable::openPrivate(path_, O_RDWR));
  if (!fd_ && (errno == EACCES || errno == EROFS)) fd_.reset(::open(p.constData(), O_RDONLY | O_CLOEXEC));
  if (!fd_) {
    failure_ = openFailure(path_);
    return false;
  }
  return true;
}

void RecordFile::close() { fd_.reset(); }

qint64 RecordFile::byteLength() const {
  struct stat st;
  if (fd_) return ::fstat(fd_.get(), &st) == 0 ? qint64(st.st_size) : 0;
  return QFileInfo(path_).size();
}

int RecordFile::recordCount() const {
  return int(std::min<qint64>(completeRecordsFor(byteLength(), length_), kMaxRecords));
}

int RecordFile::nextRecordNumber() const { return appendNumberFor(byteLength(), length_); }

qint64 completeRecordsFor(qint64 byteLength, int recordLength) {
  return recordLength > 0 && byteLength > 0 ? byteLength / recordLength : 0;
}

int appendNumberFor(qint64 byteLength, int recordLength) {
  return int(std::min<qint64>(completeRecordsFor(byteLength, recordLength), kMaxRecords)) + 1;
}

ReadResult RecordFile::read(int n, QByteArray& out) const { return readPart(n, 0, length_, out); }

ReadResult RecordFile::readPart(int n, int offset, int len, QByteArray& out) const {
  if (!fd_ || n < 1) return n < 1 ? ReadResult::EndOfFile : ReadResult::Error;
  const qint64 start = qint64(n - 1) * length_;
  if (start + length_ > byteLength()) return ReadResult::EndOfFile;
  out.resize(len);
  if (!preadAll(fd_.get(), out.data(), len, start + offset)) {
    failure_ = failed(StoreCode::Unreadable, path_);
    return ReadResult::Error;
  }
  return ReadResult::Ok;
}

bool RecordFile::write(int n, const QByteArray& record) {
  if (!fd_ || n < 1 || n > kMaxRecords || record.size() != length_) {
    failure_ = {StoreCode::BadRecordNumber, path_, {}, n};
    return false;
  }
  if (!pwriteAll(fd_.get(), record.constData(), length_, qint64(n - 1) * length_)) {
    failure_ = failed(StoreCode::Unwritable, path_);
    return false;
  }
  return true;
}

bool RecordFile::writeLiveFlag(int n, int flagOffset, int16_t flag) {
  if (!fd_ || n < 1 || n > kMaxRecords) return false;
  const char b[2] = {char(uint16_t(flag) & 0xFF), char(uint16_t(flag) >> 8)};
  if (!pwriteAll(fd_.get(), b, 2, qint64(n - 1) * length_ + flagOffset)) {
    failure_ = failed(StoreCode::Unwritable, path_);
    return false;
  }
  return true;
}

bool RecordFile::sync() {
  if (!fd_) return false;
  if (!durable::syncFd(fd_.get())) {
    failure_ = failed(StoreCode::Unsynced, path_);
    return false;
  }
  return true;
}

bool RecordFile::truncate(qint64 length) {
  if (!fd_ || ::ftruncate(fd_.get(), length) != 0) {
    failure_ = failed(StoreCode::Untruncatable, path_);
    return false;
  }
  return true;
}

bool ensureFile(const QString& path, StoreFailure* failure) {
  RecordFile f(path, 1);
  if (f.open()) return true;
  if (failure) *failure = f.failure();
  return false;
}

StoreResult appendRecord(const QString& path, int recordLength, const QByteArray& record, bool durable) {
  StoreResult res;
  RecordFile f(path, recordLength);
  if (!f.open()) {
    res.failure = f.failure();
    return res;
  }
  const int n = f.nextRecordNumber();
  if (n > kMaxRecords) {
    res.failure = {StoreCode::Full, path};
    return res;
  }
  if (!f.write(n, record) || (durable && !f.sync())) {
    res.failure = f.failure();
    return res;
  }
  res.ok = true;
  res.recordNumber = n;
  return res;
}

StoreResult prepareRewrite(const QString& file, const QString& temp, int recordLength, int flagOffset,
                           const QList<int>& drop, QList<int>* kept) {
  StoreResult res;
  if (kept) kept->clear();
  QList<int> dropped = drop;
  std::sort(dropped.begin(), dropped.end());
  auto isDropped = [&](qint64 number) { return std::binary_search(dropped.cbegin(), dropped.cend(), int(number)); };
  RecordFile src(file, recordLength);
  if (!src.open()) {
    res.failure = src.failure();
    return res;
  }
  const QByteArray tmpName = QFile::encodeName(temp);
  // The copy becomes the record file: the user's alone, as the file is.
  handles::Fd out(::open(tmpName.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, durable::kPrivateFile));
  if (out) ::fchmod(out.get(), durable::kPrivateFile);
  auto fail = [&](const StoreFailure& why) {
    out.reset();
    ::unlink(tmpName.constData());
    res.failure = why;
    return res;
  };
  auto writeError = [&] { return failed(StoreCode::TempUnwritable, temp); };
  if (!out || hookFails(RewriteStep::TempOpened)) return fail(writeError());

  // Survivors come in runs of consecutive records: find them from the flags
  // alone, then copy each run in one go.
  // Every complete record, also any past the 16-bit numbering: a rewrite
  // must never drop what it was not asked to.
  const qint64 count = src.byteLength() / recordLength;
  res.before = int(std::min<qint64>(count, kMaxRecords));
  qint64 outOff = 0;
  qint64 runStart = -1;  // first record (from 0) of the current run
  char flag[2];
  for (qint64 i = 0; i <= count; ++i) {
    bool live = false;
    if (i < count) {
      if (!preadAll(src.fd(), flag, 2, i * recordLength + flagOffset))
        return fail(failed(StoreCode::Unreadable, file));
      live = (flag[0] | flag[1]) != 0 && !isDropped(i + 1);
    }
    if (live && runStart < 0) runStart = i;
    if (!live && runStart >= 0) {
      const qint64 len = (i - runStart) * recordLength;
      if (!copyRange(src.fd(), runStart * recordLength, out.get(), outOff, len)) return fail(writeError());
      outOff += len;
      res.survivors += int(i - runStart);
      if (kept)
        for (qint64 k = runStart; k < i; ++k) kept->append(int(k + 1));
      runStart = -1;
    }
  }
  if (hookFails(RewriteStep::SurvivorsWritten)) return fail(writeError());
  if (!durable::syncFd(out.get()) || hookFails(RewriteStep::TempFlushed)) return fail(writeError());
  if (!out.close()) return fail(writeError());
  res.ok = true;
  return res;
}

StoreResult finishRewrite(const QString& file, const QString& temp) {
  StoreResult res;
  const QByteArray tmpName = QFile::encodeName(temp);
  if (hookFails(RewriteStep::Renamed) || ::rename(tmpName.constData(), QFile::encodeName(file).constData()) != 0) {
    res.failure = failed(StoreCode::Unreplaceable, file);
    ::unlink(tmpName.constData());
    return res;
  }
  durable::syncFolder(QFileInfo(file).absolutePath());
  res.ok = true;
  return res;
}

StoreResult rewriteThroughTemporary(const QString& file, const QString& temp, int recordLength, int flagOffset,
                                    const QList<int>& drop) {
  StoreResult res = prepareRewrite(file, temp, recordLength, flagOffset, drop);
  if (!res.ok) return res;
  StoreResult done = finishRewrite(file, temp);
  if (!done.ok) {
    done.before = res.before;
    res = done;
  }
  return res;
}

StoreResult deleteRecords(const QString& file, const QString& temp, int recordLength, int flagOffset,
                          const QList<int>& numbers) {
  return rewriteThroughTemporary(file, temp, recordLength, flagOffset, numbers);
}

}  // namespace store
