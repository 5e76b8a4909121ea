#include "BackColor.h"

#include <QAbstractButton>
#include <QPalette>
#include <QWidget>

namespace {
QPalette::ColorRole roleOf(const QWidget* control) {
  return qobject_cast<const QAbstractButton*>(control) ? QPalette::Button : QPalette::Base;
}
}  // namespace

void setBackColor(QWidget* control, const QColor& color) {
  QPalette p = control->palette();
  for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
    p.setColor(g, roleOf(control), color);
  control->setPalette(p);
}

QColor backColor(const QWidget* control) { return control->palette().color(QPalette::Active, roleOf(control)); }
