// The viewer hands the selected mail on: a reply to it, and its sender to
// the address book. Neither writes a file.
#include "addressbook/FriendForm.h"
#include "composer/BackForm.h"
#include "composer/model/ReplyText.h"
#include "platform/Text.h"
#include "platform/ui/MsgBox.h"
#include "platform/ui/SingleWindow.h"
#include "store/Records.h"
#include "viewer/TyakuForm.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTreeView>

namespace {

const QString kNoSelection = QStringLiteral("データが選択されていません");

}  // namespace

void TyakuForm::StartReply() {
  if (Text5->text().isEmpty()) {
    MsgBox(kNoSelection);
    return;
  }
  // Threaded under the answered mail when its original is kept. The record
  // in the buffer is the one shown; a row that no longer holds it (a mail
  // check stored through the buffer since) finds no original. Everything is
  // taken before any question: a check may store through the buffer while
  // one is open.
  QString thread;
  const int row = selectedRow();
  if (row >= 0 && originalHeaderOf) {
    if (const std::optional<QByteArray> header = originalHeaderOf(row + 1, store::ReceivedMailBuffer().bytes()))
      thread = replyThreadHeaders(*header);
  }
  const QString to = text::trimSpaces(Text8->text());
  const QString subject = QStringLiteral("Re:  ") + text::trimSpaces(Text7->text());
  const QString body = text::trimSpaces(rtfEd->toPlainText());
  const QString answered = store::ReceivedMailBuffer().body();

  // A reply being written is replaced only when the user says so. The new
  // one gets a fresh window, where it stood: nothing of the other reply,
  // its attached files included, goes out with it.
  if (QPointer<BackForm> open = BackForm::existing(); open && open->holdsReplyBeingWritten()) {
    bringBack(open);
    if (MsgBox(QStringLiteral("書きかけの返事があります。\n\n"
                              "選んだメールへの返事で書き直しますか？（書きかけの返事は消えます）"),
               MsgButtons::YesNo, MsgIcon::Question, QStringLiteral("確認")) != MsgResult::Yes)
      return;
    if (open) {  // the question let events run
      const QRect place = open->geometry();
      open->close();
      delete open.data();
      BackForm::instance()->setGeometry(place);
    }
  }
  rtfEd->setFocus();
  Text5->clear();
  BackForm* reply = BackForm::instance();
  reply->fillReply(to, subject, body, thread, answered);
  bringUp(reply);
}

void TyakuForm::StartAddressRegistration() {
  if (Text5->text().isEmpty()) {
    MsgBox(kNoSelection);
    return;
  }
  rtfEd->setFocus();
  Text5->clear();
  FriendForm* book = FriendForm::instance();
  book->fillAddress(Text8->text());
  bringUp(book);
}
