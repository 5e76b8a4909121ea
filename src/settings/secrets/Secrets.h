#pragma once
// Secrets kept in the desktop keyring: the Secret Service on the session
// bus, reached through QtKeychain (which loads libsecret at run time). Each
// value is an item of this program's (attribute "server" = kService) under
// a key of its own ("user" = the key). Nothing here writes a file, and no
// value ever reaches a log or standard error.
//
// Every call waits for its answer in a local event loop (user input held
// back) with a time limit, so a keyring that never answers costs time, not
// the program. With Prompt::Never (tomoshibi --check, --send) nothing asks
// the user and nothing waits on a locked keyring: the Secret Service is
// asked over D-Bus first whether its default collection (or the item's) is
// locked, and a locked one is reported at once.
#include <QString>

namespace secrets {

enum class Status {
  Ok,
  Missing,    // no such item
  Locked,     // the keyring is locked (and Prompt::Never, or the unlock was not given)
  NoKeyring,  // no Secret Service on the session bus (or no bus)
  Failed,     // anything else: `detail` says what
};

// Never: --check and --send. Never prompt, never wait on a locked keyring.
enum class Prompt { Allowed, Never };

struct Read {
  Status status = Status::Failed;
  QString value;
  QString detail;  // why not Ok, in the keyring's own terms; never a secret
};

Read read(const QString& key, Prompt prompt);
// An unlock may be asked for when the keyring is locked. `detail` (when
// given) receives why it failed.
Status write(const QString& key, const QString& value, QString* detail = nullptr);
// Ok also when there was nothing to remove; Locked when the keyring is
// locked (removing asks for no unlock).
Status remove(const QString& key, QString* detail = nullptr);

// A Secret Service answers on the session bus, or the bus would start one
// on demand. Asks the bus only: nothing is started, nothing prompts.
bool keyringAvailable();

// The keys of the two kinds of secret: "password:<UserId>@<Pop3Server>"
// and "refresh-token:<user>@<issuer>" (the issuer: the provider's id, or
// the token endpoint's host for a provider set up by hand). The forms
// without arguments, from the account in memory, are in
// settings/files/AccountSettings.h.
QString passwordKey(const QString& userId, const QString& pop3Server);
QString refreshTokenKey(const QString& user, const QString& issuer);

// What every item of this program carries as its "server" attribute.
inline const QString kService = QStringLiteral("tomoshibi");

// How long a call waits: a few seconds when nobody may be asked, long
// enough to type the keyring's password otherwise.
inline constexpr int kNeverWaitMs = 5000;
inline constexpr int kAllowedWaitMs = 120000;

}  // namespace secrets
