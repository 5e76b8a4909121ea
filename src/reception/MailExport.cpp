#include "MailExport.h"

#include "ExportWords.h"
#include "platform/HeaderScan.h"
#include "platform/Paths.h"
#include "store/RecordFile.h"
#include "store/Records.h"
#include "store/received/Originals.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

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

// The file a save to `target` ends in, every link followed as the save
// follows them (a link at the name is written through, even to a name not
// there yet, and a link's text is read from the folder it lies in). Null
// when the links go round.
QString finalTarget(const QString& target, ExportFault* fault) {
  QString path = QDir::isAbsolutePath(target) ? target : QDir::currentPath() + u'/' + target;
  for (int links = 0; links < 40; ++links) {
    const qsizetype slash = path.lastIndexOf(u'/');
    const QString name = path.mid(slash + 1);
    char real[PATH_MAX];
    const QByteArray folder = QFile::encodeName(slash == 0 ? QStringLiteral("/") : path.left(slash));
    // A folder that is not there: the save fails, not this.
    if (name.isEmpty() || !::realpath(folder.constData(), real)) return path;
    const QString realFolder = QFile::decodeName(real);
    path = (realFolder == u"/" ? QString() : realFolder) + u'/' + name;
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char to[PATH_MAX];
    const ssize_t n = ::readlink(QFile::encodeName(path).constData(), to, sizeof to - 1);
    if (n <= 0) return path;
    const QString link = QFile::decodeName(QByteArray(to, n));
    path = link.startsWith(u'/') ? link : path.left(path.lastIndexOf(u'/')) + u'/' + link;
  }
  if (fault) *fault = {ExportFault::Code::LinksUnresolved, target};
  return QString();
}

// The data folder, or a file or folder in it (the records, the archive,
// anything of theirs): an export must never replace one. Compared by the
// file system's identity, so that no other name for it passes.
bool insideDataFolder(const QString& finalPath) {
  struct stat data;
  if (::stat(QFile::encodeName(paths::resolve(paths::kDataFolder)).constData(), &data) != 0) return false;
  auto isData = [&](const QString& p) {
    struct stat st;
    return ::stat(QFile::encodeName(p).constData(), &st) == 0 && st.st_dev == data.st_dev && st.st_ino == data.st_ino;
  };
  if (isData(finalPath)) return true;
  for (QString folder = finalPath.left(finalPath.lastIndexOf(u'/')); !folder.isEmpty();
       folder = folder.left(folder.lastIndexOf(u'/')))
    if (isData(folder)) return true;
  return false;
}

// The path to save to, or null with the reason.
QString saveTarget(const QString& target, ExportFault* fault) {
  const QString path = finalTarget(target, fault);
  if (path.isNull()) return path;
  if (insideDataFolder(path)) {
    if (fault) *fault = {ExportFault::Code::InsideDataFolder};
    return QString();
  }
  return path;
}

}  // namespace

QByteArray mboxrdEntry(const QByteArray& original, qint64 receivedSecs) {
  QByteArray out = "From " + envelopeSender(original) + ' ' + asctimeOf(receivedSecs) + ' ' + kExportMark + '\n';
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

bool writeExportFile(const QString& target, const QByteArray& bytes, ExportFault* fault) {
  const QString path = saveTarget(target, fault);
  if (path.isNull()) return false;
  QSaveFile f(path);
  if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.commit()) {
    if (fault) *fault = {ExportFault::Code::Unsaved, path, f.errorString()};
    return false;
  }
  return true;
}

ExportSummary exportMbox(const QString& target) { return exportMbox(target, received::receivedFiles()); }

ExportSummary exportMbox(const QString& target, const received::MailFiles& files) {
  ExportSummary s;
  const QString path = saveTarget(target, &s.fault);
  if (path.isNull()) return s;
  auto failed = [&](ExportFault fault) {
    s.fault = std::move(fault);
    return s;
  };
  received::OriginalArchive archive(files);
  if (received::Fault f; !archive.load(&f)) return failed({ExportFault::Code::Received, {}, {}, f});
  const QString recordPath = files.records;
  store::RecordFile records(recordPath, kLength);
  const bool anyMail = QFileInfo::exists(recordPath);
  auto unreadable = [&] {
    return failed({ExportFault::Code::Received, {}, {},
                   received::recordsFault(records.failure(), received::Code::RecordsUnreadable)});
  };
  auto unwritable = [&](const QSaveFile& out) {
    return failed({ExportFault::Code::Unwritable, target, out.errorString()});
  };
  if (anyMail && !records.open()) return unreadable();
  QSaveFile out(path);
  if (!out.open(QIODevice::WriteOnly)) return unwritable(out);
  QByteArray head;
  for (int n = 1; anyMail; ++n) {
    const store::ReadResult rr = records.readPart(n, 0, kHeaderFields, head);
    if (rr == store::ReadResult::EndOfFile) break;
    if (rr != store::ReadResult::Ok) return unreadable();
    const std::optional<received::OriginalEntry> e = archive.forRecord(n, head);
    if (!e) {
      ++s.withoutOriginal;
      continue;
    }
    // Lost, changed since it was received, or unreadable: this mail goes
    // without, the others still go.
    const QByteArray bytes = archive.read(*e);
    if (bytes.isNull()) {
      ++s.withoutOriginal;
      ++s.unreadable;
      continue;
    }
    const QByteArray entry = mboxrdEntry(bytes, e->received);
    if (out.write(entry) != entry.size()) return unwritable(out);
    ++s.exported;
  }
  if (!out.commit()) return unwritable(out);
  s.ok = true;
  return s;
}

int RunExportMbox(const QString& target) {
  const ExportSummary s = exportMbox(target);
  const QString line = (s.ok ? exportedText(s, target) : QStringLiteral("書き出せませんでした: ") + exportFaultText(s.fault)) + u'\n';
  std::fputs(line.toLocal8Bit().constData(), s.ok ? stdout : stderr);
  return s.ok ? 0 : 1;
}

}  // namespace reception
