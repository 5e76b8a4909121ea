#include "EncodedWords.h"

#include "HeaderSyntax.h"
#include "platform/Charset.h"
#include "platform/HeaderScan.h"

#include <QList>

namespace maillib {
namespace {

QByteArray decodeQ(const QByteArray& t) {
  QByteArray out;
  out.reserve(t.size());
  for (qsizetype i = 0; i < t.size(); ++i) {
    const char c = t[i];
    if (c == '_') {
      out.append(' ');
    } else if (c == '=' && i + 2 < t.size() && hexValue(t[i + 1]) >= 0 && hexValue(t[i + 2]) >= 0) {
      out.append(char(hexValue(t[i + 1]) * 16 + hexValue(t[i + 2])));
      i += 2;
    } else {
      out.append(c);
    }
  }
  return out;
}

// An encoded word "=?charset?B|Q?text?=" starting at `p`.
bool parseEncodedWord(const QByteArray& s, qsizetype p, qsizetype* end, QByteArray* label, QByteArray* bytes) {
  const qsizetype q1 = s.indexOf('?', p + 2);
  if (q1 < 0 || q1 == p + 2 || q1 + 3 > s.size()) return false;
  QByteArray cs = s.mid(p + 2, q1 - p - 2);
  if (cs.contains(' ') || cs.contains('=')) return false;
  const char enc = s[q1 + 1];
  if (s.size() <= q1 + 2 || s[q1 + 2] != '?') return false;
  if (enc != 'B' && enc != 'b' && enc != 'Q' && enc != 'q') return false;
  const qsizetype q2 = s.indexOf("?=", q1 + 3);
  if (q2 < 0) return false;
  const QByteArray t = s.mid(q1 + 3, q2 - q1 - 3);
  if (const qsizetype star = cs.indexOf('*'); star >= 0) cs.truncate(star);  // RFC 2231 language
  *label = cs;
  *bytes = (enc == 'B' || enc == 'b') ? QByteArray::fromBase64(t) : decodeQ(t);
  *end = q2 + 2;
  return true;
}

bool isBlank(const QByteArray& b) {
  for (char c : b)
    if (c != ' ' && c != '\t') return false;
  return true;
}

}  // namespace

QString decodeHeaderText(const QByteArray& rawIn) {
  const QByteArray raw = headerscan::unfold(rawIn);
  struct Segment {
    bool encoded;
    QByteArray charset;
    QByteArray bytes;
  };
  QList<Segment> segs;
  qsizetype i = 0;
  while (i < raw.size()) {
    qsizetype p = raw.indexOf("=?", i);
    qsizetype end = 0;
    QByteArray cs, bytes;
    while (p >= 0 && !parseEncodedWord(raw, p, &end, &cs, &bytes)) p = raw.indexOf("=?", p + 2);
    if (p < 0) {
      segs.append({false, {}, raw.mid(i)});
      break;
    }
    const QByteArray between = raw.mid(i, p - i);
    // White space between two encoded words is not part of the text.
    if (!between.isEmpty() && !(isBlank(between) && !segs.isEmpty() && segs.back().encoded))
      segs.append({false, {}, between});
    if (!segs.isEmpty() && segs.back().encoded && segs.back().charset.toLower() == cs.toLower()) {
      segs.back().bytes += bytes;  // a character may be split over two words
    } else {
      segs.append({true, cs, bytes});
    }
    i = end;
  }
  QString out;
  for (const Segment& s : segs)
    out += s.encoded ? charset::decodeCharset(s.bytes, s.charset) : charset::decodeGuess(s.bytes);
  return cleanLine(out);
}

}  // namespace maillib
