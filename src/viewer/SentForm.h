#pragma once
// The sent mail: a list of every mail a server accepted (subject,
// recipient, date) and one mail at a time, with the viewer's procedures:
// search, copy, save-as, the kept original, the mbox export and delete.
// Not "返事を書く": "もう一度送る" opens the mail in the compose window.
#include <QMainWindow>

class MailListModel;
class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QTreeView;

namespace store {
class MailRecord;
}

class SentForm : public QMainWindow {
  Q_OBJECT
 public:
  // The window, created when it does not exist yet, filled and shown.
  static SentForm* open();
  // The window if it exists, else null.
  static SentForm* existing();
  ~SentForm() override;

  QTreeView* SentListView = nullptr;  // one row per sent mail, in the order they went out
  MailListModel* sentList = nullptr;
  QLineEdit* SubjectBox = nullptr;
  QLineEdit* ToBox = nullptr;
  QLineEdit* DateBox = nullptr;
  QPlainTextEdit* BodyBox = nullptr;
  QLineEdit* SearchBox = nullptr;  // Enter: the next mail holding the text
  QLabel* SearchLabel = nullptr;
  QLineEdit* CountBox = nullptr;
  QLabel* CountLabel = nullptr;
  QPushButton* DeleteButton = nullptr;  // 一件削除
  QPushButton* ResendButton = nullptr;  // もう一度送る
  QPushButton* CopyButton = nullptr;    // the subject, recipient and date to the clipboard

  QMenu* mFile = nullptr;
  QAction* msave = nullptr;    // 名前を付けて保存
  QAction* mgenbun = nullptr;  // 原文を保存
  QAction* mmbox = nullptr;    // 全メールを mbox で書き出し
  QAction* mend = nullptr;     // 閉じる
  QMenu* medit = nullptr;
  QAction* mall = nullptr;    // 全て選択
  QAction* mcopy = nullptr;   // コピー
  QAction* mfind = nullptr;   // 検索: the body, from the cursor
  QAction* mfindNext = nullptr;

 public slots:
  // Reads the sent mail into the list; the boxes end on the latest mail.
  void FillSentList();
  void ShowSelectedMail();
  void FindMailInList();
  void DeleteSelected();
  void ResendSelected();
  void CopyHeaders();
  void SaveMailAs();
  void SaveOriginal();
  void ExportMbox();

 private:
  SentForm();
  void buildControls();
  void buildMenus();
  int selectedRow() const;
  void showRecord(const store::MailRecord& record);
  void clearBoxes();
  void setCount(int rows);
  int lastMatch_ = 0;
};
