#pragma once
// Window order: keep a window above all windows that are not kept on top,
// or give that up, without moving or resizing it; the window is shown.
class QWidget;

enum HwndInsertAfter { HWND_TOPMOST = -1, HWND_NOTOPMOST = -2 };

void SetWindowPos(QWidget* window, HwndInsertAfter insertAfter);
