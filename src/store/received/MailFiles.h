#pragma once
// The files of one kind of kept mail in the data folder: the record file
// and its rewrite copy, the originals and their index, and the journals and
// the lock that keep them together. Received mail has one set, sent mail
// (store/sent) another; the machinery of this library serves either.
#include <QString>

namespace received {

struct MailFiles {
  QString records;        // the fixed-length mail records
  QString recordsTemp;    // the records' copy while a delete rewrites them
  QString originals;      // the mails' bytes, one after another
  QString index;          // one line per original (Originals.h)
  QString indexTemp;      // the index's draft while a delete rewrites it
  QString deleteJournal;  // a delete's decision (ReceivedDelete.h)
  QString journal;        // the batches of an append (ReceiveJournal.h)
  QString lock;           // one writer at a time (CheckLock.h)
};

// The received mail's set: the check's files.
MailFiles receivedFiles();

}  // namespace received
