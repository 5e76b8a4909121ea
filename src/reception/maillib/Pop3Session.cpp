#include "Pop3Session.h"

#include <QCryptographicHash>
#include <cstring>

namespace maillib {
namespace {

// Message numbers beyond this are not taken from a listing.
constexpr int kMaxMessages = 1000000;

// Calls `f` with each line of `data` (without its line break).
template <class F>
void forEachLine(const QByteArray& data, F&& f) {
  qsizetype at = 0;
  while (at < data.size()) {
    qsizetype nl = data.indexOf('\n', at);
    if (nl < 0) nl = data.size();
    f(QByteArray::fromRawData(data.constData() + at, nl - at));
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
  failure_.reply = QString::fromUtf8(reply.trimmed());
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
  queued_ += (command == Command::Retr ? "RETR " : "DELE ") + QByteArray::number(n) + "\r\n";
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
  lose(failed(Code::Pop3NotUnderstood, host_, QString::fromUtf8(line->trimmed().left(200))));
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
  if (w.command == Command::Retr && answer->ok) {
    QByteArray scratch;
    QByteArray* into = message ? message : &scratch;
    into->clear();
    // The listed size is a hint for the first allocation, never more.
    const qint64 hint = size(w.number);
    if (hint > 0 && message) into->reserve(qsizetype(std::min<qint64>(hint + 64, 64LL * 1024 * 1024)));
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
    const QByteArray word = l.trimmed().split(' ').value(0).toUpper();
    if (!word.isEmpty() && word.size() <= 64) capabilities_.insert(word);
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
