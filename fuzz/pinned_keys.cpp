// The file of trusted server keys ("★MAilData/pinned-keys.txt"), as a
// folder copied from another machine or a hand edit leaves it: looked up,
// then a key trusted and one forgotten.
//
// Checks: a pin found is a key as the file keeps it ("sha256//" and the
// base64 of 32 bytes); a trust is found again and changes no other
// server's pin; trust and forget remove only the lines of their own server
// and keep every other line byte for byte, in order; nothing but the file
// is written in the program folder.
#include "FuzzCheck.h"
#include "platform/Paths.h"
#include "settings/files/PinnedKeys.h"

#include <QCryptographicHash>
#include <QDir>
#include <QList>
#include <optional>

using namespace fuzzcheck;

namespace {

struct Server {
  QString host;
  int port = 0;
};

// The lines of the file as the reader splits them, as bytes, without the
// blank lines at its end.
QList<QByteArray> byteLines(QByteArray b) {
  b.replace("\r\n", "\n");
  QList<QByteArray> lines = b.split('\n');
  while (!lines.isEmpty() && lines.last().trimmed().isEmpty()) lines.removeLast();
  return lines;
}

// "host:port" or "[v6]:port" at the start of a line, loosely: the servers
// worth asking about. The port as a number, whatever its leading zeros.
std::optional<Server> serverOf(const QByteArray& line) {
  const QByteArray first = line.trimmed().split(' ').value(0).split('\t').value(0);
  const qsizetype colon = first.lastIndexOf(':');
  if (colon <= 0) return std::nullopt;
  QByteArray host = first.left(colon);
  if (host.startsWith('[') && host.endsWith(']')) host = host.mid(1, host.size() - 2);
  bool ok = false;
  const int port = first.mid(colon + 1).toInt(&ok);
  if (!ok || port < 1 || port > 65535 || host.isEmpty()) return std::nullopt;
  // A host of other bytes than ASCII is no server name the reader takes.
  for (char ch : host)
    if (uchar(ch) >= 0x80) return std::nullopt;
  return Server{QString::fromLatin1(host), port};
}

bool names(const QByteArray& line, const Server& s) {
  const std::optional<Server> o = serverOf(line);
  return o && o->port == s.port && o->host.compare(s.host, Qt::CaseInsensitive) == 0;
}

bool isKey(const QString& key) {
  if (!key.startsWith(u"sha256//")) return false;
  const QByteArray b64 = key.mid(8).toLatin1();
  return QByteArray::fromBase64(b64).size() == 32 && QByteArray::fromBase64(b64).toBase64() == b64;
}

QString describe(const std::optional<pins::Pin>& p) {
  return p ? p->key + (p->anyName ? QStringLiteral(" any-name") : QString()) : QStringLiteral("(none)");
}

bool same(const std::optional<pins::Pin>& a, const std::optional<pins::Pin>& b) {
  return bool(a) == bool(b) && (!a || (a->key == b->key && a->anyName == b->anyName));
}

// `after` is `before` with lines of `s` taken out (and `added` at the end
// when given): every other line kept as it was, in order.
void checkKept(const QList<QByteArray>& before, const QList<QByteArray>& after, const Server& s,
               const QByteArray& added, const char* what) {
  QList<QByteArray> expected;
  for (const QByteArray& l : before)
    if (!names(l, s)) expected << l;
  // Blank lines at the end are no lines to the reader: taking out the last
  // pin may leave some there.
  while (!expected.isEmpty() && expected.last().trimmed().isEmpty()) expected.removeLast();
  QList<QByteArray> got = after;
  if (!added.isEmpty()) {
    FUZZ_CHECK(!got.isEmpty() && got.last() == added, QStringLiteral("%1: the new pin is not the last line").arg(what));
    got.removeLast();
  }
  // Lines of the server that the reader took for none (a line of another
  // shape) stay as well: they may be left out of `expected` only.
  qsizetype e = 0;
  for (const QByteArray& l : got) {
    while (e < before.size() && before[e] != l && names(before[e], s)) ++e;
    FUZZ_CHECK(e < before.size() && before[e] == l,
               QStringLiteral("%1 changed or moved the line \"%2\"").arg(what, QString::fromLatin1(l.toPercentEncoding())));
    ++e;
  }
  for (const QByteArray& l : expected)
    FUZZ_CHECK(got.contains(l), QStringLiteral("%1 lost the line \"%2\"").arg(what, QString::fromLatin1(l.toPercentEncoding())));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray file = bytesOf(data, size);
  const QString home = scratchFolder(QStringLiteral("pinned-keys"));
  emptyFolder(home);
  paths::setProgramFolder(home);
  FUZZ_CHECK(QDir(home).mkpath(paths::kDataFolder), home);
  const QString path = pins::filePath();
  writeFile(path, file);

  const QList<QByteArray> before = byteLines(file);
  QList<Server> servers{{QStringLiteral("mail.example.jp"), 995}, {QStringLiteral("::1"), 110}};
  for (const QByteArray& l : before)
    if (const std::optional<Server> s = serverOf(l); s && servers.size() < 12) servers << *s;
  QList<std::optional<pins::Pin>> found;
  for (const Server& s : servers) {
    found << pins::find(s.host, s.port);
    if (found.last()) FUZZ_CHECK(isKey(found.last()->key), QStringLiteral("a pin of another shape: ") + found.last()->key);
  }

  // Trust a key for the first server the file names (or the usual one).
  const qsizetype t = servers.size() > 2 ? 2 : 0;
  ServerCertificate c;
  c.host = servers[t].host;
  c.port = servers[t].port;
  c.sha256 = QCryptographicHash::hash("certificate", QCryptographicHash::Sha256);
  c.spkiSha256 = QCryptographicHash::hash("key", QCryptographicHash::Sha256);
  c.nameMatches = size % 2 == 0;
  QString error;
  if (pins::trust(c, &error)) {
    const std::optional<pins::Pin> p = pins::find(c.host, c.port);
    FUZZ_CHECK(p && p->key == c.pin() && p->anyName == !c.nameMatches,
               QStringLiteral("trusted %1, found %2").arg(c.server(), describe(p)));
    for (qsizetype i = 0; i < servers.size(); ++i)
      if (!names(ServerCertificate::serverName(servers[i].host, servers[i].port).toLatin1(), servers[t]))
        FUZZ_CHECK(same(pins::find(servers[i].host, servers[i].port), found[i]),
                   QStringLiteral("trusting %1 changed the pin of %2").arg(c.server(), servers[i].host));
    const QList<QByteArray> after = byteLines(readFile(path));
    QByteArray line = (ServerCertificate::serverName(c.host.toLower(), c.port) + u' ' + c.pin()).toLatin1();
    if (!c.nameMatches) line += " any-name";
    checkKept(before, after, servers[t], line, "a trust");

    // Forget it again: the file is the other lines.
    FUZZ_CHECK(pins::forget(c.host, c.port, &error), error);
    FUZZ_CHECK(!pins::find(c.host, c.port), QStringLiteral("forgotten, yet found"));
    checkKept(after, byteLines(readFile(path)), servers[t], QByteArray(), "a forget");
  } else {
    // Refused only for a server name that would not be read back.
    FUZZ_CHECK(!error.isEmpty(), QStringLiteral("a trust failed without a reason"));
  }

  // Nothing else was written in the program folder.
  const QMap<QString, QByteArray> now = snapshot(home);
  for (auto it = now.cbegin(); it != now.cend(); ++it)
    FUZZ_CHECK(it.key() == paths::kDataFolder + u'/' || QDir(home).filePath(it.key()) == path,
               QStringLiteral("a file left: ") + it.key());
  return 0;
}
