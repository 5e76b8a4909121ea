#pragma once
// The command line of the program.
#include <QString>
#include <QStringList>

struct CommandLine {
  QString home;      // --home DIR: the program folder (default: the executable's folder)
  QString initHome;  // --init-home DIR: lay out a fresh program folder and exit
  bool version = false;
  bool check = false;  // --check: one mail check without windows
  QString exportMbox;  // --export-mbox FILE: all received mail into one mbox file, without windows
  QString importPath;  // --import FILE|FOLDER: mail of other programs brought in, without windows
  // --send: one mail sent headless with the settings of the program folder.
  bool send = false;
  QString to;          // --to ADDRESS
  QString subject;     // --subject TEXT
  QString bodyFile;    // --body-file FILE ("-" = standard input)
  QString attach;      // --attach PATH,PATH… (repeatable)
  bool toGiven = false, subjectGiven = false, bodyGiven = false;
  // --from-desktop: the program folder becomes the current directory first.
  bool fromDesktop = false;
  QString mailto;    // a mailto: link to open in the compose window
  QString error;     // set when the arguments cannot be understood
};

// `args` without the program name.
CommandLine parseCommandLine(const QStringList& args);
QString usageText();
