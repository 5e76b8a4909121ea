#pragma once
// The SASL pieces of a login with an OAuth 2.0 bearer token, shared by the
// POP3 session and the SMTP link: the initial responses of OAUTHBEARER
// (RFC 7628) and XOAUTH2, the status of their error step, and keeping the
// token out of whatever a failure quotes.
#include <QByteArray>
#include <QList>
#include <QString>

namespace maillib::sasl {

enum class BearerMechanism { OAuthBearer, XOAuth2 };

QByteArray mechanismName(BearerMechanism m);

// The client's first message, not yet in base64: OAUTHBEARER's GS2 header
// with the user as authorization identity, then "auth=Bearer TOKEN"; or
// XOAUTH2's "user=...^Aauth=Bearer TOKEN^A^A".
QByteArray initialResponse(BearerMechanism m, const QByteArray& user, const QByteArray& token);

// The client's answer to the error step (a challenge after its response):
// ^A for OAUTHBEARER, nothing for XOAUTH2; both end in a refusal.
QByteArray errorStepAnswer(BearerMechanism m);

// The "status" of an error step's challenge (base64 of a JSON object), as
// text, whole (cut it short only once the token is taken out); empty when
// the challenge is not one. Half a surrogate pair (a JSON escape may give
// one) becomes U+FFFD.
QString errorStatus(const QByteArray& base64Challenge);

// `text` cut to at most `max` characters, never between the halves of a
// surrogate pair (half a pair cannot be shown nor written).
QString cutShort(const QString& text, qsizetype max);

// Whether a user or token holds a character that would break the framing
// (a control character: line breaks, NUL, ^A).
bool hasControlCharacter(const QByteArray& bytes);

// `text` (something the server sent back) with every one of `secrets`
// taken out, for a server that echoes what it was sent.
QString withoutSecrets(QString text, const QList<QByteArray>& secrets);

}  // namespace maillib::sasl
