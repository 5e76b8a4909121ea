// Record-file speed on a full received-mail file: 32767 appends, reading
// every header, and dropping one record through the rewrite compared with a
// plain copy of the same file (both flushed to disk).
//   bench_store [FOLDER]   (default: a temporary folder under /tmp)
#include "platform/Text.h"
#include "store/RecordFile.h"
#include "store/Records.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

using namespace store;

namespace {

double plainCopySeconds(const QString& from, const QString& to) {
  QElapsedTimer t;
  t.start();
  int in = ::open(QFile::encodeName(from).constData(), O_RDONLY);
  int out = ::open(QFile::encodeName(to).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  off_t left = lseek(in, 0, SEEK_END);
  lseek(in, 0, SEEK_SET);
  while (left > 0) {
    ssize_t r = copy_file_range(in, nullptr, out, nullptr, size_t(left), 0);
    if (r <= 0) break;
    left -= r;
  }
  fsync(out);
  ::close(in);
  ::close(out);
  return t.nsecsElapsed() / 1e9;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QTemporaryDir tmp(argc > 1 ? QString::fromLocal8Bit(argv[1]) + QStringLiteral("/bench-XXXXXX")
                             : QDir::tempPath() + QStringLiteral("/bench-XXXXXX"));
  const QString file = tmp.filePath(QStringLiteral("plkdata2.data"));
  const QString temp = tmp.filePath(QStringLiteral("PLKDATA2.TMP"));
  const int n = kMaxRecords;

  MailRecord rec;
  rec.setDate(QStringLiteral("Tue, 08 Dec 2026 09:00:00 +0900"));
  rec.setFrom(QStringLiteral("山田 太郎 <taro@example.jp>"));
  rec.setBody(QString(3000, QChar(u'本')));
  rec.markWritten();

  QElapsedTimer t;
  t.start();
  for (int i = 1; i <= n; ++i) {
    rec.setSubject(QStringLiteral("お知らせ 第%1号").arg(i));
    StoreResult r = appendRecord(file, MailRecord::kLength, rec.bytes(), false);
    if (!r.ok) {
      std::fprintf(stderr, "append %d failed: %s\n", i, qPrintable(r.failure.cause));
      return 1;
    }
  }
  {
    RecordFile f(file, MailRecord::kLength);
    f.open();
    f.sync();
  }
  const double appendSec = t.nsecsElapsed() / 1e9;

  t.restart();
  qsizetype chars = 0;
  {
    RecordFile f(file, MailRecord::kLength);
    f.open();
    QByteArray head;
    for (int i = 1; f.readPart(i, 0, MailRecord::kBody.offset, head) == ReadResult::Ok; ++i) {
      MailRecord h(head);
      chars += text::CutAtNul(h.subject()).size() + text::CutAtNul(h.from()).size() + text::CutAtNul(h.date()).size();
    }
  }
  const double headerSec = t.nsecsElapsed() / 1e9;

  std::vector<double> copies, rewrites;
  for (int round = 0; round < 3; ++round) {
    copies.push_back(plainCopySeconds(file, tmp.filePath(QStringLiteral("copy.data"))));
    QFile::remove(tmp.filePath(QStringLiteral("copy.data")));
    t.restart();
    StoreResult r = deleteRecords(file, temp, MailRecord::kLength, MailRecord::kFlagOffset, {n / 2});
    rewrites.push_back(t.nsecsElapsed() / 1e9);
    if (!r.ok) {
      std::fprintf(stderr, "rewrite failed: %s\n", qPrintable(r.failure.cause));
      return 1;
    }
    // Put a record back so every round drops one of a full file.
    appendRecord(file, MailRecord::kLength, rec.bytes(), false);
  }
  const double copySec = median(copies), rewriteSec = median(rewrites);

  std::printf("records:                 %d (%.2f GB)\n", n, double(n) * MailRecord::kLength / 1e9);
  std::printf("append all (+1 fsync):   %.2f s  (%.1f us per record)\n", appendSec, appendSec / n * 1e6);
  std::printf("read every header:       %.3f s  (%lld characters)\n", headerSec, (long long)chars);
  std::printf("plain copy + fsync:      %.3f s  (median of 3)\n", copySec);
  std::printf("drop 1 record (rewrite): %.3f s  (median of 3)\n", rewriteSec);
  std::printf("rewrite / plain copy:    %.2f  (target <= 1.30)\n", rewriteSec / copySec);
  return 0;
}
