#include "viewer/SentForm.h"

#include "composer/WriteForm.h"
#include "platform/Text.h"
#include "platform/TextProcedures.h"
#include "platform/ui/BodyBox.h"
#include "platform/ui/FileDialog.h"
#include "platform/ui/MsgBox.h"
#include "platform/ui/NamedMenu.h"
#include "reception/AttachmentFiles.h"
#include "reception/ExportWords.h"
#include "reception/MailExport.h"
#include "reception/ReceivedWords.h"
#include "store/RecordFile.h"
#include "store/Records.h"
#include "store/sent/SentStore.h"
#include "store/words/StoreWords.h"
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
#include <QPointer>
#include <QPushButton>
#include <QSplitter>
#include <QTreeView>
#include <QVBoxLayout>

namespace {

QPointer<SentForm> g_form;

const QString kNoSelection = QStringLiteral("データが選択されていません");

QString inner(QString sentence) {
  if (sentence.endsWith(u'。')) sentence.chop(1);
  return sentence;
}

QString sentFile() { return sent::sentFiles().records; }

QLineEdit* readOnlyBox(QWidget* parent, const char* name, const QString& spoken) {
  auto* box = new QLineEdit(parent);
  box->setObjectName(QString::fromLatin1(name));
  box->setAccessibleName(spoken);
  box->setReadOnly(true);
  return box;
}

QPushButton* button(QWidget* parent, const char* name, const QString& caption) {
  auto* b = new QPushButton(caption, parent);
  b->setObjectName(QString::fromLatin1(name));
  return b;
}

}  // namespace

SentForm* SentForm::existing() { return g_form; }

SentForm* SentForm::open() {
  if (!g_form) g_form = new SentForm;
  g_form->FillSentList();
  g_form->show();
  g_form->raise();
  g_form->activateWindow();
  return g_form;
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
  auto* top = new QHBoxLayout;
  DeleteButton = button(surface, "DeleteButton", QStringLiteral("一件削除"));
  ResendButton = button(surface, "ResendButton", QStringLiteral("もう一度送る"));
  CopyButton = button(surface, "CopyButton", QStringLiteral("コピー（件名・宛先・日付）"));
  SearchLabel = new QLabel(QStringLiteral("検索文字"), surface);
  SearchLabel->setObjectName(QStringLiteral("SearchLabel"));
  SearchBox = new QLineEdit(surface);
  SearchBox->setObjectName(QStringLiteral("SearchBox"));
  SearchBox->setAccessibleName(QStringLiteral("検索文字"));
  SearchBox->setToolTip(QStringLiteral("Enter キーで、件名・宛先・本文にこの文字を含む次のメールを一覧から選びます。"));
  SearchLabel->setBuddy(SearchBox);
  CountLabel = new QLabel(QStringLiteral("件数"), surface);
  CountLabel->setObjectName(QStringLiteral("CountLabel"));
  CountBox = readOnlyBox(surface, "CountBox", QStringLiteral("件数"));
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
  SubjectBox = readOnlyBox(surface, "SubjectBox", QStringLiteral("件名"));
  ToBox = readOnlyBox(surface, "ToBox", QStringLiteral("宛先"));
  DateBox = readOnlyBox(surface, "DateBox", QStringLiteral("日付"));
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
  sentList->setHeads(std::move(scan.heads));
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
  w->ToText->setText(to);
  w->SubjectText->setText(subject);
  w->rtfEd->setPlainText(body);
  w->show();
  w->raise();
  w->activateWindow();
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
  const QString subject = SubjectBox->text();
  const QString name = subject.isEmpty() ? QStringLiteral("メール") : maillib::safeFileName(subject);
  const QString file = filedialog::choose(this, {filedialog::Kind::Save, QStringLiteral("原文を保存"),
                                                 QStringLiteral("メールファイル(*.eml)|*.eml"),
                                                 name + QStringLiteral(".eml"), QStringLiteral("eml"), QString()});
  if (file.isEmpty()) return;
  reception::ExportFault fault;
  if (!reception::writeExportFile(file, original.bytes, &fault))
    MsgBox(QStringLiteral("ファイル「%1」に保存できませんでした（%2）。")
               .arg(QDir::toNativeSeparators(file), inner(reception::exportFaultText(fault))),
           MsgButtons::Ok, MsgIcon::Exclamation);
}

void SentForm::ExportMbox() {
  const QString file = filedialog::choose(this, {filedialog::Kind::Save, QStringLiteral("全メールを書き出し"),
                                                 QStringLiteral("mboxファイル(*.mbox)|*.mbox"),
                                                 QStringLiteral("送信メール.mbox"), QStringLiteral("mbox"), QString()});
  if (file.isEmpty()) return;
  const reception::ExportSummary s = reception::exportMbox(file, sent::sentFiles());
  if (s.ok)
    MsgBox(reception::exportedText(s, file), MsgButtons::Ok, MsgIcon::Information);
  else
    MsgBox(QStringLiteral("書き出せませんでした（%1）。").arg(inner(reception::exportFaultText(s.fault))), MsgButtons::Ok,
           MsgIcon::Exclamation);
}
