#pragma once
// The way to an SMTP server: one mail handed over per call, by libcurl in
// the program, by a fake server in tests.
#include "Credentials.h"
#include "MailLibCommon.h"
#include "platform/TestHooks.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

namespace maillib {

// The addresses the server is given, bare (no names, no angle brackets).
struct Envelope {
  QString sender;
  QStringList recipients;
};

// What an SMTP server may cost at most.
struct SmtpLimits {
  long replySeconds = kStallTimeout;  // for each answer, the one to the final dot included
  long stallSeconds = kStallTimeout;  // under 1 byte/s this long while the mail goes out
};

// The limits in force: these, or a test's shorter ones.
inline const SmtpLimits& smtpLimits() {
#ifdef TOMOSHIBI_TEST_HOOKS
  if (testhooks::smtpLimits) return *testhooks::smtpLimits;
#endif
  static const SmtpLimits limits;
  return limits;
}

class SmtpLink {
 public:
  virtual ~SmtpLink() = default;
  // Hands one mail over: the envelope, then `message` (CR LF lines), after
  // a login with `login` when the server offers AUTH and a user is given
  // (an empty user logs in nowhere). A bearer token goes only over TLS
  // (TokenNeedsTls otherwise, whatever the server's plain permission), with
  // OAUTHBEARER when the server offers it, else XOAUTH2 (BearerNotOffered
  // when neither).
  // Ok; a refusal with the server's reply (RecipientRefused, SenderRefused,
  // LoginRequired, MailRefused, LoginDenied, TokenRefused); a connection
  // failure; or,
  // when the final dot went out and no answer came, UncertainTimedOut or
  // UncertainBroken. Never a mail to only some of the recipients.
  virtual Result transfer(const Envelope& envelope, const QByteArray& message, const Credentials& login) = 0;
};

// libcurl's link to `server`: one connection per mail, STARTTLS required
// unless server.plainAllowed (MailLibCommon).
std::unique_ptr<SmtpLink> openCurlSmtpLink(const ServerAddress& server);
// The link to `server`: libcurl's, or in tests a server in memory.
std::unique_ptr<SmtpLink> openSmtpLink(const ServerAddress& server);

using SmtpLinkOpener = std::function<std::unique_ptr<SmtpLink>(const ServerAddress&)>;

}  // namespace maillib
