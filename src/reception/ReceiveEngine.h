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

namespace reception {

// Runs one check, reporting to `sink`; what it stored comes back. A server
// whose certificate cannot be verified fails the check before any login,
// with the certificate it shows (CheckProblem::certificate); one whose key
// is not the pinned one fails it with PinnedKeyChanged.
CheckOutcome runCheck(CheckSink& sink);

}  // namespace reception
