#include "Pkce.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

namespace signin {

namespace {
constexpr auto kBase64Url = QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals;
}

QByteArray newCodeVerifier() {
  QByteArray bytes(32, '\0');
  QRandomGenerator::system()->generate(reinterpret_cast<quint32*>(bytes.data()),
                                       reinterpret_cast<quint32*>(bytes.data() + bytes.size()));
  return bytes.toBase64(kBase64Url);
}

QByteArray codeChallenge(const QByteArray& verifier) {
  return QCryptographicHash::hash(verifier, QCryptographicHash::Sha256).toBase64(kBase64Url);
}

}  // namespace signin
