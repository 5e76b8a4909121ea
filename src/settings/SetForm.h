#pragma once
// The settings chooser "設定": opens the account dialog, the server dialog
// or the automatic check's dialog.
#include <QWidget>

class QPushButton;

class SetForm : public QWidget {
  Q_OBJECT
 public:
  // Shows the chooser, creating it when it is not open.
  static SetForm* showDialog();
  static SetForm* instance();  // the open chooser, or null

  QPushButton* Command1;  // "ID/PASS"
  QPushButton* Command2;  // "POPサーバー"
  QPushButton* Command3;  // "自動受信"

 public slots:
  void Command1_Click();
  void Command2_Click();
  void Command3_Click();

 private:
  SetForm();
};
