#pragma once
// The twips a window last gave its controls. Layout rules are written in
// twips and read positions that earlier rules set; pixels would hand back
// figures rounded to 15 twips (at 96 DPI) and the error would pile up from
// rule to rule. A figure is kept only while the control still sits on the
// pixel it was put on; a control moved by other means reads from its pixels.
#include <QHash>

class QWidget;

class TwipsBook {
 public:
  void place(QWidget* w, double left, double top, double width, double height);
  void setLeft(QWidget* w, double v);
  void setTop(QWidget* w, double v);
  void setWidth(QWidget* w, double v);
  void setHeight(QWidget* w, double v);

  double left(const QWidget* w) const;
  double top(const QWidget* w) const;
  double width(const QWidget* w) const;
  double height(const QWidget* w) const;

  // A top-level window's outer size: asked for with resizeOuter, read with
  // outerWidth/outerHeight.
  void resizeOuter(QWidget* window, double width, double height);
  double outerWidth(const QWidget* window) const;
  double outerHeight(const QWidget* window) const;

 private:
  struct Rect {
    double left = 0, top = 0, width = 0, height = 0;
  };
  Rect current(const QWidget* w) const;
  void apply(QWidget* w, const Rect& r);

  QHash<const QWidget*, Rect> rects_;
  QHash<const QWidget*, Rect> outer_;  // only width and height are used
};
