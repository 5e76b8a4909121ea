#pragma once
// The toolbar of the windows that show a body: buttons of one set, each
// under its key and with its picture, tip and command; the window names
// the keys it has and what each runs.
#include <QHash>
#include <QString>

#include <functional>

class QAction;
class QToolBar;

class KeyedToolBar {
 public:
  // Sets `bar` up as every window has it: named "tbToolBar", fixed in
  // place, small pictures.
  void setUp(QToolBar* bar);
  // The set's button of `key` (New, Open, Save, Print, Cut, Copy, Paste,
  // Bold, Italic, Underline), running `command` when clicked.
  QAction* add(const char* key, std::function<void()> command);
  QAction* button(const QString& key) const { return buttons_.value(key); }
  // Runs the command of the key; a key the bar lacks does nothing.
  void click(const QString& key) const;

 private:
  QToolBar* bar_ = nullptr;
  QHash<QString, QAction*> buttons_;
  QHash<QString, std::function<void()>> commands_;
};
