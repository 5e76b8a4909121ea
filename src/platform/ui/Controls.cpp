#include "Controls.h"

#include "platform/ui/Twips.h"
#include "platform/ui/TextFit.h"
#include "platform/ui/TwipsBook.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <algorithm>

void Controls::place(QWidget* control, double left, double top, double width, double height) const {
  if (book_)
    book_->place(control, left, top, width, height);
  else
    twips::place(control, left, top, width, height);
}

QPushButton* Controls::button(QPushButton*& b, const char* name, const QString& caption) const {
  b = named(new QPushButton(caption, parent_), name);
  return b;
}

QPushButton* Controls::button(QPushButton*& b, const char* name, const QString& caption, double left, double top,
                              double width, double height) const {
  place(button(b, name, caption), left, top, width, height);
  return b;
}

QLineEdit* Controls::box(QLineEdit*& e, const char* name, const QString& accessible) const {
  if (!e) e = new QLineEdit(parent_);
  named(e, name)->setAccessibleName(accessible);
  return e;
}

QLineEdit* Controls::box(QLineEdit*& e, const char* name, const QString& accessible, double left, double top,
                         double width, double height) const {
  place(box(e, name, accessible), left, top, width, height);
  return e;
}

QLabel* Controls::label(QLabel*& lb, const char* name, const QString& caption) const {
  lb = named(new QLabel(caption, parent_), name);
  return lb;
}

QLabel* Controls::label(QLabel*& lb, const char* name, const QString& caption, double left, double top, double width,
                        double height) const {
  place(label(lb, name, caption), left, top, width, height);
  return lb;
}

QLabel* Controls::label(const char* name, const QString& caption, double left, double top, double width,
                        double height) const {
  QLabel* lb = nullptr;
  return label(lb, name, caption, left, top, width, height);
}

void HelpTexts::set(QWidget* control, const QString& text) {
  texts_.insert(control, text);
  control->installEventFilter(watcher_);
}

const QString* HelpTexts::find(const QObject* control) const {
  auto it = texts_.constFind(qobject_cast<const QWidget*>(control));
  return it == texts_.constEnd() ? nullptr : &*it;
}

bool HelpTexts::showIn(const QObject* control, QPlainTextEdit* box) const {
  const QString* help = find(control);
  if (!help) return false;
  QString shown = *help;
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  if (box->toPlainText() != shown) box->setPlainText(shown);
  box->show();
  return true;
}

int HelpTexts::tallest(QPlainTextEdit* box) const {
  int need = box->height();
  for (const QString& help : texts_) need = std::max(need, textfit::plainHeightFor(box, help));
  return need;
}
