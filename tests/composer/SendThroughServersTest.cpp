// Sending through the real link: the compose window against the local
// aiosmtpd (a mail with attachments, the all-addresses mode), a peer that
// never answers the final dot, and the plain-login permission of the send
// library against a server without STARTTLS. What arrives is parsed as a
// reader would.
#include "ComposeFixture.h"

#include "composer/BackColor.h"
#include "composer/send/MailSend.h"
#include "platform/TestHooks.h"
#include "reception/maillib/SmtpLink.h"
#include "settings/files/AccountSettings.h"
#include "support/MailServers.h"
#include "support/ParsedMail.h"
#include "support/SmtpPeer.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTextCursor>

namespace {

const QString kDone = QStringLiteral("送信完了です。");

class ComposeAndSend : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { servers_ = new MailServers; }
  static void TearDownTestSuite() {
    delete servers_;
    servers_ = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(servers_->ok()) << servers_->error().toStdString();
    already_ = int(servers_->received().size());
    // The test server speaks plain SMTP: allowed, as the server dialog's
    // check box allows it.
    AccountSettings().SmtpServer = QStringLiteral("127.0.0.1:%1").arg(servers_->smtpPort());
    AccountSettings().PlainSmtpServer = AccountSettings().SmtpServer;
    AccountSettings().MailAddress = QStringLiteral("tomo@localhost");
  }
  void TearDown() override { AccountSettings() = AccountSettingsRecord{}; }

  // What arrived during this test.
  QList<MailServers::Received> arrived() const { return servers_->received().mid(already_); }
  // "All addresses" chosen and confirmed.
  static void chooseAllAddresses(Compose& c) {
    MsgBoxAnswerer yes;
    yes.answer(QMessageBox::Yes);
    c->Option2->click();
  }
  QString file(const QString& name, const QByteArray& data) {
    home_.write(name, data);
    return home_.path() + u'/' + name;
  }

  static MailServers* servers_;
  TempHome home_;
  int already_ = 0;
};

MailServers* ComposeAndSend::servers_ = nullptr;

QString crlf(QString s) {
  s.replace(u'\n', QStringLiteral("\r\n"));
  return s;
}

}  // namespace

// As a user would: an address from the side list, a stock phrase, two
// attached files, "送信".
TEST_F(ComposeAndSend, AComposedMailArrivesWholeAndTheWindowCloses) {
  addAddress(home_, QStringLiteral("自分"), QStringLiteral("tomo@example.com"));
  QByteArray picture;
  for (int i = 0; i < 5000; ++i) picture += char(i * 31 % 256);
  const QString p1 = file(QStringLiteral("写真.jpg"), picture);
  const QString p2 = file(QStringLiteral("メモ.txt"), "memo\r\n");
  Compose c;
  c.pressSideList(0);
  c->SubjectText->setText(QStringLiteral("来週の打ち合わせ"));
  c->Combo1->setFocus();
  c->Combo1->setCurrentIndex(3);
  QTest::mouseClick(c->rtfEd->viewport(), Qt::LeftButton);
  c->rtfEd->moveCursor(QTextCursor::End);
  c->rtfEd->insertPlainText(QStringLiteral("\n火曜の午後でいかがでしょうか。"));
  c.chooseFiles({p1, p2});
  c->AttachCommand->click();
  c->Command9->click();
  c->Check1->setChecked(true);

  MsgBoxAnswerer boxes;
  c->Command1->click();
  EXPECT_TRUE(boxes.seen().isEmpty());
  ASSERT_TRUE(c.alive());
  EXPECT_EQ(c->Label7->text(), kDone);
  EXPECT_FALSE(c->isVisible());
  EXPECT_TRUE(c->ToText->text().isEmpty());
  EXPECT_TRUE(c->SubjectText->text().isEmpty());
  EXPECT_TRUE(c->rtfEd->toPlainText().isEmpty());
  EXPECT_TRUE(c->AttachText->text().isEmpty());
  EXPECT_FALSE(c->Check1->isChecked());
  destroyClosed();
  EXPECT_FALSE(c.alive());

  const auto got = arrived();
  ASSERT_EQ(got.size(), 1);
  EXPECT_EQ(got[0].rcptTos, QStringList{QStringLiteral("tomo@example.com")});
  EXPECT_EQ(got[0].mailFrom, QStringLiteral("tomo@localhost"));
  const ParsedMail p = parseMail(got[0].data);
  EXPECT_EQ(p.subject, QStringLiteral("来週の打ち合わせ"));
  EXPECT_EQ(p.to, QStringLiteral("tomo@example.com"));
  EXPECT_EQ(p.from, QStringLiteral("tomo@localhost"));
  EXPECT_EQ(p.text, crlf(QStringLiteral("いつもお世話になっております。\n火曜の午後でいかがでしょうか。\n")));
  ASSERT_EQ(p.attachments.size(), 2);
  EXPECT_EQ(p.attachments[0].fileName, QStringLiteral("写真.jpg"));
  EXPECT_EQ(p.attachments[0].data, picture);
  EXPECT_EQ(p.attachments[1].fileName, QStringLiteral("メモ.txt"));
  EXPECT_EQ(p.attachments[1].data, QByteArray("memo\r\n"));
}

TEST_F(ComposeAndSend, AllAddressesModeSendsOneMailPerRecordInOrder) {
  addAddress(home_, QStringLiteral("一"), QStringLiteral("first@example.com   "));
  addAddress(home_, QStringLiteral("二"), QStringLiteral("second@example.com"));
  addAddress(home_, QStringLiteral("三"), QStringLiteral("third@example.com"));
  Compose c;
  chooseAllAddresses(c);
  c->SubjectText->setText(QStringLiteral("皆様へ"));
  c->rtfEd->setPlainText(QStringLiteral("一斉にお知らせします。"));
  MsgBoxAnswerer boxes;
  c->Command1->click();
  EXPECT_TRUE(boxes.seen().isEmpty());
  ASSERT_TRUE(c.alive());
  EXPECT_EQ(c->Label7->text(), kDone);
  EXPECT_FALSE(c->Option2->isChecked());
  EXPECT_EQ(backColor(c->List1), QColor(0, 128, 0));
  destroyClosed();
  EXPECT_FALSE(c.alive());

  const auto got = arrived();
  ASSERT_EQ(got.size(), 3);
  EXPECT_EQ(got[0].rcptTos, QStringList{QStringLiteral("first@example.com")});
  EXPECT_EQ(got[1].rcptTos, QStringList{QStringLiteral("second@example.com")});
  EXPECT_EQ(got[2].rcptTos, QStringList{QStringLiteral("third@example.com")});
  for (const auto& r : got) {
    const ParsedMail p = parseMail(r.data);
    EXPECT_EQ(p.subject, QStringLiteral("皆様へ"));
    EXPECT_EQ(p.text, QStringLiteral("一斉にお知らせします。\r\n"));
  }
  // Trailing spaces removed: the To header holds the bare address.
  EXPECT_EQ(parseMail(got[0].data).rawHeader("To"), QByteArray("first@example.com"));
}

// Without encryption only to the server the user allowed for sending: not
// to another name of the same machine, not on the strength of a permission
// given for receiving.
TEST_F(ComposeAndSend, PlainOnlyToTheServerAllowedForSending) {
  const QString server = AccountSettings().SmtpServer;
  const QString refused = QStringLiteral("サーバー「127.0.0.1」は暗号化通信（STARTTLS）を提供していないため、接続を中止しました。");
  auto& s = AccountSettings();
  s.PlainSmtpServer.clear();
  SendOutcome o = SendOneMail(QStringLiteral("a@example.com"), QStringLiteral("s"), QStringLiteral("b"), QString());
  EXPECT_FALSE(o.ok);
  EXPECT_TRUE(o.error.startsWith(refused)) << o.error.toStdString();
  EXPECT_TRUE(o.error.contains(u'「' + kPlainLoginCaption + u'」')) << o.error.toStdString();
  s.PlainSmtpServer = QStringLiteral("localhost:%1").arg(servers_->smtpPort());
  o = SendOneMail(QStringLiteral("a@example.com"), QStringLiteral("s"), QStringLiteral("b"), QString());
  EXPECT_TRUE(o.error.startsWith(refused)) << o.error.toStdString();
  s.PlainSmtpServer.clear();
  s.PlainPop3Server = server;
  o = SendOneMail(QStringLiteral("a@example.com"), QStringLiteral("s"), QStringLiteral("b"), QString());
  EXPECT_TRUE(o.error.startsWith(refused)) << o.error.toStdString();
  EXPECT_TRUE(arrived().isEmpty());

  s.PlainSmtpServer = server;
  o = SendOneMail(QStringLiteral("a@example.com"), QStringLiteral("s"), QStringLiteral("b"), QString());
  EXPECT_TRUE(o.ok) << o.error.toStdString();
  EXPECT_EQ(arrived().size(), 1);
}

namespace {

const QString kNotSure = QStringLiteral("送信されたか確認できませんでした。");

// The compose window against a peer that never answers the final dot of a
// mail to a "slow…" address, with the 60 s bound made 2 s.
class UnconfirmedSend : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(peer_.ok()) << peer_.error().toStdString();
    AccountSettings().SmtpServer = peer_.server();
    AccountSettings().PlainSmtpServer = peer_.server();
    AccountSettings().MailAddress = QStringLiteral("tomo@localhost");
    limits_.replySeconds = 2;
  }
  void TearDown() override { AccountSettings() = AccountSettingsRecord{}; }
  QStringList recipients() {
    QStringList all;
    for (const SmtpPeer::Mail& m : peer_.mails()) all << m.rcpt;
    return all;
  }

  TempHome home_;
  SmtpPeer peer_{QStringLiteral("stall-after-dot"), 20};
  maillib::SmtpLimits limits_;
  testhooks::Scoped<maillib::SmtpLimits*> hook_{testhooks::smtpLimits, &limits_};
};

}  // namespace

// The mail may be with the recipient: the user is told so, and the mail
// stays in the window, so that nothing is lost and nothing goes out twice
// unknowingly.
TEST_F(UnconfirmedSend, AnUnansweredFinalDotIsToldApartAndTheMailStays) {
  Compose c;
  c->ToText->setText(QStringLiteral("slow@example.jp"));
  c->SubjectText->setText(QStringLiteral("届いたかどうか"));
  c->rtfEd->setPlainText(QStringLiteral("残る本文"));
  {
    MsgBoxAnswerer boxes;
    QElapsedTimer t;
    t.start();
    c->Command1->click();
    EXPECT_LT(t.elapsed(), 12000);
    ASSERT_EQ(boxes.seen().size(), 1);
    EXPECT_NE(boxes.seen()[0].title, QStringLiteral("送信エラー"));
    EXPECT_TRUE(boxes.seen()[0].text.startsWith(kNotSure)) << boxes.seen()[0].text.toStdString();
    EXPECT_TRUE(boxes.seen()[0].text.contains(QStringLiteral("この画面に残してあります"))) << boxes.seen()[0].text.toStdString();
  }
  destroyClosed();
  ASSERT_TRUE(c.alive());
  EXPECT_TRUE(c->isVisible());
  EXPECT_EQ(c->Label7->text(), QStringLiteral("1件中1件は送信されたか確認できませんでした。内容はそのまま残してあります。"));
  EXPECT_EQ(c->ToText->text(), QStringLiteral("slow@example.jp"));
  EXPECT_EQ(c->SubjectText->text(), QStringLiteral("届いたかどうか"));
  EXPECT_EQ(c->rtfEd->toPlainText(), QStringLiteral("残る本文"));
  EXPECT_EQ(recipients(), QStringList{QStringLiteral("slow@example.jp")});
}
