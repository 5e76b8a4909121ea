// The real program at the start of a run: --init-home, --version, a bad
// command line, and a program folder found open to others.
#include "platform/CommandLine.h"
#include "platform/Paths.h"
#include "platform/ProgramFolder.h"
#include "support/FileModes.h"
#include "support/MailServers.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(ProgramFolder, InitHomeNeverOverwritesAndKnowsOtherSpellings) {
  QTemporaryDir dir;
  ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("★MailData")));
  ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("顔文字データ")));
  QFile mine(dir.filePath(QStringLiteral("顔文字データ/Kao1.txt")));
  ASSERT_TRUE(mine.open(QIODevice::WriteOnly));
  mine.write("my own marks");
  mine.close();
  QFile mail(dir.filePath(QStringLiteral("★MailData/plkdata2.data")));
  ASSERT_TRUE(mail.open(QIODevice::WriteOnly));
  mail.write("data");
  mail.close();

  // Through the real program, as a user lays out a folder.
  RunResult r = runProgram({QStringLiteral("--init-home"), dir.path()}, dir.path());
  ASSERT_TRUE(r.finished);
  EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
  EXPECT_EQ(QDir(dir.path()).entryList({QStringLiteral("★*")}, QDir::Dirs).size(), 1);
  ASSERT_TRUE(mine.open(QIODevice::ReadOnly));
  EXPECT_EQ(mine.readAll(), QByteArray("my own marks"));
  ASSERT_TRUE(mail.open(QIODevice::ReadOnly));
  EXPECT_EQ(mail.readAll(), QByteArray("data"));
  EXPECT_TRUE(QDir(dir.filePath(QStringLiteral("添付フォルダ"))).exists());
}

TEST(CommandLineOptions, VersionAndBadArguments) {
  QTemporaryDir dir;
  RunResult v = runProgram({QStringLiteral("--version")}, dir.path());
  EXPECT_EQ(v.exitCode, 0);
  EXPECT_TRUE(v.out.contains(QStringLiteral("灯火亭")));
  EXPECT_TRUE(v.out.contains(QStringLiteral("1.0")));
  RunResult bad = runProgram({QStringLiteral("--no-such-option")}, dir.path());
  EXPECT_NE(bad.exitCode, 0);
  EXPECT_TRUE(bad.err.contains(QStringLiteral("--no-such-option")));
  RunResult missing = runProgram({QStringLiteral("--home")}, dir.path());
  EXPECT_NE(missing.exitCode, 0);
}

// --version and the hand-over are the entry's whole work: it must not wait
// for the window or mail libraries to load before either.
TEST(CommandLineOptions, TheEntryLoadsNoQtCurlOrMimeLibrary) {
  QProcess readelf;
  readelf.start(QStringLiteral("readelf"), {QStringLiteral("-d"), QStringLiteral(TOMOSHIBI_EXE)});
  ASSERT_TRUE(readelf.waitForFinished(20000));
  const QString dynamic = QString::fromUtf8(readelf.readAllStandardOutput());
  ASSERT_TRUE(dynamic.contains(QStringLiteral("libc.so"))) << dynamic.toStdString();
  for (const char* heavy : {"libQt6", "libgmime", "libcurl", "libfluidsynth"})
    EXPECT_FALSE(dynamic.contains(QLatin1String(heavy))) << heavy;
  // Given with other words, --version is judged by the full program with them.
  QTemporaryDir dir;
  const RunResult both = runProgram({QStringLiteral("--version"), QStringLiteral("--bogus")}, dir.path());
  EXPECT_NE(both.exitCode, 0);
  EXPECT_TRUE(both.err.contains(QStringLiteral("--bogus")));
}

TEST(ProgramFolder, LaidOutForTheUserAloneWhateverTheUmask) {
  for (mode_t mask : {mode_t(0), mode_t(022)}) {
    Umask umask(mask);
    QTemporaryDir dir;
    // Through the real program (with its starter content), into a folder whose parent is new as well.
    const QString home = dir.filePath(QStringLiteral("new/home"));
    RunResult r = runProgram({QStringLiteral("--init-home"), home}, dir.path());
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
    EXPECT_TRUE(QFile::exists(paths::resolveIn(home, QStringLiteral("Sound/Kouka.mid"))));
    EXPECT_EQ(notPrivate(home).join(u'|').toStdString(), "") << mask;
    // The folder above is the user's to share or not, as the umask says.
    EXPECT_EQ(modeOf(dir.filePath(QStringLiteral("new"))), int(0777 & ~mask));

    // In the process, too.
    const QString other = dir.filePath(QStringLiteral("other"));
    QString error;
    ASSERT_TRUE(layOutProgramFolder(other, &error)) << error.toStdString();
    EXPECT_EQ(notPrivate(other).join(u'|').toStdString(), "") << mask;
  }
}

TEST(ProgramFolder, AStartThatFindsTheFolderOpenClosesItAndSaysSoOnce) {
  Umask umask(022);
  QTemporaryDir dir, outside;
  const QString home = dir.filePath(QStringLiteral("home"));
  QString error;
  ASSERT_TRUE(layOutProgramFolder(home, &error)) << error.toStdString();
  // As an earlier version left it: folders 0755, files 0644.
  writeFile(paths::resolveIn(home, paths::kReceivedMailFile), QByteArray());
  writeFile(paths::resolveIn(home, QStringLiteral("添付フォルダ/写真.jpg")), "jpeg");
  ASSERT_TRUE(QDir(paths::resolveIn(home, paths::kAttachFolder)).mkdir(QStringLiteral("古い")));
  writeFile(paths::resolveIn(home, QStringLiteral("添付フォルダ/古い/a.txt")), "a");
  writeFile(paths::resolveIn(home, QStringLiteral("■TextQuickSave/件名.txt")), "quick");
  writeFile(home + QStringLiteral("/pelkit.ini"), "SMTP=\r\nPOP3=\r\n");
  QDirIterator it(home, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QFileInfo f(it.nextFileInfo());
    setMode(f.filePath(), f.isDir() ? 0755 : 0644);
  }
  setMode(home, 0755);
  // Not the program's to change: a link to a file elsewhere, and a program beside the folders.
  writeFile(outside.filePath(QStringLiteral("shared.txt")), "shared");
  setMode(outside.filePath(QStringLiteral("shared.txt")), 0644);
  ASSERT_TRUE(QFile::link(outside.filePath(QStringLiteral("shared.txt")),
                          paths::resolveIn(home, QStringLiteral("添付フォルダ/link.txt"))));
  writeFile(home + QStringLiteral("/tool"), "#!/bin/sh\n");
  setMode(home + QStringLiteral("/tool"), 0755);

  const QString said = tightenedText(home);
  RunResult first = runProgram({QStringLiteral("--home"), home, QStringLiteral("--check")}, home, 60000);
  ASSERT_TRUE(first.finished);
  EXPECT_TRUE(first.err.contains(said)) << first.err.toStdString();
  EXPECT_EQ(first.err.count(said), 1);
  QStringList open = notPrivate(home);
  open.sort();
  EXPECT_EQ(open.join(u'|').toStdString(), "tool 755|添付フォルダ/link.txt 777");
  EXPECT_EQ(modeOf(outside.filePath(QStringLiteral("shared.txt"))), 0644);

  // Closed now: the next start has nothing to say.
  RunResult second = runProgram({QStringLiteral("--home"), home, QStringLiteral("--check")}, home, 60000);
  ASSERT_TRUE(second.finished);
  EXPECT_FALSE(second.err.contains(said)) << second.err.toStdString();

  // The window's start settles its folder the same way and hands the text back for a box.
  setMode(paths::resolveIn(home, paths::kDataFolder), 0750);
  CommandLine cl;
  cl.home = home;
  QString notice;
  ASSERT_TRUE(enterProgramFolder(cl, true, &error, &notice)) << error.toStdString();
  EXPECT_EQ(notice, said);
  EXPECT_EQ(modeOf(paths::resolveIn(home, paths::kDataFolder)), 0700);
  notice.clear();
  ASSERT_TRUE(enterProgramFolder(cl, true, &error, &notice)) << error.toStdString();
  EXPECT_TRUE(notice.isEmpty());
}
