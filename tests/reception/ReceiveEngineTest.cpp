// The receive engine on its own (no display): against a mailbox in memory,
// the faults that must lose nothing, store nothing twice and hold nothing
// up, and what it reports of them (in codes: the words are the sinks').
#include "platform/Paths.h"
#include "platform/TestHooks.h"
#include "platform/Text.h"
#include "reception/CheckWords.h"
#include "reception/IdentityLedger.h"
#include "reception/ReceiveEngine.h"
#include "settings/files/AccountSettings.h"
#include "store/RecordFile.h"
#include "store/Records.h"
#include "store/received/LeftOnServer.h"
#include "store/received/ReceiveJournal.h"
#include "store/received/ReceivedStore.h"
#include "support/FakePop3.h"
#include "support/TempHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <gtest/gtest.h>
#include <optional>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using reception::CheckCode;
using reception::CheckOutcome;
using reception::CheckStatus;
using reception::LeftMail;

namespace {

struct MemorySink : reception::CheckSink {
  QList<reception::CheckFailure> errors;
  QList<reception::CheckProblem> notices;
  QList<CheckStatus> statuses;
  QList<int> counts;
  int progressCalls = 0;
  int stopAfterProgress = -1;  // stopRequested() turns true after this many progress calls

  bool canAsk() const override { return false; }
  void checking() override {}
  void status(CheckStatus s) override { statuses << s; }
  void count(int n) override { counts << n; }
  void event() override {}
  void error(const reception::CheckFailure& f) override { errors << f; }
  void notice(const reception::CheckProblem& p) override { notices << p; }
  void progress(const reception::CheckProgress&) override { ++progressCalls; }
  bool stopRequested() override { return stopAfterProgress >= 0 && progressCalls > stopAfterProgress; }

  // The problem of the first failure with this code; none when it has none.
  std::optional<reception::CheckProblem> problem(CheckCode code) const {
    if (errors.isEmpty()) return std::nullopt;
    for (const reception::CheckProblem& p : errors[0].problems)
      if (p.code == code) return p;
    return std::nullopt;
  }
};

QByteArray mail(const QByteArray& subject, const QByteArray& messageId = QByteArray()) {
  return "From: a@example.jp\r\nSubject: " + subject + "\r\nMessage-ID: <" +
         (messageId.isEmpty() ? subject : messageId) + "@example.jp>\r\n\r\nbody of " + subject + "\r\n";
}

class ReceiveEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    AccountSettings() = AccountSettingsRecord{};
    AccountSettings().Pop3Server = QStringLiteral("pop.example");
    ASSERT_TRUE(WriteAccountFile(QStringLiteral("tomo"), QStringLiteral("secret"), true));
    box_ = std::make_shared<FakeMailbox>();
    fake_ = FakeMailbox::install(box_);
  }
  void TearDown() override {
    testhooks::pop3Limits = nullptr;
    testhooks::afterJournalWrite = nullptr;
    qunsetenv("TOMOSHIBI_TEST_BATCH");
  }

  CheckOutcome check() {
    sink_ = MemorySink{};
    return reception::runCheck(sink_);
  }
  QStringList subjects() const {
    QStringList out;
    store::RecordFile f(paths::resolve(paths::kReceivedMailFile), store::MailRecord::kLength);
    QByteArray raw;
    if (!f.open()) return out;
    for (int n = 1; f.read(n, raw) == store::ReadResult::Ok; ++n)
      out << text::trimSpaces(store::MailRecord(raw).subject());
    return out;
  }
  QStringList onServer() const {
    QStringList u;
    for (const FakeMailbox::Message& m : box_->messages) u << QString::fromLatin1(m.uid);
    return u;
  }
  bool sent(const QByteArray& command) const { return box_->commands.contains(command); }

  TempHome home_;
  std::shared_ptr<FakeMailbox> box_;
  std::unique_ptr<FakeMailbox::Installed> fake_;
  MemorySink sink_;
};

}  // namespace

TEST_F(ReceiveEngine, AServerThatReusesAnIdHasItsNextMailStoredNotDeletedUnread) {
  box_->add("1", mail("first"));
  EXPECT_FALSE(check().failed);
  EXPECT_TRUE(box_->messages.isEmpty());
  // The delete was confirmed: the ID is free again, and the server uses it.
  box_->add("1", mail("second"));
  EXPECT_FALSE(check().failed);
  EXPECT_EQ(subjects(), (QStringList{u"first"_qs, u"second"_qs}));
  EXPECT_TRUE(box_->messages.isEmpty());

  // While a deletion is unconfirmed the ID stays, but a different mail
  // under it is still a new mail.
  box_->add("2", mail("third"));
  box_->breakAtQuit = true;
  check();
  box_->breakAtQuit = false;
  box_->messages = {{"2", mail("fourth")}};
  EXPECT_FALSE(check().failed);
  EXPECT_EQ(subjects(), (QStringList{u"first"_qs, u"second"_qs, u"third"_qs, u"fourth"_qs}));
}

TEST_F(ReceiveEngine, AnUnansweredOrRefusedQuitIsReportedAndNothingComesTwice) {
  box_->add("a", mail("a"));
  box_->breakAtQuit = true;
  EXPECT_TRUE(check().failed);
  ASSERT_EQ(sink_.errors.size(), 1);
  ASSERT_TRUE(sink_.problem(CheckCode::QuitUnanswered));
  EXPECT_EQ(sink_.problem(CheckCode::QuitUnanswered)->host, u"pop.example"_qs);
  box_->breakAtQuit = false;

  box_->refuseQuit = true;
  box_->add("b", mail("b"));
  EXPECT_TRUE(check().failed);
  ASSERT_TRUE(sink_.problem(CheckCode::QuitUnanswered));
  EXPECT_EQ(sink_.problem(CheckCode::QuitUnanswered)->library.code, maillib::Code::Pop3QuitRefused);
  EXPECT_TRUE(sink_.problem(CheckCode::QuitUnanswered)->library.reply.contains(u"cannot commit"_qs));
  box_->refuseQuit = false;

  EXPECT_FALSE(check().failed);
  EXPECT_EQ(subjects(), (QStringList{u"a"_qs, u"b"_qs}));
  EXPECT_TRUE(box_->messages.isEmpty());
}

TEST_F(ReceiveEngine, AMailWhoseIdIsADashDoesNotComeTwice) {
  // "-" is a valid ID, but the files that keep IDs write "-" for none.
  box_->add("-", mail("dash"));
  box_->breakAtQuit = true;
  EXPECT_TRUE(check().failed);
  box_->breakAtQuit = false;
  EXPECT_FALSE(check().failed);
  EXPECT_EQ(subjects(), QStringList{u"dash"_qs});
  EXPECT_TRUE(box_->messages.isEmpty());
}

TEST_F(ReceiveEngine, SizesBeyondTheLimitsAreLeftOnTheServerAndTheRestComes) {
  // A listed size of 2 GB: not even asked for, nothing allocated for it.
  for (const char* u : {"a", "huge", "liar", "d"}) box_->add(u, mail(u));
  box_->listedSize[2] = 2LL * 1024 * 1024 * 1024;
  // A mail far larger than it was listed: read past, not kept.
  box_->messages[2].data += QByteArray(200 * 1024, 'x') + "\r\n";
  box_->listedSize[3] = 100;
  maillib::Pop3Limits limits;
  limits.maxMail = 64 * 1024;
  testhooks::Scoped<maillib::Pop3Limits*> hook(testhooks::pop3Limits, &limits);
  const CheckOutcome out = check();
  EXPECT_TRUE(out.failed);
  EXPECT_EQ(subjects(), (QStringList{u"a"_qs, u"d"_qs}));
  EXPECT_EQ(onServer(), (QStringList{u"huge"_qs, u"liar"_qs}));
  EXPECT_FALSE(sent("RETR 2"));
  ASSERT_EQ(sink_.errors.size(), 1);
  const reception::CheckFailure& f = sink_.errors[0];
  EXPECT_EQ(f.notReceived, 2);
  ASSERT_EQ(f.left.size(), 2);
  EXPECT_EQ(f.left[0].number, 2);
  EXPECT_EQ(f.left[0].why, LeftMail::Why::TooLargeListed);
  EXPECT_EQ(f.left[0].sizeMb, 2048);
  EXPECT_EQ(f.left[1].number, 3);
  EXPECT_EQ(f.left[1].why, LeftMail::Why::TooLarge);
  EXPECT_TRUE(f.problems.isEmpty());
}

TEST_F(ReceiveEngine, MailsAreDeletedOnlyOnceTheirBatchIsCommittedAndCommandsArePipelined) {
  qputenv("TOMOSHIBI_TEST_BATCH", "10");
  for (int i = 1; i <= 35; ++i) box_->add("u" + QByteArray::number(i), mail("m" + QByteArray::number(i)));
  // The commands the server had seen when each batch became durable.
  QList<qsizetype> commitsAt;
  static std::function<void()> onWrite;
  // The batch's beginning is written on the storing thread, while the
  // server's commands are still coming: only its place is kept.
  const std::thread::id checking = std::this_thread::get_id();
  onWrite = [&] { commitsAt << (std::this_thread::get_id() == checking ? box_->commands.size() : -1); };
  testhooks::afterJournalWrite = [] { onWrite(); };
  EXPECT_FALSE(check().failed);
  EXPECT_EQ(subjects().size(), 35);
  EXPECT_TRUE(box_->messages.isEmpty());
  EXPECT_GT(box_->pipelined, 30);
  // Journal writes: the beginning and one commit per batch of ten.
  ASSERT_EQ(commitsAt.size(), 1 + 4);
  for (qsizetype i = 0; i < box_->commands.size(); ++i) {
    const QByteArray& c = box_->commands[i];
    if (!c.startsWith("DELE ")) continue;
    const int n = c.mid(5).toInt();
    const qsizetype batch = (n - 1) / 10;  // its commit is journal write batch + 1
    EXPECT_LT(commitsAt[batch + 1], i + 1) << c.constData();
  }
  EXPECT_EQ(std::count_if(box_->commands.cbegin(), box_->commands.cend(),
                          [](const QByteArray& c) { return c.startsWith("RETR"); }),
            35);
  EXPECT_EQ(QFileInfo(received::receiveJournalPath()).size(), 0);
}

// A mail with a file of `kb` kilobytes, base64 encoded.
QByteArray mailWithFile(const QByteArray& subject, int kb) {
  QByteArray file(kb * 1024, '\0');
  for (int i = 0; i < file.size(); ++i) file[i] = char(i * 7 + i / 251);
  QByteArray encoded = file.toBase64();
  QByteArray lines;
  for (qsizetype i = 0; i < encoded.size(); i += 76) lines += encoded.mid(i, 76) + "\r\n";
  return "From: a@example.jp\r\nSubject: " + subject + "\r\nMessage-ID: <" + subject +
         "@example.jp>\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"FB\"\r\n\r\n"
         "--FB\r\nContent-Type: text/plain\r\n\r\nsee the file\r\n--FB\r\nContent-Type: application/octet-stream; "
         "name=\"f.bin\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
         lines + "--FB--\r\n";
}

TEST_F(ReceiveEngine, MailsLeftOnTheServerAreReportedInTheOrderTheyCameWhileOthersAreStoredAlongside) {
  // Mails are stored on a thread of their own while the next ones come. A
  // mail whose file cannot be written (the attachment folder is gone) is
  // found out there, a refused one at once: the report keeps the server's
  // order, and the batches close after the same mails as ever.
  qputenv("TOMOSHIBI_TEST_BATCH", "2");
  box_->add("a", mail("a"));
  box_->add("b", mailWithFile("b", 2048));
  box_->add("c", mail("c"));
  box_->add("d", mail("d"));
  box_->add("e", mailWithFile("e", 2048));
  box_->add("f", mail("f"));
  box_->add("g", mail("g"));
  box_->refuseRetr = {3, 6};
  ASSERT_TRUE(QDir(paths::resolve(paths::kAttachFolder)).removeRecursively());
  const CheckOutcome out = check();
  EXPECT_TRUE(out.failed);
  EXPECT_EQ(subjects(), (QStringList{u"a"_qs, u"d"_qs, u"g"_qs}));
  EXPECT_EQ(onServer(), (QStringList{u"b"_qs, u"c"_qs, u"e"_qs, u"f"_qs}));
  ASSERT_EQ(sink_.errors.size(), 1);
  const QList<LeftMail>& left = sink_.errors[0].left;
  ASSERT_EQ(left.size(), 4);
  const QList<std::pair<int, LeftMail::Why>> expected{{2, LeftMail::Why::AttachmentFailed},
                                                      {3, LeftMail::Why::Refused},
                                                      {5, LeftMail::Why::AttachmentFailed},
                                                      {6, LeftMail::Why::Refused}};
  for (qsizetype i = 0; i < left.size(); ++i) {
    EXPECT_EQ(left[i].number, expected[i].first) << i;
    EXPECT_EQ(left[i].why, expected[i].second) << i;
  }
  // a and d make the first batch, g the last.
  const qsizetype deleA = box_->commands.indexOf("DELE 1"), deleD = box_->commands.indexOf("DELE 4"),
                  deleG = box_->commands.indexOf("DELE 7");
  EXPECT_GE(deleA, 0);
  EXPECT_LT(deleA, deleD);
  EXPECT_LT(deleD, deleG);
  EXPECT_EQ(out.stored, 3);
}

TEST_F(ReceiveEngine, AStopAskedForEndsTheCheckCleanly) {
  for (const char* u : {"a", "b", "c", "d", "e"}) box_->add(u, mail(u));
  box_->pipelining = false;
  box_->delayMs = 60;
  MemorySink sink;
  sink.stopAfterProgress = 1;
  const CheckOutcome out = reception::runCheck(sink);
  EXPECT_TRUE(out.failed);
  // What was stored is deleted, the rest stays; the session ended with QUIT.
  EXPECT_EQ(subjects().size() + box_->messages.size(), 5);
  EXPECT_GE(box_->messages.size(), 1);
  EXPECT_EQ(box_->commits, 1);
  ASSERT_EQ(sink.errors.size(), 1);
  EXPECT_TRUE(sink.problem(CheckCode::Stopped));
}

TEST_F(ReceiveEngine, AnIncompleteLastRecordIsOverwrittenNotKeptBeforeTheNewOne) {
  home_.write(paths::kReceivedMailFile, QByteArray(store::MailRecord::kLength + 1000, 'z'));
  box_->add("a", mail("a"));
  EXPECT_FALSE(check().failed);
  EXPECT_EQ(QFileInfo(paths::resolve(paths::kReceivedMailFile)).size(), 2 * store::MailRecord::kLength);
  EXPECT_EQ(subjects().last(), u"a"_qs);
}

TEST_F(ReceiveEngine, ProgressComesAtMostTenTimesASecond) {
  for (int i = 1; i <= 20; ++i) box_->add("u" + QByteArray::number(i), mail("m" + QByteArray::number(i)));
  box_->delayMs = 15;
  box_->chunk = 64;
  QElapsedTimer t;
  t.start();
  EXPECT_FALSE(check().failed);
  const double seconds = t.elapsed() / 1000.0;
  EXPECT_GE(sink_.progressCalls, 2);
  EXPECT_LE(sink_.progressCalls, 10 * seconds + 2);
}

TEST_F(ReceiveEngine, TheNewMailCountOfAFailedCheckIsTheMailsItStored) {
  auto shownCount = [this] { return sink_.counts.isEmpty() ? -1 : sink_.counts.last(); };
  box_->add("a", mail("a"));
  box_->add("b", mail("b"));

  // Refused before anything was fetched: a login refused, a LIST refused,
  // a LIST that is not POP3, a connection that breaks.
  box_->password = "other";
  EXPECT_TRUE(check().failed);
  EXPECT_EQ(shownCount(), 0);
  box_->password = "secret";
  box_->refuseList = true;
  EXPECT_TRUE(check().failed);
  EXPECT_EQ(shownCount(), 0);
  EXPECT_EQ(sink_.statuses, QList<CheckStatus>{CheckStatus::NoNewMail});
  ASSERT_EQ(sink_.errors.size(), 1);
  ASSERT_EQ(sink_.errors[0].problems.size(), 1);
  EXPECT_EQ(sink_.errors[0].problems[0].code, CheckCode::MailLibrary);
  box_->refuseList = false;
  box_->garbageList = true;
  EXPECT_TRUE(check().failed);
  EXPECT_EQ(shownCount(), 0);
  box_->garbageList = false;
  box_->endlessLine = 64;  // then silence
  EXPECT_TRUE(check().failed);
  EXPECT_EQ(shownCount(), 0);
  box_->endlessLine = 0;

  // One mail stored, the next broken off: the count is the one stored.
  box_->breakInRetr = 2;
  const CheckOutcome out = check();
  EXPECT_TRUE(out.failed);
  EXPECT_EQ(shownCount(), 1);
  EXPECT_EQ(subjects(), (QStringList{u"a"_qs}));
  // What it stored comes back: the mail, in record 1.
  EXPECT_EQ(out.stored, 1);
  EXPECT_EQ(out.lastRecord, 1);
  EXPECT_EQ(text::trimSpaces(store::MailRecord(out.lastRecordBytes).subject()), u"a"_qs);
}

// The caller's login: a bearer token, asked for before the connection; a
// refused one replaced once by a fresh token on the same connection; a
// second refusal reported, in words that never hold a token.
TEST_F(ReceiveEngine, ABearerLoginComesFromTheCallerAndARefusedTokenIsReplacedOnce) {
  box_->saslListed = {"PLAIN", "XOAUTH2", "OAUTHBEARER"};
  box_->tokens = {"tok-new"};
  box_->add("u1", mail("one"));
  QList<bool> asked;
  const reception::LoginSource source = [&](bool again, std::optional<reception::CheckProblem>*) {
    asked << again;
    return std::optional(maillib::Credentials::bearer(u"tomo@fake.example"_qs, again ? u"tok-new"_qs : u"tok-old"_qs));
  };
  sink_ = MemorySink{};
  CheckOutcome out = reception::runCheck(sink_, source);
  EXPECT_FALSE(out.failed);
  EXPECT_TRUE(sink_.errors.isEmpty());
  EXPECT_EQ(subjects(), QStringList{u"one"_qs});
  EXPECT_EQ(asked, (QList<bool>{false, true}));
  EXPECT_EQ(box_->connections, 1);
  ASSERT_EQ(box_->bearerLogins.size(), 2);
  EXPECT_EQ(box_->bearerLogins[1].token, QByteArray("tok-new"));
  for (const QByteArray& c : box_->commands) EXPECT_FALSE(c.startsWith("USER") || c.startsWith("PASS") || c.startsWith("APOP"));

  // Refused again: the failure says so, the mail stays on the server.
  box_->add("u2", mail("two"));
  box_->tokens.clear();
  asked.clear();
  sink_ = MemorySink{};
  out = reception::runCheck(sink_, source);
  EXPECT_TRUE(out.failed);
  EXPECT_EQ(asked, (QList<bool>{false, true}));
  const std::optional<reception::CheckProblem> p = sink_.problem(CheckCode::MailLibrary);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->library.code, maillib::Code::TokenRefused);
  EXPECT_EQ(p->library.detail, u"invalid_token"_qs);
  const QString words = reception::problemText(*p);
  EXPECT_TRUE(words.contains(u"サインイン"_qs)) << words.toStdString();
  EXPECT_FALSE(words.contains(u"tok-"_qs)) << words.toStdString();
  EXPECT_EQ(onServer(), QStringList{u"u2"_qs});

  // A caller with no token to give says why; nothing is connected.
  const int connections = box_->connections;
  sink_ = MemorySink{};
  out = reception::runCheck(sink_, [](bool, std::optional<reception::CheckProblem>* why) {
    *why = reception::CheckProblem{CheckCode::NoAccount};
    return std::optional<maillib::Credentials>();
  });
  EXPECT_TRUE(out.failed);
  EXPECT_TRUE(sink_.problem(CheckCode::NoAccount));
  EXPECT_EQ(box_->connections, connections);

  // A connection in clear never carries the token, even where a password
  // was allowed without encryption.
  box_->tls = false;
  box_->tokens = {"tok-new"};
  AccountSettings().PlainPop3Server = u"pop.example"_qs;
  const int logins = int(box_->bearerLogins.size());
  sink_ = MemorySink{};
  out = reception::runCheck(sink_, source);
  EXPECT_TRUE(out.failed);
  const std::optional<reception::CheckProblem> plain = sink_.problem(CheckCode::MailLibrary);
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->library.code, maillib::Code::TokenNeedsTls);
  EXPECT_EQ(box_->bearerLogins.size(), logins);
  EXPECT_EQ(onServer(), QStringList{u"u2"_qs});
}

namespace {

// Leaving mail on the server: the choices of the server dialog and the day
// the check takes for today.
class LeaveOnServer : public ReceiveEngine {
 protected:
  void SetUp() override {
    ReceiveEngine::SetUp();
    AccountSettings().LeaveOnServer = true;
    day(0);
  }
  void TearDown() override {
    qunsetenv("TOMOSHIBI_TEST_TODAY");
    testhooks::replaceFile = nullptr;
    ReceiveEngine::TearDown();
  }
  void day(int n) { qputenv("TOMOSHIBI_TEST_TODAY", QDate(2026, 12, 9).addDays(n).toString(Qt::ISODate).toLatin1()); }
  int count(const QByteArray& verb) const {
    return int(std::count_if(box_->commands.cbegin(), box_->commands.cend(),
                             [&](const QByteArray& c) { return c.startsWith(verb + ' '); }));
  }
  received::LeftLedger ledger() const {
    received::LeftLedger l;
    EXPECT_TRUE(received::loadLeftLedger(&l));
    return l;
  }
};

}  // namespace

TEST_F(LeaveOnServer, AMailStaysUntilItsDaysAreOverAndIsStoredOnceKnownByItsHeaderAlone) {
  AccountSettings().LeaveDeleteAfterDays = true;
  AccountSettings().LeaveDays = 3;
  box_->add("u1", mail("one"));
  box_->add("u2", mail("two"));
  EXPECT_EQ(check().stored, 2);
  EXPECT_EQ(count("DELE"), 0);
  EXPECT_EQ(onServer(), (QStringList{u"u1"_qs, u"u2"_qs}));
  const received::LeftLedger l = ledger();
  ASSERT_EQ(l.entries.size(), 2);
  EXPECT_EQ(l.entries[0].id.uid, "u1");
  EXPECT_EQ(l.entries[0].stored, QDate(2026, 12, 9));
  EXPECT_EQ(l.entries[0].account, reception::mailboxKey(u"tomo"_qs, u"pop.example"_qs));

  // The same day, two days on: nothing new, nothing fetched whole.
  for (int d : {0, 2}) {
    day(d);
    box_->commands.clear();
    const CheckOutcome o = check();
    EXPECT_FALSE(o.failed);
    EXPECT_EQ(o.stored, 0);
    EXPECT_EQ(count("RETR"), 0);
    EXPECT_EQ(count("TOP"), 2);
    EXPECT_EQ(count("DELE"), 0);
    EXPECT_EQ(onServer().size(), 2);
  }
  // A third mail comes on the second day; on the third the first two go.
  box_->add("u3", mail("three"));
  EXPECT_EQ(check().stored, 1);
  day(3);
  box_->commands.clear();
  EXPECT_EQ(check().stored, 0);
  EXPECT_EQ(count("DELE"), 2);
  EXPECT_EQ(onServer(), QStringList{u"u3"_qs});
  ASSERT_EQ(ledger().entries.size(), 1);
  EXPECT_EQ(ledger().entries[0].id.uid, "u3");
  day(5);
  check();
  EXPECT_TRUE(box_->messages.isEmpty());
  EXPECT_TRUE(ledger().entries.isEmpty());
  EXPECT_EQ(subjects(), (QStringList{u"one"_qs, u"two"_qs, u"three"_qs}));
}

TEST_F(LeaveOnServer, WithoutADayLimitAMailStaysForYearsAndALeftMailGoesOnceLeavingIsTurnedOff) {
  box_->add("u1", mail("one"));
  check();
  day(400);
  EXPECT_EQ(check().stored, 0);
  EXPECT_EQ(onServer(), QStringList{u"u1"_qs});
  // Deleted elsewhere (a phone): forgotten here too.
  box_->add("u2", mail("two"));
  check();
  box_->messages.removeFirst();
  check();
  ASSERT_EQ(ledger().entries.size(), 1);
  EXPECT_EQ(ledger().entries[0].id.uid, "u2");
  // Turned off: what was left goes as every mail once stored, unfetched.
  AccountSettings().LeaveOnServer = false;
  box_->add("u3", mail("three"));
  box_->commands.clear();
  EXPECT_EQ(check().stored, 1);
  EXPECT_TRUE(box_->messages.isEmpty());
  EXPECT_EQ(count("RETR"), 1);
  EXPECT_TRUE(ledger().entries.isEmpty());
  EXPECT_EQ(subjects(), (QStringList{u"one"_qs, u"two"_qs, u"three"_qs}));
}

TEST_F(LeaveOnServer, ANewMailUnderAReusedIdIsStoredAndALeftMailIsNotStoredAgainWithoutTopOrIds) {
  box_->add("1", mail("first"));
  check();
  // Deleted elsewhere, and the server gives its ID to the next mail while
  // the left one is still listed under the same check: the header tells.
  box_->messages = {{"1", mail("second")}};
  EXPECT_EQ(check().stored, 1);
  EXPECT_EQ(subjects(), (QStringList{u"first"_qs, u"second"_qs}));
  // The same ID twice in one listing (a broken server): each is its own mail.
  box_->messages.append({"1", mail("third")});
  EXPECT_EQ(check().stored, 1);
  EXPECT_EQ(check().stored, 0);

  // A server that lists TOP but refuses it: fetched whole, still stored once.
  box_->top = false;
  box_->commands.clear();
  const CheckOutcome o = check();
  EXPECT_FALSE(o.failed);
  EXPECT_EQ(o.stored, 0);
  EXPECT_EQ(count("RETR"), 2);
  // No IDs at all: the header digest alone, and a mail gone from the
  // server is forgotten once every mail was looked at.
  box_->top = true;
  box_->uidl = false;
  EXPECT_EQ(check().stored, 0);
  box_->add("", mail("fourth"));
  EXPECT_EQ(check().stored, 1);
  EXPECT_EQ(check().stored, 0);
  box_->messages.removeFirst();
  check();
  EXPECT_EQ(subjects(), (QStringList{u"first"_qs, u"second"_qs, u"third"_qs, u"fourth"_qs}));
  // third and fourth still listed: "second" went from the server.
  ASSERT_EQ(ledger().entries.size(), 2);
  EXPECT_TRUE(ledger().entries[0].id.uid == "1" && ledger().entries[1].id.uid.isEmpty());
  // IDs again: the entries without one still hold, by their digests.
  box_->uidl = true;
  EXPECT_EQ(check().stored, 0);
  EXPECT_EQ(subjects().size(), 4);
}

TEST_F(LeaveOnServer, ALedgerThatCannotBeWrittenLosesNothingAndTheNextCheckNotesTheMailAsLeft) {
  box_->add("u1", mail("one"));
  testhooks::replaceFile = [](const QString& temp) { return !temp.contains(u"left-on-server"_qs); };
  const CheckOutcome o = check();
  EXPECT_TRUE(o.failed);
  ASSERT_TRUE(sink_.problem(CheckCode::UidListUnwritable));
  EXPECT_EQ(sink_.problem(CheckCode::UidListUnwritable)->path, received::leftOnServerPath());
  EXPECT_EQ(onServer(), QStringList{u"u1"_qs});
  testhooks::replaceFile = nullptr;
  box_->commands.clear();
  EXPECT_FALSE(check().failed);
  EXPECT_EQ(count("DELE"), 0);
  EXPECT_EQ(onServer(), QStringList{u"u1"_qs});
  EXPECT_EQ(subjects(), QStringList{u"one"_qs});
  ASSERT_EQ(ledger().entries.size(), 1);
  box_->commands.clear();
  EXPECT_EQ(check().stored, 0);
  EXPECT_EQ(count("RETR"), 0);
  EXPECT_EQ(subjects(), QStringList{u"one"_qs});
}

TEST_F(LeaveOnServer, AMailDeletedHereGoesThereAtTheNextCheckEvenWhenTheDeleteWasCutOff) {
  AccountSettings().LeaveDeleteWithHere = true;
  for (const char* s : {"one", "two", "three", "four"}) box_->add(QByteArray("u-") + s, mail(s));
  EXPECT_EQ(check().stored, 4);

  // Deleted with the choice off: it stays there.
  ASSERT_TRUE(received::ReceivedStore::remove({4}, received::receivedFiles(), false).ok());
  // Deleted with it on: noted in the ledger before the delete returns.
  ASSERT_TRUE(received::ReceivedStore::remove({1}, received::receivedFiles(), true).ok());
  const received::LeftLedger l = ledger();
  ASSERT_EQ(l.entries.size(), 4);
  for (const received::LeftEntry& e : l.entries) EXPECT_EQ(e.deletedHere, e.id.uid == "u-one") << e.id.uid.data();

  // Cut off once the delete had decided (record 1 is now "two"): the next
  // one to take the store up finishes it, the note included.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    testhooks::deleteStep = [](int s) {
      if (s == 3) ::_exit(9);
    };
    received::ReceivedStore::remove({1}, received::receivedFiles(), true);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 9);
  EXPECT_FALSE(ledger().entries[1].deletedHere);

  box_->commands.clear();
  EXPECT_EQ(check().stored, 0);
  EXPECT_EQ(count("RETR"), 0);
  EXPECT_EQ(onServer(), (QStringList{u"u-three"_qs, u"u-four"_qs}));
  EXPECT_EQ(subjects(), QStringList{u"three"_qs});
  ASSERT_EQ(ledger().entries.size(), 2);

  // The choice turned off since: what was noted stays there, left.
  ASSERT_TRUE(received::ReceivedStore::remove({1}, received::receivedFiles(), true).ok());
  AccountSettings().LeaveDeleteWithHere = false;
  check();
  EXPECT_EQ(onServer(), (QStringList{u"u-three"_qs, u"u-four"_qs}));
  AccountSettings().LeaveDeleteWithHere = true;
  check();
  EXPECT_EQ(onServer(), QStringList{u"u-four"_qs});
  EXPECT_TRUE(subjects().isEmpty());
}

TEST_F(LeaveOnServer, ALeftMailUnderAnotherIdOrOneTheServerWouldNotGiveIsNotStoredAgainNorForgotten) {
  box_->add("1", mail("one"));
  box_->add("2", mail("two"));
  check();
  // IDs that do not last: "two" is "1" now, the ID "2" is gone.
  box_->messages = {{"1", mail("two")}};
  box_->commands.clear();
  EXPECT_EQ(check().stored, 0);
  ASSERT_EQ(ledger().entries.size(), 1);
  EXPECT_EQ(ledger().entries[0].id.uid, "1");
  // Known by that ID from now on: not fetched whole again.
  box_->commands.clear();
  EXPECT_EQ(check().stored, 0);
  EXPECT_EQ(count("RETR"), 0);
  // A left mail the server refuses to give is not taken for one gone.
  box_->top = false;
  box_->refuseRetr = {1};
  check();
  box_->refuseRetr.clear();
  EXPECT_EQ(ledger().entries.size(), 1);
  EXPECT_EQ(check().stored, 0);
  EXPECT_EQ(subjects(), (QStringList{u"one"_qs, u"two"_qs}));
}

// A server name is quoted as the user typed it, whatever it holds: a "%2"
// in it is not taken for the place of the count that follows.
TEST(CheckWording, APercentSignInTheServerNameIsQuotedAsTyped) {
  reception::CheckProblem refused;
  refused.code = CheckCode::DeletesRefused;
  refused.host = u"pop%2.example.jp"_qs;
  refused.count = 3;
  refused.detail = u"-ERR %1 locked"_qs;
  const QString words = reception::problemText(refused);
  EXPECT_TRUE(words.startsWith(u"サーバー「pop%2.example.jp」が 3 通のメールの削除を拒否しました。"_qs)) << words.toStdString();
  EXPECT_TRUE(words.endsWith(u"\n-ERR %1 locked"_qs)) << words.toStdString();

  reception::CheckProblem tooLong;
  tooLong.library = maillib::failed(maillib::Code::Pop3LineTooLong, u"%2%3"_qs);
  tooLong.library.amount = 70000;
  EXPECT_TRUE(reception::problemText(tooLong).contains(u"サーバー「%2%3」の応答の行が長すぎます（改行のないまま 70000 バイト）。"_qs))
      << reception::problemText(tooLong).toStdString();
  tooLong.library.code = maillib::Code::Pop3TooSlow;
  tooLong.library.seconds = 60;
  EXPECT_TRUE(reception::problemText(tooLong).contains(u"サーバー「%2%3」からの受信が遅すぎるため、中止しました（60 秒で 70000 バイト）。"_qs))
      << reception::problemText(tooLong).toStdString();
}
