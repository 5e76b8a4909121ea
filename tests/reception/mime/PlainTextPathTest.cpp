// The two ways a received mail is read: a mail of one plain text part
// straight from its bytes, and any mail through GMime's tree. Wherever the
// first takes a mail, it must give exactly what the second gives, or the
// records of the same mail would differ with the way it was read.
#include "reception/mime/MimeDecode.h"

#include <QDirIterator>
#include <QFile>
#include <gtest/gtest.h>

using maillib::DecodedMail;

namespace {

QByteArray readAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The mails of the tests: the golden mails and the fuzz targets' seeds and findings.
QList<QPair<QString, QByteArray>> testMails() {
  QList<QPair<QString, QByteArray>> out;
  for (const char* folder : {"/tests/data/mail", "/tests/data/fuzz-seeds/mail", "/tests/data/fuzz-regressions/mail"}) {
    QDirIterator it(QStringLiteral(TOMOSHIBI_SOURCE_DIR) + QLatin1String(folder), QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
      const QString path = it.next();
      out.append({path, readAll(path)});
    }
  }
  return out;
}

QByteArray jis(const QByteArray& kanji) { return "\x1b$B" + kanji + "\x1b(B"; }

// Mails shaped as people send them, and the odd ones a plain reading could
// get wrong.
QList<QPair<QString, QByteArray>> madeMails() {
  const QByteArray greeting = jis("$3$s$K$A$O!\"$*85:$$G$9$+!#");  // こんにちは、お元気ですか。
  const QByteArray head = "From: =?ISO-2022-JP?B?GyRCOzNFRBsoQg==?= <yamada@example.jp>\r\n"
                          "To: tomo@localhost\r\n"
                          "Subject: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?= 1\r\n"
                          "Date: Mon, 1 Apr 2024 10:00:00 +0900\r\n"
                          "Message-ID: <made@example.jp>\r\n"
                          "MIME-Version: 1.0\r\n";
  const QByteArray jisType = "Content-Type: text/plain; charset=ISO-2022-JP\r\nContent-Transfer-Encoding: 7bit\r\n";
  QByteArray lines;
  for (int l = 0; l < 12; ++l) lines += greeting + " " + QByteArray::number(l) + "\r\n";
  const QByteArray utf8 = QStringLiteral("こんにちは ①㈱～ ﾃｽﾄ\r\n").toUtf8();
  const QByteArray sjis = QByteArray("\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd \x87\x40\r\n");  // こんにちは ①
  return {
      {"ISO-2022-JP, as the benchmark's small mails", head + jisType + "\r\n" + lines},
      {"no Content-Type at all", head + "\r\n" + lines},
      {"UTF-8 in 8 bits", head + "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\n" + utf8},
      {"Shift_JIS, no encoding named", head + "Content-Type: text/plain; charset=Shift_JIS\r\n\r\n" + sjis},
      {"a charset in capitals with spaces", head + "Content-Type: Text/Plain ;  CharSet = utf-8 \r\n\r\n" + utf8},
      {"no charset: guessed", head + "Content-Type: text/plain\r\n\r\n" + sjis + utf8},
      {"format=flowed", head + "Content-Type: text/plain; charset=UTF-8; format=flowed\r\n\r\n"
                               "a line that goes \r\non and on\r\n> quoted \r\n>  stuffed\r\n-- \r\nsig\r\n"},
      {"format=flowed; delsp=yes", head + "Content-Type: text/plain; charset=UTF-8; format=flowed; delsp=yes\r\n\r\n"
                                          "ひとつ \r\nの行\r\n"},
      {"a quoted charset", head + "Content-Type: text/plain; charset=\"iso-2022-jp\"\r\n\r\n" + lines},
      {"an RFC 2231 charset", head + "Content-Type: text/plain; charset*=us-ascii''utf-8\r\n\r\n" + utf8},
      {"a folded subject and sender",
       "From: =?UTF-8?B?5bGx55Sw?=\r\n <yamada@example.jp> (comment)\r\nSubject: first\r\n\tsecond =?UTF-8?Q?=E2=91=A0?=\r\n"
       "Date: Mon, 1 Apr 2024\r\n\r\n" + utf8},
      {"Sender without From", "Sender: sender@example.jp\r\nSubject: x\r\n\r\nbody\r\n"},
      {"trailing blank lines and spaces", head + "\r\nbody   \r\n\r\n\r\n  \r\n"},
      {"an empty body", head + "\r\n"},
      {"controls and NUL in the body", head + "\r\na\x01" "b\tc\fd" + QByteArray(1, '\0') + "e\r\n\x1b" "f\r\n"},
      {"8-bit bytes in the subject", "Subject: " + sjis.left(10) + "\r\nFrom: a@b\r\n\r\nx\r\n"},
      {"lines ending in LF only", "Subject: lf\nFrom: a@b\n\nbody\nmore\n"},
      {"a bare CR in the header", "Subject: a\rb\r\nFrom: a@b\r\n\r\nx\r\n"},
      {"a blank before the colon", "Subject : spaced\r\nFrom: a@b\r\n\r\nx\r\n"},
      {"a line that is no field", "Subject: x\r\nnot a field\r\nFrom: a@b\r\n\r\nx\r\n"},
      {"two subjects", "Subject: one\r\nSubject: two\r\nFrom: a@b\r\n\r\nx\r\n"},
      {"an attachment's disposition", head + "Content-Disposition: attachment; filename=a.txt\r\n\r\nx\r\n"},
      {"a named text", head + "Content-Type: text/plain; name=a.txt\r\n\r\nx\r\n"},
      {"quoted-printable", head + "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n=E2=91=A0\r\n"},
      {"base64", head + "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: base64\r\n\r\n" + utf8.toBase64() + "\r\n"},
      {"an unknown encoding", head + "Content-Transfer-Encoding: x-uuencode\r\n\r\nbegin 644 a\r\n`\r\nend\r\n"},
      {"HTML", head + "Content-Type: text/html; charset=UTF-8\r\n\r\n<p>a</p>\r\n"},
      {"a header only", head},
      {"a header with a fold first", " folded\r\nSubject: x\r\n\r\nbody\r\n"},
      {"a message/partial", head + "Content-Type: message/partial; id=\"a\"; number=1; total=2\r\n\r\npart\r\n"},
  };
}

}  // namespace

TEST(PlainTextPath, EveryMailItTakesReadsAsTheTreeReadsIt) {
  int taken = 0, left = 0;
  QStringList madeTaken;
  for (const auto& [name, raw] : testMails() + madeMails()) {
    const std::optional<DecodedMail> plain = maillib::decodeMailWithoutTree(raw);
    if (!plain) {
      ++left;
      continue;
    }
    ++taken;
    QByteArray copy = raw;
    const DecodedMail tree = maillib::decodeMailThroughTree(std::move(copy));
    const std::string what = name.toStdString();
    EXPECT_EQ(plain->subject, tree.subject) << what;
    EXPECT_EQ(plain->from, tree.from) << what;
    EXPECT_EQ(plain->date, tree.date) << what;
    EXPECT_EQ(plain->body, tree.body) << what;
    EXPECT_TRUE(tree.attachments.isEmpty()) << what;
    EXPECT_FALSE(tree.partial) << what;
    // The result decodeMail gives is the plain reading.
    EXPECT_EQ(maillib::decodeMail(raw).body, plain->body) << what;
  }
  // Both ways are exercised.
  EXPECT_GE(taken, 12);
  EXPECT_GE(left, 12);
}

TEST(PlainTextPath, OnlyOnePlainTextPartInNoEncodingIsTaken) {
  const QStringList taken{
      "ISO-2022-JP, as the benchmark's small mails", "no Content-Type at all", "UTF-8 in 8 bits",
      "Shift_JIS, no encoding named", "a charset in capitals with spaces", "format=flowed",
      "format=flowed; delsp=yes", "a folded subject and sender", "an empty body", "controls and NUL in the body"};
  const QStringList left{"lines ending in LF only", "a bare CR in the header", "a blank before the colon",
                         "a line that is no field", "two subjects", "an attachment's disposition", "a named text",
                         "quoted-printable", "base64", "an unknown encoding", "HTML", "a header only",
                         "a message/partial", "a quoted charset", "an RFC 2231 charset", "a header with a fold first"};
  for (const auto& [name, raw] : madeMails()) {
    if (taken.contains(name)) EXPECT_TRUE(maillib::decodeMailWithoutTree(raw).has_value()) << name.toStdString();
    if (left.contains(name)) EXPECT_FALSE(maillib::decodeMailWithoutTree(raw).has_value()) << name.toStdString();
  }
}
