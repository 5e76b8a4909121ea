// The map of src/ (allowed-includes.txt beside this file) against what the
// sources do: every #include "…" runs along an allowed edge, every allowed
// edge is used, the list runs top to bottom, every folder's CMakeLists.txt
// builds only its own sources into its own library and links what the list
// allows, and the README shows the same map.
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>
#include <gtest/gtest.h>

namespace {

const QString kSource = QStringLiteral(TOMOSHIBI_SOURCE_DIR);
const QString kSrc = kSource + QStringLiteral("/src");
// The programs' folder builds no library.
const QString kNoLibrary = QStringLiteral("-");

struct Entry {
  QString folder;   // below src/, without a slash at the end
  QString library;  // kNoLibrary for the programs
  QStringList deps;
};

QString readText(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return QString();
  return QString::fromUtf8(f.readAll());
}

std::string lines(const QStringList& l) { return l.join(u'\n').toStdString(); }

QList<Entry> readMap(QString* problem) {
  QList<Entry> map;
  const QString text = readText(kSource + QStringLiteral("/tests/house/allowed-includes.txt"));
  if (text.isEmpty()) *problem = QStringLiteral("tests/house/allowed-includes.txt cannot be read");
  for (const QString& raw : text.split(u'\n')) {
    const QString line = raw.trimmed();
    if (line.isEmpty() || line.startsWith(u'#')) continue;
    const QStringList w = line.split(QRegularExpression(QStringLiteral("\\s+")));
    if (w.size() < 2) {
      *problem = QStringLiteral("a line without a library: ") + line;
      continue;
    }
    map.append({w[0], w[1], w.mid(2)});
  }
  return map;
}

class IncludeMap : public ::testing::Test {
 protected:
  void SetUp() override {
    QString problem;
    map_ = readMap(&problem);
    ASSERT_TRUE(problem.isEmpty()) << problem.toStdString();
    ASSERT_FALSE(map_.isEmpty());
    for (int i = 0; i < map_.size(); ++i) {
      byFolder_.insert(map_[i].folder, i);
      if (map_[i].library != kNoLibrary) libraries_.insert(map_[i].library, i);
    }
  }

  // The library a file of src/ belongs to: that of its own folder.
  QString libraryOf(const QString& relative) const {
    const QString folder = QFileInfo(relative).path();
    return byFolder_.contains(folder) ? map_[byFolder_.value(folder)].library : QString();
  }

  // Every source file of src/, relative to it.
  static QStringList sourceFiles() {
    QStringList files;
    QDirIterator it(kSrc, {QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) files << QDir(kSrc).relativeFilePath(it.next());
    files.sort();
    return files;
  }

  // The edges "library -> library" the includes make, each with the first
  // include that makes it; includes that name no file of src/ in `missing`.
  QMap<QString, QString> includeEdges(QStringList* missing) const {
    static const QRegularExpression include(QStringLiteral("^\\s*#\\s*include\\s*\"([^\"]+)\""),
                                            QRegularExpression::MultilineOption);
    QMap<QString, QString> edges;
    for (const QString& file : sourceFiles()) {
      const QString from = libraryOf(file);
      auto it = include.globalMatch(readText(kSrc + u'/' + file));
      while (it.hasNext()) {
        const QString named = it.next().captured(1);
        QString target;
        for (const QString& candidate : {QDir::cleanPath(QFileInfo(file).path() + u'/' + named), QDir::cleanPath(named)})
          if (!candidate.startsWith(QStringLiteral("..")) && QFileInfo(kSrc + u'/' + candidate).isFile()) {
            target = candidate;
            break;
          }
        if (target.isEmpty()) {
          *missing << file + QStringLiteral(": ") + named;
          continue;
        }
        const QString to = libraryOf(target);
        if (from != to && !edges.contains(from + QStringLiteral(" -> ") + to))
          edges.insert(from + QStringLiteral(" -> ") + to, file + QStringLiteral(" includes ") + named);
      }
    }
    return edges;
  }

  QList<Entry> map_;
  QHash<QString, int> byFolder_;
  QHash<QString, int> libraries_;
};

TEST_F(IncludeMap, TheListRunsTopToBottom) {
  QStringList wrong;
  QSet<QString> seen;
  for (int i = 0; i < map_.size(); ++i) {
    const Entry& e = map_[i];
    if (seen.contains(e.folder)) wrong << QStringLiteral("%1 is listed twice").arg(e.folder);
    seen.insert(e.folder);
    if (!QFileInfo(kSrc + u'/' + e.folder).isDir()) wrong << QStringLiteral("src/%1 is no folder").arg(e.folder);
    for (const QString& d : e.deps) {
      if (!libraries_.contains(d))
        wrong << QStringLiteral("%1 may use %2, which is no library of the list").arg(e.folder, d);
      else if (libraries_.value(d) <= i)
        wrong << QStringLiteral("%1 may use %2, which is listed above it").arg(e.folder, d);
    }
  }
  EXPECT_TRUE(wrong.isEmpty()) << lines(wrong);
}

TEST_F(IncludeMap, EverySourceFileLiesInAListedFolder) {
  QStringList stray;
  for (const QString& file : sourceFiles())
    if (!byFolder_.contains(QFileInfo(file).path())) stray << file;
  EXPECT_TRUE(stray.isEmpty()) << "folders not in the map:\n" << lines(stray);
}

TEST_F(IncludeMap, EveryIncludeRunsAlongAnAllowedEdgeAndEveryAllowedEdgeIsUsed) {
  QStringList missing;
  const QMap<QString, QString> edges = includeEdges(&missing);
  EXPECT_TRUE(missing.isEmpty()) << "includes that name no file of src/:\n" << lines(missing);
  QSet<QString> allowed;
  for (const Entry& e : map_)
    for (const QString& d : e.deps) allowed.insert(e.library + QStringLiteral(" -> ") + d);
  QStringList notAllowed, unused;
  for (auto it = edges.cbegin(); it != edges.cend(); ++it)
    if (!allowed.contains(it.key())) notAllowed << it.key() + QStringLiteral(" (") + it.value() + u')';
  for (const QString& edge : allowed)
    if (!edges.contains(edge)) unused << edge;
  unused.sort();
  EXPECT_TRUE(notAllowed.isEmpty()) << "edges the map does not allow:\n" << lines(notAllowed);
  EXPECT_TRUE(unused.isEmpty()) << "edges of the map no include makes:\n" << lines(unused);
}

// Between the top folders too: composer/send lies below reception, so an
// include from reception/ into composer/ would close a circle of folders
// that the list of libraries alone does not show.
TEST_F(IncludeMap, TheTopFoldersIncludeEachOtherInOneDirection) {
  QStringList missing;
  QMap<QString, QSet<QString>> tops;
  auto topOf = [&](const QString& library) {
    for (const Entry& e : map_)
      if (e.library == library) return e.folder.section(u'/', 0, 0);
    return QString();
  };
  for (const Entry& e : map_)
    for (const QString& d : e.deps)
      if (topOf(d) != e.folder.section(u'/', 0, 0)) tops[e.folder.section(u'/', 0, 0)].insert(topOf(d));
  QStringList circles;
  for (auto it = tops.cbegin(); it != tops.cend(); ++it) {
    // Everything this top folder reaches: it must not reach itself.
    QSet<QString> reached = it.value();
    QStringList todo(reached.cbegin(), reached.cend());
    while (!todo.isEmpty())
      for (const QString& next : tops.value(todo.takeLast()))
        if (!reached.contains(next)) {
          reached.insert(next);
          todo << next;
        }
    if (reached.contains(it.key())) circles << it.key();
  }
  EXPECT_TRUE(circles.isEmpty()) << "top folders that reach themselves:\n" << lines(circles);
}

// What one CMakeLists.txt builds: its targets' sources and links.
struct CMakeFolder {
  QMap<QString, QStringList> libraries;  // add_library: name -> sources
  QStringList executableSources;
  QMap<QString, QStringList> links;  // target_link_libraries: target -> items
  bool feedsOthers = false;          // target_sources anywhere
};

CMakeFolder readCMake(const QString& path) {
  CMakeFolder c;
  QString text = readText(path);
  text.remove(QRegularExpression(QStringLiteral("#[^\\n]*")));
  static const QRegularExpression call(QStringLiteral("\\b(add_library|add_executable|target_link_libraries|target_sources)"
                                                      "\\s*\\(([^)]*)\\)"));
  static const QRegularExpression space(QStringLiteral("\\s+"));
  auto it = call.globalMatch(text);
  while (it.hasNext()) {
    const QRegularExpressionMatch m = it.next();
    QStringList args = m.captured(2).split(space, Qt::SkipEmptyParts);
    if (args.isEmpty()) continue;
    const QString name = args.takeFirst();
    const QString what = m.captured(1);
    if (what == u"target_sources") {
      c.feedsOthers = true;
    } else if (what == u"add_library") {
      c.libraries[name] << args;
    } else if (what == u"add_executable") {
      c.executableSources << args;
    } else {
      c.links[name] << args;
    }
  }
  return c;
}

TEST_F(IncludeMap, EachFolderBuildsItsOwnSourcesAndLinksWhatTheListAllows) {
  QStringList wrong;
  for (const Entry& e : map_) {
    const QString folder = kSrc + u'/' + e.folder;
    if (!QFileInfo::exists(folder + QStringLiteral("/CMakeLists.txt"))) {
      wrong << QStringLiteral("src/%1 has no CMakeLists.txt").arg(e.folder);
      continue;
    }
    const CMakeFolder c = readCMake(folder + QStringLiteral("/CMakeLists.txt"));
    if (c.feedsOthers) wrong << QStringLiteral("src/%1 feeds a target with target_sources").arg(e.folder);
    QStringList mapped;
    for (const QString& l : c.libraries.keys())
      if (libraries_.contains(l)) mapped << l;
    const QStringList want = e.library == kNoLibrary ? QStringList() : QStringList{e.library};
    if (mapped != want)
      wrong << QStringLiteral("src/%1 defines %2 instead of %3").arg(e.folder, mapped.join(u' '), want.join(u' '));

    // Its own sources, all of them, and nothing of another folder.
    QSet<QString> built;
    for (const QStringList& sources : c.libraries) built.unite(QSet<QString>(sources.cbegin(), sources.cend()));
    built.unite(QSet<QString>(c.executableSources.cbegin(), c.executableSources.cend()));
    for (const QString& s : std::as_const(built))
      if ((s.endsWith(QStringLiteral(".cpp")) || s.endsWith(QStringLiteral(".h"))) &&
          (s.contains(u'/') || !QFileInfo::exists(folder + u'/' + s)))
        wrong << QStringLiteral("src/%1 builds %2, not a file of its own").arg(e.folder, s);
    for (const QString& cpp : QDir(folder).entryList({QStringLiteral("*.cpp")}, QDir::Files))
      if (!built.contains(cpp)) wrong << QStringLiteral("src/%1/%2 is built by no target of its folder").arg(e.folder, cpp);

    // The libraries of the map it links: the library's own, or for the
    // programs all of theirs.
    QSet<QString> linked;
    for (auto it = c.links.cbegin(); it != c.links.cend(); ++it)
      if (e.library == kNoLibrary || it.key() == e.library)
        for (const QString& item : it.value())
          if (libraries_.contains(item)) linked.insert(item);
    const QSet<QString> allowed(e.deps.cbegin(), e.deps.cend());
    if (linked != allowed) {
      QStringList extra(QSet<QString>(linked).subtract(allowed).cbegin(), QSet<QString>(linked).subtract(allowed).cend());
      QStringList lacking(QSet<QString>(allowed).subtract(linked).cbegin(), QSet<QString>(allowed).subtract(linked).cend());
      extra.sort();
      lacking.sort();
      wrong << QStringLiteral("src/%1 links [%2] beyond the list and lacks [%3]")
                   .arg(e.folder, extra.join(u' '), lacking.join(u' '));
    }
  }
  EXPECT_TRUE(wrong.isEmpty()) << lines(wrong);
}

// The README's map: the table between the two markers, one row a folder,
// its library (`tomoshibi_…`, or none for the programs) and the libraries
// it may use, in backticks.
TEST_F(IncludeMap, TheReadmeShowsTheSameMap) {
  const QString readme = readText(kSource + QStringLiteral("/README.md"));
  const qsizetype begin = readme.indexOf(QStringLiteral("<!-- map of src: begin -->"));
  const qsizetype end = readme.indexOf(QStringLiteral("<!-- map of src: end -->"));
  ASSERT_GE(begin, 0) << "the README has no map of src/";
  ASSERT_GT(end, begin);
  static const QRegularExpression quoted(QStringLiteral("`([^`]+)`"));
  QStringList shown;
  for (const QString& row : readme.mid(begin, end - begin).split(u'\n')) {
    const QStringList cells = row.split(u'|');
    if (cells.size() < 5 || !cells[1].contains(QStringLiteral("`src/"))) continue;
    auto names = [&](const QString& cell) {
      QStringList out;
      auto it = quoted.globalMatch(cell);
      while (it.hasNext()) out << it.next().captured(1);
      return out;
    };
    const QStringList folder = names(cells[1]);
    QString library = kNoLibrary;
    for (const QString& n : names(cells[2]))
      if (n.startsWith(QStringLiteral("tomoshibi_"))) {
        library = n;
        break;
      }
    QString f = folder.value(0).mid(4);
    if (f.endsWith(u'/')) f.chop(1);
    shown << (QStringList{f, library} + names(cells[3])).join(u' ');
  }
  QStringList listed;
  for (const Entry& e : map_) listed << (QStringList{e.folder, e.library} + e.deps).join(u' ');
  EXPECT_EQ(lines(shown), lines(listed));
}

}  // namespace
