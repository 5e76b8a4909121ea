// The compose window's editing commands and text files as a user meets
// them: the menus and toolbar on the body, new documents, opening CP932
// and UTF-8 files, saving without losing characters, printing to PDF, the
// paste buttons, the font styles shared with the viewer, and the
// input-method buttons.
#include "ComposeFixture.h"
#include "viewer/ViewerFixture.h"

#include "platform/FileDialog.h"
#include "platform/Ime.h"
#include "platform/Printing.h"
#include "platform/Text.h"
#include "shell/IMEForm.h"
#include "shell/SharedState.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTextBrowser>
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

struct ComposeEdit : ViewerTest {
  void SetUp() override {
    ViewerTest::SetUp();
    shared::CurrentDocumentName.clear();
    shared::DocumentModified = 0;
    shared::BoldCounter = shared::ItalicCounter = shared::UnderlineCounter = 0;
    ime::clearSentMessages();
  }
  void TearDown() override {
    printing::g_printDialogHook = nullptr;
    g_showFaceMarkPicker = nullptr;
    delete IMEForm::existing();
    shared::CurrentDocumentName.clear();
    shared::DocumentModified = 0;
    shared::BoldCounter = shared::ItalicCounter = shared::UnderlineCounter = 0;
    ViewerTest::TearDown();
  }
  static void select(QPlainTextEdit* e, int start, int length) {
    QTextCursor c = e->textCursor();
    c.setPosition(start);
    c.setPosition(start + length, QTextCursor::KeepAnchor);
    e->setTextCursor(c);
  }
  static QString sent() {
    QStringList s;
    for (const ime::SentMessage& m : ime::sentMessages())
      s << QStringLiteral("%1 %2 %3").arg(m.message).arg(m.wParam).arg(m.lParam);
    return s.join(u'|');
  }
  QString file(const char* name) const { return home_.path() + u'/' + QString::fromUtf8(name); }
};

QStringList itemNames(QMenu* menu) {
  QStringList names;
  for (QAction* a : menu->actions()) names << a->objectName();
  return names;
}

}  // namespace

TEST_F(ComposeEdit, MenusAndToolbarInTheirOrder) {
  Compose c;
  EXPECT_EQ(itemNames(c->mFile), (QStringList{"mnew", "mopen", "msave", "mprint", "mline", "mend"}));
  EXPECT_EQ(itemNames(c->medit),
            (QStringList{"mall", "matamajump", "mbunmatujump", "mline3", "mcut", "mcopy", "mpaste"}));
  QStringList keys;
  for (QAction* a : c->tbToolBar->actions()) keys << a->objectName();
  EXPECT_EQ(keys, (QStringList{"New", "Open", "Print", "Cut", "Copy", "Paste", "Bold", "Italic", "Underline"}));
  EXPECT_EQ(c->toolButton(QStringLiteral("Copy"))->toolTip(), QStringLiteral("ｺﾋﾟｰ"));
  // A key the bar does not have does nothing.
  c->rtfEd->setPlainText(QStringLiteral("本文"));
  c->tbToolBar_ButtonClick(QStringLiteral("Save"));
  EXPECT_EQ(c->rtfEd->toPlainText(), QStringLiteral("本文"));
  EXPECT_TRUE(boxes_.seen().isEmpty());
}

TEST_F(ComposeEdit, NewDocumentOnceInAFreshProcessAndTypingSetsNothing) {
  Compose c;
  c->rtfEd->setPlainText(QStringLiteral("書いていた本文"));
  EXPECT_EQ(shared::DocumentModified, 0);  // the compose window's body marks nothing
  c->mnew->trigger();
  EXPECT_TRUE(c->rtfEd->toPlainText().isEmpty());
  EXPECT_EQ(c->windowTitle(), QStringLiteral("新規作成.TXT      新規作成.TXT"));
  const QFileInfo made(QDir::current().filePath(QStringLiteral("新規作成.TXT")));
  ASSERT_TRUE(made.exists());
  EXPECT_EQ(made.size(), 0);
  // A second one leaves a newly typed body alone.
  QTest::keyClicks(c->rtfEd, QStringLiteral("new text"));
  EXPECT_EQ(shared::DocumentModified, 0);
  c->toolButton(QStringLiteral("New"))->trigger();
  EXPECT_EQ(c->rtfEd->toPlainText(), QStringLiteral("new text"));
  EXPECT_EQ(c->windowTitle(), QStringLiteral("新規作成.TXT      新規作成.TXT"));
  EXPECT_TRUE(boxes_.seen().isEmpty());
}

TEST_F(ComposeEdit, NewDocumentSavesTheBodyOnlyWhenTheViewersBodyChanged) {
  QDir(home_.path()).mkdir(QStringLiteral("docs"));
  shared::CurrentDocumentName = file("docs/memo.txt");
  {
    Compose c;
    c->rtfEd->setPlainText(QStringLiteral("捨てられる本文"));
    c->mnew->trigger();
    EXPECT_FALSE(QFileInfo::exists(file("docs/memo.txt")));
    EXPECT_TRUE(QFileInfo::exists(file("docs/新規作成.TXT")));
  }
  shared::CurrentDocumentName = file("docs/memo.txt");
  shared::DocumentModified = -1;  // as the viewer's body leaves it
  Compose c;
  c->rtfEd->setPlainText(QStringLiteral("残る本文①"));
  c->mnew->trigger();
  EXPECT_EQ(home_.read(QStringLiteral("docs/memo.txt")), text::toCp932(QStringLiteral("残る本文①")));
  EXPECT_EQ(shared::DocumentModified, 0);
}

TEST_F(ComposeEdit, OpensCp932AndUtf8FilesAndSavesThemBackAsTheyWere) {
  Compose c;
  const QString caption = c->windowTitle();
  FileDialogs dialogs;
  home_.write(QStringLiteral("ab.txt"), "a\r\nb");
  dialogs.answer = file("ab.txt");
  c->mopen->trigger();
  ASSERT_EQ(dialogs.requests.size(), 1);
  EXPECT_EQ(dialogs.requests[0].kind, filedialog::Kind::Open);
  EXPECT_EQ(dialogs.requests[0].filter, QStringLiteral("txtファイル(*.txt,*.ini)|*.txt;*.ini"));
  EXPECT_EQ(c->rtfEd->toPlainText(), QStringLiteral("a\nb\n"));
  EXPECT_EQ(c->windowTitle(), caption);
  EXPECT_EQ(shared::DocumentModified, 0);
  EXPECT_TRUE(shared::CurrentDocumentName.isEmpty());

  home_.write(QStringLiteral("sjis.txt"), text::toCp932(QStringLiteral("シフトJIS①㈱～\r\n")));
  dialogs.answer = file("sjis.txt");
  c->toolButton(QStringLiteral("Open"))->trigger();
  EXPECT_EQ(c->rtfEd->toPlainText(), QStringLiteral("シフトJIS①㈱～\n"));

  // A UTF-8 file reads right; saved over itself it stays UTF-8, emoji and all.
  home_.write(QStringLiteral("utf8.txt"), QStringLiteral("UTF-8の①㈱～😀\n二行目\n").toUtf8());
  dialogs.answer = file("utf8.txt");
  c->mopen->trigger();
  EXPECT_EQ(c->rtfEd->toPlainText(), QStringLiteral("UTF-8の①㈱～😀\n二行目\n"));
  c->rtfEd->moveCursor(QTextCursor::End);
  c->rtfEd->insertPlainText(QStringLiteral("足した行🍵\n"));
  c->msave->trigger();
  ASSERT_EQ(dialogs.requests.size(), 4);
  EXPECT_EQ(dialogs.requests[3].kind, filedialog::Kind::Save);
  EXPECT_EQ(dialogs.requests[3].suggestedName, QStringLiteral("utf8.txt"));  // the file last opened is offered
  EXPECT_EQ(dialogs.requests[3].folder, home_.path());
  EXPECT_EQ(home_.read(QStringLiteral("utf8.txt")),
            QStringLiteral("UTF-8の①㈱～😀\r\n二行目\r\n足した行🍵\r\n").toUtf8());
  EXPECT_TRUE(boxes_.seen().isEmpty()) << boxes_.texts().join(u'|').toStdString();

  // A cancelled open leaves the body as it is.
  dialogs.answer.clear();
  c->mopen->trigger();
  EXPECT_EQ(c->rtfEd->toPlainText(), QStringLiteral("UTF-8の①㈱～😀\n二行目\n足した行🍵\n"));
  EXPECT_TRUE(boxes_.seen().isEmpty());
}

TEST_F(ComposeEdit, SavingCharactersCp932LacksAsksFirst) {
  Compose c;
  FileDialogs dialogs;
  home_.write(QStringLiteral("sjis.txt"), text::toCp932(QStringLiteral("元の文書\r\n")));
  dialogs.answer = file("sjis.txt");
  c->mopen->trigger();
  c->rtfEd->setPlainText(QStringLiteral("絵文字😀入り"));
  boxes_.answer(QMessageBox::Cancel);
  c->msave->trigger();
  ASSERT_EQ(boxes_.seen().size(), 1);
  EXPECT_EQ(boxes_.seen()[0].title, QStringLiteral("確認"));
  EXPECT_EQ(boxes_.seen()[0].icon, QMessageBox::Question);
  EXPECT_EQ(boxes_.seen()[0].buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
  EXPECT_TRUE(boxes_.seen()[0].text.contains(QStringLiteral("😀"))) << boxes_.seen()[0].text.toStdString();
  EXPECT_EQ(home_.read(QStringLiteral("sjis.txt")), text::toCp932(QStringLiteral("元の文書\r\n")));
  boxes_.answer(QMessageBox::No);
  c->msave->trigger();
  EXPECT_EQ(home_.read(QStringLiteral("sjis.txt")), text::toCp932(QStringLiteral("絵文字?入り")));
  boxes_.answer(QMessageBox::Yes);
  c->msave->trigger();
  EXPECT_EQ(home_.read(QStringLiteral("sjis.txt")), QStringLiteral("絵文字😀入り").toUtf8());
  EXPECT_EQ(boxes_.seen().size(), 3);
  // The file is UTF-8 now: the next save keeps it so without a question.
  c->msave->trigger();
  EXPECT_EQ(boxes_.seen().size(), 3);
  // A save the dialog cancelled writes nothing.
  dialogs.answer.clear();
  c->rtfEd->setPlainText(QStringLiteral("別の文"));
  c->msave->trigger();
  EXPECT_EQ(home_.read(QStringLiteral("sjis.txt")), QStringLiteral("絵文字😀入り").toUtf8());
}

TEST_F(ComposeEdit, PrintsTwoCopiesOfASelectionToPdf) {
  const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
  ASSERT_FALSE(pdftotext.isEmpty()) << "pdftotext (poppler-utils) is needed to read the printed PDF";
  Compose c;
  c->rtfEd->setPlainText(QStringLiteral("印刷しない行\n灯火亭から\n最後"));
  select(c->rtfEd, 7, 3);  // 灯火亭
  const QString pdf = file("print.pdf");
  bool offered = false;
  printing::g_printDialogHook = [&](QPrinter& p, bool selection) {
    offered = selection;
    p.setOutputFormat(QPrinter::PdfFormat);
    p.setOutputFileName(pdf);
    p.setCopyCount(2);
    return true;
  };
  c->mprint->trigger();
  EXPECT_TRUE(offered);
  QProcess read;
  read.start(pdftotext, {pdf, QStringLiteral("-")});
  ASSERT_TRUE(read.waitForFinished(20000));
  const QString text = QString::fromUtf8(read.readAllStandardOutput());
  EXPECT_EQ(text.count(QStringLiteral("灯火亭")), 2) << text.toStdString();
  EXPECT_EQ(text.count(QChar(u'\f')), 2) << text.toStdString();
  EXPECT_FALSE(text.contains(QStringLiteral("印刷しない"))) << text.toStdString();
  // The toolbar's button, cancelled: nothing printed, nothing said.
  QFile::remove(pdf);
  printing::g_printDialogHook = [](QPrinter&, bool) { return false; };
  c->toolButton(QStringLiteral("Print"))->trigger();
  EXPECT_FALSE(QFileInfo::exists(pdf));
  EXPECT_TRUE(boxes_.seen().isEmpty());
}

TEST_F(ComposeEdit, PasteButtonsTrimAndReplaceWhereTheCaretIs) {
  Compose c;
  QClipboard* clip = QGuiApplication::clipboard();
  c->ToText->setText(QStringLiteral("abcdef"));
  c->ToText->setCursorPosition(3);
  clip->setText(QStringLiteral("  x@example.jp  "));
  c->SubjectText->setFocus();
  c->Command7->click();
  EXPECT_EQ(c->ToText->text(), QStringLiteral("abcx@example.jpdef"));
  c->rtfEd->setPlainText(QStringLiteral("灯火亭の手紙"));
  select(c->rtfEd, 0, 3);
  clip->setText(QStringLiteral(" 夜の "));
  c->Command5->click();
  EXPECT_EQ(c->rtfEd->toPlainText(), QStringLiteral("夜のの手紙"));
  EXPECT_TRUE(c->rtfEd->isVisible());
  // An empty clipboard deletes the selection.
  clip->clear();
  select(c->rtfEd, 0, 2);
  c->Command5->click();
  EXPECT_EQ(c->rtfEd->toPlainText(), QStringLiteral("の手紙"));
}

TEST_F(ComposeEdit, EditMenuOnTheBody) {
  Compose c;
  QClipboard* clip = QGuiApplication::clipboard();
  c->rtfEd->setPlainText(QStringLiteral("一二三四五"));
  c->mall->trigger();
  EXPECT_EQ(c->rtfEd->textCursor().selectedText(), QStringLiteral("一二三四五"));
  c->mcut->trigger();
  EXPECT_EQ(clip->text(), QStringLiteral("一二三四五"));
  EXPECT_TRUE(c->rtfEd->toPlainText().isEmpty());
  clip->setText(QStringLiteral("  ①㈱～  "));
  c->mpaste->trigger();
  c->toolButton(QStringLiteral("Paste"))->trigger();
  EXPECT_EQ(c->rtfEd->toPlainText(), QStringLiteral("①㈱～①㈱～"));
  c->matamajump->trigger();
  EXPECT_EQ(c->rtfEd->textCursor().position(), 0);
  c->mbunmatujump->trigger();
  EXPECT_EQ(c->rtfEd->textCursor().position(), 6);
  // Copy with nothing selected: an empty clipboard, the caret at the start.
  c->mcopy->trigger();
  EXPECT_EQ(clip->text(), QString());
  EXPECT_EQ(c->rtfEd->textCursor().position(), 0);
  EXPECT_EQ(shared::DocumentModified, 0);
}

TEST_F(ComposeEdit, FontStylesFollowTheCountersSharedWithTheViewer) {
  TyakuForm& v = view();
  v.toolButton(QStringLiteral("Bold"))->trigger();
  v.toolButton(QStringLiteral("Bold"))->trigger();
  EXPECT_FALSE(v.rtfEd->font().bold());
  Compose c;
  c->toolButton(QStringLiteral("Bold"))->trigger();
  EXPECT_TRUE(c->rtfEd->font().bold());
  EXPECT_EQ(c->rtfEd->font().family(), QStringLiteral("ＭＳ ゴシック"));
  // One click in the viewer makes the counter odd: the next one here switches off.
  v.toolButton(QStringLiteral("Italic"))->trigger();
  c->rtfEd->setFont([&] {
    QFont f = c->rtfEd->font();
    f.setItalic(true);
    return f;
  }());
  c->toolButton(QStringLiteral("Italic"))->trigger();
  EXPECT_FALSE(c->rtfEd->font().italic());
  c->toolButton(QStringLiteral("Underline"))->trigger();
  EXPECT_TRUE(c->rtfEd->font().underline());
}

TEST_F(ComposeEdit, TheInputMethodIsToldAndItsPanelAskedFor) {
  Compose c;
  // Loading tells the input method that the window is in use.
  EXPECT_EQ(sent(), QStringLiteral("MSIMEService 0 0"));
  ime::clearSentMessages();
  c->rtfEd->setFocus();
  c->Check1->setChecked(true);
  c->Command12->click();
  c->Check1->setChecked(false);
  c->Command12->click();
  EXPECT_EQ(sent(), QStringLiteral("MSIMEShowImePad 0 0|MSIMEShowImePad 1 1"));
  EXPECT_EQ(ime::sentMessages().value(0).window, QStringLiteral("WriteForm"));
  // The panel serves the box the user was writing in.
  c->SubjectText->setFocus();
  c->Command12->setFocus();
  c->Command12->click();
  EXPECT_EQ(QApplication::focusWidget(), c->SubjectText);

  // "IMEパッドの説明": the explanation window, modeless, on top.
  c->Command11->click();
  pump();
  ASSERT_NE(IMEForm::existing(), nullptr);
  EXPECT_TRUE(IMEForm::existing()->isVisible());
  EXPECT_FALSE(IMEForm::existing()->isModal());
  EXPECT_TRUE(IMEForm::existing()->WebBrowser1->toPlainText().contains(QStringLiteral("fcitx5")));
  c->Command11->click();
  EXPECT_EQ(IMEForm::instance(), IMEForm::existing());
  EXPECT_TRUE(boxes_.seen().isEmpty());
}

TEST_F(ComposeEdit, FaceMarksWaitForTheirPickerAndEndClosesUnasked) {
  {
    Compose c;
    EXPECT_FALSE(c->Command8->isEnabled());
    EXPECT_FALSE(c->Command8->toolTip().isEmpty());
  }
  WriteForm* asked = nullptr;
  g_showFaceMarkPicker = [&](WriteForm* f) { asked = f; };
  Compose c;
  ASSERT_TRUE(c->Command8->isEnabled());
  c->Command8->click();
  EXPECT_EQ(asked, c.get());
  // "終了" with a typed body closes at once.
  c->rtfEd->setPlainText(QStringLiteral("書きかけ"));
  c->mend->trigger();
  destroyClosed();
  EXPECT_FALSE(c.alive());
  EXPECT_TRUE(boxes_.seen().isEmpty());
}
