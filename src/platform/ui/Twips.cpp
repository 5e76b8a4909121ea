#include "Twips.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>
#include <cmath>

namespace twips {

double pixelsPerTwip() {
  const QScreen* s = QGuiApplication::primaryScreen();
  const double dpi = s ? s->logicalDotsPerInchX() : 96.0;
  return dpi / 1440.0;
}

int toPx(double tw) { return int(std::lround(tw * pixelsPerTwip())); }
double fromPx(int px) { return px / pixelsPerTwip(); }

void place(QWidget* w, double l, double t, double wd, double ht) {
  w->setGeometry(toPx(l), toPx(t), std::max(0, toPx(wd)), std::max(0, toPx(ht)));
}
void move(QWidget* w, double l, double t) { w->move(toPx(l), toPx(t)); }
void resize(QWidget* w, double wd, double ht) { w->resize(std::max(0, toPx(wd)), std::max(0, toPx(ht))); }
double left(const QWidget* w) { return fromPx(w->x()); }
double top(const QWidget* w) { return fromPx(w->y()); }
double width(const QWidget* w) { return fromPx(w->width()); }
double height(const QWidget* w) { return fromPx(w->height()); }
double outerWidth(const QWidget* window) { return fromPx(window->frameGeometry().width()); }
double outerHeight(const QWidget* window) { return fromPx(window->frameGeometry().height()); }

}  // namespace twips
