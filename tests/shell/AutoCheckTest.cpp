// The automatic check from the main window against the local Dovecot, with a
// notification service of the test's own on the test's private session bus
// (support/NotifyServer.cpp): the notice of new mail while the window is out
// of sight and what its click opens, silence when nothing came, the mail a
// scheduled tomoshibi --check stored learnt by the open window, and the
// check lock keeping the window's check and the scheduled one apart.
#include "platform/Paths.h"
#include "platform/SharedState.h"
#include "platform/TestHooks.h"
#include "platform/Text.h"
#include "reception/CheckWords.h"
#include "settings/files/AccountSettings.h"
#include "settings/files/AutoCheckFile.h"
#include "shell/MainForm.h"
#include "shell/TaikiForm.h"
#include "store/RecordFile.h"
#include "store/Records.h"
#include "store/received/CheckLock.h"
#include "support/Gui.h"
#include "support/MailServers.h"
#include "viewer/TyakuForm.h"

#include <QAction>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <optional>

namespace {

// One minute of the automatic check lasts this long here.
constexpr int kMinuteMs = 300;

QByteArray mail(const QByteArray& subject) {
  return "From: sender@example.jp\r\nSubject: " + subject + "\r\nDate: Mon, 1 Apr 2024 10:00:00 +0900\r\n\r\nbody of " +
         subject + "\r\n";
}

bool waitFor(const std::function<bool()>& done, int ms = 20000) {
  QDeadlineTimer deadline(ms);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    pump(20);
  }
  return true;
}

// The notification service of the test's own, run as its own program.
class NoticeServer {
 public:
  bool start(bool markup = false) {
    proc_.setProgram(QStringLiteral(NOTIFY_SERVER_EXE));
    proc_.setArguments(markup ? QStringList{QStringLiteral("--markup")} : QStringList{});
    proc_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    proc_.start();
    if (!proc_.waitForStarted(10000)) return false;
    return waitFor([this] { return read(), ready_; }, 10000);
  }
  ~NoticeServer() {
    if (proc_.state() == QProcess::NotRunning) return;
    proc_.closeWriteChannel();  // it ends when its input does
    if (!proc_.waitForFinished(5000)) proc_.kill();
    proc_.waitForFinished(5000);
  }
  QList<QJsonObject> notices() {
    read();
    return notices_;
  }
  void click(qint64 id) {
    proc_.write("click " + QByteArray::number(id) + "\n");
    proc_.waitForBytesWritten(5000);
  }

 private:
  void read() {
    buffer_ += proc_.readAllStandardOutput();
    for (qsizetype nl; (nl = buffer_.indexOf('\n')) >= 0;) {
      const QByteArray line = buffer_.left(nl);
      buffer_.remove(0, nl + 1);
      if (line == "ready") ready_ = true;
      else if (line.startsWith('{')) notices_ << QJsonDocument::fromJson(line).object();
    }
  }
  QProcess proc_;
  QByteArray buffer_;
  bool ready_ = false;
  QList<QJsonObject> notices_;
};

class AutoCheck : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { servers_ = new MailServers; }
  static void TearDownTestSuite() {
    delete servers_;
    servers_ = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(servers_->ok()) << servers_->error().toStdString();
    // The test's own bus, with nothing on it but what the test starts.
    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected());
    ASSERT_FALSE(QDBusConnection::sessionBus().interface()->isServiceRegistered(
        QStringLiteral("org.freedesktop.Notifications")));
    AccountSettings() = AccountSettingsRecord{};
    writeServerSettings(home_.path(), QStringLiteral("127.0.0.1"),
                        QStringLiteral("127.0.0.1:%1").arg(servers_->pop3Port()), servers_->address(), 0);
    writeAccount(home_.path(), servers_->user(), servers_->password());
    trustTestCa(*servers_, home_.path());
    main_ = std::make_unique<MainForm>();
    main_->show();
    pump();
    events_ = std::make_unique<QSignalSpy>(main_->mkakunin, &QAction::triggered);
    // Each check that gets the lock says so in the help box. The check runs
    // whole inside the event loop's turn that starts it, so a check counted
    // here has ended by the time the test looks.
    QObject::connect(main_->Text1, &QPlainTextEdit::textChanged, [this] {
      if (main_->Text1->toPlainText() == reception::checkingText()) ++checksRun_;
    });
  }
  void TearDown() override {
    ASSERT_TRUE(WriteAutoCheck({false, 1}));
    if (TaikiForm* t = TaikiForm::existing()) delete t;
    delete TyakuForm::existing();
    events_.reset();
    main_.reset();
    pump();
    for (const char* sub : {"/new", "/cur"}) {
      QDir d(servers_->maildir() + QLatin1String(sub));
      for (const QString& f : d.entryList(QDir::Files)) d.remove(f);
    }
  }

  // The automatic check on, every `minutes` of the test's short minutes.
  void autoCheckEvery(int minutes) {
    ASSERT_TRUE(WriteAutoCheck({true, minutes}));
    shared::MainWindow.autoCheckChanged();
    ASSERT_TRUE(main_->AutoTimer->isActive());
    ASSERT_EQ(main_->AutoTimer->interval(), minutes * kMinuteMs);
  }
  // Waits until `n` more checks have run in the window.
  bool checksEnd(int n, int ms = 20000) {
    const int until = checksRun_ + n;
    return waitFor([&] { return checksRun_ >= until; }, ms);
  }
  QStringList subjects() const {
    QStringList out;
    store::RecordFile f(home_.file(paths::kReceivedMailFile), store::MailRecord::kLength);
    if (!f.open()) return out;
    QByteArray raw;
    for (int n = 1; f.read(n, raw) == store::ReadResult::Ok; ++n)
      out << text::trimSpaces(store::MailRecord(raw).subject());
    return out;
  }
  RunResult scheduledCheck() {
    return runProgram({QStringLiteral("--home"), home_.path(), QStringLiteral("--check")}, home_.path());
  }

  static MailServers* servers_;
  testhooks::Scoped<int> minute_{testhooks::autoCheckMinuteMs, kMinuteMs};
  TempHome home_;
  MsgBoxAnswerer boxes_;
  NoticeServer notices_;
  std::unique_ptr<MainForm> main_;
  std::unique_ptr<QSignalSpy> events_;
  int checksRun_ = 0;
};

MailServers* AutoCheck::servers_ = nullptr;

}  // namespace

TEST_F(AutoCheck, MailWhileStandingByIsNoticedAndTheClickOpensTheViewer) {
  ASSERT_TRUE(notices_.start());
  main_->mtaiki->trigger();  // standing by: the main window hidden
  pump();
  ASSERT_FALSE(main_->isVisible());
  servers_->deliver(mail("first"));
  servers_->deliver(mail("second & <third>"));
  servers_->deliver(mail("third"));
  servers_->deliver(mail("fourth"));
  autoCheckEvery(2);

  ASSERT_TRUE(waitFor([&] { return !notices_.notices().isEmpty(); })) << "no notice";
  EXPECT_EQ(subjects(), (QStringList{"first", "second & <third>", "third", "fourth"}));
  EXPECT_EQ(servers_->mailboxCount(), 0);
  const QJsonObject n = notices_.notices().first();
  EXPECT_EQ(n[QStringLiteral("app")].toString(), QStringLiteral("灯火亭"));
  EXPECT_EQ(n[QStringLiteral("summary")].toString(), QStringLiteral("新着メールが4件あります"));
  // The first subjects as they are: this service reads no markup.
  EXPECT_EQ(n[QStringLiteral("body")].toString(), QStringLiteral("first\nsecond & <third>\nthird\nほか1件"));
  EXPECT_TRUE(n[QStringLiteral("actions")].toArray().contains(QStringLiteral("default")));
  // Told in the window as "メール受信" tells it, the shop's event besides.
  EXPECT_EQ(main_->Text6->text(), QStringLiteral("4"));
  EXPECT_EQ(main_->Text3->text(), QStringLiteral("新着メール有り。"));
  EXPECT_GE(events_->count(), 1);
  EXPECT_TRUE(boxes_.seen().isEmpty());

  EXPECT_EQ(TyakuForm::existing() ? TyakuForm::existing()->isVisible() : false, false);
  notices_.click(n[QStringLiteral("id")].toInteger());
  ASSERT_TRUE(waitFor([] { return TyakuForm::existing() && TyakuForm::existing()->isVisible(); }, 10000));
  EXPECT_EQ(TyakuForm::existing()->windowTitle(), QStringLiteral("着信履歴"));
  EXPECT_EQ(shared::ListSource, 1);

  // A check that finds nothing says nothing on the desktop.
  ASSERT_TRUE(checksEnd(2));
  EXPECT_EQ(main_->Text6->text(), QStringLiteral("0"));
  EXPECT_EQ(notices_.notices().size(), 1);
}

TEST_F(AutoCheck, NothingCameNoNoticeAndAWindowInSightGetsNone) {
  ASSERT_TRUE(notices_.start(true));
  main_->showMinimized();
  pump();
  autoCheckEvery(1);
  ASSERT_TRUE(checksEnd(3));
  EXPECT_EQ(main_->Text3->text(), QStringLiteral("新着メール無し。"));
  EXPECT_TRUE(notices_.notices().isEmpty());

  // Minimised, one mail: the notice, its subject escaped for a service that reads markup.
  servers_->deliver(mail("a <b> & c"));
  ASSERT_TRUE(waitFor([&] { return !notices_.notices().isEmpty(); })) << "no notice";
  EXPECT_EQ(notices_.notices().first()[QStringLiteral("body")].toString(), QStringLiteral("a &lt;b&gt; &amp; c"));
  EXPECT_EQ(notices_.notices().first()[QStringLiteral("summary")].toString(), QStringLiteral("新着メールが1件あります"));

  // In sight: the window and the shop say it, the desktop does not.
  main_->showNormal();
  main_->raise();
  pump();
  servers_->deliver(mail("seen"));
  ASSERT_TRUE(waitFor([&] { return subjects().size() == 2; }));
  ASSERT_TRUE(checksEnd(2));
  EXPECT_EQ(notices_.notices().size(), 1);

  // Off again: no more checks.
  ASSERT_TRUE(WriteAutoCheck({false, 1}));
  shared::MainWindow.autoCheckChanged();
  EXPECT_FALSE(main_->AutoTimer->isActive());
}

TEST_F(AutoCheck, NoNotificationServiceIsNoError) {
  // Nobody serves notices on this bus.
  main_->mtaiki->trigger();
  pump();
  servers_->deliver(mail("quiet"));
  autoCheckEvery(3);
  ASSERT_TRUE(waitFor([&] { return subjects().size() == 1; }));
  EXPECT_EQ(main_->Text6->text(), QStringLiteral("1"));
  EXPECT_EQ(main_->Text3->text(), QStringLiteral("新着メール有り。"));
  pump(500);  // the bus's answer that nobody serves notices
  EXPECT_TRUE(boxes_.seen().isEmpty());
}

TEST_F(AutoCheck, TheOpenWindowLearnsWhatAScheduledCheckStored) {
  ASSERT_TRUE(notices_.start());
  main_->mtaiki->trigger();
  pump();
  servers_->deliver(mail("from the timer"));
  servers_->deliver(mail("and another"));
  const RunResult r = scheduledCheck();  // the window's event loop waits meanwhile
  ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
  ASSERT_EQ(subjects(), (QStringList{"from the timer", "and another"}));

  ASSERT_TRUE(waitFor([&] { return main_->Text6->text() == QStringLiteral("2"); })) << main_->Text6->text().toStdString();
  EXPECT_EQ(main_->Text3->text(), QStringLiteral("新着メール有り。"));
  EXPECT_EQ(events_->count(), 1);
  ASSERT_TRUE(waitFor([&] { return !notices_.notices().isEmpty(); }));
  EXPECT_EQ(notices_.notices().first()[QStringLiteral("body")].toString(),
            QStringLiteral("from the timer\nand another"));

  // A check that stored nothing is no news; nor is a delete.
  EXPECT_EQ(scheduledCheck().exitCode, 0);
  pump(1500);
  EXPECT_EQ(events_->count(), 1);
  EXPECT_EQ(notices_.notices().size(), 1);
  EXPECT_EQ(main_->Text6->text(), QStringLiteral("2"));
}

TEST_F(AutoCheck, TheLockKeepsTheWindowsCheckAndTheScheduledOneApart) {
  servers_->deliver(mail("once"));
  {
    // A scheduled check at work: the timer's check meets it and says nothing.
    received::CheckLock held = received::CheckLock::tryAcquire();
    ASSERT_EQ(held.state(), received::CheckLock::State::Held);
    const QString before = main_->Text3->text();
    autoCheckEvery(1);
    pump(4 * kMinuteMs);
    EXPECT_TRUE(boxes_.seen().isEmpty());
    EXPECT_TRUE(subjects().isEmpty());
    EXPECT_EQ(servers_->mailboxCount(), 1);
    EXPECT_EQ(main_->Text3->text(), before);
    ASSERT_TRUE(WriteAutoCheck({false, 1}));
    shared::MainWindow.autoCheckChanged();
    // "メール受信" meets it as before: it says so.
    main_->Command4->click();
    pump();
    EXPECT_EQ(boxes_.seen().size(), 1);
  }

  // The window's check at work: a scheduled check started then changes nothing.
  std::optional<RunResult> during;
  QObject::connect(main_->Text1, &QPlainTextEdit::textChanged, [&] {
    if (!during && main_->Text1->toPlainText() == reception::checkingText()) during = scheduledCheck();
  });
  autoCheckEvery(1);
  ASSERT_TRUE(waitFor([&] { return subjects().size() == 1; }));
  ASSERT_TRUE(during.has_value());
  EXPECT_EQ(during->exitCode, 75) << during->err.toStdString();
  ASSERT_TRUE(checksEnd(1));
  EXPECT_EQ(subjects(), QStringList{"once"});
  EXPECT_EQ(servers_->mailboxCount(), 0);
  EXPECT_EQ(boxes_.seen().size(), 1);
}

TEST_F(AutoCheck, WhatAScheduledCheckStoresWhileTheTimerMeetsItIsTold) {
  {
    // A scheduled check at work has stored one mail so far.
    received::CheckLock held = received::CheckLock::tryAcquire();
    ASSERT_EQ(held.state(), received::CheckLock::State::Held);
    store::MailRecord r;
    r.setSubject(QStringLiteral("half way"));
    r.markWritten();
    ASSERT_TRUE(
        store::appendRecord(home_.file(paths::kReceivedMailFile), store::MailRecord::kLength, r.bytes(), true).ok);
    autoCheckEvery(1);
    pump(5 * kMinuteMs);  // the timer meets it again and again
    EXPECT_NE(main_->Text3->text(), QStringLiteral("新着メール有り。"));
    ASSERT_TRUE(WriteAutoCheck({false, 1}));
    shared::MainWindow.autoCheckChanged();
  }
  // It ends: what it stored is the window's news.
  ASSERT_TRUE(waitFor([&] { return main_->Text6->text() == QStringLiteral("1"); }, 10000));
  EXPECT_EQ(main_->Text3->text(), QStringLiteral("新着メール有り。"));
  EXPECT_TRUE(boxes_.seen().isEmpty());
}

TEST_F(AutoCheck, NoCheckSwallowsWhatTheUserIsTyping) {
  autoCheckEvery(1);
  const int before = checksRun_;
  main_->Text5->clear();
  QString typed;
  for (int i = 0; i < 12; ++i) {  // about four minutes of the test's, typing all along
    QTest::keyClick(main_->Text5, Qt::Key_A);
    typed += u'a';
    pump(kMinuteMs / 3);
  }
  EXPECT_EQ(checksRun_, before);
  EXPECT_EQ(main_->Text5->text(), typed);
  // A few seconds after the last key, the check runs.
  EXPECT_TRUE(checksEnd(1, 10000));
}
