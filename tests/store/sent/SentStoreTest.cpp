// The sent mail on its own: kept while a mail check holds the data folder,
// each record with the bytes it was kept with, deleted with its original,
// and the index read from whatever bytes it holds.
#include "store/RecordFile.h"
#include "store/received/CheckLock.h"
#include "store/sent/SentStore.h"
#include "support/TempHome.h"

#include <QFileInfo>
#include <gtest/gtest.h>

namespace {

QByteArray mail(int n) {
  return "Date: Tue, 8 Dec 2026 10:0" + QByteArray::number(n) +
         ":00 +0900\r\nFrom: tomo@localhost\r\nTo: a@example.jp\r\nSubject: s\r\n\r\nbody " + QByteArray::number(n) +
         "\r\n";
}

int recordCount() {
  store::RecordFile f(sent::sentFiles().records, store::MailRecord::kLength);
  return f.open() ? f.recordCount() : -1;
}

}  // namespace

TEST(SentStore, KeptBesideARunningCheckAndDeletedWithItsOriginal) {
  TempHome home;
  // A check holds its own lock for its whole run: a send does not wait for it.
  const received::CheckLock check = received::CheckLock::tryAcquire();
  ASSERT_EQ(check.state(), received::CheckLock::State::Held);
  for (int n = 1; n <= 3; ++n) {
    const QByteArray m = mail(n);
    const store::MailRecord r = sent::sentRecord(m, QStringLiteral("  宛先%1 <a@example.jp> ").arg(n),
                                                 QStringLiteral("件名%1").arg(n), QStringLiteral("本文"));
    ASSERT_FALSE(sent::keep(m, r)) << n;
  }
  ASSERT_EQ(recordCount(), 3);
  {
    store::RecordFile f(sent::sentFiles().records, store::MailRecord::kLength);
    ASSERT_TRUE(f.open());
    QByteArray raw;
    ASSERT_EQ(f.read(2, raw), store::ReadResult::Ok);
    const store::MailRecord r(raw);
    EXPECT_EQ(r.from().trimmed(), QStringLiteral("宛先2 <a@example.jp>"));
    EXPECT_EQ(r.date().trimmed(), QStringLiteral("Tue, 8 Dec 2026 10:02:00 +0900"));
    EXPECT_EQ(r.subject().trimmed(), QStringLiteral("件名2"));
  }
  // Nothing of received mail was touched.
  EXPECT_FALSE(QFileInfo::exists(home.file(QStringLiteral("★MAilData/received-originals.data"))));

  const received::Removal done = sent::remove({2});
  ASSERT_TRUE(done.ok());
  EXPECT_EQ(done.survivors, 2);
  EXPECT_EQ(sent::original(1).bytes, mail(1));
  EXPECT_EQ(sent::original(2).bytes, mail(3));
  EXPECT_EQ(sent::original(3).fault.code, received::Code::RecordsUnreadable);
  // The deleted mail's bytes are gone from the archive.
  const QByteArray archive = home.read(QStringLiteral("★MAilData/sent-originals.data"));
  EXPECT_FALSE(archive.contains(mail(2)));
}

TEST(SentStore, TheIndexIsReadFromAnyBytes) {
  const QByteArray line = "1 0 120 0123456789abcdef 1765000000 - " + QByteArray(64, 'a') + '\n';
  EXPECT_EQ(sent::parseSentIndex(line).size(), 1);
  // A last line being written, lines cut or of stray bytes: left out.
  EXPECT_EQ(sent::parseSentIndex(line + line.left(30)).size(), 1);
  EXPECT_EQ(sent::parseSentIndex(QByteArray("\n\n \n1 2\n-1 0 1 x 0 - \xff\n", 22)).size(), 0);
  EXPECT_EQ(sent::parseSentIndex(QByteArray(5000, '\0') + '\n' + line).size(), 1);
  EXPECT_TRUE(sent::parseSentIndex(QByteArray()).isEmpty());
}
