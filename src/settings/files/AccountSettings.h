#pragma once
// The six account and server values, the server settings file "pelkit.ini"
// (current directory) and the account file "iniIdPass.ini" (data folder),
// whose password goes into the desktop keyring when there is one.
#include "settings/secrets/Secrets.h"

#include <QString>
#include <cstdint>

struct AccountSettingsRecord {
  QString SmtpServer;
  QString Pop3Server;
  QString MailAddress;
  int16_t ApopFlag = 0;  // 0 = plain login, 1 = APOP
  QString UserId;
  QString Password;
  // The server values for which the user allowed a login without encryption
  // (the server dialog's check box); empty: allowed for none. Kept in
  // "pelkit.ini" after the four lines above, under keys of their own.
  QString PlainPop3Server;
  QString PlainSmtpServer;
  // How the account signs in, kept in "pelkit.ini" after the permissions,
  // each under a key of its own and only when it is not at its default, so
  // a file of the four lines is a password account as it always was.
  // The provider ("" or "other": set up by hand; "microsoft", "google", or
  // a preset's id).
  QString Provider;                  // PROVIDER=
  int16_t SignIn = 0;                // SIGNIN=  0 password (USER/PASS or APOP per ApopFlag), 1 OAuth 2.0
  QString Pop3Tls;                   // POP3TLS= "" auto (port 995 implicit, else STARTTLS), "starttls", "implicit"
  QString SmtpTls;                   // SMTPTLS= "" auto (port 465 implicit, else STARTTLS), "starttls", "implicit"
  QString OAuthUser;                 // OAUTHUSER= the user the tokens are for; empty: MailAddress
};

// The process-wide values, empty at start-up.
AccountSettingsRecord& AccountSettings();

// Fills the four server values from "pelkit.ini" in the current directory;
// a missing file leaves them as they are. The unencrypted-login permissions
// and the sign-in values come from the same file: a file without them
// allows none and is a password account.
void LoadServerSettings();
// Rewrites "pelkit.ini" from the four server values, followed by the
// unencrypted-login permissions that are given ("ALLOWPLAIN_POP3=",
// "ALLOWPLAIN_SMTP=") and the sign-in values that are not at their
// defaults ("PROVIDER=", "SIGNIN=", "POP3TLS=", "SMTPTLS=", "OAUTHUSER=").
// False when it cannot be written.
bool SaveServerSettings();

// The server dialog's caption for the permission; the refusal of a server
// without encryption names it.
inline const QString kPlainLoginCaption = QStringLiteral("暗号化なしの接続を許可する（非推奨）");

// Whether a login to `server` may go without encryption: only when the
// permission was given for that very server value (letter case and
// surrounding spaces aside). A permission never passes to another name.
bool PlainLoginAllowed(const QString& allowedFor, const QString& server);

// The account file "iniIdPass.ini", section EXEINI: NAME (the ID), NAME2
// (the password), NAME3 (the last save choice). With a desktop keyring the
// password is kept there instead, under secrets::passwordKey(ID, POP3
// server), and NAME2 stays empty, so a reader of the file alone sees
// "password not saved"; without one the file keeps it as it always has,
// readable by its owner only.
struct AccountFileValues {
  QString id;
  QString password;
  // Ok: the password came from the file or the keyring. Missing: none is
  // saved (or none in the file and no keyring). Locked, Failed: the keyring
  // kept it back (`detail`).
  secrets::Status status = secrets::Status::Missing;
  QString detail;
  bool inFile = false;  // the password came from NAME2
};
// A password in NAME2 wins; else, with an ID and a keyring, the keyring is
// asked. `prompt`: Allowed from a window (an unlock may be asked for),
// Never for --check and --send.
AccountFileValues ReadAccountFile(secrets::Prompt prompt = secrets::Prompt::Never);

struct AccountFileWrite {
  bool ok = false;
  // The password was given to the keyring (whatever came of it): `keyring`
  // is its answer, `detail` why it failed.
  bool toKeyring = false;
  secrets::Status keyring = secrets::Status::NoKeyring;
  QString detail;
  explicit operator bool() const { return ok; }
};
// Save chosen: NAME, NAME2 and NAME3 = "1" (with a keyring the password
// goes there first, NAME2 is written empty, and nothing of the file changes
// when the keyring refuses); declined: only NAME3 = "0". The file is
// readable by its owner only. Not ok when it cannot be written.
AccountFileWrite WriteAccountFile(const QString& id, const QString& password, bool save);

// The OAuth 2.0 refresh token of the account in memory: in the keyring
// under secrets::refreshTokenKey(); without a keyring in the account file,
// key TOKEN after the lines above (owner-only). A keyring that refuses is
// reported, and never written around into the file. A token the file kept
// from a time without a keyring is still used, and moves into the keyring
// when a window reads it.
secrets::Read ReadRefreshToken(secrets::Prompt prompt);
secrets::Status WriteRefreshToken(const QString& value);
secrets::Status ForgetRefreshToken();

// The question at the first start that finds a keyring: the account file
// holds a password (NAME2, with an ID, and a POP3 server is set) and the
// user has not declined to move it.
bool KeyringMoveWanted();
// Into the keyring, read back, and only then NAME2 emptied (durably). Ok,
// or the keyring's answer (`detail` why); the file is left as it was then.
secrets::Status MovePasswordToKeyring(QString* detail = nullptr);
// Not asked again: remembered in the program's own settings file.
bool DeclineKeyringMove();

// After the POP3 server changed from `oldServer`: a password kept in the
// keyring for the old server is kept for the new one, as the file's
// password would be. False when one was there and could not be moved.
bool CarryPasswordToServer(const QString& oldServer);

namespace secrets {
// The keys of the account in memory: passwordKey(UserId, Pop3Server);
// refreshTokenKey(OAuthUser or MailAddress, Provider, or "other" when no
// provider is set).
QString passwordKey();
QString refreshTokenKey();
}  // namespace secrets

// Paths, resolved without regard to letter case.
QString serverSettingsPath();
QString accountFilePath();
// The program's own settings file in the data folder ("tomoshibi.ini",
// section TOMOSHIBI): what it remembers that the older files have no place
// for.
QString programSettingsPath();
