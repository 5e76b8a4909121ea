// The faults real servers and networks produce, each played by the scripted
// peer (tests/support/pop3peer.py) over STARTTLS, against the real program
// (tomoshibi --check) or, where the limits are times, the engine in this
// process with the limits shortened. Every case: nothing lost, nothing
// stored twice, no crash, no hang, and the failure said and not passed off
// as success.
#include "platform/Paths.h"
#include "platform/Text.h"
#include "reception/CheckWords.h"
#include "reception/ReceiveEngine.h"
#include "reception/maillib/Pop3Session.h"
#include "settings/files/AccountSettings.h"
#include "store/RecordFile.h"
#include "store/Records.h"
#include "support/MailServers.h"
#include "support/Pop3Peer.h"
#include "support/TempHome.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>

namespace {

class HostileServer : public ::testing::Test {
 protected:
  // A peer playing `fault`, reached from this test's program folder.
  Pop3Peer& peer(const QString& fault, double trickle = 30) {
    peer_ = std::make_unique<Pop3Peer>(fault, trickle);
    EXPECT_TRUE(peer_->ok()) << peer_->error().toStdString();
    peer_->setUp(home_.path());
    return *peer_;
  }
  RunResult check() {
    RunResult r = runProgram({QStringLiteral("--home"), home_.path(), QStringLiteral("--check")}, home_.path(), 60000);
    EXPECT_TRUE(r.finished) << "the check hung";
    EXPECT_NE(r.exitCode, -1) << "the check crashed: " << r.err.toStdString();
    return r;
  }
  QStringList stored() const {
    QStringList out;
    store::RecordFile f(home_.file(paths::kReceivedMailFile), store::MailRecord::kLength);
    QByteArray raw;
    if (!f.open()) return out;
    for (int n = 1; f.read(n, raw) == store::ReadResult::Ok; ++n)
      out << text::trimSpaces(store::MailRecord(raw).subject());
    EXPECT_EQ(f.byteLength() % store::MailRecord::kLength, 0) << "a partial record";
    return out;
  }
  void addAll(const QStringList& subjects) {
    for (const QString& s : subjects) peer_->add(u"id-"_qs + s, s);
  }

  TempHome home_;
  std::unique_ptr<Pop3Peer> peer_;
};

const QStringList kThree{u"one"_qs, u"two"_qs, u"three"_qs};

}  // namespace

TEST_F(HostileServer, ADropInTheMiddleOfAFetch) {
  peer(u"drop-mid-retr"_qs);
  addAll(kThree);
  RunResult r = check();
  EXPECT_NE(r.exitCode, 0);
  EXPECT_TRUE(r.err.contains(QStringLiteral("接続が途中で切れました"))) << r.err.toStdString();
  EXPECT_EQ(stored(), QStringList{u"one"_qs});  // whole, and kept: it is known now
  EXPECT_EQ(peer_->state().subjects, kThree);   // no QUIT: nothing deleted
  r = check();
  EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
  EXPECT_EQ(stored(), kThree);
  EXPECT_TRUE(peer_->state().subjects.isEmpty());
}

TEST_F(HostileServer, AMailTheServerNeverDeliversHoldsUpNoOther) {
  peer(u"refuse-retr"_qs);
  addAll({u"one"_qs, u"bad"_qs, u"three"_qs});
  for (int round = 0; round < 2; ++round) {
    const RunResult r = check();
    EXPECT_NE(r.exitCode, 0);
    EXPECT_EQ(r.err.count(QStringLiteral("エラー: ")), 1) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("エラー: 1 通のメールを受信できませんでした。")));
    EXPECT_TRUE(r.err.contains(QStringLiteral("this message cannot be delivered")));
    EXPECT_EQ(stored(), (QStringList{u"one"_qs, u"three"_qs}));
    EXPECT_EQ(peer_->state().subjects, QStringList{u"bad"_qs});
  }
}

TEST_F(HostileServer, IdsReusedAfterADeleteBringNewMailNotDeletion) {
  peer(u"reuse-uidl"_qs);
  peer_->add(u"-"_qs, u"one"_qs);
  peer_->add(u"-"_qs, u"two"_qs);
  EXPECT_EQ(check().exitCode, 0);
  // The server numbers its mails again from 1: "1" and "2" once more.
  peer_->add(u"-"_qs, u"three"_qs);
  peer_->add(u"-"_qs, u"four"_qs);
  const RunResult r = check();
  EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
  EXPECT_EQ(stored(), (QStringList{u"one"_qs, u"two"_qs, u"three"_qs, u"four"_qs}));
  EXPECT_TRUE(peer_->state().subjects.isEmpty());
}

TEST_F(HostileServer, TwoMailsUnderOneIdAreBothStored) {
  peer(u"dup-uidl"_qs);
  addAll(kThree);
  EXPECT_EQ(check().exitCode, 0);
  EXPECT_EQ(stored(), kThree);
  EXPECT_TRUE(peer_->state().subjects.isEmpty());
}

TEST_F(HostileServer, AListedSizeOfTwoGigabytesIsNeitherAllocatedNorFetched) {
  peer(u"huge-list"_qs);
  addAll(kThree);
  const RunResult r = check();
  EXPECT_NE(r.exitCode, 0);
  EXPECT_TRUE(r.err.contains(QStringLiteral("2 番のメール: 大きすぎます（2048 MB"))) << r.err.toStdString();
  EXPECT_EQ(stored(), (QStringList{u"one"_qs, u"three"_qs}));
  const Pop3Peer::State s = peer_->state();
  EXPECT_EQ(s.subjects, QStringList{u"two"_qs});
  EXPECT_FALSE(s.commands.contains(u"RETR 2"_qs));
}

TEST_F(HostileServer, ALineThatNeverEndsIsGivenUp) {
  peer(u"endless-line"_qs);
  addAll(kThree);
  QElapsedTimer t;
  t.start();
  RunResult r = check();
  EXPECT_NE(r.exitCode, 0);
  EXPECT_TRUE(r.err.contains(QStringLiteral("長すぎます"))) << r.err.toStdString();
  EXPECT_LT(t.elapsed(), 20000);
  EXPECT_TRUE(stored().isEmpty());
  r = check();  // the server mends its ways
  EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
  EXPECT_EQ(stored(), kThree);
}

TEST_F(HostileServer, ARefusedDeleteIsReportedAndNeverStoresTwice) {
  peer(u"refuse-dele"_qs);
  addAll({u"one"_qs, u"keep"_qs});
  for (int round = 0; round < 2; ++round) {
    const RunResult r = check();
    EXPECT_NE(r.exitCode, 0);
    EXPECT_TRUE(r.err.contains(QStringLiteral("1 通のメールの削除を拒否しました"))) << r.err.toStdString();
    EXPECT_EQ(stored(), (QStringList{u"one"_qs, u"keep"_qs}));
    EXPECT_EQ(peer_->state().subjects, QStringList{u"keep"_qs});
  }
  peer_->setFault(u"none"_qs);
  const RunResult r = check();
  EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
  EXPECT_EQ(stored(), (QStringList{u"one"_qs, u"keep"_qs}));
  EXPECT_TRUE(peer_->state().subjects.isEmpty());
}

TEST_F(HostileServer, AnUnansweredQuitIsReportedAndNeverStoresTwice) {
  for (const QString fault : {u"quit-unanswered"_qs, u"no-uidl"_qs}) {
    peer(fault);
    addAll(kThree);
    RunResult r = check();
    EXPECT_NE(r.exitCode, 0) << fault.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("QUIT"))) << r.err.toStdString();
    EXPECT_EQ(peer_->state().subjects, kThree);
    r = check();
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(stored().mid(stored().size() - 3), kThree) << fault.toStdString();
    EXPECT_EQ(stored().size() % 3, 0);
    EXPECT_TRUE(peer_->state().subjects.isEmpty());
  }
  EXPECT_EQ(stored().size(), 6);
}

TEST_F(HostileServer, AMessageWithoutItsFinalDotIsNotStored) {
  peer(u"no-final-dot"_qs);
  addAll(kThree);
  RunResult r = check();
  EXPECT_NE(r.exitCode, 0);
  EXPECT_EQ(stored(), QStringList{u"one"_qs});
  r = check();
  EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
  EXPECT_EQ(stored(), kThree);
}

TEST_F(HostileServer, SlowAndSilentServersEndTheCheck) {
  // The engine in this process, with 60 s made 1.5 s.
  for (const QString fault : {u"stall"_qs, u"trickle"_qs}) {
    peer(fault, 0.4);
    addAll(kThree);
    maillib::Pop3Limits limits;
    limits.stallMs = 1500;
    limits.slowWindowMs = 1500;
    testhooks::Scoped<maillib::Pop3Limits*> hook(testhooks::pop3Limits, &limits);
    LoadServerSettings();
    struct Sink : reception::CheckSink {
      QList<reception::CheckProblem> errors;
      bool canAsk() const override { return false; }
      void checking() override {}
      void status(reception::CheckStatus) override {}
      void count(int) override {}
      void event() override {}
      void error(const reception::CheckFailure& f) override { errors += f.problems; }
      void notice(const reception::CheckProblem& p) override { errors << p; }
    } sink;
    QElapsedTimer t;
    t.start();
    const reception::CheckOutcome out = reception::runCheck(sink);
    EXPECT_TRUE(out.failed) << fault.toStdString();
    EXPECT_LT(t.elapsed(), 15000) << fault.toStdString();
    // The mail library's result, and the words a user reads of it.
    ASSERT_EQ(sink.errors.size(), 1);
    EXPECT_EQ(sink.errors[0].code, reception::CheckCode::MailLibrary);
    EXPECT_EQ(sink.errors[0].library.code, fault == u"stall" ? maillib::Code::TimedOut : maillib::Code::Pop3TooSlow);
    const QString words = reception::problemText(sink.errors[0]);
    EXPECT_TRUE(words.contains(fault == u"stall" ? u"応答しません"_qs : u"遅すぎる"_qs)) << words.toStdString();
    EXPECT_EQ(peer_->state().subjects, kThree);
  }
  EXPECT_TRUE(stored().isEmpty());
}

TEST_F(HostileServer, TwoChecksAtOnceAndNoWindowCodeInTheHeadlessOne) {
  peer(u"stall"_qs);
  addAll(kThree);
  QProcess first;
  first.setWorkingDirectory(home_.path());
  first.start(QStringLiteral(TOMOSHIBI_EXE), {QStringLiteral("--home"), home_.path(), QStringLiteral("--check")});
  ASSERT_TRUE(first.waitForStarted());
  // It holds the program folder once it asks for a mail.
  for (int i = 0; i < 200 && !peer_->state().commands.contains(u"RETR 1"_qs); ++i) QThread::msleep(50);
  ASSERT_TRUE(peer_->state().commands.contains(u"RETR 1"_qs));

  QFile maps(QStringLiteral("/proc/%1/maps").arg(first.processId()));
  ASSERT_TRUE(maps.open(QIODevice::ReadOnly));
  const QByteArray loaded = maps.readAll();
  EXPECT_TRUE(loaded.contains("libQt6Core"));
  EXPECT_FALSE(loaded.contains("libQt6Widgets"));
  EXPECT_FALSE(loaded.contains("libQt6Gui"));

  const RunResult second = check();
  EXPECT_EQ(second.exitCode, 75);
  EXPECT_TRUE(second.err.contains(QStringLiteral("別のメール受信を実行中です"))) << second.err.toStdString();
  EXPECT_EQ(peer_->state().sessions, 1);  // it did not even connect
  ::kill(pid_t(first.processId()), SIGKILL);
  first.waitForFinished();

  peer_->setFault(u"none"_qs);
  const RunResult third = check();
  EXPECT_EQ(third.exitCode, 0) << third.err.toStdString();
  EXPECT_EQ(stored(), kThree);
}

TEST_F(HostileServer, SigtermOrSigintEndsTheCheckCleanlyAndSoon) {
  for (const int sig : {SIGTERM, SIGINT}) {
    peer(u"trickle"_qs);
    addAll(kThree);
    QProcess p;
    p.setWorkingDirectory(home_.path());
    p.start(QStringLiteral(TOMOSHIBI_EXE), {QStringLiteral("--home"), home_.path(), QStringLiteral("--check")});
    ASSERT_TRUE(p.waitForStarted());
    for (int i = 0; i < 200 && !peer_->state().commands.contains(u"RETR 1"_qs); ++i) QThread::msleep(50);
    ::kill(pid_t(p.processId()), sig);
    QElapsedTimer t;
    t.start();
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_LT(t.elapsed(), 3000);
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 1);
    // Told once: the stop, not also the wait the stop gave up.
    const QString err = QString::fromUtf8(p.readAllStandardError());
    EXPECT_EQ(err.count(QStringLiteral("受信を途中で止めました")), 1) << err.toStdString();
    EXPECT_EQ(peer_->state().subjects, kThree);
    peer_->setFault(u"none"_qs);
    const RunResult r = check();
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
  }
  EXPECT_EQ(stored(), kThree + kThree);
}

TEST_F(HostileServer, ProgressGoesToATerminalOnly) {
  peer(u"none"_qs);
  addAll(kThree);
  // Under script(1) standard error is a terminal.
  QProcess p;
  p.setWorkingDirectory(home_.path());
  p.start(QStringLiteral("script"), {QStringLiteral("-qec"),
                                      QStringLiteral("%1 --home %2 --check").arg(QStringLiteral(TOMOSHIBI_EXE), home_.path()),
                                      QStringLiteral("/dev/null")});
  ASSERT_TRUE(p.waitForFinished(60000));
  const QString shown = QString::fromUtf8(p.readAllStandardOutput());
  EXPECT_EQ(p.exitCode(), 0) << shown.toStdString();
  EXPECT_TRUE(shown.contains(QStringLiteral("\r受信中 0/3件（0.0 MB）"))) << shown.toStdString();
  EXPECT_EQ(stored(), kThree);
  // Not a terminal: the lines alone.
  peer_->add(u"id-four"_qs, u"four"_qs);
  const RunResult r = check();
  EXPECT_FALSE(r.err.contains(QStringLiteral("受信中"))) << r.err.toStdString();
}
