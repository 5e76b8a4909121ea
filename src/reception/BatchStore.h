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
#include <optional>

namespace reception {

// A batch is made durable and its mails deleted after this many mails or
// bytes of mail.
inline constexpr int kCommitMails = 250;
inline constexpr qint64 kCommitBytes = 32 * 1024 * 1024;

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

  BatchStore(received::ReceivedStore& store, CheckReport& report, QString attachFolder);

  // Mail `number` as the server sent it (its header `headerLength` bytes):
  // stored in the batch, or left on the server with the reason reported.
  void add(int number, const received::MailIdentity& id, QByteArray&& raw, qsizetype headerLength);
  bool isEmpty() const { return batch_.isEmpty(); }
  bool full(int mails) const { return batch_.size() >= mails || bytes_ >= kCommitBytes; }
  // The batch on the disk, its mails' identities journalled under
  // `account`: they may now be deleted on the server. None when it could
  // not be made durable (then it is undone and storing stops).
  QList<Stored> commit(const QString& account);
  // The last mail of the committed batches.
  const std::optional<LastMail>& last() const { return last_; }

 private:
  bool announce(const QString& path, QString* error);
  void rollBack();

  received::ReceivedStore& store_;
  CheckReport& report_;
  QString attachFolder_;
  QList<Stored> batch_;
  qint64 bytes_ = 0;
  QStringList files_;
  std::optional<LastMail> batchLast_;
  std::optional<LastMail> last_;
  received::Fault refused_;  // the journal's, when it refused a file
};

}  // namespace reception
