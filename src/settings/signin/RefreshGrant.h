#pragma once
// The refresh grant (RFC 6749 6): a fresh access token for a refresh token,
// from a provider's token endpoint, its answer read by parseTokenReply.
#include "Providers.h"
#include "TokenReply.h"

namespace signin {

// Waited for in a local event loop (user input held back). `networkError`:
// set when no HTTP answer came. An endpoint endpointAllowed() refuses is
// not asked (Malformed).
TokenReply refreshGrant(const Provider& provider, const QString& refreshToken, QString* networkError,
                        int timeoutMs = 30000);

}  // namespace signin
