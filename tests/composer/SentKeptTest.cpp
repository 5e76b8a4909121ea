// Every mail the server accepted is kept among the sent mail, exactly as it
// went out: from the compose window, the reply window and each address of
// the all-addresses mode, against the local aiosmtpd. A refused or failed
// send keeps nothing.
#include "ComposeFixture.h"

#include "composer/BackForm.h"
#include "platform/Text.h"
#include "settings/files/AccountSettings.h"
#include "store/sent/SentStore.h"
#include "support/MailServers.h"
#include "support/ParsedMail.h"

#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>

namespace {

class SentKept : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    MailServers::Options o;
    o.smtpReject = {QStringLiteral("gone@example.com")};
    servers_ = new MailServers(o);
  }
  static void TearDownTestSuite() {
    delete servers_;
    servers_ = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(servers_->ok()) << servers_->error().toStdString();
    already_ = int(servers_->received().size());
    AccountSettings().SmtpServer = QStringLiteral("127.0.0.1:%1").arg(servers_->smtpPort());
    AccountSettings().PlainSmtpServer = AccountSettings().SmtpServer;
    AccountSettings().MailAddress = QStringLiteral("tomo@localhost");
  }
  void TearDown() override {
    delete BackForm::existing();
    AccountSettings() = AccountSettingsRecord{};
  }

  QList<MailServers::Received> arrived() const { return servers_->received().mid(already_); }

  // The sent records, in order.
  static QList<store::MailRecord> sentRecords() {
    QList<store::MailRecord> out;
    store::RecordFile f(sent::sentFiles().records, store::MailRecord::kLength);
    if (!f.open()) return out;
    QByteArray raw;
    for (int n = 1; f.read(n, raw) == store::ReadResult::Ok; ++n) out.append(store::MailRecord(raw));
    return out;
  }
  // Every kept mail equals what the server got, in order, with its record.
  void expectKeptAsArrived(const QStringList& recipients, const QString& subject) {
    const auto got = arrived();
    const QList<store::MailRecord> records = sentRecords();
    ASSERT_EQ(records.size(), got.size());
    ASSERT_EQ(recipients.size(), got.size());
    for (qsizetype i = 0; i < got.size(); ++i) {
      const received::Original o = sent::original(int(i + 1));
      EXPECT_FALSE(o.fault) << i;
      EXPECT_EQ(o.bytes, got[i].data) << i;
      EXPECT_EQ(text::trimSpaces(records[i].from()), recipients[i]);
      EXPECT_EQ(text::trimSpaces(records[i].subject()), subject);
      EXPECT_EQ(text::trimSpaces(records[i].date()), parseMail(got[i].data).date);
      EXPECT_EQ(records[i].liveFlag(), 1);
    }
  }

  static MailServers* servers_;
  TempHome home_;
  int already_ = 0;
};

MailServers* SentKept::servers_ = nullptr;

}  // namespace

TEST_F(SentKept, AComposedMailIsKeptAsItWentOutAndAFailedOneIsNot) {
  {
    Compose c;
    c->ToText->setText(QStringLiteral("gone@example.com"));
    c->SubjectText->setText(QStringLiteral("届かない"));
    c->rtfEd->setPlainText(QStringLiteral("本文"));
    MsgBoxAnswerer boxes;
    c->Command1->click();
    ASSERT_EQ(boxes.seen().size(), 1);
    EXPECT_EQ(boxes.seen()[0].title, QStringLiteral("送信エラー"));
  }
  destroyClosed();
  EXPECT_TRUE(sentRecords().isEmpty());
  EXPECT_FALSE(QFileInfo::exists(sent::sentFiles().originals) && QFileInfo(sent::sentFiles().originals).size() > 0);

  Compose c;
  c->ToText->setText(QStringLiteral("山田 花子 <hanako@example.jp>, jiro@example.jp"));
  c->SubjectText->setText(QStringLiteral("来週の打ち合わせ"));
  c->rtfEd->setPlainText(QStringLiteral("火曜の午後でいかがでしょうか。\n二行目です。"));
  MsgBoxAnswerer boxes;
  c->Command1->click();
  EXPECT_TRUE(boxes.seen().isEmpty());
  destroyClosed();
  expectKeptAsArrived({QStringLiteral("山田 花子 <hanako@example.jp>, jiro@example.jp")},
                      QStringLiteral("来週の打ち合わせ"));
  EXPECT_EQ(text::trimSpaces(sentRecords()[0].body()), QStringLiteral("火曜の午後でいかがでしょうか。\n二行目です。"));
}

TEST_F(SentKept, EachAddressOfTheAllAddressesModeIsKeptOnce) {
  addAddress(home_, QStringLiteral("一"), QStringLiteral("first@example.com   "));
  addAddress(home_, QStringLiteral("消"), QStringLiteral("gone@example.com"));
  addAddress(home_, QStringLiteral("三"), QStringLiteral("third@example.com"));
  Compose c;
  {
    MsgBoxAnswerer yes;
    yes.answer(QMessageBox::Yes);
    c->Option2->click();
  }
  c->SubjectText->setText(QStringLiteral("皆様へ"));
  c->rtfEd->setPlainText(QStringLiteral("一斉にお知らせします。"));
  MsgBoxAnswerer boxes;
  c->Command1->click();
  EXPECT_EQ(boxes.seen().size(), 1);  // the refused address
  destroyClosed();
  ASSERT_EQ(arrived().size(), 2);
  expectKeptAsArrived({QStringLiteral("first@example.com"), QStringLiteral("third@example.com")},
                      QStringLiteral("皆様へ"));
}

TEST_F(SentKept, AReplyIsKeptWithItsThreadFields) {
  BackForm* r = BackForm::instance();
  r->fillReply(QStringLiteral("花子 <hanako@example.jp>"), QStringLiteral("Re:  週末の予定"),
               QStringLiteral("> 土曜日は空いていますか？\n空いています。"),
               QStringLiteral("In-Reply-To: <answer-me.42@mail.example.jp>"));
  r->show();
  MsgBoxAnswerer boxes;
  r->Command2->click();
  EXPECT_TRUE(boxes.seen().isEmpty());
  destroyClosed();
  EXPECT_EQ(BackForm::existing(), nullptr);
  expectKeptAsArrived({QStringLiteral("花子 <hanako@example.jp>")}, QStringLiteral("Re:  週末の予定"));
  const received::Original o = sent::original(1);
  EXPECT_TRUE(o.bytes.contains("In-Reply-To: <answer-me.42@mail.example.jp>"));
}
