#include "HtmlText.h"

#include <QHash>
#include <QRegularExpression>
#include <QStringList>
#include <algorithm>

namespace maillib {
namespace {

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

}  // namespace

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

}  // namespace maillib
