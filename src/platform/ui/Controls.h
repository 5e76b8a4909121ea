#pragma once
// Controls made as every window makes them: on one parent, at twips
// positions, under the names the windows are known by (other windows and
// outside checks find controls by name), a box with the name a screen
// reader speaks. A window that keeps a twips book places through it.
#include <QHash>
#include <QString>

class QLabel;
class QLineEdit;
class QObject;
class QPlainTextEdit;
class QPushButton;
class QWidget;
class TwipsBook;

// The control named `name`; the name is the design's, in ASCII.
template <class W>
W* named(W* control, const char* name) {
  control->setObjectName(QString::fromLatin1(name));
  return control;
}

class Controls {
 public:
  explicit Controls(QWidget* parent, TwipsBook* book = nullptr) : parent_(parent), book_(book) {}
  // The same placing, on another parent (a frame, a panel).
  Controls on(QWidget* parent) const { return Controls(parent, book_); }
  QWidget* parent() const { return parent_; }

  void place(QWidget* control, double left, double top, double width, double height) const;

  QPushButton* button(QPushButton*& b, const char* name, const QString& caption) const;
  QPushButton* button(QPushButton*& b, const char* name, const QString& caption, double left, double top,
                      double width, double height) const;
  // A box made beforehand (one with a typing limit) is named and placed;
  // where `e` is null a plain one is made.
  QLineEdit* box(QLineEdit*& e, const char* name, const QString& accessible) const;
  QLineEdit* box(QLineEdit*& e, const char* name, const QString& accessible, double left, double top, double width,
                 double height) const;
  QLabel* label(QLabel*& lb, const char* name, const QString& caption) const;
  QLabel* label(QLabel*& lb, const char* name, const QString& caption, double left, double top, double width,
                double height) const;
  // A label kept in an array rather than a member of its own.
  QLabel* label(const char* name, const QString& caption, double left, double top, double width,
                double height) const;

 private:
  QWidget* parent_;
  TwipsBook* book_;
};

// What each control does, shown by its window in the help box while the
// mouse is over the control: the window watches the controls' events.
class HelpTexts {
 public:
  explicit HelpTexts(QObject* watcher) : watcher_(watcher) {}
  void set(QWidget* control, const QString& text);
  // Null where the control has none.
  const QString* find(const QObject* control) const;
  QString of(const QWidget* control) const { return texts_.value(control); }
  // The text of `control` shown in the help box `box` (with plain line
  // breaks); false, and the box left as it is, when the control has none.
  bool showIn(const QObject* control, QPlainTextEdit* box) const;
  // The height `box` needs to show the longest text whole.
  int tallest(QPlainTextEdit* box) const;
  const QHash<const QWidget*, QString>& all() const { return texts_; }

 private:
  QObject* watcher_;
  QHash<const QWidget*, QString> texts_;
};
