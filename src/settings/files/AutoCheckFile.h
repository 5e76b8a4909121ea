#pragma once
// The automatic check's choices: whether the main window checks for mail by
// itself, and every how many minutes. They live in a settings file of the
// program's own in the data folder, "★MAilData/tomoshibi.ini", section
// AUTOCHECK (ON=1 or 0, MINUTES=1..1440), CP932 with CR LF like the other
// files; "ini.ini" keeps exactly its two keys.
#include <QByteArray>
#include <QString>

inline constexpr int kAutoCheckMinMinutes = 1;
inline constexpr int kAutoCheckMaxMinutes = 1440;  // a day
inline constexpr int kAutoCheckDefaultMinutes = 10;

struct AutoCheckChoice {
  bool on = false;
  int minutes = kAutoCheckDefaultMinutes;
  bool operator==(const AutoCheckChoice&) const = default;
};

QString autoCheckFilePath();
// The choices a file's bytes hold. A missing section or key, or a value that
// is no number, leaves the default (off, 10 minutes); ON other than 1 is
// off; a number of minutes outside 1..1440 is off as well (no check every
// 0 minutes, and none the user never asked for), the default number shown.
AutoCheckChoice parseAutoCheck(const QByteArray& fileBytes);
// The file, read; a missing or unreadable file reads as the default.
AutoCheckChoice ReadAutoCheck();
// Sets ON and MINUTES, keeping every other line of the file. False when it
// could not be written (the data folder is missing, the disk is full).
bool WriteAutoCheck(const AutoCheckChoice& choice);
