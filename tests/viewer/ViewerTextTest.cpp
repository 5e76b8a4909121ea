// The viewer's text commands as a user meets them: the menus and toolbar
// on the body, documents, printing to PDF, copy and quick-save, save-as
// and open, the help box, and finding mails from the search box.
#include "ViewerFixture.h"

#include "platform/FileDialog.h"
#include "platform/Printing.h"
#include "platform/Text.h"
#include "shell/SharedState.h"
#include "viewer/TextProcedures.h"

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
#include <QTextCursor>
#include <QToolBar>

namespace {

// Answers the file dialogs with a path (empty: cancel), recording each request.
struct FileDialogs {
  FileDialogs() {
    filedialog::g_fileDialogHook = [this](const filedialog::Request& r) {
      requests.append(r);
      return answer;
    };
  }
  ~FileDialogs() { filedialog::g_fileDialogHook = nullptr; }
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
    printing::g_printDialogHook = nullptr;
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
  EXPECT_TRUE(v.rtfEd->hasFocus());
  v.mtugikensaku->trigger();
  EXPECT_EQ(selStart(v.rtfEd), 4);
  EXPECT_EQ(selLength(v.rtfEd), 2);
  v.mtugikensaku->trigger();
  EXPECT_EQ(v.LastMatchPosition, 0);
  EXPECT_EQ(selStart(v.rtfEd), 4);  // a miss leaves the selection
  v.mtugikensaku->trigger();
  EXPECT_EQ(selStart(v.rtfEd), 1);
  EXPECT_EQ(selLength(v.rtfEd), 2);
  // Over line breaks the selection still lands on the match.
  v.rtfEd->setPlainText(QStringLiteral("一行目\r\n二行目\r\n三行目"));
  v.Text1->setText(QStringLiteral("三行"));
  v.mkensaku->trigger();
  EXPECT_EQ(v.rtfEd->textCursor().selectedText(), QStringLiteral("三行"));
  EXPECT_TRUE(boxes_.seen().isEmpty());
}

TEST_F(ViewerText, CutCopyAndPasteThroughMenusAndToolbar) {
  TyakuForm& v = view();
  v.rtfEd->setPlainText(QStringLiteral("灯火亭で読む手紙"));
  select(v.rtfEd, 0, 3);
  v.mcopy->trigger();
  EXPECT_EQ(clipboard(), QStringLiteral("灯火亭"));
  EXPECT_EQ(selStart(v.rtfEd), 3);
  EXPECT_EQ(selLength(v.rtfEd), 0);
  EXPECT_TRUE(v.rtfEd->isVisible());

  select(v.rtfEd, 3, 2);
  v.toolButton(QStringLiteral("Cut"))->trigger();
  EXPECT_EQ(clipboard(), QStringLiteral("で読"));
  EXPECT_EQ(v.rtfEd->toPlainText(), QStringLiteral("灯火亭む手紙"));
  EXPECT_TRUE(v.rtfEd->isVisible());
  EXPECT_TRUE(v.rtfEd->hasFocus());

  QGuiApplication::clipboard()->setText(QStringLiteral("  の①～  "));
  v.rtfEd->moveCursor(QTextCursor::End);
  v.mpaste->trigger();
  EXPECT_EQ(v.rtfEd->toPlainText(), QStringLiteral("灯火亭む手紙の①～"));
  select(v.rtfEd, 0, 3);
  v.toolButton(QStringLiteral("Paste"))->trigger();
  EXPECT_EQ(v.rtfEd->toPlainText(), QStringLiteral("の①～む手紙の①～"));

  // Copy with nothing selected: an empty clipboard, the caret at the start.
  v.toolButton(QStringLiteral("Copy"))->trigger();
  EXPECT_EQ(clipboard(), QString());
  EXPECT_EQ(v.rtfEd->textCursor().position(), 0);

  v.mall->trigger();
  EXPECT_EQ(selLength(v.rtfEd), int(v.rtfEd->toPlainText().size()));
  v.mbunmatujump->trigger();
  EXPECT_EQ(v.rtfEd->textCursor().position(), int(v.rtfEd->toPlainText().size()));
  v.matamajump->trigger();
  EXPECT_EQ(v.rtfEd->textCursor().position(), 0);
}

TEST_F(ViewerText, NewDocumentCreatesTheFileOnceAndCaptionsTheWindow) {
  storeMails(threeMails());
  TyakuForm& v = view();
  EXPECT_EQ(shared::DocumentModified, -1);
  v.mnew->trigger();
  EXPECT_TRUE(v.rtfEd->toPlainText().isEmpty());
  EXPECT_EQ(v.windowTitle(), QStringLiteral("新規作成.TXT      新規作成.TXT"));
  const QString made = QDir::current().filePath(QStringLiteral("新規作成.TXT"));
  ASSERT_TRUE(QFileInfo::exists(made));
  EXPECT_EQ(QFileInfo(made).size(), 0);
  EXPECT_EQ(shared::DocumentModified, 0);

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
  v.Text1->setFocus();  // the selection printed is the body's, wherever the focus is
  const QString pdf = home_.path() + QStringLiteral("/print.pdf");
  bool offered = false;
  int asked = 0;
  printing::g_printDialogHook = [&](QPrinter& p, bool selection) {
    ++asked;
    offered = selection;
    EXPECT_EQ(p.printRange(), QPrinter::Selection);
    p.setOutputFormat(QPrinter::PdfFormat);
    p.setOutputFileName(pdf);
    p.setCopyCount(2);
    return true;
  };
  v.toolButton(QStringLiteral("Print"))->trigger();
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(offered);
  EXPECT_TRUE(boxes_.seen().isEmpty());

  QProcess read;
  read.start(pdftotext, {pdf, QStringLiteral("-")});
  ASSERT_TRUE(read.waitForFinished(20000));
  const QString text = QString::fromUtf8(read.readAllStandardOutput());
  // Two copies, each from a page of its own, of the selection only.
  EXPECT_EQ(text.count(QStringLiteral("灯火亭の手紙")), 2) << text.toStdString();
  EXPECT_EQ(text.count(QChar(u'\f')), 2) << text.toStdString();
  EXPECT_FALSE(text.contains(QStringLiteral("印刷しない"))) << text.toStdString();
  EXPECT_FALSE(text.contains(QStringLiteral("最後"))) << text.toStdString();

  // The menu item prints too; the whole body without a selection; a
  // cancelled dialog prints nothing.
  QFile::remove(pdf);
  v.rtfEd->moveCursor(QTextCursor::Start);
  printing::g_printDialogHook = [&](QPrinter&, bool selection) {
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
              {QStringLiteral("件名①㈱～"), QStringLiteral("送り主"), QStringLiteral("今日"),
               QStringLiteral("一行目\r\n二行目")}});
  TyakuForm& v = view();
  // Without a click in the list first.
  v.Command2->click();
  EXPECT_EQ(boxes_.texts(), QStringList{QStringLiteral("データが選択されていません")});

  clickRow(v, 0);
  v.Command2->click();
  EXPECT_EQ(home_.read(paths::kQuickSaveFolder + QStringLiteral("/abc.txt")),
            QByteArray("Subject:  abc\r\nFrom:  x\r\nDate:  d\r\nBody:  b\r\n"));
  EXPECT_EQ(v.rtfEd->toPlainText(), QStringLiteral("Subject:  abc\nFrom:  x\nDate:  d\nBody:  b"));
  EXPECT_TRUE(v.Text5->text().isEmpty());

  clickRow(v, 1);
  v.Command2->click();
  EXPECT_EQ(home_.read(paths::kQuickSaveFolder + QStringLiteral("/件名①㈱～.txt")),
            text::toCp932(QStringLiteral("Subject:  件名①㈱～\r\nFrom:  送り主\r\nDate:  今日\r\n"
                                         "Body:  一行目\r\n二行目\r\n")));

  // Over an existing file: No keeps it, Yes replaces it.
  QFile::remove(home_.file(paths::kQuickSaveFolder + QStringLiteral("/abc.txt")));
  home_.write(paths::kQuickSaveFolder + QStringLiteral("/ABC.TXT"), "old");
  clickRow(v, 0);
  boxes_.answer(QMessageBox::No);
  v.Command2->click();
  ASSERT_EQ(boxes_.seen().size(), 2);
  EXPECT_EQ(boxes_.seen()[1].text, QStringLiteral("同名のファイルが既に存在します。上書きしますか？ "));
  EXPECT_EQ(boxes_.seen()[1].title, QStringLiteral("確認"));
  EXPECT_EQ(boxes_.seen()[1].icon, QMessageBox::Question);
  EXPECT_EQ(home_.read(paths::kQuickSaveFolder + QStringLiteral("/ABC.TXT")), QByteArray("old"));
  EXPECT_EQ(v.rtfEd->toPlainText(), QStringLiteral("b"));
  clickRow(v, 0);
  boxes_.answer(QMessageBox::Yes);
  v.Command2->click();
  EXPECT_EQ(home_.read(paths::kQuickSaveFolder + QStringLiteral("/ABC.TXT")),
            QByteArray("Subject:  abc\r\nFrom:  x\r\nDate:  d\r\nBody:  b\r\n"));
  EXPECT_EQ(QDir(quickSaveFolder()).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

TEST_F(ViewerText, QuickSaveOfAPathLikeSubjectStaysInTheFolder) {
  storeMails({{QStringLiteral("../../etc/x"), QStringLiteral("x"), QStringLiteral("d"), QStringLiteral("b")},
              {QString(100, QChar(0xFF71)), QStringLiteral("x"), QStringLiteral("d"), QStringLiteral("長い件名")}});
  TyakuForm& v = view();
  clickRow(v, 0);
  v.Command2->click();
  EXPECT_TRUE(boxes_.seen().isEmpty()) << boxes_.texts().join(u'|').toStdString();
  EXPECT_EQ(QDir(quickSaveFolder()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral(".._.._etc_x.txt")});
  EXPECT_FALSE(QFileInfo::exists(home_.path() + QStringLiteral("/../etc/x.txt")));
  EXPECT_TRUE(home_.read(paths::kQuickSaveFolder + QStringLiteral("/.._.._etc_x.txt")).startsWith("Subject:  ../../etc/x\r\n"));

  // 100 half-width kana are 300 bytes of UTF-8: the name is cut, the file written.
  clickRow(v, 1);
  v.Command2->click();
  EXPECT_TRUE(boxes_.seen().isEmpty()) << boxes_.texts().join(u'|').toStdString();
  const QString cut = QString(83, QChar(0xFF71)) + QStringLiteral(".txt");
  EXPECT_TRUE(QFileInfo::exists(quickSaveFolder() + u'/' + cut));
}

TEST_F(ViewerText, AQuickSaveThatCannotWriteSaysSoAndLeavesNothingHalfWritten) {
  storeMails({{QStringLiteral("abc"), QStringLiteral("x"), QStringLiteral("d"), QStringLiteral("b")}});
  TyakuForm& v = view();
  // A folder stands where the file would go.
  ASSERT_TRUE(QDir(quickSaveFolder()).mkdir(QStringLiteral("abc.txt")));
  clickRow(v, 0);
  boxes_.answer(QMessageBox::Yes);
  v.Command2->click();
  ASSERT_EQ(boxes_.seen().size(), 2);
  EXPECT_TRUE(boxes_.seen()[1].text.contains(QStringLiteral("保存できませんでした"))) << boxes_.texts().join(u'|').toStdString();
  EXPECT_EQ(boxes_.seen()[1].icon, QMessageBox::Warning);
  EXPECT_TRUE(QDir(quickSaveFolder()).entryList(QDir::Files | QDir::Hidden).isEmpty());
  EXPECT_EQ(v.rtfEd->toPlainText(), QStringLiteral("b"));

  // No quick-save folder: said so, nothing made.
  ASSERT_TRUE(QDir(quickSaveFolder()).removeRecursively());
  clickRow(v, 0);
  v.Command2->click();
  ASSERT_EQ(boxes_.seen().size(), 3);
  EXPECT_TRUE(boxes_.seen()[2].text.contains(QStringLiteral("■TextQuickSave"))) << boxes_.texts().join(u'|').toStdString();
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
  // Again without reselecting: one more header block in front.
  v.toolButton(QStringLiteral("Save"))->trigger();
  EXPECT_EQ(home_.read(QStringLiteral("保存.txt")),
            QByteArray("Subject:  abc\r\nFrom:  x\r\nDate:  d\r\nBody:  Subject:  abc\r\nFrom:  x\r\nDate:  d\r\n"
                       "Body:  b\r\n"));

  // Cancelled: the header block stays in the body, nothing is written.
  dialogs.answer.clear();
  clickRow(v, 0);
  v.msave->trigger();
  EXPECT_TRUE(v.rtfEd->toPlainText().startsWith(QStringLiteral("Subject:  abc\n")));
  EXPECT_EQ(v.windowTitle(), target);

  // A file that cannot be written: said so, the caption keeps its name.
  dialogs.answer = home_.path() + QStringLiteral("/folder.txt");
  ASSERT_TRUE(QDir(home_.path()).mkdir(QStringLiteral("folder.txt")));
  v.msave->trigger();
  ASSERT_EQ(boxes_.seen().size(), 1);
  EXPECT_TRUE(boxes_.seen()[0].text.contains(QStringLiteral("保存できませんでした")));
  EXPECT_EQ(v.windowTitle(), target);
}

TEST_F(ViewerText, OpenPutsTheLinesIntoTheBody) {
  TyakuForm& v = view();
  const QString caption = v.windowTitle();
  FileDialogs dialogs;
  home_.write(QStringLiteral("ab.txt"), text::toCp932(QStringLiteral("a\r\n①㈱～")));
  dialogs.answer = home_.file(QStringLiteral("ab.txt"));
  shared::DocumentModified = 0;
  v.mopen->trigger();
  ASSERT_EQ(dialogs.requests.size(), 1);
  EXPECT_EQ(dialogs.requests[0].kind, filedialog::Kind::Open);
  EXPECT_EQ(dialogs.requests[0].filter, textproc::kTextFileFilter);
  EXPECT_EQ(v.rtfEd->toPlainText(), QStringLiteral("a\n①㈱～\n"));
  EXPECT_EQ(v.windowTitle(), caption);
  EXPECT_EQ(shared::DocumentModified, -1);
  EXPECT_TRUE(shared::CurrentDocumentName.isEmpty());

  dialogs.answer.clear();
  v.toolButton(QStringLiteral("Open"))->trigger();
  EXPECT_EQ(v.rtfEd->toPlainText(), QStringLiteral("a\n①㈱～\n"));
  EXPECT_TRUE(boxes_.seen().isEmpty());
}

TEST_F(ViewerText, BoldTwiceThenOnceMoreAndTheOtherStyles) {
  TyakuForm& v = view();
  const QFont before = v.rtfEd->font();
  v.toolButton(QStringLiteral("Bold"))->trigger();
  EXPECT_TRUE(v.rtfEd->font().bold());
  v.toolButton(QStringLiteral("Bold"))->trigger();
  EXPECT_EQ(v.rtfEd->font(), before);
  v.toolButton(QStringLiteral("Bold"))->trigger();
  EXPECT_TRUE(v.rtfEd->font().bold());
  EXPECT_EQ(shared::BoldCounter, 1);
  v.toolButton(QStringLiteral("Italic"))->trigger();
  v.toolButton(QStringLiteral("Underline"))->trigger();
  EXPECT_TRUE(v.rtfEd->font().italic());
  EXPECT_TRUE(v.rtfEd->font().underline());
  // A key the toolbar does not know does nothing.
  const QString body = v.rtfEd->toPlainText();
  v.tbToolBar_ButtonClick(QStringLiteral("Unknown"));
  EXPECT_EQ(v.rtfEd->toPlainText(), body);
}

TEST_F(ViewerText, ToolbarKeysTooltipsAndMenusWithoutShortcuts) {
  TyakuForm& v = view();
  const QStringList keys = {QStringLiteral("New"), QStringLiteral("Open"), QStringLiteral("Save"),
                            QStringLiteral("Print"), QStringLiteral("Cut"), QStringLiteral("Copy"),
                            QStringLiteral("Paste"), QStringLiteral("Bold"), QStringLiteral("Italic"),
                            QStringLiteral("Underline")};
  QStringList order;
  for (QAction* a : v.tbToolBar->actions()) order << a->objectName();
  EXPECT_EQ(order, keys);
  EXPECT_EQ(v.toolButton(QStringLiteral("Copy"))->toolTip(), QStringLiteral("ｺﾋﾟｰ"));
  EXPECT_EQ(v.toolButton(QStringLiteral("Underline"))->toolTip(), QStringLiteral("下線"));
  for (QMenu* m : {v.mFile, v.medit})
    for (QAction* a : m->actions()) EXPECT_TRUE(a->shortcut().isEmpty()) << a->objectName().toStdString();
}

TEST_F(ViewerText, TheHelpBoxExplainsWhatIsUnderTheMouse) {
  main().Check1->setChecked(true);
  storeMails(threeMails());
  TyakuForm& v = view();
  EXPECT_DOUBLE_EQ(v.twipsGeometry().top(v.Text4), 3600);
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
  EXPECT_TRUE(v.Text4->toPlainText().startsWith(QStringLiteral("受信したメールを１件ずつ")));
  // Over the body (beside the help box lying on it): hidden, the text kept.
  hover(v.rtfEd->viewport(), QPoint(4, 4));
  EXPECT_FALSE(v.Text4->isVisible());
  EXPECT_FALSE(v.Text4->toPlainText().isEmpty());
  // The copy button's text is three pieces joined by two line breaks each.
  EXPECT_EQ(v.helpTextOf(v.Command1).count(QStringLiteral("\r\n\r\n")), 2);
  EXPECT_TRUE(v.helpTextOf(v.Command1).contains(QStringLiteral("\r\n\r\n 本文への貼り付け")));
  hover(v.Command1);
  EXPECT_EQ(v.Text4->toPlainText(), QString(v.helpTextOf(v.Command1)).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
  hover(v.Text1);
  EXPECT_TRUE(v.Text4->toPlainText().startsWith(QStringLiteral("検索したい文字を入力し")));
  // Every button of the window and of the toolbar has a text.
  for (QWidget* w : std::initializer_list<QWidget*>{v.Command2, v.Command4, v.Command5, v.Command6})
    EXPECT_FALSE(v.helpTextOf(w).isEmpty()) << w->objectName().toStdString();
  for (QAction* a : v.tbToolBar->actions())
    EXPECT_FALSE(v.helpTextOf(v.tbToolBar->widgetForAction(a)).isEmpty()) << a->objectName().toStdString();
}

TEST_F(ViewerText, WithoutExplanationsTheHelpIsWrittenButStaysOutOfView) {
  main().Check1->setChecked(false);
  TyakuForm& v = view();
  hover(v.Command6);
  EXPECT_EQ(v.Text4->toPlainText(), QStringLiteral("受信したメール全件削除します。"));
  EXPECT_DOUBLE_EQ(v.twipsGeometry().top(v.Text4), -4000);
  EXPECT_LT(v.Text4->geometry().bottom(), 0);
}

TEST_F(ViewerText, CopyPreviewFollowsTheHeaderBoxesAndTheButtonColour) {
  storeMails(threeMails());
  TyakuForm& v = view();
  auto face = [&] { return v.Command1->palette().color(QPalette::Button); };
  // Before the mouse passed a header box the preview is empty.
  QGuiApplication::clipboard()->setText(QStringLiteral("before"));
  v.Command1->click();
  EXPECT_EQ(clipboard(), QString());

  hover(v.Text7);
  EXPECT_EQ(v.Text6->text(), QStringLiteral("件名その3"));
  EXPECT_EQ(face(), QColor(255, 255, 0));
  hover(v.Text9);
  EXPECT_EQ(face(), QColor(255, 255, 255));
  hover(v.Text8);
  EXPECT_EQ(v.Text6->text(), QStringLiteral("saburo@example.jp"));
  EXPECT_EQ(face(), QColor(0, 0, 255));
  // The list and the body grey the button and leave the preview.
  hover(v.MailListView->viewport());
  EXPECT_EQ(face(), QColor(128, 128, 128));
  EXPECT_EQ(v.Text6->text(), QStringLiteral("saburo@example.jp"));
  hover(v.rtfEd->viewport(), QPoint(4, 4));
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
  v.Text1->setFocus();
  v.Text1->setText(QStringLiteral("がいど"));
  QTest::keyClick(v.Text1, Qt::Key_Return);
  EXPECT_EQ(v.MailListView->currentIndex().row(), 1);
  EXPECT_EQ(v.Text7->text(), QStringLiteral("別件"));
  EXPECT_EQ(v.Text5->text(), QStringLiteral("1"));  // as a click: the mail can be answered or deleted

  v.Text1->setText(QStringLiteral("10時〜12時"));
  QTest::keyClick(v.Text1, Qt::Key_Return);
  EXPECT_EQ(v.MailListView->currentIndex().row(), 2);
  EXPECT_EQ(v.rtfEd->toPlainText(), QStringLiteral("10時～12時に ＯＳＨＩＲＡＳＥ します"));

  // From the last row on to the top.
  v.Text1->setText(QStringLiteral("お知らせ"));
  QTest::keyClick(v.Text1, Qt::Key_Return);
  EXPECT_EQ(v.MailListView->currentIndex().row(), 0);
  v.Text1->setText(QStringLiteral("oshirase"));
  QTest::keyClick(v.Text1, Qt::Key_Return);
  EXPECT_EQ(v.MailListView->currentIndex().row(), 2);
  EXPECT_TRUE(v.Text1->hasFocus());  // Enter again goes on
  EXPECT_TRUE(boxes_.seen().isEmpty());

  v.Text1->setText(QStringLiteral("どこにもない"));
  QTest::keyClick(v.Text1, Qt::Key_Return);
  EXPECT_EQ(boxes_.texts(), QStringList{QStringLiteral("「どこにもない」を含むメールは一覧にありません。")});
  EXPECT_EQ(v.MailListView->currentIndex().row(), 2);
}
