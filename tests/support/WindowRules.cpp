#include "support/WindowRules.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QStyle>
#include <QStyleOptionButton>
#include <QApplication>
#include <QContextMenuEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSet>
#include <QToolBar>

QString spokenName(QWidget* w) {
  QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
  return a ? a->text(QAccessible::Name) : QString();
}

QString spokenValue(QWidget* w) {
  QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
  if (!a) return QString();
  if (QAccessibleTextInterface* t = a->textInterface()) return t->text(0, t->characterCount());
  return a->text(QAccessible::Value);
}

namespace {

QString nameOf(const QObject* o) {
  return QStringLiteral("%1 (%2)").arg(o->objectName(), QString::fromLatin1(o->metaObject()->className()));
}

// A control of the program's own, as opposed to the parts Qt builds it from.
bool isControl(const QObject* o) { return !o->objectName().isEmpty() && !o->objectName().startsWith(u"qt_"); }

}  // namespace

QStringList screenReaderFaults(QWidget* window) {
  QStringList faults;
  QSet<QString> internal;
  for (QObject* o : window->findChildren<QObject*>())
    if (isControl(o)) internal.insert(o->objectName());
  internal.insert(window->objectName());
  auto shown = [&](const QObject* where, const QString& what, const QString& text) {
    QString bare = text;
    bare.remove(u'&');
    if (internal.contains(bare.trimmed()))
      faults << QStringLiteral("%1: %2 \"%3\" is an internal name").arg(nameOf(where), what, text);
  };

  shown(window, QStringLiteral("window title"), window->windowTitle());
  for (QAction* a : window->findChildren<QAction*>()) {
    shown(a, QStringLiteral("menu or toolbar text"), a->text());
    shown(a, QStringLiteral("tooltip"), a->toolTip());
  }
  // A right-click on a bar, where it has buttons and where it has none.
  for (QToolBar* bar : window->findChildren<QToolBar*>()) {
    if (!bar->isVisibleTo(window)) continue;
    for (const QPoint at : {QPoint(4, bar->height() / 2), QPoint(bar->width() - 4, bar->height() / 2)}) {
      QContextMenuEvent click(QContextMenuEvent::Mouse, at, bar->mapToGlobal(at));
      QCoreApplication::sendEvent(bar->childAt(at) ? bar->childAt(at) : bar, &click);
      QCoreApplication::processEvents();
      if (QWidget* popup = QApplication::activePopupWidget()) {
        QStringList items;
        for (QAction* a : popup->actions()) items << a->text();
        faults << QStringLiteral("%1: a right-click on it opens a menu (%2)").arg(nameOf(bar), items.join(u", "));
        popup->close();
      }
    }
  }

  for (QWidget* w : window->findChildren<QWidget*>()) {
    if (!isControl(w) || !w->isVisibleTo(window)) continue;
    const QString name = spokenName(w);
    shown(w, QStringLiteral("spoken name"), name);
    shown(w, QStringLiteral("tooltip"), w->toolTip());
    if (qobject_cast<QToolBar*>(w)) shown(w, QStringLiteral("bar title"), w->windowTitle());
    if (auto* b = qobject_cast<QAbstractButton*>(w)) {
      shown(w, QStringLiteral("caption"), b->text());
      if (name.trimmed().isEmpty()) faults << nameOf(w) + QStringLiteral(": a control without a caption has no name");
    } else if (auto* l = qobject_cast<QLabel*>(w)) {
      shown(w, QStringLiteral("text"), l->text());
      const bool picture = !l->pixmap().isNull();
      if (picture && name.trimmed().isEmpty()) faults << nameOf(w) + QStringLiteral(": a picture has no name");
      if (!picture && !l->accessibleName().isEmpty())
        faults << nameOf(w) + QStringLiteral(": the fixed name \"%1\" hides the text it shows").arg(l->accessibleName());
    } else if (qobject_cast<QLineEdit*>(w) || qobject_cast<QAbstractScrollArea*>(w) || qobject_cast<QComboBox*>(w)) {
      if (name.trimmed().isEmpty()) faults << nameOf(w) + QStringLiteral(": a box without a label has no name");
      auto* e = qobject_cast<QLineEdit*>(w);
      if (e && e->echoMode() == QLineEdit::Normal && spokenValue(w) != e->text())
        faults << nameOf(w) + QStringLiteral(": reads \"%1\" while it shows \"%2\"").arg(spokenValue(w), e->text());
    }
  }
  return faults;
}

int markOffsetFromLabel(const QCheckBox* box, const QLabel* label) {
  QStyleOptionButton opt;
  opt.initFrom(box);
  const QRect mark = box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &opt, box);
  const int markMiddle = box->mapTo(box->window(), mark.center()).y();
  // Where the label draws its text, as QLabel paints plain text.
  const int m = label->margin();
  const QRect area = label->contentsRect().adjusted(m, m, -m, -m);
  const int flags = int(label->alignment()) | (label->wordWrap() ? int(Qt::TextWordWrap) : 0);
  const QRect text = label->style()->itemTextRect(label->fontMetrics(), area, flags, true, label->text());
  const int lineMiddle = label->mapTo(label->window(), QPoint(0, text.top() + label->fontMetrics().height() / 2)).y();
  return markMiddle - lineMiddle;
}
