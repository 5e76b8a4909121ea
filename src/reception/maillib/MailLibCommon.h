#pragma once
// Pieces shared by the POP3 and SMTP sides of the mail library.
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
  QString value;  // the server value as it was given, for the permission below
  QString host;
  int port = 0;
  bool implicitTls = false;
  // "pop3://host:port" / "pop3s://…" / "smtp://…" / "smtps://…", IPv6 in brackets.
  QString baseUrl() const;
};
std::optional<ServerAddress> parseServer(const QString& value, Protocol protocol, QString* error);

// Whether the user allowed this server to be used without encryption (the
// server dialog's check box, given for this server value). Without that
// permission a server that offers no STARTTLS is refused before any login.
bool plainLoginAllowed(const ServerAddress& server);

// Options every connection gets: certificate checks against the system's
// store (plus the extra CA file below when present), TLS required (STARTTLS
// or implicit) unless plainLoginAllowed, then still used whenever offered,
// connect and stall timeouts, no signals.
void applyConnectionOptions(CURL* curl, const ServerAddress& server);

// An extra certificate authority to trust, for a server with a self-signed
// certificate: a PEM file of this name in the data folder, if it exists.
inline const QString kExtraCaFile = QStringLiteral("★MAilData/trusted-ca.pem");
QString extraCaFilePath();

// Seconds before giving up on a connection, and on a transfer that stalls.
inline constexpr long kConnectTimeout = 30;
inline constexpr long kStallTimeout = 60;

// What an SMTP server may cost at most. Tests shorten the times.
struct SmtpLimits {
  long replySeconds = kStallTimeout;  // for each answer, the one to the final dot included
  long stallSeconds = kStallTimeout;  // under 1 byte/s this long while the mail goes out
};
inline SmtpLimits g_smtpLimits;

// The last failure, for MailLibGetErrorText.
void setLastError(const QString& text);
QString lastError();
// A plain Japanese sentence for a libcurl failure (host not found, refused,
// timeout, certificate rejected …), with the server's reply when there is one.
QString describeCurlError(int curlCode, const QString& serverReply, const QString& host);
// Why a server without STARTTLS was refused, and how the user can allow it.
QString plainRefusedText(const QString& host);

// Writes `value` and a NUL into a fixed-length buffer, keeping its length
// (a buffer too short keeps what fits).
void fillBuffer(QString& buffer, const QString& value);

// Set up once (idempotent): libcurl and GMime.
void ensureInitialized();

// Option 1: the length of the header buffers the caller hands over.
int headerBufferLength();

}  // namespace maillib
