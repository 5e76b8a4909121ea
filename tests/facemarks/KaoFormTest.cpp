// The face-mark picker: inserting into either body, pasting into the
// collection, and the file it reads on opening and writes on closing.
#include "composer/BackForm.h"
#include "composer/WriteForm.h"
#include "facemarks/KaoForm.h"
#include "platform/Durable.h"
#include "platform/Paths.h"
#include "platform/TestHooks.h"
#include "platform/Text.h"
#include "support/Gui.h"
#include "support/CaptionFit.h"
#include "support/WindowRules.h"

#include <QApplication>
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

void closed() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  pump();
}

void select(QPlainTextEdit* e, int start, int end) {
  QTextCursor c = e->textCursor();
  c.setPosition(start);
  c.setPosition(end, QTextCursor::KeepAnchor);
  e->setTextCursor(c);
}

class Picker : public ::testing::Test {
 protected:
  void TearDown() override {
    for (QWidget* w : std::initializer_list<QWidget*>{KaoForm::existing(), BackForm::existing(), WriteForm::existing()})
      if (w) w->close();
    closed();
  }
  // The picker opened on a collection file holding `marks`.
  KaoForm* open(const QString& marks) {
    home_.write(paths::kFaceMarkFile, cp932(marks));
    return KaoForm::showPicker();
  }
  void closePicker(KaoForm* k) {
    k->close();
    closed();
  }
  QByteArray file() const { return home_.read(paths::kFaceMarkFile); }

  TempHome home_;
  MsgBoxAnswerer boxes_;
};

}  // namespace

TEST_F(Picker, TheComposeWindowOpensTheShippedCollectionOnTopOnce) {
  WriteForm* compose = WriteForm::instance();
  ASSERT_TRUE(compose->Command8->isEnabled());
  compose->Command8->click();
  KaoForm* k = KaoForm::existing();
  ASSERT_NE(k, nullptr);
  EXPECT_TRUE(k->isVisible());
  EXPECT_EQ(k->windowTitle(), QStringLiteral("Form1"));
  EXPECT_TRUE(k->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_FALSE(k->Kao1->toPlainText().isEmpty());
  EXPECT_FALSE(k->Kao1->toPlainText().contains(QChar::ReplacementCharacter));
  EXPECT_TRUE(keepsScreenReaderRules(k));
  EXPECT_EQ(KaoForm::showPicker(), k);
  EXPECT_TRUE(boxes_.seen().isEmpty());
}

TEST_F(Picker, TheSelectionGoesInWithoutItsSpacesInPlaceOfTheBodysSelection) {
  KaoForm* k = open(QStringLiteral("笑顔 (^_^) です\r\n①㈱～\r\n"));
  BackForm* reply = BackForm::instance();
  reply->BodyText->setPlainText(QStringLiteral("前XX後"));
  select(reply->BodyText, 1, 3);
  select(k->Kao1, 2, 9);  // " (^_^) "
  k->Command2->click();
  closed();
  EXPECT_EQ(KaoForm::existing(), nullptr);
  EXPECT_EQ(reply->BodyText->toPlainText(), QStringLiteral("前(^_^)後"));
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral(" (^_^) "));

  // Nothing selected: the body's selection goes, nothing comes in.
  select(reply->BodyText, 0, 1);
  KaoForm::showPicker()->Command2->click();
  closed();
  EXPECT_EQ(reply->BodyText->toPlainText(), QStringLiteral("(^_^)後"));

  // Two lines into the compose window, which is made for it.
  ASSERT_EQ(WriteForm::existing(), nullptr);
  k = KaoForm::showPicker();
  select(k->Kao1, 0, k->Kao1->toPlainText().indexOf(QStringLiteral("～")) + 1);
  k->Command1->click();
  closed();
  ASSERT_NE(WriteForm::existing(), nullptr);
  EXPECT_EQ(WriteForm::existing()->rtfEd->toPlainText(), QStringLiteral("笑顔 (^_^) です\n①㈱～"));
}

TEST_F(Picker, PastingIsSavedOnCloseAndOpeningAndClosingLeavesTheFileAsItWas) {
  const QByteArray before = cp932(QStringLiteral("(^_^)\r\n(T_T)\r\n"));
  for (int i = 0; i < 3; ++i) {
    closePicker(open(QStringLiteral("(^_^)\r\n(T_T)\r\n")));
    EXPECT_EQ(file(), before);
  }
  KaoForm* k = open(QStringLiteral("(^_^)\r\n(T_T)\r\n"));
  QGuiApplication::clipboard()->setText(QStringLiteral("  (^o^)/  "));
  select(k->Kao1, 0, 0);
  k->Command3->click();
  QGuiApplication::clipboard()->clear();
  select(k->Kao1, 6, 11);
  k->Command3->click();  // an empty clipboard removes the selection
  EXPECT_EQ(k->Kao1->toPlainText(), QStringLiteral("(^o^)/\n(T_T)\n"));
  EXPECT_EQ(file(), before);
  closePicker(k);
  EXPECT_EQ(file(), cp932(QStringLiteral("(^o^)/\r\n(T_T)\r\n")));
  // The program ends with the picker open: what was typed is kept too.
  KaoForm::showPicker()->Kao1->setPlainText(QStringLiteral("(T_T)"));
  QMetaObject::invokeMethod(qApp, "aboutToQuit");
  EXPECT_EQ(file(), cp932(QStringLiteral("(T_T)\r\n")));
  EXPECT_TRUE(boxes_.seen().isEmpty());
}

TEST_F(Picker, AMissingFileIsCreatedAnUnreadableOneKeptAndAFailedWriteSaid) {
  const QString path = home_.file(paths::kFaceMarkFile);
  ASSERT_TRUE(QFile::remove(path));
  KaoForm* k = KaoForm::showPicker();
  ASSERT_EQ(boxes_.seen().size(), 1);
  EXPECT_TRUE(boxes_.seen()[0].text.contains(QStringLiteral("見つかりません")));
  EXPECT_TRUE(k->Kao1->toPlainText().isEmpty());
  k->Kao1->setPlainText(QStringLiteral("(^_^)"));
  closePicker(k);
  EXPECT_EQ(file(), cp932(QStringLiteral("(^_^)\r\n")));

  // There but not readable as a file: never written over.
  ASSERT_TRUE(QFile::remove(path));
  ASSERT_TRUE(QDir().mkpath(path));
  k = KaoForm::showPicker();
  ASSERT_EQ(boxes_.seen().size(), 2);
  EXPECT_TRUE(boxes_.seen()[1].text.contains(QStringLiteral("読み込めません")));
  k->Kao1->setPlainText(QStringLiteral("(^_^)"));
  closePicker(k);
  EXPECT_TRUE(QFileInfo(path).isDir());
  ASSERT_TRUE(QDir(path).removeRecursively());

  // The new text cannot take the file's name: the old one stays.
  k = open(QStringLiteral("(^_^)\r\n"));
  testhooks::replaceFile = [](const QString&) { return false; };
  k->Kao1->setPlainText(QStringLiteral("(T_T)"));
  closePicker(k);
  testhooks::replaceFile = nullptr;
  ASSERT_EQ(boxes_.seen().size(), 3);
  EXPECT_TRUE(boxes_.seen()[2].text.contains(QStringLiteral("前のまま")));
  EXPECT_EQ(file(), cp932(QStringLiteral("(^_^)\r\n")));
}

TEST_F(Picker, MarksShiftJisLacksAreAskedAboutAndKeptInUtf8) {
  KaoForm* k = open(QStringLiteral("①㈱～\r\n"));
  k->Kao1->moveCursor(QTextCursor::End);
  k->Kao1->insertPlainText(QStringLiteral("(*'ω'*)\U0001F600"));
  boxes_.answer(QMessageBox::Yes);  // UTF-8
  closePicker(k);
  ASSERT_EQ(boxes_.seen().size(), 1);
  const QByteArray utf8 = QStringLiteral("①㈱～\r\n(*'ω'*)\U0001F600\r\n").toUtf8();
  EXPECT_EQ(file(), utf8);
  k = KaoForm::showPicker();
  EXPECT_EQ(k->Kao1->toPlainText(), QStringLiteral("①㈱～\n(*'ω'*)\U0001F600\n"));
  closePicker(k);
  EXPECT_EQ(file(), utf8);
}

TEST_F(Picker, AtItsDefaultSizeEveryInstructionLineShowsOnOneLine) {
  KaoForm* k = open(QStringLiteral("(^_^)\r\n"));
  pump();
  const struct {
    QLabel* label;
    QString text;
  } lines[] = {
      {k->Label1, QStringLiteral("①挿入した範囲をマウスで選択（青色反転）")},
      {k->Label2, QStringLiteral("①挿入する場所を選択。「新規作成」または「返事を書く」")},
      {k->Label3, QStringLiteral("※名前他を編集すると自動で保存されます。新データの追加は編集　　　（貼付）で行います。")},
  };
  for (const auto& l : lines) {
    EXPECT_EQ(l.label->text(), l.text);
    // Unbroken: "（貼付）" stays in one piece.
    EXPECT_LE(QFontMetrics(l.label->font()).horizontalAdvance(l.text), l.label->contentsRect().width())
        << l.label->objectName().toStdString();
    EXPECT_LE(l.label->heightForWidth(l.label->contentsRect().width()), QFontMetrics(l.label->font()).lineSpacing() + 1)
        << l.label->objectName().toStdString();
  }
  EXPECT_TRUE(showsEveryCaptionWhole(k));
  EXPECT_TRUE(keepsScreenReaderRules(k));
  closePicker(k);
}
