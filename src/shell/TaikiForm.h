#pragma once
// The standby window "待機中": a small clock kept above other windows
// while the main window is hidden, and "復帰" to bring the main window
// back. Closing it in any other way brings the main window back too.
#include <QWidget>

class QLineEdit;
class QLocale;
class QPushButton;
class QTime;
class QTimer;

class TaikiForm : public QWidget {
  Q_OBJECT
 public:
  // The window, created and loaded when it does not exist yet.
  static TaikiForm* instance();
  // The window if it exists, else null.
  static TaikiForm* existing();
  ~TaikiForm() override;

  QLineEdit* Text1 = nullptr;      // the time
  QPushButton* Command1 = nullptr;  // 復帰
  QTimer* Timer1 = nullptr;         // the clock, 1000 ms

  // A time as the clock shows it: the system's long time format, without
  // the time zone it may carry.
  static QString clockText(const QTime& time, const QLocale& locale);

 public slots:
  void Command1_Click();
  void Timer1_Timer();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  TaikiForm();
  void Form_Load();
};
