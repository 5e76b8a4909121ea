#include "ShopPicture.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

QPixmap paintShopPicture(const QSize& size) {
  QPixmap pm(size);
  const double w = size.width(), h = size.height();
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);

  // Evening sky.
  QLinearGradient sky(0, 0, 0, h);
  sky.setColorAt(0, QColor(24, 32, 72));
  sky.setColorAt(0.6, QColor(92, 64, 110));
  sky.setColorAt(1, QColor(40, 30, 40));
  p.fillRect(pm.rect(), sky);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(255, 250, 220));
  for (const QPointF& s : {QPointF(0.1, 0.08), QPointF(0.3, 0.15), QPointF(0.55, 0.05), QPointF(0.8, 0.12), QPointF(0.9, 0.3)})
    p.drawEllipse(QPointF(s.x() * w, s.y() * h), 1.5, 1.5);
  p.drawEllipse(QPointF(0.82 * w, 0.16 * h), 0.05 * h, 0.05 * h);  // the moon

  // The shop: roof, wall, open front with a noren curtain.
  const QRectF wall(0.15 * w, 0.38 * h, 0.7 * w, 0.52 * h);
  p.setBrush(QColor(110, 72, 40));
  p.drawRect(wall);
  QPainterPath roof;
  roof.moveTo(0.08 * w, 0.40 * h);
  roof.lineTo(0.5 * w, 0.20 * h);
  roof.lineTo(0.92 * w, 0.40 * h);
  roof.closeSubpath();
  p.setBrush(QColor(50, 50, 60));
  p.drawPath(roof);
  const QRectF front(0.3 * w, 0.5 * h, 0.4 * w, 0.4 * h);
  QLinearGradient glow(0, front.top(), 0, front.bottom());
  glow.setColorAt(0, QColor(255, 200, 110));
  glow.setColorAt(1, QColor(200, 120, 50));
  p.setBrush(glow);
  p.drawRect(front);
  p.setBrush(QColor(30, 50, 110));
  for (int i = 0; i < 3; ++i)
    p.drawRect(QRectF(front.left() + i * front.width() / 3 + 2, front.top(), front.width() / 3 - 4, front.height() * 0.35));
  p.setPen(Qt::white);
  QFont f = p.font();
  f.setPixelSize(int(front.height() * 0.16));
  p.setFont(f);
  const QStringList letters = {QStringLiteral("灯"), QStringLiteral("火"), QStringLiteral("亭")};
  for (int i = 0; i < 3; ++i)
    p.drawText(QRectF(front.left() + i * front.width() / 3, front.top(), front.width() / 3, front.height() * 0.35),
               Qt::AlignCenter, letters[i]);

  // The lantern that gives the shop its name.
  const QPointF lantern(0.22 * w, 0.6 * h);
  QRadialGradient light(lantern, 0.12 * h);
  light.setColorAt(0, QColor(255, 230, 150, 200));
  light.setColorAt(1, QColor(255, 180, 80, 0));
  p.setPen(Qt::NoPen);
  p.setBrush(light);
  p.drawEllipse(lantern, 0.12 * h, 0.12 * h);
  p.setBrush(QColor(230, 60, 40));
  p.drawEllipse(lantern, 0.035 * w, 0.06 * h);
  return pm;
}
