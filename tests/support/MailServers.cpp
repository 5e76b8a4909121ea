#include "MailServers.h"

#include "platform/Paths.h"
#include "platform/Profile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <arpa/inet.h>
#include <grp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <pwd.h>
#include <unistd.h>

MailServers::MailServers(const Options& o) {
  QStringList args{QStringLiteral(TOMOSHIBI_SOURCE_DIR "/tests/support/mailservers.py")};
  if (o.smtpAuth) args << QStringLiteral("--smtp-auth");
  if (o.smtpStartTls) args << QStringLiteral("--smtp-starttls");
  for (const QString& r : o.smtpReject) args << QStringLiteral("--smtp-reject") << r;
  if (o.smtps) args << QStringLiteral("--smtps");
  if (o.selfSigned) args << QStringLiteral("--self-signed");
  if (o.oauth) {
    args << QStringLiteral("--oauth");
    if (o.oauthLifetime > 0) args << QStringLiteral("--oauth-lifetime") << QString::number(o.oauthLifetime);
    if (!o.oauthClientSecret.isEmpty()) args << QStringLiteral("--oauth-client-secret") << o.oauthClientSecret;
    if (!o.oauthMechanisms.isEmpty()) args << QStringLiteral("--oauth-mechanisms") << o.oauthMechanisms;
  }
  proc_.setProcessChannelMode(QProcess::SeparateChannels);
  proc_.start(QStringLiteral("/usr/bin/python3"), args);
  if (!proc_.waitForStarted(10000) || !proc_.waitForReadyRead(60000)) {
    error_ = QStringLiteral("mail servers did not start: ") + QString::fromUtf8(proc_.readAllStandardError());
    return;
  }
  while (!proc_.canReadLine() && proc_.waitForReadyRead(30000)) {
  }
  const QByteArray line = proc_.readLine();
  info_ = QJsonDocument::fromJson(line).object();
  ok_ = info_.contains(QStringLiteral("pop3_port"));
  if (!ok_) error_ = QString::fromUtf8(line) + QString::fromUtf8(proc_.readAllStandardError());
  if (ok_ && o.oauthRotateRefresh) ok_ = oauthCommand("rotate on").value(QStringLiteral("ok")).toBool();
}

MailServers::~MailServers() {
  if (proc_.state() != QProcess::NotRunning) {
    proc_.write("quit\n");
    proc_.closeWriteChannel();
    if (!proc_.waitForFinished(15000)) {
      proc_.kill();
      proc_.waitForFinished(5000);
    }
  }
}

QString MailServers::user() const { return info_.value(QStringLiteral("user")).toString(); }
QString MailServers::password() const { return info_.value(QStringLiteral("password")).toString(); }
QString MailServers::address() const { return info_.value(QStringLiteral("address")).toString(); }
int MailServers::pop3Port() const { return info_.value(QStringLiteral("pop3_port")).toInt(); }
int MailServers::pop3sPort() const { return info_.value(QStringLiteral("pop3s_port")).toInt(); }
int MailServers::smtpPort() const { return info_.value(QStringLiteral("smtp_port")).toInt(); }
int MailServers::smtpsPort() const { return info_.value(QStringLiteral("smtps_port")).toInt(); }
QString MailServers::caFile() const { return info_.value(QStringLiteral("ca")).toString(); }
QString MailServers::maildir() const { return info_.value(QStringLiteral("maildir")).toString(); }
QString MailServers::root() const { return info_.value(QStringLiteral("root")).toString(); }

void MailServers::deliver(const QByteArray& message) {
  // Names in delivery order: a fresh mailbox serves them in name order.
  const QString name = QStringLiteral("%1.%2.test").arg(QDateTime::currentMSecsSinceEpoch()).arg(++delivered_, 6, 10, QChar(u'0'));
  const QString tmp = maildir() + QStringLiteral("/tmp/") + name;
  QFile f(tmp);
  if (!f.open(QIODevice::WriteOnly)) return;
  f.write(message);
  f.close();
  if (::geteuid() == 0) {
    const QByteArray u = info_.value(QStringLiteral("runuser")).toString().toUtf8();
    const QByteArray g = info_.value(QStringLiteral("rungroup")).toString().toUtf8();
    if (passwd* pw = ::getpwnam(u.constData())) {
      group* gr = ::getgrnam(g.constData());
      if (::chown(QFile::encodeName(tmp).constData(), pw->pw_uid, gr ? gr->gr_gid : pw->pw_gid) != 0) return;
    }
  }
  QFile::rename(tmp, maildir() + QStringLiteral("/new/") + name);
}

int MailServers::mailboxCount() const {
  int n = 0;
  for (const char* sub : {"/new", "/cur"})
    n += int(QDir(maildir() + QLatin1String(sub)).entryList(QDir::Files).size());
  return n;
}

QList<MailServers::Received> MailServers::received() const {
  QList<Received> out;
  QDir d(root() + QStringLiteral("/received"));
  for (const QString& json : d.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name)) {
    QFile jf(d.filePath(json));
    QFile ef(d.filePath(json.left(json.size() - 5) + QStringLiteral(".eml")));
    if (!jf.open(QIODevice::ReadOnly) || !ef.open(QIODevice::ReadOnly)) continue;
    const QJsonObject o = QJsonDocument::fromJson(jf.readAll()).object();
    Received r;
    r.mailFrom = o.value(QStringLiteral("mail_from")).toString();
    for (const QJsonValue& v : o.value(QStringLiteral("rcpt_tos")).toArray()) r.rcptTos << v.toString();
    r.authenticated = o.value(QStringLiteral("auth")).toBool();
    r.data = ef.readAll();
    out << r;
  }
  return out;
}

QJsonObject MailServers::request(const QByteArray& cmd) {
  proc_.write(cmd + '\n');
  while (!proc_.canReadLine())
    if (!proc_.waitForReadyRead(30000)) return {};
  return QJsonDocument::fromJson(proc_.readLine()).object();
}

bool MailServers::command(const QByteArray& cmd) { return request(cmd).value(QStringLiteral("ok")).toBool(); }

int MailServers::crashingPop3Proxy(qint64 bytes) {
  return request("proxy-pop3 " + QByteArray::number(bytes)).value(QStringLiteral("port")).toInt();
}

bool MailServers::killPop3() { return command("kill-pop3"); }
bool MailServers::startPop3() { return command("start-pop3"); }

QString MailServers::certFile() const { return info_.value(QStringLiteral("cert")).toString(); }
QString MailServers::certSha256() const { return info_.value(QStringLiteral("cert_sha256")).toString(); }
QString MailServers::spkiSha256() const { return info_.value(QStringLiteral("spki_sha256")).toString(); }
QString MailServers::spkiSha256Base64() const { return info_.value(QStringLiteral("spki_sha256_b64")).toString(); }

bool MailServers::certificateCommand(const QByteArray& cmd) {
  const QJsonObject answer = request(cmd);
  if (!answer.value(QStringLiteral("ok")).toBool()) return false;
  for (const char* key : {"cert", "cert_sha256", "spki_sha256", "spki_sha256_b64"})
    info_.insert(QLatin1String(key), answer.value(QLatin1String(key)));
  return true;
}

bool MailServers::rekey() { return certificateCommand("rekey"); }
bool MailServers::renewCert() { return certificateCommand("renew-cert"); }

namespace {
QString oauthInfo(const QJsonObject& info, const char* key) {
  return info.value(QStringLiteral("oauth")).toObject().value(QLatin1String(key)).toString();
}
}  // namespace

QString MailServers::oauthUser() const { return info_.value(QStringLiteral("oauth_user")).toString(); }
QString MailServers::oauthClientId() const { return oauthInfo(info_, "client_id"); }
QString MailServers::oauthAuthorizeUrl() const { return oauthInfo(info_, "authorize_url"); }
QString MailServers::oauthTokenUrl() const { return oauthInfo(info_, "token_url"); }
QString MailServers::oauthRevokeUrl() const { return oauthInfo(info_, "revoke_url"); }
QString MailServers::oauthIntrospectUrl() const { return oauthInfo(info_, "introspect_url"); }

QJsonObject MailServers::oauthCommand(const QByteArray& command) { return request("oauth " + command); }

MailServers::Tokens MailServers::issueTokens() {
  const QJsonObject o = oauthCommand("issue");
  return {o.value(QStringLiteral("access_token")).toString(), o.value(QStringLiteral("refresh_token")).toString(),
          o.value(QStringLiteral("expires_in")).toInt()};
}

bool MailServers::expireAccessTokens() { return oauthCommand("expire").value(QStringLiteral("ok")).toBool(); }

bool MailServers::revokeRefreshToken(const QString& token) {
  return oauthCommand(("revoke-refresh " + token).trimmed().toUtf8()).value(QStringLiteral("ok")).toBool();
}

bool MailServers::revokeAccessToken(const QString& token) {
  return oauthCommand(("revoke-access " + token).trimmed().toUtf8()).value(QStringLiteral("ok")).toBool();
}

bool MailServers::setTokenLifetime(int seconds) {
  return oauthCommand("lifetime " + QByteArray::number(seconds)).value(QStringLiteral("ok")).toBool();
}

bool MailServers::failOAuthEndpoint(const QString& endpoint, int status, int times) {
  return oauthCommand("fail " + endpoint.toUtf8() + ' ' + QByteArray::number(status) + ' ' + QByteArray::number(times))
      .value(QStringLiteral("ok"))
      .toBool();
}

QJsonObject MailServers::oauthCounts() { return oauthCommand("counts").value(QStringLiteral("counts")).toObject(); }

QJsonArray MailServers::oauthRequests(const QString& endpoint) {
  return oauthCommand(("requests " + endpoint).trimmed().toUtf8()).value(QStringLiteral("requests")).toArray();
}

QList<MailServers::AuthAttempt> MailServers::attempts(const QByteArray& cmd) {
  QList<AuthAttempt> out;
  for (const QJsonValue& v : request(cmd).value(QStringLiteral("attempts")).toArray()) {
    const QJsonObject o = v.toObject();
    AuthAttempt a;
    a.mechanism = o.value(QStringLiteral("mechanism")).toString();
    a.user = o.value(QStringLiteral("user")).toString();
    a.tls = o.value(QStringLiteral("tls")).toBool();
    a.secured = o.value(QStringLiteral("secured")).toBool(a.tls);
    a.accepted = o.value(QStringLiteral("authenticated")).toBool() || o.value(QStringLiteral("ok")).toBool();
    for (const QJsonValue& d : o.value(QStringLiteral("data")).toArray()) a.data << d.toString();
    out << a;
  }
  return out;
}

QList<MailServers::AuthAttempt> MailServers::smtpAuthAttempts() { return attempts("smtp-auth"); }
QList<MailServers::AuthAttempt> MailServers::pop3AuthAttempts() { return attempts("pop3-auth"); }

QString MailServers::dovecotLogPath() const { return info_.value(QStringLiteral("dovecot_log")).toString(); }

QString MailServers::dovecotLog() const {
  QFile f(dovecotLogPath());
  return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

int closedLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

namespace {
RunResult runCommand(const QString& program, const QStringList& args, const QString& workingDir, int timeoutMs,
                     const QStringList& extra) {
  QProcess p;
  p.setWorkingDirectory(workingDir);
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  for (const QString& e : extra) env.insert(e.section(u'=', 0, 0), e.section(u'=', 1));
  p.setProcessEnvironment(env);
  p.start(program, args);
  RunResult r;
  if (!p.waitForStarted(10000)) return r;
  r.finished = p.waitForFinished(timeoutMs);
  if (!r.finished) {
    p.kill();
    p.waitForFinished(5000);
  }
  r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  r.out = QString::fromUtf8(p.readAllStandardOutput());
  r.err = QString::fromUtf8(p.readAllStandardError());
  return r;
}

QStringList keyringSession(const QString& dir, Keyring keyring) {
  QStringList args{QStringLiteral("--dir"), dir};
  if (keyring == Keyring::Locked) args << QStringLiteral("--locked");
  if (keyring == Keyring::None) args << QStringLiteral("--none");
  if (keyring == Keyring::NoBus) args << QStringLiteral("--no-bus");
  return args << QStringLiteral("--");
}

const QString kKeyringSession = QStringLiteral(TOMOSHIBI_SOURCE_DIR "/tests/support/keyring_session.sh");
}  // namespace

RunResult runProgram(const QStringList& args, const QString& workingDir, int timeoutMs, const QStringList& extra) {
  return runCommand(QStringLiteral(TOMOSHIBI_EXE), args, workingDir, timeoutMs, extra);
}

RunResult runProgramWithKeyring(const QStringList& args, const QString& workingDir, const QString& keyringDir,
                                Keyring keyring, int timeoutMs, const QStringList& env) {
  return runCommand(kKeyringSession, keyringSession(keyringDir, keyring) << QStringLiteral(TOMOSHIBI_EXE) << args,
                    workingDir, timeoutMs, env);
}

QString keyringLookup(const QString& keyringDir, const QStringList& attributes) {
  const RunResult r = runCommand(kKeyringSession,
                                 keyringSession(keyringDir, Keyring::Unlocked)
                                     << QStringLiteral("secret-tool") << QStringLiteral("lookup") << attributes,
                                 keyringDir, 30000, {});
  return r.exitCode == 0 ? r.out : QString();
}

QString keyringDump(const QString& keyringDir, const QString& schema) {
  const RunResult r = runCommand(kKeyringSession,
                                 keyringSession(keyringDir, Keyring::Unlocked)
                                     << QStringLiteral("secret-tool") << QStringLiteral("search") << QStringLiteral("--all")
                                     << QStringLiteral("--unlock") << QStringLiteral("xdg:schema") << schema,
                                 keyringDir, 30000, {});
  // secret-tool prints the attributes to standard error, the rest to standard output.
  return r.out + r.err;
}

void trustTestCa(const MailServers& servers, const QString& home) {
  const QString target = paths::resolveIn(home, QStringLiteral("★MAilData/trusted-ca.pem"));
  QFile::remove(target);
  QFile::copy(servers.caFile(), target);
}

void writeServerSettings(const QString& dir, const QString& smtp, const QString& pop3, const QString& mail, int apop,
                         bool allowPlain) {
  QFile f(dir + QStringLiteral("/pelkit.ini"));
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return;
  QString content = QStringLiteral("SMTP=%1\r\nPOP3=%2\r\n" "MAIL=%3\r\nAPOP=%4\r\n").arg(smtp, pop3, mail).arg(apop);
  if (allowPlain) content += QStringLiteral("ALLOWPLAIN_POP3=%1\r\nALLOWPLAIN_SMTP=%2\r\n").arg(pop3, smtp);
  f.write(content.toUtf8());
}

void writeAccount(const QString& home, const QString& id, const QString& password) {
  const QString file = paths::resolveIn(home, QStringLiteral("★MailData/iniIdPass.ini"));
  profile::WritePrivateProfileString(QStringLiteral("EXEINI"), QStringLiteral("NAME"), id, file, 0600);
  profile::WritePrivateProfileString(QStringLiteral("EXEINI"), QStringLiteral("NAME2"), password, file, 0600);
}
