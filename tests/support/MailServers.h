#pragma once
// The local mail servers of the end-to-end tests (tests/support/mailservers.py):
// Dovecot for POP3/POP3S/STARTTLS/APOP and aiosmtpd for SMTP, sharing one
// Maildir, on free loopback ports, stopped and removed when this object ends.
//
// With Options::oauth an authorization server (tests/support/oauth_server.py)
// runs beside them, and both mail servers also take XOAUTH2 and OAUTHBEARER
// logins of oauthUser() with its access tokens: sign in through its
// authorizeUrl() with tests/support/fake_browser.sh as the browser, or take a
// ready pair from issueTokens(). With Options::selfSigned both servers show a
// certificate that no authority vouches for; rekey() changes its key.
// tests/support/fixtures_selftest.py proves all this with curl and openssl.
#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>

class MailServers {
 public:
  struct Options {
    bool smtpAuth = false;      // SMTP requires AUTH
    bool smtpStartTls = false;  // SMTP offers STARTTLS
    QStringList smtpReject;     // recipients refused with 550
    bool smtps = false;         // an implicit-TLS SMTP port too (smtpsPort())
    // Bearer-token logins against a local authorization server; implies
    // smtpAuth. With smtpStartTls the SMTP server then takes AUTH only after
    // STARTTLS. Dovecot logs every auth request to dovecotLogPath().
    bool oauth = false;
    int oauthLifetime = 0;      // seconds an access token lives; 0: an hour
    QString oauthClientSecret;  // required at the token endpoint when set
    bool oauthRotateRefresh = false;  // each refresh grant replaces the refresh token
    QString oauthMechanisms;    // "xoauth2" or "oauthbearer": the only one both mail servers take; empty: both
    bool selfSigned = false;    // a self-signed certificate, not signed by caFile()
  };
  MailServers() : MailServers(Options{}) {}
  explicit MailServers(const Options& options);
  ~MailServers();

  bool ok() const { return ok_; }
  QString error() const { return error_; }

  QString user() const;
  QString password() const;
  QString address() const;  // the mailbox's own address; mail sent to it arrives in the Maildir
  int pop3Port() const;
  int pop3sPort() const;
  int smtpPort() const;
  int smtpsPort() const;  // 0 without Options::smtps
  QString caFile() const;
  QString maildir() const;
  QString root() const;
  const QJsonObject& info() const { return info_; }  // the servers' first JSON line

  // The certificate both servers show now, and SHA-256 fingerprints
  // (lowercase hex) of its DER and of its SubjectPublicKeyInfo; base64 of
  // the latter as in a "sha256//" pin.
  QString certFile() const;
  QString certSha256() const;
  QString spkiSha256() const;
  QString spkiSha256Base64() const;
  // Self-signed servers only: a new key (and certificate), or a new
  // certificate for the same key. The servers keep their ports.
  bool rekey();
  bool renewCert();

  // The authorization server (Options::oauth).
  QString oauthUser() const;  // whose tokens it gives: the mailbox's address
  QString oauthClientId() const;
  QString oauthAuthorizeUrl() const;
  QString oauthTokenUrl() const;
  QString oauthRevokeUrl() const;
  QString oauthIntrospectUrl() const;
  struct Tokens {
    QString access;
    QString refresh;
    int expiresIn = 0;
  };
  Tokens issueTokens();  // a pair as a finished sign-in gets
  bool expireAccessTokens();                          // every access token so far expires now
  bool revokeRefreshToken(const QString& token = {});  // one, or all; their access tokens too
  bool revokeAccessToken(const QString& token = {});   // one, or all
  bool setTokenLifetime(int seconds);                 // for tokens issued from now on
  // The next `times` requests to `endpoint` (authorize, token, revoke,
  // introspect) answer HTTP `status`.
  bool failOAuthEndpoint(const QString& endpoint, int status, int times = 1);
  QJsonObject oauthCounts();                          // requests per endpoint
  QJsonArray oauthRequests(const QString& endpoint = {});  // oldest first: {"endpoint", "params", ...}
  QJsonObject oauthCommand(const QByteArray& command);  // any command of oauth_server.py

  // What the mail servers were sent to log in, in order: `data` holds what
  // the client sent, decoded from base64 (a password, a token...). `tls`
  // tells whether it came under TLS; Dovecot takes a login on loopback
  // without it and marks it `secured` instead.
  struct AuthAttempt {
    QString mechanism;
    QString user;  // POP3: as Dovecot took it
    bool tls = false;
    bool secured = false;
    bool accepted = false;
    QStringList data;
  };
  QList<AuthAttempt> smtpAuthAttempts();
  QList<AuthAttempt> pop3AuthAttempts();  // needs Options::oauth (Dovecot's auth debug log)
  QString dovecotLogPath() const;
  QString dovecotLog() const;  // its text; "Login: user=<...>, method=XOAUTH2, ..., TLS, ..." lines

  // Puts a message into the mailbox (as a delivery would). Messages are served
  // in the order they were put in.
  void deliver(const QByteArray& message);
  // Messages in the mailbox (new and cur).
  int mailboxCount() const;

  // What the SMTP server accepted, in order.
  struct Received {
    QString mailFrom;
    QStringList rcptTos;
    bool authenticated = false;
    QByteArray data;
  };
  QList<Received> received() const;

  // A crash of the POP3 server (every Dovecot process killed), and a restart.
  bool killPop3();
  bool startPop3();
  // A port that leads to the POP3 server until `bytes` have come from it;
  // then the server crashes as killPop3() makes it. 0 when it failed.
  int crashingPop3Proxy(qint64 bytes);

 private:
  bool command(const QByteArray& cmd);
  QJsonObject request(const QByteArray& cmd);
  bool certificateCommand(const QByteArray& cmd);
  QList<AuthAttempt> attempts(const QByteArray& cmd);
  QProcess proc_;
  QJsonObject info_;
  bool ok_ = false;
  QString error_;
  int delivered_ = 0;
};

// A loopback port on which nothing listens: one just given out and released.
int closedLoopbackPort();

// Runs the real program and waits for it.
struct RunResult {
  int exitCode = -1;
  QString out;
  QString err;
  bool finished = false;
};
// `env` adds "NAME=VALUE" entries to the environment.
RunResult runProgram(const QStringList& args, const QString& workingDir, int timeoutMs = 120000,
                     const QStringList& env = {});

// The same inside a desktop keyring of the test's own
// (tests/support/keyring_session.sh): HOME and the XDG folders in
// `keyringDir`, a private D-Bus session with gnome-keyring's Secret Service
// unlocked, or locked, or no Secret Service at all, or no bus.
enum class Keyring { Unlocked, Locked, None, NoBus };
RunResult runProgramWithKeyring(const QStringList& args, const QString& workingDir, const QString& keyringDir,
                                Keyring keyring = Keyring::Unlocked, int timeoutMs = 120000,
                                const QStringList& env = {});
// What the keyring in `keyringDir` holds for these attributes ("name",
// "value", ...), through secret-tool; empty when nothing.
QString keyringLookup(const QString& keyringDir, const QStringList& attributes);
// Every item of `schema` the keyring in `keyringDir` holds, as secret-tool
// prints them (labels, attributes, secrets): what the program stored
// (QtKeychain's items carry the schema "org.qt.keychain").
QString keyringDump(const QString& keyringDir, const QString& schema = QStringLiteral("org.qt.keychain"));

// Makes the servers' test certificate authority trusted by the program folder
// at `home` (as a user would for a self-signed server).
void trustTestCa(const MailServers& servers, const QString& home);
// Writes "pelkit.ini" into `dir` (the program's current directory).
// `allowPlain`: both servers may be used without encryption, as the server
// dialog's check box allows (for a test server that speaks plain SMTP).
void writeServerSettings(const QString& dir, const QString& smtp, const QString& pop3, const QString& mail, int apop,
                         bool allowPlain = false);
// Writes the account file of the program folder at `home`.
void writeAccount(const QString& home, const QString& id, const QString& password);
