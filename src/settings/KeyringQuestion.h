#pragma once
// The question at a start that finds a desktop keyring while the account
// file still holds the password: move it into the keyring? Asked once; a
// "no" is remembered. Only the windows ask: --check and --send never do.

// Asks when there is something to move (after the server settings are
// loaded, before the account is read) and does what the user answers.
void OfferKeyringMove();
