#pragma once
// What went wrong with the files of received mail, as a code with what it
// concerns: the file, and the system's own words, or the record file's
// failure. The sentence a user reads is made by the windows and the
// headless check (reception/ReceivedWords), never here.
#include "store/RecordFile.h"

#include <QString>

namespace received {

enum class Code {
  None,
  // The check lock.
  CheckRunning,  // another check holds the program folder
  LockUnmade,    // path, detail: the lock file cannot be made
  LockUntaken,   // path, detail: the lock cannot be taken
  // Files of the data folder.
  Unopenable,      // path, detail
  Unreadable,      // path, detail
  Unwritable,      // path, detail
  Unremovable,     // path, detail
  Unmendable,      // path, detail: an index damaged from outside stays so
  FolderUnsynced,  // detail
  Records,            // records: the record file's failure
  RecordsUnreadable,  // records: the record file's failure, while reading
  RecordsFull,        // the received-mail file holds store::kMaxRecords records
  // The receive journal and its recovery.
  JournalUnreadable,  // path, detail
  JournalUnwritable,  // path, detail
  CutBackFailed,      // path, detail: an appended file not cut back to its commit
  UidListUnreadable,  // detail
  UidListUnwritable,  // detail
  // The originals.
  OriginalsUnopenable,  // detail
  OriginalUnwritable,   // detail
  IndexUnwritable,      // detail
  OriginalsUnsynced,    // detail
  OriginalMissing,      // the mail came before originals were kept
  OriginalLost,         // path: its bytes went from outside
  OriginalChanged,      // path: its bytes are not those received
  // The journalled delete.
  DeleteJournalUnwritable,  // detail
  DeleteUnfinished,         // path, detail: finished by the next check or delete
};

struct Fault {
  Code code = Code::None;
  QString path = {};
  QString detail = {};
  store::StoreFailure records = {};

  explicit operator bool() const { return code != Code::None; }
};

inline Fault fault(Code code, const QString& path = {}, const QString& detail = {}) { return {code, path, detail}; }
// A failure of the received-mail file itself.
inline Fault recordsFault(const store::StoreFailure& failure, Code code = Code::Records) {
  return {code, {}, {}, failure};
}

}  // namespace received
