#include "MailtoFill.h"

#include "composer/WriteForm.h"
#include "composer/model/MailtoLink.h"
#include "platform/ui/MsgBox.h"
#include "platform/ui/SingleWindow.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>

namespace {

bool holdsMail(const WriteForm* form) {
  return !form->ToText->text().isEmpty() || !form->SubjectText->text().isEmpty() ||
         !form->rtfEd->toPlainText().isEmpty() || !form->AttachText->text().isEmpty();
}

}  // namespace

bool ComposeFromMailtoLink(const QString& link) {
  const MailtoLink m = parseMailto(link);
  if (!m.error.isEmpty()) {
    MsgBox(m.error, MsgButtons::Ok, MsgIcon::Exclamation);
    return false;
  }
  if (WriteForm* open = WriteForm::existing(); open && holdsMail(open)) {
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
  if (form->Option2->isChecked()) form->Option1->setChecked(true);
  form->ToText->setText(mailtoRecipients(m));
  form->SubjectText->setText(m.subject);
  form->rtfEd->setPlainText(m.body);
  if (!m.bcc.isEmpty())
    form->Label7->setText(QStringLiteral("リンクの Bcc（%1）は宛先に入れていません。宛先のアドレスは受け取る人全員に見えます。")
                              .arg(m.bcc.join(QStringLiteral(", "))));
  bringBack(form);
  return true;
}
