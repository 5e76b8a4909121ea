// The list's index of heads beside the received-mail file: the list it
// gives is the list the records give, whatever happened to the records or
// to the index since it was made.
#include "platform/Paths.h"
#include "store/RecordFile.h"
#include "store/Records.h"
#include "support/TempHome.h"
#include "viewer/MailListModel.h"
#include "viewer/ReceivedMail.h"
#include "viewer/core/HeadIndex.h"

#include <QFile>
#include <QFileInfo>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

constexpr int L = store::MailRecord::kLength;
constexpr int kHead = MailListModel::kHeadLength;

QByteArray record(const QString& subject) {
  store::MailRecord r;
  r.setSubject(subject);
  r.setDate(QStringLiteral("Mon, 1 Apr 2024 09:00:00 +0900"));
  r.setFrom(QStringLiteral("花子 <hanako@example.jp>"));
  r.setBody(QStringLiteral("本文 ") + subject);
  r.markWritten();
  return r.bytes();
}

class HeadIndex : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = paths::resolve(paths::kReceivedMailFile);
    QByteArray all;
    for (int i = 1; i <= 5; ++i) all += record(QStringLiteral("件名 %1 ①㈱～").arg(i));
    write(all);
  }
  void write(const QByteArray& bytes, QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Truncate) {
    QFile f(file_);
    ASSERT_TRUE(f.open(mode));
    ASSERT_EQ(f.write(bytes), bytes.size());
  }
  QString index() const { return viewer::headIndexPath(file_); }
  // The heads as the records give them, with no index to help.
  QByteArray fromRecords() {
    const QByteArray kept = readIndex();
    QFile::remove(index());
    const viewer::MailListScan s = viewer::scanRecordsOf(file_);
    if (!kept.isNull()) {
      QFile f(index());
      f.open(QIODevice::WriteOnly | QIODevice::Truncate);
      f.write(kept);
    }
    return s.heads;
  }
  QByteArray readIndex() const {
    QFile f(index());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }
  static QString subjectOf(const viewer::MailListScan& s, int row) {
    QByteArray head = s.heads.mid(qsizetype(row) * kHead, kHead);
    head.append(L - kHead, ' ');
    store::MailRecord r;
    r.setBytes(head);
    return r.text(store::MailRecord::kSubject).trimmed();
  }

  TempHome home_;
  QString file_;
};

}  // namespace

TEST_F(HeadIndex, MadeByTheFirstListAndGivingTheSameList) {
  EXPECT_FALSE(QFileInfo::exists(index()));
  const viewer::MailListScan first = viewer::scanRecordsOf(file_);
  ASSERT_EQ(first.rows, 5);
  ASSERT_TRUE(QFileInfo::exists(index()));
  EXPECT_EQ(QFileInfo(index()).permissions() & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());
  struct stat made {};
  ASSERT_EQ(::stat(QFile::encodeName(index()).constData(), &made), 0);
  const viewer::MailListScan second = viewer::scanRecordsOf(file_);
  EXPECT_EQ(second.rows, 5);
  EXPECT_EQ(second.heads, first.heads);
  EXPECT_EQ(second.last.bytes(), record(QStringLiteral("件名 5 ①㈱～")));
  EXPECT_EQ(subjectOf(second, 0), QStringLiteral("件名 1 ①㈱～"));
  struct stat after {};
  ASSERT_EQ(::stat(QFile::encodeName(index()).constData(), &after), 0);
  EXPECT_EQ(after.st_ino, made.st_ino) << "made again instead of read";
}

TEST_F(HeadIndex, AnyChangeToTheRecordsMakesItStale) {
  viewer::scanRecordsOf(file_);
  // A mail received.
  write(record(QStringLiteral("新着")), QIODevice::Append);
  viewer::MailListScan s = viewer::scanRecordsOf(file_);
  ASSERT_EQ(s.rows, 6);
  EXPECT_EQ(subjectOf(s, 5), QStringLiteral("新着"));
  EXPECT_EQ(s.heads, fromRecords());

  // A record changed in place, its modification time put back as it was:
  // the change time still tells.
  struct stat before {};
  ASSERT_EQ(::stat(QFile::encodeName(file_).constData(), &before), 0);
  {
    QFile f(file_);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.seek(qint64(2) * L));
    ASSERT_EQ(f.write(record(QStringLiteral("書き換え"))), L);
  }
  const timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(file_).constData(), times, 0), 0);
  s = viewer::scanRecordsOf(file_);
  EXPECT_EQ(subjectOf(s, 2), QStringLiteral("書き換え"));

  // A mail deleted: the file written anew and renamed into place.
  {
    QFile f(file_);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray all = f.readAll();
    QFile n(file_ + QStringLiteral(".tmp"));
    ASSERT_TRUE(n.open(QIODevice::WriteOnly));
    n.write(all.left(qint64(5) * L));
  }
  ASSERT_EQ(::rename(QFile::encodeName(file_ + QStringLiteral(".tmp")).constData(), QFile::encodeName(file_).constData()), 0);
  s = viewer::scanRecordsOf(file_);
  EXPECT_EQ(s.rows, 5);
  EXPECT_EQ(s.heads, fromRecords());
}

TEST_F(HeadIndex, ADamagedOrForeignIndexIsNeverBelieved) {
  viewer::scanRecordsOf(file_);
  const QByteArray good = readIndex();
  ASSERT_FALSE(good.isEmpty());
  const QByteArray truth = fromRecords();
  QByteArray flipped = good;
  flipped[flipped.size() - 100] = char(flipped[flipped.size() - 100] ^ 0x20);  // a head changed, the length kept
  QByteArray zeroed = good;
  std::fill(zeroed.begin() + 200, zeroed.end(), '\0');  // written, never flushed, then a crash
  const QList<QByteArray> damaged{good.left(good.size() - 1), good + "x", flipped, zeroed, QByteArray("TMHEADS1"),
                                  QByteArray(good.size(), 'z')};
  for (const QByteArray& bad : damaged) {
    {
      QFile f(index());
      ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
      f.write(bad);
    }
    const viewer::MailListScan s = viewer::scanRecordsOf(file_);
    EXPECT_EQ(s.rows, 5);
    EXPECT_EQ(s.heads, truth);
    EXPECT_EQ(readIndex(), good) << "made again";
  }

  // The folder copied elsewhere: another file, even with the same bytes
  // and times, has another identity.
  const QString other = file_ + QStringLiteral(".other");
  ASSERT_TRUE(QFile::copy(file_, other));
  {
    QFile f(other);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.seek(0));
    f.write(record(QStringLiteral("別のファイル")));
  }
  ASSERT_TRUE(QFile::copy(index(), viewer::headIndexPath(other)));
  const viewer::MailListScan s = viewer::scanRecordsOf(other);
  EXPECT_EQ(subjectOf(s, 0), QStringLiteral("別のファイル"));
}
