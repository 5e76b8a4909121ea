#pragma once
// Every charset conversion of the program, on iconv: CP932 for the files
// (read with the Windows tables, so ①, ～, ∥ and 髙 survive where the strict
// tables would lose them), and received text in whatever charset it came
// in. Converters are opened once per charset and thread and kept. Decoding
// never fails: what cannot be read becomes U+FFFD; encoding to CP932 never
// fails either: a character without a code becomes '?'.
#include <QByteArray>
#include <QString>
#include <QStringView>
#include <optional>

namespace charset {

// --- CP932, the files' charset ------------------------------------------------

QByteArray toCp932(const QString& s);
QString fromCp932(const QByteArray& bytes);
QString fromCp932(const char* data, qsizetype size);

// True when b can start a double-byte CP932 character.
inline bool isCp932Lead(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

// Bytes in any charset iconv knows; `badBytes` counts the bytes that became
// U+FFFD. Null when iconv does not know the charset.
std::optional<QString> decodeWith(const QByteArray& bytes, const char* charset, int* badBytes = nullptr);

// --- text of received mail ------------------------------------------------------

// `label` as a mail names its charset (any case, common aliases). An empty
// or unknown label, or bytes that are plainly not what the label says
// (8-bit text labelled us-ascii, broken UTF-8), fall back to decodeGuess.
QString decodeCharset(const QByteArray& bytes, const QByteArray& label);

// Unlabelled bytes (raw 8-bit headers, parts without a charset): ISO-2022-JP
// when its escapes appear, UTF-8 when valid, else the likelier of CP932 and
// EUC-JP, else Windows-1252.
QString decodeGuess(const QByteArray& bytes);

// ISO-2022-JP turned into CP932 bytes with the JIS → Shift_JIS arithmetic,
// so the NEC and IBM extensions that Japanese mail carries in JIS form come
// out as CP932 characters. Half-width katakana (ESC ( I, SO/SI) included;
// JIS X 0212 and other sets become 〓.
QByteArray iso2022jpToCp932(const QByteArray& bytes);

// --- what bytes are -------------------------------------------------------------

// True when every byte (character) is below 0x80: 7-bit text, as most raw
// mail is. Eight at a time, as megabytes of it pass through.
bool isSevenBit(const QByteArray& bytes);
bool isSevenBit(QStringView text);

// Well-formed UTF-8 throughout (no overlong forms, no surrogates, nothing
// past U+10FFFF). A character cut off at the very end is allowed unless
// `whole` is asked for: mail is cut in places, a file the user has is not.
enum class Utf8End { MayBeCut, Whole };
bool isValidUtf8(const QByteArray& bytes, Utf8End end = Utf8End::MayBeCut);

}  // namespace charset
