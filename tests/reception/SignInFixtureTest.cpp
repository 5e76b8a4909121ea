// The sign-in fixtures as a C++ test sees them through MailServers: tokens
// from the local authorization server log in to both mail servers over
// STARTTLS, the servers' records of what they were sent read back, and the
// self-signed certificate's key changed. curl stands in for the program, so
// a fault found here is the fixture's.
#include "support/MailServers.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace {

int curl(const QStringList& args) {
  QProcess p;
  p.start(QStringLiteral("curl"), QStringList{QStringLiteral("-sS"), QStringLiteral("--max-time"), QStringLiteral("30")} + args);
  if (!p.waitForFinished(60000)) return -1;
  return p.exitCode();
}

QStringList bearer(const MailServers& s, const QString& token) {
  return {QStringLiteral("--ssl-reqd"), QStringLiteral("--cacert"), s.certFile(), QStringLiteral("-u"),
          s.oauthUser() + u':', QStringLiteral("--oauth2-bearer"), token};
}

}  // namespace

TEST(SignInFixture, TokensLogInUntilExpiredAndEveryLoginIsRecorded) {
  MailServers::Options o;
  o.oauth = true;
  o.smtpStartTls = true;
  o.selfSigned = true;
  MailServers s(o);
  ASSERT_TRUE(s.ok()) << s.error().toStdString();
  EXPECT_TRUE(s.oauthAuthorizeUrl().startsWith(QStringLiteral("http://127.0.0.1:")));
  EXPECT_EQ(s.oauthUser(), s.address());
  const MailServers::Tokens t = s.issueTokens();
  ASSERT_FALSE(t.access.isEmpty());
  ASSERT_FALSE(t.refresh.isEmpty());

  const QString pop3 = QStringLiteral("pop3://127.0.0.1:%1/").arg(s.pop3Port());
  EXPECT_EQ(curl(bearer(s, t.access) << pop3), 0);
  QList<MailServers::AuthAttempt> a = s.pop3AuthAttempts();
  ASSERT_EQ(a.size(), 1);
  EXPECT_EQ(a[0].mechanism, QStringLiteral("OAUTHBEARER"));
  EXPECT_TRUE(a[0].tls);
  EXPECT_TRUE(a[0].accepted);
  EXPECT_TRUE(a[0].data.join(u'\n').contains(t.access));
  EXPECT_TRUE(s.dovecotLog().contains(QStringLiteral("method=OAUTHBEARER")));

  QTemporaryDir dir;
  QFile mail(dir.filePath(QStringLiteral("m.eml")));
  ASSERT_TRUE(mail.open(QIODevice::WriteOnly));
  mail.write("From: tomo@localhost\r\nTo: tomo@localhost\r\nSubject: fixture\r\n\r\nbody\r\n");
  mail.close();
  const QStringList send{QStringLiteral("--mail-from"), s.address(), QStringLiteral("--mail-rcpt"), s.address(),
                         QStringLiteral("-T"), mail.fileName(), QStringLiteral("smtp://127.0.0.1:%1/").arg(s.smtpPort())};
  EXPECT_EQ(curl(bearer(s, t.access) + send), 0);
  EXPECT_EQ(s.mailboxCount(), 1);
  a = s.smtpAuthAttempts();
  ASSERT_EQ(a.size(), 1);
  EXPECT_TRUE(a[0].tls && a[0].accepted);

  ASSERT_TRUE(s.expireAccessTokens());
  EXPECT_EQ(curl(bearer(s, t.access) << pop3), 67);  // login denied
  EXPECT_EQ(curl(bearer(s, t.access) + send), 67);
  EXPECT_FALSE(s.pop3AuthAttempts().last().accepted);
  EXPECT_FALSE(s.smtpAuthAttempts().last().accepted);
  EXPECT_GE(s.oauthCounts().value(QStringLiteral("introspect")).toInt(), 4);
}

TEST(SignInFixture, SelfSignedKeyChangesOnRekeyOnly) {
  MailServers::Options o;
  o.selfSigned = true;
  MailServers s(o);
  ASSERT_TRUE(s.ok()) << s.error().toStdString();
  const QString cert = s.certSha256(), key = s.spkiSha256();
  ASSERT_EQ(cert.size(), 64);
  const QStringList login{QStringLiteral("--ssl-reqd"), QStringLiteral("-k"), QStringLiteral("-u"),
                          s.user() + u':' + s.password(), QStringLiteral("pop3://127.0.0.1:%1/").arg(s.pop3Port())};
  const QString pin = QStringLiteral("sha256//") + s.spkiSha256Base64();
  EXPECT_EQ(curl(QStringList{QStringLiteral("--pinnedpubkey"), pin} + login), 0);
  ASSERT_TRUE(s.renewCert());
  EXPECT_NE(s.certSha256(), cert);
  EXPECT_EQ(s.spkiSha256(), key);
  ASSERT_TRUE(s.rekey());
  EXPECT_NE(s.spkiSha256(), key);
  EXPECT_EQ(curl(QStringList{QStringLiteral("--pinnedpubkey"), pin} + login), 90);  // pinned key mismatch
}

TEST(SignInFixture, KeyringSessionKeepsASecretInItsOwnFolderOnly) {
  QTemporaryDir home;
  const QString secret = QStringLiteral("tok-fixture-1");
  QProcess p;
  p.start(QStringLiteral(TOMOSHIBI_SOURCE_DIR "/tests/support/keyring_session.sh"),
          {QStringLiteral("--dir"), home.path(), QStringLiteral("--"), QStringLiteral("secret-tool"),
           QStringLiteral("store"), QStringLiteral("--label=fixture"), QStringLiteral("service"),
           QStringLiteral("tomoshibi"), QStringLiteral("user"), QStringLiteral("tomo")});
  ASSERT_TRUE(p.waitForStarted());
  p.write(secret.toUtf8());
  p.closeWriteChannel();
  ASSERT_TRUE(p.waitForFinished(30000));
  ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
  EXPECT_EQ(keyringLookup(home.path(), {QStringLiteral("service"), QStringLiteral("tomoshibi")}), secret);
  const QString dump = keyringDump(home.path(), QStringLiteral("org.freedesktop.Secret.Generic"));
  EXPECT_TRUE(dump.contains(QStringLiteral("secret = ") + secret)) << dump.toStdString();
  EXPECT_TRUE(dump.contains(QStringLiteral("attribute.user = tomo"))) << dump.toStdString();
  EXPECT_TRUE(QFile::exists(home.filePath(QStringLiteral(".local/share/keyrings/login.keyring"))));
  // The program runs under each kind of session (here it only prints its version).
  for (Keyring k : {Keyring::Locked, Keyring::None, Keyring::NoBus}) {
    const RunResult r = runProgramWithKeyring({QStringLiteral("--version")}, home.path(), home.path(), k, 30000);
    EXPECT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_FALSE(r.out.trimmed().isEmpty());
  }
}
