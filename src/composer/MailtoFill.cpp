#include "MailtoFill.h"

#include "composer/WriteForm.h"
#include "composer/model/MailtoLink.h"
#include "platform/ui/MsgBox.h"
#include "platform/ui/SingleWindow.h"

bool ComposeFromMailtoLink(const QString& link) {
  const MailtoLink m = parseMailto(link);
  if (!m.error.isEmpty()) {
    MsgBox(m.error, MsgButtons::Ok, MsgIcon::Exclamation);
    return false;
  }
  if (WriteForm* open = WriteForm::existing(); open && open->holdsMail()) {
    bringBack(open);
    const MsgResult answer =
        MsgBox(QStringLiteral("書きかけのメールがあります。\n\n"
                              "リンクの宛先・件名・本文で書き直しますか？（書きかけのメールは消えます）"),
               MsgButtons::YesNo, MsgIcon::Question, QStringLiteral("確認"));
    if (answer != MsgResult::Yes) return false;
    // A fresh window: its loading steps run anew, attachments and the
    // sending mode of the old mail go with it.
    open->close();
    delete open;
  }
  WriteForm* form = WriteForm::instance();
  // A link names its recipients: never the whole address book.
  form->sendToRecipientsOnly();
  form->fillMail(mailtoRecipients(m), m.subject, m.body);
  if (!m.bcc.isEmpty())
    form->showNote(QStringLiteral("リンクの Bcc（%1）は宛先に入れていません。宛先のアドレスは受け取る人全員に見えます。")
                       .arg(m.bcc.join(QStringLiteral(", "))));
  bringBack(form);
  return true;
}
