// Handing received mail out as the server sent it: the selected mail as a
// .eml file, all mail as one mbox file. The data folder is only read.
#include "platform/Text.h"
#include "platform/ui/FileDialog.h"
#include "platform/ui/MsgBox.h"
#include "reception/AttachmentFiles.h"
#include "reception/ExportWords.h"
#include "reception/MailExport.h"
#include "reception/ReceivedWords.h"
#include "store/Records.h"
#include "store/received/ReceivedStore.h"
#include "viewer/SentForm.h"
#include "viewer/TyakuForm.h"

#include <QDir>
#include <QLineEdit>

namespace {

const QString kMailFileFilter = QStringLiteral("メールファイル(*.eml)|*.eml");
const QString kMboxFileFilter = QStringLiteral("mboxファイル(*.mbox)|*.mbox");

// A sentence set in parentheses within another loses its own full stop.
QString inner(QString sentence) {
  if (sentence.endsWith(u'。')) sentence.chop(1);
  return sentence;
}

}  // namespace

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
  // The subject, made safe, is the name offered.
  const QString subject = text::trimSpaces(Text7->text());
  const QString name = subject.isEmpty() ? QStringLiteral("メール") : maillib::safeFileName(subject);
  const QString file = filedialog::choose(this, {filedialog::Kind::Save, QStringLiteral("原文を保存"), kMailFileFilter,
                                                 name + QStringLiteral(".eml"), QStringLiteral("eml"), QString()});
  if (file.isEmpty()) return;
  reception::ExportFault fault;
  if (!reception::writeExportFile(file, original.bytes, &fault))
    MsgBox(QStringLiteral("ファイル「%1」に保存できませんでした（%2）。")
               .arg(QDir::toNativeSeparators(file), inner(reception::exportFaultText(fault))),
           MsgButtons::Ok, MsgIcon::Exclamation);
}

void TyakuForm::mmbox_Click() {
  const QString file = filedialog::choose(this, {filedialog::Kind::Save, QStringLiteral("全メールを書き出し"), kMboxFileFilter,
                                                 QStringLiteral("受信メール.mbox"), QStringLiteral("mbox"), QString()});
  if (file.isEmpty()) return;
  const reception::ExportSummary s = reception::exportMbox(file);
  if (s.ok)
    MsgBox(reception::exportedText(s, file), MsgButtons::Ok, MsgIcon::Information);
  else
    MsgBox(QStringLiteral("書き出せませんでした（%1）。").arg(inner(reception::exportFaultText(s.fault))), MsgButtons::Ok,
           MsgIcon::Exclamation);
}

void TyakuForm::msent_Click() { SentForm::open(); }
