// A check that runs out of room: on a small file system (a size-limited
// tmpfs, where mounting is allowed) and past a file-size limit
// (RLIMIT_FSIZE, which also sends SIGXFSZ). No partial record, no mail
// stored twice, the rest left on the server and said so; with room again,
// the next check brings exactly what is missing.
#include "platform/Paths.h"
#include "platform/ProgramFolder.h"
#include "platform/Text.h"
#include "store/RecordFile.h"
#include "store/Records.h"
#include "support/MailServers.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>

namespace {

constexpr int kMails = 60;

QString subject(int i) { return QStringLiteral("disk-%1").arg(i, 2, 10, QChar(u'0')); }

QByteArray mailOf(int i) {
  const QByteArray s = subject(i).toLatin1();
  QByteArray head = "From: disk@example.jp\r\nSubject: " + s + "\r\nMessage-ID: <" + s + "@example.jp>\r\nMIME-Version: 1.0\r\n";
  if (i % 5 != 0) return head + "Content-Type: text/plain\r\n\r\nshort text\r\n";
  return head + "Content-Type: multipart/mixed; boundary=\"DB\"\r\n\r\n--DB\r\nContent-Type: text/plain\r\n\r\nfile\r\n"
                "--DB\r\nContent-Type: application/octet-stream\r\nContent-Disposition: attachment; filename=\"f-" +
         s + ".bin\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" + QByteArray(90000, char(i)).toBase64() + "\r\n--DB--\r\n";
}

class FullDisk : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { servers_ = new MailServers; }
  static void TearDownTestSuite() {
    delete servers_;
    servers_ = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(servers_->ok()) << servers_->error().toStdString();
    for (const char* sub : {"/new", "/cur"}) {
      QDir d(servers_->maildir() + QLatin1String(sub));
      for (const QString& f : d.entryList(QDir::Files)) d.remove(f);
    }
    for (int i = 1; i <= kMails; ++i) servers_->deliver(mailOf(i));
  }

  void layOut(const QString& home) {
    QString error;
    ASSERT_TRUE(layOutProgramFolder(home, &error)) << error.toStdString();
    writeServerSettings(home, QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.1:%1").arg(servers_->pop3Port()),
                        servers_->address(), 0);
    writeAccount(home, servers_->user(), servers_->password());
    trustTestCa(*servers_, home);
  }

  // tomoshibi --check, with a file-size limit when `fsize` > 0.
  static RunResult check(const QString& home, rlim_t fsize = 0) {
    QProcess p;
    p.setWorkingDirectory(home);
    p.setChildProcessModifier([fsize] {
      if (fsize == 0) return;
      const rlimit l{fsize, fsize};
      ::setrlimit(RLIMIT_FSIZE, &l);
    });
    p.start(QStringLiteral(TOMOSHIBI_EXE), {QStringLiteral("--home"), home, QStringLiteral("--check")});
    RunResult r;
    r.finished = p.waitForStarted() && p.waitForFinished(60000);
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
  }

  // What the folder holds: each mail at most once, whole records only,
  // attached files at most once; the stored and the waiting make all.
  QStringList verify(const QString& home) {
    store::RecordFile f(paths::resolveIn(home, paths::kReceivedMailFile), store::MailRecord::kLength);
    EXPECT_TRUE(f.open());
    EXPECT_EQ(f.byteLength() % store::MailRecord::kLength, 0) << "a partial record";
    QStringList stored;
    QByteArray raw;
    for (int n = 1; f.read(n, raw) == store::ReadResult::Ok; ++n)
      stored << text::trimSpaces(store::MailRecord(raw).subject());
    QStringList unique = stored;
    unique.removeDuplicates();
    EXPECT_EQ(unique.size(), stored.size()) << "a mail stored twice";
    const QStringList files = QDir(paths::resolveIn(home, paths::kAttachFolder)).entryList(QDir::Files);
    for (const QString& name : files) EXPECT_FALSE(name.contains(u'(')) << name.toStdString();
    EXPECT_EQ(int(stored.size()) + servers_->mailboxCount(), kMails);
    return stored;
  }

  void fillUpThenMakeRoom(const QString& home, const std::function<void()>& makeRoom, rlim_t fsize) {
    RunResult r = check(home, fsize);
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("通のメールを受信できませんでした"))) << r.err.toStdString();
    const QStringList first = verify(home);
    EXPECT_GT(first.size(), 0);
    EXPECT_LT(first.size(), kMails);
    makeRoom();
    r = check(home);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    QStringList all = verify(home);
    EXPECT_EQ(all.mid(0, first.size()), first);
    all.sort();
    QStringList want;
    for (int i = 1; i <= kMails; ++i) want << subject(i);
    EXPECT_EQ(all, want);
    EXPECT_EQ(servers_->mailboxCount(), 0);
    EXPECT_EQ(QDir(paths::resolveIn(home, paths::kAttachFolder)).entryList(QDir::Files).size(), kMails / 5);
  }

  static MailServers* servers_;
};

MailServers* FullDisk::servers_ = nullptr;

}  // namespace

TEST_F(FullDisk, ASmallFileSystemRunsFull) {
  QTemporaryDir mountPoint;
  const QByteArray target = QFile::encodeName(mountPoint.path());
  if (::mount("tmpfs", target.constData(), "tmpfs", 0, "size=1200k") != 0)
    GTEST_SKIP() << "mounting a tmpfs is not allowed here; the file-size limit test stands in";
  struct Unmount {
    QByteArray at;
    ~Unmount() { ::umount2(at.constData(), MNT_DETACH); }
  } unmount{target};
  const QString home = mountPoint.path() + QStringLiteral("/home");
  ASSERT_TRUE(QDir().mkdir(home));
  layOut(home);
  fillUpThenMakeRoom(
      home, [&] { ASSERT_EQ(::mount("tmpfs", target.constData(), "tmpfs", MS_REMOUNT, "size=16m"), 0); }, 0);
}

TEST_F(FullDisk, AFileSizeLimitIsAFailedWriteNotAKill) {
  QTemporaryDir dir;
  layOut(dir.path());
  // The received-mail file may grow to 25 records; the 26th write is cut
  // short by the limit (and SIGXFSZ, which must not end the check).
  fillUpThenMakeRoom(dir.path(), [] {}, 25 * store::MailRecord::kLength + 1000);
}
