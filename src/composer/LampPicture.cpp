#include "LampPicture.h"

#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <algorithm>

QPixmap paintLamp(const QSize& size) {
  QPixmap pm(size);
  pm.fill(QColor(40, 30, 60));
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  const QPointF c(size.width() / 2.0, size.height() * 0.45);
  const double r = std::min(size.width(), size.height()) * 0.42;
  QRadialGradient glow(c, r);
  glow.setColorAt(0, QColor(255, 220, 140, 230));
  glow.setColorAt(1, QColor(255, 160, 60, 0));
  p.setBrush(glow);
  p.setPen(Qt::NoPen);
  p.drawEllipse(c, r, r);
  QPainterPath flame;
  flame.moveTo(c.x(), c.y() - r * 0.45);
  flame.cubicTo(c.x() + r * 0.22, c.y() - r * 0.1, c.x() + r * 0.15, c.y() + r * 0.2, c.x(), c.y() + r * 0.2);
  flame.cubicTo(c.x() - r * 0.15, c.y() + r * 0.2, c.x() - r * 0.22, c.y() - r * 0.1, c.x(), c.y() - r * 0.45);
  p.setBrush(QColor(255, 245, 200));
  p.drawPath(flame);
  p.setBrush(QColor(120, 70, 40));
  p.drawRect(QRectF(c.x() - r * 0.35, c.y() + r * 0.28, r * 0.7, r * 0.12));
  return pm;
}
