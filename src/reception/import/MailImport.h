#pragma once
// Mail brought in from other programs: an mbox file, a single mail file
// (.eml) or a Maildir folder (cur/ and new/). Each mail is stored as a
// received mail, its original kept, through the same decoding and the same
// journalled batches as a mail check (reception::BatchStore on
// received::ReceivedStore), under the check's lock, so that it never runs
// beside a check. A mail the received-mail file holds already (the same
// identity a check gives it) is skipped, and so is one met twice. After a
// kill each mail is there whole with its original or not at all: bringing
// the same file in again stores the rest.
//
// Nothing here words anything: codes and counts (ImportWords words them).
#include "reception/CheckSink.h"
#include "store/received/Fault.h"

#include <QList>
#include <QString>

namespace mailimport {

struct ImportCounts {
  int stored = 0;
  int duplicates = 0;
  int unreadable = 0;  // not a mail, too large, or a file that could not be read
  int leftOut = 0;     // mails not stored because the received-mail file was full
};

struct ImportProgress {
  ImportCounts counts;
  qint64 bytesDone = 0;  // of the files read
  qint64 bytesTotal = 0;
};

class ImportSink {
 public:
  virtual ~ImportSink() = default;
  // At most ten times a second.
  virtual void progress(const ImportProgress& p) { Q_UNUSED(p); }
  // True ends the import after the mail in hand; what is stored stays.
  virtual bool stopRequested() { return false; }
};

enum class ImportCode {
  None,
  NotFound,        // path: neither a file nor a folder
  NotMailFolder,   // path: a folder without cur/ or new/
  Unopenable,      // path, detail: the file or folder could not be read
  Busy,            // a check works on the program folder (fault)
  LockFailed,      // fault
  RecoveryFailed,  // fault: what an interrupted check left could not be made whole
  RecordsFile,     // path, detail: the received-mail file cannot be made or opened
  Originals,       // fault: the kept originals could not be read
};

struct ImportFailure {
  ImportCode code = ImportCode::None;
  QString path = {};
  QString detail = {};
  received::Fault fault = {};
  explicit operator bool() const { return code != ImportCode::None; }
};

struct ImportSummary {
  ImportFailure failure;  // set: nothing was brought in
  ImportCounts counts;
  bool stopped = false;   // the user stopped it
  // Mails the store could not take (an attached file not written) and what
  // stopped storing (a full disk), as the check reports them.
  QList<reception::LeftMail> left;
  QList<reception::CheckProblem> problems;
  // Whether every mail read was stored or was there already.
  bool complete() const { return !failure && !stopped && counts.leftOut == 0 && left.isEmpty() && problems.isEmpty(); }
};

// The mailbox, mail file or Maildir at `path` brought in.
ImportSummary importMail(const QString& path, ImportSink& sink);

// tomoshibi --import FILE|FOLDER: the summary on standard output, problems
// on standard error; 0 when every mail read is stored or was there
// already, 75 when a check was running (nothing changed), else 1.
int RunImport(const QString& path);

}  // namespace mailimport
