// Mail of other programs brought in from the viewer: an mbox or .eml file,
// or a Maildir folder, chosen in one dialog; the progress while it runs;
// the list filled again and the summary at the end.
#include "platform/SharedState.h"
#include "platform/ui/FileDialog.h"
#include "platform/ui/MsgBox.h"
#include "reception/import/ImportWords.h"
#include "reception/import/MailImport.h"
#include "viewer/TyakuForm.h"

#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>

namespace {

class ProgressSink : public mailimport::ImportSink {
 public:
  explicit ProgressSink(QProgressDialog& dialog) : dialog_(dialog) {}
  void progress(const mailimport::ImportProgress& p) override {
    dialog_.setLabelText(mailimport::progressText(p));
    if (p.bytesTotal > 0) dialog_.setValue(int(1000 * p.bytesDone / p.bytesTotal));
    QCoreApplication::processEvents();
  }
  bool stopRequested() override { return dialog_.wasCanceled(); }

 private:
  QProgressDialog& dialog_;
};

}  // namespace

void TyakuForm::mtorikomi_Click() {
  const QString path = filedialog::choose(
      this, {filedialog::Kind::OpenFileOrFolder, QStringLiteral("メールを取り込む"),
             QStringLiteral("メールファイル(*.mbox,*.eml)|*.mbox;*.eml|すべてのファイル(*)|*"), QString(), QString(), QString()});
  if (path.isEmpty()) return;
  QProgressDialog dialog(this);
  dialog.setObjectName(QStringLiteral("ImportProgress"));
  dialog.setWindowTitle(QStringLiteral("メールを取り込む"));
  auto* label = new QLabel(&dialog);
  label->setObjectName(QStringLiteral("ImportProgressText"));
  dialog.setLabel(label);
  auto* bar = new QProgressBar(&dialog);
  bar->setObjectName(QStringLiteral("ImportProgressBar"));
  bar->setAccessibleName(QStringLiteral("取り込みの進み具合"));
  dialog.setBar(bar);
  auto* stop = new QPushButton(QStringLiteral("中止"), &dialog);
  stop->setObjectName(QStringLiteral("ImportStop"));
  dialog.setCancelButton(stop);
  dialog.setRange(0, 1000);
  dialog.setWindowModality(Qt::WindowModal);
  dialog.setMinimumDuration(0);
  dialog.setLabelText(QStringLiteral("取り込み中"));
  dialog.setValue(0);
  ProgressSink sink(dialog);
  if (shared::MainWindow.importing) shared::MainWindow.importing(false);
  const mailimport::ImportSummary s = mailimport::importMail(path, sink);
  if (shared::MainWindow.importing) shared::MainWindow.importing(true);
  dialog.close();
  if (s.counts.stored > 0) FillMailList();
  MsgBox(mailimport::summaryText(s), MsgButtons::Ok, s.complete() ? MsgIcon::Information : MsgIcon::Exclamation);
}
