// The fast base64 of attached files against GMime's decoder: the input
// taken as base64 text, and the input's bytes written as base64 the way
// mail programs write it.
//
// Checks: the vector and the plain decoder agree on every text, taking it
// or leaving it alike; what they take, they read as GMime reads it; what a
// mail program writes, they take and give back byte for byte.
#include <gmime/gmime.h>

#include "FuzzCheck.h"
#include "reception/mime/Base64.h"

using namespace fuzzcheck;

namespace {

QByteArray decoded(const QByteArray& text, bool vector) {
  QByteArray out(maillib::base64DecodedRoom(text.size()), '\0');
  const qsizetype n = (vector ? maillib::decodeCleanBase64 : maillib::decodeCleanBase64Scalar)(
      text.constData(), text.size(), reinterpret_cast<unsigned char*>(out.data()));
  if (n < 0) return QByteArray();
  out.truncate(n);
  return out.isNull() ? QByteArray("") : out;
}

QByteArray gmimeDecoded(const QByteArray& text) {
  QByteArray out(text.size() + 3, '\0');
  int state = 0;
  guint32 save = 0;
  out.truncate(qsizetype(g_mime_encoding_base64_decode_step(reinterpret_cast<const unsigned char*>(text.constData()),
                                                            size_t(text.size()),
                                                            reinterpret_cast<unsigned char*>(out.data()), &state,
                                                            &save)));
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray input = bytesOf(data, size);

  const QByteArray vector = decoded(input, true), plain = decoded(input, false);
  FUZZ_CHECK(vector.isNull() == plain.isNull(), QStringLiteral("one decoder took the text, the other did not"));
  FUZZ_CHECK(vector == plain, QStringLiteral("the two decoders read the text differently"));
  if (!vector.isNull()) FUZZ_CHECK(vector == gmimeDecoded(input), QStringLiteral("read otherwise than GMime reads it"));

  // The input as a file a mail program attaches: lines of 76, CR LF.
  const QByteArray letters = input.toBase64();
  QByteArray text;
  for (qsizetype i = 0; i < letters.size(); i += 76) text += letters.mid(i, 76) + "\r\n";
  FUZZ_CHECK(decoded(text, true) == input, QStringLiteral("a file as mail programs write it read back otherwise"));
  return 0;
}
