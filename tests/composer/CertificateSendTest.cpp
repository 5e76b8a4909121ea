// Sending from the windows to an SMTP server whose certificate no authority
// vouches for (the local aiosmtpd with a self-signed certificate and
// STARTTLS): the certificate dialog comes before any login, a trusted key
// sends at once, a declined one leaves the mail in its window, a renewed
// certificate of the same key passes and a changed key is refused.
#include "ComposeFixture.h"

#include "composer/BackForm.h"
#include "platform/ServerCertificate.h"
#include "platform/TestHooks.h"
#include "settings/CertForm.h"
#include "settings/files/AccountSettings.h"
#include "settings/files/PinnedKeys.h"
#include "support/FileModes.h"
#include "support/MailServers.h"

#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

namespace {

// Answers the certificate dialog, noting what the server had been sent by then.
class CertificateDialog {
 public:
  explicit CertificateDialog(MailServers& servers) {
    testhooks::certForm = [this, &servers](QDialog* d) {
      auto* form = static_cast<CertForm*>(d);
      fingerprints_ << form->FingerprintText->text();
      loginsBefore_ << int(servers.smtpAuthAttempts().size());
      mailsBefore_ << int(servers.received().size());
      const bool trust = !answers_.isEmpty() && answers_.takeFirst();
      QTimer::singleShot(0, form, [form, trust] { (trust ? form->TrustCommand : form->DistrustCommand)->click(); });
    };
  }
  ~CertificateDialog() { testhooks::certForm = nullptr; }
  void answer(bool trust) { answers_.append(trust); }
  int shown() const { return int(fingerprints_.size()); }
  QStringList fingerprints_;
  QList<int> loginsBefore_, mailsBefore_;

 private:
  QList<bool> answers_;
};

class CertificateSend : public ::testing::Test {
 protected:
  void SetUp() override {
    MailServers::Options o;
    o.selfSigned = true;
    o.smtpAuth = true;
    o.smtpStartTls = true;
    servers_ = std::make_unique<MailServers>(o);
    ASSERT_TRUE(servers_->ok()) << servers_->error().toStdString();
    smtp_ = QStringLiteral("127.0.0.1:%1").arg(servers_->smtpPort());
    AccountSettings() = AccountSettingsRecord{};
    AccountSettings().SmtpServer = smtp_;
    AccountSettings().MailAddress = servers_->address();
    AccountSettings().UserId = servers_->user();
    AccountSettings().Password = servers_->password();
  }
  void TearDown() override { AccountSettings() = AccountSettingsRecord{}; }

  QString fingerprint() const {
    return ServerCertificate::colonHex(QByteArray::fromHex(servers_->certSha256().toLatin1()));
  }
  void fill(Compose& c, const QString& subject) {
    c->ToText->setText(servers_->address());
    c->SubjectText->setText(subject);
    c->rtfEd->setPlainText(QStringLiteral("本文"));
  }

  TempHome home_;
  std::unique_ptr<MailServers> servers_;
  QString smtp_;
};

}  // namespace

TEST_F(CertificateSend, TheComposeWindowAsksOnceAndATrustedKeySendsAtOnce) {
  CertificateDialog dialog(*servers_);
  MsgBoxAnswerer boxes;
  {
    // Declined: the mail stays in the window, and nothing more is asked.
    Compose c;
    fill(c, QStringLiteral("一通目"));
    dialog.answer(false);
    c->Command1->click();
    EXPECT_EQ(dialog.shown(), 1);
    EXPECT_TRUE(boxes.seen().isEmpty()) << boxes.texts().join(u'\n').toStdString();
    EXPECT_TRUE(c->isVisible());
    EXPECT_EQ(c->SubjectText->text(), QStringLiteral("一通目"));
    EXPECT_TRUE(c->Label7->text().startsWith(QStringLiteral("1件中1件の送信に失敗しました。"))) << c->Label7->text().toStdString();
    EXPECT_FALSE(QFile::exists(pins::filePath()));
    EXPECT_TRUE(servers_->received().isEmpty());

    // Trusted: the key is pinned and the mail goes.
    dialog.answer(true);
    c->Command1->click();
    EXPECT_EQ(dialog.shown(), 2);
    EXPECT_TRUE(boxes.seen().isEmpty()) << boxes.texts().join(u'\n').toStdString();
    EXPECT_EQ(c->Label7->text(), QStringLiteral("送信完了です。"));
  }
  for (int i = 0; i < dialog.shown(); ++i) {
    EXPECT_EQ(dialog.fingerprints_[i], fingerprint());
    EXPECT_EQ(dialog.loginsBefore_[i], 0);  // nothing secret before the dialog
    EXPECT_EQ(dialog.mailsBefore_[i], 0);
  }
  ASSERT_EQ(servers_->received().size(), 1);
  EXPECT_TRUE(servers_->received()[0].authenticated);
  EXPECT_EQ(home_.read(pins::kPinnedKeysFile), (smtp_ + QStringLiteral(" sha256//") + servers_->spkiSha256Base64()).toLatin1() + "\r\n");
  EXPECT_EQ(modeOf(pins::filePath()), 0600);

  // A new certificate for the same key: no question.
  ASSERT_TRUE(servers_->renewCert());
  {
    Compose c;
    fill(c, QStringLiteral("二通目"));
    c->Command1->click();
    EXPECT_EQ(c->Label7->text(), QStringLiteral("送信完了です。"));
  }
  EXPECT_EQ(dialog.shown(), 2);
  EXPECT_EQ(servers_->received().size(), 2);

  // A changed key: refused with the warning, nothing sent, no question.
  ASSERT_TRUE(servers_->rekey());
  const qsizetype logins = servers_->smtpAuthAttempts().size();
  {
    Compose c;
    fill(c, QStringLiteral("三通目"));
    c->Command1->click();
    EXPECT_TRUE(c->isVisible());
  }
  EXPECT_EQ(dialog.shown(), 2);
  ASSERT_EQ(boxes.seen().size(), 1);
  EXPECT_EQ(boxes.seen()[0].title, QStringLiteral("送信エラー"));
  EXPECT_TRUE(boxes.seen()[0].text.startsWith(
      QStringLiteral("サーバー「%1」の証明書の鍵が、信頼したときのものから変わっています。").arg(smtp_)))
      << boxes.seen()[0].text.toStdString();
  EXPECT_EQ(servers_->smtpAuthAttempts().size(), logins);
  EXPECT_EQ(servers_->received().size(), 2);
}

TEST_F(CertificateSend, TheReplyWindowAsksTheSameWay) {
  CertificateDialog dialog(*servers_);
  MsgBoxAnswerer boxes;
  QPointer<BackForm> reply = BackForm::instance();
  reply->ToText->setText(servers_->address());
  reply->SubjectText->setText(QStringLiteral("Re: 返事"));
  reply->BodyText->setPlainText(QStringLiteral("返事の本文"));

  dialog.answer(false);
  reply->Command2->click();
  EXPECT_EQ(dialog.shown(), 1);
  EXPECT_TRUE(boxes.seen().isEmpty()) << boxes.texts().join(u'\n').toStdString();
  ASSERT_TRUE(reply);
  EXPECT_TRUE(reply->isVisible());
  EXPECT_TRUE(servers_->received().isEmpty());

  dialog.answer(true);
  reply->Command2->click();
  EXPECT_EQ(dialog.shown(), 2);
  EXPECT_TRUE(boxes.seen().isEmpty()) << boxes.texts().join(u'\n').toStdString();
  destroyClosed();
  EXPECT_FALSE(reply);
  ASSERT_EQ(servers_->received().size(), 1);
  EXPECT_EQ(dialog.loginsBefore_, (QList<int>{0, 0}));
  EXPECT_EQ(dialog.fingerprints_.value(1), fingerprint());
}
