#include "LeftOnServer.h"

#include "platform/Durable.h"
#include "platform/Paths.h"
#include "platform/TestHooks.h"

#include <QFile>
#include <QUrl>

namespace received {
namespace {

// Digits only, no sign, no more than a mail's size can be.
bool readSize(const QByteArray& text, qint64* size) {
  if (text.isEmpty() || text.size() > 15) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  *size = text.toLongLong();
  return true;
}

}  // namespace

LeftLedger parseLeftLedger(const QByteArray& bytes) {
  LeftLedger out;
  for (const QByteArray& raw : bytes.split('\n')) {
    QByteArray line = raw;
    if (line.endsWith('\r')) line.chop(1);
    if (line.isEmpty() || line.startsWith('#')) continue;
    const QList<QByteArray> f = line.split('\t');
    LeftEntry e;
    bool ok = f.size() == 6 && !f[0].isEmpty();
    if (ok) {
      e.account = QUrl::fromPercentEncoding(f[0]);
      e.id.uid = f[1] == "-" ? QByteArray() : f[1];
      e.id.digest = f[2];
      e.stored = QDate::fromString(QString::fromLatin1(f[4]), Qt::ISODate);
      ok = (f[1] == "-" || plausibleUid(f[1])) && plausibleDigest(f[2]) && readSize(f[3], &e.size) &&
           e.stored.isValid() && f[4].size() == 10 && (f[5] == "keep" || f[5] == "delete") &&
           QUrl::toPercentEncoding(e.account) == f[0];
      e.deletedHere = f[5] == "delete";
    }
    if (ok)
      out.entries.append(e);
    else
      ++out.skipped;
  }
  return out;
}

QByteArray leftLedgerText(const QList<LeftEntry>& entries) {
  QByteArray out = "# tomoshibi: mails stored here and left on the server (account TAB UIDL TAB digest TAB size "
                   "TAB day stored TAB keep or delete)\n";
  for (const LeftEntry& e : entries) {
    out += QUrl::toPercentEncoding(e.account) + '\t' + (e.id.uid.isEmpty() ? QByteArray("-") : e.id.uid) + '\t' +
           e.id.digest + '\t' + QByteArray::number(e.size) + '\t' + e.stored.toString(Qt::ISODate).toLatin1() + '\t' +
           (e.deletedHere ? "delete" : "keep") + '\n';
  }
  return out;
}

QString leftOnServerPath() { return paths::resolve(QStringLiteral("★MAilData/left-on-server.txt")); }

bool loadLeftLedger(LeftLedger* ledger, QString* error) {
  *ledger = LeftLedger();
  QFile f(leftOnServerPath());
  if (!f.exists()) return true;
  if (!f.open(QIODevice::ReadOnly)) {
    if (error) *error = f.errorString();
    return false;
  }
  *ledger = parseLeftLedger(f.readAll());
  return true;
}

bool saveLeftLedger(const QList<LeftEntry>& entries, QString* error) {
  return durable::replaceFile(leftOnServerPath(), leftLedgerText(entries), 0600, error);
}

bool sameMail(const LeftEntry& e, const QByteArray& header) { return mailDigest(header, e.size) == e.id.digest; }

QDate leftLedgerToday() {
#ifdef TOMOSHIBI_TEST_HOOKS
  if (const QDate d = testhooks::today(); d.isValid()) return d;
#endif
  return QDate::currentDate();
}

}  // namespace received
