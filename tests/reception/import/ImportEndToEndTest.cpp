// tomoshibi --import, the real program: mail a check brought from the
// local Dovecot is known again when the same mails come in from a Maildir;
// an import killed at each of its steps, or stopped by a full disk, then
// run again, stores every mail once, each with its original, and nothing
// else; a check running meanwhile leaves everything as it was.
#include "platform/Paths.h"
#include "platform/Text.h"
#include "store/RecordFile.h"
#include "store/Records.h"
#include "store/received/CheckLock.h"
#include "store/received/Originals.h"
#include "support/MailServers.h"
#include "support/TempHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/resource.h>

namespace {

constexpr int kMails = 30;
constexpr int kBatch = 7;

QByteArray mailOf(int i) {
  const QByteArray s = "imp-" + QByteArray::number(i).rightJustified(2, '0');
  QByteArray m = "From: someone@example.jp\nSubject: " + s + "\nMessage-ID: <" + s +
                 "@example.jp>\nDate: Mon, 1 Apr 2024 10:00:00 +0900\nMIME-Version: 1.0\n";
  if (i % 10 != 0) return m + "Content-Type: text/plain\n\nFrom the body of " + s + "\n>From quoted\n";
  return m + "Content-Type: multipart/mixed; boundary=\"KB\"\n\n--KB\nContent-Type: text/plain\n\nsee file\n"
             "--KB\nContent-Type: application/octet-stream\nContent-Disposition: attachment; filename=\"f-" +
         s + ".bin\"\nContent-Transfer-Encoding: base64\n\n" + QByteArray(5000, char(i)).toBase64() + "\n--KB--\n";
}

QByteArray crlf(QByteArray lf) { return lf.replace("\n", "\r\n"); }

RunResult import(const TempHome& home, const QString& path, const QStringList& env = {}) {
  QStringList e = env;
  e << QStringLiteral("TOMOSHIBI_TEST_BATCH=%1").arg(kBatch);
  return runProgram({QStringLiteral("--home"), home.path(), QStringLiteral("--import"), path}, home.path(), 60000, e);
}

// Every record's subject, each checked against its original.
QStringList storedSubjects(qint64* originalBytes = nullptr) {
  store::RecordFile f(paths::resolve(paths::kReceivedMailFile), store::MailRecord::kLength);
  QStringList out;
  if (!f.open()) return out;
  EXPECT_EQ(f.byteLength() % store::MailRecord::kLength, 0) << "a partial record";
  received::OriginalArchive archive;
  EXPECT_TRUE(archive.load());
  QByteArray raw;
  qint64 bytes = 0;
  for (int n = 1; f.read(n, raw) == store::ReadResult::Ok; ++n) {
    const QString s = text::trimSpaces(store::MailRecord(raw).subject());
    out << s;
    const std::optional<received::OriginalEntry> e = archive.forRecord(n, raw);
    if (!e) {
      ADD_FAILURE() << "no original for " << s.toStdString();
      continue;
    }
    bytes += e->length;
    const QByteArray original = archive.read(*e);
    // The mbox gives the mail back with a "From " line unquoted.
    QByteArray want = crlf(mailOf(s.mid(4).toInt()));
    EXPECT_EQ(original, want) << s.toStdString();
  }
  EXPECT_EQ(archive.entries().size(), out.size()) << "an original without its record";
  if (originalBytes) *originalBytes = bytes;
  return out;
}

class ImportEndToEnd : public ::testing::Test {
 protected:
  QString mbox() {
    QByteArray file;
    for (int i = 1; i <= kMails; ++i) {
      QByteArray m = mailOf(i);
      m.replace("\n>From quoted\n", "\n>>From quoted\n");  // quoted one level more, as the export does
      m.replace("\nFrom the body", "\n>From the body");
      file += "From someone@example.jp Mon Apr  1 10:00:00 2024 tomoshibi-mboxrd\n" + m + "\n";
    }
    const QString path = dir_.filePath(QStringLiteral("in.mbox"));
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(file);
    return path;
  }
  QTemporaryDir dir_;
};

TEST_F(ImportEndToEnd, MailACheckBroughtFromTheServerIsKnownInAMaildir) {
  MailServers servers;
  TempHome home;
  writeServerSettings(home.path(), QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.1:%1").arg(servers.pop3Port()),
                      servers.address(), 0);
  writeAccount(home.path(), servers.user(), servers.password());
  trustTestCa(servers, home.path());
  for (int i = 1; i <= 3; ++i) servers.deliver(mailOf(i));
  const RunResult check =
      runProgram({QStringLiteral("--home"), home.path(), QStringLiteral("--check")}, home.path(), 60000);
  ASSERT_EQ(check.exitCode, 0) << check.err.toStdString();
  ASSERT_EQ(storedSubjects().size(), 3);

  // The same three in another program's Maildir, LF lines, and a new one.
  for (int i = 1; i <= 4; ++i) {
    const QString sub = i % 2 ? QStringLiteral("cur") : QStringLiteral("new");
    QDir().mkpath(dir_.filePath(QStringLiteral("md/") + sub));
    QFile f(dir_.filePath(QStringLiteral("md/%1/17000000%2.M%2.host").arg(sub).arg(i)));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(mailOf(i));
  }
  const RunResult r = import(home, dir_.filePath(QStringLiteral("md")));
  EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
  EXPECT_EQ(r.out.trimmed(), QStringLiteral("取り込み 1件、重複 3件、読めないもの 0件"));
  EXPECT_EQ(storedSubjects(), (QStringList{"imp-01", "imp-02", "imp-03", "imp-04"}));
}

TEST_F(ImportEndToEnd, AKilledImportRunAgainStoresTheRestOnce) {
  const QString file = mbox();
  struct Point {
    const char* step;
    int at;
  };
  // Per mail: its original, its record, its being counted; the journal's
  // beginning, a line per attached file and a commit per batch.
  const QList<Point> points{{"original", 1},  {"original", 15}, {"record", 1},   {"record", 8},
                            {"record", 30},   {"imported", 7},  {"imported", 30}, {"journal", 1},
                            {"journal", 2},   {"journal", 4},   {"journal", 9}};
  for (const Point& p : points) {
    SCOPED_TRACE(QStringLiteral("killed at %1:%2").arg(QLatin1String(p.step)).arg(p.at).toStdString());
    TempHome home;
    const RunResult killed =
        import(home, file, {QStringLiteral("TOMOSHIBI_TEST_KILL_AT=%1:%2").arg(QLatin1String(p.step)).arg(p.at)});
    EXPECT_EQ(killed.exitCode, -1) << "not killed: the step passes fewer times\n" << killed.err.toStdString();
    const RunResult rest = import(home, file);
    EXPECT_EQ(rest.exitCode, 0) << rest.err.toStdString();
    qint64 originalBytes = 0;
    QStringList stored = storedSubjects(&originalBytes);
    // No bytes of a mail cut off stay in the archive.
    EXPECT_EQ(QFileInfo(received::originalsPath()).size(), originalBytes);
    stored.sort();
    QStringList want;
    for (int i = 1; i <= kMails; ++i) want << QStringLiteral("imp-%1").arg(i, 2, 10, QChar(u'0'));
    EXPECT_EQ(stored, want);
    // The second run counts what the first had committed as there already.
    const QStringList counts = rest.out.trimmed().split(QStringLiteral("、"));
    ASSERT_EQ(counts.size(), 3) << rest.out.toStdString();
    EXPECT_EQ(counts[0].mid(5).chopped(1).toInt() + counts[1].mid(3).chopped(1).toInt(), kMails) << rest.out.toStdString();
    QStringList files = QDir(home.file(paths::kAttachFolder)).entryList(QDir::Files | QDir::Hidden);
    files.sort();
    EXPECT_EQ(files, (QStringList{"f-imp-10.bin", "f-imp-20.bin", "f-imp-30.bin"}));
  }
}

TEST_F(ImportEndToEnd, ACheckRunningMeanwhileEndsTheImportWithTheCheckBusyCode) {
  const QString file = mbox();
  TempHome home;
  {
    const received::CheckLock held = received::CheckLock::tryAcquire();
    ASSERT_EQ(held.state(), received::CheckLock::State::Held);
    const RunResult busy = import(home, file);
    EXPECT_EQ(busy.exitCode, 75) << busy.err.toStdString();
    EXPECT_TRUE(busy.out.isEmpty());
    EXPECT_TRUE(storedSubjects().isEmpty());
  }
  EXPECT_EQ(import(home, file).exitCode, 0);
  EXPECT_EQ(storedSubjects().size(), kMails);
}

TEST_F(ImportEndToEnd, AFullDiskStopsTheImportAndTheRestComesWithRoomAgain) {
  const QString file = mbox();
  TempHome home;
  // The received-mail file may grow to 12 records: the 13th write is cut
  // short by the limit (and SIGXFSZ, which must not end the import).
  QProcess p;
  p.setWorkingDirectory(home.path());
  p.setChildProcessModifier([] {
    const rlim_t size = 12 * store::MailRecord::kLength + 1000;
    const rlimit l{size, size};
    ::setrlimit(RLIMIT_FSIZE, &l);
  });
  p.start(QStringLiteral(TOMOSHIBI_EXE), {QStringLiteral("--home"), home.path(), QStringLiteral("--import"), file});
  ASSERT_TRUE(p.waitForStarted() && p.waitForFinished(60000));
  ASSERT_EQ(p.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(p.exitCode(), 1);
  const QString err = QString::fromUtf8(p.readAllStandardError());
  EXPECT_TRUE(err.contains(QStringLiteral("メールを保存できないため、取り込みを止めました"))) << err.toStdString();
  const QStringList first = storedSubjects();
  EXPECT_GT(first.size(), 0);
  EXPECT_LE(first.size(), 12);

  const RunResult rest = import(home, file);
  EXPECT_EQ(rest.exitCode, 0) << rest.err.toStdString();
  QStringList all = storedSubjects();
  EXPECT_EQ(all.mid(0, first.size()), first);
  all.sort();
  QStringList want;
  for (int i = 1; i <= kMails; ++i) want << QStringLiteral("imp-%1").arg(i, 2, 10, QChar(u'0'));
  EXPECT_EQ(all, want);
  QStringList files = QDir(home.file(paths::kAttachFolder)).entryList(QDir::Files | QDir::Hidden);
  files.sort();
  EXPECT_EQ(files, (QStringList{"f-imp-10.bin", "f-imp-20.bin", "f-imp-30.bin"}));
}

}  // namespace
