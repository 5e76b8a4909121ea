#include "AccessToken.h"

#include "settings/files/AccountSettings.h"

#include <QDateTime>

namespace signin {
namespace {

// Lacking expires_in, an access token is trusted for ten minutes.
constexpr qint64 kUnsaidLifetime = 600;
// Refreshed this long before it expires, so it does not die mid-check.
constexpr qint64 kMargin = 60;

struct Cached {
  QString key;  // whose: user and provider
  QString token;
  QDateTime until;
};
Cached& cache() {
  static Cached c;
  return c;
}

QString cacheKey() { return signInUser() + u'\n' + AccountSettings().Provider.trimmed().toLower(); }

void remember(const QString& token, qint64 expiresIn) {
  Cached& c = cache();
  c.key = cacheKey();
  c.token = token;
  c.until = QDateTime::currentDateTimeUtc().addSecs((expiresIn < 0 ? kUnsaidLifetime : expiresIn) - kMargin);
}

}  // namespace

QString signInUser() {
  const AccountSettingsRecord& s = AccountSettings();
  return s.OAuthUser.trimmed().isEmpty() ? s.MailAddress.trimmed() : s.OAuthUser.trimmed();
}

std::optional<Provider> accountProvider() { return findProvider(AccountSettings().Provider); }

void forgetAccessToken() { cache() = Cached{}; }

Token accessToken(secrets::Prompt prompt, bool forceRefresh) {
  Token t;
  t.user = signInUser();
  Cached& c = cache();
  if (!forceRefresh && c.key == cacheKey() && !c.token.isEmpty() && QDateTime::currentDateTimeUtc() < c.until) {
    t.status = TokenStatus::Ok;
    t.accessToken = c.token;
    return t;
  }
  forgetAccessToken();
  const std::optional<Provider> provider = accountProvider();
  if (!provider || provider->tokenUrl.isEmpty() || provider->clientId.isEmpty()) {
    t.status = TokenStatus::Failed;
    t.detail = !provider ? QStringLiteral("no preset \"%1\"").arg(AccountSettings().Provider)
                         : QStringLiteral("no token endpoint or client ID for \"%1\"").arg(provider->id);
    return t;
  }
  const secrets::Read kept = ReadRefreshToken(prompt);
  switch (kept.status) {
    case secrets::Status::Ok:
      break;
    case secrets::Status::Missing:
    case secrets::Status::NoKeyring:
      t.status = TokenStatus::NeedsSignIn;
      return t;
    case secrets::Status::Locked:
      t.status = TokenStatus::KeyringLocked;
      t.detail = kept.detail;
      return t;
    case secrets::Status::Failed:
      t.status = TokenStatus::Failed;
      t.detail = kept.detail;
      return t;
  }
  if (kept.value.isEmpty()) {
    t.status = TokenStatus::NeedsSignIn;
    return t;
  }
  QString networkError;
  const TokenReply reply = refreshGrant(*provider, kept.value, &networkError);
  if (!networkError.isEmpty()) {
    t.status = TokenStatus::Unreachable;
    t.detail = networkError;
    return t;
  }
  switch (reply.kind) {
    case TokenReply::Kind::Tokens:
      break;
    case TokenReply::Kind::GrantRefused:
      t.status = TokenStatus::NeedsSignIn;
      t.detail = reply.errorDescription.isEmpty() ? reply.error : reply.errorDescription;
      return t;
    case TokenReply::Kind::ServerTrouble:
      t.status = TokenStatus::Unreachable;
      t.detail = reply.error;
      return t;
    default:
      t.status = TokenStatus::Failed;
      t.detail = reply.errorDescription.isEmpty() ? reply.error : reply.error + u": "_qs + reply.errorDescription;
      return t;
  }
  // A provider that turns its refresh tokens over sends the next one: the
  // old one is dead from now on, so the new one must be kept.
  if (!reply.refreshToken.isEmpty() && reply.refreshToken != kept.value) {
    const secrets::Status written = WriteRefreshToken(reply.refreshToken);
    if (written != secrets::Status::Ok) t.detail = QStringLiteral("the new refresh token could not be kept");
  }
  remember(reply.accessToken, reply.expiresIn);
  t.status = TokenStatus::Ok;
  t.accessToken = reply.accessToken;
  return t;
}

secrets::Status keepSignIn(const SignInResult& result) {
  if (!result.ok()) return secrets::Status::Failed;
  const secrets::Status written = WriteRefreshToken(result.refreshToken);
  remember(result.accessToken, result.expiresIn);
  return written;
}

}  // namespace signin
