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
