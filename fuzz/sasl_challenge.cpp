// The SASL error challenge a server sends after a refused bearer token
// (RFC 7628: base64 of a JSON object with "status", "scope" and
// "openid-configuration"), as the POP3 session and the SMTP link read it;
// and what a failure quotes of a server's answer once the secrets are out.
//
// Input: the first line is taken as the challenge as it came (base64); the
// rest is also tried as the JSON itself, encoded here, so that the JSON
// reader is reached directly.
//
// Checks: the status is text with whole surrogate pairs; a status is found
// only in a challenge that is base64 of a JSON object; a secret of four
// bytes or more is never left in what is quoted.
#include "FuzzCheck.h"
#include "reception/maillib/Sasl.h"

using namespace fuzzcheck;
namespace sasl = maillib::sasl;

namespace {

void checkChallenge(const QByteArray& challenge) {
  const QString status = sasl::errorStatus(challenge);
  checkText(status, "the status of an error challenge");
  if (!status.isEmpty()) {
    const auto decoded = QByteArray::fromBase64Encoding(challenge.trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    FUZZ_CHECK(decoded && decoded.decoded.trimmed().startsWith('{'), QStringLiteral("a status from no JSON object: ") + status);
  }
  // A server that echoes the token inside its status.
  for (const QByteArray& secret : {QByteArray("tok3n-secret"), challenge.left(24)}) {
    // (a secret that holds the mark put in its place is no token)
    if (secret.size() < 4 || QString::fromUtf8(secret).toUtf8() != secret || secret.contains("\xE2\x80\xA6")) continue;
    const QString quoted = sasl::withoutSecrets(status + QString::fromUtf8(secret) + status, {secret});
    FUZZ_CHECK(!quoted.contains(QString::fromUtf8(secret)), QStringLiteral("a secret left in: ") + quoted);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Split in = splitFirstLine(bytesOf(data, size), 4096);
  checkChallenge(in.head);
  checkChallenge(in.rest.toBase64());
  return 0;
}
