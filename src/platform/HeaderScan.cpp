#include "HeaderScan.h"

namespace headerscan {

Bounds bounds(const QByteArray& raw) {
  if (raw.startsWith("\r\n")) return {0, 2};
  if (raw.startsWith('\n')) return {0, 1};
  // The first empty line, whichever way its lines end.
  const qsizetype crlf = raw.indexOf("\r\n\r\n");
  const qsizetype lf = crlf < 0 ? raw.indexOf("\n\n") : raw.left(crlf).indexOf("\n\n");
  if (lf >= 0) return {lf, lf + 2};
  if (crlf >= 0) return {crlf, crlf + 4};
  return {raw.size(), raw.size()};
}

QByteArray headerBlock(const QByteArray& raw) { return raw.left(bounds(raw).headerEnd); }

RawMessage splitMessage(const QByteArray& raw) {
  const qsizetype at = bodyOffset(raw);
  if (raw.startsWith("\r\n") || raw.startsWith('\n')) return {QByteArray(), raw.mid(at)};
  // The header keeps the line break of its last line.
  qsizetype headerEnd = at;
  if (raw.left(at).endsWith("\r\n\r\n")) {
    headerEnd = at - 2;
  } else if (raw.left(at).endsWith("\n\n")) {
    headerEnd = at - 1;
  }
  return {raw.left(headerEnd), raw.mid(at)};
}

QByteArrayList fieldLines(const QByteArray& header, const QByteArray& nameIn, NameMatch match) {
  const QByteArray name = nameIn.toLower();
  const QByteArray want = name + ':';
  const QList<QByteArray> lines = header.split('\n');
  auto withoutCr = [](QByteArray line) {
    if (line.endsWith('\r')) line.chop(1);
    return line;
  };
  auto folded = [](const QByteArray& line) { return line.startsWith(' ') || line.startsWith('\t'); };
  for (qsizetype i = 0; i < lines.size(); ++i) {
    const QByteArray line = withoutCr(lines[i]);
    if (folded(line)) continue;
    qsizetype valueAt = -1;
    if (match == NameMatch::Exact) {
      if (line.toLower().startsWith(want)) valueAt = want.size();
    } else {
      const qsizetype colon = line.indexOf(':');
      if (colon > 0 && line.left(colon).trimmed().toLower() == name) valueAt = colon + 1;
    }
    if (valueAt < 0) continue;
    QByteArrayList out{line.mid(valueAt)};
    for (qsizetype j = i + 1; j < lines.size() && folded(lines[j]); ++j) out.append(withoutCr(lines[j]));
    return out;
  }
  return {};
}

QByteArray unfold(const QByteArray& v) {
  QByteArray out;
  out.reserve(v.size());
  for (char c : v)
    if (c != '\r' && c != '\n') out.append(c);
  return out.trimmed();
}

QByteArray fieldValue(const QByteArray& header, const QByteArray& name) {
  const QByteArrayList lines = fieldLines(header, name);
  return lines.isEmpty() ? QByteArray() : unfold(lines.join());
}

bool isFieldLine(QByteArrayView line) {
  qsizetype i = 0;
  while (i < line.size() && line[i] > ' ' && line[i] < 0x7F && line[i] != ':') ++i;
  if (i == 0) return false;
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  return i < line.size() && line[i] == ':';
}

qsizetype strayHeaderLine(const QByteArray& raw) {
  for (qsizetype at = 0; at < raw.size();) {
    const qsizetype nl = raw.indexOf('\n', at);
    QByteArrayView line(raw.constData() + at, (nl < 0 ? raw.size() : nl) - at);
    if (line.endsWith('\r')) line.chop(1);
    if (line.isEmpty()) return -1;  // the header's own end
    const bool folded = line[0] == ' ' || line[0] == '\t';
    const bool fromLine = at == 0 && line.startsWith("From ");
    if (folded ? at == 0 : !(fromLine || isFieldLine(line))) return at;
    if (nl < 0) break;
    at = nl + 1;
  }
  return -1;
}

}  // namespace headerscan
