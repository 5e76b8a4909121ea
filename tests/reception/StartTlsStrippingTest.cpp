// A man in the middle that removes the servers' offer of STARTTLS: the mail
// check and sending refuse to log in, say why, and send no password in
// clear, until the user allows the server in the server dialog.
#include "platform/Paths.h"
#include "settings/OptionForm.h"
#include "settings/files/AccountSettings.h"
#include "store/RecordFile.h"
#include "store/Records.h"
#include "support/Gui.h"
#include "support/MailServers.h"
#include "support/StartTlsStripper.h"

#include <QCheckBox>
#include <QPushButton>
#include <gtest/gtest.h>

namespace {

int storedCount(const TempHome& home) {
  store::RecordFile f(home.file(paths::kReceivedMailFile), store::MailRecord::kLength);
  return f.open() ? int(f.recordCount()) : -1;
}

const QString kRefused = QStringLiteral("は暗号化通信（STARTTLS）を提供していないため、接続を中止しました。");

}  // namespace

TEST(StrippedStartTls, TheMailCheckRefusesUntilTheUserAllowsThePlainLogin) {
  TempHome home;
  AccountSettings() = AccountSettingsRecord{};
  MailServers servers;
  ASSERT_TRUE(servers.ok()) << servers.error().toStdString();
  StartTlsStripper mitm(StartTlsStripper::Protocol::Pop3, servers.pop3Port());
  ASSERT_GT(mitm.port(), 0);
  const QString pop3 = QStringLiteral("127.0.0.1:%1").arg(mitm.port());
  writeAccount(home.path(), servers.user(), servers.password());
  trustTestCa(servers, home.path());
  servers.deliver("From: a@example.jp\r\nSubject: waiting\r\n\r\nbody\r\n");
  auto check = [&] {
    RunResult r = runProgram({QStringLiteral("--home"), home.path(), QStringLiteral("--check")}, home.path());
    EXPECT_TRUE(r.finished);
    return r;
  };
  const QByteArray password = servers.password().toUtf8();

  for (int apop : {0, 1}) {
    writeServerSettings(home.path(), QStringLiteral("127.0.0.1"), pop3, servers.address(), apop);
    const RunResult r = check();
    EXPECT_NE(r.exitCode, 0);
    EXPECT_TRUE(r.err.contains(QStringLiteral("エラー: サーバー「127.0.0.1」") + kRefused)) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(u'「' + kPlainLoginCaption + u'」')) << r.err.toStdString();
  }
  const QByteArray sent = mitm.captured();
  EXPECT_TRUE(sent.startsWith("CAPA\r\n")) << sent.toStdString();
  for (const char* login : {"USER", "PASS", "APOP", "AUTH"}) EXPECT_FALSE(sent.contains(login)) << sent.toStdString();
  EXPECT_FALSE(mitm.sawInClear(password));
  EXPECT_EQ(storedCount(home), 0);
  EXPECT_EQ(servers.mailboxCount(), 1);

  // The user ticks the box in the server dialog: the plain login goes
  // through, and the capture sees what it carries.
  LoadServerSettings();
  OptionForm* dialog = OptionForm::showDialog();
  dialog->ApopCheck->setChecked(false);
  dialog->PlainCheck->click();
  dialog->OkCommand->click();
  pump();
  const RunResult r = check();
  EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
  EXPECT_EQ(storedCount(home), 1);
  EXPECT_EQ(servers.mailboxCount(), 0);
  EXPECT_TRUE(mitm.captured().contains("PASS " + password));
  AccountSettings() = AccountSettingsRecord{};
}

TEST(StrippedStartTls, SendingRefusesUntilTheUserAllowsThePlainLogin) {
  TempHome home;
  MailServers::Options o;
  o.smtpAuth = true;
  o.smtpStartTls = true;
  MailServers servers(o);
  ASSERT_TRUE(servers.ok()) << servers.error().toStdString();
  StartTlsStripper mitm(StartTlsStripper::Protocol::Smtp, servers.smtpPort());
  ASSERT_GT(mitm.port(), 0);
  const QString stripped = QStringLiteral("127.0.0.1:%1").arg(mitm.port());
  const QString direct = QStringLiteral("127.0.0.1:%1").arg(servers.smtpPort());
  writeAccount(home.path(), servers.user(), servers.password());
  trustTestCa(servers, home.path());
  home.write(QStringLiteral("b.txt"), "body");
  auto send = [&] {
    RunResult r = runProgram({QStringLiteral("--home"), home.path(), QStringLiteral("--send"), QStringLiteral("--to"),
                              QStringLiteral("a@example.com"), QStringLiteral("--subject"), QStringLiteral("s"),
                              QStringLiteral("--body-file"), home.file(QStringLiteral("b.txt"))},
                             home.path());
    EXPECT_TRUE(r.finished);
    return r;
  };
  const QByteArray password = servers.password().toUtf8();

  writeServerSettings(home.path(), stripped, QStringLiteral("127.0.0.1"), servers.address(), 0);
  RunResult r = send();
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(r.err.contains(QStringLiteral("サーバー「127.0.0.1」") + kRefused)) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains(u'「' + kPlainLoginCaption + u'」')) << r.err.toStdString();
  EXPECT_FALSE(mitm.captured().toUpper().contains("AUTH")) << mitm.captured().toStdString();
  EXPECT_FALSE(mitm.captured().toUpper().contains("MAIL FROM")) << mitm.captured().toStdString();
  EXPECT_FALSE(mitm.sawInClear(password));
  EXPECT_TRUE(servers.received().isEmpty());

  // Without the man in the middle STARTTLS is there and the login goes
  // inside it.
  writeServerSettings(home.path(), direct, QStringLiteral("127.0.0.1"), servers.address(), 0);
  r = send();
  EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
  ASSERT_EQ(servers.received().size(), 1);
  EXPECT_TRUE(servers.received()[0].authenticated);

  // Allowed for the stripped server: the plain login goes through.
  writeServerSettings(home.path(), stripped, QStringLiteral("127.0.0.1"), servers.address(), 0, true);
  r = send();
  EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
  ASSERT_EQ(servers.received().size(), 2);
  EXPECT_TRUE(servers.received()[1].authenticated);
  EXPECT_TRUE(mitm.sawInClear(password));
}
