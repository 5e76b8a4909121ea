#pragma once
// Window tests: message boxes answered by script, and the event loop run
// for a while. Everything of TempHome.h comes with it.
#include "support/TempHome.h"

#include <QList>
#include <QMessageBox>
#include <QStringList>

// Answers the program's message boxes: each box is recorded, then answered
// with the next scripted button (or its default one when none is left).
class MsgBoxAnswerer {
 public:
  struct Seen {
    QString title;
    QString text;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
  };
  MsgBoxAnswerer();
  ~MsgBoxAnswerer();
  void answer(QMessageBox::StandardButton b) { answers_.append(b); }
  const QList<Seen>& seen() const { return seen_; }
  QStringList texts() const;

 private:
  QList<QMessageBox::StandardButton> answers_;
  QList<Seen> seen_;
};

// Lets the event loop run for `ms` milliseconds, windows closed meanwhile
// included (they are deleted).
void pump(int ms = 0);
