#pragma once
// A window there is at most one of: made on first use, made again after
// it was closed (its close deletes it), brought forward when asked for.
#include <QPointer>
#include <QWidget>

// Shown, above the other windows and given the keyboard.
inline void bringUp(QWidget* window) {
  window->show();
  window->raise();
  window->activateWindow();
}

// The same for a window the user may have minimised.
inline void bringBack(QWidget* window) {
  window->show();
  window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
  window->raise();
  window->activateWindow();
}

// A window asked for: one just made shows itself as it loads, one that
// was open already is shown and raised; given the keyboard either way.
inline void bringUp(QWidget* window, bool wasOpen) {
  if (wasOpen) {
    window->show();
    window->raise();
  }
  window->activateWindow();
}

template <class W>
class SingleWindow {
 public:
  // Null while there is none.
  W* existing() const { return window_; }
  // A window whose constructor names itself the one, before it loads.
  void hold(W* window) { window_ = window; }
  // The window, made by `make` when there is none. The constructors are
  // the windows' own: `make` is written inside them.
  template <class Make>
  W* instance(Make make) {
    if (!window_) window_ = make();
    return window_;
  }
  // The window made or brought up as bringUp(window, wasOpen) says.
  template <class Make>
  W* summon(Make make) {
    const bool open = window_ != nullptr;
    W* window = instance(make);
    bringUp(window, open);
    return window;
  }

 private:
  QPointer<W> window_;
};
