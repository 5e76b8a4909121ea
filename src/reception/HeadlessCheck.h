#pragma once
// tomoshibi --check: one mail check without any window, reported on
// standard error (progress too, when that is a terminal).

// The start-up steps a check needs (received-mail file, server settings,
// mail library), one check, and the exit status: 0 when the check ended
// normally, 1 when it did not, kCheckBusyExit when another check was
// running on the same program folder, kNeedsWindowExit when only the window
// can go on (the saved password is in a locked keyring).
int RunHeadlessCheck();

inline constexpr int kCheckBusyExit = 75;
// Not 75: the scheduled check counts that as success.
inline constexpr int kNeedsWindowExit = 77;
