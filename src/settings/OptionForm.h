#pragma once
// The server dialog "サーバー設定": SMTP server, POP3 server, own address,
// APOP and whether these servers may be used without encryption, and below
// them how the account signs in, kept in "pelkit.ini" of the current
// directory.
#include "settings/SettingsDialog.h"

class OptionSignIn;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QPushButton;

class OptionForm : public SettingsDialog {
  Q_OBJECT
 public:
  // Shows the dialog on top of other windows, filled from memory.
  static OptionForm* showDialog();
  static OptionForm* instance();  // the open dialog, or null

  QLineEdit* SmtpText;
  QLineEdit* Pop3Text;
  QLineEdit* MailText;
  QCheckBox* ApopCheck;
  // Allows a login without encryption to the two servers as they are named
  // in the boxes. A permission loaded with the dialog is dropped when a name
  // is edited.
  QCheckBox* PlainCheck;
  // Mail left on the server: the group below the controls above.
  QGroupBox* LeaveGroup;
  QCheckBox* LeaveCheck;          // "サーバーにメールを残す"
  QCheckBox* LeaveDaysCheck;      // reads "N日後にサーバーから削除" with the box and label beside it
  QSpinBox* LeaveDaysSpin;        // N, 1 to 365
  QLabel* LeaveDaysLabel;
  QCheckBox* LeaveWithHereCheck;  // "ここで削除したらサーバーからも削除"
  QPushButton* OkCommand;  // "設定"; CancelCommand is "中止"
  // Below the controls above: the provider, sign-in method, encryption
  // and the browser sign-in (OptionSignIn.h).
  OptionSignIn* SignInGroup;

 public slots:
  void OkCommand_Click();

 private:
  OptionForm();
  // The leave-on-server group, filled from memory; its values go back to
  // memory with storeLeaveGroup().
  QGroupBox* buildLeaveGroup();
  void storeLeaveGroup();
  bool plainInherited_ = false;  // PlainCheck ticked from the file, untouched since
};
