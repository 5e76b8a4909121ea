// The real SMTP link, through MailLibSmtpSendMail and submit(), against the
// local aiosmtpd: envelopes, SMTP AUTH, STARTTLS, refusals and their codes.
#include "platform/TestHooks.h"
#include "reception/maillib/MailLib.h"
#include "reception/maillib/Submit.h"
#include "support/MailServers.h"
#include "support/ParsedMail.h"
#include "support/SmtpPeer.h"
#include "support/TempHome.h"

#include <QElapsedTimer>
#include <QThread>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using maillib::Code;

namespace {

// The login and the permission to go without encryption, as the send
// library hands them down from the account.
struct Account {
  maillib::Credentials login;
  QString plainFor;  // the server value allowed without encryption
};
Account g_account;

maillib::SmtpAccess access() {
  return {g_account.login, [](maillib::ServerAddress a) {
            a.plainAllowed = !g_account.plainFor.isEmpty() && a.value == g_account.plainFor;
            return maillib::openSmtpLink(a);
          }};
}

int send(const QString& server, const QString& to, const QString& subject = QStringLiteral("件名"),
         const QString& attachments = QString(), const QString& from = QStringLiteral("tomo@localhost")) {
  return MailLibSmtpSendMail(server, to, nullptr, nullptr, from, subject, QStringLiteral("本文"), nullptr, attachments, 0,
                             access());
}

const maillib::Result& last() { return MailLibSmtpLastResult(); }

std::string said(const maillib::Result& r) {
  return QStringLiteral("code %1, %2, %3").arg(int(r.code)).arg(r.detail, r.reply).toStdString();
}

// The test server speaks plain SMTP unless asked for STARTTLS: a test that
// means plain allows it for that server, as the server dialog's check box does.
QString plainServer(const MailServers& s) {
  const QString server = QStringLiteral("127.0.0.1:%1").arg(s.smtpPort());
  g_account.plainFor = server;
  return server;
}

void setAccount(const QString& id, const QString& password) { g_account.login = {id, password}; }

}  // namespace

TEST(SmtpSend, EveryRecipientOfTheTextIsAnEnvelopeRecipient) {
  TempHome home;
  setAccount(QString(), QString());
  MailServers servers;
  ASSERT_TRUE(servers.ok()) << servers.error().toStdString();
  const QString to = QStringLiteral("灯火 <tomo@localhost>; second@example.com,third@example.org");
  ASSERT_EQ(send(plainServer(servers), to), 0) << said(last());
  EXPECT_TRUE(last().ok());
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
  ASSERT_EQ(send(plainServer(auth), QStringLiteral("a@example.com")), 0) << said(last());
  ASSERT_EQ(auth.received().size(), 1);
  EXPECT_TRUE(auth.received()[0].authenticated);
  // After a login the server's later replies are still quoted.
  EXPECT_LT(send(plainServer(auth), QStringLiteral("refused@example.com")), 0);
  EXPECT_EQ(last().code, Code::RecipientRefused) << said(last());
  EXPECT_EQ(last().detail, QStringLiteral("refused@example.com"));
  EXPECT_EQ(last().host, QStringLiteral("127.0.0.1"));
  EXPECT_TRUE(last().reply.startsWith(QStringLiteral("550"))) << said(last());

  setAccount(auth.user(), QStringLiteral("wrong"));
  EXPECT_LT(send(plainServer(auth), QStringLiteral("a@example.com")), 0);
  EXPECT_EQ(last().code, Code::LoginDenied) << said(last());
  EXPECT_TRUE(last().reply.startsWith(QStringLiteral("535"))) << said(last());

  // Nothing to log in with: the server's refusal says why.
  setAccount(QString(), QString());
  EXPECT_LT(send(plainServer(auth), QStringLiteral("a@example.com")), 0);
  EXPECT_EQ(last().code, Code::LoginRequired) << said(last());
  EXPECT_TRUE(last().reply.startsWith(QStringLiteral("530"))) << said(last());
  EXPECT_EQ(auth.received().size(), 1);

  // A server that offers no AUTH takes the mail although an ID is set.
  MailServers plain;
  ASSERT_TRUE(plain.ok());
  setAccount(auth.user(), auth.password());
  ASSERT_EQ(send(plainServer(plain), QStringLiteral("a@example.com")), 0) << said(last());
  ASSERT_EQ(plain.received().size(), 1);
  EXPECT_FALSE(plain.received()[0].authenticated);
  setAccount(QString(), QString());
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
  EXPECT_EQ(last().code, Code::CertificateUnverified) << said(last());
  EXPECT_EQ(last().port, tls.smtpPort());
  trustTestCa(tls, home.path());
  ASSERT_EQ(send(QStringLiteral("localhost:%1").arg(tls.smtpPort()), QStringLiteral("a@example.com")), 0) << said(last());
  EXPECT_EQ(tls.received().size(), 1);
}

TEST(SmtpSend, AServerWithoutStartTlsIsRefusedUnlessPlainIsAllowed) {
  TempHome home;
  setAccount(QStringLiteral("tomo"), QStringLiteral("secret"));
  MailServers servers;
  ASSERT_TRUE(servers.ok());
  const QString server = QStringLiteral("127.0.0.1:%1").arg(servers.smtpPort());
  g_account.plainFor.clear();
  EXPECT_LT(send(server, QStringLiteral("a@example.com")), 0);
  EXPECT_EQ(last().code, Code::PlainRefused) << said(last());
  EXPECT_EQ(last().host, QStringLiteral("127.0.0.1"));
  EXPECT_TRUE(servers.received().isEmpty());

  g_account.plainFor = server;
  EXPECT_EQ(send(server, QStringLiteral("a@example.com")), 0) << said(last());
  EXPECT_EQ(servers.received().size(), 1);
  setAccount(QString(), QString());
}

TEST(SmtpSend, ARefusedRecipientFailsTheWholeSendWithTheServersReply) {
  TempHome home;
  setAccount(QString(), QString());
  MailServers::Options o;
  o.smtpReject = {QStringLiteral("nobody@example.com")};
  MailServers servers(o);
  ASSERT_TRUE(servers.ok());
  EXPECT_LT(send(plainServer(servers), QStringLiteral("ok@example.com, nobody@example.com")), 0);
  EXPECT_EQ(last().code, Code::RecipientRefused) << said(last());
  EXPECT_EQ(last().detail, QStringLiteral("nobody@example.com"));
  EXPECT_TRUE(last().reply.startsWith(QStringLiteral("550"))) << said(last());
  // All or nothing: a failure never means that some recipients got it.
  EXPECT_TRUE(servers.received().isEmpty());
}

TEST(SmtpSend, FailuresBeforeAnyServerReplyHaveTheirOwnCodes) {
  TempHome home;
  setAccount(QString(), QString());
  EXPECT_LT(send(QStringLiteral("127.0.0.1:%1").arg(closedLoopbackPort()), QStringLiteral("a@example.com")), 0);
  EXPECT_EQ(last().code, Code::ConnectFailed) << said(last());
  EXPECT_EQ(last().host, QStringLiteral("127.0.0.1"));

  EXPECT_LT(send(QString(), QStringLiteral("a@example.com")), 0);
  EXPECT_EQ(last().code, Code::ServerMissing);
  EXPECT_LT(send(QStringLiteral("pop3://mail.example.jp"), QStringLiteral("a@example.com")), 0);
  EXPECT_EQ(last().code, Code::ServerWrongScheme);
  EXPECT_EQ(last().detail, QStringLiteral("pop3://mail.example.jp"));
  EXPECT_LT(send(QStringLiteral("mail.example.jp:port"), QStringLiteral("a@example.com")), 0);
  EXPECT_EQ(last().code, Code::ServerBadPort);

  MailServers servers;
  ASSERT_TRUE(servers.ok());
  EXPECT_LT(send(plainServer(servers), QStringLiteral(" ; , ")), 0);
  EXPECT_EQ(last().code, Code::NoRecipient);
  EXPECT_LT(send(plainServer(servers), QStringLiteral("a@example.com"), QStringLiteral("s"), QString(), QString()), 0);
  EXPECT_EQ(last().code, Code::NoSender);
  EXPECT_LT(send(plainServer(servers), QStringLiteral("a@example.com"), QStringLiteral("s"), QString(),
                 QStringLiteral("to mo@localhost")), 0);
  EXPECT_EQ(last().code, Code::BadSender);

  // A line break in an address would smuggle a command into the dialogue.
  EXPECT_LT(send(plainServer(servers), QStringLiteral("a@example.com\r\nRSET")), 0);
  EXPECT_EQ(last().code, Code::BadRecipient);
  EXPECT_EQ(last().detail, QStringLiteral("a@example.com\r\nRSET"));

  const QString missing = home.path() + QStringLiteral("/ない.txt");
  EXPECT_LT(send(plainServer(servers), QStringLiteral("a@example.com"), QStringLiteral("s"), missing), 0);
  EXPECT_EQ(last().code, Code::AttachmentMissing);
  EXPECT_EQ(last().detail, missing);

  // A further header field that would add a recipient.
  const QString bcc = QStringLiteral("Bcc: b@example.com");
  EXPECT_LT(MailLibSmtpSendMail(plainServer(servers), QStringLiteral("a@example.com"), nullptr, nullptr,
                                QStringLiteral("tomo@localhost"), QStringLiteral("s"), QStringLiteral("b"), &bcc,
                                QString(), 0, access()),
            0);
  EXPECT_EQ(last().code, Code::HeaderNotAllowed);
  EXPECT_TRUE(servers.received().isEmpty());
}

// submit() itself, on the real link: the login it is given, the header it
// is given, and nothing read from anywhere else.
TEST(SmtpSend, SubmitTakesItsLoginFromTheCaller) {
  TempHome home;
  MailServers::Options o;
  o.smtpAuth = true;
  MailServers auth(o);
  ASSERT_TRUE(auth.ok());
  maillib::ServerAddress server = *maillib::parseServer(plainServer(auth), maillib::Protocol::Smtp);
  server.plainAllowed = true;
  const std::unique_ptr<maillib::SmtpLink> link = maillib::openSmtpLink(server);
  maillib::OutgoingMail mail;
  mail.from = QStringLiteral("灯火 <tomo@localhost>");
  mail.to = QStringLiteral("a@example.com");
  mail.subject = QStringLiteral("件名");
  mail.body = QStringLiteral("本文");
  mail.extraHeaders = {{"In-Reply-To", "<1@x.jp>"}};
  EXPECT_EQ(maillib::submit(mail, {}, *link).code, Code::LoginRequired);
  EXPECT_EQ(maillib::submit(mail, {auth.user(), QStringLiteral("wrong")}, *link).code, Code::LoginDenied);
  const maillib::Result r = maillib::submit(mail, {auth.user(), auth.password()}, *link);
  EXPECT_TRUE(r.ok()) << said(r);
  ASSERT_EQ(auth.received().size(), 1);
  EXPECT_TRUE(auth.received()[0].authenticated);
  EXPECT_EQ(auth.received()[0].mailFrom, QStringLiteral("tomo@localhost"));
  EXPECT_EQ(parseMail(auth.received()[0].data).rawHeader("In-Reply-To"), QByteArray("<1@x.jp>"));
}

namespace {

// A peer playing `fault`, allowed without encryption, with the 60 s bounds
// made 2 s; the peer itself gives up after 20 s.
struct StallingPeer {
  explicit StallingPeer(const QString& fault) : peer(fault, 20) {
    limits.replySeconds = 2;
    limits.stallSeconds = 2;
    g_account.plainFor = peer.server();
  }
  SmtpPeer peer;
  maillib::SmtpLimits limits;
  testhooks::Scoped<maillib::SmtpLimits*> hook{testhooks::smtpLimits, &limits};
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
    EXPECT_EQ(last().code, fault == u"stall-after-dot" ? Code::UncertainTimedOut : Code::UncertainBroken) << said(last());
    ASSERT_EQ(s.peer.mails().size(), 1) << fault.toStdString();
    EXPECT_EQ(s.peer.mails()[0].rcpt, QStringList{QStringLiteral("slow@example.jp")});
  }
}

// A run of mails keeps one connection, each mail after the first following
// an RSET. A refusal or a server that closed the connection between two
// mails costs a new connection (libcurl ends its own after a refusal), and
// no mail is lost or sent twice.
TEST(SmtpSend, ASessionCarriesARunOfMailsOverOneConnection) {
  TempHome home;
  setAccount(QString(), QString());
  struct Case {
    QString fault;
    QStringList to;
    int sessions;
  };
  const Case cases[] = {
      {u"none"_qs, {u"one@example.jp"_qs, u"two@example.jp"_qs, u"three@example.jp"_qs}, 1},
      {u"none"_qs, {u"one@example.jp"_qs, u"refused@example.jp"_qs, u"three@example.jp"_qs, u"four@example.jp"_qs}, 2},
      // The server hangs up after every mail to "slow…".
      {u"close-after-mail"_qs, {u"slow1@example.jp"_qs, u"slow2@example.jp"_qs, u"three@example.jp"_qs}, 3},
  };
  for (const Case& c : cases) {
    const std::string name = (c.fault + u' ' + c.to.join(u',')).toStdString();
    SmtpPeer peer(c.fault);
    ASSERT_TRUE(peer.ok()) << peer.error().toStdString();
    g_account.plainFor = peer.server();
    maillib::SmtpSession session;
    maillib::SmtpAccess a = access();
    a.session = &session;
    QStringList delivered;
    for (const QString& r : c.to) {
      const int rc = MailLibSmtpSendMail(peer.server(), r, nullptr, nullptr, u"tomo@localhost"_qs, u"件名"_qs,
                                         u"本文"_qs, nullptr, QString(), 0, a);
      EXPECT_EQ(rc == 0, !r.startsWith(u"refused")) << name << " " << r.toStdString() << ": " << said(last());
      if (!r.startsWith(u"refused")) delivered << r;
    }
    QStringList arrived;
    for (const SmtpPeer::Mail& m : peer.mails()) arrived << m.rcpt;
    EXPECT_EQ(arrived, delivered) << name;
    EXPECT_EQ(peer.sessions(), c.sessions) << name;
    // On one connection, an RSET before each MAIL after its first.
    const QStringList commands = peer.commands();
    for (qsizetype i = 0; i < commands.size(); ++i)
      if (commands[i].startsWith(u"MAIL") && !commands[i - 1].startsWith(u"EHLO"))
        EXPECT_EQ(commands[i - 1], u"RSET"_qs) << name << ": " << commands.join(u" | "_qs).toStdString();
    session.link.reset();  // the end of the run says goodbye
    for (int i = 0; i < 50 && peer.commands().last() != u"QUIT"; ++i) QThread::msleep(20);
    if (c.fault == u"none") EXPECT_EQ(peer.commands().last(), u"QUIT"_qs) << name;
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
  EXPECT_EQ(last().code, Code::TimedOut) << said(last());
  EXPECT_TRUE(s.peer.mails().isEmpty());
  // The same server takes a mail it does not stall on.
  EXPECT_EQ(send(s.peer.server(), QStringLiteral("fast@example.jp")), 0) << said(last());
  EXPECT_EQ(s.peer.mails().size(), 1);
}
