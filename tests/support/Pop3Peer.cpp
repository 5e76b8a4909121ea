#include "Pop3Peer.h"

#include "MailServers.h"
#include "platform/Paths.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

Pop3Peer::Pop3Peer(const QString& fault, double trickle) {
  proc_.start(QStringLiteral("/usr/bin/python3"),
              {QStringLiteral(TOMOSHIBI_SOURCE_DIR "/tests/support/pop3peer.py"), QStringLiteral("--fault"), fault,
               QStringLiteral("--trickle"), QString::number(trickle)});
  if (!proc_.waitForStarted(10000)) {
    error_ = QStringLiteral("pop3peer.py did not start");
    return;
  }
  while (!proc_.canReadLine())
    if (!proc_.waitForReadyRead(30000)) {
      error_ = QString::fromUtf8(proc_.readAllStandardError());
      return;
    }
  const QJsonObject o = QJsonDocument::fromJson(proc_.readLine()).object();
  port_ = o.value(QStringLiteral("port")).toInt();
  ca_ = o.value(QStringLiteral("ca")).toString();
}

Pop3Peer::~Pop3Peer() {
  if (proc_.state() == QProcess::NotRunning) return;
  proc_.write("quit\n");
  proc_.closeWriteChannel();
  if (!proc_.waitForFinished(5000)) {
    proc_.kill();
    proc_.waitForFinished(5000);
  }
}

QJsonObject Pop3Peer::request(const QByteArray& line) {
  proc_.write(line + '\n');
  while (!proc_.canReadLine())
    if (!proc_.waitForReadyRead(30000)) return {};
  return QJsonDocument::fromJson(proc_.readLine()).object();
}

void Pop3Peer::add(const QString& uid, const QString& subject, int size) {
  request(QStringLiteral("add %1 %2 %3").arg(uid, subject).arg(size).toUtf8());
}

void Pop3Peer::setFault(const QString& fault) { request("fault " + fault.toUtf8()); }

Pop3Peer::State Pop3Peer::state() {
  const QJsonObject o = request("state");
  State s;
  for (const QJsonValue& v : o.value(QStringLiteral("uids")).toArray()) s.uids << v.toString();
  for (const QJsonValue& v : o.value(QStringLiteral("subjects")).toArray()) s.subjects << v.toString();
  for (const QJsonValue& v : o.value(QStringLiteral("commands")).toArray()) s.commands << v.toString();
  s.sessions = o.value(QStringLiteral("sessions")).toInt();
  s.commits = o.value(QStringLiteral("commits")).toInt();
  return s;
}

void Pop3Peer::setUp(const QString& home) const {
  writeServerSettings(home, QStringLiteral("127.0.0.1"), server(), QStringLiteral("tomo@localhost"), 0);
  writeAccount(home, QStringLiteral("tomo"), QStringLiteral("secret"));
  const QString target = paths::resolveIn(home, QStringLiteral("★MAilData/trusted-ca.pem"));
  QFile::remove(target);
  QFile::copy(ca_, target);
}
