#pragma once
// The server dialog's sign-in group, below the dialog's own controls: the
// provider preset, the sign-in method (password or OAuth 2.0), each
// server's encryption, the user the tokens are for, and the browser
// sign-in. Built by its own function so that other groups can sit beside it.
#include "settings/signin/BrowserSignIn.h"

#include <QGroupBox>
#include <QPointer>

class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class OptionForm;

class OptionSignIn : public QGroupBox {
  Q_OBJECT
 public:
  explicit OptionSignIn(OptionForm* form);

  QComboBox* ProviderCombo;
  QComboBox* SignInCombo;   // 0 password, 1 OAuth 2.0
  QComboBox* Pop3TlsCombo;  // "", "starttls", "implicit"
  QComboBox* SmtpTlsCombo;
  QLineEdit* OAuthUserText;
  QPushButton* SignInCommand;  // "ブラウザでサインイン"
  QLabel* SignInLabel;         // how the sign-in stands

  // Fills the controls from memory; stores them into memory (the dialog's
  // "設定" saves them with the rest).
  void load();
  void store();
  // The preset chosen fills the dialog's servers, ports, encryption and
  // sign-in method; "その他（手動設定）" leaves them as typed.
  void ProviderCombo_Activated(int index);
  // Runs the browser sign-in for the chosen preset and keeps its refresh
  // token. Back at once; the label tells the outcome.
  void SignInCommand_Click();
  bool signingIn() const { return signIn_ && signIn_->running(); }

 signals:
  void signInFinished(bool ok);

 private:
  void updateEnabled();
  QString chosenProvider() const;
  OptionForm* form_;
  QPointer<signin::BrowserSignIn> signIn_;
};

// The provider no longer takes the account's sign-in (`why`, as the check
// or the send words it): asks whether to sign in again now, and on yes
// opens "サーバー設定" with the browser sign-in under way. True on yes.
bool askToSignInAgain(const QString& why);

// Adds the group to the dialog's grid at `row`, across both columns.
OptionSignIn* addSignInGroup(OptionForm* form, QGridLayout* grid, int row);
