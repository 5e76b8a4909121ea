// The index of the originals (received-originals.txt) as a crash or a
// folder copied from another machine leaves it, read as the viewer and the
// delete read it.
//
// Checks: each line read is written back as a line that reads the same;
// the index of the lines read reads back as those lines; an original is
// never handed out past the archive's end or with another digest.
#include "FuzzCheck.h"
#include "platform/Paths.h"
#include "store/received/Fault.h"
#include "store/received/Originals.h"

#include <QDir>

using namespace fuzzcheck;

namespace {

bool same(const received::OriginalEntry& a, const received::OriginalEntry& b) {
  return a.record == b.record && a.offset == b.offset && a.length == b.length && a.fingerprint == b.fingerprint &&
         a.received == b.received && a.uid == b.uid && a.digest == b.digest && a.lost == b.lost;
}

bool within(const received::OriginalEntry& e, qint64 size) { return e.length <= size && e.offset <= size - e.length; }

QString shown(const received::OriginalEntry& e) {
  return QString::fromLatin1(received::indexLine(e).toPercentEncoding(" "));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray text = bytesOf(data, size);
  const QList<received::OriginalEntry> entries = received::parseIndex(text);
  QByteArray rewritten;
  for (const received::OriginalEntry& e : entries) {
    FUZZ_CHECK(e.record >= 0 && e.offset >= 0 && e.length >= 0, QStringLiteral("negative numbers read"));
    const QByteArray line = received::indexLine(e);
    FUZZ_CHECK(line.endsWith('\n') && line.count('\n') == 1, QStringLiteral("a line of several lines"));
    const std::optional<received::OriginalEntry> back = received::parseIndexLine(line.chopped(1));
    FUZZ_CHECK(back.has_value(), QStringLiteral("a line written cannot be read: %1").arg(shown(e)));
    FUZZ_CHECK(same(*back, e), QStringLiteral("%1 reads back as %2").arg(shown(e), shown(*back)));
    rewritten += line;
  }
  FUZZ_CHECK(received::parseIndex(rewritten).size() == entries.size(), QStringLiteral("lines lost on rewriting"));

  // The index beside an archive of 300 bytes.
  const QString home = scratchFolder(QStringLiteral("originals")) + QStringLiteral("/home");
  emptyFolder(home);
  QDir().mkpath(home + u'/' + paths::kDataFolder);
  paths::setProgramFolder(home);
  QByteArray archive(300, 'm');
  for (int i = 0; i < archive.size(); ++i) archive[i] = char('a' + i % 26);
  writeFile(received::originalsPath(), archive);
  writeFile(received::originalsIndexPath(), text);
  received::OriginalArchive originals;
  FUZZ_CHECK(originals.load(), QStringLiteral("the index could not be loaded"));
  for (const received::OriginalEntry& e : originals.entries()) {
    const QByteArray bytes = originals.read(e);
    if (bytes.isNull()) continue;
    FUZZ_CHECK(!e.lost && within(e, archive.size()) && bytes == archive.mid(e.offset, e.length),
               QStringLiteral("bytes handed out that are not the archive's: %1").arg(shown(e)));
    FUZZ_CHECK(e.digest.isEmpty() || received::originalDigest(bytes) == e.digest,
               QStringLiteral("an original with another digest handed out"));
  }
  // A check opening the archive mends what outside damage left: afterwards
  // no line that is not lost reaches past the archive, and no torn line is left.
  received::OriginalsAppender appender;
  received::Fault fault;
  FUZZ_CHECK(appender.open(&fault), QStringLiteral("the originals could not be opened: %1").arg(fault.detail));
  const QByteArray mended = readFile(received::originalsIndexPath());
  FUZZ_CHECK(mended.isEmpty() || mended.endsWith('\n'), QStringLiteral("a torn last line stayed"));
  for (const received::OriginalEntry& e : received::parseIndex(mended))
    FUZZ_CHECK(e.lost || within(e, archive.size()),
               QStringLiteral("a line past the archive stayed: %1").arg(shown(e)));
  FUZZ_CHECK(readFile(received::originalsPath()) == archive, QStringLiteral("the archive was changed"));
  return 0;
}
