// The browser sign-in and the refresh grant against the local
// authorization server (tests/support/oauth_server.py), with
// tests/support/fake_browser.sh as the user's browser: the whole flow with
// PKCE (and proof that the server would refuse one without it), a user who
// says no, a forged answer, no browser, nobody coming back; refreshing, a
// revoked refresh token; token endpoints that answer badly.
#include "settings/signin/RefreshGrant.h"
#include "settings/signin/BrowserSignIn.h"
#include "settings/signin/Pkce.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUrlQuery>

using signin::SignInResult;
using Status = signin::SignInResult::Status;

namespace {

const QString kSupport = QStringLiteral(TOMOSHIBI_SOURCE_DIR "/tests/support/");

// oauth_server.py on its own, driven through its standard input.
class AuthorizationServer {
 public:
  explicit AuthorizationServer(const QStringList& args = {}) {
    proc_.start(QStringLiteral("/usr/bin/python3"), QStringList{kSupport + u"oauth_server.py"_qs} + args);
    QByteArray line;
    while (!line.endsWith('\n') && (proc_.canReadLine() || proc_.waitForReadyRead(20000))) line += proc_.readLine();
    info_ = QJsonDocument::fromJson(line).object();
  }
  ~AuthorizationServer() {
    proc_.write("quit\n");
    proc_.closeWriteChannel();
    if (!proc_.waitForFinished(5000)) proc_.kill();
  }
  bool ok() const { return info_.contains(u"port"); }
  QJsonObject command(const QByteArray& line) {
    proc_.write(line + '\n');
    QByteArray answer;
    while (!answer.endsWith('\n') && (proc_.canReadLine() || proc_.waitForReadyRead(10000))) answer += proc_.readLine();
    return QJsonDocument::fromJson(answer).object();
  }
  QJsonArray requests(const QString& endpoint) {
    return command("requests " + endpoint.toLatin1()).value(u"requests").toArray();
  }
  signin::Provider provider() const {
    signin::Provider p;
    p.id = u"local"_qs;
    p.authorizeUrl = info_.value(u"authorize_url").toString();
    p.tokenUrl = info_.value(u"token_url").toString();
    p.clientId = info_.value(u"client_id").toString();
    p.scope = u"mail"_qs;
    return p;
  }

 private:
  QProcess proc_;
  QJsonObject info_;
};

// fake_browser.sh in `mode`, logging to `log`.
signin::BrowserSignIn::Opener browser(const QString& log, const QString& mode = u"approve"_qs) {
  return [=](const QUrl& url) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"FAKE_BROWSER_LOG"_qs, log);
    env.insert(u"FAKE_BROWSER_MODE"_qs, mode);
    p.setProcessEnvironment(env);
    p.start(kSupport + u"fake_browser.sh"_qs, {url.toString(QUrl::FullyEncoded)});
    return p.waitForFinished(10000) && p.exitCode() == 0;
  };
}

QString openedUrl(const QString& log) {
  QFile f(log);
  if (!f.open(QIODevice::ReadOnly)) return {};
  for (const QByteArray& line : f.readAll().split('\n'))
    if (line.startsWith("url ")) return QString::fromUtf8(line.mid(4));
  return {};
}

// A token endpoint that answers every request with `response` (a whole
// HTTP answer) and closes.
class CannedServer : public QTcpServer {
 public:
  QByteArray response;
  CannedServer() {
    listen(QHostAddress::LocalHost);
    connect(this, &QTcpServer::newConnection, this, [this] {
      while (QTcpSocket* s = nextPendingConnection()) {
        connect(s, &QTcpSocket::readyRead, s, [this, s] {
          if (!s->readAll().isEmpty()) {
            s->write(response);
            s->disconnectFromHost();
          }
        });
        connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
      }
    });
  }
  QString url() const { return QStringLiteral("http://127.0.0.1:%1/token").arg(serverPort()); }
};

QByteArray http(const QByteArray& status, const QByteArray& body) {
  return "HTTP/1.1 " + status + "\r\nContent-Type: application/json\r\nContent-Length: " +
         QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

}  // namespace

TEST(BrowserSignInTest, FullFlowSendsPkceAndGivesTokensThatRefresh) {
  AuthorizationServer server;
  ASSERT_TRUE(server.ok());
  QTemporaryDir dir;
  const QString log = dir.filePath(u"browser.log"_qs);
  const SignInResult r = signin::signInWithBrowser(server.provider(), browser(log), 30000);
  ASSERT_EQ(r.status, Status::Ok) << r.detail.toStdString();
  EXPECT_TRUE(r.accessToken.startsWith(u"at-"));
  EXPECT_TRUE(r.refreshToken.startsWith(u"rt-"));
  EXPECT_EQ(r.expiresIn, 3600);

  // The authorization request carried an S256 challenge and a loopback
  // redirect; the token request the verifier that matches it.
  const QJsonArray authorize = server.requests(u"authorize"_qs);
  ASSERT_EQ(authorize.size(), 1);
  const QJsonObject a = authorize[0].toObject().value(u"params").toObject();
  EXPECT_EQ(a.value(u"code_challenge_method").toString(), u"S256"_qs);
  EXPECT_EQ(a.value(u"client_id").toString(), u"tomoshibi-test"_qs);
  EXPECT_TRUE(a.value(u"redirect_uri").toString().startsWith(u"http://127.0.0.1:"));
  const QJsonArray token = server.requests(u"token"_qs);
  ASSERT_EQ(token.size(), 1);
  const QJsonObject t = token[0].toObject().value(u"params").toObject();
  EXPECT_EQ(t.value(u"grant_type").toString(), u"authorization_code"_qs);
  const QByteArray verifier = t.value(u"code_verifier").toString().toLatin1();
  EXPECT_GE(verifier.size(), 43);
  EXPECT_EQ(signin::codeChallenge(verifier), a.value(u"code_challenge").toString().toLatin1());

  // The same request without the challenge is refused by the server: the
  // sign-in above worked because the program sent it.
  QUrl stripped(openedUrl(log));
  QUrlQuery q(stripped);
  ASSERT_TRUE(q.hasQueryItem(u"code_challenge"_qs));
  q.removeAllQueryItems(u"code_challenge"_qs);
  q.removeAllQueryItems(u"code_challenge_method"_qs);
  stripped.setQuery(q);
  QProcess curl;
  curl.start(u"curl"_qs, {u"-sS"_qs, u"-o"_qs, u"/dev/null"_qs, u"-w"_qs, u"%{redirect_url}"_qs,
                          stripped.toString(QUrl::FullyEncoded)});
  ASSERT_TRUE(curl.waitForFinished(20000));
  const QString back = QString::fromUtf8(curl.readAllStandardOutput());
  EXPECT_TRUE(back.contains(u"error=invalid_request")) << back.toStdString();
  EXPECT_FALSE(back.contains(u"code=")) << back.toStdString();

  // The refresh grant gives a new access token and (the server does not
  // turn them over) no new refresh token; a revoked one is refused as a
  // dead grant, which means signing in again.
  QString networkError;
  signin::TokenReply fresh = signin::refreshGrant(server.provider(), r.refreshToken, &networkError);
  EXPECT_TRUE(networkError.isEmpty()) << networkError.toStdString();
  ASSERT_EQ(fresh.kind, signin::TokenReply::Kind::Tokens) << fresh.error.toStdString();
  EXPECT_NE(fresh.accessToken, r.accessToken);
  EXPECT_TRUE(fresh.refreshToken.isEmpty());
  const QJsonObject sent = server.requests(u"token"_qs).last().toObject().value(u"params").toObject();
  EXPECT_EQ(sent.value(u"grant_type").toString(), u"refresh_token"_qs);
  EXPECT_EQ(sent.value(u"client_id").toString(), u"tomoshibi-test"_qs);
  ASSERT_TRUE(server.command("revoke-refresh " + r.refreshToken.toLatin1()).value(u"ok").toBool());
  fresh = signin::refreshGrant(server.provider(), r.refreshToken, &networkError);
  EXPECT_EQ(fresh.kind, signin::TokenReply::Kind::GrantRefused);
}

TEST(BrowserSignInTest, ClientSecretGoesToTheTokenEndpoint) {
  AuthorizationServer server({u"--client-secret"_qs, u"open-secret"_qs});
  ASSERT_TRUE(server.ok());
  QTemporaryDir dir;
  signin::Provider p = server.provider();
  SignInResult r = signin::signInWithBrowser(p, browser(dir.filePath(u"1.log"_qs)), 30000);
  EXPECT_EQ(r.status, Status::Refused) << r.detail.toStdString();  // no secret: invalid_client
  p.clientSecret = u"open-secret"_qs;
  r = signin::signInWithBrowser(p, browser(dir.filePath(u"2.log"_qs)), 30000);
  ASSERT_EQ(r.status, Status::Ok) << r.detail.toStdString();
  QString networkError;
  EXPECT_EQ(signin::refreshGrant(p, r.refreshToken, &networkError).kind, signin::TokenReply::Kind::Tokens);
}

// Every way a sign-in ends without tokens ends it, once, with its reason.
TEST(BrowserSignInTest, NoDenialForgeryOrSilenceGivesTokens) {
  AuthorizationServer server;
  ASSERT_TRUE(server.ok());
  QTemporaryDir dir;
  SignInResult r = signin::signInWithBrowser(server.provider(), browser(dir.filePath(u"d.log"_qs), u"deny"_qs), 30000);
  EXPECT_EQ(r.status, Status::Denied);
  EXPECT_TRUE(r.detail.contains(u"access_denied")) << r.detail.toStdString();
  r = signin::signInWithBrowser(server.provider(), browser(dir.filePath(u"w.log"_qs), u"wrong-state"_qs), 30000);
  EXPECT_EQ(r.status, Status::Denied);
  r = signin::signInWithBrowser(server.provider(), browser(dir.filePath(u"f.log"_qs), u"fail"_qs), 30000);
  EXPECT_EQ(r.status, Status::NoBrowser);
  r = signin::signInWithBrowser(server.provider(), browser(dir.filePath(u"n.log"_qs), u"never"_qs), 1500);
  EXPECT_EQ(r.status, Status::TimedOut);
  // The server refusing the scope sends the user back with an error.
  signin::Provider p = server.provider();
  p.authorizeUrl += u"?x=1"_qs;
  AuthorizationServer scoped({u"--scope"_qs, u"needed"_qs});
  p = scoped.provider();
  r = signin::signInWithBrowser(p, browser(dir.filePath(u"s.log"_qs)), 30000);
  EXPECT_EQ(r.status, Status::Denied);
  EXPECT_TRUE(r.detail.contains(u"invalid_scope")) << r.detail.toStdString();
  // No endpoints or client ID, or an endpoint in clear over the network:
  // nothing is opened.
  int opened = 0;
  auto count = [&](const QUrl&) { return ++opened, true; };
  p = server.provider();
  p.clientId.clear();
  EXPECT_EQ(signin::signInWithBrowser(p, count, 5000).status, Status::NotConfigured);
  p = server.provider();
  p.tokenUrl = u"http://auth.example/token"_qs;
  EXPECT_EQ(signin::signInWithBrowser(p, count, 5000).status, Status::NotConfigured);
  EXPECT_EQ(opened, 0);
  // Not a single token was given out.
  EXPECT_TRUE(server.command("tokens").value(u"access").toArray().isEmpty());
}

// Token endpoints in trouble, or answering what is not a token answer:
// reported, never taken for tokens.
TEST(BrowserSignInTest, BadTokenAnswersAreReportedNotTaken) {
  AuthorizationServer server;
  ASSERT_TRUE(server.ok());
  QTemporaryDir dir;
  ASSERT_TRUE(server.command("fail token 503").value(u"ok").toBool());
  SignInResult r = signin::signInWithBrowser(server.provider(), browser(dir.filePath(u"1.log"_qs)), 30000);
  EXPECT_EQ(r.status, Status::Unreachable) << r.detail.toStdString();

  CannedServer canned;
  signin::Provider p = server.provider();
  p.tokenUrl = canned.url();
  const QList<std::pair<QByteArray, signin::TokenReply::Kind>> answers{
      {http("200 OK", R"({"access_token":"at x"})"), signin::TokenReply::Kind::Malformed},
      {http("200 OK", "{\"access_token\":"), signin::TokenReply::Kind::Malformed},
      {http("200 OK", R"({"token_type":"Bearer"})"), signin::TokenReply::Kind::Malformed},
      {http("400 Bad Request", R"({"error":"invalid_grant"})"), signin::TokenReply::Kind::GrantRefused},
      {http("500 Oops", "<html></html>"), signin::TokenReply::Kind::ServerTrouble},
      {"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n{\"access", signin::TokenReply::Kind::Malformed},
      {"garbage\r\n\r\n", signin::TokenReply::Kind::Malformed},
  };
  for (const auto& [answer, kind] : answers) {
    canned.response = answer;
    QString networkError;
    const signin::TokenReply reply = signin::refreshGrant(p, u"rt-1"_qs, &networkError, 5000);
    EXPECT_EQ(reply.kind, kind) << answer.toStdString();
    EXPECT_TRUE(reply.accessToken.isEmpty());
  }
  // The code exchange reads its answer the same way; an answer without a
  // refresh token is no lasting sign-in.
  canned.response = http("200 OK", R"({"access_token":"at-1","token_type":"Bearer"})");
  r = signin::signInWithBrowser(p, browser(dir.filePath(u"2.log"_qs)), 30000);
  EXPECT_EQ(r.status, Status::Malformed);
  EXPECT_TRUE(r.accessToken.isEmpty());
  canned.response = http("200 OK", R"({"access_token":"at\u0000"})");
  r = signin::signInWithBrowser(p, browser(dir.filePath(u"3.log"_qs)), 30000);
  EXPECT_EQ(r.status, Status::Malformed);
  // Nobody listens: unreachable.
  canned.close();
  QString networkError;
  signin::refreshGrant(p, u"rt-1"_qs, &networkError, 5000);
  EXPECT_FALSE(networkError.isEmpty());
}
