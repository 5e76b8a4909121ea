#include "MailExport.h"

#include "Originals.h"
#include "platform/HeaderScan.h"
#include "platform/Paths.h"
#include "store/RecordFile.h"
#include "store/Records.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <cstdio>
#include <ctime>

namespace reception {
namespace {

constexpr int kLength = store::MailRecord::kLength;
constexpr int kHeaderFields = store::MailRecord::kBody.offset;

// The sender of the "From " line: the address of the mail's From header,
// or the placeholder readers know when it has none usable.
QByteArray envelopeSender(const QByteArray& mail) {
  // The field with its folded lines, as written.
  const QByteArrayList lines = headerscan::fieldLines(headerscan::headerBlock(mail), "From");
  if (lines.isEmpty()) return "MAILER-DAEMON";
  const QByteArray value = lines.join();
  const qsizetype lt = value.lastIndexOf('<'), gt = value.lastIndexOf('>');
  QByteArray addr = (lt >= 0 && gt > lt) ? value.mid(lt + 1, gt - lt - 1) : value;
  addr = addr.trimmed();
  bool plain = addr.contains('@');
  for (char c : addr) plain = plain && c > ' ' && c < 127;
  return plain ? addr : QByteArray("MAILER-DAEMON");
}

// The time as the "From " line writes it ("Mon Apr  1 10:00:00 2024", UTC),
// in English whatever the locale.
QByteArray asctimeOf(qint64 secs) {
  static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::time_t t = std::time_t(secs);
  std::tm tm{};
  if (!gmtime_r(&t, &tm)) tm = std::tm{};
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s %s %2d %02d:%02d:%02d %d", days[tm.tm_wday % 7], months[tm.tm_mon % 12],
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, tm.tm_year + 1900);
  return buf;
}

QString shown(const QString& path) { return QDir::toNativeSeparators(path); }

// The export must not replace a file of the data folder (the archive
// itself, the records): those are refused by folder.
bool insideDataFolder(const QString& target) {
  const QString data = QFileInfo(QFileInfo(paths::resolve(paths::kReceivedMailFile)).absolutePath()).canonicalFilePath();
  return !data.isEmpty() && QFileInfo(QFileInfo(target).absolutePath()).canonicalFilePath() == data;
}

}  // namespace

QString noOriginalText() { return QStringLiteral("原文がありません"); }

QByteArray mboxrdEntry(const QByteArray& original, qint64 receivedSecs) {
  QByteArray out = "From " + envelopeSender(original) + ' ' + asctimeOf(receivedSecs) + '\n';
  out.reserve(out.size() + original.size() + 2);
  for (qsizetype at = 0; at < original.size();) {
    qsizetype nl = original.indexOf('\n', at);
    const qsizetype next = nl < 0 ? original.size() : nl + 1;
    qsizetype end = nl < 0 ? original.size() : nl;
    if (end > at && original[end - 1] == '\r') --end;
    const QByteArrayView line(original.constData() + at, end - at);
    qsizetype q = 0;
    while (q < line.size() && line[q] == '>') ++q;
    if (line.sliced(q).startsWith("From ")) out += '>';
    out += line;
    out += '\n';
    at = next;
  }
  return out + '\n';
}

RecordOriginal originalOfRecord(int number) {
  RecordOriginal r;
  OriginalArchive archive;
  if (!archive.load(&r.error)) return r;
  store::RecordFile records(paths::resolve(paths::kReceivedMailFile), kLength);
  QByteArray head;
  if (!records.open() || records.readPart(number, 0, kHeaderFields, head) != store::ReadResult::Ok) {
    r.error = QStringLiteral("受信メールのファイルを読めません（%1）。").arg(records.errorText());
    return r;
  }
  const std::optional<OriginalEntry> e = archive.forRecord(number, head);
  if (!e) {
    r.missing = true;
    return r;
  }
  r.received = e->received;
  r.bytes = archive.read(*e, &r.error);
  return r;
}

bool writeExportFile(const QString& target, const QByteArray& bytes, QString* error) {
  if (insideDataFolder(target)) {
    if (error) *error = QStringLiteral("データフォルダの中には書き出せません。");
    return false;
  }
  QSaveFile f(target);
  if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.commit()) {
    if (error) *error = f.errorString();
    return false;
  }
  return true;
}

QString ExportSummary::text(const QString& target) const {
  QString t = QStringLiteral("%1 通のメールを「%2」に書き出しました。").arg(exported).arg(shown(target));
  if (withoutOriginal > 0)
    t += QStringLiteral("\n%1 通は%2（原文を残す前に受信したメール）。").arg(withoutOriginal).arg(noOriginalText());
  return t;
}

ExportSummary exportMbox(const QString& target) {
  ExportSummary s;
  if (insideDataFolder(target)) {
    s.error = QStringLiteral("データフォルダの中には書き出せません。");
    return s;
  }
  OriginalArchive archive;
  if (!archive.load(&s.error)) return s;
  const QString recordPath = paths::resolve(paths::kReceivedMailFile);
  store::RecordFile records(recordPath, kLength);
  const bool anyMail = QFileInfo::exists(recordPath);
  if (anyMail && !records.open()) {
    s.error = QStringLiteral("受信メールのファイルを読めません（%1）。").arg(records.errorText());
    return s;
  }
  QSaveFile out(target);
  if (!out.open(QIODevice::WriteOnly)) {
    s.error = QStringLiteral("「%1」に書き込めません（%2）。").arg(shown(target), out.errorString());
    return s;
  }
  QByteArray head;
  for (int n = 1; anyMail; ++n) {
    const store::ReadResult rr = records.readPart(n, 0, kHeaderFields, head);
    if (rr == store::ReadResult::EndOfFile) break;
    if (rr != store::ReadResult::Ok) {
      s.error = QStringLiteral("受信メールのファイルを読めません（%1）。").arg(records.errorText());
      return s;
    }
    const std::optional<OriginalEntry> e = archive.forRecord(n, head);
    if (!e) {
      ++s.withoutOriginal;
      continue;
    }
    QString why;
    const QByteArray bytes = archive.read(*e, &why);
    if (bytes.isNull()) {
      s.error = why;
      return s;  // the file being written is dropped
    }
    const QByteArray entry = mboxrdEntry(bytes, e->received);
    if (out.write(entry) != entry.size()) {
      s.error = QStringLiteral("「%1」に書き込めません（%2）。").arg(shown(target), out.errorString());
      return s;
    }
    ++s.exported;
  }
  if (!out.commit()) {
    s.error = QStringLiteral("「%1」に書き込めません（%2）。").arg(shown(target), out.errorString());
    return s;
  }
  s.ok = true;
  return s;
}

int RunExportMbox(const QString& target) {
  const ExportSummary s = exportMbox(target);
  const QString line = (s.ok ? s.text(target) : QStringLiteral("書き出せませんでした: ") + s.error) + u'\n';
  std::fputs(line.toLocal8Bit().constData(), s.ok ? stdout : stderr);
  return s.ok ? 0 : 1;
}

}  // namespace reception
