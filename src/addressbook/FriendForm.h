#pragma once
// The address book window "アドレス帳": registering a name and an address
// (optionally as a named address), picking an entry from the list, deleting
// it, and moving the book to and from vCard files. The file is the only
// store; every step opens and closes it. One window per process, created on
// first use; the viewer may fill the address box before showing it.
#include "platform/ui/Controls.h"

#include <QMainWindow>

class AddressListModel;
class AddressListView;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

class FriendForm : public QMainWindow {
  Q_OBJECT
 public:
  // The window, created and loaded (not shown) when it does not exist yet.
  static FriendForm* instance();
  // The window if it exists, else null.
  static FriendForm* existing();
  ~FriendForm() override;

  // Controls, by their names.
  QLineEdit* Text4 = nullptr;           // mail address
  QPushButton* Command1 = nullptr;      // 貼付 (address)
  QLineEdit* Text2 = nullptr;           // name
  QPushButton* Command5 = nullptr;      // 貼付 (name)
  QLineEdit* Text50 = nullptr;          // the card name for 名刺挿入
  QPushButton* Command38 = nullptr;     // 名刺挿入
  QLineEdit* Text3 = nullptr;           // number of list rows
  QPushButton* Command3 = nullptr;      // 登録
  QPushButton* Command4 = nullptr;      // 削除
  QPushButton* ExportCommand = nullptr;  // エクスポート
  QPushButton* ImportCommand = nullptr;  // インポート
  AddressListView* MailListView = nullptr;  // one row per record
  AddressListModel* addressList = nullptr;  // the rows of MailListView
  QLabel* Label1 = nullptr;             // "メールアドレス"
  QLabel* Label2 = nullptr;             // "名前（名称）"
  QLabel* Label3 = nullptr;             // "名刺"
  QLabel* Label4 = nullptr;             // "登録件数"
  QLabel* Label5 = nullptr;             // what the card name is for
  QLabel* Label7 = nullptr;             // status line
  QPlainTextEdit* Text5 = nullptr;      // help box

  // The help text of a control, or an empty text when it has none.
  QString helpTextOf(const QWidget* control) const { return help_.of(control); }

  // The viewer's registration: `address` in the address box, ready to be
  // named and registered.
  void fillAddress(const QString& address);

  // Rebuilds the list and the count from the file.
  void ReloadAddressList();

 public slots:
  void Command1_Click();   // 貼付 (address)
  void Command5_Click();   // 貼付 (name)
  void Command38_Click();  // 名刺挿入
  void Command3_Click();   // 登録
  void Command4_Click();   // 削除
  void ExportCommand_Click();
  void ImportCommand_Click();
  void MailListView_MouseDown();

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  FriendForm();
  void buildControls();
  void setHelpTexts();
  void Form_Load();
  void Form_QueryUnload();
  void layOut();
  int selectedRow() const;
  // Record n into the name and address boxes; false (and said) when it
  // cannot be read.
  bool showEntry(int n);

  QWidget* surface_ = nullptr;
  HelpTexts help_{this};
};
