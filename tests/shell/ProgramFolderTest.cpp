#include "platform/Paths.h"
#include "platform/Profile.h"
#include "reception/AttachmentFiles.h"
#include "platform/Text.h"
#include "shell/CommandLine.h"
#include "shell/ProgramFolder.h"
#include "store/RecordFile.h"
#include "store/Records.h"
#include "support/TempHome.h"
#include "support/MailServers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QDirIterator>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int modeOf(const QString& path) {
  struct stat st;
  return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

void setMode(const QString& path, int mode) { ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), mode_t(mode)), 0); }

void writeFile(const QString& path, const QByteArray& data) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(data);
}

// Every folder and file below `folder` (itself included) whose permission
// is not 0700 / 0600, as "path mode" lines.
QStringList notPrivate(const QString& folder) {
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

}  // namespace

TEST(ProgramFolder, LaysOutEveryFolderAndTheFaceMarks) {
  QTemporaryDir dir;
  QString error;
  ASSERT_TRUE(layOutProgramFolder(dir.path(), &error)) << error.toStdString();
  for (const QString& sub : programSubfolders()) EXPECT_TRUE(QDir(dir.filePath(sub)).exists()) << sub.toStdString();
  QFile kao(dir.filePath(QStringLiteral("顔文字データ/Kao1.txt")));
  ASSERT_TRUE(kao.open(QIODevice::ReadOnly));
  const QByteArray bytes = kao.readAll();
  EXPECT_TRUE(bytes.contains("\r\n"));
  EXPECT_FALSE(bytes.contains("\r\r"));
  // Stored in CP932: it decodes without a single replacement character.
  const QString t = text::fromCp932(bytes);
  EXPECT_FALSE(t.contains(QChar(0xFFFD)));
  EXPECT_TRUE(t.contains(QStringLiteral("(^_^)")));
  EXPECT_TRUE(t.contains(QStringLiteral("①")));
  EXPECT_TRUE(QDir(dir.filePath(QStringLiteral("★MAilData"))).entryList(QDir::Files).isEmpty());
  // The input method's page, in UTF-8 as its meta line says.
  QFile ime(dir.filePath(QStringLiteral("IMEPAd/IME.htm")));
  ASSERT_TRUE(ime.open(QIODevice::ReadOnly));
  const QByteArray page = ime.readAll();
  EXPECT_TRUE(page.contains("<meta charset=\"utf-8\">"));
  EXPECT_TRUE(QString::fromUtf8(page).contains(QStringLiteral("文字パレット")));
}

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

TEST(ProgramFolder, LaysOutTheShopsTunesPagesAndPicturesAndKeepsTheUsers) {
  QTemporaryDir dir;
  // The user's own tune and page, in another spelling of the folders.
  ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("sound")));
  QFile mine(dir.filePath(QStringLiteral("sound/Kouka.mid")));
  ASSERT_TRUE(mine.open(QIODevice::WriteOnly));
  mine.write("my own tune");
  mine.close();
  QString error;
  ASSERT_TRUE(layOutProgramFolder(dir.path(), &error)) << error.toStdString();
  EXPECT_FALSE(QDir(dir.filePath(QStringLiteral("Sound"))).exists());  // "sound" is the folder
  ASSERT_TRUE(mine.open(QIODevice::ReadOnly));
  EXPECT_EQ(mine.readAll(), QByteArray("my own tune"));

  QFile tune2(paths::resolveIn(dir.path(), QStringLiteral("Sound/Kouka2.mid")));
  ASSERT_TRUE(tune2.open(QIODevice::ReadOnly));
  EXPECT_TRUE(tune2.readAll().startsWith("MThd"));
  for (const char* page : {"Back", "Front"}) {
    QFile htm(dir.filePath(QStringLiteral("画像データ/%1.htm").arg(QLatin1String(page))));
    ASSERT_TRUE(htm.open(QIODevice::ReadOnly)) << page;
    const QByteArray html = htm.readAll();
    // The page shows its own picture, which is there beside it.
    EXPECT_TRUE(html.contains(QStringLiteral("<img src=\"%1.png\"").arg(QLatin1String(page)).toUtf8())) << page;
    QFile png(dir.filePath(QStringLiteral("画像データ/%1.png").arg(QLatin1String(page))));
    ASSERT_TRUE(png.open(QIODevice::ReadOnly)) << page;
    EXPECT_TRUE(png.readAll().startsWith("\x89PNG")) << page;
  }
  EXPECT_TRUE(QFile::exists(dir.filePath(QStringLiteral("画像データ/Home.htm"))));
}

TEST(ProgramFolder, FolderOfARunHomeThenBesideTheProgramThenTheUsers) {
  QTemporaryDir dir;
  const QString exe = dir.filePath(QStringLiteral("bin"));
  ASSERT_TRUE(QDir().mkpath(exe));
  const QByteArray oldXdg = qgetenv("XDG_DATA_HOME");
  qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("xdg")).toUtf8());
  EXPECT_EQ(findProgramFolder(QString(), exe), dir.filePath(QStringLiteral("xdg/tomoshibi")));
  // A relative XDG_DATA_HOME is ignored.
  qputenv("XDG_DATA_HOME", "relative/data");
  EXPECT_EQ(findProgramFolder(QString(), exe), QDir::homePath() + QStringLiteral("/.local/share/tomoshibi"));
  // Beside the program only when that folder holds the data folder, in any spelling.
  ASSERT_TRUE(QDir(exe).mkpath(QStringLiteral("★maildata")));
  EXPECT_EQ(findProgramFolder(QString(), exe), exe);
  EXPECT_EQ(findProgramFolder(dir.filePath(QStringLiteral("mine")), exe), dir.filePath(QStringLiteral("mine")));
  if (oldXdg.isNull())
    qunsetenv("XDG_DATA_HOME");
  else
    qputenv("XDG_DATA_HOME", oldXdg);
  // The starter content sits in share/tomoshibi beside bin/.
  EXPECT_TRUE(starterFolder(exe).isEmpty());
  ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("share/tomoshibi")));
  EXPECT_EQ(starterFolder(exe), dir.filePath(QStringLiteral("share/tomoshibi")));
}

TEST(ProgramFolder, LaidOutFromTheStarterWithoutReplacingAnything) {
  QTemporaryDir starter, home;
  QString error;
  ASSERT_TRUE(layOutProgramFolder(starter.path(), &error)) << error.toStdString();
  // Starter content the built-in resources do not have, and a changed face-mark file.
  QFile extra(starter.filePath(QStringLiteral("Sound/Extra.mid")));
  ASSERT_TRUE(extra.open(QIODevice::WriteOnly));
  extra.write("MThd extra");
  extra.close();
  QFile marks(starter.filePath(QStringLiteral("顔文字データ/Kao1.txt")));
  ASSERT_TRUE(marks.open(QIODevice::WriteOnly));
  marks.write("starter marks");
  marks.close();
  // The user's own page, in another spelling of its folder.
  ASSERT_TRUE(QDir(home.path()).mkpath(QStringLiteral("画像データ")));
  QFile mine(home.filePath(QStringLiteral("画像データ/front.htm")));
  ASSERT_TRUE(mine.open(QIODevice::WriteOnly));
  mine.write("my page");
  mine.close();

  ASSERT_TRUE(layOutProgramFolder(home.path(), &error, starter.path())) << error.toStdString();
  EXPECT_EQ(QDir(home.path()).entryList({QStringLiteral("画像データ")}, QDir::Dirs).size(), 1);
  EXPECT_FALSE(QFile::exists(home.filePath(QStringLiteral("画像データ/Front.htm"))));
  ASSERT_TRUE(mine.open(QIODevice::ReadOnly));
  EXPECT_EQ(mine.readAll(), QByteArray("my page"));
  QFile copied(home.filePath(QStringLiteral("Sound/Extra.mid")));
  ASSERT_TRUE(copied.open(QIODevice::ReadOnly));
  EXPECT_EQ(copied.readAll(), QByteArray("MThd extra"));
  QFile kao(home.filePath(QStringLiteral("顔文字データ/Kao1.txt")));
  ASSERT_TRUE(kao.open(QIODevice::ReadOnly));
  EXPECT_EQ(kao.readAll(), QByteArray("starter marks"));
  for (const QString& sub : programSubfolders()) EXPECT_TRUE(QDir(home.filePath(sub)).exists()) << sub.toStdString();

  // Laid out again (a newer starter): what is there stays.
  ASSERT_TRUE(marks.open(QIODevice::WriteOnly));
  marks.write("newer marks");
  marks.close();
  ASSERT_TRUE(layOutProgramFolder(home.path(), &error, starter.path())) << error.toStdString();
  kao.close();
  ASSERT_TRUE(kao.open(QIODevice::ReadOnly));
  EXPECT_EQ(kao.readAll(), QByteArray("starter marks"));
}

// As a desktop start settles its folder; the installed program is run from
// a scratch root in the packaging test.
TEST(ProgramFolder, TheFirstStartLaysOutTheUsersFolderPrivatelyAndEntersIt) {
  QTemporaryDir dir;
  const QString folder = dir.filePath(QStringLiteral("xdg/tomoshibi"));
  const QString oldCwd = QDir::currentPath();
  CommandLine cl;
  cl.fromDesktop = true;
  const QByteArray oldXdg = qgetenv("XDG_DATA_HOME");
  qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("xdg")).toUtf8());
  QString error;
  EXPECT_TRUE(enterProgramFolder(cl, true, &error)) << error.toStdString();
  EXPECT_EQ(QDir::currentPath(), folder);
  EXPECT_EQ(QFileInfo(folder).permissions() & (QFile::ReadGroup | QFile::ReadOther), 0);
  EXPECT_TRUE(holdsDataFolder(folder));
  EXPECT_TRUE(QFile::exists(paths::resolveIn(folder, QStringLiteral("顔文字データ/Kao1.txt"))));
  if (oldXdg.isNull())
    qunsetenv("XDG_DATA_HOME");
  else
    qputenv("XDG_DATA_HOME", oldXdg);
  QDir::setCurrent(oldCwd);
}

TEST(CommandLineOptions, OneMailtoLinkAndOnlyForTheWindow) {
  const CommandLine desktop = parseCommandLine({QStringLiteral("--from-desktop"), QStringLiteral("MAILTO:a@example.jp")});
  EXPECT_TRUE(desktop.error.isEmpty());
  EXPECT_TRUE(desktop.fromDesktop);
  EXPECT_EQ(desktop.mailto, QStringLiteral("MAILTO:a@example.jp"));
  EXPECT_FALSE(parseCommandLine({QStringLiteral("mailto:a@example.jp"), QStringLiteral("mailto:b@example.jp")}).error.isEmpty());
  EXPECT_FALSE(parseCommandLine({QStringLiteral("--check"), QStringLiteral("mailto:a@example.jp")}).error.isEmpty());
  EXPECT_TRUE(parseCommandLine({QStringLiteral("--from-desktop"), QStringLiteral("--check")}).error.isEmpty());
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

// With no umask at all, what the program writes inside the folder is still
// the user's alone: records and their rewrite copies, attached files,
// settings.
TEST(ProgramFolder, WhatTheProgramWritesInsideIsTheUsersAlone) {
  Umask umask(0);
  TempHome home;
  const QString mails = home.file(paths::kReceivedMailFile);
  store::MailRecord r;
  r.setSubject(QStringLiteral("件名"));
  r.markWritten();
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(store::appendRecord(mails, store::MailRecord::kLength, r.bytes(), true).ok);
  EXPECT_EQ(modeOf(mails), 0600);
  // The rewrite through the temporary copy, even of a file left open before.
  setMode(mails, 0644);
  const store::StoreResult del = store::deleteRecords(mails, home.file(paths::kReceivedMailTemp),
                                                      store::MailRecord::kLength, store::MailRecord::kFlagOffset, {2});
  ASSERT_TRUE(del.ok) << del.error.toStdString();
  EXPECT_EQ(modeOf(mails), 0600);

  maillib::AttachmentFolder attachments(home.file(paths::kAttachFolder));
  ASSERT_TRUE(attachments.write(QStringLiteral("写真.jpg"), "jpeg")) << attachments.error().toStdString();
  ASSERT_EQ(attachments.written().size(), 1);
  EXPECT_EQ(modeOf(attachments.written()[0]), 0600);

  const QString state = home.file(paths::kStateFile);
  ASSERT_TRUE(profile::WritePrivateProfileString(QStringLiteral("EXEINI"), QStringLiteral("NUMBER"),
                                                 QStringLiteral("1"), state));
  EXPECT_EQ(modeOf(state), 0600);
  EXPECT_EQ(notPrivate(home.path()).join(u'|').toStdString(), "");
}
