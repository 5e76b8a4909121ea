#pragma once
// The mails stored here and left on the server (the user's choice in the
// server dialog), so that a check neither stores them again nor skips a
// new mail: each is known by its unique ID and the digest of its header
// (MailIdentity, as the check knows every mail), with the size the server
// listed, the day it was stored here and whether it was deleted here since
// (then it goes on the server at the next check). One small owner-only
// text file in the data folder, replaced whole:
//   # comment
//   ACCOUNT TAB UID TAB DIGEST TAB SIZE TAB YYYY-MM-DD TAB keep|delete
// ACCOUNT is percent-encoded as in the list of unconfirmed deletions
// (ReceivedUids.h), UID "-" when the server gave none. Lines of another
// shape are skipped; the next save drops them.
#include "ReceivedUids.h"

#include <QByteArray>
#include <QDate>
#include <QList>
#include <QString>

namespace received {

struct LeftEntry {
  QString account;  // the mailbox (reception's mailboxKey())
  MailIdentity id;
  qint64 size = 0;          // what the server listed for it
  QDate stored;             // the day it was stored here
  bool deletedHere = false; // deleted here: to go on the server too
  bool operator==(const LeftEntry&) const = default;
};

struct LeftLedger {
  QList<LeftEntry> entries;
  int skipped = 0;  // lines that could not be read
};

// The ledger's bytes read; nothing else is touched (no file, no clock).
LeftLedger parseLeftLedger(const QByteArray& bytes);
// The bytes of a ledger, read back equal by parseLeftLedger.
QByteArray leftLedgerText(const QList<LeftEntry>& entries);

// Where it lives: "★MAilData/left-on-server.txt" below the program folder.
QString leftOnServerPath();
// A missing file is an empty ledger; false when it exists but cannot be read.
bool loadLeftLedger(LeftLedger* ledger, QString* error = nullptr);
// The whole old or the whole new file, on the disk when this returns true;
// readable by its owner only.
bool saveLeftLedger(const QList<LeftEntry>& entries, QString* error = nullptr);

// Whether a mail whose header block is `header` is the mail of `e`, by its
// digest (with the size the server listed for e).
bool sameMail(const LeftEntry& e, const QByteArray& header);

// The day it is for the ledger (a test build may be told another).
QDate leftLedgerToday();

}  // namespace received
