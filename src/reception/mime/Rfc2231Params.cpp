#include "Rfc2231Params.h"

#include "EncodedWords.h"
#include "HeaderSyntax.h"
#include "platform/Charset.h"
#include "platform/HeaderScan.h"

#include <QList>
#include <QMap>

namespace maillib {
namespace {

struct Param {
  QByteArray name;   // lower case, as written ("filename*1*")
  QByteArray value;  // unquoted bytes
};

QList<Param> parseParameters(const QByteArray& rawValue) {
  const QByteArray v = headerscan::unfold(rawValue);
  const bool sjisAware = !charset::isValidUtf8(v);
  QList<Param> params;
  qsizetype i = 0;
  // Skip the type or disposition itself.
  for (; i < v.size() && v[i] != ';'; ++i)
    if (v[i] == '"') i = scanQuoted(v, i, sjisAware, nullptr);
  while (i < v.size()) {
    ++i;  // past ';'
    while (i < v.size() && (v[i] == ' ' || v[i] == '\t' || v[i] == ';')) ++i;
    const qsizetype nameStart = i;
    while (i < v.size() && v[i] != '=' && v[i] != ';') ++i;
    Param p;
    p.name = v.mid(nameStart, i - nameStart).trimmed().toLower();
    if (i >= v.size() || v[i] == ';') {
      if (!p.name.isEmpty()) params.append(p);
      continue;
    }
    ++i;  // past '='
    while (i < v.size() && (v[i] == ' ' || v[i] == '\t')) ++i;
    if (i < v.size() && v[i] == '"') {
      i = scanQuoted(v, i, sjisAware, &p.value);
      // Skip whatever follows the closing quote up to the next ';'.
      while (i < v.size() && v[i] != ';') ++i;
    } else {
      const qsizetype vs = i;
      while (i < v.size() && v[i] != ';') ++i;
      p.value = v.mid(vs, i - vs).trimmed();
    }
    if (!p.name.isEmpty()) params.append(p);
  }
  return params;
}

QByteArray percentDecode(const QByteArray& s) {
  QByteArray out;
  out.reserve(s.size());
  for (qsizetype i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && hexValue(s[i + 1]) >= 0 && hexValue(s[i + 2]) >= 0) {
      out.append(char(hexValue(s[i + 1]) * 16 + hexValue(s[i + 2])));
      i += 2;
    } else {
      out.append(s[i]);
    }
  }
  return out;
}

}  // namespace

QString headerParameter(const QByteArray& rawValue, const QByteArray& nameIn) {
  if (rawValue.isEmpty()) return QString();
  const QByteArray name = nameIn.toLower();
  const QList<Param> params = parseParameters(rawValue);
  // RFC 2231: name*=charset'lang'value, or sections name*0*, name*1 …
  QMap<int, Param> sections;
  for (const Param& p : params) {
    if (!p.name.startsWith(name + '*')) continue;
    QByteArray rest = p.name.mid(name.size() + 1);
    if (rest.isEmpty()) {
      sections.insert(0, {"*", p.value});
      continue;
    }
    const bool encoded = rest.endsWith('*');
    if (encoded) rest.chop(1);
    bool ok = false;
    const int n = rest.toInt(&ok);
    if (ok && n >= 0 && n < 1000) sections.insert(n, {encoded ? QByteArray("*") : QByteArray(), p.value});
  }
  if (!sections.isEmpty()) {
    QByteArray label;  // the charset the first section names
    QByteArray bytes;
    bool first = true;
    for (auto it = sections.cbegin(); it != sections.cend(); ++it) {
      QByteArray v = it->value;
      if (it->name == "*") {
        if (first) {
          const qsizetype q1 = v.indexOf('\'');
          const qsizetype q2 = q1 >= 0 ? v.indexOf('\'', q1 + 1) : -1;
          if (q2 >= 0) {
            label = v.left(q1);
            v = v.mid(q2 + 1);
          }
        }
        bytes += percentDecode(v);
      } else {
        bytes += v;
      }
      first = false;
    }
    // Some senders put encoded words into the sections as well.
    if (label.isEmpty() && bytes.contains("=?")) return decodeHeaderText(bytes);
    return cleanLine(label.isEmpty() ? charset::decodeGuess(bytes) : charset::decodeCharset(bytes, label));
  }
  for (const Param& p : params) {
    if (p.name != name) continue;
    return p.value.contains("=?") ? decodeHeaderText(p.value) : cleanLine(charset::decodeGuess(p.value));
  }
  return QString();
}

}  // namespace maillib
