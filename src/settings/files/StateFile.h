#pragma once
// The two remembered choices of the main window, in "★MailData\ini.ini",
// section EXEINI: NUMBER (show explanations) and NUMBER2 (open the viewer
// after a check that fetched mail).
#include <QString>

struct StateChoices {
  int number = 0;
  int number2 = 0;
};

QString stateFilePath();
StateChoices ReadStateFile();
// Writes NUMBER, then NUMBER2, as "1" or "0". False when a write failed.
bool WriteStateFile(bool number, bool number2);
