#pragma once
// The mail check: every mail waiting in the POP3 mailbox fetched through the
// mail library, passed through the viewer's boxes, stored as a new record of
// the received-mail file and only then removed from the server. The outcome
// is shown in the main window, or printed on standard error when there is
// no main window (tomoshibi --check).
#include <QString>

struct CheckOutcome {
  bool failed = false;  // the check did not end normally; the user was told why
  int count = 0;        // what the new-mail count shows
};

// Runs one mail check. The main window ignores the outcome; the headless
// check turns it into its exit status.
CheckOutcome CheckMail();

// Writes the viewer's subject, sender and date boxes and `body` (the body
// as the body box holds it, with CR LF line ends) as record `recordNumber`
// of the received-mail file. False, with a sentence in `error`, when the
// record could not be written.
bool StoreReceivedMail(int recordNumber, const QString& body, QString* error = nullptr);

// What the viewer's body box gives back for `s`, with CR LF line ends: the
// box makes every kind of line break (CR LF, CR, LF, U+2028, U+2029) one.
QString asBodyBoxText(QString s);

// tomoshibi --check: the start-up steps a check needs (received-mail file,
// server settings, mail library), one check without any window, and the
// exit status: 0 when the check ended normally, 1 when it did not.
int RunHeadlessCheck();

// Stores made by one check are flushed and their mails deleted on the
// server in batches of this many (or of kCommitBytes of mail).
inline constexpr int kCommitMails = 100;
inline constexpr qint64 kCommitBytes = 32 * 1024 * 1024;
