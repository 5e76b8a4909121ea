#pragma once
// The heads of a mail-record file kept in a small file beside it
// ("<records>.heads"), so that the list fills from a few megabytes instead
// of a few hundred bytes out of every record of a gigabyte.
//
// It is a cache and never trusted over the records: it holds the identity,
// length and change times of the record file it was made from, and any
// difference (a mail received, one deleted, the file copied or touched)
// makes it stale. The list is then read from the records and the index made
// again. A damaged or foreign index is stale too. Nothing writes it but the
// list; removing it loses nothing.
#include <QByteArray>
#include <QString>
#include <optional>

namespace viewer {

// What the record file was when the index was made.
struct RecordFileStamp {
  qint64 device = 0;
  qint64 inode = 0;
  qint64 length = 0;
  qint64 modifiedNs = 0;
  qint64 changedNs = 0;
  bool operator==(const RecordFileStamp&) const = default;
};

// The stamp of the open file `fd`; none when it cannot be read.
std::optional<RecordFileStamp> stampOf(int fd);

// Where the index of the record file `recordsPath` lives.
QString headIndexPath(const QString& recordsPath);

// The heads the index holds (`headLength` bytes per record, `rows` of them),
// when it was made from the file as `stamp` describes it; none when it is
// missing, stale or damaged.
std::optional<QByteArray> readHeadIndex(const QString& recordsPath, const RecordFileStamp& stamp, int headLength,
                                        int rows);

// Writes the index of the file as `stamp` describes it: in full under
// another name, then renamed over the old one, readable by its owner only.
// False when it could not be written (the list does not need it).
bool writeHeadIndex(const QString& recordsPath, const RecordFileStamp& stamp, int headLength,
                    const QByteArray& heads);

}  // namespace viewer
