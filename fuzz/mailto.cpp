// A mailto: link from a web page, as the command line hands it over.
//
// Checks: recipients and subject are one line each (nothing in them can end
// a header line); the body has LF line breaks and no other control
// characters but tabs; no address holds a comma; whole surrogate pairs
// everywhere; a refused link gives nothing else.
#include "MailtoCheck.h"

using namespace fuzzcheck;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray bytes = bytesOf(data, size);
  const QString link = QString::fromUtf8(bytes);
  const MailtoLink m = parseMailto(link);
  checkMailto(m);
  if (link.toUtf8().size() <= kMaxMailtoLength && link.startsWith(QStringLiteral("mailto:"), Qt::CaseInsensitive))
    FUZZ_CHECK(m.error.isEmpty(), QStringLiteral("a link refused: %1").arg(m.error));
  return 0;
}
