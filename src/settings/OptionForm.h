#pragma once
// The server dialog "サーバー設定": SMTP server, POP3 server, own address,
// APOP and whether these servers may be used without encryption, and below
// them how the account signs in, kept in "pelkit.ini" of the current
// directory.
#include <QWidget>

class OptionSignIn;
class QCheckBox;
class QLineEdit;
class QPushButton;

class OptionForm : public QWidget {
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
  QPushButton* OkCommand;      // "設定"
  QPushButton* CancelCommand;  // "中止"
  // Below the controls above: the provider, sign-in method, encryption
  // and the browser sign-in (OptionSignIn.h).
  OptionSignIn* SignInGroup;

 public slots:
  void OkCommand_Click();
  void CancelCommand_Click();

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  OptionForm();
  bool plainInherited_ = false;  // PlainCheck ticked from the file, untouched since
};
