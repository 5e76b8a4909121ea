#pragma once
// The originals of received mail handed out: one mail as a .eml file, all
// of them as one mbox file (mboxrd: every line that starts with ">…From "
// gets one more ">", so that a reader can undo it). Both only read the data
// folder: the file written is a snapshot of what the archive holds.
#include <QByteArray>
#include <QString>

namespace reception {

// The words for a mail received before originals were kept.
QString noOriginalText();

// One mail as an mbox entry: its "From " line (sender and time of receipt),
// its lines quoted and ended with LF, and the empty line that ends it.
QByteArray mboxrdEntry(const QByteArray& original, qint64 receivedSecs);

// Writes `bytes` to `target` whole or not at all (a temporary beside it).
// A target that is, or leads by links to, a file of the data folder is
// refused.
bool writeExportFile(const QString& target, const QByteArray& bytes, QString* error);

struct ExportSummary {
  bool ok = false;
  int exported = 0;
  int withoutOriginal = 0;  // records listed but not in the file
  int unreadable = 0;       // of those, the ones whose original is lost, changed or unreadable
  QString error;
  // What a user is told when it went well.
  QString text(const QString& target) const;
};
// Every record of the received-mail file that has its original, in the
// order of the list, into the mbox file `target` (refused as above).
ExportSummary exportMbox(const QString& target);

// tomoshibi --export-mbox FILE: the exit status (0 done, 1 not).
int RunExportMbox(const QString& target);

}  // namespace reception
