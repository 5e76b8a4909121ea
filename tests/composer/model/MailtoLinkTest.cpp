// mailto: links taken apart: decoding, several addresses, and input that
// must not reach a header as it came.
#include "composer/model/MailtoLink.h"
#include "platform/Text.h"

#include <gtest/gtest.h>

TEST(MailtoLink, DecodesUtf8AndKeepsEncodedSeparatorsAsText) {
  const MailtoLink m = parseMailto(QStringLiteral(
      "mailto:someone@example.jp?subject=%E3%81%93%E3%82%93%E3%81%AB%E3%81%A1%E3%81%AF%20%E2%91%A0%E3%88%B1%EF%BD%9E"
      "&body=1%2B1%3D2%26%E3%81%82%0D%0A2%E8%A1%8C%E7%9B%AE+x%"));
  EXPECT_TRUE(m.error.isEmpty());
  EXPECT_EQ(m.to, QStringList{QStringLiteral("someone@example.jp")});
  EXPECT_EQ(m.subject, QStringLiteral("こんにちは ①㈱～"));
  // "+" is no space in a mailto: link; a "%" without two hex digits stays.
  EXPECT_EQ(m.body, QStringLiteral("1+1=2&あ\n2行目+x%"));
  // Field names in any case; only the first subject counts.
  const MailtoLink n = parseMailto(QStringLiteral("MAILTO:a@example.jp?SUBJECT=one&Subject=two&x-y=z"));
  EXPECT_EQ(n.subject, QStringLiteral("one"));
  EXPECT_EQ(n.to, QStringList{QStringLiteral("a@example.jp")});
}

TEST(MailtoLink, SeveralAddressesCcAndBccGoWhereTheyShould) {
  const MailtoLink m = parseMailto(QStringLiteral(
      "mailto:a@example.jp,%20b@example.jp?to=c@example.jp&cc=d@example.jp,e@example.jp&bcc=secret@example.jp&cc="));
  EXPECT_EQ(m.to, (QStringList{QStringLiteral("a@example.jp"), QStringLiteral("b@example.jp"), QStringLiteral("c@example.jp")}));
  EXPECT_EQ(m.cc, (QStringList{QStringLiteral("d@example.jp"), QStringLiteral("e@example.jp")}));
  EXPECT_EQ(m.bcc, QStringList{QStringLiteral("secret@example.jp")});
  // The one recipient box gets to and cc; the blind copy is never shown to all.
  EXPECT_EQ(mailtoRecipients(m),
            QStringLiteral("a@example.jp, b@example.jp, c@example.jp, d@example.jp, e@example.jp"));
  // A link of only fields.
  const MailtoLink f = parseMailto(QStringLiteral("mailto:?to=x@example.jp&subject=hi"));
  EXPECT_EQ(f.to, QStringList{QStringLiteral("x@example.jp")});
  EXPECT_EQ(f.subject, QStringLiteral("hi"));
}

TEST(MailtoLink, LineBreaksNeverEndAHeaderAndHugeLinksAreRefused) {
  // A link that tries to add a header through the subject or the address.
  const MailtoLink m = parseMailto(QStringLiteral(
      "mailto:a@example.jp%0D%0ABcc:evil@example.com?subject=hi%0D%0ABcc:%20evil@example.com%0Athere%00&"
      "body=line%0Done%0D%0Atwo%09tab%07bell"));
  EXPECT_EQ(m.to, QStringList{QStringLiteral("a@example.jp Bcc:evil@example.com")});
  EXPECT_EQ(m.subject, QStringLiteral("hi Bcc: evil@example.com there"));
  EXPECT_FALSE(m.subject.contains(u'\r') || m.subject.contains(u'\n'));
  EXPECT_EQ(m.body, QStringLiteral("line\none\ntwo\ttabbell"));

  const QString huge = QStringLiteral("mailto:a@example.jp?body=") + QString(kMaxMailtoLength, u'x');
  const MailtoLink h = parseMailto(huge);
  EXPECT_FALSE(h.error.isEmpty());
  EXPECT_TRUE(h.body.isEmpty());
  // Just below the limit is taken whole.
  const QString big = QStringLiteral("mailto:a@example.jp?body=") + QString(kMaxMailtoLength - 100, u'y');
  EXPECT_EQ(parseMailto(big).body.size(), kMaxMailtoLength - 100);

  EXPECT_FALSE(parseMailto(QStringLiteral("http://example.jp/")).error.isEmpty());
}

TEST(MailtoLink, OlderJapanesePagesInCp932AreReadAsCp932) {
  const QByteArray cp932 = text::toCp932(QStringLiteral("件名①"));
  QString encoded;
  for (const char c : cp932) encoded += QStringLiteral("%%1").arg(uchar(c), 2, 16, QChar(u'0'));
  const MailtoLink m = parseMailto(QStringLiteral("mailto:a@example.jp?subject=") + encoded);
  EXPECT_EQ(m.subject, QStringLiteral("件名①"));
}
