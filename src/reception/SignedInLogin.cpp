#include "SignedInLogin.h"

#include "settings/files/AccountSettings.h"

namespace reception {

bool accountSignedIn() { return AccountSettings().SignIn == 1; }

CheckProblem tokenProblem(const signin::Token& token) {
  CheckProblem p{CheckCode::TokenUnavailable};
  switch (token.status) {
    case signin::TokenStatus::NeedsSignIn:
      p.code = CheckCode::SignInNeeded;
      break;
    case signin::TokenStatus::KeyringLocked:
      p.code = CheckCode::TokenLocked;
      break;
    case signin::TokenStatus::Unreachable:
      p.count = 1;  // the token endpoint could not be reached: it may pass
      break;
    default:
      break;
  }
  p.detail = token.detail;
  p.host = token.user;
  return p;
}

bool needsSignInWindow(const CheckProblem& p) {
  return p.code == CheckCode::SignInNeeded || p.code == CheckCode::TokenLocked ||
         (p.code == CheckCode::MailLibrary && p.library.code == maillib::Code::TokenRefused);
}

LoginSource signedInLogin(secrets::Prompt prompt) {
  return [prompt](bool again, std::optional<CheckProblem>* problem) -> std::optional<maillib::Credentials> {
    // Refused once: the cached token is dropped and a fresh one fetched.
    const signin::Token token = signin::accessToken(prompt, again);
    if (token.status == signin::TokenStatus::Ok) return maillib::Credentials::bearer(token.user, token.accessToken);
    if (problem) *problem = tokenProblem(token);
    return std::nullopt;
  };
}

}  // namespace reception
