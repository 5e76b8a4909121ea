#include "SmtpPeer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

SmtpPeer::SmtpPeer(const QString& fault, double stall) {
  proc_.start(QStringLiteral("/usr/bin/python3"),
              {QStringLiteral(TOMOSHIBI_SOURCE_DIR "/tests/support/smtppeer.py"), QStringLiteral("--fault"), fault,
               QStringLiteral("--stall"), QString::number(stall)});
  if (!proc_.waitForStarted(10000)) {
    error_ = QStringLiteral("smtppeer.py did not start");
    return;
  }
  while (!proc_.canReadLine())
    if (!proc_.waitForReadyRead(30000)) {
      error_ = QString::fromUtf8(proc_.readAllStandardError());
      return;
    }
  port_ = QJsonDocument::fromJson(proc_.readLine()).object().value(QStringLiteral("port")).toInt();
}

SmtpPeer::~SmtpPeer() {
  if (proc_.state() == QProcess::NotRunning) return;
  proc_.write("quit\n");
  proc_.closeWriteChannel();
  if (!proc_.waitForFinished(5000)) {
    proc_.kill();
    proc_.waitForFinished(5000);
  }
}

QByteArray SmtpPeer::request(const QByteArray& line) {
  proc_.write(line + '\n');
  while (!proc_.canReadLine())
    if (!proc_.waitForReadyRead(30000)) return {};
  return proc_.readLine();
}

QList<SmtpPeer::Mail> SmtpPeer::mails() {
  QList<Mail> out;
  const QJsonObject o = QJsonDocument::fromJson(request("state")).object();
  for (const QJsonValue& v : o.value(QStringLiteral("mails")).toArray()) {
    const QJsonObject m = v.toObject();
    Mail mail;
    mail.from = m.value(QStringLiteral("from")).toString();
    for (const QJsonValue& r : m.value(QStringLiteral("rcpt")).toArray()) mail.rcpt << r.toString();
    mail.data = m.value(QStringLiteral("data")).toString();
    out << mail;
  }
  return out;
}

int SmtpPeer::sessions() {
  return QJsonDocument::fromJson(request("state")).object().value(QStringLiteral("sessions")).toInt();
}

QStringList SmtpPeer::commands() {
  QStringList out;
  const QJsonObject o = QJsonDocument::fromJson(request("state")).object();
  for (const QJsonValue& v : o.value(QStringLiteral("commands")).toArray()) out << v.toString();
  return out;
}
