#include "StartTlsStripper.h"

#include <QFile>

StartTlsStripper::StartTlsStripper(Protocol protocol, int serverPort) {
  proc_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  proc_.start(QStringLiteral("/usr/bin/python3"),
              {QStringLiteral(TOMOSHIBI_SOURCE_DIR "/tests/support/starttls_strip.py"),
               protocol == Protocol::Pop3 ? QStringLiteral("pop3") : QStringLiteral("smtp"),
               QString::number(serverPort), dir_.filePath(QStringLiteral("capture"))});
  if (!proc_.waitForStarted(10000)) return;
  while (!proc_.canReadLine())
    if (!proc_.waitForReadyRead(30000)) return;
  port_ = proc_.readLine().trimmed().toInt();
}

StartTlsStripper::~StartTlsStripper() {
  if (proc_.state() == QProcess::NotRunning) return;
  proc_.closeWriteChannel();
  if (!proc_.waitForFinished(10000)) {
    proc_.kill();
    proc_.waitForFinished(5000);
  }
}

QByteArray StartTlsStripper::captured() const {
  QFile f(dir_.filePath(QStringLiteral("capture")));
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool StartTlsStripper::sawInClear(const QByteArray& secret) const {
  const QByteArray all = captured();
  if (all.contains(secret)) return true;
  for (const QByteArray& word : all.simplified().split(' ')) {
    const auto decoded = QByteArray::fromBase64Encoding(word, QByteArray::AbortOnBase64DecodingErrors);
    if (decoded && decoded.decoded.contains(secret)) return true;
  }
  return false;
}
