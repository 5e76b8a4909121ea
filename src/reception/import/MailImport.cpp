#include "MailImport.h"

#include "ImportWords.h"
#include "MboxSplit.h"
#include "platform/HeaderScan.h"
#include "platform/Paths.h"
#include "platform/TestHooks.h"
#include "reception/BatchStore.h"
#include "reception/CheckReport.h"
#include "store/RecordFile.h"
#include "store/Records.h"
#include "store/received/Originals.h"
#include "store/received/ReceivedStore.h"
#include "store/received/ReceivedUids.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <csignal>
#include <cstdio>
#include <functional>

namespace mailimport {

namespace {

// The journal's name for the mails brought in: no mailbox of a check has
// it (theirs are user@host), so the check's list of mails on the server
// never mixes with them.
const QString kImportAccount = QStringLiteral("(import)");
constexpr qint64 kChunk = 4 * 1024 * 1024;

// One mail as the source gives it, and how far the source has been read.
using EachMail = std::function<bool(SplitMail&& mail, qint64 bytesDone)>;

bool readFileWhole(const QString& path, qint64 size, SplitMail* mail) {
  if (size > kMaxMail) {
    mail->tooLarge = true;
    return true;
  }
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return false;
  mail->bytes = f.readAll();
  return f.error() == QFile::NoError;
}

// A Maildir: the mails of cur/ and new/, each folder in the order of its
// names (they begin with the time of delivery).
bool readMaildir(const QString& path, ImportFailure* failure, qint64* total, const EachMail& each) {
  QFileInfoList files;
  bool any = false;
  for (const char* sub : {"cur", "new"}) {
    const QDir d(path + u'/' + QLatin1String(sub));
    if (!d.exists()) continue;
    any = true;
    files += d.entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
  }
  if (!any) {
    *failure = {ImportCode::NotMailFolder, path};
    return false;
  }
  *total = 0;
  for (const QFileInfo& f : files) *total += f.size();
  qint64 done = 0;
  for (const QFileInfo& f : files) {
    SplitMail mail;
    // A file that cannot be read is counted as one that is no mail.
    if (!readFileWhole(f.filePath(), f.size(), &mail)) mail = {QByteArray(), false, true};
    if (mail.bytes.isEmpty() && !mail.tooLarge) mail.stray = true;
    done += f.size();
    if (!each(std::move(mail), done)) break;
  }
  return true;
}

// A file: an mbox when it starts with a "From " line, else one mail.
bool readFile(const QString& path, ImportFailure* failure, qint64* total, const EachMail& each) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) {
    *failure = {ImportCode::Unopenable, path, f.errorString()};
    return false;
  }
  *total = f.size();
  const QByteArray start = f.peek(5);
  if (start != "From ") {
    if (f.size() == 0) return true;
    SplitMail mail;
    if (!readFileWhole(path, f.size(), &mail)) {
      *failure = {ImportCode::Unopenable, path, f.errorString()};
      return false;
    }
    each(std::move(mail), *total);
    return true;
  }
  MboxSplitter split;
  QByteArray chunk;
  qint64 done = 0;
  for (bool atEnd = false; !atEnd;) {
    chunk.resize(kChunk);
    const qint64 n = f.read(chunk.data(), kChunk);
    if (n < 0) {
      *failure = {ImportCode::Unopenable, path, f.errorString()};
      return false;
    }
    done += n;
    if (n == 0) {
      atEnd = true;
      split.finish();
    } else {
      split.feed(QByteArrayView(chunk.constData(), n));
    }
    while (split.hasMail())
      if (!each(split.take(), done)) return true;
  }
  return true;
}

// What a check's report tells, kept for the summary.
class Collected : public reception::CheckSink {
 public:
  bool canAsk() const override { return false; }
  void checking() override {}
  void status(reception::CheckStatus) override {}
  void count(int) override {}
  void event() override {}
  void error(const reception::CheckFailure& f) override {
    left += f.left;
    problems += f.problems;
  }
  void notice(const reception::CheckProblem&) override {}

  QList<reception::LeftMail> left;
  QList<reception::CheckProblem> problems;
};

// A mail read is a mail when it begins with a header field.
bool looksLikeMail(const QByteArray& raw) {
  const qsizetype nl = raw.indexOf('\n');
  QByteArrayView first = nl < 0 ? QByteArrayView(raw) : QByteArrayView(raw).first(nl);
  if (first.endsWith('\r')) first.chop(1);
  return headerscan::isFieldLine(first);
}

}  // namespace

ImportSummary importMail(const QString& path, ImportSink& sink) {
  // A file that passes its size limit fails its write (and is cut back)
  // instead of ending the process in the middle of a record.
  std::signal(SIGXFSZ, SIG_IGN);
  ImportSummary s;
  const QFileInfo where(path);
  if (!where.exists()) {
    s.failure = {ImportCode::NotFound, path};
    return s;
  }
  received::ReceivedStore store;
  if (const received::Fault f = store.lock()) {
    s.failure = {f.code == received::Code::CheckRunning ? ImportCode::Busy : ImportCode::LockFailed, {}, {}, f};
    return s;
  }
  if (const received::Fault f = store.recover()) {
    s.failure = {ImportCode::RecoveryFailed, {}, {}, f};
    return s;
  }
  {
    // What a killed import journalled joined the list of mails on the
    // server at recovery: no server has them, so they go.
    received::ReceivedUidList list(received::receivedUidsPath(), kImportAccount);
    if (list.load() && list.size() > 0) {
      list.dropUnclaimedWithoutUid();
      list.save();
    }
  }
  const QString recordPath = paths::resolve(paths::kReceivedMailFile);
  store::StoreFailure why;
  if (!store::ensureFile(recordPath, &why)) {
    s.failure = {ImportCode::RecordsFile, recordPath, why.cause};
    return s;
  }
  // The mails the file holds already, by the identity a check gives them.
  QSet<QByteArray> known;
  {
    received::OriginalArchive archive;
    received::Fault f;
    if (archive.load(&f)) known = archive.mailDigests(&f);
    if (f) {
      s.failure = {ImportCode::Originals, {}, {}, f};
      return s;
    }
  }
  const int room = store::kMaxRecords - (store::appendNumberFor(QFileInfo(recordPath).size(),
                                                                store::MailRecord::kLength) - 1);

  Collected collected;
  reception::CheckReport report(collected);
  reception::BatchStore batch(store, report, paths::resolve(paths::kAttachFolder));
  int perBatch = reception::kCommitMails;
#ifdef TOMOSHIBI_TEST_HOOKS
  if (const int n = testhooks::batchMails(); n > 0) perBatch = n;
#endif
  auto commit = [&] {
    if (!batch.isEmpty()) batch.commit(kImportAccount);
  };
  ImportProgress progress;
  qint64 total = 0;
  QElapsedTimer sinceTick;
  int handed = 0;  // mails given to the store
  auto tick = [&](qint64 done) {
    if (sinceTick.isValid() && sinceTick.elapsed() < 100) return;
    sinceTick.start();
    progress.counts = s.counts;
    progress.counts.stored = report.storedSoFar();
    progress.bytesDone = done;
    progress.bytesTotal = total;
    sink.progress(progress);
    if (sink.stopRequested()) s.stopped = true;
  };
  auto each = [&](SplitMail&& m, qint64 done) {
    if (m.tooLarge || m.stray) {
      ++s.counts.unreadable;
    } else {
      QByteArray raw = crlfLines(std::move(m.bytes));
      if (!looksLikeMail(raw)) {
        ++s.counts.unreadable;
      } else {
        const qsizetype headerLength = headerscan::bodyOffset(raw);
        const QByteArray digest = received::mailDigest(raw.left(headerLength), raw.size());
        if (known.contains(digest)) {
          ++s.counts.duplicates;
        } else if (report.storedSoFar() >= room) {
          // Counted, not stored: the user learns how many did not fit.
          ++s.counts.leftOut;
        } else {
          ++handed;
          report.progress().total = handed;
          const int before = report.storedSoFar();
          batch.add(handed, {QByteArray(), digest}, std::move(raw), headerLength);
          if (report.storedSoFar() > before) {
            known.insert(digest);
            TOMOSHIBI_KILL_POINT("imported");
          }
          if (batch.full(perBatch)) commit();
        }
      }
    }
    tick(done);
    return report.storing() && !s.stopped;
  };
  const bool read = where.isDir() ? readMaildir(path, &s.failure, &total, each) : readFile(path, &s.failure, &total, each);
  commit();
  if (const received::Fault f = store.finish()) report.problem({reception::CheckCode::Store, f});
  report.conclude();
  s.counts.stored = report.storedSoFar();
  s.left = collected.left;
  s.problems = collected.problems;
  // The end shown as reached; a source that broke off keeps its failure,
  // and the mails stored before it stay.
  if (read) {
    progress.counts = s.counts;
    progress.bytesDone = progress.bytesTotal = total;
    sink.progress(progress);
  }
  return s;
}

}  // namespace mailimport
