// The originals beside the records: a delete takes the deleted mails'
// originals with it and renumbers the others, whole or not at all, even
// when the process is killed at any step of it.
#include "platform/Paths.h"
#include "platform/TestHooks.h"
#include "store/RecordFile.h"
#include "store/Records.h"
#include "store/received/Originals.h"
#include "store/received/ReceivedStore.h"
#include "support/TempHome.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace received;

namespace {

constexpr int kLength = store::MailRecord::kLength;

QString subjectOf(int i) { return QStringLiteral("mail-%1").arg(i); }
QByteArray originalOf(int i) {
  return "Subject: mail-" + QByteArray::number(i) + "\r\n\r\n" + QByteArray(1000 * i, char('a' + i)) + "\r\n";
}

class Originals : public ::testing::Test {
 protected:
  QString records() const { return paths::resolve(paths::kReceivedMailFile); }

  // n more mails as a check stores them (mail-i in record i), each with its
  // original unless `withOriginals` is false.
  void receive(int n, bool withOriginals = true) {
    OriginalsAppender a;
    Fault why;
    if (withOriginals) ASSERT_TRUE(a.open(&why)) << why.detail.toStdString();
    const int first = int(QFileInfo(records()).size() / kLength) + 1;
    for (int i = first; i < first + n; ++i) {
      store::MailRecord r;
      r.setSubject(subjectOf(i));
      r.setBody(QStringLiteral("本文"));
      r.markWritten();
      ASSERT_TRUE(store::appendRecord(records(), kLength, r.bytes(), true).ok);
      if (!withOriginals) continue;
      qint64 at = 0;
      ASSERT_TRUE(a.append(originalOf(i), &at, &why));
      a.addEntry({i, at, originalOf(i).size(), recordFingerprint(r.bytes()), 0, QByteArray::number(i)});
    }
    if (withOriginals) ASSERT_TRUE(a.writeEntries(&why) && a.sync(&why));
  }

  // The mails the records hold, in order; each must have its own original
  // and the archive nothing else.
  QList<int> mails() const {
    QList<int> out;
    OriginalArchive archive;
    EXPECT_TRUE(archive.load());
    store::RecordFile f(records(), kLength);
    if (!f.open()) return out;
    QByteArray raw;
    for (int n = 1; f.read(n, raw) == store::ReadResult::Ok; ++n) {
      const int i = store::MailRecord(raw).subject().trimmed().mid(5).toInt();
      out << i;
      const std::optional<OriginalEntry> e = archive.forRecord(n, raw);
      if (!e) {
        ADD_FAILURE() << "record " << n << " without its original";
        continue;
      }
      EXPECT_EQ(archive.read(*e), originalOf(i)) << "record " << n;
    }
    EXPECT_EQ(archive.entries().size(), out.size()) << "an original without its record";
    return out;
  }

  // The original record `n` shows; null when it has none or cannot be read.
  QByteArray originalOfRecord(int n) const {
    OriginalArchive archive;
    EXPECT_TRUE(archive.load());
    store::RecordFile f(records(), kLength);
    QByteArray raw;
    if (!f.open() || f.read(n, raw) != store::ReadResult::Ok) return {};
    const std::optional<OriginalEntry> e = archive.forRecord(n, raw);
    return e ? archive.read(*e) : QByteArray();
  }

  // Bytes added at the end of a file of the data folder, as another program would.
  static void appendTo(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::Append));
    ASSERT_EQ(f.write(bytes), bytes.size());
  }

  TempHome home_;
};

}  // namespace

TEST_F(Originals, ADeleteTakesTheOriginalsAlongAndRenumbers) {
  receive(5);
  ASSERT_TRUE(ReceivedStore::remove({2, 4}).ok());
  EXPECT_EQ(mails(), (QList<int>{1, 3, 5}));
  // A deleted mail's bytes are gone from the archive, not only unlisted.
  const QByteArray archive = home_.read(QStringLiteral("★MAilData/received-originals.data"));
  EXPECT_FALSE(archive.contains("mail-2\r\n"));
  EXPECT_FALSE(archive.contains("mail-4\r\n"));
  // The newest mail deleted: the archive gives its room back.
  ASSERT_TRUE(ReceivedStore::remove({3}).ok());
  EXPECT_EQ(mails(), (QList<int>{1, 3}));
  EXPECT_EQ(QFileInfo(originalsPath()).size(), originalOf(1).size() + originalOf(2).size() + originalOf(3).size());
  ASSERT_TRUE(ReceivedStore::remove({1, 2}).ok());
  EXPECT_EQ(mails(), QList<int>{});
  EXPECT_EQ(QFileInfo(originalsPath()).size(), 0);
  EXPECT_FALSE(QFileInfo::exists(paths::resolve(QStringLiteral("★MAilData/delete-journal.txt"))));
}

TEST_F(Originals, AFolderWithoutOriginalsDeletesAsBeforeAndGetsNoArchive) {
  receive(3, false);
  ASSERT_TRUE(ReceivedStore::remove({2}).ok());
  store::RecordFile f(records(), kLength);
  ASSERT_TRUE(f.open());
  EXPECT_EQ(f.recordCount(), 2);
  EXPECT_FALSE(QFileInfo::exists(originalsPath()));
  EXPECT_FALSE(QFileInfo::exists(originalsIndexPath()));
}

// The index line is kept only for the record it was written for: a record
// that is not the one a line speaks of has no original, and a delete does
// not take that original's bytes.
TEST_F(Originals, ALineThatNoLongerFitsItsRecordIsNotItsOriginal) {
  receive(2);
  store::MailRecord other;
  other.setSubject(QStringLiteral("written by another program"));
  other.markWritten();
  store::RecordFile f(records(), kLength);
  ASSERT_TRUE(f.open());
  ASSERT_TRUE(f.write(2, other.bytes()));
  f.close();
  OriginalArchive archive;
  ASSERT_TRUE(archive.load());
  EXPECT_FALSE(archive.forRecord(2, other.bytes()));
  ASSERT_TRUE(ReceivedStore::remove({2}).ok());
  ASSERT_TRUE(archive.load());
  ASSERT_EQ(archive.entries().size(), 2);
  EXPECT_EQ(archive.entries()[1].record, 0);  // kept, tied to no record
  EXPECT_EQ(archive.read(archive.entries()[1]), originalOf(2));
}

TEST_F(Originals, AnIndexLineStillBeingWrittenIsNotRead) {
  const QByteArray whole = indexLine({3, 100, 50, "0123456789abcdef", 1711933200, "UID 1/é"});
  const QList<OriginalEntry> one = parseIndex(whole + "garbage line\n" + whole.left(whole.size() - 3));
  ASSERT_EQ(one.size(), 1);
  EXPECT_EQ(one[0].record, 3);
  EXPECT_EQ(one[0].length, 50);
  EXPECT_EQ(one[0].uid, QByteArray("UID 1/é"));
  EXPECT_EQ(parseIndex(whole).size(), 1);
  // A line with the original's digest; one whose digest was cut short and
  // then ended (outside damage) is no line.
  const QByteArray digest(64, 'a');
  OriginalEntry withDigest{4, 0, 7, "0123456789abcdef", 1711933200, "u"};
  withDigest.digest = digest;
  const QByteArray line = indexLine(withDigest);
  const QList<OriginalEntry> two = parseIndex(line + line.left(line.size() - 10) + '\n');
  ASSERT_EQ(two.size(), 1);
  EXPECT_EQ(two[0].digest, digest);
  EXPECT_FALSE(two[0].lost);
}

// An archive shortened or removed from outside (to get space back): the
// mails whose bytes went have no original, and the next mails, appended at
// the file's length, are never taken for theirs, nor removed by a delete.
TEST_F(Originals, AShortenedOrRemovedArchiveLosesItsMailsNotAnotherMailsBytes) {
  receive(3);
  const qint64 cut = originalOf(1).size() + 500;  // in the middle of mail 2
  ASSERT_TRUE(QFile::resize(originalsPath(), cut));
  receive(2);
  EXPECT_EQ(originalOfRecord(1), originalOf(1));
  EXPECT_TRUE(originalOfRecord(2).isNull());
  EXPECT_TRUE(originalOfRecord(3).isNull());
  EXPECT_EQ(originalOfRecord(4), originalOf(4));
  EXPECT_EQ(originalOfRecord(5), originalOf(5));
  EXPECT_EQ(QFileInfo(originalsPath()).size(), cut + originalOf(4).size() + originalOf(5).size());
  OriginalArchive archive;
  ASSERT_TRUE(archive.load());
  ASSERT_EQ(archive.entries().size(), 5);
  EXPECT_TRUE(archive.entries()[1].lost && archive.entries()[2].lost);
  EXPECT_FALSE(archive.entries()[0].lost || archive.entries()[3].lost || archive.entries()[4].lost);

  ASSERT_TRUE(QFile::remove(originalsPath()));
  receive(1);
  for (int n = 1; n <= 5; ++n) EXPECT_TRUE(originalOfRecord(n).isNull()) << n;
  EXPECT_EQ(originalOfRecord(6), originalOf(6));

  // Deleting lost mails takes no bytes: mail 6 lies where they were.
  ASSERT_TRUE(ReceivedStore::remove({2, 4}).ok());
  EXPECT_TRUE(originalOfRecord(1).isNull());
  EXPECT_TRUE(originalOfRecord(2).isNull());
  EXPECT_TRUE(originalOfRecord(3).isNull());
  EXPECT_EQ(originalOfRecord(4), originalOf(6));
  ASSERT_TRUE(archive.load());
  EXPECT_EQ(archive.entries().size(), 4);
  receive(1);
  EXPECT_EQ(originalOfRecord(4), originalOf(6));
  EXPECT_EQ(originalOfRecord(5), originalOf(5));  // record 5 now holds mail-5 again
}

// Lines written before originals carried a digest are read as they were,
// and a folder that holds them opens unchanged; an original whose bytes
// are no longer those received is refused.
TEST_F(Originals, OldLinesStillReadAndChangedBytesRefused) {
  receive(2);
  // Mail 3 as versions before the digest kept it.
  store::MailRecord r;
  r.setSubject(subjectOf(3));
  r.markWritten();
  ASSERT_TRUE(store::appendRecord(records(), kLength, r.bytes(), true).ok);
  const qint64 at = QFileInfo(originalsPath()).size();
  appendTo(originalsPath(), originalOf(3));
  appendTo(originalsIndexPath(), indexLine({3, at, originalOf(3).size(), recordFingerprint(r.bytes()), 0, "3"}));
  EXPECT_EQ(originalOfRecord(3), originalOf(3));

  // Outside damage in the middle of mail 2.
  {
    QFile f(originalsPath());
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.seek(originalOf(1).size() + 100));
    ASSERT_EQ(f.write("X"), 1);
  }
  EXPECT_EQ(originalOfRecord(1), originalOf(1));
  EXPECT_TRUE(originalOfRecord(2).isNull());
  EXPECT_EQ(originalOfRecord(3), originalOf(3));

  const QByteArray index = home_.read(QStringLiteral("★MAilData/received-originals.txt"));
  receive(1);
  EXPECT_TRUE(home_.read(QStringLiteral("★MAilData/received-originals.txt")).startsWith(index));
  EXPECT_EQ(originalOfRecord(3), originalOf(3));
  EXPECT_EQ(originalOfRecord(4), originalOf(4));
}

// Index lines written by earlier versions carry the digest as it was made
// then: the SHA-256 of the mail's bytes in lowercase hex, whoever computes it.
TEST(OriginalDigest, IsTheSha256OfTheBytesInLowercaseHexAsIndexesWrittenBeforeHoldIt) {
  EXPECT_EQ(originalDigest("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(originalDigest(QByteArray()), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  QByteArray large(3 * 1024 * 1024 + 17, '\0');
  for (qsizetype i = 0; i < large.size(); ++i) large[i] = char(i * 31 + (i >> 11));
  EXPECT_EQ(originalDigest(large), QCryptographicHash::hash(large, QCryptographicHash::Sha256).toHex());
}

// An index that no longer fits its archive (one restored from elsewhere):
// deleting a mail whose line points at bytes a kept line points at too
// leaves those bytes for the kept one.
TEST_F(Originals, ADeleteLeavesBytesAKeptLinePointsAt) {
  receive(2);
  OriginalArchive archive;
  ASSERT_TRUE(archive.load());
  ASSERT_EQ(archive.entries().size(), 2);
  OriginalEntry one = archive.entries()[0], two = archive.entries()[1];
  two.offset = one.offset + 10;
  home_.write(QStringLiteral("★MAilData/received-originals.txt"), indexLine(one) + indexLine(two));
  ASSERT_TRUE(ReceivedStore::remove({2}).ok());
  EXPECT_EQ(originalOfRecord(1), originalOf(1));
}

// A last index line without its line break, from outside damage, must not
// join the next check's first line.
TEST_F(Originals, ATornLastIndexLineDoesNotSwallowTheNextMailsLine) {
  receive(1);
  appendTo(originalsIndexPath(), "2 1020 20");
  receive(2);
  EXPECT_EQ(originalOfRecord(1), originalOf(1));
  EXPECT_EQ(originalOfRecord(2), originalOf(2));
  EXPECT_EQ(originalOfRecord(3), originalOf(3));
}

// A child process deletes and is stopped dead after each step in turn; the
// next start (recovery) must leave the old mails or the new ones, each
// record with its original and no original left over.
TEST_F(Originals, AKillAtAnyStepOfADeleteLeavesTheOldOrTheNewMails) {
  for (int step = 1; step <= 7; ++step) {
    SCOPED_TRACE(step);
    TempHome home;
    receive(5);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      static int killAt;
      killAt = step;
      testhooks::deleteStep = [](int s) {
        if (s == killAt) ::_exit(9);
      };
      ReceivedStore::remove({2, 5});
      ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 9);
    // Read before anything is made whole (the viewer, an export): each
    // record still finds its own original.
    EXPECT_EQ(mails(), step < 4 ? (QList<int>{1, 2, 3, 4, 5}) : (QList<int>{1, 3, 4}));
    {
      // The next start makes it whole (a check or a delete, under the lock).
      ReceivedStore next;
      ASSERT_FALSE(next.lock());
      ASSERT_FALSE(next.recover());
    }
    // Decided once its journal is on the disk (step 3).
    EXPECT_EQ(mails(), step < 3 ? (QList<int>{1, 2, 3, 4, 5}) : (QList<int>{1, 3, 4}));
    EXPECT_FALSE(QFileInfo::exists(paths::resolve(paths::kReceivedMailTemp)));
    // And the next delete works on what is there.
    ASSERT_TRUE(ReceivedStore::remove({1}).ok());
    EXPECT_EQ(mails().size(), step < 3 ? 4 : 2);
  }
}
