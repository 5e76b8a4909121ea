#include "Paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace paths {
namespace {
QString g_programFolder;

QString matchComponent(const QString& dir, const QString& name) {
  if (name.isEmpty() || name == u"." || name == u"..") return name;
  if (QFileInfo::exists(dir + u'/' + name)) return name;
  QDir d(dir);
  if (!d.exists()) return name;
  QStringList entries = d.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
  for (const QString& e : entries)
    if (e.compare(name, Qt::CaseInsensitive) == 0) return e;
  return name;
}
}  // namespace

void setProgramFolder(const QString& folder) { g_programFolder = QDir(folder).absolutePath(); }

QString programFolder() {
  if (g_programFolder.isEmpty()) g_programFolder = QCoreApplication::applicationDirPath();
  return g_programFolder;
}

QString resolveIn(const QString& base, const QString& relative) {
  QString rel = relative;
  rel.replace(u'\\', u'/');
  QString cur = base;
  while (cur.size() > 1 && cur.endsWith(u'/')) cur.chop(1);
  const QStringList parts = rel.split(u'/', Qt::SkipEmptyParts);
  for (const QString& p : parts) cur += u'/' + matchComponent(cur, p);
  if (rel.endsWith(u'/')) cur += u'/';
  return cur;
}

QString resolve(const QString& relative) { return resolveIn(programFolder(), relative); }

bool folderExists(const QString& relative) {
  QFileInfo fi(resolve(relative));
  return fi.exists() && fi.isDir();
}

bool insideProgramFolder(const QString& path) {
  const QString root = QFileInfo(programFolder()).canonicalFilePath();
  if (root.isEmpty()) return false;
  const QString folder = QFileInfo(QFileInfo(path).absolutePath()).canonicalFilePath();
  return !folder.isEmpty() && (folder == root || folder.startsWith(root + u'/'));
}

}  // namespace paths
