#pragma once
// One POP3 session: the conversation from login to QUIT over one server
// connection. The connection is never opened again behind the caller's back
// (message numbers would shift and deletions already made would be
// committed or lost); once it breaks, every later step fails with the reason.
#include "Credentials.h"
#include "MailLibCommon.h"
#include "platform/TestHooks.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QSet>
#include <QString>
#include <deque>
#include <functional>
#include <memory>

namespace maillib {

// What a server may cost at most, whatever it says or sends.
struct Pop3Limits {
  int stallMs = int(kStallTimeout * 1000);  // no byte at all for this long ends the session
  int slowWindowMs = 60 * 1000;             // of waiting for the server …
  qint64 slowMinBytes = 1024;               // … less than this ends the session
  qsizetype maxLine = 1024 * 1024;          // a status line
  qint64 maxMail = 256LL * 1024 * 1024;     // one message; a larger one is left on the server
  qint64 maxListing = 32LL * 1024 * 1024;   // the answer to CAPA, LIST or UIDL
};
// The limits in force: these, or a test's shorter ones.
inline const Pop3Limits& pop3Limits() {
#ifdef TOMOSHIBI_TEST_HOOKS
  if (testhooks::pop3Limits) return *testhooks::pop3Limits;
#endif
  static const Pop3Limits limits;
  return limits;
}

// The byte stream to a POP3 server, already connected and secured (STARTTLS
// or implicit TLS) by whoever opened it.
class Pop3Link {
 public:
  virtual ~Pop3Link() = default;
  // Sends all of `bytes`; false, with the reason in `failure`, when the
  // connection broke or stalled.
  virtual bool send(const QByteArray& bytes, Result* failure) = 0;
  // Appends at least one byte that arrived to `buffer`; false when the
  // connection broke, was closed or stalled.
  virtual bool receive(QByteArray& buffer, Result* failure) = 0;
  // Called now and then (at least every 100 ms) while the link waits for
  // the server, so that the caller can show progress; false gives the wait
  // up (the caller stops).
  void setIdle(std::function<bool()> idle) { idle_ = std::move(idle); }
  // Whether the connection is encrypted (TLS started and its certificate
  // checked). A bearer token goes over nothing else.
  virtual bool encrypted() const { return false; }

 protected:
  bool idle() const { return !idle_ || idle_(); }

 private:
  std::function<bool()> idle_;
};

// The real link on libcurl: name lookup, connection, the greeting, STARTTLS
// (required unless the user allowed this server without) or implicit TLS,
// certificate checks and timeouts (MailLibCommon). `greeting` gets the
// server's first line.
std::unique_ptr<Pop3Link> openCurlLink(const ServerAddress& server, QByteArray* greeting, Result* failure);
// The link to `server`: libcurl's, or in tests a mailbox in memory.
std::unique_ptr<Pop3Link> openPop3Link(const ServerAddress& server, QByteArray* greeting, Result* failure);

class Pop3Session {
 public:
  // `host` names the server in failures.
  Pop3Session(std::unique_ptr<Pop3Link> link, const QByteArray& greeting, const QString& host);

  // CAPA. A server that does not know it is still served (UIDL is then tried
  // on demand, commands are not pipelined).
  void readCapabilities();
  bool hasCapability(const QByteArray& name) const { return capabilities_.contains(name.toUpper()); }
  // Whether CAPA's SASL line lists the mechanism.
  bool offersSasl(const QByteArray& mechanism) const { return saslMechanisms_.contains(mechanism.toUpper()); }

  // USER/PASS, or APOP with the greeting's timestamp; then LIST. The number
  // of messages (>= 0), or -1 when the connection failed and -2 when the
  // server refused the login (or the list); failure() says why.
  int login(const QByteArray& user, const QByteArray& password, bool apop);
  // The login `credentials` say: USER/PASS or APOP with the ID and password
  // in CP932, as the account file holds them; or AUTH with the bearer token
  // (Mechanism::Bearer): OAUTHBEARER when CAPA lists it, else XOAUTH2, only
  // over an encrypted connection (TokenNeedsTls, nothing sent, otherwise).
  // A refused token is TokenRefused with the server's status as the detail;
  // the session stays open for another try. The token is never quoted in
  // failure().
  int login(const Credentials& credentials);

  int count() const { return int(sizes_.size()); }
  // The size of message n from LIST, -1 when there is no such message. Only
  // a claim of the server's: nothing is allocated by it.
  qint64 size(int n) const;

  // The unique IDs of all messages (index n - 1 for message n; empty where
  // the server gave none or one that is not an ID). False when the server
  // has no UIDL; the session goes on.
  bool uniqueIds(QList<QByteArray>* uids);

  // The mail check's commands, RETR, TOP (the header alone: "TOP n 0") and
  // DELE in any mix: queued, sent with
  // the next flush() (or next()), and answered in order. A server without
  // PIPELINING is given one command at a time by the caller (see
  // pipelines()). A refused DELE is counted and shows at quit().
  enum class Command { Retr, Top, Dele };
  struct Answer {
    Command command = Command::Retr;
    int number = 0;
    bool ok = false;
    QByteArray status;      // the server's line, for a refusal
    bool tooLarge = false;  // RETR: the message passed the limit and was read past, not kept
  };
  bool pipelines() const { return hasCapability("PIPELINING"); }
  void queue(Command command, int n);
  bool flush();
  // Commands queued or sent whose answers have not been read.
  int awaiting() const { return int(awaiting_.size()); }
  // The answer to the oldest command awaiting one; for RETR the message (for
  // TOP its header), dot-stuffing undone, into `message`. False when the connection is lost.
  bool next(Answer* answer, QByteArray* message);
  // Bytes that arrived from the server so far.
  qint64 received() const { return received_; }

  // QUIT: the deletions take effect. False when they may not have, or when
  // one was refused; `answered` tells whether QUIT itself got +OK.
  bool quit(bool* answered = nullptr);

  bool alive() const { return alive_; }
  // Why the last step failed: the connection lost (then alive() is false) or
  // a refusal the session survives. Ok while nothing has failed.
  const Result& failure() const { return failure_; }

 private:
  bool sendCommand(const QByteArray& line);
  bool drainAwaiting();
  bool receiveMore();
  bool readLine(QByteArray* line);
  bool readStatus(QByteArray* line, bool* ok);
  bool readMultiline(QByteArray* data, qint64 limit, bool* tooLarge);
  void consumed(qsizetype upTo);
  void lose(Result why);
  void refuse(Code what, const QByteArray& reply);
  // A line of the server's as a failure quotes it: at most `max`
  // characters, the secrets of a bearer login taken out first.
  QString quoted(const QByteArray& line, qsizetype max) const;
  int loginBearer(const QByteArray& user, const QByteArray& token);
  enum class AuthReply { Ok, Err, More };
  bool readAuthReply(QByteArray* line, AuthReply* kind);
  int readList();

  std::unique_ptr<Pop3Link> link_;
  QByteArray greeting_;
  QString host_;
  // The token and the base64 it was sent in, once a bearer login sent
  // them: a server may echo them in any later reply.
  QList<QByteArray> secrets_;
  QByteArray in_;
  qsizetype pos_ = 0;
  qsizetype scanned_ = 0;  // readLine: bytes after pos_ known to hold no line break
  QByteArray queued_;      // commands not sent yet
  struct Awaited {
    Command command;
    int number;
  };
  std::deque<Awaited> awaiting_;
  int refusedDeletes_ = 0;
  QByteArray lastRefusal_;
  QSet<QByteArray> capabilities_;
  bool capaKnown_ = false;
  bool saslListed_ = false;  // CAPA had a SASL line
  QSet<QByteArray> saslMechanisms_;
  QList<qint64> sizes_;  // index n - 1; -1 for a number LIST left out
  bool alive_ = true;
  bool quitDone_ = false;
  Result failure_;
  // Time spent waiting for the server, and what came meanwhile.
  QElapsedTimer clock_;
  qint64 waitedMs_ = 0;
  qint64 windowBytes_ = 0;
  qint64 received_ = 0;
};

// The APOP digest: MD5 of the greeting's timestamp and the password, in hex.
// Empty when the greeting carries no timestamp of the right shape.
QByteArray apopDigest(const QByteArray& greeting, const QByteArray& password);

}  // namespace maillib
