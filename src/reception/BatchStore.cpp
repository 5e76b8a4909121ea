#include "BatchStore.h"

#include "AttachmentFiles.h"
#include "mime/MimeDecode.h"
#include "platform/Charset.h"
#include "platform/TestHooks.h"
#include "platform/Text.h"
#include "store/Records.h"

#include <QFile>

namespace reception {

using received::Code;
using received::Fault;

const QString kAttachmentLine = QStringLiteral("♪♪♪　添付ファイルがありましので、添付フォルダに展開しました。♪♪♪");

QString asLineBoxText(const QString& s) {
  // The header buffers hold 8192 characters with their NUL.
  constexpr qsizetype kHeaderBuffer = 8192;
  return text::CutAtNul(s).left(kHeaderBuffer - 1);
}

QString asBodyBoxText(QString s) {
  s.replace(QChar(0x2028), u'\n');
  s.replace(QChar(0x2029), u'\n');
  // Decoded mail has CR LF throughout already: a long body is not copied.
  for (qsizetype i = s.indexOf(u'\n'); i >= 0; i = s.indexOf(u'\n', i + 1))
    if (i == 0 || s[i - 1] != u'\r') return text::toCrLf(s);
  for (qsizetype i = s.indexOf(u'\r'); i >= 0; i = s.indexOf(u'\r', i + 1))
    if (i + 1 >= s.size() || s[i + 1] != u'\n') return text::toCrLf(s);
  return s;
}

namespace {

// The record of a mail as the boxes give it back.
QByteArray recordOf(const BoxedMail& m) {
  store::MailRecord r;
  r.setSubject(text::trimSpaces(m.subject));
  r.setFrom(text::trimSpaces(m.from));
  r.setDate(text::trimSpaces(m.date));
  // Every two UTF-16 units make at least one byte: what lies beyond twice
  // the field's width is never stored, so it is neither copied nor converted.
  QStringView body(m.body);
  while (!body.isEmpty() && body.front() == u' ') body = body.sliced(1);
  while (!body.isEmpty() && body.back() == u' ') body.chop(1);
  r.setBody(body.left(2 * store::MailRecord::kBody.width).toString());
  r.markWritten();
  return r.bytes();
}

}  // namespace

// The attachment test reads the body as the library hands it over (up to
// a NUL), before the attachments are unpacked.
bool mentionsAttachment(const QByteArray& raw, qsizetype headerLength) {
  QByteArrayView body = QByteArrayView(raw).sliced(headerLength);
  if (const qsizetype nul = body.indexOf('\0'); nul >= 0) body = body.first(nul);
  const QByteArray shown = QByteArray::fromRawData(body.data(), body.size());  // a view, not a copy
  return charset::isSevenBit(shown) ? shown.contains("attachment")
                                    : charset::decodeGuess(shown).contains(u"attachment", Qt::CaseSensitive);
}

ShapedMail shapeMail(QByteArray&& raw, bool mentions, maillib::AttachmentWriter* files) {
  maillib::DecodedMail mail = maillib::decodeMail(std::move(raw), files);
  ShapedMail shaped;
  shaped.partial = mail.partial;
  shaped.boxes.subject = asLineBoxText(mail.subject);
  shaped.boxes.from = asLineBoxText(mail.from);
  shaped.boxes.date = asLineBoxText(mail.date);
  QString body = std::move(mail.body);
  if (const qsizetype nul = body.indexOf(QChar(0)); nul >= 0) body.truncate(nul);
  if (mentions) body += QStringLiteral("\r\n") + kAttachmentLine;
  shaped.boxes.body = asBodyBoxText(std::move(body));
  mail = maillib::DecodedMail();
  shaped.attachFlag = mentions ? 1 : 0;
  shaped.record = recordOf(shaped.boxes);
  return shaped;
}

BatchStore::BatchStore(received::ReceivedStore& store, CheckReport& report, QString attachFolder)
    : store_(store), report_(report), attachFolder_(std::move(attachFolder)) {}

bool BatchStore::announce(const QString& path, QString* error) {
  const Fault f = store_.announce(path);
  if (!f) return true;
  refused_ = f;
  *error = f.detail;
  return false;
}

void BatchStore::add(int number, const received::MailIdentity& id, QByteArray&& raw, qsizetype headerLength) {
  const qint64 rawSize = raw.size();
  const bool mentions = mentionsAttachment(raw, headerLength);
  if (!store_.begun()) {
    if (const Fault f = store_.begin()) {
      report_.stopStoring({f.code == Code::JournalUnwritable ? CheckCode::Store : CheckCode::Unsaved, f});
      return;
    }
  }
  // The mail as the server sent it, before the decoder lets go of it.
  qint64 originalAt = 0;
  if (const Fault f = store_.appendOriginal(raw, &originalAt)) {
    report_.stopStoring({CheckCode::Unsaved, f});
    return;
  }
  TOMOSHIBI_KILL_POINT("original");
  // The decoder hands each file over as it finds it; each is announced to
  // the journal before it is created.
  refused_ = {};
  maillib::AttachmentFolder attachments(attachFolder_,
                                        [this](const QString& path, QString* error) { return announce(path, error); });
  ShapedMail shaped = shapeMail(std::move(raw), mentions, &attachments);
  if (attachments.failed()) {
    // This mail stays on the server, so that nothing of it is lost; the
    // others go on.
    store_.dropOriginal(originalAt);
    LeftMail left{number, LeftMail::Why::AttachmentFailed};
    left.attachment = attachments.fault();
    left.fault = refused_;
    report_.leave(left);
    return;
  }
  const QStringList files = attachments.written();
  if (shaped.partial) report_.notice({CheckCode::PartialMail});

  LastMail shown;
  shown.boxes = std::move(shaped.boxes);
  shown.attachFlag = shaped.attachFlag;
  shown.record = std::move(shaped.record);

  if (const Fault f = store_.appendRecord(shown.record, originalAt, rawSize, id.uid, &shown.recordNumber)) {
    report_.stopStoring({f.code == Code::RecordsFull ? CheckCode::Store : CheckCode::Unsaved, f});
    for (const QString& file : files) QFile::remove(file);
    store_.dropOriginal(originalAt);
    return;
  }
  TOMOSHIBI_KILL_POINT("record");
  batch_.append({number, id});
  bytes_ += rawSize;
  files_ += files;
  // Only a sink that shows the last mail needs its whole body kept.
  if (!report_.sink().showsMail()) shown.boxes.body.clear();
  batchLast_ = std::move(shown);
  report_.stored();
}

QList<BatchStore::Stored> BatchStore::commit(const QString& account) {
  if (batch_.isEmpty()) return {};
  // The files and records on the disk first, then the journal says so:
  // from then on the batch's mails may be deleted on the server.
  CheckProblem failed{CheckCode::Unflushed};
  bool ok = files_.isEmpty() || maillib::flushFiles(files_, &failed.attachment);
  if (ok) {
    QList<received::JournalEntry> entries;
    for (const Stored& s : batch_) entries.append({account, s.id});
    failed.fault = store_.commit(entries);
    ok = !failed.fault;
  }
  if (!ok) {
    rollBack();
    report_.stopStoring(failed);
    return {};
  }
  last_ = std::move(batchLast_);
  batchLast_.reset();
  files_.clear();
  bytes_ = 0;
  return std::exchange(batch_, {});
}

void BatchStore::rollBack() {
  // The batch's mails stay on the server and come again next time: nothing
  // of them may stay here.
  report_.unstored(int(batch_.size()));
  store_.rollBack();
  for (const QString& f : files_) QFile::remove(f);
  batch_.clear();
  files_.clear();
  bytes_ = 0;
  batchLast_.reset();
}

}  // namespace reception
