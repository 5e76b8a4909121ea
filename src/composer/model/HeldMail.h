#pragma once
// The held-mail file: mails written and kept for sending later, one mail
// record each (subject, recipient, body), shared by the compose and the
// reply window through the process-wide held-mail buffer. No window here.
#include "store/RecordFile.h"
#include "store/Records.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <cstdint>

namespace heldmail {

QString heldFile();
QString heldTemp();

// The three boxes a held mail fills.
struct Mail {
  QString to;
  QString subject;
  QString body;  // line breaks as a text box gives them (LF)
};

// The record WriteHeldRecord writes, made in the held-mail buffer: subject,
// recipient and body trimmed of spaces, the body with CR LF line breaks,
// CR LF and the live flag set. Field 2 keeps what the buffer held before.
void fillBuffer(const Mail& mail);

// The boxes as picking a held mail gives them back: the recipient's first
// 90 and the subject's first 100 characters, and the whole body, each
// trimmed of spaces.
Mail fromRecord(const store::MailRecord& record);

// What holding `mail` would not keep: one sentence per loss (a box longer
// than its field, characters Shift-JIS cannot store); empty when it all fits.
QStringList losses(const Mail& mail);

// What tells one held record from another, whole: replies share their
// subjects, and a mail held again after editing makes a second record with
// the same one.
QByteArray fingerprint(const QByteArray& record);

// Every record's subject as stored (100 characters, padding included), its
// number and its fingerprint, in file order. The buffer is left holding the
// last record.
struct Listing {
  bool opened = false;
  store::StoreFailure failure;
  QStringList subjects;
  QList<int16_t> numbers;
  QList<QByteArray> fingerprints;
};
Listing list();

// Where the next held mail goes; 0 when the file cannot be opened (failure set).
int nextNumber(store::StoreFailure* failure);

// The buffer written as record n and flushed to the disk.
store::StoreResult writeBuffer(int n);

// Record n into the buffer; false when it is not in the file (no failure
// then) or unreadable.
bool read(int n, store::StoreFailure* failure);

// Record n's fingerprint; false when it is not in the file.
bool fingerprintAt(int n, QByteArray& out);

// Removes record n by the rewrite through the temporary copy; the file is
// unchanged when that fails.
store::StoreResult remove(int n);

}  // namespace heldmail
