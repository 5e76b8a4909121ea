#include "platform/TestHooks.h"
#include "platform/Text.h"
#include "store/RecordFile.h"
#include "store/Records.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace store;

namespace {
constexpr int L = MailRecord::kLength;

QByteArray readAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

MailRecord mail(const QString& subject, const QString& body = QString()) {
  MailRecord r;
  r.setSubject(subject);
  r.setDate(QStringLiteral("Tue, 8 Dec 2026 09:00:00 +0900"));
  r.setFrom(QStringLiteral("差出人 <from@example.jp>"));
  r.setBody(body.isEmpty() ? subject + QStringLiteral(" の本文") : body);
  r.markWritten();
  return r;
}

// A received-mail file of the given subjects, appended one by one.
struct MailFile {
  QTemporaryDir dir;
  QString file = dir.filePath(QStringLiteral("plkdata2.data"));
  QString temp = dir.filePath(QStringLiteral("PLKDATA2.TMP"));
  explicit MailFile(const QStringList& subjects) {
    for (const QString& s : subjects) EXPECT_TRUE(appendRecord(file, L, mail(s).bytes(), false).ok);
  }
  QStringList subjects() const {
    RecordFile f(file, L);
    EXPECT_TRUE(f.open());
    QStringList out;
    QByteArray b;
    for (int n = 1; f.read(n, b) == ReadResult::Ok; ++n) out << text::trimSpaces(MailRecord(b).subject());
    return out;
  }
};
}  // namespace

TEST(MailRecordLayout, FieldsSitAtTheirBytes) {
  MailRecord r = mail(QStringLiteral("件名"), QStringLiteral("本文①"));
  const QByteArray& b = r.bytes();
  ASSERT_EQ(b.size(), 32284);
  EXPECT_EQ(b.left(4), text::toCp932(QStringLiteral("件名")));
  EXPECT_EQ(b.mid(4, 96), QByteArray(96, ' '));
  EXPECT_EQ(b.mid(100, 4), QByteArray("Tue,"));
  EXPECT_EQ(b.mid(190, 6), text::toCp932(QStringLiteral("差出人")));
  EXPECT_EQ(b.mid(280, 6), text::toCp932(QStringLiteral("本文①")));
  EXPECT_EQ(b.mid(32280, 2), QByteArray("\r\n"));
  EXPECT_EQ(b.mid(32282, 2), QByteArray("\x01\x00", 2));  // 16-bit little-endian 1
  r.setLiveFlag(-2);
  EXPECT_EQ(r.bytes().mid(32282, 2), QByteArray("\xFE\xFF"));
  EXPECT_EQ(r.liveFlag(), -2);

  // A subject over 100 bytes is cut at a character boundary.
  r.setSubject(QString(60, QChar(u'あ')));
  EXPECT_EQ(text::trimSpaces(r.subject()), QString(50, QChar(u'あ')));

  AddressRecord a;
  a.setName(QStringLiteral("日本太郎"));
  a.setAddress(QStringLiteral("taro@example.jp"));
  a.markWritten();
  ASSERT_EQ(a.bytes().size(), 184);
  EXPECT_EQ(a.bytes().mid(90, 4), QByteArray("\r\n\x01\x00", 4));
  EXPECT_EQ(a.bytes().mid(94, 15), QByteArray("taro@example.jp"));
  EXPECT_EQ(text::trimSpaces(a.name()), QStringLiteral("日本太郎"));
}

TEST(RecordFileAccess, HandMadeFileOpensWithTheRightFields) {
  QTemporaryDir dir;
  const QString file = dir.filePath(QStringLiteral("plkdata2.data"));
  // One record built byte by byte, as another program would have written it.
  QByteArray rec;
  rec += text::toCp932(QStringLiteral("お知らせ㈱")).leftJustified(100, ' ');
  rec += QByteArray("Mon, 7 Dec 2026").leftJustified(90, ' ');
  rec += text::toCp932(QStringLiteral("山田 <y@example.jp>")).leftJustified(90, ' ');
  rec += text::toCp932(QStringLiteral("一行目\r\n二行目～")).leftJustified(32000, ' ');
  rec += "\r\n";
  rec += QByteArray("\x01\x00", 2);
  ASSERT_EQ(rec.size(), L);
  {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(rec);
  }
  RecordFile f(file, L);
  ASSERT_TRUE(f.open());
  QByteArray b;
  ASSERT_EQ(f.read(1, b), ReadResult::Ok);
  MailRecord r(b);
  EXPECT_EQ(text::trimSpaces(r.subject()), QStringLiteral("お知らせ㈱"));
  EXPECT_EQ(text::trimSpaces(r.from()), QStringLiteral("山田 <y@example.jp>"));
  EXPECT_EQ(text::trimSpaces(r.body()), QStringLiteral("一行目\r\n二行目～"));
  EXPECT_EQ(r.liveFlag(), 1);
  EXPECT_EQ(f.read(2, b), ReadResult::EndOfFile);
}

TEST(RecordFileAccess, OpenCreatesEmptyAndAppendsStartAtOne) {
  QTemporaryDir dir;
  const QString file = dir.filePath(QStringLiteral("plkdata2.data"));
  ASSERT_TRUE(ensureFile(file));
  EXPECT_EQ(QFileInfo(file).size(), 0);
  StoreResult r = appendRecord(file, L, mail(QStringLiteral("one")).bytes(), true);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.recordNumber, 1);
  EXPECT_EQ(QFileInfo(file).size(), L);
  EXPECT_EQ(appendRecord(file, L, mail(QStringLiteral("two")).bytes(), false).recordNumber, 2);

  StoreFailure why;
  EXPECT_FALSE(ensureFile(dir.filePath(QStringLiteral("nofolder/plkdata2.data")), &why));
  EXPECT_EQ(why.code, StoreCode::FolderMissing);
  EXPECT_EQ(why.path, dir.filePath(QStringLiteral("nofolder/plkdata2.data")));
  EXPECT_FALSE(appendRecord(dir.filePath(QStringLiteral("nofolder/x.data")), L, mail(QStringLiteral("x")).bytes(), true).ok);
}

TEST(RecordFileAccess, PartialLastRecordIsNeverRead) {
  MailFile m({QStringLiteral("a")});
  QFile f(m.file);
  ASSERT_TRUE(f.open(QIODevice::Append));
  f.write(QByteArray(L / 2, 'z'));  // half a record
  f.close();
  RecordFile rf(m.file, L);
  ASSERT_TRUE(rf.open());
  EXPECT_EQ(rf.recordCount(), 1);
  QByteArray b;
  EXPECT_EQ(rf.read(2, b), ReadResult::EndOfFile);
  EXPECT_EQ(rf.readPart(2, 0, 10, b), ReadResult::EndOfFile);
  // The append goes right after the last complete record, over the tail,
  // however long the tail is.
  EXPECT_EQ(rf.nextRecordNumber(), 2);
  f.resize(qint64(L) * 1.6);
  EXPECT_EQ(rf.nextRecordNumber(), 2);
  EXPECT_EQ(rf.recordCount(), 1);
}

TEST(RecordFileAccess, AnAppendOverAPartialTailLeavesNoGarbageRow) {
  for (const double records : {1.5, 1.6, 1.01, 1.99}) {
    MailFile m({QStringLiteral("a")});
    {
      QFile f(m.file);
      ASSERT_TRUE(f.resize(qint64(L * records)));
    }
    StoreResult r = appendRecord(m.file, L, mail(QStringLiteral("b")).bytes(), true);
    ASSERT_TRUE(r.ok) << r.failure.cause.toStdString();
    EXPECT_EQ(r.recordNumber, 2) << records;
    EXPECT_EQ(QFileInfo(m.file).size(), 2 * L) << records;
    EXPECT_EQ(m.subjects(), QStringList({QStringLiteral("a"), QStringLiteral("b")})) << records;
  }
}

TEST(RecordFileAccess, FullFileRefusesAnotherAppend) {
  QTemporaryDir dir;
  const QString file = dir.filePath(QStringLiteral("plkdata2.data"));
  {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_TRUE(f.resize(qint64(kMaxRecords) * L));  // sparse: no real 1 GB written
  }
  StoreResult r = appendRecord(file, L, mail(QStringLiteral("x")).bytes(), true);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.failure.code, StoreCode::Full);
  EXPECT_EQ(r.failure.path, file);
  EXPECT_EQ(QFileInfo(file).size(), qint64(kMaxRecords) * L);
}

TEST(Rewrite, DeletesKeepOrderAndRenumber) {
  MailFile m({QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")});
  StoreResult r = deleteRecords(m.file, m.temp, L, MailRecord::kFlagOffset, {2});
  ASSERT_TRUE(r.ok) << r.failure.cause.toStdString();
  EXPECT_EQ(r.survivors, 2);
  EXPECT_EQ(m.subjects(), QStringList({QStringLiteral("1"), QStringLiteral("3")}));
  EXPECT_FALSE(QFile::exists(m.temp));

  // Several at once, and the last one standing.
  MailFile many({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("d")});
  ASSERT_TRUE(deleteRecords(many.file, many.temp, L, MailRecord::kFlagOffset, {1, 3, 4}).ok);
  EXPECT_EQ(many.subjects(), QStringList({QStringLiteral("b")}));
  ASSERT_TRUE(deleteRecords(many.file, many.temp, L, MailRecord::kFlagOffset, {1}).ok);
  EXPECT_EQ(QFileInfo(many.file).size(), 0);
  EXPECT_FALSE(QFile::exists(many.temp));
}

TEST(Rewrite, DropsPartialTailReplacesStaleTempAndKeepsUnmarkedRecords) {
  MailFile m({QStringLiteral("1"), QStringLiteral("2")});
  {
    QFile f(m.file);
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write(QByteArray(100, 'z'));
    QFile t(m.temp);
    ASSERT_TRUE(t.open(QIODevice::WriteOnly));
    t.write("stale copy of an interrupted delete");
  }
  // Record 1 marked earlier but never rewritten is still a record until the rewrite.
  {
    RecordFile f(m.file, L);
    ASSERT_TRUE(f.open());
    ASSERT_TRUE(f.writeLiveFlag(1, MailRecord::kFlagOffset, 0));
  }
  EXPECT_EQ(m.subjects().size(), 2);
  ASSERT_TRUE(rewriteThroughTemporary(m.file, m.temp, L, MailRecord::kFlagOffset).ok);
  EXPECT_EQ(m.subjects(), QStringList({QStringLiteral("2")}));
  EXPECT_EQ(QFileInfo(m.file).size(), L);
  EXPECT_FALSE(QFile::exists(m.temp));
}

TEST(Rewrite, KeepsRecordsPastTheSixteenBitNumbering) {
  // Small records stand in for mail records: only the count matters here.
  QTemporaryDir dir;
  const QString file = dir.filePath(QStringLiteral("big.data"));
  const int n = kMaxRecords + 3;
  QByteArray all;
  for (int i = 0; i < n; ++i) all += QByteArray("ab\x01\x00", 4);
  all[4 * 9 + 2] = 0;  // record 10 marked
  {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(all);
  }
  StoreResult r = rewriteThroughTemporary(file, dir.filePath(QStringLiteral("BIG.TMP")), 4, 2);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.survivors, n - 1);
  EXPECT_EQ(QFileInfo(file).size(), qint64(n - 1) * 4);
}

TEST(Rewrite, MissingFolderFailsWithoutWriting) {
  QTemporaryDir dir;
  const QString file = dir.filePath(QStringLiteral("gone/plkdata2.data"));
  StoreResult r = deleteRecords(file, dir.filePath(QStringLiteral("gone/PLKDATA2.TMP")), L, MailRecord::kFlagOffset, {1});
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.failure.code, StoreCode::FolderMissing);
  EXPECT_FALSE(QDir(dir.filePath(QStringLiteral("gone"))).exists());
}

// A write failure or a crash at any step of the rewrite leaves under the real
// name either the whole old file or the whole new one: no record is lost.
class RewriteInterrupted : public ::testing::TestWithParam<RewriteStep> {};

TEST_P(RewriteInterrupted, FailureLeavesTheOldFileWhole) {
  MailFile m({QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")});
  const RewriteStep step = GetParam();
  testhooks::rewriteStep = [step](RewriteStep s) { return s == step; };
  StoreResult r = deleteRecords(m.file, m.temp, L, MailRecord::kFlagOffset, {2});
  testhooks::rewriteStep = nullptr;
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.failure.code, step == RewriteStep::Renamed ? StoreCode::Unreplaceable : StoreCode::TempUnwritable);
  EXPECT_FALSE(r.failure.cause.isEmpty());
  EXPECT_EQ(m.subjects(), QStringList({QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")}));
  EXPECT_FALSE(QFile::exists(m.temp));
}

TEST_P(RewriteInterrupted, CrashLeavesOldOrNewWhole) {
  MailFile m({QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")});
  const RewriteStep step = GetParam();
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // The child dies at the step, without any clean-up, as a killed process would.
    testhooks::rewriteStep = [step](RewriteStep s) {
      if (s == step) _exit(7);
      return false;
    };
    deleteRecords(m.file, m.temp, L, MailRecord::kFlagOffset, {2});
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 7);
  const QStringList now = m.subjects();
  const QStringList before{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")};
  const QStringList after{QStringLiteral("1"), QStringLiteral("3")};
  EXPECT_TRUE(now == before || now == after) << now.join(u',').toStdString();
  EXPECT_EQ(QFileInfo(m.file).size() % L, 0);
  // The next delete goes through, whatever the crash left behind, and
  // takes only what it is asked to.
  ASSERT_TRUE(deleteRecords(m.file, m.temp, L, MailRecord::kFlagOffset, {}).ok);
  EXPECT_EQ(m.subjects(), now);
}

TEST_P(RewriteInterrupted, AFailedDeleteIsNotCarriedIntoTheNextOne) {
  MailFile m({QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")});
  const QByteArray before = readAll(m.file);
  const RewriteStep step = GetParam();
  testhooks::rewriteStep = [step](RewriteStep s) { return s == step; };
  EXPECT_FALSE(deleteRecords(m.file, m.temp, L, MailRecord::kFlagOffset, {1, 2}).ok);
  testhooks::rewriteStep = nullptr;
  EXPECT_EQ(readAll(m.file), before);
  ASSERT_TRUE(deleteRecords(m.file, m.temp, L, MailRecord::kFlagOffset, {3}).ok);
  EXPECT_EQ(m.subjects(), QStringList({QStringLiteral("1"), QStringLiteral("2")}));
}

INSTANTIATE_TEST_SUITE_P(EachStep, RewriteInterrupted,
                         ::testing::Values(RewriteStep::TempOpened, RewriteStep::SurvivorsWritten,
                                           RewriteStep::TempFlushed, RewriteStep::Renamed));
