#pragma once
// The local mail servers of the end-to-end tests (tests/support/mailservers.py):
// Dovecot for POP3/POP3S/STARTTLS/APOP and aiosmtpd for SMTP, sharing one
// Maildir, on free loopback ports, stopped and removed when this object ends.
#include <QByteArray>
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
  QString caFile() const;
  QString maildir() const;
  QString root() const;

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
