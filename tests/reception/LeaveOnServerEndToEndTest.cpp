// Mail left on the server, through the real program (tomoshibi --check)
// against the local Dovecot and, for IDs that do not last, the scripted
// peer: the days on the server counted with a clock the test sets
// (TOMOSHIBI_TEST_TODAY), "delete here deletes there", and every mail
// stored once whatever the server does with its IDs.
#include "platform/Paths.h"
#include "platform/Text.h"
#include "store/RecordFile.h"
#include "store/Records.h"
#include "store/received/LeftOnServer.h"
#include "store/received/ReceivedStore.h"
#include "support/MailServers.h"
#include "support/Pop3Peer.h"
#include "support/TempHome.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <gtest/gtest.h>
#include <memory>

namespace {

QByteArray mailOf(const QByteArray& subject) {
  return "From: leave@example.jp\r\nSubject: " + subject + "\r\nMessage-ID: <" + subject +
         "@example.jp>\r\nDate: Mon, 1 Apr 2024 10:00:00 +0900\r\n\r\nbody of " + subject + "\r\n";
}

class LeaveOnServerEndToEnd : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { servers_ = new MailServers; }
  static void TearDownTestSuite() {
    delete servers_;
    servers_ = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(servers_->ok()) << servers_->error().toStdString();
    fresh();
  }
  // A new program folder and an empty mailbox.
  void fresh() {
    home_.reset();
    home_ = std::make_unique<TempHome>();
    for (const char* sub : {"/new", "/cur"}) {
      QDir d(servers_->maildir() + QLatin1String(sub));
      for (const QString& f : d.entryList(QDir::Files)) d.remove(f);
    }
  }

  // pelkit.ini reaching Dovecot, the leave-on-server lines after its four.
  void reachDovecot(const QByteArray& leaveLines) {
    writeServerSettings(home_->path(), QStringLiteral("127.0.0.1"),
                        QStringLiteral("127.0.0.1:%1").arg(servers_->pop3Port()), servers_->address(), 0);
    writeAccount(home_->path(), servers_->user(), servers_->password());
    trustTestCa(*servers_, home_->path());
    addLines(leaveLines);
  }
  void addLines(const QByteArray& lines) {
    QFile f(home_->path() + QStringLiteral("/pelkit.ini"));
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write(lines);
  }
  // A check on the day `day` days after 2026-12-09.
  void check(int day) {
    const RunResult r = runProgram({QStringLiteral("--home"), home_->path(), QStringLiteral("--check")}, home_->path(),
                                   60000,
                                   {QStringLiteral("TOMOSHIBI_TEST_TODAY=") +
                                    QDate(2026, 12, 9).addDays(day).toString(Qt::ISODate)});
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
  }
  QStringList stored() const {
    QStringList out;
    store::RecordFile f(home_->file(paths::kReceivedMailFile), store::MailRecord::kLength);
    QByteArray raw;
    if (!f.open()) return out;
    for (int n = 1; f.read(n, raw) == store::ReadResult::Ok; ++n)
      out << text::trimSpaces(store::MailRecord(raw).subject());
    return out;
  }

  static MailServers* servers_;
  std::unique_ptr<TempHome> home_;
};

MailServers* LeaveOnServerEndToEnd::servers_ = nullptr;

const QStringList kThree{QStringLiteral("one"), QStringLiteral("two"), QStringLiteral("three")};

}  // namespace

TEST_F(LeaveOnServerEndToEnd, OneDayAndThreeDaysOnTheServerCountedFromTheDayEachMailWasStored) {
  for (int days : {1, 3}) {
    SCOPED_TRACE(days);
    fresh();
    reachDovecot("LEAVE_ON_SERVER=1\r\nLEAVE_DELETE_AFTER=1\r\nLEAVE_DAYS=" + QByteArray::number(days) +
                 "\r\nLEAVE_DELETE_WITH_HERE=0\r\n");
    for (const QString& s : kThree.mid(0, 2)) servers_->deliver(mailOf(s.toLatin1()));
    // Day 0: stored, left; checked again that day, nothing comes twice.
    check(0);
    check(0);
    EXPECT_EQ(stored(), kThree.mid(0, 2));
    EXPECT_EQ(servers_->mailboxCount(), 2);
    // A mail stored a day later has its own count.
    servers_->deliver(mailOf("three"));
    check(1);
    EXPECT_EQ(stored(), kThree);
    // One day on: a one-day limit has taken the first two, not the third.
    for (int d = 1; d < days; ++d) check(d);
    EXPECT_EQ(servers_->mailboxCount(), days == 1 ? 1 : 3);
    check(days);
    EXPECT_EQ(servers_->mailboxCount(), 1);
    check(days + 1);
    EXPECT_EQ(servers_->mailboxCount(), 0);
    EXPECT_EQ(stored(), kThree);
    received::LeftLedger l;
    ASSERT_TRUE(received::loadLeftLedger(&l));
    EXPECT_TRUE(l.entries.isEmpty());
  }
}

TEST_F(LeaveOnServerEndToEnd, WithoutADayLimitMailStaysAndAFileOfTheFourLinesDeletesOnceStored) {
  reachDovecot("LEAVE_ON_SERVER=1\r\n");
  for (const QString& s : kThree) servers_->deliver(mailOf(s.toLatin1()));
  check(0);
  check(365 * 3);
  EXPECT_EQ(servers_->mailboxCount(), 3);
  EXPECT_EQ(stored(), kThree);
  // The four lines alone: every mail goes once stored, the left ones too.
  writeServerSettings(home_->path(), QStringLiteral("127.0.0.1"),
                      QStringLiteral("127.0.0.1:%1").arg(servers_->pop3Port()), servers_->address(), 0);
  servers_->deliver(mailOf("four"));
  check(0);
  EXPECT_EQ(servers_->mailboxCount(), 0);
  EXPECT_EQ(stored(), QStringList(kThree) << QStringLiteral("four"));
}

TEST_F(LeaveOnServerEndToEnd, AMailDeletedHereIsDeletedThereAtTheNextCheck) {
  reachDovecot("LEAVE_ON_SERVER=1\r\nLEAVE_DELETE_WITH_HERE=1\r\n");
  for (const QString& s : kThree) servers_->deliver(mailOf(s.toLatin1()));
  check(0);
  ASSERT_EQ(servers_->mailboxCount(), 3);
  // As the viewer's "    一件削除" does with the choice on.
  ASSERT_TRUE(received::ReceivedStore::remove({2}, received::receivedFiles(), true).ok());
  EXPECT_EQ(servers_->mailboxCount(), 3);  // not before the next check
  check(0);
  EXPECT_EQ(servers_->mailboxCount(), 2);
  EXPECT_EQ(stored(), (QStringList{QStringLiteral("one"), QStringLiteral("three")}));
  // And all of them, as "   全件削除" does.
  ASSERT_TRUE(received::ReceivedStore::removeAll(received::receivedFiles(), true).ok());
  check(0);
  EXPECT_EQ(servers_->mailboxCount(), 0);
  EXPECT_TRUE(stored().isEmpty());
}

TEST_F(LeaveOnServerEndToEnd, AServerThatReusesIdsAndRefusesTopHasEveryMailStoredOnce) {
  // IDs are message numbers there: a mail gets another once one before it
  // goes, and a new mail the ID of one deleted.
  Pop3Peer peer(QStringLiteral("reuse-uidl"));
  ASSERT_TRUE(peer.ok()) << peer.error().toStdString();
  peer.setUp(home_->path());
  addLines("LEAVE_ON_SERVER=1\r\nLEAVE_DELETE_WITH_HERE=1\r\n");
  peer.add(QStringLiteral("-"), QStringLiteral("one"));
  peer.add(QStringLiteral("-"), QStringLiteral("two"));
  check(0);
  check(0);
  EXPECT_EQ(stored(), kThree.mid(0, 2));
  EXPECT_EQ(peer.state().subjects.size(), 2);
  // "one" deleted here goes there; "two" becomes ID 1, "three" comes as 2.
  ASSERT_TRUE(received::ReceivedStore::remove({1}, received::receivedFiles(), true).ok());
  check(0);
  EXPECT_EQ(peer.state().subjects, QStringList{QStringLiteral("two")});
  peer.add(QStringLiteral("-"), QStringLiteral("three"));
  check(0);
  check(0);
  EXPECT_EQ(stored(), kThree.mid(1));
  EXPECT_EQ(peer.state().subjects, kThree.mid(1));
}
