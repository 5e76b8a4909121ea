// A user who signs in with OAuth 2.0, end to end: a preset chosen in
// "サーバー設定" (its endpoints and servers pointed at the local fixtures
// by the data folder's presets file, as a user's own file would), the
// browser sign-in through tests/support/fake_browser.sh, then the window's
// check against Dovecot's oauth2 passdb and a send through the
// token-checking SMTP server, with no password stored anywhere; the same
// headless from the kept refresh token; an access token the server no
// longer takes replaced once; a revoked sign-in asked about in the window
// and refused headless with exit status 77.
#include "composer/BackForm.h"
#include "composer/send/MailSend.h"
#include "platform/Paths.h"
#include "platform/TestHooks.h"
#include "settings/OptionForm.h"
#include "settings/OptionSignIn.h"
#include "settings/files/AccountSettings.h"
#include "settings/signin/AccessToken.h"
#include "settings/signin/Providers.h"
#include "shell/CheckMail.h"
#include "shell/MainForm.h"
#include "store/RecordFile.h"
#include "store/Records.h"
#include "support/Gui.h"
#include "support/MailServers.h"
#include "support/WindowRules.h"

#include <QComboBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>

namespace {

int storedCount(const TempHome& home) {
  store::RecordFile f(home.file(paths::kReceivedMailFile), store::MailRecord::kLength);
  return f.open() ? int(f.recordCount()) : -1;
}

QByteArray mail(const QByteArray& subject) {
  return "From: a@example.jp\r\nSubject: " + subject + "\r\nDate: Mon, 1 Apr 2024 10:00:00 +0900\r\n\r\nbody\r\n";
}

// Every file below `dir`, for a secret that must not be in any.
QByteArray everyFile(const QString& dir) {
  QByteArray all;
  QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    QFile f(it.next());
    if (f.open(QIODevice::ReadOnly)) all += f.readAll();
  }
  return all;
}

class SignInEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    AccountSettings() = AccountSettingsRecord{};
    signin::forgetAccessToken();
    MailServers::Options o;
    o.oauth = true;
    o.smtpStartTls = true;
    servers_ = std::make_unique<MailServers>(o);
    ASSERT_TRUE(servers_->ok()) << servers_->error().toStdString();
    trustTestCa(*servers_, home_.path());
    // The Microsoft preset, pointed at the fixtures as a user's own
    // presets file would point it elsewhere, and the client ID registered
    // in the data folder.
    const MailServers& s = *servers_;
    home_.write(signin::kProvidersFile,
                QStringLiteral(R"({"providers":[{"id":"microsoft","pop3":"127.0.0.1:%1","pop3_tls":"starttls",
                    "smtp":"127.0.0.1:%2","smtp_tls":"starttls","authorize_url":"%3","token_url":"%4",
                    "scope":"mail"}]})")
                    .arg(s.pop3Port())
                    .arg(s.smtpPort())
                    .arg(s.oauthAuthorizeUrl(), s.oauthTokenUrl())
                    .toUtf8());
    home_.write(signin::kClientsFile, QStringLiteral(R"({"microsoft":{"client_id":"%1"}})").arg(s.oauthClientId()).toUtf8());
    browserLog_ = home_.path() + u"/browser.log"_qs;
    testhooks::browser = [this](const QUrl& url) {
      QProcess p;
      QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
      env.insert(u"FAKE_BROWSER_LOG"_qs, browserLog_);
      p.setProcessEnvironment(env);
      p.start(QStringLiteral(TOMOSHIBI_SOURCE_DIR "/tests/support/fake_browser.sh"), {url.toString(QUrl::FullyEncoded)});
      return p.waitForFinished(10000) && p.exitCode() == 0;
    };
  }
  void TearDown() override {
    testhooks::browser = nullptr;
    AccountSettings() = AccountSettingsRecord{};
    signin::forgetAccessToken();
  }

  // The server dialog as a user fills it: the address, the preset, the
  // browser sign-in, "設定".
  void signInFromTheDialog() {
    OptionForm* d = OptionForm::showDialog();
    EXPECT_TRUE(keepsScreenReaderRules(d));
    d->MailText->setText(servers_->address());
    OptionSignIn* g = d->SignInGroup;
    g->ProviderCombo->setCurrentIndex(g->ProviderCombo->findData(u"microsoft"_qs));
    g->ProviderCombo_Activated(g->ProviderCombo->currentIndex());
    EXPECT_EQ(d->Pop3Text->text(), QStringLiteral("127.0.0.1:%1").arg(servers_->pop3Port()));
    EXPECT_EQ(g->SignInCombo->currentIndex(), 1);
    EXPECT_TRUE(g->SignInCommand->isEnabled());
    QSignalSpy finished(g, &OptionSignIn::signInFinished);
    g->SignInCommand->click();
    ASSERT_TRUE(finished.wait(30000));
    EXPECT_TRUE(finished.at(0).at(0).toBool()) << g->SignInLabel->text().toStdString();
    EXPECT_TRUE(g->SignInLabel->text().contains(servers_->address())) << g->SignInLabel->text().toStdString();
    d->OkCommand->click();
    pump();
  }

  RunResult run(const QStringList& args) {
    RunResult r = runProgram(QStringList{QStringLiteral("--home"), home_.path()} + args, home_.path());
    EXPECT_TRUE(r.finished);
    return r;
  }
  RunResult sendHeadless() {
    home_.write(QStringLiteral("b.txt"), "body");
    return run({QStringLiteral("--send"), QStringLiteral("--to"), servers_->address(), QStringLiteral("--subject"),
                QStringLiteral("headless"), QStringLiteral("--body-file"), home_.file(QStringLiteral("b.txt"))});
  }

  TempHome home_;
  std::unique_ptr<MailServers> servers_;
  QString browserLog_;
};

}  // namespace

TEST_F(SignInEndToEnd, APresetSignedInOnceChecksAndSendsInTheWindowAndHeadless) {
  MailServers& s = *servers_;
  signInFromTheDialog();
  const QByteArray pelkit = home_.read(paths::kServerSettingsFile);
  EXPECT_TRUE(pelkit.contains("PROVIDER=microsoft\r\n")) << pelkit.toStdString();
  EXPECT_TRUE(pelkit.contains("SIGNIN=1\r\n")) << pelkit.toStdString();
  // The browser was sent to the preset's endpoint with a PKCE challenge.
  QFile log(browserLog_);
  ASSERT_TRUE(log.open(QIODevice::ReadOnly));
  const QByteArray opened = log.readAll();
  EXPECT_TRUE(opened.contains("url " + s.oauthAuthorizeUrl().toUtf8())) << opened.toStdString();
  EXPECT_TRUE(opened.contains("code_challenge_method=S256")) << opened.toStdString();

  // The window's check and a send from the window's code, each logging in
  // with the token under TLS.
  s.deliver(mail("first"));
  MsgBoxAnswerer boxes;
  auto main = std::make_unique<MainForm>();
  pump();
  main->Command4->click();
  pump();
  EXPECT_TRUE(boxes.seen().isEmpty()) << boxes.texts().join(u'\n').toStdString();
  EXPECT_EQ(storedCount(home_), 1);
  EXPECT_EQ(s.mailboxCount(), 0);
  const SendOutcome sent = SendOneMail(s.address(), u"window"_qs, u"body"_qs, QString());
  EXPECT_TRUE(sent.ok) << sent.error.toStdString();
  ASSERT_EQ(s.received().size(), 1);
  EXPECT_TRUE(s.received()[0].authenticated);

  // Headless, in processes of their own: the kept refresh token gives a
  // fresh access token each time.
  s.deliver(mail("second"));
  RunResult r = run({QStringLiteral("--check")});
  EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
  EXPECT_EQ(s.mailboxCount(), 0);
  r = sendHeadless();
  EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
  EXPECT_EQ(s.received().size(), 2);

  // Every login was a token under TLS, none a password.
  const QList<MailServers::AuthAttempt> pop3 = s.pop3AuthAttempts(), smtp = s.smtpAuthAttempts();
  EXPECT_GE(pop3.size(), 2);
  EXPECT_GE(smtp.size(), 2);
  for (const MailServers::AuthAttempt& a : pop3 + smtp) {
    EXPECT_TRUE(a.mechanism == u"OAUTHBEARER" || a.mechanism == u"XOAUTH2") << a.mechanism.toStdString();
    EXPECT_TRUE(a.tls);
    EXPECT_TRUE(a.accepted);
    EXPECT_FALSE(a.data.join(u'\n').contains(s.password()));
  }
  EXPECT_GE(s.oauthCounts().value(u"token").toInt(), 3);  // the code, then a refresh per headless run

  // No password anywhere: not in the account file, not in "pelkit.ini";
  // the refresh token (no keyring in this test) only in the account file.
  const QByteArray account = home_.read(paths::kAccountFile);
  EXPECT_FALSE(account.contains("NAME2=") && !account.contains("NAME2=\r\n")) << account.toStdString();
  const QJsonArray issued = s.oauthCommand("tokens").value(u"refresh").toArray();
  ASSERT_EQ(issued.size(), 1);
  const QByteArray refresh = issued[0].toObject().value(u"token").toString().toUtf8();
  EXPECT_TRUE(account.contains(refresh));
  EXPECT_FALSE(pelkit.contains(refresh));
  EXPECT_EQ(everyFile(home_.path()).count(refresh), 1);
}

// An access token the servers stop taking before it was due is replaced
// once, silently; a revoked sign-in is asked about in the window, and the
// headless runs stop with 77 and say where to sign in. No password is
// tried in its place.
TEST_F(SignInEndToEnd, ARefusedTokenIsRenewedOnceAndARevokedSignInAsksAgain) {
  MailServers& s = *servers_;
  signInFromTheDialog();
  ASSERT_TRUE(s.expireAccessTokens());
  s.deliver(mail("after expiry"));
  {
    MsgBoxAnswerer boxes;
    const reception::CheckOutcome out = CheckMail();
    EXPECT_FALSE(out.failed) << boxes.texts().join(u'\n').toStdString();
    EXPECT_EQ(storedCount(home_), 1);
  }
  ASSERT_TRUE(s.expireAccessTokens());
  SendOutcome sent = SendOneMail(s.address(), u"after expiry"_qs, u"body"_qs, QString());
  EXPECT_TRUE(sent.ok) << sent.error.toStdString();
  QList<MailServers::AuthAttempt> pop3 = s.pop3AuthAttempts(), smtp = s.smtpAuthAttempts();
  ASSERT_EQ(pop3.size(), 2);
  EXPECT_FALSE(pop3[0].accepted);
  EXPECT_TRUE(pop3[1].accepted);
  ASSERT_EQ(smtp.size(), 2);
  EXPECT_FALSE(smtp[0].accepted);
  EXPECT_TRUE(smtp[1].accepted);

  // Revoked at the provider: the window asks to sign in again (declined
  // here), nothing else is tried.
  ASSERT_TRUE(s.revokeRefreshToken());
  s.deliver(mail("after revoking"));
  const int waiting = s.mailboxCount();  // the mail sent to itself is there too
  {
    MsgBoxAnswerer boxes;
    boxes.answer(QMessageBox::No);
    const reception::CheckOutcome out = CheckMail();
    EXPECT_TRUE(out.failed);
    ASSERT_EQ(boxes.seen().size(), 1);
    EXPECT_TRUE(boxes.seen()[0].text.contains(u"もう一度サインインしますか")) << boxes.texts().join(u'\n').toStdString();
    EXPECT_EQ(OptionForm::instance(), nullptr);
  }
  EXPECT_EQ(s.mailboxCount(), waiting);
  sent = SendOneMail(s.address(), u"after revoking"_qs, u"body"_qs, QString());
  EXPECT_FALSE(sent.ok);
  EXPECT_TRUE(sent.needsSignIn);
  EXPECT_TRUE(sent.error.contains(u"サインイン")) << sent.error.toStdString();
  {
    // The reply window asks too (declined); the reply stays for later.
    MsgBoxAnswerer boxes;
    boxes.answer(QMessageBox::No);
    QPointer<BackForm> reply = BackForm::instance();
    reply->fillReply(s.address(), u"Re: waiting"_qs, u"reply"_qs);
    reply->Command2->click();
    pump();
    ASSERT_EQ(boxes.seen().size(), 1);
    EXPECT_TRUE(boxes.seen()[0].text.contains(u"もう一度サインインしますか")) << boxes.texts().join(u'\n').toStdString();
    ASSERT_FALSE(reply.isNull());
    EXPECT_EQ(reply->SubjectText->text(), u"Re: waiting"_qs);
    reply->close();
    pump();
  }
  const int logins = int(s.pop3AuthAttempts().size() + s.smtpAuthAttempts().size());

  RunResult r = run({QStringLiteral("--check")});
  EXPECT_EQ(r.exitCode, 77) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains(u"画面")) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains(u"サインイン")) << r.err.toStdString();
  r = sendHeadless();
  EXPECT_EQ(r.exitCode, 77) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains(u"サインイン")) << r.err.toStdString();
  EXPECT_EQ(s.mailboxCount(), waiting);
  EXPECT_EQ(int(s.pop3AuthAttempts().size() + s.smtpAuthAttempts().size()), logins);

  // Signing in again in the window makes both work once more.
  signInFromTheDialog();
  r = run({QStringLiteral("--check")});
  EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
  EXPECT_EQ(s.mailboxCount(), 0);
}

// No sign-in at all yet: the headless runs do not prompt, do not wait,
// and exit 77.
TEST_F(SignInEndToEnd, NeverSignedInHeadlessExits77) {
  writeServerSettings(home_.path(), QStringLiteral("127.0.0.1:%1").arg(servers_->smtpPort()),
                      QStringLiteral("127.0.0.1:%1").arg(servers_->pop3Port()), servers_->address(), 0);
  QFile f(home_.path() + u"/pelkit.ini"_qs);
  ASSERT_TRUE(f.open(QIODevice::Append));
  f.write("PROVIDER=microsoft\r\nSIGNIN=1\r\n");
  f.close();
  servers_->deliver(mail("waiting"));
  RunResult r = run({QStringLiteral("--check")});
  EXPECT_EQ(r.exitCode, 77) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains(u"サインイン")) << r.err.toStdString();
  r = sendHeadless();
  EXPECT_EQ(r.exitCode, 77) << r.err.toStdString();
  // A locked keyring is not waited on either.
  QTemporaryDir keyring;
  r = runProgramWithKeyring({QStringLiteral("--home"), home_.path(), QStringLiteral("--check")}, home_.path(),
                            keyring.path(), Keyring::Locked, 60000);
  EXPECT_EQ(r.exitCode, 77) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains(u"キーリング")) << r.err.toStdString();
  EXPECT_TRUE(servers_->pop3AuthAttempts().isEmpty());
  EXPECT_TRUE(servers_->smtpAuthAttempts().isEmpty());
  EXPECT_EQ(servers_->oauthCounts().value(u"token").toInt(), 0);
}
