#pragma once
// The mail check from the main window: the receive engine (ReceiveEngine)
// reporting into the main window's controls, the viewer's boxes and the
// account dialog, its codes worded there. While it runs every window keeps
// painting and shows its progress, but no click or key reaches any of them.
// Once it is over, the process-wide current-record number and received-mail
// buffer hold the last mail it stored, as the viewer's procedures expect.
// A server whose certificate cannot be verified is shown in the certificate
// dialog (settings/CertForm) instead of an error; trusted, its key is pinned
// and the check runs once more.
#include "reception/ReceiveEngine.h"

// Runs one mail check. The main window ignores the outcome.
reception::CheckOutcome CheckMail();
