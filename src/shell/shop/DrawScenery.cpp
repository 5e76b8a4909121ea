// Build tool: paints the pictures of the scenery pages ("Back.png", the
// inside of the shop; "Front.png", the shop front as a letter arrives) into
// the folder named on the command line.
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>
#include <cstdio>

namespace {

constexpr int kWidth = 300, kHeight = 180;

void lantern(QPainter& p, QPointF at, double r) {
  QRadialGradient glow(at, r * 3);
  glow.setColorAt(0, QColor(255, 220, 140, 170));
  glow.setColorAt(1, QColor(255, 180, 80, 0));
  p.setPen(Qt::NoPen);
  p.setBrush(glow);
  p.drawEllipse(at, r * 3, r * 3);
  QRadialGradient body(at - QPointF(r * 0.3, r * 0.4), r * 1.4);
  body.setColorAt(0, QColor(255, 140, 90));
  body.setColorAt(1, QColor(190, 40, 30));
  p.setBrush(body);
  p.drawEllipse(at, r * 0.8, r);
  p.setBrush(QColor(40, 30, 30));
  p.drawRect(QRectF(at.x() - r * 0.35, at.y() - r * 1.1, r * 0.7, r * 0.2));
  p.drawRect(QRectF(at.x() - r * 0.35, at.y() + r * 0.9, r * 0.7, r * 0.2));
  p.setPen(QPen(QColor(120, 30, 20, 140), 1));
  for (int i = -2; i <= 2; ++i) p.drawLine(QPointF(at.x() - r * 0.78 * std::sqrt(1 - i * i / 6.25), at.y() + i * r * 0.38),
                                           QPointF(at.x() + r * 0.78 * std::sqrt(1 - i * i / 6.25), at.y() + i * r * 0.38));
}

void envelope(QPainter& p, QRectF r, double angle) {
  p.save();
  p.translate(r.center());
  p.rotate(angle);
  const QRectF e(-r.width() / 2, -r.height() / 2, r.width(), r.height());
  p.setPen(QPen(QColor(150, 120, 90), 1));
  p.setBrush(QColor(250, 244, 228));
  p.drawRect(e);
  QPainterPath flap;
  flap.moveTo(e.topLeft());
  flap.lineTo(QPointF(0, e.height() * 0.1));
  flap.lineTo(e.topRight());
  p.setBrush(Qt::NoBrush);
  p.drawPath(flap);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(200, 40, 40));
  p.drawEllipse(QPointF(0, e.height() * 0.12), e.height() * 0.12, e.height() * 0.12);
  p.restore();
}

QImage inside() {
  QImage img(kWidth, kHeight, QImage::Format_RGB32);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  // Wooden back wall and floor.
  QLinearGradient wall(0, 0, 0, kHeight);
  wall.setColorAt(0, QColor(92, 58, 34));
  wall.setColorAt(1, QColor(60, 36, 22));
  p.fillRect(img.rect(), wall);
  p.setPen(QPen(QColor(70, 42, 24), 1));
  for (int x = 0; x < kWidth; x += 22) p.drawLine(x, 0, x, 120);
  // A round window on the night.
  const QPointF win(230, 52);
  QRadialGradient night(win, 34);
  night.setColorAt(0, QColor(40, 50, 110));
  night.setColorAt(1, QColor(16, 20, 52));
  p.setPen(QPen(QColor(50, 30, 18), 5));
  p.setBrush(night);
  p.drawEllipse(win, 34, 34);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(255, 248, 210));
  p.drawEllipse(win + QPointF(10, -10), 8, 8);
  for (const QPointF& s : {QPointF(-16, -6), QPointF(-6, 14), QPointF(16, 12), QPointF(-20, 10)})
    p.drawEllipse(win + s, 1.2, 1.2);
  p.setPen(QPen(QColor(50, 30, 18), 2));
  p.drawLine(win + QPointF(-34, 0), win + QPointF(34, 0));
  p.drawLine(win + QPointF(0, -34), win + QPointF(0, 34));
  // Shelves with jars and bundles of letters.
  p.setPen(Qt::NoPen);
  for (int row = 0; row < 2; ++row) {
    const double y = 44 + row * 40;
    p.setBrush(QColor(130, 86, 50));
    p.drawRect(QRectF(14, y, 150, 5));
    for (int i = 0; i < 6; ++i) {
      const double x = 20 + i * 24;
      if ((i + row) % 3 == 0) {
        envelope(p, QRectF(x, y - 14, 18, 12), (i % 2 ? -8 : 6));
      } else {
        static const QColor jars[] = {QColor(70, 110, 150), QColor(170, 120, 60), QColor(90, 140, 90)};
        p.setBrush(jars[(i + row) % 3]);
        p.drawRoundedRect(QRectF(x, y - 22, 16, 22), 4, 4);
        p.setBrush(QColor(230, 220, 200));
        p.drawRect(QRectF(x + 3, y - 15, 10, 7));
      }
    }
  }
  // The counter, a teacup with steam and the lantern above.
  QLinearGradient counter(0, 120, 0, kHeight);
  counter.setColorAt(0, QColor(160, 104, 58));
  counter.setColorAt(1, QColor(110, 68, 36));
  p.setBrush(counter);
  p.drawRect(QRectF(0, 122, kWidth, kHeight - 122));
  p.setBrush(QColor(190, 130, 74));
  p.drawRect(QRectF(0, 118, kWidth, 6));
  p.setBrush(QColor(236, 236, 226));
  p.drawRoundedRect(QRectF(196, 100, 22, 18), 4, 4);
  p.setPen(QPen(QColor(236, 236, 226), 2));
  p.setBrush(Qt::NoBrush);
  p.drawArc(QRectF(214, 104, 10, 9), -90 * 16, 180 * 16);
  p.setPen(QPen(QColor(255, 255, 255, 110), 2));
  for (int i = 0; i < 2; ++i) {
    QPainterPath steam;
    steam.moveTo(202 + i * 8, 96);
    steam.cubicTo(196 + i * 8, 88, 210 + i * 8, 82, 203 + i * 8, 72);
    p.drawPath(steam);
  }
  p.setPen(QPen(QColor(30, 20, 16), 1));
  p.drawLine(QPointF(110, 0), QPointF(110, 16));
  lantern(p, QPointF(110, 34), 16);
  return img;
}

QImage front() {
  QImage img(kWidth, kHeight, QImage::Format_RGB32);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  // Dusk.
  QLinearGradient sky(0, 0, 0, kHeight);
  sky.setColorAt(0, QColor(30, 40, 96));
  sky.setColorAt(0.55, QColor(180, 100, 110));
  sky.setColorAt(1, QColor(240, 170, 110));
  p.fillRect(img.rect(), sky);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(255, 250, 220));
  for (const QPointF& s : {QPointF(20, 14), QPointF(70, 30), QPointF(140, 10), QPointF(260, 24), QPointF(200, 40)})
    p.drawEllipse(s, 1.3, 1.3);
  // The shop: roof, wall, a lit front with its curtain.
  p.setBrush(QColor(46, 44, 56));
  QPainterPath roof;
  roof.moveTo(20, 84);
  roof.lineTo(120, 50);
  roof.lineTo(220, 84);
  roof.closeSubpath();
  p.drawPath(roof);
  p.setBrush(QColor(104, 68, 40));
  p.drawRect(QRectF(34, 82, 172, 98));
  QLinearGradient lit(0, 100, 0, 180);
  lit.setColorAt(0, QColor(255, 210, 120));
  lit.setColorAt(1, QColor(210, 130, 60));
  p.setBrush(lit);
  p.drawRect(QRectF(70, 104, 100, 76));
  p.setBrush(QColor(30, 52, 112));
  for (int i = 0; i < 3; ++i) p.drawRect(QRectF(72 + i * 33, 104, 30, 26));
  lantern(p, QPointF(52, 120), 11);
  // A postbox by the door.
  p.setBrush(QColor(200, 40, 36));
  p.drawRoundedRect(QRectF(182, 132, 18, 40), 5, 5);
  p.setBrush(QColor(40, 20, 20));
  p.drawRect(QRectF(185, 140, 12, 3));
  // The letter flying in, with its trail.
  for (int i = 0; i < 7; ++i) {
    const double t = i / 6.0;
    p.setBrush(QColor(255, 250, 200, int(40 + 150 * t)));
    p.drawEllipse(QPointF(290 - 60 * t, 40 + 30 * t * t), 1 + 1.5 * t, 1 + 1.5 * t);
  }
  envelope(p, QRectF(214, 64, 30, 20), -12);
  return img;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 2;
  }
  const QString folder = QString::fromLocal8Bit(argv[1]);
  if (!inside().save(folder + QStringLiteral("/Back.png")) || !front().save(folder + QStringLiteral("/Front.png"))) {
    std::fprintf(stderr, "cannot write the pictures into %s\n", argv[1]);
    return 1;
  }
  return 0;
}
