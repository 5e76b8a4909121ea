#pragma once
// The desktop's web browser, started on a page the way the windows ask for
// it: one call that shows the browser on the page.
#include <QUrl>
#include <functional>

// True when a browser took the page.
bool openInBrowser(const QUrl& url);

// Takes the place of the desktop's browser while set (tests answer here).
inline std::function<bool(const QUrl&)> g_browserHook;
