#include "WriteForm.h"

#include "addressbook/book/AddressBook.h"
#include "composer/BackColor.h"
#include "composer/ComposeCore.h"
#include "composer/LampPicture.h"
#include "composer/SideList.h"
#include "facemarks/KaoForm.h"
#include "platform/SharedState.h"
#include "platform/Text.h"
#include "platform/ui/MsgBox.h"
#include "platform/ui/Twips.h"
#include "platform/ui/TypingLimit.h"
#include "platform/ui/WindowOrder.h"
#include "store/Records.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFileInfo>
#include <QFocusEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTextCursor>
#include <QToolBar>
#include <algorithm>

namespace {

QPointer<WriteForm> g_form;

// The face-mark picker's "挿入（新規作成）" puts its choice into this body.
[[maybe_unused]] const bool g_bodyOffered = [] {
  facemarks::composeBody = [] {
    WriteForm* form = WriteForm::instance();
    return facemarks::BodyTarget{form->rtfEd, form};
  };
  return true;
}();

// The two widths of the window: with the side list, and without it.
constexpr double kWideWidth = 9700;
constexpr double kNarrowWidth = 7100;
// Top of the help box when explanations are on, and out of sight when off.
constexpr double kHelpTopShown = 3600;
constexpr double kHelpTopHidden = -4000;
// The status line runs along the bottom, under the held-mail panel.
constexpr double kClientHeight = 8160;
const QString kAddressHeading = QStringLiteral("アドレス帳");
const QString kHeldHeading = QStringLiteral("保留メール");

// A radio button may be cleared although it belongs to a group, as the
// sending steps clear "一括送信" without choosing "取消".
void setOptionValue(QRadioButton* b, bool on) {
  if (on || !b->isChecked()) {
    b->setChecked(on);
    return;
  }
  b->setAutoExclusive(false);
  b->setChecked(false);
  b->setAutoExclusive(true);
}

}  // namespace

WriteForm* WriteForm::existing() { return g_form; }

WriteForm* WriteForm::instance() {
  if (!g_form) g_form = new WriteForm;
  return g_form;
}

WriteForm::WriteForm() : QMainWindow(nullptr) {
  setObjectName(QStringLiteral("WriteForm"));
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral("新規作成"));
  buildControls();
  chooseAttachment = [this] { return ComposeCore::askAttachDialog(AttachCommonDialog); };
  core_ = new ComposeCore(this, {AttachText, List2, AttachCommand, Command9, Command10, {}}, heldPanel(), Check1,
                          Label7, &chooseAttachment);
  buildMenus();
  buildToolBar();
  connectEditCommands();
  setHelpTexts();
  surface_->setMinimumHeight(twips::toPx(kClientHeight));
  fitHelpBox();
  resize(twips::toPx(kWideWidth), minimumSizeHint().height());
  Form_Load();
}

WriteForm::~WriteForm() = default;

QStringList WriteForm::stockPhrases() {
  return {
      QStringLiteral("御社益々ご清祥の事とお慶び申し上げます。"),
      QStringLiteral("平素のご愛顧誠にありがとうございます。"),
      QStringLiteral("平素は格別のご愛顧を賜り深謝申し上げます。"),
      QStringLiteral("いつもお世話になっております。"),
      QStringLiteral("メールありがとうございました。確かに受け取りました。"),
      QStringLiteral("はじめまして、突然のメールで恐縮です。"),
      QStringLiteral("こんにちわ。はじめてメールいたします。"),
      QStringLiteral("こんにちわ。お変わりなく、お元気ですか？"),
  };
}

void WriteForm::buildControls() {
  surface_ = named(new QWidget(this), "WriteSurface");
  setCentralWidget(surface_);

  const Controls c(surface_);

  // Recipient, subject and stock phrases, each with its label of the
  // Label2 array: (0) 首記例, (1) 件名, (2) 宛先.
  Label2 = {c.label("Label2", QStringLiteral("首記例"), 120, 990, 720, 300),
            c.label("Label2", QStringLiteral("件名"), 120, 570, 720, 300),
            c.label("Label2", QStringLiteral("宛先"), 120, 150, 720, 300)};
  for (int i = 0; i < Label2.size(); ++i) Label2[i]->setProperty("index", i);
  // At most 60 typed characters; a longer text set by the window itself (a
  // held mail, an address field) is kept whole and can be edited down.
  ToText = new TypedLineEdit(60, surface_);
  c.box(ToText, "ToText", QStringLiteral("宛先"), 840, 120, 3960, 330);
  Label2[2]->setBuddy(ToText);
  c.box(SubjectText, "SubjectText", QStringLiteral("件名"), 840, 540, 3960, 330);
  Label2[1]->setBuddy(SubjectText);
  Combo1 = named(new QComboBox(surface_), "Combo1");
  Combo1->setAccessibleName(QStringLiteral("首記例"));
  Combo1->setEditable(true);
  Combo1->setInsertPolicy(QComboBox::NoInsert);
  twips::place(Combo1, 840, 960, 3960, 330);
  Label2[0]->setBuddy(Combo1);
  c.button(Command7, "Command7", QStringLiteral("     宛先に貼付"), 4920, 90, 1980, 390);
  c.button(Command5, "Command5", QStringLiteral("     本文に貼付"), 4920, 510, 1980, 390);
  c.button(Command8, "Command8", QStringLiteral("　　絵・顔文字"), 4920, 930, 1980, 390);

  // The body.
  rtfEd = ComposeCore::makeBody(c, "rtfEd", {120, 1380, 6780, 3300});

  // The help box lies over the lower part of the body while it is shown.
  Text14 = named(new QPlainTextEdit(surface_), "Text14");
  Text14->setAccessibleName(QStringLiteral("説明"));
  Text14->setReadOnly(true);
  twips::place(Text14, 120, kHelpTopShown, 6780, 1080);
  Text14->hide();  // until the mouse passes over a control with a help text

  // Attachment panel.
  c.box(AttachText, "AttachText", QStringLiteral("添付ファイル"), 120, 4800, 3000, 360);
  c.button(AttachCommand, "AttachCommand", QStringLiteral("添付File"), 3180, 4785, 960, 390);
  c.button(Command9, "Command9", QStringLiteral("追加"), 4200, 4785, 720, 390);
  c.button(Command10, "Command10", QStringLiteral("取り消し"), 4980, 4785, 960, 390);
  c.button(Command16, "Command16", QStringLiteral("リスト"), 6000, 4785, 900, 390);
  List2 = ComposeCore::makeFileTitles(c, {120, 5190, 3000, 900});
  AttachCommonDialog = ComposeCore::makeAttachDialog(this);

  // Sending modes.
  Frame1 = named(new QGroupBox(surface_), "Frame1");
  Frame1->setAccessibleName(QStringLiteral("送信方法"));
  twips::place(Frame1, 3180, 5220, 2160, 660);
  Option1 = named(new QRadioButton(QStringLiteral("取消"), Frame1), "Option1");
  twips::place(Option1, 120, 180, 840, 360);
  Option2 = named(new QRadioButton(QStringLiteral("一括送信"), Frame1), "Option2");
  twips::place(Option2, 1020, 180, 1080, 360);
  Option1->setChecked(true);
  // Named after what it does: ticked, "IMEパッドの表示" closes the pad, as in
  // the reply window; nothing is attached by it. The caption needs more room
  // than there is beside the sending modes: it sits below the IME buttons,
  // right of the held-mail panel.
  Check1 = named(new QCheckBox(QStringLiteral("IMEパッドを閉じる"), surface_), "Check1");
  twips::place(Check1, 4140, 7230, 2760, 360);

  // Commands, right below the sending modes and the file titles' list.
  c.button(Command1, "Command1", QStringLiteral("送信"), 120, 6150, 1260, 420);
  c.button(Command3, "Command3", QStringLiteral("    送信中止"), 1440, 6150, 1560, 420);
  c.button(Command4, "Command4", QStringLiteral("   アドレス帳"), 3060, 6150, 1860, 420);
  c.button(Command6, "Command6", QStringLiteral("     サイズ（小）"), 4980, 6150, 1920, 420);
  c.button(Command17, "Command17", QStringLiteral("下書き"), 120, 6630, 1260, 420);
  c.button(Command11, "Command11", QStringLiteral("IMEパッドの説明"), 1440, 6630, 2040, 420);
  c.button(Command12, "Command12", QStringLiteral("IMEパッドの表示"), 3540, 6630, 2040, 420);

  // Held-mail panel.
  ComposeCore::makeHeldPanel(this, c, {120, 7110, 3900, 600}, 60, 60, {1200, 420});

  // A status line along the bottom, empty but while a send runs or after
  // one failed: screen readers read what it shows, so it gets no name.
  Label7 = c.label("Label7", QString(), 120, 7770, 6780, 330);

  // Side list, beyond the narrow width.
  Label1 = c.label("Label1", kAddressHeading, 7200, 120, 2300, 300);
  List1 = named(new SideList(surface_), "List1");
  List1->setAccessibleName(kAddressHeading);
  twips::place(List1, 7200, 420, 2300, 5400);
  // Names are stored padded to 90 characters: no sideways scrolling for that.
  List1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  List1->setTextElideMode(Qt::ElideNone);
  List1->setUniformItemSizes(true);
  Label1->setBuddy(List1);
  Label3 = c.label("Label3", QStringLiteral("件数"), 7200, 5970, 700, 300);
  c.box(Text1, "Text1", QStringLiteral("件数"), 7920, 5940, 1000, 330);
  Text1->setReadOnly(true);
  Label3->setBuddy(Text1);
  c.box(Text2, "Text2", QStringLiteral("行の選択"), 7200, 6300, 600, 330);
  Text2->hide();
  Picture3 = named(new QLabel(surface_), "Picture3");
  Picture3->setAccessibleName(QStringLiteral("灯りの絵"));
  twips::place(Picture3, 7200, 6420, 2300, 1440);
  Picture3->setPixmap(paintLamp(Picture3->size()));

  connect(Command1, &QPushButton::clicked, this, &WriteForm::SendComposedMail);
  connect(Command3, &QPushButton::clicked, this, &WriteForm::Command3_Click);
  connect(Command4, &QPushButton::clicked, this, &WriteForm::Command4_Click);
  connect(Command6, &QPushButton::clicked, this, &WriteForm::Command6_Click);
  connect(Option1, &QRadioButton::toggled, this, [this](bool on) {
    if (on) Option1_Click();
  });
  connect(Option2, &QRadioButton::toggled, this, [this](bool on) {
    if (on) Option2_Click();
  });
  connect(List1, &SideList::mouseDown, this, &WriteForm::List1_MouseDown);
  connect(Command16, &QPushButton::clicked, this, &WriteForm::Command16_Click);
  ComposeCore::connectButtons(this);
  Combo1->installEventFilter(this);
  // A changed subject, body or attachment list makes another mail, which
  // every address gets, those of an earlier partly failed run included.
  for (QLineEdit* e : {SubjectText, AttachText}) connect(e, &QLineEdit::textChanged, this, [this] { served_.clear(); });
  connect(rtfEd, &QPlainTextEdit::textChanged, this, [this] { served_.clear(); });
  // Recipient, subject, body: the order a mail is written in. The phrase box
  // replaces the body when it is left, so Tab from the subject must not pass
  // through it; it follows the body.
  setTabOrder(ToText, SubjectText);
  setTabOrder(SubjectText, rtfEd);
  setTabOrder(rtfEd, Combo1);
}

void WriteForm::buildMenus() {
  addBodyMenus(menuBar(), QStringLiteral("編集"), [](QMenu*) {},
               [this](QMenu* edit) { mline3 = addNamedSeparator(edit, "mline3"); });
}

void WriteForm::buildToolBar() {
  tbToolBar = addToolBar(QStringLiteral("ツールバー"));
  toolBar_.setUp(tbToolBar);
  // The bar stays: a right-click offers no menu that would hide it.
  tbToolBar->setContextMenuPolicy(Qt::PreventContextMenu);
  toolBar_.add("New", [this] { mnew_Click(); });
  toolBar_.add("Open", [this] { mopen_Click(); });
  toolBar_.add("Print", [this] { mprint_Click(); });
  toolBar_.add("Cut", [this] { mcut_Click(); });
  toolBar_.add("Copy", [this] { mcopy_Click(); });
  toolBar_.add("Paste", [this] { mpaste_Click(); });
  toolBar_.add("Bold", [this] { core_->body().toggle(textproc::FontStyle::Bold); });
  toolBar_.add("Italic", [this] { core_->body().toggle(textproc::FontStyle::Italic); });
  toolBar_.add("Underline", [this] { core_->body().toggle(textproc::FontStyle::Underline); });
}

void WriteForm::connectEditCommands() {
  connectBodyMenus(this);
  connect(tbToolBar, &QToolBar::actionTriggered, this, [this](QAction* a) { tbToolBar_ButtonClick(a->objectName()); });
  connect(Command5, &QPushButton::clicked, this, &WriteForm::Command5_Click);
  connect(Command7, &QPushButton::clicked, this, &WriteForm::Command7_Click);
}

bool WriteForm::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (type == QEvent::Enter || type == QEvent::MouseMove) {
    if (!help_.showIn(watched, Text14) && helpHiders_.contains(qobject_cast<QWidget*>(watched))) Text14->hide();
  } else if (type == QEvent::FocusOut && watched == Combo1) {
    // Opening the drop-down, leaving the window or a dialog taking the
    // focus is no move to another control of the window.
    const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
    const QWidget* now = QApplication::focusWidget();
    if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason && (!now || now->window() == this))
      Combo1_LostFocus();
  }
  return QMainWindow::eventFilter(watched, event);
}

void WriteForm::setOuterWidthTwips(double width) {
  const int frame = frameGeometry().width() - geometry().width();
  resize(std::max(1, twips::toPx(width) - frame), height());
}

void WriteForm::fillMail(const QString& to, const QString& subject, const QString& body) {
  ToText->setText(to);
  SubjectText->setText(subject);
  rtfEd->setPlainText(body);
}

bool WriteForm::holdsMail() const {
  return !ToText->text().isEmpty() || !SubjectText->text().isEmpty() || !rtfEd->toPlainText().isEmpty() ||
         !AttachText->text().isEmpty();
}

void WriteForm::sendToRecipientsOnly() {
  if (Option2->isChecked()) Option1->setChecked(true);
}

void WriteForm::showNote(const QString& text) { Label7->setText(text); }

void WriteForm::Form_Load() {
  // Above every window that is not kept on top, and shown.
  SetWindowPos(this, HWND_TOPMOST);
  // It opens at the width that shows the side list; the frame is known now.
  setOuterWidthTwips(kWideWidth);
  Picture7->hide();
  setBackColor(List1, colors::white);
  setBackColor(ToText, colors::white);
  ToText->setEnabled(true);
  List1->setEnabled(true);
  List2->hide();
  RowRecordMap.clear();
  // An empty box, so that leaving it untouched keeps the body.
  Combo1->clear();
  Combo1->addItems(stockPhrases());
  Combo1->setCurrentIndex(-1);
  Combo1->setEditText(QString());
  Option2->setEnabled(true);
  // The help box in view only while the main window shows explanations.
  if (shared::MainWindow.explanations) {
    const double top = shared::MainWindow.explanations() == Qt::Checked ? kHelpTopShown : kHelpTopHidden;
    twips::move(Text14, twips::left(Text14), top);
  }
  shared::ListSource = 0;
  LoadAddressList();
  core_->tellImeInUse();
}

void WriteForm::LoadAddressList() {
  List1->clear();
  RowRecordMap.clear();
  const addressbook::Listing book = addressbook::readAll();
  QStringList names;
  for (int row = 0; row < book.rows; ++row) {
    names << book.entry(row).name();
    RowRecordMap << int16_t(row + 1);
  }
  List1->addItems(names);  // one insertion for the whole book
  addressRows_ = book.records;
  const QFileInfo listed(addressbook::addressFile());
  addressFileStamp_ = {listed.size(), listed.lastModified()};
  Text1->setText(QString::number(List1->count()));
}

void WriteForm::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  // Back from the address book window (or anything else that changed the
  // file): the list shows the book as it is now.
  if (event->type() != QEvent::ActivationChange || !isActiveWindow() || heldInList_) return;
  const QFileInfo now(addressbook::addressFile());
  if (std::pair(now.size(), now.lastModified()) != addressFileStamp_) LoadAddressList();
}

void WriteForm::showSideListHeading(bool held) {
  const QString heading = held ? kHeldHeading : kAddressHeading;
  Label1->setText(heading);
  List1->setAccessibleName(heading);
}

void WriteForm::Command4_Click() {
  showSideListHeading(false);
  List1->clear();
  setBackColor(List1, colors::white);
  setOuterWidthTwips(kWideWidth);
  shared::ListSource = 0;
  heldInList_ = false;
  LoadAddressList();
}

void WriteForm::Command6_Click() {
  setOuterWidthTwips(kNarrowWidth);
  setBackColor(List1, colors::white);
}

void WriteForm::List1_MouseDown() {
  Text2->setText(QStringLiteral("1"));
  // A held mail is picked by the held-mail panel's own steps.
  if (heldInList_) {
    core_->pickHeld();
    return;
  }
  const int row = List1->currentRow();
  if (row < 0 || row >= RowRecordMap.size() || !List1->item(row)->isSelected()) {
    MsgBox(QStringLiteral("データが選択されていません"), MsgButtons::Ok, MsgIcon::Exclamation);
    List1->setFocus();
    return;
  }
  store::AddressRecord picked;
  store::StoreFailure failure;
  const bool read = addressbook::readEntry(RowRecordMap[row], picked, &failure);
  if (!read && failure) return;  // unreadable: nothing to list anew either
  // The address book window renumbers the file when it deletes: a row
  // listed before may stand for another person now.
  constexpr int L = store::AddressRecord::kLength;
  if (!read || picked.bytes() != addressRows_.mid(qsizetype(row) * L, L)) {
    MsgBox(QStringLiteral("アドレス帳の一覧が古くなっていたため、読み直しました。もう一度選択して下さい。"), MsgButtons::Ok,
           MsgIcon::Exclamation);
    LoadAddressList();
    return;
  }
  ToText->setText(text::trimSpaces(picked.address().left(60)));
}

void WriteForm::Combo1_LostFocus() {
  // One edit of the body, so that Ctrl+Z brings back what it replaced.
  const QString phrase = Combo1->currentText();
  if (rtfEd->toPlainText() == phrase) return;
  QTextCursor all(rtfEd->document());
  all.beginEditBlock();
  all.select(QTextCursor::Document);
  all.insertText(phrase);
  all.endEditBlock();
}

void WriteForm::Option2_Click() {
  served_.clear();
  ToText->clear();
  ToText->setEnabled(false);
  setBackColor(ToText, colors::allAddresses);
  setBackColor(List1, colors::green);
  const MsgResult answer =
      MsgBox(QStringLiteral("アドレス帳に登録しているメールアドレスすべてに同様の件名、本文で送信します。\n\n"
                            "件名、本文入力完了後、送信ボタンをクリックして下さい。"),
             MsgButtons::YesNo, MsgIcon::Question, QStringLiteral("確認"));
  if (answer != MsgResult::Yes) {
    setBackColor(List1, colors::white);
    setBackColor(ToText, colors::white);
    setOptionValue(Option2, false);
  }
}

void WriteForm::Option1_Click() {
  served_.clear();
  ToText->clear();
  setBackColor(List1, colors::white);
  ToText->setEnabled(true);
  setBackColor(ToText, colors::white);
}

void WriteForm::SendComposedMail() {
  Command9->setEnabled(false);
  List2->hide();
  AttachCommand->setEnabled(true);
  // A run that did not reach everyone keeps the mail in the window as it is.
  if (!(Option2->isChecked() ? core_->sendToEveryAddress(served_) : core_->sendTyped())) return;
  ToText->clear();
  SubjectText->clear();
  rtfEd->clear();
  Check1->setChecked(false);
  AttachText->clear();
  setOptionValue(Option2, false);
  setBackColor(List1, colors::green);
  close();
}

void WriteForm::Command3_Click() { close(); }

void WriteForm::AttachCommand_Click() { core_->attachFirst(); }
void WriteForm::Command9_Click() { core_->attachMore(); }
void WriteForm::Command10_Click() { core_->cancelAttachments(); }

void WriteForm::Command16_Click() {
  if ((AttachListCounter & 1) == 0) {
    setBackColor(Command16, colors::yellow);
    Command16->setText(QStringLiteral("非表示"));
    List2->hide();
  } else {
    setBackColor(Command16, colors::lightGrey);
    Command16->setText(QStringLiteral("表示"));
    List2->show();
  }
  ++AttachListCounter;
}

HeldPanel WriteForm::heldPanel() {
  HeldPanel p{ToText, SubjectText, rtfEd, List1, Text1, Text2, Command17, Picture7, &RowRecordMap, {}, {}};
  p.listHoldsHeld = [this] { return heldInList_; };
  p.showHeldList = [this] {
    setOuterWidthTwips(kWideWidth);
    showSideListHeading(true);
    heldInList_ = true;
  };
  return p;
}

void WriteForm::Command17_Click() { core_->toggleDraft(); }
void WriteForm::Command13_Click() { core_->holdMail(); }
void WriteForm::Command14_Click() { core_->recallHeld(); }
void WriteForm::Command15_Click() { core_->deleteHeld(); }

void WriteForm::mnew_Click() { core_->body().newDocument(); }

void WriteForm::mopen_Click() {
  // Body changes here leave DocumentModified alone: no handler sets it.
  const QString read = core_->body().openTextFile();
  if (!read.isEmpty()) openedFile_ = read;
}

void WriteForm::msave_Click() { core_->body().saveTextAs(openedFile_); }
void WriteForm::mprint_Click() { core_->body().print(); }
// What was typed and not held is gone with the window, unasked.
void WriteForm::mend_Click() { close(); }
void WriteForm::mall_Click() { core_->body().selectAll(); }
void WriteForm::matamajump_Click() { core_->body().jumpToStart(); }
void WriteForm::mbunmatujump_Click() { core_->body().jumpToEnd(); }
void WriteForm::mcut_Click() { core_->body().cut(); }
void WriteForm::mcopy_Click() { core_->body().copy(); }
// A paste leaves nothing selected: there is no selection to reset after it.
void WriteForm::mpaste_Click() { core_->body().paste(); }
void WriteForm::tbToolBar_ButtonClick(const QString& key) { toolBar_.click(key); }

void WriteForm::Command5_Click() { core_->pasteIntoBody(); }
void WriteForm::Command7_Click() { core_->pasteIntoRecipient(); }
void WriteForm::Command8_Click() { core_->showFaceMarks(); }
void WriteForm::Command11_Click() { core_->showImeExplanation(); }
void WriteForm::Command12_Click() { core_->toggleImePad(); }
