#pragma once
// A send run: one mail to one recipient, or to every address of the address
// book, turn by turn, without a window. The window is told of each turn as
// it comes and answers what only a user can (trusting a certificate); the
// error boxes are its own.
#include "composer/send/MailSend.h"
#include "reception/maillib/MailLib.h"

#include <QList>
#include <QSet>
#include <QString>
#include <functional>

// The mail as the window's boxes hold it; each turn adds its recipient.
struct OutgoingMail {
  QString subject;
  QString body;
  QString attachments;  // full paths joined by commas, or empty
  QString header;       // a reply's thread fields; empty for a new mail
};

// What came of one turn.
struct SendTurn {
  QString field;      // the address field as the book stores it; empty for a typed recipient
  QString recipient;  // what went to the library
  SendOutcome outcome;
  // Not sent: the certificate was declined in this turn, or an earlier turn
  // stopped the run (declined, or a sign-in needed). Nothing to tell.
  bool skipped = false;
  // The recipient has the mail, or perhaps has it: not to be sent again.
  bool served() const { return !skipped && (outcome.ok || outcome.uncertain); }
  bool failed() const { return !served(); }
};

// What a run asks of its window; each may be left empty.
struct SendRunHooks {
  // Once, after the book was read and before the first turn: how many
  // mailboxes are still to be served (every address mode only).
  std::function<void(int unserved)> counted;
  // A turn begins; `field` is the turn's address field (empty for a typed
  // recipient).
  std::function<void(const QString& field)> starting;
  // The server's certificate could not be verified: true when the user
  // trusts it, and the turn is sent again. Asked once a run; without an
  // answer it is declined.
  std::function<bool(const ServerCertificate&)> trust;
  // A turn has ended.
  std::function<void(const SendTurn&)> ended;
};

class SendRun {
 public:
  SendRun(OutgoingMail mail, SendRunHooks hooks) : mail_(std::move(mail)), hooks_(std::move(hooks)) {}
  // One turn. Once the certificate is declined or a sign-in is needed, the
  // rest of the run is not sent (and nothing more is asked). The turns of
  // one run go over one connection while it lasts.
  SendTurn send(const QString& recipient, const QString& field = QString());

 private:
  SendTurn finish(const SendTurn& turn);

  OutgoingMail mail_;
  SendRunHooks hooks_;
  bool certificateAsked_ = false;
  bool stopped_ = false;
  maillib::SmtpSession session_;
};

// A mailbox as a run tells the served apart: letter case and the spaces
// around it aside.
QString ServedKey(const QString& field);

// The mail once to each address of the address book that `served` does not
// hold, in record order; a mailbox listed twice is sent to once it has the
// mail. Each mailbox served joins `served`. An empty or unreadable book
// gives no turn.
QList<SendTurn> SendToEveryAddress(const OutgoingMail& mail, QSet<QString>& served, SendRunHooks hooks = {});
