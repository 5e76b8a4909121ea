// The names quick-saved mails get from their subjects.
#include "viewer/core/MailText.h"

#include <gtest/gtest.h>

TEST(QuickSaveNames, StayInsideTheFolderAndWithinTheLimit) {
  using viewer::quickSaveFileName;
  EXPECT_EQ(quickSaveFileName(QStringLiteral("abc")), QStringLiteral("abc.txt"));
  EXPECT_EQ(quickSaveFileName(QString()), QStringLiteral(".txt"));
  EXPECT_EQ(quickSaveFileName(QStringLiteral("../../etc/x")), QStringLiteral(".._.._etc_x.txt"));
  EXPECT_EQ(quickSaveFileName(QStringLiteral("a\\b")), QStringLiteral("a_b.txt"));
  EXPECT_EQ(quickSaveFileName(QStringLiteral("tab\there\x7F\n")), QStringLiteral("tab_here__.txt"));
  EXPECT_EQ(quickSaveFileName(QStringLiteral("..")), QStringLiteral("__.txt"));
  // Everything else of the subject is kept, spaces and marks included.
  EXPECT_EQ(quickSaveFileName(QStringLiteral(" Re: 会議?*<>| ①㈱～ ")), QStringLiteral(" Re: 会議?*<>| ①㈱～ .txt"));
  // 100 kanji are 300 bytes: cut to whole characters within 255 bytes.
  const QString kanji = quickSaveFileName(QString(100, QChar(0x6F22)));
  EXPECT_EQ(kanji, QString(83, QChar(0x6F22)) + QStringLiteral(".txt"));
  EXPECT_LE(kanji.toUtf8().size(), 255);
  // A character outside the BMP is not split either.
  const QString emoji = quickSaveFileName(QStringLiteral("a") + QString::fromUtf8("😀").repeated(70));
  EXPECT_EQ(emoji, QStringLiteral("a") + QString::fromUtf8("😀").repeated(62) + QStringLiteral(".txt"));
  EXPECT_EQ(emoji.toUtf8().size(), 253);
}
