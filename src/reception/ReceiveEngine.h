#pragma once
// One mail check, without any window: every mail waiting in the POP3
// mailbox fetched, shaped as the viewer's boxes would give it back, stored
// as a new record of the received-mail file, made durable batch by batch
// together with its identity (ReceiveJournal), and only then deleted on the
// server. Whatever stops the check (a kill, a full disk, a server that
// breaks off), a mail ends up stored once or still on the server.
#include "CheckSink.h"

#include <QString>

namespace reception {

struct CheckOutcome {
  bool failed = false;  // the check did not end normally; the sink was told why
  bool busy = false;    // another check held the program folder: nothing was done
  int count = 0;        // what the new-mail count shows
};

// Runs one check, reporting to `sink`.
CheckOutcome runCheck(CheckSink& sink);

// What the boxes give back for a text: a line box keeps one line of at most
// the header buffer's length; the body box makes every kind of line break
// (CR LF, CR, LF, U+2028, U+2029) one, given back as CR LF.
QString asLineBoxText(const QString& s);
QString asBodyBoxText(QString s);

// The line appended to the body of a mail that mentions "attachment".
extern const QString kAttachmentLine;

// A batch is made durable and its mails deleted after this many mails or
// bytes of mail.
inline constexpr int kCommitMails = 250;
inline constexpr qint64 kCommitBytes = 32 * 1024 * 1024;
// Commands in flight to a server that pipelines.
inline constexpr int kPipelineWindow = 64;

}  // namespace reception
