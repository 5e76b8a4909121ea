// What Qt alone takes of "main window to idle": the same Japanese user
// interface and an empty main window, then "idle MS" as the window program
// prints it for bench_targets. It links what the window program links, but
// the linker keeps only the libraries it calls: Qt's.
#include "platform/ui/AppSetup.h"

#include <QApplication>
#include <QMainWindow>
#include <QTimer>
#include <cstdio>
#include <ctime>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  setUpJapaneseUi(app);
  QMainWindow window;
  window.setWindowTitle(QStringLiteral("灯火亭"));
  window.resize(640, 480);
  window.show();
  const qint64 started = qEnvironmentVariable("TOMOSHIBI_TEST_STARTED_NS").toLongLong();
  QTimer::singleShot(0, &app, [started] {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    std::printf("idle %.3f\n", double(qint64(now.tv_sec) * 1000000000 + now.tv_nsec - started) / 1e6);
    std::fflush(stdout);
    QCoreApplication::quit();
  });
  return app.exec();
}
