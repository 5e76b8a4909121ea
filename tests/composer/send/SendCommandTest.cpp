// The real program: tomoshibi --send against the local aiosmtpd, and a mail
// sent to oneself fetched again with tomoshibi --check.
#include "composer/send/SendCommand.h"
#include "platform/CommandLine.h"
#include "platform/Paths.h"
#include "platform/TestHooks.h"
#include "platform/Text.h"
#include "reception/maillib/SmtpLink.h"
#include "store/RecordFile.h"
#include "store/Records.h"
#include "store/sent/SentStore.h"
#include "support/MailServers.h"
#include "support/ParsedMail.h"
#include "support/SmtpPeer.h"
#include "support/TempHome.h"

#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

MailServers::Options refusing() {
  MailServers::Options o;
  o.smtpReject = {QStringLiteral("gone@example.com")};
  return o;
}

class SendCommand : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(servers_.ok()) << servers_.error().toStdString(); }

  // The test SMTP server speaks plain SMTP: allowed, as the server dialog's
  // check box allows it.
  void settings(const MailServers& s) {
    writeServerSettings(home_.path(), QStringLiteral("127.0.0.1:%1").arg(s.smtpPort()),
                        QStringLiteral("127.0.0.1:%1").arg(s.pop3Port()), s.address(), 0, true);
  }
  QString file(const QString& name, const QByteArray& data) {
    home_.write(name, data);
    return home_.path() + u'/' + name;
  }
  RunResult send(const QString& to, const QString& subject, const QString& bodyFile, const QString& attach = QString()) {
    QStringList args{QStringLiteral("--home"), home_.path(), QStringLiteral("--send"), QStringLiteral("--to"), to,
                     QStringLiteral("--subject"), subject, QStringLiteral("--body-file"), bodyFile};
    if (!attach.isEmpty()) args << QStringLiteral("--attach") << attach;
    RunResult r = runProgram(args, home_.path());
    EXPECT_TRUE(r.finished);
    return r;
  }

  TempHome home_;
  MailServers servers_{refusing()};
};

}  // namespace

TEST_F(SendCommand, AJapaneseMailWithAttachmentsArrivesAsTyped) {
  settings(servers_);
  const QString subject = QStringLiteral("【ご連絡】来月の定例会（第３回）について");
  const QString body = QStringLiteral("各位\r\n\r\n定例会の資料を添付します。\r\nご確認ください。\r\n");
  const QString bodyFile = file(QStringLiteral("本文.txt"), body.toUtf8());
  QByteArray sheet;
  for (int i = 0; i < 70000; ++i) sheet += char((i * 131) >> 3);
  const QString a1 = file(QStringLiteral("議事録 2024年度.xlsx"), sheet);
  const QString a2 = file(QStringLiteral("readme.txt"), "plain\n");
  const RunResult r = send(QStringLiteral("山田 花子 <hanako@example.jp>"), subject, bodyFile, a1 + u',' + a2);
  ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
  EXPECT_TRUE(r.err.trimmed().isEmpty()) << r.err.toStdString();

  const auto got = servers_.received();
  ASSERT_EQ(got.size(), 1);
  EXPECT_EQ(got[0].mailFrom, servers_.address());
  EXPECT_EQ(got[0].rcptTos, QStringList{QStringLiteral("hanako@example.jp")});
  const ParsedMail p = parseMail(got[0].data);
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.subject, subject);
  EXPECT_EQ(p.text, body);
  EXPECT_EQ(p.from, servers_.address());
  EXPECT_EQ(p.to, QStringLiteral("山田 花子 <hanako@example.jp>"));
  EXPECT_EQ(p.mimeVersion, QStringLiteral("1.0"));
  EXPECT_FALSE(p.date.isEmpty());
  EXPECT_FALSE(p.messageId.isEmpty());
  ASSERT_EQ(p.attachments.size(), 2);
  EXPECT_EQ(p.attachments[0].fileName, QStringLiteral("議事録 2024年度.xlsx"));
  EXPECT_EQ(p.attachments[0].data, sheet);
  EXPECT_EQ(p.attachments[1].fileName, QStringLiteral("readme.txt"));
  EXPECT_EQ(p.attachments[1].data, QByteArray("plain\n"));
}

TEST_F(SendCommand, ABodyFileInShiftJisIsReadAsSuch) {
  settings(servers_);
  const QString body = QStringLiteral("表示と申請（ソ・表・能）\r\n");
  const QString bodyFile = file(QStringLiteral("sjis.txt"), text::toCp932(body));
  const RunResult r = send(QStringLiteral("a@example.com"), QStringLiteral("SJIS"), bodyFile);
  ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
  ASSERT_EQ(servers_.received().size(), 1);
  EXPECT_EQ(parseMail(servers_.received()[0].data).text, body);
}

TEST_F(SendCommand, AFailureExitsNonZeroWithItsReason) {
  settings(servers_);
  const QString bodyFile = file(QStringLiteral("b.txt"), "body");
  const QString missing = home_.path() + QStringLiteral("/消えた.pdf");
  RunResult r = send(QStringLiteral("a@example.com"), QStringLiteral("s"), bodyFile, missing);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(r.err.contains(missing)) << r.err.toStdString();

  r = send(QStringLiteral("gone@example.com"), QStringLiteral("s"), bodyFile);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(r.err.contains(QStringLiteral("gone@example.com")) && r.err.contains(QStringLiteral("550")))
      << r.err.toStdString();

  r = send(QStringLiteral("a@example.com"), QStringLiteral("s"), home_.path() + QStringLiteral("/no-body.txt"));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(r.err.contains(QStringLiteral("no-body.txt"))) << r.err.toStdString();

  r = runProgram({QStringLiteral("--home"), home_.path(), QStringLiteral("--send"), QStringLiteral("--to"),
                  QStringLiteral("a@example.com")},
                 home_.path());
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_TRUE(r.err.contains(QStringLiteral("--body-file"))) << r.err.toStdString();
  EXPECT_TRUE(servers_.received().isEmpty());
}

TEST(SendCommandAuth, TheAccountOfTheProgramFolderLogsIn) {
  TempHome home;
  MailServers::Options o;
  o.smtpAuth = true;
  MailServers servers(o);
  ASSERT_TRUE(servers.ok());
  writeServerSettings(home.path(), QStringLiteral("127.0.0.1:%1").arg(servers.smtpPort()), QStringLiteral("127.0.0.1"),
                      servers.address(), 0, true);
  writeAccount(home.path(), servers.user(), servers.password());
  home.write(QStringLiteral("b.txt"), "body");
  const RunResult r = runProgram({QStringLiteral("--home"), home.path(), QStringLiteral("--send"), QStringLiteral("--to"),
                                  QStringLiteral("a@example.com"), QStringLiteral("--subject"), QStringLiteral("s"),
                                  QStringLiteral("--body-file"), home.path() + QStringLiteral("/b.txt")},
                                 home.path());
  ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
  ASSERT_EQ(servers.received().size(), 1);
  EXPECT_TRUE(servers.received()[0].authenticated);
}

TEST_F(SendCommand, AMailSentToOneselfIsStoredByTheMailCheckAsTyped) {
  settings(servers_);
  writeAccount(home_.path(), servers_.user(), servers_.password());
  trustTestCa(servers_, home_.path());
  const QString subject = QStringLiteral("自分宛てのテスト（往復）");
  const QString body = QStringLiteral("往復しても同じ本文です。\r\n二行目。");
  const RunResult sent = send(servers_.address(), subject, file(QStringLiteral("b.txt"), body.toUtf8()));
  ASSERT_EQ(sent.exitCode, 0) << sent.err.toStdString();
  ASSERT_EQ(servers_.mailboxCount(), 1);

  const RunResult checked = runProgram({QStringLiteral("--home"), home_.path(), QStringLiteral("--check")}, home_.path());
  ASSERT_EQ(checked.exitCode, 0) << checked.err.toStdString();
  store::RecordFile f(home_.file(paths::kReceivedMailFile), store::MailRecord::kLength);
  ASSERT_TRUE(f.open());
  ASSERT_EQ(f.recordCount(), 1);
  QByteArray raw;
  ASSERT_EQ(f.read(1, raw), store::ReadResult::Ok);
  const store::MailRecord record(raw);
  EXPECT_EQ(text::trimSpaces(record.subject()), subject);
  EXPECT_EQ(text::trimSpaces(record.body()).trimmed(), body);
}

// A line break in --to, --subject or an attachment's name would put
// another line into the header (or another recipient into the envelope)
// than the one the reader sees: refused before anything is sent.
TEST_F(SendCommand, ControlCharactersInTheHeaderArgumentsAreRefused) {
  settings(servers_);
  const QString bodyFile = file(QStringLiteral("b.txt"), "body");
  RunResult r = send(QStringLiteral("a@example.jp\r\nRCPT TO:<b@example.jp>"), QStringLiteral("s"), bodyFile);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(r.err.contains(QStringLiteral("--to"))) << r.err.toStdString();
  r = send(QStringLiteral("a@example.jp"), QStringLiteral("件名\nBcc: b@example.jp"), bodyFile);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(r.err.contains(QStringLiteral("--subject"))) << r.err.toStdString();
  r = send(QStringLiteral("a@example.jp"), QStringLiteral("s\tt\x1b"), bodyFile);
  EXPECT_EQ(r.exitCode, 1);
  const QString oddName = file(QStringLiteral("two\nlines.txt"), "x");
  r = send(QStringLiteral("a@example.jp"), QStringLiteral("s"), bodyFile, oddName);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(r.err.contains(QStringLiteral("--attach"))) << r.err.toStdString();
  EXPECT_TRUE(servers_.received().isEmpty());
}

namespace {

// Standard error of this process, caught while it lives.
class CaughtStderr {
 public:
  CaughtStderr() {
    file_.open();
    std::fflush(stderr);
    saved_ = ::dup(2);
    ::dup2(file_.handle(), 2);
  }
  ~CaughtStderr() { restore(); }
  QString text() {
    restore();
    file_.seek(0);
    return QString::fromUtf8(file_.readAll());
  }

 private:
  void restore() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    ::dup2(saved_, 2);
    ::close(saved_);
    saved_ = -1;
  }
  QTemporaryFile file_;
  int saved_ = -1;
};

}  // namespace

// After a send whose final dot was never answered, a script must not take
// the mail for unsent and send it again: its own exit code and a reason.
TEST(SendCommandUncertain, NoAnswerToTheFinalDotExitsWithItsOwnCode) {
  TempHome home;
  SmtpPeer peer(QStringLiteral("stall-after-dot"), 20);
  ASSERT_TRUE(peer.ok()) << peer.error().toStdString();
  writeServerSettings(home.path(), peer.server(), QStringLiteral("127.0.0.1"), QStringLiteral("tomo@localhost"), 0, true);
  home.write(QStringLiteral("b.txt"), "body");
  maillib::SmtpLimits limits;
  limits.replySeconds = 2;
  testhooks::Scoped<maillib::SmtpLimits*> hook(testhooks::smtpLimits, &limits);
  auto run = [&](const QString& to) {
    const CommandLine cl = parseCommandLine({QStringLiteral("--send"), QStringLiteral("--to"), to,
                                             QStringLiteral("--subject"), QStringLiteral("s"),
                                             QStringLiteral("--body-file"), home.path() + QStringLiteral("/b.txt")});
    return RunSendCommand(cl);
  };
  CaughtStderr caught;
  const int rc = run(QStringLiteral("slow@example.jp"));
  const QString err = caught.text();
  EXPECT_EQ(rc, 3);
  EXPECT_TRUE(err.startsWith(QStringLiteral("送信されたか確認できませんでした。"))) << err.toStdString();
  EXPECT_TRUE(err.contains(QStringLiteral("相手の方に届いたかどうか"))) << err.toStdString();
  EXPECT_EQ(peer.mails().size(), 1);
  EXPECT_EQ(run(QStringLiteral("fast@example.jp")), 0);
}

namespace {

QList<store::MailRecord> sentRecords() {
  QList<store::MailRecord> out;
  store::RecordFile f(sent::sentFiles().records, store::MailRecord::kLength);
  if (!f.open()) return out;
  QByteArray raw;
  for (int n = 1; f.read(n, raw) == store::ReadResult::Ok; ++n) out.append(store::MailRecord(raw));
  return out;
}

}  // namespace

// What --send handed the server is kept byte for byte, with its record;
// a refused send keeps nothing.
TEST_F(SendCommand, AnAcceptedMailIsKeptAsSentAndARefusedOneIsNot) {
  settings(servers_);
  const QString bodyFile = file(QStringLiteral("b.txt"), QStringLiteral("送った本文\r\n二行目").toUtf8());
  RunResult r = send(QStringLiteral("gone@example.com"), QStringLiteral("拒否"), bodyFile);
  ASSERT_EQ(r.exitCode, 1);
  EXPECT_TRUE(sentRecords().isEmpty());
  const QString attached = file(QStringLiteral("添付.bin"), QByteArray(3000, '\x7f'));
  r = send(QStringLiteral("花子 <hanako@example.jp>"), QStringLiteral("送信の控え"), bodyFile, attached);
  ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
  const auto got = servers_.received();
  ASSERT_EQ(got.size(), 1);
  const QList<store::MailRecord> records = sentRecords();
  ASSERT_EQ(records.size(), 1);
  EXPECT_EQ(text::trimSpaces(records[0].subject()), QStringLiteral("送信の控え"));
  EXPECT_EQ(text::trimSpaces(records[0].from()), QStringLiteral("花子 <hanako@example.jp>"));
  EXPECT_EQ(text::trimSpaces(records[0].body()), QStringLiteral("送った本文\r\n二行目"));
  EXPECT_EQ(text::trimSpaces(records[0].date()), parseMail(got[0].data).date);
  const received::Original o = sent::original(1);
  EXPECT_EQ(o.bytes, got[0].data);
  // Nothing of the check's own files: a send keeps apart from received mail.
  EXPECT_FALSE(QFileInfo::exists(home_.file(paths::kReceivedMailFile)) &&
               QFileInfo(home_.file(paths::kReceivedMailFile)).size() > 0);
}

// A send killed while its mail is being kept leaves the sent mail whole:
// after the next start every record has its original, the original that
// went out, and a later send keeps its mail after them.
TEST_F(SendCommand, AKillWhileKeepingLeavesNoHalfMail) {
  settings(servers_);
  const QString bodyFile = file(QStringLiteral("b.txt"), "body");
  ASSERT_EQ(send(QStringLiteral("a@example.jp"), QStringLiteral("first"), bodyFile).exitCode, 0);
  struct Point {
    const char* step;
    int at;
    bool kept;  // the killed send's mail is kept all the same
  };
  const Point points[] = {{"journal", 1, false},      {"sent-original", 1, false}, {"sent-record", 1, false},
                          {"journal", 2, true},       {"sent-commit", 1, true}};
  QList<QByteArray> expected{servers_.received()[0].data};
  qsizetype accepted = 1;
  for (const Point& p : points) {
    const QString at = QStringLiteral("%1:%2").arg(QLatin1String(p.step)).arg(p.at);
    const RunResult killed =
        runProgram({QStringLiteral("--home"), home_.path(), QStringLiteral("--send"), QStringLiteral("--to"),
                    QStringLiteral("b@example.jp"), QStringLiteral("--subject"), at, QStringLiteral("--body-file"),
                    bodyFile},
                   home_.path(), 60000, {QStringLiteral("TOMOSHIBI_TEST_KILL_AT=") + at});
    EXPECT_NE(killed.exitCode, 0) << at.toStdString();
    const auto got = servers_.received();
    ASSERT_EQ(got.size(), ++accepted) << at.toStdString();
    if (p.kept) expected.append(got.last().data);
    ASSERT_FALSE(sent::recover()) << at.toStdString();
    const QList<store::MailRecord> records = sentRecords();
    ASSERT_EQ(records.size(), expected.size()) << at.toStdString();
    for (qsizetype i = 0; i < expected.size(); ++i) EXPECT_EQ(sent::original(int(i + 1)).bytes, expected[i]) << at.toStdString();
    EXPECT_EQ(sent::parseSentIndex(home_.read(QStringLiteral("★MAilData/sent-originals.txt"))).size(), expected.size());
    qint64 total = 0;
    for (const QByteArray& e : expected) total += e.size();
    EXPECT_EQ(QFileInfo(sent::sentFiles().originals).size(), total) << at.toStdString();
  }
  ASSERT_EQ(send(QStringLiteral("c@example.jp"), QStringLiteral("last"), bodyFile).exitCode, 0);
  expected.append(servers_.received().last().data);
  ASSERT_EQ(sentRecords().size(), expected.size());
  EXPECT_EQ(sent::original(int(expected.size())).bytes, expected.last());
}

// A mail that went out but cannot be kept (the sent-mail file cannot be
// opened) is still sent: exit 0, so that a script does not send it twice,
// with a warning on standard error; nothing half kept.
TEST_F(SendCommand, AMailThatCannotBeKeptIsStillSentAndSaysSo) {
  settings(servers_);
  ASSERT_TRUE(QDir().mkpath(sent::sentFiles().records));
  const RunResult r = send(QStringLiteral("a@example.jp"), QStringLiteral("s"), file(QStringLiteral("b.txt"), "body"));
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(r.err.contains(QStringLiteral("メールは送信しましたが、送信済みメールに残せませんでした"))) << r.err.toStdString();
  EXPECT_EQ(servers_.received().size(), 1);
  EXPECT_EQ(QFileInfo(sent::sentFiles().originals).size(), 0);
}
