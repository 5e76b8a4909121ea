#pragma once
// How a mail check makes its batches durable: a small journal in the data
// folder that commits the records of a batch and the identities of their
// mails together. A batch is either wholly there, its identities recorded,
// or cut back at the next start to what the files held before it; only a
// committed batch has its mails deleted on the server.
//
// A batch touches two kinds of artefacts: files it appends to (the
// received-mail file; more may come) and files it creates (attached files).
// The journal names them before they are written:
//   begin                                the journal of one check starts
//   append DEV:INODE LENGTH PATH         an appended file and its length before the first batch
//   new PATH                             a file about to be created by the current batch
//   entry ACCOUNT UID DIGEST             a mail of the current batch (written with its commit)
//   commit LENGTH[,LENGTH…] COUNT SUM    the batch is durable: the appended files' new lengths
// Paths are relative to the program folder and percent-encoded; a commit is
// valid only when COUNT and SUM (a hash of its entry lines) agree, so a torn
// write never passes for a commit.
#include "Fault.h"
#include "ReceivedUids.h"
#include "platform/Handles.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace received {

struct JournalEntry {
  QString account;  // the mailbox (reception's mailboxKey())
  MailIdentity id;
};

class ReceiveJournal {
 public:
  explicit ReceiveJournal(QString path);
  ~ReceiveJournal();
  ReceiveJournal(const ReceiveJournal&) = delete;
  ReceiveJournal& operator=(const ReceiveJournal&) = delete;

  // Starts the journal of a check: the appended files with their present
  // lengths, on the disk before this returns.
  struct Appended {
    QString path;
    int fd = -1;  // open for writing, kept by the caller
    qint64 length = 0;
  };
  bool begin(const QList<Appended>& files, Fault* fault);
  bool begun() const { return fd_.valid(); }
  // Before a file of the current batch is created.
  bool announce(const QString& path, Fault* fault);
  // After every artefact of the batch is on the disk: the batch's mails
  // and the appended files' new lengths, on the disk before this returns.
  bool commit(const QList<qint64>& lengths, const QList<JournalEntry>& entries, Fault* fault);
  // The check's outcome is kept elsewhere (the ID list): an empty journal.
  bool clear(Fault* fault);

  // What an interrupted check left, made whole: every appended file cut
  // back to its last committed length, every file of an uncommitted batch
  // removed. The entries of the committed batches are handed back for the
  // ID list; the journal is cleared only by the caller (after it saved them).
  struct Recovery {
    Fault fault;         // none: made whole
    bool found = false;  // the journal held a check
    QList<JournalEntry> committed;
    qint64 bytesCut = 0;
    int filesRemoved = 0;
  };
  static Recovery recover(const QString& path);

 private:
  bool write(const QByteArray& bytes, bool sync, Fault* fault);
  QString path_;
  handles::Fd fd_;
  qint64 length_ = 0;
};

QString receiveJournalPath();

}  // namespace received
