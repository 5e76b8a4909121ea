// The index of the originals and the originals read through it.
#include "Originals.h"

#include "DataFiles.h"
#include "ReceivedDelete.h"
#include "ReceivedUids.h"
#include "platform/HeaderScan.h"
#include "platform/Durable.h"
#include "platform/Paths.h"
#include "store/Records.h"

#include <QCryptographicHash>
#include <openssl/sha.h>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace received {

using namespace files;

namespace {

constexpr int kHeaderFields = store::MailRecord::kBody.offset;

bool isDigest(const QByteArray& w) {
  return w.size() == 64 && std::all_of(w.cbegin(), w.cend(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
         });
}

}  // namespace

QString originalsPath() { return paths::resolve(QStringLiteral("★MAilData/received-originals.data")); }
QString originalsIndexPath() { return paths::resolve(QStringLiteral("★MAilData/received-originals.txt")); }

QByteArray recordFingerprint(const QByteArray& record) {
  return QCryptographicHash::hash(QByteArrayView(record).first(std::min<qsizetype>(record.size(), kHeaderFields)),
                                  QCryptographicHash::Sha256)
      .toHex()
      .left(16);
}

QByteArray originalDigest(const QByteArray& original) {
  // Every byte of every mail passes here as it is stored: OpenSSL's SHA-256
  // uses the processor's own instructions, several times faster than Qt's.
  unsigned char sum[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(original.constData()), size_t(original.size()), sum);
  return QByteArray(reinterpret_cast<const char*>(sum), sizeof sum).toHex();
}

namespace {

// "-" stands for no UID, so a UID that is "-" itself is written escaped.
QByteArray uidField(const QByteArray& uid) {
  if (uid.isEmpty()) return "-";
  if (uid == "-") return "%2D";
  return uid.toPercentEncoding();
}

}  // namespace

QByteArray indexLine(const OriginalEntry& e) {
  QByteArray line = QByteArray::number(e.record) + ' ' + QByteArray::number(e.offset) + ' ' +
                    QByteArray::number(e.length) + ' ' + e.fingerprint + ' ' + QByteArray::number(e.received) + ' ' +
                    uidField(e.uid);
  if (e.lost)
    line += " lost";
  else if (!e.digest.isEmpty())
    line += ' ' + e.digest;
  return line + '\n';
}

std::optional<OriginalEntry> parseIndexLine(const QByteArray& line) {
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

QList<OriginalEntry> parseIndex(const QByteArray& text) {
  QList<OriginalEntry> out;
  // A last line without its line break is one a check is still writing.
  QList<QByteArray> lines = text.split('\n');
  lines.removeLast();
  for (const QByteArray& line : std::as_const(lines))
    if (const std::optional<OriginalEntry> e = parseIndexLine(line)) out.append(*e);
  return out;
}

bool OriginalArchive::load(Fault* fault) {
  entries_.clear();
  // Before the index: every line read then, but for lost ones, has its
  // bytes within this length, or its digest (lines a check adds meanwhile).
  struct stat st;
  lengthAtLoad_ = ::stat(encoded(files_.originals).constData(), &st) == 0 ? qint64(st.st_size) : -1;
  // A delete that decided and renamed the records but not yet the index
  // (the next start finishes it): the renumbered index is the one that
  // fits the records. Nothing is changed here; readers only read.
  QString indexPath = files_.index;
  if (deleteDecided(files_) && !QFileInfo::exists(files_.recordsTemp) && QFileInfo::exists(files_.indexTemp))
    indexPath = files_.indexTemp;
  bool indexExists = false;
  Fault unread;
  const QByteArray text = readWhole(indexPath, &indexExists, &unread);
  if (unread) {
    if (fault) *fault = unread;
    return false;
  }
  exists_ = indexExists || QFileInfo::exists(files_.originals);
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

QByteArray OriginalArchive::read(const OriginalEntry& e, Fault* fault) const {
  const QString path = files_.originals;
  auto failed = [&](Code code, const QString& detail = {}) {
    if (fault) *fault = {code, path, detail};
    return QByteArray();
  };
  if (e.lost || (e.digest.isEmpty() && pastEnd(e.offset, e.length, lengthAtLoad_))) return failed(Code::OriginalLost);
  const handles::Fd fd(::open(encoded(path).constData(), O_RDONLY | O_CLOEXEC));
  if (!fd && errno == ENOENT) return failed(Code::OriginalLost);
  if (!fd) return failed(Code::Unopenable, durable::lastErrorText());
  if (pastEnd(e.offset, e.length, sizeOf(fd.get()))) return failed(Code::OriginalLost);
  QByteArray out(qsizetype(e.length), Qt::Uninitialized);
  if (!readAllAt(fd.get(), out.data(), e.length, e.offset)) return failed(Code::Unreadable, durable::lastErrorText());
  if (!e.digest.isEmpty() && originalDigest(out) != e.digest) return failed(Code::OriginalChanged);
  return out;
}

QSet<QByteArray> OriginalArchive::mailDigests(Fault* fault) const {
  QSet<QByteArray> out;
  const QString path = originalsPath();
  const handles::Fd fd(::open(encoded(path).constData(), O_RDONLY | O_CLOEXEC));
  if (!fd) {
    if (errno != ENOENT && fault) *fault = {Code::Unopenable, path, durable::lastErrorText()};
    return out;
  }
  const qint64 size = sizeOf(fd.get());
  QByteArray head;
  for (const OriginalEntry& e : entries_) {
    if (e.record < 1 || e.lost || pastEnd(e.offset, e.length, size)) continue;
    // A header is small: read a piece, and more only while its end is not in it.
    for (qint64 want = std::min<qint64>(e.length, 16 * 1024);; want = std::min<qint64>(e.length, want * 4)) {
      head.resize(qsizetype(want));
      if (!readAllAt(fd.get(), head.data(), want, e.offset)) {
        if (fault) *fault = {Code::Unreadable, path, durable::lastErrorText()};
        return out;
      }
      const headerscan::Bounds b = headerscan::bounds(head);
      if (b.bodyStart < head.size() || want == e.length) {
        out.insert(mailDigest(head.left(b.bodyStart), e.length));
        break;
      }
    }
  }
  return out;
}

}  // namespace received
