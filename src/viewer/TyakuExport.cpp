// Handing received mail out as the server sent it: the selected mail as a
// .eml file, all mail as one mbox file. The data folder is only read.
#include "platform/Text.h"
#include "platform/ui/MsgBox.h"
#include "reception/ExportWords.h"
#include "reception/MailExport.h"
#include "reception/ReceivedWords.h"
#include "store/received/ReceivedStore.h"
#include "viewer/HandOut.h"
#include "viewer/SentForm.h"
#include "viewer/TyakuForm.h"

#include <QLineEdit>

using viewer::inner;

void TyakuForm::mgenbun_Click() {
  const int row = selectedRow();
  if (row < 0) {
    MsgBox(QStringLiteral("データが選択されていません"));
    return;
  }
  const received::Original original = received::ReceivedStore::original(row + 1);
  if (original.bytes.isNull()) {
    MsgBox(original.fault.code == received::Code::OriginalMissing
               ? reception::noOriginalText() + QStringLiteral("（原文を残す前に受信したメールです）。")
               : QStringLiteral("原文を読めませんでした（%1）。").arg(inner(reception::faultText(original.fault))),
           MsgButtons::Ok, MsgIcon::Exclamation);
    return;
  }
  viewer::saveOriginalAs(this, original.bytes, text::trimSpaces(Text7->text()));
}

void TyakuForm::mmbox_Click() {
  viewer::exportMboxAs(this, QStringLiteral("受信メール.mbox"),
                       [](const QString& target) { return reception::exportMbox(target); });
}

void TyakuForm::msent_Click() { SentForm::open(); }
