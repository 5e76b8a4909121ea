#pragma once
// One POP3 session: the conversation from login to QUIT over one server
// connection. The connection is never opened again behind the caller's back
// (message numbers would shift and deletions already made would be
// committed or lost); once it breaks, every later step fails with the reason.
#include "MailLibCommon.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>
#include <functional>
#include <memory>

namespace maillib {

// The byte stream to a POP3 server, already connected and secured (STARTTLS
// or implicit TLS) by whoever opened it.
class Pop3Link {
 public:
  virtual ~Pop3Link() = default;
  // Sends all of `bytes`; false, with a sentence in `error`, when the
  // connection broke or stalled.
  virtual bool send(const QByteArray& bytes, QString* error) = 0;
  // Appends at least one byte that arrived to `buffer`; false when the
  // connection broke, was closed or stalled.
  virtual bool receive(QByteArray& buffer, QString* error) = 0;
};

// The real link on libcurl: name lookup, connection, the greeting, STARTTLS
// (required unless the user allowed this server without) or implicit TLS,
// certificate checks and timeouts (MailLibCommon). `greeting` gets the
// server's first line.
std::unique_ptr<Pop3Link> openCurlLink(const ServerAddress& server, QByteArray* greeting, QString* error);

// Tests put a scripted server here; MailLibPop3Connect then opens its links
// through it instead of libcurl.
inline std::function<std::unique_ptr<Pop3Link>(const ServerAddress&, QByteArray* greeting, QString* error)>
    g_pop3LinkFactory;

class Pop3Session {
 public:
  // `host` names the server in error texts.
  Pop3Session(std::unique_ptr<Pop3Link> link, const QByteArray& greeting, const QString& host);

  // CAPA. A server that does not know it is still served (UIDL is then tried
  // on demand, commands are not pipelined).
  void readCapabilities();
  bool hasCapability(const QByteArray& name) const { return capabilities_.contains(name.toUpper()); }

  // USER/PASS, or APOP with the greeting's timestamp; then LIST. The number
  // of messages (>= 0), or -1 when the connection failed and -2 when the
  // server refused the login.
  int login(const QByteArray& user, const QByteArray& password, bool apop);

  int count() const { return int(sizes_.size()); }
  // The size of message n from LIST, -1 when there is no such message.
  qint64 size(int n) const;

  // The unique IDs of all messages (index n - 1 for message n). False when
  // the server has no UIDL; the session goes on.
  bool uniqueIds(QList<QByteArray>* uids);

  // The whole message n, dot-stuffing undone. False when the server refused
  // it or the connection broke. With a server that pipelines, RETR of n + 1
  // is sent as soon as n has arrived, so the server works on the next
  // message while the caller stores this one.
  bool retrieve(int n, QByteArray* message);

  // DELE n. With a server that pipelines, the command is sent without
  // waiting and its answer read later; a refusal then shows at quit().
  bool remove(int n);

  // QUIT: the deletions take effect. False when they may not have.
  bool quit();

  bool alive() const { return alive_; }
  QString error() const { return error_; }

 private:
  bool sendCommand(const QByteArray& line);
  bool flushQueued();
  bool readLine(QByteArray* line);
  bool readStatus(QByteArray* line, bool* ok);
  bool readMultiline(QByteArray* data);
  bool collectPendingReplies();
  bool drainPrefetch();
  void lose(const QString& why);
  void refuse(const QString& what, const QByteArray& reply);

  std::unique_ptr<Pop3Link> link_;
  QByteArray greeting_;
  QString host_;
  QByteArray in_;
  qsizetype pos_ = 0;
  QByteArray queued_;    // pipelined commands not sent yet
  int pendingReplies_ = 0;
  int refusedDeletes_ = 0;
  int prefetched_ = 0;   // RETR sent ahead, its answer not read yet
  int earlyNumber_ = 0;  // a message read ahead because another command had to go first
  QByteArray early_;
  QByteArray lastRefusal_;
  QSet<QByteArray> capabilities_;
  bool capaKnown_ = false;
  QList<qint64> sizes_;  // index n - 1; -1 for a number LIST left out
  bool alive_ = true;
  bool quitDone_ = false;
  QString error_;
};

// The APOP digest: MD5 of the greeting's timestamp and the password, in hex.
// Empty when the greeting carries no timestamp of the right shape.
QByteArray apopDigest(const QByteArray& greeting, const QByteArray& password);

}  // namespace maillib
