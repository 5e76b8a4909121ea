#pragma once
// tomoshibi --send: one mail sent without a window, for scripts.
struct CommandLine;

// Sends the mail the command line describes with the server and sender of
// "pelkit.ini" in the current directory and the account of the program
// folder. 0 = sent; 1 = not sent, the reason on standard error;
// kSendUncertainExit = the mail went out but the server never confirmed it:
// it may have been delivered, so a script must not simply send it again;
// kSendNeedsWindowExit = not sent, the saved password is in a locked
// keyring that only the window may ask to unlock, or the account signed in
// with OAuth 2.0 must sign in again from the window.
inline constexpr int kSendUncertainExit = 3;
inline constexpr int kSendNeedsWindowExit = 77;
int RunSendCommand(const CommandLine& cl);
