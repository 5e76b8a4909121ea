#pragma once
// A fresh program folder for one test, laid out as --init-home does, made
// the program folder and the current directory (where "pelkit.ini" lives)
// for the test's duration.
#include <QByteArray>
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

// No test touches the desktop keyring of the person running the tests: the
// test programs' main() calls this first, and unless the test runs inside
// tests/support/keyring_session.sh (which sets KEYRING_DIR and a private
// bus) the session bus becomes one that cannot be reached, for the test and
// every program it starts, so the program finds no keyring at all.
void keepAwayFromTheDesktopKeyring();
