#include "platform/Profile.h"
#include "settings/files/AccountSettings.h"
#include "support/TempHome.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {
void writePelkit(const QByteArray& content) {
  QFile f(QDir::current().filePath(QStringLiteral("pelkit.ini")));
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  f.write(content);
}
void resetSettings() { AccountSettings() = AccountSettingsRecord{}; }
}  // namespace

TEST(ServerSettingsFile, MissingFileLeavesEverythingEmpty) {
  TempHome home;
  resetSettings();
  LoadServerSettings();
  EXPECT_TRUE(AccountSettings().SmtpServer.isEmpty());
  EXPECT_TRUE(AccountSettings().Pop3Server.isEmpty());
  EXPECT_TRUE(AccountSettings().MailAddress.isEmpty());
  EXPECT_EQ(AccountSettings().ApopFlag, 0);
}

TEST(ServerSettingsFile, PrefixesAreExactAndTheLaterLineWins) {
  TempHome home;
  resetSettings();
  writePelkit("POP3=first.example\r\nSMTP=smtp.example\r\nsmtp=lower.example\r\nPOP3=second.example\r\n"
              "MAIL= spaced@example \r\nunrelated line\r\n");
  LoadServerSettings();
  EXPECT_EQ(AccountSettings().Pop3Server, QStringLiteral("second.example"));
  EXPECT_EQ(AccountSettings().SmtpServer, QStringLiteral("smtp.example"));
  EXPECT_EQ(AccountSettings().MailAddress, QStringLiteral(" spaced@example "));  // nothing trimmed
}

TEST(ServerSettingsFile, ApopValueIsReadAsARoundedNumber) {
  TempHome home;
  const std::pair<const char*, int> cases[] = {{"1", 1}, {"", 0}, {"abc", 0}, {"1.6", 2}, {"2.5", 2}, {"0.5", 0}, {"99999", 32767},
                                                {"1e30", 32767}, {"-1e30", -32768}};
  for (const auto& [value, flag] : cases) {
    resetSettings();
    writePelkit(QByteArray("APOP=") + value + "\r\n");
    LoadServerSettings();
    EXPECT_EQ(AccountSettings().ApopFlag, flag) << value;
  }
}

TEST(ServerSettingsFile, LongValueIsCutTo100Characters) {
  TempHome home;
  resetSettings();
  writePelkit("MAIL=" + QByteArray(150, 'm') + "\r\n");
  LoadServerSettings();
  EXPECT_EQ(AccountSettings().MailAddress, QString(100, QChar(u'm')));
}

TEST(ServerSettingsFile, SaveWritesFourLinesAndReloads) {
  TempHome home;
  resetSettings();
  auto& s = AccountSettings();
  s.SmtpServer = QStringLiteral("smtp.example.jp");
  s.Pop3Server = QStringLiteral("pop.example.jp");
  s.MailAddress = QStringLiteral("灯火 <tomo@example.jp>");
  s.ApopFlag = 1;
  ASSERT_TRUE(SaveServerSettings());
  QFile f(QDir::current().filePath(QStringLiteral("pelkit.ini")));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), QByteArray("SMTP=smtp.example.jp\r\nPOP3=pop.example.jp\r\n" "MAIL=\x93\x94\x89\xce <tomo@example.jp>\r\nAPOP=1\r\n"));
  resetSettings();
  LoadServerSettings();
  EXPECT_EQ(AccountSettings().MailAddress, QStringLiteral("灯火 <tomo@example.jp>"));
  EXPECT_EQ(AccountSettings().ApopFlag, 1);
}

TEST(ServerSettingsFile, PercentSignsInValuesAreSavedAsTheyAre) {
  // "%1" in an address once took the place of the APOP value, which was lost.
  TempHome home;
  resetSettings();
  auto& s = AccountSettings();
  s.SmtpServer = QStringLiteral("smtp%2.example.jp");
  s.MailAddress = QStringLiteral("user%1@example.jp");
  s.ApopFlag = 1;
  ASSERT_TRUE(SaveServerSettings());
  resetSettings();
  LoadServerSettings();
  EXPECT_EQ(AccountSettings().SmtpServer, QStringLiteral("smtp%2.example.jp"));
  EXPECT_EQ(AccountSettings().MailAddress, QStringLiteral("user%1@example.jp"));
  EXPECT_EQ(AccountSettings().ApopFlag, 1);
}

TEST(ServerSettingsFile, EachWorkingDirectoryHasItsOwnFile) {
  TempHome home;
  resetSettings();
  writePelkit("POP3=here.example\r\n");
  ASSERT_TRUE(QDir::current().mkdir(QStringLiteral("elsewhere")));
  QDir::setCurrent(QStringLiteral("elsewhere"));
  LoadServerSettings();
  EXPECT_TRUE(AccountSettings().Pop3Server.isEmpty());
  AccountSettings().Pop3Server = QStringLiteral("there.example");
  ASSERT_TRUE(SaveServerSettings());
  QDir::setCurrent(home.path());
  resetSettings();
  LoadServerSettings();
  EXPECT_EQ(AccountSettings().Pop3Server, QStringLiteral("here.example"));
}

TEST(AccountFile, SaveDeclineAndOwnerOnlyPermission) {
  TempHome home;
  EXPECT_EQ(ReadAccountFile().id, QString());
  ASSERT_TRUE(WriteAccountFile(QStringLiteral("user1"), QStringLiteral("pass1"), true));
  struct stat st;
  ASSERT_EQ(::stat(QFile::encodeName(accountFilePath()).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // Declining later keeps the saved values and records the choice.
  ASSERT_TRUE(WriteAccountFile(QStringLiteral("other"), QStringLiteral("other"), false));
  EXPECT_EQ(ReadAccountFile().id, QStringLiteral("user1"));
  EXPECT_EQ(ReadAccountFile().password, QStringLiteral("pass1"));
  EXPECT_EQ(profile::GetPrivateProfileString(QStringLiteral("EXEINI"), QStringLiteral("NAME3"), QString(), accountFilePath()),
            QStringLiteral("0"));
  // Empty boxes saved store empty values.
  ASSERT_TRUE(WriteAccountFile(QString(), QString(), true));
  EXPECT_EQ(ReadAccountFile().id, QString());
  EXPECT_EQ(ReadAccountFile().password, QString());
  // The settings folder is the record files' folder under another spelling.
  EXPECT_TRUE(accountFilePath().contains(QStringLiteral("★MAilData")));
}

TEST(AccountFile, WithoutDataFolderNothingIsCreated) {
  TempHome home(false);
  EXPECT_FALSE(WriteAccountFile(QStringLiteral("u"), QStringLiteral("p"), true));
  EXPECT_TRUE(QDir(home.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
}

TEST(ServerSettingsFile, UnencryptedLoginPermissionFollowsTheFourLinesAndIsTiedToItsServer) {
  TempHome home;
  resetSettings();
  auto& s = AccountSettings();
  s.SmtpServer = QStringLiteral("127.0.0.1:2525");
  s.Pop3Server = QStringLiteral("pop.lan");
  s.PlainSmtpServer = s.SmtpServer;
  s.PlainPop3Server = s.Pop3Server;
  ASSERT_TRUE(SaveServerSettings());
  QFile f(QDir::current().filePath(QStringLiteral("pelkit.ini")));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), QByteArray("SMTP=127.0.0.1:2525\r\nPOP3=pop.lan\r\n" "MAIL=\r\nAPOP=0\r\n"
                                    "ALLOWPLAIN_POP3=pop.lan\r\nALLOWPLAIN_SMTP=127.0.0.1:2525\r\n"));
  resetSettings();
  LoadServerSettings();
  EXPECT_EQ(AccountSettings().Pop3Server, QStringLiteral("pop.lan"));
  EXPECT_EQ(AccountSettings().PlainPop3Server, QStringLiteral("pop.lan"));
  EXPECT_EQ(AccountSettings().PlainSmtpServer, QStringLiteral("127.0.0.1:2525"));

  // A file of the four lines allows nothing, even after a run that allowed.
  writePelkit("SMTP=127.0.0.1:2525\r\nPOP3=pop.lan\r\n" "MAIL=\r\nAPOP=0\r\n");
  LoadServerSettings();
  EXPECT_TRUE(AccountSettings().PlainPop3Server.isEmpty());
  EXPECT_TRUE(AccountSettings().PlainSmtpServer.isEmpty());

  // Only for the very server value it was given for.
  EXPECT_TRUE(PlainLoginAllowed(QStringLiteral("Pop.LAN"), QStringLiteral(" pop.lan ")));
  EXPECT_FALSE(PlainLoginAllowed(QStringLiteral("pop.lan"), QStringLiteral("pop.isp.example")));
  EXPECT_FALSE(PlainLoginAllowed(QStringLiteral("pop.lan"), QStringLiteral("pop.lan:110")));
  EXPECT_FALSE(PlainLoginAllowed(QString(), QString()));
  EXPECT_FALSE(PlainLoginAllowed(QStringLiteral(" "), QStringLiteral(" ")));
}

TEST(ServerSettingsFile, LeavingMailOnTheServerFollowsTheFourLinesAndAFileWithoutItDeletesOnceStored) {
  TempHome home;
  resetSettings();
  auto& s = AccountSettings();
  s.Pop3Server = QStringLiteral("pop.lan");
  // Untouched choices add nothing: the file stays the four lines.
  ASSERT_TRUE(SaveServerSettings());
  QFile f(QDir::current().filePath(QStringLiteral("pelkit.ini")));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), QByteArray("SMTP=\r\nPOP3=pop.lan\r\n" "MAIL=\r\nAPOP=0\r\n"));
  f.close();

  s.LeaveOnServer = true;
  s.LeaveDeleteAfterDays = true;
  s.LeaveDays = 30;
  s.LeaveDeleteWithHere = true;
  s.PlainPop3Server = s.Pop3Server;
  ASSERT_TRUE(SaveServerSettings());
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), QByteArray("SMTP=\r\nPOP3=pop.lan\r\n" "MAIL=\r\nAPOP=0\r\n" "ALLOWPLAIN_POP3=pop.lan\r\n"
                                    "LEAVE_ON_SERVER=1\r\nLEAVE_DELETE_AFTER=1\r\nLEAVE_DAYS=30\r\n"
                                    "LEAVE_DELETE_WITH_HERE=1\r\n"));
  f.close();
  resetSettings();
  LoadServerSettings();
  EXPECT_TRUE(s.LeaveOnServer);
  EXPECT_TRUE(s.LeaveDeleteAfterDays);
  EXPECT_EQ(s.LeaveDays, 30);
  EXPECT_TRUE(s.LeaveDeleteWithHere);
  EXPECT_EQ(s.Pop3Server, QStringLiteral("pop.lan"));

  // A file of the four lines read after a run that left mail: delete once stored.
  writePelkit("SMTP=\r\nPOP3=pop.lan\r\n" "MAIL=\r\nAPOP=0\r\n");
  LoadServerSettings();
  EXPECT_FALSE(s.LeaveOnServer);
  EXPECT_FALSE(s.LeaveDeleteAfterDays);
  EXPECT_FALSE(s.LeaveDeleteWithHere);
  EXPECT_EQ(s.LeaveDays, AccountSettingsRecord::kDefaultLeaveDays);

  // Days outside 1 to 365 are brought inside; a value that is no number is the default.
  writePelkit("POP3=pop.lan\r\nLEAVE_ON_SERVER=1\r\nLEAVE_DAYS=0\r\n");
  LoadServerSettings();
  EXPECT_TRUE(s.LeaveOnServer);
  EXPECT_EQ(s.LeaveDays, 1);
  writePelkit("POP3=pop.lan\r\nLEAVE_DAYS=9999\r\n");
  LoadServerSettings();
  EXPECT_EQ(s.LeaveDays, 365);
  writePelkit("POP3=pop.lan\r\nLEAVE_DAYS=x\r\n");
  LoadServerSettings();
  EXPECT_EQ(s.LeaveDays, AccountSettingsRecord::kDefaultLeaveDays);
}

TEST(ServerSettingsFile, SignInKeysFollowThePermissionsAndAFileWithoutThemIsAPasswordAccount) {
  TempHome home;
  resetSettings();
  auto& s = AccountSettings();
  s.SmtpServer = QStringLiteral("smtp.office365.com:587");
  s.Pop3Server = QStringLiteral("outlook.office365.com:995");
  s.MailAddress = QStringLiteral("tomo@example.jp");
  s.PlainPop3Server = QStringLiteral("pop.lan");
  s.Provider = QStringLiteral("microsoft");
  s.SignIn = 1;
  s.Pop3Tls = QStringLiteral("implicit");
  s.SmtpTls = QStringLiteral("starttls");
  s.OAuthUser = QStringLiteral("tomo@example.onmicrosoft.com");
  ASSERT_TRUE(SaveServerSettings());
  QFile f(QDir::current().filePath(QStringLiteral("pelkit.ini")));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), QByteArray("SMTP=smtp.office365.com:587\r\nPOP3=outlook.office365.com:995\r\n"
                                    "MAIL=tomo@example.jp\r\nAPOP=0\r\nALLOWPLAIN_POP3=pop.lan\r\n"
                                    "PROVIDER=microsoft\r\nSIGNIN=1\r\nPOP3TLS=implicit\r\nSMTPTLS=starttls\r\n"
                                    "OAUTHUSER=tomo@example.onmicrosoft.com\r\n"));
  f.close();
  resetSettings();
  LoadServerSettings();
  EXPECT_EQ(s.Provider, QStringLiteral("microsoft"));
  EXPECT_EQ(s.SignIn, 1);
  EXPECT_EQ(s.Pop3Tls, QStringLiteral("implicit"));
  EXPECT_EQ(s.SmtpTls, QStringLiteral("starttls"));
  EXPECT_EQ(s.OAuthUser, QStringLiteral("tomo@example.onmicrosoft.com"));
  // The four lines never take a new key's value for theirs.
  EXPECT_EQ(s.Pop3Server, QStringLiteral("outlook.office365.com:995"));
  EXPECT_EQ(s.ApopFlag, 0);

  // A design-shaped file, read after an OAuth account was in memory: a
  // password account, every new value at its default.
  writePelkit("SMTP=smtp.example\r\nPOP3=pop.example\r\n" "MAIL=a@example\r\nAPOP=1\r\n");
  LoadServerSettings();
  EXPECT_TRUE(s.Provider.isEmpty());
  EXPECT_EQ(s.SignIn, 0);
  EXPECT_TRUE(s.Pop3Tls.isEmpty());
  EXPECT_TRUE(s.SmtpTls.isEmpty());
  EXPECT_TRUE(s.OAuthUser.isEmpty());
  EXPECT_EQ(s.ApopFlag, 1);
  // ...and is written back as it was: values at their defaults add no key.
  ASSERT_TRUE(SaveServerSettings());
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), QByteArray("SMTP=smtp.example\r\nPOP3=pop.example\r\n" "MAIL=a@example\r\nAPOP=1\r\n"));
  f.close();

  // SIGNIN is a number as APOP is; keys are exact, as the four lines' are.
  writePelkit("SIGNIN=1.0\r\nsignin=0\r\nprovider=google\r\nSMTPTLS=implicit\r\n");
  LoadServerSettings();
  EXPECT_EQ(s.SignIn, 1);
  EXPECT_TRUE(s.Provider.isEmpty());
  EXPECT_EQ(s.SmtpTls, QStringLiteral("implicit"));
}

TEST(SecretKeys, TheKeysNameTheAccountTheyBelongTo) {
  resetSettings();
  auto& s = AccountSettings();
  s.UserId = QStringLiteral("tomo");
  s.Pop3Server = QStringLiteral(" pop.example.jp:995 ");
  s.MailAddress = QStringLiteral("tomo@example.jp");
  EXPECT_EQ(secrets::passwordKey(), QStringLiteral("password:tomo@pop.example.jp:995"));
  // A provider names the token's issuer; by hand, the token endpoint's host.
  s.Provider = QStringLiteral("google");
  EXPECT_EQ(secrets::refreshTokenKey(), QStringLiteral("refresh-token:tomo@example.jp@google"));
  EXPECT_EQ(secrets::refreshTokenKey(QStringLiteral("https://login.example.net:8443/oauth2/token")),
            QStringLiteral("refresh-token:tomo@example.jp@google"));
  s.OAuthUser = QStringLiteral("tomo@example.onmicrosoft.com");
  for (const QString& manual : {QString(), QStringLiteral("other")}) {
    s.Provider = manual;
    EXPECT_EQ(secrets::refreshTokenKey(QStringLiteral("https://Login.Example.net:8443/oauth2/token")),
              QStringLiteral("refresh-token:tomo@example.onmicrosoft.com@login.example.net"));
    EXPECT_EQ(secrets::refreshTokenKey(), QStringLiteral("refresh-token:tomo@example.onmicrosoft.com@other"));
  }
  resetSettings();
}
