#pragma once
// The scripted, misbehaving POP3 server of the fault tests
// (tests/support/pop3peer.py): one fault played on 127.0.0.1 with STARTTLS.
#include <QByteArray>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>

class Pop3Peer {
 public:
  // `fault` is one of pop3peer.py's FAULTS; `trickle` the seconds between
  // bytes for "trickle".
  explicit Pop3Peer(const QString& fault, double trickle = 30);
  ~Pop3Peer();
  bool ok() const { return port_ > 0; }
  QString error() const { return error_; }
  int port() const { return port_; }
  QString server() const { return QStringLiteral("127.0.0.1:%1").arg(port_); }
  QString caFile() const { return ca_; }

  // A mail under `uid` ("-": by position) with `subject` (no spaces), at
  // least `size` bytes.
  void add(const QString& uid, const QString& subject, int size = 0);
  void setFault(const QString& fault);
  struct State {
    QStringList uids, subjects, commands;
    int sessions = 0, commits = 0;
  };
  State state();

  // Makes a program folder trust the peer and reach it (pelkit.ini in
  // `home`, the account file and the authority in its data folder).
  void setUp(const QString& home) const;

 private:
  QJsonObject request(const QByteArray& line);
  QProcess proc_;
  int port_ = 0;
  QString ca_, error_;
};
