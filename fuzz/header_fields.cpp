// The header units of the decoder on any bytes, without GMime: encoded
// words (RFC 2047), address lists, parameters (RFC 2231) and the raw
// header scan. The input is a header block or a single field's value.
//
// Checks: every decoded field is one line with whole surrogate pairs; the
// header scan's bounds lie within the mail and agree with each other.
#include "FuzzCheck.h"
#include "platform/HeaderScan.h"
#include "reception/mime/Addresses.h"
#include "reception/mime/EncodedWords.h"
#include "reception/mime/Rfc2231Params.h"

using namespace fuzzcheck;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray raw = bytesOf(data, size);

  // The input as one field's value.
  checkOneLine(maillib::decodeHeaderText(raw), "unstructured text");
  checkOneLine(maillib::decodeAddresses(raw), "address list");
  for (const char* name : {"filename", "name", "charset", "boundary"})
    checkOneLine(maillib::headerParameter(raw, name), "parameter");

  // The input as a mail.
  const headerscan::Bounds b = headerscan::bounds(raw);
  FUZZ_CHECK(b.headerEnd >= 0 && b.headerEnd <= b.bodyStart && b.bodyStart <= raw.size(),
             QStringLiteral("header bounds %1 %2 of %3").arg(b.headerEnd).arg(b.bodyStart).arg(raw.size()));
  const headerscan::RawMessage parts = headerscan::splitMessage(raw);
  FUZZ_CHECK(raw.startsWith(parts.header) && raw.endsWith(parts.body) &&
                 parts.header.size() + parts.body.size() <= raw.size(),
             QStringLiteral("the split is not of the mail"));
  const qsizetype stray = headerscan::strayHeaderLine(raw);
  FUZZ_CHECK(stray >= -1 && stray <= b.headerEnd, QStringLiteral("stray line after the header: %1").arg(stray));
  for (const char* name : {"Subject", "From", "Date", "Content-Type", "Message-ID"}) {
    const QByteArray value = headerscan::fieldValue(parts.header, name);
    FUZZ_CHECK(!value.contains('\n') && !value.contains('\r'), QStringLiteral("an unfolded value with a line break"));
    checkOneLine(maillib::decodeHeaderText(value), "field text");
    checkOneLine(maillib::decodeAddresses(value), "field addresses");
  }
  return 0;
}
