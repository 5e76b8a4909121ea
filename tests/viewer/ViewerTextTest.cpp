// The viewer's text commands as a user meets them: the menus and toolbar
// on the body, documents, printing to PDF, copy and quick-save, save-as
// and open, the help box, and finding mails from the search box.
#include "ViewerFixture.h"

#include "platform/SharedState.h"
#include "platform/TestHooks.h"
#include "platform/Text.h"
#include "platform/ui/FileDialog.h"
#include "platform/ui/Printing.h"
#include "reception/ExportWords.h"
#include "store/received/Originals.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextCursor>
#include <QToolBar>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Answers the file dialogs with a path (empty: cancel), recording each request.
struct FileDialogs {
  FileDialogs() {
    testhooks::fileDialog = [this](const filedialog::Request& r) {
      requests.append(r);
      return answer;
    };
  }
  ~FileDialogs() { testhooks::fileDialog = nullptr; }
  QString answer;
  QList<filedialog::Request> requests;
};

struct ViewerText : ViewerTest {
  void SetUp() override {
    ViewerTest::SetUp();
    shared::CurrentDocumentName.clear();
    shared::DocumentModified = 0;
    shared::BoldCounter = shared::ItalicCounter = shared::UnderlineCounter = 0;
  }
  void TearDown() override {
    testhooks::printDialog = nullptr;
    shared::CurrentDocumentName.clear();
    shared::BoldCounter = shared::ItalicCounter = shared::UnderlineCounter = 0;
    ViewerTest::TearDown();
  }
  static void select(QPlainTextEdit* e, int start, int length) {
    QTextCursor c = e->textCursor();
    c.setPosition(start);
    c.setPosition(start + length, QTextCursor::KeepAnchor);
    e->setTextCursor(c);
  }
  static int selStart(QPlainTextEdit* e) { return e->textCursor().selectionStart(); }
  static int selLength(QPlainTextEdit* e) { return e->textCursor().selectionEnd() - e->textCursor().selectionStart(); }
  static void hover(QWidget* w, QPoint at = {-1, -1}) {
    QTest::mouseMove(w, at.x() < 0 ? w->rect().center() : at);
    pump();
  }
  static QWidget* toolWidget(TyakuForm& v, const char* key) {
    return v.tbToolBar->widgetForAction(v.toolButton(QString::fromLatin1(key)));
  }
  QString quickSaveFolder() const { return home_.file(paths::kQuickSaveFolder); }
};

}  // namespace

TEST_F(ViewerText, SearchBcInAbcabcSteppingWithNextSearch) {
  TyakuForm& v = view();
  v.rtfEd->setPlainText(QStringLiteral("abcabc"));
  v.Text1->setText(QStringLiteral("bc"));
  v.mkensaku->trigger();
  EXPECT_EQ(selStart(v.rtfEd), 1);
  EXPECT_EQ(selLength(v.rtfEd), 2);
  v.mtugikensaku->trigger();
  EXPECT_EQ(selStart(v.rtfEd), 4);
  v.mtugikensaku->trigger();
  EXPECT_EQ(v.LastMatchPosition, 0);
  EXPECT_EQ(selStart(v.rtfEd), 4);  // a miss leaves the selection
  v.mtugikensaku->trigger();
  EXPECT_EQ(selStart(v.rtfEd), 1);
  EXPECT_EQ(selLength(v.rtfEd), 2);
  // Past line breaks the selection still lands on the match.
  v.rtfEd->setPlainText(QStringLiteral("一行目\r\n二行目\r\n三行目"));
  v.Text1->setText(QStringLiteral("三行"));
  v.mkensaku->trigger();
  EXPECT_EQ(v.rtfEd->textCursor().selectedText(), QStringLiteral("三行"));
}

TEST_F(ViewerText, CutCopyAndPaste) {
  TyakuForm& v = view();
  v.rtfEd->setPlainText(QStringLiteral("灯火亭で読む手紙"));
  select(v.rtfEd, 0, 3);
  v.mcopy->trigger();
  EXPECT_EQ(clipboard(), QStringLiteral("灯火亭"));
  EXPECT_EQ(selStart(v.rtfEd), 3);  // collapsed to its end
  EXPECT_EQ(selLength(v.rtfEd), 0);
  select(v.rtfEd, 3, 2);
  v.toolButton(QStringLiteral("Cut"))->trigger();
  EXPECT_EQ(clipboard(), QStringLiteral("で読"));
  EXPECT_EQ(v.rtfEd->toPlainText(), QStringLiteral("灯火亭む手紙"));
  EXPECT_TRUE(v.rtfEd->isVisible());
  // Pasted without the spaces around it, in place of the selection.
  QGuiApplication::clipboard()->setText(QStringLiteral("  の①～  "));
  select(v.rtfEd, 0, 3);
  v.mpaste->trigger();
  EXPECT_EQ(v.rtfEd->toPlainText(), QStringLiteral("の①～む手紙"));
  // Copy with nothing selected: an empty clipboard, the caret at the start.
  v.toolButton(QStringLiteral("Copy"))->trigger();
  EXPECT_EQ(clipboard(), QString());
  EXPECT_EQ(v.rtfEd->textCursor().position(), 0);
  v.mbunmatujump->trigger();
  EXPECT_EQ(v.rtfEd->textCursor().position(), 6);
}

TEST_F(ViewerText, NewDocumentCreatesTheFileOnceAndCaptionsTheWindow) {
  storeMails(threeMails());
  TyakuForm& v = view();
  v.mnew->trigger();
  EXPECT_TRUE(v.rtfEd->toPlainText().isEmpty());
  EXPECT_EQ(v.windowTitle(), QStringLiteral("新規作成.TXT      新規作成.TXT"));
  const QFileInfo made(QDir::current().filePath(QStringLiteral("新規作成.TXT")));
  ASSERT_TRUE(made.exists());
  EXPECT_EQ(made.size(), 0);
  v.rtfEd->setPlainText(QStringLiteral("書きかけ"));
  v.toolButton(QStringLiteral("New"))->trigger();
  EXPECT_EQ(v.rtfEd->toPlainText(), QStringLiteral("書きかけ"));
  EXPECT_TRUE(boxes_.seen().isEmpty());
}

TEST_F(ViewerText, PrintTwoCopiesOfASelectionToPdf) {
  const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
  ASSERT_FALSE(pdftotext.isEmpty()) << "pdftotext (poppler-utils) is needed to read the printed PDF";
  TyakuForm& v = view();
  v.rtfEd->setPlainText(QStringLiteral("一行目は印刷しない\r\n灯火亭の手紙を印刷する\r\n最後の行"));
  select(v.rtfEd, 10, 6);  // 灯火亭の手紙
  v.Text1->setFocus();      // the body's selection is printed, wherever the focus is
  const QString pdf = home_.path() + QStringLiteral("/print.pdf");
  bool offered = false;
  testhooks::printDialog = [&](QPrinter& p, bool selection) {
    offered = selection && p.printRange() == QPrinter::Selection;
    p.setOutputFormat(QPrinter::PdfFormat);
    p.setOutputFileName(pdf);
    p.setCopyCount(2);
    return true;
  };
  v.toolButton(QStringLiteral("Print"))->trigger();
  EXPECT_TRUE(offered);
  QProcess read;
  read.start(pdftotext, {pdf, QStringLiteral("-")});
  ASSERT_TRUE(read.waitForFinished(20000));
  const QString text = QString::fromUtf8(read.readAllStandardOutput());
  // Two copies of the selection only, each from a page of its own.
  EXPECT_EQ(text.count(QStringLiteral("灯火亭の手紙")), 2) << text.toStdString();
  EXPECT_EQ(text.count(QChar(u'\f')), 2) << text.toStdString();
  EXPECT_FALSE(text.contains(QStringLiteral("印刷しない"))) << text.toStdString();

  // The menu item prints too; without a selection none is offered; cancelled, nothing is printed.
  QFile::remove(pdf);
  v.rtfEd->moveCursor(QTextCursor::Start);
  testhooks::printDialog = [&](QPrinter&, bool selection) {
    offered = selection;
    return false;
  };
  v.mprint->trigger();
  EXPECT_FALSE(offered);
  EXPECT_FALSE(QFileInfo::exists(pdf));
  EXPECT_TRUE(boxes_.seen().isEmpty());
}

TEST_F(ViewerText, QuickSaveWritesTheFourLineFile) {
  storeMails({{QStringLiteral("abc"), QStringLiteral("x"), QStringLiteral("d"), QStringLiteral("b")},
              {QStringLiteral("件名①"), QStringLiteral("送り主"), QStringLiteral("今日"), QStringLiteral("一行目\r\n二行目")}});
  const QByteArray abc("Subject:  abc\r\nFrom:  x\r\nDate:  d\r\nBody:  b\r\n");
  TyakuForm& v = view();
  v.Command2->click();  // no click in the list yet
  EXPECT_EQ(boxes_.texts(), QStringList{QStringLiteral("データが選択されていません")});
  clickRow(v, 0);
  v.Command2->click();
  EXPECT_EQ(home_.read(paths::kQuickSaveFolder + QStringLiteral("/abc.txt")), abc);
  EXPECT_EQ(v.rtfEd->toPlainText(), QStringLiteral("Subject:  abc\nFrom:  x\nDate:  d\nBody:  b"));
  EXPECT_TRUE(v.Text5->text().isEmpty());
  clickRow(v, 1);
  v.Command2->click();
  EXPECT_EQ(home_.read(paths::kQuickSaveFolder + QStringLiteral("/件名①.txt")),
            text::toCp932(QStringLiteral("Subject:  件名①\r\nFrom:  送り主\r\nDate:  今日\r\nBody:  一行目\r\n二行目\r\n")));

  // Over an existing file, matched without regard to case: No keeps it, Yes replaces it.
  QFile::remove(home_.file(paths::kQuickSaveFolder + QStringLiteral("/abc.txt")));
  home_.write(paths::kQuickSaveFolder + QStringLiteral("/ABC.TXT"), "old");
  clickRow(v, 0);
  boxes_.answer(QMessageBox::No);
  v.Command2->click();
  ASSERT_EQ(boxes_.seen().size(), 2);
  EXPECT_EQ(boxes_.seen()[1].text, QStringLiteral("同名のファイルが既に存在します。上書きしますか？ "));
  EXPECT_EQ(boxes_.seen()[1].title, QStringLiteral("確認"));
  EXPECT_EQ(home_.read(paths::kQuickSaveFolder + QStringLiteral("/ABC.TXT")), QByteArray("old"));
  EXPECT_EQ(v.rtfEd->toPlainText(), QStringLiteral("b"));
  clickRow(v, 0);
  boxes_.answer(QMessageBox::Yes);
  v.Command2->click();
  EXPECT_EQ(home_.read(paths::kQuickSaveFolder + QStringLiteral("/ABC.TXT")), abc);
  EXPECT_EQ(QDir(quickSaveFolder()).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

TEST_F(ViewerText, QuickSaveOfAPathLikeSubjectStaysInTheFolder) {
  storeMails({{QStringLiteral("../../etc/x"), QStringLiteral("x"), QStringLiteral("d"), QStringLiteral("b")},
              {QString(100, QChar(0xFF71)), QStringLiteral("x"), QStringLiteral("d"), QStringLiteral("長い件名")}});
  TyakuForm& v = view();
  clickRow(v, 0);
  v.Command2->click();
  EXPECT_EQ(QDir(quickSaveFolder()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral(".._.._etc_x.txt")});
  EXPECT_FALSE(QFileInfo::exists(home_.path() + QStringLiteral("/../etc/x.txt")));
  // 100 half-width kana are 300 bytes of UTF-8: the name is cut, the file written.
  clickRow(v, 1);
  v.Command2->click();
  EXPECT_TRUE(QFileInfo::exists(quickSaveFolder() + u'/' + QString(83, QChar(0xFF71)) + QStringLiteral(".txt")));
  EXPECT_TRUE(boxes_.seen().isEmpty()) << boxes_.texts().join(u'|').toStdString();
}

TEST_F(ViewerText, AQuickSaveThatCannotWriteSaysSoAndLeavesNothingHalfWritten) {
  storeMails({{QStringLiteral("abc"), QStringLiteral("x"), QStringLiteral("d"), QStringLiteral("b")}});
  TyakuForm& v = view();
  ASSERT_TRUE(QDir(quickSaveFolder()).mkdir(QStringLiteral("abc.txt")));  // a folder where the file would go
  clickRow(v, 0);
  boxes_.answer(QMessageBox::Yes);
  v.Command2->click();
  ASSERT_EQ(boxes_.seen().size(), 2);
  EXPECT_TRUE(boxes_.seen()[1].text.contains(QStringLiteral("保存できませんでした"))) << boxes_.texts().join(u'|').toStdString();
  EXPECT_TRUE(QDir(quickSaveFolder()).entryList(QDir::Files | QDir::Hidden).isEmpty());
  EXPECT_EQ(v.rtfEd->toPlainText(), QStringLiteral("b"));
  // No quick-save folder: said so, and none is made.
  ASSERT_TRUE(QDir(quickSaveFolder()).removeRecursively());
  clickRow(v, 0);
  v.Command2->click();
  ASSERT_EQ(boxes_.seen().size(), 3);
  EXPECT_TRUE(boxes_.seen()[2].text.contains(QStringLiteral("■TextQuickSave")));
  EXPECT_FALSE(QFileInfo::exists(quickSaveFolder()));
}

TEST_F(ViewerText, SaveAsWritesTheHeaderBlockAndCaptionsTheFile) {
  storeMails({{QStringLiteral("abc"), QStringLiteral("x"), QStringLiteral("d"), QStringLiteral("b")}});
  TyakuForm& v = view();
  FileDialogs dialogs;
  const QString target = home_.path() + QStringLiteral("/保存.txt");
  dialogs.answer = target;
  v.msave->trigger();
  ASSERT_EQ(dialogs.requests.size(), 1);
  EXPECT_EQ(dialogs.requests[0].kind, filedialog::Kind::Save);
  EXPECT_EQ(dialogs.requests[0].filter, QStringLiteral("txtファイル(*.txt,*.ini)|*.txt;*.ini"));
  EXPECT_EQ(home_.read(QStringLiteral("保存.txt")), QByteArray("Subject:  abc\r\nFrom:  x\r\nDate:  d\r\nBody:  b\r\n"));
  EXPECT_EQ(v.windowTitle(), target);
  // Cancelled: the header block stays in the body.
  dialogs.answer.clear();
  clickRow(v, 0);
  v.toolButton(QStringLiteral("Save"))->trigger();
  EXPECT_TRUE(v.rtfEd->toPlainText().startsWith(QStringLiteral("Subject:  abc\n")));
  // A file that cannot be written: said so, the caption keeps the last file.
  dialogs.answer = home_.path() + QStringLiteral("/folder.txt");
  ASSERT_TRUE(QDir(home_.path()).mkdir(QStringLiteral("folder.txt")));
  v.msave->trigger();
  ASSERT_EQ(boxes_.seen().size(), 1);
  EXPECT_TRUE(boxes_.seen()[0].text.contains(QStringLiteral("保存できませんでした")));
  EXPECT_EQ(v.windowTitle(), target);
}

// Characters Shift-JIS lacks (here one typed into the body) are never
// turned into "?" unasked: UTF-8 keeps them, Shift-JIS writes "?", or no save.
TEST_F(ViewerText, QuickSaveAndSaveAsAskBeforeLosingCharacters) {
  storeMails({{QStringLiteral("abc"), QStringLiteral("x"), QStringLiteral("d"), QStringLiteral("b")}});
  TyakuForm& v = view();
  const QString quick = paths::kQuickSaveFolder + QStringLiteral("/abc.txt");
  const QString block = QStringLiteral("Subject:  abc\r\nFrom:  x\r\nDate:  d\r\nBody:  笑顔😀\r\n");
  auto typeIntoBody = [&] {
    clickRow(v, 0);
    v.rtfEd->setPlainText(QStringLiteral("笑顔😀"));
  };
  auto expectQuestion = [&](int at) {
    ASSERT_GT(boxes_.seen().size(), at);
    const MsgBoxAnswerer::Seen& q = boxes_.seen()[at];
    EXPECT_TRUE(q.text.contains(QStringLiteral("😀"))) << q.text.toStdString();
    EXPECT_TRUE(q.text.contains(QStringLiteral("「はい」　　　UTF-8 で保存します。"))) << q.text.toStdString();
    EXPECT_TRUE(q.text.contains(QStringLiteral("「キャンセル」保存しません。"))) << q.text.toStdString();
    EXPECT_EQ(q.buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    EXPECT_EQ(q.title, QStringLiteral("確認"));
  };

  // Quick-save declined: no file, the body as it was.
  typeIntoBody();
  boxes_.answer(QMessageBox::Cancel);
  v.Command2->click();
  ASSERT_EQ(boxes_.seen().size(), 1);
  expectQuestion(0);
  EXPECT_FALSE(QFileInfo::exists(home_.file(quick)));
  EXPECT_EQ(v.rtfEd->toPlainText(), QStringLiteral("笑顔😀"));
  // In UTF-8, every character kept.
  typeIntoBody();
  boxes_.answer(QMessageBox::Yes);
  v.Command2->click();
  ASSERT_EQ(boxes_.seen().size(), 2);
  expectQuestion(1);
  EXPECT_EQ(home_.read(quick), block.toUtf8());
  // Over it, in Shift-JIS with "?" (the question about the existing file first).
  typeIntoBody();
  boxes_.answer(QMessageBox::Yes);
  boxes_.answer(QMessageBox::No);
  v.Command2->click();
  ASSERT_EQ(boxes_.seen().size(), 4);
  expectQuestion(3);
  EXPECT_EQ(home_.read(quick), text::toCp932(QStringLiteral("Subject:  abc\r\nFrom:  x\r\nDate:  d\r\nBody:  笑顔?\r\n")));

  // Save-as the same way.
  FileDialogs dialogs;
  const QString caption = v.windowTitle();
  dialogs.answer = home_.path() + QStringLiteral("/保存.txt");
  typeIntoBody();
  boxes_.answer(QMessageBox::Cancel);
  v.msave->trigger();
  ASSERT_EQ(boxes_.seen().size(), 5);
  expectQuestion(4);
  EXPECT_FALSE(QFileInfo::exists(dialogs.answer));
  EXPECT_EQ(v.windowTitle(), caption);
  typeIntoBody();
  boxes_.answer(QMessageBox::No);
  v.msave->trigger();
  ASSERT_EQ(boxes_.seen().size(), 6);
  EXPECT_EQ(home_.read(QStringLiteral("保存.txt")),
            text::toCp932(QStringLiteral("Subject:  abc\r\nFrom:  x\r\nDate:  d\r\nBody:  笑顔?\r\n")));
  EXPECT_EQ(v.windowTitle(), dialogs.answer);
  typeIntoBody();
  boxes_.answer(QMessageBox::Yes);
  v.toolButton(QStringLiteral("Save"))->trigger();
  ASSERT_EQ(boxes_.seen().size(), 7);
  EXPECT_EQ(home_.read(QStringLiteral("保存.txt")), block.toUtf8());
  // Text Shift-JIS holds is saved without a question.
  clickRow(v, 0);
  v.msave->trigger();
  EXPECT_EQ(boxes_.seen().size(), 7);
  EXPECT_EQ(home_.read(QStringLiteral("保存.txt")), QByteArray("Subject:  abc\r\nFrom:  x\r\nDate:  d\r\nBody:  b\r\n"));
}

// A quick-save is the user's alone; a file saved elsewhere gets the user's umask.
TEST_F(ViewerText, QuickSaveIsPrivateAndSaveAsElsewhereFollowsTheUmask) {
  storeMails({{QStringLiteral("abc"), QStringLiteral("x"), QStringLiteral("d"), QStringLiteral("b")}});
  TyakuForm& v = view();
  FileDialogs dialogs;
  QTemporaryDir elsewhere;
  const mode_t old = ::umask(027);
  clickRow(v, 0);
  v.Command2->click();
  dialogs.answer = elsewhere.filePath(QStringLiteral("saved.txt"));
  clickRow(v, 0);
  v.msave->trigger();
  ::umask(022);
  dialogs.answer = elsewhere.filePath(QStringLiteral("saved2.txt"));
  clickRow(v, 0);
  v.msave->trigger();
  ::umask(old);
  EXPECT_TRUE(boxes_.seen().isEmpty()) << boxes_.texts().join(u'|').toStdString();
  EXPECT_EQ(QFileInfo(home_.file(paths::kQuickSaveFolder + QStringLiteral("/abc.txt"))).permissions(),
            QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
  EXPECT_EQ(QFileInfo(elsewhere.filePath(QStringLiteral("saved.txt"))).permissions(),
            QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser | QFile::ReadGroup);
  EXPECT_EQ(QFileInfo(elsewhere.filePath(QStringLiteral("saved2.txt"))).permissions(),
            QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser | QFile::ReadGroup | QFile::ReadOther);
}

TEST_F(ViewerText, OpenPutsTheLinesIntoTheBody) {
  TyakuForm& v = view();
  const QString caption = v.windowTitle();
  FileDialogs dialogs;
  home_.write(QStringLiteral("ab.txt"), text::toCp932(QStringLiteral("a\r\n①㈱～")));
  dialogs.answer = home_.file(QStringLiteral("ab.txt"));
  shared::DocumentModified = 0;
  v.mopen->trigger();
  EXPECT_EQ(dialogs.requests.value(0).kind, filedialog::Kind::Open);
  EXPECT_EQ(v.rtfEd->toPlainText(), QStringLiteral("a\n①㈱～\n"));
  EXPECT_EQ(v.windowTitle(), caption);
  EXPECT_EQ(shared::DocumentModified, -1);
  dialogs.answer.clear();
  v.toolButton(QStringLiteral("Open"))->trigger();
  EXPECT_EQ(v.rtfEd->toPlainText(), QStringLiteral("a\n①㈱～\n"));
  EXPECT_TRUE(boxes_.seen().isEmpty());
}

TEST_F(ViewerText, BoldTwiceLeavesTheFontAsItWas) {
  TyakuForm& v = view();
  const QFont before = v.rtfEd->font();
  v.toolButton(QStringLiteral("Bold"))->trigger();
  EXPECT_TRUE(v.rtfEd->font().bold());
  v.toolButton(QStringLiteral("Bold"))->trigger();
  EXPECT_EQ(v.rtfEd->font(), before);
  v.toolButton(QStringLiteral("Bold"))->trigger();
  EXPECT_TRUE(v.rtfEd->font().bold());
  v.toolButton(QStringLiteral("Underline"))->trigger();
  EXPECT_TRUE(v.rtfEd->font().underline());
  EXPECT_EQ(v.toolButton(QStringLiteral("Copy"))->toolTip(), QStringLiteral("ｺﾋﾟｰ"));
}

TEST_F(ViewerText, TheHelpBoxExplainsWhatIsUnderTheMouse) {
  main().Check1->setChecked(true);
  storeMails(threeMails());
  TyakuForm& v = view();
  hover(toolWidget(v, "Print"));
  EXPECT_TRUE(v.Text4->isVisible());
  EXPECT_TRUE(v.Text4->toPlainText().contains(QStringLiteral("印刷")));
  hover(v.Command3);
  EXPECT_EQ(v.Text4->toPlainText(), QStringLiteral("受信したメールを１件ずつ削除します。リストでメールを選択（クリック）"
                                                   "してから実行して下さい。"));
  // Over the list: hidden and emptied; back over the button: its text again.
  hover(v.MailListView->viewport());
  EXPECT_FALSE(v.Text4->isVisible());
  EXPECT_TRUE(v.Text4->toPlainText().isEmpty());
  hover(v.Command3);
  EXPECT_TRUE(v.Text4->isVisible());
  // Over the body (beside the help box lying on it): hidden, the text kept.
  hover(v.rtfEd->viewport(), QPoint(4, 4));
  EXPECT_FALSE(v.Text4->isVisible());
  EXPECT_FALSE(v.Text4->toPlainText().isEmpty());
  // The copy button's text: three pieces joined by two line breaks each.
  hover(v.Command1);
  EXPECT_TRUE(v.Text4->toPlainText().contains(QStringLiteral("ます。\n\n 本文への貼り付け")));
  EXPECT_EQ(v.Text4->toPlainText().count(QStringLiteral("\n\n")), 2);
}

TEST_F(ViewerText, WithoutExplanationsTheHelpIsWrittenButStaysOutOfView) {
  main().Check1->setChecked(false);
  TyakuForm& v = view();
  hover(v.Command6);
  EXPECT_EQ(v.Text4->toPlainText(), QStringLiteral("受信したメール全件削除します。"));
  EXPECT_LT(v.Text4->geometry().bottom(), 0);
}

TEST_F(ViewerText, CopyPreviewFollowsTheHeaderBoxesAndTheButtonColour) {
  storeMails(threeMails());
  TyakuForm& v = view();
  auto face = [&] { return v.Command1->palette().color(QPalette::Button); };
  QGuiApplication::clipboard()->setText(QStringLiteral("before"));
  v.Command1->click();  // before the mouse passed a header box: the empty text
  EXPECT_EQ(clipboard(), QString());
  hover(v.Text7);
  EXPECT_EQ(v.Text6->text(), QStringLiteral("件名その3"));
  EXPECT_EQ(face(), QColor(255, 255, 0));
  hover(v.Text9);
  EXPECT_EQ(face(), QColor(255, 255, 255));
  hover(v.Text8);
  EXPECT_EQ(face(), QColor(0, 0, 255));
  // The list greys the button and leaves the preview.
  hover(v.MailListView->viewport());
  EXPECT_EQ(face(), QColor(128, 128, 128));
  hover(v.Command1);
  v.Command1->click();
  EXPECT_EQ(clipboard(), QStringLiteral("saburo@example.jp"));
}

TEST_F(ViewerText, EnterInTheSearchBoxSelectsTheNextMailThatHoldsTheText) {
  storeMails({{QStringLiteral("会議のお知らせ"), QStringLiteral("a@example.jp"), QStringLiteral("d1"), QStringLiteral("本文")},
              {QStringLiteral("別件"), QStringLiteral("ｶﾞｲﾄﾞ <guide@example.jp>"), QStringLiteral("d2"), QStringLiteral("本文")},
              {QStringLiteral("ご案内"), QStringLiteral("c@example.jp"), QStringLiteral("d3"),
               QStringLiteral("10時～12時に ＯＳＨＩＲＡＳＥ します")}});
  TyakuForm& v = view();
  auto enter = [&](const QString& text) {
    v.Text1->setText(text);
    QTest::keyClick(v.Text1, Qt::Key_Return);
    return v.MailListView->currentIndex().row();
  };
  v.Text1->setFocus();
  EXPECT_EQ(enter(QStringLiteral("がいど")), 1);
  EXPECT_EQ(v.Text7->text(), QStringLiteral("別件"));
  EXPECT_EQ(v.Text5->text(), QStringLiteral("1"));  // as a click: the mail can be answered or deleted
  EXPECT_EQ(enter(QStringLiteral("10時〜12時")), 2);
  EXPECT_EQ(enter(QStringLiteral("お知らせ")), 0);  // on from the top
  EXPECT_EQ(enter(QStringLiteral("oshirase")), 2);
  EXPECT_TRUE(boxes_.seen().isEmpty());
  EXPECT_EQ(enter(QStringLiteral("どこにもない")), 2);
  EXPECT_EQ(boxes_.texts(), QStringList{QStringLiteral("「どこにもない」を含むメールは一覧にありません。")});
}

// The originals from the "ファイル" menu: the selected mail as .eml, all mail
// as mbox; a mail received before originals were kept only says so, and a
// delete in between keeps every other mail's original.
TEST_F(ViewerText, OriginalsSavedAndExportedFromTheFileMenu) {
  const QList<Mail> mails = threeMails();
  storeMails(mails);
  const QByteArray second = "Subject: two\r\n\r\nFrom the second\r\n", third = "Subject: three\r\n\r\nbody\r\n";
  {
    received::OriginalsAppender a;
    received::Fault why;
    qint64 at = 0;
    ASSERT_TRUE(a.open(&why));
    ASSERT_TRUE(a.append(second, &at, &why));
    a.addEntry({2, at, second.size(), received::recordFingerprint(recordOf(mails[1])), 0, "u2"});
    ASSERT_TRUE(a.append(third, &at, &why));
    a.addEntry({3, at, third.size(), received::recordFingerprint(recordOf(mails[2])), 0, "u3"});
    ASSERT_TRUE(a.writeEntries(&why) && a.sync(&why));
  }
  TyakuForm& v = view();
  const QList<QAction*> items = v.mFile->actions();
  ASSERT_TRUE(items.contains(v.mgenbun) && items.contains(v.mmbox));
  FileDialogs dialogs;
  QTemporaryDir out;

  clickRow(v, 1);
  dialogs.answer = out.filePath(QStringLiteral("二通目.eml"));
  v.mgenbun->trigger();
  ASSERT_EQ(dialogs.requests.size(), 1);
  EXPECT_EQ(dialogs.requests[0].kind, filedialog::Kind::Save);
  EXPECT_EQ(dialogs.requests[0].suggestedName, QStringLiteral("件名その2.eml"));
  QFile eml(dialogs.answer);
  ASSERT_TRUE(eml.open(QIODevice::ReadOnly));
  EXPECT_EQ(eml.readAll(), second);
  EXPECT_TRUE(boxes_.texts().isEmpty()) << boxes_.texts().join(u'\n').toStdString();

  clickRow(v, 0);
  v.mgenbun->trigger();
  EXPECT_EQ(dialogs.requests.size(), 1);  // nothing to save: no dialog
  ASSERT_EQ(boxes_.texts().size(), 1);
  EXPECT_TRUE(boxes_.texts()[0].startsWith(reception::noOriginalText()));

  dialogs.answer = out.filePath(QStringLiteral("all.mbox"));
  v.mmbox->trigger();
  ASSERT_EQ(boxes_.texts().size(), 2);
  EXPECT_TRUE(boxes_.texts()[1].startsWith(QStringLiteral("2 通のメール"))) << boxes_.texts()[1].toStdString();
  EXPECT_TRUE(boxes_.texts()[1].contains(QStringLiteral("1 通は原文がありません")));
  QFile mbox(dialogs.answer);
  ASSERT_TRUE(mbox.open(QIODevice::ReadOnly));
  const QByteArray all = mbox.readAll();
  EXPECT_EQ(all.count("\nFrom MAILER-DAEMON "), 1);
  EXPECT_TRUE(all.startsWith("From MAILER-DAEMON "));
  EXPECT_TRUE(all.contains("\n\n>From the second\n"));

  // The first mail deleted in the viewer: the others keep their originals.
  clickRow(v, 0);
  boxes_.answer(QMessageBox::Yes);
  v.Command3->click();
  ASSERT_EQ(v.MailListView->model()->rowCount(), 2);
  clickRow(v, 1);
  dialogs.answer = out.filePath(QStringLiteral("三通目.eml"));
  v.mgenbun->trigger();
  QFile three(dialogs.answer);
  ASSERT_TRUE(three.open(QIODevice::ReadOnly));
  EXPECT_EQ(three.readAll(), third);
}

// From the menu too, a link that leads into the data folder is never
// written through, and an original whose bytes changed since it was
// received is not saved.
TEST_F(ViewerText, OriginalsNeitherSavedThroughALinkNorWhenChanged) {
  const QList<Mail> mails = threeMails();
  storeMails(mails);
  const QByteArray second = "Subject: two\r\n\r\nbody two\r\n";
  {
    received::OriginalsAppender a;
    received::Fault why;
    qint64 at = 0;
    ASSERT_TRUE(a.open(&why));
    ASSERT_TRUE(a.append(second, &at, &why));
    a.addEntry({2, at, second.size(), received::recordFingerprint(recordOf(mails[1])), 0, "u2"});
    ASSERT_TRUE(a.writeEntries(&why) && a.sync(&why));
  }
  TyakuForm& v = view();
  FileDialogs dialogs;
  QTemporaryDir out;
  const QByteArray records = home_.read(paths::kReceivedMailFile);
  dialogs.answer = out.filePath(QStringLiteral("link.eml"));
  ASSERT_EQ(::symlink(QFile::encodeName(mailPath()).constData(), QFile::encodeName(dialogs.answer).constData()), 0);

  clickRow(v, 1);
  v.mgenbun->trigger();
  ASSERT_EQ(boxes_.texts().size(), 1);
  EXPECT_TRUE(boxes_.texts()[0].contains(QStringLiteral("データフォルダ"))) << boxes_.texts()[0].toStdString();
  v.mmbox->trigger();
  ASSERT_EQ(boxes_.texts().size(), 2);
  EXPECT_TRUE(boxes_.texts()[1].startsWith(QStringLiteral("書き出せませんでした"))) << boxes_.texts()[1].toStdString();
  EXPECT_EQ(home_.read(paths::kReceivedMailFile), records);
  EXPECT_EQ(v.MailListView->model()->rowCount(), 3);

  {
    QFile f(received::originalsPath());
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.seek(second.size() - 4));
    ASSERT_EQ(f.write("X"), 1);
  }
  const qsizetype asked = dialogs.requests.size();
  v.mgenbun->trigger();
  EXPECT_EQ(dialogs.requests.size(), asked);  // nothing to save: no dialog
  ASSERT_EQ(boxes_.texts().size(), 3);
  EXPECT_TRUE(boxes_.texts()[2].startsWith(QStringLiteral("原文を読めませんでした"))) << boxes_.texts()[2].toStdString();
}
