// Laying out a program folder and settling the folder of a run, in the
// process; the command line's mailto: rule.
#include "platform/CommandLine.h"
#include "platform/Paths.h"
#include "platform/ProgramFolder.h"
#include "platform/Text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

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
