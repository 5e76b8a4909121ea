// The automatic check's settings file: what a file's bytes mean, and a
// round trip through the file that leaves "ini.ini" exactly as it was.
#include "platform/Paths.h"
#include "settings/files/AutoCheckFile.h"
#include "settings/files/StateFile.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

TEST(AutoCheckFile, WhatTheBytesMean) {
  const AutoCheckChoice off{false, kAutoCheckDefaultMinutes};
  EXPECT_EQ(parseAutoCheck(""), off);
  EXPECT_EQ(parseAutoCheck("[AUTOCHECK]\r\nON=1\r\nMINUTES=5\r\n"), (AutoCheckChoice{true, 5}));
  // Names without regard to letter case, blanks around values, LF alone.
  EXPECT_EQ(parseAutoCheck("[autocheck]\nmInUtEs = 1440 \non= 1\n"), (AutoCheckChoice{true, 1440}));
  EXPECT_EQ(parseAutoCheck("[AUTOCHECK]\r\nON=0\r\nMINUTES=30\r\n"), (AutoCheckChoice{false, 30}));
  // Out of range or not a number: off, with the default number.
  for (const char* minutes : {"0", "1441", "-5", "abc", "", "99999999999999999999"})
    EXPECT_EQ(parseAutoCheck(QByteArray("[AUTOCHECK]\r\nON=1\r\nMINUTES=") + minutes + "\r\n"), off) << minutes;
  // ON must be 1; the minutes alone do not switch the check on.
  EXPECT_EQ(parseAutoCheck("[AUTOCHECK]\r\nON=2\r\nMINUTES=5\r\n"), (AutoCheckChoice{false, 5}));
  EXPECT_EQ(parseAutoCheck("[AUTOCHECK]\r\nMINUTES=5\r\n"), (AutoCheckChoice{false, 5}));
  // Keys of another section are not these; the first of a key counts.
  EXPECT_EQ(parseAutoCheck("[OTHER]\r\nON=1\r\nMINUTES=5\r\n[AUTOCHECK]\r\n"), off);
  EXPECT_EQ(parseAutoCheck("[AUTOCHECK]\r\nON=1\r\nMINUTES=7\r\nMINUTES=9\r\n"), (AutoCheckChoice{true, 7}));
  // CP932 elsewhere in the file is no obstacle.
  EXPECT_EQ(parseAutoCheck("[\x83\x81\x81\x5b\x83\x8b]\r\nON=0\r\n[AUTOCHECK]\r\nON=1\r\nMINUTES=3\r\n"),
            (AutoCheckChoice{true, 3}));
}

TEST(AutoCheckFile, RoundTripLeavesTheStateFileAlone) {
  TempHome home;
  ASSERT_TRUE(WriteStateFile(true, false));
  const QByteArray state = home.read(paths::kStateFile);
  ASSERT_EQ(state, QByteArray("[EXEINI]\r\nNUMBER=1\r\nNUMBER2=0\r\n"));

  EXPECT_EQ(ReadAutoCheck(), AutoCheckChoice{});  // no file yet
  ASSERT_TRUE(WriteAutoCheck({true, 15}));
  EXPECT_EQ(home.read(QStringLiteral("★MAilData/tomoshibi.ini")),
            QByteArray("[AUTOCHECK]\r\nMINUTES=15\r\nON=1\r\n"));
  EXPECT_EQ(ReadAutoCheck(), (AutoCheckChoice{true, 15}));
  ASSERT_TRUE(WriteAutoCheck({false, 1440}));
  EXPECT_EQ(ReadAutoCheck(), (AutoCheckChoice{false, 1440}));

  // A line another version put there stays.
  home.write(QStringLiteral("★MAilData/tomoshibi.ini"), "[AUTOCHECK]\r\nON=0\r\nMINUTES=2\r\n[LATER]\r\nX=1\r\n");
  ASSERT_TRUE(WriteAutoCheck({true, 60}));
  EXPECT_EQ(home.read(QStringLiteral("★MAilData/tomoshibi.ini")),
            QByteArray("[AUTOCHECK]\r\nON=1\r\nMINUTES=60\r\n[LATER]\r\nX=1\r\n"));

  EXPECT_EQ(home.read(paths::kStateFile), state);
  const StateChoices st = ReadStateFile();
  EXPECT_EQ(st.number, 1);
  EXPECT_EQ(st.number2, 0);
}

TEST(AutoCheckFile, NoDataFolderFailsTheWrite) {
  TempHome home(false);
  EXPECT_FALSE(WriteAutoCheck({true, 5}));
  EXPECT_EQ(ReadAutoCheck(), AutoCheckChoice{});
}
