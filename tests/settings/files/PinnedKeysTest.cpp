// The file of trusted keys: what a trust writes, what is found again, and
// that a line of another shape pins nothing and is left as it was.
#include "settings/files/PinnedKeys.h"
#include "support/FileModes.h"
#include "support/TempHome.h"

#include <QCryptographicHash>
#include <gtest/gtest.h>

namespace {

ServerCertificate certificate(const QString& host, int port, const QByteArray& keySeed, bool nameMatches = true) {
  ServerCertificate c;
  c.host = host;
  c.port = port;
  c.sha256 = QCryptographicHash::hash("cert " + keySeed, QCryptographicHash::Sha256);
  c.spkiSha256 = QCryptographicHash::hash(keySeed, QCryptographicHash::Sha256);
  c.nameMatches = nameMatches;
  return c;
}

QString key(const QByteArray& seed) {
  return QStringLiteral("sha256//") + QString::fromLatin1(QCryptographicHash::hash(seed, QCryptographicHash::Sha256).toBase64());
}

}  // namespace

TEST(PinnedKeys, ATrustIsOneOwnerOnlyLineFoundForThatServerOnly) {
  TempHome home;
  EXPECT_FALSE(pins::find(QStringLiteral("mail.example.jp"), 995));
  ASSERT_TRUE(pins::trust(certificate(QStringLiteral("Mail.Example.JP"), 995, "k1")));
  EXPECT_EQ(home.read(pins::kPinnedKeysFile), "mail.example.jp:995 " + key("k1").toLatin1() + "\r\n");
  EXPECT_EQ(modeOf(pins::filePath()), 0600);

  const std::optional<pins::Pin> p = pins::find(QStringLiteral("MAIL.example.jp"), 995);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->key, key("k1"));
  EXPECT_FALSE(p->anyName);
  // Another port or another host is another server.
  EXPECT_FALSE(pins::find(QStringLiteral("mail.example.jp"), 465));
  EXPECT_FALSE(pins::find(QStringLiteral("smtp.example.jp"), 995));
  EXPECT_FALSE(pins::find(QStringLiteral("example.jp"), 995));

  // Trusting again replaces the pin of that server, and only that one.
  ASSERT_TRUE(pins::trust(certificate(QStringLiteral("smtp.example.jp"), 465, "k2", false)));
  ASSERT_TRUE(pins::trust(certificate(QStringLiteral("mail.example.jp"), 995, "k3")));
  EXPECT_EQ(home.read(pins::kPinnedKeysFile), "smtp.example.jp:465 " + key("k2").toLatin1() + " any-name\r\n" +
                                                  "mail.example.jp:995 " + key("k3").toLatin1() + "\r\n");
  EXPECT_EQ(pins::find(QStringLiteral("mail.example.jp"), 995)->key, key("k3"));
  EXPECT_TRUE(pins::find(QStringLiteral("smtp.example.jp"), 465)->anyName);

  ASSERT_TRUE(pins::forget(QStringLiteral("MAIL.example.jp"), 995));
  EXPECT_FALSE(pins::find(QStringLiteral("mail.example.jp"), 995));
  EXPECT_TRUE(pins::find(QStringLiteral("smtp.example.jp"), 465));

  ASSERT_TRUE(pins::trust(certificate(QStringLiteral("::1"), 995, "k4")));
  EXPECT_TRUE(home.read(pins::kPinnedKeysFile).contains("\r\n[::1]:995 " + key("k4").toLatin1() + "\r\n"));
  EXPECT_EQ(pins::find(QStringLiteral("::1"), 995)->key, key("k4"));
}

TEST(PinnedKeys, LinesOfAnotherShapePinNothingAndAreKept) {
  TempHome home;
  const QByteArray good = key("ok").toLatin1();
  const QByteArray shortKey = "sha256//" + QByteArray(31, 'x').toBase64();
  const QByteArray lines =
      "# servers I trust\r\n"
      "\r\n"
      "a.example.jp:110\r\n"                                  // no key
      "b.example.jp " + good + "\r\n"                          // no port
      "c.example.jp:99999 " + good + "\r\n"                    // no such port
      "d.example.jp:110 " + shortKey + "\r\n"                  // not a SHA-256
      "e.example.jp:110 sha1//" + QByteArray(20, 'x').toBase64() + "\r\n"
      "f.example.jp:110 " + good + " and-more\r\n"             // a third word of its own
      "g.example.jp:110 " + good.left(good.size() - 1) + "\r\n" // cut base64
      "h.example.jp:110 " + good + ";" + good + "\r\n"         // a list, as libcurl would take it
      "[::1:110 " + good + "\r\n"                              // an open bracket
      "i.example.jp:1x0 " + good + "\r\n"
      "\tj.example.jp:110\t" + good + "  \n";                  // tabs and a bare LF: well-formed
  home.write(pins::kPinnedKeysFile, lines);
  for (const char* host : {"a.example.jp", "b.example.jp", "c.example.jp", "d.example.jp", "e.example.jp",
                           "f.example.jp", "g.example.jp", "h.example.jp", "::1", "i.example.jp"})
    for (int port : {110, 99999})
      EXPECT_FALSE(pins::find(QString::fromLatin1(host), port)) << host;
  EXPECT_EQ(pins::find(QStringLiteral("j.example.jp"), 110)->key, key("ok"));

  // A trust of another server keeps every line as it was.
  ASSERT_TRUE(pins::trust(certificate(QStringLiteral("k.example.jp"), 110, "k")));
  QByteArray expected = lines;
  expected.replace("  \n", "  \r\n");
  EXPECT_EQ(home.read(pins::kPinnedKeysFile), expected + "k.example.jp:110 " + key("k").toLatin1() + "\r\n");
}

TEST(PinnedKeys, ALineThatIsNotCp932IsKeptByteForByte) {
  // A comment written in UTF-8, and a kanji CP932 has two codes for (the
  // IBM one, which CP932 writes back as the NEC-selected one): a trust of
  // another server once rewrote both.
  TempHome home;
  const QByteArray lines = "# \xE4\xBC\x9A\xE7\xA4\xBE\xE3\x81\xAE\xE3\x82\xB5\xE3\x83\xBC\xE3\x83\x90\xE3\x83\xBC\r\n"
                           "# \xFA\x5C\r\n"
                           "a.example.jp:110 " + key("a").toLatin1() + "\r\n";
  home.write(pins::kPinnedKeysFile, lines);
  ASSERT_TRUE(pins::trust(certificate(QStringLiteral("k.example.jp"), 110, "k")));
  EXPECT_EQ(home.read(pins::kPinnedKeysFile), lines + "k.example.jp:110 " + key("k").toLatin1() + "\r\n");
  ASSERT_TRUE(pins::forget(QStringLiteral("a.example.jp"), 110));
  EXPECT_EQ(home.read(pins::kPinnedKeysFile), lines.left(lines.indexOf("a.example")) + "k.example.jp:110 " +
                                                  key("k").toLatin1() + "\r\n");
}

TEST(PinnedKeys, AFileOpenToOthersIsWrittenOwnerOnlyAndAMissingDataFolderFailsTheTrust) {
  {
    TempHome home;
    home.write(pins::kPinnedKeysFile, "");
    setMode(pins::filePath(), 0644);
    ASSERT_TRUE(pins::trust(certificate(QStringLiteral("mail.example.jp"), 995, "k1")));
    EXPECT_EQ(modeOf(pins::filePath()), 0600);
  }
  TempHome bare(false);
  QString why;
  EXPECT_FALSE(pins::trust(certificate(QStringLiteral("mail.example.jp"), 995, "k1"), &why));
  EXPECT_FALSE(why.isEmpty());
  EXPECT_FALSE(pins::find(QStringLiteral("mail.example.jp"), 995));
}
