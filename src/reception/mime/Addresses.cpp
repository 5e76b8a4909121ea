#include "Addresses.h"

#include "EncodedWords.h"
#include "HeaderSyntax.h"
#include "platform/Charset.h"
#include "platform/HeaderScan.h"

#include <QList>
#include <QStringList>

namespace maillib {
namespace {

// Splits at `sep` outside quotes, comments and angle brackets.
QList<QByteArray> splitTopLevel(const QByteArray& s, char sep) {
  const bool sjisAware = !charset::isValidUtf8(s);
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
  const bool sjisAware = !charset::isValidUtf8(item);
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
    address = charset::decodeGuess(addr.trimmed());
    QByteArray p = plain.trimmed();
    if (!phrase.isEmpty()) p = p.isEmpty() ? phrase : (phrase + ' ' + p);
    name = decodeHeaderText(p.trimmed());
  } else {
    address = charset::decodeGuess(plain.trimmed());
    if (!phrase.isEmpty()) address = decodeHeaderText(phrase) + (address.isEmpty() ? QString() : u' ' + address);
  }
  if (name.isEmpty() && !comment.isEmpty()) name = decodeHeaderText(comment.trimmed());
  name = cleanLine(name);
  address = cleanLine(address);
  if (name.isEmpty() || name == address) return address;
  if (address.isEmpty()) return name;
  return name + QStringLiteral(" <") + address + u'>';
}

}  // namespace

QString decodeAddresses(const QByteArray& rawIn) {
  const QByteArray raw = headerscan::unfold(rawIn);
  QStringList shown;
  for (const QByteArray& item : splitTopLevel(raw, ',')) {
    if (item.trimmed().isEmpty()) continue;
    const QString one = decodeOneAddress(item.trimmed());
    if (!one.isEmpty()) shown.append(one);
  }
  return shown.join(QStringLiteral(", "));
}

}  // namespace maillib
