#include "HeldPanel.h"

#include "composer/BackColor.h"
#include "composer/model/HeldMail.h"
#include "platform/SharedState.h"
#include "platform/ui/MsgBox.h"
#include "store/words/StoreWords.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>

namespace {

const QString kNoSelection = QStringLiteral("データが選択されていません");
const QString kRecallCaption = QStringLiteral("　アドレス呼出");

// The selected row of the list, or -1.
int selectedRow(const HeldPanel& p) {
  const int row = p.list->currentRow();
  if (row < 0 || row >= p.rowRecordMap->size() || !p.list->item(row)->isSelected()) return -1;
  return row;
}

// Each row carries the fingerprint of the record it was listed from.
constexpr int kFingerprintRole = Qt::UserRole + 1;

// The fingerprint of the record the row was listed from. Another window
// may have held or deleted mails since the list was filled: the row then
// stands for another record, perhaps one with the same subject.
QByteArray listedFingerprint(const HeldPanel& p, int row) {
  return p.list->item(row)->data(kFingerprintRole).toByteArray();
}

void reportStaleList(const HeldPanel& p) {
  MsgBox(QStringLiteral("保留メールの一覧が古くなっていたため、読み直しました。もう一度選択して下さい。"), MsgButtons::Ok,
         MsgIcon::Exclamation);
  LoadHeldList(p);
}

heldmail::Mail mailIn(const HeldPanel& p) { return {p.to->text(), p.subject->text(), p.body->toPlainText()}; }

}  // namespace

bool WriteHeldRecord(const HeldPanel& p, int n) {
  heldmail::fillBuffer(mailIn(p));
  const store::StoreResult done = heldmail::writeBuffer(n);
  if (!done.ok) MsgBox(store::failureText(done.failure), MsgButtons::Ok, MsgIcon::Exclamation);
  return done.ok;
}

void LoadHeldList(const HeldPanel& p) {
  p.list->clear();
  p.rowRecordMap->clear();
  const heldmail::Listing held = heldmail::list();
  if (held.failure) MsgBox(store::failureText(held.failure), MsgButtons::Ok, MsgIcon::Exclamation);
  p.list->addItems(held.subjects);
  for (int row = 0; row < held.fingerprints.size(); ++row)
    p.list->item(row)->setData(kFingerprintRole, held.fingerprints[row]);
  *p.rowRecordMap = held.numbers;
  if (p.count) p.count->setText(QString::number(p.list->count()));
}

void ToggleDraftPanel(const HeldPanel& p) {
  if ((shared::DraftPanelCounter & 1) == 0) {
    p.panel->show();
    p.draftButton->setText(kRecallCaption);
  } else {
    p.panel->hide();
    p.draftButton->setText(QStringLiteral("下書き"));
  }
  ++shared::DraftPanelCounter;
}

void HoldMail(const HeldPanel& p) {
  p.picked->clear();
  if (p.subject->text().isEmpty()) {
    MsgBox(QStringLiteral("件名が空白です。保存出来ません。"), MsgButtons::Ok, MsgIcon::Information);
    return;
  }
  if (MsgBox(QStringLiteral("作成したメールを保留し（保存）後で送信しますか？ 保存後、内容をクリアします。"),
             MsgButtons::YesNo, MsgIcon::Question, QStringLiteral("確認")) != MsgResult::Yes)
    return;
  // The boxes are emptied after holding: whatever does not fit the record
  // would be gone for good, so the user decides first.
  const QStringList lost = heldmail::losses(mailIn(p));
  if (!lost.isEmpty() &&
      MsgBox(lost.join(u'\n') + QStringLiteral("\n\nこのまま保存しますか？"), MsgButtons::YesNo, MsgIcon::Exclamation,
             QStringLiteral("確認")) != MsgResult::Yes)
    return;
  store::StoreFailure failure;
  const int n = heldmail::nextNumber(&failure);
  if (n == 0) {
    MsgBox(store::failureText(failure), MsgButtons::Ok, MsgIcon::Exclamation);
    return;
  }
  if (n > store::kMaxRecords) {
    MsgBox(QStringLiteral("保留メールは既に %1 件あり、これ以上保存できません。不要な保留メールを削除して下さい。")
               .arg(store::kMaxRecords),
           MsgButtons::Ok, MsgIcon::Exclamation);
    return;
  }
  // Nothing is cleared unless the mail is safely in the file.
  if (!WriteHeldRecord(p, n)) return;
  shared::CurrentRecordNumber = int16_t(n);
  // The question promised it: the held mail leaves the boxes.
  p.to->clear();
  p.subject->clear();
  p.body->clear();
  LoadHeldList(p);
  if (p.saveRecalls) RecallHeldMails(p);
  setBackColor(p.list, colors::heldList);
  p.draftButton->setText(kRecallCaption);
}

void RecallHeldMails(const HeldPanel& p) {
  p.picked->clear();
  shared::ListSource = 10;
  p.list->clear();
  setBackColor(p.list, colors::heldList);
  if (p.showHeldList) p.showHeldList();
  LoadHeldList(p);
  p.draftButton->setText(kRecallCaption);
  setBackColor(p.draftButton, colors::yellow);
}

void PickHeldMail(const HeldPanel& p) {
  const int row = selectedRow(p);
  if (row < 0) {
    MsgBox(kNoSelection, MsgButtons::Ok, MsgIcon::Exclamation);
    p.list->setFocus();
    return;
  }
  const int n = (*p.rowRecordMap)[row];
  store::StoreFailure failure;
  if (!heldmail::read(n, &failure) || heldmail::fingerprint(store::HeldMailBuffer().bytes()) != listedFingerprint(p, row)) {
    if (failure) {
      MsgBox(store::failureText(failure), MsgButtons::Ok, MsgIcon::Exclamation);
      return;
    }
    reportStaleList(p);
    return;
  }
  const heldmail::Mail m = heldmail::fromRecord(store::HeldMailBuffer());
  p.to->setText(m.to);
  p.subject->setText(m.subject);
  p.body->setPlainText(m.body);
  for (QLineEdit* b : {p.to, p.subject}) b->setCursorPosition(0);
}

void DeleteHeldMail(const HeldPanel& p) {
  if (p.listHoldsHeld && p.listHoldsHeld()) {
    const int row = selectedRow(p);
    if (p.picked->text().isEmpty() || row < 0) {
      MsgBox(kNoSelection);
      return;
    }
    const int n = (*p.rowRecordMap)[row];
    shared::CurrentRecordNumber = int16_t(n);
    // No keeps everything as it is: the held mail, the boxes (perhaps
    // edited since the pick) and the pick itself.
    if (MsgBox(QStringLiteral("選択された（行、青色）データを削除します。よろしいですか"), MsgButtons::YesNo,
               MsgIcon::Question, QStringLiteral("確認")) != MsgResult::Yes)
      return;
    p.body->setFocus();
    p.picked->clear();
    QByteArray now;
    if (!heldmail::fingerprintAt(n, now) || now != listedFingerprint(p, row)) {
      reportStaleList(p);
      return;
    }
    const store::StoreResult done = heldmail::remove(n);
    if (!done.ok) {
      MsgBox(store::failureText(done.failure), MsgButtons::Ok, MsgIcon::Exclamation);
      LoadHeldList(p);
      return;
    }
    p.to->clear();
    p.subject->clear();
    p.body->clear();
    LoadHeldList(p);
  }
  p.picked->clear();
  p.draftButton->setText(kRecallCaption);
}
