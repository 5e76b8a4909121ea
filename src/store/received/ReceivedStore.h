#pragma once
// The one owner of received mail on the disk: the record file of received
// mail, the originals beside it (Originals.h), the receive journal and its
// recovery (ReceiveJournal.h), the check lock (CheckLock.h), the list of
// mails whose deletion on the server is not confirmed (ReceivedUids.h) and
// the journalled delete (ReceivedDelete.h). The mail check appends through
// it batch by batch; the viewer deletes and reads originals through it.
// Nothing here shows anything: every failure is a Fault.
#include "CheckLock.h"
#include "Fault.h"
#include "MailFiles.h"
#include "ReceiveJournal.h"
#include "ReceivedDelete.h"

#include <QByteArray>
#include <QList>
#include <memory>
#include <optional>

namespace received {

struct Original {
  QByteArray bytes;     // null when there is none
  qint64 received = 0;  // when it was received (seconds since 1970)
  Fault fault;          // OriginalMissing: the mail came before originals were kept
};

// The same machinery keeps another set of files (MailFiles) when it is
// given one: sent mail (store/sent) is appended and deleted through it.
class ReceivedStore {
 public:
  explicit ReceivedStore(MailFiles files = receivedFiles());
  ~ReceivedStore();
  ReceivedStore(const ReceivedStore&) = delete;
  ReceivedStore& operator=(const ReceivedStore&) = delete;

  // The check lock, held as long as this lives; Code::CheckRunning when
  // another check holds the program folder.
  // `wait`: until the holder lets go, for a lock held only for moments.
  Fault lock(bool wait = false);
  // What an interrupted delete or check left, made whole, and the mails a
  // cut-off check had committed added to the ID list. Needs the lock.
  Fault recover();

  // The batches of one check, under the lock. The first append opens the
  // files and starts the journal; each mail's original goes before its
  // record (the decoder may consume the mail meanwhile), and the files the
  // batch makes are announced before they are created.
  Fault begin();
  bool begun() const;
  Fault appendOriginal(const QByteArray& raw, qint64* at);
  Fault announce(const QString& path);
  // The record of the mail whose original is at `at` (`length` bytes) goes
  // after the last complete record; its number in `number`. On failure
  // nothing of the record stays.
  Fault appendRecord(const QByteArray& record, qint64 at, qint64 length, const QByteArray& uid, int* number);
  // A mail not kept after all: its original goes again.
  void dropOriginal(qint64 at);
  // The batch on the disk: records and originals flushed, then the
  // journal's commit with its mails. Only then may they go on the server.
  Fault commit(const QList<JournalEntry>& entries);
  // The batch undone: nothing of its records and originals stays.
  void rollBack();
  // The check's end, once the ID list holds what it committed: the journal
  // emptied.
  Fault finish();

  // Deletes records (and their originals) under the lock, after recovery;
  // with `alsoOnServer` those left on the server are to go there too.
  static Removal remove(const QList<int>& numbers, const MailFiles& files = receivedFiles(), bool alsoOnServer = false);
  // Every complete record, and a partial tail.
  static Removal removeAll(const MailFiles& files = receivedFiles(), bool alsoOnServer = false);
  // The original of record `number` as the received-mail file holds it now.
  static Original original(int number, const MailFiles& files = receivedFiles());

 private:
  struct Batch;
  // The lock of `files`: the check's, waited for never; another's, waited
  // for when asked.
  static Fault lockFor(ReceivedStore& s, const MailFiles& files);
  MailFiles files_;
  std::optional<CheckLock> lock_;
  std::unique_ptr<Batch> batch_;
};

}  // namespace received
