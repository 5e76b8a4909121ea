// An HTML part made plain text: as UTF-8 text, and as a part's bytes whose
// charset its own <meta> names.
//
// Checks: whole surrogate pairs; lines end without blanks; never more than
// one empty line in a row; no empty line at either end.
#include "FuzzCheck.h"
#include "reception/mime/BodyText.h"
#include "reception/mime/HtmlText.h"

using namespace fuzzcheck;

namespace {

void checkPlain(const QString& text) {
  checkText(text, "text of the HTML");
  FUZZ_CHECK(!text.contains(QStringLiteral("\n\n\n")), QStringLiteral("two empty lines in a row"));
  FUZZ_CHECK(!text.startsWith(u'\n') && !text.endsWith(u'\n'), QStringLiteral("an empty line at an end"));
  for (const QString& line : text.split(u'\n'))
    FUZZ_CHECK(!line.endsWith(u' ') && !line.endsWith(u'\t'), QStringLiteral("a line ends in a blank"));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray bytes = bytesOf(data, size);
  checkPlain(maillib::htmlToText(QString::fromUtf8(bytes)));
  maillib::TextPart how;
  how.html = true;
  checkPlain(maillib::partText(bytes, how));
  return 0;
}
