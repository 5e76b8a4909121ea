#include "Icons.h"

#include <QFont>
#include <QPainter>
#include <QPixmap>
#include <QStandardPaths>
#include <QStringList>

namespace icons {

void setUpTheme() {
  // A desktop's platform names its icon folders; a bare display or none
  // names only Qt's resources, and the installed themes would go unseen.
  QStringList folders = QIcon::themeSearchPaths();
  for (const QString& f :
       QStandardPaths::locateAll(QStandardPaths::GenericDataLocation, QStringLiteral("icons"), QStandardPaths::LocateDirectory))
    if (!folders.contains(f)) folders << f;
  QIcon::setThemeSearchPaths(folders);
  QIcon::setFallbackThemeName(kFallbackTheme);
  // Without a theme of its own the fallback is never asked.
  if (QIcon::themeName().isEmpty()) QIcon::setThemeName(kFallbackTheme);
}

QIcon toolIcon(const QString& name, const QString& glyph) {
  const QIcon themed = QIcon::fromTheme(name);
  if (!themed.isNull()) return themed;
  QPixmap pm(32, 32);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  QFont f = p.font();
  f.setPixelSize(24);
  f.setBold(name == u"format-text-bold");
  f.setItalic(name == u"format-text-italic");
  f.setUnderline(name == u"format-text-underline");
  p.setFont(f);
  p.setPen(QColor(32, 32, 32));
  p.drawText(pm.rect(), Qt::AlignCenter, glyph);
  p.end();
  return QIcon(pm);
}

}  // namespace icons
