#include "InstanceRequest.h"

#include "composer/model/MailtoLink.h"

#include <QList>

namespace instance {
namespace {

constexpr char kMagic[] = "TOMOSHIBI/1";
constexpr qsizetype kMaxPayload = kMaxMailtoLength;

}  // namespace

QByteArray requestBytes(const Request& r) {
  const QByteArray payload = r.text.toUtf8();
  return QByteArray(kMagic) + ' ' + r.verb.toUtf8() + ' ' + QByteArray::number(payload.size()) + '\n' + payload;
}

ReadState readRequest(const QByteArray& buffered, Request* request, qsizetype* consumed) {
  const qsizetype eol = buffered.indexOf('\n');
  if (eol < 0) return buffered.size() > kMaxRequestHeader ? ReadState::Refused : ReadState::Incomplete;
  const QList<QByteArray> words = buffered.left(eol).split(' ');
  bool ok = false;
  const qsizetype length = words.size() == 3 ? words[2].toLongLong(&ok) : -1;
  if (eol > kMaxRequestHeader || words[0] != kMagic || !ok || length < 0 || length > kMaxPayload ||
      (words[1] != "show" && words[1] != "mailto"))
    return ReadState::Refused;
  if (buffered.size() < eol + 1 + length) return ReadState::Incomplete;
  *request = {QString::fromUtf8(words[1]), QString::fromUtf8(buffered.mid(eol + 1, length))};
  *consumed = eol + 1 + length;
  return ReadState::Complete;
}

}  // namespace instance
