#pragma once
// The face-mark picker "Form1": the user's collection of face marks and
// picture characters as one editable text, kept on top. A stretch selected
// in it goes into the body of the compose or the reply window; the
// collection is read from its file when the picker opens and written back
// when it closes. One picker per process; closing it destroys it.
#include <QWidget>

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace facemarks {

// A body a face mark goes into: the box, and the window it is in.
struct BodyTarget {
  QPlainTextEdit* body = nullptr;
  QWidget* window = nullptr;
};

// The bodies of "挿入（新規作成）" and "挿入（返事を書く）", each window
// opened when it is not. The compose and the reply window offer them; the
// picker includes neither. Null: the button does nothing.
inline BodyTarget (*composeBody)() = nullptr;
inline BodyTarget (*replyBody)() = nullptr;

}  // namespace facemarks

class KaoForm : public QWidget {
  Q_OBJECT
 public:
  // The picker, created and loaded (which shows it) when it is not open.
  static KaoForm* instance();
  // The picker if it is open, else null.
  static KaoForm* existing();
  // Opens the picker, or brings the open one forward.
  static KaoForm* showPicker();
  ~KaoForm() override;

  // Controls, by their names.
  QPlainTextEdit* Kao1 = nullptr;    // the whole collection
  QPushButton* Command1 = nullptr;   // 挿入（新規作成）
  QPushButton* Command2 = nullptr;   // 挿入（返事を書く）
  QPushButton* Command3 = nullptr;   // 編集（貼付）
  QLabel* Label1 = nullptr;          // instruction lines below the collection
  QLabel* Label2 = nullptr;
  QLabel* Label3 = nullptr;

 public slots:
  void Command1_Click();  // into the compose window's body
  void Command2_Click();  // into the reply window's body
  void Command3_Click();  // the clipboard into the collection

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  KaoForm();
  void buildControls();
  // The width the picker opens at, in pixels.
  int defaultWidth() const;
  void Form_Load();
  void Form_Unload();
  // The selection of the collection in place of the selection of `body`
  // (a body of `window`), then the picker closes.
  void insertInto(QPlainTextEdit* body, QWidget* window);

  // What the file held when the picker opened, as the box shows it: an
  // unchanged collection leaves the file untouched.
  QString loaded_;
  bool fileRead_ = false;
  // False when the collection must not be written back: the file exists
  // but could not be read, or its folder is missing.
  bool writeBack_ = true;
  bool unloaded_ = false;
};
