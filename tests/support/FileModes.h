#pragma once
// Permissions of files and folders, as the tests of a private program
// folder look at them, and a umask for one test.
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <gtest/gtest.h>
#include <sys/stat.h>

inline int modeOf(const QString& path) {
  struct stat st;
  return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

inline void setMode(const QString& path, int mode) {
  ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), mode_t(mode)), 0);
}

inline void writeFile(const QString& path, const QByteArray& data) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(data);
}

// Every folder and file below `folder` (itself included) whose permission
// is not 0700 / 0600, as "path mode" lines.
inline QStringList notPrivate(const QString& folder) {
  QStringList out;
  if (modeOf(folder) != 0700) out << QStringLiteral(". %1").arg(modeOf(folder), 0, 8);
  QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QFileInfo f(it.nextFileInfo());
    const int want = f.isDir() ? 0700 : 0600;
    if (modeOf(f.filePath()) != want)
      out << QStringLiteral("%1 %2").arg(QDir(folder).relativeFilePath(f.filePath())).arg(modeOf(f.filePath()), 0, 8);
  }
  return out;
}

// The process's umask for one test (a program started meanwhile inherits it).
class Umask {
 public:
  explicit Umask(mode_t m) : old_(::umask(m)) {}
  ~Umask() { ::umask(old_); }

 private:
  mode_t old_;
};
