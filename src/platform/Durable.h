#pragma once
// Writes that survive a crash or a power cut: data reaches the disk before a
// later step depends on it, and a replaced file is either wholly old or
// wholly new under its name.
#include <QByteArray>
#include <QString>

namespace durable {

// What the program keeps for the user inside the program folder is the
// user's alone, whatever the umask.
inline constexpr int kPrivateFile = 0600;
inline constexpr int kPrivateFolder = 0700;

// fsync of an open descriptor / of a folder's entry list.
bool syncFd(int fd);
bool syncFolder(const QString& folder);

// The writeback of a file appended to, started a megabyte at a time while
// more is appended, so that the fsync that makes it durable finds most of
// it written. Whole pages only: a page the next append writes into again
// is left for that fsync. Only a hint: it makes nothing durable.
class Writeback {
 public:
  // The file now reaches `end`.
  void appended(int fd, qint64 end);
  // The file was cut back to `end`.
  void cut(qint64 end) {
    if (end < started_) started_ = end & ~(kPage - 1);
  }

 private:
  static constexpr qint64 kPage = 4096;
  static constexpr qint64 kStep = 1024 * 1024;
  qint64 started_ = -1;  // up to where it was started; -1: where the file stood is not known yet
};

// Replace `path` with `data`: write a temporary file of a fresh name beside
// it (".NAME.XXXXXX", made with O_EXCL, so nothing of the user's is ever
// written over), flush it, rename it over `path`, flush the folder. Such
// names that a killed write left behind are removed at the next write of
// the same file. `mode` is the permission of the new file; with -1 it is
// 0600 inside the program folder, and elsewhere an existing file keeps its
// permission while a new one gets the user's umask (0666 & ~umask).
bool replaceFile(const QString& path, const QByteArray& data, int mode = -1, QString* error = nullptr);

// Opens `path` with `flags` (O_RDWR, O_WRONLY...), first creating it with
// permission 0600 when it does not exist. A descriptor, or -1 with errno.
// `created` tells whether this call made the file.
int openPrivate(const QString& path, int flags, bool* created = nullptr);

// Makes the folder `path` (its parent must exist) with permission 0700. True
// when it is a folder afterwards, made now or there before.
bool makePrivateFolder(const QString& path);

// Text of errno for messages shown to the user.
QString lastErrorText();

}  // namespace durable
