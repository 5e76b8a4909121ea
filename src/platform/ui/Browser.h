#pragma once
// The desktop's web browser, started on a page the way the windows ask for
// it: one call that shows the browser on the page.
#include <QUrl>

// True when a browser took the page.
bool openInBrowser(const QUrl& url);
