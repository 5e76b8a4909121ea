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
  const QByteArray bytes = f.readAll();
  f.close();
  readServerSettings(bytes, AccountSettings());
}

void readServerSettings(const QByteArray& file, AccountSettingsRecord& s) {
  QString all = text::fromCp932(file);
  all.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  all.replace(u'\r', u'\n');
  // Not in the file means not allowed, whatever memory held before.
  s.PlainPop3Server.clear();
  s.PlainSmtpServer.clear();
  for (const QString& line : all.split(u'\n')) {
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

bool SaveServerSettings() { return durable::replaceFile(serverSettingsPath(), serverSettingsText(AccountSettings())); }

QByteArray serverSettingsText(const AccountSettingsRecord& s) {
  // Put together, not through arg(): a "%1" in a value would be taken for
  // the place of the next argument.
  const QString crlf = QStringLiteral("\r\n");
  QString content = QStringLiteral("SMTP=") + s.SmtpServer + crlf + QStringLiteral("POP3=") + s.Pop3Server + crlf +
                    QStringLiteral("MAIL=") + s.MailAddress + crlf + QStringLiteral("APOP=") +
                    QString::number(s.ApopFlag) + crlf;
  // After the four lines, so a reader that knows only those reads as before.
  if (!s.PlainPop3Server.trimmed().isEmpty())
    content += kPlainPop3Key + s.PlainPop3Server + QStringLiteral("\r\n");
  if (!s.PlainSmtpServer.trimmed().isEmpty())
    content += kPlainSmtpKey + s.PlainSmtpServer + QStringLiteral("\r\n");
  return text::toCp932(content);
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
