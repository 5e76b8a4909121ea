// Secrets in the desktop keyring, run inside tests/support/keyring_session.sh
// (HOME, the XDG folders and a private D-Bus session in a folder of the
// test's own, so no real keyring is ever touched). One program, four runs:
//   UnlockedKeyring.*  the session's keyring unlocked (the default)
//   LockedKeyring.*    --locked: reading needs an unlock nobody can give
//   NoKeyring.*        --none and --no-bus: no Secret Service, or no bus
//   UnansweredUnlock.* the keyring locked after the password went in, and an
//                      unlock prompt that nobody answers (silent_prompter.py)
// Each suite checks that it runs in the session it was written for.
#include "composer/send/MailSend.h"
#include "platform/Paths.h"
#include "platform/Profile.h"
#include "platform/Text.h"
#include "reception/ReceiveEngine.h"
#include "settings/IdPassForm.h"
#include "settings/KeyringQuestion.h"
#include "settings/OptionForm.h"
#include "settings/files/AccountSettings.h"
#include "settings/secrets/Secrets.h"
#include "store/RecordFile.h"
#include "store/Records.h"
#include "support/FakePop3.h"
#include "support/FileModes.h"
#include "support/Gui.h"
#include "support/MailServers.h"

#include <QCheckBox>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <gtest/gtest.h>

namespace secrets {
void PrintTo(Status s, std::ostream* os) {
  static const char* const names[] = {"Ok", "Missing", "Locked", "NoKeyring", "Failed"};
  *os << names[int(s)];
}
}  // namespace secrets

namespace reception {
void PrintTo(CheckCode c, std::ostream* os) { *os << "CheckCode " << int(c); }
}  // namespace reception

namespace {

using secrets::Prompt;
using secrets::Status;

// Distinct enough that finding it anywhere means it was written there.
const QString kPassword = QStringLiteral("kr-Pa55-ひみつ-7f3a9c");
const QString kServer = QStringLiteral("pop.example.jp");

QString sessionMode() {
  if (qEnvironmentVariableIsEmpty("KEYRING_DIR")) return QString();
  const QString m = qEnvironmentVariable("KEYRING_SESSION_MODE");
  return m.isEmpty() ? QStringLiteral("nobus") : m;
}

// What the session's keyring holds for one of the program's keys, through
// secret-tool on the same bus.
QString lookup(const QString& key) {
  QProcess p;
  p.start(QStringLiteral("secret-tool"), {QStringLiteral("lookup"), QStringLiteral("user"), key,
                                          QStringLiteral("server"), secrets::kService});
  if (!p.waitForFinished(20000) || p.exitCode() != 0) return QString();
  QString out = QString::fromUtf8(p.readAllStandardOutput());
  if (out.endsWith(u'\n')) out.chop(1);
  return out;
}

// Every file below `folder` whose bytes hold `secret` (UTF-8 or CP932).
QStringList filesHolding(const QString& folder, const QString& secret) {
  QStringList out;
  const QByteArray utf8 = secret.toUtf8();
  const QByteArray cp932 = text::toCp932(secret);
  QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString path = it.next();
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) continue;  // the bus's socket
    const QByteArray data = f.readAll();
    if (data.contains(utf8) || data.contains(cp932)) out << path;
  }
  return out;
}

QString accountValue(const QString& key) {
  return profile::GetPrivateProfileString(QStringLiteral("EXEINI"), key, QStringLiteral("<none>"), accountFilePath());
}

QByteArray fileBytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// An account file as a version without a keyring wrote it.
void writeFileAccount(const QString& id, const QString& password) {
  const QString file = accountFilePath();
  profile::WritePrivateProfileString(QStringLiteral("EXEINI"), QStringLiteral("NAME"), id, file, 0600);
  profile::WritePrivateProfileString(QStringLiteral("EXEINI"), QStringLiteral("NAME2"), password, file, 0600);
  profile::WritePrivateProfileString(QStringLiteral("EXEINI"), QStringLiteral("NAME3"), QStringLiteral("1"), file, 0600);
}

int storedCount(const TempHome& home) {
  store::RecordFile f(home.file(paths::kReceivedMailFile), store::MailRecord::kLength);
  return f.open() ? int(f.recordCount()) : -1;
}

struct MemorySink : reception::CheckSink {
  bool ask = false;
  QList<reception::CheckFailure> errors;
  int askedForAccount = 0;
  bool canAsk() const override { return ask; }
  void checking() override {}
  void status(reception::CheckStatus) override {}
  void count(int) override {}
  void event() override {}
  void askAccount() override { ++askedForAccount; }
  void error(const reception::CheckFailure& f) override { errors << f; }
  void notice(const reception::CheckProblem&) override {}
  QList<reception::CheckCode> codes() const {
    QList<reception::CheckCode> out;
    for (const auto& e : errors)
      for (const auto& p : e.problems) out << p.code;
    return out;
  }
};

class KeyringSuite : public ::testing::Test {
 protected:
  explicit KeyringSuite(QStringList modes) : modes_(std::move(modes)) {}
  void SetUp() override {
    ASSERT_TRUE(modes_.contains(sessionMode()))
        << "run inside tests/support/keyring_session.sh (" << modes_.join(u' ').toStdString() << "), not "
        << sessionMode().toStdString();
    AccountSettings() = AccountSettingsRecord{};
    AccountSettings().Pop3Server = kServer;
    clearKeyring();
  }
  void TearDown() override {
    AccountSettings() = AccountSettingsRecord{};
    clearKeyring();
  }
  // One session serves every test of a run: each starts with none of the
  // program's items in it.
  static void clearKeyring() {
    if (sessionMode() != u"unlocked") return;
    QProcess p;
    p.start(QStringLiteral("secret-tool"), {QStringLiteral("clear"), QStringLiteral("server"), secrets::kService});
    p.waitForFinished(20000);
  }

  QStringList modes_;
  TempHome home_;
};

class UnlockedKeyring : public KeyringSuite {
 protected:
  UnlockedKeyring() : KeyringSuite({QStringLiteral("unlocked")}) {}
};
class LockedKeyring : public KeyringSuite {
 protected:
  LockedKeyring() : KeyringSuite({QStringLiteral("locked")}) {}
};
class UnansweredUnlock : public KeyringSuite {
 protected:
  UnansweredUnlock() : KeyringSuite({QStringLiteral("unlocked")}) {}
  void TearDown() override {
    if (prompter_.state() != QProcess::NotRunning) {
      prompter_.kill();
      prompter_.waitForFinished(5000);
    }
    KeyringSuite::TearDown();
  }
  // Locks the session's keyring (no prompt is needed for that) and puts a
  // prompter on the bus that takes every unlock request and never answers.
  void lockWithAnUnansweredPrompt() {
    QProcess lock;
    lock.start(QStringLiteral("dbus-send"),
               {QStringLiteral("--session"), QStringLiteral("--print-reply"), QStringLiteral("--dest=org.freedesktop.secrets"),
                QStringLiteral("/org/freedesktop/secrets"), QStringLiteral("org.freedesktop.Secret.Service.Lock"),
                QStringLiteral("array:objpath:/org/freedesktop/secrets/collection/login")});
    ASSERT_TRUE(lock.waitForFinished(20000));
    ASSERT_EQ(lock.exitCode(), 0) << lock.readAllStandardError().toStdString();
    prompter_.start(QStringLiteral("/usr/bin/python3"),
                    {QStringLiteral(TOMOSHIBI_SOURCE_DIR "/tests/support/silent_prompter.py")});
    ASSERT_TRUE(prompter_.waitForReadyRead(20000)) << prompter_.readAllStandardError().toStdString();
    ASSERT_EQ(prompter_.readAllStandardOutput().trimmed(), QByteArray("ready"));
  }
  QProcess prompter_;
};
class NoKeyring : public KeyringSuite {
 protected:
  NoKeyring() : KeyringSuite({QStringLiteral("none"), QStringLiteral("nobus")}) {}
};

}  // namespace

// ---------------------------------------------------------------- unlocked

TEST_F(UnlockedKeyring, ValuesGoInComeBackWholeAndGo) {
  EXPECT_TRUE(secrets::keyringAvailable());
  const QString key = QStringLiteral("test:values");
  EXPECT_EQ(secrets::read(key, Prompt::Never).status, Status::Missing);
  EXPECT_EQ(secrets::read(key, Prompt::Allowed).status, Status::Missing);

  // A token is longer than any line the account file's reader keeps.
  const QString longValue = QString(1500, QChar(u'x')) + QStringLiteral("末尾");
  for (const QString& value : {kPassword, longValue}) {
    ASSERT_EQ(secrets::write(key, value), Status::Ok);
    for (Prompt p : {Prompt::Never, Prompt::Allowed}) {
      const secrets::Read r = secrets::read(key, p);
      EXPECT_EQ(r.status, Status::Ok) << r.detail.toStdString();
      EXPECT_EQ(r.value, value);
    }
    EXPECT_EQ(lookup(key), value);
  }
  EXPECT_EQ(secrets::remove(key), Status::Ok);
  EXPECT_EQ(secrets::read(key, Prompt::Never).status, Status::Missing);
  EXPECT_TRUE(lookup(key).isEmpty());
  EXPECT_EQ(secrets::remove(key), Status::Ok);  // nothing left to remove
}

TEST_F(UnlockedKeyring, ASavedPasswordGoesToTheKeyringAndTheFileKeepsItsShape) {
  const AccountFileWrite w = WriteAccountFile(QStringLiteral("tomo"), kPassword, true);
  ASSERT_TRUE(w.ok) << w.detail.toStdString();
  EXPECT_TRUE(w.toKeyring);
  EXPECT_EQ(lookup(QStringLiteral("password:tomo@pop.example.jp")), kPassword);
  // The ID line stays, the password line is empty: a reader of the file
  // alone sees "password not saved".
  EXPECT_EQ(fileBytes(accountFilePath()), QByteArray("[EXEINI]\r\nNAME=tomo\r\nNAME2=\r\nNAME3=1\r\n"));
  EXPECT_EQ(modeOf(accountFilePath()), 0600);
  for (Prompt p : {Prompt::Never, Prompt::Allowed}) {
    const AccountFileValues v = ReadAccountFile(p);
    EXPECT_EQ(v.id, QStringLiteral("tomo"));
    EXPECT_EQ(v.password, kPassword);
    EXPECT_EQ(v.status, Status::Ok);
    EXPECT_FALSE(v.inFile);
  }

  // Declining to save records the choice only; the earlier password stays.
  ASSERT_TRUE(WriteAccountFile(QStringLiteral("other"), QStringLiteral("typed"), false));
  EXPECT_EQ(accountValue(QStringLiteral("NAME3")), QStringLiteral("0"));
  EXPECT_EQ(ReadAccountFile().password, kPassword);
  EXPECT_TRUE(lookup(QStringLiteral("password:other@pop.example.jp")).isEmpty());

  // Another ID saved: its password is kept, the old ID's goes.
  ASSERT_TRUE(WriteAccountFile(QStringLiteral("hana"), QStringLiteral("hana-pw"), true));
  EXPECT_EQ(lookup(QStringLiteral("password:hana@pop.example.jp")), QStringLiteral("hana-pw"));
  EXPECT_TRUE(lookup(QStringLiteral("password:tomo@pop.example.jp")).isEmpty());

  // An empty password saved is none saved.
  ASSERT_TRUE(WriteAccountFile(QStringLiteral("hana"), QString(), true));
  EXPECT_TRUE(lookup(QStringLiteral("password:hana@pop.example.jp")).isEmpty());
  const AccountFileValues v = ReadAccountFile(Prompt::Never);
  EXPECT_EQ(v.id, QStringLiteral("hana"));
  EXPECT_TRUE(v.password.isEmpty());
  EXPECT_EQ(v.status, Status::Missing);

  ASSERT_TRUE(WriteAccountFile(QStringLiteral("tomo"), kPassword, true));
  EXPECT_EQ(filesHolding(home_.path(), kPassword), QStringList());
  EXPECT_EQ(filesHolding(qEnvironmentVariable("KEYRING_DIR"), kPassword), QStringList());
}

TEST_F(UnlockedKeyring, TheRefreshTokenIsKeptInTheKeyringAndALeftoverLineMovesIn) {
  AccountSettings().MailAddress = QStringLiteral("tomo@example.jp");
  AccountSettings().Provider = QStringLiteral("google");
  const QString key = QStringLiteral("refresh-token:tomo@example.jp@google");
  EXPECT_EQ(secrets::refreshTokenKey(), key);
  ASSERT_TRUE(WriteAccountFile(QStringLiteral("tomo"), kPassword, true));
  const QByteArray accountBefore = fileBytes(accountFilePath());

  const QString token = QStringLiteral("1//0g-") + QString(600, QChar(u'T'));
  EXPECT_EQ(ReadRefreshToken(Prompt::Never).status, Status::Missing);
  ASSERT_EQ(WriteRefreshToken(token), Status::Ok);
  EXPECT_EQ(lookup(key), token);
  EXPECT_EQ(fileBytes(accountFilePath()), accountBefore);  // nothing of it in the file
  secrets::Read r = ReadRefreshToken(Prompt::Never);
  EXPECT_EQ(r.status, Status::Ok);
  EXPECT_EQ(r.value, token);
  EXPECT_EQ(ForgetRefreshToken(), Status::Ok);
  EXPECT_EQ(ReadRefreshToken(Prompt::Never).status, Status::Missing);
  EXPECT_TRUE(lookup(key).isEmpty());

  // A token the file kept while there was no keyring: a headless run uses
  // it as it is; a window's read moves it in.
  QFile f(accountFilePath());
  ASSERT_TRUE(f.open(QIODevice::Append));
  f.write("TOKEN=" + token.toUtf8() + "\r\n");
  f.close();
  r = ReadRefreshToken(Prompt::Never);
  EXPECT_EQ(r.value, token);
  EXPECT_TRUE(fileBytes(accountFilePath()).contains("TOKEN="));
  r = ReadRefreshToken(Prompt::Allowed);
  EXPECT_EQ(r.value, token);
  EXPECT_EQ(lookup(key), token);
  EXPECT_EQ(fileBytes(accountFilePath()), accountBefore);
  EXPECT_EQ(filesHolding(home_.path(), token), QStringList());
  EXPECT_EQ(ForgetRefreshToken(), Status::Ok);
}

TEST_F(UnlockedKeyring, TheMoveIsAskedAndDoneOnlyWhenTheKeyringGivesThePasswordBack) {
  writeFileAccount(QStringLiteral("tomo"), kPassword);
  const QString state = home_.file(paths::kStateFile);
  const QByteArray stateBefore = fileBytes(state);
  ASSERT_TRUE(KeyringMoveWanted());
  {
    MsgBoxAnswerer answers;
    answers.answer(QMessageBox::Yes);
    OfferKeyringMove();
    ASSERT_EQ(answers.seen().size(), 1);
    const MsgBoxAnswerer::Seen& q = answers.seen()[0];
    EXPECT_EQ(q.title, QStringLiteral("確認"));
    EXPECT_EQ(q.icon, QMessageBox::Question);
    EXPECT_EQ(q.buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_TRUE(q.text.contains(QStringLiteral("キーリングに移しますか"))) << q.text.toStdString();
  }
  EXPECT_EQ(lookup(QStringLiteral("password:tomo@pop.example.jp")), kPassword);
  EXPECT_EQ(fileBytes(accountFilePath()), QByteArray("[EXEINI]\r\nNAME=tomo\r\nNAME2=\r\nNAME3=1\r\n"));
  EXPECT_EQ(ReadAccountFile(Prompt::Never).password, kPassword);
  EXPECT_EQ(filesHolding(home_.path(), kPassword), QStringList());
  // Nothing left to move: not asked again.
  EXPECT_FALSE(KeyringMoveWanted());
  MsgBoxAnswerer none;
  OfferKeyringMove();
  EXPECT_TRUE(none.seen().isEmpty());
  EXPECT_EQ(fileBytes(state), stateBefore);
}

TEST_F(UnlockedKeyring, ANoLeavesTheFileAsItWasAndIsNotAskedAgain) {
  writeFileAccount(QStringLiteral("tomo"), kPassword);
  const QByteArray before = fileBytes(accountFilePath());
  const QString state = home_.file(paths::kStateFile);
  const QByteArray stateBefore = fileBytes(state);
  {
    MsgBoxAnswerer answers;
    answers.answer(QMessageBox::No);
    OfferKeyringMove();
    ASSERT_EQ(answers.seen().size(), 1);
  }
  EXPECT_EQ(fileBytes(accountFilePath()), before);
  EXPECT_TRUE(lookup(QStringLiteral("password:tomo@pop.example.jp")).isEmpty());
  // Remembered in the program's own file in the data folder, not in ini.ini.
  EXPECT_EQ(fileBytes(state), stateBefore);
  EXPECT_TRUE(programSettingsPath().startsWith(home_.file(paths::kDataFolder)));
  EXPECT_EQ(modeOf(programSettingsPath()), 0600);
  EXPECT_FALSE(KeyringMoveWanted());
  for (int start = 0; start < 2; ++start) {
    MsgBoxAnswerer none;
    OfferKeyringMove();
    EXPECT_TRUE(none.seen().isEmpty());
  }
  // The file's password still works, and the account window says where
  // it is and how to move it.
  const AccountFileValues v = ReadAccountFile(Prompt::Never);
  EXPECT_EQ(v.password, kPassword);
  EXPECT_TRUE(v.inFile);
  IdPassForm* d = IdPassForm::instance();
  EXPECT_TRUE(d->KeyringLabel->text().contains(QStringLiteral("ファイル"))) << d->KeyringLabel->text().toStdString();
  EXPECT_TRUE(d->KeyringLabel->text().contains(QStringLiteral("キーリングに移します")));
  d->Check1->setChecked(true);
  d->OKCommand->click();
  pump();
  EXPECT_EQ(lookup(QStringLiteral("password:tomo@pop.example.jp")), kPassword);
  EXPECT_EQ(accountValue(QStringLiteral("NAME2")), QString());
}

TEST_F(UnlockedKeyring, TheAccountWindowSaysTheKeyringAndTheServerDialogCarriesThePassword) {
  IdPassForm* d = IdPassForm::instance();
  EXPECT_EQ(d->KeyringLabel->text(), QStringLiteral("パスワードはデスクトップのキーリングに保存します。"));
  EXPECT_EQ(d->Label3->text(), QStringLiteral("IDパスワードを保存する"));
  d->IdText->setText(QStringLiteral("tomo"));
  d->PassText->setText(kPassword);
  d->Check1->setChecked(true);
  d->OKCommand->click();
  pump();
  EXPECT_EQ(lookup(QStringLiteral("password:tomo@pop.example.jp")), kPassword);
  d = IdPassForm::instance();
  EXPECT_EQ(d->PassText->text(), kPassword);
  d->close();
  pump();

  // The POP3 server gets a new name: the saved password goes with it.
  OptionForm* o = OptionForm::showDialog();
  o->Pop3Text->setText(QStringLiteral("pop3s://pop.example.jp"));
  o->OkCommand->click();
  pump();
  EXPECT_EQ(lookup(QStringLiteral("password:tomo@pop3s://pop.example.jp")), kPassword);
  EXPECT_TRUE(lookup(QStringLiteral("password:tomo@pop.example.jp")).isEmpty());
  EXPECT_EQ(ReadAccountFile(Prompt::Never).password, kPassword);
}

TEST_F(UnlockedKeyring, TheCheckLogsInWithThePasswordFromTheKeyring) {
  auto box = std::make_shared<FakeMailbox>();
  box->password = text::toCp932(kPassword);  // as every login sends it
  box->add("1", "From: a@example.jp\r\nSubject: hello\r\n\r\nbody\r\n");
  const auto installed = FakeMailbox::install(box);
  ASSERT_TRUE(WriteAccountFile(QString::fromUtf8(box->user), kPassword, true));
  MemorySink sink;
  const reception::CheckOutcome out = reception::runCheck(sink);
  EXPECT_FALSE(out.failed);
  EXPECT_EQ(out.stored, 1);
  EXPECT_TRUE(box->commands.contains("PASS " + text::toCp932(kPassword)));
}

// The real program through Dovecot and aiosmtpd: the password only in the
// keyring, and nowhere else afterwards, not even in what it printed.
TEST_F(UnlockedKeyring, TheRealCheckAndSendTakeThePasswordFromTheKeyring) {
  MailServers::Options o;
  o.smtpAuth = true;
  o.smtpStartTls = true;
  MailServers servers(o);
  ASSERT_TRUE(servers.ok()) << servers.error().toStdString();
  trustTestCa(servers, home_.path());
  writeServerSettings(home_.path(), QStringLiteral("127.0.0.1:%1").arg(servers.smtpPort()),
                      QStringLiteral("127.0.0.1:%1").arg(servers.pop3Port()), servers.address(), 0);
  LoadServerSettings();
  ASSERT_TRUE(WriteAccountFile(servers.user(), servers.password(), true));
  ASSERT_TRUE(accountValue(QStringLiteral("NAME2")).isEmpty());
  servers.deliver("From: a@example.jp\r\nSubject: via keyring\r\n\r\nbody\r\n");

  QElapsedTimer t;
  t.start();
  const RunResult check = runProgram({QStringLiteral("--home"), home_.path(), QStringLiteral("--check")}, home_.path());
  ASSERT_TRUE(check.finished);
  EXPECT_EQ(check.exitCode, 0) << check.err.toStdString();
  EXPECT_EQ(storedCount(home_), 1);
  EXPECT_EQ(servers.mailboxCount(), 0);

  home_.write(QStringLiteral("b.txt"), "body");
  const RunResult send = runProgram({QStringLiteral("--home"), home_.path(), QStringLiteral("--send"),
                                     QStringLiteral("--to"), QStringLiteral("a@example.com"), QStringLiteral("--subject"),
                                     QStringLiteral("s"), QStringLiteral("--body-file"), home_.file(QStringLiteral("b.txt"))},
                                    home_.path());
  ASSERT_TRUE(send.finished);
  EXPECT_EQ(send.exitCode, 0) << send.err.toStdString();
  ASSERT_EQ(servers.received().size(), 1);
  EXPECT_TRUE(servers.received()[0].authenticated);
  bool passwordSeen = false;
  for (const MailServers::AuthAttempt& a : servers.smtpAuthAttempts())
    if (a.accepted && a.data.join(u'\n').contains(servers.password())) passwordSeen = true;
  EXPECT_TRUE(passwordSeen);

  for (const RunResult& r : {check, send}) {
    EXPECT_FALSE(r.out.contains(servers.password()));
    EXPECT_FALSE(r.err.contains(servers.password()));
  }
  EXPECT_EQ(filesHolding(home_.path(), servers.password()), QStringList());
  EXPECT_EQ(filesHolding(qEnvironmentVariable("KEYRING_DIR"), servers.password()), QStringList());
}

// A password still in the file under a keyring: a headless run uses it and
// never asks anything.
TEST_F(UnlockedKeyring, HeadlessRunsUseThePasswordInTheFileAndNeverAsk) {
  MailServers servers;
  ASSERT_TRUE(servers.ok()) << servers.error().toStdString();
  trustTestCa(servers, home_.path());
  writeServerSettings(home_.path(), QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.1:%1").arg(servers.pop3Port()),
                      servers.address(), 0);
  writeAccount(home_.path(), servers.user(), servers.password());
  const QByteArray before = fileBytes(accountFilePath());
  servers.deliver("From: a@example.jp\r\nSubject: from the file\r\n\r\nbody\r\n");
  const RunResult r = runProgram({QStringLiteral("--home"), home_.path(), QStringLiteral("--check")}, home_.path());
  ASSERT_TRUE(r.finished);
  EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
  EXPECT_EQ(storedCount(home_), 1);
  EXPECT_EQ(fileBytes(accountFilePath()), before);
  EXPECT_FALSE(QFileInfo::exists(programSettingsPath()));
}

// ------------------------------------------------------------------ locked

TEST_F(LockedKeyring, NothingWaitsOnItAndNothingFallsBackToTheFile) {
  EXPECT_TRUE(secrets::keyringAvailable());
  QElapsedTimer t;
  t.start();
  const secrets::Read r = secrets::read(QStringLiteral("password:tomo@pop.example.jp"), Prompt::Never);
  EXPECT_EQ(r.status, Status::Locked);
  EXPECT_LT(t.elapsed(), 2000);

  // The account as a keyring keeps it: the ID in the file, no password.
  writeFileAccount(QStringLiteral("tomo"), QString());
  const QByteArray before = fileBytes(accountFilePath());
  AccountFileValues v = ReadAccountFile(Prompt::Never);
  EXPECT_EQ(v.status, Status::Locked);
  EXPECT_TRUE(v.password.isEmpty());
  // A window may ask; no unlock is given here.
  v = ReadAccountFile(Prompt::Allowed);
  EXPECT_EQ(v.status, Status::Locked);

  // A save the keyring refuses is reported and never lands in the file;
  // neither does a removal that could not reach the item pass for done.
  for (const QString& password : {kPassword, QString()}) {
    const AccountFileWrite w = WriteAccountFile(QStringLiteral("tomo"), password, true);
    EXPECT_FALSE(w.ok);
    EXPECT_TRUE(w.toKeyring);
    EXPECT_EQ(w.keyring, Status::Locked);
    EXPECT_EQ(fileBytes(accountFilePath()), before);
  }
  EXPECT_EQ(secrets::remove(QStringLiteral("password:tomo@pop.example.jp")), Status::Locked);
  MsgBoxAnswerer answers;
  IdPassForm* d = IdPassForm::instance();
  EXPECT_TRUE(d->KeyringLabel->text().contains(QStringLiteral("ロック"))) << d->KeyringLabel->text().toStdString();
  d->PassText->setText(kPassword);
  d->Check1->setChecked(true);
  d->OKCommand->click();
  pump();
  ASSERT_EQ(answers.seen().size(), 1);
  EXPECT_TRUE(answers.seen()[0].text.contains(QStringLiteral("キーリングに保存できませんでした")))
      << answers.seen()[0].text.toStdString();
  EXPECT_EQ(fileBytes(accountFilePath()), before);
  EXPECT_EQ(filesHolding(home_.path(), kPassword), QStringList());

  // A window's send stops before any server with the keyring's words.
  AccountSettings().UserId.clear();
  const SendOutcome sent = SendOneMail(QStringLiteral("a@example.com"), QStringLiteral("s"), QStringLiteral("b"), QString());
  EXPECT_FALSE(sent.ok);
  EXPECT_TRUE(sent.error.contains(QStringLiteral("キーリング"))) << sent.error.toStdString();
}

TEST_F(LockedKeyring, TheCheckStopsBeforeTheLoginAndOnlyAWindowIsAskedToGoOn) {
  writeFileAccount(QString::fromUtf8(FakeMailbox().user), QString());
  auto box = std::make_shared<FakeMailbox>();
  box->add("1", "From: a@example.jp\r\nSubject: waiting\r\n\r\nbody\r\n");
  const auto installed = FakeMailbox::install(box);
  MemorySink headless;
  reception::CheckOutcome out = reception::runCheck(headless);
  EXPECT_TRUE(out.failed);
  EXPECT_TRUE(out.needsWindow);
  EXPECT_EQ(headless.codes(), QList<reception::CheckCode>{reception::CheckCode::KeyringLocked});
  MemorySink window;
  window.ask = true;
  out = reception::runCheck(window);
  EXPECT_TRUE(out.failed);
  EXPECT_FALSE(out.needsWindow);
  EXPECT_EQ(window.codes(), QList<reception::CheckCode>{reception::CheckCode::KeyringNotUnlocked});
  EXPECT_EQ(window.askedForAccount, 0);
  for (const QByteArray& c : box->commands) EXPECT_FALSE(c.startsWith("USER") || c.startsWith("PASS")) << c.toStdString();
  EXPECT_EQ(box->messages.size(), 1);
}

// tomoshibi --check and --send with a password account under a locked
// keyring: done within seconds, exit 77, and the message says what to do.
TEST_F(LockedKeyring, TheRealProgramExits77AtOnce) {
  MailServers::Options o;
  o.smtpAuth = true;
  o.smtpStartTls = true;
  MailServers servers(o);
  ASSERT_TRUE(servers.ok()) << servers.error().toStdString();
  trustTestCa(servers, home_.path());
  writeServerSettings(home_.path(), QStringLiteral("127.0.0.1:%1").arg(servers.smtpPort()),
                      QStringLiteral("127.0.0.1:%1").arg(servers.pop3Port()), servers.address(), 0);
  writeFileAccount(servers.user(), QString());
  servers.deliver("From: a@example.jp\r\nSubject: waiting\r\n\r\nbody\r\n");
  home_.write(QStringLiteral("b.txt"), "body");
  const QList<QStringList> runs{
      {QStringLiteral("--home"), home_.path(), QStringLiteral("--check")},
      {QStringLiteral("--home"), home_.path(), QStringLiteral("--send"), QStringLiteral("--to"),
       QStringLiteral("a@example.com"), QStringLiteral("--subject"), QStringLiteral("s"), QStringLiteral("--body-file"),
       home_.file(QStringLiteral("b.txt"))}};
  for (const QStringList& args : runs) {
    QElapsedTimer t;
    t.start();
    const RunResult r = runProgram(args, home_.path(), 30000);
    ASSERT_TRUE(r.finished) << args[2].toStdString() << " hung";
    EXPECT_LT(t.elapsed(), 10000) << args[2].toStdString();
    EXPECT_EQ(r.exitCode, 77) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("キーリングがロックされている"))) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("画面から"))) << r.err.toStdString();
  }
  EXPECT_EQ(servers.mailboxCount(), 1);
  EXPECT_EQ(storedCount(home_), 0);
  EXPECT_TRUE(servers.received().isEmpty());
  EXPECT_TRUE(servers.smtpAuthAttempts().isEmpty());
}

// -------------------------------------------------------- unanswered unlock

// On a desktop the unlock would be shown and could wait for ever: neither
// the program's own read for a headless run nor tomoshibi --check or
// --send asks for it.
TEST_F(UnansweredUnlock, HeadlessRunsNeverAskAndEndAtOnceWith77) {
  MailServers::Options o;
  o.smtpAuth = true;
  o.smtpStartTls = true;
  MailServers servers(o);
  ASSERT_TRUE(servers.ok()) << servers.error().toStdString();
  trustTestCa(servers, home_.path());
  writeServerSettings(home_.path(), QStringLiteral("127.0.0.1:%1").arg(servers.smtpPort()),
                      QStringLiteral("127.0.0.1:%1").arg(servers.pop3Port()), servers.address(), 0);
  LoadServerSettings();
  ASSERT_TRUE(WriteAccountFile(servers.user(), servers.password(), true));
  ASSERT_EQ(ReadAccountFile(Prompt::Never).password, servers.password());
  servers.deliver("From: a@example.jp\r\nSubject: waiting\r\n\r\nbody\r\n");
  home_.write(QStringLiteral("b.txt"), "body");
  lockWithAnUnansweredPrompt();

  QElapsedTimer t;
  t.start();
  const AccountFileValues v = ReadAccountFile(Prompt::Never);
  EXPECT_EQ(v.status, Status::Locked);
  EXPECT_TRUE(v.password.isEmpty());
  EXPECT_LT(t.elapsed(), 2000);

  const QList<QStringList> runs{
      {QStringLiteral("--home"), home_.path(), QStringLiteral("--check")},
      {QStringLiteral("--home"), home_.path(), QStringLiteral("--send"), QStringLiteral("--to"),
       QStringLiteral("a@example.com"), QStringLiteral("--subject"), QStringLiteral("s"), QStringLiteral("--body-file"),
       home_.file(QStringLiteral("b.txt"))}};
  for (const QStringList& args : runs) {
    t.restart();
    const RunResult r = runProgram(args, home_.path(), 60000);
    ASSERT_TRUE(r.finished) << args[2].toStdString() << " hung";
    EXPECT_LT(t.elapsed(), 4000) << args[2].toStdString();
    EXPECT_EQ(r.exitCode, 77) << args[2].toStdString() << ": " << r.err.toStdString();
    EXPECT_FALSE(r.err.contains(servers.password()));
  }
  EXPECT_EQ(servers.mailboxCount(), 1);
  EXPECT_TRUE(servers.received().isEmpty());
}

// --------------------------------------------------------------- no keyring

TEST_F(NoKeyring, TheFileKeepsThePasswordExactlyAsBefore) {
  QElapsedTimer t;
  t.start();
  EXPECT_FALSE(secrets::keyringAvailable());
  EXPECT_EQ(secrets::read(QStringLiteral("any"), Prompt::Never).status, Status::NoKeyring);
  EXPECT_EQ(secrets::read(QStringLiteral("any"), Prompt::Allowed).status, Status::NoKeyring);
  EXPECT_EQ(secrets::write(QStringLiteral("any"), QStringLiteral("v")), Status::NoKeyring);
  EXPECT_LT(t.elapsed(), 2000);

  const AccountFileWrite w = WriteAccountFile(QStringLiteral("tomo"), kPassword, true);
  ASSERT_TRUE(w.ok);
  EXPECT_FALSE(w.toKeyring);
  EXPECT_EQ(fileBytes(accountFilePath()),
            QByteArray("[EXEINI]\r\nNAME=tomo\r\nNAME2=") + text::toCp932(kPassword) + "\r\nNAME3=1\r\n");
  EXPECT_EQ(modeOf(accountFilePath()), 0600);
  const AccountFileValues v = ReadAccountFile(Prompt::Never);
  EXPECT_EQ(v.password, kPassword);
  EXPECT_TRUE(v.inFile);

  // Nothing to move into, nothing asked.
  EXPECT_FALSE(KeyringMoveWanted());
  MsgBoxAnswerer none;
  OfferKeyringMove();
  EXPECT_TRUE(none.seen().isEmpty());
  IdPassForm* d = IdPassForm::instance();
  EXPECT_EQ(d->KeyringLabel->text(),
            QStringLiteral("キーリングがないため、パスワードはこのコンピュータのファイルに保存します（あなただけが読めます）。"));
  EXPECT_EQ(d->PassText->text(), kPassword);
  d->close();
  pump();
}

TEST_F(NoKeyring, TheRefreshTokenGoesIntoTheFileAfterTheAccountLines) {
  ASSERT_TRUE(WriteAccountFile(QStringLiteral("tomo"), QStringLiteral("pw"), true));
  const QString token = QStringLiteral("1//0g-") + QString(600, QChar(u'T'));
  ASSERT_EQ(WriteRefreshToken(token), Status::Ok);
  const QByteArray lines = "[EXEINI]\r\nNAME=tomo\r\nNAME2=pw\r\nNAME3=1\r\n";
  EXPECT_EQ(fileBytes(accountFilePath()), lines + "TOKEN=" + token.toUtf8() + "\r\n");
  EXPECT_EQ(modeOf(accountFilePath()), 0600);
  // The account lines keep their place in front of it.
  ASSERT_TRUE(WriteAccountFile(QStringLiteral("tomo"), QStringLiteral("pw"), false));
  ASSERT_TRUE(WriteAccountFile(QStringLiteral("tomo"), QStringLiteral("pw"), true));
  EXPECT_EQ(fileBytes(accountFilePath()), lines + "TOKEN=" + token.toUtf8() + "\r\n");
  // Read back whole (longer than the 255 characters of an account line).
  const secrets::Read r = ReadRefreshToken(Prompt::Never);
  EXPECT_EQ(r.status, Status::Ok);
  EXPECT_EQ(r.value, token);
  ASSERT_EQ(WriteRefreshToken(QStringLiteral("rotated")), Status::Ok);
  EXPECT_EQ(fileBytes(accountFilePath()), lines + "TOKEN=rotated\r\n");
  EXPECT_EQ(ForgetRefreshToken(), Status::Ok);
  EXPECT_EQ(fileBytes(accountFilePath()), lines);
  EXPECT_EQ(ReadRefreshToken(Prompt::Never).status, Status::Missing);

  // A file with only the token yet: the account lines written later still
  // come first.
  QFile::remove(accountFilePath());
  ASSERT_EQ(WriteRefreshToken(QStringLiteral("first")), Status::Ok);
  ASSERT_TRUE(WriteAccountFile(QStringLiteral("tomo"), QStringLiteral("pw"), true));
  EXPECT_EQ(fileBytes(accountFilePath()), lines + "TOKEN=first\r\n");
}

TEST_F(NoKeyring, TheRealCheckReadsThePasswordFromTheFile) {
  MailServers servers;
  ASSERT_TRUE(servers.ok()) << servers.error().toStdString();
  trustTestCa(servers, home_.path());
  writeServerSettings(home_.path(), QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.1:%1").arg(servers.pop3Port()),
                      servers.address(), 0);
  LoadServerSettings();
  ASSERT_TRUE(WriteAccountFile(servers.user(), servers.password(), true));
  EXPECT_EQ(accountValue(QStringLiteral("NAME2")), servers.password());
  servers.deliver("From: a@example.jp\r\nSubject: from the file\r\n\r\nbody\r\n");
  const RunResult r = runProgram({QStringLiteral("--home"), home_.path(), QStringLiteral("--check")}, home_.path());
  ASSERT_TRUE(r.finished);
  EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
  EXPECT_EQ(storedCount(home_), 1);
}
