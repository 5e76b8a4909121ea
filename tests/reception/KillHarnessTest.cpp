// The kill harness: a check of 50 mails from the real Dovecot, killed with
// SIGKILL at each distinct step in turn (after connecting, after a RETR,
// after its original was appended, after a record write, after a journal
// write, after a DELE answer, before QUIT, after QUIT was answered), then a
// check that runs to its end. Every mail must then be stored exactly once,
// no record partial, no attached file twice, nothing left on the server;
// every record has its original, byte for byte, and the archive holds
// nothing else.
//
// The default run kills at the first, second, middle and last passing of
// each step; the long sweep (TOMOSHIBI_LONG_TESTS=1 ctest -L long) kills at
// every one. With mail left on the server, kills while storing and leaving
// and while deleting there once the days are over (the day set through
// TOMOSHIBI_TEST_TODAY) are followed the same way.
#include "platform/Paths.h"
#include "platform/Text.h"
#include "store/received/Originals.h"
#include "store/RecordFile.h"
#include "store/Records.h"
#include "support/MailServers.h"
#include "support/TempHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <gtest/gtest.h>

namespace {

constexpr int kMails = 50;
constexpr int kBatch = 10;
constexpr int kWithFile = 10;  // every tenth mail carries a file

QString subject(int i) { return QStringLiteral("kill-%1").arg(i, 2, 10, QChar(u'0')); }

QByteArray mailOf(int i) {
  const QByteArray s = subject(i).toLatin1();
  QByteArray head = "From: harness@example.jp\r\nSubject: " + s + "\r\nMessage-ID: <" + s +
                    "@example.jp>\r\nDate: Mon, 1 Apr 2024 10:00:00 +0900\r\nMIME-Version: 1.0\r\n";
  if (i % kWithFile != 0)
    return head + "Content-Type: text/plain\r\n\r\n" + QByteArray(1500, 'a' + char(i % 26)) + "\r\n";
  return head + "Content-Type: multipart/mixed; boundary=\"KB\"\r\n\r\n--KB\r\nContent-Type: text/plain\r\n\r\nsee file\r\n"
                "--KB\r\nContent-Type: application/octet-stream\r\nContent-Disposition: attachment; filename=\"file-" +
         s + ".bin\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" + QByteArray(20000, char(i)).toBase64() +
         "\r\n--KB--\r\n";
}

struct Point {
  const char* step;
  int at;
};

// How often a check of the 50 mails passes each step.
QList<Point> allPoints() {
  const QList<std::pair<const char*, int>> steps{
      {"connected", 1}, {"retrieved", kMails}, {"original", kMails}, {"record", kMails},
      // the beginning, one line per attached file, one commit per batch
      {"journal", 1 + kMails / kWithFile + kMails / kBatch},
      {"dele", kMails}, {"before-quit", 1}, {"quit-answered", 1}};
  QList<Point> out;
  for (const auto& [step, count] : steps)
    for (int k = 1; k <= count; ++k) out.append({step, k});
  return out;
}

QList<Point> sampledPoints() {
  QList<Point> out;
  for (const Point& p : allPoints()) {
    int count = 0;
    for (const Point& q : allPoints()) count += qstrcmp(q.step, p.step) == 0;
    if (p.at == 1 || p.at == 2 || p.at == (count + 1) / 2 || p.at == count) out.append(p);
  }
  return out;
}

class KillHarness : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { servers_ = new MailServers; }
  static void TearDownTestSuite() {
    delete servers_;
    servers_ = nullptr;
  }

  void clearMailbox() {
    for (const char* sub : {"/new", "/cur"}) {
      QDir d(servers_->maildir() + QLatin1String(sub));
      for (const QString& f : d.entryList(QDir::Files)) d.remove(f);
    }
  }

  RunResult check(const TempHome& home, const QStringList& env) {
    QStringList e = env;
    e << QStringLiteral("TOMOSHIBI_TEST_BATCH=%1").arg(kBatch);
    return runProgram({QStringLiteral("--home"), home.path(), QStringLiteral("--check")}, home.path(), 60000, e);
  }

  // A program folder that reaches the test mailbox, which holds the 50
  // mails; `leaveLines` go after the four lines of pelkit.ini.
  void prepare(const TempHome& home, const QByteArray& leaveLines = {}) {
    writeServerSettings(home.path(), QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.1:%1").arg(servers_->pop3Port()),
                        servers_->address(), 0);
    if (!leaveLines.isEmpty()) {
      QFile f(home.path() + QStringLiteral("/pelkit.ini"));
      ASSERT_TRUE(f.open(QIODevice::Append));
      f.write(leaveLines);
    }
    writeAccount(home.path(), servers_->user(), servers_->password());
    trustTestCa(*servers_, home.path());
    clearMailbox();
    for (int i = 1; i <= kMails; ++i) servers_->deliver(mailOf(i));
  }

  // A check killed at `p`, then one that runs to its end.
  void killThenFinish(const TempHome& home, const Point& p, const QStringList& env = {}) {
    const RunResult killed =
        check(home, QStringList(env) << QStringLiteral("TOMOSHIBI_TEST_KILL_AT=%1:%2").arg(QLatin1String(p.step)).arg(p.at));
    ASSERT_TRUE(killed.finished);
    EXPECT_EQ(killed.exitCode, -1) << "not killed: the step passes fewer times\n" << killed.err.toStdString();
    const RunResult rest = check(home, env);
    ASSERT_TRUE(rest.finished);
    EXPECT_EQ(rest.exitCode, 0) << rest.err.toStdString();
  }

  // One kill, one check to the end, and the verdict.
  void killAt(const Point& p) {
    SCOPED_TRACE(QStringLiteral("killed at %1:%2").arg(QLatin1String(p.step)).arg(p.at).toStdString());
    TempHome home;
    prepare(home);
    killThenFinish(home, p);
    verify(home, 0);
  }

  // Mail left on the server: killed while storing and leaving, then killed
  // when the days are over and the mails go.
  void killLeaving(const Point& storing, const Point& deleting) {
    SCOPED_TRACE(QStringLiteral("killed at %1:%2 then %3:%4")
                     .arg(QLatin1String(storing.step)).arg(storing.at)
                     .arg(QLatin1String(deleting.step)).arg(deleting.at).toStdString());
    TempHome home;
    prepare(home, "LEAVE_ON_SERVER=1\r\nLEAVE_DELETE_AFTER=1\r\nLEAVE_DAYS=2\r\nLEAVE_DELETE_WITH_HERE=0\r\n");
    const QString day0 = QStringLiteral("TOMOSHIBI_TEST_TODAY=2026-12-09");
    killThenFinish(home, storing, {day0});
    verify(home, kMails);
    // A check the next day finds every one of them left, and stores nothing.
    const RunResult again = check(home, {QStringLiteral("TOMOSHIBI_TEST_TODAY=2026-12-10")});
    EXPECT_EQ(again.exitCode, 0) << again.err.toStdString();
    verify(home, kMails);
    killThenFinish(home, deleting, {QStringLiteral("TOMOSHIBI_TEST_TODAY=2026-12-11")});
    verify(home, 0);
  }

  // Every mail stored once, whole with its original, `onServer` still there.
  void verify(const TempHome& home, int onServer) {

    store::RecordFile f(home.file(paths::kReceivedMailFile), store::MailRecord::kLength);
    ASSERT_TRUE(f.open());
    EXPECT_EQ(f.byteLength() % store::MailRecord::kLength, 0) << "a partial record";
    QStringList stored;
    QByteArray raw;
    received::OriginalArchive archive;
    ASSERT_TRUE(archive.load());
    qint64 originalBytes = 0;
    for (int n = 1; f.read(n, raw) == store::ReadResult::Ok; ++n) {
      const QString s = text::trimSpaces(store::MailRecord(raw).subject());
      stored << s;
      const std::optional<received::OriginalEntry> e = archive.forRecord(n, raw);
      if (!e) {
        ADD_FAILURE() << "no original for " << s.toStdString();
        continue;
      }
      EXPECT_EQ(archive.read(*e), mailOf(s.mid(5).toInt())) << s.toStdString();
      originalBytes += e->length;
    }
    // No original without its record, no bytes of a mail cut off.
    EXPECT_EQ(archive.entries().size(), stored.size());
    EXPECT_EQ(QFileInfo(received::originalsPath()).size(), originalBytes);
    stored.sort();
    QStringList want;
    for (int i = 1; i <= kMails; ++i) want << subject(i);
    EXPECT_EQ(stored, want);
    EXPECT_EQ(servers_->mailboxCount(), onServer);
    QStringList files = QDir(home.file(paths::kAttachFolder)).entryList(QDir::Files | QDir::Hidden);
    files.sort();
    QStringList wantFiles;
    for (int i = kWithFile; i <= kMails; i += kWithFile) wantFiles << QStringLiteral("file-%1.bin").arg(subject(i));
    EXPECT_EQ(files, wantFiles);
  }

  static MailServers* servers_;
};

MailServers* KillHarness::servers_ = nullptr;

}  // namespace

#ifndef KILL_EVERY_STEP
TEST_F(KillHarness, LeavingMailOnTheServerAndDeletingItThereWhenItsDaysAreOver) {
  ASSERT_TRUE(servers_->ok()) << servers_->error().toStdString();
  // Storing and leaving: a mail fetched, a record, a batch's commit, the
  // ledger written, QUIT; deleting: a header looked at, a DELE answered,
  // the ledger written, QUIT answered.
  const QList<std::pair<Point, Point>> pairs{
      {{"retrieved", 1}, {"peeked", 1}},
      {{"record", 25}, {"peeked", kMails}},
      {{"journal", 3}, {"dele", 1}},
      {{"left-saved", 1}, {"dele", kMails}},
      {{"before-quit", 1}, {"left-saved", 1}},
      {{"quit-answered", 1}, {"quit-answered", 1}},
  };
  for (const auto& [storing, deleting] : pairs) killLeaving(storing, deleting);
}

TEST_F(KillHarness, EachKindOfStepAtItsFirstMiddleAndLastPassing) {
  ASSERT_TRUE(servers_->ok()) << servers_->error().toStdString();
  for (const Point& p : sampledPoints()) killAt(p);
}
#else
TEST_F(KillHarness, EveryStepInTurnWhileLeavingMailOnTheServer) {
  if (!qEnvironmentVariableIsSet("TOMOSHIBI_LONG_TESTS")) GTEST_SKIP() << "set TOMOSHIBI_LONG_TESTS=1 to run";
  ASSERT_TRUE(servers_->ok()) << servers_->error().toStdString();
  for (const Point& p : allPoints()) {
    // No DELE while storing, and one QUIT whichever way.
    if (qstrcmp(p.step, "dele") == 0) continue;
    killLeaving(p, {"peeked", p.at <= kMails ? p.at : 1});
  }
  for (int k = 1; k <= kMails; ++k) killLeaving({"connected", 1}, {"dele", k});
}

TEST_F(KillHarness, EveryStepInTurn) {
  if (!qEnvironmentVariableIsSet("TOMOSHIBI_LONG_TESTS")) GTEST_SKIP() << "set TOMOSHIBI_LONG_TESTS=1 to run";
  ASSERT_TRUE(servers_->ok()) << servers_->error().toStdString();
  for (const Point& p : allPoints()) killAt(p);
}
#endif
