// MailLibSmtpSendMail on submit(): the call's texts made a mail, the server
// value a link.
#include "MailLib.h"
#include "Submit.h"

namespace {

maillib::Result g_lastResult;
QByteArray g_lastMessage;

// After these the connection can carry the next mail: the mail was taken,
// the server refused it in the dialogue (RSET starts afresh), or it never
// reached the link. After anything else its state is unknown.
bool leavesConnectionUsable(maillib::Code code) {
  using maillib::Code;
  switch (code) {
    case Code::Ok:
    case Code::RecipientRefused:
    case Code::SenderRefused:
    case Code::MailRefused:
    case Code::NoRecipient:
    case Code::BadRecipient:
    case Code::NoSender:
    case Code::BadSender:
    case Code::SenderLineBreak:
    case Code::RecipientLineBreak:
    case Code::SubjectLineBreak:
    case Code::AttachmentNameLineBreak:
    case Code::AttachmentNameEmpty:
    case Code::AttachmentMissing:
    case Code::AttachmentIsFolder:
    case Code::AttachmentNotPermitted:
    case Code::AttachmentUnreadable:
    case Code::HeaderLineTooLong:
    case Code::HeaderBadCharacter:
    case Code::HeaderContinuationFirst:
    case Code::HeaderMalformed:
    case Code::HeaderNotAllowed:
    case Code::HeaderEmpty:
      return true;
    default:
      return false;
  }
}

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
  SmtpSession* session = access.session;
  if (session && session->link && session->server != server) session->link.reset();
  std::unique_ptr<SmtpLink> own;
  if (!session || !session->link) {
    own = access.open ? access.open(*address) : openSmtpLink(*address);
    if (!own) return finish(failed(Code::NoMemory, address->host));
    if (session) {
      session->link = std::move(own);
      session->server = server;
    }
  }
  SmtpLink& link = session ? *session->link : *own;
  Result r = submit(mail, access.login, link, &g_lastMessage);
  if (session && !leavesConnectionUsable(r.code)) session->link.reset();
  return finish(std::move(r));
}

const maillib::Result& MailLibSmtpLastResult() { return g_lastResult; }
const QByteArray& MailLibSmtpLastMessage() { return g_lastMessage; }
