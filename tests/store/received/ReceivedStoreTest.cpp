// The received-mail store through its one interface: a check's batches
// appended, committed or rolled back; deletes and originals under the
// check's lock; every failure a code.
#include "platform/Paths.h"
#include "store/RecordFile.h"
#include "store/Records.h"
#include "store/received/Originals.h"
#include "store/received/ReceivedStore.h"
#include "support/TempHome.h"

#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

using namespace received;

namespace {

constexpr int kLength = store::MailRecord::kLength;

QByteArray recordOf(const QString& subject) {
  store::MailRecord r;
  r.setSubject(subject);
  r.markWritten();
  return r.bytes();
}

QByteArray originalOf(const QString& subject) { return "Subject: " + subject.toUtf8() + "\r\n\r\nbody\r\n"; }

class Store : public ::testing::Test {
 protected:
  QString records() const { return paths::resolve(paths::kReceivedMailFile); }
  qint64 size(const QString& path) const { return QFileInfo(path).size(); }

  // One mail of a batch, as a check appends it; its record number.
  int append(ReceivedStore& s, const QString& subject) {
    qint64 at = -1;
    EXPECT_FALSE(s.appendOriginal(originalOf(subject), &at));
    int number = 0;
    EXPECT_FALSE(s.appendRecord(recordOf(subject), at, originalOf(subject).size(), subject.toUtf8(), &number));
    return number;
  }

  TempHome home_;
};

}  // namespace

TEST_F(Store, ABatchIsCommittedWholeOrRolledBackWhole) {
  {
    ReceivedStore s;
    ASSERT_FALSE(s.lock());
    ASSERT_FALSE(s.recover());
    EXPECT_EQ(append(s, u"one"_qs), 1);
    EXPECT_EQ(append(s, u"two"_qs), 2);
    ASSERT_FALSE(s.commit({{u"tomo@pop.example"_qs, {"1", QByteArray(32, 'a')}}}));
    const qint64 committed = size(originalsPath());
    EXPECT_EQ(append(s, u"three"_qs), 3);
    s.rollBack();
    EXPECT_EQ(size(records()), 2 * kLength);
    EXPECT_EQ(size(originalsPath()), committed);
    // After a rollback the next mail takes the place again.
    EXPECT_EQ(append(s, u"four"_qs), 3);
    ASSERT_FALSE(s.commit({}));
    ASSERT_FALSE(s.finish());
  }
  EXPECT_EQ(ReceivedStore::original(1).bytes, originalOf(u"one"_qs));
  EXPECT_EQ(ReceivedStore::original(3).bytes, originalOf(u"four"_qs));
  EXPECT_EQ(size(receiveJournalPath()), 0);
}

TEST_F(Store, NothingIsTouchedWhileACheckHoldsTheLock) {
  ReceivedStore s;
  ASSERT_FALSE(s.lock());
  append(s, u"one"_qs);
  ASSERT_FALSE(s.commit({}));
  ReceivedStore other;
  EXPECT_EQ(other.lock().code, Code::CheckRunning);
  const Removal r = ReceivedStore::remove({1});
  EXPECT_FALSE(r.started);
  EXPECT_EQ(r.fault.code, Code::CheckRunning);
  EXPECT_EQ(ReceivedStore::removeAll().fault.code, Code::CheckRunning);
  EXPECT_EQ(size(records()), kLength);
}

TEST_F(Store, DeletesTellWhatTheFileHeldAndHolds) {
  {
    ReceivedStore s;
    ASSERT_FALSE(s.lock());
    for (const QString& subject : {u"one"_qs, u"two"_qs, u"three"_qs}) append(s, subject);
    ASSERT_FALSE(s.commit({}));
  }
  const Removal one = ReceivedStore::remove({2});
  EXPECT_TRUE(one.started && one.ok());
  EXPECT_EQ(one.before, 3);
  EXPECT_EQ(one.survivors, 2);
  EXPECT_EQ(ReceivedStore::original(2).bytes, originalOf(u"three"_qs));
  const Removal all = ReceivedStore::removeAll();
  EXPECT_TRUE(all.started && all.ok());
  EXPECT_EQ(all.before, 2);
  EXPECT_EQ(all.survivors, 0);
  EXPECT_EQ(size(records()), 0);
  // A record that is not there has no original to read.
  EXPECT_EQ(ReceivedStore::original(1).fault.code, Code::RecordsUnreadable);
}

TEST_F(Store, AMailReceivedBeforeOriginalsWereKeptHasNone) {
  ASSERT_TRUE(store::appendRecord(records(), kLength, recordOf(u"old"_qs), true).ok);
  const Original o = ReceivedStore::original(1);
  EXPECT_TRUE(o.bytes.isNull());
  EXPECT_EQ(o.fault.code, Code::OriginalMissing);
}
