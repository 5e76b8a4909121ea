#include "Pop3Session.h"

#include "Sasl.h"
#include "platform/Text.h"

#include <QCryptographicHash>
#include <cstring>

namespace maillib {
namespace {

// Message numbers beyond this are not taken from a listing.
constexpr int kMaxMessages = 1000000;

// Calls `f` with each line of `data` (without its line break). Each line
// owns its bytes: what is kept of it (a capability, an ID) must outlive
// `data`, and Qt hands a line that needs no change back as the same bytes.
template <class F>
void forEachLine(const QByteArray& data, F&& f) {
  qsizetype at = 0;
  while (at < data.size()) {
    qsizetype nl = data.indexOf('\n', at);
    if (nl < 0) nl = data.size();
    f(data.mid(at, nl - at));
    at = nl + 1;
  }
}

// RFC 1939: an ID is 1 to 70 characters from 0x21 to 0x7E.
bool plausibleUid(const QByteArray& uid) {
  // "-" is a valid ID, but the files that keep IDs write "-" for none: a
  // mail with that ID is known by its digest alone, as one without an ID.
  if (uid.isEmpty() || uid.size() > 70 || uid == "-") return false;
  for (char c : uid)
    if (c < 0x21 || c > 0x7E) return false;
  return true;
}

bool parseNumberPair(const QByteArray& line, int* n, QByteArray* rest) {
  const QByteArray t = line.trimmed();
  const qsizetype sp = t.indexOf(' ');
  if (sp <= 0) return false;
  bool ok = false;
  *n = t.left(sp).toInt(&ok);
  *rest = t.mid(sp + 1).trimmed();
  return ok && *n > 0;
}

}  // namespace

QByteArray apopDigest(const QByteArray& greeting, const QByteArray& password) {
  const qsizetype open = greeting.indexOf('<');
  const qsizetype close = open >= 0 ? greeting.indexOf('>', open) : -1;
  if (close < 0) return {};
  const QByteArray stamp = greeting.mid(open, close - open + 1);
  // A message ID as RFC 1939 asks, <local@domain> in printable ASCII: the
  // known attacks on APOP's MD5 need a server (or a man in the middle) that
  // may choose arbitrary bytes for the timestamp.
  const QByteArray inner = stamp.mid(1, stamp.size() - 2);
  const qsizetype at = inner.indexOf('@');
  if (at <= 0 || at == inner.size() - 1 || inner.indexOf('@', at + 1) >= 0) return {};
  for (char c : inner)
    if (c < 0x21 || c > 0x7E || c == '<') return {};
  return QCryptographicHash::hash(stamp + password, QCryptographicHash::Md5).toHex();
}

Pop3Session::Pop3Session(std::unique_ptr<Pop3Link> link, const QByteArray& greeting, const QString& host)
    : link_(std::move(link)), greeting_(greeting), host_(host) {
  clock_.start();
}

void Pop3Session::lose(Result why) {
  alive_ = false;
  if (why.host.isEmpty()) why.host = host_;
  failure_ = std::move(why);
}

void Pop3Session::refuse(Code what, const QByteArray& reply) {
  failure_ = failed(what, host_);
  failure_.reply = quoted(reply, reply.size());  // whole
}

QString Pop3Session::quoted(const QByteArray& line, qsizetype max) const {
  // Taken out before the line is cut short, so that no part of them stays.
  return sasl::cutShort(sasl::withoutSecrets(QString::fromUtf8(line.trimmed()), secrets_), max);
}

bool Pop3Session::flush() {
  if (!alive_) return false;
  if (queued_.isEmpty()) return true;
  Result why;
  const QByteArray out = std::exchange(queued_, QByteArray());
  if (!link_->send(out, &why)) {
    lose(why);
    return false;
  }
  return true;
}

void Pop3Session::queue(Command command, int n) {
  const QByteArray number = QByteArray::number(n);
  switch (command) {
    case Command::Retr: queued_ += "RETR " + number + "\r\n"; break;
    case Command::Top: queued_ += "TOP " + number + " 0\r\n"; break;
    case Command::Dele: queued_ += "DELE " + number + "\r\n"; break;
  }
  awaiting_.push_back({command, n});
}

bool Pop3Session::sendCommand(const QByteArray& line) {
  if (!drainAwaiting()) return false;
  queued_ += line + "\r\n";
  return flush();
}

bool Pop3Session::drainAwaiting() {
  while (alive_ && !awaiting_.empty()) {
    Answer a;
    if (!next(&a, nullptr)) return false;
  }
  return alive_;
}

bool Pop3Session::receiveMore() {
  // Only the time spent waiting for the server counts: a server that keeps
  // a trickle going (a byte now and then) must not hold the check for ever.
  const qint64 before = in_.size();
  const qint64 t0 = clock_.elapsed();
  Result why;
  const bool ok = link_->receive(in_, &why);
  const qint64 got = in_.size() - before;
  received_ += got;
  windowBytes_ += got;
  waitedMs_ += clock_.elapsed() - t0;
  if (!ok) {
    lose(why);
    return false;
  }
  if (waitedMs_ >= pop3Limits().slowWindowMs) {
    if (windowBytes_ < pop3Limits().slowMinBytes) {
      Result slow = failed(Code::Pop3TooSlow, host_);
      slow.seconds = waitedMs_ / 1000;
      slow.amount = windowBytes_;
      lose(slow);
      return false;
    }
    waitedMs_ = 0;
    windowBytes_ = 0;
  }
  return true;
}

void Pop3Session::consumed(qsizetype upTo) {
  pos_ = upTo;
  scanned_ = 0;
  if (pos_ == in_.size()) {
    in_.clear();
    pos_ = 0;
  }
}

bool Pop3Session::readLine(QByteArray* line) {
  for (;;) {
    const qsizetype from = pos_ + scanned_;
    const void* nl = std::memchr(in_.constData() + from, '\n', size_t(in_.size() - from));
    if (nl) {
      const qsizetype end = static_cast<const char*>(nl) - in_.constData() + 1;
      *line = in_.mid(pos_, end - pos_);
      consumed(end);
      return true;
    }
    scanned_ = in_.size() - pos_;
    if (scanned_ > pop3Limits().maxLine) {
      Result longLine = failed(Code::Pop3LineTooLong, host_);
      longLine.amount = scanned_;
      lose(longLine);
      return false;
    }
    if (pos_ > 0) {
      in_.remove(0, pos_);
      pos_ = 0;
    }
    if (!receiveMore()) return false;
  }
}

bool Pop3Session::readStatus(QByteArray* line, bool* ok) {
  if (!readLine(line)) return false;
  if (line->startsWith("+OK")) {
    *ok = true;
    return true;
  }
  if (line->startsWith("-ERR")) {
    *ok = false;
    return true;
  }
  // Out of step with the server: nothing it says can be trusted any more.
  lose(failed(Code::Pop3NotUnderstood, host_, quoted(*line, 200)));
  return false;
}

bool Pop3Session::readMultiline(QByteArray* data, qint64 limit, bool* tooLarge) {
  // Lines are copied in runs: only a line that starts with a dot (stuffed,
  // or the end) stops a run. What passes the limit is read past, not kept.
  *tooLarge = false;
  bool lineStart = true;
  for (;;) {
    const char* b = in_.constData();
    const qsizetype end = in_.size();
    qsizetype at = pos_;
    while (at < end) {
      if (lineStart && b[at] == '.') {
        if (at + 1 >= end) break;  // what follows the dot decides
        if (b[at + 1] == '\n' || (b[at + 1] == '\r' && at + 2 < end && b[at + 2] == '\n')) {
          consumed(at + (b[at + 1] == '\n' ? 2 : 3));
          return true;
        }
        if (b[at + 1] == '\r' && at + 2 >= end) break;
        ++at;  // the stuffed dot
      }
      const qsizetype run = at;
      lineStart = false;
      for (;;) {
        const void* nl = std::memchr(b + at, '\n', size_t(end - at));
        if (!nl) {
          at = end;
          lineStart = false;  // the piece ends inside a line
          break;
        }
        at = static_cast<const char*>(nl) - b + 1;
        lineStart = true;
        if (at == end || b[at] == '.') break;
      }
      if (data && !*tooLarge) {
        if (data->size() + (at - run) > limit) {
          *tooLarge = true;
          *data = QByteArray();
        } else {
          data->append(b + run, at - run);
        }
      }
    }
    // At most the two bytes of a dot line still undecided stay behind.
    in_.remove(0, at);
    pos_ = 0;
    scanned_ = 0;
    if (!receiveMore()) return false;
  }
}

bool Pop3Session::next(Answer* answer, QByteArray* message) {
  if (!alive_ || awaiting_.empty() || !flush()) return false;
  const Awaited w = awaiting_.front();
  awaiting_.pop_front();
  *answer = Answer{};
  answer->command = w.command;
  answer->number = w.number;
  if (!readStatus(&answer->status, &answer->ok)) return false;
  if (w.command != Command::Dele && answer->ok) {
    QByteArray scratch;
    QByteArray* into = message ? message : &scratch;
    into->clear();
    // The listed size is a hint for the first allocation, never more.
    const qint64 hint = size(w.number);
    if (hint > 0 && message && w.command == Command::Retr) into->reserve(qsizetype(std::min<qint64>(hint + 64, 64LL * 1024 * 1024)));
    if (!readMultiline(message ? into : nullptr, pop3Limits().maxMail, &answer->tooLarge)) return false;
  }
  if (w.command == Command::Dele && !answer->ok) {
    ++refusedDeletes_;
    lastRefusal_ = answer->status.trimmed();
  }
  return true;
}

void Pop3Session::readCapabilities() {
  QByteArray status, data;
  bool ok = false, tooLarge = false;
  if (!sendCommand("CAPA") || !readStatus(&status, &ok)) return;
  if (!ok) return;  // an old server: works without
  if (!readMultiline(&data, pop3Limits().maxListing, &tooLarge)) return;
  forEachLine(data, [&](const QByteArray& l) {
    const QList<QByteArray> words = l.simplified().toUpper().split(' ');
    const QByteArray& word = words[0];
    if (!word.isEmpty() && word.size() <= 64) capabilities_.insert(word);
    if (word == "SASL") {
      saslListed_ = true;
      for (qsizetype i = 1; i < words.size() && i <= 64; ++i)
        if (words[i].size() <= 64) saslMechanisms_.insert(words[i]);
    }
  });
  capaKnown_ = true;
}

int Pop3Session::login(const QByteArray& user, const QByteArray& password, bool apop) {
  if (!alive_) return -1;
  for (char c : user + password) {
    if (c == '\r' || c == '\n' || c == '\0') {
      failure_ = failed(Code::Pop3BadLoginCharacter, host_);
      return -2;
    }
  }
  QByteArray status;
  bool ok = false;
  if (apop) {
    const QByteArray digest = apopDigest(greeting_, password);
    if (digest.isEmpty()) {
      failure_ = failed(Code::Pop3NoApop, host_);
      return -2;
    }
    if (!sendCommand("APOP " + user + ' ' + digest) || !readStatus(&status, &ok)) return -1;
    if (!ok) {
      refuse(Code::LoginDenied, status);
      return -2;
    }
  } else {
    if (!sendCommand("USER " + user) || !readStatus(&status, &ok)) return -1;
    if (!ok) {
      refuse(Code::LoginDenied, status);
      return -2;
    }
    if (!sendCommand("PASS " + password) || !readStatus(&status, &ok)) return -1;
    if (!ok) {
      refuse(Code::LoginDenied, status);
      return -2;
    }
  }
  return readList();
}

int Pop3Session::login(const Credentials& c) {
  // A login tried again after a refusal starts clean.
  if (alive_) failure_ = Result{};
  if (c.mechanism == Mechanism::Bearer) return loginBearer(c.user.toUtf8(), c.bearerToken.toUtf8());
  return login(text::toCp932(c.user), text::toCp932(c.password), c.mechanism == Mechanism::Apop);
}

bool Pop3Session::readAuthReply(QByteArray* line, AuthReply* kind) {
  if (!readLine(line)) return false;
  if (line->startsWith("+OK")) {
    *kind = AuthReply::Ok;
  } else if (line->startsWith("-ERR")) {
    *kind = AuthReply::Err;
  } else if (line->startsWith('+') && (line->size() == 1 || (*line)[1] == ' ' || (*line)[1] == '\r' || (*line)[1] == '\n')) {
    *kind = AuthReply::More;  // "+ " and a challenge in base64
  } else {
    lose(failed(Code::Pop3NotUnderstood, host_, quoted(*line, 200)));
    return false;
  }
  return true;
}

int Pop3Session::loginBearer(const QByteArray& user, const QByteArray& token) {
  using sasl::BearerMechanism;
  if (!alive_) return -1;
  // Whatever the user allowed for a password, a token never crosses a
  // connection in clear: it is worth more than one mailbox.
  if (!link_->encrypted()) {
    failure_ = failed(Code::TokenNeedsTls, host_);
    return -2;
  }
  if (sasl::hasControlCharacter(user) || sasl::hasControlCharacter(token)) {
    failure_ = failed(Code::Pop3BadLoginCharacter, host_);
    return -2;
  }
  // OAUTHBEARER is the standard one; XOAUTH2 where only it is listed, and
  // where CAPA lists no mechanisms at all (the providers that omit the SASL
  // line all take XOAUTH2). A server whose list has neither is not sent
  // the token.
  BearerMechanism m = BearerMechanism::XOAuth2;
  const bool listed = offersSasl("OAUTHBEARER") || offersSasl("XOAUTH2");
  if (offersSasl("OAUTHBEARER")) {
    m = BearerMechanism::OAuthBearer;
  } else if (!listed && saslListed_) {
    failure_ = failed(Code::BearerNotOffered, host_);
    return -2;
  }
  const QByteArray response = sasl::initialResponse(m, user, token).toBase64();
  secrets_ = {token, response};
  const QByteArray command = "AUTH " + sasl::mechanismName(m);
  QByteArray line;
  AuthReply kind = AuthReply::Err;
  bool tokenSent = false;
  bool challenged = false;
  QString status;
  // A command line holds 255 octets with its CR LF (RFC 2449, RFC 5034): a
  // longer initial response goes on a line of its own after the "+".
  if (command.size() + 1 + response.size() + 2 <= 255) {
    if (!sendCommand(command + ' ' + response)) return -1;
    tokenSent = true;
  } else {
    if (!sendCommand(command) || !readAuthReply(&line, &kind)) return -1;
    if (kind == AuthReply::More) {
      if (!sendCommand(response)) return -1;
      tokenSent = true;
    }
  }
  if (tokenSent) {
    if (!readAuthReply(&line, &kind)) return -1;
    if (kind == AuthReply::More) {
      // The error step (RFC 7628): the server says why in JSON and waits
      // for the client's answer before it refuses.
      challenged = true;
      status = sasl::errorStatus(line.mid(1));
      if (!sendCommand(sasl::errorStepAnswer(m).toBase64()) || !readAuthReply(&line, &kind)) return -1;
      if (kind == AuthReply::More) {
        // Another challenge: the exchange is cancelled.
        if (!sendCommand("*") || !readAuthReply(&line, &kind)) return -1;
        if (kind == AuthReply::More) {
          lose(failed(Code::Pop3NotUnderstood, host_, quoted(line, 200)));
          return -1;
        }
      }
    }
  }
  if (kind == AuthReply::Ok) return readList();
  const QByteArray upper = line.toUpper();
  Code why = Code::TokenRefused;
  if (upper.contains("[SYS/") || upper.contains("[IN-USE]") || upper.contains("[UNAVAILABLE]")) {
    why = Code::LoginUnavailable;  // RFC 3206, 8437: the server's trouble, not the token's
  } else if (!tokenSent || (!listed && !challenged && !upper.contains("[AUTH]"))) {
    why = Code::BearerNotOffered;  // the mechanism itself was refused
  }
  failure_ = failed(why, host_, sasl::cutShort(sasl::withoutSecrets(status, secrets_), 100));
  // Taken out before the reply is cut short, so that no part of it stays.
  failure_.reply = quoted(line, 500);
  return -2;
}

int Pop3Session::readList() {
  QByteArray status;
  bool ok = false;
  QByteArray data;
  if (!sendCommand("LIST") || !readStatus(&status, &ok)) return -1;
  if (!ok) {
    refuse(Code::Pop3ListRefused, status);
    return -2;
  }
  bool tooLarge = false;
  if (!readMultiline(&data, pop3Limits().maxListing, &tooLarge)) return -1;
  if (tooLarge) {
    lose(failed(Code::Pop3ListTooLarge, host_));
    return -1;
  }
  sizes_.clear();
  forEachLine(data, [&](const QByteArray& l) {
    int n = 0;
    QByteArray rest;
    if (!parseNumberPair(l, &n, &rest) || n > kMaxMessages) return;
    bool ok = false;
    const qint64 size = rest.split(' ').value(0).toLongLong(&ok);
    while (sizes_.size() < n) sizes_.append(-1);
    sizes_[n - 1] = ok && size >= 0 ? size : -1;
  });
  return count();
}

qint64 Pop3Session::size(int n) const { return n >= 1 && n <= sizes_.size() ? sizes_[n - 1] : -1; }

bool Pop3Session::uniqueIds(QList<QByteArray>* uids) {
  if (!alive_ || (capaKnown_ && !hasCapability("UIDL"))) return false;
  QByteArray status, data;
  bool ok = false, tooLarge = false;
  if (!sendCommand("UIDL") || !readStatus(&status, &ok) || !ok) return false;
  if (!readMultiline(&data, pop3Limits().maxListing, &tooLarge) || tooLarge) return false;
  uids->clear();
  for (int i = 0; i < count(); ++i) uids->append(QByteArray());
  forEachLine(data, [&](const QByteArray& l) {
    int n = 0;
    QByteArray uid;
    if (parseNumberPair(l, &n, &uid) && n <= count() && plausibleUid(uid)) (*uids)[n - 1] = uid;
  });
  return true;
}

bool Pop3Session::quit(bool* answered) {
  if (answered) *answered = false;
  if (!alive_ || quitDone_) return false;
  QByteArray status;
  bool ok = false;
  const bool replied = sendCommand("QUIT") && readStatus(&status, &ok);
  quitDone_ = true;
  alive_ = false;
  if (!replied) return false;  // failure_ says why; the server keeps every mail
  if (!ok) {
    refuse(Code::Pop3QuitRefused, status);
    return false;
  }
  if (answered) *answered = true;
  if (refusedDeletes_ > 0) {
    refuse(Code::Pop3DeletesRefused, lastRefusal_);
    failure_.amount = refusedDeletes_;
    return false;
  }
  return true;
}

}  // namespace maillib
