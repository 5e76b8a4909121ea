// A POP3 and SMTP server whose certificate no authority vouches for (the
// local Dovecot and aiosmtpd, self-signed): the window's check shows the
// certificate before anything secret is sent and uses a trusted key at once;
// a renewed certificate of the same key is still taken, a changed key is
// refused with a warning; the headless runs refuse with the fingerprint; a
// pin holds for its own server only, and the authority file keeps working.
#include "platform/Paths.h"
#include "platform/ServerCertificate.h"
#include "platform/TestHooks.h"
#include "settings/CertForm.h"
#include "settings/files/AccountSettings.h"
#include "settings/files/PinnedKeys.h"
#include "shell/MainForm.h"
#include "store/RecordFile.h"
#include "store/Records.h"
#include "support/FileModes.h"
#include "support/Gui.h"
#include "support/MailServers.h"
#include "support/OtherAddress.h"
#include "support/WindowRules.h"

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>

namespace {

QString fingerprintOf(const MailServers& s) {
  return ServerCertificate::colonHex(QByteArray::fromHex(s.certSha256().toLatin1()));
}

QString pinLine(const QString& server, const MailServers& s) {
  return server + QStringLiteral(" sha256//") + s.spkiSha256Base64();
}

QByteArray mail(const QByteArray& subject) {
  return "From: a@example.jp\r\nSubject: " + subject + "\r\nDate: Mon, 1 Apr 2024 10:00:00 +0900\r\n\r\nbody\r\n";
}

int storedCount(const TempHome& home) {
  store::RecordFile f(home.file(paths::kReceivedMailFile), store::MailRecord::kLength);
  return f.open() ? int(f.recordCount()) : -1;
}

// What the certificate dialog showed, and the answer it was given.
struct Shown {
  QString server, subject, issuer, validity, fingerprint;
  bool nameWarning = false;
  QString screenReaderFaults;
  int loginsBefore = -1;  // the server's login attempts when the dialog came
  int mailsBefore = -1;
};

class CertificateDialog {
 public:
  // `before` is asked, while the dialog is up, what the server has seen.
  CertificateDialog(std::function<void(Shown&)> before) : before_(std::move(before)) {
    testhooks::certForm = [this](QDialog* d) {
      auto* form = static_cast<CertForm*>(d);
      Shown s;
      s.server = form->ServerText->text();
      s.subject = form->SubjectText->text();
      s.issuer = form->IssuerText->text();
      s.validity = form->ValidityText->text();
      s.fingerprint = form->FingerprintText->text();
      s.nameWarning = !form->NameWarning->isHidden();
      s.screenReaderFaults = screenReaderFaults(form).join(u'\n');
      if (before_) before_(s);
      shown_.append(s);
      const bool trust = answers_.isEmpty() ? false : answers_.takeFirst();
      QTimer::singleShot(0, form, [form, trust] { (trust ? form->TrustCommand : form->DistrustCommand)->click(); });
    };
  }
  ~CertificateDialog() { testhooks::certForm = nullptr; }
  void answer(bool trust) { answers_.append(trust); }
  const QList<Shown>& shown() const { return shown_; }

 private:
  std::function<void(Shown&)> before_;
  QList<bool> answers_;
  QList<Shown> shown_;
};

class CertificateTrust : public ::testing::Test {
 protected:
  void SetUp() override { AccountSettings() = AccountSettingsRecord{}; }
  void TearDown() override { AccountSettings() = AccountSettingsRecord{}; }

  RunResult run(const QStringList& args) {
    RunResult r = runProgram(QStringList{QStringLiteral("--home"), home_.path()} + args, home_.path());
    EXPECT_TRUE(r.finished);
    return r;
  }
  RunResult check() { return run({QStringLiteral("--check")}); }
  RunResult send(const MailServers& s) {
    home_.write(QStringLiteral("b.txt"), "body");
    return run({QStringLiteral("--send"), QStringLiteral("--to"), s.address(), QStringLiteral("--subject"),
                QStringLiteral("s"), QStringLiteral("--body-file"), home_.file(QStringLiteral("b.txt"))});
  }
  QString pinFile() const { return QString::fromLatin1(home_.read(pins::kPinnedKeysFile)); }

  TempHome home_;
};

}  // namespace

TEST_F(CertificateTrust, TheWindowCheckShowsTheCertificateAndATrustedKeyIsUsedAtOnce) {
  MailServers::Options o;
  o.selfSigned = true;
  o.oauth = true;  // Dovecot logs every login attempt
  MailServers s(o);
  ASSERT_TRUE(s.ok()) << s.error().toStdString();
  const QString pop3 = QStringLiteral("127.0.0.1:%1").arg(s.pop3Port());
  writeServerSettings(home_.path(), QStringLiteral("127.0.0.1:%1").arg(s.smtpPort()), pop3, s.address(), 0);
  writeAccount(home_.path(), s.user(), s.password());
  s.deliver(mail("first"));

  CertificateDialog dialog([&](Shown& shown) {
    shown.loginsBefore = int(s.pop3AuthAttempts().size());
    shown.mailsBefore = s.mailboxCount();
  });
  MsgBoxAnswerer boxes;
  auto main = std::make_unique<MainForm>();
  pump();

  // Declined: nothing more is said or kept, and nothing was sent.
  dialog.answer(false);
  main->Command4->click();
  pump();
  ASSERT_EQ(dialog.shown().size(), 1);
  EXPECT_TRUE(boxes.seen().isEmpty()) << boxes.texts().join(u'\n').toStdString();
  EXPECT_FALSE(QFile::exists(pins::filePath()));
  EXPECT_EQ(storedCount(home_), 0);
  EXPECT_EQ(s.mailboxCount(), 1);
  EXPECT_TRUE(s.pop3AuthAttempts().isEmpty());

  // Trusted: the key is pinned and the check runs again at once.
  dialog.answer(true);
  main->Command4->click();
  pump();
  ASSERT_EQ(dialog.shown().size(), 2);
  for (const Shown& shown : dialog.shown()) {
    EXPECT_EQ(shown.server, pop3);
    EXPECT_EQ(shown.fingerprint, fingerprintOf(s));
    EXPECT_EQ(shown.subject, QStringLiteral("CN=localhost"));
    EXPECT_EQ(shown.issuer, QStringLiteral("CN=localhost"));
    EXPECT_TRUE(shown.validity.contains(QStringLiteral(" ～ "))) << shown.validity.toStdString();
    EXPECT_FALSE(shown.nameWarning);
    EXPECT_TRUE(shown.screenReaderFaults.isEmpty()) << shown.screenReaderFaults.toStdString();
    EXPECT_EQ(shown.loginsBefore, 0);  // nothing secret before the dialog
    EXPECT_EQ(shown.mailsBefore, 1);
  }
  EXPECT_TRUE(boxes.seen().isEmpty()) << boxes.texts().join(u'\n').toStdString();
  EXPECT_EQ(storedCount(home_), 1);
  EXPECT_EQ(s.mailboxCount(), 0);
  EXPECT_EQ(main->Text6->text(), QStringLiteral("1"));
  EXPECT_EQ(pinFile(), pinLine(pop3, s) + QStringLiteral("\r\n"));
  EXPECT_EQ(modeOf(pins::filePath()), 0600);
  ASSERT_FALSE(s.pop3AuthAttempts().isEmpty());
  EXPECT_TRUE(s.pop3AuthAttempts().last().tls);

  // A new certificate for the same key: taken without a question.
  ASSERT_TRUE(s.renewCert());
  s.deliver(mail("second"));
  main->Command4->click();
  pump();
  EXPECT_EQ(dialog.shown().size(), 2);
  EXPECT_TRUE(boxes.seen().isEmpty()) << boxes.texts().join(u'\n').toStdString();
  EXPECT_EQ(storedCount(home_), 2);

  // A changed key: refused with a warning, no question, nothing sent, the
  // pin left as it was.
  const QString trusted = pinFile();
  ASSERT_TRUE(s.rekey());
  s.deliver(mail("third"));
  const qsizetype logins = s.pop3AuthAttempts().size();
  main->Command4->click();
  pump();
  EXPECT_EQ(dialog.shown().size(), 2);
  ASSERT_EQ(boxes.seen().size(), 1);
  const QString warning = boxes.seen()[0].text;
  EXPECT_TRUE(warning.startsWith(QStringLiteral("サーバー「%1」の証明書の鍵が、信頼したときのものから変わっています。").arg(pop3)))
      << warning.toStdString();
  EXPECT_TRUE(warning.contains(QStringLiteral("IDやパスワード、メールは送っていません。")));
  EXPECT_TRUE(warning.contains(QDir::toNativeSeparators(pins::filePath())));
  EXPECT_EQ(s.pop3AuthAttempts().size(), logins);
  EXPECT_EQ(s.mailboxCount(), 1);
  EXPECT_EQ(storedCount(home_), 2);
  EXPECT_EQ(pinFile(), trusted);

  main.reset();
  pump();
}

TEST_F(CertificateTrust, HeadlessRunsRefuseWithTheFingerprintAndUseAPinnedKey) {
  MailServers::Options o;
  o.selfSigned = true;
  o.oauth = true;
  o.smtpStartTls = true;
  MailServers s(o);
  ASSERT_TRUE(s.ok()) << s.error().toStdString();
  const QString pop3 = QStringLiteral("127.0.0.1:%1").arg(s.pop3Port());
  const QString smtp = QStringLiteral("127.0.0.1:%1").arg(s.smtpPort());
  writeServerSettings(home_.path(), smtp, pop3, s.address(), 0);
  writeAccount(home_.path(), s.user(), s.password());
  s.deliver(mail("waiting"));

  RunResult r = check();
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(r.err.contains(QStringLiteral("エラー: サーバー「%1」の証明書を確認できないため、接続を中止しました。").arg(pop3)))
      << r.err.toStdString();
  EXPECT_TRUE(r.err.contains(fingerprintOf(s))) << r.err.toStdString();
  r = send(s);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(r.err.contains(QStringLiteral("サーバー「%1」の証明書を確認できないため、接続を中止しました。").arg(smtp)))
      << r.err.toStdString();
  EXPECT_TRUE(r.err.contains(fingerprintOf(s))) << r.err.toStdString();
  EXPECT_TRUE(s.pop3AuthAttempts().isEmpty());
  EXPECT_TRUE(s.smtpAuthAttempts().isEmpty());
  EXPECT_TRUE(s.received().isEmpty());
  EXPECT_EQ(s.mailboxCount(), 1);
  EXPECT_FALSE(QFile::exists(pins::filePath()));

  // Both keys pinned (as the window would): both runs go through.
  home_.write(pins::kPinnedKeysFile, (pinLine(pop3, s) + QStringLiteral("\r\n") + pinLine(smtp, s) + QStringLiteral("\r\n")).toLatin1());
  r = check();
  EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
  EXPECT_EQ(storedCount(home_), 1);
  r = send(s);
  EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
  EXPECT_EQ(s.received().size(), 1);

  // A changed key: both refuse with the warning, and send nothing.
  ASSERT_TRUE(s.rekey());
  s.deliver(mail("after the new key"));
  const qsizetype pop3Logins = s.pop3AuthAttempts().size(), smtpLogins = s.smtpAuthAttempts().size();
  r = check();
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(r.err.contains(QStringLiteral("サーバー「%1」の証明書の鍵が、信頼したときのものから変わっています。").arg(pop3)))
      << r.err.toStdString();
  r = send(s);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(r.err.contains(QStringLiteral("サーバー「%1」の証明書の鍵が、信頼したときのものから変わっています。").arg(smtp)))
      << r.err.toStdString();
  EXPECT_EQ(s.pop3AuthAttempts().size(), pop3Logins);
  EXPECT_EQ(s.smtpAuthAttempts().size(), smtpLogins);
  EXPECT_EQ(s.received().size(), 1);
  EXPECT_EQ(s.mailboxCount(), 2);  // the mail sent to itself, and the one after the new key
}

TEST_F(CertificateTrust, APinHoldsForItsOwnServerAndTheAuthorityFileKeepsWorking) {
  MailServers::Options o;
  o.selfSigned = true;
  MailServers pinned(o), other(o);
  ASSERT_TRUE(pinned.ok()) << pinned.error().toStdString();
  ASSERT_TRUE(other.ok()) << other.error().toStdString();
  ASSERT_NE(pinned.spkiSha256(), other.spkiSha256());
  writeAccount(home_.path(), other.user(), other.password());
  const QString pinnedPop3 = QStringLiteral("127.0.0.1:%1").arg(pinned.pop3Port());
  const QString otherPop3 = QStringLiteral("127.0.0.1:%1").arg(other.pop3Port());
  // The pinned server's key, for that server, and for the other server's
  // name on another port: neither opens the other server.
  home_.write(pins::kPinnedKeysFile, (pinLine(pinnedPop3, pinned) + QStringLiteral("\r\n") +
                                      pinLine(QStringLiteral("127.0.0.1:%1").arg(other.pop3sPort()), pinned) +
                                      QStringLiteral("\r\n"))
                                         .toLatin1());
  other.deliver(mail("elsewhere"));
  writeServerSettings(home_.path(), QStringLiteral("127.0.0.1"), otherPop3, other.address(), 0);
  RunResult r = check();
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(r.err.contains(QStringLiteral("サーバー「%1」の証明書を確認できないため").arg(otherPop3))) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains(fingerprintOf(other))) << r.err.toStdString();
  EXPECT_EQ(other.mailboxCount(), 1);

  // A server signed by the authority in trusted-ca.pem is checked as before,
  // pins or none.
  MailServers signedServer;
  ASSERT_TRUE(signedServer.ok()) << signedServer.error().toStdString();
  trustTestCa(signedServer, home_.path());
  writeAccount(home_.path(), signedServer.user(), signedServer.password());
  signedServer.deliver(mail("signed"));
  writeServerSettings(home_.path(), QStringLiteral("127.0.0.1"), QStringLiteral("localhost:%1").arg(signedServer.pop3Port()),
                      signedServer.address(), 0);
  r = check();
  EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
  EXPECT_EQ(signedServer.mailboxCount(), 0);
  EXPECT_EQ(storedCount(home_), 1);
  // The authority does not vouch for the self-signed server.
  writeServerSettings(home_.path(), QStringLiteral("127.0.0.1"), otherPop3, other.address(), 0);
  r = check();
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(r.err.contains(fingerprintOf(other))) << r.err.toStdString();
}

TEST_F(CertificateTrust, AServerReachedByANameItsCertificateLacks) {
  MailServers::Options o;
  o.selfSigned = true;
  o.smtpStartTls = true;
  MailServers s(o);
  ASSERT_TRUE(s.ok()) << s.error().toStdString();
  OtherAddress relay(s.pop3Port()), smtpRelay(s.smtpPort());
  ASSERT_GT(relay.port(), 0);
  ASSERT_GT(smtpRelay.port(), 0);
  const QString pop3 = QStringLiteral("127.0.0.2:%1").arg(relay.port());
  const QString smtp = QStringLiteral("127.0.0.2:%1").arg(smtpRelay.port());
  writeServerSettings(home_.path(), smtp, pop3, s.address(), 0);
  writeAccount(home_.path(), s.user(), s.password());
  s.deliver(mail("first"));

  // The dialog says the name differs; trusted, the name is not checked for
  // this server from then on.
  CertificateDialog dialog({});
  dialog.answer(true);
  MsgBoxAnswerer boxes;
  auto main = std::make_unique<MainForm>();
  pump();
  main->Command4->click();
  pump();
  ASSERT_EQ(dialog.shown().size(), 1);
  EXPECT_TRUE(dialog.shown()[0].nameWarning);
  EXPECT_TRUE(boxes.seen().isEmpty()) << boxes.texts().join(u'\n').toStdString();
  EXPECT_EQ(pinFile(), pinLine(pop3, s) + QStringLiteral(" any-name\r\n"));
  EXPECT_EQ(storedCount(home_), 1);
  main.reset();
  pump();

  // A pin that checks the name: the same key under another name is a
  // certificate to judge again, with its fingerprint ...
  home_.write(pins::kPinnedKeysFile,
              (pinLine(pop3, s) + QStringLiteral("\r\n") + pinLine(smtp, s) + QStringLiteral("\r\n")).toLatin1());
  RunResult r = check();
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(r.err.contains(QStringLiteral("サーバー「%1」の証明書を確認できないため").arg(pop3))) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains(fingerprintOf(s))) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains(QStringLiteral("この証明書はサーバー名「127.0.0.2」のものではありません。"))) << r.err.toStdString();
  // ... but another key under another name is a changed key, never a
  // certificate to trust anew.
  ASSERT_TRUE(s.rekey());
  r = check();
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(r.err.contains(QStringLiteral("サーバー「%1」の証明書の鍵が、信頼したときのものから変わっています。").arg(pop3)))
      << r.err.toStdString();
  EXPECT_FALSE(r.err.contains(fingerprintOf(s))) << r.err.toStdString();
  r = send(s);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(r.err.contains(QStringLiteral("サーバー「%1」の証明書の鍵が、信頼したときのものから変わっています。").arg(smtp)))
      << r.err.toStdString();
  EXPECT_TRUE(s.received().isEmpty());
}
