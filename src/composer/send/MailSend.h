#pragma once
// One mail through the mail library, with the account's SMTP server,
// sender and login: what the compose window, the reply window and the
// headless send command all do for each mail.
#include "platform/ServerCertificate.h"
#include "settings/secrets/Secrets.h"
#include "store/received/Fault.h"

#include <QString>
#include <optional>

namespace maillib {
struct Credentials;
struct SmtpSession;
}

struct SendOutcome {
  bool ok = false;
  // Not ok, but the whole mail went out and only the server's answer never
  // came: it may have been delivered, so it is not a failure to send again.
  bool uncertain = false;
  QString error;  // the library's error text when not ok (MailLibGetErrorText)
  // The server refused the bearer token: a fresh one may be tried once.
  bool tokenRefused = false;
  // An account signed in with OAuth 2.0 that must sign in again (or
  // unlock the keyring) before it can send: only a window can.
  bool needsSignIn = false;
  // Not sent because the server's certificate could not be verified: the
  // certificate it shows, for the user to judge (the window asks whether to
  // trust it; `error` then ends with its fingerprint). Nothing but the
  // handshake went to the server.
  std::optional<ServerCertificate> unverified;
  // Sent, but not kept among the sent mail (store/sent): why.
  received::Fault notKept;
};

// What a user reads when a mail went out but could not be kept among the
// sent mail; empty when it was kept.
QString notKeptText(const SendOutcome& outcome);

// Said after the library's text when a send is uncertain and the mail
// stays in its window.
inline const QString kUncertainKeptText =
    QStringLiteral("メールはこの画面に残してあります。もう一度送る前に、相手の方に届いたかどうかを確かめて下さい。");

// `header`: further header fields for the library's header argument (a
// reply's In-Reply-To and References); empty passes none.
//
// An account signed in with OAuth 2.0 logs in with its access token (a
// fresh one once when the server refused it) and never with a password.
// `prompt`: Never for --send, which neither prompts nor waits on a locked
// keyring. `session`: the connection a run of mails keeps from one to the
// next (null: one of its own for this mail).
SendOutcome SendOneMail(const QString& recipient, const QString& subject, const QString& body,
                        const QString& attachments, const QString& header = QString(),
                        secrets::Prompt prompt = secrets::Prompt::Allowed, maillib::SmtpSession* session = nullptr);

// The same with the login the caller gives (a bearer token for an account
// that signed in) instead of the account's ID and password.
SendOutcome SendOneMailAs(const maillib::Credentials& login, const QString& recipient, const QString& subject,
                          const QString& body, const QString& attachments, const QString& header = QString(),
                          maillib::SmtpSession* session = nullptr);
