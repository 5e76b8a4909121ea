#pragma once
// The scripted, misbehaving SMTP server of the fault tests
// (tests/support/smtppeer.py): plain SMTP on 127.0.0.1, one fault played on
// every mail to a recipient whose local part starts with "slow"; one whose
// local part starts with "refused" is refused.
#include <QProcess>
#include <QString>
#include <QStringList>

class SmtpPeer {
 public:
  // `fault` is one of smtppeer.py's FAULTS; a stall lasts `stall` seconds,
  // then the peer closes the connection.
  explicit SmtpPeer(const QString& fault, double stall = 3600);
  ~SmtpPeer();
  bool ok() const { return port_ > 0; }
  QString error() const { return error_; }
  QString server() const { return QStringLiteral("127.0.0.1:%1").arg(port_); }

  struct Mail {
    QString from;
    QStringList rcpt;
    QString data;
  };
  // The mails whose final dot arrived, answered or not.
  QList<Mail> mails();
  QStringList commands();
  int sessions();  // connections taken so far

 private:
  QByteArray request(const QByteArray& line);
  QProcess proc_;
  int port_ = 0;
  QString error_;
};
