// Servers whose certificates no authority vouches for, against the local
// Dovecot and aiosmtpd with a self-signed certificate: the certificate
// fetched on each way into TLS with nothing sent but the handshake, and the
// pinned key as the one trust for its server (a changed key refused, the
// name still checked unless the trusted certificate lacked it, the
// authorities' word not enough for a pinned server).
#include "platform/TestHooks.h"
#include "reception/maillib/MailLib.h"
#include "reception/maillib/Pop3Session.h"
#include "reception/maillib/TlsCertificate.h"
#include "support/MailServers.h"
#include "support/OtherAddress.h"
#include "support/TempHome.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <gtest/gtest.h>
#include <unistd.h>

using maillib::Code;

namespace {

std::string said(const maillib::Result& r) {
  return QStringLiteral("code %1, %2:%3, %4 %5 %6")
      .arg(int(r.code))
      .arg(r.host)
      .arg(r.port)
      .arg(r.detail, r.cause, r.reply)
      .toStdString();
}

maillib::ServerAddress address(const QString& value, maillib::Protocol protocol) {
  const std::optional<maillib::ServerAddress> a = maillib::parseServer(value, protocol);
  EXPECT_TRUE(a) << value.toStdString();
  return a.value_or(maillib::ServerAddress{});
}

// What a send with this pin came to.
struct Pinning {
  QString key;
  bool anyName = false;
};

int sendThrough(const QString& server, const MailServers& s, const Pinning& pin) {
  const maillib::SmtpAccess access{{s.user(), s.password()}, [pin](maillib::ServerAddress a) {
                                     a.pinnedKey = pin.key;
                                     a.pinnedAnyName = pin.anyName;
                                     return maillib::openSmtpLink(a);
                                   }};
  return MailLibSmtpSendMail(server, s.address(), nullptr, nullptr, s.address(), QStringLiteral("件名"),
                             QStringLiteral("本文"), nullptr, QString(), 0, access);
}

const maillib::Result& last() { return MailLibSmtpLastResult(); }

QString otherKey() {
  return QStringLiteral("sha256//") +
         QString::fromLatin1(QCryptographicHash::hash("another key", QCryptographicHash::Sha256).toBase64());
}

}  // namespace

TEST(FetchCertificate, EachWayIntoTlsShowsTheServersCertificateAndLogsInNowhere) {
  TempHome home;
  MailServers::Options o;
  o.selfSigned = true;
  o.oauth = true;  // Dovecot then logs every login attempt
  o.smtpStartTls = true;
  o.smtps = true;
  MailServers s(o);
  ASSERT_TRUE(s.ok()) << s.error().toStdString();
  const QString pop3 = QStringLiteral("127.0.0.1:%1").arg(s.pop3Port());
  const QString pop3s = QStringLiteral("pop3s://127.0.0.1:%1").arg(s.pop3sPort());
  const QString smtp = QStringLiteral("127.0.0.1:%1").arg(s.smtpPort());
  const QString smtps = QStringLiteral("smtps://localhost:%1").arg(s.smtpsPort());
  const QDateTime now = QDateTime::currentDateTimeUtc();
  for (const auto& [value, protocol] : {std::pair{pop3, maillib::Protocol::Pop3}, std::pair{pop3s, maillib::Protocol::Pop3},
                                        std::pair{smtp, maillib::Protocol::Smtp}, std::pair{smtps, maillib::Protocol::Smtp}}) {
    SCOPED_TRACE(value.toStdString());
    const maillib::ServerAddress server = address(value, protocol);
    maillib::Result why;
    const std::optional<ServerCertificate> c = tls::fetchCertificate(server, &why);
    ASSERT_TRUE(c) << said(why);
    EXPECT_TRUE(why.ok());
    EXPECT_EQ(QString::fromLatin1(c->sha256.toHex()), s.certSha256());
    EXPECT_EQ(QString::fromLatin1(c->spkiSha256.toHex()), s.spkiSha256());
    EXPECT_EQ(c->pin(), QStringLiteral("sha256//") + s.spkiSha256Base64());
    EXPECT_EQ(c->fingerprint().size(), 32 * 3 - 1);
    EXPECT_EQ(c->fingerprint().remove(u':').toLower(), s.certSha256());
    EXPECT_EQ(c->host, server.host);
    EXPECT_EQ(c->port, server.port);
    EXPECT_EQ(c->subject, QStringLiteral("CN=localhost"));
    EXPECT_EQ(c->issuer, c->subject);
    EXPECT_LE(c->notBefore, now);
    EXPECT_GT(c->notAfter, now);
    ASSERT_FALSE(c->chain.isEmpty());
    EXPECT_EQ(QCryptographicHash::hash(c->chain.first(), QCryptographicHash::Sha256), c->sha256);
    EXPECT_TRUE(c->nameMatches);
  }
  // Only the handshake crossed: no login of any kind, and no mail.
  EXPECT_TRUE(s.pop3AuthAttempts().isEmpty());
  EXPECT_TRUE(s.smtpAuthAttempts().isEmpty());
  EXPECT_FALSE(s.dovecotLog().contains(QStringLiteral("Login:"))) << s.dovecotLog().toStdString();
  EXPECT_TRUE(s.received().isEmpty());

  // Reached by an address it does not name.
  OtherAddress other(s.pop3sPort());
  ASSERT_GT(other.port(), 0);
  const std::optional<ServerCertificate> c =
      tls::fetchCertificate(address(QStringLiteral("pop3s://127.0.0.2:%1").arg(other.port()), maillib::Protocol::Pop3));
  ASSERT_TRUE(c);
  EXPECT_FALSE(c->nameMatches);
  EXPECT_EQ(QString::fromLatin1(c->sha256.toHex()), s.certSha256());

  // A new key shows as such.
  ASSERT_TRUE(s.rekey());
  const std::optional<ServerCertificate> rekeyed = tls::fetchCertificate(address(pop3, maillib::Protocol::Pop3));
  ASSERT_TRUE(rekeyed);
  EXPECT_EQ(QString::fromLatin1(rekeyed->spkiSha256.toHex()), s.spkiSha256());
}

TEST(FetchCertificate, AServerThatDoesNotGoIntoTlsOrStaysSilentFailsInTime) {
  TempHome home;
  MailServers plain;  // SMTP without STARTTLS
  ASSERT_TRUE(plain.ok()) << plain.error().toStdString();
  maillib::Result why;
  EXPECT_FALSE(tls::fetchCertificate(address(QStringLiteral("127.0.0.1:%1").arg(plain.smtpPort()), maillib::Protocol::Smtp), &why));
  EXPECT_EQ(why.code, Code::TlsFailed) << said(why);
  EXPECT_EQ(why.port, plain.smtpPort());
  EXPECT_FALSE(why.reply.isEmpty());
  // An SMTP greeting where POP3 was expected.
  EXPECT_FALSE(tls::fetchCertificate(address(QStringLiteral("127.0.0.1:%1").arg(plain.smtpPort()), maillib::Protocol::Pop3), &why));
  EXPECT_EQ(why.code, Code::TlsFailed) << said(why);
  EXPECT_TRUE(why.reply.startsWith(QStringLiteral("220"))) << said(why);

  const int closed = closedLoopbackPort();
  EXPECT_FALSE(tls::fetchCertificate(address(QStringLiteral("127.0.0.1:%1").arg(closed), maillib::Protocol::Pop3), &why));
  EXPECT_EQ(why.code, Code::ConnectFailed) << said(why);
  EXPECT_EQ(why.host, QStringLiteral("127.0.0.1"));
  EXPECT_EQ(why.port, closed);

  // A server that takes the connection and never says a word.
  int silentPort = 0;
  const int silent = listenOn("127.0.0.1", &silentPort);
  ASSERT_GE(silent, 0);
  maillib::Pop3Limits limits;
  limits.stallMs = 400;
  const testhooks::Scoped bound(testhooks::pop3Limits, &limits);
  for (const QString& value : {QStringLiteral("127.0.0.1:%1"), QStringLiteral("pop3s://127.0.0.1:%1")}) {
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(tls::fetchCertificate(address(value.arg(silentPort), maillib::Protocol::Pop3), &why));
    EXPECT_EQ(why.code, Code::TimedOut) << said(why);
    EXPECT_LT(t.elapsed(), 5000);
  }
  // The caller gives the wait up.
  int calls = 0;
  EXPECT_FALSE(tls::fetchCertificate(address(QStringLiteral("127.0.0.1:%1").arg(silentPort), maillib::Protocol::Pop3), &why,
                                     [&] { return ++calls < 2; }));
  EXPECT_EQ(why.code, Code::Stopped) << said(why);
  ::close(silent);
}

TEST(PinnedKey, IsTheOneTrustOfItsServer) {
  TempHome home;
  MailServers::Options o;
  o.selfSigned = true;
  o.smtpAuth = true;
  o.smtpStartTls = true;
  MailServers s(o);
  ASSERT_TRUE(s.ok()) << s.error().toStdString();
  const QString smtp = QStringLiteral("127.0.0.1:%1").arg(s.smtpPort());
  const QString pin = QStringLiteral("sha256//") + s.spkiSha256Base64();

  // Not pinned: refused before anything of the login or the mail.
  EXPECT_LT(sendThrough(smtp, s, {}), 0);
  EXPECT_EQ(last().code, Code::CertificateUnverified) << said(last());
  EXPECT_EQ(last().host, QStringLiteral("127.0.0.1"));
  EXPECT_EQ(last().port, s.smtpPort());
  EXPECT_TRUE(s.smtpAuthAttempts().isEmpty());
  EXPECT_TRUE(s.received().isEmpty());

  // Pinned: the mail goes, logged in under TLS; and still after a new
  // certificate for the same key.
  ASSERT_EQ(sendThrough(smtp, s, {pin}), 0) << said(last());
  ASSERT_TRUE(s.renewCert());
  ASSERT_EQ(sendThrough(smtp, s, {pin}), 0) << said(last());
  ASSERT_EQ(s.received().size(), 2);
  EXPECT_TRUE(s.received()[1].authenticated);
  ASSERT_EQ(s.smtpAuthAttempts().size(), 2);
  EXPECT_TRUE(s.smtpAuthAttempts()[1].tls);

  // The name is still checked: the same key reached by an address the
  // certificate does not name is refused, unless the pin says the trusted
  // certificate did not name it either.
  OtherAddress other(s.smtpPort());
  ASSERT_GT(other.port(), 0);
  const QString elsewhere = QStringLiteral("127.0.0.2:%1").arg(other.port());
  EXPECT_LT(sendThrough(elsewhere, s, {pin}), 0);
  EXPECT_EQ(last().code, Code::CertificateUnverified) << said(last());
  EXPECT_EQ(last().port, other.port());
  ASSERT_EQ(sendThrough(elsewhere, s, {pin, true}), 0) << said(last());
  EXPECT_EQ(s.received().size(), 3);
  const qsizetype logins = s.smtpAuthAttempts().size();

  // Another key than the pinned one: refused as a changed key, nothing sent.
  EXPECT_LT(sendThrough(smtp, s, {otherKey()}), 0);
  EXPECT_EQ(last().code, Code::PinnedKeyChanged) << said(last());
  EXPECT_EQ(last().port, s.smtpPort());
  ASSERT_TRUE(s.rekey());
  for (bool anyName : {false, true}) {
    EXPECT_LT(sendThrough(smtp, s, {pin, anyName}), 0);
    EXPECT_EQ(last().code, Code::PinnedKeyChanged) << said(last());
  }
  EXPECT_EQ(s.smtpAuthAttempts().size(), logins);
  EXPECT_EQ(s.received().size(), 3);
}

TEST(PinnedKey, OpensThePop3LinkAndNothingElse) {
  TempHome home;
  MailServers::Options o;
  o.selfSigned = true;
  MailServers s(o);
  ASSERT_TRUE(s.ok()) << s.error().toStdString();
  for (const QString& value : {QStringLiteral("127.0.0.1:%1").arg(s.pop3Port()),
                               QStringLiteral("pop3s://127.0.0.1:%1").arg(s.pop3sPort())}) {
    SCOPED_TRACE(value.toStdString());
    maillib::ServerAddress server = address(value, maillib::Protocol::Pop3);
    QByteArray greeting;
    maillib::Result why;
    EXPECT_FALSE(maillib::openPop3Link(server, &greeting, &why));
    EXPECT_EQ(why.code, Code::CertificateUnverified) << said(why);
    EXPECT_EQ(why.port, server.port);
    server.pinnedKey = QStringLiteral("sha256//") + s.spkiSha256Base64();
    EXPECT_TRUE(maillib::openPop3Link(server, &greeting, &why)) << said(why);
    EXPECT_TRUE(greeting.startsWith("+OK")) << greeting.toStdString();
    server.pinnedKey = otherKey();
    EXPECT_FALSE(maillib::openPop3Link(server, &greeting, &why));
    EXPECT_EQ(why.code, Code::PinnedKeyChanged) << said(why);
    EXPECT_EQ(why.port, server.port);
  }
}

TEST(PinnedKey, AnAuthorityIsNotEnoughForAPinnedServerAndStillWorksForOthers) {
  TempHome home;
  MailServers::Options o;
  o.smtpAuth = true;
  o.smtpStartTls = true;
  MailServers s(o);  // signed by the test authority
  ASSERT_TRUE(s.ok()) << s.error().toStdString();
  trustTestCa(s, home.path());
  const QString smtp = QStringLiteral("localhost:%1").arg(s.smtpPort());
  ASSERT_EQ(sendThrough(smtp, s, {}), 0) << said(last());
  EXPECT_LT(sendThrough(smtp, s, {otherKey()}), 0);
  EXPECT_EQ(last().code, Code::PinnedKeyChanged) << said(last());
  ASSERT_EQ(sendThrough(smtp, s, {QStringLiteral("sha256//") + s.spkiSha256Base64()}), 0) << said(last());
  EXPECT_EQ(s.received().size(), 2);
}
