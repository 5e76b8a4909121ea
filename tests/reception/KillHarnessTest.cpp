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
// every one.
#include "platform/Paths.h"
#include "platform/Text.h"
#include "store/received/Originals.h"
#include "store/RecordFile.h"
#include "store/Records.h"
#include "support/MailServers.h"
#include "support/TempHome.h"

#include <QDir>
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

  // One kill, one check to the end, and the verdict.
  void killAt(const Point& p) {
    SCOPED_TRACE(QStringLiteral("killed at %1:%2").arg(QLatin1String(p.step)).arg(p.at).toStdString());
    TempHome home;
    writeServerSettings(home.path(), QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.1:%1").arg(servers_->pop3Port()),
                        servers_->address(), 0);
    writeAccount(home.path(), servers_->user(), servers_->password());
    trustTestCa(*servers_, home.path());
    clearMailbox();
    for (int i = 1; i <= kMails; ++i) servers_->deliver(mailOf(i));

    const RunResult killed =
        check(home, {QStringLiteral("TOMOSHIBI_TEST_KILL_AT=%1:%2").arg(QLatin1String(p.step)).arg(p.at)});
    ASSERT_TRUE(killed.finished);
    EXPECT_EQ(killed.exitCode, -1) << "not killed: the step passes fewer times\n" << killed.err.toStdString();
    const RunResult rest = check(home, {});
    ASSERT_TRUE(rest.finished);
    EXPECT_EQ(rest.exitCode, 0) << rest.err.toStdString();

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
    EXPECT_EQ(servers_->mailboxCount(), 0);
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
TEST_F(KillHarness, EachKindOfStepAtItsFirstMiddleAndLastPassing) {
  ASSERT_TRUE(servers_->ok()) << servers_->error().toStdString();
  for (const Point& p : sampledPoints()) killAt(p);
}
#else
TEST_F(KillHarness, EveryStepInTurn) {
  if (!qEnvironmentVariableIsSet("TOMOSHIBI_LONG_TESTS")) GTEST_SKIP() << "set TOMOSHIBI_LONG_TESTS=1 to run";
  ASSERT_TRUE(servers_->ok()) << servers_->error().toStdString();
  for (const Point& p : allPoints()) killAt(p);
}
#endif
