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

BatchStore::BatchStore(received::ReceivedStore& store, CheckReport& report, QString attachFolder, Storing storing)
    : store_(store),
      report_(report),
      attachFolder_(std::move(attachFolder)),
      keepBody_(report.sink().showsMail()),
      storing_(storing) {}

BatchStore::~BatchStore() {
  if (!worker_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    ending_ = true;
  }
  changed_.notify_all();
  worker_.join();
}

bool BatchStore::announce(const QString& path, QString* error) {
  const Fault f = store_.announce(path);
  if (!f) return true;
  refused_ = f;
  *error = f.detail;
  return false;
}

void BatchStore::add(int number, const received::MailIdentity& id, QByteArray&& raw, qsizetype headerLength) {
  const qint64 size = raw.size();
  ++added_;
  addedBytes_ += size;
  Mail mail{number, id, std::move(raw), headerLength};
  if (storing_ == Storing::InTurn || size > kOverlapBytes) {
    // Alone: after the mails before it, and before the next is read.
    collect(true);
    apply(store(std::move(mail)));
    return;
  }
  collect(false);
  if (!worker_.joinable()) worker_ = std::thread([this] { work(); });
  std::unique_lock lock(mutex_);
  // The mails waiting beside the one being stored take at most
  // kOverlapBytes (or are one mail): the memory a check takes stays within
  // its bound.
  changed_.wait(lock, [&] { return waiting_.empty() || waitingBytes_ + size <= kOverlapBytes; });
  waitingBytes_ += size;
  waiting_.push_back(std::move(mail));
  lock.unlock();
  changed_.notify_all();
}

void BatchStore::work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return ending_ || !waiting_.empty(); });
    // Ended with mails still waiting only when the check broke off: they
    // stay on the server, and nothing is stored of them.
    if (ending_) return;
    Mail mail = std::move(waiting_.front());
    waiting_.pop_front();
    waitingBytes_ -= mail.raw.size();
    working_ = true;
    lock.unlock();
    changed_.notify_all();
    Outcome outcome;
    std::exception_ptr thrown;
    try {
      outcome = store(std::move(mail));
    } catch (...) {
      // Told on the caller's thread, as if the mail were stored there.
      thrown = std::current_exception();
    }
    lock.lock();
    working_ = false;
    if (thrown) {
      if (!thrown_) thrown_ = thrown;
      stopped_ = true;
      stopping_.store(true, std::memory_order_release);
    } else {
      done_.push_back(std::move(outcome));
    }
    changed_.notify_all();
  }
}

void BatchStore::collect(bool wait) {
  std::deque<Outcome> ready;
  std::exception_ptr thrown;
  {
    std::unique_lock lock(mutex_);
    if (wait) changed_.wait(lock, [&] { return waiting_.empty() && !working_; });
    ready.swap(done_);
    thrown = std::exchange(thrown_, nullptr);
  }
  for (Outcome& o : ready) apply(std::move(o));
  if (thrown) std::rethrow_exception(thrown);
}

void BatchStore::settle() { collect(true); }

BatchStore::Outcome BatchStore::store(Mail mail) {
  Outcome out;
  out.number = mail.number;
  out.id = mail.id;
  out.rawSize = mail.raw.size();
  // Asked for before storing stopped: it stays on the server.
  if (stopped_) return out;
  auto stop = [&](CheckProblem why) {
    stopped_ = true;
    stopping_.store(true, std::memory_order_release);
    out.kind = Outcome::Kind::Stopped;
    out.stop = std::move(why);
    return std::move(out);
  };
  const bool mentions = mentionsAttachment(mail.raw, mail.headerLength);
  if (!store_.begun()) {
    if (const Fault f = store_.begin())
      return stop({f.code == Code::JournalUnwritable ? CheckCode::Store : CheckCode::Unsaved, f});
  }
  // The mail as the server sent it, before the decoder lets go of it.
  qint64 originalAt = 0;
  if (const Fault f = store_.appendOriginal(mail.raw, &originalAt)) return stop({CheckCode::Unsaved, f});
  TOMOSHIBI_KILL_POINT("original");
  // The decoder hands each file over as it finds it; each is announced to
  // the journal before it is created.
  refused_ = {};
  maillib::AttachmentFolder attachments(attachFolder_,
                                        [this](const QString& path, QString* error) { return announce(path, error); });
  ShapedMail shaped = shapeMail(std::move(mail.raw), mentions, &attachments);
  if (attachments.failed()) {
    // This mail stays on the server, so that nothing of it is lost; the
    // others go on.
    store_.dropOriginal(originalAt);
    out.kind = Outcome::Kind::Left;
    out.left = LeftMail{mail.number, LeftMail::Why::AttachmentFailed};
    out.left.attachment = attachments.fault();
    out.left.fault = refused_;
    return out;
  }
  const QStringList files = attachments.written();
  out.partial = shaped.partial;
  out.shown.boxes = std::move(shaped.boxes);
  out.shown.attachFlag = shaped.attachFlag;
  out.shown.record = std::move(shaped.record);
  if (const Fault f =
          store_.appendRecord(out.shown.record, originalAt, out.rawSize, mail.id.uid, &out.shown.recordNumber)) {
    for (const QString& file : files) QFile::remove(file);
    store_.dropOriginal(originalAt);
    return stop({f.code == Code::RecordsFull ? CheckCode::Store : CheckCode::Unsaved, f});
  }
  TOMOSHIBI_KILL_POINT("record");
  out.kind = Outcome::Kind::Stored;
  out.files = files;
  // Only a sink that shows the last mail needs its whole body kept.
  if (!keepBody_) out.shown.boxes.body.clear();
  return out;
}

void BatchStore::apply(Outcome&& o) {
  switch (o.kind) {
    case Outcome::Kind::Skipped:
      return;
    case Outcome::Kind::Stopped:
      if (o.partial) report_.notice({CheckCode::PartialMail});
      report_.stopStoring(o.stop);
      return;
    case Outcome::Kind::Left:
      report_.leave(o.left);
      return;
    case Outcome::Kind::Stored:
      if (o.partial) report_.notice({CheckCode::PartialMail});
      break;
  }
  batch_.append({o.number, o.id});
  bytes_ += o.rawSize;
  files_ += o.files;
  batchLast_ = std::move(o.shown);
  report_.stored();
}

QList<BatchStore::Stored> BatchStore::commit(const QString& account) {
  settle();
  added_ = 0;
  addedBytes_ = 0;
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
