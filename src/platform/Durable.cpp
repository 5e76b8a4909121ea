#include "Durable.h"

#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace durable {

bool syncFd(int fd) { return ::fsync(fd) == 0; }

bool syncFolder(const QString& folder) {
  int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

QString lastErrorText() { return QString::fromLocal8Bit(std::strerror(errno)); }

bool replaceFile(const QString& path, const QByteArray& data, int mode, QString* error) {
  QFileInfo fi(path);
  const QString folder = fi.absolutePath();
  if (mode < 0) {
    struct stat st;
    mode = ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : 0644;
  }
  // The new text beside the file; a name too long to take ".new" within
  // the file system's limit gets a short temporary name of its own.
  QByteArray tmp = QFile::encodeName(path + QStringLiteral(".new"));
  if (QFile::encodeName(fi.fileName()).size() + 4 > NAME_MAX)
    tmp = QFile::encodeName(folder + QStringLiteral("/.new-")) + QByteArray::number(qint64(::getpid()));
  int fd = ::open(tmp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  auto fail = [&](int fdToClose) {
    if (error) *error = lastErrorText();
    if (fdToClose >= 0) ::close(fdToClose);
    ::unlink(tmp.constData());
    return false;
  };
  if (fd < 0) {
    if (error) *error = lastErrorText();
    return false;
  }
  ::fchmod(fd, mode);  // the umask must not widen or narrow what was asked
  const char* p = data.constData();
  qsizetype left = data.size();
  while (left > 0) {
    ssize_t w = ::write(fd, p, size_t(left));
    if (w < 0) {
      if (errno == EINTR) continue;
      return fail(fd);
    }
    p += w;
    left -= w;
  }
  if (::fsync(fd) != 0) return fail(fd);
  if (::close(fd) != 0) return fail(-1);
  if (::rename(tmp.constData(), QFile::encodeName(path).constData()) != 0) return fail(-1);
  syncFolder(folder);
  return true;
}

}  // namespace durable
