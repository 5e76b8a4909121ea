#include "Ime.h"

#include "platform/TestHooks.h"

#include <QGuiApplication>
#include <QHash>
#include <QInputMethod>

namespace {

QHash<QString, unsigned>& registered() {
  static QHash<QString, unsigned> names;
  return names;
}

}  // namespace

ImeWindow ImmGetDefaultIMEWnd(QWidget* window) { return ImeWindow{window ? window->window() : nullptr}; }

unsigned RegisterWindowMessageA(const QString& name) {
  if (name.isEmpty()) return 0;
  QHash<QString, unsigned>& names = registered();
  const auto it = names.constFind(name);
  if (it != names.constEnd()) return *it;
  const unsigned id = 0xC000u + unsigned(names.size());
  names.insert(name, id);
  return id;
}

LRESULT SendMessageA(const ImeWindow& window, unsigned message, WPARAM wParam, LPARAM lParam) {
  if (!window) return 0;
  const QString name = registered().key(message);
#ifdef TOMOSHIBI_TEST_HOOKS
  if (testhooks::imeMessage)
    testhooks::imeMessage(name.isEmpty() ? QString::number(message) : name, wParam, lParam, window.owner->objectName());
#endif
  QInputMethod* im = QGuiApplication::inputMethod();
  if (name == u"MSIMEShowImePad") {
    if (wParam != 0)
      im->show();
    else
      im->hide();
  } else if (name == u"MSIMEService") {
    // The input method follows the focus by itself; it only needs to know
    // what the window's focused box holds now.
    im->update(Qt::ImQueryAll);
  }
  return 0;
}
