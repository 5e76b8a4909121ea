#pragma once
// A server's certificate fetched on a connection of its own, for the user to
// look at when it could not be verified. The connection carries the
// protocol's way into TLS where the server value asks for it (POP3: the
// greeting, then STLS; SMTP: the greeting, EHLO, STARTTLS), a handshake that
// verifies nothing, and the end of TLS: no CAPA, no ID, password or token,
// no mail, ever.
#include "MailLibCommon.h"
#include "platform/ServerCertificate.h"

#include <functional>
#include <optional>

namespace tls {

// The certificate `server` shows, with the chain it sends. Fails (host and
// port set) with HostNotFound, ConnectFailed, TimedOut (the connection, an
// answer or the handshake took longer than the library's bounds),
// ConnectionBroken, TlsFailed (the server did not go into TLS as asked;
// reply: its answer; or the handshake failed: cause) or Stopped. `idle` is
// called at least every 100 ms while the server is waited for; false gives
// the wait up.
std::optional<ServerCertificate> fetchCertificate(const maillib::ServerAddress& server,
                                                  maillib::Result* failure = nullptr,
                                                  const std::function<bool()>& idle = {});

// Whether `certificate` carries the key pinned for `server`; true when the
// server has none pinned.
bool matchesPin(const ServerCertificate& certificate, const maillib::ServerAddress& server);

}  // namespace tls
