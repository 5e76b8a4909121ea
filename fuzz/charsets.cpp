// Received text in whatever charset it names: the first line of the input
// is the label (as a mail writes it), the rest the bytes. Also the guess
// for unlabelled bytes, ISO-2022-JP made CP932, and the tests of what
// bytes are.
//
// Checks: whole surrogate pairs; what went through CP932 once goes through
// again unchanged; the UTF-8 test agrees with a UTF-8 round trip; the 7-bit
// tests agree with the bytes.
#include "FuzzCheck.h"
#include "platform/Charset.h"

#include <algorithm>

using namespace fuzzcheck;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Split in = splitFirstLine(bytesOf(data, size), 64);
  const QByteArray& bytes = in.rest;

  const QString labelled = charset::decodeCharset(bytes, in.head);
  checkText(labelled, "labelled text");
  checkCp932Stable(labelled, "labelled text");
  const QString guessed = charset::decodeGuess(bytes);
  checkText(guessed, "guessed text");
  checkCp932Stable(guessed, "guessed text");

  const QByteArray sjis = charset::iso2022jpToCp932(bytes);
  const QString jis = charset::fromCp932(sjis);
  checkText(jis, "ISO-2022-JP text");
  checkCp932Stable(jis, "ISO-2022-JP text");
  (void)sjis;

  const bool seven = std::all_of(bytes.cbegin(), bytes.cend(), [](char c) { return uchar(c) < 0x80; });
  FUZZ_CHECK(charset::isSevenBit(bytes) == seven, QStringLiteral("7-bit test of bytes"));
  const QString latin = QString::fromLatin1(bytes);
  FUZZ_CHECK(charset::isSevenBit(QStringView(latin)) == seven, QStringLiteral("7-bit test of text"));
  // Qt reads a byte-order mark at the very start as no text at all.
  const QByteArray bom("\xEF\xBB\xBF");
  if (charset::isValidUtf8(bytes, charset::Utf8End::Whole))
    FUZZ_CHECK(QString::fromUtf8(bytes).toUtf8() == (bytes.startsWith(bom) ? bytes.mid(bom.size()) : bytes),
               QStringLiteral("valid UTF-8 that does not round-trip"));
  else
    FUZZ_CHECK(QString::fromUtf8(bytes).toUtf8() != bytes || bytes.isEmpty(),
               QStringLiteral("UTF-8 that round-trips refused as invalid"));
  return 0;
}
