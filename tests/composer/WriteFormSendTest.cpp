// "送信" in the compose window against the local aiosmtpd: the window calls
// the real mail library, and what arrives is parsed as a reader would.
#include "ComposeFixture.h"

#include "composer/BackColor.h"
#include "composer/BackForm.h"
#include "platform/MsgBox.h"
#include "platform/Text.h"
#include "reception/maillib/MailLibCommon.h"
#include "settings/AccountSettings.h"
#include "support/MailServers.h"
#include "support/ParsedMail.h"
#include "support/SmtpPeer.h"
#include "support/WindowRules.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTextCursor>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QString kDone = QStringLiteral("送信完了です。");

class ComposeAndSend : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    MailServers::Options o;
    o.smtpReject = {QStringLiteral("refused@example.com")};
    servers_ = new MailServers(o);
  }
  static void TearDownTestSuite() {
    delete servers_;
    servers_ = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(servers_->ok()) << servers_->error().toStdString();
    already_ = int(servers_->received().size());
    useServer(QStringLiteral("127.0.0.1:%1").arg(servers_->smtpPort()));
    AccountSettings().MailAddress = QStringLiteral("tomo@localhost");
  }
  void TearDown() override { AccountSettings() = AccountSettingsRecord{}; }

  // The test server speaks plain SMTP: allowed, as the server dialog's
  // check box allows it.
  static void useServer(const QString& s) {
    AccountSettings().SmtpServer = s;
    AccountSettings().PlainSmtpServer = s;
  }
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

TEST_F(ComposeAndSend, AFailedSendKeepsTheMailInTheWindow) {
  const QString attached = file(QStringLiteral("a.txt"), "A");
  Compose c;
  c->ToText->setText(QStringLiteral("tomo@example.com"));
  c->SubjectText->setText(QStringLiteral("届かない件名"));
  c->rtfEd->setPlainText(QStringLiteral("消えてはいけない本文"));
  c.chooseFiles({attached});
  c->AttachCommand->click();

  // The server is down.
  useServer(QStringLiteral("127.0.0.1:%1").arg(closedLoopbackPort()));
  {
    MsgBoxAnswerer boxes;
    c->Command1->click();
    ASSERT_EQ(boxes.seen().size(), 1);
    EXPECT_EQ(boxes.seen()[0].title, QStringLiteral("送信エラー"));
    EXPECT_EQ(boxes.seen()[0].icon, QMessageBox::NoIcon);
    EXPECT_EQ(boxes.seen()[0].buttons, QMessageBox::Ok);
    EXPECT_TRUE(boxes.seen()[0].text.contains(QStringLiteral("接続できません"))) << boxes.seen()[0].text.toStdString();
  }
  destroyClosed();
  ASSERT_TRUE(c.alive());
  EXPECT_TRUE(c->isVisible());
  EXPECT_EQ(c->Label7->text(), QStringLiteral("1件中1件の送信に失敗しました。内容はそのまま残してあります。"));
  // What a screen reader hears is what the line shows.
  EXPECT_EQ(spokenName(c->Label7), c->Label7->text());
  EXPECT_EQ(c->ToText->text(), QStringLiteral("tomo@example.com"));
  EXPECT_EQ(c->SubjectText->text(), QStringLiteral("届かない件名"));
  EXPECT_EQ(c->rtfEd->toPlainText(), QStringLiteral("消えてはいけない本文"));
  EXPECT_EQ(c->AttachText->text(), attached);
  EXPECT_TRUE(arrived().isEmpty());

  // Back up: the same window sends it.
  useServer(QStringLiteral("127.0.0.1:%1").arg(servers_->smtpPort()));
  MsgBoxAnswerer none;
  c->Command1->click();
  EXPECT_TRUE(none.seen().isEmpty());
  destroyClosed();
  EXPECT_FALSE(c.alive());
  ASSERT_EQ(arrived().size(), 1);
  EXPECT_EQ(parseMail(arrived()[0].data).subject, QStringLiteral("届かない件名"));
}

TEST_F(ComposeAndSend, SingleModePassesTheTypedRecipientTextOn) {
  Compose c;
  c->ToText->setText(QStringLiteral("one@example.com, two@example.com"));
  c->SubjectText->setText(QStringLiteral("  spaces kept  "));
  c->Command1->click();
  const auto got = arrived();
  ASSERT_EQ(got.size(), 1);
  EXPECT_EQ(got[0].rcptTos, (QStringList{QStringLiteral("one@example.com"), QStringLiteral("two@example.com")}));
  const ParsedMail p = parseMail(got[0].data);
  EXPECT_EQ(p.rawHeader("To"), QByteArray("one@example.com, two@example.com"));
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

TEST_F(ComposeAndSend, AnEmptyAddressBookSendsNothingAndStillEnds) {
  Compose c;
  chooseAllAddresses(c);
  c->SubjectText->setText(QStringLiteral("誰にも"));
  MsgBoxAnswerer boxes;
  c->Command1->click();
  EXPECT_TRUE(boxes.seen().isEmpty());
  ASSERT_TRUE(c.alive());
  EXPECT_EQ(c->Label7->text(), kDone);
  EXPECT_TRUE(c->SubjectText->text().isEmpty());
  EXPECT_FALSE(c->isVisible());
  destroyClosed();
  EXPECT_TRUE(arrived().isEmpty());
}

TEST_F(ComposeAndSend, ARefusalInTheSecondOfThreeTurnsShowsOneBoxAndTheThirdIsSent) {
  addAddress(home_, QStringLiteral("一"), QStringLiteral("first@example.com"));
  addAddress(home_, QStringLiteral("拒否"), QStringLiteral("refused@example.com"));
  addAddress(home_, QStringLiteral("三"), QStringLiteral("third@example.com"));
  const QString attached = file(QStringLiteral("資料.txt"), "data");
  Compose c;
  chooseAllAddresses(c);
  c->SubjectText->setText(QStringLiteral("お知らせ"));
  c->rtfEd->setPlainText(QStringLiteral("本文"));
  c.chooseFiles({attached});
  c->AttachCommand->click();
  MsgBoxAnswerer boxes;
  c->Command1->click();
  ASSERT_EQ(boxes.seen().size(), 1);
  EXPECT_EQ(boxes.seen()[0].title, QStringLiteral("送信エラー"));
  EXPECT_TRUE(boxes.seen()[0].text.contains(QStringLiteral("refused@example.com"))) << boxes.seen()[0].text.toStdString();

  const auto got = arrived();
  ASSERT_EQ(got.size(), 2);
  EXPECT_EQ(got[0].rcptTos, QStringList{QStringLiteral("first@example.com")});
  EXPECT_EQ(got[1].rcptTos, QStringList{QStringLiteral("third@example.com")});

  // Not claimed as done: the window stays with the mail as it was.
  destroyClosed();
  ASSERT_TRUE(c.alive());
  EXPECT_TRUE(c->isVisible());
  EXPECT_EQ(c->Label7->text(), QStringLiteral("3件中1件の送信に失敗しました。内容はそのまま残してあります。"
                                              "もう一度「送信」を押すと、未送信の1件にだけ送ります。"));
  EXPECT_EQ(c->SubjectText->text(), QStringLiteral("お知らせ"));
  EXPECT_EQ(c->rtfEd->toPlainText(), QStringLiteral("本文"));
  EXPECT_EQ(c->AttachText->text(), attached);
  EXPECT_TRUE(c->Option2->isChecked());
  EXPECT_TRUE(c->ToText->text().isEmpty());
  EXPECT_FALSE(c->ToText->isEnabled());
}

namespace {

// The status line at the moment each message box of a run comes up.
class StatusAtBoxes {
 public:
  explicit StatusAtBoxes(QLabel* status) {
    const auto answer = g_msgBoxHook;
    g_msgBoxHook = [this, status, answer](QMessageBox* box) {
      seen_ << status->text();
      answer(box);
    };
  }
  const QStringList& seen() const { return seen_; }

 private:
  QStringList seen_;
};

void rewriteAddress(const TempHome& home, int n, const QString& address) {
  store::RecordFile f(home.file(paths::kAddressFile), store::AddressRecord::kLength);
  ASSERT_TRUE(f.open());
  QByteArray raw;
  ASSERT_EQ(f.read(n, raw), store::ReadResult::Ok);
  store::AddressRecord r;
  r.setBytes(raw);
  r.setAddress(address);
  ASSERT_TRUE(f.write(n, r.bytes()));
  f.close();
}

QStringList recipientsOf(const QList<MailServers::Received>& got) {
  QStringList all;
  for (const auto& r : got) all << r.rcptTos;
  return all;
}

}  // namespace

// Pressing "送信" again after a partly failed run must not send the mail a
// second time to those who already have it.
TEST_F(ComposeAndSend, ASecondSendAfterAPartialFailureGoesOnlyToTheUnserved) {
  addAddress(home_, QStringLiteral("一"), QStringLiteral("first@example.com"));
  addAddress(home_, QStringLiteral("拒否"), QStringLiteral("refused@example.com"));
  addAddress(home_, QStringLiteral("三"), QStringLiteral("third@example.com"));
  addAddress(home_, QStringLiteral("一の会社"), QStringLiteral("First@Example.com   "));
  Compose c;
  chooseAllAddresses(c);
  c->SubjectText->setText(QStringLiteral("お知らせ"));
  c->rtfEd->setPlainText(QStringLiteral("本文"));
  {
    MsgBoxAnswerer boxes;
    c->Command1->click();
    EXPECT_EQ(boxes.seen().size(), 1);
  }
  // The same mailbox listed twice gets the mail once.
  EXPECT_EQ(recipientsOf(arrived()), (QStringList{QStringLiteral("first@example.com"), QStringLiteral("third@example.com")}));
  EXPECT_EQ(c->Label7->text(), QStringLiteral("3件中1件の送信に失敗しました。内容はそのまま残してあります。"
                                              "もう一度「送信」を押すと、未送信の1件にだけ送ります。"));

  // Still refused: one try, one box, and nobody served gets it again.
  {
    MsgBoxAnswerer boxes;
    StatusAtBoxes status(c->Label7);
    c->Command1->click();
    ASSERT_EQ(boxes.seen().size(), 1);
    EXPECT_TRUE(boxes.seen()[0].text.contains(QStringLiteral("refused@example.com")));
    ASSERT_EQ(status.seen().size(), 1);
    EXPECT_TRUE(status.seen()[0].startsWith(QStringLiteral("未送信1件に再送します。"))) << status.seen()[0].toStdString();
  }
  EXPECT_EQ(arrived().size(), 2);
  EXPECT_EQ(c->Label7->text(), QStringLiteral("1件中1件の送信に失敗しました。内容はそのまま残してあります。"
                                              "もう一度「送信」を押すと、未送信の1件にだけ送ります。"));

  // The address corrected in the book: only that one is sent, and the run ends.
  rewriteAddress(home_, 2, QStringLiteral("second@example.com"));
  MsgBoxAnswerer none;
  c->Command1->click();
  EXPECT_TRUE(none.seen().isEmpty());
  EXPECT_EQ(recipientsOf(arrived()), (QStringList{QStringLiteral("first@example.com"), QStringLiteral("third@example.com"),
                                                  QStringLiteral("second@example.com")}));
  destroyClosed();
  EXPECT_FALSE(c.alive());
}

// Another mail is another mail: a changed text or sending mode goes to
// everyone again.
TEST_F(ComposeAndSend, AChangedMailOrModeAfterAPartialFailureGoesToEveryone) {
  addAddress(home_, QStringLiteral("一"), QStringLiteral("first@example.com"));
  addAddress(home_, QStringLiteral("拒否"), QStringLiteral("refused@example.com"));
  Compose c;
  chooseAllAddresses(c);
  c->SubjectText->setText(QStringLiteral("第一報"));
  auto send = [&] {
    MsgBoxAnswerer boxes;
    c->Command1->click();
    return boxes.seen().size();
  };
  EXPECT_EQ(send(), 1);
  ASSERT_EQ(arrived().size(), 1);

  c->rtfEd->setPlainText(QStringLiteral("訂正版"));
  EXPECT_EQ(send(), 1);
  ASSERT_EQ(arrived().size(), 2);
  EXPECT_EQ(parseMail(arrived()[1].data).text, QStringLiteral("訂正版\r\n"));

  c->Option1->click();
  chooseAllAddresses(c);
  EXPECT_EQ(send(), 1);
  EXPECT_EQ(recipientsOf(arrived()), QStringList(3, QStringLiteral("first@example.com")));
}

// A one-line box still takes a line break (pasted, or from a mailto: link):
// the mail is refused rather than sent to another recipient than the To
// line a reader sees.
TEST_F(ComposeAndSend, ALineBreakInTheRecipientOrSubjectBoxIsRefused) {
  Compose c;
  c->ToText->setText(QStringLiteral("a@example.com\r\nRCPT TO:<b@example.com>"));
  c->SubjectText->setText(QStringLiteral("件名"));
  {
    MsgBoxAnswerer boxes;
    c->Command1->click();
    ASSERT_EQ(boxes.seen().size(), 1);
    EXPECT_EQ(boxes.seen()[0].title, QStringLiteral("送信エラー"));
    EXPECT_TRUE(boxes.seen()[0].text.contains(QStringLiteral("宛先に改行"))) << boxes.seen()[0].text.toStdString();
  }
  c->ToText->setText(QStringLiteral("a@example.com"));
  c->SubjectText->setText(QStringLiteral("件名\nBcc: b@example.com"));
  {
    MsgBoxAnswerer boxes;
    c->Command1->click();
    ASSERT_EQ(boxes.seen().size(), 1);
    EXPECT_TRUE(boxes.seen()[0].text.contains(QStringLiteral("件名に改行"))) << boxes.seen()[0].text.toStdString();
  }
  EXPECT_TRUE(arrived().isEmpty());
  destroyClosed();
  ASSERT_TRUE(c.alive());
  EXPECT_EQ(c->SubjectText->text(), QStringLiteral("件名\nBcc: b@example.com"));
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
    maillib::g_smtpLimits.replySeconds = 2;
  }
  void TearDown() override {
    maillib::g_smtpLimits = maillib::SmtpLimits{};
    AccountSettings() = AccountSettingsRecord{};
  }
  QStringList recipients() {
    QStringList all;
    for (const SmtpPeer::Mail& m : peer_.mails()) all << m.rcpt;
    return all;
  }

  TempHome home_;
  SmtpPeer peer_{QStringLiteral("stall-after-dot"), 20};
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

// In the all-addresses mode an unconfirmed address is no failure: the
// retry after a partial failure goes to the refused one only.
TEST_F(UnconfirmedSend, AllAddressesCountsItAsServedAndTheRetrySkipsIt) {
  addAddress(home_, QStringLiteral("一"), QStringLiteral("first@example.jp"));
  addAddress(home_, QStringLiteral("拒否"), QStringLiteral("refused@example.jp"));
  addAddress(home_, QStringLiteral("遅い"), QStringLiteral("slow@example.jp"));
  addAddress(home_, QStringLiteral("四"), QStringLiteral("fourth@example.jp"));
  Compose c;
  {
    MsgBoxAnswerer yes;
    yes.answer(QMessageBox::Yes);
    c->Option2->click();
  }
  c->SubjectText->setText(QStringLiteral("お知らせ"));
  c->rtfEd->setPlainText(QStringLiteral("本文"));
  {
    MsgBoxAnswerer boxes;
    c->Command1->click();
    ASSERT_EQ(boxes.seen().size(), 2);
    EXPECT_EQ(boxes.seen()[0].title, QStringLiteral("送信エラー"));
    EXPECT_TRUE(boxes.seen()[1].text.startsWith(kNotSure)) << boxes.seen()[1].text.toStdString();
  }
  EXPECT_EQ(recipients(), (QStringList{QStringLiteral("first@example.jp"), QStringLiteral("slow@example.jp"),
                                       QStringLiteral("fourth@example.jp")}));
  EXPECT_EQ(c->Label7->text(), QStringLiteral("4件中1件の送信に失敗しました。1件は送信されたか確認できませんでした。"
                                              "内容はそのまま残してあります。もう一度「送信」を押すと、未送信の1件にだけ送ります。"));
  {
    MsgBoxAnswerer boxes;
    c->Command1->click();
    ASSERT_EQ(boxes.seen().size(), 1);
    EXPECT_TRUE(boxes.seen()[0].text.contains(QStringLiteral("refused@example.jp")));
  }
  EXPECT_EQ(recipients().size(), 3);
  destroyClosed();
  ASSERT_TRUE(c.alive());
}

// The reply window keeps an unconfirmed reply too.
TEST_F(UnconfirmedSend, TheReplyWindowKeepsAnUnconfirmedReply) {
  QPointer<BackForm> r = BackForm::instance();
  r->ToText->setText(QStringLiteral("slow@example.jp"));
  r->SubjectText->setText(QStringLiteral("Re: 予定"));
  r->BodyText->setPlainText(QStringLiteral("返事"));
  {
    MsgBoxAnswerer boxes;
    r->Command2->click();
    ASSERT_EQ(boxes.seen().size(), 1);
    EXPECT_NE(boxes.seen()[0].title, QStringLiteral("送信エラー"));
    EXPECT_TRUE(boxes.seen()[0].text.startsWith(kNotSure)) << boxes.seen()[0].text.toStdString();
    EXPECT_TRUE(boxes.seen()[0].text.contains(QStringLiteral("この画面に残してあります"))) << boxes.seen()[0].text.toStdString();
  }
  destroyClosed();
  ASSERT_FALSE(r.isNull());
  EXPECT_TRUE(r->isVisible());
  EXPECT_EQ(r->BodyText->toPlainText(), QStringLiteral("返事"));
  EXPECT_EQ(recipients(), QStringList{QStringLiteral("slow@example.jp")});
  r->close();
  destroyClosed();
}
