#include "TokenReply.h"

#include "platform/Text.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <cmath>

namespace signin {

bool tokenUsable(const QString& token) {
  if (token.isEmpty() || token.size() > 16 * 1024) return false;
  for (QChar c : token)
    if (c.unicode() < 0x21 || c.unicode() > 0x7e) return false;
  return true;
}

namespace {

TokenReply malformed(const QString& why, int httpStatus) {
  TokenReply r;
  r.kind = httpStatus >= 500 ? TokenReply::Kind::ServerTrouble : TokenReply::Kind::Malformed;
  r.error = why;
  return r;
}

// expires_in as a number or (as some servers send it) a string of digits.
qint64 seconds(const QJsonValue& v) {
  double d = -1;
  if (v.isDouble()) {
    d = v.toDouble();
  } else if (v.isString()) {
    bool ok = false;
    d = v.toString().trimmed().toLongLong(&ok);
    if (!ok) return -1;
  }
  if (!std::isfinite(d) || d < 0) return -1;
  // Ten years is "for ever" as far as a cache is concerned.
  return qint64(std::min(d, 10.0 * 365 * 86400));
}

QString text(const QJsonObject& o, const char* key, int limit) {
  const QJsonValue v = o.value(QLatin1String(key));
  return v.isString() ? text::wholePairs(v.toString(), limit) : QString();
}

}  // namespace

TokenReply parseTokenReply(const QByteArray& body, int httpStatus) {
  if (body.size() > kMaxTokenReplyBytes) return malformed(QStringLiteral("the answer is too long"), httpStatus);
  QJsonParseError parsed;
  const QJsonDocument doc = QJsonDocument::fromJson(body, &parsed);
  if (parsed.error != QJsonParseError::NoError || !doc.isObject())
    return malformed(httpStatus > 0 ? QStringLiteral("HTTP %1, not a JSON object").arg(httpStatus)
                                    : QStringLiteral("no answer"),
                     httpStatus);
  const QJsonObject o = doc.object();

  TokenReply r;
  const QJsonValue error = o.value(QLatin1String("error"));
  if (!error.isUndefined() && !error.isNull()) {
    r.error = error.isString() ? text::wholePairs(error.toString(), 200) : QStringLiteral("error");
    r.errorDescription = text(o, "error_description", 500);
    if (r.error == u"invalid_grant")
      r.kind = TokenReply::Kind::GrantRefused;
    else if (r.error == u"invalid_client" || r.error == u"unauthorized_client")
      r.kind = TokenReply::Kind::ClientRefused;
    else if (r.error == u"temporarily_unavailable" || r.error == u"server_error" || httpStatus >= 500)
      r.kind = TokenReply::Kind::ServerTrouble;
    else
      r.kind = TokenReply::Kind::Refused;
    return r;
  }
  if (httpStatus >= 500) return malformed(QStringLiteral("HTTP %1").arg(httpStatus), httpStatus);
  if (httpStatus != 0 && (httpStatus < 200 || httpStatus > 299))
    return malformed(QStringLiteral("HTTP %1 without an error").arg(httpStatus), httpStatus);

  const QJsonValue access = o.value(QLatin1String("access_token"));
  if (!access.isString() || !tokenUsable(access.toString()))
    return malformed(QStringLiteral("no usable access_token"), httpStatus);
  const QJsonValue type = o.value(QLatin1String("token_type"));
  // Required by RFC 6749, left out by some servers; another type than
  // Bearer cannot be used for a SASL bearer login.
  if (!type.isUndefined() && !(type.isString() && type.toString().compare(u"bearer", Qt::CaseInsensitive) == 0))
    return malformed(QStringLiteral("token_type is not Bearer"), httpStatus);
  const QJsonValue refresh = o.value(QLatin1String("refresh_token"));
  if (!refresh.isUndefined() && !refresh.isNull()) {
    if (!refresh.isString() || !tokenUsable(refresh.toString()))
      return malformed(QStringLiteral("refresh_token is not usable"), httpStatus);
    r.refreshToken = refresh.toString();
  }
  r.kind = TokenReply::Kind::Tokens;
  r.accessToken = access.toString();
  r.expiresIn = seconds(o.value(QLatin1String("expires_in")));
  r.scope = text(o, "scope", 2000);
  return r;
}

}  // namespace signin
