#include "HeadIndex.h"

#include "platform/Handles.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace viewer {
namespace {

constexpr char kMagic[8] = {'T', 'M', 'H', 'E', 'A', 'D', 'S', '1'};

// The header: the magic, then these numbers, little-endian 64-bit each;
// `crc` is the CRC-32 of the heads that follow.
struct Header {
  char magic[8];
  qint64 device, inode, length, modifiedNs, changedNs, headLength, rows, crc;
};
static_assert(sizeof(Header) == 8 + 8 * 8);

qint64 crcOf(const QByteArray& heads) {
  uLong crc = crc32(0L, Z_NULL, 0);
  // zlib takes at most 4 GB a call; the heads are a few megabytes.
  return qint64(crc32(crc, reinterpret_cast<const Bytef*>(heads.constData()), uInt(heads.size())));
}

bool readAll(int fd, char* to, qint64 size) {
  qint64 done = 0;
  while (done < size) {
    const ssize_t n = ::read(fd, to + done, size_t(size - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += n;
  }
  return true;
}

bool writeAll(int fd, const char* from, qint64 size) {
  qint64 done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, from + done, size_t(size - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += n;
  }
  return true;
}

}  // namespace

std::optional<RecordFileStamp> stampOf(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return std::nullopt;
  return RecordFileStamp{qint64(st.st_dev), qint64(st.st_ino), qint64(st.st_size),
                         qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
                         qint64(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec};
}

QString headIndexPath(const QString& recordsPath) { return recordsPath + QStringLiteral(".heads"); }

std::optional<QByteArray> readHeadIndex(const QString& recordsPath, const RecordFileStamp& stamp, int headLength,
                                        int rows) {
  const handles::Fd fd(::open(QFile::encodeName(headIndexPath(recordsPath)).constData(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return std::nullopt;
  Header h{};
  if (!readAll(fd.get(), reinterpret_cast<char*>(&h), sizeof h)) return std::nullopt;
  const RecordFileStamp made{h.device, h.inode, h.length, h.modifiedNs, h.changedNs};
  if (std::memcmp(h.magic, kMagic, sizeof kMagic) != 0 || made != stamp || h.headLength != headLength ||
      h.rows != rows || rows < 0)
    return std::nullopt;
  // Exactly the heads and nothing after them: a shorter or longer file was
  // not written by a finished write of this stamp.
  struct stat st {};
  const qint64 size = qint64(rows) * headLength;
  if (::fstat(fd.get(), &st) != 0 || qint64(st.st_size) != qint64(sizeof h) + size) return std::nullopt;
  QByteArray heads(size, Qt::Uninitialized);
  // Written but never flushed before a crash, the heads may read as zeros.
  if (!readAll(fd.get(), heads.data(), size) || crcOf(heads) != h.crc) return std::nullopt;
  return heads;
}

bool writeHeadIndex(const QString& recordsPath, const RecordFileStamp& stamp, int headLength,
                    const QByteArray& heads) {
  if (headLength <= 0 || heads.size() % headLength != 0) return false;
  const QByteArray path = QFile::encodeName(headIndexPath(recordsPath));
  const QByteArray temp = path + ".new";
  Header h{};
  std::memcpy(h.magic, kMagic, sizeof kMagic);
  h.device = stamp.device;
  h.inode = stamp.inode;
  h.length = stamp.length;
  h.modifiedNs = stamp.modifiedNs;
  h.changedNs = stamp.changedNs;
  h.headLength = headLength;
  h.rows = heads.size() / headLength;
  h.crc = crcOf(heads);
  {
    const handles::Fd fd(::open(temp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (fd.get() < 0) return false;
    // No fsync: an index torn by a crash fails its length or its CRC and is made again.
    if (!writeAll(fd.get(), reinterpret_cast<const char*>(&h), sizeof h) ||
        !writeAll(fd.get(), heads.constData(), heads.size())) {
      ::unlink(temp.constData());
      return false;
    }
  }
  if (::rename(temp.constData(), path.constData()) != 0) {
    ::unlink(temp.constData());
    return false;
  }
  return true;
}

}  // namespace viewer
