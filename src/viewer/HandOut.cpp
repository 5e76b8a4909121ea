#include "HandOut.h"

#include "platform/ui/FileDialog.h"
#include "platform/ui/MsgBox.h"
#include "reception/ExportWords.h"
#include "reception/AttachmentFiles.h"

#include <QDir>

namespace viewer {

QString inner(QString sentence) {
  if (sentence.endsWith(u'。')) sentence.chop(1);
  return sentence;
}

void saveOriginalAs(QWidget* parent, const QByteArray& original, const QString& subject) {
  const QString name = subject.isEmpty() ? QStringLiteral("メール") : maillib::safeFileName(subject);
  const QString file = filedialog::choose(parent, {filedialog::Kind::Save, QStringLiteral("原文を保存"),
                                                   QStringLiteral("メールファイル(*.eml)|*.eml"),
                                                   name + QStringLiteral(".eml"), QStringLiteral("eml"), QString()});
  if (file.isEmpty()) return;
  reception::ExportFault fault;
  if (!reception::writeExportFile(file, original, &fault))
    MsgBox(QStringLiteral("ファイル「%1」に保存できませんでした（%2）。")
               .arg(QDir::toNativeSeparators(file), inner(reception::exportFaultText(fault))),
           MsgButtons::Ok, MsgIcon::Exclamation);
}

void exportMboxAs(QWidget* parent, const QString& offeredName,
                  const std::function<reception::ExportSummary(const QString& target)>& write) {
  const QString file = filedialog::choose(parent, {filedialog::Kind::Save, QStringLiteral("全メールを書き出し"),
                                                   QStringLiteral("mboxファイル(*.mbox)|*.mbox"), offeredName,
                                                   QStringLiteral("mbox"), QString()});
  if (file.isEmpty()) return;
  const reception::ExportSummary s = write(file);
  if (s.ok)
    MsgBox(reception::exportedText(s, file), MsgButtons::Ok, MsgIcon::Information);
  else
    MsgBox(QStringLiteral("書き出せませんでした（%1）。").arg(inner(reception::exportFaultText(s.fault))), MsgButtons::Ok,
           MsgIcon::Exclamation);
}

}  // namespace viewer
