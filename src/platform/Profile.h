#pragma once
// INI files read and written as the Windows private-profile functions do:
// "[SECTION]" header lines, "key=value" lines, CR LF, CP932 text; section and
// key names match without regard to letter case.
#include <QString>

namespace profile {

// The value of `key`, blanks around it removed and one pair of enclosing
// quotes dropped, cut to 255 bytes; `def` when the file, section or key is
// missing.
QString GetPrivateProfileString(const QString& section, const QString& key, const QString& def,
                                const QString& file);

// The leading decimal integer of the value ("12abc" → 12, "2.5" → 2, "x" → 0);
// `def` when the file, section or key is missing.
int GetPrivateProfileInt(const QString& section, const QString& key, int def, const QString& file);

// Sets `key` in `section`, creating the file (not its folder) and the section
// when missing and keeping every other line as it was. The file is replaced
// atomically with permission `fileMode` (-1: as durable::replaceFile
// chooses). False when the file cannot be written.
bool WritePrivateProfileString(const QString& section, const QString& key, const QString& value,
                               const QString& file, int fileMode = -1);

// The same on a file's bytes, for what reads or writes them elsewhere:
// the value of `key` (as GetPrivateProfileString gives it; null when the
// section or key is missing), its leading integer (as GetPrivateProfileInt;
// `def` when missing), and the bytes with `key` set (as
// WritePrivateProfileString writes them).
QString valueIn(const QByteArray& file, const QString& section, const QString& key);
int intIn(const QByteArray& file, const QString& section, const QString& key, int def);
QByteArray withValue(const QByteArray& file, const QString& section, const QString& key, const QString& value);

}  // namespace profile
