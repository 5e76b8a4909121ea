#include "FuzzCheck.h"

#include "platform/Charset.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QHash>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace fuzzcheck {

void fail(const char* file, int line, const char* condition, const QString& detail) {
  std::fprintf(stderr, "\n== fuzz check failed at %s:%d: %s\n", file, line, condition);
  if (!detail.isEmpty()) std::fprintf(stderr, "== %s\n", detail.toUtf8().constData());
  std::fflush(stderr);
  std::abort();
}

bool hasUnpairedSurrogate(QStringView s) {
  for (qsizetype i = 0; i < s.size(); ++i) {
    const QChar c = s[i];
    if (c.isHighSurrogate()) {
      if (i + 1 >= s.size() || !s[i + 1].isLowSurrogate()) return true;
      ++i;
    } else if (c.isLowSurrogate()) {
      return true;
    }
  }
  return false;
}

namespace {
QString shown(QStringView s) {
  QString out;
  for (QChar c : s.left(200)) {
    if (c.unicode() < 0x20 || c.isSurrogate())
      out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
    else
      out += c;
  }
  return out;
}
}  // namespace

void checkText(QStringView s, const char* what) {
  FUZZ_CHECK(!hasUnpairedSurrogate(s), QStringLiteral("%1 holds half a surrogate pair: %2").arg(what, shown(s)));
}

void checkOneLine(QStringView s, const char* what, bool tabs) {
  checkText(s, what);
  for (QChar c : s) {
    const char16_t u = c.unicode();
    const bool control = u < 0x20 || u == 0x7F;
    FUZZ_CHECK(!control || (tabs && u == u'\t'),
               QStringLiteral("%1 holds control character %2: %3").arg(what).arg(int(u)).arg(shown(s)));
  }
}

QString throughCp932(const QString& s) { return charset::fromCp932(charset::toCp932(s)); }

void checkCp932Stable(const QString& s, const char* what) {
  const QString once = throughCp932(s);
  const QString twice = throughCp932(once);
  FUZZ_CHECK(once == twice, QStringLiteral("%1 changes on a second pass through CP932: %2 / %3")
                                .arg(what, shown(once), shown(twice)));
}

QString scratchFolder(const QString& name) {
  static QHash<QString, std::shared_ptr<QTemporaryDir>> folders;
  auto& dir = folders[name];
  if (!dir) {
    dir = std::make_shared<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/tomoshibi-fuzz-") + name +
                                          QStringLiteral("-XXXXXX"));
    FUZZ_CHECK(dir->isValid(), QStringLiteral("no scratch folder: %1").arg(dir->errorString()));
  }
  return dir->path();
}

void emptyFolder(const QString& folder) {
  QDir dir(folder);
  if (dir.exists()) dir.removeRecursively();
  FUZZ_CHECK(QDir().mkpath(folder), folder);
}

void writeFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  FUZZ_CHECK(f.open(QIODevice::WriteOnly | QIODevice::Truncate), path + QStringLiteral(": ") + f.errorString());
  FUZZ_CHECK(f.write(bytes) == bytes.size(), path);
}

QByteArray readFile(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QMap<QString, QByteArray> snapshot(const QString& folder) {
  QMap<QString, QByteArray> out;
  const QDir root(folder);
  QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) {
    it.next();
    const QFileInfo info = it.fileInfo();
    const QString rel = root.relativeFilePath(info.filePath());
    if (info.isDir() && !info.isSymLink())
      out.insert(rel + u'/', QByteArray());
    else
      out.insert(rel, readFile(info.filePath()));
  }
  return out;
}

Split splitFirstLine(const QByteArray& input, qsizetype maxHead) {
  const qsizetype nl = input.indexOf('\n');
  if (nl < 0 || nl > maxHead) return {QByteArray(), input};
  return {input.left(nl), input.mid(nl + 1)};
}

}  // namespace fuzzcheck
