#pragma once
// One mail check, without any window: every mail waiting in the POP3
// mailbox fetched, shaped as the viewer's boxes would give it back, stored
// as a new record of the received-mail file, made durable batch by batch
// together with its identity (the received-mail store's journal), and only
// then deleted on the server. Whatever stops the check (a kill, a full
// disk, a server that breaks off), a mail ends up stored once or still on
// the server.
//
// The check is made of pieces that runCheck wires together: the fetch
// pipeline (FetchPipeline), the batch store (BatchStore, on
// received::ReceivedStore), the identity ledger (IdentityLedger) and the
// report (CheckReport), which tells the sink in codes.
#include "CheckReport.h"
#include "CheckSink.h"
#include "reception/maillib/Credentials.h"

#include <functional>
#include <optional>

namespace reception {

// The login of one check, when the caller decides it (an account signed in
// with a bearer token). Asked before the connection is made, with `again`
// false; and once more, with `again` true, when the server refused a bearer
// token (TokenRefused), so that a fresh token is tried before the check
// gives up. Nothing returned ends the check: with the problem set, that is
// reported; otherwise as a check without an ID (the account dialog, or
// NoAccount).
using LoginSource = std::function<std::optional<maillib::Credentials>(bool again, std::optional<CheckProblem>* problem)>;

// Runs one check, reporting to `sink`; what it stored comes back. Without
// a `login`, the account file's ID and password log in, with APOP when the
// settings say so. A server whose certificate cannot be verified fails the
// check before any login, with the certificate it shows
// (CheckProblem::certificate); one whose key is not the pinned one fails it
// with PinnedKeyChanged.
CheckOutcome runCheck(CheckSink& sink, const LoginSource& login = {});

}  // namespace reception
