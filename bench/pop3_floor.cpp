// The floor of a mail check: the least a client can do to take every mail
// of a POP3 mailbox safely, against which the program's check is measured.
// STARTTLS with the certificate checked, USER/PASS, then RETR and DELE
// pipelined with 64 commands in flight (sent in batches), every mail
// appended as it came to one file, one fsync, and QUIT. No parsing of the
// mails, no records, no journal.
//
// Usage: pop3_floor HOST PORT USER PASSWORD CA_FILE OUT_FILE
// Exits 0 when every mail was stored and the server took the QUIT.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr int kWindow = 64;

struct Conn {
  int fd = -1;
  SSL* ssl = nullptr;
  std::string in;  // received, not yet taken
  size_t pos = 0;

  bool fill() {
    char buf[256 * 1024];
    const int n = ssl ? SSL_read(ssl, buf, sizeof buf) : int(::read(fd, buf, sizeof buf));
    if (n <= 0) return false;
    if (pos > 0 && pos == in.size()) {
      in.clear();
      pos = 0;
    }
    in.append(buf, size_t(n));
    return true;
  }
  // One line without its CR LF.
  bool line(std::string* out) {
    for (;;) {
      const size_t end = in.find("\r\n", pos);
      if (end != std::string::npos) {
        out->assign(in, pos, end - pos);
        pos = end + 2;
        return true;
      }
      if (!fill()) return false;
    }
  }
  bool send(const std::string& s) {
    size_t off = 0;
    while (off < s.size()) {
      const int n = ssl ? SSL_write(ssl, s.data() + off, int(s.size() - off))
                        : int(::write(fd, s.data() + off, s.size() - off));
      if (n <= 0) return false;
      off += size_t(n);
    }
    return true;
  }
  bool ok(std::string* status = nullptr) {
    std::string l;
    if (!line(&l)) return false;
    if (status) *status = l;
    return l.rfind("+OK", 0) == 0;
  }
};

int fail(const char* what) {
  std::fprintf(stderr, "pop3_floor: %s\n", what);
  ERR_print_errors_fp(stderr);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 7) return fail("usage: pop3_floor HOST PORT USER PASSWORD CA_FILE OUT_FILE");
  const char* host = argv[1];
  Conn c;
  c.fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(uint16_t(std::atoi(argv[2])));
  if (inet_pton(AF_INET, host, &a.sin_addr) != 1) return fail("HOST must be an IPv4 address");
  if (::connect(c.fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return fail("connect");
  const int one = 1;
  setsockopt(c.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  if (!c.ok() || !c.send("STLS\r\n") || !c.ok()) return fail("STLS");

  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  if (!ctx || SSL_CTX_load_verify_locations(ctx, argv[5], nullptr) != 1) return fail("CA file");
  SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
  c.ssl = SSL_new(ctx);
  X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(c.ssl), host);
  SSL_set_fd(c.ssl, c.fd);
  if (!c.in.empty() && c.pos != c.in.size()) return fail("bytes after the STLS answer");
  c.in.clear();
  c.pos = 0;
  if (SSL_connect(c.ssl) != 1) return fail("TLS handshake");

  std::string status;
  if (!c.send(std::string("USER ") + argv[3] + "\r\n") || !c.ok()) return fail("USER");
  if (!c.send(std::string("PASS ") + argv[4] + "\r\n") || !c.ok()) return fail("PASS");
  if (!c.send("STAT\r\n") || !c.ok(&status)) return fail("STAT");
  const int count = std::atoi(status.c_str() + 4);

  const int out = ::open(argv[6], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (out < 0) return fail("OUT_FILE");
  // Commands written but not yet sent go out together once half of those
  // in flight are answered: one TLS record for many.
  std::string batch;
  int batched = 0, inFlight = 0, nextRetr = 1, stored = 0, deleted = 0;
  std::string order;  // one letter per command sent or batched, R or D
  size_t answered = 0;
  std::string mail, l;
  while (stored < count || deleted < count) {
    if (inFlight <= kWindow / 2) {
      for (; inFlight + batched < kWindow && nextRetr <= count; ++nextRetr, ++batched) {
        batch += "RETR " + std::to_string(nextRetr) + "\r\n";
        order += 'R';
      }
      if (batched > 0) {
        if (!c.send(batch)) return fail("send");
        batch.clear();
        inFlight += batched;
        batched = 0;
      }
    }
    if (inFlight == 0) return fail("nothing awaited");
    const char what = order[answered++];
    --inFlight;
    if (!c.ok(&status)) return fail(what == 'R' ? "RETR" : "DELE");
    if (what == 'D') {
      ++deleted;
      continue;
    }
    mail.clear();
    for (;;) {
      if (!c.line(&l)) return fail("mail cut short");
      if (l == ".") break;
      if (!l.empty() && l[0] == '.') l.erase(0, 1);
      mail += l;
      mail += "\r\n";
    }
    if (::write(out, mail.data(), mail.size()) != ssize_t(mail.size())) return fail("write");
    ++stored;
    // Deleted only at QUIT, after the fsync below: safe to ask for now.
    batch += "DELE " + std::to_string(stored) + "\r\n";
    order += 'D';
    ++batched;
  }
  if (::fsync(out) != 0 || ::close(out) != 0) return fail("fsync");
  if (!c.send("QUIT\r\n") || !c.ok()) return fail("QUIT");
  SSL_shutdown(c.ssl);
  ::close(c.fd);
  return 0;
}
