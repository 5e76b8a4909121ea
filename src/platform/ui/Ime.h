#pragma once
// The input method, spoken to as the windows do: a message registered by
// name and sent to the window's default input-method window. Here the
// messages drive Qt's input method: "MSIMEShowImePad" shows the input
// method's panel (both parameters 1) or hides it (both 0), "MSIMEService"
// tells it that the window is in use. Tests see every message sent
// (platform/TestHooks.h).
#include <QPointer>
#include <QString>
#include <QWidget>
#include <cstdint>

using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;

// The default input-method window of a window: null when there is none.
struct ImeWindow {
  QPointer<QWidget> owner;
  explicit operator bool() const { return !owner.isNull(); }
};

ImeWindow ImmGetDefaultIMEWnd(QWidget* window);
// The same number for the same name, every time; numbers from 0xC000 on,
// as registered messages have. 0 for an empty name.
unsigned RegisterWindowMessageA(const QString& name);
// Sends a registered message; the result is 0, as nothing answers it here.
LRESULT SendMessageA(const ImeWindow& window, unsigned message, WPARAM wParam, LPARAM lParam);
