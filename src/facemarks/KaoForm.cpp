#include "KaoForm.h"

#include "facemarks/collection/FaceMarks.h"
#include "platform/Text.h"
#include "platform/ui/BodyBox.h"
#include "platform/ui/Controls.h"
#include "platform/ui/MsgBox.h"
#include "platform/ui/SingleWindow.h"
#include "platform/ui/Twips.h"
#include "platform/ui/WindowOrder.h"

#include <QApplication>
#include <QFontMetrics>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

namespace {

SingleWindow<KaoForm> g_picker;

QString shownPath() { return QDir::toNativeSeparators(facemarks::collectionFile()); }

}  // namespace

KaoForm* KaoForm::existing() { return g_picker.existing(); }

KaoForm* KaoForm::instance() { return g_picker.instance([] { return new KaoForm; }); }

KaoForm* KaoForm::showPicker() { return g_picker.summon([] { return new KaoForm; }); }

KaoForm::KaoForm() : QWidget(nullptr) {
  g_picker.hold(this);
  setObjectName(QStringLiteral("KaoForm"));
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral("Form1"));
  buildControls();
  resize(defaultWidth(), twips::toPx(6600));
  Form_Load();
  // The main window ends the process without closing the other windows:
  // the collection is written back then as on a close.
  connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { Form_Unload(); });
}

KaoForm::~KaoForm() = default;

void KaoForm::buildControls() {
  const Controls c(this);
  c.button(Command1, "Command1", QStringLiteral("挿入（新規作成）"));
  c.button(Command2, "Command2", QStringLiteral("挿入（返事を書く）"));
  c.button(Command3, "Command3", QStringLiteral("編集（貼付）"));
  Kao1 = named(new QPlainTextEdit(this), "Kao1");
  Kao1->setAccessibleName(QStringLiteral("顔文字の一覧"));
  Kao1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Kao1->setFont(QFont(QStringLiteral("ＭＳ ゴシック"), 11));
  c.label(Label1, "Label1", QStringLiteral("①挿入した範囲をマウスで選択（青色反転）"))->setWordWrap(true);
  c.label(Label2, "Label2", QStringLiteral("①挿入する場所を選択。「新規作成」または「返事を書く」"))->setWordWrap(true);
  c.label(Label3, "Label3", QStringLiteral("※名前他を編集すると自動で保存されます。新データの追加は編集　　　（貼付）で行います。"))->setWordWrap(true);

  auto* buttons = new QHBoxLayout;
  for (QPushButton* b : {Command1, Command2, Command3}) buttons->addWidget(b);
  buttons->addStretch();
  auto* column = new QVBoxLayout(this);
  column->addLayout(buttons);
  column->addWidget(Kao1, 1);
  for (QLabel* l : {Label1, Label2, Label3}) column->addWidget(l);

  connect(Command1, &QPushButton::clicked, this, &KaoForm::Command1_Click);
  connect(Command2, &QPushButton::clicked, this, &KaoForm::Command2_Click);
  connect(Command3, &QPushButton::clicked, this, &KaoForm::Command3_Click);
}

int KaoForm::defaultWidth() const {
  // Wide enough for each instruction line in one piece: wrapped, the third
  // would break inside "（貼付）". A user may still make it narrower.
  int widest = 0;
  for (const QLabel* l : {Label1, Label2, Label3})
    widest = std::max(widest, QFontMetrics(l->font()).horizontalAdvance(l->text()) + 2 * l->margin());
  const QMargins m = layout()->contentsMargins();
  // A pixel to spare, so that rounding never wraps a line that fits.
  return std::max(twips::toPx(6900), widest + m.left() + m.right() + 2);
}

void KaoForm::Form_Load() {
  // Above every window that is not kept on top, and shown.
  SetWindowPos(this, HWND_TOPMOST);
  const QString path = facemarks::collectionFile();
  const facemarks::Collection c = facemarks::load(path);
  Kao1->setPlainText(c.text);
  loaded_ = Kao1->toPlainText();
  fileRead_ = c.state == facemarks::Collection::State::Read;
  // Nothing is written over a file that is there but could not be read:
  // the collection in it may be whole, and an empty one would replace it.
  if (c.state == facemarks::Collection::State::Unreadable) {
    writeBack_ = false;
    MsgBox(QStringLiteral("顔文字のファイル「%1」を読み込めません（%2）。\n"
                          "空の一覧で開きます。ファイルはそのまま残し、この画面での変更は保存しません。")
               .arg(shownPath(), c.error),
           MsgButtons::Ok, MsgIcon::Exclamation);
  } else if (c.state == facemarks::Collection::State::Missing) {
    // No folder is made: without one, there is nowhere to keep the collection.
    writeBack_ = QFileInfo(path).absoluteDir().exists();
    MsgBox(QStringLiteral("顔文字のファイル「%1」が見つかりません。\n空の一覧で開きます。%2")
               .arg(shownPath(), writeBack_ ? QStringLiteral("閉じるときに新しく作ります。")
                                            : QStringLiteral("入れるフォルダが無いため、この画面での変更は保存しません。")),
           MsgButtons::Ok, MsgIcon::Exclamation);
  }
}

void KaoForm::closeEvent(QCloseEvent* event) {
  Form_Unload();
  QWidget::closeEvent(event);
}

void KaoForm::Form_Unload() {
  if (unloaded_) return;
  unloaded_ = true;
  if (!writeBack_) return;
  const QString now = Kao1->toPlainText();
  // An unchanged collection leaves the file as it is, byte for byte.
  if (fileRead_ && now == loaded_) return;
  QString error;
  if (facemarks::save(facemarks::collectionFile(), now, askBeforeLosing, &error) != textproc::WriteResult::Failed)
    return;
  const QString why = fileRead_ ? QStringLiteral("顔文字のファイル「%1」に保存できませんでした（%2）。\n"
                                                 "ファイルは前のまま残っています。")
                                : QStringLiteral("顔文字のファイル「%1」を作れませんでした（%2）。");
  MsgBox(why.arg(shownPath(), error), MsgButtons::Ok, MsgIcon::Exclamation);
}

void KaoForm::insertInto(QPlainTextEdit* body, QWidget* window) {
  PlainTextBox marks(Kao1, this);
  const QString chosen = marks.selectedText();
  const int end = marks.selectionLength() > 0 ? marks.selectionStart() + marks.selectionLength() : 0;
  // The clipboard is left holding the chosen text.
  SystemClipboard clipboard;
  clipboard.clear();
  clipboard.setText(chosen);
  marks.setCaret(end);
  marks.setFocus();
  PlainTextBox target(body, window);
  target.replaceSelection(text::trimSpaces(chosen));
  window->raise();
  window->activateWindow();
  body->setFocus(Qt::OtherFocusReason);
  close();
}

void KaoForm::Command1_Click() {
  if (!facemarks::composeBody) return;
  const facemarks::BodyTarget compose = facemarks::composeBody();
  insertInto(compose.body, compose.window);
}

void KaoForm::Command2_Click() {
  if (!facemarks::replyBody) return;
  const facemarks::BodyTarget reply = facemarks::replyBody();
  insertInto(reply.body, reply.window);
}

void KaoForm::Command3_Click() {
  PlainTextBox marks(Kao1, this);
  marks.setFocus();
  textproc::PasteTrimmed(marks, SystemClipboard());
  marks.setFocus();
}
