// The viewer on a full received-mail file: 32767 records (1.06 GB) written
// into a temporary program folder, then the fill, clicks on rows at the
// start, middle and end, searching the whole list, and deleting one mail
// against a plain copy of the file. The folder is removed at the end.
//
//   bench_viewer [FOLDER]   FOLDER: where the temporary program folder goes
//                           (default: the system's temporary folder)
#include "platform/Paths.h"
#include "platform/ProgramFolder.h"
#include "platform/TestHooks.h"
#include "platform/ui/AppSetup.h"
#include "platform/ui/MsgBox.h"
#include "store/RecordFile.h"
#include "store/Records.h"
#include "store/received/Originals.h"
#include "viewer/MailListModel.h"
#include "viewer/ReceivedMail.h"
#include "viewer/TyakuForm.h"
#include "viewer/core/HeadIndex.h"
#include "viewer/core/MailSearch.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>
#include <QTimer>
#include <QTreeView>
#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr int kRecords = store::kMaxRecords;
constexpr int L = store::MailRecord::kLength;

void say(const QString& s) {
  std::fputs(s.toUtf8().constData(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

double ms(const QElapsedTimer& t) { return double(t.nsecsElapsed()) / 1e6; }

long peakRssKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

long currentRssKb() {
  QFile f(QStringLiteral("/proc/self/statm"));
  if (!f.open(QIODevice::ReadOnly)) return 0;
  const QList<QByteArray> parts = f.readAll().split(' ');
  return parts.size() > 1 ? parts[1].toLong() * (sysconf(_SC_PAGESIZE) / 1024) : 0;
}

// Mail as it comes: Japanese subjects and bodies of a few kilobytes.
QByteArray recordNumber(int n) {
  store::MailRecord r;
  r.setSubject(QStringLiteral("お知らせ 第%1号 ― 週末の予定について").arg(n));
  r.setDate(QStringLiteral("Mon, %1 Jan 2024 09:%2:00 +0900").arg(1 + n % 28).arg(n % 60, 2, 10, QLatin1Char('0')));
  r.setFrom(QStringLiteral("差出人%1 <sender%1@example.jp>").arg(n % 500));
  QString body;
  for (int line = 0; line < 20 + n % 40; ++line)
    body += QStringLiteral("これは%1通目のメールの%2行目です。灯火の下で読む手紙のように。\r\n").arg(n).arg(line);
  r.setBody(body);
  r.markWritten();
  return r.bytes();
}

// The records, and the originals every mail a check stored has beside them
// (a small mail each, with its index line), so that a delete takes the
// journalled way a user's received mail takes.
bool writeFile(const QString& path) {
  QFile f(path), archive(received::originalsPath()), index(received::originalsIndexPath());
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || !archive.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
      !index.open(QIODevice::WriteOnly | QIODevice::Truncate))
    return false;
  QByteArray chunk, originals, lines;
  qint64 at = 0;
  for (int n = 1; n <= kRecords; ++n) {
    const QByteArray record = recordNumber(n);
    chunk += record;
    const QByteArray original = "From: sender" + QByteArray::number(n % 500) +
                                "@example.jp\r\nSubject: notice " + QByteArray::number(n) +
                                "\r\n\r\n" + QByteArray(400, 'x') + "\r\n";
    originals += original;
    lines += received::indexLine({n, at, original.size(), received::recordFingerprint(record), 1700000000,
                                  "uid" + QByteArray::number(n), received::originalDigest(original)});
    at += original.size();
    if (chunk.size() >= 256 * L || n == kRecords) {
      if (f.write(chunk) != chunk.size() || archive.write(originals) != originals.size() ||
          index.write(lines) != lines.size())
        return false;
      chunk.clear();
      originals.clear();
      lines.clear();
    }
  }
  f.flush();
  archive.flush();
  index.flush();
  return ::fsync(f.handle()) == 0 && ::fsync(archive.handle()) == 0 && ::fsync(index.handle()) == 0;
}

// A copy of the file beside it, through a buffer, flushed to the disk.
double plainCopyMs(const QString& from, const QString& to, bool inKernel) {
  QElapsedTimer t;
  t.start();
  const int in = ::open(QFile::encodeName(from).constData(), O_RDONLY | O_CLOEXEC);
  const int out = ::open(QFile::encodeName(to).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (in < 0 || out < 0) return -1;
  if (inKernel) {
    loff_t a = 0, b = 0;
    while (::copy_file_range(in, &a, out, &b, 1 << 30, 0) > 0) {
    }
  } else {
    QByteArray buf(1 << 20, Qt::Uninitialized);
    ssize_t r;
    while ((r = ::read(in, buf.data(), size_t(buf.size()))) > 0)
      if (::write(out, buf.constData(), size_t(r)) != r) return -1;
  }
  ::fsync(out);
  ::close(in);
  ::close(out);
  const double elapsed = ms(t);
  QFile::remove(to);
  return elapsed;
}

// `check`: the row still stands for record row + 1 (no delete yet).
double clickMs(TyakuForm* v, int row, bool check = true) {
  QTreeView* list = v->MailListView;
  const QModelIndex idx = list->model()->index(row, 0);
  list->scrollTo(idx);
  QCoreApplication::processEvents();
  QElapsedTimer t;
  t.start();
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(idx).center());
  QCoreApplication::processEvents();  // painted
  const double elapsed = ms(t);
  const QString want = QStringLiteral("お知らせ 第%1号 ― 週末の予定について").arg(row + 1);
  if (check && v->Text7->text() != want)
    say(QStringLiteral("  !! row %1 shows \"%2\"").arg(row + 1).arg(v->Text7->text()));
  return elapsed;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  setUpJapaneseUi(app);
  const QString base = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::tempPath();
  QTemporaryDir dir(base + QStringLiteral("/tomoshibi-bench-XXXXXX"));
  QString error;
  if (!dir.isValid() || !layOutProgramFolder(dir.path(), &error)) {
    say(QStringLiteral("cannot lay out a program folder below %1 %2").arg(base, error));
    return 1;
  }
  paths::setProgramFolder(dir.path());
  QDir::setCurrent(dir.path());
  const QString file = paths::resolve(paths::kReceivedMailFile);

  QElapsedTimer t;
  t.start();
  if (!writeFile(file)) {
    say(QStringLiteral("cannot write %1").arg(file));
    return 1;
  }
  say(QStringLiteral("generated %1 records, %2 bytes, in %3 s")
          .arg(kRecords)
          .arg(QFileInfo(file).size())
          .arg(ms(t) / 1000, 0, 'f', 1));
  const long rssBefore = currentRssKb();

  TyakuForm* v = TyakuForm::instance();
  v->show();
  QCoreApplication::processEvents();

  t.start();
  v->FillMailList();
  QCoreApplication::processEvents();
  const double fillWarm = ms(t);
  say(QStringLiteral("fill, file in the page cache, index of heads made: %1 ms  (%2 rows, boxes on \"%3\")")
          .arg(fillWarm, 0, 'f', 1)
          .arg(v->mailList->rowCount())
          .arg(v->Text7->text()));

  // The same with the files' pages dropped from the cache, as after a
  // reboot: from the index of heads beside the records, and without it (as
  // after a mail came in, when the index is made again).
  const auto dropFromCache = [](const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    if (fd < 0) return;
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
  };
  const QString index = viewer::headIndexPath(file);
  QList<double> coldIndexed, coldScanned;
  for (int round = 0; round < 5; ++round) {
    dropFromCache(file);
    dropFromCache(index);
    t.start();
    v->FillMailList();
    QCoreApplication::processEvents();
    coldIndexed << ms(t);
    QFile::remove(index);
    dropFromCache(file);
    t.start();
    v->FillMailList();
    QCoreApplication::processEvents();
    coldScanned << ms(t);
  }
  std::sort(coldIndexed.begin(), coldIndexed.end());
  std::sort(coldScanned.begin(), coldScanned.end());
  say(QStringLiteral("fill, files not in the page cache, from the index of heads: median %1 ms (%2–%3; target <= 150 ms)")
          .arg(coldIndexed[2], 0, 'f', 1)
          .arg(coldIndexed.first(), 0, 'f', 1)
          .arg(coldIndexed.last(), 0, 'f', 1));
  say(QStringLiteral("fill, file not in the page cache, no index (made again): median %1 ms (%2–%3)")
          .arg(coldScanned[2], 0, 'f', 1)
          .arg(coldScanned.first(), 0, 'f', 1)
          .arg(coldScanned.last(), 0, 'f', 1));

  for (int row : {0, kRecords / 2, kRecords - 1})
    say(QStringLiteral("click on row %1 to its mail shown:  %2 ms").arg(row + 1, 5).arg(clickMs(v, row), 0, 'f', 1));

  // Searching the list from row 1: a text no mail holds (every record is
  // read), and one only the last mail's body holds, in full-width digits.
  // Then the same as the user does it: Enter in 検索文字, up to the mail shown.
  for (const QString& text : {QStringLiteral("どこにもない言葉"), QStringLiteral("３２７６７通目")}) {
    QList<double> runs;
    viewer::MailSearchResult found;
    for (int round = 0; round < 5; ++round) {
      t.start();
      found = viewer::findMailRow(file, v->mailList->rowCount(), 0, text);
      runs << ms(t);
    }
    std::sort(runs.begin(), runs.end());
    say(QStringLiteral("list search for \"%1\" from row 1: median %2 ms, slowest %3 ms (found row %4)")
            .arg(text)
            .arg(runs[2], 0, 'f', 1)
            .arg(runs.last(), 0, 'f', 1)
            .arg(found.row + 1));
  }
  {
    QList<double> runs;
    for (int round = 0; round < 5; ++round) {
      clickMs(v, 0, false);
      v->Text1->setText(QStringLiteral("３２７６７通目"));
      t.start();
      QTest::keyClick(v->Text1, Qt::Key_Return);
      QCoreApplication::processEvents();  // painted
      runs << ms(t);
    }
    std::sort(runs.begin(), runs.end());
    say(QStringLiteral("Enter in the search box to the last mail shown: median %1 ms, slowest %2 ms (boxes on \"%3\")")
            .arg(runs[2], 0, 'f', 1)
            .arg(runs.last(), 0, 'f', 1)
            .arg(v->Text7->text()));
  }

  // Deleting the middle mail, three times, each against a plain copy of the
  // file made just before. Both end with the data on the disk (fsync); the
  // copy goes to a new file, whose removal is not counted.
  testhooks::msgBox = [](QMessageBox* box) {
    QTimer::singleShot(0, box, [box] { box->button(QMessageBox::Yes)->click(); });
  };
  const double copyBuffered = plainCopyMs(file, file + QStringLiteral(".copy"), false);
  say(QStringLiteral("plain copy + fsync through a 1 MB buffer: %1 ms").arg(copyBuffered, 0, 'f', 1));
  QList<double> copies, deletes;
  // Where a delete spends its time: the moments its steps end, from the
  // hooks the kill tests use (the rewrite's own steps, then the delete's).
  static QElapsedTimer stepClock;
  static QList<QPair<QString, double>> marks;
  const auto mark = [](const QString& what) { marks.append({what, ms(stepClock)}); };
  testhooks::rewriteStep = [mark](store::RewriteStep step) {
    static const char* const names[] = {"temporary copy opened", "survivors written", "copy flushed (fsync)",
                                        "copy renamed"};
    mark(QString::fromLatin1(names[int(step)]));
    return false;
  };
  testhooks::deleteStep = [](int step) {
    static const char* const names[] = {"", "records copied", "index written", "journal committed",
                                        "records renamed", "index renamed", "originals removed", "journal cleared"};
    marks.append({QString::fromLatin1(names[std::clamp(step, 0, 7)]), ms(stepClock)});
  };
  for (int round = 0; round < 3; ++round) {
    QThreadPool::globalInstance()->waitForDone();  // the last delete's old file is gone
    copies << plainCopyMs(file, file + QStringLiteral(".copy"), true);
    clickMs(v, kRecords / 2, false);
    marks.clear();
    t.start();
    stepClock.start();
    v->Command3->click();
    QCoreApplication::processEvents();
    deletes << ms(t);
    QStringList steps;
    double before = 0;
    for (const auto& [what, at] : marks) {
      steps << QStringLiteral("%1 +%2").arg(what).arg(at - before, 0, 'f', 1);
      before = at;
    }
    steps << QStringLiteral("list updated +%1").arg(deletes.last() - before, 0, 'f', 1);
    say(QStringLiteral("  where the delete's time went (ms): ") + steps.join(QStringLiteral(", ")));
    say(QStringLiteral("round %1: plain copy (copy_file_range) + fsync %2 ms, delete one mail %3 ms, %4 rows left")
            .arg(round + 1)
            .arg(copies.last(), 0, 'f', 1)
            .arg(deletes.last(), 0, 'f', 1)
            .arg(v->mailList->rowCount()));
  }
  testhooks::msgBox = nullptr;
  testhooks::rewriteStep = nullptr;
  testhooks::deleteStep = nullptr;
  std::sort(copies.begin(), copies.end());
  std::sort(deletes.begin(), deletes.end());
  say(QStringLiteral("delete one of %1 (question answered at once, rewrite with fsync, list updated): "
                     "median %2 ms = %3 × the median plain copy (%4 ms)")
          .arg(kRecords)
          .arg(deletes[1], 0, 'f', 1)
          .arg(deletes[1] / copies[1], 0, 'f', 2)
          .arg(copies[1], 0, 'f', 1));

  // Where the time would go without the viewer's care: the store's rewrite
  // on its own (the old file freed before it returns), and reading the list.
  QThreadPool::globalInstance()->waitForDone();
  t.start();
  const store::StoreResult rewritten = store::deleteRecords(file, paths::resolve(paths::kReceivedMailTemp), L,
                                                            store::MailRecord::kFlagOffset, {kRecords / 2});
  const double rewriteMs = ms(t);
  t.start();
  const viewer::MailListScan scan = viewer::scanReceivedMail();
  const double scanMs = ms(t);
  say(QStringLiteral("for comparison: the rewrite alone %1 ms (%2), reading the whole list again %3 ms (%4 rows)")
          .arg(rewriteMs, 0, 'f', 1)
          .arg(rewritten.ok ? QStringLiteral("ok") : rewritten.failure.cause)
          .arg(scanMs, 0, 'f', 1)
          .arg(scan.rows));

  say(QStringLiteral("resident memory: %1 MB before the viewer, %2 MB now, peak %3 MB")
          .arg(rssBefore / 1024.0, 0, 'f', 1)
          .arg(currentRssKb() / 1024.0, 0, 'f', 1)
          .arg(peakRssKb() / 1024.0, 0, 'f', 1));
  delete v;
  return 0;
}
