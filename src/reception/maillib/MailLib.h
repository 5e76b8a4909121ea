#pragma once
// The mail library's calls in the shapes the program was designed around:
// setting up, and sending one mail. Receiving goes through Pop3Session
// (Pop3Session.h), as the mail check pipelines its RETR and DELE commands
// and examines every answer.
//
// The library words nothing: a failed send leaves its code and detail in
// MailLibSmtpLastResult(), and MailLibGetErrorText, above this library
// (reception/words/MailWording.h), makes the sentence the user reads.
#include "SmtpLink.h"

#include <QByteArray>
#include <QString>

int MailLibInitialize();
int MailLibSetOption(int option, int value);
int MailLibEnd();

namespace maillib {

// Who sends and how the server is reached, as the caller knows it from the
// account: the login for SMTP AUTH (an ID and password, or a bearer token:
// Credentials::bearer), and what opens the link to the server (empty:
// openSmtpLink, libcurl with encryption required).
struct SmtpAccess {
  Credentials login;
  SmtpLinkOpener open;
  // For a run of mails to one server: the link kept from one mail to the
  // next (SmtpSession). Null: a link of its own for this mail.
  struct SmtpSession* session = nullptr;
};

// One connection for a run of mails ("一括送信"): the first send opens the
// link, the next ones to the same server hand their mails over it, each
// after an RSET. A failure other than the server refusing an address or the
// mail ends it, and the next send opens a new one. Ending the session ends
// the connection (QUIT).
struct SmtpSession {
  std::unique_ptr<SmtpLink> link;
  QString server;  // the server value the link was opened for
};

}  // namespace maillib

// One mail sent; a negative result is a failure. `to` may hold several
// addresses separated by commas or semicolons; `attachments` is the
// comma-separated list of full paths (empty: none). `cc` and `bcc` are
// never used by the program and may be null. `header`, when not null, holds
// further header fields ("Name: value" lines, CR LF between them) for the
// message, as a reply carries In-Reply-To and References; a field that is
// not plain ASCII or that the library writes itself fails the send.
//
// kSmtpSendUncertain: the whole mail and its final dot went out, but the
// server's answer never came (it stalled or the connection broke). The
// server may have taken the mail: it must not be called a failure that can
// simply be sent again.
inline constexpr int kSmtpSendUncertain = -2;
int MailLibSmtpSendMail(const QString& server, const QString& to, const QString* cc, const QString* bcc,
                        const QString& from, const QString& subject, const QString& body, const QString* header,
                        const QString& attachments, int flag, const maillib::SmtpAccess& access = {});

// What the last MailLibSmtpSendMail came to.
const maillib::Result& MailLibSmtpLastResult();
// The message the last MailLibSmtpSendMail handed to a server that accepted
// it, byte for byte (no Bcc: those addresses are in the envelope only);
// empty after a send that failed.
const QByteArray& MailLibSmtpLastMessage();
