#pragma once
// A POP3 server in memory behind the link the session talks over: a mailbox
// that commits deletions only at QUIT, with switches for the faults real
// servers and networks produce.
#include "platform/TestHooks.h"
#include "reception/maillib/Pop3Session.h"

#include <QCryptographicHash>
#include <QHash>
#include <QList>
#include <QRandomGenerator>
#include <QThread>
#include <optional>
#include <QSet>
#include <memory>

struct FakeMailbox {
  struct Message {
    QByteArray uid;
    QByteArray data;  // CR LF lines
  };
  QList<Message> messages;
  QByteArray greeting = "+OK fake POP3 ready <4711.1700000000@fake.example>";
  QByteArray user = "tomo";
  QByteArray password = "secret";
  bool capa = true;
  bool uidl = true;
  bool pipelining = true;
  QSet<int> refuseRetr;   // RETR n answered -ERR
  QSet<int> refuseDele;   // DELE n answered -ERR
  int breakInRetr = 0;    // the connection breaks halfway through RETR n
  bool breakAtQuit = false;  // the connection breaks when QUIT arrives: nothing committed
  bool garbageList = false;  // LIST answered with something that is not POP3
  bool refuseList = false;   // LIST answered -ERR
  bool refuseQuit = false;   // QUIT answered -ERR: nothing committed
  QHash<int, qint64> listedSize;  // what LIST claims for message n, when not its size
  qsizetype endlessLine = 0;  // LIST answered with this many bytes and no line break
  int chunk = 4096;       // bytes handed over per receive
  quint32 pieceSeed = 0;  // when set: pieces of 1 to `chunk` bytes, sizes drawn from this seed
  int delayMs = 0;        // a slow server: each receive waits this long

  // Logins with a bearer token (SASL, RFC 5034).
  bool tls = true;                 // the link counts as encrypted
  QList<QByteArray> saslListed;    // CAPA's SASL line; none when empty
  QList<QByteArray> saslTaken{"XOAUTH2", "OAUTHBEARER"};  // what AUTH takes, listed or not
  QByteArray oauthUser = "tomo@fake.example";
  QSet<QByteArray> tokens;         // the live tokens of oauthUser
  bool errorStep = true;           // a refused token first gets a challenge with JSON (RFC 7628)
  QByteArray errorJson = R"({"status":"invalid_token","schemes":"bearer","scope":"mail"})";
  QByteArray authRefusal = "-ERR [AUTH] Authentication failed.";
  int maxCommandLine = 255;        // octets with CR LF (RFC 2449); a longer command is refused

  // What happened.
  QList<QByteArray> commands;  // every command line, in order
  int connections = 0;
  int commits = 0;
  int pipelined = 0;  // commands that arrived while earlier answers were still unread
  struct BearerLogin {
    QByteArray mechanism, user, token;
    bool tls = false;
  };
  QList<BearerLogin> bearerLogins;  // every initial response, decoded
  QList<QByteArray> errorAnswers;   // what the client answered each error step with
  int longCommands = 0;             // command lines past maxCommandLine

  void add(const QByteArray& uid, const QByteArray& data) { messages.append({uid, data}); }

  // The mail check opens its links here until the returned guard ends.
  struct Installed {
    ~Installed() { testhooks::pop3LinkFactory = nullptr; }
  };
  static std::unique_ptr<Installed> install(const std::shared_ptr<FakeMailbox>& box);
};

class FakeLink : public maillib::Pop3Link {
 public:
  explicit FakeLink(std::shared_ptr<FakeMailbox> box) : box_(std::move(box)) { ++box_->connections; }

  bool encrypted() const override { return box_->tls; }

  bool send(const QByteArray& bytes, maillib::Result* failure) override {
    if (broken_) {
      *failure = maillib::failed(maillib::Code::ConnectionBroken);
      return false;
    }
    partial_ += bytes;
    qsizetype nl;
    while ((nl = partial_.indexOf("\r\n")) >= 0) {
      const QByteArray line = partial_.left(nl);
      partial_.remove(0, nl + 2);
      if (!out_.isEmpty()) ++box_->pipelined;
      handle(line);
      if (broken_) break;
    }
    return true;
  }

  bool receive(QByteArray& buffer, maillib::Result* failure) override {
    if (out_.isEmpty()) {
      // Waiting for an answer that a server in memory will never send
      // would wait for ever: it counts as the server not answering.
      *failure = maillib::failed(broken_ ? maillib::Code::ConnectionBroken : maillib::Code::TimedOut);
      return false;
    }
    if (box_->delayMs > 0) QThread::msleep(box_->delayMs);
    if (box_->pieceSeed && !rng_) rng_.emplace(box_->pieceSeed);
    const int piece = rng_ ? int(rng_->bounded(1, box_->chunk + 1)) : box_->chunk;
    const qsizetype n = std::min<qsizetype>(piece, out_.size());
    buffer += out_.left(n);
    out_.remove(0, n);
    return true;
  }

 private:
  void reply(const QByteArray& s) { out_ += s + "\r\n"; }

  static QByteArray stuffed(const QByteArray& data) {
    QByteArray out;
    for (qsizetype start = 0; start < data.size();) {
      const qsizetype nl = data.indexOf('\n', start);
      const qsizetype end = nl < 0 ? data.size() : nl + 1;
      if (data[start] == '.') out += '.';
      out += data.mid(start, end - start);
      start = end;
    }
    if (!out.endsWith("\r\n")) out += "\r\n";
    return out;
  }

  int number(const QByteArray& arg) const {
    bool ok = false;
    const int n = arg.toInt(&ok);
    return ok && n >= 1 && n <= box_->messages.size() && !deleted_.contains(n) ? n : 0;
  }

  // An initial response (base64) of `mechanism`: the login, the error
  // step, or a refusal.
  void authenticate(const QByteArray& mechanism, const QByteArray& base64) {
    FakeMailbox& b = *box_;
    const QByteArray raw = QByteArray::fromBase64(base64);
    FakeMailbox::BearerLogin login{mechanism, {}, {}, b.tls};
    QList<QByteArray> fields = raw.split('\x01');
    if (mechanism == "OAUTHBEARER") {
      // "n,a=USER," then the key=value fields.
      for (const QByteArray& part : fields.value(0).split(','))
        if (part.startsWith("a=")) login.user = part.mid(2).replace("=2C", ",").replace("=3D", "=");
      fields.removeFirst();
    }
    for (const QByteArray& f : fields) {
      if (f.startsWith("user=") && mechanism == "XOAUTH2") login.user = f.mid(5);
      if (f.startsWith("auth=Bearer ")) login.token = f.mid(12);
    }
    b.bearerLogins.append(login);
    if (login.user == b.oauthUser && b.tokens.contains(login.token)) {
      authed_ = true;
      return reply("+OK Logged in.");
    }
    if (!b.errorStep) return reply(b.authRefusal);
    auth_ = Auth::ErrorAnswer;
    reply("+ " + b.errorJson.toBase64());
  }

  void handle(const QByteArray& line) {
    if (auth_ != Auth::None) {
      // A line of an AUTH exchange, not a command.
      const Auth was = std::exchange(auth_, Auth::None);
      if (line == "*") return reply("-ERR Authentication cancelled.");
      if (was == Auth::Response) return authenticate(mechanism_, line);
      box_->errorAnswers.append(line);
      return reply(box_->authRefusal);
    }
    if (line.size() + 2 > box_->maxCommandLine) {
      ++box_->longCommands;
      box_->commands.append(line);
      return reply("-ERR Line too long.");
    }
    box_->commands.append(line);
    const qsizetype sp = line.indexOf(' ');
    const QByteArray cmd = (sp < 0 ? line : line.left(sp)).toUpper();
    const QByteArray arg = sp < 0 ? QByteArray() : line.mid(sp + 1);
    FakeMailbox& b = *box_;
    if (cmd == "CAPA") {
      if (!b.capa) return reply("-ERR unknown command");
      reply("+OK\r\nUSER\r\nTOP" + QByteArray(b.uidl ? "\r\nUIDL" : "") + (b.pipelining ? "\r\nPIPELINING" : "") +
            (b.saslListed.isEmpty() ? QByteArray() : "\r\nSASL " + b.saslListed.join(' ')) + "\r\n.");
    } else if (cmd == "AUTH" && !authed_) {
      const QList<QByteArray> words = arg.split(' ');
      const QByteArray mechanism = words[0].toUpper();
      if (!b.saslTaken.contains(mechanism)) return reply("-ERR Unsupported authentication mechanism.");
      if (words.size() > 1) return authenticate(mechanism, words[1]);
      auth_ = Auth::Response;
      mechanism_ = mechanism;
      reply("+ ");
    } else if (cmd == "USER") {
      user_ = arg;
      reply("+OK");
    } else if (cmd == "PASS") {
      authed_ = user_ == b.user && arg == b.password;
      reply(authed_ ? "+OK Logged in." : "-ERR [AUTH] Authentication failed.");
    } else if (cmd == "APOP") {
      const QByteArray stamp = b.greeting.mid(b.greeting.indexOf('<'));
      const QByteArray want = b.user + ' ' + QCryptographicHash::hash(stamp + b.password, QCryptographicHash::Md5).toHex();
      authed_ = arg == want;
      reply(authed_ ? "+OK Logged in." : "-ERR [AUTH] Authentication failed.");
    } else if (!authed_ && cmd != "QUIT") {
      reply("-ERR not logged in");
    } else if (cmd == "LIST") {
      if (b.garbageList) return reply("HELLO THERE");
      if (b.refuseList) return reply("-ERR mailbox locked");
      if (b.endlessLine > 0) {
        out_ += QByteArray(b.endlessLine, 'x');
        return;
      }
      QByteArray r = "+OK";
      for (int i = 1; i <= b.messages.size(); ++i)
        if (!deleted_.contains(i))
          r += "\r\n" + QByteArray::number(i) + ' ' + QByteArray::number(b.listedSize.value(i, b.messages[i - 1].data.size()));
      reply(r + "\r\n.");
    } else if (cmd == "UIDL") {
      if (!b.uidl) return reply("-ERR unknown command");
      QByteArray r = "+OK";
      for (int i = 1; i <= b.messages.size(); ++i)
        if (!deleted_.contains(i)) r += "\r\n" + QByteArray::number(i) + ' ' + b.messages[i - 1].uid;
      reply(r + "\r\n.");
    } else if (cmd == "RETR") {
      const int n = number(arg);
      if (!n || b.refuseRetr.contains(n)) return reply("-ERR no such message");
      const QByteArray body = stuffed(b.messages[n - 1].data);
      if (b.breakInRetr == n) {
        out_ += "+OK\r\n" + body.left(body.size() / 2);
        broken_ = true;
        return;
      }
      out_ += "+OK message follows\r\n" + body + ".\r\n";
    } else if (cmd == "DELE") {
      const int n = number(arg);
      if (!n || b.refuseDele.contains(n)) return reply("-ERR cannot delete");
      deleted_.insert(n);
      reply("+OK Marked to be deleted.");
    } else if (cmd == "QUIT") {
      if (b.breakAtQuit) {
        broken_ = true;
        return;
      }
      if (b.refuseQuit) return reply("-ERR cannot commit");
      QList<FakeMailbox::Message> kept;
      for (int i = 1; i <= b.messages.size(); ++i)
        if (!deleted_.contains(i)) kept.append(b.messages[i - 1]);
      b.messages = kept;
      ++b.commits;
      reply("+OK Logging out.");
    } else {
      reply("-ERR unknown command");
    }
  }

  std::shared_ptr<FakeMailbox> box_;
  QByteArray partial_;
  QByteArray out_;
  QByteArray user_;
  bool authed_ = false;
  enum class Auth { None, Response, ErrorAnswer };
  Auth auth_ = Auth::None;
  QByteArray mechanism_;
  bool broken_ = false;
  QSet<int> deleted_;
  std::optional<QRandomGenerator> rng_;
};

inline std::unique_ptr<FakeMailbox::Installed> FakeMailbox::install(const std::shared_ptr<FakeMailbox>& box) {
  testhooks::pop3LinkFactory = [box](const maillib::ServerAddress&, QByteArray* greeting, maillib::Result*) {
    *greeting = box->greeting;
    return std::make_unique<FakeLink>(box);
  };
  return std::make_unique<Installed>();
}
