// The sent mail's window, from the viewer's "ファイル" menu: the mails a
// server accepted listed with their recipients, shown, found, saved as they
// went out, exported, deleted and opened again in the compose window.
#include "ViewerFixture.h"

#include "composer/WriteForm.h"
#include "platform/TestHooks.h"
#include "platform/ui/FileDialog.h"
#include "store/sent/SentStore.h"
#include "support/WindowRules.h"
#include "viewer/MailListModel.h"
#include "viewer/SentForm.h"

#include <QAction>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>

namespace {

struct Dialogs {
  Dialogs() {
    testhooks::fileDialog = [this](const filedialog::Request& r) {
      requests.append(r);
      return answer;
    };
  }
  ~Dialogs() { testhooks::fileDialog = nullptr; }
  QString answer;
  QList<filedialog::Request> requests;
};

QByteArray message(int n) {
  return "Date: Tue, 8 Dec 2026 10:0" + QByteArray::number(n) +
         ":00 +0900\r\nFrom: me@example\r\nTo: a@example.jp\r\nSubject: s\r\n\r\nFrom the body " +
         QByteArray::number(n) + "\r\n";
}

class SentWindow : public ViewerTest {
 protected:
  void SetUp() override {
    ViewerTest::SetUp();
    const QStringList to{QStringLiteral("一郎 <ichiro@example.jp>"), QStringLiteral("jiro@example.jp"),
                         QStringLiteral("三郎 <saburo@example.jp>, shiro@example.jp")};
    for (int n = 1; n <= 3; ++n)
      ASSERT_FALSE(sent::keep(message(n), sent::sentRecord(message(n), to[n - 1], QStringLiteral("送った件名%1").arg(n),
                                                           QStringLiteral("送った本文%1\n二行目").arg(n))));
  }
  void TearDown() override {
    delete SentForm::existing();
    if (WriteForm* w = WriteForm::existing()) w->close();
    pump();
    ViewerTest::TearDown();
  }
  // "送信済みメール" in the viewer's menu.
  SentForm& openSent() {
    TyakuForm& v = view();
    EXPECT_TRUE(v.mFile->actions().contains(v.msent));
    EXPECT_EQ(v.msent->text(), QStringLiteral("送信済みメール"));
    v.msent->trigger();
    pump();
    return *SentForm::existing();
  }
  void click(SentForm& s, int row) {
    const QModelIndex idx = s.sentList->index(row, 0);
    s.SentListView->scrollTo(idx);
    QTest::mouseClick(s.SentListView->viewport(), Qt::LeftButton, {}, s.SentListView->visualRect(idx).center());
  }
  static QString cell(SentForm& s, int row, int column) { return s.sentList->index(row, column).data().toString().trimmed(); }
};

}  // namespace

TEST_F(SentWindow, ListsShowsAndFindsTheSentMail) {
  SentForm& s = openSent();
  ASSERT_TRUE(s.isVisible());
  EXPECT_EQ(s.windowTitle(), QStringLiteral("送信済みメール"));
  EXPECT_TRUE(keepsScreenReaderRules(&s));
  ASSERT_EQ(s.sentList->rowCount(), 3);
  EXPECT_EQ(s.sentList->headerData(0, Qt::Horizontal).toString(), QStringLiteral("件名"));
  EXPECT_EQ(s.sentList->headerData(1, Qt::Horizontal).toString(), QStringLiteral("宛先"));
  EXPECT_EQ(s.sentList->headerData(2, Qt::Horizontal).toString(), QStringLiteral("日付"));
  EXPECT_EQ(cell(s, 0, 0), QStringLiteral("送った件名1"));
  EXPECT_EQ(cell(s, 0, 1), QStringLiteral("一郎 <ichiro@example.jp>"));
  EXPECT_EQ(cell(s, 2, 2), QStringLiteral("Tue, 8 Dec 2026 10:03:00 +0900"));
  EXPECT_EQ(s.CountBox->text(), QStringLiteral("3"));
  // The latest mail is shown at once.
  EXPECT_EQ(s.SubjectBox->text(), QStringLiteral("送った件名3"));
  EXPECT_EQ(s.ToBox->text(), QStringLiteral("三郎 <saburo@example.jp>, shiro@example.jp"));
  click(s, 1);
  EXPECT_EQ(s.SubjectBox->text(), QStringLiteral("送った件名2"));
  EXPECT_EQ(s.ToBox->text(), QStringLiteral("jiro@example.jp"));
  EXPECT_EQ(s.DateBox->text(), QStringLiteral("Tue, 8 Dec 2026 10:02:00 +0900"));
  EXPECT_EQ(s.BodyBox->toPlainText(), QStringLiteral("送った本文2\n二行目"));
  // Search: by recipient, full-width and half-width alike.
  s.SearchBox->setText(QStringLiteral("ＳＡＢＵＲＯ"));
  QTest::keyClick(s.SearchBox, Qt::Key_Return);
  EXPECT_EQ(s.SubjectBox->text(), QStringLiteral("送った件名3"));
  // No "返事を書く" here; "もう一度送る" is.
  for (QPushButton* b : s.findChildren<QPushButton*>()) EXPECT_FALSE(b->text().contains(QStringLiteral("返事")));
  EXPECT_EQ(s.ResendButton->text(), QStringLiteral("もう一度送る"));
  // The main window's menu is as it was: the sent mail lives in the viewer.
  for (QAction* a : main().menuBar()->actions())
    if (a->menu())
      for (QAction* item : a->menu()->actions()) EXPECT_NE(item->text(), QStringLiteral("送信済みメール"));
}

TEST_F(SentWindow, SavesExportsDeletesAndSendsAgain) {
  SentForm& s = openSent();
  Dialogs dialogs;
  QTemporaryDir out;
  click(s, 1);
  dialogs.answer = out.filePath(QStringLiteral("two.eml"));
  s.mgenbun->trigger();
  ASSERT_EQ(dialogs.requests.size(), 1);
  EXPECT_EQ(dialogs.requests[0].suggestedName, QStringLiteral("送った件名2.eml"));
  QFile eml(dialogs.answer);
  ASSERT_TRUE(eml.open(QIODevice::ReadOnly));
  EXPECT_EQ(eml.readAll(), message(2));

  dialogs.answer = out.filePath(QStringLiteral("all.mbox"));
  s.mmbox->trigger();
  ASSERT_EQ(boxes_.texts().size(), 1);
  EXPECT_TRUE(boxes_.texts()[0].startsWith(QStringLiteral("3 通のメール"))) << boxes_.texts()[0].toStdString();
  QFile mbox(dialogs.answer);
  ASSERT_TRUE(mbox.open(QIODevice::ReadOnly));
  const QByteArray all = mbox.readAll();
  EXPECT_EQ(all.count("From me@example "), 3);
  EXPECT_TRUE(all.contains("\n>From the body 2\n"));

  // Deleted with its kept mail; the others keep theirs.
  click(s, 1);
  boxes_.answer(QMessageBox::Yes);
  s.DeleteButton->click();
  ASSERT_EQ(boxes_.texts().size(), 2);
  EXPECT_EQ(boxes_.texts()[1], QStringLiteral("選択された（行、青色）データを削除します。よろしいですか"));
  ASSERT_EQ(s.sentList->rowCount(), 2);
  EXPECT_EQ(s.CountBox->text(), QStringLiteral("2"));
  EXPECT_EQ(cell(s, 1, 0), QStringLiteral("送った件名3"));
  EXPECT_EQ(sent::original(1).bytes, message(1));
  EXPECT_EQ(sent::original(2).bytes, message(3));
  EXPECT_FALSE(home_.read(QStringLiteral("★MAilData/sent-originals.data")).contains(message(2)));

  // "もう一度送る": the compose window, filled in, nothing sent yet.
  click(s, 0);
  s.ResendButton->click();
  pump();
  WriteForm* w = WriteForm::existing();
  ASSERT_NE(w, nullptr);
  EXPECT_TRUE(w->isVisible());
  EXPECT_EQ(w->ToText->text(), QStringLiteral("一郎 <ichiro@example.jp>"));
  EXPECT_EQ(w->SubjectText->text(), QStringLiteral("送った件名1"));
  EXPECT_EQ(w->rtfEd->toPlainText(), QStringLiteral("送った本文1\n二行目"));
}
