// main() of the test programs that need no display: a QCoreApplication
// only, so no window or display library is even loaded.
#include "support/TempHome.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  keepAwayFromTheDesktopKeyring();
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
