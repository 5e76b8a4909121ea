#include "Text.h"

#include <cerrno>
#include <cstring>
#include <cmath>
#include <iconv.h>

namespace text {
namespace {

// One converter per direction and thread; iconv_open is not free and the
// list fill decodes thousands of fields.
struct Converter {
  iconv_t cd;
  Converter(const char* to, const char* from) : cd(iconv_open(to, from)) {}
  ~Converter() {
    if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
  }
  void reset() { iconv(cd, nullptr, nullptr, nullptr, nullptr); }
};

Converter& encoder() {
  thread_local Converter c("CP932", "UTF-16LE");
  return c;
}
Converter& decoder() {
  thread_local Converter c("UTF-16LE", "CP932");
  return c;
}

}  // namespace

QByteArray toCp932(const QString& s) {
  QByteArray out;
  if (s.isEmpty()) return out;
  // ASCII is the same in CP932: headers and padding need no iconv.
  bool ascii = true;
  for (QChar ch : s)
    if (ch.unicode() >= 0x80) {
      ascii = false;
      break;
    }
  if (ascii) return s.toLatin1();
  Converter& c = encoder();
  c.reset();
  const char16_t* data = reinterpret_cast<const char16_t*>(s.utf16());
  size_t inLeft = size_t(s.size()) * 2;
  char* in = const_cast<char*>(reinterpret_cast<const char*>(data));
  out.resize(s.size() * 2 + 4);
  char* outPtr = out.data();
  size_t outLeft = size_t(out.size());
  while (inLeft > 0) {
    size_t r = iconv(c.cd, &in, &inLeft, &outPtr, &outLeft);
    if (r != size_t(-1)) break;
    if (errno == E2BIG) {
      qsizetype used = outPtr - out.data();
      out.resize(out.size() * 2);
      outPtr = out.data() + used;
      outLeft = size_t(out.size() - used);
      continue;
    }
    // EILSEQ or EINVAL: one character without a code (a surrogate pair
    // counts as one), replaced by one '?'.
    if (outLeft < 1) {
      qsizetype used = outPtr - out.data();
      out.resize(out.size() + 16);
      outPtr = out.data() + used;
      outLeft = size_t(out.size() - used);
    }
    *outPtr++ = '?';
    --outLeft;
    char16_t u = *reinterpret_cast<const char16_t*>(in);
    size_t skip = 2;
    if (u >= 0xD800 && u <= 0xDBFF && inLeft >= 4) {
      char16_t lo = *reinterpret_cast<const char16_t*>(in + 2);
      if (lo >= 0xDC00 && lo <= 0xDFFF) skip = 4;
    }
    in += skip;
    inLeft -= skip;
    c.reset();
  }
  out.truncate(outPtr - out.data());
  return out;
}

namespace {

// Decodes to UTF-16 through `cd`; each byte it cannot read becomes one
// U+FFFD and decoding goes on with the next byte (glibc stops at the first).
QString decodeLoop(iconv_t cd, const char* data, qsizetype size, int* badBytes) {
  QString out;
  out.resize(size + 8);  // never more UTF-16 units than bytes, plus room for a state flush
  char* in = const_cast<char*>(data);
  size_t inLeft = size_t(size);
  char* outPtr = reinterpret_cast<char*>(out.data());
  size_t outLeft = size_t(out.size()) * 2;
  int bad = 0;
  auto grow = [&](qsizetype units) {
    const qsizetype used = (outPtr - reinterpret_cast<char*>(out.data())) / 2;
    out.resize(out.size() + units);
    outPtr = reinterpret_cast<char*>(out.data()) + used * 2;
    outLeft = size_t(out.size() - used) * 2;
  };
  while (inLeft > 0) {
    if (iconv(cd, &in, &inLeft, &outPtr, &outLeft) != size_t(-1)) break;
    if (errno == E2BIG) {
      grow(out.size());
      continue;
    }
    // EILSEQ, or EINVAL for a sequence cut off at the end.
    if (outLeft < 2) grow(16);
    const char16_t rep = 0xFFFD;
    memcpy(outPtr, &rep, 2);
    outPtr += 2;
    outLeft -= 2;
    ++in;
    --inLeft;
    ++bad;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  out.truncate(qsizetype((outPtr - reinterpret_cast<char*>(out.data())) / 2));
  if (badBytes) *badBytes = bad;
  return out;
}

}  // namespace

QString fromCp932(const char* data, qsizetype size) {
  if (size <= 0) return QString();
  // Pure ASCII is the common case for padding and headers: no iconv needed.
  qsizetype i = 0;
  while (i < size && static_cast<unsigned char>(data[i]) < 0x80) ++i;
  if (i == size) return QString::fromLatin1(data, size);
  Converter& c = decoder();
  c.reset();
  return decodeLoop(c.cd, data, size, nullptr);
}

std::optional<QString> decodeWith(const QByteArray& bytes, const char* charset, int* badBytes) {
  iconv_t cd = iconv_open("UTF-16LE", charset);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  QString out = decodeLoop(cd, bytes.constData(), bytes.size(), badBytes);
  iconv_close(cd);
  return out;
}

QString fromCp932(const QByteArray& bytes) { return fromCp932(bytes.constData(), bytes.size()); }

qsizetype safeCut(const QByteArray& bytes, qsizetype width) {
  if (bytes.size() <= width) return bytes.size();
  qsizetype i = 0;
  while (i < width) {
    unsigned char b = static_cast<unsigned char>(bytes[i]);
    qsizetype step = (isCp932Lead(b) && i + 1 < bytes.size()) ? 2 : 1;
    if (i + step > width) break;
    i += step;
  }
  return i;
}

QByteArray fixedField(const QString& s, qsizetype width) {
  QByteArray b = toCp932(s);
  b.truncate(safeCut(b, width));
  if (b.size() < width) b.append(width - b.size(), ' ');
  return b;
}

QString trimSpaces(const QString& s) {
  qsizetype a = 0, e = s.size();
  while (a < e && s[a] == u' ') ++a;
  while (e > a && s[e - 1] == u' ') --e;
  return (a == 0 && e == s.size()) ? s : s.mid(a, e - a);
}

QString trimRight(const QString& s) {
  qsizetype e = s.size();
  while (e > 0 && s[e - 1] == u' ') --e;
  return e == s.size() ? s : s.left(e);
}

QString CutAtNul(const QString& s) {
  qsizetype p = s.indexOf(QChar(0));
  return p < 0 ? s : s.left(p);
}

QByteArray CutAtNul(const QByteArray& s) {
  qsizetype p = s.indexOf('\0');
  return p < 0 ? s : s.left(p);
}

int64_t roundHalfEven(double v) {
  // The default floating-point rounding mode rounds halves to even.
  return static_cast<int64_t>(std::nearbyint(v));
}

double leadingNumber(const QString& s) {
  qsizetype i = 0, n = s.size();
  while (i < n && (s[i] == u' ' || s[i] == u'\t')) ++i;
  QString num;
  if (i < n && (s[i] == u'+' || s[i] == u'-')) num += s[i++];
  bool digits = false;
  while (i < n && s[i].isDigit() && s[i].unicode() < 128) { num += s[i++]; digits = true; }
  if (i < n && s[i] == u'.') {
    num += s[i++];
    while (i < n && s[i].isDigit() && s[i].unicode() < 128) { num += s[i++]; digits = true; }
  }
  if (!digits) return 0;
  if (i < n && (s[i] == u'e' || s[i] == u'E')) {
    QString exp = QStringLiteral("e");
    qsizetype j = i + 1;
    if (j < n && (s[j] == u'+' || s[j] == u'-')) exp += s[j++];
    bool expDigits = false;
    while (j < n && s[j].isDigit() && s[j].unicode() < 128) { exp += s[j++]; expDigits = true; }
    if (expDigits) num += exp;
  }
  bool ok = false;
  double v = num.toDouble(&ok);
  return ok && std::isfinite(v) ? v : 0;
}

QString toCrLf(const QString& s) {
  QString out;
  out.reserve(s.size() + s.size() / 16);
  for (qsizetype i = 0; i < s.size(); ++i) {
    QChar c = s[i];
    if (c == u'\r') {
      out += u"\r\n";
      if (i + 1 < s.size() && s[i + 1] == u'\n') ++i;
    } else if (c == u'\n') {
      out += u"\r\n";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace text
