#pragma once
// The originals of received mail handed out: one mail as a .eml file, all
// of them as one mbox file (mboxrd: every line that starts with ">…From "
// gets one more ">", so that a reader can undo it). Both only read the data
// folder: the file written is a snapshot of what the archive holds.
#include "store/received/Fault.h"
#include "store/received/MailFiles.h"

#include <QByteArray>
#include <QString>

namespace reception {

// Why an export failed: a code with what it concerns. The sentence a user
// reads is made by the viewer and the headless entry (ExportWords.h).
struct ExportFault {
  enum class Code {
    None,
    LinksUnresolved,   // path: the target's links go round
    InsideDataFolder,  // the target is, or leads to, the data folder or a file in it
    Unsaved,           // detail: the system's words on the file written
    Unwritable,        // path, detail: the mbox file could not be written
    Received,          // received: the received mail could not be read
  };
  Code code = Code::None;
  QString path = {};
  QString detail = {};
  received::Fault received = {};

  explicit operator bool() const { return code != Code::None; }
};

// The last word of every "From " line the export writes: a reader that
// brings the file in again (mailimport) knows from it that the entry's
// lines were quoted one level more, not only those that start "From ".
inline constexpr char kExportMark[] = "tomoshibi-mboxrd";

// One mail as an mbox entry: its "From " line (sender, time of receipt and
// the export's mark), its lines quoted and ended with LF, and the empty
// line that ends it.
QByteArray mboxrdEntry(const QByteArray& original, qint64 receivedSecs);

// Writes `bytes` to `target` whole or not at all (a temporary beside it).
// A target that is, or leads by links to, a file of the data folder is
// refused.
bool writeExportFile(const QString& target, const QByteArray& bytes, ExportFault* fault);

struct ExportSummary {
  bool ok = false;
  int exported = 0;
  int withoutOriginal = 0;  // records listed but not in the file
  int unreadable = 0;       // of those, the ones whose original is lost, changed or unreadable
  ExportFault fault;
};
// Every record of the received-mail file that has its original, in the
// order of the list, into the mbox file `target` (refused as above).
ExportSummary exportMbox(const QString& target);
// The same of another set of kept mail (the sent mail), with the time each
// was kept in its "From " line.
ExportSummary exportMbox(const QString& target, const received::MailFiles& files);

// tomoshibi --export-mbox FILE: the exit status (0 done, 1 not).
int RunExportMbox(const QString& target);

}  // namespace reception
