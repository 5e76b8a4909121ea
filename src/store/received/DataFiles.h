#pragma once
// What the units of this library share about the data folder: where its
// files of received mail lie, and whole reads and writes at an offset.
#include "Fault.h"

#include <QByteArray>
#include <QString>

namespace received::files {

QString dataFolder();
QString recordsPath();
QString recordsTempPath();
QString indexTempPath();
QString deleteJournalPath();
QString lockPath();

QByteArray encoded(const QString& path);
bool writeAllAt(int fd, const char* p, qint64 len, qint64 at);
bool readAllAt(int fd, char* p, qint64 len, qint64 at);
// The size of an open file; -1 when it cannot be told.
qint64 sizeOf(int fd);
// DEV:INODE of an open file or of a path; empty when it cannot be told.
QByteArray identityOf(int fd);
QByteArray identityOf(const QString& path);
// A whole file; `exists` false when there is none or it cannot be read
// (then with an Unreadable fault).
QByteArray readWhole(const QString& path, bool* exists, Fault* fault);
// True when [offset, offset + length) reaches past a file of `size` bytes.
bool pastEnd(qint64 offset, qint64 length, qint64 size);

}  // namespace received::files
