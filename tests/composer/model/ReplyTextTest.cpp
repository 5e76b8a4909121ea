// The thread fields a reply carries. The original's header comes from a
// server, so it is treated as hostile.
#include "composer/model/ReplyText.h"

#include <QStringList>
#include <gtest/gtest.h>

TEST(ReplyThread, AnswersTheMessageIdExtendsItsReferencesAndTakesNothingElse) {
  EXPECT_EQ(replyThreadHeaders("message-id:   <two@x.jp>\r\nREFERENCES: <root@x.jp>\r\n <one@x.jp>\r\n"),
            QStringLiteral("In-Reply-To: <two@x.jp>\r\nReferences: <root@x.jp> <one@x.jp> <two@x.jp>"));
  // Lacking References, a single In-Reply-To stands for the chain.
  EXPECT_EQ(replyThreadHeaders("In-Reply-To: <p@x.jp>\nMessage-Id: <c@x.jp>\n"),
            QStringLiteral("In-Reply-To: <c@x.jp>\r\nReferences: <p@x.jp> <c@x.jp>"));
  // No Bcc line smuggled in, no eight-bit byte, no bare CR, no endless identifier.
  EXPECT_EQ(replyThreadHeaders("Message-ID: <ok@x.jp>\r\nReferences: <a@x.jp\r\n Bcc: victim@example.com> <b\r@x.jp> "
                               "<\xe6\x97\xa5@x.jp> <" + QByteArray(300, 'a') + "@x.jp> <c@x.jp>\r\n"),
            QStringLiteral("In-Reply-To: <ok@x.jp>\r\nReferences: <c@x.jp> <ok@x.jp>"));
  // Nothing to thread under.
  for (const QByteArray& h : {QByteArray(), QByteArray("References: <r@x.jp>\r\n"), QByteArray("Message-ID: <noat>\r\n"),
                              QByteArray("Message-ID: bare@x.jp\r\n")})
    EXPECT_TRUE(replyThreadHeaders(h).isEmpty()) << h.toStdString();
  EXPECT_EQ(messageHeaderBlock("A: 1\r\nB: 2\r\n\r\nMessage-ID: <b@x.jp>\r\n"), QByteArray("A: 1\r\nB: 2"));
}

TEST(ReplyThread, ALongThreadIsFoldedAndKeepsItsRootAndItsNewest) {
  QByteArray refs = "References:";
  for (int i = 0; i < 40; ++i) refs += " <message-number-" + QByteArray::number(i) + "@mail.example.jp>";
  const QStringList l = replyThreadHeaders(refs + "\r\nMessage-ID: <last@mail.example.jp>\r\n").split(QStringLiteral("\r\n"));
  ASSERT_GT(l.size(), 2);
  for (const QString& line : l) EXPECT_LE(line.size(), 78) << line.toStdString();
  for (const QString& line : l.mid(2)) EXPECT_TRUE(line.startsWith(u' ')) << line.toStdString();
  const QString joined = l.mid(1).join(QString());
  EXPECT_EQ(joined.count(u'<'), 20);
  EXPECT_TRUE(joined.startsWith(QStringLiteral("References: <message-number-0@mail.example.jp> <message-number-22@")));
  EXPECT_TRUE(joined.endsWith(QStringLiteral("<message-number-39@mail.example.jp> <last@mail.example.jp>")));
}
