// The mailbox file taken apart: where a mail starts and ends, the quoting
// of "From " lines undone as its writer did it, LF and CR LF files, files
// cut short, and the same mails whatever pieces the bytes come in.
#include "reception/MailExport.h"
#include "reception/import/MboxSplit.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>

namespace {

using mailimport::MboxSplitter;
using mailimport::SplitMail;
using mailimport::splitMbox;

QList<QByteArray> bytesOf(const QList<SplitMail>& mails) {
  QList<QByteArray> out;
  for (const SplitMail& m : mails) {
    EXPECT_FALSE(m.tooLarge);
    EXPECT_FALSE(m.stray);
    out << m.bytes;
  }
  return out;
}

// The same file fed one byte, then seven bytes, at a time.
QList<SplitMail> splitInPieces(const QByteArray& file, qsizetype piece) {
  MboxSplitter s;
  QList<SplitMail> out;
  for (qsizetype at = 0; at < file.size(); at += piece) {
    s.feed(QByteArrayView(file).sliced(at, std::min(piece, file.size() - at)));
    while (s.hasMail()) out << s.take();
  }
  s.finish();
  while (s.hasMail()) out << s.take();
  return out;
}

TEST(MboxSplit, FromLinesInBodiesStartAMailOnlyAfterAnEmptyLine) {
  // An older writer's file: "From " quoted where it started a line of the
  // body after an empty line, left as it was elsewhere.
  const QByteArray file =
      "From a@example.jp Mon Apr  1 10:00:00 2024\n"
      "Subject: one\n\nsee\nFrom the window\n>From quoted once\n>>From stays\n\n"
      "From b@example.jp Mon Apr  1 10:00:01 2024\n"
      "Subject: two\n\nbody\n\n>From after an empty line\n";
  const QList<QByteArray> want{"Subject: one\n\nsee\nFrom the window\nFrom quoted once\n>>From stays\n",
                               "Subject: two\n\nbody\n\nFrom after an empty line\n"};
  EXPECT_EQ(bytesOf(splitMbox(file)), want);
  for (qsizetype piece : {1, 7, 4096}) EXPECT_EQ(bytesOf(splitInPieces(file, piece)), want) << piece;
}

TEST(MboxSplit, ThisProgramsExportIsUnquotedOneLevelAtEveryDepth) {
  const QByteArray original = "From: x@example.jp\r\nSubject: s\r\n\r\nFrom here\r\n>From quoted\r\n>>From twice\r\n"
                              "  From inside\r\n";
  const QByteArray file = reception::mboxrdEntry(original, 0) + reception::mboxrdEntry(original, 1);
  const QList<SplitMail> mails = splitMbox(file);
  ASSERT_EQ(mails.size(), 2);
  // The export writes LF lines; brought in, they are CR LF again.
  for (const SplitMail& m : mails) EXPECT_EQ(mailimport::crlfLines(m.bytes), original);
}

TEST(MboxSplit, CrLfFilesSplitAsLfFilesDo) {
  const QByteArray file =
      "From a@example.jp Mon Apr  1 10:00:00 2024\r\nSubject: one\r\n\r\nbody\r\nFrom not a start\r\n\r\n"
      "From b@example.jp Mon Apr  1 10:00:00 2024\r\nSubject: two\r\n\r\n>From x\r\n\r\n";
  EXPECT_EQ(bytesOf(splitMbox(file)),
            (QList<QByteArray>{"Subject: one\r\n\r\nbody\r\nFrom not a start\r\n", "Subject: two\r\n\r\nFrom x\r\n"}));
  EXPECT_EQ(bytesOf(splitInPieces(file, 1)), bytesOf(splitMbox(file)));
}

TEST(MboxSplit, EmptyFilesAndFilesCutShort) {
  EXPECT_TRUE(splitMbox("").isEmpty());
  EXPECT_TRUE(splitMbox("\n\n\r\n").isEmpty());
  // No line break at the end: the last line is the mail's as it is.
  EXPECT_EQ(bytesOf(splitMbox("From a Mon Apr  1 10:00:00 2024\nSubject: s\n\nlast")),
            QList<QByteArray>{"Subject: s\n\nlast"});
  // The "From " line alone: an empty mail (the import counts it as none).
  EXPECT_EQ(bytesOf(splitMbox("From a Mon Apr  1 10:00:00 2024")), QList<QByteArray>{QByteArray()});
  // A mail that ends in empty lines keeps all but the one that ends it.
  EXPECT_EQ(bytesOf(splitMbox("From a\nSubject: s\n\nx\n\n\n")), QList<QByteArray>{"Subject: s\n\nx\n\n"});
}

TEST(MboxSplit, TextBeforeTheFirstMailIsToldApart) {
  const QList<SplitMail> mails = splitMbox("garbage\nmore\n\nFrom a\nSubject: s\n\nx\n");
  ASSERT_EQ(mails.size(), 2);
  EXPECT_TRUE(mails[0].stray);
  EXPECT_TRUE(mails[0].bytes.isEmpty());
  EXPECT_EQ(mails[1].bytes, "Subject: s\n\nx\n");
  EXPECT_FALSE(mails[1].stray);
}

TEST(MboxSplit, AMailPastTheLimitIsDroppedAndTheNextStillComes) {
  const QByteArray big = "From a\nSubject: big\n\n" + QByteArray(300, 'x') + "\n" + QByteArray(300, 'y') + "\n\n";
  const QByteArray longLine = "From b\nSubject: long\n\n" + QByteArray(1000, 'z') + "\n\n";
  // A "From " line longer than a mail may be, with the export's mark at its
  // end: the mail after it is read the same whatever the pieces.
  const QByteArray longFrom = "From d " + QByteArray(400, 'd') + " " + reception::kExportMark +
                              "\nSubject: after\n\n>>From x\n\n";
  const QByteArray file = big + longLine + "From c\nSubject: small\n\nok\n\n" + longFrom;
  for (qsizetype piece : {1, 64, 1 << 20}) {
    MboxSplitter s(200);
    QList<SplitMail> out;
    for (qsizetype at = 0; at < file.size(); at += piece) {
      s.feed(QByteArrayView(file).sliced(at, std::min(piece, file.size() - at)));
      while (s.hasMail()) out << s.take();
    }
    s.finish();
    while (s.hasMail()) out << s.take();
    ASSERT_EQ(out.size(), 4) << piece;
    EXPECT_TRUE(out[0].tooLarge);
    EXPECT_TRUE(out[0].bytes.isEmpty());
    EXPECT_TRUE(out[1].tooLarge);
    EXPECT_EQ(out[2].bytes, "Subject: small\n\nok\n");
    EXPECT_FALSE(out[2].tooLarge);
    EXPECT_EQ(out[3].bytes, "Subject: after\n\n>>From x\n") << piece;
  }
}

TEST(MboxSplit, RandomFilesSplitAlikeWhateverThePieces) {
  // Files put together from the lines that matter, split whole and in
  // pieces of random sizes, with a small limit so that long lines and
  // large mails come up too.
  const QList<QByteArray> lines{"From a Mon Apr  1 10:00:00 2024\n", "From b x tomoshibi-mboxrd\n", "\n", "\r\n",
                                "Subject: s\n", ">From q\n", ">>From qq\r\n", "From\n", "From ", "text",
                                QByteArray(90, 'L'), "\r", ">", "\n\n"};
  QRandomGenerator random(4711);
  for (int round = 0; round < 400; ++round) {
    QByteArray file;
    const int n = random.bounded(1, 40);
    for (int i = 0; i < n; ++i) file += lines[random.bounded(int(lines.size()))];
    const qint64 limit = random.bounded(40, 400);
    const QList<SplitMail> whole = splitMbox(file, limit);
    MboxSplitter s(limit);
    QList<SplitMail> pieces;
    for (qsizetype at = 0; at < file.size();) {
      const qsizetype piece = std::min<qsizetype>(random.bounded(1, 64), file.size() - at);
      s.feed(QByteArrayView(file).sliced(at, piece));
      at += piece;
      while (s.hasMail()) pieces << s.take();
    }
    s.finish();
    while (s.hasMail()) pieces << s.take();
    ASSERT_EQ(pieces.size(), whole.size()) << file.toStdString();
    for (qsizetype i = 0; i < whole.size(); ++i) {
      EXPECT_EQ(pieces[i].bytes, whole[i].bytes) << file.toStdString();
      EXPECT_EQ(pieces[i].tooLarge, whole[i].tooLarge) << file.toStdString();
      EXPECT_EQ(pieces[i].stray, whole[i].stray) << file.toStdString();
      EXPECT_LE(whole[i].bytes.size(), limit);
    }
  }
}

TEST(MboxSplit, CrLfLinesOnlyWhereALineEndsBare) {
  EXPECT_EQ(mailimport::crlfLines("a\nb\r\nc\n\nd"), "a\r\nb\r\nc\r\n\r\nd");
  EXPECT_EQ(mailimport::crlfLines("\n"), "\r\n");
  EXPECT_EQ(mailimport::crlfLines("a\r\n"), "a\r\n");
  EXPECT_EQ(mailimport::crlfLines("a\rb"), "a\rb");
}

}  // namespace
