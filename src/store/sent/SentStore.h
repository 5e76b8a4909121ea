#pragma once
// Sent mail kept: every mail a server accepted, exactly the bytes handed to
// the server (Bcc is in the envelope only, never in them), with a mail
// record that shows it (the recipient in the sender field, as held mail
// has it; the whole list of recipients is in the kept mail). Files of their
// own in the data folder:
//   sent.data             the records, in the order the mails went out
//   sent-originals.data   the mails' bytes
//   sent-originals.txt    their index (the received originals' format)
// appended through the same journal as received mail (sent-journal.txt), so
// a kill leaves each mail whole with its record or not there at all, and
// deleted through the same journalled delete. A lock of their own
// (sent.lock): a send never waits for a mail check.
#include "store/Records.h"
#include "store/received/Fault.h"
#include "store/received/MailFiles.h"
#include "store/received/Originals.h"
#include "store/received/ReceivedDelete.h"
#include "store/received/ReceivedStore.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

namespace sent {

received::MailFiles sentFiles();

// What the record of a sent mail shows.
struct SentMail {
  QString recipient;  // as typed, trimmed
  QString subject;    // trimmed
  QString body;
  QString date;  // the message's Date field
};

// The record of `mail`: subject, date, recipient, body; CR LF and live.
store::MailRecord sentRecord(const SentMail& mail);
// The record of the mail `message` (the bytes the server accepted) sent to
// `recipient` with `subject` and `body`: its date taken from the message.
store::MailRecord sentRecord(const QByteArray& message, const QString& recipient, const QString& subject,
                             const QString& body);

// Keeps one accepted mail with its record, whole or not at all. Waits only
// for another send keeping its mail. None: kept.
received::Fault keep(const QByteArray& message, const store::MailRecord& record);

// What a keep or a delete cut off left, made whole (under the sent lock):
// run before the sent mail is listed, so that no record is shown without
// its original.
received::Fault recover();

// The sent index read from its bytes (a last line without its line break
// is one being written and is left out); lines that cannot be read are
// skipped. Nothing but the bytes given is looked at.
QList<received::OriginalEntry> parseSentIndex(const QByteArray& text);

// The kept mail of record `number`, read through the index.
received::Original original(int number);
// Deleting records (and their originals) of the sent mail.
received::Removal remove(const QList<int>& numbers);

}  // namespace sent
