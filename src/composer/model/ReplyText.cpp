#include "ReplyText.h"

#include "platform/HeaderScan.h"
#include "platform/Text.h"

#include <QByteArrayList>
#include <QList>

namespace {

// An identifier longer than this is no one's Message-ID; it would only
// make an endless line.
constexpr qsizetype kMaxId = 250;
// References keep the first identifier (the thread's root) and the most
// recent ones: a long thread does not grow the header without end.
constexpr qsizetype kMaxReferences = 20;
constexpr qsizetype kLineLimit = 76;

bool isIdChar(char c) { return c > 0x20 && c < 0x7F && c != '<' && c != '>'; }

// The value of the first field called `name`, its folded lines joined by
// one space each. A CR inside a line stays, so that an identifier holding
// one is refused.
QByteArray fieldValue(const QByteArray& header, const QByteArray& name) {
  QByteArrayList lines = headerscan::fieldLines(header, name, headerscan::NameMatch::BlanksBeforeColon);
  for (QByteArray& line : lines) line = line.trimmed();
  return lines.join(' ');
}

// The message identifiers of a field, "<left@right>" each, in order.
QByteArrayList messageIds(const QByteArray& value) {
  QByteArrayList ids;
  qsizetype i = 0;
  while ((i = value.indexOf('<', i)) >= 0) {
    const qsizetype end = value.indexOf('>', i + 1);
    if (end < 0) break;
    const QByteArray id = value.mid(i + 1, end - i - 1);
    bool ok = !id.isEmpty() && id.size() <= kMaxId && id.contains('@');
    for (char c : id) ok = ok && isIdChar(c);
    if (ok) ids << '<' + id + '>';
    i = end + 1;
  }
  return ids;
}

// Identifiers joined by spaces, folded onto further lines where a line
// would grow past the limit.
QByteArray folded(const QByteArray& name, const QByteArrayList& ids) {
  QByteArray out = name + ':';
  qsizetype line = out.size();
  for (const QByteArray& id : ids) {
    if (line > name.size() + 1 && line + 1 + id.size() > kLineLimit) {
      out += "\r\n";
      line = 0;
    }
    out += ' ' + id;
    line += 1 + id.size();
  }
  return out;
}

}  // namespace

QByteArray messageHeaderBlock(const QByteArray& message) { return headerscan::headerBlock(message); }

QString replyThreadHeaders(const QByteArray& originalHeader) {
  const QByteArrayList own = messageIds(fieldValue(originalHeader, "message-id"));
  if (own.isEmpty()) return QString();
  const QByteArray id = own.first();
  QByteArrayList refs = messageIds(fieldValue(originalHeader, "references"));
  if (refs.isEmpty()) {
    const QByteArrayList parent = messageIds(fieldValue(originalHeader, "in-reply-to"));
    if (parent.size() == 1) refs = parent;
  }
  QByteArrayList chain;
  for (const QByteArray& r : refs)
    if (r != id && !chain.contains(r)) chain << r;
  chain << id;
  if (chain.size() > kMaxReferences) chain = QByteArrayList{chain.first()} + chain.mid(chain.size() - kMaxReferences + 1);
  return QString::fromLatin1("In-Reply-To: " + id + "\r\n" + folded("References", chain));
}

QString pastedReplyBody(const QString& clipboard, const QString& answeredBodyField) {
  return clipboard + QStringLiteral("\r\n\r\n\r\n\r") + text::trimSpaces(text::CutAtNul(answeredBodyField));
}
