#pragma once
// The mails of one check stored batch by batch: each decoded and shaped as
// the viewer's boxes would give it back, its attached files written into
// the attachment folder (each announced to the journal first), its
// original and its record appended through the received-mail store; a
// batch made durable as a whole, or undone as a whole.
#include "CheckReport.h"
#include "CheckSink.h"
#include "mime/MimeDecode.h"
#include "store/received/ReceivedStore.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>

namespace reception {

// A batch is made durable and its mails deleted after this many mails or
// bytes of mail.
inline constexpr int kCommitMails = 250;
inline constexpr qint64 kCommitBytes = 32 * 1024 * 1024;
// A mail larger than this is stored while nothing else is: its decoding
// alone may take three times its size.
inline constexpr qint64 kOverlapBytes = 8 * 1024 * 1024;

// The line appended to the body of a mail that mentions "attachment".
extern const QString kAttachmentLine;

// What the boxes give back for a text: a line box keeps one line of at most
// the header buffer's length; the body box makes every kind of line break
// (CR LF, CR, LF, U+2028, U+2029) one, given back as CR LF.
QString asLineBoxText(const QString& s);
QString asBodyBoxText(QString s);

// What storing a mail makes of it, apart from the disk: the mail decoded
// (each file handed to `files` as it is found), shaped as the boxes would
// give it back, and its record. `mentionsAttachment` adds the line that
// says the files were unpacked (see mentionsAttachment).
struct ShapedMail {
  BoxedMail boxes;
  QByteArray record;
  int16_t attachFlag = 0;
  bool partial = false;  // one piece of a split message
};
ShapedMail shapeMail(QByteArray&& raw, bool mentionsAttachment, maillib::AttachmentWriter* files);

// Whether the body of a raw mail (its header `headerLength` bytes), as the
// mail library hands it over (up to a NUL), says "attachment".
bool mentionsAttachment(const QByteArray& raw, qsizetype headerLength);

class BatchStore {
 public:
  // A mail of the batch: its number on the server and its identity.
  struct Stored {
    int number;
    received::MailIdentity id;
  };
  // What the end of a check shows of the last mail stored.
  struct LastMail {
    BoxedMail boxes;
    int recordNumber = 0;
    QByteArray record;
    int16_t attachFlag = 0;
  };

  // Whether each mail is stored while the caller goes on (a check reads
  // the next mail meanwhile), or before add() returns.
  enum class Storing { InTurn, Alongside };
  BatchStore(received::ReceivedStore& store, CheckReport& report, QString attachFolder,
             Storing storing = Storing::InTurn);
  ~BatchStore();
  BatchStore(const BatchStore&) = delete;
  BatchStore& operator=(const BatchStore&) = delete;

  // Mail `number` as the server sent it (its header `headerLength` bytes):
  // stored in the batch, or left on the server with the reason reported.
  // Alongside, a thread of its own stores it while the caller reads the
  // next mail, save a mail over kOverlapBytes; the mails are stored one by
  // one in the order they came, and the report hears of each in that
  // order, at the latest by settle().
  void add(int number, const received::MailIdentity& id, QByteArray&& raw, qsizetype headerLength);
  // Waits until every mail added is stored or left, and reports each.
  void settle();
  // Whether storing has stopped on the storing thread, not yet reported.
  bool stopping() const { return stopping_.load(std::memory_order_acquire); }
  // Whether the batch may be full once settled: the mails and bytes added
  // since the last commit, stored or not, reach a batch's.
  bool mayBeFull(int mails) const { return added_ >= mails || addedBytes_ >= kCommitBytes; }
  // After settle():
  bool isEmpty() const { return batch_.isEmpty(); }
  bool full(int mails) const { return batch_.size() >= mails || bytes_ >= kCommitBytes; }
  // The batch on the disk, its mails' identities journalled under
  // `account`: they may now be deleted on the server. None when it could
  // not be made durable (then it is undone and storing stops).
  QList<Stored> commit(const QString& account);
  // The last mail of the committed batches.
  const std::optional<LastMail>& last() const { return last_; }

 private:
  struct Mail {
    int number;
    received::MailIdentity id;
    QByteArray raw;
    qsizetype headerLength;
  };
  // What became of a mail, for the report and the batch.
  struct Outcome {
    enum class Kind { Stored, Left, Stopped, Skipped } kind = Kind::Skipped;
    int number = 0;
    received::MailIdentity id = {};
    qint64 rawSize = 0;
    bool partial = false;
    LeftMail left = {};
    CheckProblem stop = {};
    QStringList files = {};
    LastMail shown = {};
  };

  // On the storing thread (or the caller's, for a large mail): touches the
  // disk and the store, never the report.
  Outcome store(Mail mail);
  // On the caller's thread: the report and the batch hear of it.
  void apply(Outcome&& outcome);
  // Applies the outcomes ready; with `wait`, first waits for every mail.
  void collect(bool wait);
  void work();
  bool announce(const QString& path, QString* error);
  void rollBack();

  received::ReceivedStore& store_;
  CheckReport& report_;
  QString attachFolder_;
  const bool keepBody_;
  const Storing storing_;
  QList<Stored> batch_;
  qint64 bytes_ = 0;
  int added_ = 0;
  qint64 addedBytes_ = 0;
  QStringList files_;
  std::optional<LastMail> batchLast_;
  std::optional<LastMail> last_;
  // The storing thread's own.
  received::Fault refused_;  // the journal's, when it refused a file
  bool stopped_ = false;     // storing stopped: the mails after stay on the server

  // Between the two threads.
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Mail> waiting_;
  qint64 waitingBytes_ = 0;
  bool working_ = false;
  bool ending_ = false;
  std::deque<Outcome> done_;
  std::exception_ptr thrown_;
  std::atomic<bool> stopping_ = false;
  std::thread worker_;
};

}  // namespace reception
