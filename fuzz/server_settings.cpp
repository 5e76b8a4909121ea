// "pelkit.ini", the server settings file, as a folder copied from another
// machine has it: read, written back, read again.
//
// Checks: the values are one line with whole surrogate pairs; what was read
// is written so that it reads back the same (characters CP932 lacks as
// '?', an empty permission as none).
#include "FuzzCheck.h"
#include "settings/files/AccountSettings.h"

using namespace fuzzcheck;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  AccountSettingsRecord read;
  readServerSettings(bytesOf(data, size), read);
  for (const QString* v : {&read.SmtpServer, &read.Pop3Server, &read.MailAddress, &read.PlainPop3Server,
                           &read.PlainSmtpServer})
  {
    // Values are kept as written, control characters too; a line break
    // cannot be in one.
    checkText(*v, "a server value");
    FUZZ_CHECK(!v->contains(u'\r') && !v->contains(u'\n'), QStringLiteral("a value of two lines"));
  }

  AccountSettingsRecord expected = read;
  for (QString* v : {&expected.SmtpServer, &expected.Pop3Server, &expected.MailAddress, &expected.PlainPop3Server,
                     &expected.PlainSmtpServer})
    *v = throughCp932(*v);
  if (expected.PlainPop3Server.trimmed().isEmpty()) expected.PlainPop3Server.clear();
  if (expected.PlainSmtpServer.trimmed().isEmpty()) expected.PlainSmtpServer.clear();

  AccountSettingsRecord back;
  readServerSettings(serverSettingsText(read), back);
  auto same = [](const QString& a, const QString& b, const char* what) {
    FUZZ_CHECK(a == b, QStringLiteral("%1 \"%2\" reads back as \"%3\"").arg(what, a, b));
  };
  same(expected.SmtpServer, back.SmtpServer, "SMTP");
  same(expected.Pop3Server, back.Pop3Server, "POP3");
  same(expected.MailAddress, back.MailAddress, "MAIL");
  same(expected.PlainPop3Server, back.PlainPop3Server, "ALLOWPLAIN_POP3");
  same(expected.PlainSmtpServer, back.PlainSmtpServer, "ALLOWPLAIN_SMTP");
  FUZZ_CHECK(back.ApopFlag == read.ApopFlag,
             QStringLiteral("APOP %1 reads back as %2").arg(read.ApopFlag).arg(back.ApopFlag));
  // A permission read is one for the very server it names.
  if (!back.PlainPop3Server.trimmed().isEmpty())
    FUZZ_CHECK(PlainLoginAllowed(back.PlainPop3Server, back.PlainPop3Server), QStringLiteral("permission"));
  return 0;
}
