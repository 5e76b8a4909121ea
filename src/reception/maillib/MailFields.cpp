// The texts a caller hands in as one line each, taken apart.
#include "MailFields.h"

#include <QFileInfo>

namespace maillib {
namespace {

// RFC 5321: a line of a message is at most 998 octets.
constexpr int kMaxLine = 998;

}  // namespace

QStringList splitAddressList(const QString& list) {
  QStringList out;
  QString cur;
  bool inQuotes = false;
  int angle = 0;
  auto flush = [&] {
    const QString t = cur.trimmed();
    if (!t.isEmpty()) out << t;
    cur.clear();
  };
  for (qsizetype i = 0; i < list.size(); ++i) {
    const QChar c = list[i];
    if (c == u'"' && (i == 0 || list[i - 1] != u'\\')) inQuotes = !inQuotes;
    if (!inQuotes && c == u'<') ++angle;
    if (!inQuotes && c == u'>' && angle > 0) --angle;
    if (!inQuotes && angle == 0 && (c == u',' || c == u';')) {
      flush();
      continue;
    }
    cur += c;
  }
  flush();
  return out;
}

QString bareAddress(const QString& item) {
  const qsizetype lt = item.lastIndexOf(u'<');
  if (lt >= 0) {
    const qsizetype gt = item.indexOf(u'>', lt);
    return item.mid(lt + 1, (gt < 0 ? item.size() : gt) - lt - 1).trimmed();
  }
  return item.trimmed();
}

QStringList splitAttachmentList(const QString& list) {
  const QStringList pieces = list.split(u',');
  QStringList out;
  qsizetype i = 0;
  while (i < pieces.size()) {
    if (pieces[i].trimmed().isEmpty()) {
      ++i;
      continue;
    }
    QString candidate;
    qsizetype found = -1;
    for (qsizetype j = i; j < pieces.size(); ++j) {
      candidate += (j > i ? QStringLiteral(",") : QString()) + pieces[j];
      if (QFileInfo(candidate).isFile()) {
        found = j;
        break;
      }
    }
    if (found < 0) {
      // Names no file: kept as it is, so the failure names it.
      out << pieces[i];
      ++i;
    } else {
      out << candidate;
      i = found + 1;
    }
  }
  return out;
}

std::optional<QList<std::pair<QByteArray, QByteArray>>> parseExtraHeaders(const QString& text, Result* failure) {
  QList<std::pair<QByteArray, QByteArray>> out;
  auto fail = [&](Code why, const QString& detail = QString()) -> std::optional<QList<std::pair<QByteArray, QByteArray>>> {
    if (failure) *failure = failed(why, QString(), detail);
    return std::nullopt;
  };
  // Fields the library writes from its own arguments: a second one would
  // contradict them, and Cc or Bcc would reach people the envelope skips.
  static const char* const own[] = {"from", "sender", "to", "cc", "bcc", "subject", "date", "message-id", "mime-version"};
  QString lines = text;
  lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  for (const QString& line : lines.split(u'\n')) {
    if (line.isEmpty()) continue;
    if (line.size() > kMaxLine) return fail(Code::HeaderLineTooLong);
    for (QChar c : line)
      if (c != u'\t' && (c.unicode() < 0x20 || c.unicode() > 0x7E))
        return fail(Code::HeaderBadCharacter, line.left(40));
    if (line.front() == u' ' || line.front() == u'\t') {
      if (out.isEmpty()) return fail(Code::HeaderContinuationFirst);
      out.last().second += "\n" + line.toLatin1();
      continue;
    }
    const qsizetype colon = line.indexOf(u':');
    const QString name = colon > 0 ? line.left(colon) : QString();
    if (name.isEmpty() || name.contains(u' ') || name.contains(u'\t'))
      return fail(Code::HeaderMalformed, line.left(40));
    const QString lower = name.toLower();
    if (lower.startsWith(u"content-")) return fail(Code::HeaderNotAllowed, name);
    for (const char* o : own)
      if (lower == QLatin1String(o)) return fail(Code::HeaderNotAllowed, name);
    out.append({name.toLatin1(), line.mid(colon + 1).trimmed().toLatin1()});
  }
  for (const auto& [name, value] : out)
    if (value.trimmed().isEmpty())
      return fail(Code::HeaderEmpty, QString::fromLatin1(name));
  return out;
}

}  // namespace maillib
