#include "TempHome.h"

#include "platform/Paths.h"
#include "platform/ProgramFolder.h"

#include <QDir>
#include <QFile>
#include <stdexcept>

TempHome::TempHome(bool layOut) {
  if (!dir_.isValid()) throw std::runtime_error("no temporary folder");
  QString error;
  if (layOut && !layOutProgramFolder(dir_.path(), &error)) throw std::runtime_error(error.toStdString());
  paths::setProgramFolder(dir_.path());
  oldCwd_ = QDir::currentPath();
  QDir::setCurrent(dir_.path());
}

TempHome::~TempHome() { QDir::setCurrent(oldCwd_); }

QString TempHome::file(const QString& relative) const { return paths::resolveIn(dir_.path(), relative); }

QByteArray TempHome::read(const QString& relative) const {
  QFile f(file(relative));
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void TempHome::write(const QString& relative, const QByteArray& data) const {
  QFile f(file(relative));
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) throw std::runtime_error("cannot write test file");
  f.write(data);
}

void keepAwayFromTheDesktopKeyring() {
  if (!qEnvironmentVariableIsEmpty("KEYRING_DIR")) return;
  qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/tomoshibi-tests-reach-no-session-bus");
}
