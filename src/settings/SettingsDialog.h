#pragma once
// What the settings dialogs share: a window of their own that a close
// deletes, and the cancel button that Esc presses wherever the focus is.
#include <QWidget>

class QKeyEvent;
class QPushButton;

class SettingsDialog : public QWidget {
  Q_OBJECT
 public:
  QPushButton* CancelCommand = nullptr;  // closes without keeping anything

 public slots:
  void CancelCommand_Click();

 protected:
  SettingsDialog(const char* name, const QString& title);
  // The cancel button under `caption`, made here in the tab order.
  QPushButton* makeCancelCommand(const QString& caption);
  void keyPressEvent(QKeyEvent* event) override;
};
