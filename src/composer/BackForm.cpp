#include "BackForm.h"

#include "composer/ComposeCore.h"
#include "composer/model/ReplyText.h"
#include "facemarks/KaoForm.h"
#include "platform/Text.h"
#include "platform/ui/BodyBox.h"
#include "platform/ui/Controls.h"
#include "platform/ui/Twips.h"
#include "platform/ui/WindowOrder.h"

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <algorithm>

namespace {

QPointer<BackForm> g_reply;

// The face-mark picker's "挿入（返事を書く）" puts its choice into this body.
[[maybe_unused]] const bool g_bodyOffered = [] {
  facemarks::replyBody = [] {
    BackForm* reply = BackForm::instance();
    return facemarks::BodyTarget{reply->BodyText, reply};
  };
  return true;
}();

// The window's outer size when it opens.
constexpr double kWidth = 9600;
constexpr double kHeight = 7800;
// The left edge of the recipient and subject boxes, and of the attachment list.
constexpr double kBoxLeft = 840;
constexpr double kAttachLeft = 1200;
constexpr double kBodyTop = 1860;
constexpr double kMargin = 120;
constexpr double kButtonWidth = 1500;
// The held list's heading sits at the body's top; the list below it.
constexpr double kHeadingHeight = 300;
constexpr double kHeldListTop = kBodyTop + kHeadingHeight;

// A line of text in an empty list, saying how it fills; it gives way to
// the first row.
class EmptyListHint : public QLabel {
 public:
  EmptyListHint(const QString& text, QListWidget* list) : QLabel(text, list->viewport()), list_(list) {
    setWordWrap(true);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setMargin(4);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    QPalette p = palette();
    p.setColor(QPalette::WindowText, p.color(QPalette::Disabled, QPalette::Text));
    setPalette(p);
    list->viewport()->installEventFilter(this);
    for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
      connect(list->model(), signal, this, &EmptyListHint::follow);
    connect(list->model(), &QAbstractItemModel::modelReset, this, &EmptyListHint::follow);
    follow();
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == parent() && event->type() == QEvent::Resize) follow();
    return false;
  }

 private:
  void follow() {
    setGeometry(parentWidget()->rect());
    setVisible(list_->count() == 0);
  }
  QListWidget* list_;
};

}  // namespace

BackForm* BackForm::existing() { return g_reply; }

BackForm* BackForm::instance() {
  if (!g_reply) g_reply = new BackForm;
  return g_reply;
}

BackForm::BackForm() : QWidget(nullptr) {
  g_reply = this;
  setObjectName(QStringLiteral("BackForm"));
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral("返事を書く"));
  buildControls();
  chooseAttachment = [this] { return ComposeCore::askAttachDialog(AttachCommonDialog); };
  core_ = new ComposeCore(this, {AttachText, List2, AttachCommand, Command9, Command10, {}}, heldPanel(), Check1,
                          nullptr, &chooseAttachment);
  resizeOuterTwips(kWidth, kHeight);
  Form_Load();
}

BackForm::~BackForm() = default;

void BackForm::resizeOuterTwips(double width, double height) { book_.resizeOuter(this, width, height); }

void BackForm::buildControls() {
  const Controls c(this, &book_);
  auto label = [&](QLabel*& lb, const char* name, const QString& caption, QWidget* buddy, double l, double t, double w) {
    c.label(lb, name, caption)->setBuddy(buddy);
    c.place(lb, l, t, w, 300);
  };

  // Recipient and subject, the send commands beside them.
  c.box(ToText, "ToText", QStringLiteral("宛先"), kBoxLeft, 120, 4800, 330);
  label(Label1, "Label1", QStringLiteral("宛先"), ToText, kMargin, 150, 700);
  c.box(SubjectText, "SubjectText", QStringLiteral("題名"), kBoxLeft, 540, 4800, 330);
  label(Label2, "Label2", QStringLiteral("題名"), SubjectText, kMargin, 570, 700);
  c.button(Command2, "Command2", QStringLiteral("送信"), 5760, 90, kButtonWidth, 390);
  c.button(Command3, "Command3", QStringLiteral("送信中止"), 7320, 90, kButtonWidth, 390);
  c.button(Command4, "Command4", QStringLiteral("本文に貼付"), 5760, 510, kButtonWidth, 390);
  c.button(Command8, "Command8", QStringLiteral("絵・顔文字"), 7320, 510, kButtonWidth, 390);

  // Attachment panel: the resize rule places its three buttons after the list.
  c.box(AttachText, "AttachText", QStringLiteral("添付ファイル"), kAttachLeft, 960, 3360, 360);
  label(Label3, "Label3", QStringLiteral("添付File"), AttachText, kMargin, 990, 1020);
  c.button(AttachCommand, "AttachCommand", QStringLiteral("添付"), 3360 + 1280, 945, 720, 390);
  c.button(Command9, "Command9", QStringLiteral("追加"), 3360 + 2060, 945, 820, 390);
  c.button(Command10, "Command10", QStringLiteral("取り消し"), 3360 + 2940, 945, 960, 390);
  AttachCommonDialog = ComposeCore::makeAttachDialog(this);

  // Held mails and the input method.
  // Wide enough for its other caption, "　アドレス呼出".
  c.button(Command17, "Command17", QStringLiteral("下書き"), kMargin, 1380, 1320, 390);
  ComposeCore::makeHeldPanel(this, c, {1500, 1350, 1980, 450}, 30, 20, {620, 390});
  c.button(Command11, "Command11", QStringLiteral("IMEパッドの説明"), 3540, 1380, 1800, 390);
  c.button(Command12, "Command12", QStringLiteral("IMEパッドの表示"), 5400, 1380, 1800, 390);
  // Named after what it does here: ticked, "IMEパッドの表示" closes the pad.
  Check1 = named(new QCheckBox(QStringLiteral("IMEパッドを閉じる"), this), "Check1");
  book_.place(Check1, 7260, 1395, 2220, 360);

  // The body, and the held list to its right.
  BodyText = ComposeCore::makeBody(c, "BodyText", {0, kBodyTop, 7488, 5460});
  List1 = named(new QListWidget(this), "List1");
  List1->setAccessibleName(QStringLiteral("保留メール"));
  // Subjects are stored padded to 100 characters: no sideways scrolling for that.
  List1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  List1->setTextElideMode(Qt::ElideNone);
  book_.place(List1, 7538, kHeldListTop, 1942, 5460 - kHeadingHeight);
  // What the list is for: its heading, and while it is empty a line in it
  // that tells how it fills.
  label(Label4, "Label4", QStringLiteral("保留メール"), List1, 7538, kBodyTop, 1942);
  Label5 = new EmptyListHint(
      QStringLiteral("「下書き」を押して「呼出」を押すと、保留したメールの件名がここに並びます。"), List1);
  Label5->setObjectName(QStringLiteral("Label5"));
  // The file titles lie over the top of the body while they are shown.
  List2 = ComposeCore::makeFileTitles(c, {kAttachLeft, kBodyTop + 60, 3360, 900});
  c.box(Text1, "Text1", QStringLiteral("件数"), 7538, 1380, 600, 330);
  Text1->setReadOnly(true);
  Text1->hide();
  c.box(Text2, "Text2", QStringLiteral("行の選択"), 8200, 1380, 600, 330);
  Text2->hide();

  connect(Command2, &QPushButton::clicked, this, &BackForm::Command2_Click);
  connect(Command3, &QPushButton::clicked, this, &BackForm::Command3_Click);
  connect(Command4, &QPushButton::clicked, this, &BackForm::Command4_Click);
  ComposeCore::connectButtons(this);
  // A click picks a held mail; so does Enter on a row, for the keyboard.
  connect(List1, &QListWidget::itemClicked, this, &BackForm::List1_Click);
  connect(List1, &QListWidget::itemActivated, this, &BackForm::List1_Click);
  // Recipient, subject, body: the order a mail is written in.
  setTabOrder(ToText, SubjectText);
  setTabOrder(SubjectText, BodyText);
}

void BackForm::Form_Load() {
  // Above every window that is not kept on top, and shown.
  SetWindowPos(this, HWND_TOPMOST);
  // The frame is known now that the window is shown.
  resizeOuterTwips(kWidth, kHeight);
  Picture7->hide();
  List2->hide();
  core_->tellImeInUse();
}

void BackForm::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Form_Resize();
}

void BackForm::Form_Resize() {
  const double W = book_.outerWidth(this);
  const double H = book_.outerHeight(this);
  book_.setWidth(BodyText, W * 0.78);
  book_.setHeight(BodyText, H * 0.7);
  book_.setWidth(ToText, W * 0.5);
  book_.setWidth(SubjectText, W * 0.5);
  const double attach = W * 0.35;
  book_.setWidth(AttachText, attach);
  book_.setLeft(AttachCommand, attach + 1280);
  book_.setLeft(Command9, attach + 2060);
  book_.setLeft(Command10, attach + 2940);
  book_.setLeft(List1, book_.width(BodyText) + 50);

  // The rest follows what the rule set: the send commands stay beside the
  // boxes, the file titles as wide as the list, and the body and the held
  // list end inside the window, which is smaller than its outer size.
  const double beside = kBoxLeft + book_.width(ToText) + kMargin;
  book_.setLeft(Command2, beside);
  book_.setLeft(Command4, beside);
  book_.setLeft(Command3, beside + kButtonWidth + 60);
  book_.setLeft(Command8, beside + kButtonWidth + 60);
  book_.setWidth(List2, attach);
  const double clientWidth = twips::fromPx(width());
  const double clientHeight = twips::fromPx(height());
  const double bottom = clientHeight - 60;
  if (kBodyTop + book_.height(BodyText) > bottom) book_.setHeight(BodyText, std::max(0.0, bottom - kBodyTop));
  book_.setWidth(List1, std::max(0.0, clientWidth - book_.left(List1) - kMargin));
  book_.setHeight(List1, std::max(0.0, bottom - kHeldListTop));
  book_.place(Label4, book_.left(List1), kBodyTop, book_.width(List1), kHeadingHeight);
}


// Only a reply sent closes the window; otherwise it stays as it is.
void BackForm::Command2_Click() {
  if (core_->sendTyped(ThreadHeaders)) close();
}

void BackForm::Command3_Click() { close(); }

void BackForm::fillReply(const QString& to, const QString& subject, const QString& body,
                         const QString& threadHeaders, const QString& answeredBody) {
  ThreadHeaders = threadHeaders;
  AnsweredBody = answeredBody;
  SubjectText->setText(subject);
  ToText->setText(to);
  BodyText->setPlainText(body);
  for (QLineEdit* b : {ToText, SubjectText}) b->setCursorPosition(0);
  // As the boxes give them back, so that an untouched reply compares equal.
  filledTo_ = ToText->text();
  filledSubject_ = SubjectText->text();
  filledBody_ = BodyText->toPlainText();
}

bool BackForm::holdsReplyBeingWritten() const {
  return ToText->text() != filledTo_ || SubjectText->text() != filledSubject_ ||
         BodyText->toPlainText() != filledBody_ || !AttachText->text().isEmpty();
}

void BackForm::Command4_Click() {
  SystemClipboard clipboard;
  BodyText->setPlainText(pastedReplyBody(clipboard.text(), AnsweredBody));
  // The clipboard is left holding the composed body. The body is taken from
  // the box, not read back: a clipboard that cannot be had must not empty it.
  const QString composed = BodyText->toPlainText();
  clipboard.clear();
  clipboard.setText(composed);
  BodyText->setPlainText(text::trimSpaces(composed));
}

void BackForm::Command8_Click() { core_->showFaceMarks(); }
void BackForm::Command11_Click() { core_->showImeExplanation(); }
void BackForm::Command12_Click() { core_->toggleImePad(); }

void BackForm::AttachCommand_Click() { core_->attachFirst(); }
void BackForm::Command9_Click() { core_->attachMore(); }
void BackForm::Command10_Click() { core_->cancelAttachments(); }

HeldPanel BackForm::heldPanel() {
  HeldPanel p{ToText, SubjectText, BodyText, List1, nullptr, Text2, Command17, Picture7, &RowRecordMap, {}, {}};
  // The list only ever holds held mails, whatever the shared indicator says.
  p.listHoldsHeld = [] { return true; };
  p.saveRecalls = false;
  return p;
}

void BackForm::heldStep(void (*step)(const HeldPanel&)) {
  const QString to = ToText->text();
  const QString subject = SubjectText->text();
  const QString body = BodyText->toPlainText();
  step(core_->held());
  if (ToText->text() != to || SubjectText->text() != subject || BodyText->toPlainText() != body) ThreadHeaders.clear();
}

void BackForm::Command17_Click() { core_->toggleDraft(); }
void BackForm::Command13_Click() { heldStep(HoldMail); }
void BackForm::Command14_Click() { core_->recallHeld(); }
void BackForm::Command15_Click() { heldStep(DeleteHeldMail); }

void BackForm::List1_Click() {
  Text2->setText(QStringLiteral("1"));
  heldStep(PickHeldMail);
}
