#include "WriteForm.h"
#include "platform/ui/NamedMenu.h"

#include "composer/AttachPanel.h"
#include "composer/BackColor.h"
#include "composer/HeldPanel.h"
#include "composer/IMEForm.h"
#include "composer/SideList.h"
#include "composer/send/MailSend.h"
#include "facemarks/KaoForm.h"
#include "platform/Paths.h"
#include "platform/SharedState.h"
#include "platform/Text.h"
#include "platform/ui/BodyBox.h"
#include "platform/ui/Icons.h"
#include "platform/ui/Ime.h"
#include "platform/ui/MsgBox.h"
#include "platform/ui/Twips.h"
#include "platform/ui/TypingLimit.h"
#include "platform/ui/WindowOrder.h"
#include "settings/CertForm.h"
#include "settings/OptionSignIn.h"
#include "store/RecordFile.h"
#include "store/Records.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFocusEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QRadialGradient>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <QToolBar>
#include <QValidator>
#include <algorithm>
#include <cmath>

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

// A lamp for the corner of the window.
QPixmap paintLamp(const QSize& size) {
  QPixmap pm(size);
  pm.fill(QColor(40, 30, 60));
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  const QPointF c(size.width() / 2.0, size.height() * 0.45);
  const double r = std::min(size.width(), size.height()) * 0.42;
  QRadialGradient glow(c, r);
  glow.setColorAt(0, QColor(255, 220, 140, 230));
  glow.setColorAt(1, QColor(255, 160, 60, 0));
  p.setBrush(glow);
  p.setPen(Qt::NoPen);
  p.drawEllipse(c, r, r);
  QPainterPath flame;
  flame.moveTo(c.x(), c.y() - r * 0.45);
  flame.cubicTo(c.x() + r * 0.22, c.y() - r * 0.1, c.x() + r * 0.15, c.y() + r * 0.2, c.x(), c.y() + r * 0.2);
  flame.cubicTo(c.x() - r * 0.15, c.y() + r * 0.2, c.x() - r * 0.22, c.y() - r * 0.1, c.x(), c.y() - r * 0.45);
  p.setBrush(QColor(255, 245, 200));
  p.drawPath(flame);
  p.setBrush(QColor(120, 70, 40));
  p.drawRect(QRectF(c.x() - r * 0.35, c.y() + r * 0.28, r * 0.7, r * 0.12));
  return pm;
}

const QString kSending = QStringLiteral("メールを送信中です。しばらくお待ち下さい。");

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
  chooseAttachment = [this] { return openAttachmentDialog(); };
  buildControls();
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
  surface_ = new QWidget(this);
  surface_->setObjectName(QStringLiteral("WriteSurface"));
  setCentralWidget(surface_);

  auto button = [&](QPushButton*& b, const char* name, const QString& caption, QWidget* parent, double l, double t,
                    double w, double h) {
    b = new QPushButton(caption, parent);
    b->setObjectName(QString::fromLatin1(name));
    twips::place(b, l, t, w, h);
  };
  auto box = [&](QLineEdit*& e, const char* name, const QString& accessible, double l, double t, double w, double h) {
    if (!e) e = new QLineEdit(surface_);
    e->setObjectName(QString::fromLatin1(name));
    e->setAccessibleName(accessible);
    twips::place(e, l, t, w, h);
  };
  auto label = [&](const char* name, const QString& caption, double l, double t, double w, double h) {
    auto* lb = new QLabel(caption, surface_);
    lb->setObjectName(QString::fromLatin1(name));
    twips::place(lb, l, t, w, h);
    return lb;
  };

  // Recipient, subject and stock phrases, each with its label of the
  // Label2 array: (0) 首記例, (1) 件名, (2) 宛先.
  Label2 = {label("Label2", QStringLiteral("首記例"), 120, 990, 720, 300),
            label("Label2", QStringLiteral("件名"), 120, 570, 720, 300),
            label("Label2", QStringLiteral("宛先"), 120, 150, 720, 300)};
  for (int i = 0; i < Label2.size(); ++i) Label2[i]->setProperty("index", i);
  // At most 60 typed characters; a longer text set by the window itself (a
  // held mail, an address field) is kept whole and can be edited down.
  ToText = new TypedLineEdit(60, surface_);
  box(ToText, "ToText", QStringLiteral("宛先"), 840, 120, 3960, 330);
  Label2[2]->setBuddy(ToText);
  box(SubjectText, "SubjectText", QStringLiteral("件名"), 840, 540, 3960, 330);
  Label2[1]->setBuddy(SubjectText);
  Combo1 = new QComboBox(surface_);
  Combo1->setObjectName(QStringLiteral("Combo1"));
  Combo1->setAccessibleName(QStringLiteral("首記例"));
  Combo1->setEditable(true);
  Combo1->setInsertPolicy(QComboBox::NoInsert);
  twips::place(Combo1, 840, 960, 3960, 330);
  Label2[0]->setBuddy(Combo1);
  button(Command7, "Command7", QStringLiteral("     宛先に貼付"), surface_, 4920, 90, 1980, 390);
  button(Command5, "Command5", QStringLiteral("     本文に貼付"), surface_, 4920, 510, 1980, 390);
  button(Command8, "Command8", QStringLiteral("　　絵・顔文字"), surface_, 4920, 930, 1980, 390);

  // The body.
  rtfEd = new QPlainTextEdit(surface_);
  rtfEd->setObjectName(QStringLiteral("rtfEd"));
  rtfEd->setAccessibleName(QStringLiteral("本文"));
  rtfEd->setFont(QFont(QStringLiteral("ＭＳ ゴシック"), 11));
  twips::place(rtfEd, 120, 1380, 6780, 3300);

  // The help box lies over the lower part of the body while it is shown.
  Text14 = new QPlainTextEdit(surface_);
  Text14->setObjectName(QStringLiteral("Text14"));
  Text14->setAccessibleName(QStringLiteral("説明"));
  Text14->setReadOnly(true);
  twips::place(Text14, 120, kHelpTopShown, 6780, 1080);
  Text14->hide();  // until the mouse passes over a control with a help text

  // Attachment panel.
  box(AttachText, "AttachText", QStringLiteral("添付ファイル"), 120, 4800, 3000, 360);
  button(AttachCommand, "AttachCommand", QStringLiteral("添付File"), surface_, 3180, 4785, 960, 390);
  button(Command9, "Command9", QStringLiteral("追加"), surface_, 4200, 4785, 720, 390);
  button(Command10, "Command10", QStringLiteral("取り消し"), surface_, 4980, 4785, 960, 390);
  button(Command16, "Command16", QStringLiteral("リスト"), surface_, 6000, 4785, 900, 390);
  List2 = new QListWidget(surface_);
  List2->setObjectName(QStringLiteral("List2"));
  List2->setAccessibleName(QStringLiteral("添付ファイル一覧"));
  twips::place(List2, 120, 5190, 3000, 900);
  AttachCommonDialog = new QFileDialog(this);
  AttachCommonDialog->setObjectName(QStringLiteral("AttachCommonDialog"));
  AttachCommonDialog->setFileMode(QFileDialog::ExistingFile);
  AttachCommonDialog->setWindowTitle(QStringLiteral("添付ファイル"));

  // Sending modes.
  Frame1 = new QGroupBox(surface_);
  Frame1->setObjectName(QStringLiteral("Frame1"));
  Frame1->setAccessibleName(QStringLiteral("送信方法"));
  twips::place(Frame1, 3180, 5220, 2160, 660);
  Option1 = new QRadioButton(QStringLiteral("取消"), Frame1);
  Option1->setObjectName(QStringLiteral("Option1"));
  twips::place(Option1, 120, 180, 840, 360);
  Option2 = new QRadioButton(QStringLiteral("一括送信"), Frame1);
  Option2->setObjectName(QStringLiteral("Option2"));
  twips::place(Option2, 1020, 180, 1080, 360);
  Option1->setChecked(true);
  // Named after what it does: ticked, "IMEパッドの表示" closes the pad, as in
  // the reply window; nothing is attached by it. The caption needs more room
  // than there is beside the sending modes: it sits below the IME buttons,
  // right of the held-mail panel.
  Check1 = new QCheckBox(QStringLiteral("IMEパッドを閉じる"), surface_);
  Check1->setObjectName(QStringLiteral("Check1"));
  twips::place(Check1, 4140, 7230, 2760, 360);

  // Commands, right below the sending modes and the file titles' list.
  button(Command1, "Command1", QStringLiteral("送信"), surface_, 120, 6150, 1260, 420);
  button(Command3, "Command3", QStringLiteral("    送信中止"), surface_, 1440, 6150, 1560, 420);
  button(Command4, "Command4", QStringLiteral("   アドレス帳"), surface_, 3060, 6150, 1860, 420);
  button(Command6, "Command6", QStringLiteral("     サイズ（小）"), surface_, 4980, 6150, 1920, 420);
  button(Command17, "Command17", QStringLiteral("下書き"), surface_, 120, 6630, 1260, 420);
  button(Command11, "Command11", QStringLiteral("IMEパッドの説明"), surface_, 1440, 6630, 2040, 420);
  button(Command12, "Command12", QStringLiteral("IMEパッドの表示"), surface_, 3540, 6630, 2040, 420);

  // Held-mail panel.
  Picture7 = new QFrame(surface_);
  Picture7->setObjectName(QStringLiteral("Picture7"));
  Picture7->setAccessibleName(QStringLiteral("下書き"));
  Picture7->setFrameShape(QFrame::Panel);
  Picture7->setFrameShadow(QFrame::Raised);
  twips::place(Picture7, 120, 7110, 3900, 600);
  button(Command13, "Command13", QStringLiteral("保存"), Picture7, 60, 60, 1200, 420);
  button(Command14, "Command14", QStringLiteral("呼出"), Picture7, 1320, 60, 1200, 420);
  button(Command15, "Command15", QStringLiteral("削除"), Picture7, 2580, 60, 1200, 420);

  // A status line along the bottom, empty but while a send runs or after
  // one failed: screen readers read what it shows, so it gets no name.
  Label7 = label("Label7", QString(), 120, 7770, 6780, 330);

  // Side list, beyond the narrow width.
  Label1 = label("Label1", kAddressHeading, 7200, 120, 2300, 300);
  List1 = new SideList(surface_);
  List1->setObjectName(QStringLiteral("List1"));
  List1->setAccessibleName(kAddressHeading);
  twips::place(List1, 7200, 420, 2300, 5400);
  // Names are stored padded to 90 characters: no sideways scrolling for that.
  List1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  List1->setTextElideMode(Qt::ElideNone);
  List1->setUniformItemSizes(true);
  Label1->setBuddy(List1);
  Label3 = label("Label3", QStringLiteral("件数"), 7200, 5970, 700, 300);
  box(Text1, "Text1", QStringLiteral("件数"), 7920, 5940, 1000, 330);
  Text1->setReadOnly(true);
  Label3->setBuddy(Text1);
  box(Text2, "Text2", QStringLiteral("行の選択"), 7200, 6300, 600, 330);
  Text2->hide();
  Picture3 = new QLabel(surface_);
  Picture3->setObjectName(QStringLiteral("Picture3"));
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
  connect(AttachCommand, &QPushButton::clicked, this, &WriteForm::AttachCommand_Click);
  connect(Command9, &QPushButton::clicked, this, &WriteForm::Command9_Click);
  connect(Command10, &QPushButton::clicked, this, &WriteForm::Command10_Click);
  connect(Command16, &QPushButton::clicked, this, &WriteForm::Command16_Click);
  connect(Command17, &QPushButton::clicked, this, &WriteForm::Command17_Click);
  connect(Command13, &QPushButton::clicked, this, &WriteForm::Command13_Click);
  connect(Command14, &QPushButton::clicked, this, &WriteForm::Command14_Click);
  connect(Command15, &QPushButton::clicked, this, &WriteForm::Command15_Click);
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
  mFile = menuBar()->addMenu(QStringLiteral("ファイル(&F)"));
  mFile->setObjectName(QStringLiteral("mFile"));
  mnew = addNamedItem(mFile, "mnew", QStringLiteral("新規作成"));
  mopen = addNamedItem(mFile, "mopen", QStringLiteral("開く"));
  // Where the viewer has it: a file opened into the body can be kept.
  msave = addNamedItem(mFile, "msave", QStringLiteral("名前を付けて保存"));
  mprint = addNamedItem(mFile, "mprint", QStringLiteral("印刷"));
  mline = addNamedSeparator(mFile, "mline");
  mend = addNamedItem(mFile, "mend", QStringLiteral("終了"));
  medit = menuBar()->addMenu(QStringLiteral("編集"));
  medit->setObjectName(QStringLiteral("medit"));
  mall = addNamedItem(medit, "mall", QStringLiteral("全て選択"));
  matamajump = addNamedItem(medit, "matamajump", QStringLiteral("文頭へジャンプ"));
  mbunmatujump = addNamedItem(medit, "mbunmatujump", QStringLiteral("文末へジャンプ"));
  mline3 = addNamedSeparator(medit, "mline3");
  mcut = addNamedItem(medit, "mcut", QStringLiteral("切り取り"));
  mcopy = addNamedItem(medit, "mcopy", QStringLiteral("コピー"));
  mpaste = addNamedItem(medit, "mpaste", QStringLiteral("貼り付け"));
}

void WriteForm::buildToolBar() {
  tbToolBar = addToolBar(QStringLiteral("ツールバー"));
  tbToolBar->setObjectName(QStringLiteral("tbToolBar"));
  tbToolBar->setAccessibleName(QStringLiteral("ツールバー"));
  // The bar stays: a right-click offers no menu that would hide it.
  tbToolBar->setContextMenuPolicy(Qt::PreventContextMenu);
  tbToolBar->setMovable(false);
  tbToolBar->setFloatable(false);
  tbToolBar->setIconSize(QSize(16, 16));
  const struct {
    const char* key;
    const char* theme;
    QString glyph;
    QString tip;
  } buttons[] = {
      {"New", "document-new", QStringLiteral("新"), QStringLiteral("新規作成")},
      {"Open", "document-open", QStringLiteral("開"), QStringLiteral("開く")},
      {"Print", "document-print", QStringLiteral("印"), QStringLiteral("印刷")},
      {"Cut", "edit-cut", QStringLiteral("切"), QStringLiteral("切り取り")},
      {"Copy", "edit-copy", QStringLiteral("写"), QStringLiteral("ｺﾋﾟｰ")},
      {"Paste", "edit-paste", QStringLiteral("貼"), QStringLiteral("貼り付け")},
      {"Bold", "format-text-bold", QStringLiteral("B"), QStringLiteral("太字")},
      {"Italic", "format-text-italic", QStringLiteral("I"), QStringLiteral("斜体")},
      {"Underline", "format-text-underline", QStringLiteral("U"), QStringLiteral("下線")},
  };
  for (const auto& b : buttons) {
    const QString key = QString::fromLatin1(b.key);
    QAction* a = tbToolBar->addAction(icons::toolIcon(QString::fromLatin1(b.theme), b.glyph), b.tip);
    a->setObjectName(key);
    a->setToolTip(b.tip);
    toolButtons_.insert(key, a);
  }
}

void WriteForm::connectEditCommands() {
  connect(mnew, &QAction::triggered, this, &WriteForm::mnew_Click);
  connect(mopen, &QAction::triggered, this, &WriteForm::mopen_Click);
  connect(msave, &QAction::triggered, this, &WriteForm::msave_Click);
  connect(mprint, &QAction::triggered, this, &WriteForm::mprint_Click);
  connect(mend, &QAction::triggered, this, &WriteForm::mend_Click);
  connect(mall, &QAction::triggered, this, &WriteForm::mall_Click);
  connect(matamajump, &QAction::triggered, this, &WriteForm::matamajump_Click);
  connect(mbunmatujump, &QAction::triggered, this, &WriteForm::mbunmatujump_Click);
  connect(mcut, &QAction::triggered, this, &WriteForm::mcut_Click);
  connect(mcopy, &QAction::triggered, this, &WriteForm::mcopy_Click);
  connect(mpaste, &QAction::triggered, this, &WriteForm::mpaste_Click);
  connect(tbToolBar, &QToolBar::actionTriggered, this, [this](QAction* a) { tbToolBar_ButtonClick(a->objectName()); });
  connect(Command5, &QPushButton::clicked, this, &WriteForm::Command5_Click);
  connect(Command7, &QPushButton::clicked, this, &WriteForm::Command7_Click);
  connect(Command8, &QPushButton::clicked, this, &WriteForm::Command8_Click);
  connect(Command11, &QPushButton::clicked, this, &WriteForm::Command11_Click);
  connect(Command12, &QPushButton::clicked, this, &WriteForm::Command12_Click);
  connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
    if (now == ToText || now == SubjectText || now == rtfEd) lastTextBox_ = now;
  });
}

void WriteForm::setHelpText(QWidget* control, const QString& text) {
  helpTexts_.insert(control, text);
  control->installEventFilter(this);
}

void WriteForm::hideHelpOver(QWidget* control) {
  helpHiders_ << control;
  control->installEventFilter(this);
}

void WriteForm::setHelpTexts() {
  const QString crlf = QStringLiteral("\r\n");
  setHelpText(AttachCommand,
              QStringLiteral("各種ファイルを添付して送信できます。１個の添付ファイルの際に使用します。") + crlf +
                  QStringLiteral("２個目からは「追加」ボタンをクリックして下さい。一覧リストが表示されます。送信メール１件について１０個までの送信が可能です。") +
                  crlf + QStringLiteral("添付ファイルを中止したい時は「取り消し」ボタンをクリック！") + crlf +
                  QStringLiteral("添付ファイルを複数選択した際に表示される一覧リストが邪魔なときは「リスト」をクリックして下さい。一覧リストの一時的な表示・非表示が出来ます。表示・非表示を行うだけで、選択したファイルが取り消される訳ではありません。"));
  setHelpText(Command9, QStringLiteral("添付ファイルを複数送信する際に使用します。確認しやすいように、リストボックスが表示されます。"));
  setHelpText(Command10, QStringLiteral("添付ファイルの内容をクリアします。"));
  setHelpText(Command16, QStringLiteral("添付ファイルを複数選択した際、リストが自動的に表示されます。このリストの表示、非表示を操作します。リストが非表示になっても、選択したファイルがクリアされた訳ではありません。クリアする場合は「取り消し」か「クリア」をクリックして下さい。"));
  setHelpText(Command5, QStringLiteral("コピーした内容を本文に貼り付けますコピーは本ソフト、あるいは別のアプリからでも可能です。"));
  setHelpText(Command7, QStringLiteral("コピーした内容を宛先に貼り付けます。コピーは本ソフト、あるいは別のアプリからでも可能です。"));
  setHelpText(Check1, QStringLiteral("チェックを入れて「IMEパッドの表示」をクリックすると、IMEパッドを閉じます。チェックを外してクリックすると、IMEパッドを表示します。"));
  setHelpText(Command13, QStringLiteral("記入途中、あるいは書き終えたメールを保留（保存）とします。書き溜めておいて後でまとめて送信する場合に便利です。"));
  setHelpText(Command14, QStringLiteral("保留（保存）扱いとしておいたメールデータを呼び出します。呼び出されたメールデータは右側のアドレス欄に件名のみが表示されます。マウスで選択すると、メールアドレス、件名、本文に自動的に挿入されます。"));
  setHelpText(Command15, QStringLiteral("保留（保存）扱いとしていたメールデータの削除を１件単位で行います。"));
  setHelpText(Command17, QStringLiteral("「下書き機能」です。予め作成しておいた「ひな型」を使用すれば非常に迅速にメールが書けます。"));
  setHelpText(Command4, QStringLiteral("このフォーム（新規作成）が拡張され、登録したメールアドレスの名称が一覧（リスト）に現れます。送信したい名称をクリックすると、メールアドレスが自動的に入力されます。"));
  setHelpText(Command6, QStringLiteral("アドレス帳を含むサイズから、元のサイズに戻します。"));
  setHelpText(Command11, QStringLiteral("宛先、件名、本文他、設定等が初期状態に戻せます。"));
  setHelpText(Command1, QStringLiteral("送信します。電話回線が接続されていない場合は、自動的に接続してメールを送信します。"));
  setHelpText(Command3, QStringLiteral("送信を中止します。"));
  setHelpText(Command8,
              QStringLiteral("顔・絵文字の本文への挿入を行います。") + crlf + crlf +
                  QStringLiteral("使用方法：使用したい顔・絵文字をマウスで選択状態（青色反転）にし、「新規作成本文に挿入」ボタンを。") +
                  QStringLiteral("クリックしますと、本分中に挿入されます。") + crlf + crlf +
                  QStringLiteral("素材の県名や氏名、電話番号はあなた用に変更してご使用下さい。画面を終了させると自動的に保存されます。") + crlf +
                  QStringLiteral("上手な使用方法：素材が豊富ですので、お気に入りに追加しておいた方が良いでしょう。") + crlf +
                  QStringLiteral("お気に入りに追加（注意:IEではありません）する場合も、マウスで選択状態にし、顔・絵文字画面での「お気に入りに追加」ボタンをクリックして下さい。"));
  for (QLabel* l : Label2)
    setHelpText(l, QStringLiteral("本文の冒頭に例文を貼り付けます。プルダウンから選択し、本文をクリックすると内容が貼り付けられます。"));
  setHelpText(Option2, QStringLiteral("アドレス帳に登録しているメールアドレスすべてに同様の件名、本文で送信します。") + crlf + crlf +
                           QStringLiteral("件名、本文入力完了後、送信ボタンをクリックして下さい。"));
  hideHelpOver(Frame1);
  hideHelpOver(rtfEd);
  hideHelpOver(rtfEd->viewport());
  hideHelpOver(Picture3);
}

int WriteForm::helpBoxHeightFor(const QString& help) const {
  // Laid out line by line as the box lays out plain text, at the width it
  // shows it.
  const QTextDocument* doc = Text14->document();
  const qreal margin = doc->documentMargin();
  const int frame = Text14->frameWidth();
  const qreal width = Text14->width() - 2 * frame - 2 * margin;
  QString shown = help;
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  qreal height = 0;
  for (const QString& paragraph : shown.split(u'\n')) {
    QTextLayout layout(paragraph, Text14->font());
    layout.setTextOption(doc->defaultTextOption());
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
      line.setLeadingIncluded(true);
      line.setLineWidth(width);
      height += line.height();
    }
    layout.endLayout();
  }
  // The margin above and below the text, and one pixel the box keeps free
  // under its last line before it offers to scroll.
  return int(std::ceil(height + 2 * margin)) + 1 + 2 * frame;
}

void WriteForm::fitHelpBox() {
  // The help box shows its longest text whole. It lies over the body, so
  // the body grows under it and everything below the body moves down.
  int need = Text14->height();
  for (const QString& help : std::as_const(helpTexts_)) need = std::max(need, helpBoxHeightFor(help));
  Text14->resize(Text14->width(), need);
  const int bodyEnd = rtfEd->y() + rtfEd->height();
  const int grow = std::max(0, Text14->y() + need - bodyEnd);
  if (grow == 0) return;
  for (QWidget* w : surface_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    if (w->y() >= bodyEnd) w->move(w->x(), w->y() + grow);
  rtfEd->resize(rtfEd->width(), rtfEd->height() + grow);
  List1->resize(List1->width(), List1->height() + grow);
  surface_->setMinimumHeight(surface_->minimumHeight() + grow);
}

bool WriteForm::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (type == QEvent::Enter || type == QEvent::MouseMove) {
    auto* w = qobject_cast<QWidget*>(watched);
    auto it = helpTexts_.constFind(w);
    if (it != helpTexts_.constEnd()) {
      // The box holds the text with plain line breaks.
      QString shown = *it;
      shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
      if (Text14->toPlainText() != shown) Text14->setPlainText(shown);
      Text14->show();
    } else if (helpHiders_.contains(w)) {
      Text14->hide();
    }
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
  // The input method is told that the window is in use; nothing answers.
  SendMessageA(ImmGetDefaultIMEWnd(this), RegisterWindowMessageA(QStringLiteral("MSIMEService")), 0, 0);
}

void WriteForm::LoadAddressList() {
  List1->clear();
  RowRecordMap.clear();
  addressRows_.clear();
  const QString file = paths::resolve(paths::kAddressFile);
  store::RecordFile f(file, store::AddressRecord::kLength);
  if (f.open()) {
    QByteArray raw;
    QStringList names;
    for (int n = 1; n <= store::kMaxRecords; ++n) {
      if (f.read(n, raw) != store::ReadResult::Ok) break;
      store::AddressBuffer().setBytes(raw);
      names << store::AddressBuffer().name();
      RowRecordMap << int16_t(n);
      addressRows_ << raw;
    }
    f.close();
    List1->addItems(names);  // one insertion for the whole book
  }
  const QFileInfo listed(file);
  addressFileStamp_ = {listed.size(), listed.lastModified()};
  Text1->setText(QString::number(List1->count()));
}

void WriteForm::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  // Back from the address book window (or anything else that changed the
  // file): the list shows the book as it is now.
  if (event->type() != QEvent::ActivationChange || !isActiveWindow() || heldInList_) return;
  const QFileInfo now(paths::resolve(paths::kAddressFile));
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
    PickHeldMail(heldPanel());
    return;
  }
  const int row = List1->currentRow();
  if (row < 0 || row >= RowRecordMap.size() || !List1->item(row)->isSelected()) {
    MsgBox(QStringLiteral("データが選択されていません"), MsgButtons::Ok, MsgIcon::Exclamation);
    List1->setFocus();
    return;
  }
  store::RecordFile f(paths::resolve(paths::kAddressFile), store::AddressRecord::kLength);
  if (!f.open()) return;
  QByteArray raw;
  const store::ReadResult r = f.read(RowRecordMap[row], raw);
  f.close();
  // The address book window renumbers the file when it deletes: a row
  // listed before may stand for another person now.
  if (r != store::ReadResult::Ok || row >= addressRows_.size() || raw != addressRows_[row]) {
    if (r == store::ReadResult::Error) return;  // unreadable: nothing to list anew either
    MsgBox(QStringLiteral("アドレス帳の一覧が古くなっていたため、読み直しました。もう一度選択して下さい。"), MsgButtons::Ok,
           MsgIcon::Exclamation);
    LoadAddressList();
    return;
  }
  store::AddressBuffer().setBytes(raw);
  ToText->setText(text::trimSpaces(store::AddressBuffer().address().left(60)));
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
  Label7->setText(kSending);

  const bool allAddresses = Option2->isChecked();
  const QString typedRecipient = ToText->text();
  // Every address-book entry, in record order. Read before the first turn,
  // so that a second try can say how many are left before it starts; the
  // file is opened for each read, as no file stays open across a box.
  QStringList fields;
  if (allAddresses) {
    const QString file = paths::resolve(paths::kAddressFile);
    for (int n = 1; n <= store::kMaxRecords; ++n) {
      store::RecordFile f(file, store::AddressRecord::kLength);
      if (!f.open()) break;
      QByteArray raw;
      const store::ReadResult r = f.read(n, raw);
      f.close();
      if (r != store::ReadResult::Ok) break;
      store::AddressBuffer().setBytes(raw);
      fields << store::AddressBuffer().address();
    }
  }
  // A mailbox is the same whatever its letter case; this mail goes to each once.
  auto mailbox = [](const QString& field) { return text::trimSpaces(field).toLower(); };
  QString sending = kSending;
  if (allAddresses && !served_.isEmpty()) {
    QSet<QString> unserved;
    for (const QString& f : fields)
      if (!served_.contains(mailbox(f))) unserved.insert(mailbox(f));
    sending = QStringLiteral("未送信%1件に再送します。").arg(unserved.size()) + kSending;
  }
  Label7->setText(sending);

  // The run holds the window until its last turn; only the status line and
  // the recipient box are redrawn between turns.
  QApplication::setOverrideCursor(Qt::WaitCursor);
  int turns = 0;
  int failures = 0;
  int unconfirmed = 0;  // perhaps delivered: not failed, and not sent again
  // The server's certificate is judged once per run; once it is declined,
  // the rest of the run is not sent (and nothing more is asked).
  bool certificateAsked = false;
  bool certificateDeclined = false;
  bool signInNeeded = false;
  auto turn = [&](const QString& recipient) {
    Label7->setText(sending);
    Label7->repaint();
    ToText->repaint();
    ++turns;
    if (certificateDeclined || signInNeeded) {
      ++failures;
      return false;
    }
    SendOutcome outcome = SendOneMail(recipient, SubjectText->text(), rtfEd->toPlainText(), AttachText->text());
    if (outcome.unverified && !certificateAsked) {
      // Nothing but the handshake went to the server: the user judges its
      // certificate, and once it is trusted the mail goes at once.
      certificateAsked = true;
      QApplication::restoreOverrideCursor();
      const bool trusted = CertForm::ask(*outcome.unverified, this);
      QApplication::setOverrideCursor(Qt::WaitCursor);
      if (!trusted) {
        certificateDeclined = true;
        ++failures;
        return false;
      }
      outcome = SendOneMail(recipient, SubjectText->text(), rtfEd->toPlainText(), AttachText->text());
    }
    if (outcome.needsSignIn) {
      // Asked once; the other recipients wait for the sign-in with the mail.
      signInNeeded = true;
      ++failures;
      QApplication::restoreOverrideCursor();
      askToSignInAgain(outcome.error);
      QApplication::setOverrideCursor(Qt::WaitCursor);
      return false;
    }
    if (!outcome.ok) {
      QApplication::restoreOverrideCursor();
      if (outcome.uncertain) {
        ++unconfirmed;
        MsgBox(outcome.error + u'\n' + kUncertainKeptText);
      } else {
        ++failures;
        MsgBox(outcome.error, MsgButtons::Ok, MsgIcon::None, QStringLiteral("送信エラー"));
      }
      QApplication::setOverrideCursor(Qt::WaitCursor);
    } else if (outcome.notKept) {
      QApplication::restoreOverrideCursor();
      MsgBox(notKeptText(outcome), MsgButtons::Ok, MsgIcon::Exclamation);
      QApplication::setOverrideCursor(Qt::WaitCursor);
    }
    return outcome.ok || outcome.uncertain;
  };

  if (!allAddresses) {
    turn(ToText->text());
  } else {
    for (const QString& field : fields) {
      const QString key = mailbox(field);
      if (served_.contains(key)) continue;
      ToText->setText(field);
      if (turn(text::trimRight(field))) served_.insert(key);
    }
  }
  QApplication::restoreOverrideCursor();

  if (failures > 0 || unconfirmed > 0) {
    // Nothing is claimed and nothing is lost: the mail stays in the window
    // for another try, which in the all-addresses mode skips those served
    // and those that perhaps have it.
    if (allAddresses) ToText->setText(typedRecipient);
    QString status = failures > 0 ? QStringLiteral("%1件中%2件の送信に失敗しました。").arg(turns).arg(failures)
                                  : QStringLiteral("%1件中").arg(turns);
    if (unconfirmed > 0) status += QStringLiteral("%1件は送信されたか確認できませんでした。").arg(unconfirmed);
    status += QStringLiteral("内容はそのまま残してあります。");
    if (allAddresses && failures > 0)
      status += QStringLiteral("もう一度「送信」を押すと、未送信の%1件にだけ送ります。").arg(failures);
    Label7->setText(status);
    return;
  }
  Label7->setText(QStringLiteral("送信完了です。"));
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

QString WriteForm::openAttachmentDialog() {
  AttachCommonDialog->selectFile(QString());
  if (AttachCommonDialog->exec() != QDialog::Accepted) return QString();
  return AttachCommonDialog->selectedFiles().value(0);
}

void WriteForm::AttachCommand_Click() {
  AttachFirstFile({AttachText, List2, AttachCommand, Command9, Command10, chooseAttachment});
}

void WriteForm::Command9_Click() {
  AttachMoreFile({AttachText, List2, AttachCommand, Command9, Command10, chooseAttachment});
}

void WriteForm::Command10_Click() {
  CancelAttachments({AttachText, List2, AttachCommand, Command9, Command10, chooseAttachment});
}

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

void WriteForm::Command17_Click() { ToggleDraftPanel(heldPanel()); }
void WriteForm::Command13_Click() { HoldMail(heldPanel()); }
void WriteForm::Command14_Click() { RecallHeldMails(heldPanel()); }
void WriteForm::Command15_Click() { DeleteHeldMail(heldPanel()); }

void WriteForm::mnew_Click() { BodyCommands(rtfEd, this).newDocument(); }

void WriteForm::mopen_Click() {
  // Body changes here leave DocumentModified alone: no handler sets it.
  const QString read = BodyCommands(rtfEd, this).openTextFile();
  if (!read.isEmpty()) openedFile_ = read;
}

void WriteForm::msave_Click() { BodyCommands(rtfEd, this).saveTextAs(openedFile_); }

void WriteForm::mprint_Click() { BodyCommands(rtfEd, this).print(); }

// What was typed and not held is gone with the window, unasked.
void WriteForm::mend_Click() { close(); }

void WriteForm::mall_Click() { BodyCommands(rtfEd, this).selectAll(); }

void WriteForm::matamajump_Click() { BodyCommands(rtfEd, this).jumpToStart(); }

void WriteForm::mbunmatujump_Click() { BodyCommands(rtfEd, this).jumpToEnd(); }

void WriteForm::mcut_Click() { BodyCommands(rtfEd, this).cut(); }

void WriteForm::mcopy_Click() { BodyCommands(rtfEd, this).copy(); }

// A paste leaves nothing selected: there is no selection to reset after it.
void WriteForm::mpaste_Click() { BodyCommands(rtfEd, this).paste(); }

void WriteForm::tbToolBar_ButtonClick(const QString& key) {
  if (key == u"New") {
    mnew_Click();
  } else if (key == u"Open") {
    mopen_Click();
  } else if (key == u"Print") {
    mprint_Click();
  } else if (key == u"Cut") {
    mcut_Click();
  } else if (key == u"Copy") {
    mcopy_Click();
  } else if (key == u"Paste") {
    mpaste_Click();
  } else if (key == u"Bold") {
    BodyCommands(rtfEd, this).toggle(textproc::FontStyle::Bold);
  } else if (key == u"Italic") {
    BodyCommands(rtfEd, this).toggle(textproc::FontStyle::Italic);
  } else if (key == u"Underline") {
    BodyCommands(rtfEd, this).toggle(textproc::FontStyle::Underline);
  }
}

void WriteForm::Command5_Click() {
  PlainTextBox body(rtfEd, this);
  textproc::PasteTrimmed(body, SystemClipboard());
}

void WriteForm::Command7_Click() {
  LineBox recipient(ToText);
  textproc::PasteTrimmed(recipient, SystemClipboard());
}

void WriteForm::Command8_Click() { KaoForm::showPicker(); }

void WriteForm::Command11_Click() {
  IMEForm* page = IMEForm::instance();
  page->show();
  page->raise();
  page->activateWindow();
}

void WriteForm::Command12_Click() {
  // The panel serves the box the user was writing in, not the button.
  QWidget* box = lastTextBox_ ? lastTextBox_.data() : rtfEd;
  box->setFocus(Qt::OtherFocusReason);
  const ImeWindow ime = ImmGetDefaultIMEWnd(this);
  const unsigned message = RegisterWindowMessageA(QStringLiteral("MSIMEShowImePad"));
  if (Check1->checkState() == Qt::Checked)
    SendMessageA(ime, message, 0, 0);
  else
    SendMessageA(ime, message, 1, 1);
}
