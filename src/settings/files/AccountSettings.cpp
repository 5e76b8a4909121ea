#include "AccountSettings.h"

#include "platform/Durable.h"
#include "platform/Paths.h"
#include "platform/Profile.h"
#include "platform/Text.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <algorithm>
#include <limits>

namespace {
// The permissions' keys in "pelkit.ini": a reader that knows only the four
// server lines skips them.
const QString kPlainPop3Key = QStringLiteral("ALLOWPLAIN_POP3=");
const QString kPlainSmtpKey = QStringLiteral("ALLOWPLAIN_SMTP=");
// How the account signs in, after the permissions in the same manner.
const QString kProviderKey = QStringLiteral("PROVIDER=");
const QString kSignInKey = QStringLiteral("SIGNIN=");
const QString kPop3TlsKey = QStringLiteral("POP3TLS=");
const QString kSmtpTlsKey = QStringLiteral("SMTPTLS=");
const QString kOAuthUserKey = QStringLiteral("OAUTHUSER=");

int16_t smallNumber(const QString& value) {
  const int64_t v = text::roundHalfEven(text::leadingNumber(value));
  return int16_t(std::clamp<int64_t>(v, std::numeric_limits<int16_t>::min(), std::numeric_limits<int16_t>::max()));
}

const QString kAccountSection = QStringLiteral("EXEINI");
const QString kIdKey = QStringLiteral("NAME");
const QString kPasswordKey = QStringLiteral("NAME2");
const QString kChoiceKey = QStringLiteral("NAME3");
// The refresh token, when there is no keyring: after the three lines above.
const QString kTokenKey = QStringLiteral("TOKEN");
// The password is kept in clear text when there is no keyring: only its
// owner may read the file, whatever it holds.
constexpr int kOwnerOnly = 0600;

const QString kProgramSection = QStringLiteral("TOMOSHIBI");
const QString kKeyringMoveKey = QStringLiteral("KEYRING_MOVE");

QString accountValue(const QString& key) {
  return profile::GetPrivateProfileString(kAccountSection, key, QString(), accountFilePath());
}

bool setAccountValue(const QString& key, const QString& value) {
  return profile::WritePrivateProfileString(kAccountSection, key, value, accountFilePath(), kOwnerOnly);
}

// The account file's lines, as the INI reader splits them.
QStringList accountLines(bool* exists = nullptr) {
  QFile f(accountFilePath());
  if (exists) *exists = f.exists();
  if (!f.open(QIODevice::ReadOnly)) return {};
  QString all = text::fromCp932(f.readAll());
  all.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  all.replace(u'\r', u'\n');
  QStringList lines = all.split(u'\n');
  if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
  return lines;
}

bool isSection(const QString& line, QString* name) {
  const QString t = line.trimmed();
  const qsizetype close = t.indexOf(u']');
  if (!t.startsWith(u'[') || close < 0) return false;
  *name = t.mid(1, close - 1).trimmed();
  return true;
}

bool isTokenLine(const QString& line) {
  const qsizetype eq = line.indexOf(u'=');
  return eq >= 0 && line.left(eq).trimmed().compare(kTokenKey, Qt::CaseInsensitive) == 0;
}

// The refresh token kept in the file, whole: a token is longer than the
// INI reader's 255 characters.
QString fileToken() {
  bool in = false;
  for (const QString& line : accountLines()) {
    QString name;
    if (isSection(line, &name)) {
      in = name.compare(kAccountSection, Qt::CaseInsensitive) == 0;
      continue;
    }
    if (in && isTokenLine(line)) return line.mid(line.indexOf(u'=') + 1).trimmed();
  }
  return QString();
}

// Writes the token as the last line of the section (empty: no token line),
// so the three account lines come first whatever order they were written
// in.
bool setFileToken(const QString& value) {
  bool exists = false;
  QStringList lines = accountLines(&exists);
  if (!exists && value.isEmpty()) return true;
  qsizetype sectionAt = -1, lastInSection = -1;
  bool in = false;
  for (qsizetype i = 0; i < lines.size(); ++i) {
    QString name;
    if (isSection(lines[i], &name)) {
      in = name.compare(kAccountSection, Qt::CaseInsensitive) == 0;
      if (in && sectionAt < 0) sectionAt = lastInSection = i;
      continue;
    }
    if (!in) continue;
    if (isTokenLine(lines[i])) {
      lines.removeAt(i--);
      continue;
    }
    if (sectionAt >= 0 && !lines[i].trimmed().isEmpty()) lastInSection = i;
  }
  if (!value.isEmpty()) {
    const QString entry = kTokenKey + u'=' + value;
    if (sectionAt >= 0)
      lines.insert(lastInSection + 1, entry);
    else
      lines << u'[' + kAccountSection + u']' << entry;
  }
  return durable::replaceFile(accountFilePath(), text::toCp932(lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")),
                              kOwnerOnly);
}

QString programValue(const QString& key) {
  return profile::GetPrivateProfileString(kProgramSection, key, QString(), programSettingsPath());
}
}  // namespace

AccountSettingsRecord& AccountSettings() {
  static AccountSettingsRecord s;
  return s;
}

QString serverSettingsPath() { return paths::resolveIn(QDir::currentPath(), paths::kServerSettingsFile); }
QString accountFilePath() { return paths::resolve(paths::kAccountFile); }
QString programSettingsPath() { return paths::resolve(QStringLiteral("★MailData/tomoshibi.ini")); }

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
  // Likewise a file without the sign-in keys is a password account.
  s.Provider.clear();
  s.SignIn = 0;
  s.Pop3Tls.clear();
  s.SmtpTls.clear();
  s.OAuthUser.clear();
  const std::pair<const QString*, QString*> keyed[] = {
      {&kPlainPop3Key, &s.PlainPop3Server}, {&kPlainSmtpKey, &s.PlainSmtpServer}, {&kProviderKey, &s.Provider},
      {&kPop3TlsKey, &s.Pop3Tls},           {&kSmtpTlsKey, &s.SmtpTls},           {&kOAuthUserKey, &s.OAuthUser}};
  for (const QString& line : all.split(u'\n')) {
    bool taken = false;
    for (const auto& [key, field] : keyed) {
      if (line.startsWith(*key)) {
        *field = line.mid(key->size(), 100);
        taken = true;
        break;
      }
    }
    if (taken) continue;
    if (line.startsWith(kSignInKey)) {
      s.SignIn = smallNumber(line.mid(kSignInKey.size(), 100));
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
      s.ApopFlag = smallNumber(value);
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
  // The sign-in values, each only when it is not at its default.
  if (!s.Provider.trimmed().isEmpty()) content += kProviderKey + s.Provider + QStringLiteral("\r\n");
  if (s.SignIn != 0) content += kSignInKey + QString::number(s.SignIn) + QStringLiteral("\r\n");
  if (!s.Pop3Tls.trimmed().isEmpty()) content += kPop3TlsKey + s.Pop3Tls + QStringLiteral("\r\n");
  if (!s.SmtpTls.trimmed().isEmpty()) content += kSmtpTlsKey + s.SmtpTls + QStringLiteral("\r\n");
  if (!s.OAuthUser.trimmed().isEmpty()) content += kOAuthUserKey + s.OAuthUser + QStringLiteral("\r\n");
  return durable::replaceFile(serverSettingsPath(), text::toCp932(content));
}

bool PlainLoginAllowed(const QString& allowedFor, const QString& server) {
  const QString a = allowedFor.trimmed();
  return !a.isEmpty() && a.compare(server.trimmed(), Qt::CaseInsensitive) == 0;
}

AccountFileValues ReadAccountFile(secrets::Prompt prompt) {
  AccountFileValues v;
  v.id = accountValue(kIdKey);
  v.password = accountValue(kPasswordKey);
  if (!v.password.isEmpty()) {
    v.status = secrets::Status::Ok;
    v.inFile = true;
    return v;
  }
  // Without an ID nothing was saved to look for.
  if (v.id.isEmpty()) return v;
  const secrets::Read r = secrets::read(secrets::passwordKey(v.id, AccountSettings().Pop3Server), prompt);
  // No keyring: an empty password line means what it always meant.
  if (r.status == secrets::Status::NoKeyring) return v;
  v.status = r.status;
  v.detail = r.detail;
  if (r.status == secrets::Status::Ok) v.password = r.value;
  return v;
}

AccountFileWrite WriteAccountFile(const QString& id, const QString& password, bool save) {
  AccountFileWrite w;
  if (!save) {
    w.ok = setAccountValue(kChoiceKey, QStringLiteral("0"));
    return w;
  }
  QString inFile = password;
  if (secrets::keyringAvailable()) {
    const QString server = AccountSettings().Pop3Server;
    const QString key = secrets::passwordKey(id, server);
    // An empty password is none saved: no item rather than an empty one.
    w.keyring = password.isEmpty() ? secrets::remove(key, &w.detail) : secrets::write(key, password, &w.detail);
    w.toKeyring = w.keyring != secrets::Status::NoKeyring;
    if (w.toKeyring) {
      if (w.keyring != secrets::Status::Ok) return w;  // the file stays as it was
      inFile.clear();
      // The password of the ID saved before is no longer anybody's.
      const QString before = accountValue(kIdKey);
      if (!before.isEmpty() && before != id) secrets::remove(secrets::passwordKey(before, server));
    }
  }
  const QString token = fileToken();
  w.ok = setAccountValue(kIdKey, id) && setAccountValue(kPasswordKey, inFile) &&
         setAccountValue(kChoiceKey, QStringLiteral("1")) && (token.isEmpty() || setFileToken(token));
  return w;
}

secrets::Read ReadRefreshToken(secrets::Prompt prompt) {
  const QString inFile = fileToken();
  const QString key = secrets::refreshTokenKey();
  secrets::Read r = secrets::read(key, prompt);
  if (inFile.isEmpty()) {
    if (r.status == secrets::Status::NoKeyring) r.status = secrets::Status::Missing;
    return r;
  }
  if (r.status == secrets::Status::Ok) return r;
  // Kept in the file while there was no keyring. One that is there now
  // takes it over when it may be asked.
  if (r.status == secrets::Status::Missing && prompt == secrets::Prompt::Allowed &&
      secrets::write(key, inFile) == secrets::Status::Ok) {
    const secrets::Read back = secrets::read(key, prompt);
    if (back.status == secrets::Status::Ok && back.value == inFile) setFileToken(QString());
  }
  return {secrets::Status::Ok, inFile, QString()};
}

secrets::Status WriteRefreshToken(const QString& value) {
  const secrets::Status s = secrets::write(secrets::refreshTokenKey(), value);
  if (s == secrets::Status::NoKeyring) return setFileToken(value) ? secrets::Status::Ok : secrets::Status::Failed;
  if (s == secrets::Status::Ok && !fileToken().isEmpty()) setFileToken(QString());
  return s;
}

secrets::Status ForgetRefreshToken() {
  secrets::Status s = secrets::remove(secrets::refreshTokenKey());
  if (s == secrets::Status::NoKeyring) s = secrets::Status::Ok;
  if (!fileToken().isEmpty() && !setFileToken(QString())) return secrets::Status::Failed;
  return s;
}

bool KeyringMoveWanted() {
  if (accountValue(kPasswordKey).isEmpty() || accountValue(kIdKey).isEmpty()) return false;
  // The key names the server: without one the question waits for it.
  if (AccountSettings().Pop3Server.trimmed().isEmpty()) return false;
  if (!programValue(kKeyringMoveKey).isEmpty()) return false;
  return secrets::keyringAvailable();
}

secrets::Status MovePasswordToKeyring(QString* detail) {
  const QString id = accountValue(kIdKey);
  const QString password = accountValue(kPasswordKey);
  if (password.isEmpty()) return secrets::Status::Ok;
  const QString key = secrets::passwordKey(id, AccountSettings().Pop3Server);
  if (const secrets::Status s = secrets::write(key, password, detail); s != secrets::Status::Ok) return s;
  const secrets::Read back = secrets::read(key, secrets::Prompt::Allowed);
  if (back.status != secrets::Status::Ok) {
    if (detail) *detail = back.detail;
    return back.status;
  }
  if (back.value != password) {
    if (detail) *detail = QStringLiteral("the keyring gave back another value");
    return secrets::Status::Failed;
  }
  // Only now, and on the disk before this returns, the file lets go of it.
  if (!setAccountValue(kPasswordKey, QString())) {
    if (detail) *detail = durable::lastErrorText();
    return secrets::Status::Failed;
  }
  return secrets::Status::Ok;
}

bool DeclineKeyringMove() {
  return profile::WritePrivateProfileString(kProgramSection, kKeyringMoveKey, QStringLiteral("declined"),
                                            programSettingsPath(), kOwnerOnly);
}

bool CarryPasswordToServer(const QString& oldServer) {
  const QString newServer = AccountSettings().Pop3Server;
  if (oldServer.trimmed() == newServer.trimmed()) return true;
  const QString id = accountValue(kIdKey);
  // A password in the file, or no ID: nothing of this account is keyed by
  // the server.
  if (id.isEmpty() || !accountValue(kPasswordKey).isEmpty()) return true;
  const QString oldKey = secrets::passwordKey(id, oldServer);
  const secrets::Read r = secrets::read(oldKey, secrets::Prompt::Allowed);
  if (r.status == secrets::Status::Missing || r.status == secrets::Status::NoKeyring) return true;
  if (r.status != secrets::Status::Ok) return false;
  if (secrets::write(secrets::passwordKey(id, newServer), r.value) != secrets::Status::Ok) return false;
  secrets::remove(oldKey);
  return true;
}

namespace secrets {

QString passwordKey() {
  const AccountSettingsRecord& s = AccountSettings();
  return passwordKey(s.UserId, s.Pop3Server);
}

QString refreshTokenKey() {
  const AccountSettingsRecord& s = AccountSettings();
  const QString user = s.OAuthUser.trimmed().isEmpty() ? s.MailAddress : s.OAuthUser;
  const QString issuer = s.Provider.trimmed().isEmpty() ? QStringLiteral("other") : s.Provider;
  return refreshTokenKey(user, issuer);
}

}  // namespace secrets
