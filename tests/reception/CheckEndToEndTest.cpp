// The real program (tomoshibi --check) against the local Dovecot: what a user
// running it from cron gets, byte for byte in the received-mail file.
#include "platform/Paths.h"
#include "platform/Text.h"
#include "settings/IdPassForm.h"
#include "settings/OptionForm.h"
#include "settings/files/AccountSettings.h"
#include "shell/MainForm.h"
#include "store/RecordFile.h"
#include "store/Records.h"
#include "store/received/Originals.h"
#include "support/Gui.h"
#include "support/MailServers.h"
#include "viewer/TyakuForm.h"

#include <QAbstractItemModel>
#include <QDeadlineTimer>
#include <QThread>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeView>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <gtest/gtest.h>

namespace {

QByteArray golden(const char* name) {
  QFile f(QStringLiteral(TOMOSHIBI_SOURCE_DIR "/tests/data/mail/") + QString::fromLatin1(name));
  EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << name;
  return f.readAll();
}

QByteArray simpleMail(const QByteArray& subject, const QByteArray& body) {
  return "From: sender@example.jp\r\nSubject: " + subject + "\r\nDate: Mon, 1 Apr 2024 10:00:00 +0900\r\n\r\n" +
         body + "\r\n";
}

QByteArray mailWithFile(const QByteArray& subject, const QByteArray& fileName, const QByteArray& data) {
  return "From: sender@example.jp\r\nSubject: " + subject +
         "\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"BB\"\r\n\r\n"
         "--BB\r\nContent-Type: text/plain\r\n\r\nsee the file\r\n"
         "--BB\r\nContent-Type: application/octet-stream\r\nContent-Disposition: attachment; filename=\"" +
         fileName + "\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" + data.toBase64() + "\r\n--BB--\r\n";
}

struct Stored {
  QString subject, from, date, body;
};

class CheckEndToEnd : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { servers_ = new MailServers; }
  static void TearDownTestSuite() {
    delete servers_;
    servers_ = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(servers_->ok()) << servers_->error().toStdString();
    settings(QStringLiteral("127.0.0.1:%1").arg(servers_->pop3Port()), 0);
    writeAccount(home_.path(), servers_->user(), servers_->password());
    trustTestCa(*servers_, home_.path());
  }
  void TearDown() override {
    // Whatever a failing test left must not reach the next one.
    if (servers_->mailboxCount() > 0) {
      for (const char* sub : {"/new", "/cur"}) {
        QDir d(servers_->maildir() + QLatin1String(sub));
        for (const QString& f : d.entryList(QDir::Files)) d.remove(f);
      }
    }
  }

  void settings(const QString& pop3, int apop) {
    writeServerSettings(home_.path(), QStringLiteral("127.0.0.1"), pop3, servers_->address(), apop);
  }
  RunResult check() {
    RunResult r = runProgram({QStringLiteral("--home"), home_.path(), QStringLiteral("--check")}, home_.path());
    EXPECT_TRUE(r.finished);
    return r;
  }
  QList<Stored> stored() const {
    QList<Stored> out;
    store::RecordFile f(home_.file(paths::kReceivedMailFile), store::MailRecord::kLength);
    if (!f.open()) return out;
    QByteArray raw;
    for (int n = 1; f.read(n, raw) == store::ReadResult::Ok; ++n) {
      const store::MailRecord r(raw);
      out.append({text::trimSpaces(r.subject()), text::trimSpaces(r.from()), text::trimSpaces(r.date()),
                  text::trimSpaces(r.body())});
    }
    return out;
  }
  QString attachFolder() const { return home_.file(paths::kAttachFolder); }
  QString dovecotLog() const {
    QFile f(servers_->root() + QStringLiteral("/dovecot.log"));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
  }
  // Dovecot's log process writes a login's line a moment after the login:
  // on a busy machine, after the check has already ended.
  bool dovecotLogShows(const QString& text) const {
    QDeadlineTimer deadline(10000);
    while (!dovecotLog().contains(text)) {
      if (deadline.hasExpired()) return false;
      QThread::msleep(50);
    }
    return true;
  }
  static QStringList lines(const QString& s) {
    QStringList out;
    for (const QString& l : s.split(u'\n'))
      if (!l.trimmed().isEmpty() && !l.startsWith(QStringLiteral("QStandardPaths"))) out << l.trimmed();
    return out;
  }

  static MailServers* servers_;
  TempHome home_;
};

MailServers* CheckEndToEnd::servers_ = nullptr;

}  // namespace

TEST_F(CheckEndToEnd, EmptyMailbox) {
  const RunResult r = check();
  EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
  EXPECT_EQ(lines(r.err), (QStringList{QStringLiteral("メールのチェックをしています。"), QStringLiteral("新着メール無し。"),
                                      QStringLiteral("新着数: 0")}));
  EXPECT_TRUE(stored().isEmpty());
}

TEST_F(CheckEndToEnd, TwoMailsWithTheAttachmentFirstOrSecond) {
  const QString line = QStringLiteral("♪♪♪　添付ファイルがありましので、添付フォルダに展開しました。♪♪♪");
  servers_->deliver(mailWithFile("first", "a.bin", "AAA"));
  servers_->deliver(simpleMail("second", "plain"));
  RunResult r = check();
  EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
  EXPECT_EQ(lines(r.err), (QStringList{QStringLiteral("メールのチェックをしています。"), QStringLiteral("新着メール有り。"),
                                      QStringLiteral("新着数: 2")}));
  QList<Stored> s = stored();
  ASSERT_EQ(s.size(), 2);
  EXPECT_EQ(s[0].subject, QStringLiteral("first"));
  EXPECT_TRUE(s[0].body.endsWith(line));
  EXPECT_EQ(s[1].body, QStringLiteral("plain"));
  EXPECT_EQ(servers_->mailboxCount(), 0);

  servers_->deliver(simpleMail("third", "plain"));
  servers_->deliver(mailWithFile("fourth", "b.bin", "BBB"));
  r = check();
  EXPECT_EQ(lines(r.err), (QStringList{QStringLiteral("メールのチェックをしています。"), QStringLiteral("添付ファイルメール。"),
                                      QStringLiteral("新着メール有り。"), QStringLiteral("新着数: 2")}));
  s = stored();
  ASSERT_EQ(s.size(), 4);
  EXPECT_EQ(s[2].subject, QStringLiteral("third"));
  EXPECT_TRUE(s[3].body.endsWith(line));
  QFile b(attachFolder() + QStringLiteral("/b.bin"));
  ASSERT_TRUE(b.open(QIODevice::ReadOnly));
  EXPECT_EQ(b.readAll(), QByteArray("BBB"));
}

TEST_F(CheckEndToEnd, ApopOnAndOff) {
  servers_->deliver(simpleMail("apop", "1"));
  settings(QStringLiteral("127.0.0.1:%1").arg(servers_->pop3Port()), 1);
  RunResult r = check();
  EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
  EXPECT_TRUE(dovecotLogShows(QStringLiteral("user=<tomo>, method=APOP")));

  servers_->deliver(simpleMail("user-pass", "2"));
  settings(QStringLiteral("127.0.0.1:%1").arg(servers_->pop3Port()), 0);
  r = check();
  EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
  EXPECT_TRUE(dovecotLogShows(QStringLiteral("user=<tomo>, method=PLAIN")));
  ASSERT_EQ(stored().size(), 2);
  EXPECT_EQ(stored()[1].subject, QStringLiteral("user-pass"));
}

TEST_F(CheckEndToEnd, WrongPasswordAndNoServer) {
  servers_->deliver(simpleMail("waiting", "x"));
  writeAccount(home_.path(), servers_->user(), QStringLiteral("wrong"));
  RunResult r = check();
  EXPECT_NE(r.exitCode, 0);
  // The box's text is the library's sentence and the server's own line.
  const QStringList l = lines(r.err);
  ASSERT_EQ(l.size(), 5) << r.err.toStdString();
  EXPECT_TRUE(l[1].startsWith(QStringLiteral("エラー: ")));
  EXPECT_EQ(l[2], QStringLiteral("-ERR [AUTH] Authentication failed."));
  EXPECT_EQ(l[3], QStringLiteral("新着メール無し。"));
  EXPECT_EQ(l[4], QStringLiteral("新着数: 0"));
  EXPECT_EQ(servers_->mailboxCount(), 1);

  // Nobody listening: said, not passed over as "no new mail".
  settings(QStringLiteral("127.0.0.1:1"), 0);
  r = check();
  EXPECT_NE(r.exitCode, 0);
  EXPECT_TRUE(r.err.contains(QStringLiteral("エラー: サーバー「127.0.0.1」に接続できません"))) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains(QStringLiteral("新着数: 0")));
}

TEST_F(CheckEndToEnd, TlsWithTheTestAuthority) {
  servers_->deliver(simpleMail("pop3s", "1"));
  settings(QStringLiteral("pop3s://localhost:%1").arg(servers_->pop3sPort()), 0);
  RunResult r = check();
  EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();

  // The plain port offers STARTTLS: it is used.
  servers_->deliver(simpleMail("starttls", "2"));
  settings(QStringLiteral("127.0.0.1:%1").arg(servers_->pop3Port()), 0);
  r = check();
  EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
  EXPECT_EQ(stored().size(), 2);
  QStringList logins;
  for (QDeadlineTimer deadline(10000); logins.size() < 2 && !deadline.hasExpired(); QThread::msleep(50))
    logins = dovecotLog().split(u'\n').filter(QStringLiteral("Login: user=<tomo>"));
  ASSERT_EQ(logins.size(), 2);
  EXPECT_TRUE(logins.last().contains(QStringLiteral(", TLS")));

  // Without the authority the certificate is refused, not waved through.
  QFile::remove(home_.file(QStringLiteral("★MAilData/trusted-ca.pem")));
  servers_->deliver(simpleMail("untrusted", "3"));
  r = check();
  EXPECT_NE(r.exitCode, 0);
  EXPECT_TRUE(r.err.contains(QStringLiteral("証明書"))) << r.err.toStdString();
  EXPECT_EQ(stored().size(), 2);
  EXPECT_EQ(servers_->mailboxCount(), 1);
}

TEST_F(CheckEndToEnd, JapaneseMailIsStoredInCp932) {
  for (const char* g : {"iso2022jp-nec-specials.eml", "shift_jis-tilde-backslash.eml", "euc-jp-ms.eml",
                        "utf8-quoted-printable.eml", "html-only.eml"})
    servers_->deliver(golden(g));
  const RunResult r = check();
  EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
  const QList<Stored> s = stored();
  ASSERT_EQ(s.size(), 5);
  EXPECT_EQ(s[0].subject, QStringLiteral("①会議は～髙橋さんの部屋で"));
  EXPECT_EQ(s[0].from, QStringLiteral("髙橋 一郎 <takahashi@example.jp>"));
  EXPECT_EQ(s[0].date, QStringLiteral("Tue, 2 Jan 2024 09:30:00 +0900"));
  EXPECT_EQ(s[0].body, QStringLiteral("お疲れさまです。\r\n①議題　②日程　③場所\r\n波ダッシュ～と全角チルダ～、平行記号∥。\r\n髙橋"));
  EXPECT_EQ(s[1].subject, QStringLiteral("生のShift_JIS件名　ソフト～表"));
  EXPECT_EQ(s[1].from, QStringLiteral("山田　表 <hyo@example.jp>"));
  EXPECT_EQ(s[1].body, QStringLiteral("パス: C:\\Users\\tomo\\ソフト\r\n~/bin と ～ と ①\r\n髙島屋の表示"));
  EXPECT_EQ(s[2].body, QStringLiteral("こんにちは。①番と～です。"));
  EXPECT_EQ(s[3].from, QStringLiteral("佐藤 花子 <hanako@example.com>"));
  EXPECT_TRUE(s[3].body.startsWith(QStringLiteral("こんにちは、UTF-8の本文です。")));
  EXPECT_TRUE(s[4].body.startsWith(QStringLiteral("こんにちは、HTMLだけのメールです。")));

  // The bytes in the file are CP932: ① is 87 40, ～ is 81 60, 髙 is FB FC
  // (or its NEC-selected twin EE E0).
  QFile f(home_.file(paths::kReceivedMailFile));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QByteArray subject = f.read(100);
  EXPECT_TRUE(subject.startsWith(QByteArray("\x87\x40", 2)));
  EXPECT_TRUE(subject.contains(QByteArray("\x81\x60", 2)));
  EXPECT_TRUE(subject.contains(QByteArray("\xfb\xfc", 2)) || subject.contains(QByteArray("\xee\xe0", 2)));
}

TEST_F(CheckEndToEnd, AttachmentNamesJapaneseAndHostile) {
  servers_->deliver(golden("rfc2231-japanese-split-filename.eml"));
  servers_->deliver(golden("dotdot-filename.eml"));
  const RunResult r = check();
  EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
  const QDir folder(attachFolder());
  QStringList files = folder.entryList(QDir::Files | QDir::Hidden);
  files.sort();
  QStringList want{QStringLiteral("請求書.pdf"), QStringLiteral("見積書.xls"), QStringLiteral("議事録①.txt"),
                   QStringLiteral("bashrc"), QStringLiteral("passwd"), QStringLiteral("win.ini"),
                   QStringLiteral("evilgnp.exe"), QStringLiteral("添付ファイル"), QStringLiteral("file1.bin")};
  want.sort();
  EXPECT_EQ(files, want);
  QFile pdf(folder.filePath(QStringLiteral("請求書.pdf")));
  ASSERT_TRUE(pdf.open(QIODevice::ReadOnly));
  EXPECT_EQ(pdf.readAll(), QByteArray("%PDF-1.4 test\x00\x01\x02\xff", 17));
  // Nothing beside or above the attachment folder.
  EXPECT_FALSE(QFileInfo::exists(home_.path() + QStringLiteral("/.bashrc")));
  EXPECT_FALSE(QFileInfo::exists(QFileInfo(home_.path()).absolutePath() + QStringLiteral("/.bashrc")));
  EXPECT_FALSE(QFileInfo::exists(home_.path() + QStringLiteral("/win.ini")));
}

// The mails a new user meets (a newsletter with an inline logo, a phone
// mail with a picture in its HTML branch, a forwarded mail attached, a long
// mail with dot lines): every picture and the attached mail are files, each
// original is the server's bytes, and the export reads back with Python's
// mailbox.
TEST_F(CheckEndToEnd, EveryPartSavedAndTheOriginalsAsTheServerSentThem) {
  QByteArray big = "From: long@example.jp\r\nSubject: long\r\nDate: Mon, 1 Apr 2024 10:00:00 +0900\r\n\r\n";
  QRandomGenerator rng(14);
  for (int line = 0; big.size() < 200 * 1024; ++line) {
    if (line % 50 == 0) big += ".starts with a dot\r\n..two dots\r\n.\t\r\nFrom a line\r\n";
    QByteArray l(60 + rng.bounded(20), 'x');
    for (char& c : l) c = char('a' + rng.bounded(26));
    big += l + "\r\n";
  }
  const QList<QByteArray> sent{golden("newsletter-inline-image.eml"), golden("phone-picture-in-html-branch.eml"),
                               golden("attached-mail-fwd-eml.eml"), big};
  for (const QByteArray& m : sent) servers_->deliver(m);
  const RunResult r = check();
  ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
  ASSERT_EQ(stored().size(), 4);
  EXPECT_EQ(servers_->mailboxCount(), 0);

  QStringList files = QDir(attachFolder()).entryList(QDir::Files);
  files.sort();
  EXPECT_EQ(files, (QStringList{QStringLiteral("IMG_0412.JPG"), QStringLiteral("fwd.eml"), QStringLiteral("image1.gif"),
                                QStringLiteral("image1.png"), QStringLiteral("map.png")}));
  QFile fwd(attachFolder() + QStringLiteral("/fwd.eml"));
  ASSERT_TRUE(fwd.open(QIODevice::ReadOnly));
  EXPECT_TRUE(fwd.readAll().startsWith("From: =?ISO-2022-JP?B?GyRCRURDZhsoQg==?="));

  received::OriginalArchive archive;
  ASSERT_TRUE(archive.load());
  store::RecordFile f(home_.file(paths::kReceivedMailFile), store::MailRecord::kLength);
  ASSERT_TRUE(f.open());
  for (int n = 1; n <= 4; ++n) {
    QByteArray record;
    ASSERT_EQ(f.read(n, record), store::ReadResult::Ok);
    const std::optional<received::OriginalEntry> e = archive.forRecord(n, record);
    ASSERT_TRUE(e) << n;
    const QByteArray original = archive.read(*e);
    EXPECT_EQ(original.size(), sent[n - 1].size()) << n;
    EXPECT_TRUE(original == sent[n - 1]) << "original " << n << " differs from the server's bytes";
  }

  // The headless export: a snapshot that changes nothing of the data folder.
  const QByteArray archiveBefore = home_.read(QStringLiteral("★MAilData/received-originals.data"));
  const QString mbox = home_.path() + QStringLiteral("/../") + QFileInfo(home_.path()).fileName() + QStringLiteral(".mbox");
  const RunResult ex =
      runProgram({QStringLiteral("--home"), home_.path(), QStringLiteral("--export-mbox"), mbox}, home_.path());
  ASSERT_EQ(ex.exitCode, 0) << ex.err.toStdString();
  EXPECT_EQ(home_.read(QStringLiteral("★MAilData/received-originals.data")), archiveBefore);
  QProcess py;
  py.start(QStringLiteral("/usr/bin/python3"),
           {QStringLiteral("-c"),
            QStringLiteral("import mailbox,sys\nb=mailbox.mbox(sys.argv[1])\n"
                           "print(len(b)); print(sum(len(b.get_bytes(k)) for k in b.keys()))\n"
                           "print(b[3].get_payload().count('From a line'))"),
            mbox});
  ASSERT_TRUE(py.waitForFinished(30000));
  QFile::remove(mbox);
  const QStringList out = QString::fromLatin1(py.readAllStandardOutput()).split(u'\n');
  ASSERT_GE(out.size(), 3) << py.readAllStandardError().toStdString();
  EXPECT_EQ(out[0], QStringLiteral("4"));
  // LF lines: one byte fewer per line, one more per quoted "From ".
  qint64 want = 0;
  for (const QByteArray& m : sent) want += m.size() - m.count("\r\n") + m.count("\nFrom ");
  EXPECT_EQ(out[1].toLongLong(), want);
  EXPECT_EQ(out[2].toInt(), big.count("From a line"));
}

// Mails others write in shapes the standards allow or careless programs
// send: a text naming a file, a type without a subtype or not known here, a
// header without its empty line, no header at all. Each is kept as the
// server sent it and none is shown empty.
TEST_F(CheckEndToEnd, MailsOthersWriteAreShownWhateverTheirShape) {
  const QList<QByteArray> sent{golden("inline-text-with-file-name.eml"), golden("text-named-only-by-content-type.eml"),
                               golden("content-type-text-without-subtype.eml"), golden("unknown-text-subtypes.eml"),
                               golden("header-without-blank-line.eml"), golden("no-header-at-all.eml")};
  for (const QByteArray& m : sent) servers_->deliver(m);
  const RunResult r = check();
  ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
  const QList<Stored> s = stored();
  ASSERT_EQ(s.size(), 6);
  const QString filesLine = QStringLiteral("♪♪♪　添付ファイルがありましので、添付フォルダに展開しました。♪♪♪");
  EXPECT_TRUE(s[0].body.startsWith(QStringLiteral("本日の会議のメモです。\r\n出席者は三名でした。\r\n\r\n追伸：資料は来週送ります。")))
      << s[0].body.toStdString();
  EXPECT_TRUE(s[0].body.endsWith(filesLine));
  EXPECT_TRUE(s[1].body.startsWith(QStringLiteral("明日は１０時から表計算ソフトの説明会です。"))) << s[1].body.toStdString();
  EXPECT_EQ(s[2].body, QStringLiteral("Backup finished.\r\n３件とも正常に終了しました。"));
  EXPECT_TRUE(s[3].body.startsWith(
      QStringLiteral("# 週報\r\n- 予算の確認を終えました\r\n\r\nbuild 42 passed\r\n\r\n<bold>重要</bold>")))
      << s[3].body.toStdString();
  EXPECT_EQ(s[4].subject, QStringLiteral("空行なし"));
  EXPECT_EQ(s[4].body, QStringLiteral("お世話になっております。\r\nThanks for the quick reply\r\nRegards: Tanaka"));
  EXPECT_TRUE(s[5].subject.isEmpty());
  EXPECT_EQ(s[5].body, QStringLiteral("Hello,\r\nthis mail came without any header.\r\n\r\nBye"));

  QStringList files = QDir(attachFolder()).entryList(QDir::Files);
  files.sort();
  EXPECT_EQ(files, (QStringList{QStringLiteral("dot.png"), QStringLiteral("log.txt"), QStringLiteral("memo.txt"),
                                QStringLiteral("notes.txt"), QStringLiteral("text1.ics")}));

  received::OriginalArchive archive;
  ASSERT_TRUE(archive.load());
  store::RecordFile f(home_.file(paths::kReceivedMailFile), store::MailRecord::kLength);
  ASSERT_TRUE(f.open());
  for (int n = 1; n <= 6; ++n) {
    QByteArray record;
    ASSERT_EQ(f.read(n, record), store::ReadResult::Ok);
    const std::optional<received::OriginalEntry> e = archive.forRecord(n, record);
    ASSERT_TRUE(e) << n;
    EXPECT_TRUE(archive.read(*e) == sent[n - 1]) << "original " << n << " differs from the server's bytes";
  }
}

TEST_F(CheckEndToEnd, ServerKilledDuringAFetch) {
  // Three mails of about 300 KB that TLS cannot shrink; the server dies
  // when some 450 KB have come, in the middle of the second.
  QRandomGenerator rng(42);
  for (int i = 1; i <= 3; ++i) {
    QByteArray data(220 * 1024, Qt::Uninitialized);
    for (char& c : data) c = char(rng.bounded(256));
    servers_->deliver(mailWithFile("big " + QByteArray::number(i), "big" + QByteArray::number(i) + ".bin", data));
  }
  const int proxy = servers_->crashingPop3Proxy(450 * 1024);
  ASSERT_GT(proxy, 0);
  settings(QStringLiteral("127.0.0.1:%1").arg(proxy), 0);
  RunResult r = check();
  EXPECT_NE(r.exitCode, 0);
  EXPECT_EQ(lines(r.err).filter(QStringLiteral("エラー: ")).size(), 1) << r.err.toStdString();
  ASSERT_TRUE(servers_->startPop3());
  EXPECT_EQ(servers_->mailboxCount(), 3);  // nothing deleted
  const int afterCrash = int(stored().size());
  EXPECT_LE(afterCrash, 1);  // the first at most, never a piece of the second

  settings(QStringLiteral("127.0.0.1:%1").arg(servers_->pop3Port()), 0);
  r = check();
  EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
  EXPECT_EQ(servers_->mailboxCount(), 0);
  QStringList subjects;
  for (const Stored& s : stored()) subjects << s.subject;
  EXPECT_EQ(subjects, (QStringList{QStringLiteral("big 1"), QStringLiteral("big 2"), QStringLiteral("big 3")}));
  EXPECT_EQ(QDir(attachFolder()).entryList(QDir::Files).size(), 3);
}

TEST_F(CheckEndToEnd, ANewUserSetsUpAndReceivesInTheWindows) {
  // A fresh program folder: no server, no account. The main window asks.
  QFile::remove(home_.path() + QStringLiteral("/pelkit.ini"));
  QFile::remove(home_.file(paths::kAccountFile));
  AccountSettings() = AccountSettingsRecord{};
  servers_->deliver(golden("iso2022jp-nec-specials.eml"));
  servers_->deliver(golden("rfc2231-japanese-split-filename.eml"));
  MsgBoxAnswerer boxes;
  auto main = std::make_unique<MainForm>();
  pump();
  OptionForm* server = OptionForm::instance();
  ASSERT_NE(server, nullptr);
  server->SmtpText->setText(QStringLiteral("127.0.0.1:%1").arg(servers_->smtpPort()));
  server->Pop3Text->setText(QStringLiteral("127.0.0.1:%1").arg(servers_->pop3Port()));
  server->MailText->setText(servers_->address());
  server->OkCommand->click();
  IdPassForm* account = IdPassForm::existing();
  ASSERT_NE(account, nullptr);
  ASSERT_TRUE(account->isVisible());
  account->IdText->setText(servers_->user());
  account->PassText->setText(servers_->password());
  account->Check1->setChecked(true);
  account->OKCommand->click();
  pump();

  main->Check2->setChecked(true);
  main->Command4->click();
  pump();
  EXPECT_TRUE(boxes.seen().isEmpty()) << boxes.texts().join(u'\n').toStdString();
  EXPECT_EQ(main->Text3->text(), QStringLiteral("新着メール有り。"));
  EXPECT_EQ(main->Text6->text(), QStringLiteral("2"));
  EXPECT_EQ(main->Text4->text(), QStringLiteral("2"));
  EXPECT_EQ(servers_->mailboxCount(), 0);

  TyakuForm* viewer = TyakuForm::existing();
  ASSERT_NE(viewer, nullptr);
  EXPECT_TRUE(viewer->isVisible());
  const QAbstractItemModel* list = viewer->MailListView->model();
  ASSERT_EQ(list->rowCount(), 2);
  EXPECT_EQ(list->index(0, 0).data().toString().trimmed(), QStringLiteral("①会議は～髙橋さんの部屋で"));
  EXPECT_EQ(list->index(0, 1).data().toString().trimmed(), QStringLiteral("髙橋 一郎 <takahashi@example.jp>"));
  EXPECT_EQ(viewer->rtfEd->toPlainText(), QStringLiteral("See attachment.\n") +
                                              QStringLiteral("♪♪♪　添付ファイルがありましので、添付フォルダに展開しました。♪♪♪"));
  EXPECT_TRUE(QFileInfo::exists(attachFolder() + QStringLiteral("/請求書.pdf")));

  delete viewer;
  main.reset();
  pump();
}
