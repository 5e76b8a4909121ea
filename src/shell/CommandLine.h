#pragma once
// The command line of the program.
#include <QString>
#include <QStringList>

struct CommandLine {
  QString home;      // --home DIR: the program folder (default: the executable's folder)
  QString initHome;  // --init-home DIR: lay out a fresh program folder and exit
  bool version = false;
  QString error;     // set when the arguments cannot be understood
};

// `args` without the program name.
CommandLine parseCommandLine(const QStringList& args);
QString usageText();
