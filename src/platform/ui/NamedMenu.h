#pragma once
// Menu items carry their names, as every control does, so that other
// windows and outside checks can find them.
#include <QAction>
#include <QMenu>

inline QAction* addNamedItem(QMenu* menu, const char* name, const QString& caption) {
  QAction* a = menu->addAction(caption);
  a->setObjectName(QString::fromLatin1(name));
  return a;
}

inline QAction* addNamedSeparator(QMenu* menu, const char* name) {
  QAction* a = menu->addSeparator();
  a->setObjectName(QString::fromLatin1(name));
  return a;
}
