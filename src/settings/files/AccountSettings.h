#pragma once
// The six account and server values, the server settings file "pelkit.ini"
// (current directory) and the account file "iniIdPass.ini" (data folder).
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
};

// The process-wide values, empty at start-up.
AccountSettingsRecord& AccountSettings();

// Fills the four server values from "pelkit.ini" in the current directory;
// a missing file leaves them as they are. The unencrypted-login permissions
// come from the same file: a file without them allows none.
void LoadServerSettings();
// Rewrites "pelkit.ini" from the four server values, followed by the
// unencrypted-login permissions that are given ("ALLOWPLAIN_POP3=",
// "ALLOWPLAIN_SMTP="). False when it cannot be written.
bool SaveServerSettings();

// The server dialog's caption for the permission; the refusal of a server
// without encryption names it.
inline const QString kPlainLoginCaption = QStringLiteral("暗号化なしの接続を許可する（非推奨）");

// The same on the file's bytes: `s` filled from them as LoadServerSettings
// fills the process-wide values, and the bytes SaveServerSettings writes.
void readServerSettings(const QByteArray& file, AccountSettingsRecord& s);
QByteArray serverSettingsText(const AccountSettingsRecord& s);

// Whether a login to `server` may go without encryption: only when the
// permission was given for that very server value (letter case and
// surrounding spaces aside). A permission never passes to another name.
bool PlainLoginAllowed(const QString& allowedFor, const QString& server);

struct AccountFileValues {
  QString id;
  QString password;
};
AccountFileValues ReadAccountFile();
// Save chosen: NAME, NAME2 and NAME3 = "1"; declined: only NAME3 = "0".
// The file is readable by its owner only. False when it cannot be written.
bool WriteAccountFile(const QString& id, const QString& password, bool save);

// Paths, resolved without regard to letter case.
QString serverSettingsPath();
QString accountFilePath();
