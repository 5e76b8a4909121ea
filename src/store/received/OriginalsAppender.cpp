// The originals of one check, appended mail by mail and listed batch by
// batch (see Originals.h).
#include "DataFiles.h"
#include "Originals.h"
#include "platform/Durable.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace received {

using namespace files;

namespace {

// Opens (creating) a file of the data folder for appending at its end.
handles::Fd openForAppend(const QString& path, bool* created) {
  const QByteArray p = encoded(path);
  handles::Fd fd(::open(p.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  *created = fd.valid();
  if (!fd && errno == EEXIST) fd.reset(::open(p.constData(), O_RDWR | O_CLOEXEC));
  return fd;
}

bool failed(Fault* fault, Code code, const QString& path = {}, const QString& detail = durable::lastErrorText()) {
  if (fault) *fault = {code, path, detail};
  return false;
}

}  // namespace

bool OriginalsAppender::open(Fault* fault) {
  if (isOpen()) return true;
  bool madeArchive = false, madeIndex = false;
  archive_ = openForAppend(files_.originals, &madeArchive);
  if (archive_) index_ = openForAppend(files_.index, &madeIndex);
  bool ok = archive_ && index_ && (archiveLength_ = sizeOf(archive_.get())) >= 0 &&
            (indexLength_ = sizeOf(index_.get())) >= 0;
  if (!ok) failed(fault, Code::OriginalsUnopenable);
  // A new file must still be listed after a power cut.
  if (ok && (madeArchive || madeIndex) && !durable::syncFolder(dataFolder())) ok = failed(fault, Code::FolderUnsynced);
  if (ok) ok = mendIndex(fault);
  if (!ok) {
    archive_.reset();
    index_.reset();
  }
  return ok;
}

// What outside damage leaves (a check never does: the journal cuts both
// files back together) is mended before anything is appended: a torn last
// line would join the first line appended, and a line that reaches past
// the archive's end would read the bytes of the mails appended there. The
// index is rewritten whole (a kill leaves the old one or the new one, and
// the archive is not touched yet), only when something is to be mended.
bool OriginalsAppender::mendIndex(Fault* fault) {
  if (indexLength_ == 0) return true;
  const QString path = files_.index;
  QByteArray text(qsizetype(indexLength_), Qt::Uninitialized);
  if (!readAllAt(index_.get(), text.data(), indexLength_, 0)) return failed(fault, Code::Unreadable, path);
  const qsizetype whole = text.lastIndexOf('\n') + 1;
  QByteArray mended;
  bool marked = false;
  for (qsizetype at = 0; at < whole;) {
    const qsizetype nl = text.indexOf('\n', at);
    const QByteArray line = text.mid(at, nl - at);
    at = nl + 1;
    std::optional<OriginalEntry> e = parseIndexLine(line);
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
    if (::ftruncate(index_.get(), whole) != 0 || !durable::syncFd(index_.get()))
      return failed(fault, Code::Unmendable, path);
    indexLength_ = whole;
    return true;
  }
  QString why;
  if (!durable::replaceFile(path, mended, 0600, &why)) return failed(fault, Code::Unmendable, path, why);
  index_.reset(::open(encoded(path).constData(), O_RDWR | O_CLOEXEC));
  if (!index_ || (indexLength_ = sizeOf(index_.get())) < 0) return failed(fault, Code::Unopenable, path);
  return true;
}

bool OriginalsAppender::append(const QByteArray& raw, qint64* offset, Fault* fault) {
  if (!writeAllAt(archive_.get(), raw.constData(), raw.size(), archiveLength_)) {
    failed(fault, Code::OriginalUnwritable);
    cutArchive(archiveLength_);
    return false;
  }
  *offset = archiveLength_;
  digests_.insert(archiveLength_, {raw.size(), originalDigest(raw)});
  archiveLength_ += raw.size();
  writeback_.appended(archive_.get(), archiveLength_);
  return true;
}

void OriginalsAppender::addEntry(OriginalEntry e) {
  const std::pair<qint64, QByteArray> appended = digests_.take(e.offset);
  if (e.digest.isEmpty() && !e.lost && appended.first == e.length && !appended.second.isEmpty())
    e.digest = appended.second;
  pending_ += indexLine(e);
}

bool OriginalsAppender::writeEntries(Fault* fault) {
  if (pending_.isEmpty()) return true;
  if (!writeAllAt(index_.get(), pending_.constData(), pending_.size(), indexLength_))
    return failed(fault, Code::IndexUnwritable);
  indexLength_ += pending_.size();
  pending_.clear();
  return true;
}

bool OriginalsAppender::sync(Fault* fault) {
  if (durable::syncFd(archive_.get()) && durable::syncFd(index_.get())) return true;
  return failed(fault, Code::OriginalsUnsynced);
}

bool OriginalsAppender::cutArchive(qint64 length) {
  digests_.removeIf([&](const auto& d) { return d.key() >= length; });
  if (::ftruncate(archive_.get(), length) != 0) return false;
  archiveLength_ = length;
  writeback_.cut(length);
  return true;
}

bool OriginalsAppender::cutBack(qint64 archiveLength, qint64 indexLength) {
  pending_.clear();
  const bool index = ::ftruncate(index_.get(), indexLength) == 0;
  if (index) indexLength_ = indexLength;
  return cutArchive(archiveLength) && index;
}

}  // namespace received
