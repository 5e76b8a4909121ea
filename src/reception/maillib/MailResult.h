#pragma once
// What a step of the mail library came to: a code, and the detail a
// sentence for the user needs. The library words nothing itself; whoever
// shows a failure words it (reception/words/MailWording.h).
#include <QString>

namespace maillib {

enum class Code {
  Ok,

  // The server value (detail: the value as given, trimmed).
  ServerMissing,
  ServerNotUnderstood,
  ServerWrongScheme,  // a URL of another protocol
  ServerBadPort,

  // The connection (host set; reply: the server's words, when it said any).
  HostNotFound,
  ConnectFailed,
  TimedOut,
  CertificateRejected,    // the extra authority file is unusable
  // The server's certificate could not be verified (port set): no
  // authority vouches for it, it has expired or it names another host.
  // Nothing but the handshake crossed the connection.
  CertificateUnverified,
  // The server's key is not the one pinned for it (port set).
  PinnedKeyChanged,
  TlsFailed,
  PlainRefused,  // no STARTTLS offered, and plain was not allowed for this server
  LoginDenied,
  ConnectionBroken,
  TransportFailed,  // cause: libcurl's own words
  NoMemory,
  Stopped,  // the caller gave the wait up

  // The POP3 conversation (host set).
  Pop3NotUnderstood,     // detail: the line that is not POP3
  Pop3LineTooLong,       // amount: bytes without a line break
  Pop3TooSlow,           // amount: bytes in `seconds`
  Pop3BadLoginCharacter, // a line break or NUL in the ID or password
  Pop3NoApop,            // the greeting carries no usable timestamp
  Pop3ListRefused,
  Pop3ListTooLarge,
  Pop3QuitRefused,
  Pop3DeletesRefused,    // amount: how many; reply: the last refusal

  // A login with an OAuth 2.0 bearer token, POP3 or SMTP (host set; reply:
  // the server's answer, the token taken out).
  TokenRefused,      // expired, revoked or not for this user; detail: the server's status
  TokenNeedsTls,     // the connection is not encrypted: the token was not sent
  BearerNotOffered,  // the server takes neither OAUTHBEARER nor XOAUTH2
  LoginUnavailable,  // the server could not check the login now (a temporary failure)

  // A mail to submit.
  NoRecipient,
  BadRecipient,          // detail: the address
  NoSender,
  BadSender,             // detail: the address
  SenderLineBreak,
  RecipientLineBreak,
  SubjectLineBreak,
  AttachmentNameLineBreak,  // detail: the path, its line breaks made spaces
  AttachmentNameEmpty,
  AttachmentMissing,        // detail: the path
  AttachmentIsFolder,       // detail: the path
  AttachmentNotPermitted,   // detail: the path
  AttachmentUnreadable,     // detail: the path; cause: the system's words
  HeaderLineTooLong,
  HeaderBadCharacter,       // detail: the start of the line
  HeaderContinuationFirst,
  HeaderMalformed,          // detail: the start of the line
  HeaderNotAllowed,         // detail: the field's name
  HeaderEmpty,              // detail: the field's name

  // The SMTP server's refusals (host set; reply: its answer).
  RecipientRefused,  // detail: the address
  SenderRefused,     // detail: the address
  LoginRequired,     // MAIL refused with 530
  MailRefused,       // the answer to DATA

  // The whole mail and its final dot went out, but no answer came: the
  // server may have taken it (host set).
  UncertainTimedOut,
  UncertainBroken,
};

struct Result {
  Code code = Code::Ok;
  QString host;    // the server concerned
  int port = 0;    // its port, where a code says so
  QString detail;  // what the failure names (see the codes)
  QString cause;   // the system's or libcurl's own words for why
  QString reply;   // the server's own answer, quoted under the sentence
  qint64 amount = 0;
  qint64 seconds = 0;

  bool ok() const { return code == Code::Ok; }
  bool operator==(const Result&) const = default;
  bool uncertain() const { return code == Code::UncertainTimedOut || code == Code::UncertainBroken; }
};

inline Result failed(Code code, const QString& host = QString(), const QString& detail = QString()) {
  Result r;
  r.code = code;
  r.host = host;
  r.detail = detail;
  return r;
}

}  // namespace maillib
