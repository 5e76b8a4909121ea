#include "SettingsDialog.h"

#include <QKeyEvent>
#include <QPushButton>

SettingsDialog::SettingsDialog(const char* name, const QString& title) : QWidget(nullptr) {
  setObjectName(QString::fromLatin1(name));
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(title);
}

QPushButton* SettingsDialog::makeCancelCommand(const QString& caption) {
  CancelCommand = new QPushButton(caption, this);
  CancelCommand->setObjectName(QStringLiteral("CancelCommand"));
  connect(CancelCommand, &QPushButton::clicked, this, &SettingsDialog::CancelCommand_Click);
  return CancelCommand;
}

void SettingsDialog::CancelCommand_Click() { close(); }

void SettingsDialog::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    CancelCommand->click();
    return;
  }
  QWidget::keyPressEvent(event);
}
