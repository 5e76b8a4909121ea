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
};

// The process-wide values, empty at start-up.
AccountSettingsRecord& AccountSettings();

// Fills the four server values from "pelkit.ini" in the current directory;
// a missing file leaves them as they are.
void LoadServerSettings();
// Rewrites "pelkit.ini" from the four server values. False when it cannot be
// written.
bool SaveServerSettings();

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
