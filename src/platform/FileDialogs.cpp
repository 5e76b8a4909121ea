#include "FileDialogs.h"

#include <QDir>
#include <QFileDialog>

QString chooseFileName(QWidget* parent, const FileDialogRequest& request) {
  if (g_fileDialogHook) return g_fileDialogHook(request);
  QFileDialog dialog(parent, request.title, QDir::homePath(), request.filter);
  dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(request.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  if (request.save) {
    dialog.setDefaultSuffix(request.defaultSuffix);
    if (!request.suggestedName.isEmpty()) dialog.selectFile(request.suggestedName);
  }
  if (dialog.exec() != QDialog::Accepted) return QString();
  return dialog.selectedFiles().value(0);
}
