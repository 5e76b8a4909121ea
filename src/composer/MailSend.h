#pragma once
// One mail through the mail library, with the account's SMTP server and
// sender: what the compose window, the reply window and the headless send
// command all do for each mail.
#include <QString>

struct SendOutcome {
  bool ok = false;
  QString error;  // the library's error text when not ok
};

// `header`: further header fields for the library's header argument (a
// reply's In-Reply-To and References); empty passes none.
SendOutcome SendOneMail(const QString& recipient, const QString& subject, const QString& body,
                        const QString& attachments, const QString& header = QString());
