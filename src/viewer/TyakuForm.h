#pragma once
// The viewer window: the list of received mail and one mail at a time. Its
// three header boxes and body box are also where the receive engine stages
// each fetched mail before storing it, so the window may exist, loaded but
// hidden, without the user having opened it.
#include "platform/ui/Controls.h"
#include "platform/ui/NamedMenu.h"
#include "platform/ui/ToolBar.h"
#include "platform/ui/TwipsBook.h"
#include "viewer/ColumnWidths.h"

#include <QByteArray>
#include <QHash>
#include <QMainWindow>
#include <functional>
#include <optional>

class MailListModel;
class QAction;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QStatusBar;
class QToolBar;
class QTimer;
class QTreeView;

namespace store {
class MailRecord;
}

class TyakuForm : public QMainWindow, public BodyMenuItems {
  Q_OBJECT
 public:
  // The viewer, created and loaded (not shown) when it does not exist yet.
  static TyakuForm* instance();
  // The viewer if it exists, else null.
  static TyakuForm* existing();
  ~TyakuForm() override;

  // Controls, by their names.
  QTreeView* MailListView = nullptr;  // one row per received mail, in record order
  MailListModel* mailList = nullptr;  // the rows of MailListView
  QLineEdit* Text7 = nullptr;         // subject
  QLineEdit* Text8 = nullptr;         // sender
  QLineEdit* Text9 = nullptr;         // date
  QPlainTextEdit* rtfEd = nullptr;    // body, plain text throughout
  QLineEdit* Text2 = nullptr;         // number of list rows
  QLineEdit* Text5 = nullptr;         // selection marker: "1" after a click in the list
  QLineEdit* Text6 = nullptr;         // copy preview
  QPlainTextEdit* Text4 = nullptr;    // help box
  QLineEdit* Text1 = nullptr;         // search text
  QFrame* Frame1 = nullptr;           // the small panel holding Label2
  QLabel* Label2 = nullptr;           // "検索文字"
  QLabel* Label4 = nullptr;           // "件数"
  QPushButton* Command1 = nullptr;    // コピー（Subject/from/Data）
  QPushButton* Command2 = nullptr;    // TextQuickSave
  QPushButton* Command3 = nullptr;    // 一件削除
  QPushButton* Command4 = nullptr;    // アドレス帳登録
  QPushButton* Command5 = nullptr;    // 返事を書く
  QPushButton* Command6 = nullptr;    // 全件削除
  QToolBar* tbToolBar = nullptr;
  QStatusBar* StatusBar1 = nullptr;  // placing reference for Command1 and Text6
  QHash<int, QFrame*> Picture1;      // decoration band; element 1 spans the window
  QListWidget* lstLst = nullptr;     // hidden

  // Menu "ファイル(&F)": the body's items, and these.
  QAction* mgenbun = nullptr;  // the selected mail's original as a .eml file
  QAction* mmbox = nullptr;    // all received mail as one mbox file
  QAction* msent = nullptr;    // the sent mail's own window
  QAction* mtorikomi = nullptr;  // mail of other programs brought in
  // Menu "編集(&E)": the body's items, and these.
  QAction* mline2 = nullptr;
  QAction* mkensaku = nullptr;
  QAction* mtugikensaku = nullptr;

  // The position (from 1) of the last match of the body search, 0 when the
  // last search found nothing.
  int LastMatchPosition = 0;

  // The header block of the original of record `number`, whose bytes are
  // `record`, as the server sent it; none when no original is kept for it.
  // viewer::originalHeader unless replaced (tests).
  std::function<std::optional<QByteArray>(int number, const QByteArray& record)> originalHeaderOf;

  // The help text shown while the mouse is over `control`; empty for none.
  QString helpTextOf(const QWidget* control) const { return help_.of(control); }

  // A toolbar button by its key ("New", "Open", … "Underline"); null for
  // any other key.
  QAction* toolButton(const QString& key) const { return tools_.button(key); }

  // The twips the window's rules last set; outer size asked for in twips.
  const TwipsBook& twipsGeometry() const { return book_; }
  void resizeOuterTwips(double width, double height);
  QWidget* surface() const { return surface_; }

  // A mail the check stages here before storing it: its header fields and
  // body in the boxes, as they came.
  void showMail(const QString& subject, const QString& from, const QString& date, const QString& body);
  // The list's own headings back (the process is ending).
  void unhookListHeaders();

 public slots:
  // Reads the received-mail file into the list; the boxes end on the last mail.
  void FillMailList();
  // Shows the mail of the selected row (every click in the list).
  void ShowSelectedMail();
  // Passes the body through the system clipboard: the clipboard keeps the
  // body, and the body box gets it back trimmed of spaces.
  void ClipboardRoundTrip();
  // Places the controls from the window's outer size.
  void LayoutViewer();
  void Command3_Click();  // 一件削除
  void Command6_Click();  // 全件削除
  void mend_Click();      // 終了: close the viewer
  // 返事を書く: the reply window, filled with a reply to the selected mail.
  void StartReply();
  // アドレス帳登録: the address book, with the selected mail's sender.
  void StartAddressRegistration();

  // The menus and the toolbar on the body box.
  void mnew_Click();          // 新規作成
  void mopen_Click();         // 開く
  void msave_Click();         // 名前を付けて保存
  void mgenbun_Click();       // 原文を保存
  void mmbox_Click();         // 全メールを mbox で書き出し
  void msent_Click();         // 送信済みメール
  void mtorikomi_Click();     // メールを取り込む
  void mprint_Click();        // 印刷
  void mall_Click();          // 全て選択
  void matamajump_Click();    // 文頭へジャンプ
  void mbunmatujump_Click();  // 文末へジャンプ
  void mkensaku_Click();      // 検索
  void mtugikensaku_Click();  // 次を検索
  void mcut_Click();          // 切り取り
  void mcopy_Click();         // コピー
  void mpaste_Click();        // 貼り付け
  // A toolbar button, by its key; any other key does nothing.
  void tbToolBar_ButtonClick(const QString& key);
  void Command1_Click();  // コピー（Subject/from/Data）: the copy preview to the clipboard
  void Command2_Click();  // TextQuickSave
  // The selected mail into "■TextQuickSave", named after its subject.
  void QuickSave();
  // The mail as a header block into a file the user chooses.
  void SaveBodyAs();
  // A text file's lines into the body box.
  void OpenTextIntoBody();
  // Selects the next row whose mail holds the search text (Enter in 検索文字).
  void FindMailInList();

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  TyakuForm();
  void buildControls();
  void buildMenus();
  void buildToolBar();
  void Form_Load();
  void Form_QueryUnload();
  // Wires the menus, the toolbar, the copy and quick-save buttons and the
  // search box, and sets the help texts.
  void connectTextCommands();
  // What the mouse passing over `watched` changes: the copy preview and
  // the copy button's colour, and the help box.
  void mouseOver(QObject* watched);
  void loadCurrentDocument();
  void alignBars();
  void keepBoxesInside();
  // Widens the sender and the date box to what a typical sender and date
  // need, where the shares of the row leave them cut.
  void fitHeaderBoxes();
  // Puts the help box where it covers no line of the mail.
  void placeHelpBox();
  void fitColumns();
  // A column the user dragged to another width: kept, and written down.
  void columnResized(int column);
  void saveColumnWidths();
  int selectedRow() const;
  void setCount(int rows);
  // Every mail deleted: the count "0" here and in the main window, whose
  // help box says "0" too.
  void showAllDeleted();
  void mirrorCount(const QString& count);
  // The record in the boxes: header fields trimmed or as stored; the body is
  // always trimmed, by the clipboard round trip.
  void showRecord(const store::MailRecord& record, bool trimHeaders);
  // Lists the received-mail file; the boxes end on its last record, the
  // header fields trimmed or as stored.
  void listFile(bool trimHeaders);
  // Lists the file again after a delete.
  void relistAfterDelete();
  // The list after a delete that took exactly the mail of `row`.
  void dropRowAfterDelete(int row);

  QWidget* surface_ = nullptr;
  TwipsBook book_;
  KeyedToolBar tools_;
  HelpTexts help_{this};
  bool unhooked_ = false;
  // What the columns were last fitted to: the list's inner width and the
  // widths of the first two, so that a mouse move redoes nothing.
  QList<int> columnsFit_;
  // The widths the user gave the columns, in twips; none for a column that
  // follows its header box.
  viewer::ColumnWidths userColumns_;
  bool fittingColumns_ = false;
  bool laidOut_ = false;
  // Writes the widths a moment after the user's last drag.
  QTimer* columnsSave_ = nullptr;
};
