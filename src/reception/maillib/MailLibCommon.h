#pragma once
// Pieces shared by the POP3 and SMTP sides of the mail library.
#include "MailResult.h"
#include "platform/Handles.h"

#include <QString>
#include <curl/curl.h>
#include <optional>

namespace maillib {

enum class Protocol { Pop3, Smtp };

// libcurl's handles and lists, released on every path out.
using CurlEasy = handles::Owned<CURL, curl_easy_cleanup>;
using CurlList = handles::Owned<curl_slist, curl_slist_free_all>;

// Where a server value leads. A bare host name means the protocol's plain
// port (POP3 110, SMTP 25) with STARTTLS; "host:port" picks the port (995
// and 465 mean implicit TLS); the URL forms pop3://, pop3s://, smtp://,
// smtps:// say it all.
struct ServerAddress {
  Protocol protocol;
  QString value;  // the server value as it was given
  QString host;
  int port = 0;
  bool implicitTls = false;
  // Whether the user allowed this server without encryption (the server
  // dialog's check box): the caller, who knows the settings, says so.
  // Without it a server that offers no STARTTLS is refused before any login.
  bool plainAllowed = false;
  // The key the user trusted for this server ("sha256//BASE64" of its
  // public key), when the caller has one pinned: then that key is the
  // trust, and the certificate authorities' word is not asked for this
  // server. pinnedAnyName: the trusted certificate did not name the host,
  // so the name is not checked either.
  QString pinnedKey;
  bool pinnedAnyName = false;
  // "pop3://host:port" / "pop3s://…" / "smtp://…" / "smtps://…", IPv6 in brackets.
  QString baseUrl() const;
};
// Fails with ServerMissing, ServerNotUnderstood, ServerWrongScheme or
// ServerBadPort, the trimmed value as the detail.
std::optional<ServerAddress> parseServer(const QString& value, Protocol protocol, Result* failure = nullptr);

// Options every connection gets: certificate checks against the system's
// store (plus the extra CA file below when present), or for a server with a
// pinned key that key alone; TLS required (STARTTLS or implicit) unless
// plainAllowed, then still used whenever offered; connect and stall
// timeouts, no signals.
void applyConnectionOptions(CURL* curl, const ServerAddress& server);

// An extra certificate authority to trust, for a server with a self-signed
// certificate: a PEM file of this name in the data folder, if it exists.
inline const QString kExtraCaFile = QStringLiteral("★MAilData/trusted-ca.pem");
QString extraCaFilePath();

// Seconds before giving up on a connection, and on a transfer that stalls.
inline constexpr long kConnectTimeout = 30;
inline constexpr long kStallTimeout = 60;

// A libcurl failure with `host` (and `port`, for the certificate codes),
// and the server's reply when there is one.
Result curlFailure(int curlCode, const QString& host, const QString& serverReply = QString(), int port = 0);

// Set up once (idempotent): libcurl and GMime.
void ensureInitialized();

}  // namespace maillib
