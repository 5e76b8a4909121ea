#pragma once
// Proof Key for Code Exchange (RFC 7636) with S256: the secret the program
// keeps while the browser is away, and what the authorization request
// carries in its place.
#include <QByteArray>

namespace signin {

// 43 characters of base64url from 32 random bytes.
QByteArray newCodeVerifier();
// BASE64URL(SHA-256(verifier)) without padding.
QByteArray codeChallenge(const QByteArray& verifier);

}  // namespace signin
