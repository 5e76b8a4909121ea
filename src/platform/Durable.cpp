#include "Durable.h"

#include "Handles.h"

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
  const handles::Fd fd(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return fd && ::fsync(fd.get()) == 0;
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
  handles::Fd fd(::open(tmp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode));
  auto fail = [&] {
    if (error) *error = lastErrorText();
    fd.reset();
    ::unlink(tmp.constData());
    return false;
  };
  if (!fd) {
    if (error) *error = lastErrorText();
    return false;
  }
  ::fchmod(fd.get(), mode);  // the umask must not widen or narrow what was asked
  const char* p = data.constData();
  qsizetype left = data.size();
  while (left > 0) {
    ssize_t w = ::write(fd.get(), p, size_t(left));
    if (w < 0) {
      if (errno == EINTR) continue;
      return fail();
    }
    p += w;
    left -= w;
  }
  if (::fsync(fd.get()) != 0) return fail();
  if (!fd.close()) return fail();
  if (::rename(tmp.constData(), QFile::encodeName(path).constData()) != 0) return fail();
  syncFolder(folder);
  return true;
}

}  // namespace durable
