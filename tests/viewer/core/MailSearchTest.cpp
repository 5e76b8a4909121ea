// Finding mails in the received-mail file: the comparison a Japanese
// reader expects, the order of the rows, and files that are not whole.
#include "platform/Paths.h"
#include "platform/Text.h"
#include "store/RecordFile.h"
#include "store/Records.h"
#include "support/TempHome.h"
#include "viewer/core/MailSearch.h"

#include <QFile>
#include <gtest/gtest.h>

using viewer::findMailRow;
using viewer::MailMatcher;

namespace {

QByteArray record(const QString& subject, const QString& from, const QString& body) {
  store::MailRecord r;
  r.setSubject(subject);
  r.setDate(QStringLiteral("Mon, 1 Apr 2024"));
  r.setFrom(from);
  r.setBody(body);
  r.markWritten();
  return r.bytes();
}

bool holds(const QString& stored, const QString& wanted) {
  const QByteArray r = record(QString(), QString(), stored);
  return MailMatcher(wanted).matches(r.constData());
}

}  // namespace

TEST(ListSearchText, WidthKanaCaseAndTheJapaneseDashesAreOne) {
  // Half-width and full-width forms, as mail spells them either way.
  EXPECT_TRUE(holds(QStringLiteral("ﾃｽﾄ ﾒｰﾙ"), QStringLiteral("テスト メール")));
  EXPECT_TRUE(holds(QStringLiteral("ＡＢＣ１２３"), QStringLiteral("abc123")));
  // Voiced marks written apart in half-width.
  EXPECT_TRUE(holds(QStringLiteral("ｶﾞｲﾄﾞﾌﾞｯｸ"), QStringLiteral("ガイドブック")));
  EXPECT_TRUE(holds(QStringLiteral("ﾊﾟｰﾃｨｰ"), QStringLiteral("ぱーてぃー")));
  // Hiragana and katakana.
  EXPECT_TRUE(holds(QStringLiteral("おしらせ"), QStringLiteral("オシラセ")));
  EXPECT_TRUE(holds(QStringLiteral("ヴァイオリン"), QStringLiteral("ゔぁいおりん")));
  // ～ and 〜, － and −.
  EXPECT_TRUE(holds(QStringLiteral("10時～12時"), QStringLiteral("10時〜12時")));
  EXPECT_TRUE(holds(QStringLiteral("03－1234"), QStringLiteral("03−1234")));
  // Compatibility characters read as what they stand for.
  EXPECT_TRUE(holds(QStringLiteral("㈱灯火"), QStringLiteral("(株)灯火")));
  EXPECT_TRUE(holds(QStringLiteral("①番"), QStringLiteral("1番")));
  // Not alike: other letters, other kanji, a voiced kana and its plain one.
  EXPECT_FALSE(holds(QStringLiteral("ガイド"), QStringLiteral("カイド")));
  EXPECT_FALSE(holds(QStringLiteral("髙橋"), QStringLiteral("高橋")));
  EXPECT_FALSE(holds(QStringLiteral("abc"), QStringLiteral("abd")));
  // Spaces around the search text are left out; nothing is nothing.
  EXPECT_TRUE(holds(QStringLiteral("xabcx"), QStringLiteral("  abc　")));
  EXPECT_TRUE(MailMatcher(QStringLiteral("  ")).isEmpty());
  EXPECT_FALSE(MailMatcher(QString()).matches(record(QStringLiteral("a"), {}, {}).constData()));
}

TEST(ListSearchText, SubjectSenderAndBodyEachOnTheirOwn) {
  const QByteArray r = record(QStringLiteral("会議の件"), QStringLiteral("山田 <yamada@example.jp>"),
                              QStringLiteral("本文の一行目\r\n二行目は ｶﾀｶﾅ"));
  EXPECT_TRUE(MailMatcher(QStringLiteral("会議")).matches(r.constData()));
  EXPECT_TRUE(MailMatcher(QStringLiteral("YAMADA@")).matches(r.constData()));
  EXPECT_TRUE(MailMatcher(QStringLiteral("かたかな")).matches(r.constData()));
  // The date is not searched, and a text does not run from one field into the next.
  EXPECT_FALSE(MailMatcher(QStringLiteral("Apr")).matches(r.constData()));
  EXPECT_FALSE(MailMatcher(QStringLiteral("件山田")).matches(r.constData()));
  // Bytes that are no CP932 do not stop the search.
  QByteArray bad = record(QString(), QString(), QString());
  bad.replace(store::MailRecord::kBody.offset, 8, QByteArray("\x82\x20\xFF" "abc\x81", 7));
  EXPECT_TRUE(MailMatcher(QStringLiteral("ABC")).matches(bad.constData()));
  // The very last byte of a full body counts.
  QByteArray full = record(QString(), QString(), QString(31999, u'x') + QStringLiteral("z"));
  EXPECT_TRUE(MailMatcher(QStringLiteral("xz")).matches(full.constData()));
}

TEST(ListSearchRows, NextAfterTheCurrentRowThenFromTheTop) {
  TempHome home;
  const QString file = paths::resolve(paths::kReceivedMailFile);
  const QStringList subjects = {QStringLiteral("おしらせ"), QStringLiteral("別件"), QStringLiteral("オシラセ"),
                                QStringLiteral("別件"), QStringLiteral("ｵｼﾗｾ")};
  for (const QString& s : subjects)
    ASSERT_TRUE(store::appendRecord(file, store::MailRecord::kLength, record(s, QStringLiteral("a@b"), {}), false).ok);
  const QString t = QStringLiteral("おしらせ");
  EXPECT_EQ(findMailRow(file, 5, -1, t).row, 0);
  EXPECT_EQ(findMailRow(file, 5, 0, t).row, 2);
  EXPECT_EQ(findMailRow(file, 5, 2, t).row, 4);
  EXPECT_EQ(findMailRow(file, 5, 4, t).row, 0);  // on from the top
  // The current row itself comes last.
  EXPECT_EQ(findMailRow(file, 5, 1, QStringLiteral("別件")).row, 3);
  EXPECT_EQ(findMailRow(file, 5, 3, QStringLiteral("別件")).row, 1);
  // Only the listed rows are searched.
  EXPECT_EQ(findMailRow(file, 4, 0, QStringLiteral("ｵｼﾗｾ")).row, 2);
  EXPECT_EQ(findMailRow(file, 2, 0, QStringLiteral("ｵｼﾗｾ")).row, 0);
  EXPECT_EQ(findMailRow(file, 5, 0, QStringLiteral("どこにもない")).row, -1);
  EXPECT_EQ(findMailRow(file, 0, -1, QStringLiteral("お")).row, -1);

  // More rows than the file holds whole: the rest are not searched.
  QFile f(file);
  ASSERT_TRUE(f.resize(f.size() - 10));
  const viewer::MailSearchResult cut = findMailRow(file, 5, 2, QStringLiteral("ｵｼﾗｾ"));
  EXPECT_TRUE(cut.error.isEmpty());
  EXPECT_EQ(cut.row, 0);

  const viewer::MailSearchResult missing = findMailRow(file + QStringLiteral(".none"), 5, -1, QStringLiteral("a"));
  EXPECT_EQ(missing.row, -1);
  EXPECT_FALSE(missing.error.isEmpty());
}

TEST(ListSearchRows, ALongListGivesTheFirstMatchInOrder) {
  // Long enough to be searched in shares side by side.
  TempHome home;
  const QString file = paths::resolve(paths::kReceivedMailFile);
  QByteArray all;
  for (int n = 0; n < 1100; ++n)
    all += record(QStringLiteral("件名%1").arg(n), QStringLiteral("x@y"),
                  n % 400 == 13 ? QStringLiteral("大あたり") : QStringLiteral("はずれ"));
  home.write(paths::kReceivedMailFile, all);
  EXPECT_EQ(findMailRow(file, 1100, -1, QStringLiteral("アタリ")).row, 13);
  EXPECT_EQ(findMailRow(file, 1100, 13, QStringLiteral("アタリ")).row, 413);
  EXPECT_EQ(findMailRow(file, 1100, 900, QStringLiteral("アタリ")).row, 13);
  EXPECT_EQ(findMailRow(file, 1100, 100, QStringLiteral("件名1099")).row, 1099);
  EXPECT_EQ(findMailRow(file, 1100, 1099, QStringLiteral("件名0")).row, 0);
}
