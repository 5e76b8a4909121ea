// Deleting received mail: the mail of the selected row, or all of it. The
// received-mail store deletes (records and originals together, whole or
// not at all, under the check's lock); the window shows what came of it.
#include "platform/Paths.h"
#include "platform/SharedState.h"
#include "platform/ui/MsgBox.h"
#include "reception/ReceivedWords.h"
#include "settings/files/AccountSettings.h"
#include "store/RecordFile.h"
#include "store/Records.h"
#include "store/received/ReceivedStore.h"
#include "viewer/MailListModel.h"
#include "viewer/ReceivedMail.h"
#include "viewer/TyakuForm.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTreeView>

namespace {

constexpr int kLength = store::MailRecord::kLength;

QString mailFile() { return paths::resolve(paths::kReceivedMailFile); }

const QString kNoSelection = QStringLiteral("データが選択されていません");

void reportFailure(const received::Removal& done) {
  MsgBox(reception::faultText(done.fault), MsgButtons::Ok, MsgIcon::Exclamation);
}

// Whether the mails deleted here go on the server too, where they were left.
bool deletesThere() {
  const AccountSettingsRecord& s = AccountSettings();
  return s.LeaveOnServer && s.LeaveDeleteWithHere;
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
  const int listed = mailList->rowCount();
  const received::Removal done = received::ReceivedStore::remove({shared::CurrentRecordNumber}, received::receivedFiles(), deletesThere());
  if (!done.started) {
    // A check running, or what an interrupted one left not made whole:
    // nothing was touched.
    reportFailure(done);
    return;
  }
  // The record was marked and the file rewritten without it.
  store::ReceivedMailBuffer().setLiveFlag(0);
  Text7->clear();
  Text8->clear();
  Text9->clear();
  rtfEd->clear();
  if (!done.ok()) reportFailure(done);
  // The list shows what the file holds now. When the file held
  // exactly the listed mails and lost exactly one, that is the list without
  // the deleted row, and only the new last record needs reading.
  if (done.ok() && done.before == listed && done.survivors == listed - 1)
    dropRowAfterDelete(row);
  else
    relistAfterDelete();
}

void TyakuForm::dropRowAfterDelete(int row) {
  mailList->removeRecord(row);
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
  const received::Removal done = received::ReceivedStore::removeAll(received::receivedFiles(), deletesThere());
  if (!done.started) {
    reportFailure(done);
    return;
  }
  if (done.before >= 0) shared::CurrentRecordNumber = int16_t(done.before);
  if (!done.ok()) {
    // Nothing was rewritten: the list shows what the file still holds.
    reportFailure(done);
    relistAfterDelete();
    return;
  }
  // As after any delete, no row is selected and the marker is empty.
  mailList->clear();
  Text5->clear();
  showAllDeleted();
  Text7->clear();
  Text8->clear();
  Text9->clear();
  rtfEd->clear();
}
