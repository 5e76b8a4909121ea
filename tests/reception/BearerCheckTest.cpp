// The mail check logging in with a bearer token against the local Dovecot,
// whose oauth2 passdb asks the local authorization server: the engine run
// in this process with the caller's login, as a signed-in account runs it.
// Each mechanism, a provider-sized token, a refused one, a password account
// beside it, and never a token on a connection in clear.
#include "platform/Paths.h"
#include "reception/CheckWords.h"
#include "reception/ReceiveEngine.h"
#include "settings/files/AccountSettings.h"
#include "store/RecordFile.h"
#include "store/Records.h"
#include "support/MailServers.h"
#include "support/Pop3Peer.h"
#include "support/StartTlsStripper.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

using reception::CheckCode;
using reception::CheckProblem;

namespace {

struct Sink : reception::CheckSink {
  QList<CheckProblem> problems;
  bool canAsk() const override { return false; }
  void checking() override {}
  void status(reception::CheckStatus) override {}
  void count(int) override {}
  void event() override {}
  void error(const reception::CheckFailure& f) override { problems += f.problems; }
  void notice(const CheckProblem& p) override { problems << p; }
  maillib::Code code() const { return problems.isEmpty() ? maillib::Code::Ok : problems[0].library.code; }
  QString words() const {
    QString all;
    for (const CheckProblem& p : problems) all += reception::problemText(p) + u'\n';
    return all;
  }
};

MailServers::Options withOAuth(const QString& mechanisms = QString()) {
  MailServers::Options o;
  o.oauth = true;
  o.oauthMechanisms = mechanisms;
  return o;
}

class BearerCheck : public ::testing::Test {
 protected:
  void SetUp() override { AccountSettings() = AccountSettingsRecord{}; }
  void TearDown() override { AccountSettings() = AccountSettingsRecord{}; }

  // The servers reached from this test's program folder, POP3 over
  // STARTTLS on `port` (implicit TLS on 995-like ports given as URLs).
  void reach(const MailServers& s, const QString& pop3) {
    trustTestCa(s, home_.path());
    AccountSettings().Pop3Server = pop3;
  }
  // One check whose login is `token` for the servers' user; `fresh` is
  // asked for once the server refused it (none: the refusal stands).
  Sink check(const MailServers& s, const QString& token, std::function<QString()> fresh = {}) {
    Sink sink;
    const QString user = s.oauthUser();
    reception::runCheck(sink, [&](bool again, std::optional<CheckProblem>*) -> std::optional<maillib::Credentials> {
      if (!again) return maillib::Credentials::bearer(user, token);
      if (!fresh) return std::nullopt;
      return maillib::Credentials::bearer(user, fresh());
    });
    return sink;
  }
  int stored() const {
    store::RecordFile f(home_.file(paths::kReceivedMailFile), store::MailRecord::kLength);
    return f.open() ? int(f.recordCount()) : 0;
  }
  // Dovecot's login lines ("Login: user=<...>, method=..., ..., TLS, ...").
  static QStringList logins(const MailServers& s) {
    QStringList out;
    for (const QString& l : s.dovecotLog().split(u'\n'))
      if (l.contains(u"Login: user=")) out << l;
    return out;
  }

  TempHome home_;
};

}  // namespace

// OAUTHBEARER when Dovecot offers it, XOAUTH2 when it offers only that;
// STARTTLS and implicit TLS; a token of a provider's size (past the 255
// octets of a command line) after the "+". Every login under TLS.
TEST_F(BearerCheck, EachMechanismLogsInUnderTlsAndFetches) {
  for (const QString& offered : {QString(), u"xoauth2"_qs}) {
    MailServers s(withOAuth(offered));
    ASSERT_TRUE(s.ok()) << s.error().toStdString();
    const QString mechanism = offered.isEmpty() ? u"OAUTHBEARER"_qs : u"XOAUTH2"_qs;
    const int before = stored();
    const QStringList servers{QStringLiteral("127.0.0.1:%1").arg(s.pop3Port()),
                              QStringLiteral("pop3s://127.0.0.1:%1").arg(s.pop3sPort())};
    for (const QString& server : servers) {
      for (const int length : {0, 2000}) {
        ASSERT_TRUE(s.oauthCommand("token-length " + QByteArray::number(length)).value(u"ok").toBool());
        const QString token = s.issueTokens().access;
        ASSERT_GE(token.size(), length);
        s.deliver("From: a@example.jp\r\nSubject: waiting\r\n\r\nbody\r\n");
        reach(s, server);
        const Sink sink = check(s, token);
        EXPECT_TRUE(sink.problems.isEmpty()) << sink.words().toStdString();
        EXPECT_EQ(s.mailboxCount(), 0);
      }
    }
    EXPECT_EQ(stored(), before + 4);
    const QList<MailServers::AuthAttempt> attempts = s.pop3AuthAttempts();
    ASSERT_EQ(attempts.size(), 4);
    for (const MailServers::AuthAttempt& a : attempts) {
      EXPECT_EQ(a.mechanism, mechanism);
      EXPECT_EQ(a.user, s.oauthUser());
      EXPECT_TRUE(a.tls && a.accepted);
    }
    const QStringList lines = logins(s);
    ASSERT_EQ(lines.size(), 4) << s.dovecotLog().toStdString();
    for (const QString& l : lines) {
      EXPECT_TRUE(l.contains(u"method="_qs + mechanism)) << l.toStdString();
      EXPECT_TRUE(l.contains(u", TLS")) << l.toStdString();
    }
  }
}

// An expired or revoked token is TokenRefused, with the server's status,
// in words that ask for the sign-in again and hold no token; a fresh one
// given at the second ask logs in on the same check. A password account on
// the same server works as before.
TEST_F(BearerCheck, ARefusedTokenIsToldAndAPasswordAccountStillWorks) {
  MailServers s(withOAuth());
  ASSERT_TRUE(s.ok()) << s.error().toStdString();
  reach(s, QStringLiteral("127.0.0.1:%1").arg(s.pop3Port()));
  s.deliver("From: a@example.jp\r\nSubject: waiting\r\n\r\nbody\r\n");

  const QString expired = s.issueTokens().access;
  ASSERT_TRUE(s.expireAccessTokens());
  const QString revoked = s.issueTokens().access;
  ASSERT_TRUE(s.revokeAccessToken(revoked));
  for (const QString& token : {expired, revoked}) {
    const Sink sink = check(s, token);
    ASSERT_EQ(sink.problems.size(), 1) << sink.words().toStdString();
    EXPECT_EQ(sink.problems[0].code, CheckCode::MailLibrary);
    EXPECT_EQ(sink.code(), maillib::Code::TokenRefused) << sink.words().toStdString();
    EXPECT_FALSE(sink.problems[0].library.detail.isEmpty());
    EXPECT_TRUE(sink.words().contains(u"「サインイン」をやり直して下さい"_qs)) << sink.words().toStdString();
    EXPECT_FALSE(sink.words().contains(token));
    EXPECT_EQ(s.mailboxCount(), 1);
  }
  EXPECT_EQ(stored(), 0);

  // The second ask, with a fresh token: the same connection takes it.
  int refreshed = 0;
  const Sink sink = check(s, expired, [&] {
    ++refreshed;
    return s.issueTokens().access;
  });
  EXPECT_TRUE(sink.problems.isEmpty()) << sink.words().toStdString();
  EXPECT_EQ(refreshed, 1);
  EXPECT_EQ(stored(), 1);
  const QList<MailServers::AuthAttempt> attempts = s.pop3AuthAttempts();
  ASSERT_EQ(attempts.size(), 4);
  EXPECT_FALSE(attempts[2].accepted);
  EXPECT_TRUE(attempts[3].accepted);
  for (const MailServers::AuthAttempt& a : attempts) EXPECT_TRUE(a.tls);

  // The password account, through the account file as ever.
  s.deliver("From: a@example.jp\r\nSubject: for the password\r\n\r\nbody\r\n");
  writeAccount(home_.path(), s.user(), s.password());
  Sink plain;
  reception::runCheck(plain);
  EXPECT_TRUE(plain.problems.isEmpty()) << plain.words().toStdString();
  EXPECT_EQ(stored(), 2);
  EXPECT_EQ(s.mailboxCount(), 0);
  EXPECT_TRUE(logins(s).last().contains(u"method=PLAIN"_qs)) << logins(s).last().toStdString();
}

// A man in the middle hides STARTTLS: with or without the user's permission
// for a plain login to that server, no token goes out, and the check says
// the sign-in needs encryption.
TEST_F(BearerCheck, NoTokenCrossesAConnectionWhoseStartTlsWasStripped) {
  MailServers s(withOAuth());
  ASSERT_TRUE(s.ok()) << s.error().toStdString();
  StartTlsStripper mitm(StartTlsStripper::Protocol::Pop3, s.pop3Port());
  ASSERT_GT(mitm.port(), 0);
  const QString server = QStringLiteral("127.0.0.1:%1").arg(mitm.port());
  reach(s, server);
  s.deliver("From: a@example.jp\r\nSubject: waiting\r\n\r\nbody\r\n");
  const QString token = s.issueTokens().access;
  for (const QString& allowed : {QString(), server}) {
    AccountSettings().PlainPop3Server = allowed;
    const Sink sink = check(s, token);
    EXPECT_EQ(sink.code(), maillib::Code::TokenNeedsTls) << sink.words().toStdString();
    EXPECT_FALSE(sink.words().contains(token));
  }
  EXPECT_FALSE(mitm.sawInClear(token.toUtf8()));
  EXPECT_FALSE(mitm.captured().contains("AUTH")) << mitm.captured().toStdString();
  EXPECT_TRUE(s.pop3AuthAttempts().isEmpty());
  EXPECT_EQ(s.mailboxCount(), 1);
  EXPECT_EQ(stored(), 0);
}

// A server that lists its token mechanism only once TLS is up (RFC 2595:
// what CAPA said before STLS no longer counts): the mechanism comes from
// the CAPA after STLS.
TEST_F(BearerCheck, TheMechanismIsTakenFromTheCapaAfterStartTls) {
  Pop3Peer peer(u"sasl-after-stls"_qs);
  ASSERT_TRUE(peer.ok()) << peer.error().toStdString();
  peer.setUp(home_.path());
  peer.add(u"id-1"_qs, u"one"_qs);
  AccountSettings().Pop3Server = peer.server();
  Sink sink;
  reception::runCheck(sink, [](bool, std::optional<CheckProblem>*) {
    return std::optional(maillib::Credentials::bearer(u"tomo@localhost"_qs, u"tok-any"_qs));
  });
  EXPECT_TRUE(sink.problems.isEmpty()) << sink.words().toStdString();
  EXPECT_EQ(stored(), 1);
  const QStringList commands = peer.state().commands;
  const qsizetype stls = commands.indexOf(u"STLS"_qs);
  ASSERT_GE(stls, 0) << commands.join(u' ').toStdString();
  qsizetype auth = -1;
  for (qsizetype i = 0; i < commands.size(); ++i)
    if (commands[i].startsWith(u"AUTH ")) auth = i;
  ASSERT_GT(auth, stls);
  EXPECT_TRUE(commands[auth].startsWith(u"AUTH OAUTHBEARER "));
  EXPECT_TRUE(commands.mid(stls, auth - stls).contains(u"CAPA"_qs));
}
