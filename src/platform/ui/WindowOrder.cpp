#include "WindowOrder.h"

#include <QWidget>

void SetWindowPos(QWidget* window, HwndInsertAfter insertAfter) {
  if (!window) return;
  const QRect geometry = window->geometry();
  const bool wasVisible = window->isVisible();
  // Changing a window flag hides the window; put it back where it was.
  window->setWindowFlag(Qt::WindowStaysOnTopHint, insertAfter == HWND_TOPMOST);
  if (wasVisible) window->setGeometry(geometry);
  window->show();
  window->raise();
}
