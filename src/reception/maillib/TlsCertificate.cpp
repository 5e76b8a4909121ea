// The certificate fetch: a socket of its own (not libcurl, which would go on
// to log in), OpenSSL with verification off, and every wait bounded.
#include "TlsCertificate.h"

#include "Pop3Session.h"
#include "SmtpLink.h"
#include "platform/Handles.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QSysInfo>
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <algorithm>

namespace tls {
namespace {

using maillib::Code;
using maillib::Protocol;
using maillib::Result;
using SslCtx = handles::Owned<SSL_CTX, SSL_CTX_free>;
using Ssl = handles::Owned<SSL, SSL_free>;
using Bio = handles::Owned<BIO, BIO_free>;
using Cert = handles::Owned<X509, X509_free>;
using AddrInfo = handles::Owned<addrinfo, freeaddrinfo>;

// A line of the plain part longer than this is no greeting or answer.
constexpr qsizetype kMaxLine = 4096;
// Lines of one SMTP answer (EHLO lists the extensions).
constexpr int kMaxReplyLines = 100;

// The name given in EHLO, as the SMTP link gives it: this machine's name
// when it is a plain host name.
QByteArray ehloName() {
  const QByteArray host = QSysInfo::machineHostName().toLatin1();
  static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9]([A-Za-z0-9.-]*[A-Za-z0-9])?$"));
  return plain.match(QString::fromLatin1(host)).hasMatch() ? host : QByteArrayLiteral("localhost");
}

QString opensslError() {
  const unsigned long e = ERR_get_error();
  ERR_clear_error();
  if (e == 0) return QString();
  char text[256];
  ERR_error_string_n(e, text, sizeof text);
  return QString::fromUtf8(text);
}

class Fetch {
 public:
  Fetch(const maillib::ServerAddress& server, const std::function<bool()>& idle)
      : server_(server),
        idle_(idle),
        stallMs_(server.protocol == Protocol::Pop3 ? maillib::pop3Limits().stallMs
                                                   : int(maillib::smtpLimits().replySeconds * 1000)),
        // However the server trickles, the whole fetch ends within this.
        deadline_(maillib::kConnectTimeout * 1000 + 3LL * stallMs_) {}

  std::optional<ServerCertificate> run(Result* failure);

 private:
  bool connectSocket();
  bool wait(short events);
  bool sendPlain(const QByteArray& bytes);
  bool readLine(QByteArray* line);
  bool readSmtpReply(int* code, QByteArray* text);
  bool startTls();
  bool handshake();
  void fail(Code code, const QString& cause = QString(), const QByteArray& reply = QByteArray()) {
    if (!failure_.ok()) return;
    failure_ = maillib::failed(code, server_.host);
    failure_.port = server_.port;
    failure_.cause = cause;
    failure_.reply = QString::fromUtf8(reply.left(512)).trimmed();
  }

  const maillib::ServerAddress& server_;
  const std::function<bool()>& idle_;
  int stallMs_;
  QDeadlineTimer deadline_;
  handles::Fd fd_;
  QByteArray in_;  // plain bytes read and not yet taken as a line
  SslCtx ctx_;
  Ssl ssl_;
  Result failure_;
};

bool Fetch::connectSocket() {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const QByteArray host = server_.host.toUtf8();
  const QByteArray port = QByteArray::number(server_.port);
  if (::getaddrinfo(host.constData(), port.constData(), &hints, &found) != 0 || !found) {
    fail(Code::HostNotFound);
    return false;
  }
  const AddrInfo addresses(found);
  bool timedOut = false;
  for (const addrinfo* a = addresses.get(); a; a = a->ai_next) {
    handles::Fd s(::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol));
    if (s.get() < 0) continue;
    if (::connect(s.get(), a->ai_addr, a->ai_addrlen) != 0 && errno != EINPROGRESS) continue;
    fd_ = std::move(s);
    const QDeadlineTimer connectBy(maillib::kConnectTimeout * 1000);
    pollfd p{fd_.get(), POLLOUT, 0};
    int r = 0;
    for (;;) {
      if (connectBy.hasExpired()) {
        r = 0;
        break;
      }
      r = ::poll(&p, 1, int(std::min<qint64>(100, connectBy.remainingTime())));
      if (r < 0 && errno == EINTR) continue;
      if (r != 0) break;
      if (idle_ && !idle_()) {
        fail(Code::Stopped);
        return false;
      }
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (r > 0 && ::getsockopt(fd_.get(), SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0) return true;
    timedOut = timedOut || r == 0;
    fd_.reset();
  }
  fail(timedOut ? Code::TimedOut : Code::ConnectFailed);
  return false;
}

// Waits in short slices for the socket; a stall of the library's bound, or
// the end of the whole fetch's time, ends the wait.
bool Fetch::wait(short events) {
  pollfd p{fd_.get(), events, 0};
  for (QDeadlineTimer stall(stallMs_);;) {
    if (stall.hasExpired() || deadline_.hasExpired()) {
      fail(Code::TimedOut);
      return false;
    }
    const int slice = int(std::min({qint64(100), stall.remainingTime(), deadline_.remainingTime()}));
    const int r = ::poll(&p, 1, slice);
    if (r > 0) return true;
    if (r < 0 && errno != EINTR) {
      fail(Code::ConnectionBroken);
      return false;
    }
    if (idle_ && !idle_()) {
      fail(Code::Stopped);
      return false;
    }
  }
}

bool Fetch::sendPlain(const QByteArray& bytes) {
  qsizetype off = 0;
  while (off < bytes.size()) {
    const ssize_t n = ::send(fd_.get(), bytes.constData() + off, size_t(bytes.size() - off), MSG_NOSIGNAL);
    if (n > 0) {
      off += n;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
      if (!wait(POLLOUT)) return false;
    } else {
      fail(Code::ConnectionBroken);
      return false;
    }
  }
  return true;
}

bool Fetch::readLine(QByteArray* line) {
  for (;;) {
    const qsizetype eol = in_.indexOf('\n');
    if (eol >= 0) {
      *line = in_.left(eol + 1);
      in_.remove(0, eol + 1);
      return true;
    }
    if (in_.size() > kMaxLine) {
      fail(Code::TlsFailed, QString(), in_.left(80));
      return false;
    }
    char chunk[1024];
    const ssize_t n = ::recv(fd_.get(), chunk, sizeof chunk, 0);
    if (n > 0) {
      in_.append(chunk, qsizetype(n));
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
      if (!wait(POLLIN)) return false;
    } else {
      fail(Code::ConnectionBroken);
      return false;
    }
  }
}

// One SMTP answer, all its lines: its code and its text.
bool Fetch::readSmtpReply(int* code, QByteArray* text) {
  text->clear();
  for (int lines = 0; lines < kMaxReplyLines; ++lines) {
    QByteArray line;
    if (!readLine(&line)) return false;
    text->append(line);
    bool ok = false;
    *code = line.left(3).toInt(&ok);
    if (!ok || line.size() < 4) {
      fail(Code::TlsFailed, QString(), *text);
      return false;
    }
    if (line.at(3) != '-') return true;
  }
  fail(Code::TlsFailed, QString(), text->left(200));
  return false;
}

// The protocol's way into TLS on the plain connection.
bool Fetch::startTls() {
  if (server_.implicitTls) return true;
  if (server_.protocol == Protocol::Pop3) {
    QByteArray line;
    if (!readLine(&line)) return false;
    if (!line.startsWith("+OK")) {
      fail(Code::TlsFailed, QString(), line);
      return false;
    }
    if (!sendPlain("STLS\r\n") || !readLine(&line)) return false;
    if (!line.startsWith("+OK")) {
      fail(Code::TlsFailed, QString(), line);
      return false;
    }
  } else {
    int code = 0;
    QByteArray reply;
    if (!readSmtpReply(&code, &reply)) return false;
    if (code != 220) {
      fail(Code::TlsFailed, QString(), reply);
      return false;
    }
    if (!sendPlain("EHLO " + ehloName() + "\r\n") || !readSmtpReply(&code, &reply)) return false;
    if (code != 250) {
      fail(Code::TlsFailed, QString(), reply);
      return false;
    }
    if (!sendPlain("STARTTLS\r\n") || !readSmtpReply(&code, &reply)) return false;
    if (code != 220) {
      fail(Code::TlsFailed, QString(), reply);
      return false;
    }
  }
  // Nothing may come between the answer and the handshake: bytes here were
  // put in by someone on the way.
  if (!in_.isEmpty()) {
    fail(Code::TlsFailed, QString(), in_.left(80));
    return false;
  }
  return true;
}

bool Fetch::handshake() {
  ctx_.reset(SSL_CTX_new(TLS_client_method()));
  if (!ctx_) {
    fail(Code::NoMemory);
    return false;
  }
  // Verification off: the certificate is what the user is to judge.
  SSL_CTX_set_verify(ctx_.get(), SSL_VERIFY_NONE, nullptr);
  ssl_.reset(SSL_new(ctx_.get()));
  if (!ssl_ || SSL_set_fd(ssl_.get(), fd_.get()) != 1) {
    fail(Code::NoMemory);
    return false;
  }
  const QByteArray host = server_.host.toUtf8();
  unsigned char ip[16];
  const bool isAddress = ::inet_pton(AF_INET, host.constData(), ip) == 1 || ::inet_pton(AF_INET6, host.constData(), ip) == 1;
  if (!isAddress) SSL_set_tlsext_host_name(ssl_.get(), host.constData());
  ERR_clear_error();
  for (;;) {
    const int r = SSL_connect(ssl_.get());
    if (r == 1) return true;
    const int e = SSL_get_error(ssl_.get(), r);
    if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) {
      if (!wait(e == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT)) return false;
      continue;
    }
    const QString why = opensslError();
    fail(e == SSL_ERROR_SYSCALL && why.isEmpty() ? Code::ConnectionBroken : Code::TlsFailed, why);
    return false;
  }
}

QByteArray der(X509* cert) {
  const int length = i2d_X509(cert, nullptr);
  if (length <= 0) return QByteArray();
  QByteArray out(length, Qt::Uninitialized);
  auto* p = reinterpret_cast<unsigned char*>(out.data());
  i2d_X509(cert, &p);
  return out;
}

QByteArray spkiDer(X509* cert) {
  X509_PUBKEY* key = X509_get_X509_PUBKEY(cert);
  const int length = key ? i2d_X509_PUBKEY(key, nullptr) : 0;
  if (length <= 0) return QByteArray();
  QByteArray out(length, Qt::Uninitialized);
  auto* p = reinterpret_cast<unsigned char*>(out.data());
  i2d_X509_PUBKEY(key, &p);
  return out;
}

QString nameText(const X509_NAME* name) {
  const Bio bio(BIO_new(BIO_s_mem()));
  if (!bio || !name) return QString();
  // RFC 2253 order, UTF-8 left as it is.
  X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio.get(), &data);
  return QString::fromUtf8(data, qsizetype(length));
}

QDateTime timeOf(const ASN1_TIME* t) {
  tm parts{};
  if (!t || ASN1_TIME_to_tm(t, &parts) != 1) return QDateTime();
  return QDateTime(QDate(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday),
                   QTime(parts.tm_hour, parts.tm_min, parts.tm_sec), Qt::UTC);
}

bool namesHost(X509* cert, const QString& host) {
  const QByteArray h = host.toUtf8();
  unsigned char ip[16];
  if (::inet_pton(AF_INET, h.constData(), ip) == 1 || ::inet_pton(AF_INET6, h.constData(), ip) == 1)
    return X509_check_ip_asc(cert, h.constData(), 0) == 1;
  return X509_check_host(cert, h.constData(), size_t(h.size()), 0, nullptr) == 1;
}

std::optional<ServerCertificate> Fetch::run(Result* failure) {
  std::optional<ServerCertificate> out;
  if (connectSocket() && startTls() && handshake()) {
    const Cert cert(SSL_get1_peer_certificate(ssl_.get()));
    if (!cert) {
      fail(Code::TlsFailed);
    } else {
      ServerCertificate c;
      c.host = server_.host;
      c.port = server_.port;
      c.subject = nameText(X509_get_subject_name(cert.get()));
      c.issuer = nameText(X509_get_issuer_name(cert.get()));
      c.notBefore = timeOf(X509_get0_notBefore(cert.get()));
      c.notAfter = timeOf(X509_get0_notAfter(cert.get()));
      c.sha256 = QCryptographicHash::hash(der(cert.get()), QCryptographicHash::Sha256);
      c.spkiSha256 = QCryptographicHash::hash(spkiDer(cert.get()), QCryptographicHash::Sha256);
      if (STACK_OF(X509)* chain = SSL_get_peer_cert_chain(ssl_.get()))
        for (int i = 0; i < sk_X509_num(chain); ++i) c.chain << der(sk_X509_value(chain, i));
      if (c.chain.isEmpty() || c.chain.first() != der(cert.get())) c.chain.prepend(der(cert.get()));
      c.nameMatches = namesHost(cert.get(), server_.host);
      out = std::move(c);
    }
    // TLS ends here: close_notify, and nothing else.
    SSL_shutdown(ssl_.get());
  }
  ERR_clear_error();
  if (failure) *failure = out ? Result{} : failure_;
  return out;
}

}  // namespace

std::optional<ServerCertificate> fetchCertificate(const maillib::ServerAddress& server, maillib::Result* failure,
                                                  const std::function<bool()>& idle) {
  maillib::ensureInitialized();
  return Fetch(server, idle).run(failure);
}

bool matchesPin(const ServerCertificate& certificate, const maillib::ServerAddress& server) {
  return server.pinnedKey.isEmpty() || certificate.pin() == server.pinnedKey;
}

}  // namespace tls
