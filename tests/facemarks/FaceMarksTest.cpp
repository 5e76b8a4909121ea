// The face-mark file: read in the encoding its bytes show, written back
// whole without growing a line break each time.
#include "facemarks/FaceMarks.h"
#include "platform/Paths.h"
#include "platform/Text.h"
#include "support/TempHome.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using facemarks::Collection;

TEST(FaceMarkFile, ShippedFileReadsAsCp932AndMissingOrUnreadableSaySo) {
  TempHome home;
  const Collection shipped = facemarks::load(facemarks::collectionFile());
  EXPECT_EQ(shipped.state, Collection::State::Read);
  EXPECT_FALSE(shipped.text.isEmpty());
  EXPECT_FALSE(shipped.text.contains(QChar(0xFFFD)));

  home.write(paths::kFaceMarkFile, text::encodeText(QStringLiteral("①㈱～(^_^)\r\n"), text::FileEncoding::Cp932));
  EXPECT_EQ(facemarks::load(facemarks::collectionFile()).text, QStringLiteral("①㈱～(^_^)\r\n"));

  QFile::remove(facemarks::collectionFile());
  EXPECT_EQ(facemarks::load(facemarks::collectionFile()).state, Collection::State::Missing);
  // A folder where the file should be: there, but not readable as a file.
  ASSERT_TRUE(QDir().mkpath(facemarks::collectionFile()));
  const Collection odd = facemarks::load(facemarks::collectionFile());
  EXPECT_EQ(odd.state, Collection::State::Unreadable);
  EXPECT_TRUE(odd.text.isEmpty());
}

TEST(FaceMarkFile, WritingBackAddsALineBreakOnlyWhenTheTextLacksOne) {
  TempHome home;
  const QString path = facemarks::collectionFile();
  QString error;
  ASSERT_EQ(facemarks::save(path, QStringLiteral("(^_^)\n①㈱～"), {}, &error), textproc::WriteResult::Written);
  const QByteArray once = home.read(paths::kFaceMarkFile);
  EXPECT_EQ(once, text::encodeText(QStringLiteral("(^_^)\r\n①㈱～\r\n"), text::FileEncoding::Cp932));
  // Read back and written again, as an open and a close do: no growth.
  for (int i = 0; i < 3; ++i)
    ASSERT_EQ(facemarks::save(path, facemarks::load(path).text, {}, &error), textproc::WriteResult::Written);
  EXPECT_EQ(home.read(paths::kFaceMarkFile), once);
  EXPECT_EQ(facemarks::withFinalBreak(QString()), QStringLiteral("\r\n"));
}

TEST(FaceMarkFile, AFailedWriteKeepsTheOldFile) {
  TempHome home;
  const QString path = facemarks::collectionFile();
  const QByteArray before = home.read(paths::kFaceMarkFile);
  // The new text cannot be put beside the file.
  ASSERT_TRUE(QDir().mkpath(path + QStringLiteral(".new")));
  QString error;
  EXPECT_EQ(facemarks::save(path, QStringLiteral("new"), {}, &error), textproc::WriteResult::Failed);
  EXPECT_FALSE(error.isEmpty());
  EXPECT_EQ(home.read(paths::kFaceMarkFile), before);
}
