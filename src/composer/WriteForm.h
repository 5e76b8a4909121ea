#pragma once
// The compose window "新規作成": a recipient, a subject and a body, the
// address side list, the stock opening phrases, the attachment panel and
// sending, either to the typed recipient or to every address-book entry.
// One window per process; closing it destroys it, and the next opening
// loads it anew.
#include "platform/ui/Controls.h"
#include "platform/ui/NamedMenu.h"
#include "platform/ui/ToolBar.h"

#include <QDateTime>
#include <QList>
#include <QSet>
#include <QMainWindow>
#include <cstdint>
#include <functional>
#include <utility>

class ComposeCore;
class QComboBox;
class QCheckBox;
class QFileDialog;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QToolBar;
class SideList;
struct HeldPanel;

class WriteForm : public QMainWindow, public BodyMenuItems {
  Q_OBJECT
 public:
  // The window, created and loaded when it does not exist yet.
  static WriteForm* instance();
  // The window if it exists, else null.
  static WriteForm* existing();
  ~WriteForm() override;

  // Controls, by their names.
  QLineEdit* ToText = nullptr;          // recipient
  QLineEdit* SubjectText = nullptr;     // subject
  QPlainTextEdit* rtfEd = nullptr;      // body
  QComboBox* Combo1 = nullptr;          // stock opening phrases
  QList<QLabel*> Label2;                // "首記例", "件名", "宛先"
  SideList* List1 = nullptr;            // address-book names or held-mail subjects
  QLabel* Label1 = nullptr;             // "アドレス帳" or "保留メール", above List1
  QLineEdit* Text1 = nullptr;           // number of rows in List1
  QLabel* Label3 = nullptr;             // "件数"
  QLineEdit* Text2 = nullptr;           // hidden: "1" after a row was picked
  QPlainTextEdit* Text14 = nullptr;     // help box
  QLabel* Label7 = nullptr;             // status line of a send run
  QGroupBox* Frame1 = nullptr;          // the two sending modes
  QRadioButton* Option1 = nullptr;      // 取消: single recipient
  QRadioButton* Option2 = nullptr;      // 一括送信: every address of the book
  QCheckBox* Check1 = nullptr;          // IMEパッドを閉じる: read by IMEパッドの表示
  QPushButton* Command1 = nullptr;      // 送信
  QPushButton* Command3 = nullptr;      // 送信中止
  QPushButton* Command4 = nullptr;      // アドレス帳
  QPushButton* Command5 = nullptr;      // 本文に貼付
  QPushButton* Command6 = nullptr;      // サイズ（小）
  QPushButton* Command7 = nullptr;      // 宛先に貼付
  QPushButton* Command8 = nullptr;      // 絵・顔文字
  QPushButton* Command11 = nullptr;     // IMEパッドの説明
  QPushButton* Command12 = nullptr;     // IMEパッドの表示
  QPushButton* Command17 = nullptr;     // 下書き
  QFrame* Picture7 = nullptr;           // held-mail panel
  QPushButton* Command13 = nullptr;     // 保存
  QPushButton* Command14 = nullptr;     // 呼出
  QPushButton* Command15 = nullptr;     // 削除
  QLabel* Picture3 = nullptr;           // lamp picture
  // Attachment panel.
  QLineEdit* AttachText = nullptr;      // full paths, comma-separated
  QListWidget* List2 = nullptr;         // file titles
  QPushButton* AttachCommand = nullptr; // 添付File
  QPushButton* Command9 = nullptr;      // 追加
  QPushButton* Command10 = nullptr;     // 取り消し
  QPushButton* Command16 = nullptr;     // リスト
  QFileDialog* AttachCommonDialog = nullptr;
  QToolBar* tbToolBar = nullptr;
  // Menus "ファイル(&F)" and "編集": the body's items, and the separator of "編集".
  QAction* mline3 = nullptr;

  // Record numbers behind the rows of List1, row k → entry k.
  QList<int16_t> RowRecordMap;
  // Parity of "リスト".
  int16_t AttachListCounter = 0;

  // Chooses a file for the attachment panel: its full path, or an empty
  // text when cancelled. The file-open dialog unless replaced (tests).
  std::function<QString()> chooseAttachment;

  // A toolbar button by its key ("New" … "Underline"); null for others.
  QAction* toolButton(const QString& key) const { return toolBar_.button(key); }
  // The help text of a control, or an empty text when it has none.
  QString helpTextOf(const QWidget* control) const { return help_.of(control); }

  // Fills List1, RowRecordMap and Text1 from the address book.
  void LoadAddressList();
  // The window's outer width, in twips.
  void setOuterWidthTwips(double width);

  // What other windows hand this one: a mail to write (a mailto: link, a
  // sent mail to send again), whether something written here would be lost
  // by it, leaving "一括送信" for the recipients named, a note on the status line.
  void fillMail(const QString& to, const QString& subject, const QString& body);
  bool holdsMail() const;
  void sendToRecipientsOnly();
  void showNote(const QString& text);

  // The stock opening phrases, in their order.
  static QStringList stockPhrases();

 public slots:
  void SendComposedMail();     // 送信 (Command1)
  void Command3_Click();       // 送信中止
  void Command4_Click();       // アドレス帳
  void Command6_Click();       // サイズ（小）
  void Option1_Click();        // 取消
  void Option2_Click();        // 一括送信
  void List1_MouseDown();      // a mouse button pressed over the side list
  void Combo1_LostFocus();     // the body becomes the phrase
  void AttachCommand_Click();  // 添付File
  void Command9_Click();       // 追加
  void Command10_Click();      // 取り消し
  void Command16_Click();      // リスト
  void Command17_Click();      // 下書き
  void Command13_Click();      // 保存
  void Command14_Click();      // 呼出
  void Command15_Click();      // 削除
  // The body as a text document, and its editing commands.
  void mnew_Click();           // 新規作成
  void mopen_Click();          // 開く
  void msave_Click();          // 名前を付けて保存
  void mprint_Click();         // 印刷
  void mend_Click();           // 終了
  void mall_Click();           // 全て選択
  void matamajump_Click();     // 文頭へジャンプ
  void mbunmatujump_Click();   // 文末へジャンプ
  void mcut_Click();           // 切り取り
  void mcopy_Click();          // コピー
  void mpaste_Click();         // 貼り付け
  void tbToolBar_ButtonClick(const QString& key);
  void Command5_Click();       // 本文に貼付
  void Command7_Click();       // 宛先に貼付
  void Command8_Click();       // 絵・顔文字
  void Command11_Click();      // IMEパッドの説明
  void Command12_Click();      // IMEパッドの表示

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  WriteForm();
  void buildControls();
  void buildMenus();
  void buildToolBar();
  void connectEditCommands();
  void setHelpTexts();
  void hideHelpOver(QWidget* control);
  void fitHelpBox();
  void Form_Load();
  // The held-mail panel's controls and this window's part in it.
  HeldPanel heldPanel();
  // The side list's heading (and spoken name): what it lists now.
  void showSideListHeading(bool held);

  QWidget* surface_ = nullptr;
  ComposeCore* core_ = nullptr;
  HelpTexts help_{this};
  QList<const QWidget*> helpHiders_;
  KeyedToolBar toolBar_;
  // What List1 shows, by this window's own steps: the list-source indicator
  // is shared with the other windows, which change it for their lists.
  bool heldInList_ = false;
  // Mailboxes that already have the mail in the window, from all-addresses
  // runs that partly failed: a second "送信" skips them.
  QSet<QString> served_;
  // The text file last read into the body: "名前を付けて保存" offers it.
  QString openedFile_;
  // The address-book records behind the address rows of List1 (184 bytes a
  // row, row k → entry k), and the file's size and time when they were
  // read: a pick is checked against them, as the file may have changed since.
  QByteArray addressRows_;
  std::pair<qint64, QDateTime> addressFileStamp_;
};
