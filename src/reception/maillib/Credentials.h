#pragma once
// The login a caller hands the mail library for one server. The library
// reads no account of its own: who logs in, and how, is the caller's say.
#include <QString>

namespace maillib {

enum class Mechanism {
  Password,  // POP3 USER/PASS; SMTP AUTH with the password (libcurl picks the mechanism)
  Apop,      // POP3 APOP with the greeting's timestamp; SMTP as Password
  Bearer,    // an OAuth 2.0 access token: SASL OAUTHBEARER or XOAUTH2, over TLS only
};

struct Credentials {
  QString user;  // the ID; for Bearer the SASL user the token was given for
  QString password;
  Mechanism mechanism = Mechanism::Password;
  QString bearerToken = {};

  static Credentials bearer(const QString& user, const QString& token) {
    return {user, QString(), Mechanism::Bearer, token};
  }
};

}  // namespace maillib
