// The reply window without a server: the resize rule, "本文に貼付" and
// where its held-mail panel differs from the compose window's.
#include "ComposeFixture.h"

#include "composer/BackColor.h"
#include "composer/BackForm.h"
#include "platform/SharedState.h"
#include "support/CaptionFit.h"
#include "support/WindowRules.h"

#include <QClipboard>
#include <QFrame>
#include <QLabel>
#include <QListWidget>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

namespace {

struct Reply {
  Reply() : form(BackForm::instance()) {}
  ~Reply() {
    if (form) form->close();
    destroyClosed();
  }
  QPointer<BackForm> form;
};

void holdReply(BackForm* r, const QString& subject) {
  r->ToText->setText(QStringLiteral("to@example.jp"));
  r->SubjectText->setText(subject);
  r->BodyText->setPlainText(QStringLiteral("保留する返事"));
  MsgBoxAnswerer yes;
  yes.answer(QMessageBox::Yes);
  r->Command13->click();
}

}  // namespace

TEST(ReplyWindow, LoadsWithItsPanelsHiddenAndTheResizeRuleFollowsTheOuterSize) {
  TempHome home;
  Reply reply;
  BackForm* r = reply.form;
  EXPECT_TRUE(r->isVisible());
  EXPECT_TRUE(r->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_FALSE(r->Picture7->isVisible());
  EXPECT_FALSE(r->List2->isVisible());
  EXPECT_TRUE(keepsScreenReaderRules(r));

  r->resizeOuterTwips(4000, 6000);
  pump();
  const TwipsBook& b = r->twipsGeometry();
  EXPECT_DOUBLE_EQ(b.width(r->BodyText), 3120);
  EXPECT_DOUBLE_EQ(b.width(r->ToText), 2000);
  EXPECT_DOUBLE_EQ(b.width(r->SubjectText), 2000);
  EXPECT_DOUBLE_EQ(b.left(r->AttachCommand), 1400 + 1280);
  EXPECT_DOUBLE_EQ(b.left(r->Command9), 1400 + 2060);
  EXPECT_DOUBLE_EQ(b.left(r->Command10), 1400 + 2940);
  EXPECT_DOUBLE_EQ(b.left(r->List1), 3170);
  r->resizeOuterTwips(12000, 9000);
  pump();
  EXPECT_DOUBLE_EQ(b.width(r->BodyText), 12000 * 0.78);
  for (QWidget* w : {static_cast<QWidget*>(r->BodyText), static_cast<QWidget*>(r->List1)})
    EXPECT_TRUE(r->rect().contains(w->geometry())) << w->objectName().toStdString();
}

TEST(ReplyWindow, PastingTwiceBuildsTheBodyAfreshFromTheClipboardEachTime) {
  TempHome home;
  // The viewer's buffer holds whatever mail it touched last: the answered
  // mail is the one the window was opened for.
  store::ReceivedMailBuffer().setBody(QStringLiteral("後で見たメール"));
  QGuiApplication::clipboard()->setText(QStringLiteral("ご返事です。"));
  Reply reply;
  BackForm* r = reply.form;
  r->AnsweredBody = QStringLiteral("  受信した本文①㈱～  ");
  r->BodyText->setPlainText(QStringLiteral("消える下書き"));
  r->Command4->click();
  const QString once = r->BodyText->toPlainText();
  EXPECT_TRUE(once.startsWith(QStringLiteral("ご返事です。"))) << once.toStdString();
  EXPECT_TRUE(once.endsWith(QStringLiteral("\n受信した本文①㈱～"))) << once.toStdString();
  EXPECT_EQ(QGuiApplication::clipboard()->text(), once);
  r->Command4->click();
  const QString twice = r->BodyText->toPlainText();
  EXPECT_TRUE(twice.startsWith(once)) << twice.toStdString();
  EXPECT_EQ(twice.count(QStringLiteral("受信した本文①㈱～")), 2);
  EXPECT_FALSE(twice.contains(QStringLiteral("後で見たメール")));
}

TEST(ReplyWindow, HoldingDoesNotRecallAndAPickedRowIsNoLongerTheAnswer) {
  TempHome home;
  Reply reply;
  BackForm* r = reply.form;
  shared::ListSource = 0;
  r->ThreadHeaders = QStringLiteral("In-Reply-To: <a@x.jp>\r\nReferences: <a@x.jp>");
  holdReply(r, QStringLiteral("一通目"));
  EXPECT_TRUE(r->SubjectText->text().isEmpty());
  EXPECT_EQ(r->List1->count(), 1);
  EXPECT_EQ(shared::ListSource, 0);
  EXPECT_NE(backColor(r->Command17), QColor(255, 255, 0));
  EXPECT_TRUE(r->ThreadHeaders.isEmpty());

  holdReply(r, QStringLiteral("二通目"));
  r->Text1->setText(QStringLiteral("7"));
  const int width = r->width();
  r->Command14->click();
  ASSERT_EQ(r->List1->count(), 2);
  EXPECT_EQ(r->Text1->text(), QStringLiteral("7"));
  EXPECT_EQ(r->width(), width);

  // A click picks whatever the shared indicator says.
  shared::ListSource = 0;
  r->ThreadHeaders = QStringLiteral("In-Reply-To: <b@x.jp>\r\nReferences: <b@x.jp>");
  QTest::mouseClick(r->List1->viewport(), Qt::LeftButton, {}, r->List1->visualItemRect(r->List1->item(1)).center());
  EXPECT_EQ(r->Text2->text(), QStringLiteral("1"));
  EXPECT_EQ(r->SubjectText->text(), QStringLiteral("二通目"));
  EXPECT_EQ(r->BodyText->toPlainText(), QStringLiteral("保留する返事"));
  EXPECT_TRUE(r->ThreadHeaders.isEmpty());
}

TEST(ReplyWindow, TheHeldListSaysWhatItIsForAndEveryCaptionShows) {
  TempHome home;
  shared::DraftPanelCounter = 0;
  Reply reply;
  BackForm* r = reply.form;
  pump();
  EXPECT_TRUE(showsEveryCaptionWhole(r));
  // The list right of the body: a heading above it, and while it is empty a
  // line in it that tells how it fills.
  ASSERT_TRUE(r->List1->isVisible());
  QLabel* heading = nullptr;
  for (QLabel* l : r->findChildren<QLabel*>())
    if (l->buddy() == r->List1) heading = l;
  ASSERT_NE(heading, nullptr);
  EXPECT_TRUE(heading->isVisible());
  EXPECT_EQ(heading->text(), QStringLiteral("保留メール"));
  EXPECT_LE(heading->geometry().bottom(), r->List1->y());
  EXPECT_EQ(spokenName(r->List1), QStringLiteral("保留メール"));
  QLabel* hint = r->List1->viewport()->findChild<QLabel*>();
  ASSERT_NE(hint, nullptr);
  EXPECT_TRUE(hint->isVisible());
  EXPECT_TRUE(hint->text().contains(QStringLiteral("呼出")));
  EXPECT_TRUE(r->List1->viewport()->rect().contains(hint->geometry()));
  EXPECT_LE(hint->heightForWidth(hint->width()), hint->height());
  // Once it lists a held mail, the line gives way.
  holdReply(r, QStringLiteral("一通目"));
  ASSERT_EQ(r->List1->count(), 1);
  EXPECT_FALSE(hint->isVisible());
  EXPECT_TRUE(showsEveryCaptionWhole(r));
}
