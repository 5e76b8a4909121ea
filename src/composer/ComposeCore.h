#pragma once
// What the compose and reply windows share: the attachment panel, the
// held-mail panel, the input-method buttons, the paste buttons, the body
// commands and the send step with its status line. Each window owns one,
// given its controls, and keeps its own controls, captions and the steps
// in which it differs.
#include "composer/AttachPanel.h"
#include "composer/HeldPanel.h"
#include "platform/ui/BodyBox.h"
#include "platform/ui/Controls.h"

#include <QObject>
#include <QPointer>
#include <QPushButton>
#include <QRectF>
#include <QSet>
#include <QSizeF>
#include <QString>
#include <functional>
#include <utility>

class QCheckBox;
class QFileDialog;
class QFrame;
class QLabel;
class QListWidget;
class QPlainTextEdit;
struct SendRunHooks;
struct SendTurn;

class ComposeCore : public QObject {
  Q_OBJECT
 public:
  // `attach.choose` is not used: `choose` is read at each pick, as the
  // window's chooser may be replaced (tests). `status`: the status line of
  // a send run; null for a window that has none.
  ComposeCore(QWidget* window, const AttachPanel& attach, const HeldPanel& held, QCheckBox* imeClose,
              QLabel* status, const std::function<QString()>* choose);

  // The buttons both windows have, each to the window's handler of its
  // name: the attachment and held-mail panels, the input method, the face
  // marks.
  template <class Window>
  static void connectButtons(Window* w) {
    const std::pair<QPushButton*, void (Window::*)()> buttons[] = {
        {w->AttachCommand, &Window::AttachCommand_Click}, {w->Command9, &Window::Command9_Click},
        {w->Command10, &Window::Command10_Click},         {w->Command17, &Window::Command17_Click},
        {w->Command13, &Window::Command13_Click},         {w->Command14, &Window::Command14_Click},
        {w->Command15, &Window::Command15_Click},         {w->Command8, &Window::Command8_Click},
        {w->Command11, &Window::Command11_Click},         {w->Command12, &Window::Command12_Click},
    };
    for (const auto& [button, handler] : buttons) QObject::connect(button, &QPushButton::clicked, w, handler);
  }

  // The held-mail panel "下書き" (`Picture7`) at `at`, in twips, with its
  // buttons 保存, 呼出 and 削除 side by side, `margin` inside its corner and
  // `gap` apart.
  template <class Window>
  static void makeHeldPanel(Window* w, const Controls& c, const QRectF& at, double margin, double gap,
                            const QSizeF& button) {
    w->Picture7 = makePanelFrame(c, at);
    const Controls in = c.on(w->Picture7);
    const double step = button.width() + gap;
    in.button(w->Command13, "Command13", QStringLiteral("保存"), margin, margin, button.width(), button.height());
    in.button(w->Command14, "Command14", QStringLiteral("呼出"), margin + step, margin, button.width(), button.height());
    in.button(w->Command15, "Command15", QStringLiteral("削除"), margin + 2 * step, margin, button.width(),
              button.height());
  }

  // The body box, plain text in ＭＳ ゴシック, and the list of the attached
  // files' titles, at `at` in twips.
  static QPlainTextEdit* makeBody(const Controls& c, const char* name, const QRectF& at);
  static QListWidget* makeFileTitles(const Controls& c, const QRectF& at);

  // The window's file-open dialog for attachments.
  static QFileDialog* makeAttachDialog(QWidget* window);
  // Its answer: the chosen file's full path, or empty when cancelled.
  static QString askAttachDialog(QFileDialog* dialog);

  // Attachment panel.
  void attachFirst() { AttachFirstFile(attachPanel()); }       // 添付File
  void attachMore() { AttachMoreFile(attachPanel()); }         // 追加
  void cancelAttachments() { CancelAttachments(attachPanel()); }  // 取り消し

  // Held-mail panel.
  const HeldPanel& held() const { return held_; }
  void toggleDraft() { ToggleDraftPanel(held_); }  // 下書き
  void holdMail() { HoldMail(held_); }            // 保存
  void recallHeld() { RecallHeldMails(held_); }   // 呼出
  void deleteHeld() { DeleteHeldMail(held_); }    // 削除
  void pickHeld() { PickHeldMail(held_); }        // a held mail picked

  // The input method is told that the window is in use; nothing answers.
  void tellImeInUse();

  // The input method and the face marks.
  void showImeExplanation();  // IMEパッドの説明
  void toggleImePad();        // IMEパッドの表示
  void showFaceMarks();       // 絵・顔文字

  // The clipboard's text, trimmed, over the selection of the body or the
  // recipient box.
  void pasteIntoBody();       // 本文に貼付
  void pasteIntoRecipient();  // 宛先に貼付

  // The body commands on the window's body.
  BodyCommands body() const { return BodyCommands(held_.body, window_); }

  // The send step: the mail in the boxes to the typed recipient, or once to
  // each address of the book that `served` does not hold. The status line
  // follows the run. True when every turn went; otherwise the mail stays
  // in the window as it is, and the status line says what went wrong.
  bool sendTyped(const QString& header = QString());
  bool sendToEveryAddress(QSet<QString>& served);

 private:
  static QFrame* makePanelFrame(const Controls& c, const QRectF& at);
  AttachPanel attachPanel() const;
  SendRunHooks runHooks(const QString* sending, bool showField);
  void showSending(const QString& sending);
  bool ended(const QList<SendTurn>& turns, bool everyAddress);

  QWidget* window_;
  AttachPanel attach_;
  HeldPanel held_;
  QCheckBox* imeClose_;
  QLabel* status_;
  const std::function<QString()>* choose_;
  // The box the user last wrote in: the input method's panel serves it.
  QPointer<QWidget> lastTextBox_;
};
