// "送信" in the compose and reply windows, on an SMTP server in memory: the
// windows go through the send library and the mail library as they do for
// real, only the link at the bottom is the fake (support/FakeSmtp.h), and
// what it is handed is parsed as a reader would. The real link is proven
// against aiosmtpd in SendThroughServersTest.
#include "ComposeFixture.h"

#include "composer/BackColor.h"
#include "composer/BackForm.h"
#include "platform/TestHooks.h"
#include "platform/Text.h"
#include "platform/ui/MsgBox.h"
#include "settings/files/AccountSettings.h"
#include "support/FakeSmtp.h"
#include "support/ParsedMail.h"
#include "support/WindowRules.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>

namespace {

const QString kDone = QStringLiteral("送信完了です。");
const QString kServer = QStringLiteral("smtp.example.jp");

class ComposeAndSend : public ::testing::Test {
 protected:
  void SetUp() override {
    smtp_->refuse = {QStringLiteral("refused@example.com")};
    AccountSettings().SmtpServer = kServer;
    AccountSettings().MailAddress = QStringLiteral("tomo@localhost");
  }
  void TearDown() override { AccountSettings() = AccountSettingsRecord{}; }

  // What the server was handed during this test.
  QList<FakeSmtp::Received> arrived() const { return smtp_->received; }
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

  TempHome home_;
  std::shared_ptr<FakeSmtp> smtp_ = std::make_shared<FakeSmtp>();
  std::unique_ptr<FakeSmtp::Installed> installed_ = FakeSmtp::install(smtp_);
};

}  // namespace

TEST_F(ComposeAndSend, AFailedSendKeepsTheMailInTheWindow) {
  const QString attached = file(QStringLiteral("a.txt"), "A");
  Compose c;
  c->ToText->setText(QStringLiteral("tomo@example.com"));
  c->SubjectText->setText(QStringLiteral("届かない件名"));
  c->rtfEd->setPlainText(QStringLiteral("消えてはいけない本文"));
  c.chooseFiles({attached});
  c->AttachCommand->click();

  // The server is down.
  smtp_->down = true;
  {
    MsgBoxAnswerer boxes;
    c->Command1->click();
    ASSERT_EQ(boxes.seen().size(), 1);
    EXPECT_EQ(boxes.seen()[0].title, QStringLiteral("送信エラー"));
    EXPECT_EQ(boxes.seen()[0].icon, QMessageBox::NoIcon);
    EXPECT_EQ(boxes.seen()[0].buttons, QMessageBox::Ok);
    EXPECT_EQ(boxes.seen()[0].text, QStringLiteral("サーバー「smtp.example.jp」に接続できません（接続を拒否されたか、届きません）。"));
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
  smtp_->down = false;
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
  EXPECT_EQ(boxes.seen()[0].text, QStringLiteral("宛先 <refused@example.com> はサーバー「smtp.example.jp」に受け付けられませんでした。\n"
                                                "550 5.1.1 <refused@example.com>: Recipient address rejected"));

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

// The login the send goes with is the account's: the one confirmed in
// this run, else the one in the account file.
TEST_F(ComposeAndSend, TheAccountsLoginGoesWithTheMail) {
  ASSERT_TRUE(WriteAccountFile(QStringLiteral("saved-id"), QStringLiteral("saved-password"), true));
  auto sendOne = [&] {
    Compose c;
    c->ToText->setText(QStringLiteral("a@example.com"));
    c->Command1->click();
    destroyClosed();
  };
  AccountSettings().UserId = QStringLiteral("confirmed-id");
  AccountSettings().Password = QStringLiteral("confirmed-password");
  sendOne();
  AccountSettings().UserId.clear();
  AccountSettings().Password.clear();
  sendOne();
  const auto got = arrived();
  ASSERT_EQ(got.size(), 2);
  EXPECT_EQ(got[0].login.user, QStringLiteral("confirmed-id"));
  EXPECT_EQ(got[0].login.password, QStringLiteral("confirmed-password"));
  EXPECT_EQ(got[1].login.user, QStringLiteral("saved-id"));
  EXPECT_EQ(got[1].login.password, QStringLiteral("saved-password"));
  EXPECT_EQ(got[1].server, kServer);
}

// What the library refuses before anything goes out is worded for the
// user as it always was.
TEST_F(ComposeAndSend, ARefusalBeforeSendingIsShownInPlainWords) {
  const std::pair<QString, QString> cases[] = {
      {QString(), QStringLiteral("送信サーバー（SMTP）: サーバー名が設定されていません。")},
      {QStringLiteral("pop3://smtp.example.jp"),
       QStringLiteral("送信サーバー（SMTP）: サーバー名「pop3://smtp.example.jp」を理解できません（smtp:// か smtps:// で始めて下さい）。")},
  };
  for (const auto& [server, text] : cases) {
    AccountSettings().SmtpServer = server;
    Compose c;
    c->ToText->setText(QStringLiteral("a@example.com"));
    MsgBoxAnswerer boxes;
    c->Command1->click();
    ASSERT_EQ(boxes.seen().size(), 1);
    EXPECT_EQ(boxes.seen()[0].text, text);
  }
  AccountSettings().SmtpServer = kServer;
  AccountSettings().MailAddress.clear();
  Compose c;
  c->ToText->setText(QStringLiteral("a@example.com"));
  // A file attached, then taken away before the send.
  const QString missing = file(QStringLiteral("x.txt"), "x");
  c.chooseFiles({missing});
  c->AttachCommand->click();
  ASSERT_EQ(c->AttachText->text(), missing);
  QFile::remove(missing);
  MsgBoxAnswerer boxes;
  c->Command1->click();
  ASSERT_EQ(boxes.seen().size(), 1);
  EXPECT_EQ(boxes.seen()[0].text, QStringLiteral("差出人のメールアドレスが設定されていません（初期設定のメールアドレス）。"));
  AccountSettings().MailAddress = QStringLiteral("tomo@localhost");
  c->Command1->click();
  ASSERT_EQ(boxes.seen().size(), 2);
  EXPECT_EQ(boxes.seen()[1].text, QStringLiteral("添付ファイル「%1」が見つかりません。").arg(missing));
  EXPECT_EQ(smtp_->attempts, 0);
}

namespace {

// The status line at the moment each message box of a run comes up.
class StatusAtBoxes {
 public:
  explicit StatusAtBoxes(QLabel* status) {
    const auto answer = testhooks::msgBox;
    testhooks::msgBox = [this, status, answer](QMessageBox* box) {
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

QStringList recipientsOf(const QList<FakeSmtp::Received>& got) {
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
    EXPECT_EQ(boxes.seen()[0].text, QStringLiteral("宛先に改行が含まれています。宛先は1行で入力して下さい。"));
  }
  c->ToText->setText(QStringLiteral("a@example.com"));
  c->SubjectText->setText(QStringLiteral("件名\nBcc: b@example.com"));
  {
    MsgBoxAnswerer boxes;
    c->Command1->click();
    ASSERT_EQ(boxes.seen().size(), 1);
    EXPECT_EQ(boxes.seen()[0].text, QStringLiteral("件名に改行が含まれています。件名は1行で入力して下さい。"));
  }
  EXPECT_TRUE(arrived().isEmpty());
  destroyClosed();
  ASSERT_TRUE(c.alive());
  EXPECT_EQ(c->SubjectText->text(), QStringLiteral("件名\nBcc: b@example.com"));
}

namespace {

const QString kNotSure =
    QStringLiteral("送信されたか確認できませんでした。サーバー「smtp.example.jp」はメールを最後まで受け取りましたが、"
                   "受け付けたという返事がないまま時間切れになりました。メールは届いているかもしれません。\n"
                   "メールはこの画面に残してあります。もう一度送る前に、相手の方に届いたかどうかを確かめて下さい。");

// The windows against a server that never answers the final dot of a mail
// to slow@example.jp and refuses refused@example.jp.
class UnconfirmedSend : public ::testing::Test {
 protected:
  void SetUp() override {
    smtp_->unconfirmed = {QStringLiteral("slow@example.jp")};
    smtp_->refuse = {QStringLiteral("refused@example.jp")};
    AccountSettings().SmtpServer = kServer;
    AccountSettings().MailAddress = QStringLiteral("tomo@localhost");
  }
  void TearDown() override { AccountSettings() = AccountSettingsRecord{}; }
  QStringList recipients() const { return recipientsOf(smtp_->received); }

  TempHome home_;
  std::shared_ptr<FakeSmtp> smtp_ = std::make_shared<FakeSmtp>();
  std::unique_ptr<FakeSmtp::Installed> installed_ = FakeSmtp::install(smtp_);
};

}  // namespace

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
    EXPECT_EQ(boxes.seen()[1].text, kNotSure);
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
    EXPECT_EQ(boxes.seen()[0].text, kNotSure);
  }
  destroyClosed();
  ASSERT_FALSE(r.isNull());
  EXPECT_TRUE(r->isVisible());
  EXPECT_EQ(r->BodyText->toPlainText(), QStringLiteral("返事"));
  EXPECT_EQ(recipients(), QStringList{QStringLiteral("slow@example.jp")});
  r->close();
  destroyClosed();
}
