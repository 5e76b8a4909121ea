#include "Pop3Session.h"

#include <QCryptographicHash>

namespace maillib {
namespace {

// Pipelined commands sent before their answers are read: small enough that
// the answers always fit in the socket buffers.
constexpr int kPipelineBatch = 64;
// A status line longer than this is not a POP3 answer.
constexpr qsizetype kMaxStatusLine = 64 * 1024;

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
    : link_(std::move(link)), greeting_(greeting), host_(host) {}

void Pop3Session::lose(const QString& why) {
  alive_ = false;
  error_ = why;
}

void Pop3Session::refuse(const QString& what, const QByteArray& reply) {
  error_ = what;
  if (!reply.trimmed().isEmpty()) error_ += u'\n' + QString::fromUtf8(reply.trimmed());
}

bool Pop3Session::flushQueued() {
  if (queued_.isEmpty()) return true;
  QString why;
  const QByteArray out = std::exchange(queued_, QByteArray());
  if (!link_->send(out, &why)) {
    lose(why);
    return false;
  }
  return true;
}

bool Pop3Session::sendCommand(const QByteArray& line) {
  if (!alive_ || !drainPrefetch()) return false;
  queued_ += line + "\r\n";
  return flushQueued() && collectPendingReplies();
}

bool Pop3Session::readLine(QByteArray* line) {
  for (;;) {
    const qsizetype nl = in_.indexOf('\n', pos_);
    if (nl >= 0) {
      *line = in_.mid(pos_, nl + 1 - pos_);
      pos_ = nl + 1;
      if (pos_ == in_.size()) {
        in_.clear();
        pos_ = 0;
      }
      return true;
    }
    if (pos_ > 0) {
      in_.remove(0, pos_);
      pos_ = 0;
    }
    QString why;
    if (!link_->receive(in_, &why)) {
      lose(why);
      return false;
    }
  }
}

bool Pop3Session::readStatus(QByteArray* line, bool* ok) {
  if (!readLine(line)) return false;
  if (line->size() > kMaxStatusLine) {
    lose(QStringLiteral("サーバー「%1」の応答を理解できません。").arg(host_));
    return false;
  }
  if (line->startsWith("+OK")) {
    *ok = true;
    return true;
  }
  if (line->startsWith("-ERR")) {
    *ok = false;
    return true;
  }
  // Out of step with the server: nothing it says can be trusted any more.
  lose(QStringLiteral("サーバー「%1」の応答を理解できません。\n%2").arg(host_, QString::fromUtf8(line->trimmed())));
  return false;
}

bool Pop3Session::readMultiline(QByteArray* data) {
  // Whole runs of lines are copied at once: only a line starting with a dot
  // (stuffed, or the end) needs a look of its own.
  for (;;) {
    const char* b = in_.constData();
    qsizetype at = pos_;
    for (;;) {
      if (at < in_.size() && b[at] == '.') {
        const qsizetype nl = in_.indexOf('\n', at);
        if (nl < 0) break;
        const qsizetype len = nl + 1 - at;
        if (len == 2 || (len == 3 && b[at + 1] == '\r')) {
          pos_ = nl + 1;
          if (pos_ == in_.size()) {
            in_.clear();
            pos_ = 0;
          }
          return true;
        }
        if (data) data->append(b + at + 1, len - 1);
        at = nl + 1;
        continue;
      }
      const qsizetype dot = in_.indexOf("\n.", at);
      if (dot >= 0) {
        if (data) data->append(b + at, dot + 1 - at);
        at = dot + 1;
        continue;
      }
      const qsizetype last = in_.lastIndexOf('\n');
      if (last >= at) {
        if (data) data->append(b + at, last + 1 - at);
        at = last + 1;
      }
      break;
    }
    in_.remove(0, at);
    pos_ = 0;
    QString why;
    if (!link_->receive(in_, &why)) {
      lose(why);
      return false;
    }
  }
}

bool Pop3Session::collectPendingReplies() {
  while (pendingReplies_ > 0) {
    QByteArray line;
    bool ok = false;
    if (!readStatus(&line, &ok)) return false;
    --pendingReplies_;
    if (!ok) {
      ++refusedDeletes_;
      lastRefusal_ = line.trimmed();
    }
  }
  return true;
}

bool Pop3Session::drainPrefetch() {
  if (prefetched_ == 0) return true;
  const int n = std::exchange(prefetched_, 0);
  QByteArray status;
  bool ok = false;
  if (!flushQueued() || !collectPendingReplies() || !readStatus(&status, &ok)) return false;
  if (!ok) return true;  // asked for again, it is refused again
  early_.clear();
  earlyNumber_ = 0;
  if (!readMultiline(&early_)) return false;
  earlyNumber_ = n;
  return true;
}

void Pop3Session::readCapabilities() {
  QByteArray status, data;
  bool ok = false;
  if (!sendCommand("CAPA") || !readStatus(&status, &ok)) return;
  if (!ok) return;  // an old server: works without
  if (!readMultiline(&data)) return;
  for (const QByteArray& l : data.split('\n')) {
    const QByteArray word = l.trimmed().split(' ').value(0).toUpper();
    if (!word.isEmpty()) capabilities_.insert(word);
  }
  capaKnown_ = true;
}

int Pop3Session::login(const QByteArray& user, const QByteArray& password, bool apop) {
  if (!alive_) return -1;
  for (char c : user + password) {
    if (c == '\r' || c == '\n' || c == '\0') {
      error_ = QStringLiteral("IDかパスワードに使えない文字（改行など）が含まれています。");
      return -2;
    }
  }
  const QString denied = QStringLiteral("サーバー「%1」にログインできません（IDかパスワードが違います）。").arg(host_);
  QByteArray status;
  bool ok = false;
  if (apop) {
    const QByteArray digest = apopDigest(greeting_, password);
    if (digest.isEmpty()) {
      error_ = QStringLiteral("サーバー「%1」はAPOPに対応していません。APOPを使わない設定にして下さい。").arg(host_);
      return -2;
    }
    if (!sendCommand("APOP " + user + ' ' + digest) || !readStatus(&status, &ok)) return -1;
    if (!ok) {
      refuse(denied, status);
      return -2;
    }
  } else {
    if (!sendCommand("USER " + user) || !readStatus(&status, &ok)) return -1;
    if (!ok) {
      refuse(denied, status);
      return -2;
    }
    if (!sendCommand("PASS " + password) || !readStatus(&status, &ok)) return -1;
    if (!ok) {
      refuse(denied, status);
      return -2;
    }
  }
  QByteArray data;
  if (!sendCommand("LIST") || !readStatus(&status, &ok)) return -1;
  if (!ok) {
    refuse(QStringLiteral("サーバー「%1」からメールの一覧を受け取れません。").arg(host_), status);
    return -2;
  }
  if (!readMultiline(&data)) return -1;
  sizes_.clear();
  for (const QByteArray& l : data.split('\n')) {
    int n = 0;
    QByteArray rest;
    if (!parseNumberPair(l, &n, &rest)) continue;
    if (n > 1000000) continue;
    while (sizes_.size() < n) sizes_.append(-1);
    sizes_[n - 1] = rest.split(' ').value(0).toLongLong();
  }
  return count();
}

qint64 Pop3Session::size(int n) const { return n >= 1 && n <= sizes_.size() ? sizes_[n - 1] : -1; }

bool Pop3Session::uniqueIds(QList<QByteArray>* uids) {
  if (!alive_ || (capaKnown_ && !hasCapability("UIDL"))) return false;
  QByteArray status, data;
  bool ok = false;
  if (!sendCommand("UIDL") || !readStatus(&status, &ok) || !ok) return false;
  if (!readMultiline(&data)) return false;
  uids->clear();
  for (int i = 0; i < count(); ++i) uids->append(QByteArray());
  for (const QByteArray& l : data.split('\n')) {
    int n = 0;
    QByteArray uid;
    if (parseNumberPair(l, &n, &uid) && n <= count()) (*uids)[n - 1] = uid;
  }
  return true;
}

bool Pop3Session::retrieve(int n, QByteArray* message) {
  if (!alive_) return false;
  if (size(n) < 0) {
    error_ = QStringLiteral("サーバー「%1」に %2 番のメールはありません。").arg(host_).arg(n);
    return false;
  }
  auto readAhead = [&] {
    if (hasCapability("PIPELINING") && n < count() && size(n + 1) >= 0) {
      queued_ += "RETR " + QByteArray::number(n + 1) + "\r\n";
      if (!flushQueued()) return false;
      prefetched_ = n + 1;
    }
    return true;
  };
  if (earlyNumber_ == n) {
    *message = std::exchange(early_, QByteArray());
    earlyNumber_ = 0;
    return readAhead();
  }
  if (prefetched_ == n) {
    // Its answer comes right after those of the commands sent before it.
    prefetched_ = 0;
    if (!flushQueued() || !collectPendingReplies()) return false;
  } else if (!sendCommand("RETR " + QByteArray::number(n))) {
    return false;
  }
  QByteArray status;
  bool ok = false;
  if (!readStatus(&status, &ok)) return false;
  if (!ok) {
    refuse(QStringLiteral("サーバー「%1」から %2 番のメールを受け取れません。").arg(host_).arg(n), status);
    return false;
  }
  message->clear();
  message->reserve(size(n) + 64);
  return readMultiline(message) && readAhead();
}

bool Pop3Session::remove(int n) {
  if (!alive_) return false;
  const QByteArray cmd = "DELE " + QByteArray::number(n);
  if (earlyNumber_ == n) {
    earlyNumber_ = 0;
    early_.clear();
  }
  if (hasCapability("PIPELINING")) {
    if (!drainPrefetch()) return false;
    queued_ += cmd + "\r\n";
    ++pendingReplies_;
    if (pendingReplies_ >= kPipelineBatch) return flushQueued() && collectPendingReplies();
    return true;
  }
  QByteArray status;
  bool ok = false;
  if (!sendCommand(cmd) || !readStatus(&status, &ok)) return false;
  if (!ok) {
    ++refusedDeletes_;
    lastRefusal_ = status.trimmed();
    refuse(QStringLiteral("サーバー「%1」が %2 番のメールの削除を拒否しました。").arg(host_).arg(n), status);
  }
  return ok;
}

bool Pop3Session::quit() {
  if (!alive_ || quitDone_) return false;
  QByteArray status;
  bool ok = false;
  const bool answered = sendCommand("QUIT") && readStatus(&status, &ok);
  quitDone_ = true;
  alive_ = false;
  if (!answered) return false;  // error_ says why; the server keeps every mail
  if (!ok) {
    refuse(QStringLiteral("サーバー「%1」が終了の手続きを拒否しました。削除は行われていません。").arg(host_), status);
    return false;
  }
  if (refusedDeletes_ > 0) {
    refuse(QStringLiteral("サーバー「%1」が %2 通のメールの削除を拒否しました。").arg(host_).arg(refusedDeletes_),
           lastRefusal_);
    return false;
  }
  return true;
}

}  // namespace maillib
