#pragma once
// Text of received mail in whatever charset it came in. The Japanese charsets
// are read with the Windows tables (CP932), so ①, ～, ∥ and 髙 survive where
// the strict tables would lose them; everything else goes through iconv.
// Decoding never fails: what cannot be read becomes U+FFFD.
#include <QByteArray>
#include <QString>

namespace maillib {

// `charset` as a mail labels it (any case, common aliases). An empty or
// unknown label, or bytes that are plainly not what the label says (8-bit
// text labelled us-ascii, broken UTF-8), fall back to decodeGuess.
QString decodeCharset(const QByteArray& bytes, const QByteArray& charset);

// Unlabelled bytes (raw 8-bit headers, parts without a charset): ISO-2022-JP
// when its escapes appear, UTF-8 when valid, else the likelier of CP932 and
// EUC-JP, else Windows-1252.
QString decodeGuess(const QByteArray& bytes);

// ISO-2022-JP turned into CP932 bytes with the JIS → Shift_JIS arithmetic,
// so the NEC and IBM extensions that Japanese mail carries in JIS form come
// out as CP932 characters. Half-width katakana (ESC ( I, SO/SI) included;
// JIS X 0212 and other sets become 〓.
QByteArray iso2022jpToCp932(const QByteArray& bytes);

// True when every byte (character) is below 0x80: 7-bit text, as most raw
// mail is. Eight at a time, as megabytes of it pass through.
bool isSevenBit(const QByteArray& bytes);
bool isSevenBit(QStringView text);

// UTF-8 throughout; a character cut off at the very end is allowed.
bool isValidUtf8(const QByteArray& bytes);

}  // namespace maillib
