// Held mails in the compose window: the panel button, holding, recalling,
// picking and deleting, and what other windows may do meanwhile.
#include "ComposeFixture.h"

#include "composer/BackColor.h"
#include "composer/model/HeldMail.h"
#include "platform/SharedState.h"
#include "platform/Text.h"
#include "platform/ui/Twips.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

namespace {

constexpr int L = store::MailRecord::kLength;
// The counter as this process started with it, before any test ran.
const int16_t kCounterAtStart = shared::DraftPanelCounter;

// Holds the mail in the boxes, answering the question with `answer`.
void hold(Compose& c, const QString& to, const QString& subject, const QString& body,
          QMessageBox::StandardButton answer = QMessageBox::Yes) {
  c->ToText->setText(to);
  c->SubjectText->setText(subject);
  c->rtfEd->setPlainText(body);
  MsgBoxAnswerer boxes;
  boxes.answer(answer);
  c->Command13->click();
}

QStringList heldSubjects(const TempHome& home) {
  const QByteArray file = home.read(paths::kHeldMailFile);
  QStringList out;
  for (qsizetype at = 0; at + L <= file.size(); at += L) out << text::fromCp932(file.mid(at, 100)).trimmed();
  return out;
}

// 5000 characters over many lines.
QString longBody() {
  QString body;
  for (int i = 0; body.size() < 5000; ++i) body += QStringLiteral("%1行目：灯火の下で書く手紙。\n").arg(i, 4, 10, QLatin1Char('0'));
  return body.left(4999) + u'了';
}

}  // namespace

TEST(HeldMailPanel, DraftButtonTwiceInAFreshProcessShowsThenHidesThePanel) {
  ASSERT_EQ(kCounterAtStart, 0);
  shared::DraftPanelCounter = kCounterAtStart;  // as if no earlier test had pressed it
  TempHome home;
  {
    Compose c;
    EXPECT_FALSE(c->Picture7->isVisibleTo(c.get()));
    EXPECT_EQ(c->Command17->text(), QStringLiteral("下書き"));
    c->Command17->click();
    EXPECT_TRUE(c->Picture7->isVisibleTo(c.get()));
    EXPECT_EQ(c->Command17->text(), QStringLiteral("　アドレス呼出"));
    c->Command17->click();
    EXPECT_FALSE(c->Picture7->isVisibleTo(c.get()));
    EXPECT_EQ(c->Command17->text(), QStringLiteral("下書き"));
    EXPECT_EQ(shared::ListSource, 0);  // the side list is left alone
    c->Command17->click();
  }
  // The counter outlives the window: opened anew, the panel is hidden and the
  // odd counter makes the first press hide it.
  Compose c;
  EXPECT_FALSE(c->Picture7->isVisibleTo(c.get()));
  c->Command17->click();
  EXPECT_FALSE(c->Picture7->isVisibleTo(c.get()));
  EXPECT_EQ(c->Command17->text(), QStringLiteral("下書き"));
  EXPECT_EQ(shared::DraftPanelCounter, 4);
}

TEST(HeldMailPanel, HoldingWritesOneRecordAndClearsTheBoxes) {
  TempHome home;
  Compose c;
  {
    MsgBoxAnswerer boxes;
    c->SubjectText->clear();
    c->rtfEd->setPlainText(QStringLiteral("本文"));
    c->Command13->click();
    ASSERT_EQ(boxes.seen().size(), 1);
    EXPECT_EQ(boxes.seen()[0].text, QStringLiteral("件名が空白です。保存出来ません。"));
    EXPECT_EQ(boxes.seen()[0].icon, QMessageBox::Information);
  }
  hold(c, QStringLiteral("to@example.jp"), QStringLiteral("件名"), QStringLiteral("本文"), QMessageBox::No);
  EXPECT_EQ(QFileInfo(home.file(paths::kHeldMailFile)).size(), 0);
  EXPECT_EQ(c->rtfEd->toPlainText(), QStringLiteral("本文"));

  store::HeldMailBuffer().setDate(QStringLiteral("前の日付"));  // field 2 keeps what the buffer held
  {
    MsgBoxAnswerer boxes;
    boxes.answer(QMessageBox::Yes);
    c->ToText->setText(QStringLiteral(" to@example.jp "));
    c->SubjectText->setText(QStringLiteral("  週末の予定  "));
    c->rtfEd->setPlainText(QStringLiteral("  一行目\n二行目①～㈱  "));
    c->Command13->click();
    ASSERT_EQ(boxes.seen().size(), 1);
    EXPECT_EQ(boxes.seen()[0].text, QStringLiteral("作成したメールを保留し（保存）後で送信しますか？ 保存後、内容をクリアします。"));
    EXPECT_EQ(boxes.seen()[0].title, QStringLiteral("確認"));
    EXPECT_EQ(boxes.seen()[0].icon, QMessageBox::Question);
  }
  const QByteArray raw = home.read(paths::kHeldMailFile);
  ASSERT_EQ(raw.size(), L);
  EXPECT_EQ(raw.left(100), text::fixedField(QStringLiteral("週末の予定"), 100));
  EXPECT_EQ(raw.mid(100, 90), text::fixedField(QStringLiteral("前の日付"), 90));
  EXPECT_EQ(raw.mid(190, 90), text::fixedField(QStringLiteral("to@example.jp"), 90));
  EXPECT_EQ(raw.mid(280, 32000), text::fixedField(QStringLiteral("一行目\r\n二行目①～㈱"), 32000));
  EXPECT_EQ(raw.mid(32280), QByteArray("\r\n\x01\x00", 4));
  EXPECT_EQ(shared::CurrentRecordNumber, 1);

  // The question said so: the boxes are cleared; the held list is shown.
  EXPECT_TRUE(c->ToText->text().isEmpty());
  EXPECT_TRUE(c->SubjectText->text().isEmpty());
  EXPECT_TRUE(c->rtfEd->toPlainText().isEmpty());
  EXPECT_EQ(shared::ListSource, 10);
  ASSERT_EQ(c->List1->count(), 1);
  EXPECT_EQ(c->List1->item(0)->text(), QStringLiteral("週末の予定").leftJustified(95, u' '));
  EXPECT_EQ(c->RowRecordMap, QList<int16_t>{1});
  EXPECT_EQ(c->Text1->text(), QStringLiteral("1"));
  EXPECT_EQ(backColor(c->List1), QColor(206, 240, 244));
  EXPECT_EQ(backColor(c->Command17), QColor(255, 255, 0));
  EXPECT_EQ(c->Command17->text(), QStringLiteral("　アドレス呼出"));
  EXPECT_TRUE(c->Text2->text().isEmpty());
}

TEST(HeldMailPanel, WhatWouldNotFitIsAskedAboutAndAFailedWriteKeepsTheMail) {
  TempHome home;
  Compose c;
  const QString big = QString(16001, u'長');  // 32002 bytes
  c->ToText->setText(QStringLiteral("to@example.jp"));
  c->SubjectText->setText(QStringLiteral("長い本文😀"));
  c->rtfEd->setPlainText(big);
  {
    MsgBoxAnswerer boxes;
    boxes.answer(QMessageBox::Yes);
    boxes.answer(QMessageBox::No);
    c->Command13->click();
    ASSERT_EQ(boxes.seen().size(), 2);
    EXPECT_EQ(boxes.seen()[1].text, QStringLiteral("本文が長すぎるため、32000バイト（全角16000文字）を超える部分は保存されません。\n"
                                                   "保存できない文字が1文字あり、「?」に置き換わります。\n\nこのまま保存しますか？"));
  }
  EXPECT_EQ(QFileInfo(home.file(paths::kHeldMailFile)).size(), 0);
  EXPECT_EQ(c->rtfEd->toPlainText(), big);
  // No data folder: nothing is cleared.
  QDir(home.file(paths::kDataFolder)).removeRecursively();
  {
    MsgBoxAnswerer boxes;
    boxes.answer(QMessageBox::Yes);
    boxes.answer(QMessageBox::Yes);
    c->Command13->click();
    ASSERT_EQ(boxes.seen().size(), 3);
    EXPECT_EQ(boxes.seen()[2].icon, QMessageBox::Warning);
  }
  EXPECT_EQ(c->rtfEd->toPlainText(), big);
  EXPECT_EQ(c->SubjectText->text(), QStringLiteral("長い本文😀"));
}

TEST(HeldMailPanel, RecallPickAndTheWholeBodyComesBack) {
  TempHome home;
  Compose c;
  const QString body = longBody();
  ASSERT_EQ(body.size(), 5000);
  hold(c, QStringLiteral("日本太郎<taro@example.jp>"), QStringLiteral("長い手紙"), body);
  hold(c, QStringLiteral("hanako@example.jp"), QStringLiteral("短い手紙"), QStringLiteral("短い"));
  c->Command4->click();  // back to addresses
  c->Command6->click();  // narrow
  c->Command14->click();
  EXPECT_EQ(shared::ListSource, 10);
  EXPECT_NEAR(twips::outerWidth(c.get()), 9700, 20);
  EXPECT_EQ(c->Text1->text(), QStringLiteral("2"));
  EXPECT_EQ(c->RowRecordMap, (QList<int16_t>{1, 2}));
  c.pressSideList(0);
  EXPECT_EQ(c->Text2->text(), QStringLiteral("1"));
  EXPECT_EQ(c->ToText->text(), QStringLiteral("日本太郎<taro@example.jp>"));
  EXPECT_EQ(c->SubjectText->text(), QStringLiteral("長い手紙"));
  EXPECT_EQ(c->rtfEd->toPlainText(), body);
  // ...and the other one deleted.
  c.pressSideList(1);
  {
    MsgBoxAnswerer boxes;
    boxes.answer(QMessageBox::Yes);
    c->Command15->click();
  }
  EXPECT_EQ(heldSubjects(home), QStringList{QStringLiteral("長い手紙")});

  // A recipient longer than 60 characters, put in by the pick, can be
  // edited down but not lengthened by typing.
  const QString longTo = QString(70, u'a') + QStringLiteral("@example.jp");
  hold(c, longTo, QStringLiteral("宛先が長い"), QStringLiteral("本文"));
  c.pressSideList(1);
  ASSERT_EQ(c->ToText->text(), longTo);
  c->ToText->setFocus();
  c->ToText->end(false);
  QTest::keyClicks(c->ToText, QStringLiteral("xyz"));
  EXPECT_EQ(c->ToText->text(), longTo);
  QTest::keyClick(c->ToText, Qt::Key_Backspace);
  EXPECT_EQ(c->ToText->text(), longTo.chopped(1));
}

TEST(HeldMailPanel, DeletingAskingFirstAndNoChangesNothing) {
  TempHome home;
  Compose c;
  for (const char* s : {"一通目", "二通目", "三通目"})
    hold(c, QStringLiteral("to@example.jp"), QString::fromUtf8(s), QString::fromUtf8(s) + QStringLiteral("の本文"));
  const QByteArray before = home.read(paths::kHeldMailFile);
  {
    // Nothing picked yet.
    MsgBoxAnswerer boxes;
    c->Command15->click();
    EXPECT_EQ(boxes.texts(), QStringList{QStringLiteral("データが選択されていません")});
    EXPECT_EQ(boxes.seen()[0].icon, QMessageBox::NoIcon);
  }
  c.pressSideList(1);
  c->rtfEd->setPlainText(QStringLiteral("選んでから書き直した本文"));
  {
    MsgBoxAnswerer boxes;
    boxes.answer(QMessageBox::No);
    c->Command15->click();
    ASSERT_EQ(boxes.seen().size(), 1);
    EXPECT_EQ(boxes.seen()[0].text, QStringLiteral("選択された（行、青色）データを削除します。よろしいですか"));
  }
  EXPECT_EQ(shared::CurrentRecordNumber, 2);
  EXPECT_EQ(home.read(paths::kHeldMailFile), before);
  EXPECT_EQ(c->rtfEd->toPlainText(), QStringLiteral("選んでから書き直した本文"));
  EXPECT_EQ(c->SubjectText->text(), QStringLiteral("二通目"));
  EXPECT_EQ(c->Text2->text(), QStringLiteral("1"));

  // Yes: the second goes, the third becomes the second.
  {
    MsgBoxAnswerer boxes;
    boxes.answer(QMessageBox::Yes);
    c->Command15->click();
  }
  EXPECT_EQ(heldSubjects(home), (QStringList{QStringLiteral("一通目"), QStringLiteral("三通目")}));
  EXPECT_EQ(home.read(paths::kHeldMailFile), before.left(L) + before.mid(2 * L));
  EXPECT_FALSE(QFileInfo::exists(home.file(paths::kHeldMailTemp)));
  EXPECT_EQ(c->List1->count(), 2);
  EXPECT_EQ(c->RowRecordMap, (QList<int16_t>{1, 2}));
  EXPECT_EQ(c->Text1->text(), QStringLiteral("2"));
  EXPECT_TRUE(c->rtfEd->toPlainText().isEmpty());
  EXPECT_TRUE(c->SubjectText->text().isEmpty());
  EXPECT_TRUE(c->Text2->text().isEmpty());
  EXPECT_EQ(c->Command17->text(), QStringLiteral("　アドレス呼出"));

  // After "アドレス帳" the list holds addresses: nothing is deleted.
  c.pressSideList(0);
  c->Command4->click();
  c->Text2->setText(QStringLiteral("1"));
  MsgBoxAnswerer boxes;
  c->Command15->click();
  EXPECT_TRUE(boxes.seen().isEmpty());
  EXPECT_EQ(heldSubjects(home).size(), 2);
  EXPECT_TRUE(c->Text2->text().isEmpty());
}

// The list-source indicator and the held-mail file are shared with the
// viewer and the reply window: what they do must not turn a pick or a
// delete here onto the wrong mail.
TEST(HeldMailPanel, OtherWindowsCannotTurnAPickOrADeleteOntoTheWrongMail) {
  TempHome home;
  addAddress(home, QStringLiteral("花子"), QStringLiteral("hanako@example.jp"));
  Compose c;
  hold(c, QStringLiteral("a@example.jp"), QStringLiteral("一通目"), QStringLiteral("一"));
  hold(c, QStringLiteral("b@example.jp"), QStringLiteral("二通目"), QStringLiteral("二"));
  shared::ListSource = 1;  // the viewer filled its list
  c.pressSideList(1);
  EXPECT_EQ(c->SubjectText->text(), QStringLiteral("二通目"));

  // Another window deleted the first held mail: the rows here are stale.
  ASSERT_TRUE(heldmail::remove(1).ok);
  {
    MsgBoxAnswerer boxes;
    boxes.answer(QMessageBox::Yes);
    c->Command15->click();  // row 2 would now be past the end, or another mail
    ASSERT_EQ(boxes.seen().size(), 2);
    EXPECT_TRUE(boxes.seen()[1].text.startsWith(QStringLiteral("保留メールの一覧が古くなっていた")));
  }
  EXPECT_EQ(heldSubjects(home), QStringList{QStringLiteral("二通目")});
  EXPECT_EQ(c->List1->count(), 1);
  hold(c, QStringLiteral("c@example.jp"), QStringLiteral("三通目"), QStringLiteral("三"));
  ASSERT_TRUE(heldmail::remove(1).ok);
  {
    MsgBoxAnswerer boxes;
    c.pressSideList(0);  // shows 二通目, but record 1 is 三通目 now
    EXPECT_EQ(boxes.seen().size(), 1);
  }
  EXPECT_TRUE(c->SubjectText->text().isEmpty());
  EXPECT_EQ(c->List1->count(), 1);

  // Addresses listed here, the reply window recalls its held list.
  c->Command4->click();
  shared::ListSource = 10;
  c->rtfEd->setPlainText(QStringLiteral("書きかけ"));
  c.pressSideList(0);
  EXPECT_EQ(c->ToText->text(), QStringLiteral("hanako@example.jp"));
  EXPECT_EQ(c->rtfEd->toPlainText(), QStringLiteral("書きかけ"));
}

// Replies share their subjects, and holding an edited mail again makes a
// second record with the same one: a row renumbered by another window must
// not pick or delete its namesake.
TEST(HeldMailPanel, ARenumberedRowNeverTakesAMailWithTheSameSubject) {
  TempHome home;
  Compose c;
  const QString subject = QStringLiteral("Re:  見積もりの件");
  hold(c, QStringLiteral("a@example.jp"), subject, QStringLiteral("最初の下書き"));
  hold(c, QStringLiteral("a@example.jp"), subject, QStringLiteral("書き直した下書き"));
  ASSERT_EQ(c->List1->count(), 2);

  // Another window deleted the first: record 1 is now the second mail.
  ASSERT_TRUE(heldmail::remove(1).ok);
  {
    MsgBoxAnswerer boxes;
    c.pressSideList(0);
    ASSERT_EQ(boxes.seen().size(), 1);
    EXPECT_TRUE(boxes.seen()[0].text.startsWith(QStringLiteral("保留メールの一覧が古くなっていた")));
  }
  EXPECT_TRUE(c->rtfEd->toPlainText().isEmpty());
  EXPECT_TRUE(c->SubjectText->text().isEmpty());
  ASSERT_EQ(c->List1->count(), 1);
  c.pressSideList(0);
  EXPECT_EQ(c->rtfEd->toPlainText(), QStringLiteral("書き直した下書き"));

  // Held once more, then the first deleted elsewhere: row 1 stood for the
  // mail now in record 1, which has the same subject.
  hold(c, QStringLiteral("a@example.jp"), subject, QStringLiteral("三度目の下書き"));
  ASSERT_EQ(c->List1->count(), 2);
  c.pressSideList(0);
  ASSERT_EQ(c->rtfEd->toPlainText(), QStringLiteral("書き直した下書き"));
  ASSERT_TRUE(heldmail::remove(1).ok);
  {
    MsgBoxAnswerer boxes;
    boxes.answer(QMessageBox::Yes);
    c->Command15->click();
    EXPECT_TRUE(boxes.texts().join(u'|').contains(QStringLiteral("保留メールの一覧が古くなっていた")))
        << boxes.texts().join(u'|').toStdString();
  }
  // The third mail, now record 1, is still there.
  const QByteArray file = home.read(paths::kHeldMailFile);
  ASSERT_EQ(file.size(), L);
  EXPECT_TRUE(text::fromCp932(file.mid(280, 100)).startsWith(QStringLiteral("三度目の下書き")));
}
