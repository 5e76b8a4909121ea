#pragma once
// Writes that survive a crash or a power cut: data reaches the disk before a
// later step depends on it, and a replaced file is either wholly old or
// wholly new under its name.
#include <QByteArray>
#include <QString>

namespace durable {

// fsync of an open descriptor / of a folder's entry list.
bool syncFd(int fd);
bool syncFolder(const QString& folder);

// Replace `path` with `data`: write a sibling temporary file, flush it,
// rename it over `path`, flush the folder. `mode` is the permission of the
// new file; -1 keeps the permission of an existing file (0644 for a new one).
bool replaceFile(const QString& path, const QByteArray& data, int mode = -1, QString* error = nullptr);

// Text of errno for messages shown to the user.
QString lastErrorText();

}  // namespace durable
