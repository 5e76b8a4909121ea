#include "OptionSignIn.h"

#include "OptionForm.h"
#include "platform/ui/Browser.h"
#include "platform/ui/MsgBox.h"
#include "settings/files/AccountSettings.h"
#include "settings/signin/AccessToken.h"
#include "settings/signin/Providers.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopedValueRollback>

namespace {

QString tlsValue(const QComboBox* box) { return box->currentData().toString(); }

void setTls(QComboBox* box, const QString& value) {
  const int i = box->findData(value);
  box->setCurrentIndex(i < 0 ? 0 : i);
}

QString resultText(const signin::SignInResult& r, const QString& user) {
  using S = signin::SignInResult::Status;
  const QString detail = r.detail.isEmpty() ? QString() : QStringLiteral("（%1）").arg(r.detail.left(200));
  switch (r.status) {
    case S::Ok:
      return QStringLiteral("%1 としてサインインしました。").arg(user);
    case S::NotConfigured:
      return QStringLiteral("このプロバイダーではブラウザでのサインインの準備ができていません%1。"
                            "クライアントIDをデータフォルダの「signin-clients.json」に登録して下さい。")
          .arg(detail);
    case S::NoListener:
      return QStringLiteral("サインインの応答を受け取る準備ができませんでした。");
    case S::NoBrowser:
      return QStringLiteral("ブラウザを開けませんでした。");
    case S::Denied:
      return QStringLiteral("サインインが許可されませんでした%1。").arg(detail);
    case S::Refused:
      return QStringLiteral("認証サーバーがサインインを受け付けませんでした%1。").arg(detail);
    case S::Unreachable:
      return QStringLiteral("認証サーバーに接続できませんでした%1。").arg(detail);
    case S::Malformed:
      return QStringLiteral("認証サーバーの応答を読み取れませんでした%1。").arg(detail);
    case S::TimedOut:
      return QStringLiteral("サインインが時間内に終わりませんでした。もう一度お試し下さい。");
    case S::Cancelled:
      return QStringLiteral("サインインを中止しました。");
  }
  return QString();
}

}  // namespace

OptionSignIn::OptionSignIn(OptionForm* form) : QGroupBox(QStringLiteral("サインイン"), form), form_(form) {
  setObjectName(QStringLiteral("SignInGroup"));
  auto* grid = new QGridLayout(this);
  int row = 0;
  auto labelled = [&](QWidget* w, const char* name, const QString& caption) {
    w->setObjectName(QString::fromLatin1(name));
    auto* lb = new QLabel(caption, this);
    lb->setBuddy(w);
    grid->addWidget(lb, row, 0);
    grid->addWidget(w, row, 1);
    ++row;
  };
  ProviderCombo = new QComboBox(this);
  for (const signin::Provider& p : signin::providers()) ProviderCombo->addItem(p.name, p.id);
  labelled(ProviderCombo, "ProviderCombo", QStringLiteral("プロバイダー(&V)"));
  SignInCombo = new QComboBox(this);
  SignInCombo->addItem(QStringLiteral("パスワード"));
  SignInCombo->addItem(QStringLiteral("OAuth 2.0（ブラウザでサインイン）"));
  labelled(SignInCombo, "SignInCombo", QStringLiteral("サインイン方法(&I)"));
  Pop3TlsCombo = new QComboBox(this);
  Pop3TlsCombo->addItem(QStringLiteral("自動（995番は接続時から、ほかはSTARTTLS）"), QString());
  Pop3TlsCombo->addItem(QStringLiteral("STARTTLS"), QStringLiteral("starttls"));
  Pop3TlsCombo->addItem(QStringLiteral("接続時から（SSL/TLS）"), QStringLiteral("implicit"));
  labelled(Pop3TlsCombo, "Pop3TlsCombo", QStringLiteral("POP3の暗号化(&T)"));
  SmtpTlsCombo = new QComboBox(this);
  SmtpTlsCombo->addItem(QStringLiteral("自動（465番は接続時から、ほかはSTARTTLS）"), QString());
  SmtpTlsCombo->addItem(QStringLiteral("STARTTLS"), QStringLiteral("starttls"));
  SmtpTlsCombo->addItem(QStringLiteral("接続時から（SSL/TLS）"), QStringLiteral("implicit"));
  labelled(SmtpTlsCombo, "SmtpTlsCombo", QStringLiteral("SMTPの暗号化(&L)"));
  OAuthUserText = new QLineEdit(this);
  OAuthUserText->setPlaceholderText(QStringLiteral("空欄ならメールアドレス"));
  labelled(OAuthUserText, "OAuthUserText", QStringLiteral("サインインするユーザー(&O)"));
  SignInCommand = new QPushButton(QStringLiteral("ブラウザでサインイン(&B)"), this);
  SignInCommand->setObjectName(QStringLiteral("SignInCommand"));
  grid->addWidget(SignInCommand, row, 0);
  SignInLabel = new QLabel(this);
  SignInLabel->setObjectName(QStringLiteral("SignInLabel"));
  SignInLabel->setWordWrap(true);
  grid->addWidget(SignInLabel, row, 1);
  grid->setColumnStretch(1, 1);

  connect(ProviderCombo, &QComboBox::activated, this, &OptionSignIn::ProviderCombo_Activated);
  connect(SignInCombo, &QComboBox::currentIndexChanged, this, &OptionSignIn::updateEnabled);
  connect(SignInCommand, &QPushButton::clicked, this, &OptionSignIn::SignInCommand_Click);
}

void OptionSignIn::load() {
  const AccountSettingsRecord& s = AccountSettings();
  const int p = ProviderCombo->findData(s.Provider.trimmed().isEmpty() ? signin::kOtherProvider
                                                                      : s.Provider.trimmed().toLower());
  ProviderCombo->setCurrentIndex(p < 0 ? ProviderCombo->findData(signin::kOtherProvider) : p);
  SignInCombo->setCurrentIndex(s.SignIn == 1 ? 1 : 0);
  setTls(Pop3TlsCombo, s.Pop3Tls);
  setTls(SmtpTlsCombo, s.SmtpTls);
  OAuthUserText->setText(s.OAuthUser);
  updateEnabled();
}

QString OptionSignIn::chosenProvider() const {
  const QString id = ProviderCombo->currentData().toString();
  return id == signin::kOtherProvider ? QString() : id;
}

void OptionSignIn::store() {
  AccountSettingsRecord& s = AccountSettings();
  s.Provider = chosenProvider();
  s.SignIn = int16_t(SignInCombo->currentIndex() == 1 ? 1 : 0);
  s.Pop3Tls = tlsValue(Pop3TlsCombo);
  s.SmtpTls = tlsValue(SmtpTlsCombo);
  s.OAuthUser = OAuthUserText->text().trimmed();
}

void OptionSignIn::ProviderCombo_Activated(int) {
  const std::optional<signin::Provider> p = signin::findProvider(ProviderCombo->currentData().toString());
  if (!p || p->id == signin::kOtherProvider) return updateEnabled();
  if (!p->pop3Server.isEmpty()) form_->Pop3Text->setText(p->pop3Server);
  if (!p->smtpServer.isEmpty()) form_->SmtpText->setText(p->smtpServer);
  setTls(Pop3TlsCombo, p->pop3Tls);
  setTls(SmtpTlsCombo, p->smtpTls);
  SignInCombo->setCurrentIndex(p->signIn == 1 ? 1 : 0);
  // A token takes the password's place: neither APOP nor a login in clear.
  if (p->signIn == 1) {
    form_->ApopCheck->setChecked(false);
    form_->PlainCheck->setChecked(false);
  }
  updateEnabled();
}

void OptionSignIn::updateEnabled() {
  const bool oauth = SignInCombo->currentIndex() == 1;
  OAuthUserText->setEnabled(oauth);
  SignInCommand->setEnabled(oauth && !signingIn());
  form_->ApopCheck->setEnabled(!oauth);
}

void OptionSignIn::SignInCommand_Click() {
  if (signingIn()) return;
  const std::optional<signin::Provider> provider = signin::findProvider(ProviderCombo->currentData().toString());
  if (!provider) return;
  const QString user =
      OAuthUserText->text().trimmed().isEmpty() ? form_->MailText->text().trimmed() : OAuthUserText->text().trimmed();
  if (user.isEmpty()) {
    SignInLabel->setText(QStringLiteral("先にメールアドレスを入力して下さい。"));
    return;
  }
  signIn_ = new signin::BrowserSignIn(*provider, [](const QUrl& url) { return openInBrowser(url); }, this);
  connect(signIn_, &signin::BrowserSignIn::finished, this, [this, user](const signin::SignInResult& r) {
    signIn_->deleteLater();
    QString text = resultText(r, user);
    if (r.ok()) {
      // Kept under the provider and user chosen here, whether or not the
      // dialog is confirmed: the token belongs to that sign-in, not to
      // the dialog's other values.
      AccountSettingsRecord& s = AccountSettings();
      const QScopedValueRollback provider(s.Provider, chosenProvider());
      const QScopedValueRollback oauthUser(s.OAuthUser, OAuthUserText->text().trimmed());
      const QScopedValueRollback mail(s.MailAddress, form_->MailText->text().trimmed());
      const secrets::Status kept = signin::keepSignIn(r);
      if (kept != secrets::Status::Ok)
        text += QStringLiteral("\nただし、サインインを保存できませんでした。次回はもう一度サインインが必要です。");
    }
    SignInLabel->setText(text);
    updateEnabled();
    emit signInFinished(r.ok());
  });
  SignInLabel->setText(QStringLiteral("ブラウザでサインインして下さい。終わるとここに表示されます。"));
  SignInCommand->setEnabled(false);
  signIn_->start();
}

bool askToSignInAgain(const QString& why) {
  if (MsgBox(why + QStringLiteral("\n\nブラウザでもう一度サインインしますか？"), MsgButtons::YesNo, MsgIcon::Question) !=
      MsgResult::Yes)
    return false;
  OptionForm::showDialog()->SignInGroup->SignInCommand_Click();
  return true;
}

OptionSignIn* addSignInGroup(OptionForm* form, QGridLayout* grid, int row) {
  auto* group = new OptionSignIn(form);
  grid->addWidget(group, row, 0, 1, 2);
  return group;
}
