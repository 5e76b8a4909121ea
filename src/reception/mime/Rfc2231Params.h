#pragma once
// Parameters of a Content-Type or Content-Disposition value (a file name, a
// charset): RFC 2231 sections and charsets, RFC 2047 words inside quotes as
// many mailers write them, and raw 8-bit names.
#include <QByteArray>
#include <QString>

namespace maillib {

// Parameter `name` (any letter case) of a header value, decoded and on one
// line. RFC 2231 sections (name*0*, name*1 …) are joined as bytes before
// decoding, so that a character split between two of them survives. Null
// when the parameter is absent.
QString headerParameter(const QByteArray& rawValue, const QByteArray& name);

}  // namespace maillib
