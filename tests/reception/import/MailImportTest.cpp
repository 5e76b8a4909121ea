// Mail brought in, in the program folder of a test: the program's own mbox
// export read back equal, mails a check stored already, Maildir folders,
// files that are no mail, the received-mail file's last records, a check
// running meanwhile.
#include "platform/Paths.h"
#include "platform/Text.h"
#include "reception/CheckSink.h"
#include "reception/MailExport.h"
#include "reception/ReceiveEngine.h"
#include "reception/import/ImportWords.h"
#include "reception/import/MailImport.h"
#include "settings/files/AccountSettings.h"
#include "store/RecordFile.h"
#include "store/Records.h"
#include "store/received/CheckLock.h"
#include "store/received/Originals.h"
#include "store/received/ReceivedStore.h"
#include "support/FakePop3.h"
#include "support/TempHome.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

using mailimport::ImportCode;
using mailimport::ImportSummary;

constexpr int kLength = store::MailRecord::kLength;

struct QuietSink : reception::CheckSink {
  bool canAsk() const override { return false; }
  void checking() override {}
  void status(reception::CheckStatus) override {}
  void count(int) override {}
  void event() override {}
  void error(const reception::CheckFailure&) override {}
  void notice(const reception::CheckProblem&) override {}
};

QByteArray mail(const QByteArray& subject, const QByteArray& body = "body\r\n") {
  return "From: a@example.jp\r\nSubject: " + subject + "\r\nMessage-ID: <" + subject +
         "@example.jp>\r\nDate: Mon, 1 Apr 2024 10:00:00 +0900\r\n\r\n" + body;
}

QByteArray lf(QByteArray crlf) { return crlf.replace("\r\n", "\n"); }

class MailImport : public ::testing::Test {
 protected:
  void SetUp() override {
    AccountSettings() = AccountSettingsRecord{};
    AccountSettings().Pop3Server = QStringLiteral("pop.example");
    ASSERT_TRUE(WriteAccountFile(QStringLiteral("tomo"), QStringLiteral("secret"), true));
    box_ = std::make_shared<FakeMailbox>();
    fake_ = FakeMailbox::install(box_);
  }

  // The mails as a check stores them.
  void receive(const QList<QByteArray>& mails) {
    int uid = int(box_->messages.size());
    for (const QByteArray& m : mails) box_->messages.append({"u" + QByteArray::number(++uid), m});
    QuietSink sink;
    const reception::CheckOutcome out = reception::runCheck(sink);
    ASSERT_FALSE(out.failed);
    ASSERT_EQ(out.stored, mails.size());
  }

  ImportSummary import(const QString& path) {
    mailimport::ImportSink sink;
    return mailimport::importMail(path, sink);
  }

  QString write(const QString& name, const QByteArray& bytes) {
    const QString path = out_.filePath(name);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    return path;
  }

  // Every record, and the original beside it.
  struct Stored {
    QList<QByteArray> records;
    QList<QByteArray> originals;
  };
  static Stored stored() {
    Stored s;
    store::RecordFile f(paths::resolve(paths::kReceivedMailFile), kLength);
    received::OriginalArchive archive;
    EXPECT_TRUE(archive.load());
    QByteArray raw;
    if (!f.open()) return s;
    for (int n = 1; f.read(n, raw) == store::ReadResult::Ok; ++n) {
      s.records << raw;
      const std::optional<received::OriginalEntry> e = archive.forRecord(n, raw);
      s.originals << (e ? archive.read(*e) : QByteArray());
    }
    return s;
  }
  static QStringList subjects() {
    QStringList out;
    for (const QByteArray& r : stored().records) out << text::trimSpaces(store::MailRecord(r).subject());
    return out;
  }

  TempHome home_;
  QTemporaryDir out_;
  std::shared_ptr<FakeMailbox> box_;
  std::unique_ptr<FakeMailbox::Installed> fake_;
};

TEST_F(MailImport, TheProgramsOwnExportComesBackEqual) {
  const QByteArray withFile =
      "From: f@example.jp\r\nSubject: file\r\nMessage-ID: <file@example.jp>\r\nMIME-Version: 1.0\r\n"
      "Content-Type: multipart/mixed; boundary=\"B\"\r\n\r\n--B\r\nContent-Type: text/plain\r\n\r\nsee the attachment\r\n"
      "--B\r\nContent-Type: application/octet-stream\r\nContent-Disposition: attachment; filename=\"a.bin\"\r\n"
      "Content-Transfer-Encoding: base64\r\n\r\n" +
      QByteArray(3000, 'x').toBase64() + "\r\n--B--\r\n";
  receive({mail("one", "From the start\r\n>From quoted\r\n>>From twice\r\n\r\nFrom after a gap\r\n"),
           mail("two", "\r\n\r\nends in empty lines\r\n\r\n\r\n"), withFile,
           mail("=?UTF-8?B?5pel5pys6Kqe?=", "plain\r\n")});
  const Stored before = stored();
  ASSERT_EQ(before.records.size(), 4);
  const QString file = out_.filePath(QStringLiteral("out.mbox"));
  ASSERT_TRUE(reception::exportMbox(file).ok);
  ASSERT_FALSE(received::ReceivedStore::removeAll().fault);
  ASSERT_TRUE(stored().records.isEmpty());

  const ImportSummary s = import(file);
  EXPECT_TRUE(s.complete()) << mailimport::summaryText(s).toStdString();
  EXPECT_EQ(s.counts.stored, 4);
  EXPECT_EQ(mailimport::summaryText(s), QStringLiteral("取り込み 4件、重複 0件、読めないもの 0件"));
  const Stored after = stored();
  EXPECT_EQ(after.records, before.records);
  EXPECT_EQ(after.originals, before.originals);
  // The journal is empty again, and the list of mails on the server holds none of these.
  EXPECT_EQ(QFileInfo(received::receiveJournalPath()).size(), 0);

  // Brought in again: every one is there already.
  const ImportSummary again = import(file);
  EXPECT_EQ(again.counts.stored, 0);
  EXPECT_EQ(again.counts.duplicates, 4);
  EXPECT_EQ(stored().records.size(), 4);
}

TEST_F(MailImport, MailACheckStoredAlreadyIsSkipped) {
  receive({mail("a"), mail("b")});
  // An older writer's mbox with LF lines: the same two, a new one with a
  // quoted "From " line, and the new one once more.
  const QByteArray c = mail("c", "x\r\n>From me\r\n");
  const QByteArray file = "From a@example.jp Mon Apr  1 10:00:00 2024\n" + lf(mail("a")) + "\n" +
                          "From a@example.jp Mon Apr  1 10:00:00 2024\n" + lf(c) + "\n" +
                          "From a@example.jp Mon Apr  1 10:00:00 2024\n" + lf(mail("b")) + "\n" +
                          "From a@example.jp Mon Apr  1 10:00:00 2024\n" + lf(c);
  const ImportSummary s = import(write(QStringLiteral("old.mbox"), file));
  EXPECT_EQ(s.counts.stored, 1);
  EXPECT_EQ(s.counts.duplicates, 3);
  EXPECT_EQ(s.counts.unreadable, 0);
  EXPECT_EQ(subjects(), (QStringList{"a", "b", "c"}));
  EXPECT_EQ(stored().originals.last(), mail("c", "x\r\nFrom me\r\n"));

  // A check after it stores what is new on the server, and only that.
  receive({mail("d")});
  EXPECT_EQ(subjects(), (QStringList{"a", "b", "c", "d"}));
}

TEST_F(MailImport, MaildirFoldersSingleFilesAndFilesThatAreNoMail) {
  write(QStringLiteral("md/cur/1700000001.M1.host:2,S"), lf(mail("cur-1")));
  write(QStringLiteral("md/cur/1700000002.M2.host:2,S"), QByteArray("\x00\x01\x02 binary \xff\xfe", 14));
  write(QStringLiteral("md/new/1700000003.M3.host"), lf(mail("new-1")));
  write(QStringLiteral("md/new/.hidden"), lf(mail("hidden")));
  QDir().mkpath(out_.filePath(QStringLiteral("md/tmp")));
  write(QStringLiteral("md/tmp/1700000004.M4.host"), lf(mail("tmp")));
  const ImportSummary s = import(out_.filePath(QStringLiteral("md")));
  EXPECT_EQ(s.counts.stored, 2);
  EXPECT_EQ(s.counts.unreadable, 1);
  EXPECT_EQ(mailimport::summaryText(s), QStringLiteral("取り込み 2件、重複 0件、読めないもの 1件"));
  EXPECT_EQ(subjects(), (QStringList{"cur-1", "new-1"}));
  EXPECT_EQ(stored().originals, (QList<QByteArray>{mail("cur-1"), mail("new-1")}));

  // One mail file, as a .eml; a file that is no mail; an mbox with a
  // broken mail between two good ones.
  EXPECT_EQ(import(write(QStringLiteral("one.eml"), mail("eml"))).counts.stored, 1);
  const ImportSummary junk = import(write(QStringLiteral("junk.txt"), "just some text\nno header\n"));
  EXPECT_EQ(junk.counts.unreadable, 1);
  EXPECT_EQ(junk.counts.stored, 0);
  const ImportSummary broken = import(write(
      QStringLiteral("broken.mbox"), "From x\n" + lf(mail("m1")) + "\nFrom y\n\x01\x02garbage\n\nFrom z\n" + lf(mail("m2"))));
  EXPECT_EQ(broken.counts.stored, 2);
  EXPECT_EQ(broken.counts.unreadable, 1);
  EXPECT_EQ(subjects(), (QStringList{"cur-1", "new-1", "eml", "m1", "m2"}));
  EXPECT_EQ(import(write(QStringLiteral("empty.mbox"), "")).counts.stored, 0);

  // What is neither a mail file nor a Maildir.
  EXPECT_EQ(import(out_.filePath(QStringLiteral("missing"))).failure.code, ImportCode::NotFound);
  QDir().mkpath(out_.filePath(QStringLiteral("plain")));
  const ImportSummary folder = import(out_.filePath(QStringLiteral("plain")));
  EXPECT_EQ(folder.failure.code, ImportCode::NotMailFolder);
  EXPECT_FALSE(mailimport::summaryText(folder).isEmpty());
}

TEST_F(MailImport, StopsBeforeTheFileWouldPassItsLastRecord) {
  // 32765 records without writing a gigabyte: the file's length is what counts.
  const QString records = paths::resolve(paths::kReceivedMailFile);
  {
    QFile f(records);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.resize(qint64(store::kMaxRecords - 2) * kLength));
  }
  QByteArray file;
  for (int i = 1; i <= 5; ++i) file += "From x\n" + lf(mail("m" + QByteArray::number(i))) + "\n";
  const ImportSummary s = import(write(QStringLiteral("five.mbox"), file));
  EXPECT_EQ(s.counts.stored, 2);
  EXPECT_EQ(s.counts.leftOut, 3);
  EXPECT_FALSE(s.complete());
  EXPECT_TRUE(mailimport::summaryText(s).contains(QStringLiteral("3件は取り込みませんでした")))
      << mailimport::summaryText(s).toStdString();
  EXPECT_EQ(QFileInfo(records).size(), qint64(store::kMaxRecords) * kLength);
  store::RecordFile f(records, kLength);
  ASSERT_TRUE(f.open());
  QByteArray raw;
  ASSERT_EQ(f.read(store::kMaxRecords, raw), store::ReadResult::Ok);
  EXPECT_EQ(text::trimSpaces(store::MailRecord(raw).subject()), QStringLiteral("m2"));
}

TEST_F(MailImport, StoppedByTheUserKeepsWhatItStoredAndTheRestComesNextTime) {
  struct Stopping : mailimport::ImportSink {
    int progressCalls = 0;
    void progress(const mailimport::ImportProgress&) override { ++progressCalls; }
    bool stopRequested() override { return true; }
  } stopping;
  QByteArray file;
  for (int i = 1; i <= 5; ++i) file += "From x\n" + lf(mail("m" + QByteArray::number(i))) + "\n";
  const QString path = write(QStringLiteral("five.mbox"), file);
  const ImportSummary s = mailimport::importMail(path, stopping);
  EXPECT_TRUE(s.stopped);
  EXPECT_FALSE(s.complete());
  EXPECT_EQ(s.counts.stored, 1);
  EXPECT_GE(stopping.progressCalls, 1);
  EXPECT_TRUE(mailimport::summaryText(s).contains(QStringLiteral("途中で取り込みを止めました")));
  EXPECT_EQ(subjects(), QStringList{"m1"});
  const ImportSummary rest = import(path);
  EXPECT_EQ(rest.counts.stored, 4);
  EXPECT_EQ(rest.counts.duplicates, 1);
  EXPECT_EQ(subjects(), (QStringList{"m1", "m2", "m3", "m4", "m5"}));
}

TEST_F(MailImport, NeverRunsBesideACheck) {
  const QString file = write(QStringLiteral("one.eml"), mail("one"));
  {
    const received::CheckLock held = received::CheckLock::tryAcquire();
    ASSERT_EQ(held.state(), received::CheckLock::State::Held);
    // flock is per open file: another open of the lock file is refused.
    const ImportSummary s = import(file);
    EXPECT_EQ(s.failure.code, ImportCode::Busy);
    EXPECT_EQ(s.counts.stored, 0);
  }
  EXPECT_TRUE(subjects().isEmpty());
  EXPECT_EQ(import(file).counts.stored, 1);
}

}  // namespace
