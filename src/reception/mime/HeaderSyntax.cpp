#include "HeaderSyntax.h"

#include "platform/Charset.h"

namespace maillib {

QString cleanLine(const QString& s) {
  QString out;
  out.reserve(s.size());
  for (QChar c : s) {
    const char16_t u = c.unicode();
    if (u == u'\t' || u == 0xA0) {
      out.append(u' ');
    } else if (u < 0x20 || u == 0x7F) {
      continue;
    } else {
      out.append(c);
    }
  }
  return out.trimmed();
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

qsizetype scanQuoted(const QByteArray& s, qsizetype open, bool sjisAware, QByteArray* value) {
  bool expectTrail = false;
  qsizetype i = open + 1;
  for (; i < s.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (expectTrail) {
      if (value) value->append(char(c));
      expectTrail = false;
    } else if (c == '\\' && i + 1 < s.size()) {
      if (value) value->append(s[i + 1]);
      ++i;
    } else if (c == '"') {
      break;
    } else {
      if (value) value->append(char(c));
      if (sjisAware && charset::isCp932Lead(c)) expectTrail = true;
    }
  }
  return i;
}

}  // namespace maillib
