// Every window as it opens at its default size on a real X server (Xvfb),
// written to build/screenshots/ for a person to look at, and checked for
// what a picture shows and a widget test does not: nothing drawn outside
// the window, and a window that is more than an empty frame.
#include "addressbook/FriendForm.h"
#include "composer/BackForm.h"
#include "composer/WriteForm.h"
#include "facemarks/KaoForm.h"
#include "settings/CertForm.h"
#include "settings/IdPassForm.h"
#include "settings/OptionForm.h"
#include "settings/SetForm.h"
#include "settings/files/AccountSettings.h"
#include "shell/MainForm.h"
#include "support/Gui.h"
#include "viewer/TyakuForm.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <QTest>
#include <gtest/gtest.h>

namespace {

void shoot(QWidget* w, const QString& name) {
  w->show();
  w->raise();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(w)) << name.toStdString();
  pump(300);
  const QImage shot = w->screen()->grabWindow(w->winId()).toImage();
  QSet<QRgb> colours;
  for (int y = 0; y < shot.height(); y += 3)
    for (int x = 0; x < shot.width(); x += 3) colours.insert(shot.pixel(x, y));
  EXPECT_GT(colours.size(), 8) << name.toStdString() << ": an empty window";
  // Every visible control lies inside the window's client area.
  const QRect client = w->rect();
  for (QWidget* c : w->findChildren<QWidget*>()) {
    if (!c->isVisible() || c->isWindow() || c->objectName().isEmpty()) continue;
    const QRect r(c->mapTo(w, QPoint(0, 0)), c->size());
    EXPECT_TRUE(client.contains(r)) << name.toStdString() << ": " << c->objectName().toStdString() << " is cut off";
  }
  const QString dir = QStringLiteral(TOMOSHIBI_SCREENSHOT_DIR);
  ASSERT_TRUE(QDir().mkpath(dir));
  ASSERT_TRUE(shot.save(dir + QLatin1Char('/') + name + QStringLiteral(".png"), "PNG"));
}

}  // namespace

TEST(WindowShots, EveryWindowAtItsDefaultSize) {
  ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb")) << "run under Xvfb";
  TempHome home;
  home.write(QStringLiteral("pelkit.ini"), "SMTP=smtp.example.jp\r\nPOP3=pop.example.jp\r\n" "MAIL=me@example.jp\r\nAPOP=0\r\n");
  ASSERT_TRUE(WriteAccountFile(QStringLiteral("me"), QStringLiteral("pw"), true));
  MainForm main;
  main.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
  pump(200);

  shoot(TyakuForm::instance(), QStringLiteral("viewer"));
  TyakuForm::instance()->hide();
  WriteForm* write = WriteForm::instance();
  shoot(write, QStringLiteral("compose"));
  write->Command17->click();  // the held-mail list and panel
  pump(100);
  shoot(write, QStringLiteral("compose-held"));
  write->hide();
  shoot(BackForm::instance(), QStringLiteral("reply"));
  BackForm::instance()->hide();
  shoot(KaoForm::instance(), QStringLiteral("face-marks"));
  KaoForm::instance()->hide();
  shoot(FriendForm::instance(), QStringLiteral("address-book"));
  FriendForm::instance()->hide();
  ServerCertificate c;
  c.host = QStringLiteral("pop.example.jp");
  c.port = 995;
  c.subject = QStringLiteral("CN=mail.example.jp,O=灯火亭の試験");
  c.issuer = c.subject;
  c.notBefore = QDateTime(QDate(2026, 4, 1), QTime(9, 0), Qt::UTC);
  c.notAfter = QDateTime(QDate(2036, 3, 31), QTime(9, 0), Qt::UTC);
  c.sha256 = QCryptographicHash::hash("certificate", QCryptographicHash::Sha256);
  c.spkiSha256 = QCryptographicHash::hash("key", QCryptographicHash::Sha256);
  CertForm certificate(c, &main);
  shoot(&certificate, QStringLiteral("certificate"));
  certificate.hide();
  main.close();
}
