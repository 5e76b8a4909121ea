#pragma once
// The keys the user trusted for servers whose certificates no authority
// vouches for: "★MAilData/pinned-keys.txt", readable by its owner only, one
// line per server:
//
//   host:port sha256//BASE64
//
// ("[v6]:port" for an IPv6 address), BASE64 being the SHA-256 of the
// server's public key (its SubjectPublicKeyInfo). " any-name" follows when
// the trusted certificate did not name the host: then only the key is
// checked. A line of any other shape is ignored and kept as it is.
#include "platform/ServerCertificate.h"

#include <QString>
#include <optional>

namespace pins {

inline const QString kPinnedKeysFile = QStringLiteral("★MAilData/pinned-keys.txt");
QString filePath();

struct Pin {
  QString key;           // "sha256//BASE64"
  bool anyName = false;  // the trusted certificate did not name the host
};

// The pin of host:port (the host without regard to letter case), if any.
std::optional<Pin> find(const QString& host, int port);

// Pins `certificate`'s key for its server in place of any pin it had, the
// name left unchecked when the certificate does not name the host. False,
// with the reason in `error`, when the file cannot be written.
bool trust(const ServerCertificate& certificate, QString* error = nullptr);

// Removes the pin of host:port. False, with the reason in `error`, when the
// file cannot be written.
bool forget(const QString& host, int port, QString* error = nullptr);

}  // namespace pins
