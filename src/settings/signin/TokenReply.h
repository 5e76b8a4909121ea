#pragma once
// What a token endpoint answered (RFC 6749 5.1 and 5.2), read from its
// bytes alone: anything a server or a network sends comes back as one of
// these kinds, never as a crash or an exception.
#include <QByteArray>
#include <QString>

namespace signin {

struct TokenReply {
  enum class Kind {
    Tokens,         // an access token (and maybe a refresh token) came
    GrantRefused,   // invalid_grant: the code or the refresh token is dead; sign in again
    ClientRefused,  // invalid_client, unauthorized_client: the client ID is not accepted
    Refused,        // another error of RFC 6749 5.2
    ServerTrouble,  // HTTP 5xx or temporarily_unavailable/server_error: try later
    Malformed,      // not an answer of that shape
  };
  Kind kind = Kind::Malformed;
  QString accessToken;
  QString refreshToken;  // empty: none came (keep the one there is)
  QString scope;
  qint64 expiresIn = -1;  // seconds; -1: not said
  QString error;          // the error code, or why the answer was not understood
  QString errorDescription;
};

// The longest answer taken; a longer one is Malformed.
inline constexpr int kMaxTokenReplyBytes = 256 * 1024;

// `httpStatus`: the answer's status line (0 when none came).
TokenReply parseTokenReply(const QByteArray& body, int httpStatus);

// A token that can go into a SASL message and an HTTP form: printable
// ASCII without spaces (RFC 6750's b64token and then some), at most 16 KiB.
bool tokenUsable(const QString& token);

}  // namespace signin
