#pragma once
// The login of an account signed in with OAuth 2.0 ("SIGNIN=1"): the
// access token of settings/signin as a bearer login, a fresh one once
// when the server refused it, and never a password in its place.
#include "ReceiveEngine.h"
#include "settings/secrets/Secrets.h"
#include "settings/signin/AccessToken.h"

namespace reception {

// The account in memory signs in with OAuth 2.0.
bool accountSignedIn();

// For runCheck. `prompt`: Allowed from a window (the keyring may ask to be
// unlocked), Never headless. A token that cannot be had ends the check
// with tokenProblem().
LoginSource signedInLogin(secrets::Prompt prompt);

// Why there is no token, as the check reports it: SignInNeeded,
// TokenLocked or TokenUnavailable.
CheckProblem tokenProblem(const signin::Token& token);

// Only a window can go on after `problem`: sign in again in the browser,
// or unlock the keyring.
bool needsSignInWindow(const CheckProblem& problem);

}  // namespace reception
