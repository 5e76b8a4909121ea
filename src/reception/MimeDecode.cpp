#include "MimeDecode.h"

#include "Charsets.h"
#include "GMimeHandles.h"
#include "platform/Durable.h"
#include "platform/Text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <algorithm>
#include <memory>
#include <utility>

namespace maillib {
namespace {

QByteArray unfold(const QByteArray& v) {
  QByteArray out;
  out.reserve(v.size());
  for (char c : v)
    if (c != '\r' && c != '\n') out.append(c);
  return out.trimmed();
}

// What survives into a one-line field: no control characters (a NUL would
// cut the text short wherever it is stored), tabs as spaces, no-break spaces
// as plain ones (CP932 has none).
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

bool needsCleaning(char16_t u) {
  return u == 0xA0 || u == 0x7F || (u < 0x20 && u != u'\n' && u != u'\r' && u != u'\t' && u != u'\f');
}

bool crLfThroughout(const QString& s) {
  for (qsizetype i = s.indexOf(u'\n'); i >= 0; i = s.indexOf(u'\n', i + 1))
    if (i == 0 || s[i - 1] != u'\r') return false;
  for (qsizetype i = s.indexOf(u'\r'); i >= 0; i = s.indexOf(u'\r', i + 1))
    if (i + 1 >= s.size() || s[i + 1] != u'\n') return false;
  return true;
}

// Body text: CR LF lines, no NUL, no other C0 controls but tab and form feed.
QString cleanBody(const QString& s) {
  // Most text needs nothing done: it is passed on as it is.
  if (std::none_of(s.cbegin(), s.cend(), [](QChar c) { return needsCleaning(c.unicode()); }))
    return crLfThroughout(s) ? s : text::toCrLf(s);
  QString out;
  out.reserve(s.size());
  for (QChar c : s) {
    const char16_t u = c.unicode();
    if (u == 0xA0) {
      out.append(u' ');
    } else if (u < 0x20 && u != u'\n' && u != u'\r' && u != u'\t' && u != u'\f') {
      continue;
    } else if (u == 0x7F) {
      continue;
    } else {
      out.append(c);
    }
  }
  return text::toCrLf(out);
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

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
bool parseEncodedWord(const QByteArray& s, qsizetype p, qsizetype* end, QByteArray* charset, QByteArray* bytes) {
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
  *charset = cs;
  *bytes = (enc == 'B' || enc == 'b') ? QByteArray::fromBase64(t) : decodeQ(t);
  *end = q2 + 2;
  return true;
}

bool isBlank(const QByteArray& b) {
  for (char c : b)
    if (c != ' ' && c != '\t') return false;
  return true;
}

// Reads the quoted string whose opening quote is at `open`: its unescaped
// bytes into `value`; returns the index of the closing quote (or the end).
// In raw Shift_JIS a backslash can be the second byte of a character (表, ソ,
// 能 …): after a lead byte it is kept as it is, unless the text is UTF-8.
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
      if (sjisAware && text::isCp932Lead(c)) expectTrail = true;
    }
  }
  return i;
}

// Splits at `sep` outside quotes, comments and angle brackets.
QList<QByteArray> splitTopLevel(const QByteArray& s, char sep) {
  const bool sjisAware = !isValidUtf8(s);
  QList<QByteArray> parts;
  qsizetype start = 0;
  int comment = 0;
  bool angle = false;
  for (qsizetype i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (comment) {
      if (c == '\\') ++i;
      else if (c == '(') ++comment;
      else if (c == ')') --comment;
    } else if (c == '"') {
      i = scanQuoted(s, i, sjisAware, nullptr);
    } else if (c == '(') {
      comment = 1;
    } else if (c == '<') {
      angle = true;
    } else if (c == '>') {
      angle = false;
    } else if (c == sep && !angle) {
      parts.append(s.mid(start, i - start));
      start = i + 1;
    }
  }
  parts.append(s.mid(start));
  return parts;
}

QString decodeOneAddress(const QByteArray& item) {
  const bool sjisAware = !isValidUtf8(item);
  QByteArray phrase, comment, addr, plain;
  bool inAngle = false, seenAngle = false;
  for (qsizetype i = 0; i < item.size(); ++i) {
    const char c = item[i];
    if (c == '"' && !inAngle) {
      // A quoted part of the display name.
      i = scanQuoted(item, i, sjisAware, &phrase);
      continue;
    }
    if (c == '(' && !inAngle) {
      int depth = 1;
      qsizetype j = i + 1;
      QByteArray cm;
      while (j < item.size() && depth > 0) {
        if (item[j] == '\\' && j + 1 < item.size()) {
          cm.append(item[++j]);
        } else if (item[j] == '(') {
          ++depth;
          cm.append('(');
        } else if (item[j] == ')') {
          if (--depth > 0) cm.append(')');
        } else {
          cm.append(item[j]);
        }
        ++j;
      }
      if (!comment.isEmpty()) comment.append(' ');
      comment.append(cm);
      i = j - 1;
      continue;
    }
    if (c == '<' && !inAngle) {
      inAngle = true;
      seenAngle = true;
      continue;
    }
    if (c == '>' && inAngle) {
      inAngle = false;
      continue;
    }
    if (inAngle) {
      addr.append(c);
    } else {
      plain.append(c);
    }
  }
  QString name;
  QString address;
  if (seenAngle) {
    address = decodeGuess(addr.trimmed());
    QByteArray p = plain.trimmed();
    if (!phrase.isEmpty()) p = p.isEmpty() ? phrase : (phrase + ' ' + p);
    name = decodeHeaderText(p.trimmed());
  } else {
    address = decodeGuess(plain.trimmed());
    if (!phrase.isEmpty()) address = decodeHeaderText(phrase) + (address.isEmpty() ? QString() : u' ' + address);
  }
  if (name.isEmpty() && !comment.isEmpty()) name = decodeHeaderText(comment.trimmed());
  name = cleanLine(name);
  address = cleanLine(address);
  if (name.isEmpty() || name == address) return address;
  if (address.isEmpty()) return name;
  return name + QStringLiteral(" <") + address + u'>';
}

// --- parameters -----------------------------------------------------------

struct Param {
  QByteArray name;   // lower case, as written ("filename*1*")
  QByteArray value;  // unquoted bytes
};

QList<Param> parseParameters(const QByteArray& rawValue) {
  const QByteArray v = unfold(rawValue);
  const bool sjisAware = !isValidUtf8(v);
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

// --- HTML -------------------------------------------------------------------

const QHash<QString, char32_t>& entities() {
  static const QHash<QString, char32_t> map{
      {u"amp"_qs, U'&'},      {u"lt"_qs, U'<'},       {u"gt"_qs, U'>'},       {u"quot"_qs, U'"'},
      {u"apos"_qs, U'\''},    {u"nbsp"_qs, U' '},     {u"copy"_qs, U'©'},     {u"reg"_qs, U'®'},
      {u"trade"_qs, U'™'},    {u"yen"_qs, U'¥'},      {u"euro"_qs, U'€'},     {u"pound"_qs, U'£'},
      {u"cent"_qs, U'¢'},     {u"sect"_qs, U'§'},     {u"deg"_qs, U'°'},      {u"plusmn"_qs, U'±'},
      {u"times"_qs, U'×'},    {u"divide"_qs, U'÷'},   {u"middot"_qs, U'・'},  {u"bull"_qs, U'・'},
      {u"hellip"_qs, U'…'},   {u"mdash"_qs, U'—'},    {u"ndash"_qs, U'–'},    {u"laquo"_qs, U'«'},
      {u"raquo"_qs, U'»'},    {u"lsquo"_qs, U'‘'},    {u"rsquo"_qs, U'’'},    {u"ldquo"_qs, U'“'},
      {u"rdquo"_qs, U'”'},    {u"larr"_qs, U'←'},     {u"rarr"_qs, U'→'},     {u"uarr"_qs, U'↑'},
      {u"darr"_qs, U'↓'},     {u"ensp"_qs, U' '},     {u"emsp"_qs, U' '},     {u"thinsp"_qs, U' '},
      {u"zwnj"_qs, 0},        {u"zwj"_qs, 0},         {u"shy"_qs, 0},         {u"iexcl"_qs, U'¡'},
      {u"iquest"_qs, U'¿'},   {u"para"_qs, U'¶'},     {u"micro"_qs, U'µ'},    {u"frac12"_qs, U'½'},
      {u"eacute"_qs, U'é'},   {u"egrave"_qs, U'è'},   {u"agrave"_qs, U'à'},   {u"aacute"_qs, U'á'},
      {u"uuml"_qs, U'ü'},     {u"ouml"_qs, U'ö'},     {u"auml"_qs, U'ä'},     {u"szlig"_qs, U'ß'},
      {u"ccedil"_qs, U'ç'},   {u"ntilde"_qs, U'ñ'},   {u"Uuml"_qs, U'Ü'},     {u"Ouml"_qs, U'Ö'},
      {u"Auml"_qs, U'Ä'},     {u"Eacute"_qs, U'É'},
  };
  return map;
}

// `s` from `i` (at '&'): the character and the length consumed, or 0.
qsizetype entityAt(const QString& s, qsizetype i, QString* out) {
  const qsizetype semi = s.indexOf(u';', i + 1);
  if (semi < 0 || semi - i > 12) return 0;
  const QString name = s.mid(i + 1, semi - i - 1);
  if (name.startsWith(u'#')) {
    bool ok = false;
    const uint cp = (name.size() > 1 && (name[1] == u'x' || name[1] == u'X')) ? name.mid(2).toUInt(&ok, 16)
                                                                                : name.mid(1).toUInt(&ok, 10);
    if (!ok) return 0;
    if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      *out = QString();
    } else {
      const char32_t c = cp;
      *out = QString::fromUcs4(&c, 1);
    }
    return semi - i + 1;
  }
  auto it = entities().constFind(name);
  if (it == entities().constEnd()) return 0;
  if (*it == 0) {
    *out = QString();
  } else {
    const char32_t c = *it;
    *out = QString::fromUcs4(&c, 1);
  }
  return semi - i + 1;
}

enum class TagKind { Inline, Break, Block, Paragraph, ListItem, Cell, Skip, Pre };

TagKind kindOf(const QString& tag) {
  static const QHash<QString, TagKind> kinds{
      {u"br"_qs, TagKind::Break},         {u"p"_qs, TagKind::Paragraph},     {u"h1"_qs, TagKind::Paragraph},
      {u"h2"_qs, TagKind::Paragraph},     {u"h3"_qs, TagKind::Paragraph},    {u"h4"_qs, TagKind::Paragraph},
      {u"h5"_qs, TagKind::Paragraph},     {u"h6"_qs, TagKind::Paragraph},    {u"blockquote"_qs, TagKind::Paragraph},
      {u"table"_qs, TagKind::Paragraph},  {u"ul"_qs, TagKind::Block},        {u"ol"_qs, TagKind::Block},
      {u"div"_qs, TagKind::Block},        {u"tr"_qs, TagKind::Block},        {u"hr"_qs, TagKind::Block},
      {u"section"_qs, TagKind::Block},    {u"article"_qs, TagKind::Block},   {u"header"_qs, TagKind::Block},
      {u"footer"_qs, TagKind::Block},     {u"dl"_qs, TagKind::Block},        {u"dt"_qs, TagKind::Block},
      {u"dd"_qs, TagKind::Block},         {u"address"_qs, TagKind::Block},   {u"center"_qs, TagKind::Block},
      {u"form"_qs, TagKind::Block},       {u"tbody"_qs, TagKind::Block},     {u"thead"_qs, TagKind::Block},
      {u"li"_qs, TagKind::ListItem},      {u"td"_qs, TagKind::Cell},         {u"th"_qs, TagKind::Cell},
      {u"script"_qs, TagKind::Skip},      {u"style"_qs, TagKind::Skip},      {u"head"_qs, TagKind::Skip},
      {u"title"_qs, TagKind::Skip},       {u"noscript"_qs, TagKind::Skip},   {u"template"_qs, TagKind::Skip},
      {u"pre"_qs, TagKind::Pre},
  };
  return kinds.value(tag, TagKind::Inline);
}

// Where the tag that starts at `i` ('<') ends (index of '>'), quotes in
// attributes respected; -1 when it never does.
qsizetype tagEnd(const QString& s, qsizetype i) {
  QChar quote;
  for (qsizetype j = i + 1; j < s.size(); ++j) {
    const QChar c = s[j];
    if (!quote.isNull()) {
      if (c == quote) quote = QChar();
    } else if (c == u'"' || c == u'\'') {
      // Only quotes that open an attribute value count.
      if (j > 0 && s[j - 1] == u'=') quote = c;
    } else if (c == u'>') {
      return j;
    }
  }
  return -1;
}

// The value of attribute `name` in the text of a tag, entities decoded;
// null when the tag has none.
QString attribute(const QString& tag, const QString& name) {
  static const QRegularExpression re(
      QStringLiteral(R"re((?:^|\s)([a-zA-Z-]+)\s*=\s*(?:"([^"]*)"|'([^']*)'|([^\s"'>]+)))re"));
  for (auto it = re.globalMatch(tag); it.hasNext();) {
    const QRegularExpressionMatch m = it.next();
    if (m.captured(1).compare(name, Qt::CaseInsensitive) != 0) continue;
    int group = 2;
    while (group < 4 && m.capturedStart(group) < 0) ++group;
    const QString v = m.captured(group);
    QString out;
    for (qsizetype i = 0; i < v.size(); ++i) {
      QString ent;
      if (v[i] == u'&') {
        if (const qsizetype len = entityAt(v, i, &ent); len > 0) {
          out += ent;
          i += len - 1;
          continue;
        }
      }
      out += v[i];
    }
    return out.trimmed();
  }
  return QString();
}

// What a reader of the text needs of a link's target: the address itself,
// "mailto:" left off; nothing for targets inside the page or the mail.
QString shownTarget(const QString& href) {
  const QString h = href.trimmed();
  if (h.startsWith(QStringLiteral("mailto:"), Qt::CaseInsensitive)) return h.mid(7).section(u'?', 0, 0);
  static const QRegularExpression scheme(QStringLiteral("^(https?|ftp)://"), QRegularExpression::CaseInsensitiveOption);
  return scheme.match(h).hasMatch() ? h : QString();
}

// A link text that already says where it leads needs no address after it.
bool textShowsTarget(const QString& text, const QString& target) {
  auto bare = [](QString u) {
    static const QRegularExpression scheme(QStringLiteral("^[a-z]+://(www\\.)?"), QRegularExpression::CaseInsensitiveOption);
    u.remove(scheme);
    while (u.endsWith(u'/')) u.chop(1);
    return u.toLower();
  };
  const QString t = bare(text.simplified());
  return !t.isEmpty() && (t == bare(target) || text.contains(target));
}

QString finishLines(const QString& raw) {
  const QStringList lines = raw.split(u'\n');
  QStringList out;
  int blank = 0;
  for (QString l : lines) {
    // Trailing blanks go; leading ones only when they came from collapsed markup.
    while (!l.isEmpty() && (l.back() == u' ' || l.back() == u'\t')) l.chop(1);
    if (l.trimmed().isEmpty()) {
      if (++blank > 1 || out.isEmpty()) continue;
      out.append(QString());
      continue;
    }
    blank = 0;
    out.append(l);
  }
  while (!out.isEmpty() && out.back().isEmpty()) out.removeLast();
  return out.join(u'\n');
}

// --- files ----------------------------------------------------------------

bool isDirectionOrInvisible(char16_t u) {
  return (u >= 0x200B && u <= 0x200F) || (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069) ||
         u == 0xFEFF || u == 0x061C;
}

QString extensionFor(const QByteArray& type, const QByteArray& subtype) {
  static const QHash<QByteArray, QString> known{
      {"text/plain", u"txt"_qs},       {"text/html", u"html"_qs},        {"text/calendar", u"ics"_qs},
      {"text/csv", u"csv"_qs},         {"text/x-vcard", u"vcf"_qs},      {"text/vcard", u"vcf"_qs},
      {"image/jpeg", u"jpg"_qs},       {"image/pjpeg", u"jpg"_qs},       {"image/png", u"png"_qs},
      {"image/gif", u"gif"_qs},        {"image/bmp", u"bmp"_qs},         {"image/webp", u"webp"_qs},
      {"image/tiff", u"tif"_qs},       {"application/pdf", u"pdf"_qs},   {"application/zip", u"zip"_qs},
      {"message/rfc822", u"eml"_qs},   {"audio/mpeg", u"mp3"_qs},        {"video/mp4", u"mp4"_qs},
      {"application/msword", u"doc"_qs}, {"application/vnd.ms-excel", u"xls"_qs},
      {"application/ms-tnef", u"dat"_qs}, {"application/pgp-signature", u"asc"_qs},
      {"application/pkcs7-signature", u"p7s"_qs}, {"application/x-pkcs7-signature", u"p7s"_qs},
      {"text/rtf", u"rtf"_qs},
  };
  const QByteArray key = type.toLower() + '/' + subtype.toLower();
  if (auto it = known.constFind(key); it != known.constEnd()) return *it;
  // Any other text is read as plain text, and saved as such.
  return type.toLower() == "text" ? u"txt"_qs : u"bin"_qs;
}

// --- the walk over a parsed message ------------------------------------------

QByteArray lower(const char* s) { return s ? QByteArray(s).toLower() : QByteArray(); }

QByteArray objectHeader(GMimeObject* o, const char* name) {
  GMimeHeaderList* list = g_mime_object_get_header_list(o);
  if (!list) return {};
  GMimeHeader* h = g_mime_header_list_get_header(list, name);
  if (!h) return {};
  const char* raw = g_mime_header_get_raw_value(h);
  return raw ? unfold(QByteArray(raw)) : QByteArray();
}

bool isTokenChar(char c) {
  return c > ' ' && c < 0x7F && !QByteArrayView("()<>@,;:\\\"/[]?=").contains(c);
}

// Whether a Content-Type value reads as "type/subtype", comments and
// parameters aside.
bool typeParses(const QByteArray& value) {
  QByteArray v;
  int comment = 0;
  for (char c : value) {
    if (c == '(') ++comment;
    else if (c == ')' && comment > 0) --comment;
    else if (!comment && c == ';') break;
    else if (!comment && c != ' ' && c != '\t') v.append(c);
  }
  const qsizetype slash = v.indexOf('/');
  if (slash <= 0 || slash + 1 >= v.size()) return false;
  return std::all_of(v.cbegin(), v.cend(), [](char c) { return c == '/' || isTokenChar(c); }) &&
         v.count('/') == 1;
}

struct MediaType {
  QByteArray type, subtype;  // lower case
  bool unreadable = false;   // the header's value did not parse
};

// The type a part is read as. A Content-Type that does not parse (GMime
// makes it application/octet-stream) means plain text (RFC 2045 5.2).
MediaType mediaTypeOf(GMimeObject* o) {
  GMimeContentType* ct = g_mime_object_get_content_type(o);
  if (!ct) return {"text", "plain"};
  MediaType t{lower(g_mime_content_type_get_media_type(ct)), lower(g_mime_content_type_get_media_subtype(ct))};
  if (t.type == "application" && t.subtype == "octet-stream" && !typeParses(objectHeader(o, "Content-Type")))
    return {"text", "plain", true};
  return t;
}

// Text kinds that are files to keep (an invitation, a table, an address
// card, a document); every other text is for reading (RFC 2046 4.1.4).
bool isTextFile(const QByteArray& subtype) {
  return subtype == "calendar" || subtype == "csv" || subtype == "vcard" || subtype == "x-vcard" ||
         subtype == "rtf";
}

// The decoded content of a part, in GLib's buffer: `bytes` looks into it
// without a copy (a large attachment is not held twice) while `owner` lives.
struct PartBytes {
  std::shared_ptr<GByteArray> owner;
  QByteArray bytes;
};

PartBytes partContent(GMimePart* part) {
  GMimeDataWrapper* w = g_mime_part_get_content(part);
  if (!w) return {};
  // Sized for the encoded content, which the decoded never exceeds by much.
  GMimeStream* source = g_mime_data_wrapper_get_stream(w);
  const gint64 encoded = source ? g_mime_stream_length(source) : -1;
  GByteArray* ba = g_byte_array_sized_new(guint(std::clamp<gint64>(encoded, 0, 64 * 1024 * 1024)));
  PartBytes out{std::shared_ptr<GByteArray>(ba, g_byte_array_unref), {}};
  {
    const GObjectRef<GMimeStream> mem(g_mime_stream_mem_new_with_byte_array(ba));
    g_mime_stream_mem_set_owner(GMIME_STREAM_MEM(mem.get()), FALSE);
    g_mime_data_wrapper_write_to_stream(w, mem.get());
    ba = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem.get()));
  }
  out.bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(ba->data), qsizetype(ba->len));
  return out;
}

// text/plain; format=flowed: soft line breaks (a line ending in a space)
// joined again, space-stuffing undone.
QString unflow(const QString& text, bool delsp) {
  const QStringList lines = text.split(u'\n');
  QString out;
  QString para;
  bool open = false;
  for (QString l : lines) {
    if (l.endsWith(u'\r')) l.chop(1);
    if (l.startsWith(u' ')) l.remove(0, 1);
    const bool soft = l.endsWith(u' ') && l != QStringLiteral("-- ");
    if (soft && delsp) l.chop(1);
    para += l;
    open = soft;
    if (!soft) {
      out += para + u'\n';
      para.clear();
    }
  }
  if (open || !para.isEmpty()) out += para;
  return out;
}

// A piece of the body: a text of its own, or a text part's bytes decoded
// only once the parsed message is gone (a long body is not held as bytes,
// parsed message and text at once).
struct Piece {
  QString text;
  PartBytes content;
  QByteArray charset;
  bool html = false;
  bool flowed = false;
  bool delsp = false;

  QString decode() const {
    const QByteArray& bytes = content.bytes;
    if (html) {
      QByteArray cs = charset;
      if (cs.isEmpty()) {
        // <meta charset=…> or <meta … content="text/html; charset=…">
        const QByteArray head = bytes.left(4096).toLower();
        const qsizetype at = head.indexOf("charset=");
        if (at >= 0) {
          qsizetype s = at + 8;
          while (s < head.size() && (head[s] == '"' || head[s] == '\'' || head[s] == ' ')) ++s;
          qsizetype e = s;
          while (e < head.size() && head[e] != '"' && head[e] != '\'' && head[e] != ' ' && head[e] != ';' &&
                 head[e] != '>' && head[e] != '/')
            ++e;
          cs = head.mid(s, e - s);
        }
      }
      return htmlToText(decodeCharset(bytes, cs));
    }
    QString t = decodeCharset(bytes, charset);
    return flowed ? unflow(t, delsp) : t;
  }
};

// Where an entity (a header block and its body) lies in the raw mail.
struct Range {
  qsizetype begin = 0;
  qsizetype end = -1;  // -1: not known
  bool known() const { return end >= begin; }
};

qsizetype entityBody(const QByteArray& raw, Range r) {
  const QByteArray entity = QByteArray::fromRawData(raw.constData() + r.begin, r.end - r.begin);
  return r.begin + bodyOffset(entity);
}

// The parts of a multipart entity as they lie in the raw mail, between its
// delimiter lines ("--boundary", the line break before it belonging to it).
// Empty when they cannot be found.
QList<Range> partRanges(const QByteArray& raw, Range entity, const QByteArray& boundary) {
  QList<Range> parts;
  if (!entity.known() || boundary.isEmpty()) return parts;
  const QByteArray delimiter = "--" + boundary;
  qsizetype open = -1;
  auto close = [&](qsizetype lineStart) {
    if (open < 0) return;
    qsizetype e = lineStart;
    if (e - 2 >= open && raw[e - 2] == '\r' && raw[e - 1] == '\n') {
      e -= 2;
    } else if (e - 1 >= open && raw[e - 1] == '\n') {
      e -= 1;
    }
    parts.append({open, e});
  };
  for (qsizetype at = entityBody(raw, entity); at < entity.end;) {
    const qsizetype nl = raw.indexOf('\n', at);
    const qsizetype next = (nl < 0 || nl >= entity.end) ? entity.end : nl + 1;
    QByteArrayView line(raw.constData() + at, next - at);
    if (line.startsWith(delimiter)) {
      QByteArrayView rest = line.sliced(delimiter.size());
      if (rest.startsWith("--")) {
        close(at);
        return parts;
      }
      if (rest.trimmed().isEmpty()) {
        close(at);
        open = next;
      }
    }
    at = next;
  }
  close(entity.end);
  return parts;
}

bool holdsMessagePart(GMimeObject* o) {
  if (GMIME_IS_MESSAGE_PART(o)) return true;
  if (!GMIME_IS_MULTIPART(o)) return false;
  GMimeMultipart* mp = GMIME_MULTIPART(o);
  for (int i = 0; i < g_mime_multipart_get_count(mp); ++i)
    if (holdsMessagePart(g_mime_multipart_get_part(mp, i))) return true;
  return false;
}

struct Walker {
  DecodedMail& out;
  const QByteArray& raw;  // the mail the parser holds
  QList<Piece> pieces;
  QHash<QString, int> unnamed;  // names made from types so far, per kind
  bool unnamedText = false;     // a text without a file name read in this message so far

  Piece textOf(GMimeObject* o) {
    const MediaType type = mediaTypeOf(o);
    Piece p;
    p.content = partContent(GMIME_PART(o));
    p.charset = lower(g_mime_object_get_content_type_parameter(o, "charset"));
    // GMime keeps no parameters of a type it could not read: a charset the
    // sender named is still used.
    if (type.unreadable) p.charset = headerParameter(objectHeader(o, "Content-Type"), "charset").toLatin1().toLower();
    p.html = type.subtype == "html";
    p.flowed = !p.html && lower(g_mime_object_get_content_type_parameter(o, "format")) == "flowed";
    p.delsp = lower(g_mime_object_get_content_type_parameter(o, "delsp")) == "yes";
    return p;
  }

  QString fileNameOf(GMimeObject* o) {
    QString name = headerParameter(objectHeader(o, "Content-Disposition"), "filename");
    if (name.trimmed().isEmpty()) name = headerParameter(objectHeader(o, "Content-Type"), "name");
    return cleanLine(name);
  }

  // A name for a part that has none: its kind and a number ("image1.png").
  QString nameFromType(GMimeObject* o) {
    const MediaType t = mediaTypeOf(o);
    static const QSet<QByteArray> kinds{"image", "audio", "video", "text", "message"};
    const QString kind = kinds.contains(t.type) ? QString::fromLatin1(t.type) : QStringLiteral("file");
    return kind + QString::number(++unnamed[kind]) + u'.' + extensionFor(t.type, t.subtype);
  }

  bool isAttachmentDisposition(GMimeObject* o) {
    GMimeContentDisposition* cd = g_mime_object_get_content_disposition(o);
    return cd && lower(g_mime_content_disposition_get_disposition(cd)) == "attachment";
  }

  // Text to read: plain, HTML, or a text kind not known here (read as
  // plain); not a text kind that is a file of its own.
  bool isText(GMimeObject* o, bool* html) {
    const MediaType t = mediaTypeOf(o);
    if (html) *html = t.type == "text" && t.subtype == "html";
    return t.type == "text" && !isTextFile(t.subtype);
  }

  // A text that is one version of the body, not a file.
  bool isBodyText(GMimeObject* o) {
    bool html = false;
    return GMIME_IS_PART(o) && !GMIME_IS_MESSAGE_PARTIAL(o) && isText(o, &html) && !isAttachmentDisposition(o) &&
           fileNameOf(o).isEmpty();
  }

  static bool isMessageType(GMimeObject* o) {
    GMimeContentType* ct = g_mime_object_get_content_type(o);
    return ct && lower(g_mime_content_type_get_media_type(ct)) == "message" &&
           lower(g_mime_content_type_get_media_subtype(ct)) == "rfc822";
  }

  static QString asEml(QString name) {
    return name.endsWith(QStringLiteral(".eml"), Qt::CaseInsensitive) ? name : name + QStringLiteral(".eml");
  }

  void attach(GMimeObject* o) { attach(o, partContent(GMIME_PART(o))); }
  void attach(GMimeObject* o, PartBytes content) {
    QString name = fileNameOf(o);
    if (name.isEmpty()) name = nameFromType(o);
    // A mail sent encoded (base64) is a part to GMime: still a mail file.
    if (isMessageType(o)) name = asEml(name);
    out.attachments.append({name, content.bytes, std::move(content.owner)});
  }

  // An attached mail as a file of its own bytes, as it lies in the mail.
  void attachMessage(GMimeMessagePart* part, Range r) {
    GMimeObject* o = GMIME_OBJECT(part);
    QString name = fileNameOf(o);
    name = asEml(name.isEmpty() ? nameFromType(o) : name);
    QByteArray bytes;
    if (r.known()) {
      bytes = raw.mid(entityBody(raw, r), r.end - entityBody(raw, r));
    } else if (GMimeMessage* inner = g_mime_message_part_get_message(part)) {
      // Where the parts could not be told apart by their delimiters, the
      // parser's own rendering of the mail.
      char* text = g_mime_object_to_string(GMIME_OBJECT(inner), nullptr);
      bytes = QByteArray(text);
      g_free(text);
    }
    out.attachments.append({name, bytes, nullptr});
  }

  void addText(const QString& t) { pieces.append(Piece{t, {}, {}}); }

  void message(GMimeMessage* m, bool nested, Range r) {
    GMimeObject* mo = GMIME_OBJECT(m);
    if (nested) {
      QString head = QStringLiteral("―――――― 添付されたメール ――――――\n");
      const QString s = decodeHeaderText(objectHeader(mo, "Subject"));
      const QString f = decodeAddresses(objectHeader(mo, "From"));
      const QString d = cleanLine(decodeHeaderText(objectHeader(mo, "Date")));
      head += QStringLiteral("Subject: ") + cleanLine(s) + u'\n';
      head += QStringLiteral("From: ") + f + u'\n';
      head += QStringLiteral("Date: ") + d;
      addText(head);
    }
    // The message's own header is its body part's header as well. An
    // attached mail's texts count for it alone.
    const bool outer = std::exchange(unnamedText, false);
    if (GMimeObject* body = g_mime_message_get_mime_part(m)) object(body, true, r);
    unnamedText = outer;
  }

  // The inner mail of a message part: where it lies, and the mail itself.
  Range innerRange(Range r) {
    if (!r.known()) return r;
    return {entityBody(raw, r), r.end};
  }

  void object(GMimeObject* o, bool topOfMessage, Range r) {
    if (GMIME_IS_MESSAGE_PART(o)) {
      GMimeMessagePart* part = GMIME_MESSAGE_PART(o);
      attachMessage(part, r);
      // Its text is shown too, and its own files are saved as before.
      if (GMimeMessage* inner = g_mime_message_part_get_message(part)) message(inner, true, innerRange(r));
      return;
    }
    if (GMIME_IS_MESSAGE_PARTIAL(o)) {
      out.partial = true;
      addText(decodeGuess(partContent(GMIME_PART(o)).bytes));
      return;
    }
    if (GMIME_IS_MULTIPART(o)) {
      multipart(GMIME_MULTIPART(o), r);
      return;
    }
    if (!GMIME_IS_PART(o)) return;
    bool html = false;
    const bool text = isText(o, &html) && !isAttachmentDisposition(o);
    const bool named = !fileNameOf(o).isEmpty();
    if (text && (topOfMessage || !named)) {
      // The whole message being one text part: that is the body, whatever
      // it is called.
      pieces.append(textOf(o));
      unnamedText = unnamedText || !named;
    } else if (text && !html && !unnamedText) {
      // An inline text that names a file is meant to be read (RFC 2183):
      // the body, unless a text without a name came before it, and the
      // file it names all the same.
      Piece p = textOf(o);
      attach(o, p.content);
      pieces.append(std::move(p));
    } else {
      attach(o);
    }
  }

  // The files of a part not read as the body (another version of it, a
  // picture an HTML page shows): everything but its versions of the text.
  void files(GMimeObject* o, Range r, bool resource) {
    if (GMIME_IS_MESSAGE_PART(o)) {
      attachMessage(GMIME_MESSAGE_PART(o), r);
      if (GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(o)))
        if (GMimeObject* body = g_mime_message_get_mime_part(inner)) files(body, innerRange(r), false);
      return;
    }
    if (GMIME_IS_MULTIPART(o)) {
      GMimeMultipart* mp = GMIME_MULTIPART(o);
      const QList<Range> ranges = childRanges(mp, r);
      // The signature of a signed part is not for reading.
      GMimeContentType* ct = g_mime_object_get_content_type(o);
      const int n = lower(ct ? g_mime_content_type_get_media_subtype(ct) : nullptr) == "signed"
                        ? std::min(1, g_mime_multipart_get_count(mp))
                        : g_mime_multipart_get_count(mp);
      for (int i = 0; i < n; ++i) files(g_mime_multipart_get_part(mp, i), ranges.value(i), false);
      return;
    }
    if (!GMIME_IS_PART(o) || GMIME_IS_MESSAGE_PARTIAL(o)) return;
    if (!resource && isBodyText(o)) return;
    attach(o);
  }

  // True when `o` is or holds a text/plain body.
  bool holdsPlain(GMimeObject* o) {
    if (GMIME_IS_MULTIPART(o)) {
      GMimeMultipart* mp = GMIME_MULTIPART(o);
      for (int i = 0; i < g_mime_multipart_get_count(mp); ++i)
        if (holdsPlain(g_mime_multipart_get_part(mp, i))) return true;
      return false;
    }
    if (!GMIME_IS_PART(o) || GMIME_IS_MESSAGE_PARTIAL(o) || isAttachmentDisposition(o)) return false;
    const MediaType t = mediaTypeOf(o);
    return t.type == "text" && t.subtype == "plain";
  }

  // The children's places in the raw mail, looked for only where an
  // attached mail needs its own bytes; unknown when they do not add up.
  QList<Range> childRanges(GMimeMultipart* mp, Range r) {
    if (!r.known() || !holdsMessagePart(GMIME_OBJECT(mp))) return {};
    const char* boundary = g_mime_multipart_get_boundary(mp);
    QList<Range> ranges = partRanges(raw, r, boundary ? QByteArray(boundary) : QByteArray());
    if (ranges.size() != g_mime_multipart_get_count(mp)) return {};
    return ranges;
  }

  void multipart(GMimeMultipart* mp, Range r) {
    GMimeContentType* ct = g_mime_object_get_content_type(GMIME_OBJECT(mp));
    const QByteArray sub = lower(ct ? g_mime_content_type_get_media_subtype(ct) : nullptr);
    const int n = g_mime_multipart_get_count(mp);
    if (n <= 0) return;
    const QList<Range> ranges = childRanges(mp, r);
    if (sub == "alternative") {
      // The plain-text version when there is one (the last, as the sender
      // ordered them by preference), else the richest (last) version; the
      // pictures and files of the other versions are saved all the same.
      int pick = -1;
      for (int i = 0; i < n; ++i)
        if (holdsPlain(g_mime_multipart_get_part(mp, i))) pick = i;
      if (pick < 0) pick = n - 1;
      object(g_mime_multipart_get_part(mp, pick), false, ranges.value(pick));
      for (int i = 0; i < n; ++i)
        if (i != pick) files(g_mime_multipart_get_part(mp, i), ranges.value(i), false);
      return;
    }
    if (sub == "related") {
      // The root document, and every piece it shows, named or not.
      object(g_mime_multipart_get_part(mp, 0), false, ranges.value(0));
      for (int i = 1; i < n; ++i) files(g_mime_multipart_get_part(mp, i), ranges.value(i), true);
      return;
    }
    if (sub == "signed") {
      object(g_mime_multipart_get_part(mp, 0), false, ranges.value(0));  // the signature is not for reading
      return;
    }
    for (int i = 0; i < n; ++i) object(g_mime_multipart_get_part(mp, i), false, ranges.value(i));
  }
};

// A header field's line: a name of printable characters without a colon,
// then the colon (white space before it allowed, as older mail has it).
bool isFieldLine(QByteArrayView line) {
  qsizetype i = 0;
  while (i < line.size() && line[i] > ' ' && line[i] < 0x7F && line[i] != ':') ++i;
  if (i == 0) return false;
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  return i < line.size() && line[i] == ':';
}

// Where the body of a mail whose header block stops without its empty line
// begins: the first line before the empty line that cannot be a header
// field (not a field, not the folded rest of one). -1 when there is none.
// GMime would drop that line and read on for header fields.
qsizetype strayHeaderLine(const QByteArray& raw) {
  for (qsizetype at = 0; at < raw.size();) {
    const qsizetype nl = raw.indexOf('\n', at);
    QByteArrayView line(raw.constData() + at, (nl < 0 ? raw.size() : nl) - at);
    if (line.endsWith('\r')) line.chop(1);
    if (line.isEmpty()) return -1;  // the header's own end
    const bool folded = line[0] == ' ' || line[0] == '\t';
    // A mailbox file's "From " line may come first.
    const bool fromLine = at == 0 && line.startsWith("From ");
    if (folded ? at == 0 : !(fromLine || isFieldLine(line))) return at;
    if (nl < 0) break;
    at = nl + 1;
  }
  return -1;
}

}  // namespace

// --- public ------------------------------------------------------------------

qsizetype bodyOffset(const QByteArray& raw) {
  if (raw.startsWith("\r\n")) return 2;
  if (raw.startsWith('\n')) return 1;
  const qsizetype crlf = raw.indexOf("\r\n\r\n");
  const qsizetype lf = crlf < 0 ? raw.indexOf("\n\n") : raw.left(crlf).indexOf("\n\n");
  if (lf >= 0) return lf + 2;
  if (crlf >= 0) return crlf + 4;
  return raw.size();
}

RawMessage splitMessage(const QByteArray& raw) {
  if (raw.startsWith("\r\n") || raw.startsWith('\n')) return {QByteArray(), raw.mid(bodyOffset(raw))};
  const qsizetype at = bodyOffset(raw);
  // The header keeps the line break of its last line.
  qsizetype headerEnd = at;
  if (raw.left(at).endsWith("\r\n\r\n")) {
    headerEnd = at - 2;
  } else if (raw.left(at).endsWith("\n\n")) {
    headerEnd = at - 1;
  }
  return {raw.left(headerEnd), raw.mid(at)};
}

QByteArray rawHeaderField(const QByteArray& header, const QByteArray& name) {
  const QByteArray want = name.toLower() + ':';
  const QList<QByteArray> lines = header.split('\n');
  for (qsizetype i = 0; i < lines.size(); ++i) {
    if (!lines[i].toLower().startsWith(want)) continue;
    QByteArray v = lines[i].mid(want.size());
    for (qsizetype j = i + 1; j < lines.size() && (lines[j].startsWith(' ') || lines[j].startsWith('\t')); ++j)
      v += lines[j];
    return unfold(v);
  }
  return {};
}

QString decodeHeaderText(const QByteArray& rawIn) {
  const QByteArray raw = unfold(rawIn);
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
  for (const Segment& s : segs) out += s.encoded ? decodeCharset(s.bytes, s.charset) : decodeGuess(s.bytes);
  return cleanLine(out);
}

QString decodeAddresses(const QByteArray& rawIn) {
  const QByteArray raw = unfold(rawIn);
  QStringList shown;
  for (const QByteArray& item : splitTopLevel(raw, ',')) {
    if (item.trimmed().isEmpty()) continue;
    const QString one = decodeOneAddress(item.trimmed());
    if (!one.isEmpty()) shown.append(one);
  }
  return shown.join(QStringLiteral(", "));
}

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
    QByteArray charset;
    QByteArray bytes;
    bool first = true;
    for (auto it = sections.cbegin(); it != sections.cend(); ++it) {
      QByteArray v = it->value;
      if (it->name == "*") {
        if (first) {
          const qsizetype q1 = v.indexOf('\'');
          const qsizetype q2 = q1 >= 0 ? v.indexOf('\'', q1 + 1) : -1;
          if (q2 >= 0) {
            charset = v.left(q1);
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
    if (charset.isEmpty() && bytes.contains("=?")) return decodeHeaderText(bytes);
    return cleanLine(charset.isEmpty() ? decodeGuess(bytes) : decodeCharset(bytes, charset));
  }
  for (const Param& p : params) {
    if (p.name != name) continue;
    return p.value.contains("=?") ? decodeHeaderText(p.value) : cleanLine(decodeGuess(p.value));
  }
  return QString();
}

QString htmlToText(const QString& html) {
  QString out;
  out.reserve(html.size() / 2);
  bool pre = false;
  // The link being read: where its text starts, where it leads, and the
  // words of pictures inside it (a picture may be all a link shows).
  struct Link {
    bool open = false;
    qsizetype start = 0;
    QString target, alt;
  } link;
  int lists = 0, items = 0;  // open lists, and open items in them
  bool afterTarget = false;  // an address was just put in: words that follow keep apart from it
  auto endLink = [&] {
    if (!link.open) return;
    link.open = false;
    if (link.target.isEmpty()) return;
    const QString text = out.mid(link.start).simplified();
    if (text.isEmpty()) {
      while (!out.isEmpty() && out.back() == u' ') out.chop(1);
      if (!out.isEmpty() && out.back() != u'\n') out.append(u' ');
      out += (link.alt.isEmpty() ? QString() : link.alt + u' ') + u'<' + link.target + u'>';
      afterTarget = true;
    } else if (!textShowsTarget(text, link.target)) {
      while (!out.isEmpty() && (out.back() == u' ' || out.back() == u'\n')) out.chop(1);
      out += QStringLiteral(" <") + link.target + u'>';
      afterTarget = true;
    }
  };
  auto newline = [&](int want) {
    // A list item's mark stays on the line of its first words.
    if (out.endsWith(QStringLiteral("\n・")) || out == QStringLiteral("・")) return;
    // Ends the current line and makes sure `want` line breaks stand at the end.
    int have = 0;
    for (qsizetype k = out.size() - 1; k >= 0 && (out[k] == u'\n' || out[k] == u' '); --k)
      if (out[k] == u'\n') ++have;
    while (!out.isEmpty() && out.back() == u' ') out.chop(1);
    if (out.isEmpty()) return;
    for (; have < want; ++have) out.append(u'\n');
  };
  const qsizetype n = html.size();
  for (qsizetype i = 0; i < n; ++i) {
    const QChar c = html[i];
    if (c == u'<') {
      if (html.mid(i, 4) == QStringLiteral("<!--")) {
        const qsizetype e = html.indexOf(QStringLiteral("-->"), i + 4);
        i = e < 0 ? n : e + 2;
        continue;
      }
      const qsizetype e = tagEnd(html, i);
      if (e < 0) break;  // an unfinished tag ends the document
      qsizetype k = i + 1;
      const bool closing = k < e && html[k] == u'/';
      if (closing) ++k;
      qsizetype nameEnd = k;
      while (nameEnd < e && (html[nameEnd].isLetterOrNumber())) ++nameEnd;
      const QString tag = html.mid(k, nameEnd - k).toLower();
      if (tag == u"a") {
        endLink();
        if (!closing) link = {true, out.size(), shownTarget(attribute(html.mid(nameEnd, e - nameEnd), u"href"_qs)), {}};
        i = e;
        continue;
      }
      if (tag == u"img" && link.open) {
        const QString alt = attribute(html.mid(nameEnd, e - nameEnd), u"alt"_qs).simplified();
        if (!alt.isEmpty()) link.alt += (link.alt.isEmpty() ? QString() : QStringLiteral(" ")) + alt;
      }
      if (tag.isEmpty()) {
        // "<!DOCTYPE …>", "<?xml …?>" or a stray "<": markup only when it looks like it.
        if (k < e && (html[k] == u'!' || html[k] == u'?')) {
          i = e;
        } else {
          out.append(c);
        }
        continue;
      }
      i = e;
      switch (kindOf(tag)) {
        case TagKind::Skip:
          if (!closing && !html.mid(e - 1, 1).startsWith(u'/')) {
            const qsizetype close = html.indexOf(QStringLiteral("</") + tag, e, Qt::CaseInsensitive);
            if (close < 0) {
              i = n;
            } else {
              const qsizetype ce = html.indexOf(u'>', close);
              i = ce < 0 ? n : ce;
            }
          }
          break;
        case TagKind::Break:
          while (!out.isEmpty() && out.back() == u' ') out.chop(1);
          out.append(u'\n');
          break;
        case TagKind::Block:
          if (tag == u"ul" || tag == u"ol") {
            lists = std::max(0, lists + (closing ? -1 : 1));
            items = std::min(items, lists);
          }
          newline(1);
          break;
        case TagKind::Paragraph:
          // A paragraph of a list item keeps the items one to a line.
          newline(items > 0 ? 1 : 2);
          break;
        case TagKind::ListItem:
          if (!closing) {
            newline(1);
            out.append(QStringLiteral("・"));
            ++items;
          } else {
            items = std::max(0, items - 1);
          }
          break;
        case TagKind::Cell:
          if (closing && !out.isEmpty() && out.back() != u'\n') out.append(QStringLiteral("  "));
          break;
        case TagKind::Pre:
          pre = !closing;
          newline(1);
          break;
        case TagKind::Inline:
          break;
      }
      continue;
    }
    if (c == u'&') {
      QString ent;
      if (const qsizetype len = entityAt(html, i, &ent); len > 0) {
        out.append(ent);
        i += len - 1;
        continue;
      }
    }
    if (!pre && (c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == QChar(0xA0))) {
      if (!out.isEmpty() && out.back() != u' ' && out.back() != u'\n') out.append(u' ');
      continue;
    }
    if (pre && c == u'\r') continue;
    if (afterTarget && c.isLetterOrNumber() && out.endsWith(u'>')) out.append(u' ');
    afterTarget = false;
    out.append(c);
  }
  endLink();
  return finishLines(out);
}

DecodedMail decodeMail(const QByteArray& raw) {
  QByteArray copy = raw;  // shared, not copied
  return decodeMail(std::move(copy));
}

DecodedMail decodeMail(QByteArray&& raw) {
  DecodedMail mail;
  // A header block cut short (or no header at all): the empty line put in
  // where the body begins, so that no line of the body is lost.
  if (const qsizetype stray = strayHeaderLine(raw); stray >= 0) {
    const qsizetype nl = raw.indexOf('\n', stray);
    const bool crlf = stray >= 2 ? raw[stray - 2] == '\r' : (nl < 0 || (nl > 0 && raw[nl - 1] == '\r'));
    raw.insert(stray, crlf ? "\r\n" : "\n");
  }
  GObjectRef<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(raw.constData(), size_t(raw.size())));
  GObjectRef<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
  const GParserOptions options(g_mime_parser_options_new());
  g_mime_parser_options_set_rfc2047_compliance_mode(options.get(), GMIME_RFC_COMPLIANCE_LOOSE);
  g_mime_parser_options_set_parameter_compliance_mode(options.get(), GMIME_RFC_COMPLIANCE_LOOSE);
  g_mime_parser_options_set_address_compliance_mode(options.get(), GMIME_RFC_COMPLIANCE_LOOSE);
  const char* fallback[] = {"utf-8", "cp932", "euc-jp", "iso-8859-1", nullptr};
  g_mime_parser_options_set_fallback_charsets(options.get(), fallback);
  GObjectRef<GMimeMessage> message(g_mime_parser_construct_message(parser.get(), options.get()));
  if (message) {
    raw = QByteArray();  // the stream holds the bytes the message refers to
    GMimeObject* mo = GMIME_OBJECT(message.get());
    mail.subject = decodeHeaderText(objectHeader(mo, "Subject"));
    QByteArray from = objectHeader(mo, "From");
    if (from.isEmpty()) from = objectHeader(mo, "Sender");
    mail.from = decodeAddresses(from);
    mail.date = cleanLine(decodeHeaderText(objectHeader(mo, "Date")));
    // The parser's copy of the mail: attached mails are cut out of it.
    GByteArray* held = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream.get()));
    const QByteArray whole = QByteArray::fromRawData(reinterpret_cast<const char*>(held->data), qsizetype(held->len));
    Walker w{mail, whole, {}, {}};
    w.message(message.get(), false, {0, whole.size()});
    // The parts' bytes are all out: the parsed message and its copy of the
    // mail go before the text is decoded.
    message.reset();
    parser.reset();
    stream.reset();
    // Each piece is decoded and taken over, not copied: a long body is large.
    QStringList pieces;
    for (Piece& p : w.pieces) {
      QString t = p.content.owner ? p.decode() : std::move(p.text);
      p = Piece();
      qsizetype end = t.size();
      while (end > 0 && (t[end - 1] == u'\n' || t[end - 1] == u'\r' || t[end - 1] == u' ')) --end;
      t.truncate(end);
      if (!t.isEmpty()) pieces.append(std::move(t));
    }
    w.pieces.clear();
    mail.body = cleanBody(pieces.size() == 1 ? std::move(pieces.front()) : pieces.join(QStringLiteral("\n\n")));
  } else {
    const RawMessage parts = splitMessage(raw);
    mail.subject = decodeHeaderText(rawHeaderField(parts.header, "Subject"));
    mail.from = decodeAddresses(rawHeaderField(parts.header, "From"));
    mail.date = cleanLine(decodeHeaderText(rawHeaderField(parts.header, "Date")));
    mail.body = cleanBody(decodeGuess(parts.body));
  }
  return mail;
}

QString safeFileName(const QString& nameIn) {
  QString name = nameIn;
  name.replace(u'\\', u'/');
  if (const qsizetype slash = name.lastIndexOf(u'/'); slash >= 0) name = name.mid(slash + 1);
  QString clean;
  clean.reserve(name.size());
  for (QChar c : name) {
    const char16_t u = c.unicode();
    if (u < 0x20 || u == 0x7F || (u >= 0x80 && u <= 0x9F) || isDirectionOrInvisible(u)) continue;
    if (QStringLiteral(":*?\"<>|").contains(c)) {
      clean.append(u'_');
    } else {
      clean.append(c);
    }
  }
  // Leading dots would hide the file (or make it ".."); trailing dots and
  // spaces are dropped by Windows.
  auto edge = [](QChar c) { return c == u'.' || c == u' ' || c == QChar(0x3000); };
  while (!clean.isEmpty() && edge(clean.front())) clean.remove(0, 1);
  while (!clean.isEmpty() && edge(clean.back())) clean.chop(1);
  if (clean.isEmpty()) clean = QStringLiteral("添付ファイル");
  // File systems allow 255 bytes; room is left for " (99999)".
  constexpr qsizetype kMaxBytes = 200;
  if (clean.toUtf8().size() > kMaxBytes) {
    const qsizetype dot = clean.lastIndexOf(u'.');
    QString ext = (dot > 0 && clean.size() - dot <= 16) ? clean.mid(dot) : QString();
    QString stem = ext.isEmpty() ? clean : clean.left(dot);
    while (!stem.isEmpty() && (stem + ext).toUtf8().size() > kMaxBytes) {
      stem.chop(1);
      if (!stem.isEmpty() && stem.back().isHighSurrogate()) stem.chop(1);
    }
    clean = stem + ext;
  }
  return clean;
}

QString freeFileName(const QString& folder, const QString& name) {
  const QDir dir(folder);
  if (!QFileInfo::exists(dir.filePath(name))) return name;
  const qsizetype dot = name.lastIndexOf(u'.');
  const QString stem = dot > 0 ? name.left(dot) : name;
  const QString ext = dot > 0 ? name.mid(dot) : QString();
  for (int k = 2;; ++k) {
    const QString candidate = QStringLiteral("%1 (%2)%3").arg(stem).arg(k).arg(ext);
    if (!QFileInfo::exists(dir.filePath(candidate))) return candidate;
  }
}

int writeAttachments(const QList<MailAttachment>& attachments, const QString& folder, QStringList* written,
                     QString* error, const std::function<bool(const QString&, QString*)>& announce) {
  if (attachments.isEmpty()) return 0;
  QStringList mine;
  auto fail = [&](const QString& why) {
    for (const QString& f : mine) QFile::remove(f);
    if (error) *error = why;
    return -5;
  };
  if (!QFileInfo(folder).isDir()) return fail(QStringLiteral("添付フォルダ「%1」がありません。").arg(folder));
  const QDir dir(folder);
  for (const MailAttachment& a : attachments) {
    const QString safe = safeFileName(a.name);
    QFile f;
    // Exclusive creation: an existing file is never replaced, even one that
    // appeared since the name was chosen.
    for (int attempt = 0; attempt < 100; ++attempt) {
      f.setFileName(dir.filePath(freeFileName(folder, safe)));
      QString why;
      if (announce && !announce(f.fileName(), &why)) return fail(why);
      // The user's alone, as everything in the program folder.
      if (f.open(QIODevice::WriteOnly | QIODevice::NewOnly, QFileDevice::ReadOwner | QFileDevice::WriteOwner)) break;
      if (QFileInfo::exists(f.fileName())) continue;
      return fail(QStringLiteral("「%1」を作れません（%2）。").arg(f.fileName(), f.errorString()));
    }
    if (!f.isOpen()) return fail(QStringLiteral("「%1」を作れません。").arg(f.fileName()));
    mine.append(f.fileName());
    if (f.write(a.data) != a.data.size() || !f.flush()) {
      const QString why = QStringLiteral("「%1」を書き込めません（%2）。").arg(f.fileName(), durable::lastErrorText());
      f.close();
      return fail(why);
    }
    f.close();
  }
  if (written) *written += mine;
  return 1;
}

bool flushFiles(const QStringList& files, QString* error) {
  QSet<QString> folders;
  for (const QString& path : files) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || !durable::syncFd(f.handle())) {
      if (error) *error = QStringLiteral("「%1」をディスクに書き込めません（%2）。").arg(path, durable::lastErrorText());
      return false;
    }
    folders.insert(QFileInfo(path).absolutePath());
  }
  for (const QString& folder : folders) durable::syncFolder(folder);
  return true;
}

}  // namespace maillib
