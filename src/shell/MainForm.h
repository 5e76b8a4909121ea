#pragma once
// The main window: the first and last window of the process. It owns the
// start-up and shutdown steps and offers the main actions as buttons and
// menu items. The windows below it reach it through the named calls it sets
// in platform/SharedState.h.
#include "platform/ui/Controls.h"

#include <QMainWindow>

namespace notify {
class DesktopNotice;
}

class QAction;
class QFileSystemWatcher;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTextBrowser;
class QTimer;

class MainForm : public QMainWindow {
  Q_OBJECT
 public:
  // Creating the window runs its start-up steps.
  explicit MainForm(QWidget* parent = nullptr);
  ~MainForm() override;
  // The one main window of the process, or null before it exists.
  static MainForm* instance();

  // Controls, by their names.
  QPlainTextEdit* Text1;  // help box
  QLineEdit* Text2 = nullptr;  // clock
  QLineEdit* Text3 = nullptr;  // status line of the last mail check
  QLineEdit* Text4 = nullptr;  // mails stored so far
  QLineEdit* Text5 = nullptr;  // tune selector
  QLineEdit* Text6 = nullptr;  // mails fetched by the last check
  QCheckBox* Check1;      // show explanations
  QCheckBox* Check2;      // open the viewer after a check that fetched mail
  QCheckBox* Check3;      // loop the music
  QLabel* Label1;         // "説明表示"
  QLabel* Label2;         // "新着メール有りで、メールを見るを自動表示"
  QLabel* Label3;         // "ループ"
  QLabel* Label4;         // "着信数（累積）"
  QLabel* Label5;         // "　新着数"
  QPushButton* Command1;  // 初期設定
  QPushButton* Command2;  // BGM ON
  QPushButton* Command3;  // 新規作成
  QPushButton* Command4;  // メール受信
  QPushButton* Command5;  // アドレス帳
  QPushButton* Command6;  // メールを見る
  QPushButton* Command7;  // BGM OFF
  QPushButton* Command8;  // tune toggle
  QPushButton* Command9;  // 店を覗く
  QPushButton* Command10;  // HP
  QPushButton* Command11;  // 店を出る
  QTimer* Timer1;  // music monitor, 100 ms
  QTimer* Timer2;  // clock, 20 ms
  QTimer* Timer3;  // scenery drift left
  QTimer* Timer4;  // scenery drift right
  // The automatic check, every N minutes when the user chose it in
  // "自動受信"; stopped when not.
  QTimer* AutoTimer;
  QTextBrowser* WebBrowser1;  // scenery page
  QLabel* Picture3;           // still shop picture

  // Menu "ファイル(&F)".
  QAction* mcheck;
  QAction* mview;
  QAction* mshinki;
  QAction* mfriend;
  QAction* mzenmen;
  QAction* mkaijyo;
  QAction* mtaiki;
  QAction* mkakunin;
  QAction* mmodosu;
  QAction* mhome;
  QAction* mend;

  // The help text of a control, or an empty text when it has none.
  QString helpTextOf(const QWidget* control) const { return help_.of(control); }

 public slots:
  void Command1_Click();
  // "メール受信": one mail check.
  void Command4_Click();
  // "新規作成": the compose window, modeless.
  void Command3_Click();
  // "アドレス帳": the address book window, modeless.
  void Command5_Click();
  // "メールを見る": the viewer, shown and filled.
  void Command6_Click();
  void Check1_Click();
  void Timer2_Timer();
  // "終了" and closing the window: the shutdown steps, then the process ends.
  void mend_Click();
  // Window modes: kept on top, back to normal order, standby.
  void mzenmen_Click();
  void mkaijyo_Click();
  void mtaiki_Click();

  // Music and scenery (MainFormShop.cpp).
  void Command2_Click();   // BGM ON
  void Command7_Click();   // BGM OFF
  void Command8_Click();   // tune toggle
  void Command9_Click();   // 店を覗く
  void Command11_Click();  // 店を出る
  void Command10_Click();  // HP
  void mkakunin_Click();   // イベント確認
  void Timer1_Timer();     // music monitor
  void Timer3_Timer();     // drift left
  void Timer4_Timer();     // drift right

  // The automatic check (MainFormAutoCheck.cpp): the settings file read
  // again and the timer set by it; one tick.
  void loadAutoCheck();
  void AutoTimer_Timer();

 public:
  // The scenery page's left position in twips, kept exact: the drift moves
  // it by 2 twips, a fraction of a pixel.
  double sceneryLeft() const { return sceneryLeft_; }
  void setSceneryLeft(double twips);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void buildControls();
  void buildMenu();
  void Form_Load();
  void Form_QueryUnload();
  void Form_Unload();
  void connectShop();
  void stopMusic();
  void startTune(int tune);
  void showPage(const QString& relative);
  void showShopNotice(const QString& text);
  // The automatic check and what other checks stored (MainFormAutoCheck.cpp).
  void buildAutoCheck();
  void runCheck(bool automatic);
  void watchMailFile();
  void learnStoredMail();
  void mailBroughtIn(bool done);
  void tellDesktop(int first, int last);
  void noticeClicked();
  bool userIsBusy() const;

  QFileSystemWatcher* mailWatch_ = nullptr;
  QTimer* retry_ = nullptr;   // a tick that had to wait, tried again
  QTimer* settle_ = nullptr;  // lets a run of file changes end before they are read
  notify::DesktopNotice* notice_ = nullptr;
  int knownCount_ = 0;        // records in the received-mail file as this window last saw them
  bool viewWanted_ = false;   // a notice clicked while a check ran
  qint64 lastInput_ = 0;      // when the user last typed or clicked (ms since the epoch)

  HelpTexts help_{this};
  double sceneryLeft_ = 120;
  bool browserFailureTold_ = false;
  bool unloaded_ = false;
};
