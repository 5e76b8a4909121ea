#pragma once
// The settings chooser "設定": opens the account dialog or the server dialog.
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

 public slots:
  void Command1_Click();
  void Command2_Click();

 private:
  SetForm();
};
