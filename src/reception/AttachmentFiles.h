#pragma once
// The files of received mail in the attachment folder: each under a name of
// its own made safe, never replacing a file that is there, written as the
// decoder hands them over, and flushed to the disk before the server is
// asked to delete their mail.
#include "AttachmentFault.h"
#include "mime/MimeDecode.h"

#include <QString>
#include <QStringList>
#include <functional>

namespace maillib {

// A name from a mail made safe as a file name in one folder: no folders, no
// "..", no control or direction characters, no characters Windows refuses,
// not hidden, not empty, not too long (the extension kept).
QString safeFileName(const QString& name);
// `name` in `folder` when no file of that name exists there, else
// "stem (2).ext", "stem (3).ext" …
QString freeFileName(const QString& folder, const QString& name);

// Writes the files of one mail into `folder`, each under its safe, free
// name, as the decoder hands them over. When one cannot be written, every
// file of the mail written so far is removed again and no further one is
// taken: failed() and fault() tell. The files reach the disk with
// flushFiles. `announce`, when given, is told each full path before its
// file is created, and a false answer fails the mail.
class AttachmentFolder : public AttachmentWriter {
 public:
  using Announce = std::function<bool(const QString& path, QString* error)>;
  explicit AttachmentFolder(QString folder, Announce announce = {});

  bool write(const QString& name, const QByteArray& bytes) override;

  bool failed() const { return failed_; }
  const AttachmentFault& fault() const { return fault_; }
  // The full paths written, in order; none after a failure.
  const QStringList& written() const { return mine_; }

 private:
  bool fail(AttachmentFault why);

  QString folder_;
  Announce announce_;
  QStringList mine_;
  bool checked_ = false;  // the folder was found there
  bool failed_ = false;
  AttachmentFault fault_;
};

// Flushes the files and the folders holding them to the disk.
bool flushFiles(const QStringList& files, AttachmentFault* fault);

}  // namespace maillib
