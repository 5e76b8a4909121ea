#include "VCard.h"

#include "platform/Text.h"

#include <QStringDecoder>
#include <algorithm>

namespace vcard {
namespace {

const QByteArray kBookAddress = "X-TOMOSHIBI-ADDRESS";

struct Param {
  QByteArray name;   // upper case; empty for a bare 2.1 value such as PREF
  QByteArray value;  // quotes removed
};

struct Property {
  QByteArray name;  // upper case, group removed
  QList<Param> params;
  QByteArray value;  // raw, still encoded and escaped
};

// Lines with CR LF, LF or CR endings.
QList<QByteArray> physicalLines(QByteArray data) {
  data.replace("\r\n", "\n");
  data.replace('\r', '\n');
  return data.split('\n');
}

// Where the value starts: the first colon outside double quotes.
qsizetype valueColon(const QByteArray& line) {
  bool quoted = false;
  for (qsizetype i = 0; i < line.size(); ++i) {
    if (line[i] == '"') quoted = !quoted;
    if (line[i] == ':' && !quoted) return i;
  }
  return -1;
}

bool isQuotedPrintableLine(const QByteArray& line) {
  const qsizetype colon = valueColon(line);
  return colon > 0 && line.left(colon).toUpper().contains("QUOTED-PRINTABLE");
}

// Logical lines: a line that starts with a space or a tab continues the one
// before it (that one blank removed); a quoted-printable value that ends in
// "=" continues on the next line, as vCard 2.1 writers break them.
QList<QByteArray> logicalLines(const QByteArray& data) {
  const QList<QByteArray> lines = physicalLines(data);
  QList<QByteArray> out;
  for (qsizetype i = 0; i < lines.size(); ++i) {
    QByteArray line = lines[i];
    for (;;) {
      if (i + 1 < lines.size() && (lines[i + 1].startsWith(' ') || lines[i + 1].startsWith('\t'))) {
        line += lines[++i].mid(1);
      } else if (i + 1 < lines.size() && line.endsWith('=') && isQuotedPrintableLine(line)) {
        line.chop(1);
        line += lines[++i];
      } else {
        break;
      }
    }
    if (!line.trimmed().isEmpty()) out << line;
  }
  return out;
}

QByteArray unquote(QByteArray v) {
  if (v.size() >= 2 && v.startsWith('"') && v.endsWith('"')) v = v.mid(1, v.size() - 2);
  return v;
}

bool parseProperty(const QByteArray& line, Property& p) {
  const qsizetype colon = valueColon(line);
  if (colon <= 0) return false;
  p.value = line.mid(colon + 1);
  QList<QByteArray> parts;
  bool quoted = false;
  qsizetype start = 0;
  const QByteArray head = line.left(colon);
  for (qsizetype i = 0; i <= head.size(); ++i) {
    if (i < head.size() && head[i] == '"') quoted = !quoted;
    if (i == head.size() || (head[i] == ';' && !quoted)) {
      parts << head.mid(start, i - start);
      start = i + 1;
    }
  }
  QByteArray name = parts.takeFirst().trimmed().toUpper();
  if (const qsizetype dot = name.lastIndexOf('.'); dot >= 0) name = name.mid(dot + 1);  // item1.EMAIL
  p.name = name;
  for (const QByteArray& part : parts) {
    const qsizetype eq = part.indexOf('=');
    if (eq < 0)
      p.params << Param{QByteArray(), unquote(part.trimmed())};
    else
      p.params << Param{part.left(eq).trimmed().toUpper(), unquote(part.mid(eq + 1).trimmed())};
  }
  return true;
}

// The values of a parameter; bare 2.1 values count as TYPE values.
QList<QByteArray> paramValues(const Property& p, const QByteArray& name) {
  QList<QByteArray> out;
  for (const Param& param : p.params) {
    if (param.name == name || (name == "TYPE" && param.name.isEmpty()))
      for (const QByteArray& v : param.value.split(',')) out << unquote(v.trimmed()).toUpper();
  }
  return out;
}

QByteArray decodeQuotedPrintable(const QByteArray& in) {
  QByteArray out;
  out.reserve(in.size());
  auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  for (qsizetype i = 0; i < in.size(); ++i) {
    if (in[i] == '=' && i + 2 < in.size() && hex(in[i + 1]) >= 0 && hex(in[i + 2]) >= 0) {
      out += char(hex(in[i + 1]) << 4 | hex(in[i + 2]));
      i += 2;
    } else {
      out += in[i];
    }
  }
  return out;
}

bool isUtf8(const QByteArray& bytes) {
  QStringDecoder d(QStringDecoder::Utf8);
  (void)QString(d(bytes));
  return !d.hasError();
}

// The value's bytes as text in their charset (or UTF-8, else CP932).
QString valueText(const Property& p, const QByteArray& bytes) {
  const QList<QByteArray> charset = paramValues(p, "CHARSET");
  if (!charset.isEmpty()) {
    if (std::optional<QString> s = text::decodeWith(bytes, charset.first().constData())) return *s;
  }
  return isUtf8(bytes) ? QString::fromUtf8(bytes) : text::fromCp932(bytes);
}

// The value as text: transfer encoding undone, then the charset. A
// byte-order mark at its start is no text: some converters keep it and
// some drop it, and a card must read the same whichever way it came.
QString decodedValue(const Property& p) {
  QByteArray bytes = p.value;
  QList<QByteArray> enc = paramValues(p, "ENCODING");
  enc += paramValues(p, "TYPE");  // 2.1 writes a bare QUOTED-PRINTABLE
  if (enc.contains("QUOTED-PRINTABLE"))
    bytes = decodeQuotedPrintable(bytes);
  else if (enc.contains("B") || enc.contains("BASE64"))
    bytes = QByteArray::fromBase64(bytes);
  QString text = valueText(p, bytes);
  if (text.startsWith(QChar(0xFEFF))) text.remove(0, 1);
  return text;
}

QString unescape(const QString& s) {
  QString out;
  out.reserve(s.size());
  for (qsizetype i = 0; i < s.size(); ++i) {
    if (s[i] == u'\\' && i + 1 < s.size()) {
      const QChar c = s[++i];
      if (c == u'n' || c == u'N') {
        out += u'\n';
      } else if (c == u'\\' || c == u',' || c == u';' || c == u':') {
        out += c;
      } else {
        out += u'\\';
        out += c;
      }
    } else {
      out += s[i];
    }
  }
  return out;
}

// The components of a structured value, split at semicolons that are not
// escaped, each unescaped.
QStringList components(const QString& s) {
  QStringList out;
  QString cur;
  for (qsizetype i = 0; i < s.size(); ++i) {
    if (s[i] == u'\\' && i + 1 < s.size()) {
      cur += s[i];
      cur += s[++i];
    } else if (s[i] == u';') {
      out << unescape(cur);
      cur.clear();
    } else {
      cur += s[i];
    }
  }
  out << unescape(cur);
  return out;
}

// A name from N: family name then given name, run together for a Japanese
// name (日本太郎), given name first with a space otherwise (John Smith).
QString nameFromParts(const QStringList& n) {
  const QString family = n.value(0).trimmed();
  const QString given = n.value(1).trimmed();
  if (family.isEmpty() || given.isEmpty()) return family.isEmpty() ? given : family;
  auto latin = [](const QString& s) {
    return std::all_of(s.begin(), s.end(), [](QChar c) { return c.unicode() < 0x0250; });
  };
  return latin(family) && latin(given) ? given + u' ' + family : family + given;
}

// The rank of an EMAIL: lower wins; preferred ones before the rest.
int emailRank(const Property& p) {
  int rank = 1000;
  if (paramValues(p, "TYPE").contains("PREF")) rank = 1;
  for (const QByteArray& v : paramValues(p, "PREF")) {
    bool ok = false;
    const int n = v.toInt(&ok);
    if (ok && n >= 1 && n < rank) rank = n;
  }
  return rank;
}

struct Building {
  Card card;
  QString fn;
  QString nName;
  int emailRank = 0;
};

Card finish(const Building& b) {
  Card c = b.card;
  c.name = !b.fn.isEmpty() ? b.fn : b.nName;
  return c;
}

QByteArray escape(const QString& s) {
  QString out;
  out.reserve(s.size());
  for (QChar c : s) {
    if (c == u'\\' || c == u',' || c == u';') {
      out += u'\\';
      out += c;
    } else if (c == u'\n') {
      out += QStringLiteral("\\n");
    } else if (c != u'\r') {
      out += c;
    }
  }
  return out.toUtf8();
}

// One content line, folded so that no line passes 75 bytes and no UTF-8
// character is split.
void appendFolded(QByteArray& out, const QByteArray& line) {
  qsizetype pos = 0;
  bool first = true;
  while (pos < line.size()) {
    const qsizetype room = first ? 75 : 74;
    qsizetype len = std::min(room, line.size() - pos);
    if (pos + len < line.size())
      while (len > 1 && (uchar(line[pos + len]) & 0xC0) == 0x80) --len;  // a continuation byte
    if (!first) out += ' ';
    out += line.mid(pos, len);
    out += "\r\n";
    pos += len;
    first = false;
  }
  if (line.isEmpty()) out += "\r\n";
}

}  // namespace

QList<Card> parse(const QByteArray& file) {
  QByteArray data = file;
  if (data.startsWith("\xEF\xBB\xBF")) {
    data.remove(0, 3);
  } else if (data.startsWith("\xFF\xFE") || data.startsWith("\xFE\xFF")) {
    // Some desktop programs write UTF-16 with a byte-order mark.
    QStringDecoder utf16(data.startsWith("\xFF\xFE") ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE);
    data = QString(utf16(data.mid(2))).toUtf8();
  }
  QList<Card> cards;
  int depth = 0;
  Building b;
  for (const QByteArray& line : logicalLines(data)) {
    Property p;
    if (!parseProperty(line, p)) continue;
    const QByteArray value = p.value.trimmed().toUpper();
    if (p.name == "BEGIN" && value == "VCARD") {
      if (depth++ == 0) b = Building{};
      continue;
    }
    if (p.name == "END" && value == "VCARD") {
      if (depth > 0 && --depth == 0) cards << finish(b);
      continue;
    }
    if (depth != 1) continue;
    if (p.name == "FN") {
      if (b.fn.isEmpty()) b.fn = unescape(decodedValue(p)).trimmed();
    } else if (p.name == "N") {
      if (b.nName.isEmpty()) b.nName = nameFromParts(components(decodedValue(p)));
    } else if (p.name == "EMAIL") {
      const QString email = unescape(decodedValue(p)).trimmed();
      const int rank = emailRank(p);
      if (!email.isEmpty() && (b.card.email.isEmpty() || rank < b.emailRank)) {
        b.card.email = email;
        b.emailRank = rank;
      }
    } else if (p.name == kBookAddress) {
      b.card.bookAddress = unescape(decodedValue(p)).trimmed();
    }
  }
  if (depth > 0) cards << finish(b);  // a file cut short keeps its last card
  return cards;
}

QByteArray write(const QList<Card>& cards) {
  QByteArray out;
  for (const Card& c : cards) {
    out += "BEGIN:VCARD\r\nVERSION:3.0\r\n";
    appendFolded(out, "FN:" + escape(c.name));
    appendFolded(out, "N:" + escape(c.name) + ";;;;");
    if (!c.email.isEmpty()) appendFolded(out, "EMAIL;TYPE=INTERNET:" + escape(c.email));
    if (!c.bookAddress.isEmpty()) appendFolded(out, kBookAddress + ':' + escape(c.bookAddress));
    out += "END:VCARD\r\n";
  }
  return out;
}

}  // namespace vcard
