// The screenshot the AppStream metainfo shows: the main window as it opens
// on a real X server (Xvfb), written where the metainfo points.
#include "settings/files/AccountSettings.h"
#include "shell/MainForm.h"
#include "support/Gui.h"

#include <QDir>
#include <QApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QSet>
#include <QTest>
#include <algorithm>
#include <gtest/gtest.h>

TEST(Screenshot, TheMainWindowAsItOpens) {
  ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb")) << "run under Xvfb";
  TempHome home;
  // Set up as a user has it, so that no start-up dialog covers the shop.
  home.write(QStringLiteral("pelkit.ini"), "SMTP=smtp.example.jp\r\nPOP3=pop.example.jp\r\n" "MAIL=me@example.jp\r\nAPOP=0\r\n");
  ASSERT_TRUE(WriteAccountFile(QStringLiteral("me"), QStringLiteral("pw"), true));
  MainForm form;
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  pump(500);  // the scenery page and the list are drawn
  const QWidgetList windows = QApplication::topLevelWidgets();
  ASSERT_EQ(std::count_if(windows.begin(), windows.end(), [](QWidget* w) { return w->isVisible(); }), 1)
      << "a dialog covers the main window";
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
