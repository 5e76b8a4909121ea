#pragma once
// The address book window's list: a report-style list that reports a mouse
// button pressed over it once the press has selected its row.
#include <QTreeView>

class AddressListView : public QTreeView {
  Q_OBJECT
 public:
  using QTreeView::QTreeView;

 Q_SIGNALS:
  void mouseDown();

 protected:
  void mousePressEvent(QMouseEvent* event) override {
    QTreeView::mousePressEvent(event);
    Q_EMIT mouseDown();
  }
};
