// Replacing a file whole: what lies beside it is never touched, a write cut
// short by a kill leaves nothing that outlives the next write, and the new
// file gets the permission its place calls for.
#include "platform/Durable.h"
#include "platform/Paths.h"
#include "platform/TestHooks.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QByteArray readAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& data) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  f.write(data);
}

int modeOf(const QString& path) {
  struct stat st;
  return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

QStringList entries(const QString& folder) {
  return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// The process's umask for one test.
class Umask {
 public:
  explicit Umask(mode_t m) : old_(::umask(m)) {}
  ~Umask() { ::umask(old_); }

 private:
  mode_t old_;
};

// A program folder of the test's own, the previous one restored after it.
class ProgramFolderFor {
 public:
  explicit ProgramFolderFor(const QString& folder) : old_(paths::programFolder()) { paths::setProgramFolder(folder); }
  ~ProgramFolderFor() { paths::setProgramFolder(old_); }

 private:
  QString old_;
};

// Replaces `path` in a child process that is killed once the new text is
// written and flushed beside the file, before it takes the file's name.
void replaceAndGetKilled(const QString& path, const QByteArray& data) {
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    testhooks::replaceFile = [](const QString&) {
      ::kill(::getpid(), SIGKILL);
      return true;
    };
    durable::replaceFile(path, data);
    ::_exit(0);  // not reached
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
}

}  // namespace

TEST(ReplaceFile, NeverTouchesTheUsersFilesBesideIt) {
  QTemporaryDir dir;
  const QString memo = dir.filePath(QStringLiteral("memo.txt"));
  // Names a user may well keep beside the file.
  const QStringList mine = {QStringLiteral("memo.txt.new"), QStringLiteral(".memo.txt.new"),
                            QStringLiteral(".memo.txt.backup"), QStringLiteral(".memo.txt.swp"),
                            QStringLiteral("memo.txt~"), QStringLiteral(".new-1")};
  for (const QString& n : mine) writeAll(dir.filePath(n), "mine: " + n.toUtf8());
  writeAll(memo, "old");
  QString error;
  ASSERT_TRUE(durable::replaceFile(memo, "new text", -1, &error)) << error.toStdString();
  EXPECT_EQ(readAll(memo), QByteArray("new text"));
  ASSERT_TRUE(durable::replaceFile(memo, "newer text", -1, &error)) << error.toStdString();
  EXPECT_EQ(readAll(memo), QByteArray("newer text"));
  for (const QString& n : mine) EXPECT_EQ(readAll(dir.filePath(n)), "mine: " + n.toUtf8()) << n.toStdString();
  EXPECT_EQ(entries(dir.path()).size(), mine.size() + 1) << entries(dir.path()).join(u' ').toStdString();

  // A failed write (here a folder under the name) leaves only what was there.
  const QString taken = dir.filePath(QStringLiteral("taken.txt"));
  ASSERT_TRUE(QDir().mkdir(taken));
  EXPECT_FALSE(durable::replaceFile(taken, "x", -1, &error));
  EXPECT_FALSE(error.isEmpty());
  EXPECT_EQ(entries(dir.path()).size(), mine.size() + 2) << entries(dir.path()).join(u' ').toStdString();
}

TEST(ReplaceFile, WhatAKillLeftIsRemovedAtTheNextWriteOfThatFileOnly) {
  QTemporaryDir dir;
  const QString memo = dir.filePath(QStringLiteral("memo.txt"));
  const QString other = dir.filePath(QStringLiteral("other.txt"));
  // A name near the limit of 255 bytes (83 × 3 + 4 = 253) needs a shorter temporary name.
  const QString longName = dir.filePath(QString(83, QChar(0xFF71)) + QStringLiteral(".txt"));
  for (const QString& f : {memo, other, longName}) writeAll(f, "old");
  writeAll(dir.filePath(QStringLiteral("memo.txt.new")), "mine");

  for (const QString& f : {memo, other, longName}) replaceAndGetKilled(f, "killed");
  // Each killed write left its text beside its file, never under the file's name.
  EXPECT_EQ(entries(dir.path()).size(), 7) << entries(dir.path()).join(u' ').toStdString();
  for (const QString& f : {memo, other, longName}) EXPECT_EQ(readAll(f), QByteArray("old"));

  QString error;
  ASSERT_TRUE(durable::replaceFile(memo, "new", -1, &error)) << error.toStdString();
  EXPECT_EQ(readAll(memo), QByteArray("new"));
  // memo.txt's leftover is gone; other.txt's waits for other.txt's next write.
  EXPECT_EQ(entries(dir.path()).size(), 6) << entries(dir.path()).join(u' ').toStdString();
  ASSERT_TRUE(durable::replaceFile(longName, "new", -1, &error)) << error.toStdString();
  EXPECT_EQ(readAll(longName), QByteArray("new"));
  EXPECT_EQ(entries(dir.path()).size(), 5) << entries(dir.path()).join(u' ').toStdString();
  ASSERT_TRUE(durable::replaceFile(other, "new", -1, &error)) << error.toStdString();
  EXPECT_EQ(entries(dir.path()),
            (QStringList{QStringLiteral("memo.txt"), QStringLiteral("memo.txt.new"), QStringLiteral("other.txt"),
                         QFileInfo(longName).fileName()}));
  EXPECT_EQ(readAll(dir.filePath(QStringLiteral("memo.txt.new"))), QByteArray("mine"));
}

TEST(ReplaceFile, AWriteStillGoingOnIsNotTakenForALeftover) {
  QTemporaryDir dir;
  const QString memo = dir.filePath(QStringLiteral("memo.txt"));
  int inner = 0;
  QString innerError;
  // While the outer write waits before its rename, a second write of the same file runs through.
  testhooks::replaceFile = [&](const QString&) {
    if (inner++ == 0) EXPECT_TRUE(durable::replaceFile(memo, "inner", -1, &innerError)) << innerError.toStdString();
    return true;
  };
  QString error;
  const bool ok = durable::replaceFile(memo, "outer", -1, &error);
  testhooks::replaceFile = nullptr;
  EXPECT_TRUE(ok) << error.toStdString();
  EXPECT_EQ(readAll(memo), QByteArray("outer"));
  EXPECT_EQ(entries(dir.path()), QStringList{QStringLiteral("memo.txt")});
}

TEST(ReplaceFile, PrivateInsideTheProgramFolderTheUsersUmaskElsewhere) {
  QTemporaryDir home, elsewhere;
  ProgramFolderFor program(home.path());
  ASSERT_TRUE(QDir(home.path()).mkdir(QStringLiteral("sub")));
  QString error;
  for (mode_t mask : {mode_t(0), mode_t(022), mode_t(027)}) {
    Umask umask(mask);
    const QString tag = QString::number(mask, 8);
    // Inside: 0600, new or not, whatever the umask.
    const QString inside = home.filePath(QStringLiteral("sub/a") + tag);
    ASSERT_TRUE(durable::replaceFile(inside, "x", -1, &error)) << error.toStdString();
    EXPECT_EQ(modeOf(inside), 0600) << tag.toStdString();
    ::chmod(QFile::encodeName(inside).constData(), 0644);
    ASSERT_TRUE(durable::replaceFile(inside, "y", -1, &error)) << error.toStdString();
    EXPECT_EQ(modeOf(inside), 0600) << tag.toStdString();
    // Elsewhere: a new file as the user's umask has it, an existing one keeps its own.
    const QString outside = elsewhere.filePath(QStringLiteral("b") + tag);
    ASSERT_TRUE(durable::replaceFile(outside, "x", -1, &error)) << error.toStdString();
    EXPECT_EQ(modeOf(outside), int(0666 & ~mask)) << tag.toStdString();
    ::chmod(QFile::encodeName(outside).constData(), 0604);
    ASSERT_TRUE(durable::replaceFile(outside, "y", -1, &error)) << error.toStdString();
    EXPECT_EQ(modeOf(outside), 0604) << tag.toStdString();
    // A mode asked for is the mode, inside and out.
    ASSERT_TRUE(durable::replaceFile(outside, "z", 0640, &error)) << error.toStdString();
    EXPECT_EQ(modeOf(outside), 0640) << tag.toStdString();
  }
}
