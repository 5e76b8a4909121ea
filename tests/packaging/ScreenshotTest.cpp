// The screenshot the AppStream metainfo shows: the main window as it opens
// on a real X server (Xvfb), written where the metainfo points.
#include "shell/MainForm.h"
#include "support/Gui.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QSet>
#include <QTest>
#include <gtest/gtest.h>

TEST(Screenshot, TheMainWindowAsItOpens) {
  ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb")) << "run under Xvfb";
  TempHome home;
  MainForm form;
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  pump(500);  // the scenery page and the list are drawn
  const QImage shot = form.screen()->grabWindow(form.winId()).toImage();
  ASSERT_GE(shot.width(), 400);
  ASSERT_GE(shot.height(), 300);
  // A real picture, not a blank window: the shop has many colours.
  QSet<QRgb> colours;
  for (int y = 0; y < shot.height(); y += 4)
    for (int x = 0; x < shot.width(); x += 4) colours.insert(shot.pixel(x, y));
  EXPECT_GT(colours.size(), 50);
  const QString path = QStringLiteral(TOMOSHIBI_SCREENSHOT);
  ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
  ASSERT_TRUE(shot.save(path, "PNG"));
  form.close();
}
