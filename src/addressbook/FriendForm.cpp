#include "FriendForm.h"

#include "addressbook/AddressListModel.h"
#include "addressbook/AddressListView.h"
#include "addressbook/book/AddressBook.h"
#include "addressbook/book/VCard.h"
#include "platform/Durable.h"
#include "platform/SharedState.h"
#include "platform/Text.h"
#include "platform/ui/FileDialog.h"
#include "platform/ui/ListHeaders.h"
#include "platform/ui/MsgBox.h"
#include "platform/ui/SingleWindow.h"
#include "platform/ui/Twips.h"
#include "platform/ui/TypingLimit.h"
#include "store/Records.h"
#include "store/words/StoreWords.h"

#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>

namespace {

SingleWindow<FriendForm> g_friend;

// The client area, in twips.
constexpr double kClientWidth = 8400;
constexpr double kClientHeight = 6840;
constexpr double kListTop = 2700;
// Top of the help box when explanations are on, and out of sight when off.
constexpr double kHelpTopShown = 3240;
constexpr double kHelpTopHidden = -4000;
// A vCard file larger than this is no address book.
constexpr qint64 kMaxImportBytes = 64 << 20;

const QString kNoSelection = QStringLiteral("データが選択されていません");

// The clipboard's text as a box of one line takes it: its first line that
// is not blank. A line break stored in an address would reach the mail
// server as part of it.
QString clipboardLine() {
  const QStringList lines = QGuiApplication::clipboard()->text().split(QRegularExpression(QStringLiteral("\r\n|\r|\n")));
  for (const QString& l : lines)
    if (!l.trimmed().isEmpty()) return l;
  return QString();
}

}  // namespace

FriendForm* FriendForm::existing() { return g_friend.existing(); }

FriendForm* FriendForm::instance() { return g_friend.instance([] { return new FriendForm; }); }

FriendForm::FriendForm() : QMainWindow(nullptr) {
  g_friend.hold(this);
  setObjectName(QStringLiteral("FriendForm"));
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral("アドレス帳"));
  buildControls();
  setHelpTexts();
  resize(twips::toPx(kClientWidth), twips::toPx(kClientHeight));
  Form_Load();
}

FriendForm::~FriendForm() = default;

void FriendForm::buildControls() {
  surface_ = new QWidget(this);
  surface_->setObjectName(QStringLiteral("FriendSurface"));
  setCentralWidget(surface_);
  surface_->setMouseTracking(true);
  surface_->installEventFilter(this);

  const Controls c(surface_);
  // Created in the order the tab key visits them.
  c.label(Label1, "Label1", QStringLiteral("メールアドレス"), 120, 150, 1500, 300);
  Text4 = new TypedLineEdit(60, surface_);
  c.box(Text4, "Text4", QStringLiteral("メールアドレス"), 1680, 120, 4200, 330);
  Text4->setInputMethodHints(Qt::ImhPreferLatin | Qt::ImhNoAutoUppercase);
  Label1->setBuddy(Text4);
  c.button(Command1, "Command1", QStringLiteral("貼付"), 5940, 105, 840, 360);
  Command1->setAccessibleDescription(QStringLiteral("メールアドレスに貼り付け"));

  c.label(Label2, "Label2", QStringLiteral("名前（名称）"), 120, 570, 1500, 300);
  Text2 = new TypedLineEdit(30, surface_);
  c.box(Text2, "Text2", QStringLiteral("名前（名称）"), 1680, 540, 4200, 330);
  Label2->setBuddy(Text2);
  c.button(Command5, "Command5", QStringLiteral("貼付"), 5940, 525, 840, 360);
  Command5->setAccessibleDescription(QStringLiteral("名前に貼り付け"));

  c.label(Label3, "Label3", QStringLiteral("名刺"), 120, 990, 1500, 300);
  c.box(Text50, "Text50", QStringLiteral("名刺"), 1680, 960, 2400, 330);
  Label3->setBuddy(Text50);
  c.button(Command38, "Command38", QStringLiteral("名刺挿入"), 4140, 945, 1740, 360);
  c.label(Label5, "Label5", QStringLiteral("名刺は新規作成で宛先を一発挿入した際の確認用として使用します。"), 120, 1380, 6660,
          300);
  Label5->setWordWrap(true);

  c.button(Command3, "Command3", QStringLiteral("登録"), 120, 1800, 1200, 420);
  c.button(Command4, "Command4", QStringLiteral("削除"), 1380, 1800, 1200, 420);
  c.button(ExportCommand, "ExportCommand", QStringLiteral("エクスポート"), 3660, 1800, 1500, 420);
  c.button(ImportCommand, "ImportCommand", QStringLiteral("インポート"), 5220, 1800, 1500, 420);

  c.label(Label4, "Label4", QStringLiteral("登録件数"), 6960, 150, 1320, 300);
  c.box(Text3, "Text3", QStringLiteral("登録件数"), 6960, 480, 1320, 330);
  Text3->setReadOnly(true);
  Label4->setBuddy(Text3);

  // Its text is what it says: no fixed name in front of it.
  c.label(Label7, "Label7", QString(), 120, 2340, 8160, 300);

  MailListView = new AddressListView(surface_);
  MailListView->setObjectName(QStringLiteral("MailListView"));
  MailListView->setAccessibleName(QStringLiteral("アドレス一覧"));
  addressList = new AddressListModel(this);
  setUpRecordList(MailListView, addressList);
  MailListView->header()->setStretchLastSection(false);
  MailListView->viewport()->installEventFilter(this);
  twips::place(MailListView, 120, kListTop, 8160, kClientHeight - kListTop - 120);

  // The help box lies over the list while it explains a button.
  Text5 = new QPlainTextEdit(surface_);
  Text5->setObjectName(QStringLiteral("Text5"));
  Text5->setAccessibleName(QStringLiteral("説明"));
  Text5->setReadOnly(true);
  twips::place(Text5, 120, kHelpTopShown, 8160, 1500);
  Text5->hide();

  connect(Command1, &QPushButton::clicked, this, &FriendForm::Command1_Click);
  connect(Command5, &QPushButton::clicked, this, &FriendForm::Command5_Click);
  connect(Command38, &QPushButton::clicked, this, &FriendForm::Command38_Click);
  connect(Command3, &QPushButton::clicked, this, &FriendForm::Command3_Click);
  connect(Command4, &QPushButton::clicked, this, &FriendForm::Command4_Click);
  connect(ExportCommand, &QPushButton::clicked, this, &FriendForm::ExportCommand_Click);
  connect(ImportCommand, &QPushButton::clicked, this, &FriendForm::ImportCommand_Click);
  connect(MailListView, &AddressListView::mouseDown, this, &FriendForm::MailListView_MouseDown);
}

void FriendForm::setHelpTexts() {
  const QString crlf = QStringLiteral("\r\n");
  help_.set(Command1, QStringLiteral("コピーして来たメールアドレスを貼り付けます。"));
  help_.set(Command3, QStringLiteral("登録を行います。これにより新規作成でのメールアドレスの一発入力が可能になります。"));
  help_.set(Command4, QStringLiteral("不要になったメールアドレスを削除します。"));
  help_.set(Command38,
            QStringLiteral("名詞の挿入を行います。例えばメールアドレスが nihon.taro@example.jp のとき、名刺に「日本太郎」と入力して"
                           "「名刺挿入」をクリックすると、メールアドレスは 日本太郎<nihon.taro@example.jp> となり、この形で登録されます。"
                           "このアドレスに送ったメールは、相手には宛先が 日本太郎<nihon.taro@example.jp> と表示されます。") +
                crlf + crlf + QStringLiteral("必要なければ挿入する必要はありません。"));
  help_.set(ExportCommand, QStringLiteral("アドレス帳の全件を vCard ファイル（.vcf）に書き出します。携帯電話や他のメールソフトのアドレス帳に取り込めます。"));
  help_.set(ImportCommand,
            QStringLiteral("携帯電話や他のメールソフトが書き出した vCard ファイル（.vcf）から、名前とメールアドレスを登録します。"
                           "既に登録してあるメールアドレスは登録しません。"));
}

bool FriendForm::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if ((type == QEvent::Enter || type == QEvent::MouseMove) && !help_.showIn(watched, Text5)) {
    if (watched == MailListView->viewport()) {
      Text5->hide();  // the list is read, not explained
    } else if (watched == surface_ && type == QEvent::MouseMove) {
      // The bare window: a move over a control that passes the event on
      // still has that control under the mouse.
      const QPoint at = static_cast<QMouseEvent*>(event)->position().toPoint();
      if (!surface_->childAt(at)) Text5->hide();
    }
  }
  if (watched == surface_ && type == QEvent::Resize) layOut();
  return QMainWindow::eventFilter(watched, event);
}

void FriendForm::layOut() {
  // The list takes what the window gives below the boxes.
  const double w = twips::width(surface_);
  const double h = twips::height(surface_);
  twips::resize(MailListView, std::max(1200.0, w - 240), std::max(600.0, h - kListTop - 120));
  twips::resize(Text5, std::max(1200.0, w - 240), twips::height(Text5));
}

void FriendForm::Form_Load() {
  // The help box in view only while the main window shows explanations.
  if (shared::MainWindow.explanations) {
    const double top = shared::MainWindow.explanations() == Qt::Checked ? kHelpTopShown : kHelpTopHidden;
    twips::move(Text5, twips::left(Text5), top);
  }
  // Address half the list's width, name the width divided by 2.38.
  const double w = twips::width(MailListView);
  QHeaderView* header = MailListView->header();
  header->resizeSection(AddressListModel::AddressColumn, twips::toPx(w / 2));
  header->resizeSection(AddressListModel::NameColumn, twips::toPx(w / 2.38));
  HookListHeaders(MailListView);
  Text3->setText(QString::number(addressList->rowCount()));
  Label7->clear();
  ReloadAddressList();
}

void FriendForm::Form_QueryUnload() { UnhookListHeaders(MailListView); }

void FriendForm::closeEvent(QCloseEvent* event) {
  Form_QueryUnload();
  QMainWindow::closeEvent(event);
}

void FriendForm::ReloadAddressList() {
  addressList->clear();
  addressbook::Listing book = addressbook::readAll();
  if (book.failure) MsgBox(store::failureText(book.failure), MsgButtons::Ok, MsgIcon::Exclamation);
  addressList->setRecords(std::move(book.records));
  Text3->setText(QString::number(addressList->rowCount()));
}

int FriendForm::selectedRow() const {
  const QModelIndexList rows = MailListView->selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : rows.first().row();
}

bool FriendForm::showEntry(int n) {
  store::AddressRecord r;
  store::StoreFailure failure;
  if (!addressbook::readEntry(n, r, &failure)) {
    // The list no longer matches the file (it is read only here and at
    // every change, so this is a failed read): show what the file holds.
    MsgBox(!failure ? QStringLiteral("この行のデータはもうアドレス帳にありません。") : store::failureText(failure), MsgButtons::Ok,
           MsgIcon::Exclamation);
    ReloadAddressList();
    return false;
  }
  Text2->setText(addressbook::shownText(r.name()));
  Text4->setText(addressbook::shownText(r.address()));
  for (QLineEdit* b : {Text2, Text4}) b->setCursorPosition(0);
  Label7->setText(QStringLiteral("　選択しました。"));
  return true;
}

void FriendForm::MailListView_MouseDown() {
  const int row = selectedRow();
  if (row < 0) return;
  showEntry(row + 1);
}

void FriendForm::fillAddress(const QString& address) { Text4->setText(address); }

void FriendForm::Command1_Click() { Text4->setText(clipboardLine()); }

void FriendForm::Command5_Click() { Text2->setText(clipboardLine()); }

void FriendForm::Command38_Click() {
  if (Text4->text().isEmpty()) {
    MsgBox(QStringLiteral("メールアドレスが入力されていません"));
    return;
  }
  if (Text50->text().isEmpty()) {
    MsgBox(QStringLiteral("名詞が入力されていません"));
    return;
  }
  Text4->setText(addressbook::namedAddress(Text50->text(), Text4->text()));
}

void FriendForm::Command3_Click() {
  const store::StoreResult done = addressbook::registerEntry(Text2->text(), Text4->text());
  if (!done.ok) {
    MsgBox(store::failureText(done.failure), MsgButtons::Ok, MsgIcon::Exclamation);
    return;
  }
  Label7->setText(QStringLiteral("　登録が完了しました。"));
  ReloadAddressList();
  MailListView->scrollToBottom();  // the new entry in view
}

void FriendForm::Command4_Click() {
  if (Text4->text().isEmpty()) {
    MsgBox(kNoSelection);
    return;
  }
  // A box filled by hand or by the viewer, with no row chosen: say so
  // rather than do nothing.
  const int row = selectedRow();
  if (row < 0) {
    MsgBox(kNoSelection);
    return;
  }
  const int n = row + 1;
  if (!showEntry(n)) return;
  Label7->setText(QStringLiteral(" "));
  const bool yes = MsgBox(QStringLiteral("選択された（行、青色）データを削除します。よろしいですか"), MsgButtons::YesNo,
                          MsgIcon::Question, QStringLiteral("確認")) == MsgResult::Yes;
  // Either way the file is rewritten, which also clears out any record a
  // broken earlier rewrite left marked.
  const store::StoreResult done = yes ? addressbook::deleteEntry(n) : addressbook::compact();
  if (!done.ok) {
    // The file is as it was; the boxes keep the entry that was not deleted.
    MsgBox(store::failureText(done.failure), MsgButtons::Ok, MsgIcon::Exclamation);
    ReloadAddressList();
    return;
  }
  if (yes) Label7->setText(QStringLiteral("削除が完了しました"));
  ReloadAddressList();
  Text2->clear();
  Text4->clear();
  Text50->clear();
}

void FriendForm::ExportCommand_Click() {
  const addressbook::Listing book = addressbook::readAll();
  if (book.failure) {
    MsgBox(store::failureText(book.failure), MsgButtons::Ok, MsgIcon::Exclamation);
    return;
  }
  if (book.rows == 0) {
    MsgBox(QStringLiteral("アドレス帳にデータがありません。"));
    return;
  }
  filedialog::Request ask;
  ask.kind = filedialog::Kind::Save;
  ask.title = QStringLiteral("エクスポート");
  ask.filter = QStringLiteral("vCard ファイル(*.vcf)|*.vcf");
  ask.suggestedName = QStringLiteral("アドレス帳.vcf");
  ask.defaultSuffix = QStringLiteral("vcf");
  ask.folder = QDir::homePath();
  const QString path = filedialog::choose(this, ask);
  if (path.isEmpty()) return;
  QString error;
  if (!durable::replaceFile(path, vcard::write(addressbook::exportCards(book)), -1, &error)) {
    MsgBox(QStringLiteral("ファイル「%1」に書き込めません（%2）。").arg(QDir::toNativeSeparators(path), error),
           MsgButtons::Ok, MsgIcon::Exclamation);
    return;
  }
  Label7->setText(QStringLiteral("　%1件をエクスポートしました。").arg(book.rows));
}

void FriendForm::ImportCommand_Click() {
  filedialog::Request ask;
  ask.title = QStringLiteral("インポート");
  ask.filter = QStringLiteral("vCard ファイル(*.vcf,*.vcard)|*.vcf;*.vcard|すべてのファイル(*)|*");
  ask.folder = QDir::homePath();
  const QString path = filedialog::choose(this, ask);
  if (path.isEmpty()) return;
  const QString shownPath = QDir::toNativeSeparators(path);
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) {
    MsgBox(QStringLiteral("ファイル「%1」を開けません（%2）。").arg(shownPath, f.errorString()), MsgButtons::Ok,
           MsgIcon::Exclamation);
    return;
  }
  if (f.size() > kMaxImportBytes) {
    MsgBox(QStringLiteral("ファイル「%1」は大きすぎて、アドレス帳のファイルとは思えません。").arg(shownPath), MsgButtons::Ok,
           MsgIcon::Exclamation);
    return;
  }
  const QList<vcard::Card> cards = vcard::parse(f.readAll());
  f.close();
  if (cards.isEmpty()) {
    MsgBox(QStringLiteral("ファイル「%1」には vCard の連絡先がありません。").arg(shownPath), MsgButtons::Ok,
           MsgIcon::Exclamation);
    return;
  }
  const addressbook::ImportReport rep = addressbook::importCards(cards);
  ReloadAddressList();
  MailListView->scrollToBottom();
  QString report = QStringLiteral("追加：%1件\n登録済みのため追加しなかったもの：%2件\n名前かメールアドレスを切り詰めたもの：%3件")
                       .arg(rep.added)
                       .arg(rep.skipped)
                       .arg(rep.cut);
  if (rep.withoutAddress > 0)
    report += QStringLiteral("\nメールアドレスがないため追加しなかったもの：%1件").arg(rep.withoutAddress);
  if (rep.bookFull > 0)
    report += QStringLiteral("\nアドレス帳が一杯（%1件）のため追加できなかったもの：%2件").arg(store::kMaxRecords).arg(rep.bookFull);
  if (!rep.ok) {
    MsgBox(store::failureText(rep.failure) + QStringLiteral("\n\n途中で止まりました。\n") + report, MsgButtons::Ok, MsgIcon::Exclamation);
    return;
  }
  Label7->setText(QStringLiteral("　インポートが完了しました。"));
  MsgBox(QStringLiteral("「%1」から読み込みました。\n\n").arg(QFileInfo(path).fileName()) + report, MsgButtons::Ok,
         MsgIcon::Information);
}
