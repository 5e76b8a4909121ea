// The viewer's text commands: the menus and the toolbar on the body box,
// the copy button and its preview, quick-save and save-as, the help box,
// and finding mails in the list from the search box.
#include "platform/Paths.h"
#include "platform/TextProcedures.h"
#include "platform/ui/BodyBox.h"
#include "platform/ui/FileDialog.h"
#include "platform/ui/MsgBox.h"
#include "viewer/MailListModel.h"
#include "viewer/TyakuForm.h"
#include "viewer/core/MailSearch.h"
#include "viewer/core/MailText.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolBar>
#include <QTreeView>

namespace {

const QString kNoSelection = QStringLiteral("データが選択されていません");

// The copy button's colour tells which value the preview holds.
void setCopyFace(QPushButton* b, const QColor& face) {
  QPalette p = b->palette();
  p.setColor(QPalette::Button, face);
  b->setPalette(p);
}

// The busy pointer while something that may take a moment runs.
class BusyPointer {
 public:
  BusyPointer() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~BusyPointer() { QApplication::restoreOverrideCursor(); }
  BusyPointer(const BusyPointer&) = delete;
  BusyPointer& operator=(const BusyPointer&) = delete;
};

}  // namespace

void TyakuForm::connectTextCommands() {
  connectBodyMenus(this);
  connect(mkensaku, &QAction::triggered, this, &TyakuForm::mkensaku_Click);
  connect(mtugikensaku, &QAction::triggered, this, &TyakuForm::mtugikensaku_Click);
  connect(tbToolBar, &QToolBar::actionTriggered, this,
          [this](QAction* a) { tbToolBar_ButtonClick(a->objectName()); });
  connect(Command1, &QPushButton::clicked, this, &TyakuForm::Command1_Click);
  connect(Command2, &QPushButton::clicked, this, &TyakuForm::Command2_Click);
  connect(Text1, &QLineEdit::returnPressed, this, &TyakuForm::FindMailInList);
  Text1->setToolTip(QStringLiteral("Enter キーで、件名・差出人・本文にこの文字を含む次のメールを一覧から選びます。"
                                   "全角と半角、ひらがなとカタカナ、大文字と小文字は区別しません。"));

  const QString crlf = QStringLiteral("\r\n");
  help_.set(Command1,
            QStringLiteral("本文以外のコピーに使用します。「Subject」「From」「Date」に表示されるデータをコピーします"
                           "（貼り付けはメニューバー、ツールバーで出来ます）。Body（本文）はメニューバー、"
                           "ツールバーからコピー・貼り付けが出来ます。") +
                crlf + crlf +
                QStringLiteral(" 本文への貼り付け（あるいは本ソフトでの貼り付け機能がある部分）、"
                               "他のアプリケーションへの貼り付けが可能です。") +
                crlf + crlf + QStringLiteral("コピーされる内容は右の欄に反映されます。"));
  help_.set(Command2,
            QStringLiteral("選択したデータをテキスト形式で本ソフト内の「TextQuickSave」フォルダ内に「Subject」"
                           "「From」「Date」「Boby」で保存します。ファイル名は「Subject」が自動的に当てられます。"
                           "同名のファイルが既に存在する場合は警告メッセージを出します。"));
  help_.set(Command3, QStringLiteral("受信したメールを１件ずつ削除します。リストでメールを選択（クリック）してから"
                                     "実行して下さい。"));
  help_.set(Command4, QStringLiteral("受信したメールをアドレス帳に登録します。リストからメールを選択（クリック）"
                                     "してから実行して下さい。"));
  help_.set(Command5, QStringLiteral("受信したメールに返事を出します。リストからメールを選択（クリック）してから"
                                     "実行して下さい。"));
  help_.set(Command6, QStringLiteral("受信したメール全件削除します。"));
  help_.set(Text1, QStringLiteral("検索したい文字を入力し、メニューバーから「検索」「次を検索」を選択し、"
                                  "検索したい文字を本文中(body)から検索します。"));
  // The toolbar's buttons explain themselves too.
  const struct {
    const char* key;
    QString help;
  } tools[] = {
      {"New", QStringLiteral("新しい文書を始めます。本文を空にし、空のファイル「新規作成.TXT」を作ります。")},
      {"Open", QStringLiteral("テキストファイル（*.txt、*.ini）を開いて、その内容を本文に表示します。")},
      {"Save", QStringLiteral("表示中のメールを「Subject」「From」「Date」「Body」の形で、名前を付けてテキストファイルに"
                              "保存します。")},
      {"Print", QStringLiteral("本文を印刷します。本文の一部を選択しているときは、選択した部分だけを印刷します。")},
      {"Cut", QStringLiteral("本文で選択した部分を切り取ります。貼り付けはメニューバー、ツールバーで出来ます。")},
      {"Copy", QStringLiteral("本文で選択した部分をコピーします。貼り付けはメニューバー、ツールバーで出来ます。")},
      {"Paste", QStringLiteral("コピーした内容を本文のカーソルの位置に貼り付けます。")},
      {"Bold", QStringLiteral("本文全体を太字にします。もう一度クリックすると元に戻ります。")},
      {"Italic", QStringLiteral("本文全体を斜体にします。もう一度クリックすると元に戻ります。")},
      {"Underline", QStringLiteral("本文全体に下線を引きます。もう一度クリックすると元に戻ります。")},
  };
  for (const auto& t : tools)
    if (QWidget* button = tbToolBar->widgetForAction(toolButton(QString::fromLatin1(t.key)))) help_.set(button, t.help);
  // The header boxes follow the mouse on every move, as their values change.
  for (QLineEdit* b : {Text7, Text8, Text9}) {
    b->setMouseTracking(true);
    b->installEventFilter(this);
  }
  rtfEd->viewport()->installEventFilter(this);
}

void TyakuForm::mouseOver(QObject* watched) {
  const struct {
    QLineEdit* box;
    QColor face;
  } headers[] = {{Text7, QColor(255, 255, 0)}, {Text8, QColor(0, 0, 255)}, {Text9, QColor(255, 255, 255)}};
  for (const auto& h : headers) {
    if (watched != h.box) continue;
    if (Text6->text() != h.box->text()) Text6->setText(h.box->text());
    Text6->setCursorPosition(0);
    setCopyFace(Command1, h.face);
    return;
  }
  const bool overList = watched == MailListView->viewport();
  if (overList || watched == rtfEd->viewport()) {
    setCopyFace(Command1, QColor(128, 128, 128));
    Text4->hide();
    if (overList) Text4->clear();
    return;
  }
  const QString* help = help_.find(watched);
  if (!help) return;
  // The box holds the text with plain line breaks.
  QString shown = *help;
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  if (Text4->toPlainText() != shown) Text4->setPlainText(shown);
  Text4->show();
  Text4->raise();
}

void TyakuForm::mnew_Click() { BodyCommands(rtfEd, this).newDocument(); }

void TyakuForm::mopen_Click() { OpenTextIntoBody(); }

void TyakuForm::msave_Click() { SaveBodyAs(); }

// The menu item prints as the toolbar button does.
void TyakuForm::mprint_Click() { BodyCommands(rtfEd, this).print(); }

void TyakuForm::mall_Click() { BodyCommands(rtfEd, this).selectAll(); }

void TyakuForm::matamajump_Click() { BodyCommands(rtfEd, this).jumpToStart(); }

void TyakuForm::mbunmatujump_Click() { BodyCommands(rtfEd, this).jumpToEnd(); }

void TyakuForm::mkensaku_Click() {
  PlainTextBox box(rtfEd, this);
  textproc::FindFirst(box, Text1->text(), LastMatchPosition);
}

void TyakuForm::mtugikensaku_Click() {
  PlainTextBox box(rtfEd, this);
  textproc::FindNext(box, Text1->text(), LastMatchPosition);
}

void TyakuForm::mcut_Click() { BodyCommands(rtfEd, this).cut(); }

void TyakuForm::mcopy_Click() { BodyCommands(rtfEd, this).copy(); }

void TyakuForm::mpaste_Click() { BodyCommands(rtfEd, this).paste(); }

void TyakuForm::tbToolBar_ButtonClick(const QString& key) { tools_.click(key); }

void TyakuForm::Command1_Click() {
  QClipboard* clipboard = QGuiApplication::clipboard();
  clipboard->clear(QClipboard::Clipboard);
  clipboard->setText(Text6->text(), QClipboard::Clipboard);
}

void TyakuForm::Command2_Click() { QuickSave(); }

void TyakuForm::QuickSave() {
  if (Text5->text().isEmpty()) {
    MsgBox(kNoSelection);
    return;
  }
  rtfEd->setFocus();
  Text5->clear();
  const viewer::MailText mail{Text7->text(), Text8->text(), Text9->text(), rtfEd->toPlainText()};
  // The folder is part of the program folder; it is not made here.
  if (!paths::folderExists(paths::kQuickSaveFolder)) {
    MsgBox(QStringLiteral("保存先のフォルダ「%1」が見つかりません。メールは保存していません。\n\n"
                          "プログラムフォルダを作り直すには、次のコマンドを実行して下さい。\n"
                          "tomoshibi --init-home \"%2\"")
               .arg(QDir::toNativeSeparators(paths::resolve(paths::kQuickSaveFolder)),
                    QDir::toNativeSeparators(paths::programFolder())),
           MsgButtons::Ok, MsgIcon::Exclamation);
    return;
  }
  const QString path = viewer::quickSavePath(mail.subject);
  bool exists;
  {
    BusyPointer busy;
    exists = QFileInfo::exists(path);
  }
  if (exists && MsgBox(QStringLiteral("同名のファイルが既に存在します。上書きしますか？ "), MsgButtons::YesNo,
                       MsgIcon::Question, QStringLiteral("確認")) != MsgResult::Yes)
    return;
  const QString block = viewer::HeaderBlock(mail);
  QString error;
  switch (textproc::writeTextFile(path, block + QStringLiteral("\r\n"), askBeforeLosing, &error)) {
    case textproc::WriteResult::Written: break;
    case textproc::WriteResult::Declined: return;
    case textproc::WriteResult::Failed:
      MsgBox(QStringLiteral("メールをファイル「%1」に保存できませんでした（%2）。\nメールは保存していません。")
                 .arg(QDir::toNativeSeparators(path), error),
             MsgButtons::Ok, MsgIcon::Exclamation);
      return;
  }
  rtfEd->setPlainText(block);
}

void TyakuForm::SaveBodyAs() {
  const viewer::MailText mail{Text7->text(), Text8->text(), Text9->text(), rtfEd->toPlainText()};
  rtfEd->setPlainText(viewer::HeaderBlock(mail));
  const QString file = filedialog::choose(
      this, {filedialog::Kind::Save, QStringLiteral("名前を付けて保存"), textproc::kTextFileFilter});
  if (file.isEmpty()) return;
  QString error;
  switch (textproc::writeTextFile(file, rtfEd->toPlainText() + QStringLiteral("\r\n"), askBeforeLosing, &error)) {
    case textproc::WriteResult::Written: break;
    case textproc::WriteResult::Declined: return;
    case textproc::WriteResult::Failed:
      MsgBox(QStringLiteral("ファイル「%1」に保存できませんでした（%2）。\nメールは保存していません。")
                 .arg(QDir::toNativeSeparators(file), error),
             MsgButtons::Ok, MsgIcon::Exclamation);
      return;
  }
  // The caption names the file only once the file holds the mail.
  setWindowTitle(file);
}

void TyakuForm::OpenTextIntoBody() { BodyCommands(rtfEd, this).openTextFile(); }

void TyakuForm::FindMailInList() {
  const QString text = Text1->text();
  if (viewer::MailMatcher(text).isEmpty()) return;
  viewer::MailSearchResult found;
  {
    BusyPointer busy;
    found = viewer::findMailRow(paths::resolve(paths::kReceivedMailFile), mailList->rowCount(), selectedRow(), text);
  }
  if (!found.error.isEmpty()) {
    MsgBox(QStringLiteral("受信メールのファイルを読めませんでした（%1）。").arg(found.error), MsgButtons::Ok,
           MsgIcon::Exclamation);
    return;
  }
  if (found.row < 0) {
    MsgBox(QStringLiteral("「%1」を含むメールは一覧にありません。").arg(text.trimmed()));
    return;
  }
  // As a click on the row: the mail is shown and can be answered or deleted.
  const QModelIndex row = mailList->index(found.row, 0);
  MailListView->selectionModel()->setCurrentIndex(row,
                                                  QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  MailListView->scrollTo(row);
  ShowSelectedMail();
}
