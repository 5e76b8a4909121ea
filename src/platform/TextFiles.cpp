#include "Text.h"

#include <QSet>

// Text files as the user has them: their encoding told from their bytes.
namespace text {

namespace {

const QByteArray kUtf8Bom("\xEF\xBB\xBF", 3);
const QByteArray kUtf16LeBom("\xFF\xFE", 2);
const QByteArray kUtf16BeBom("\xFE\xFF", 2);

}  // namespace

FileEncoding detectEncoding(const QByteArray& bytes) {
  if (bytes.startsWith(kUtf8Bom)) return FileEncoding::Utf8Bom;
  if (bytes.startsWith(kUtf16LeBom)) return FileEncoding::Utf16Le;
  if (bytes.startsWith(kUtf16BeBom)) return FileEncoding::Utf16Be;
  if (charset::isSevenBit(bytes)) return FileEncoding::Cp932;
  // CP932 text is almost never valid UTF-8 as well: its lead bytes 0x81 to
  // 0x9F are UTF-8 continuation bytes, and its kana 0xA1 to 0xDF stand alone.
  // A file the user has is whole: a character cut off at its end is no UTF-8.
  return charset::isValidUtf8(bytes, charset::Utf8End::Whole) ? FileEncoding::Utf8 : FileEncoding::Cp932;
}

QString decodeText(const QByteArray& bytes, FileEncoding encoding) {
  switch (encoding) {
    case FileEncoding::Cp932: break;
    case FileEncoding::Utf8: return decodeWith(bytes, "UTF-8").value_or(QString());
    case FileEncoding::Utf8Bom:
      return decodeWith(bytes.startsWith(kUtf8Bom) ? bytes.mid(3) : bytes, "UTF-8").value_or(QString());
    case FileEncoding::Utf16Le:
      return decodeWith(bytes.startsWith(kUtf16LeBom) ? bytes.mid(2) : bytes, "UTF-16LE").value_or(QString());
    case FileEncoding::Utf16Be:
      return decodeWith(bytes.startsWith(kUtf16BeBom) ? bytes.mid(2) : bytes, "UTF-16BE").value_or(QString());
  }
  return fromCp932(bytes);
}

QByteArray encodeText(const QString& s, FileEncoding encoding) {
  switch (encoding) {
    case FileEncoding::Cp932: break;
    case FileEncoding::Utf8: return s.toUtf8();
    case FileEncoding::Utf8Bom: return kUtf8Bom + s.toUtf8();
    case FileEncoding::Utf16Le:
    case FileEncoding::Utf16Be: {
      const bool le = encoding == FileEncoding::Utf16Le;
      QByteArray out = le ? kUtf16LeBom : kUtf16BeBom;
      out.reserve(out.size() + s.size() * 2);
      for (QChar c : s) {
        const char16_t u = c.unicode();
        const char lo = char(u & 0xFF), hi = char(u >> 8);
        out.append(le ? lo : hi);
        out.append(le ? hi : lo);
      }
      return out;
    }
  }
  return toCp932(s);
}

QString cp932Missing(const QString& s) {
  // Every character has a code when the encoding adds no '?' of its own.
  if (toCp932(s).count('?') == s.count(u'?')) return {};
  QString missing;
  QSet<uint> seen;
  for (uint cp : s.toUcs4()) {
    if (cp < 0x80 || seen.contains(cp)) continue;
    seen.insert(cp);
    const char32_t one[] = {char32_t(cp)};
    const QString ch = QString::fromUcs4(one, 1);
    if (toCp932(ch) == "?") missing += ch;
  }
  return missing;
}

}  // namespace text
