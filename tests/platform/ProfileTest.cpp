#include "platform/Paths.h"
#include "platform/Profile.h"
#include "platform/Text.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace profile;

namespace {
QByteArray readAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
void writeAll(const QString& path, const QByteArray& data) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(data);
}
const QString S = QStringLiteral("EXEINI");
}  // namespace

TEST(Profile, MissingFileGivesDefaultsAndFirstWriteCreatesFileAndSection) {
  QTemporaryDir dir;
  const QString file = dir.filePath(QStringLiteral("ini.ini"));
  EXPECT_EQ(GetPrivateProfileInt(S, QStringLiteral("NUMBER"), 7, file), 7);
  EXPECT_EQ(GetPrivateProfileString(S, QStringLiteral("NAME"), QStringLiteral("d"), file), QStringLiteral("d"));
  ASSERT_TRUE(WritePrivateProfileString(S, QStringLiteral("NUMBER"), QStringLiteral("1"), file));
  EXPECT_EQ(readAll(file), QByteArray("[EXEINI]\r\nNUMBER=1\r\n"));
  ASSERT_TRUE(WritePrivateProfileString(S, QStringLiteral("NUMBER2"), QStringLiteral("0"), file));
  ASSERT_TRUE(WritePrivateProfileString(S, QStringLiteral("NUMBER"), QStringLiteral("0"), file));
  EXPECT_EQ(readAll(file), QByteArray("[EXEINI]\r\nNUMBER=0\r\nNUMBER2=0\r\n"));
}

TEST(Profile, WriteKeepsOtherSectionsKeysAndLines) {
  QTemporaryDir dir;
  const QString file = dir.filePath(QStringLiteral("x.ini"));
  writeAll(file, "; note\r\n[Other]\r\nNAME=keep\r\n\r\n[exeini]\r\nname=old\r\nZ=1\r\n");
  ASSERT_TRUE(WritePrivateProfileString(S, QStringLiteral("NAME"), QStringLiteral("new"), file));
  ASSERT_TRUE(WritePrivateProfileString(S, QStringLiteral("NAME3"), QStringLiteral("1"), file));
  EXPECT_EQ(readAll(file), QByteArray("; note\r\n[Other]\r\nNAME=keep\r\n\r\n[exeini]\r\nNAME=new\r\nZ=1\r\nNAME3=1\r\n"));
  EXPECT_EQ(GetPrivateProfileString(QStringLiteral("other"), QStringLiteral("name"), QString(), file), QStringLiteral("keep"));
}

TEST(Profile, ReadsAsWindowsDoes) {
  QTemporaryDir dir;
  const QString file = dir.filePath(QStringLiteral("x.ini"));
  QByteArray longValue(300, 'x');
  writeAll(file, "[EXEINI]\nA =  spaced value  \nB=\"quoted\"\nC=2.5\nD=12abc\nE=x\nF=-4\nL=" + longValue + "\nJ=" +
                     text::toCp932(QStringLiteral("日本語①")) + "\n");
  EXPECT_EQ(GetPrivateProfileString(S, QStringLiteral("a"), QString(), file), QStringLiteral("spaced value"));
  EXPECT_EQ(GetPrivateProfileString(S, QStringLiteral("B"), QString(), file), QStringLiteral("quoted"));
  EXPECT_EQ(GetPrivateProfileInt(S, QStringLiteral("C"), 9, file), 2);
  EXPECT_EQ(GetPrivateProfileInt(S, QStringLiteral("D"), 9, file), 12);
  EXPECT_EQ(GetPrivateProfileInt(S, QStringLiteral("E"), 9, file), 0);
  EXPECT_EQ(GetPrivateProfileInt(S, QStringLiteral("F"), 9, file), -4);
  EXPECT_EQ(GetPrivateProfileString(S, QStringLiteral("L"), QString(), file).size(), 255);
  EXPECT_EQ(GetPrivateProfileString(S, QStringLiteral("J"), QString(), file), QStringLiteral("日本語①"));
  EXPECT_EQ(GetPrivateProfileInt(QStringLiteral("NOSECTION"), QStringLiteral("C"), 5, file), 5);
}

TEST(Profile, CannotCreateAFolderAndHonoursTheFileMode) {
  QTemporaryDir dir;
  const QString missing = dir.filePath(QStringLiteral("nofolder/x.ini"));
  EXPECT_FALSE(WritePrivateProfileString(S, QStringLiteral("K"), QStringLiteral("v"), missing));
  EXPECT_FALSE(QDir(dir.filePath(QStringLiteral("nofolder"))).exists());

  const QString secret = dir.filePath(QStringLiteral("secret.ini"));
  ASSERT_TRUE(WritePrivateProfileString(S, QStringLiteral("K"), QStringLiteral("v"), secret, 0600));
  struct stat st;
  ASSERT_EQ(::stat(QFile::encodeName(secret).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("secret.ini")});
}

TEST(Paths, NamesMatchWithoutRegardToLetterCase) {
  QTemporaryDir dir;
  ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("★MailData")));
  writeAll(dir.filePath(QStringLiteral("★MailData/Plkdata10.data")), "x");
  EXPECT_EQ(paths::resolveIn(dir.path(), QStringLiteral("★MAilData\\plkdata10.data")),
            dir.filePath(QStringLiteral("★MailData/Plkdata10.data")));
  // A file not there yet keeps the spelling asked for, in the existing folder.
  EXPECT_EQ(paths::resolveIn(dir.path(), QStringLiteral("★MAILDATA/plkdata2.data")),
            dir.filePath(QStringLiteral("★MailData/plkdata2.data")));
  paths::setProgramFolder(dir.path());
  EXPECT_TRUE(paths::folderExists(paths::kDataFolder));
  EXPECT_FALSE(paths::folderExists(paths::kAttachFolder));
}
