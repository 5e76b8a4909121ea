#include "Sasl.h"

#include "platform/Text.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace maillib::sasl {
namespace {

// RFC 5801's saslname: "," and "=" escaped, as the GS2 header's a= needs.
QByteArray saslName(QByteArray name) {
  name.replace('=', "=3D");
  name.replace(',', "=2C");
  return name;
}

}  // namespace

QByteArray mechanismName(BearerMechanism m) {
  return m == BearerMechanism::OAuthBearer ? QByteArrayLiteral("OAUTHBEARER") : QByteArrayLiteral("XOAUTH2");
}

QByteArray initialResponse(BearerMechanism m, const QByteArray& user, const QByteArray& token) {
  if (m == BearerMechanism::OAuthBearer) return "n,a=" + saslName(user) + ",\x01" "auth=Bearer " + token + "\x01\x01";
  return "user=" + user + "\x01" "auth=Bearer " + token + "\x01\x01";
}

QByteArray errorStepAnswer(BearerMechanism m) {
  return m == BearerMechanism::OAuthBearer ? QByteArrayLiteral("\x01") : QByteArray();
}

QString errorStatus(const QByteArray& base64Challenge) {
  const auto decoded = QByteArray::fromBase64Encoding(base64Challenge.trimmed(), QByteArray::AbortOnBase64DecodingErrors);
  if (!decoded) return {};
  const QJsonDocument json = QJsonDocument::fromJson(*decoded);
  if (!json.isObject()) return {};
  // A string as RFC 7628 has it, or a number as some servers send it.
  return text::wholePairs(json.object().value(u"status").toVariant().toString());
}

QString cutShort(const QString& text, qsizetype max) {
  if (text.size() <= max) return text;
  return text::wholePairs(text, max);
}

bool hasControlCharacter(const QByteArray& bytes) {
  for (char c : bytes)
    if (uchar(c) < 0x20 || uchar(c) == 0x7F) return true;
  return false;
}

QString withoutSecrets(QString text, const QList<QByteArray>& secrets) {
  for (const QByteArray& s : secrets)
    if (s.size() >= 4) text.replace(QString::fromUtf8(s), QStringLiteral("…"));
  return text;
}

}  // namespace maillib::sasl
