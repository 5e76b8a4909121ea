#pragma once
// A man in the middle that hides a local server's offer of STARTTLS
// (tests/support/starttls_strip.py) and keeps every byte the client sent,
// for tests that a password never crosses the wire in clear.
#include <QByteArray>
#include <QProcess>
#include <QTemporaryDir>

class StartTlsStripper {
 public:
  enum class Protocol { Pop3, Smtp };
  StartTlsStripper(Protocol protocol, int serverPort);
  ~StartTlsStripper();

  // The port to connect to instead of the server's; 0 when it did not start.
  int port() const { return port_; }
  // Everything the client has sent so far.
  QByteArray captured() const;
  // Whether `secret` is among the captured bytes as it is, or inside one of
  // the base64 words that SMTP AUTH sends.
  bool sawInClear(const QByteArray& secret) const;

 private:
  QTemporaryDir dir_;
  QProcess proc_;
  int port_ = 0;
};
