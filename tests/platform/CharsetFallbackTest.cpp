// Decoding on a C library without the Japanese, Chinese or Korean
// converters: readable where it can be, never a crash. The cases run in a
// child process of this program with the converters taken away.
#include "platform/Charset.h"

#include <QCoreApplication>
#include <QProcess>
#include <gtest/gtest.h>

using namespace charset;

namespace {
bool inChild() { return qEnvironmentVariableIsSet("TOMOSHIBI_MISSING_CONVERTERS"); }
}  // namespace

TEST(WithoutConverters, TextStaysReadableAsFarAsItCan) {
  if (!inChild()) GTEST_SKIP() << "runs in the child process";
  // EUC-JP, Shift_JIS and unlabelled 8-bit text: ASCII survives, the rest
  // becomes U+FFFD, nothing is dereferenced that is not there.
  EXPECT_EQ(decodeCharset("abc \xc6\xfc", "euc-jp"), QStringLiteral("abc \uFFFD\uFFFD"));
  EXPECT_TRUE(decodeGuess("x \x93\xfa\x96\x7b y").startsWith(u'x'));
  EXPECT_TRUE(decodeCharset("k \xb0\xa1", "gb2312").startsWith(u'k'));
  EXPECT_TRUE(decodeCharset("k \xb0\xa1", "euc-kr").startsWith(u'k'));
}

TEST(WithoutConverters, NeitherCrashesNorHangs) {
  if (inChild()) GTEST_SKIP();
  QProcess child;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(MISSING_CONVERTERS_LIB));
  env.insert(QStringLiteral("TOMOSHIBI_MISSING_CONVERTERS"),
             QStringLiteral("EUC-JP-MS,EUC-JP,CP932,GB18030,CP949,WINDOWS-1252"));
  child.setProcessEnvironment(env);
  child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=WithoutConverters.Text*")});
  ASSERT_TRUE(child.waitForFinished(20000));
  EXPECT_EQ(child.exitStatus(), QProcess::NormalExit) << child.readAllStandardError().toStdString();
  EXPECT_EQ(child.exitCode(), 0) << child.readAllStandardOutput().toStdString();
}
