#include "support/Gui.h"

#include "platform/TestHooks.h"
#include "platform/ui/MsgBox.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QPushButton>
#include <QTimer>

MsgBoxAnswerer::MsgBoxAnswerer() {
  testhooks::msgBox = [this](QMessageBox* box) {
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

MsgBoxAnswerer::~MsgBoxAnswerer() { testhooks::msgBox = nullptr; }

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
