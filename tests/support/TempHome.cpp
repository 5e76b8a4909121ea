#include "TempHome.h"

#include "platform/MsgBox.h"
#include "platform/Paths.h"
#include "shell/ProgramFolder.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTimer>
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

MsgBoxAnswerer::MsgBoxAnswerer() {
  g_msgBoxHook = [this](QMessageBox* box) {
    seen_.append({box->windowTitle(), box->text(), box->icon(), box->standardButtons()});
    QMessageBox::StandardButton b = answers_.isEmpty() ? QMessageBox::NoButton : answers_.takeFirst();
    QTimer::singleShot(0, box, [box, b] {
      QAbstractButton* button = b != QMessageBox::NoButton ? box->button(b) : nullptr;
      if (!button) button = box->defaultButton();
      if (!button) button = box->buttons().value(0);
      if (button) button->click();
    });
  };
}

MsgBoxAnswerer::~MsgBoxAnswerer() { g_msgBoxHook = nullptr; }

QStringList MsgBoxAnswerer::texts() const {
  QStringList t;
  for (const Seen& s : seen_) t << s.text;
  return t;
}

void pump(int ms) {
  QDeadlineTimer dl(ms);
  do {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    // Outside a running event loop deleteLater() waits for this explicitly.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  } while (!dl.hasExpired());
}
