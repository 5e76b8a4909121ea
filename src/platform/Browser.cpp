#include "Browser.h"

#include <QDesktopServices>

bool openInBrowser(const QUrl& url) {
  if (g_browserHook) return g_browserHook(url);
  return QDesktopServices::openUrl(url);
}
