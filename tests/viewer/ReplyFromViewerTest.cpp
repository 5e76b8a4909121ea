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
