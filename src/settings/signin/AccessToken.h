#pragma once
// The access token of the account signed in with OAuth 2.0: kept in memory
// until shortly before it expires, else fetched with the refresh token the
// keyring (or, without one, the account file) keeps. Nothing here asks the
// user anything: a refresh token that is missing, revoked or expired is
// NeedsSignIn, for a window to offer the browser sign-in.
#include "BrowserSignIn.h"
#include "Providers.h"
#include "RefreshGrant.h"
#include "settings/secrets/Secrets.h"

#include <QString>

namespace signin {

enum class TokenStatus {
  Ok,
  NeedsSignIn,    // no refresh token, or the provider refused it: sign in again in the browser
  KeyringLocked,  // the keyring holds it but is locked (and nobody may be asked)
  Unreachable,    // the token endpoint could not be reached, or is in trouble
  Failed,         // anything else (`detail`): no preset, no client ID, an answer not understood
};

struct Token {
  TokenStatus status = TokenStatus::Failed;
  QString accessToken;
  QString user;  // the SASL user: OAuthUser, else MailAddress
  QString detail;
};

// The account's token: the cached one while it has more than a minute to
// live (and `forceRefresh` is false), else a refresh grant at the
// provider's token endpoint. A new refresh token in the answer replaces
// the kept one.
Token accessToken(secrets::Prompt prompt, bool forceRefresh = false);

// After a browser sign-in: the refresh token kept (keyring, or the account
// file without one) and the access token cached. Ok, or the keyring's
// answer.
secrets::Status keepSignIn(const SignInResult& result);
// Forgets the cached access token (another account, a sign-out).
void forgetAccessToken();

// The account's provider (AccountSettings().Provider; "" = "other").
std::optional<Provider> accountProvider();
// The user the account's tokens are for.
QString signInUser();

}  // namespace signin
