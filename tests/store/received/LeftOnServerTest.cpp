// The ledger of mails left on the server: what its reader makes of every
// shape of line, that what it writes reads back equal, and that the file
// is its owner's alone.
#include "store/received/LeftOnServer.h"
#include "support/TempHome.h"

#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

using namespace received;

namespace {

LeftEntry entry(const QString& account, const QByteArray& uid, char fill, qint64 size, const QDate& day,
                bool deletedHere = false) {
  return {account, {uid, QByteArray(32, fill)}, size, day, deletedHere};
}

TEST(LeftOnServerLedger, WhatIsWrittenReadsBackEqualAccountsAndAllKeptApart) {
  const QList<LeftEntry> entries{
      entry(QStringLiteral("tomo@pop.example"), "UID1", 'a', 1234, QDate(2026, 12, 9)),
      entry(QStringLiteral("tomo@pop.example"), QByteArray(), 'b', 0, QDate(2026, 1, 31), true),
      // An account with tabs, spaces and Japanese stays one field.
      entry(QStringLiteral("灯\t火 %@pop.lan"), "~!\"#", 'c', 99999999999LL, QDate(1999, 12, 31)),
      // The same mail twice (a server listing it twice) stays twice.
      entry(QStringLiteral("tomo@pop.example"), "UID1", 'a', 1234, QDate(2026, 12, 9)),
  };
  const QByteArray text = leftLedgerText(entries);
  EXPECT_TRUE(text.startsWith('#'));
  const LeftLedger back = parseLeftLedger(text);
  EXPECT_EQ(back.skipped, 0);
  EXPECT_EQ(back.entries, entries);
  EXPECT_TRUE(text.contains("\tUID1\t" + QByteArray(32, 'a') + "\t1234\t2026-12-09\tkeep\n"));
  EXPECT_TRUE(text.contains("\t-\t" + QByteArray(32, 'b') + "\t0\t2026-01-31\tdelete\n"));
  // CR LF lines (a file carried through another system) read the same.
  QByteArray crlf = text;
  crlf.replace("\n", "\r\n");
  EXPECT_EQ(parseLeftLedger(crlf).entries, entries);
  EXPECT_TRUE(parseLeftLedger(QByteArray()).entries.isEmpty());
}

TEST(LeftOnServerLedger, LinesOfAnotherShapeAreSkippedAndCountedNeverHalfRead) {
  const QByteArray digest(32, 'f');
  const QByteArray good = "a%40b\tU\t" + digest + "\t10\t2026-12-09\tkeep";
  ASSERT_EQ(parseLeftLedger(good).entries.size(), 1);
  const QList<QByteArray> bad{
      "a%40b\tU\t" + digest + "\t10\t2026-12-09",                // a field short
      "a%40b\tU\t" + digest + "\t10\t2026-12-09\tkeep\textra",   // one too many
      "\tU\t" + digest + "\t10\t2026-12-09\tkeep",               // no account
      "a%40b\tU\t" + QByteArray(31, 'f') + "\t10\t2026-12-09\tkeep",  // digest too short
      "a%40b\tU\t" + QByteArray(32, 'F') + "\t10\t2026-12-09\tkeep",  // not lower-case hex
      "a%40b\tU V\t" + digest + "\t10\t2026-12-09\tkeep",        // an ID with a space
      "a%40b\t" + QByteArray(71, 'u') + '\t' + digest + "\t10\t2026-12-09\tkeep",  // an ID too long
      "a%40b\tU\t" + digest + "\t-10\t2026-12-09\tkeep",         // a negative size
      "a%40b\tU\t" + digest + "\t1e3\t2026-12-09\tkeep",         // not digits
      "a%40b\tU\t" + digest + "\t9999999999999999\t2026-12-09\tkeep",  // past any mail
      "a%40b\tU\t" + digest + "\t10\t2026-02-30\tkeep",          // no such day
      "a%40b\tU\t" + digest + "\t10\t2026-12-9\tkeep",           // not the day's shape
      "a%40b\tU\t" + digest + "\t10\t2026-12-09\tKEEP",          // another word
      "a@b\tU\t" + digest + "\t10\t2026-12-09\tkeep",            // an account not encoded as written
      QByteArray("\0\0\0", 3),
      "\xff\xfe\t\t\t\t\t",
  };
  for (const QByteArray& b : bad) {
    const LeftLedger l = parseLeftLedger(good + '\n' + b + '\n' + good);
    EXPECT_EQ(l.entries.size(), 2) << b.toStdString();
    EXPECT_EQ(l.skipped, 1) << b.toStdString();
  }
}

TEST(LeftOnServerLedger, TheFileIsOwnerOnlyAndAMissingOneIsEmpty) {
  TempHome home;
  LeftLedger l;
  ASSERT_TRUE(loadLeftLedger(&l));
  EXPECT_TRUE(l.entries.isEmpty());
  const QList<LeftEntry> entries{entry(QStringLiteral("tomo@pop.example"), "UID1", 'a', 1, QDate(2026, 12, 9))};
  ASSERT_TRUE(saveLeftLedger(entries));
  EXPECT_EQ(QFileInfo(leftOnServerPath()).permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup |
                                                           QFile::WriteOther),
            QFile::Permissions());
  ASSERT_TRUE(loadLeftLedger(&l));
  EXPECT_EQ(l.entries, entries);
  EXPECT_TRUE(leftOnServerPath().endsWith(QStringLiteral("/left-on-server.txt")));
}

TEST(LeftOnServerLedger, AMailIsTheLeftOneOnlyWithTheSameHeaderDigest) {
  const QByteArray header = "From: a@example.jp\r\nMessage-ID: <m1@example.jp>\r\nDate: Mon, 1 Apr 2024 10:00:00 +0900\r\n";
  LeftEntry e = entry(QStringLiteral("t@p"), "U", 'a', 500, QDate(2026, 12, 9));
  e.id.digest = mailDigest(header, 500);
  EXPECT_TRUE(sameMail(e, header));
  QByteArray other = header;
  other.replace("m1@", "m2@");
  EXPECT_FALSE(sameMail(e, other));
  e.size = 501;
  EXPECT_FALSE(sameMail(e, header));
}

}  // namespace
