// MailLibSmtpSendMail on submit(): the call's texts made a mail, the server
// value a link.
#include "MailLib.h"
#include "Submit.h"

namespace {

maillib::Result g_lastResult;
QByteArray g_lastMessage;

int finish(maillib::Result r) {
  g_lastResult = std::move(r);
  if (!g_lastResult.ok()) g_lastMessage.clear();
  if (g_lastResult.ok()) return 0;
  return g_lastResult.uncertain() ? kSmtpSendUncertain : -1;
}

}  // namespace

int MailLibSmtpSendMail(const QString& server, const QString& to, const QString* cc, const QString* bcc,
                        const QString& from, const QString& subject, const QString& body, const QString* header,
                        const QString& attachments, int, const maillib::SmtpAccess& access) {
  using namespace maillib;
  ensureInitialized();
  g_lastMessage.clear();
  Result why;
  const std::optional<ServerAddress> address = parseServer(server, Protocol::Smtp, &why);
  if (!address) return finish(why);

  OutgoingMail mail;
  mail.from = from;
  mail.to = to;
  for (const QString* list : {cc, bcc})
    if (list) mail.unlisted << *list;
  mail.subject = subject;
  mail.body = body;
  mail.attachments = splitAttachmentList(attachments);
  // The addresses are judged before the further header fields.
  if (!envelopeOf(mail, &why)) return finish(why);
  if (header) {
    auto extra = parseExtraHeaders(*header, &why);
    if (!extra) return finish(why);
    mail.extraHeaders = std::move(*extra);
  }
  const std::unique_ptr<SmtpLink> link = access.open ? access.open(*address) : openSmtpLink(*address);
  if (!link) return finish(failed(Code::NoMemory, address->host));
  return finish(submit(mail, access.login, *link, &g_lastMessage));
}

const maillib::Result& MailLibSmtpLastResult() { return g_lastResult; }
const QByteArray& MailLibSmtpLastMessage() { return g_lastMessage; }
