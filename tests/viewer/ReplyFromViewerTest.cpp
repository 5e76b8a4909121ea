// "   返事を書く" and "    アドレス帳登録": the selected mail handed to the
// reply window and to the address book.
#include "ViewerFixture.h"

#include "addressbook/FriendForm.h"
#include "composer/BackForm.h"

#include <QLineEdit>
#include <QPlainTextEdit>

namespace {

const QString kNoSelection = QStringLiteral("データが選択されていません");

class ReplyFromViewer : public ViewerTest {
 protected:
  void TearDown() override {
    delete BackForm::existing();
    delete FriendForm::existing();
    ViewerTest::TearDown();
  }
};

}  // namespace

TEST_F(ReplyFromViewer, ReplyTakesTheMailShownAndUsesUpTheSelection) {
  storeMails(threeMails());
  storeMails({{QStringLiteral("Re:  前の話"), QStringLiteral("a@example.jp"), QStringLiteral("d"), QStringLiteral("x")}});
  TyakuForm& v = view();
  QList<int> asked;
  v.originalHeaderOf = [&](int number, const QByteArray& bytes) -> std::optional<QByteArray> {
    asked << number;
    if (bytes != recordOf(threeMails()[0])) return std::nullopt;
    return QByteArray("Message-ID: <first@example.jp>");
  };
  clickRow(v, 0);
  v.Command5->click();
  BackForm* r = BackForm::existing();
  ASSERT_NE(r, nullptr);
  EXPECT_TRUE(r->isVisible());
  EXPECT_EQ(r->SubjectText->text(), QStringLiteral("Re:  件名その1"));
  EXPECT_EQ(r->ToText->text(), QStringLiteral("一郎 <ichiro@example.jp>"));
  EXPECT_EQ(r->BodyText->toPlainText(), QStringLiteral("本文その1です。"));
  EXPECT_EQ(r->ThreadHeaders, QStringLiteral("In-Reply-To: <first@example.jp>\r\nReferences: <first@example.jp>"));
  EXPECT_TRUE(v.Text5->text().isEmpty());
  v.Command4->click();
  EXPECT_EQ(boxes_.texts(), QStringList{kNoSelection});
  EXPECT_EQ(boxes_.seen()[0].icon, QMessageBox::NoIcon);
  EXPECT_EQ(FriendForm::existing(), nullptr);

  // Closed and opened again: only what the viewer puts in, the prefix again,
  // and no thread where no original is kept.
  r->AttachText->setText(QStringLiteral("/tmp/a.txt"));
  r->close();
  pump();
  clickRow(v, 3);
  v.Command5->click();
  r = BackForm::existing();
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(asked, (QList<int>{1, 4}));
  EXPECT_TRUE(r->AttachText->text().isEmpty());
  EXPECT_EQ(r->SubjectText->text(), QStringLiteral("Re:  Re:  前の話"));
  EXPECT_TRUE(r->ThreadHeaders.isEmpty());
}

TEST_F(ReplyFromViewer, RegistrationPutsTheWholeSenderIntoTheAddressBox) {
  storeMails(threeMails());
  TyakuForm& v = view();
  v.Command5->click();  // nothing picked yet
  EXPECT_EQ(boxes_.texts(), QStringList{kNoSelection});
  EXPECT_EQ(BackForm::existing(), nullptr);
  clickRow(v, 0);
  FriendForm::instance()->Text2->setText(QStringLiteral("名前はそのまま"));
  v.Command4->click();
  FriendForm* f = FriendForm::existing();
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(f->isVisible());
  EXPECT_EQ(f->Text4->text(), v.Text8->text());
  EXPECT_TRUE(f->Text4->text().contains(QStringLiteral("一郎 <ichiro@example.jp>")));
  EXPECT_EQ(f->Text2->text(), QStringLiteral("名前はそのまま"));
  EXPECT_TRUE(v.Text5->text().isEmpty());
}

// "本文に貼付" quotes the mail the reply was started for, whatever the
// viewer shows since.
TEST_F(ReplyFromViewer, PastingQuotesTheAnsweredMailNotTheOneShownSince) {
  storeMails(threeMails());
  TyakuForm& v = view();
  clickRow(v, 0);
  v.Command5->click();
  BackForm* r = BackForm::existing();
  ASSERT_NE(r, nullptr);
  clickRow(v, 1);  // the viewer now shows the second mail
  ASSERT_EQ(v.rtfEd->toPlainText(), QStringLiteral("本文その2"));
  QGuiApplication::clipboard()->setText(QStringLiteral("お返事です。"));
  r->Command4->click();
  const QString body = r->BodyText->toPlainText();
  EXPECT_TRUE(body.startsWith(QStringLiteral("お返事です。"))) << body.toStdString();
  EXPECT_TRUE(body.endsWith(QStringLiteral("\n本文その1です。"))) << body.toStdString();
  EXPECT_FALSE(body.contains(QStringLiteral("本文その2"))) << body.toStdString();

  // Opened anew for the third mail, it quotes the third.
  r->close();
  pump();
  clickRow(v, 2);
  v.Command5->click();
  r = BackForm::existing();
  ASSERT_NE(r, nullptr);
  clickRow(v, 0);
  r->Command4->click();
  EXPECT_TRUE(r->BodyText->toPlainText().endsWith(QStringLiteral("\n本文その3"))) << r->BodyText->toPlainText().toStdString();
}

// A second "   返事を書く" while a reply is being written asks first, and
// the new reply starts without the files chosen for the other.
TEST_F(ReplyFromViewer, ASecondReplyAsksBeforeReplacingOneBeingWritten) {
  storeMails(threeMails());
  TyakuForm& v = view();
  clickRow(v, 0);
  v.Command5->click();
  BackForm* r = BackForm::existing();
  ASSERT_NE(r, nullptr);

  // Untouched since it was filled: replaced without a question.
  clickRow(v, 1);
  v.Command5->click();
  EXPECT_TRUE(boxes_.seen().isEmpty()) << boxes_.texts().join(u'|').toStdString();
  ASSERT_EQ(BackForm::existing(), r);
  EXPECT_EQ(r->SubjectText->text(), QStringLiteral("Re:  件名その2"));

  // A file chosen: that is a reply being written. No keeps it whole.
  r->chooseAttachment = [] { return QStringLiteral("/tmp/見積書.pdf"); };
  r->AttachCommand->click();
  ASSERT_EQ(r->AttachText->text(), QStringLiteral("/tmp/見積書.pdf"));
  clickRow(v, 2);
  boxes_.answer(QMessageBox::No);
  v.Command5->click();
  ASSERT_EQ(boxes_.seen().size(), 1);
  EXPECT_EQ(boxes_.seen()[0].text, QStringLiteral("書きかけの返事があります。\n\n"
                                                  "選んだメールへの返事で書き直しますか？（書きかけの返事は消えます）"));
  EXPECT_EQ(boxes_.seen()[0].title, QStringLiteral("確認"));
  EXPECT_EQ(boxes_.seen()[0].icon, QMessageBox::Question);
  ASSERT_EQ(BackForm::existing(), r);
  EXPECT_EQ(r->SubjectText->text(), QStringLiteral("Re:  件名その2"));
  EXPECT_EQ(r->ToText->text(), QStringLiteral("jiro@example.jp"));
  EXPECT_EQ(r->AttachText->text(), QStringLiteral("/tmp/見積書.pdf"));
  // Nothing was started: the pick still stands for the next try.
  EXPECT_EQ(v.Text5->text(), QStringLiteral("1"));

  // Yes: the third mail's reply, with no file attached, where the other was.
  r->setGeometry(r->geometry().translated(40, 30));
  const QRect place = r->geometry();
  boxes_.answer(QMessageBox::Yes);
  v.Command5->click();
  ASSERT_EQ(boxes_.seen().size(), 2);
  r = BackForm::existing();
  ASSERT_NE(r, nullptr);
  EXPECT_TRUE(r->isVisible());
  EXPECT_EQ(r->SubjectText->text(), QStringLiteral("Re:  件名その3"));
  EXPECT_EQ(r->ToText->text(), QStringLiteral("saburo@example.jp"));
  EXPECT_EQ(r->BodyText->toPlainText(), QStringLiteral("本文その3"));
  EXPECT_TRUE(r->AttachText->text().isEmpty());
  EXPECT_TRUE(r->AttachCommand->isEnabled());
  EXPECT_EQ(r->geometry(), place);
  EXPECT_TRUE(v.Text5->text().isEmpty());

  // A typed word is a reply being written too.
  QTest::keyClicks(r->BodyText, QStringLiteral("ok"));
  clickRow(v, 0);
  boxes_.answer(QMessageBox::No);
  v.Command5->click();
  EXPECT_EQ(boxes_.seen().size(), 3);
  EXPECT_EQ(BackForm::existing()->SubjectText->text(), QStringLiteral("Re:  件名その3"));
}
