// The thread fields a reply carries and the body "本文に貼付" builds. The
// original's header comes from a server, so it is treated as hostile.
#include "composer/ReplyText.h"

#include <QStringList>
#include <gtest/gtest.h>

namespace {

QStringList lines(const QString& fields) { return fields.split(QStringLiteral("\r\n")); }

}  // namespace

TEST(ReplyThread, AnswersTheMessageIdAndExtendsItsReferences) {
  // A first mail: its own identifier starts the chain.
  EXPECT_EQ(replyThreadHeaders("From: a@example.jp\r\nMessage-ID: <one@example.jp>\r\nSubject: x\r\n"),
            QStringLiteral("In-Reply-To: <one@example.jp>\r\nReferences: <one@example.jp>"));
  // An answer already: the original's references, folded, come first; the
  // field names are matched in any letter case.
  EXPECT_EQ(replyThreadHeaders("message-id:   <two@example.jp>\r\nREFERENCES: <root@x.jp>\r\n <one@x.jp>\r\n"),
            QStringLiteral("In-Reply-To: <two@example.jp>\r\nReferences: <root@x.jp> <one@x.jp> <two@example.jp>"));
  // Lacking References, a single In-Reply-To stands for the chain.
  EXPECT_EQ(replyThreadHeaders("In-Reply-To: <p@x.jp>\nMessage-Id: <c@x.jp>\n"),
            QStringLiteral("In-Reply-To: <c@x.jp>\r\nReferences: <p@x.jp> <c@x.jp>"));
}

TEST(ReplyThread, NothingWithoutAUsableMessageId) {
  EXPECT_TRUE(replyThreadHeaders("").isEmpty());
  EXPECT_TRUE(replyThreadHeaders("Subject: x\r\nReferences: <r@x.jp>\r\n").isEmpty());
  EXPECT_TRUE(replyThreadHeaders("Message-ID: no-brackets@x.jp\r\n").isEmpty());
  EXPECT_TRUE(replyThreadHeaders("Message-ID: <noatsign>\r\n").isEmpty());
  // A field in the body does not count: the header ends at the first empty line.
  EXPECT_TRUE(replyThreadHeaders(messageHeaderBlock("Subject: x\r\n\r\nMessage-ID: <b@x.jp>\r\n")).isEmpty());
}

TEST(ReplyThread, NothingOfTheOriginalBecomesALineOrAFieldOfItsOwn) {
  // Whatever the server sent, only identifiers come through: no Bcc line
  // can be smuggled in, no eight-bit byte, no bare CR.
  const QString t = replyThreadHeaders(
      "Message-ID: <ok@x.jp>\r\n"
      "References: <a@x.jp\r\n Bcc: victim@example.com> <b\r@x.jp> <\xe6\x97\xa5@x.jp> <c@x.jp>\r\n");
  EXPECT_EQ(t, QStringLiteral("In-Reply-To: <ok@x.jp>\r\nReferences: <c@x.jp> <ok@x.jp>"));
  EXPECT_FALSE(t.contains(QStringLiteral("Bcc")));
  // An endless identifier is no identifier.
  EXPECT_TRUE(replyThreadHeaders("Message-ID: <" + QByteArray(400, 'a') + "@x.jp>\r\n").isEmpty());
}

TEST(ReplyThread, ALongThreadIsFoldedAndKeepsItsRootAndItsNewest) {
  QByteArray refs = "References:";
  for (int i = 0; i < 40; ++i) refs += " <message-number-" + QByteArray::number(i) + "@mail.example.jp>";
  const QString t = replyThreadHeaders(refs + "\r\nMessage-ID: <last@mail.example.jp>\r\n");
  const QStringList l = lines(t);
  ASSERT_GT(l.size(), 2);
  EXPECT_EQ(l[0], QStringLiteral("In-Reply-To: <last@mail.example.jp>"));
  for (const QString& line : l.mid(1)) {
    EXPECT_LE(line.size(), 78) << line.toStdString();
    if (line != l[1]) EXPECT_TRUE(line.startsWith(u' ')) << line.toStdString();  // a continuation
  }
  const QString joined = l.mid(1).join(QString());
  EXPECT_EQ(joined.count(u'<'), 20);
  EXPECT_TRUE(joined.startsWith(QStringLiteral("References: <message-number-0@mail.example.jp>")));
  EXPECT_TRUE(joined.endsWith(QStringLiteral("<message-number-39@mail.example.jp> <last@mail.example.jp>")));
  EXPECT_FALSE(joined.contains(QStringLiteral("<message-number-1@")));
}

TEST(ReplyThread, TheHeaderBlockEndsAtTheFirstEmptyLine) {
  EXPECT_EQ(messageHeaderBlock("A: 1\r\nB: 2\r\n\r\nbody\r\n\r\n"), QByteArray("A: 1\r\nB: 2"));
  EXPECT_EQ(messageHeaderBlock("A: 1\nB: 2\n\nbody"), QByteArray("A: 1\nB: 2"));
  EXPECT_EQ(messageHeaderBlock("A: 1\r\n"), QByteArray("A: 1\r\n"));
  EXPECT_EQ(messageHeaderBlock("\r\nbody"), QByteArray());
}

TEST(ReplyBody, ClipboardThenBreaksThenTheTrimmedBodyField) {
  const QString field = QStringLiteral("  本文①㈱～  ") + QChar(0) + QStringLiteral("残り");
  EXPECT_EQ(pastedReplyBody(QStringLiteral("引用"), field), QStringLiteral("引用\r\n\r\n\r\n\r本文①㈱～"));
  EXPECT_EQ(pastedReplyBody(QString(), QStringLiteral("本文")), QStringLiteral("\r\n\r\n\r\n\r本文"));
}
