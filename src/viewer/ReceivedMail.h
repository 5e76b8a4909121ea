#pragma once
// Reading the received-mail file for the viewer's list, and the viewer's
// word for a missing data folder.
#include "store/RecordFile.h"
#include "store/Records.h"

#include <QByteArray>
#include <QString>
#include <optional>

namespace viewer {

// What the list needs of the received-mail file: the head (subject, date,
// sender) of every complete record, in record order, and the last record
// whole. At most 32767 records are listed.
struct MailListScan {
  bool opened = false;  // false: nothing could be read; see failure
  bool folderMissing = false;
  store::StoreFailure failure;  // set when opening or a read failed
  QByteArray heads;  // MailListModel::kHeadLength bytes per record
  int rows = 0;
  qint64 recordsInFile = 0;  // complete records, beyond 32767 too
  store::MailRecord last;    // record `rows`, when rows > 0
};
MailListScan scanReceivedMail();
// The same of another file of mail records (the sent mail).
MailListScan scanRecordsOf(const QString& path);

// The header block of the original of received-mail record `number` (whose
// bytes are `record`), exactly as the server sent it; none when no original
// is kept for that mail.
std::optional<QByteArray> originalHeader(int number, const QByteArray& record);

// True when the program folder has no data folder: nothing can be read or written.
bool dataFolderMissing();
// One message naming the folder and how to lay it out again.
void reportDataFolderMissing();

}  // namespace viewer
