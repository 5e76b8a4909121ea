#pragma once
// What the decoder's header units share: the one-line form a decoded field
// takes, hex digits, and quoted strings as mail really writes them.
#include <QByteArray>
#include <QString>

namespace maillib {

// What survives into a one-line field: no control characters (a NUL would
// cut the text short wherever it is stored), tabs as spaces, no-break spaces
// as plain ones (CP932 has none); blanks at both ends trimmed.
QString cleanLine(const QString& s);

// 0–15 for a hex digit, else -1.
int hexValue(char c);

// Reads the quoted string whose opening quote is at `open`: its unescaped
// bytes into `value` (when given); returns the index of the closing quote
// (or the end). In raw Shift_JIS a backslash can be the second byte of a
// character (表, ソ, 能 …): with `sjisAware` it is kept as it is after a
// lead byte.
qsizetype scanQuoted(const QByteArray& s, qsizetype open, bool sjisAware, QByteArray* value);

}  // namespace maillib
