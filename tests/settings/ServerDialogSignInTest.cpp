// The server dialog's sign-in group: below the dialog's own controls,
// which keep their places; a preset fills the servers, ports, encryption
// and sign-in method, "その他（手動設定）" leaves what was typed; the
// values go to "pelkit.ini" with "設定" and nowhere with "中止"; a
// password account's file stays the four lines it was.
#include "settings/OptionForm.h"
#include "settings/OptionSignIn.h"
#include "settings/files/AccountSettings.h"
#include "settings/signin/Providers.h"
#include "support/Gui.h"
#include "support/WindowRules.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

QByteArray pelkit(const TempHome& home) { return home.read(QStringLiteral("pelkit.ini")); }

void choose(OptionSignIn* g, const QString& id) {
  g->ProviderCombo->setCurrentIndex(g->ProviderCombo->findData(id));
  g->ProviderCombo_Activated(g->ProviderCombo->currentIndex());
}

}  // namespace

TEST(ServerDialogSignIn, TheGroupSitsBelowTheDesignsControlsAndKeepsTheWindowRules) {
  TempHome home;
  AccountSettings() = AccountSettingsRecord{};
  OptionForm* d = OptionForm::showDialog();
  pump();
  OptionSignIn* g = d->SignInGroup;
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->objectName(), u"SignInGroup"_qs);
  EXPECT_EQ(g->title(), u"サインイン"_qs);
  for (QWidget* design : std::initializer_list<QWidget*>{d->SmtpText, d->Pop3Text, d->MailText, d->ApopCheck,
                                                         d->PlainCheck, d->OkCommand, d->CancelCommand})
    EXPECT_LT(design->geometry().bottom(), g->geometry().top()) << design->objectName().toStdString();
  EXPECT_EQ(g->SignInCommand->text(), u"ブラウザでサインイン(&B)"_qs);
  QStringList names;
  for (int i = 0; i < g->ProviderCombo->count(); ++i) names << g->ProviderCombo->itemText(i);
  EXPECT_EQ(names, (QStringList{u"Microsoft（Outlook.com、Microsoft 365）"_qs, u"Google（Gmail）"_qs,
                                u"その他（手動設定）"_qs}));
  // A password account: manual, password, automatic encryption; nothing
  // to sign in with.
  EXPECT_EQ(g->ProviderCombo->currentData().toString(), signin::kOtherProvider);
  EXPECT_EQ(g->SignInCombo->currentIndex(), 0);
  EXPECT_FALSE(g->SignInCommand->isEnabled());
  EXPECT_FALSE(g->OAuthUserText->isEnabled());
  EXPECT_TRUE(keepsScreenReaderRules(d));
  d->CancelCommand->click();
  pump();
}

TEST(ServerDialogSignIn, APresetFillsTheServersAndIsSavedAfterTheDesignsLines) {
  TempHome home;
  AccountSettings() = AccountSettingsRecord{};
  OptionForm* d = OptionForm::showDialog();
  OptionSignIn* g = d->SignInGroup;
  d->MailText->setText(u"me@outlook.jp"_qs);
  d->ApopCheck->setChecked(true);
  choose(g, u"microsoft"_qs);
  EXPECT_EQ(d->Pop3Text->text(), u"outlook.office365.com:995"_qs);
  EXPECT_EQ(d->SmtpText->text(), u"smtp.office365.com:587"_qs);
  EXPECT_EQ(g->Pop3TlsCombo->currentData().toString(), u"implicit"_qs);
  EXPECT_EQ(g->SmtpTlsCombo->currentData().toString(), u"starttls"_qs);
  EXPECT_EQ(g->SignInCombo->currentIndex(), 1);
  EXPECT_FALSE(d->ApopCheck->isChecked());  // a token is no APOP login
  EXPECT_FALSE(d->ApopCheck->isEnabled());
  EXPECT_TRUE(g->SignInCommand->isEnabled());
  choose(g, u"google"_qs);
  EXPECT_EQ(d->Pop3Text->text(), u"pop.gmail.com:995"_qs);
  EXPECT_EQ(d->SmtpText->text(), u"smtp.gmail.com:465"_qs);
  EXPECT_EQ(g->SmtpTlsCombo->currentData().toString(), u"implicit"_qs);
  // The manual choice leaves what is in the boxes.
  d->Pop3Text->setText(u"pop.campus.example:110"_qs);
  choose(g, signin::kOtherProvider);
  EXPECT_EQ(d->Pop3Text->text(), u"pop.campus.example:110"_qs);
  EXPECT_EQ(g->SignInCombo->currentIndex(), 1);
  choose(g, u"google"_qs);
  QTest::keyClicks(g->OAuthUserText, u"other@gmail.com"_qs);
  d->OkCommand->click();
  pump();
  const AccountSettingsRecord& s = AccountSettings();
  EXPECT_EQ(s.Provider, u"google"_qs);
  EXPECT_EQ(s.SignIn, 1);
  EXPECT_EQ(s.Pop3Tls, u"implicit"_qs);
  EXPECT_EQ(s.OAuthUser, u"other@gmail.com"_qs);
  const QByteArray file = pelkit(home);
  EXPECT_TRUE(file.startsWith("SMTP=smtp.gmail.com:465\r\nPOP3=pop.gmail.com:995\r\n" "MAIL=me@outlook.jp\r\nAPOP=0\r\n"))
      << file.toStdString();
  EXPECT_TRUE(file.contains("PROVIDER=google\r\n"));
  EXPECT_TRUE(file.contains("SIGNIN=1\r\n"));
  EXPECT_TRUE(file.contains("OAUTHUSER=other@gmail.com\r\n"));

  // Opened again, the group shows what was saved; "中止" changes nothing.
  d = OptionForm::showDialog();
  g = d->SignInGroup;
  EXPECT_EQ(g->ProviderCombo->currentData().toString(), u"google"_qs);
  EXPECT_EQ(g->SignInCombo->currentIndex(), 1);
  EXPECT_EQ(g->OAuthUserText->text(), u"other@gmail.com"_qs);
  choose(g, u"microsoft"_qs);
  g->SignInCombo->setCurrentIndex(0);
  d->CancelCommand->click();
  pump();
  EXPECT_EQ(AccountSettings().Provider, u"google"_qs);
  EXPECT_EQ(pelkit(home), file);

  // Back to a password account by hand: the file is the design's four
  // lines again.
  d = OptionForm::showDialog();
  g = d->SignInGroup;
  choose(g, signin::kOtherProvider);
  g->SignInCombo->setCurrentIndex(0);
  g->Pop3TlsCombo->setCurrentIndex(0);
  g->SmtpTlsCombo->setCurrentIndex(0);
  g->OAuthUserText->clear();
  d->OkCommand->click();
  pump();
  EXPECT_EQ(pelkit(home), QByteArray("SMTP=smtp.gmail.com:465\r\nPOP3=pop.gmail.com:995\r\n" "MAIL=me@outlook.jp\r\nAPOP=0\r\n"));
}

// Without a client ID the sign-in says what is missing and opens nothing.
TEST(ServerDialogSignIn, NoClientIdSaysWhereToRegisterOne) {
  TempHome home;
  AccountSettings() = AccountSettingsRecord{};
  OptionForm* d = OptionForm::showDialog();
  OptionSignIn* g = d->SignInGroup;
  d->MailText->setText(u"me@outlook.jp"_qs);
  choose(g, u"microsoft"_qs);
  QSignalSpy finished(g, &OptionSignIn::signInFinished);
  g->SignInCommand->click();
  ASSERT_TRUE(finished.wait(5000));
  EXPECT_FALSE(finished.at(0).at(0).toBool());
  EXPECT_TRUE(g->SignInLabel->text().contains(u"signin-clients.json")) << g->SignInLabel->text().toStdString();
  d->CancelCommand->click();
  pump();
}
