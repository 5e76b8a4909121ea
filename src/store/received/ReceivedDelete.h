#pragma once
// Deleting received mail (or another set of MailFiles): the records and their originals in one
// journalled step (see Originals.h), and what a delete cut off left made
// whole. The caller holds the check's lock (ReceivedStore does).
#include "Fault.h"
#include "MailFiles.h"

#include <QList>

namespace received {

struct Removal {
  Fault fault;           // none: done
  bool started = false;  // the files were taken up (false: the lock or recovery failed, nothing changed)
  int before = -1;       // complete records the file held (-1: not known)
  int survivors = 0;     // records it holds now
  bool ok() const { return !fault; }
};

// Deletes the records `numbers` of the received-mail file (as
// store::deleteRecords does: records marked 0 and a partial tail go too)
// together with their originals. A folder without originals is rewritten
// exactly as before. With `alsoOnServer`, the mails among them that were
// left on the server are noted in that ledger (LeftOnServer.h) as deleted
// here, in the same journalled step, for the next check to delete there.
Removal deleteReceivedMails(const QList<int>& numbers, const MailFiles& files = receivedFiles(),
                            bool alsoOnServer = false);

// What a delete that was cut off left, made whole: finished when it had
// decided (its journal committed), else undone.
bool recoverInterruptedDelete(Fault* fault, const MailFiles& files = receivedFiles());

// True when a delete has decided (its journal is whole on the disk) and
// is not finished yet.
bool deleteDecided(const MailFiles& files = receivedFiles());

}  // namespace received
