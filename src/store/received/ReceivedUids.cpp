#include "ReceivedUids.h"

#include "platform/Durable.h"
#include "platform/HeaderScan.h"
#include "platform/Paths.h"

#include <QCryptographicHash>
#include <QFile>
#include <QSet>
#include <QUrl>
#include <algorithm>

namespace received {

// RFC 1939: an ID is 1 to 70 characters from 0x21 to 0x7E. "-" stands for
// none in the files, so it is never taken as an ID (the session drops it too).
bool plausibleUid(const QByteArray& uid) {
  if (uid.isEmpty() || uid.size() > 70 || uid == "-") return false;
  for (char c : uid)
    if (c < 0x21 || c > 0x7E) return false;
  return true;
}

bool plausibleDigest(const QByteArray& d) {
  if (d.size() != 32) return false;
  for (char c : d)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

QByteArray mailDigest(const QByteArray& header, qint64 listedSize) {
  QCryptographicHash h(QCryptographicHash::Sha256);
  for (const char* name : {"Message-ID", "Date", "From"}) {
    h.addData(headerscan::fieldValue(header, name));
    h.addData(QByteArrayView("\n", 1));
  }
  h.addData(QByteArray::number(listedSize));
  return h.result().toHex().left(32);
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
  read(f.readAll());
  return true;
}

void ReceivedUidList::read(const QByteArray& file) {
  mine_.clear();
  others_.clear();
  for (const QByteArray& raw : file.split('\n')) {
    const QByteArray line = raw.trimmed();
    if (line.isEmpty() || line.startsWith('#')) continue;
    const QList<QByteArray> fields = line.split('\t');
    if (fields.size() < 2 || fields[0].isEmpty()) continue;
    if (fields[0] != account_) {
      others_.append(line);
      continue;
    }
    // "account TAB uid TAB digest"; "-" for no ID; lists written before the
    // digest existed hold only the ID.
    MailIdentity id{fields[1] == "-" ? QByteArray() : fields[1], fields.value(2)};
    if (!id.uid.isEmpty() && !plausibleUid(id.uid)) continue;
    if (!id.digest.isEmpty() && !plausibleDigest(id.digest)) continue;
    if (id.uid.isEmpty() && id.digest.isEmpty()) continue;
    mine_.append({id});
  }
}

void ReceivedUidList::add(const MailIdentity& id) {
  if ((!id.uid.isEmpty() && !plausibleUid(id.uid)) || !plausibleDigest(id.digest)) return;
  mine_.append({id});
}

bool ReceivedUidList::claim(const MailIdentity& id) {
  for (Entry& e : mine_) {
    if (e.claimed || e.id.uid != id.uid) continue;
    // An entry of an older list has no digest: its ID alone decides.
    if (!e.id.digest.isEmpty() && e.id.digest != id.digest) continue;
    e.claimed = true;
    return true;
  }
  return false;
}

void ReceivedUidList::forget(const MailIdentity& id) {
  for (qsizetype i = 0; i < mine_.size(); ++i) {
    const MailIdentity& e = mine_[i].id;
    if (e.uid == id.uid && (e.digest.isEmpty() || e.digest == id.digest)) {
      mine_.removeAt(i);
      return;
    }
  }
}

void ReceivedUidList::keepOnly(const QList<QByteArray>& listed) {
  const QSet<QByteArray> keep(listed.cbegin(), listed.cend());
  mine_.removeIf([&](const Entry& e) { return !e.id.uid.isEmpty() && !keep.contains(e.id.uid); });
}

void ReceivedUidList::dropUnclaimedWithoutUid() {
  mine_.removeIf([](const Entry& e) { return e.id.uid.isEmpty() && !e.claimed; });
}

bool ReceivedUidList::contains(const QByteArray& uid) const {
  return std::any_of(mine_.cbegin(), mine_.cend(), [&](const Entry& e) { return e.id.uid == uid; });
}

QByteArray ReceivedUidList::text() const {
  QByteArray out = "# tomoshibi: mails stored whose deletion is not confirmed (account TAB UIDL TAB digest)\n";
  for (const QByteArray& l : others_) out += l + '\n';
  for (const Entry& e : mine_)
    out += account_ + '\t' + (e.id.uid.isEmpty() ? QByteArray("-") : e.id.uid) + '\t' + e.id.digest + '\n';
  return out;
}

bool ReceivedUidList::save(QString* error) const { return durable::replaceFile(path_, text(), 0600, error); }

}  // namespace received
