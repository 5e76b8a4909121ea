// The POP3 connection on libcurl. libcurl resolves, connects, reads the
// greeting, does STARTTLS (or implicit TLS) with the certificate checks and
// then hands the connection over (CONNECT_ONLY): the session speaks POP3 on
// it itself, so no command of libcurl's own (a login, a QUIT after an error,
// a silent reconnect) ever runs in the middle of a session.
#include "Pop3Session.h"

#include <cerrno>
#include <curl/curl.h>
#include <openssl/ssl.h>
#include <algorithm>
#include <poll.h>
#include <sys/socket.h>

namespace maillib {
namespace {

struct Lines {
  QList<QByteArray> lines;
};

// Called when TLS starts on the connection (implicit, or after STLS).
// TLS records arrive a few kilobytes at a time: let OpenSSL read whatever
// has arrived in one go instead of asking the socket for every record's
// header and body separately (a megabyte mail took thousands of calls).
CURLcode startTls(CURL*, void* sslCtx, void* started) {
  SSL_CTX_set_read_ahead(static_cast<SSL_CTX*>(sslCtx), 1);
  if (started) *static_cast<bool*>(started) = true;
  return CURLE_OK;
}

size_t collectHeader(char* data, size_t size, size_t n, void* user) {
  static_cast<Lines*>(user)->lines.append(QByteArray(data, qsizetype(size * n)).trimmed());
  return size * n;
}

class CurlLink : public Pop3Link {
 public:
  CurlLink(CurlEasy curl, curl_socket_t sock, const QString& host, bool tls)
      : curl_(std::move(curl)), sock_(sock), host_(host), tls_(tls) {}
  ~CurlLink() override {
    // libcurl would say QUIT on its way out and wait for the answer; the
    // session has said all it means to (a QUIT here could commit deletions
    // of a session the caller gave up on).
    if (sock_ != CURL_SOCKET_BAD) ::shutdown(sock_, SHUT_RDWR);
  }

  bool encrypted() const override { return tls_; }

  bool send(const QByteArray& bytes, Result* failure) override {
    qsizetype off = 0;
    while (off < bytes.size()) {
      size_t sent = 0;
      const CURLcode rc = curl_easy_send(curl_.get(), bytes.constData() + off, size_t(bytes.size() - off), &sent);
      if (rc == CURLE_OK) {
        off += qsizetype(sent);
        continue;
      }
      if (rc != CURLE_AGAIN) {
        *failure = curlFailure(CURLE_SEND_ERROR, host_);
        return false;
      }
      if (!wait(POLLOUT, failure)) return false;
    }
    return true;
  }

  bool receive(QByteArray& buffer, Result* failure) override {
    char chunk[64 * 1024];
    for (;;) {
      size_t got = 0;
      const CURLcode rc = curl_easy_recv(curl_.get(), chunk, sizeof chunk, &got);
      if (rc == CURLE_OK) {
        if (got == 0) {
          *failure = curlFailure(CURLE_RECV_ERROR, host_);
          return false;
        }
        buffer.append(chunk, qsizetype(got));
        return true;
      }
      if (rc != CURLE_AGAIN) {
        *failure = curlFailure(CURLE_RECV_ERROR, host_);
        return false;
      }
      if (!wait(POLLIN, failure)) return false;
    }
  }

 private:
  // Waits in short slices, so that the caller's idle hook runs while the
  // server is slow; a stall of the whole limit ends the wait.
  bool wait(short events, Result* failure) {
    constexpr int kSliceMs = 100;
    pollfd p{int(sock_), events, 0};
    for (int waited = 0;;) {
      const int stallMs = pop3Limits().stallMs;
      const int slice = std::min(kSliceMs, std::max(stallMs - waited, 0));
      const int r = ::poll(&p, 1, slice);
      if (r > 0) return true;
      if (r < 0 && errno == EINTR) continue;
      if (r == 0 && (waited += slice) < stallMs) {
        if (idle()) continue;
        *failure = failed(Code::Stopped, host_);
        return false;
      }
      *failure = curlFailure(r == 0 ? CURLE_OPERATION_TIMEDOUT : CURLE_RECV_ERROR, host_);
      return false;
    }
  }

  CurlEasy curl_;
  curl_socket_t sock_;
  QString host_;
  bool tls_;
};

}  // namespace

std::unique_ptr<Pop3Link> openCurlLink(const ServerAddress& server, QByteArray* greeting, Result* failure) {
  CurlEasy handle(curl_easy_init());
  CURL* curl = handle.get();
  if (!curl) {
    *failure = failed(Code::NoMemory, server.host);
    return nullptr;
  }
  const QByteArray url = (server.baseUrl() + u'/').toUtf8();
  Lines lines;
  curl_easy_setopt(curl, CURLOPT_URL, url.constData());
  curl_easy_setopt(curl, CURLOPT_CONNECT_ONLY, 1L);
  applyConnectionOptions(curl, server);
  // The greeting, CAPA and STLS answers must not be waited for longer than
  // a stalled transfer.
  curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, kStallTimeout);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, collectHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &lines);
  bool tlsStarted = false;
  curl_easy_setopt(curl, CURLOPT_SSL_CTX_FUNCTION, startTls);
  curl_easy_setopt(curl, CURLOPT_SSL_CTX_DATA, &tlsStarted);
  const CURLcode rc = curl_easy_perform(curl);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, nullptr);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, nullptr);
  curl_easy_setopt(curl, CURLOPT_SSL_CTX_DATA, nullptr);
  QByteArray refusal;
  for (const QByteArray& l : lines.lines)
    if (l.startsWith("-ERR")) refusal = l;
  if (rc != CURLE_OK) {
    *failure = curlFailure(rc, server.host, QString::fromUtf8(refusal), server.port);
    return nullptr;
  }
  // libcurl was told to insist on TLS; that it started (and, the connection
  // being made, succeeded) is checked all the same before the session sends
  // an ID or a password.
  if (!tlsStarted && !server.plainAllowed) {
    *failure = failed(Code::PlainRefused, server.host);
    return nullptr;
  }
  curl_socket_t sock = CURL_SOCKET_BAD;
  if (curl_easy_getinfo(curl, CURLINFO_ACTIVESOCKET, &sock) != CURLE_OK || sock == CURL_SOCKET_BAD) {
    *failure = curlFailure(CURLE_COULDNT_CONNECT, server.host);
    return nullptr;
  }
  *greeting = lines.lines.value(0);
  return std::make_unique<CurlLink>(std::move(handle), sock, server.host, tlsStarted);
}

std::unique_ptr<Pop3Link> openPop3Link(const ServerAddress& server, QByteArray* greeting, Result* failure) {
  ensureInitialized();
#ifdef TOMOSHIBI_TEST_HOOKS
  if (testhooks::pop3LinkFactory) return testhooks::pop3LinkFactory(server, greeting, failure);
#endif
  return openCurlLink(server, greeting, failure);
}

}  // namespace maillib
