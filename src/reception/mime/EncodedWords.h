#pragma once
// Unstructured header text (Subject, Date, the words of a display name):
// RFC 2047 encoded words, and the raw ISO-2022-JP and raw 8-bit text that
// Japanese mail puts into headers as well.
#include <QByteArray>
#include <QString>

namespace maillib {

// An unstructured header value as a person reads it, on one line: encoded
// words decoded (adjacent words of one charset joined as bytes first, as a
// character may be split over two; the blanks between words dropped), text
// outside them in whatever charset it looks like.
QString decodeHeaderText(const QByteArray& raw);

}  // namespace maillib
