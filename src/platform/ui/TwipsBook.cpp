#include "TwipsBook.h"

#include "platform/ui/Twips.h"

#include <QWidget>
#include <algorithm>

TwipsBook::Rect TwipsBook::current(const QWidget* w) const {
  Rect r{twips::left(w), twips::top(w), twips::width(w), twips::height(w)};
  auto it = rects_.constFind(w);
  if (it == rects_.constEnd()) return r;
  // Each figure separately: a rule may have moved a control without resizing it.
  if (twips::toPx(it->left) == w->x()) r.left = it->left;
  if (twips::toPx(it->top) == w->y()) r.top = it->top;
  if (std::max(0, twips::toPx(it->width)) == w->width()) r.width = it->width;
  if (std::max(0, twips::toPx(it->height)) == w->height()) r.height = it->height;
  return r;
}

void TwipsBook::apply(QWidget* w, const Rect& r) {
  rects_.insert(w, r);
  twips::place(w, r.left, r.top, r.width, r.height);
}

void TwipsBook::place(QWidget* w, double left, double top, double width, double height) {
  apply(w, Rect{left, top, width, height});
}

void TwipsBook::setLeft(QWidget* w, double v) {
  Rect r = current(w);
  r.left = v;
  apply(w, r);
}

void TwipsBook::setTop(QWidget* w, double v) {
  Rect r = current(w);
  r.top = v;
  apply(w, r);
}

void TwipsBook::setWidth(QWidget* w, double v) {
  Rect r = current(w);
  r.width = v;
  apply(w, r);
}

void TwipsBook::setHeight(QWidget* w, double v) {
  Rect r = current(w);
  r.height = v;
  apply(w, r);
}

double TwipsBook::left(const QWidget* w) const { return current(w).left; }
double TwipsBook::top(const QWidget* w) const { return current(w).top; }
double TwipsBook::width(const QWidget* w) const { return current(w).width; }
double TwipsBook::height(const QWidget* w) const { return current(w).height; }

void TwipsBook::resizeOuter(QWidget* window, double width, double height) {
  outer_.insert(window, Rect{0, 0, width, height});
  // The frame (title bar, borders) is what the outer size has beyond the inner one.
  const int frameW = window->frameGeometry().width() - window->width();
  const int frameH = window->frameGeometry().height() - window->height();
  window->resize(std::max(1, twips::toPx(width) - frameW), std::max(1, twips::toPx(height) - frameH));
}

double TwipsBook::outerWidth(const QWidget* window) const {
  auto it = outer_.constFind(window);
  if (it != outer_.constEnd() && twips::toPx(it->width) == window->frameGeometry().width()) return it->width;
  return twips::outerWidth(window);
}

double TwipsBook::outerHeight(const QWidget* window) const {
  auto it = outer_.constFind(window);
  if (it != outer_.constEnd() && twips::toPx(it->height) == window->frameGeometry().height()) return it->height;
  return twips::outerHeight(window);
}
