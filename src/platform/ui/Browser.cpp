#include "Browser.h"

#include "platform/TestHooks.h"

#include <QDesktopServices>

bool openInBrowser(const QUrl& url) {
#ifdef TOMOSHIBI_TEST_HOOKS
  if (testhooks::browser) return testhooks::browser(url);
#endif
  return QDesktopServices::openUrl(url);
}
