// The journal that commits a batch of records together with its mails'
// identities, and what recovery makes of every state a check can be cut
// off in.
#include "platform/Paths.h"
#include "store/received/ReceiveJournal.h"
#include "store/received/ReceivedStore.h"
#include "store/received/ReceivedUids.h"
#include "support/TempHome.h"

#include <QFile>
#include <QFileInfo>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace received;

namespace {

constexpr qint64 kRecord = 32284;
const QString kAccount = QStringLiteral("tomo@pop.example");

class Journal : public ::testing::Test {
 protected:
  QString records() const { return paths::resolve(paths::kReceivedMailFile); }
  QString attached(const QString& name) const { return paths::resolve(paths::kAttachFolder) + u'/' + name; }
  qint64 size(const QString& p) const { return QFileInfo(p).size(); }
  void append(handles::Fd& fd, qint64 bytes) {
    const QByteArray b(bytes, 'r');
    ASSERT_EQ(::write(fd.get(), b.constData(), size_t(b.size())), bytes);
  }
  handles::Fd openRecords() {
    return handles::Fd(::open(QFile::encodeName(records()).constData(), O_WRONLY | O_CREAT | O_APPEND, 0644));
  }
  void touch(const QString& p) {
    QFile f(p);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  }
  static JournalEntry entry(const char* uid, char digestFill) {
    return {kAccount, {QByteArray(uid), QByteArray(32, digestFill)}};
  }
  ReceivedUidList list() const {
    ReceivedUidList l(receivedUidsPath(), kAccount);
    EXPECT_TRUE(l.load());
    return l;
  }
  // What the next check (or delete) does first, under the check's lock.
  static Fault recover() {
    ReceivedStore store;
    if (const Fault f = store.lock()) return f;
    return store.recover();
  }

  TempHome home_;
};

}  // namespace

TEST_F(Journal, ACommittedBatchStaysAndTheOneAfterItIsCutBack) {
  handles::Fd fd = openRecords();
  append(fd, kRecord);  // stored before this check
  Fault why;
  ReceiveJournal j(receiveJournalPath());
  ASSERT_TRUE(j.begin({{records(), fd.get(), kRecord}}, &why));
  ASSERT_TRUE(j.announce(attached(u"a.pdf"_qs), &why));
  touch(attached(u"a.pdf"_qs));
  append(fd, 2 * kRecord);
  ASSERT_TRUE(j.commit({3 * kRecord}, {entry("u1", '1'), entry("u2", '2')}, &why));
  // The next batch: a record and a file, then the kill.
  ASSERT_TRUE(j.announce(attached(u"b.pdf"_qs), &why));
  touch(attached(u"b.pdf"_qs));
  append(fd, kRecord + 500);

  ASSERT_FALSE(recover());
  EXPECT_EQ(size(records()), 3 * kRecord);
  EXPECT_TRUE(QFileInfo::exists(attached(u"a.pdf"_qs)));
  EXPECT_FALSE(QFileInfo::exists(attached(u"b.pdf"_qs)));
  ReceivedUidList l = list();
  EXPECT_EQ(l.size(), 2);
  EXPECT_TRUE(l.claim({"u1", QByteArray(32, '1')}));
  EXPECT_TRUE(l.claim({"u2", QByteArray(32, '2')}));
  EXPECT_EQ(size(receiveJournalPath()), 0);

  // Nothing is done twice: a journal recovered again (a kill between the
  // list and the journal) adds nothing.
  ASSERT_TRUE(j.begin({{records(), fd.get(), 3 * kRecord}}, &why));
  ASSERT_TRUE(j.commit({3 * kRecord}, {entry("u1", '1')}, &why));
  ASSERT_FALSE(recover());
  EXPECT_EQ(list().size(), 2);
}

TEST_F(Journal, ATornCommitIsNoCommit) {
  handles::Fd fd = openRecords();
  Fault why;
  {
    ReceiveJournal j(receiveJournalPath());
    ASSERT_TRUE(j.begin({{records(), fd.get(), 0}}, &why));
    append(fd, kRecord);
    ASSERT_TRUE(j.commit({kRecord}, {entry("u1", '1')}, &why));
  }
  QFile f(receiveJournalPath());
  ASSERT_TRUE(f.open(QIODevice::ReadWrite));
  const QByteArray all = f.readAll();
  for (const QByteArray& torn : {all.left(all.size() - 3) + "\n",            // sum cut short
                                 all.left(all.lastIndexOf("commit")),        // commit line lost
                                 QByteArray(all).replace("u1", "u9")}) {     // entry changed under its sum
    ASSERT_TRUE(f.resize(0));
    f.seek(0);
    f.write(torn);
    f.flush();
    ASSERT_TRUE(QFile::resize(records(), kRecord));
    ASSERT_FALSE(recover());
    EXPECT_EQ(size(records()), 0) << torn.constData();
    EXPECT_EQ(list().size(), 0);
  }
}

TEST_F(Journal, AFileReplacedSinceAndPathsOutsideTheFolderAreLeftAlone) {
  handles::Fd fd = openRecords();
  Fault why;
  ReceiveJournal j(receiveJournalPath());
  ASSERT_TRUE(j.begin({{records(), fd.get(), 0}}, &why));
  append(fd, kRecord);
  // The file was rewritten meanwhile (a new inode): it is not the journal's.
  ASSERT_TRUE(QFile::copy(records(), records() + u".x"_qs));
  ASSERT_TRUE(QFile::remove(records()));
  ASSERT_TRUE(QFile::rename(records() + u".x"_qs, records()));
  // A journal naming a file beside the program folder removes nothing there.
  const QString outside = home_.path() + u"/../tomoshibi-journal-outside"_qs;
  touch(outside);
  QFile jf(receiveJournalPath());
  ASSERT_TRUE(jf.open(QIODevice::Append));
  jf.write("new ../tomoshibi-journal-outside\n");
  jf.close();

  ASSERT_FALSE(recover());
  EXPECT_EQ(size(records()), kRecord);
  EXPECT_TRUE(QFileInfo::exists(outside));
  QFile::remove(outside);
}
