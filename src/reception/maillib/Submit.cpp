#include "Submit.h"

namespace maillib {
namespace {

// An address that can go into MAIL FROM or RCPT TO as it is: no line
// breaks or other control characters (they would smuggle commands into the
// dialogue), no spaces, no angle brackets.
bool isEnvelopeAddress(const QString& a) {
  if (a.isEmpty()) return false;
  for (QChar c : a)
    if (c.unicode() <= 0x20 || c.unicode() == 0x7F || c == u'<' || c == u'>') return false;
  return true;
}

}  // namespace

std::optional<Envelope> envelopeOf(const OutgoingMail& mail, Result* failure) {
  auto fail = [&](Code why, const QString& detail = QString()) -> std::optional<Envelope> {
    if (failure) *failure = failed(why, QString(), detail);
    return std::nullopt;
  };
  Envelope e;
  for (const QString& list : QStringList{mail.to} + mail.unlisted)
    for (const QString& item : splitAddressList(list)) e.recipients << bareAddress(item);
  e.recipients.removeAll(QString());
  if (e.recipients.isEmpty()) return fail(Code::NoRecipient);
  for (const QString& r : e.recipients)
    if (!isEnvelopeAddress(r)) return fail(Code::BadRecipient, r);
  const QStringList senders = splitAddressList(mail.from);
  e.sender = senders.isEmpty() ? QString() : bareAddress(senders.first());
  if (e.sender.isEmpty()) return fail(Code::NoSender);
  if (!isEnvelopeAddress(e.sender)) return fail(Code::BadSender, e.sender);
  return e;
}

Result submit(const OutgoingMail& mail, const Credentials& login, SmtpLink& link, QByteArray* sent) {
  Result why;
  const std::optional<Envelope> envelope = envelopeOf(mail, &why);
  if (!envelope) return why;
  const std::optional<QByteArray> message = buildMessage(mail, &why);
  if (!message) return why;
  if (sent) *sent = *message;
  return link.transfer(*envelope, *message, login);
}

}  // namespace maillib
