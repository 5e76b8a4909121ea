#include "ReceiveEngine.h"

#include "AttachmentFiles.h"
#include "MailLibCommon.h"
#include "Originals.h"
#include "Pop3Session.h"
#include "ReceiveJournal.h"
#include "ReceivedUids.h"
#include "mime/MimeDecode.h"
#include "platform/Charset.h"
#include "platform/HeaderScan.h"
#include "platform/Paths.h"
#include "platform/Text.h"
#include "settings/AccountSettings.h"
#include "shell/SharedState.h"
#include "store/RecordFile.h"
#include "store/Records.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QDateTime>
#include <QHash>
#include <csignal>
#include <deque>
#include <optional>
#include <unistd.h>

namespace reception {

const QString kAttachmentLine = QStringLiteral("♪♪♪　添付ファイルがありましので、添付フォルダに展開しました。♪♪♪");

QString progressText(const CheckProgress& p) {
  return QStringLiteral("受信中 %1/%2件（%3 MB）").arg(p.done).arg(p.total).arg(double(p.bytes) / (1024 * 1024), 0, 'f', 1);
}

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

constexpr int kLength = store::MailRecord::kLength;
constexpr int kProgressMs = 100;
constexpr int kListedLeftMails = 10;

// The kill harness of the tests: TOMOSHIBI_TEST_KILL_AT=step:n ends the
// process with SIGKILL at the n-th passing of that step; TOMOSHIBI_TEST_BATCH
// makes batches of that many mails.
enum class Step { Connected, Retrieved, OriginalWritten, RecordWritten, JournalWritten, DeleteAnswered, BeforeQuit, QuitAnswered };

struct KillAt {
  Step step = Step::Connected;
  int at = 0;  // 0: never
  int seen = 0;
};

KillAt& killAt() {
  static KillAt k = [] {
    KillAt k;
    const QByteArray wanted = qgetenv("TOMOSHIBI_TEST_KILL_AT");
    const qsizetype colon = wanted.indexOf(':');
    if (colon <= 0) return k;
    static const QHash<QByteArray, Step> names{{"connected", Step::Connected},
                                               {"retrieved", Step::Retrieved},
                                               {"original", Step::OriginalWritten},
                                               {"record", Step::RecordWritten},
                                               {"journal", Step::JournalWritten},
                                               {"dele", Step::DeleteAnswered},
                                               {"before-quit", Step::BeforeQuit},
                                               {"quit-answered", Step::QuitAnswered}};
    const auto it = names.constFind(wanted.left(colon));
    if (it == names.constEnd()) return k;
    k.step = *it;
    k.at = wanted.mid(colon + 1).toInt();
    return k;
  }();
  return k;
}

void passing(Step s) {
  KillAt& k = killAt();
  if (k.at > 0 && k.step == s && ++k.seen == k.at) ::raise(SIGKILL);
}

int batchMails() {
  const int n = qEnvironmentVariableIntValue("TOMOSHIBI_TEST_BATCH");
  return n > 0 ? n : kCommitMails;
}

// A mail the check leaves on the server, and why.
struct Left {
  int number;
  QString why;
};

class Check {
 public:
  explicit Check(CheckSink& sink) : sink_(sink) {}
  CheckOutcome run();

 private:
  struct Stored {
    int number;
    MailIdentity id;
  };
  // What the end of a check shows of the last mail stored.
  struct LastMail {
    BoxedMail boxes;
    int recordNumber = 0;
    int16_t attachFlag = 0;
  };

  bool connect();
  bool readIdentities();
  void fetchAll();
  void handleMail(int number, QByteArray&& raw);
  void deleteAnswered(const maillib::Pop3Session::Answer& a);
  bool beginJournal();
  bool appendRecord(const BoxedMail& m, int* number);
  void commitBatch();
  void rollBackBatch();
  void finish();
  void settleList(bool quitAnswered);
  bool tick(bool force = false);
  void stopStoring(const QString& why);
  void fail(const QString& why);
  QString summary() const;
  CheckOutcome report();

  CheckSink& sink_;
  AccountSettingsRecord& account_ = AccountSettings();
  std::optional<CheckLock> lock_;
  std::unique_ptr<maillib::Pop3Session> session_;
  QString host_;
  int count_ = 0;
  int16_t attachFlag_ = 0;
  bool failed_ = false;

  // Identities: the server's IDs and the list of mails stored before.
  bool hasUidl_ = false;
  QList<QByteArray> uids_;
  std::optional<ReceivedUidList> known_;
  QString accountKey_;
  bool listChanged_ = false;

  // The files of this check.
  QString recordPath_, attachFolder_;
  std::optional<store::RecordFile> records_;
  qint64 recordLength_ = 0;  // complete records only
  OriginalsAppender originals_;
  std::optional<ReceiveJournal> journal_;
  qint64 checkTime_ = QDateTime::currentSecsSinceEpoch();

  // The batch being stored, and what it wrote.
  QList<Stored> batch_;
  qint64 batchBytes_ = 0;
  qint64 batchStart_ = 0;
  qint64 batchOriginalsStart_ = 0, batchIndexStart_ = 0;
  QStringList batchFiles_;
  std::optional<LastMail> batchLast_;
  std::optional<LastMail> last_;

  // Committed in this check; deletions to send and sent; their outcome.
  QList<MailIdentity> committed_;
  std::deque<Stored> deletes_;
  QHash<int, MailIdentity> deleting_;
  QList<MailIdentity> deleted_;  // answered +OK
  int refusedDeletes_ = 0;
  QByteArray lastRefusal_;
  int stored_ = 0;
  int duplicates_ = 0;
  bool stopStoring_ = false;
  bool examinedAll_ = false;
  QList<Left> left_;
  QStringList problems_;

  CheckProgress progress_;
  QElapsedTimer sinceTick_;
  bool stopRequested_ = false;
};

void Check::fail(const QString& why) {
  sink_.error(why);
  failed_ = true;
}

void Check::stopStoring(const QString& why) {
  if (!stopStoring_ && !why.isEmpty()) problems_.append(why);
  stopStoring_ = true;
}

bool Check::tick(bool force) {
  if (!force && sinceTick_.isValid() && sinceTick_.elapsed() < kProgressMs) return !stopRequested_;
  sinceTick_.start();
  if (session_) progress_.bytes = session_->received();
  sink_.progress(progress_);
  if (!stopRequested_ && sink_.stopRequested()) {
    stopRequested_ = true;
    stopStoring(QStringLiteral("受信を途中で止めました。"));
  }
  return !stopRequested_;
}

CheckOutcome Check::run() {
  // A file that passes its size limit fails its write (and is cut back)
  // instead of ending the process in the middle of a record.
  std::signal(SIGXFSZ, SIG_IGN);
  if (killAt().at > 0) ReceiveJournal::s_afterWrite = [] { passing(Step::JournalWritten); };

  if (account_.Pop3Server.isEmpty()) {
    // The main window asks for the server at start-up; a run without
    // windows has nobody to ask.
    if (!sink_.canAsk()) fail(QStringLiteral("POP3サーバーが設定されていません（pelkit.ini）。"));
    return report();
  }
  CheckLock lock = CheckLock::tryAcquire();
  if (lock.state() == CheckLock::State::Busy) {
    // Another check works on these files: this one changes nothing.
    sink_.notice(lock.error());
    return {true, true, 0};
  }
  if (lock.state() != CheckLock::State::Held) {
    fail(lock.error());
    return report();
  }
  lock_.emplace(std::move(lock));
  QString why;
  if (!recoverInterruptedCheck(&why)) {
    fail(why + QStringLiteral("\nメールはサーバーに残してあります。"));
    return report();
  }

  const bool connected = connect();
  sink_.help(QStringLiteral("メールのチェックをしています。"));
  if (!connected) {
    fail(maillib::lastError());
    return report();
  }
  passing(Step::Connected);

  const AccountFileValues saved = ReadAccountFile();
  account_.UserId = saved.id;
  account_.Password = saved.password;
  sink_.accountRead(saved.id, saved.password);
  if (account_.UserId.isEmpty() || account_.Password.isEmpty()) {
    if (sink_.canAsk()) {
      sink_.askAccount();  // the check does not wait for the answer
    } else {
      fail(QStringLiteral("IDかパスワードが保存されていません。画面の「初期設定」→「ID/PASS」で保存して下さい。"));
    }
    session_->quit();
    return report();
  }
  // What the server says is waiting, or why the login failed; the count
  // shown is always the mails this check stored.
  const int waiting =
      session_->login(text::toCp932(account_.UserId), text::toCp932(account_.Password), account_.ApopFlag != 0);
  if (waiting < 0) {
    fail(session_->error());
    session_->quit();
    return report();
  }
  if (readIdentities()) {
    if (waiting > 0) {
      fetchAll();
    } else {
      examinedAll_ = true;
    }
    finish();
  } else {
    session_->quit();
  }
  count_ = stored_;
  if (!problems_.isEmpty() || progress_.total - stored_ - duplicates_ > 0) fail(summary());
  if (last_) {
    sink_.showMail(last_->boxes);
    attachFlag_ = last_->attachFlag;
    shared::CurrentRecordNumber = int16_t(last_->recordNumber);
  }
  return report();
}

bool Check::connect() {
  QString error;
  const std::optional<maillib::ServerAddress> address =
      maillib::parseServer(account_.Pop3Server, maillib::Protocol::Pop3, &error);
  if (!address) {
    maillib::setLastError(error);
    return false;
  }
  maillib::ensureInitialized();
  host_ = address->host;
  QByteArray greeting;
  std::unique_ptr<maillib::Pop3Link> link = maillib::g_pop3LinkFactory
                                                ? maillib::g_pop3LinkFactory(*address, &greeting, &error)
                                                : maillib::openCurlLink(*address, &greeting, &error);
  if (!link) {
    maillib::setLastError(error);
    return false;
  }
  link->setIdle([this] { return tick(); });
  session_ = std::make_unique<maillib::Pop3Session>(std::move(link), greeting, address->host);
  session_->readCapabilities();
  if (!session_->alive()) {
    maillib::setLastError(session_->error());
    return false;
  }
  return true;
}

bool Check::readIdentities() {
  hasUidl_ = session_->uniqueIds(&uids_);
  if (!session_->alive()) {
    fail(session_->error());
    return false;
  }
  accountKey_ = mailboxKey(account_.UserId, account_.Pop3Server);
  known_.emplace(receivedUidsPath(), accountKey_);
  QString why;
  if (!known_->load(&why)) {
    // Without it a mail stored before could be stored again: nothing is
    // fetched, everything stays on the server.
    fail(QStringLiteral("受信済みメールの記録「%1」を読めません（%2）。\nメールはサーバーに残してあります。")
             .arg(QDir::toNativeSeparators(receivedUidsPath()), why));
    return false;
  }
  if (hasUidl_) {
    // What the server no longer lists was deleted: forgotten.
    const int before = known_->size();
    QList<QByteArray> listed;
    for (const QByteArray& u : uids_)
      if (!u.isEmpty()) listed.append(u);
    known_->keepOnly(listed);
    listChanged_ = known_->size() != before;
  }
  return true;
}

void Check::fetchAll() {
  recordPath_ = paths::resolve(paths::kReceivedMailFile);
  attachFolder_ = paths::resolve(paths::kAttachFolder);
  QList<int> numbers;
  for (int n = 1; n <= session_->count(); ++n)
    if (session_->size(n) >= 0) numbers.append(n);
  progress_.total = int(numbers.size());
  tick(true);

  using Command = maillib::Pop3Session::Command;
  const int window = session_->pipelines() ? kPipelineWindow : 1;
  const int perBatch = batchMails();
  qsizetype next = 0;
  for (;;) {
    // Deletions first, then fetches, while there is room in the pipe.
    while (session_->awaiting() < window) {
      if (!deletes_.empty()) {
        const Stored d = deletes_.front();
        deletes_.pop_front();
        deleting_.insert(d.number, d.id);
        session_->queue(Command::Dele, d.number);
        continue;
      }
      if (stopStoring_ || next >= numbers.size()) break;
      const int n = numbers[next++];
      if (session_->size(n) > maillib::g_pop3Limits.maxMail) {
        // Not even asked for: the listed size alone is too much.
        left_.append({n, QStringLiteral("大きすぎます（%1 MB、受け取るのは %2 MB まで）")
                             .arg(session_->size(n) / (1024 * 1024))
                             .arg(maillib::g_pop3Limits.maxMail / (1024 * 1024))});
        ++progress_.done;
        continue;
      }
      session_->queue(Command::Retr, n);
    }
    if (session_->awaiting() == 0) break;
    maillib::Pop3Session::Answer a;
    QByteArray raw;
    if (!session_->next(&a, &raw)) break;
    if (a.command == Command::Dele) {
      deleteAnswered(a);
      continue;
    }
    passing(Step::Retrieved);
    ++progress_.done;
    if (stopStoring_) {
      // Asked for before storing stopped: it stays on the server.
    } else if (!a.ok) {
      left_.append({a.number, QStringLiteral("サーバーが渡しません（%1）").arg(QString::fromUtf8(a.status.trimmed().left(200)))});
    } else if (a.tooLarge) {
      left_.append({a.number, QStringLiteral("大きすぎます（%1 MB より大きい）").arg(maillib::g_pop3Limits.maxMail / (1024 * 1024))});
    } else {
      handleMail(a.number, std::move(raw));
    }
    if (!batch_.isEmpty() && (batch_.size() >= perBatch || batchBytes_ >= kCommitBytes)) commitBatch();
    tick();
  }
  examinedAll_ = session_->alive() && !stopStoring_;
}

void Check::deleteAnswered(const maillib::Pop3Session::Answer& a) {
  passing(Step::DeleteAnswered);
  const MailIdentity id = deleting_.take(a.number);
  if (a.ok) {
    deleted_.append(id);
  } else {
    ++refusedDeletes_;
    lastRefusal_ = a.status.trimmed();
  }
}

bool Check::beginJournal() {
  if (journal_ && journal_->begun()) return true;
  if (stopStoring_) return false;
  if (!records_) records_.emplace(recordPath_, kLength);
  if (!records_->open()) {
    stopStoring(QStringLiteral("受信したメールを保存できません（%1）。").arg(records_->errorText()));
    return false;
  }
  // A partial record at the end (left by an older version) is never shown
  // and is overwritten by the next append: the batch starts before it.
  recordLength_ = store::completeRecordsFor(records_->byteLength(), kLength) * kLength;
  batchStart_ = recordLength_;
  QString why;
  if (!originals_.open(&why)) {
    stopStoring(QStringLiteral("受信したメールを保存できません（%1）。").arg(why));
    return false;
  }
  batchOriginalsStart_ = originals_.archiveLength();
  batchIndexStart_ = originals_.indexLength();
  journal_.emplace(receiveJournalPath());
  if (!journal_->begin({{recordPath_, records_->fd(), recordLength_},
                        {originalsPath(), originals_.archiveFd(), batchOriginalsStart_},
                        {originalsIndexPath(), originals_.indexFd(), batchIndexStart_}},
                       &why)) {
    stopStoring(why);
    return false;
  }
  return true;
}

bool Check::appendRecord(const BoxedMail& m, int* number) {
  *number = store::appendNumberFor(recordLength_, kLength);
  if (*number > store::kMaxRecords) {
    stopStoring(
        QStringLiteral("受信メールのファイルは既に %1 件で一杯です。「メールを見る」画面で不要なメールを削除して下さい。")
            .arg(store::kMaxRecords));
    return false;
  }
  store::MailRecord& r = store::ReceivedMailBuffer();
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
  if (!records_->write(*number, r.bytes())) {
    // Never a partial record: what was written of it goes again at once.
    const QString why = records_->errorText();
    records_->truncate(recordLength_);
    stopStoring(QStringLiteral("受信したメールを保存できません（%1）。").arg(why));
    return false;
  }
  recordLength_ += kLength;
  passing(Step::RecordWritten);
  return true;
}

void Check::handleMail(int number, QByteArray&& raw) {
  const qint64 rawSize = raw.size();
  const QByteArray header = raw.left(headerscan::bodyOffset(raw));
  const MailIdentity id{hasUidl_ ? uids_.value(number - 1) : QByteArray(), mailDigest(header, session_->size(number))};
  if (known_->claim(id)) {
    // Stored by an earlier check whose deletion the server did not confirm.
    ++duplicates_;
    deletes_.push_back({number, id});
    return;
  }
  // The attachment test reads the body as the library hands it over (up to
  // a NUL), before the attachments are unpacked.
  bool mentions = false;
  {
    QByteArrayView body = QByteArrayView(raw).sliced(header.size());
    if (const qsizetype nul = body.indexOf('\0'); nul >= 0) body = body.first(nul);
    const QByteArray shown = QByteArray::fromRawData(body.data(), body.size());  // a view, not a copy
    mentions = charset::isSevenBit(shown) ? shown.contains("attachment")
                                          : charset::decodeGuess(shown).contains(u"attachment", Qt::CaseSensitive);
  }
  if (!beginJournal()) return;
  // The mail as the server sent it, before the decoder lets go of it.
  qint64 originalAt = 0;
  {
    QString why;
    if (!originals_.append(raw, &originalAt, &why)) {
      stopStoring(QStringLiteral("受信したメールを保存できません（%1）。").arg(why));
      return;
    }
  }
  passing(Step::OriginalWritten);
  // The decoder hands each file over as it finds it; each is announced to
  // the journal before it is created.
  maillib::AttachmentFolder attachments(
      attachFolder_, [this](const QString& path, QString* error) { return journal_->announce(path, error); });
  maillib::DecodedMail mail = maillib::decodeMail(std::move(raw), &attachments);
  if (attachments.failed()) {
    // This mail stays on the server, so that nothing of it is lost; the
    // others go on.
    originals_.cutArchive(originalAt);
    left_.append({number, QStringLiteral("添付ファイルをオープンできません（%1）").arg(attachments.error())});
    return;
  }
  const QStringList files = attachments.written();
  if (mail.partial) sink_.notice(QStringLiteral("分割されたメールが全て揃っていません"));

  LastMail shown;
  shown.boxes.subject = asLineBoxText(mail.subject);
  shown.boxes.from = asLineBoxText(mail.from);
  shown.boxes.date = asLineBoxText(mail.date);
  QString body = std::move(mail.body);
  if (const qsizetype nul = body.indexOf(QChar(0)); nul >= 0) body.truncate(nul);
  if (mentions) body += QStringLiteral("\r\n") + kAttachmentLine;
  shown.boxes.body = asBodyBoxText(std::move(body));
  mail = maillib::DecodedMail();
  shown.attachFlag = mentions ? 1 : 0;

  if (!appendRecord(shown.boxes, &shown.recordNumber)) {
    for (const QString& f : files) QFile::remove(f);
    originals_.cutArchive(originalAt);
    return;
  }
  originals_.addEntry({shown.recordNumber, originalAt, rawSize, recordFingerprint(store::ReceivedMailBuffer().bytes()),
                       checkTime_, id.uid});
  batch_.append({number, id});
  batchBytes_ += rawSize;
  batchFiles_ += files;
  // Only a sink that shows the last mail needs its whole body kept.
  if (!sink_.showsMail()) shown.boxes.body.clear();
  batchLast_ = std::move(shown);
  ++stored_;
}

void Check::commitBatch() {
  if (batch_.isEmpty()) return;
  // Records and files on the disk first, then the journal says so: from
  // then on the batch's mails may be deleted on the server.
  QString why;
  bool ok = records_->sync();
  if (!ok) why = records_->errorText();
  if (ok) ok = originals_.writeEntries(&why) && originals_.sync(&why);
  if (ok && !batchFiles_.isEmpty()) ok = maillib::flushFiles(batchFiles_, &why);
  QList<JournalEntry> entries;
  for (const Stored& s : batch_) entries.append({accountKey_, s.id});
  if (ok) ok = journal_->commit({recordLength_, originals_.archiveLength(), originals_.indexLength()}, entries, &why);
  if (!ok) {
    rollBackBatch();
    stopStoring(QStringLiteral("受信したメールをディスクに書き込めません（%1）。").arg(why));
    return;
  }
  for (const Stored& s : batch_) {
    committed_.append(s.id);
    deletes_.push_back(s);
  }
  last_ = std::move(batchLast_);
  batchLast_.reset();
  batch_.clear();
  batchFiles_.clear();
  batchBytes_ = 0;
  batchStart_ = recordLength_;
  batchOriginalsStart_ = originals_.archiveLength();
  batchIndexStart_ = originals_.indexLength();
}

void Check::rollBackBatch() {
  // The batch's mails stay on the server and come again next time: nothing
  // of them may stay here.
  stored_ -= int(batch_.size());
  if (records_->truncate(batchStart_)) recordLength_ = batchStart_;
  originals_.cutBack(batchOriginalsStart_, batchIndexStart_);
  for (const QString& f : batchFiles_) QFile::remove(f);
  batch_.clear();
  batchFiles_.clear();
  batchBytes_ = 0;
  batchLast_.reset();
}

void Check::finish() {
  // What is stored is committed even when the server has gone: its mails
  // stay there, known, and are not stored twice.
  commitBatch();
  using Command = maillib::Pop3Session::Command;
  const int window = session_->pipelines() ? kPipelineWindow : 1;
  // Every deletion answered before QUIT, so that each refusal is known.
  while (session_->alive() && (!deletes_.empty() || session_->awaiting() > 0)) {
    while (!deletes_.empty() && session_->awaiting() < window) {
      const Stored d = deletes_.front();
      deletes_.pop_front();
      deleting_.insert(d.number, d.id);
      session_->queue(Command::Dele, d.number);
    }
    maillib::Pop3Session::Answer a;
    if (!session_->next(&a, nullptr)) break;
    if (a.command == Command::Dele) deleteAnswered(a);
    tick();
  }
  bool answered = false;
  if (session_->alive()) {
    passing(Step::BeforeQuit);
    session_->quit(&answered);
    if (!answered) {
      problems_.append(QStringLiteral("サーバー「%1」が受信の終わり（QUIT）に応答しませんでした。受信したメールはサーバーにも残っていますが、次の受信で二重に保存されることはありません。\n%2")
                           .arg(host_, session_->error()));
    }
  } else if (!session_->error().isEmpty() && !problems_.contains(session_->error())) {
    problems_.append(session_->error());
  }
  if (answered) passing(Step::QuitAnswered);
  if (refusedDeletes_ > 0) {
    problems_.append(QStringLiteral("サーバー「%1」が %2 通のメールの削除を拒否しました。受信したメールはサーバーにも残っていますが、次の受信で二重に保存されることはありません。\n%3")
                         .arg(host_)
                         .arg(refusedDeletes_)
                         .arg(QString::fromUtf8(lastRefusal_.left(200))));
  }
  settleList(answered);
}

void Check::settleList(bool quitAnswered) {
  // Once QUIT is answered the deletions answered +OK have taken: their
  // mails are forgotten, so that a server reusing an ID has its next mail
  // stored, not deleted unread. Everything else stays known.
  if (quitAnswered) {
    for (const MailIdentity& id : deleted_) {
      // One stored by this check was never in the file: nothing to write.
      if (committed_.removeOne(id)) continue;
      known_->forget(id);
      listChanged_ = true;
    }
    if (!hasUidl_ && examinedAll_) {
      const int before = known_->size();
      known_->dropUnclaimedWithoutUid();
      listChanged_ = listChanged_ || known_->size() != before;
    }
  }
  for (const MailIdentity& id : committed_) known_->add(id);
  listChanged_ = listChanged_ || !committed_.isEmpty();
  QString why;
  if (listChanged_ && !known_->save(&why)) {
    // The journal keeps the batches: the next check puts them in the list.
    problems_.append(QStringLiteral("受信済みメールの記録「%1」を書き込めません（%2）。")
                         .arg(QDir::toNativeSeparators(receivedUidsPath()), why));
    return;
  }
  if (journal_ && journal_->begun() && !journal_->clear(&why)) problems_.append(why);
}

QString Check::summary() const {
  QStringList out;
  const int notReceived = progress_.total - stored_ - duplicates_;
  if (notReceived > 0) {
    out << QStringLiteral("%1 通のメールを受信できませんでした。サーバーに残してあるので、次の受信でもう一度受け取ります。")
               .arg(notReceived);
    for (qsizetype i = 0; i < left_.size() && i < kListedLeftMails; ++i)
      out << QStringLiteral("・%1 番のメール: %2").arg(left_[i].number).arg(left_[i].why);
    if (left_.size() > kListedLeftMails) out << QStringLiteral("・ほか %1 通").arg(left_.size() - kListedLeftMails);
  }
  out += problems_;
  return out.join(u'\n');
}

CheckOutcome Check::report() {
  if (attachFlag_ > 0) {
    sink_.status(QStringLiteral("添付ファイルメール。"));
    sink_.event();
  }
  if (count_ < 1) {
    sink_.status(QStringLiteral("新着メール無し。"));
  } else {
    sink_.status(QStringLiteral("新着メール有り。"));
    sink_.event();
  }
  sink_.count(count_);
  if (count_ > 0 && sink_.autoShowViewer()) sink_.showViewer();
  return {failed_, false, count_};
}

}  // namespace

CheckOutcome runCheck(CheckSink& sink) { return Check(sink).run(); }

}  // namespace reception
