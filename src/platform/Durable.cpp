#include "Durable.h"

#include "Handles.h"
#include "Paths.h"
#include "TestHooks.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QRandomGenerator>
#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace durable {

namespace {

constexpr char kDigits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr int kBase = 62;
constexpr int kRandomLength = 3;
constexpr int kSuffixLength = 6;
// "." before the name and "." with the suffix after it.
constexpr int kTempExtra = 2 + kSuffixLength;

// The name part of a temporary name: the file's own name, cut (at a whole
// UTF-8 character) when the whole would pass the file system's limit.
QByteArray tempStem(const QByteArray& name) {
  if (name.size() + kTempExtra <= NAME_MAX) return name;
  qsizetype cut = NAME_MAX - kTempExtra;
  while (cut > 0 && (uchar(name[cut]) & 0xC0) == 0x80) --cut;
  return name.left(cut);
}

// The last three characters of the suffix follow from the file's whole name
// and the first three, so a name is only taken for a temporary file of ours
// when it was made as one (a user's ".memo.txt.backup" is not).
QByteArray checkPart(const QByteArray& name, const QByteArray& random) {
  const QByteArray h = QCryptographicHash::hash(name + '/' + random, QCryptographicHash::Sha1);
  quint32 n = (quint32(uchar(h[0])) << 16 | quint32(uchar(h[1])) << 8 | uchar(h[2])) % (kBase * kBase * kBase);
  QByteArray out(3, '0');
  for (int i = 2; i >= 0; --i, n /= kBase) out[i] = kDigits[n % kBase];
  return out;
}

QByteArray tempName(const QByteArray& name) {
  QByteArray random(kRandomLength, '0');
  for (char& c : random) c = kDigits[QRandomGenerator::system()->bounded(kBase)];
  return '.' + tempStem(name) + '.' + random + checkPart(name, random);
}

bool isTempNameOf(const QByteArray& entry, const QByteArray& name) {
  const QByteArray prefix = '.' + tempStem(name) + '.';
  if (entry.size() != prefix.size() + kSuffixLength || !entry.startsWith(prefix)) return false;
  const QByteArray suffix = entry.mid(prefix.size());
  for (char c : suffix)
    if (!std::strchr(kDigits, c) || c == '\0') return false;
  return checkPart(name, suffix.left(kRandomLength)) == suffix.mid(kRandomLength);
}

// Removes the temporary files of `name` in `folder` that a killed write
// left. A write still going on holds a lock on its file and is passed by.
void removeLeftovers(const QByteArray& folder, const QByteArray& name) {
  DIR* dir = ::opendir(folder.constData());
  if (!dir) return;
  const int dfd = ::dirfd(dir);
  while (const dirent* e = ::readdir(dir)) {
    if (!isTempNameOf(QByteArray(e->d_name), name)) continue;
    struct stat st;
    if (::fstatat(dfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid())
      continue;
    const handles::Fd fd(::openat(dfd, e->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat opened;
    if (!fd || ::fstat(fd.get(), &opened) != 0 || opened.st_ino != st.st_ino || opened.st_dev != st.st_dev) continue;
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) continue;
    ::unlinkat(dfd, e->d_name, 0);
  }
  ::closedir(dir);
}

}  // namespace

bool syncFd(int fd) { return ::fsync(fd) == 0; }

void Writeback::appended(int fd, qint64 end) {
  const qint64 whole = end & ~(kPage - 1);
  // What the file held before this program appended is not this run's.
  if (started_ < 0) started_ = whole;
  if (whole - started_ < kStep) return;
  ::sync_file_range(fd, started_, whole - started_, SYNC_FILE_RANGE_WRITE);
  started_ = whole;
}

bool syncFolder(const QString& folder) {
  const handles::Fd fd(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return fd && ::fsync(fd.get()) == 0;
}

QString lastErrorText() { return QString::fromLocal8Bit(std::strerror(errno)); }

bool replaceFile(const QString& path, const QByteArray& data, int mode, QString* error) {
  const QFileInfo fi(path);
  const QString folder = fi.absolutePath();
  const QByteArray folderName = QFile::encodeName(folder);
  const QByteArray name = QFile::encodeName(fi.fileName());
  // -1 with a new file elsewhere: the file is created 0666 and the umask
  // (and any default ACL of the folder) decides.
  bool userUmask = false;
  if (mode < 0) {
    struct stat st;
    if (paths::insideProgramFolder(path))
      mode = kPrivateFile;
    else if (::stat(QFile::encodeName(path).constData(), &st) == 0)
      mode = int(st.st_mode & 07777);
    else
      userUmask = true;
  }
  removeLeftovers(folderName, name);

  QByteArray tmp;
  handles::Fd fd;
  for (int attempt = 0; attempt < 100 && !fd; ++attempt) {
    tmp = folderName + '/' + tempName(name);
    fd.reset(::open(tmp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, userUmask ? 0666 : 0600));
    if (!fd && errno != EEXIST) break;
  }
  if (!fd) {
    if (error) *error = lastErrorText();
    return false;
  }
  // While the lock is held, no later write takes this file for a leftover.
  ::flock(fd.get(), LOCK_EX | LOCK_NB);
  auto fail = [&] {
    if (error) *error = lastErrorText();
    const int saved = errno;
    ::unlink(tmp.constData());
    fd.reset();
    errno = saved;
    return false;
  };
  if (!userUmask && ::fchmod(fd.get(), mode_t(mode)) != 0) return fail();  // the umask must not widen or narrow it
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
#ifdef TOMOSHIBI_TEST_HOOKS
  if (testhooks::replaceFile && !testhooks::replaceFile(QFile::decodeName(tmp))) {
    errno = EIO;
    return fail();
  }
#endif
  if (::rename(tmp.constData(), QFile::encodeName(path).constData()) != 0) return fail();
  fd.close();  // the data is on the disk already
  syncFolder(folder);
  return true;
}

int openPrivate(const QString& path, int flags, bool* created) {
  const QByteArray p = QFile::encodeName(path);
  if (created) *created = false;
  for (int attempt = 0; attempt < 10; ++attempt) {
    int fd = ::open(p.constData(), flags | O_CLOEXEC);
    if (fd >= 0 || errno != ENOENT) return fd;
    fd = ::open(p.constData(), flags | O_CREAT | O_EXCL | O_CLOEXEC, kPrivateFile);
    if (fd >= 0) {
      ::fchmod(fd, kPrivateFile);  // a umask that takes the owner's bits must not either
      if (created) *created = true;
      return fd;
    }
    if (errno != EEXIST) return -1;  // made by someone else in between: open that one
  }
  return -1;
}

bool makePrivateFolder(const QString& path) {
  const QByteArray p = QFile::encodeName(path);
  if (::mkdir(p.constData(), kPrivateFolder) == 0) {
    ::chmod(p.constData(), kPrivateFolder);
    return true;
  }
  struct stat st;
  return errno == EEXIST && ::stat(p.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace durable
