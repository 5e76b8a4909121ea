#include "platform/Paths.h"
#include "platform/Text.h"
#include "shell/ProgramFolder.h"
#include "support/MailServers.h"

#include <QDir>
#include <QFile>
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
