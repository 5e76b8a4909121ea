#include "FileDialog.h"

#include "platform/TestHooks.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QStringList>

namespace filedialog {

namespace {

// A folder is taken as the folder dialog takes it; a file chosen in the
// same dialog is taken too, where the folder dialog would not.
class FileOrFolderDialog : public QFileDialog {
 public:
  using QFileDialog::QFileDialog;
  QString chosen;

  void accept() override {
    const QStringList files = selectedFiles();
    if (!files.isEmpty() && QFileInfo(files.first()).isFile()) {
      chosen = files.first();
      QDialog::accept();
      return;
    }
    QFileDialog::accept();
  }
};

}  // namespace

QString dialogFilter(const QString& filter) {
  // Pairs of description and patterns, as many as given.
  const QStringList parts = filter.split(u'|');
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    const QStringList patterns = parts[i + 1].split(u';', Qt::SkipEmptyParts);
    filters << parts[i] + QStringLiteral(" (") + patterns.join(u' ') + u')';
  }
  return filters.join(QStringLiteral(";;"));
}

QString choose(QWidget* parent, const Request& request) {
#ifdef TOMOSHIBI_TEST_HOOKS
  if (testhooks::fileDialog) return testhooks::fileDialog(request);
#endif
  if (request.kind == Kind::OpenFileOrFolder) {
    FileOrFolderDialog dialog(parent, request.title, request.folder);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (dialog.exec() != QDialog::Accepted) return {};
    if (!dialog.chosen.isEmpty()) return dialog.chosen;
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? QString() : files.first();
  }
  QFileDialog dialog(parent, request.title, request.folder);
  dialog.setNameFilter(dialogFilter(request.filter));
  // The description already names its patterns.
  dialog.setOption(QFileDialog::HideNameFilterDetails);
  if (request.kind == Kind::Open) {
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
  } else {
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(request.defaultSuffix);
    if (!request.suggestedName.isEmpty()) dialog.selectFile(request.suggestedName);
  }
  if (dialog.exec() != QDialog::Accepted) return {};
  const QStringList files = dialog.selectedFiles();
  return files.isEmpty() ? QString() : files.first();
}

}  // namespace filedialog
