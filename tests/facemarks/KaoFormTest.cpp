// The face-mark picker: inserting into either body, pasting into the
// collection, and the file it reads on opening and writes on closing.
#include "composer/BackForm.h"
#include "composer/WriteForm.h"
#include "facemarks/KaoForm.h"
#include "platform/Paths.h"
#include "platform/Text.h"
#include "support/Gui.h"
#include "support/WindowRules.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <gtest/gtest.h>

namespace {

QByteArray cp932(const QString& s) { return text::encodeText(s, text::FileEncoding::Cp932); }

class Picker : public ::testing::Test {
 protected:
  void TearDown() override {
    for (QWidget* w : std::initializer_list<QWidget*>{KaoForm::existing(), BackForm::existing(), WriteForm::existing()})
      if (w) w->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    pump();
  }
  // The picker opened on a collection file holding `marks` (CP932).
  KaoForm* open(const QString& marks) {
    home_.write(paths::kFaceMarkFile, cp932(marks));
    return KaoForm::showPicker();
  }
  static void select(QPlainTextEdit* e, int start, int end) {
    QTextCursor c = e->textCursor();
    c.setPosition(start);
    c.setPosition(end, QTextCursor::KeepAnchor);
    e->setTextCursor(c);
  }
  static void closed() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    pump();
  }
  QByteArray file() const { return home_.read(paths::kFaceMarkFile); }

  TempHome home_;
  MsgBoxAnswerer boxes_;
};

}  // namespace

TEST_F(Picker, OpensOnTopWithTheShippedCollectionAndTheComposeWindowOffersIt) {
  WriteForm* compose = WriteForm::instance();
  ASSERT_TRUE(compose->Command8->isEnabled());
  compose->Command8->click();
  KaoForm* k = KaoForm::existing();
  ASSERT_NE(k, nullptr);
  EXPECT_TRUE(k->isVisible());
  EXPECT_EQ(k->windowTitle(), QStringLiteral("Form1"));
  EXPECT_TRUE(k->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_FALSE(k->Kao1->toPlainText().isEmpty());
  EXPECT_EQ(k->Command1->text(), QStringLiteral("挿入（新規作成）"));
  EXPECT_EQ(k->Command2->text(), QStringLiteral("挿入（返事を書く）"));
  EXPECT_EQ(k->Command3->text(), QStringLiteral("編集（貼付）"));
  EXPECT_EQ(k->Label3->text(),
            QStringLiteral("※名前他を編集すると自動で保存されます。新データの追加は編集　　　（貼付）で行います。"));
  EXPECT_TRUE(keepsScreenReaderRules(k));
  // Opened again, the same picker comes forward.
  EXPECT_EQ(KaoForm::showPicker(), k);
  EXPECT_TRUE(boxes_.seen().isEmpty());
}

TEST_F(Picker, TheSelectionGoesInWithoutItsSpacesInPlaceOfTheBodysSelection) {
  KaoForm* k = open(QStringLiteral("笑顔 (^_^) です\r\n①㈱～\r\n"));
  BackForm* reply = BackForm::instance();
  reply->BodyText->setPlainText(QStringLiteral("前XX後"));
  select(reply->BodyText, 1, 3);
  select(k->Kao1, 2, 9);  // " (^_^) " with a space on either side
  k->Command2->click();
  closed();
  EXPECT_EQ(KaoForm::existing(), nullptr);
  EXPECT_EQ(reply->BodyText->toPlainText(), QStringLiteral("前(^_^)後"));
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral(" (^_^) "));

  // Two lines into the compose window, which is made for it.
  ASSERT_EQ(WriteForm::existing(), nullptr);
  k = KaoForm::showPicker();
  select(k->Kao1, 0, k->Kao1->toPlainText().indexOf(QStringLiteral("～")) + 1);
  k->Command1->click();
  closed();
  ASSERT_NE(WriteForm::existing(), nullptr);
  EXPECT_EQ(WriteForm::existing()->rtfEd->toPlainText(), QStringLiteral("笑顔 (^_^) です\n①㈱～"));
}

TEST_F(Picker, NothingSelectedInsertsNothingYetRemovesTheBodysSelectionAndCloses) {
  KaoForm* k = open(QStringLiteral("(^_^)\r\n"));
  BackForm* reply = BackForm::instance();
  reply->BodyText->setPlainText(QStringLiteral("本文"));
  select(reply->BodyText, 1, 1);
  k->Command2->click();
  closed();
  EXPECT_EQ(KaoForm::existing(), nullptr);
  EXPECT_EQ(reply->BodyText->toPlainText(), QStringLiteral("本文"));

  k = KaoForm::showPicker();
  select(reply->BodyText, 0, 1);
  k->Command2->click();
  closed();
  EXPECT_EQ(reply->BodyText->toPlainText(), QStringLiteral("文"));
}

TEST_F(Picker, PastingPutsTheTrimmedClipboardInAndAnEmptyOneRemovesTheSelection) {
  KaoForm* k = open(QStringLiteral("(^_^)\r\n(T_T)\r\n"));
  QGuiApplication::clipboard()->setText(QStringLiteral("  (^o^)/  "));
  select(k->Kao1, 0, 0);
  k->Command3->click();
  EXPECT_EQ(k->Kao1->toPlainText(), QStringLiteral("(^o^)/(^_^)\n(T_T)\n"));
  QGuiApplication::clipboard()->clear();
  select(k->Kao1, 0, 6);
  k->Command3->click();
  EXPECT_EQ(k->Kao1->toPlainText(), QStringLiteral("(^_^)\n(T_T)\n"));
  // Nothing is saved before the picker closes.
  EXPECT_EQ(file(), cp932(QStringLiteral("(^_^)\r\n(T_T)\r\n")));
  k->Kao1->appendPlainText(QStringLiteral("①㈱～"));
  k->close();
  closed();
  EXPECT_EQ(file(), cp932(QStringLiteral("(^_^)\r\n(T_T)\r\n\r\n①㈱～\r\n")));
}

TEST_F(Picker, OpeningAndClosingLeavesTheFileAsItWas) {
  const QByteArray before = cp932(QStringLiteral("(^_^)\r\n①㈱～\r\n"));
  for (int i = 0; i < 3; ++i) {
    KaoForm* k = open(QStringLiteral("(^_^)\r\n①㈱～\r\n"));
    k->close();
    closed();
    EXPECT_EQ(file(), before);
  }
  // An edit that keeps the final line break adds none.
  KaoForm* k = open(QStringLiteral("(^_^)\r\n①㈱～\r\n"));
  k->Kao1->setPlainText(k->Kao1->toPlainText().replace(QStringLiteral("(^_^)"), QStringLiteral("(-_-)")));
  k->close();
  closed();
  EXPECT_EQ(file(), cp932(QStringLiteral("(-_-)\r\n①㈱～\r\n")));
  EXPECT_TRUE(boxes_.seen().isEmpty());
}

TEST_F(Picker, AMissingFileOpensEmptySaysSoOnceAndIsCreatedOnClose) {
  ASSERT_TRUE(QFile::remove(home_.file(paths::kFaceMarkFile)));
  KaoForm* k = KaoForm::showPicker();
  ASSERT_EQ(boxes_.seen().size(), 1);
  EXPECT_TRUE(boxes_.seen()[0].text.contains(QStringLiteral("見つかりません"))) << boxes_.seen()[0].text.toStdString();
  EXPECT_TRUE(k->Kao1->toPlainText().isEmpty());
  k->Kao1->setPlainText(QStringLiteral("(^_^)"));
  k->close();
  closed();
  EXPECT_EQ(file(), cp932(QStringLiteral("(^_^)\r\n")));
  EXPECT_EQ(boxes_.seen().size(), 1);
}

TEST_F(Picker, AnUnreadableFileIsNeverOverwrittenAndAFailedWriteKeepsTheOldOne) {
  const QString path = home_.file(paths::kFaceMarkFile);
  ASSERT_TRUE(QFile::remove(path));
  ASSERT_TRUE(QDir().mkpath(path));  // there, but no file to read
  KaoForm* k = KaoForm::showPicker();
  ASSERT_EQ(boxes_.seen().size(), 1);
  EXPECT_TRUE(boxes_.seen()[0].text.contains(QStringLiteral("読み込めません")));
  k->Kao1->setPlainText(QStringLiteral("(^_^)"));
  k->close();
  closed();
  EXPECT_TRUE(QFileInfo(path).isDir());
  EXPECT_EQ(boxes_.seen().size(), 1);
  ASSERT_TRUE(QDir(path).removeRecursively());

  // The new text cannot be put beside the file: the old one stays, and the user is told.
  k = open(QStringLiteral("(^_^)\r\n"));
  ASSERT_TRUE(QDir().mkpath(path + QStringLiteral(".new")));
  k->Kao1->setPlainText(QStringLiteral("(T_T)"));
  k->close();
  closed();
  ASSERT_EQ(boxes_.seen().size(), 2);
  EXPECT_TRUE(boxes_.seen()[1].text.contains(QStringLiteral("前のまま"))) << boxes_.seen()[1].text.toStdString();
  EXPECT_EQ(file(), cp932(QStringLiteral("(^_^)\r\n")));
}

TEST_F(Picker, MarksShiftJisLacksAreAskedAboutBeforeTheyCouldBecomeQuestionMarks) {
  KaoForm* k = open(QStringLiteral("①㈱～\r\n"));
  k->Kao1->moveCursor(QTextCursor::End);
  QGuiApplication::clipboard()->setText(QStringLiteral("(*'ω'*)\U0001F600"));
  k->Command3->click();
  boxes_.answer(QMessageBox::Yes);  // UTF-8: every character stays
  k->close();
  closed();
  ASSERT_EQ(boxes_.seen().size(), 1);
  EXPECT_EQ(boxes_.seen()[0].title, QStringLiteral("確認"));
  EXPECT_EQ(file(), QStringLiteral("①㈱～\r\n(*'ω'*)\U0001F600\r\n").toUtf8());
  // Read back as it was written, and left alone when unchanged.
  k = KaoForm::showPicker();
  EXPECT_EQ(k->Kao1->toPlainText(), QStringLiteral("①㈱～\n(*'ω'*)\U0001F600\n"));
  k->close();
  closed();
  EXPECT_EQ(file(), QStringLiteral("①㈱～\r\n(*'ω'*)\U0001F600\r\n").toUtf8());
  EXPECT_EQ(boxes_.seen().size(), 1);
}
