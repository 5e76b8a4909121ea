#include "DataFiles.h"

#include "MailFiles.h"
#include "Originals.h"
#include "ReceiveJournal.h"
#include "platform/Paths.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace received::files {

QString dataFolder() { return paths::resolve(paths::kDataFolder); }
QString recordsPath() { return paths::resolve(paths::kReceivedMailFile); }
QString recordsTempPath() { return paths::resolve(paths::kReceivedMailTemp); }
QString indexTempPath() { return paths::resolve(QStringLiteral("★MAilData/received-originals.tmp")); }
QString deleteJournalPath() { return paths::resolve(QStringLiteral("★MAilData/delete-journal.txt")); }
QString lockPath() { return paths::resolve(QStringLiteral("★MAilData/receive.lock")); }

QByteArray encoded(const QString& path) { return QFile::encodeName(path); }

bool writeAllAt(int fd, const char* p, qint64 len, qint64 at) {
  while (len > 0) {
    const ssize_t w = ::pwrite(fd, p, size_t(len), at);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    len -= w;
    at += w;
  }
  return true;
}

bool readAllAt(int fd, char* p, qint64 len, qint64 at) {
  while (len > 0) {
    const ssize_t r = ::pread(fd, p, size_t(len), at);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    p += r;
    len -= r;
    at += r;
  }
  return true;
}

qint64 sizeOf(int fd) {
  struct stat st;
  return ::fstat(fd, &st) == 0 ? qint64(st.st_size) : -1;
}

namespace {
QByteArray identityOf(const struct stat& st) {
  return QByteArray::number(qulonglong(st.st_dev)) + ':' + QByteArray::number(qulonglong(st.st_ino));
}
}  // namespace

QByteArray identityOf(int fd) {
  struct stat st;
  return ::fstat(fd, &st) == 0 ? identityOf(st) : QByteArray();
}

QByteArray identityOf(const QString& path) {
  struct stat st;
  return ::stat(encoded(path).constData(), &st) == 0 ? identityOf(st) : QByteArray();
}

QByteArray readWhole(const QString& path, bool* exists, Fault* fault) {
  QFile f(path);
  *exists = f.exists();
  if (!*exists) return {};
  if (!f.open(QIODevice::ReadOnly)) {
    if (fault) *fault = {Code::Unreadable, path, f.errorString()};
    *exists = false;
    return {};
  }
  return f.readAll();
}

bool pastEnd(qint64 offset, qint64 length, qint64 size) { return size < 0 || length > size || offset > size - length; }

}  // namespace received::files

namespace received {

MailFiles receivedFiles() {
  using namespace files;
  return {recordsPath(),   recordsTempPath(),   originalsPath(),      originalsIndexPath(),
          indexTempPath(), deleteJournalPath(), receiveJournalPath(), lockPath()};
}

}  // namespace received
