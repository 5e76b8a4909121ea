#include "AccountSettings.h"

#include "platform/Durable.h"
#include "platform/Paths.h"
#include "platform/Profile.h"
#include "platform/Text.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <limits>

namespace {
// The permissions' keys in "pelkit.ini": a reader that knows only the four
// server lines skips them.
const QString kPlainPop3Key = QStringLiteral("ALLOWPLAIN_POP3=");
const QString kPlainSmtpKey = QStringLiteral("ALLOWPLAIN_SMTP=");

// Leaving mail on the server, after the four lines likewise.
const QString kLeaveKey = QStringLiteral("LEAVE_ON_SERVER=");
const QString kLeaveAfterKey = QStringLiteral("LEAVE_DELETE_AFTER=");
const QString kLeaveDaysKey = QStringLiteral("LEAVE_DAYS=");
const QString kLeaveWithHereKey = QStringLiteral("LEAVE_DELETE_WITH_HERE=");

// Reads one leave-on-server line into `s`; false when `line` is none.
bool loadLeaveLine(const QString& line, AccountSettingsRecord& s) {
  auto flag = [&](const QString& key, bool& into) {
    if (!line.startsWith(key)) return false;
    into = line.mid(key.size()).trimmed() == u"1";
    return true;
  };
  if (flag(kLeaveKey, s.LeaveOnServer) || flag(kLeaveAfterKey, s.LeaveDeleteAfterDays) ||
      flag(kLeaveWithHereKey, s.LeaveDeleteWithHere))
    return true;
  if (!line.startsWith(kLeaveDaysKey)) return false;
  bool ok = false;
  const int days = line.mid(kLeaveDaysKey.size()).trimmed().toInt(&ok);
  s.LeaveDays = ok ? std::clamp(days, 1, AccountSettingsRecord::kMaxLeaveDays) : AccountSettingsRecord::kDefaultLeaveDays;
  return true;
}

// The leave-on-server lines; none while every choice is the default, so
// that a file never touched by them stays as it was.
QString leaveLines(const AccountSettingsRecord& s) {
  if (!s.LeaveOnServer && !s.LeaveDeleteAfterDays && !s.LeaveDeleteWithHere &&
      s.LeaveDays == AccountSettingsRecord::kDefaultLeaveDays)
    return {};
  auto bit = [](bool b) { return b ? QStringLiteral("1") : QStringLiteral("0"); };
  return kLeaveKey + bit(s.LeaveOnServer) + QStringLiteral("\r\n") + kLeaveAfterKey + bit(s.LeaveDeleteAfterDays) +
         QStringLiteral("\r\n") + kLeaveDaysKey + QString::number(s.LeaveDays) + QStringLiteral("\r\n") +
         kLeaveWithHereKey + bit(s.LeaveDeleteWithHere) + QStringLiteral("\r\n");
}
}  // namespace

AccountSettingsRecord& AccountSettings() {
  static AccountSettingsRecord s;
  return s;
}

QString serverSettingsPath() { return paths::resolveIn(QDir::currentPath(), paths::kServerSettingsFile); }
QString accountFilePath() { return paths::resolve(paths::kAccountFile); }

void LoadServerSettings() {
  QFile f(serverSettingsPath());
  if (!f.exists() || !f.open(QIODevice::ReadOnly)) return;
  QString all = text::fromCp932(f.readAll());
  f.close();
  all.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  all.replace(u'\r', u'\n');
  auto& s = AccountSettings();
  // Not in the file means not allowed, whatever memory held before.
  s.PlainPop3Server.clear();
  s.PlainSmtpServer.clear();
  // Not in the file: each mail deleted once stored.
  s.LeaveOnServer = s.LeaveDeleteAfterDays = s.LeaveDeleteWithHere = false;
  s.LeaveDays = AccountSettingsRecord::kDefaultLeaveDays;
  for (const QString& line : all.split(u'\n')) {
    if (loadLeaveLine(line, s)) continue;
    if (line.startsWith(kPlainPop3Key)) {
      s.PlainPop3Server = line.mid(kPlainPop3Key.size(), 100);
      continue;
    }
    if (line.startsWith(kPlainSmtpKey)) {
      s.PlainSmtpServer = line.mid(kPlainSmtpKey.size(), 100);
      continue;
    }
    const QString prefix = line.left(5);
    const QString value = line.mid(5, 100);
    if (prefix == u"SMTP=") {
      s.SmtpServer = value;
    } else if (prefix == u"POP3=") {
      s.Pop3Server = value;
    } else if (prefix == u"MAIL=") {
      s.MailAddress = value;
    } else if (prefix == u"APOP=") {
      // Values past the 16-bit range still mean "on": keep them nonzero.
      const int64_t v = text::roundHalfEven(text::leadingNumber(value));
      s.ApopFlag = int16_t(std::clamp<int64_t>(v, std::numeric_limits<int16_t>::min(), std::numeric_limits<int16_t>::max()));
    }
  }
}

bool SaveServerSettings() {
  const auto& s = AccountSettings();
  QString content = QStringLiteral("SMTP=%1\r\nPOP3=%2\r\n" "MAIL=%3\r\nAPOP=%4\r\n")
                        .arg(s.SmtpServer, s.Pop3Server, s.MailAddress)
                        .arg(s.ApopFlag);
  // After the four lines, so a reader that knows only those reads as before.
  if (!s.PlainPop3Server.trimmed().isEmpty())
    content += kPlainPop3Key + s.PlainPop3Server + QStringLiteral("\r\n");
  if (!s.PlainSmtpServer.trimmed().isEmpty())
    content += kPlainSmtpKey + s.PlainSmtpServer + QStringLiteral("\r\n");
  content += leaveLines(s);
  return durable::replaceFile(serverSettingsPath(), text::toCp932(content));
}

bool PlainLoginAllowed(const QString& allowedFor, const QString& server) {
  const QString a = allowedFor.trimmed();
  return !a.isEmpty() && a.compare(server.trimmed(), Qt::CaseInsensitive) == 0;
}

AccountFileValues ReadAccountFile() {
  const QString file = accountFilePath();
  return {profile::GetPrivateProfileString(QStringLiteral("EXEINI"), QStringLiteral("NAME"), QString(), file),
          profile::GetPrivateProfileString(QStringLiteral("EXEINI"), QStringLiteral("NAME2"), QString(), file)};
}

bool WriteAccountFile(const QString& id, const QString& password, bool save) {
  const QString file = accountFilePath();
  const QString sec = QStringLiteral("EXEINI");
  // The password is kept in clear text: only its owner may read the file.
  constexpr int kOwnerOnly = 0600;
  if (save) {
    return profile::WritePrivateProfileString(sec, QStringLiteral("NAME"), id, file, kOwnerOnly) &&
           profile::WritePrivateProfileString(sec, QStringLiteral("NAME2"), password, file, kOwnerOnly) &&
           profile::WritePrivateProfileString(sec, QStringLiteral("NAME3"), QStringLiteral("1"), file, kOwnerOnly);
  }
  return profile::WritePrivateProfileString(sec, QStringLiteral("NAME3"), QStringLiteral("0"), file, kOwnerOnly);
}
