#pragma once
// The account dialog "ID,PASS": the POP3 user ID and password, optionally
// saved: the password in the desktop keyring when there is one, else in the
// account file. A line under the save box says which.
#include "settings/SettingsDialog.h"

struct AccountFileValues;

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

class IdPassForm : public SettingsDialog {
  Q_OBJECT
 public:
  // The dialog, loaded (its boxes filled from the account file) but not
  // shown when it was not open.
  static IdPassForm* instance();
  static IdPassForm* existing();  // the loaded dialog, or null
  void showDialog();

  QLineEdit* IdText;
  QLineEdit* PassText;
  QCheckBox* Check1;  // save the ID and password
  QLabel* Label3;     // "IDパスワードを保存する"
  QLabel* KeyringLabel;  // where a saved password is kept
  QPushButton* OKCommand;  // CancelCommand is "Cancel"

 public slots:
  void OKCommand_Click();

 private:
  IdPassForm();
  static QString placeText(const AccountFileValues& v);
};
