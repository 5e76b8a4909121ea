#pragma once
// The viewer window: the list of received mail and one mail at a time. Its
// three header boxes and body box are also where the receive engine stages
// each fetched mail before storing it, so the window may exist, loaded but
// hidden, without the user having opened it.
#include "viewer/TwipsBook.h"

#include <QHash>
#include <QMainWindow>

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
class QTreeView;

namespace store {
class MailRecord;
}

class TyakuForm : public QMainWindow {
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

  // Menu "ファイル(&F)".
  QMenu* mFile = nullptr;
  QAction* mnew = nullptr;
  QAction* mopen = nullptr;
  QAction* msave = nullptr;
  QAction* mprint = nullptr;
  QAction* mline = nullptr;
  QAction* mend = nullptr;
  // Menu "編集(&E)".
  QMenu* medit = nullptr;
  QAction* mall = nullptr;
  QAction* matamajump = nullptr;
  QAction* mbunmatujump = nullptr;
  QAction* mline2 = nullptr;
  QAction* mkensaku = nullptr;
  QAction* mtugikensaku = nullptr;
  QAction* mcut = nullptr;
  QAction* mcopy = nullptr;
  QAction* mpaste = nullptr;

  // A toolbar button by its key ("New", "Open", … "Underline"); null for
  // any other key.
  QAction* toolButton(const QString& key) const { return toolButtons_.value(key); }

  // The twips the window's rules last set; outer size asked for in twips.
  const TwipsBook& twipsGeometry() const { return book_; }
  void resizeOuterTwips(double width, double height);
  QWidget* surface() const { return surface_; }

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
  void loadCurrentDocument();
  void alignBars();
  void keepBoxesInside();
  void fitColumns();
  int selectedRow() const;
  void setCount(int rows);
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
  QHash<QString, QAction*> toolButtons_;
  bool unhooked_ = false;
  int columnsWidth_ = -1;  // the list's inner width the columns were last fitted to
};
