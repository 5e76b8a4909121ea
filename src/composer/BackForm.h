#pragma once
// The reply window "返事を書く": a reduced compose window for answering a
// received mail. The viewer fills the recipient, subject and body (and the
// answered mail's thread header fields) and shows it; the user edits, may
// attach files, hold the reply, insert face marks, and sends it with one
// call of the mail library. One window per process; closing it destroys it.
#include "platform/ui/TwipsBook.h"

#include <QList>
#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <functional>

class QCheckBox;
class QFileDialog;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class ComposeCore;
class QPushButton;
struct HeldPanel;

class BackForm : public QWidget {
  Q_OBJECT
 public:
  // The window, created and loaded (which shows it) when it does not exist yet.
  static BackForm* instance();
  // The window if it exists, else null.
  static BackForm* existing();
  ~BackForm() override;

  // Controls, by their names.
  QLabel* Label1 = nullptr;             // "宛先"
  QLineEdit* ToText = nullptr;          // recipient
  QLabel* Label2 = nullptr;             // "題名"
  QLineEdit* SubjectText = nullptr;     // subject
  QPlainTextEdit* BodyText = nullptr;   // body, plain text
  QLabel* Label3 = nullptr;             // "添付File"
  QLineEdit* AttachText = nullptr;      // full paths, comma-separated
  QPushButton* AttachCommand = nullptr; // 添付
  QPushButton* Command9 = nullptr;      // 追加
  QPushButton* Command10 = nullptr;     // 取り消し
  QListWidget* List2 = nullptr;         // file titles
  QFileDialog* AttachCommonDialog = nullptr;
  QPushButton* Command2 = nullptr;      // 送信
  QPushButton* Command3 = nullptr;      // 送信中止
  QPushButton* Command4 = nullptr;      // 本文に貼付
  QPushButton* Command8 = nullptr;      // 絵・顔文字
  QPushButton* Command11 = nullptr;     // IMEパッドの説明
  QPushButton* Command12 = nullptr;     // IMEパッドの表示
  QCheckBox* Check1 = nullptr;          // read by IMEパッドの表示
  QPushButton* Command17 = nullptr;     // 下書き
  QFrame* Picture7 = nullptr;           // held-mail panel
  QPushButton* Command13 = nullptr;     // 保存
  QPushButton* Command14 = nullptr;     // 呼出
  QPushButton* Command15 = nullptr;     // 削除
  QListWidget* List1 = nullptr;         // held mails
  QLabel* Label4 = nullptr;             // "保留メール", above List1
  QLabel* Label5 = nullptr;             // in List1 while it is empty: how it fills
  QLineEdit* Text1 = nullptr;           // count box (the reply window never sets it)
  QLineEdit* Text2 = nullptr;           // hidden: "1" after a row was picked

  // Record numbers behind the rows of List1, row k → entry k.
  QList<int16_t> RowRecordMap;

  // The answered mail's In-Reply-To and References, as header lines; empty
  // when the reply is not threaded (no original kept, a held mail picked).
  QString ThreadHeaders;

  // The body field of the received mail the window was opened for: what
  // "本文に貼付" quotes, whatever the viewer shows since. Empty when the
  // window was not opened for a mail.
  QString AnsweredBody;

  // Fills the recipient, subject and body with a reply just started, and
  // remembers them as the reply's starting point; with the answered mail's
  // thread header lines and body field (see above) when it answers one.
  void fillReply(const QString& to, const QString& subject, const QString& body,
                 const QString& threadHeaders = {}, const QString& answeredBody = {});
  // True when the boxes differ from how the last reply was filled (from
  // empty, when none was) or files are attached: a reply is being written.
  bool holdsReplyBeingWritten() const;

  // Chooses a file for the attachment panel: its full path, or an empty
  // text when cancelled. The file-open dialog unless replaced (tests).
  std::function<QString()> chooseAttachment;

  // The twips the resize rule last set; outer size asked for in twips.
  const TwipsBook& twipsGeometry() const { return book_; }
  void resizeOuterTwips(double width, double height);

 public slots:
  void Command2_Click();       // 送信
  void Command3_Click();       // 送信中止
  void Command4_Click();       // 本文に貼付
  void Command8_Click();       // 絵・顔文字
  void Command11_Click();      // IMEパッドの説明
  void Command12_Click();      // IMEパッドの表示
  void AttachCommand_Click();  // 添付
  void Command9_Click();       // 追加
  void Command10_Click();      // 取り消し
  void Command17_Click();      // 下書き
  void Command13_Click();      // 保存
  void Command14_Click();      // 呼出
  void Command15_Click();      // 削除
  void List1_Click();          // a held mail picked
  // Places the controls from the window's outer size.
  void Form_Resize();

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  BackForm();
  void buildControls();
  void Form_Load();
  HeldPanel heldPanel();
  // Runs a held-mail step; when it replaced or emptied the boxes, the mail
  // in them is no longer the answer to the original.
  void heldStep(void (*step)(const HeldPanel&));

  TwipsBook book_;
  ComposeCore* core_ = nullptr;
  // The boxes as fillReply left them.
  QString filledTo_, filledSubject_, filledBody_;
};
