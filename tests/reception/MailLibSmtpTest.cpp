// MailLibSmtpSendMail against the local aiosmtpd: envelopes, SMTP AUTH,
// STARTTLS, refusals and their error texts.
#include "reception/maillib/MailLib.h"
#include "reception/maillib/MailLibCommon.h"
#include "settings/AccountSettings.h"
#include "support/MailServers.h"
#include "support/ParsedMail.h"
#include "support/SmtpPeer.h"
#include "support/TempHome.h"

#include <QElapsedTimer>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

QString errorText() {
  QString buffer(8192, QChar(u' '));
  int length = 8192;
  MailLibGetErrorText(0, buffer, length);
  return buffer.left(length);
}

int send(const QString& server, const QString& to, const QString& subject = QStringLiteral("件名"),
         const QString& attachments = QString(), const QString& from = QStringLiteral("tomo@localhost")) {
  return MailLibSmtpSendMail(server, to, nullptr, nullptr, from, subject, QStringLiteral("本文"), nullptr, attachments, 0);
}

// The test server speaks plain SMTP unless asked for STARTTLS: a test that
// means plain allows it for that server, as the server dialog's check box does.
QString plainServer(const MailServers& s) {
  const QString server = QStringLiteral("127.0.0.1:%1").arg(s.smtpPort());
  AccountSettings().PlainSmtpServer = server;
  return server;
}

void setAccount(const QString& id, const QString& password) {
  AccountSettings().UserId = id;
  AccountSettings().Password = password;
}

}  // namespace

TEST(SmtpSend, EveryRecipientOfTheTextIsAnEnvelopeRecipient) {
  TempHome home;
  setAccount(QString(), QString());
  MailServers servers;
  ASSERT_TRUE(servers.ok()) << servers.error().toStdString();
  const QString to = QStringLiteral("灯火 <tomo@localhost>; second@example.com,third@example.org");
  ASSERT_EQ(send(plainServer(servers), to), 0) << errorText().toStdString();
  const auto got = servers.received();
  ASSERT_EQ(got.size(), 1);
  EXPECT_EQ(got[0].mailFrom, QStringLiteral("tomo@localhost"));
  EXPECT_EQ(got[0].rcptTos, (QStringList{QStringLiteral("tomo@localhost"), QStringLiteral("second@example.com"),
                                         QStringLiteral("third@example.org")}));
  EXPECT_FALSE(got[0].authenticated);
  const ParsedMail p = parseMail(got[0].data);
  EXPECT_EQ(p.subject, QStringLiteral("件名"));
  EXPECT_TRUE(p.to.contains(QStringLiteral("second@example.com")));
}

TEST(SmtpSend, LogsInWhenTheServerAsksAndOnlyThen) {
  TempHome home;
  MailServers::Options o;
  o.smtpAuth = true;
  o.smtpReject = {QStringLiteral("refused@example.com")};
  MailServers auth(o);
  ASSERT_TRUE(auth.ok()) << auth.error().toStdString();

  setAccount(auth.user(), auth.password());
  ASSERT_EQ(send(plainServer(auth), QStringLiteral("a@example.com")), 0) << errorText().toStdString();
  ASSERT_EQ(auth.received().size(), 1);
  EXPECT_TRUE(auth.received()[0].authenticated);
  // After a login the server's later replies are still quoted.
  EXPECT_LT(send(plainServer(auth), QStringLiteral("refused@example.com")), 0);
  EXPECT_TRUE(errorText().contains(QStringLiteral("<refused@example.com>")) && errorText().contains(QStringLiteral("550")))
      << errorText().toStdString();

  setAccount(auth.user(), QStringLiteral("wrong"));
  EXPECT_LT(send(plainServer(auth), QStringLiteral("a@example.com")), 0);
  EXPECT_TRUE(errorText().contains(QStringLiteral("ログインできません"))) << errorText().toStdString();
  EXPECT_TRUE(errorText().contains(QStringLiteral("535"))) << errorText().toStdString();

  // Nothing to log in with: the server's refusal says why.
  setAccount(QString(), QString());
  EXPECT_LT(send(plainServer(auth), QStringLiteral("a@example.com")), 0);
  EXPECT_TRUE(errorText().contains(QStringLiteral("530"))) << errorText().toStdString();
  EXPECT_EQ(auth.received().size(), 1);

  // A server that offers no AUTH takes the mail although an ID is set.
  MailServers plain;
  ASSERT_TRUE(plain.ok());
  setAccount(auth.user(), auth.password());
  ASSERT_EQ(send(plainServer(plain), QStringLiteral("a@example.com")), 0) << errorText().toStdString();
  ASSERT_EQ(plain.received().size(), 1);
  EXPECT_FALSE(plain.received()[0].authenticated);
  setAccount(QString(), QString());
}

TEST(SmtpSend, IdAndPasswordComeFromTheAccountFileWhenNoneWasConfirmed) {
  TempHome home;
  MailServers::Options o;
  o.smtpAuth = true;
  MailServers auth(o);
  ASSERT_TRUE(auth.ok());
  setAccount(QString(), QString());
  writeAccount(home.path(), auth.user(), auth.password());
  ASSERT_EQ(send(plainServer(auth), QStringLiteral("a@example.com")), 0) << errorText().toStdString();
  EXPECT_TRUE(auth.received().value(0).authenticated);
}

TEST(SmtpSend, StartTlsWhenOffered) {
  TempHome home;
  setAccount(QString(), QString());
  MailServers::Options o;
  o.smtpStartTls = true;
  MailServers tls(o);
  ASSERT_TRUE(tls.ok());
  // Without trusting the test authority the certificate is refused.
  EXPECT_LT(send(QStringLiteral("127.0.0.1:%1").arg(tls.smtpPort()), QStringLiteral("a@example.com")), 0);
  EXPECT_TRUE(errorText().contains(QStringLiteral("証明書"))) << errorText().toStdString();
  trustTestCa(tls, home.path());
  ASSERT_EQ(send(QStringLiteral("localhost:%1").arg(tls.smtpPort()), QStringLiteral("a@example.com")), 0)
      << errorText().toStdString();
  EXPECT_EQ(tls.received().size(), 1);
}

TEST(SmtpSend, AServerWithoutStartTlsIsRefusedUnlessAllowedForThatVeryServer) {
  TempHome home;
  setAccount(QString(), QString());
  MailServers servers;
  ASSERT_TRUE(servers.ok());
  const QString server = QStringLiteral("127.0.0.1:%1").arg(servers.smtpPort());
  auto& s = AccountSettings();
  s.PlainSmtpServer.clear();
  EXPECT_LT(send(server, QStringLiteral("a@example.com")), 0);
  EXPECT_TRUE(errorText().contains(QStringLiteral("暗号化通信（STARTTLS）を提供していない"))) << errorText().toStdString();
  EXPECT_TRUE(errorText().contains(QStringLiteral("「暗号化なしの接続を許可する（非推奨）」"))) << errorText().toStdString();
  // Allowed for another name of the same machine, or for receiving only:
  // still refused.
  s.PlainSmtpServer = QStringLiteral("localhost:%1").arg(servers.smtpPort());
  EXPECT_LT(send(server, QStringLiteral("a@example.com")), 0);
  s.PlainSmtpServer.clear();
  s.PlainPop3Server = server;
  EXPECT_LT(send(server, QStringLiteral("a@example.com")), 0);
  s.PlainPop3Server.clear();
  EXPECT_TRUE(servers.received().isEmpty());

  s.PlainSmtpServer = server;
  EXPECT_EQ(send(server, QStringLiteral("a@example.com")), 0) << errorText().toStdString();
  EXPECT_EQ(servers.received().size(), 1);
}

TEST(SmtpSend, ARefusedRecipientFailsTheWholeSendWithTheServersReply) {
  TempHome home;
  setAccount(QString(), QString());
  MailServers::Options o;
  o.smtpReject = {QStringLiteral("nobody@example.com")};
  MailServers servers(o);
  ASSERT_TRUE(servers.ok());
  EXPECT_LT(send(plainServer(servers), QStringLiteral("ok@example.com, nobody@example.com")), 0);
  const QString e = errorText();
  EXPECT_TRUE(e.contains(QStringLiteral("nobody@example.com"))) << e.toStdString();
  EXPECT_TRUE(e.contains(QStringLiteral("550"))) << e.toStdString();
  // All or nothing: a failure never means that some recipients got it.
  EXPECT_TRUE(servers.received().isEmpty());
}

TEST(SmtpSend, FailuresBeforeAnyServerReplyAreExplainedInPlainWords) {
  TempHome home;
  setAccount(QString(), QString());
  EXPECT_LT(send(QStringLiteral("127.0.0.1:%1").arg(closedLoopbackPort()), QStringLiteral("a@example.com")), 0);
  EXPECT_TRUE(errorText().contains(QStringLiteral("接続できません"))) << errorText().toStdString();

  EXPECT_LT(send(QString(), QStringLiteral("a@example.com")), 0);
  EXPECT_TRUE(errorText().contains(QStringLiteral("サーバー名が設定されていません"))) << errorText().toStdString();

  MailServers servers;
  ASSERT_TRUE(servers.ok());
  EXPECT_LT(send(plainServer(servers), QStringLiteral(" ; , ")), 0);
  EXPECT_TRUE(errorText().contains(QStringLiteral("宛先"))) << errorText().toStdString();
  EXPECT_LT(send(plainServer(servers), QStringLiteral("a@example.com"), QStringLiteral("s"), QString(), QString()), 0);
  EXPECT_TRUE(errorText().contains(QStringLiteral("差出人"))) << errorText().toStdString();

  // A line break in an address would smuggle a command into the dialogue.
  EXPECT_LT(send(plainServer(servers), QStringLiteral("a@example.com\r\nRSET")), 0);
  EXPECT_TRUE(errorText().contains(QStringLiteral("正しくありません"))) << errorText().toStdString();

  const QString missing = home.path() + QStringLiteral("/ない.txt");
  EXPECT_LT(send(plainServer(servers), QStringLiteral("a@example.com"), QStringLiteral("s"), missing), 0);
  EXPECT_TRUE(errorText().contains(missing)) << errorText().toStdString();
  EXPECT_TRUE(servers.received().isEmpty());
}

namespace {

// A peer playing `fault`, allowed without encryption, with the 60 s bounds
// made 2 s; the peer itself gives up after 20 s.
struct StallingPeer {
  explicit StallingPeer(const QString& fault) : peer(fault, 20) {
    maillib::g_smtpLimits.replySeconds = 2;
    maillib::g_smtpLimits.stallSeconds = 2;
    AccountSettings().PlainSmtpServer = peer.server();
  }
  ~StallingPeer() { maillib::g_smtpLimits = maillib::SmtpLimits{}; }
  SmtpPeer peer;
};

}  // namespace

// After the final dot the mail may have been taken: a send that never hears
// the answer says so, distinctly, and soon.
TEST(SmtpSend, NoAnswerToTheFinalDotEndsSoonAsPerhapsSent) {
  TempHome home;
  setAccount(QString(), QString());
  for (const QString fault : {u"stall-after-dot"_qs, u"drop-after-dot"_qs}) {
    StallingPeer s(fault);
    ASSERT_TRUE(s.peer.ok()) << s.peer.error().toStdString();
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(send(s.peer.server(), QStringLiteral("slow@example.jp")), kSmtpSendUncertain) << fault.toStdString();
    EXPECT_LT(t.elapsed(), 12000) << fault.toStdString();
    EXPECT_TRUE(errorText().startsWith(QStringLiteral("送信されたか確認できませんでした。"))) << errorText().toStdString();
    ASSERT_EQ(s.peer.mails().size(), 1) << fault.toStdString();
    EXPECT_EQ(s.peer.mails()[0].rcpt, QStringList{QStringLiteral("slow@example.jp")});
  }
}

// Before the final dot nothing can have been taken: a stall there is a
// plain failure, bounded the same way.
TEST(SmtpSend, AStallBeforeTheFinalDotIsAPlainFailure) {
  TempHome home;
  setAccount(QString(), QString());
  StallingPeer s(u"stall-at-data"_qs);
  ASSERT_TRUE(s.peer.ok()) << s.peer.error().toStdString();
  QElapsedTimer t;
  t.start();
  const int rc = send(s.peer.server(), QStringLiteral("slow@example.jp"));
  EXPECT_LT(rc, 0);
  EXPECT_NE(rc, kSmtpSendUncertain);
  EXPECT_LT(t.elapsed(), 12000);
  EXPECT_TRUE(errorText().contains(QStringLiteral("応答しません"))) << errorText().toStdString();
  EXPECT_TRUE(s.peer.mails().isEmpty());
  // The same server takes a mail it does not stall on.
  EXPECT_EQ(send(s.peer.server(), QStringLiteral("fast@example.jp")), 0) << errorText().toStdString();
  EXPECT_EQ(s.peer.mails().size(), 1);
}
