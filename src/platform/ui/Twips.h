#pragma once
// Positions and sizes are given in twips (1/1440 inch); the screen's logical
// DPI turns them into pixels, here and nowhere else.
class QWidget;

namespace twips {

double pixelsPerTwip();
int toPx(double tw);
double fromPx(int px);

// Geometry of a child control, in twips of its parent.
void place(QWidget* w, double left, double top, double width, double height);
void move(QWidget* w, double left, double top);
void resize(QWidget* w, double width, double height);
double left(const QWidget* w);
double top(const QWidget* w);
double width(const QWidget* w);
double height(const QWidget* w);
// The outer size of a top-level window, frame included when it has one.
double outerWidth(const QWidget* window);
double outerHeight(const QWidget* window);

}  // namespace twips
