#include "Text.h"

#include <cmath>
#include <limits>

namespace text {

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

QString wholePairs(QString s, qsizetype max) {
  for (qsizetype i = 0; i < s.size(); ++i) {
    if (s[i].isHighSurrogate() && i + 1 < s.size() && s[i + 1].isLowSurrogate())
      ++i;
    else if (s[i].isSurrogate())
      s[i] = QChar::ReplacementCharacter;
  }
  if (max < 0 || s.size() <= max) return s;
  return s.left(max > 0 && s[max - 1].isHighSurrogate() ? max - 1 : max);
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
  const double r = std::nearbyint(v);
  // Beyond 64 bits the nearest end: converting such a value is undefined.
  if (std::isnan(r)) return 0;
  if (r >= 9223372036854775808.0) return std::numeric_limits<int64_t>::max();
  if (r < -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(r);
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
