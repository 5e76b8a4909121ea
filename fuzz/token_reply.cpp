// What a token endpoint answers a code or a refresh token, as a server, a
// proxy or a captive portal may send it. The first line of the input is
// the HTTP status (none: no status came), the rest the body.
//
// Checks: tokens come only from a successful answer and are always ones a
// SASL message and an HTTP form can carry; an error never brings a token;
// every text read has whole surrogate pairs (it is shown and kept) and the
// texts quoted from the server stay within their limits.
#include "FuzzCheck.h"
#include "settings/signin/TokenReply.h"

using namespace fuzzcheck;
using signin::TokenReply;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Split in = splitFirstLine(bytesOf(data, size), 16);
  bool ok = false;
  const int status = in.head.trimmed().toInt(&ok);
  const TokenReply r = signin::parseTokenReply(in.rest, ok ? status : 0);

  checkText(r.accessToken, "an access token");
  checkText(r.refreshToken, "a refresh token");
  checkText(r.scope, "the scope");
  checkText(r.error, "an error code");
  checkText(r.errorDescription, "an error description");
  FUZZ_CHECK(r.error.size() <= 200 && r.errorDescription.size() <= 500 && r.scope.size() <= 2000,
             QStringLiteral("a text of the server's longer than its limit"));
  if (r.kind == TokenReply::Kind::Tokens) {
    FUZZ_CHECK(signin::tokenUsable(r.accessToken), QStringLiteral("an access token that cannot be sent"));
    FUZZ_CHECK(r.refreshToken.isEmpty() || signin::tokenUsable(r.refreshToken),
               QStringLiteral("a refresh token that cannot be sent"));
    FUZZ_CHECK(!ok || status == 0 || (status >= 200 && status <= 299),
               QStringLiteral("tokens taken from an answer of HTTP %1").arg(status));
    FUZZ_CHECK(in.rest.size() <= signin::kMaxTokenReplyBytes, QStringLiteral("tokens from an answer too long"));
    FUZZ_CHECK(r.error.isEmpty(), QStringLiteral("tokens with an error"));
  } else {
    FUZZ_CHECK(r.accessToken.isEmpty() && r.refreshToken.isEmpty(), QStringLiteral("a token with a refusal"));
  }
  if (ok && status >= 500) FUZZ_CHECK(r.kind != TokenReply::Kind::Tokens, QStringLiteral("tokens from HTTP 5xx"));
  return 0;
}
