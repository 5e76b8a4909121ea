#pragma once
// The compose window's side list: a list box that reports a mouse button
// pressed over it once the press has selected its row.
#include <QListWidget>

class SideList : public QListWidget {
  Q_OBJECT
 public:
  using QListWidget::QListWidget;

 Q_SIGNALS:
  void mouseDown();

 protected:
  void mousePressEvent(QMouseEvent* event) override {
    QListWidget::mousePressEvent(event);
    Q_EMIT mouseDown();
  }
};
