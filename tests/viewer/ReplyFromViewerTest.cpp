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
    if (BackForm* b = BackForm::existing()) delete b;
    if (FriendForm* f = FriendForm::existing()) delete f;
    ViewerTest::TearDown();
  }
};

}  // namespace

TEST_F(ReplyFromViewer, ReplyCarriesPrefixedSubjectWholeSenderAndTrimmedBody) {
  storeMails(threeMails());
  TyakuForm& v = view();
  EXPECT_EQ(v.Command5->text(), QStringLiteral("   返事を書く"));
  EXPECT_EQ(v.Command4->text(), QStringLiteral("    アドレス帳登録"));
  QList<int> asked;
  QByteArray record;
  v.originalHeaderOf = [&](int number, const QByteArray& bytes) -> std::optional<QByteArray> {
    asked << number;
    record = bytes;
    return QByteArray("Message-ID: <first@example.jp>\r\nSubject: x");
  };
  clickRow(v, 0);
  v.Command5->click();
  EXPECT_TRUE(boxes_.seen().isEmpty());
  BackForm* r = BackForm::existing();
  ASSERT_NE(r, nullptr);
  EXPECT_TRUE(r->isVisible());
  EXPECT_EQ(r->SubjectText->text(), QStringLiteral("Re:  件名その1"));
  EXPECT_EQ(r->ToText->text(), QStringLiteral("一郎 <ichiro@example.jp>"));
  EXPECT_EQ(r->BodyText->toPlainText(), QStringLiteral("本文その1です。"));
  // The original asked for is the record shown.
  EXPECT_EQ(asked, QList<int>{1});
  EXPECT_EQ(record, recordOf(threeMails()[0]));
  EXPECT_EQ(r->ThreadHeaders, QStringLiteral("In-Reply-To: <first@example.jp>\r\nReferences: <first@example.jp>"));
  // The selection is used up.
  EXPECT_TRUE(v.Text5->text().isEmpty());
  v.Command4->click();
  EXPECT_EQ(boxes_.texts(), QStringList{kNoSelection});
  EXPECT_EQ(boxes_.seen()[0].title, QStringLiteral("灯火亭"));
  EXPECT_EQ(boxes_.seen()[0].icon, QMessageBox::NoIcon);
  EXPECT_EQ(FriendForm::existing(), nullptr);
}

TEST_F(ReplyFromViewer, APrefixIsAddedEveryTimeAndReopeningShowsOnlyWhatTheViewerPutsIn) {
  storeMails({{QStringLiteral("Re:  前の話"), QStringLiteral("a@example.jp"), QStringLiteral("d"), QStringLiteral("x")}});
  TyakuForm& v = view();
  // Without an original kept, the reply is not threaded.
  v.originalHeaderOf = [](int, const QByteArray&) { return std::optional<QByteArray>(); };
  clickRow(v, 0);
  v.Command5->click();
  BackForm* r = BackForm::existing();
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->SubjectText->text(), QStringLiteral("Re:  Re:  前の話"));
  EXPECT_TRUE(r->ThreadHeaders.isEmpty());
  r->AttachText->setText(QStringLiteral("/tmp/a.txt"));
  r->BodyText->appendPlainText(QStringLiteral("追記"));
  r->close();
  pump();
  EXPECT_EQ(BackForm::existing(), nullptr);

  clickRow(v, 0);
  v.Command5->click();
  r = BackForm::existing();
  ASSERT_NE(r, nullptr);
  EXPECT_TRUE(r->AttachText->text().isEmpty());
  EXPECT_EQ(r->BodyText->toPlainText(), QStringLiteral("x"));
}

TEST_F(ReplyFromViewer, RegistrationPutsTheUntrimmedSenderIntoTheAddressBox) {
  storeMails({{QStringLiteral("件名"), QStringLiteral(" 花子 <hanako@example.jp> "), QStringLiteral("d"), QStringLiteral("b")}});
  TyakuForm& v = view();
  // Nothing picked yet: neither window opens.
  v.Command4->click();
  v.Command5->click();
  EXPECT_EQ(boxes_.texts(), (QStringList{kNoSelection, kNoSelection}));
  EXPECT_EQ(BackForm::existing(), nullptr);
  EXPECT_EQ(FriendForm::existing(), nullptr);

  clickRow(v, 0);
  FriendForm::instance()->Text2->setText(QStringLiteral("名前はそのまま"));
  v.Command4->click();
  FriendForm* f = FriendForm::existing();
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(f->isVisible());
  EXPECT_EQ(f->Text4->text(), v.Text8->text());
  EXPECT_TRUE(f->Text4->text().contains(QStringLiteral("花子 <hanako@example.jp>")));
  EXPECT_EQ(f->Text2->text(), QStringLiteral("名前はそのまま"));
  EXPECT_TRUE(v.Text5->text().isEmpty());
  EXPECT_EQ(boxes_.seen().size(), 2);
}
