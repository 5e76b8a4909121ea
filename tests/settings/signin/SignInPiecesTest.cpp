// The sign-in's pieces without a server: the token endpoint's answers read
// from bytes (every shape a server or a broken network may send), PKCE
// against RFC 7636's own example, and the presets as data: built in, then
// changed and extended by the data folder's files.
#include "settings/signin/Pkce.h"
#include "settings/signin/Providers.h"
#include "settings/signin/TokenReply.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <QRandomGenerator>

using signin::TokenReply;
using Kind = signin::TokenReply::Kind;

TEST(TokenReplyTest, AnswersOfRfc6749AreRead) {
  TokenReply r = signin::parseTokenReply(
      R"({"access_token":"at-1","token_type":"Bearer","expires_in":3599,"refresh_token":"rt-1","scope":"mail"})", 200);
  EXPECT_EQ(r.kind, Kind::Tokens);
  EXPECT_EQ(r.accessToken, u"at-1"_qs);
  EXPECT_EQ(r.refreshToken, u"rt-1"_qs);
  EXPECT_EQ(r.expiresIn, 3599);
  EXPECT_EQ(r.scope, u"mail"_qs);
  // expires_in as a string, token_type in another case or left out, no
  // refresh token (a refresh grant that keeps the old one).
  r = signin::parseTokenReply(R"({"access_token":"at-2","token_type":"bearer","expires_in":"60"})", 200);
  EXPECT_EQ(r.kind, Kind::Tokens);
  EXPECT_EQ(r.expiresIn, 60);
  EXPECT_TRUE(r.refreshToken.isEmpty());
  r = signin::parseTokenReply(R"({"access_token":"at-3"})", 200);
  EXPECT_EQ(r.kind, Kind::Tokens);
  EXPECT_EQ(r.expiresIn, -1);
  r = signin::parseTokenReply(R"({"access_token":"at-4","expires_in":-5})", 200);
  EXPECT_EQ(r.expiresIn, -1);
  r = signin::parseTokenReply(R"({"access_token":"at-5","expires_in":1e300})", 200);
  EXPECT_EQ(r.expiresIn, qint64(10) * 365 * 86400);

  r = signin::parseTokenReply(R"({"error":"invalid_grant","error_description":"revoked"})", 400);
  EXPECT_EQ(r.kind, Kind::GrantRefused);
  EXPECT_EQ(r.errorDescription, u"revoked"_qs);
  EXPECT_EQ(signin::parseTokenReply(R"({"error":"invalid_client"})", 401).kind, Kind::ClientRefused);
  EXPECT_EQ(signin::parseTokenReply(R"({"error":"unauthorized_client"})", 400).kind, Kind::ClientRefused);
  EXPECT_EQ(signin::parseTokenReply(R"({"error":"invalid_scope"})", 400).kind, Kind::Refused);
  EXPECT_EQ(signin::parseTokenReply(R"({"error":"temporarily_unavailable"})", 503).kind, Kind::ServerTrouble);
  EXPECT_EQ(signin::parseTokenReply("<html>Bad gateway</html>", 502).kind, Kind::ServerTrouble);
}

// Nothing unusable is taken for a token: a token with a space, a control
// character or a byte outside ASCII would break the SASL message it goes
// into.
TEST(TokenReplyTest, WhatIsNotAnAnswerIsMalformed) {
  const QList<QByteArray> bodies{
      "", "null", "[]", "\"at\"", "{", "{}", R"({"access_token":""})", R"({"access_token":5})",
      R"({"access_token":"a b"})", R"({"access_token":"a\u0001b"})", R"({"access_token":"a\r\nAUTH"})",
      R"({"access_token":"\u00e9t\u00e9"})", R"({"access_token":"at","token_type":"mac"})",
      R"({"access_token":"at","token_type":5})", R"({"access_token":"at","refresh_token":7})",
      R"({"access_token":"at","refresh_token":"r t"})", R"({"access_token":null})",
      "{\"access_token\":\"at\"}trailing"};
  for (const QByteArray& b : bodies)
    EXPECT_EQ(signin::parseTokenReply(b, 200).kind, Kind::Malformed) << b.toStdString();
  // A 200 is required of tokens; an error needs no particular status.
  EXPECT_EQ(signin::parseTokenReply(R"({"access_token":"at"})", 302).kind, Kind::Malformed);
  EXPECT_EQ(signin::parseTokenReply(R"({"access_token":"at"})", 0).kind, Kind::Tokens);
  QByteArray huge = R"({"access_token":"at","x":")" + QByteArray(signin::kMaxTokenReplyBytes, 'x') + "\"}";
  EXPECT_EQ(signin::parseTokenReply(huge, 200).kind, Kind::Malformed);
  EXPECT_EQ(signin::parseTokenReply(R"({"access_token":")" + QByteArray(17000, 'a') + "\"}", 200).kind,
            Kind::Malformed);
}

// Cut and mutated answers of every length come back as some kind, and a
// token taken from them is always usable.
TEST(TokenReplyTest, DamagedAnswersNeverYieldAnUnusableToken) {
  const QByteArray good =
      R"({"access_token":"at-1","token_type":"Bearer","expires_in":3599,"refresh_token":"rt-1","scope":"a b"})";
  QRandomGenerator random(22);
  for (int i = 0; i <= good.size(); ++i) {
    for (int round = 0; round < 20; ++round) {
      QByteArray b = good.left(i);
      for (int n = random.bounded(3); n > 0 && !b.isEmpty(); --n) b[random.bounded(b.size())] = char(random.bounded(256));
      const TokenReply r = signin::parseTokenReply(b, random.bounded(2) ? 200 : 400);
      if (r.kind == Kind::Tokens) {
        EXPECT_TRUE(signin::tokenUsable(r.accessToken));
        EXPECT_TRUE(r.refreshToken.isEmpty() || signin::tokenUsable(r.refreshToken));
      }
    }
  }
}


// What a server says of a refusal is shown and may be kept: a JSON escape
// that gives half a surrogate pair, or a cut at the limit between the two
// halves, must not leave a character that cannot be written.
TEST(TokenReplyTest, TheServersWordsComeWithWholeCharactersOnly) {
  TokenReply r = signin::parseTokenReply(
      R"({"error":"x\udc00y","error_description":"\ud800 and \udc00, whole \ud83d\ude00"})", 400);
  EXPECT_EQ(r.error, QStringLiteral("x\uFFFDy"));
  EXPECT_EQ(r.errorDescription, QStringLiteral("\uFFFD and \uFFFD, whole \U0001F600"));

  // 499 letters, then a pair that the limit of 500 would cut in half.
  r = signin::parseTokenReply("{\"error\":\"invalid_scope\",\"error_description\":\"" + QByteArray(499, 'a') +
                                  "\\ud83d\\ude00\"}",
                              400);
  EXPECT_EQ(r.errorDescription, QString(499, u'a'));
}
TEST(PkceTest, ChallengeIsRfc7636sExampleAndVerifiersDiffer) {
  EXPECT_EQ(signin::codeChallenge("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"),
            QByteArray("E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM"));
  const QByteArray a = signin::newCodeVerifier(), b = signin::newCodeVerifier();
  EXPECT_NE(a, b);
  EXPECT_EQ(a.size(), 43);
  for (char c : a) EXPECT_TRUE(QByteArray("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~").contains(c));
}

TEST(ProvidersTest, BuiltInPresetsAreMicrosoftGoogleAndManual) {
  TempHome home;
  const QList<signin::Provider> list = signin::providers();
  ASSERT_EQ(list.size(), 3);
  const std::optional<signin::Provider> ms = signin::findProvider(u"microsoft"_qs);
  ASSERT_TRUE(ms);
  EXPECT_EQ(ms->pop3Server, u"outlook.office365.com:995"_qs);
  EXPECT_EQ(ms->pop3Tls, u"implicit"_qs);
  EXPECT_EQ(ms->smtpServer, u"smtp.office365.com:587"_qs);
  EXPECT_EQ(ms->smtpTls, u"starttls"_qs);
  EXPECT_EQ(ms->signIn, 1);
  EXPECT_TRUE(ms->authorizeUrl.startsWith(u"https://login.microsoftonline.com/"));
  EXPECT_TRUE(ms->scope.contains(u"offline_access"));
  const std::optional<signin::Provider> google = signin::findProvider(u"google"_qs);
  ASSERT_TRUE(google);
  EXPECT_EQ(google->smtpServer, u"smtp.gmail.com:465"_qs);
  EXPECT_EQ(google->scope, u"https://mail.google.com/"_qs);
  EXPECT_TRUE(google->authorizeParameters.contains(qMakePair(u"access_type"_qs, u"offline"_qs)));
  const std::optional<signin::Provider> other = signin::findProvider(QString());
  ASSERT_TRUE(other);
  EXPECT_EQ(other->id, u"other"_qs);
  EXPECT_EQ(other->name, u"その他（手動設定）"_qs);
  EXPECT_EQ(other->signIn, 0);
  EXPECT_TRUE(other->pop3Server.isEmpty());
  // No client ID is built into a test build: nothing to sign in with yet.
  for (const signin::Provider& p : list) EXPECT_FALSE(p.canSignIn()) << p.id.toStdString();
}

TEST(ProvidersTest, DataFolderFilesChangeAndExtendThePresets) {
  TempHome home;
  home.write(signin::kProvidersFile, R"({"providers":[
      {"id":"Microsoft","token_url":"http://127.0.0.1:9/token","pop3_tls":"sometimes"},
      {"id":"campus","name":"学内メール","pop3":"pop.campus.example:995","sign_in":"oauth2",
       "authorize_url":"https://idp.campus.example/auth","token_url":"https://idp.campus.example/token",
       "client_id":"campus-client"},
      {"name":"no id"}, 5]})");
  home.write(signin::kClientsFile, R"({"microsoft":{"client_id":"ms-client"},
      "google":{"client_id":"g-client","client_secret":"g-secret"}})");
  const QList<signin::Provider> list = signin::providers();
  ASSERT_EQ(list.size(), 4);
  const signin::Provider ms = *signin::findProvider(u"microsoft"_qs);
  EXPECT_EQ(ms.tokenUrl, u"http://127.0.0.1:9/token"_qs);
  EXPECT_TRUE(ms.authorizeUrl.startsWith(u"https://login.microsoftonline.com/"));  // untouched fields stay
  EXPECT_TRUE(ms.pop3Tls.isEmpty());  // an unknown TLS mode is "auto"
  EXPECT_EQ(ms.clientId, u"ms-client"_qs);
  EXPECT_TRUE(ms.canSignIn());
  const signin::Provider google = *signin::findProvider(u"google"_qs);
  EXPECT_EQ(google.clientSecret, u"g-secret"_qs);
  const signin::Provider campus = *signin::findProvider(u"campus"_qs);
  EXPECT_EQ(campus.name, u"学内メール"_qs);
  EXPECT_EQ(campus.signIn, 1);
  EXPECT_TRUE(campus.canSignIn());

  // A broken file changes nothing and says why.
  QString why;
  const QList<signin::Provider> same = signin::mergeProviders(list, "{\"providers\": [", &why);
  EXPECT_EQ(same.size(), list.size());
  EXPECT_FALSE(why.isEmpty());
  home.write(signin::kProvidersFile, "not json");
  home.write(signin::kClientsFile, "[]");
  EXPECT_EQ(signin::providers().size(), 3);
}

TEST(ProvidersTest, TokensTravelOnlyOverHttpsOrTheLoopback) {
  for (const char* ok : {"https://login.example/token", "http://127.0.0.1:8080/token", "http://[::1]:80/t",
                         "http://localhost:1/t"})
    EXPECT_TRUE(signin::endpointAllowed(QString::fromLatin1(ok))) << ok;
  for (const char* no : {"http://login.example/token", "ftp://127.0.0.1/", "", "https://", "file:///etc/passwd",
                         "https://user:pw@login.example/", "http://127.0.0.1.example.com/"})
    EXPECT_FALSE(signin::endpointAllowed(QString::fromLatin1(no))) << no;
}
