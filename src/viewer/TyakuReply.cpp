// The viewer hands the selected mail on: a reply to it, and its sender to
// the address book. Neither writes a file.
#include "addressbook/FriendForm.h"
#include "composer/BackForm.h"
#include "composer/ReplyText.h"
#include "platform/MsgBox.h"
#include "platform/Text.h"
#include "store/Records.h"
#include "viewer/TyakuForm.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTreeView>

namespace {

const QString kNoSelection = QStringLiteral("データが選択されていません");

}  // namespace

void TyakuForm::StartReply() {
  if (Text5->text().isEmpty()) {
    MsgBox(kNoSelection);
    return;
  }
  rtfEd->setFocus();
  Text5->clear();
  // Threaded under the answered mail when its original is kept. The record
  // in the buffer is the one shown; a row that no longer holds it (a mail
  // check stored through the buffer since) finds no original.
  QString thread;
  const int row = selectedRow();
  if (row >= 0 && originalHeaderOf) {
    if (const std::optional<QByteArray> header = originalHeaderOf(row + 1, store::ReceivedMailBuffer().bytes()))
      thread = replyThreadHeaders(*header);
  }
  BackForm* reply = BackForm::instance();
  reply->SubjectText->setText(QStringLiteral("Re:  ") + text::trimSpaces(Text7->text()));
  reply->ToText->setText(text::trimSpaces(Text8->text()));
  reply->BodyText->setPlainText(text::trimSpaces(rtfEd->toPlainText()));
  for (QLineEdit* b : {reply->ToText, reply->SubjectText}) b->setCursorPosition(0);
  reply->ThreadHeaders = thread;
  reply->show();
  reply->raise();
  reply->activateWindow();
}

void TyakuForm::StartAddressRegistration() {
  if (Text5->text().isEmpty()) {
    MsgBox(kNoSelection);
    return;
  }
  rtfEd->setFocus();
  Text5->clear();
  FriendForm* book = FriendForm::instance();
  book->Text4->setText(Text8->text());
  book->show();
  book->raise();
  book->activateWindow();
}
