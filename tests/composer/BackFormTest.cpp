// The reply window without a server: its load, the resize rule, "本文に貼付",
// the panels it shares with the compose window and where they differ.
#include "ComposeFixture.h"

#include "composer/BackColor.h"
#include "composer/BackForm.h"
#include "facemarks/KaoForm.h"
#include "platform/Ime.h"
#include "platform/Text.h"
#include "shell/IMEForm.h"
#include "shell/SharedState.h"
#include "support/WindowRules.h"

#include <QCheckBox>
#include <QClipboard>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

namespace {

class Reply {
 public:
  Reply() : form_(BackForm::instance()) {
    form_->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(form_));
  }
  ~Reply() {
    if (form_) form_->close();
    if (KaoForm* k = KaoForm::existing()) k->close();
    if (IMEForm* i = IMEForm::existing()) delete i;
    destroyClosed();
  }
  BackForm* operator->() const { return form_; }
  bool alive() const { return !form_.isNull(); }

 private:
  QPointer<BackForm> form_;
};

QString sent() {
  QStringList s;
  for (const ime::SentMessage& m : ime::sentMessages()) s << QStringLiteral("%1 %2 %3").arg(m.message).arg(m.wParam).arg(m.lParam);
  return s.join(u'|');
}

void holdReply(Reply& r, const QString& subject) {
  r->ToText->setText(QStringLiteral("to@example.jp"));
  r->SubjectText->setText(subject);
  r->BodyText->setPlainText(QStringLiteral("保留する返事"));
  MsgBoxAnswerer yes;
  yes.answer(QMessageBox::Yes);
  r->Command13->click();
}

}  // namespace

TEST(ReplyWindow, LoadsOnTopWithItsPanelsHiddenAndTellsTheInputMethod) {
  TempHome home;
  ime::clearSentMessages();
  Reply r;
  EXPECT_EQ(r->windowTitle(), QStringLiteral("返事を書く"));
  EXPECT_TRUE(r->isVisible());
  EXPECT_TRUE(r->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_FALSE(r->Picture7->isVisible());
  EXPECT_FALSE(r->List2->isVisible());
  EXPECT_EQ(sent(), QStringLiteral("MSIMEService 0 0"));
  EXPECT_EQ(r->AttachCommand->text(), QStringLiteral("添付"));
  EXPECT_EQ(r->Label3->text(), QStringLiteral("添付File"));
  EXPECT_EQ(r->Command2->text(), QStringLiteral("送信"));
  EXPECT_EQ(r->Command3->text(), QStringLiteral("送信中止"));
  EXPECT_EQ(r->Command4->text(), QStringLiteral("本文に貼付"));
  EXPECT_EQ(r->Command8->text(), QStringLiteral("絵・顔文字"));
  EXPECT_EQ(r->Command17->text(), QStringLiteral("下書き"));
  EXPECT_TRUE(keepsScreenReaderRules(r.operator->()));
}

TEST(ReplyWindow, TheResizeRuleFollowsTheOuterSize) {
  TempHome home;
  Reply r;
  r->resizeOuterTwips(4000, 6000);
  pump();
  const TwipsBook& b = r->twipsGeometry();
  EXPECT_DOUBLE_EQ(b.width(r->BodyText), 3120);
  EXPECT_DOUBLE_EQ(b.width(r->ToText), 2000);
  EXPECT_DOUBLE_EQ(b.width(r->SubjectText), 2000);
  EXPECT_DOUBLE_EQ(b.width(r->AttachText), 1400);
  EXPECT_DOUBLE_EQ(b.left(r->AttachCommand), 1400 + 1280);
  EXPECT_DOUBLE_EQ(b.left(r->Command9), 1400 + 2060);
  EXPECT_DOUBLE_EQ(b.left(r->Command10), 1400 + 2940);
  EXPECT_DOUBLE_EQ(b.left(r->List1), 3170);

  r->resizeOuterTwips(12000, 9000);
  pump();
  EXPECT_DOUBLE_EQ(b.width(r->BodyText), 12000 * 0.78);
  EXPECT_DOUBLE_EQ(b.width(r->ToText), 6000);
  EXPECT_DOUBLE_EQ(b.left(r->List1), 12000 * 0.78 + 50);
  // Nothing the rule places runs out of the window.
  for (QWidget* w : {static_cast<QWidget*>(r->BodyText), static_cast<QWidget*>(r->List1)})
    EXPECT_TRUE(r->rect().contains(w->geometry())) << w->objectName().toStdString();
}

TEST(ReplyWindow, PastingBuildsTheBodyAfreshFromTheClipboardAndTheAnsweredMail) {
  TempHome home;
  store::ReceivedMailBuffer().setBody(QStringLiteral("  受信した本文①㈱～  "));
  QGuiApplication::clipboard()->setText(QStringLiteral("ご返事です。"));
  Reply r;
  r->BodyText->setPlainText(QStringLiteral("消える下書き"));
  r->Command4->click();
  const QString once = r->BodyText->toPlainText();
  EXPECT_FALSE(once.contains(QStringLiteral("消える下書き")));
  EXPECT_TRUE(once.startsWith(QStringLiteral("ご返事です。"))) << once.toStdString();
  EXPECT_TRUE(once.endsWith(QStringLiteral("受信した本文①㈱～"))) << once.toStdString();
  EXPECT_EQ(QGuiApplication::clipboard()->text(), once);
  // The clipboard holds the first body now: the answered text stands twice.
  r->Command4->click();
  const QString twice = r->BodyText->toPlainText();
  EXPECT_TRUE(twice.startsWith(once)) << twice.toStdString();
  EXPECT_EQ(twice.count(QStringLiteral("受信した本文①㈱～")), 2);
  EXPECT_EQ(twice.count(QStringLiteral("ご返事です。")), 1);
}

TEST(ReplyWindow, HeldRepliesDifferWhereTheyShould) {
  TempHome home;
  Reply r;
  shared::ListSource = 0;
  r->ThreadHeaders = QStringLiteral("In-Reply-To: <a@x.jp>\r\nReferences: <a@x.jp>");
  holdReply(r, QStringLiteral("一通目"));
  // 保存 clears the boxes and lists the held mails, but does not recall:
  // neither the indicator nor the yellow button.
  EXPECT_TRUE(r->SubjectText->text().isEmpty());
  EXPECT_EQ(shared::ListSource, 0);
  EXPECT_EQ(r->List1->count(), 1);
  EXPECT_NE(backColor(r->Command17), QColor(255, 255, 0));
  // The boxes no longer hold the answer: nor does the reply thread under it.
  EXPECT_TRUE(r->ThreadHeaders.isEmpty());

  holdReply(r, QStringLiteral("二通目"));
  r->Text1->setText(QStringLiteral("7"));
  const int width = r->width();
  r->Command14->click();
  ASSERT_EQ(r->List1->count(), 2);
  EXPECT_EQ(r->Text1->text(), QStringLiteral("7"));
  EXPECT_EQ(r->width(), width);
  EXPECT_EQ(r->RowRecordMap, (QList<int16_t>{1, 2}));

  // A click picks whatever the shared indicator says.
  shared::ListSource = 0;
  r->ThreadHeaders = QStringLiteral("In-Reply-To: <b@x.jp>\r\nReferences: <b@x.jp>");
  QTest::mouseClick(r->List1->viewport(), Qt::LeftButton, {}, r->List1->visualItemRect(r->List1->item(1)).center());
  EXPECT_EQ(r->Text2->text(), QStringLiteral("1"));
  EXPECT_EQ(r->SubjectText->text(), QStringLiteral("二通目"));
  EXPECT_EQ(r->ToText->text(), QStringLiteral("to@example.jp"));
  EXPECT_EQ(r->BodyText->toPlainText(), QStringLiteral("保留する返事"));
  EXPECT_TRUE(r->ThreadHeaders.isEmpty());
}

TEST(ReplyWindow, AttachmentsInputMethodFaceMarksAndCancel) {
  TempHome home;
  home.write(QStringLiteral("a.txt"), "A");
  home.write(QStringLiteral("b.txt"), "B");
  const QString a = home.path() + QStringLiteral("/a.txt");
  const QString b = home.path() + QStringLiteral("/b.txt");
  Reply r;
  QStringList choices{a, b};
  r->chooseAttachment = [&] { return choices.isEmpty() ? QString() : choices.takeFirst(); };
  r->AttachCommand->click();
  EXPECT_EQ(r->AttachText->text(), a);
  EXPECT_FALSE(r->List2->isVisible());
  r->Command9->click();
  EXPECT_EQ(r->AttachText->text(), a + u',' + b);
  EXPECT_TRUE(r->List2->isVisible());
  EXPECT_EQ(r->List2->count(), 2);
  r->Command10->click();
  EXPECT_TRUE(r->AttachText->text().isEmpty());
  EXPECT_FALSE(r->List2->isVisible());

  ime::clearSentMessages();
  r->Check1->setChecked(true);
  r->SubjectText->setFocus();
  r->Command12->setFocus();
  r->Command12->click();
  r->Check1->setChecked(false);
  r->Command12->click();
  EXPECT_EQ(sent(), QStringLiteral("MSIMEShowImePad 0 0|MSIMEShowImePad 1 1"));
  EXPECT_EQ(QApplication::focusWidget(), r->SubjectText);
  r->Command11->click();
  pump();
  ASSERT_NE(IMEForm::existing(), nullptr);
  EXPECT_TRUE(IMEForm::existing()->isVisible());

  MsgBoxAnswerer boxes;  // the shipped face-mark file is there: nothing to say
  r->Command8->click();
  ASSERT_NE(KaoForm::existing(), nullptr);
  EXPECT_TRUE(KaoForm::existing()->isVisible());
  KaoForm::existing()->close();
  destroyClosed();

  r->BodyText->setPlainText(QStringLiteral("書きかけ"));
  r->Command3->click();
  destroyClosed();
  EXPECT_FALSE(r.alive());
  EXPECT_TRUE(boxes.seen().isEmpty());
}
