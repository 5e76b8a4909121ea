#pragma once
// The dialog "自動受信": whether the main window checks for mail by itself,
// and every how many minutes (1 to 1440), kept in the program's own
// settings file (settings/files/AutoCheckFile.h). The main window takes up
// a confirmed choice at once.
#include "settings/SettingsDialog.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QSpinBox;

class AutoCheckForm : public SettingsDialog {
  Q_OBJECT
 public:
  // Shows the dialog, filled from the file, creating it when it is not open.
  static AutoCheckForm* showDialog();
  static AutoCheckForm* instance();  // the open dialog, or null

  QCheckBox* AutoCheck;       // check by itself
  QLabel* MinutesLabel;       // "受信の間隔（分）"
  QSpinBox* MinutesSpin;      // every how many minutes
  QPushButton* OkCommand;     // "設定"; CancelCommand is "中止"

 public slots:
  void OkCommand_Click();

 private:
  AutoCheckForm();
};
