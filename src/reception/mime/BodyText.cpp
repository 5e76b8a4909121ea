#include "BodyText.h"

#include "HtmlText.h"
#include "platform/Charset.h"
#include "platform/Text.h"

#include <QStringList>
#include <algorithm>

namespace maillib {
namespace {

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

// <meta charset=…> or <meta … content="text/html; charset=…"> near the
// start of an HTML document, lower case.
QByteArray metaCharset(const QByteArray& bytes) {
  const QByteArray head = bytes.left(4096).toLower();
  const qsizetype at = head.indexOf("charset=");
  if (at < 0) return {};
  qsizetype s = at + 8;
  while (s < head.size() && (head[s] == '"' || head[s] == '\'' || head[s] == ' ')) ++s;
  qsizetype e = s;
  while (e < head.size() && head[e] != '"' && head[e] != '\'' && head[e] != ' ' && head[e] != ';' && head[e] != '>' &&
         head[e] != '/')
    ++e;
  return head.mid(s, e - s);
}

}  // namespace

QString partText(const QByteArray& bytes, const TextPart& how) {
  if (how.html) return htmlToText(charset::decodeCharset(bytes, how.charset.isEmpty() ? metaCharset(bytes) : how.charset));
  QString t = charset::decodeCharset(bytes, how.charset);
  return how.flowed ? unflow(t, how.delsp) : t;
}

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

}  // namespace maillib
