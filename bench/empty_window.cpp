// What Qt alone takes of "main window to idle": the same Japanese user
// interface and an empty main window, then "idle MS" as the window program
// prints it for bench_targets. It links what the window program links, but
// the linker keeps only the libraries it calls: Qt's.
#include "platform/IdleReport.h"
#include "platform/ui/AppSetup.h"

#include <QApplication>
#include <QMainWindow>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  setUpJapaneseUi(app);
  QMainWindow window;
  window.setWindowTitle(QStringLiteral("灯火亭"));
  window.resize(640, 480);
  window.show();
  idlereport::whenIdle(qEnvironmentVariable("TOMOSHIBI_TEST_STARTED_NS").toLongLong());
  return app.exec();
}
