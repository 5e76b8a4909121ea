// Answering a received mail through the windows: fetched by the mail check
// from a mailbox in memory, answered from the viewer with a face mark, sent
// through the send and mail libraries to an SMTP server in memory, and what
// it is handed parsed as a reader would.
#include "ComposeFixture.h"

#include "addressbook/FriendForm.h"
#include "addressbook/book/AddressBook.h"
#include "composer/BackForm.h"
#include "facemarks/KaoForm.h"
#include "platform/Text.h"
#include "settings/files/AccountSettings.h"
#include "shell/MainForm.h"
#include "support/FakePop3.h"
#include "support/FakeSmtp.h"
#include "support/MailServers.h"
#include "support/ParsedMail.h"
#include "viewer/TyakuForm.h"

#include <QAbstractItemModel>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <QTreeView>
#include <memory>

namespace {

const QByteArray kOriginal =
    "From: =?UTF-8?B?6Iqx5a2Q?= <hanako@example.jp>\r\n"
    "To: tomo@localhost\r\n"
    "Subject: =?UTF-8?B?6YCx5pyr44Gu5LqI5a6a?=\r\n"
    "Date: Mon, 1 Apr 2024 10:00:00 +0900\r\n"
    "Message-ID: <answer-me.42@mail.example.jp>\r\n"
    "References: <root.1@mail.example.jp>\r\n"
    "MIME-Version: 1.0\r\n"
    "Content-Type: text/plain; charset=UTF-8\r\n"
    "Content-Transfer-Encoding: 8bit\r\n"
    "\r\n"
    "\xe5\x9c\x9f\xe6\x9b\x9c\xe6\x97\xa5\xe3\x81\xaf\xe7\xa9\xba\xe3\x81\x84\xe3\x81\xa6\xe3\x81\x84\xe3\x81\xbe\xe3\x81\x99\xe3\x81\x8b\xef\xbc\x9f\r\n";
const QString kSubject = QStringLiteral("週末の予定");
const QString kSender = QStringLiteral("花子 <hanako@example.jp>");
const QString kBody = QStringLiteral("土曜日は空いていますか？");

class ReplySend : public ::testing::Test {
 protected:
  void SetUp() override {
    AccountSettings() = AccountSettingsRecord{};
    writeServerSettings(home_.path(), QStringLiteral("smtp.example.jp"), QStringLiteral("pop.example.jp"),
                        QStringLiteral("tomo@localhost"), 0);
    writeAccount(home_.path(), mailbox_->user, mailbox_->password);
  }
  void TearDown() override {
    for (QWidget* w : std::initializer_list<QWidget*>{KaoForm::existing(), BackForm::existing(), FriendForm::existing(),
                                                      TyakuForm::existing()})
      delete w;
    main_.reset();
    pump();
    AccountSettings() = AccountSettingsRecord{};
  }

  // The main window started, the mail delivered and fetched with "メールチェック":
  // the viewer opens on it.
  TyakuForm* receive(const QByteArray& mail) {
    mailbox_->add("answer-me", mail);
    main_ = std::make_unique<MainForm>();
    pump();
    main_->Check2->setChecked(true);
    main_->Command4->click();
    pump();
    TyakuForm* v = TyakuForm::existing();
    EXPECT_NE(v, nullptr);
    if (!v) return nullptr;
    EXPECT_EQ(v->MailListView->model()->rowCount(), 1);
    return v;
  }
  static void clickRow(TyakuForm* v, int row) {
    QTreeView* list = v->MailListView;
    const QModelIndex idx = list->model()->index(row, 0);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(idx).center());
  }
  QList<FakeSmtp::Received> arrived() const { return smtp_->received; }

  TempHome home_;
  std::shared_ptr<FakeMailbox> mailbox_ = std::make_shared<FakeMailbox>();
  std::unique_ptr<FakeMailbox::Installed> pop3_ = FakeMailbox::install(mailbox_);
  std::shared_ptr<FakeSmtp> smtp_ = std::make_shared<FakeSmtp>();
  std::unique_ptr<FakeSmtp::Installed> smtpInstalled_ = FakeSmtp::install(smtp_);
  std::unique_ptr<MainForm> main_;
};

}  // namespace

TEST_F(ReplySend, ANewUserAnswersAReceivedMailWithAFaceMarkThroughAServerOutageAndRegistersTheSender) {
  home_.write(paths::kFaceMarkFile, text::encodeText(QStringLiteral("(^_^)v\r\n①㈱～\r\n"), text::FileEncoding::Cp932));
  MsgBoxAnswerer boxes;
  TyakuForm* v = receive(kOriginal);
  ASSERT_NE(v, nullptr);
  clickRow(v, 0);
  v->Command5->click();
  BackForm* r = BackForm::existing();
  ASSERT_NE(r, nullptr);
  EXPECT_TRUE(r->isVisible());
  EXPECT_EQ(r->SubjectText->text(), QStringLiteral("Re:  ") + kSubject);
  EXPECT_EQ(r->ToText->text(), kSender);
  EXPECT_EQ(r->BodyText->toPlainText(), kBody);

  // A face mark from the picker, at the end of the body.
  r->BodyText->moveCursor(QTextCursor::End);
  r->Command8->click();
  KaoForm* k = KaoForm::existing();
  ASSERT_NE(k, nullptr);
  QTextCursor c = k->Kao1->textCursor();
  c.setPosition(0);
  c.setPosition(6, QTextCursor::KeepAnchor);
  k->Kao1->setTextCursor(c);
  k->Command2->click();
  destroyClosed();
  EXPECT_EQ(KaoForm::existing(), nullptr);
  EXPECT_EQ(r->BodyText->toPlainText(), kBody + QStringLiteral("(^_^)v"));

  // The SMTP server is down: the reply stays in its window, as it was.
  smtp_->down = true;
  r->Command2->click();
  destroyClosed();
  ASSERT_EQ(boxes.seen().size(), 1);
  EXPECT_EQ(boxes.seen()[0].title, QStringLiteral("送信エラー"));
  EXPECT_EQ(boxes.seen()[0].buttons, QMessageBox::Ok);
  EXPECT_EQ(boxes.seen()[0].text, QStringLiteral("サーバー「smtp.example.jp」に接続できません（接続を拒否されたか、届きません）。"));
  ASSERT_EQ(BackForm::existing(), r);
  EXPECT_TRUE(r->isVisible());
  EXPECT_EQ(r->ToText->text(), kSender);
  EXPECT_EQ(r->SubjectText->text(), QStringLiteral("Re:  ") + kSubject);
  EXPECT_EQ(r->BodyText->toPlainText(), kBody + QStringLiteral("(^_^)v"));
  EXPECT_TRUE(arrived().isEmpty());

  // Back up: the same window sends it, and closes.
  smtp_->down = false;
  r->Command2->click();
  destroyClosed();
  EXPECT_EQ(BackForm::existing(), nullptr);
  EXPECT_EQ(boxes.seen().size(), 1);
  const auto got = arrived();
  ASSERT_EQ(got.size(), 1);
  EXPECT_EQ(got[0].rcptTos, QStringList{QStringLiteral("hanako@example.jp")});
  EXPECT_EQ(got[0].mailFrom, QStringLiteral("tomo@localhost"));
  const ParsedMail p = parseMail(got[0].data);
  EXPECT_EQ(p.subject, QStringLiteral("Re:  ") + kSubject);
  EXPECT_EQ(p.text, kBody + QStringLiteral("(^_^)v\r\n"));
  EXPECT_EQ(p.rawHeader("In-Reply-To"), QByteArray("<answer-me.42@mail.example.jp>"));
  EXPECT_EQ(p.rawHeader("References"), QByteArray("<root.1@mail.example.jp> <answer-me.42@mail.example.jp>"));

  // The sender into the address book, where the user registers it.
  clickRow(v, 0);
  v->Command4->click();
  FriendForm* f = FriendForm::existing();
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(f->isVisible());
  EXPECT_EQ(f->Text4->text(), kSender);
  f->Text2->setText(QStringLiteral("花子"));
  f->Command3->click();
  const addressbook::Listing book = addressbook::readAll();
  ASSERT_EQ(book.rows, 1);
  EXPECT_EQ(text::trimSpaces(book.entry(0).address()), kSender);
  EXPECT_EQ(boxes.seen().size(), 1) << boxes.texts().join(u'\n').toStdString();
}

