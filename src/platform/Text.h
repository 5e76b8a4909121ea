#pragma once
// Text as the files see it: fixed-width CP932 fields, space trims, the
// rounding the stored numbers use and the encodings of the user's text
// files. The conversions themselves are Charset.h's.
#include "Charset.h"

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace text {

// CP932 (Windows code page 932): a byte sequence that is not CP932 decodes
// to U+FFFD per bad byte; a character without a CP932 code becomes one '?'.
using charset::decodeWith;
using charset::fromCp932;
using charset::isCp932Lead;
using charset::toCp932;

// Length of the longest prefix of `bytes` (at most `width` bytes) that does
// not end inside a double-byte character.
qsizetype safeCut(const QByteArray& bytes, qsizetype width);

// A text field of exactly `width` bytes: the CP932 text left-aligned, padded
// with spaces, cut to the width before any double-byte character that would
// not fit (the cut byte becomes a space).
QByteArray fixedField(const QString& s, qsizetype width);

// Spaces (U+0020 only, as the stored fields are padded) removed at both ends.
QString trimSpaces(const QString& s);
QString trimRight(const QString& s);

// Text from outside (a JSON escape may give half a surrogate pair, which can
// be neither shown nor written): every half without its other half made
// U+FFFD, then at most `max` characters, never cut between the halves.
QString wholePairs(QString s, qsizetype max = -1);

// The text up to, not including, its first NUL; the whole text when none.
QString CutAtNul(const QString& s);
QByteArray CutAtNul(const QByteArray& s);

// Round to the nearest integer, an exact half to the even neighbour.
int64_t roundHalfEven(double v);

// The leading number of a text, as Val reads it: leading blanks skipped,
// optional sign, digits, an optional fraction and exponent; 0 when none.
double leadingNumber(const QString& s);

// Line endings made CR LF (bare CR and bare LF become CR LF).
QString toCrLf(const QString& s);

// The ways a text file the user opens may be written. The program's own
// files are CP932; a user's file keeps the encoding it came in.
enum class FileEncoding { Cp932, Utf8, Utf8Bom, Utf16Le, Utf16Be };

// What a text file's bytes are: a byte-order mark (UTF-8, UTF-16 LE or BE)
// decides; else bytes that are valid UTF-8 and not plain ASCII are UTF-8;
// else CP932 (plain ASCII reads the same either way).
FileEncoding detectEncoding(const QByteArray& bytes);
// The bytes read as `encoding`, its byte-order mark left out. Never fails:
// a byte that does not fit becomes U+FFFD.
QString decodeText(const QByteArray& bytes, FileEncoding encoding);
// `s` written as `encoding`, with the byte-order mark that encoding has;
// as CP932 a character without a code becomes '?' (see cp932Missing).
QByteArray encodeText(const QString& s, FileEncoding encoding);
// The characters of `s` that CP932 has no code for, each once, in the order
// they first appear.
QString cp932Missing(const QString& s);

}  // namespace text
