// Deleting received mail: the mail of the selected row, or all of it. Both
// rewrite the file through its temporary copy, together with the originals
// of the mails, so that a crash leaves either the old or the new mails, and
// list the file again afterwards.
#include "platform/MsgBox.h"
#include "platform/Paths.h"
#include "platform/Text.h"
#include "reception/Originals.h"
#include "reception/ReceiveJournal.h"
#include "shell/MainForm.h"
#include "shell/SharedState.h"
#include "store/RecordFile.h"
#include "store/Records.h"
#include "viewer/MailListModel.h"
#include "viewer/ReceivedMail.h"
#include "viewer/TyakuForm.h"

#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QThreadPool>
#include <QTreeView>
#include <algorithm>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kLength = store::MailRecord::kLength;

QString mailFile() { return paths::resolve(paths::kReceivedMailFile); }

const QString kNoSelection = QStringLiteral("データが選択されていません");

// Replacing the file frees the storage of the old one, which for a full
// file keeps the file system busy for about half a second. Holding the old
// file open across the rewrite moves that work to the moment the last
// descriptor closes, and that happens on a worker thread.
class OldFileRelease {
 public:
  explicit OldFileRelease(const QString& path)
      : fd_(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC)) {}
  ~OldFileRelease() {
    if (fd_ < 0) return;
    const int fd = fd_;
    QThreadPool::globalInstance()->start([fd] { ::close(fd); });
  }
  OldFileRelease(const OldFileRelease&) = delete;
  OldFileRelease& operator=(const OldFileRelease&) = delete;

 private:
  int fd_;
};

// A mail check appending meanwhile (tomoshibi --check from a timer) would
// have its records lost by the rewrite: the rewrite waits for no check and
// takes the check's lock, or says why it cannot.
std::optional<reception::CheckLock> lockAgainstCheck() {
  QString why;
  std::optional<reception::CheckLock> lock = reception::lockForRewrite(&why);
  if (!lock) MsgBox(why, MsgButtons::Ok, MsgIcon::Exclamation);
  return lock;
}

}  // namespace

void TyakuForm::Command3_Click() {
  if (Text5->text().isEmpty()) {
    MsgBox(kNoSelection);
    return;
  }
  // A marker without a selected row (a click beside the rows) selects nothing.
  const int row = selectedRow();
  if (row < 0) {
    Text5->clear();
    MsgBox(kNoSelection);
    return;
  }
  shared::CurrentRecordNumber = int16_t(row + 1);
  if (MsgBox(QStringLiteral("選択された（行、青色）データを削除します。よろしいですか"), MsgButtons::YesNo,
             MsgIcon::Question, QStringLiteral("確認")) != MsgResult::Yes) {
    rtfEd->setFocus();
    rtfEd->clear();
    Text5->clear();
    return;
  }
  rtfEd->setFocus();
  Text5->clear();
  if (viewer::dataFolderMissing()) {
    viewer::reportDataFolderMissing();
    return;
  }
  const std::optional<reception::CheckLock> lock = lockAgainstCheck();
  if (!lock) return;
  int recordsBefore = -1;
  {
    store::RecordFile f(mailFile(), kLength);
    if (f.open()) recordsBefore = f.recordCount();
  }
  // The record is marked and the file rewritten without it.
  store::ReceivedMailBuffer().setLiveFlag(0);
  Text7->clear();
  Text8->clear();
  Text9->clear();
  rtfEd->clear();
  const int listed = mailList->rowCount();
  store::StoreResult done;
  {
    OldFileRelease old(mailFile());
    done = reception::deleteReceivedMails({shared::CurrentRecordNumber});
  }
  if (!done.ok) MsgBox(done.error, MsgButtons::Ok, MsgIcon::Exclamation);
  // The list shows what the file holds now. When the file held
  // exactly the listed mails and lost exactly one, that is the list without
  // the deleted row, and only the new last record needs reading.
  if (done.ok && recordsBefore == listed && done.survivors == listed - 1)
    dropRowAfterDelete(row);
  else
    relistAfterDelete();
}

void TyakuForm::dropRowAfterDelete(int row) {
  mailList->removeHead(row);
  MailListView->clearSelection();
  const int rows = mailList->rowCount();
  if (rows > 0) {
    store::RecordFile f(mailFile(), kLength);
    QByteArray last;
    if (!f.open() || f.read(rows, last) != store::ReadResult::Ok) {
      relistAfterDelete();
      return;
    }
    store::ReceivedMailBuffer().setBytes(last);
    showRecord(store::ReceivedMailBuffer(), false);
  }
  setCount(rows);
}

void TyakuForm::relistAfterDelete() {
  mailList->clear();
  // The boxes end on the last record, its header fields as stored.
  listFile(false);
}

void TyakuForm::Command6_Click() {
  if (MsgBox(QStringLiteral("すべてのデータを削除して良いですか？"), MsgButtons::YesNo, MsgIcon::Question,
             QStringLiteral("確認")) != MsgResult::Yes)
    return;
  if (viewer::dataFolderMissing()) {
    viewer::reportDataFolderMissing();
    return;
  }
  const std::optional<reception::CheckLock> lock = lockAgainstCheck();
  if (!lock) return;
  // Every complete record goes; a partial last record is dropped by the
  // rewrite all the same.
  QList<int> all;
  {
    store::RecordFile f(mailFile(), kLength);
    if (f.open()) {
      const int complete = f.recordCount();
      shared::CurrentRecordNumber = int16_t(complete);
      all.reserve(complete);
      for (int i = 1; i <= complete; ++i) all.append(i);
    }
  }
  store::StoreResult done;
  {
    OldFileRelease old(mailFile());
    done = reception::deleteReceivedMails(all);
  }
  if (!done.ok) {
    // Nothing was rewritten: the list shows what the file still holds.
    MsgBox(done.error, MsgButtons::Ok, MsgIcon::Exclamation);
    relistAfterDelete();
    return;
  }
  // As after any delete, no row is selected and the marker is empty.
  mailList->clear();
  Text5->clear();
  if (MainForm* main = MainForm::instance()) main->Text1->setPlainText(QStringLiteral("0"));
  setCount(0);
  Text7->clear();
  Text8->clear();
  Text9->clear();
  rtfEd->clear();
}
