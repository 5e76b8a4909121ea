// Sending with a bearer token through the send library against the local
// aiosmtpd, which checks each token with the local authorization server:
// each mechanism, a refused token told apart from a wrong password, a
// password account beside it, and never a token on a connection in clear.
#include "composer/send/MailSend.h"
#include "reception/maillib/MailLib.h"
#include "settings/files/AccountSettings.h"
#include "support/MailServers.h"
#include "support/StartTlsStripper.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

using maillib::Code;

namespace {

MailServers::Options withOAuth(const QString& mechanisms = QString()) {
  MailServers::Options o;
  o.oauth = true;
  o.smtpStartTls = true;
  o.smtps = true;
  o.oauthMechanisms = mechanisms;
  return o;
}

class BearerSend : public ::testing::Test {
 protected:
  void SetUp() override { AccountSettings() = AccountSettingsRecord{}; }
  void TearDown() override { AccountSettings() = AccountSettingsRecord{}; }

  void reach(const MailServers& s, const QString& smtp) {
    trustTestCa(s, home_.path());
    AccountSettings().SmtpServer = smtp;
    AccountSettings().MailAddress = s.address();
  }
  SendOutcome send(const MailServers& s, const QString& token) {
    return SendOneMailAs(maillib::Credentials::bearer(s.oauthUser(), token), s.address(), QStringLiteral("件名"),
                         QStringLiteral("本文"), QString());
  }

  TempHome home_;
};

}  // namespace

// OAUTHBEARER when offered, else XOAUTH2; STARTTLS and implicit TLS; a
// provider-sized token. The server saw every login under TLS.
TEST_F(BearerSend, EachMechanismLogsInUnderTlsAndSends) {
  for (const QString& offered : {QString(), u"xoauth2"_qs}) {
    MailServers s(withOAuth(offered));
    ASSERT_TRUE(s.ok()) << s.error().toStdString();
    int sent = 0;
    for (const QString& server : {QStringLiteral("127.0.0.1:%1").arg(s.smtpPort()),
                                  QStringLiteral("smtps://127.0.0.1:%1").arg(s.smtpsPort())}) {
      for (const int length : {0, 2000}) {
        ASSERT_TRUE(s.oauthCommand("token-length " + QByteArray::number(length)).value(u"ok").toBool());
        const QString token = s.issueTokens().access;
        ASSERT_GE(token.size(), length);
        reach(s, server);
        const SendOutcome o = send(s, token);
        EXPECT_TRUE(o.ok) << o.error.toStdString();
        ++sent;
      }
    }
    const QList<MailServers::Received> got = s.received();
    ASSERT_EQ(got.size(), sent);
    for (const MailServers::Received& r : got) EXPECT_TRUE(r.authenticated);
    const QList<MailServers::AuthAttempt> attempts = s.smtpAuthAttempts();
    ASSERT_EQ(attempts.size(), sent);
    for (const MailServers::AuthAttempt& a : attempts) {
      EXPECT_EQ(a.mechanism, offered.isEmpty() ? u"OAUTHBEARER"_qs : u"XOAUTH2"_qs);
      EXPECT_TRUE(a.tls && a.accepted);
    }
  }
}

// An expired or revoked token is TokenRefused (a fresh one may be tried),
// a wrong password is not; the words ask for the sign-in again and hold no
// token. The password account sends as before.
TEST_F(BearerSend, ARefusedTokenIsToldApartAndAPasswordAccountStillSends) {
  MailServers s(withOAuth());
  ASSERT_TRUE(s.ok()) << s.error().toStdString();
  reach(s, QStringLiteral("127.0.0.1:%1").arg(s.smtpPort()));
  const QString expired = s.issueTokens().access;
  ASSERT_TRUE(s.expireAccessTokens());
  const QString revoked = s.issueTokens().access;
  ASSERT_TRUE(s.revokeAccessToken(revoked));
  for (const QString& token : {expired, revoked}) {
    const SendOutcome o = send(s, token);
    EXPECT_FALSE(o.ok);
    EXPECT_FALSE(o.uncertain);
    EXPECT_TRUE(o.tokenRefused);
    EXPECT_EQ(MailLibSmtpLastResult().code, Code::TokenRefused);
    EXPECT_EQ(MailLibSmtpLastResult().detail, u"invalid_token"_qs);  // the OAUTHBEARER error step's status
    EXPECT_TRUE(o.error.contains(u"「サインイン」をやり直して下さい"_qs)) << o.error.toStdString();
    EXPECT_FALSE(o.error.contains(token));
  }
  EXPECT_TRUE(s.received().isEmpty());
  for (const MailServers::AuthAttempt& a : s.smtpAuthAttempts()) EXPECT_TRUE(a.tls);

  AccountSettings().UserId = s.user();
  AccountSettings().Password = u"wrong"_qs;
  SendOutcome o = SendOneMail(s.address(), QStringLiteral("件名"), QStringLiteral("本文"), QString());
  EXPECT_FALSE(o.ok);
  EXPECT_FALSE(o.tokenRefused);
  EXPECT_EQ(MailLibSmtpLastResult().code, Code::LoginDenied);
  AccountSettings().Password = s.password();
  o = SendOneMail(s.address(), QStringLiteral("件名"), QStringLiteral("本文"), QString());
  EXPECT_TRUE(o.ok) << o.error.toStdString();
  ASSERT_EQ(s.received().size(), 1);
  EXPECT_TRUE(s.received()[0].authenticated);
}

// A man in the middle hides STARTTLS: even with the user's permission for
// a plain login to that server, the token is not sent and the send says
// the sign-in needs encryption.
TEST_F(BearerSend, NoTokenCrossesAConnectionWhoseStartTlsWasStripped) {
  MailServers s(withOAuth());
  ASSERT_TRUE(s.ok()) << s.error().toStdString();
  StartTlsStripper mitm(StartTlsStripper::Protocol::Smtp, s.smtpPort());
  ASSERT_GT(mitm.port(), 0);
  const QString server = QStringLiteral("127.0.0.1:%1").arg(mitm.port());
  reach(s, server);
  const QString token = s.issueTokens().access;
  for (const QString& allowed : {QString(), server}) {
    AccountSettings().PlainSmtpServer = allowed;
    const SendOutcome o = send(s, token);
    EXPECT_FALSE(o.ok);
    EXPECT_FALSE(o.tokenRefused);
    EXPECT_EQ(MailLibSmtpLastResult().code, Code::TokenNeedsTls);
    EXPECT_TRUE(o.error.contains(u"暗号化"_qs)) << o.error.toStdString();
  }
  EXPECT_FALSE(mitm.sawInClear(token.toUtf8()));
  EXPECT_FALSE(mitm.captured().toUpper().contains("AUTH")) << mitm.captured().toStdString();
  EXPECT_TRUE(s.smtpAuthAttempts().isEmpty());
  EXPECT_TRUE(s.received().isEmpty());
}

// A server that takes passwords only: the token is not sent, nor the user's
// name with an empty password in its place; the send says the server has
// no sign-in with a token.
TEST_F(BearerSend, AServerWithoutTokenLoginsIsNotSentTheToken) {
  MailServers::Options o;
  o.smtpAuth = true;
  o.smtpStartTls = true;
  MailServers s(o);
  ASSERT_TRUE(s.ok()) << s.error().toStdString();
  reach(s, QStringLiteral("127.0.0.1:%1").arg(s.smtpPort()));
  const SendOutcome out = SendOneMailAs(maillib::Credentials::bearer(s.address(), u"tok-unused"_qs), s.address(),
                                        QStringLiteral("件名"), QStringLiteral("本文"), QString());
  EXPECT_FALSE(out.ok);
  EXPECT_FALSE(out.tokenRefused);
  EXPECT_EQ(MailLibSmtpLastResult().code, Code::BearerNotOffered);
  EXPECT_TRUE(out.error.contains(u"対応していません"_qs)) << out.error.toStdString();
  EXPECT_TRUE(s.smtpAuthAttempts().isEmpty());
  EXPECT_TRUE(s.received().isEmpty());
}
