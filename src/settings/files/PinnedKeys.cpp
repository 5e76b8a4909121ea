#include "PinnedKeys.h"

#include "platform/Durable.h"
#include "platform/Paths.h"
#include "platform/Text.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringList>

namespace pins {
namespace {

const QString kKeyPrefix = QStringLiteral("sha256//");
const QString kAnyName = QStringLiteral("any-name");
// More than a pin file ever holds: the rest of a larger file is not read.
constexpr qint64 kMaxFile = 1024 * 1024;

struct Line {
  QByteArray raw;  // as the file has it: a line of another shape is written back byte for byte
  QString server;  // "host:port" as it is looked up; empty: not a pin line
  Pin pin;
};

// "host:port" for looking up: the host in lower case, an IPv6 address in
// brackets, the port a plain number.
QString serverKey(const QString& host, int port) { return ServerCertificate::serverName(host.toLower(), port); }

// The server part of a line, or empty when it is not "host:port".
QString parseServer(const QString& s) {
  static const QRegularExpression name(QStringLiteral("^[^\\s:\\[\\]/#]+$"));
  static const QRegularExpression v6(QStringLiteral("^[0-9A-Fa-f:.]+$"));
  QString host;
  QString port;
  if (s.startsWith(u'[')) {
    const qsizetype close = s.indexOf(QStringLiteral("]:"));
    if (close < 0) return QString();
    host = s.mid(1, close - 1);
    port = s.mid(close + 2);
    if (!v6.match(host).hasMatch() || !host.contains(u':')) return QString();
  } else {
    const qsizetype colon = s.lastIndexOf(u':');
    if (colon <= 0) return QString();
    host = s.left(colon);
    port = s.mid(colon + 1);
    if (!name.match(host).hasMatch()) return QString();
  }
  static const QRegularExpression digits(QStringLiteral("^[0-9]{1,5}$"));
  if (!digits.match(port).hasMatch()) return QString();
  const int p = port.toInt();
  if (p < 1 || p > 65535) return QString();
  return serverKey(host, p);
}

// "sha256//" and the base64 of 32 bytes, written as base64 writes it.
bool isKey(const QString& s) {
  if (!s.startsWith(kKeyPrefix)) return false;
  const QByteArray b64 = s.mid(kKeyPrefix.size()).toLatin1();
  const auto decoded = QByteArray::fromBase64Encoding(b64, QByteArray::AbortOnBase64DecodingErrors);
  return decoded && decoded.decoded.size() == 32 && decoded.decoded.toBase64() == b64;
}

Line parseLine(const QByteArray& raw) {
  Line l{raw, QString(), {}};
  const QString t = text::fromCp932(raw).trimmed();
  if (t.isEmpty() || t.startsWith(u'#')) return l;
  static const QRegularExpression space(QStringLiteral("[ \\t]+"));
  const QStringList w = t.split(space);
  if (w.size() < 2 || w.size() > 3 || (w.size() == 3 && w[2] != kAnyName) || !isKey(w[1])) return l;
  l.server = parseServer(w[0]);
  l.pin = {w[1], w.size() == 3};
  return l;
}

QList<Line> readLines() {
  QList<Line> lines;
  QFile f(filePath());
  if (!f.open(QIODevice::ReadOnly)) return lines;
  // Split before decoding (CP932 has no line break byte inside a
  // character), so that a line that is not CP932 is kept as it is.
  QByteArray all = f.read(kMaxFile);
  all.replace("\r\n", "\n");
  for (const QByteArray& raw : all.split('\n')) lines << parseLine(raw);
  while (!lines.isEmpty() && lines.last().raw.trimmed().isEmpty()) lines.removeLast();
  return lines;
}

bool writeLines(const QList<Line>& lines, QString* error) {
  QByteArray content;
  for (const Line& l : lines) content += l.raw + "\r\n";
  // Owner-only wherever the program folder lies.
  return durable::replaceFile(filePath(), content, durable::kPrivateFile, error);
}

}  // namespace

QString filePath() { return paths::resolve(kPinnedKeysFile); }

std::optional<Pin> find(const QString& host, int port) {
  const QString key = serverKey(host, port);
  std::optional<Pin> found;
  // A later line for the same server is the later word.
  for (const Line& l : readLines())
    if (l.server == key) found = l.pin;
  return found;
}

bool trust(const ServerCertificate& certificate, QString* error) {
  const QString key = serverKey(certificate.host, certificate.port);
  if (certificate.isNull() || parseServer(key) != key) {
    // A pin that would not be read back would ask again at every connection.
    if (error) *error = QStringLiteral("サーバー名「%1」は記録できない形です").arg(key);
    return false;
  }
  QList<Line> lines = readLines();
  lines.removeIf([&](const Line& l) { return l.server == key; });
  QString raw = key + u' ' + certificate.pin();
  if (!certificate.nameMatches) raw += u' ' + kAnyName;
  lines << Line{text::toCp932(raw), key, {certificate.pin(), !certificate.nameMatches}};
  return writeLines(lines, error);
}

bool forget(const QString& host, int port, QString* error) {
  const QString key = serverKey(host, port);
  QList<Line> lines = readLines();
  if (lines.removeIf([&](const Line& l) { return l.server == key; }) == 0) return true;
  return writeLines(lines, error);
}

}  // namespace pins
