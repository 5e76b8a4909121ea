// The compose window's editing commands and text files as a user meets
// them: new documents, opening CP932 and UTF-8 files, saving without
// losing characters, printing to PDF, the paste buttons, bold shared with
// the viewer, the input-method and face-mark buttons.
#include "ComposeFixture.h"
#include "viewer/ViewerFixture.h"

#include "composer/IMEForm.h"
#include "facemarks/KaoForm.h"
#include "platform/SharedState.h"
#include "platform/TestHooks.h"
#include "platform/Text.h"
#include "platform/ui/FileDialog.h"
#include "platform/ui/Icons.h"
#include "platform/ui/Printing.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QLineEdit>
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
    testhooks::fileDialog = [this](const filedialog::Request& r) {
      requests.append(r);
      return answer;
    };
  }
  ~FileDialogs() { testhooks::fileDialog = nullptr; }
  QString answer;
  QList<filedialog::Request> requests;
};

struct ComposeEdit : ViewerTest {
  void SetUp() override {
    ViewerTest::SetUp();
    shared::CurrentDocumentName.clear();
    shared::DocumentModified = 0;
    shared::BoldCounter = shared::ItalicCounter = shared::UnderlineCounter = 0;
    sent_.clear();
    testhooks::imeMessage = [this](const QString& message, uintptr_t wParam, intptr_t lParam, const QString&) {
      sent_ << QStringLiteral("%1 %2 %3").arg(message).arg(wParam).arg(lParam);
    };
  }
  void TearDown() override {
    testhooks::printDialog = nullptr;
    testhooks::imeMessage = nullptr;
    delete IMEForm::existing();
    delete KaoForm::existing();
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
  // The messages sent to the input method, oldest first.
  QString sent() const { return sent_.join(u'|'); }
  QStringList sent_;
  QString file(const char* name) const { return home_.path() + u'/' + QString::fromUtf8(name); }
};

}  // namespace

TEST_F(ComposeEdit, NewDocumentOnceAndTheTypedBodyIsSavedOnlyWhenTheViewersChanged) {
  {
    Compose c;
    c->rtfEd->setPlainText(QStringLiteral("捨てられる本文"));
    c->mnew->trigger();
    EXPECT_TRUE(c->rtfEd->toPlainText().isEmpty());
    EXPECT_EQ(c->windowTitle(), QStringLiteral("新規作成.TXT      新規作成.TXT"));
    EXPECT_EQ(QFileInfo(QDir::current().filePath(QStringLiteral("新規作成.TXT"))).size(), 0);
    // Typing here marks nothing, and a second one leaves the new body alone.
    QTest::keyClicks(c->rtfEd, QStringLiteral("new text"));
    EXPECT_EQ(shared::DocumentModified, 0);
    c->toolButton(QStringLiteral("New"))->trigger();
    EXPECT_EQ(c->rtfEd->toPlainText(), QStringLiteral("new text"));
  }
  // With the viewer's body changed, the typed body goes into the document.
  shared::CurrentDocumentName = file("memo.txt");
  shared::DocumentModified = -1;
  Compose c;
  c->rtfEd->setPlainText(QStringLiteral("残る本文①"));
  c->mnew->trigger();
  EXPECT_EQ(home_.read(QStringLiteral("memo.txt")), text::toCp932(QStringLiteral("残る本文①")));
  EXPECT_TRUE(boxes_.seen().isEmpty());
}

TEST_F(ComposeEdit, OpensCp932AndUtf8FilesAndSavesThemBackAsTheyWere) {
  Compose c;
  const QString caption = c->windowTitle();
  FileDialogs dialogs;
  home_.write(QStringLiteral("ab.txt"), "a\r\nb");
  dialogs.answer = file("ab.txt");
  c->mopen->trigger();
  EXPECT_EQ(dialogs.requests.value(0).filter, QStringLiteral("txtファイル(*.txt,*.ini)|*.txt;*.ini"));
  EXPECT_EQ(c->rtfEd->toPlainText(), QStringLiteral("a\nb\n"));
  EXPECT_EQ(c->windowTitle(), caption);
  EXPECT_EQ(shared::DocumentModified, 0);
  home_.write(QStringLiteral("sjis.txt"), text::toCp932(QStringLiteral("シフトJIS①㈱～\r\n")));
  dialogs.answer = file("sjis.txt");
  c->toolButton(QStringLiteral("Open"))->trigger();
  EXPECT_EQ(c->rtfEd->toPlainText(), QStringLiteral("シフトJIS①㈱～\n"));

  // A UTF-8 file reads right; saved over itself it stays UTF-8, emoji and all.
  home_.write(QStringLiteral("utf8.txt"), QStringLiteral("UTF-8の①㈱～😀\n").toUtf8());
  dialogs.answer = file("utf8.txt");
  c->mopen->trigger();
  EXPECT_EQ(c->rtfEd->toPlainText(), QStringLiteral("UTF-8の①㈱～😀\n"));
  c->rtfEd->moveCursor(QTextCursor::End);
  c->rtfEd->insertPlainText(QStringLiteral("足した🍵\n"));
  c->msave->trigger();
  EXPECT_EQ(dialogs.requests.value(3).kind, filedialog::Kind::Save);
  EXPECT_EQ(dialogs.requests.value(3).suggestedName, QStringLiteral("utf8.txt"));  // the file last opened
  EXPECT_EQ(home_.read(QStringLiteral("utf8.txt")), QStringLiteral("UTF-8の①㈱～😀\r\n足した🍵\r\n").toUtf8());
  EXPECT_TRUE(boxes_.seen().isEmpty()) << boxes_.texts().join(u'|').toStdString();
}

TEST_F(ComposeEdit, SavingCharactersCp932LacksAsksFirst) {
  Compose c;
  FileDialogs dialogs;
  home_.write(QStringLiteral("sjis.txt"), "old\r\n");
  dialogs.answer = file("sjis.txt");
  c->rtfEd->setPlainText(QStringLiteral("絵文字😀入り"));
  boxes_.answer(QMessageBox::Cancel);
  c->msave->trigger();
  ASSERT_EQ(boxes_.seen().size(), 1);
  EXPECT_EQ(boxes_.seen()[0].title, QStringLiteral("確認"));
  EXPECT_EQ(boxes_.seen()[0].buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
  EXPECT_TRUE(boxes_.seen()[0].text.contains(QStringLiteral("😀"))) << boxes_.seen()[0].text.toStdString();
  EXPECT_EQ(home_.read(QStringLiteral("sjis.txt")), QByteArray("old\r\n"));
  boxes_.answer(QMessageBox::Yes);
  c->msave->trigger();
  EXPECT_EQ(home_.read(QStringLiteral("sjis.txt")), QStringLiteral("絵文字😀入り").toUtf8());
}

TEST_F(ComposeEdit, PrintsTwoCopiesOfASelectionToPdf) {
  const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
  ASSERT_FALSE(pdftotext.isEmpty()) << "pdftotext (poppler-utils) is needed to read the printed PDF";
  Compose c;
  c->rtfEd->setPlainText(QStringLiteral("印刷しない行\n灯火亭から"));
  select(c->rtfEd, 7, 3);  // 灯火亭
  const QString pdf = file("print.pdf");
  testhooks::printDialog = [&](QPrinter& p, bool selection) {
    EXPECT_TRUE(selection);
    p.setOutputFormat(QPrinter::PdfFormat);
    p.setOutputFileName(pdf);
    p.setCopyCount(2);
    return true;
  };
  c->mprint->trigger();
  QProcess read;
  read.start(pdftotext, {pdf, QStringLiteral("-")});
  ASSERT_TRUE(read.waitForFinished(20000));
  const QString text = QString::fromUtf8(read.readAllStandardOutput());
  EXPECT_EQ(text.count(QStringLiteral("灯火亭")), 2) << text.toStdString();
  EXPECT_EQ(text.count(QChar(u'\f')), 2) << text.toStdString();
  EXPECT_FALSE(text.contains(QStringLiteral("印刷しない"))) << text.toStdString();
}

TEST_F(ComposeEdit, PasteButtonsTrimAndReplaceWhereTheCaretIs) {
  Compose c;
  QClipboard* clip = QGuiApplication::clipboard();
  c->ToText->setText(QStringLiteral("abcdef"));
  c->ToText->setCursorPosition(3);
  clip->setText(QStringLiteral("  x@example.jp  "));
  c->Command7->click();
  EXPECT_EQ(c->ToText->text(), QStringLiteral("abcx@example.jpdef"));
  c->rtfEd->setPlainText(QStringLiteral("灯火亭の手紙"));
  select(c->rtfEd, 0, 3);
  clip->setText(QStringLiteral(" 夜の "));
  c->Command5->click();
  EXPECT_EQ(c->rtfEd->toPlainText(), QStringLiteral("夜のの手紙"));
  // An empty clipboard deletes the selection.
  clip->clear();
  select(c->rtfEd, 0, 2);
  c->Command5->click();
  EXPECT_EQ(c->rtfEd->toPlainText(), QStringLiteral("の手紙"));
}

TEST_F(ComposeEdit, BoldFollowsTheCounterSharedWithTheViewer) {
  TyakuForm& v = view();
  v.toolButton(QStringLiteral("Bold"))->trigger();
  v.toolButton(QStringLiteral("Bold"))->trigger();
  Compose c;
  c->toolButton(QStringLiteral("Bold"))->trigger();
  EXPECT_TRUE(c->rtfEd->font().bold());
  // Two more in the viewer leave the counter odd: the next one here switches off.
  v.toolButton(QStringLiteral("Bold"))->trigger();
  v.toolButton(QStringLiteral("Bold"))->trigger();
  c->toolButton(QStringLiteral("Bold"))->trigger();
  EXPECT_FALSE(c->rtfEd->font().bold());
}

TEST_F(ComposeEdit, BothToolbarsShowTheDesktopThemesPicturesWithTheirJapaneseTips) {
  // The theme the package depends on stands in wherever the desktop has none.
  EXPECT_EQ(QIcon::fallbackThemeName(), QStringLiteral("Adwaita"));
  const struct {
    const char* key;
    const char* theme;
    QString tip;
  } looks[] = {
      {"New", "document-new", QStringLiteral("新規作成")},       {"Open", "document-open", QStringLiteral("開く")},
      {"Save", "document-save", QStringLiteral("名前を付けて保存")}, {"Print", "document-print", QStringLiteral("印刷")},
      {"Cut", "edit-cut", QStringLiteral("切り取り")},           {"Copy", "edit-copy", QStringLiteral("ｺﾋﾟｰ")},
      {"Paste", "edit-paste", QStringLiteral("貼り付け")},       {"Bold", "format-text-bold", QStringLiteral("太字")},
      {"Italic", "format-text-italic", QStringLiteral("斜体")},  {"Underline", "format-text-underline", QStringLiteral("下線")},
  };
  TyakuForm& v = view();
  Compose c;
  for (const auto& l : looks) {
    SCOPED_TRACE(l.key);
    const QString key = QString::fromLatin1(l.key);
    QList<QAction*> buttons{v.toolButton(key)};
    // The compose window saves no mail from its toolbar.
    if (key != u"Save") buttons << c->toolButton(key);
    for (QAction* a : buttons) {
      ASSERT_NE(a, nullptr);
      EXPECT_EQ(a->icon().name(), QLatin1String(l.theme));
      EXPECT_FALSE(a->icon().pixmap(16, 16).isNull());
      EXPECT_EQ(a->toolTip(), l.tip);
    }
  }
  EXPECT_EQ(c->tbToolBar->actions().size(), 9);
  EXPECT_EQ(v.tbToolBar->actions().size(), 10);
  // A name no theme has is drawn from its character instead.
  const QIcon drawn = icons::toolIcon(QStringLiteral("tomoshibi-no-such-picture"), QStringLiteral("字"));
  EXPECT_TRUE(drawn.name().isEmpty());
  EXPECT_FALSE(drawn.pixmap(16, 16).isNull());
}

TEST_F(ComposeEdit, TheInputMethodIsToldAndItsPanelAskedFor) {
  Compose c;
  EXPECT_EQ(sent(), QStringLiteral("MSIMEService 0 0"));  // as the window loads
  sent_.clear();
  c->Check1->setChecked(true);
  c->Command12->click();
  c->Check1->setChecked(false);
  c->SubjectText->setFocus();
  c->Command12->setFocus();  // as a click on it does
  c->Command12->click();
  EXPECT_EQ(sent(), QStringLiteral("MSIMEShowImePad 0 0|MSIMEShowImePad 1 1"));
  EXPECT_EQ(QApplication::focusWidget(), c->SubjectText);  // the box written in, not the button
  c->Command11->click();
  pump();
  ASSERT_NE(IMEForm::existing(), nullptr);
  EXPECT_TRUE(IMEForm::existing()->isVisible());
  EXPECT_TRUE(IMEForm::existing()->WebBrowser1->toPlainText().contains(QStringLiteral("fcitx5")));
}

TEST_F(ComposeEdit, FaceMarksComeFromThePickerAndEndClosesUnasked) {
  Compose c;
  c->Command8->click();
  KaoForm* k = KaoForm::existing();
  ASSERT_NE(k, nullptr);
  select(k->Kao1, k->Kao1->toPlainText().indexOf(QStringLiteral("(^_^)")), 5);
  k->Command1->click();
  EXPECT_EQ(c->rtfEd->toPlainText(), QStringLiteral("(^_^)"));
  c->mend->trigger();  // a typed body and all
  destroyClosed();
  EXPECT_FALSE(c.alive());
  EXPECT_TRUE(boxes_.seen().isEmpty());
}
