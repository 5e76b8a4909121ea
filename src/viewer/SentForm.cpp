#include "viewer/SentForm.h"

#include "composer/WriteForm.h"
#include "platform/Text.h"
#include "platform/TextProcedures.h"
#include "platform/ui/BodyBox.h"
#include "platform/ui/Controls.h"
#include "platform/ui/FileDialog.h"
#include "platform/ui/MsgBox.h"
#include "platform/ui/NamedMenu.h"
#include "platform/ui/SingleWindow.h"
#include "reception/MailExport.h"
#include "reception/ReceivedWords.h"
#include "store/RecordFile.h"
#include "store/Records.h"
#include "store/sent/SentStore.h"
#include "store/words/StoreWords.h"
#include "viewer/HandOut.h"
#include "viewer/MailListModel.h"
#include "viewer/ReceivedMail.h"
#include "viewer/core/MailSearch.h"
#include "viewer/core/MailText.h"

#include <QClipboard>
#include <QDir>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTreeView>
#include <QVBoxLayout>

using viewer::inner;

namespace {

SingleWindow<SentForm> g_form;

const QString kNoSelection = QStringLiteral("データが選択されていません");

QString sentFile() { return sent::sentFiles().records; }

}  // namespace

SentForm* SentForm::existing() { return g_form.existing(); }

SentForm* SentForm::open() {
  SentForm* form = g_form.instance([] { return new SentForm; });
  form->FillSentList();
  bringUp(form);
  return form;
}

SentForm::SentForm() {
  setObjectName(QStringLiteral("SentForm"));
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral("送信済みメール"));
  buildControls();
  buildMenus();
  resize(760, 560);
}

SentForm::~SentForm() = default;

void SentForm::buildControls() {
  auto* surface = new QWidget(this);
  surface->setObjectName(QStringLiteral("SentSurface"));
  setCentralWidget(surface);
  const Controls c(surface);
  auto* top = new QHBoxLayout;
  c.button(DeleteButton, "DeleteButton", QStringLiteral("一件削除"));
  c.button(ResendButton, "ResendButton", QStringLiteral("もう一度送る"));
  c.button(CopyButton, "CopyButton", QStringLiteral("コピー（件名・宛先・日付）"));
  c.label(SearchLabel, "SearchLabel", QStringLiteral("検索文字"));
  c.box(SearchBox, "SearchBox", QStringLiteral("検索文字"));
  SearchBox->setToolTip(QStringLiteral("Enter キーで、件名・宛先・本文にこの文字を含む次のメールを一覧から選びます。"));
  SearchLabel->setBuddy(SearchBox);
  c.label(CountLabel, "CountLabel", QStringLiteral("件数"));
  c.box(CountBox, "CountBox", QStringLiteral("件数"))->setReadOnly(true);
  CountBox->setMaximumWidth(70);
  CountLabel->setBuddy(CountBox);
  for (QWidget* w : std::initializer_list<QWidget*>{DeleteButton, ResendButton, CopyButton}) top->addWidget(w);
  top->addStretch();
  for (QWidget* w : std::initializer_list<QWidget*>{SearchLabel, SearchBox, CountLabel, CountBox}) top->addWidget(w);

  SentListView = new QTreeView(surface);
  SentListView->setObjectName(QStringLiteral("SentListView"));
  SentListView->setAccessibleName(QStringLiteral("送信済みメール一覧"));
  SentListView->setRootIsDecorated(false);
  SentListView->setUniformRowHeights(true);
  SentListView->setAllColumnsShowFocus(true);
  sentList = new MailListModel(this);
  sentList->setObjectName(QStringLiteral("sentList"));
  sentList->setHeadings({QStringLiteral("件名"), QStringLiteral("宛先"), QStringLiteral("日付")});
  SentListView->setModel(sentList);

  auto* boxes = new QHBoxLayout;
  c.box(SubjectBox, "SubjectBox", QStringLiteral("件名"))->setReadOnly(true);
  c.box(ToBox, "ToBox", QStringLiteral("宛先"))->setReadOnly(true);
  c.box(DateBox, "DateBox", QStringLiteral("日付"))->setReadOnly(true);
  boxes->addWidget(SubjectBox, 5);
  boxes->addWidget(ToBox, 3);
  boxes->addWidget(DateBox, 2);

  BodyBox = new QPlainTextEdit(surface);
  BodyBox->setObjectName(QStringLiteral("BodyBox"));
  BodyBox->setAccessibleName(QStringLiteral("本文"));
  BodyBox->setReadOnly(true);

  auto* column = new QVBoxLayout(surface);
  column->addLayout(top);
  column->addWidget(SentListView, 2);
  column->addLayout(boxes);
  column->addWidget(BodyBox, 3);

  connect(SentListView, &QTreeView::clicked, this, &SentForm::ShowSelectedMail);
  connect(SentListView, &QTreeView::activated, this, &SentForm::ShowSelectedMail);
  connect(SearchBox, &QLineEdit::returnPressed, this, &SentForm::FindMailInList);
  connect(DeleteButton, &QPushButton::clicked, this, &SentForm::DeleteSelected);
  connect(ResendButton, &QPushButton::clicked, this, &SentForm::ResendSelected);
  connect(CopyButton, &QPushButton::clicked, this, &SentForm::CopyHeaders);
}

void SentForm::buildMenus() {
  menuBar()->setObjectName(QStringLiteral("SentMenuBar"));
  mFile = menuBar()->addMenu(QStringLiteral("ファイル(&F)"));
  mFile->setObjectName(QStringLiteral("mFile"));
  msave = addNamedItem(mFile, "msave", QStringLiteral("名前を付けて保存"));
  mgenbun = addNamedItem(mFile, "mgenbun", QStringLiteral("原文を保存"));
  mmbox = addNamedItem(mFile, "mmbox", QStringLiteral("全メールを mbox で書き出し"));
  addNamedSeparator(mFile, "mline");
  mend = addNamedItem(mFile, "mend", QStringLiteral("閉じる"));
  medit = menuBar()->addMenu(QStringLiteral("編集(&E)"));
  medit->setObjectName(QStringLiteral("medit"));
  mall = addNamedItem(medit, "mall", QStringLiteral("全て選択"));
  mcopy = addNamedItem(medit, "mcopy", QStringLiteral("コピー"));
  mfind = addNamedItem(medit, "mkensaku", QStringLiteral("検索"));
  mfindNext = addNamedItem(medit, "mtugikensaku", QStringLiteral("次を検索"));
  connect(msave, &QAction::triggered, this, &SentForm::SaveMailAs);
  connect(mgenbun, &QAction::triggered, this, &SentForm::SaveOriginal);
  connect(mmbox, &QAction::triggered, this, &SentForm::ExportMbox);
  connect(mend, &QAction::triggered, this, &QWidget::close);
  connect(mall, &QAction::triggered, this, [this] { BodyCommands(BodyBox, this).selectAll(); });
  connect(mcopy, &QAction::triggered, this, [this] { BodyCommands(BodyBox, this).copy(); });
  connect(mfind, &QAction::triggered, this, [this] {
    PlainTextBox box(BodyBox, this);
    textproc::FindFirst(box, SearchBox->text(), lastMatch_);
  });
  connect(mfindNext, &QAction::triggered, this, [this] {
    PlainTextBox box(BodyBox, this);
    textproc::FindNext(box, SearchBox->text(), lastMatch_);
  });
}

void SentForm::setCount(int rows) { CountBox->setText(QString::number(rows)); }

void SentForm::clearBoxes() {
  for (QLineEdit* b : {SubjectBox, ToBox, DateBox}) b->clear();
  BodyBox->clear();
}

void SentForm::FillSentList() {
  sentList->clear();
  clearBoxes();
  // What a send or a delete cut off left is made whole first: no record
  // is listed without the mail it was kept with.
  if (const received::Fault f = sent::recover())
    MsgBox(QStringLiteral("送信済みメールを整えられませんでした（%1）。").arg(inner(reception::faultText(f))),
           MsgButtons::Ok, MsgIcon::Exclamation);
  viewer::MailListScan scan = viewer::scanRecordsOf(sentFile());
  if (!scan.opened) {
    if (scan.folderMissing)
      viewer::reportDataFolderMissing();
    else
      MsgBox(store::failureText(scan.failure), MsgButtons::Ok, MsgIcon::Exclamation);
    setCount(0);
    return;
  }
  const int rows = scan.rows;
  sentList->setRecords(std::move(scan.heads));
  if (rows > 0) {
    showRecord(scan.last);
    const QModelIndex last = sentList->index(rows - 1, 0);
    SentListView->selectionModel()->setCurrentIndex(last,
                                                    QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    SentListView->scrollTo(last);
  }
  setCount(rows);
  if (scan.failure)
    MsgBox(store::failureText(scan.failure) + QStringLiteral("\n読めたところまでを一覧に表示しています。"), MsgButtons::Ok,
           MsgIcon::Exclamation);
}

int SentForm::selectedRow() const {
  const QModelIndexList rows = SentListView->selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : rows.first().row();
}

void SentForm::showRecord(const store::MailRecord& record) {
  SubjectBox->setText(text::trimSpaces(record.subject()));
  ToBox->setText(text::trimSpaces(record.from()));
  DateBox->setText(text::trimSpaces(record.date()));
  for (QLineEdit* b : {SubjectBox, ToBox, DateBox}) b->setCursorPosition(0);
  BodyBox->setPlainText(text::trimSpaces(record.body()));
  lastMatch_ = 0;
}

void SentForm::ShowSelectedMail() {
  const int row = selectedRow();
  if (row < 0) return;
  store::RecordFile f(sentFile(), store::MailRecord::kLength);
  QByteArray bytes;
  const store::ReadResult r = f.open() ? f.read(row + 1, bytes) : store::ReadResult::Error;
  if (r != store::ReadResult::Ok) {
    MsgBox(r == store::ReadResult::EndOfFile
               ? QStringLiteral("このメールは送信済みメールのファイルにもうありません。一覧を読み直します。")
               : store::failureText(f.failure()),
           MsgButtons::Ok, MsgIcon::Exclamation);
    if (r == store::ReadResult::EndOfFile) FillSentList();
    return;
  }
  showRecord(store::MailRecord(bytes));
}

void SentForm::FindMailInList() {
  const QString text = SearchBox->text();
  if (viewer::MailMatcher(text).isEmpty()) return;
  const viewer::MailSearchResult found = viewer::findMailRow(sentFile(), sentList->rowCount(), selectedRow(), text);
  if (!found.error.isEmpty()) {
    MsgBox(QStringLiteral("送信済みメールのファイルを読めませんでした（%1）。").arg(found.error), MsgButtons::Ok,
           MsgIcon::Exclamation);
    return;
  }
  if (found.row < 0) {
    MsgBox(QStringLiteral("「%1」を含むメールは一覧にありません。").arg(text.trimmed()));
    return;
  }
  const QModelIndex row = sentList->index(found.row, 0);
  SentListView->selectionModel()->setCurrentIndex(row, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  SentListView->scrollTo(row);
  ShowSelectedMail();
}

void SentForm::DeleteSelected() {
  const int row = selectedRow();
  if (row < 0) {
    MsgBox(kNoSelection);
    return;
  }
  if (MsgBox(QStringLiteral("選択された（行、青色）データを削除します。よろしいですか"), MsgButtons::YesNo,
             MsgIcon::Question, QStringLiteral("確認")) != MsgResult::Yes)
    return;
  const received::Removal done = sent::remove({row + 1});
  if (!done.ok()) MsgBox(reception::faultText(done.fault), MsgButtons::Ok, MsgIcon::Exclamation);
  FillSentList();
}

void SentForm::ResendSelected() {
  const int row = selectedRow();
  if (row < 0) {
    MsgBox(kNoSelection);
    return;
  }
  // The mail as it was written: recipient, subject and body, to be sent
  // again as a new mail (the attached files are named in the kept mail).
  const QString to = ToBox->text(), subject = SubjectBox->text(), body = BodyBox->toPlainText();
  WriteForm* w = WriteForm::instance();
  w->fillMail(to, subject, body);
  bringUp(w);
}

void SentForm::CopyHeaders() {
  const QString text = QStringLiteral("Subject:  %1  To:  %2  Date:  %3").arg(SubjectBox->text(), ToBox->text(), DateBox->text());
  QGuiApplication::clipboard()->setText(text, QClipboard::Clipboard);
}

void SentForm::SaveMailAs() {
  if (selectedRow() < 0) {
    MsgBox(kNoSelection);
    return;
  }
  const viewer::MailText mail{SubjectBox->text(), ToBox->text(), DateBox->text(), BodyBox->toPlainText()};
  const QString file = filedialog::choose(
      this, {filedialog::Kind::Save, QStringLiteral("名前を付けて保存"), textproc::kTextFileFilter});
  if (file.isEmpty()) return;
  QString error;
  if (textproc::writeTextFile(file, viewer::HeaderBlock(mail) + QStringLiteral("\r\n"), askBeforeLosing, &error) ==
      textproc::WriteResult::Failed)
    MsgBox(QStringLiteral("ファイル「%1」に保存できませんでした（%2）。\nメールは保存していません。")
               .arg(QDir::toNativeSeparators(file), error),
           MsgButtons::Ok, MsgIcon::Exclamation);
}

void SentForm::SaveOriginal() {
  const int row = selectedRow();
  if (row < 0) {
    MsgBox(kNoSelection);
    return;
  }
  const received::Original original = sent::original(row + 1);
  if (original.bytes.isNull()) {
    MsgBox(QStringLiteral("送信したメールを読めませんでした（%1）。").arg(inner(reception::faultText(original.fault))),
           MsgButtons::Ok, MsgIcon::Exclamation);
    return;
  }
  viewer::saveOriginalAs(this, original.bytes, SubjectBox->text());
}

void SentForm::ExportMbox() {
  viewer::exportMboxAs(this, QStringLiteral("送信メール.mbox"),
                       [](const QString& target) { return reception::exportMbox(target, sent::sentFiles()); });
}
