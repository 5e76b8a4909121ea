#pragma once
// A server's certificate as the program shows it before the user trusts it:
// what the mail library fetches (reception/maillib/TlsCertificate.h), what
// the trust dialog shows and what the pinned key is made of. One value from
// the connection to the dialog, so that nothing is lost on the way.
#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

struct ServerCertificate {
  QString host;  // as the server value names it
  int port = 0;
  QString subject;  // one line, RFC 2253 order ("CN=mail.example.jp,O=…")
  QString issuer;
  QDateTime notBefore;  // UTC
  QDateTime notAfter;
  QByteArray sha256;      // of the certificate (DER)
  QByteArray spkiSha256;  // of its public key (SubjectPublicKeyInfo, DER)
  QList<QByteArray> chain;  // the certificates the server sent (DER), its own first
  bool nameMatches = false;  // the certificate names `host`

  bool isNull() const { return sha256.isEmpty(); }
  // "AB:CD:…", as certificate viewers show a fingerprint.
  QString fingerprint() const { return colonHex(sha256); }
  // The public key pin: "sha256//" and the base64 of spkiSha256.
  QString pin() const { return QStringLiteral("sha256//") + QString::fromLatin1(spkiSha256.toBase64()); }
  // "host:port", an IPv6 address in brackets.
  QString server() const { return serverName(host, port); }

  static QString colonHex(const QByteArray& bytes) {
    QStringList parts;
    for (char c : bytes) parts << QString::fromLatin1(QByteArray(1, c).toHex().toUpper());
    return parts.join(u':');
  }
  static QString serverName(const QString& host, int port) {
    return (host.contains(u':') ? u'[' + host + u']' : host) + u':' + QString::number(port);
  }
};
