// main() of every test program: a QApplication (headless unless a display
// is asked for) with the Japanese set-up of the real program.
#include "platform/sound/Mci.h"
#include "platform/ui/AppSetup.h"
#include "support/TempHome.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  keepAwayFromTheDesktopKeyring();
  QApplication app(argc, argv);
  setUpJapaneseUi(app);
  // Tunes run their real time, but the tests never make a sound.
  mci::setOptions({QString(), true});
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
