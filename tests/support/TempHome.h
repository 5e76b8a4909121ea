#pragma once
// A fresh program folder for one test, laid out as --init-home does, made
// the program folder and the current directory (where "pelkit.ini" lives)
// for the test's duration.
#include <QByteArray>
#include <QList>
#include <QMessageBox>
#include <QString>
#include <QTemporaryDir>

class TempHome {
 public:
  // `layOut` false leaves the folder empty (no data folder).
  explicit TempHome(bool layOut = true);
  ~TempHome();
  QString path() const { return dir_.path(); }
  // A path below the program folder, matched as the program matches names.
  QString file(const QString& relative) const;
  QByteArray read(const QString& relative) const;
  void write(const QString& relative, const QByteArray& data) const;

 private:
  QTemporaryDir dir_;
  QString oldCwd_;
};

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
