#include "ReceivedUids.h"

#include "MailLibCommon.h"
#include "platform/Durable.h"
#include "platform/Paths.h"

#include <QFile>
#include <QUrl>

namespace {

// RFC 1939: an ID is 1 to 70 characters from 0x21 to 0x7E.
bool plausibleUid(const QByteArray& uid) {
  if (uid.isEmpty() || uid.size() > 70) return false;
  for (char c : uid)
    if (c < 0x21 || c > 0x7E) return false;
  return true;
}

}  // namespace

QString mailboxKey(const QString& userId, const QString& pop3Server) {
  const std::optional<maillib::ServerAddress> s = maillib::parseServer(pop3Server, maillib::Protocol::Pop3, nullptr);
  return userId + u'@' + (s ? s->host.toLower() : pop3Server.trimmed().toLower());
}

QString receivedUidsPath() { return paths::resolve(QStringLiteral("★MAilData/received-uids.txt")); }

ReceivedUidList::ReceivedUidList(const QString& path, const QString& account)
    : path_(path), account_(QUrl::toPercentEncoding(account)) {}

bool ReceivedUidList::load(QString* error) {
  mine_.clear();
  others_.clear();
  QFile f(path_);
  if (!f.exists()) return true;
  if (!f.open(QIODevice::ReadOnly)) {
    if (error) *error = f.errorString();
    return false;
  }
  for (const QByteArray& raw : f.readAll().split('\n')) {
    const QByteArray line = raw.trimmed();
    if (line.isEmpty() || line.startsWith('#')) continue;
    const qsizetype tab = line.indexOf('\t');
    if (tab <= 0) continue;
    if (line.left(tab) == account_) {
      const QByteArray uid = line.mid(tab + 1);
      if (plausibleUid(uid)) mine_.insert(uid);
    } else {
      others_.append(line);
    }
  }
  return true;
}

void ReceivedUidList::add(const QByteArray& uid) {
  if (plausibleUid(uid)) mine_.insert(uid);
}

void ReceivedUidList::keepOnly(const QList<QByteArray>& listed) {
  const QSet<QByteArray> keep(listed.cbegin(), listed.cend());
  mine_.intersect(keep);
}

bool ReceivedUidList::save(QString* error) const {
  QByteArray out = "# tomoshibi: IDs of the mails already stored (account TAB UIDL)\n";
  for (const QByteArray& l : others_) out += l + '\n';
  QList<QByteArray> sorted(mine_.cbegin(), mine_.cend());
  std::sort(sorted.begin(), sorted.end());
  for (const QByteArray& uid : sorted) out += account_ + '\t' + uid + '\n';
  return durable::replaceFile(path_, out, 0600, error);
}
