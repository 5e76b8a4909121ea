// The outgoing message as a mail reader sees it: every message built here is
// parsed back with GMime and compared with what was typed.
#include "reception/maillib/MimeBuild.h"
#include "support/ParsedMail.h"
#include "support/TempHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringDecoder>
#include <gtest/gtest.h>

using maillib::Code;
using maillib::OutgoingMail;

namespace {

QByteArray build(const OutgoingMail& m) {
  maillib::Result why;
  const std::optional<QByteArray> msg = maillib::buildMessage(m, &why);
  EXPECT_TRUE(msg.has_value()) << int(why.code) << ' ' << why.detail.toStdString();
  return msg.value_or(QByteArray());
}

OutgoingMail mail(const QString& subject, const QString& body) {
  OutgoingMail m;
  m.from = QStringLiteral("tomo@localhost");
  m.to = QStringLiteral("hanako@example.jp");
  m.subject = subject;
  m.body = body;
  return m;
}

// The body as it travels: CR LF line ends, the last line ended too.
QString canonical(QString s) {
  s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  s.replace(u'\n', QStringLiteral("\r\n"));
  if (!s.isEmpty() && !s.endsWith(QStringLiteral("\r\n"))) s += QStringLiteral("\r\n");
  return s;
}

void expectCrLfOnly(const QByteArray& msg) {
  for (qsizetype i = 0; i < msg.size(); ++i) {
    if (msg[i] == '\n') ASSERT_TRUE(i > 0 && msg[i - 1] == '\r') << "bare LF at " << i;
    if (msg[i] == '\r') ASSERT_TRUE(i + 1 < msg.size() && msg[i + 1] == '\n') << "bare CR at " << i;
  }
}

QList<QByteArray> encodedWordsOf(const QByteArray& headerValue) {
  QList<QByteArray> words;
  static const QRegularExpression re(QStringLiteral("=\\?[^?]+\\?[BbQq]\\?[^?]*\\?="));
  auto it = re.globalMatch(QString::fromLatin1(headerValue));
  while (it.hasNext()) words << it.next().captured().toLatin1();
  return words;
}

int headerCount(const QByteArray& block, const char* name) {
  int n = 0;
  for (const QByteArray& line : block.split('\n'))
    if (line.startsWith(QByteArray(name) + ':')) ++n;
  return n;
}

}  // namespace

TEST(MimeBuild, JapaneseThatFitsTravelsAsIso2022jpAndReadsBackAsTyped) {
  const QString subject = QStringLiteral("会議の件（第２回）について");
  const QString body = QStringLiteral("山田様\nいつもお世話になっております。\n\n資料を送ります。");
  const QByteArray msg = build(mail(subject, body));
  expectCrLfOnly(msg);
  const ParsedMail p = parseMail(msg);
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.subject, subject);
  EXPECT_EQ(p.text, canonical(body));
  EXPECT_EQ(p.textCharset.toUpper(), QStringLiteral("ISO-2022-JP"));
  EXPECT_EQ(p.textEncoding, QStringLiteral("7bit"));
  EXPECT_TRUE(p.rawHeader("Subject").startsWith("=?ISO-2022-JP?B?"));
  // The headers a reader expects, each present once.
  for (const char* h : {"From", "To", "Subject", "Date", "Message-Id", "MIME-Version"})
    EXPECT_EQ(headerCount(p.headerBlock, h), 1) << h;
  EXPECT_EQ(p.mimeVersion, QStringLiteral("1.0"));
  EXPECT_TRUE(p.messageId.startsWith(u'<') && p.messageId.endsWith(QStringLiteral("@localhost>"))) << p.messageId.toStdString();
  EXPECT_TRUE(QRegularExpression(QStringLiteral("^(Mon|Tue|Wed|Thu|Fri|Sat|Sun), \\d\\d (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) \\d{4} \\d\\d:\\d\\d:\\d\\d [+-]\\d{4}$"))
                  .match(p.date)
                  .hasMatch())
      << p.date.toStdString();
}

TEST(MimeBuild, TextOutsideIso2022jpGoesAsUtf8) {
  // ① and ～ (U+FF5E) have no ISO-2022-JP code; neither do emoji.
  const QString subject = QStringLiteral("①番の件～よろしく😀");
  const QString body = QStringLiteral("丸数字①と波ダッシュ～\n絵文字😀も。");
  const ParsedMail p = parseMail(build(mail(subject, body)));
  EXPECT_EQ(p.subject, subject);
  EXPECT_EQ(p.text, canonical(body));
  EXPECT_EQ(p.textCharset.toUpper(), QStringLiteral("UTF-8"));
  EXPECT_TRUE(p.rawHeader("Subject").startsWith("=?UTF-8?B?"));

  // Mostly-ASCII text stays readable as quoted-printable.
  const QString english = QStringLiteral("Price: 100 euros (about 16000 yen) \u2014 see you then.\nBye.");
  const ParsedMail e = parseMail(build(mail(QStringLiteral("plain"), english)));
  EXPECT_EQ(e.text, canonical(english));
  EXPECT_EQ(e.textEncoding, QStringLiteral("quoted-printable"));
}

TEST(MimeBuild, AsciiTextStaysPlain) {
  const ParsedMail p = parseMail(build(mail(QStringLiteral("Hello there"), QStringLiteral("Just ASCII.\n"))));
  EXPECT_EQ(p.rawHeader("Subject"), QByteArray("Hello there"));
  EXPECT_EQ(p.textCharset.toUpper(), QStringLiteral("US-ASCII"));
  EXPECT_EQ(p.text, QStringLiteral("Just ASCII.\r\n"));
  // An ASCII subject that looks like an encoded word must not be decoded as one.
  const QString tricky = QStringLiteral("=?UTF-8?B?5pel?= is not a word here");
  EXPECT_EQ(parseMail(build(mail(tricky, QString()))).subject, tricky);
}

TEST(MimeBuild, EncodedWordsStayShortAndEachDecodesToWholeCharacters) {
  const QStringList all = {QStringLiteral("漢"), QStringLiteral("字"), QStringLiteral("か"), QStringLiteral("カ"),
                           QStringLiteral("a"),  QStringLiteral("b"),  QStringLiteral(" "),  QStringLiteral("1"),
                           QStringLiteral("、"), QStringLiteral("。"), QStringLiteral("ー"), QStringLiteral("😀"),
                           QStringLiteral("①")};
  for (const bool jisOnly : {true, false}) {
    const QStringList pieces = jisOnly ? all.mid(0, all.size() - 2) : all;
    for (int len = 1; len <= 140; len += 7) {
      QString subject;
      for (int i = 0; i < len; ++i) subject += pieces[(i * 5 + len) % pieces.size()];
      const QByteArray msg = build(mail(subject, QStringLiteral("x")));
      const ParsedMail p = parseMail(msg);
      ASSERT_EQ(p.subject, subject) << "length " << len;
      // Header lines within 76 characters plus CR LF.
      for (const QByteArray& line : p.headerBlock.split('\n')) {
        if (line.startsWith("Subject:") || line.startsWith(' '))
          EXPECT_LE(line.chopped(line.endsWith('\r') ? 1 : 0).size(), 76) << line.constData();
      }
      QString joined;
      for (const QByteArray& w : encodedWordsOf(p.rawHeader("Subject"))) {
        EXPECT_LE(w.size(), 75) << w.constData();
        const QString alone = decodeHeaderText(w);
        EXPECT_FALSE(alone.contains(QChar(0xFFFD))) << w.constData();
        EXPECT_FALSE(alone.contains(u'?') && !subject.contains(u'?')) << w.constData();
        joined += alone;
      }
      EXPECT_EQ(joined, subject);
    }
  }
}

TEST(MimeBuild, AddressListsSplitForTheEnvelopeAndKeepDisplayNames) {
  const QString to = QStringLiteral("山田 花子 <hanako@example.jp>; b@example.com,\"Smith, John\" <john@example.org> ,, ");
  const QStringList items = maillib::splitAddressList(to);
  ASSERT_EQ(items.size(), 3);
  EXPECT_EQ(maillib::bareAddress(items[0]), QStringLiteral("hanako@example.jp"));
  EXPECT_EQ(maillib::bareAddress(items[1]), QStringLiteral("b@example.com"));
  EXPECT_EQ(maillib::bareAddress(items[2]), QStringLiteral("john@example.org"));

  OutgoingMail m = mail(QStringLiteral("s"), QStringLiteral("b"));
  m.to = to;
  m.from = QStringLiteral("灯火 太郎 <tomo@localhost>");
  const ParsedMail p = parseMail(build(m));
  EXPECT_TRUE(p.to.contains(QStringLiteral("山田 花子 <hanako@example.jp>"))) << p.to.toStdString();
  EXPECT_TRUE(p.to.contains(QStringLiteral("b@example.com")));
  EXPECT_TRUE(p.to.contains(QStringLiteral("john@example.org")));
  EXPECT_TRUE(p.to.contains(QStringLiteral("Smith, John")));
  EXPECT_EQ(p.from, QStringLiteral("灯火 太郎 <tomo@localhost>"));
  EXPECT_TRUE(p.messageId.endsWith(QStringLiteral("@localhost>")));
}

TEST(MimeBuild, AttachmentsArriveByteIdenticalWithTheirNames) {
  TempHome home;
  QByteArray binary;
  for (int i = 0; i < 3000; ++i) binary += char(i * 7 % 256);
  const QString japanese = home.path() + QStringLiteral("/見積書（２０２４年度・改訂版）の送付について最終版です.pdf");
  const QString plain = home.path() + QStringLiteral("/notes \"v2\".txt");
  const QString empty = home.path() + QStringLiteral("/空.dat");
  home.write(QFileInfo(japanese).fileName(), binary);
  home.write(QFileInfo(plain).fileName(), "line 1\nline 2\n");
  home.write(QFileInfo(empty).fileName(), QByteArray());

  OutgoingMail m = mail(QStringLiteral("添付"), QStringLiteral("三つ送ります。"));
  m.attachments = {japanese, plain, empty};
  const QByteArray msg = build(m);
  expectCrLfOnly(msg);
  const ParsedMail p = parseMail(msg);
  EXPECT_EQ(p.text, canonical(m.body));
  ASSERT_EQ(p.attachments.size(), 3);
  EXPECT_EQ(p.attachments[0].fileName, QFileInfo(japanese).fileName());
  EXPECT_EQ(p.attachments[0].data, binary);
  EXPECT_EQ(p.attachments[0].contentType, QStringLiteral("application/pdf"));
  EXPECT_EQ(p.attachments[1].fileName, QStringLiteral("notes \"v2\".txt"));
  EXPECT_EQ(p.attachments[1].data, QByteArray("line 1\nline 2\n"));
  EXPECT_EQ(p.attachments[2].fileName, QStringLiteral("空.dat"));
  EXPECT_TRUE(p.attachments[2].data.isEmpty());

  // The long name goes in RFC 2231 pieces, each of whole characters, so a
  // reader that decodes the pieces one by one still gets the name right.
  const QByteArray block = msg.mid(msg.indexOf("filename*0*="));
  ASSERT_FALSE(block.isEmpty());
  static const QRegularExpression piece(QStringLiteral("filename\\*\\d+\\*=(?:UTF-8'')?([^;\\r\\n]*)"));
  auto it = piece.globalMatch(QString::fromLatin1(block.left(block.indexOf("\r\n\r\n"))));
  QString name;
  int pieces = 0;
  while (it.hasNext()) {
    const QByteArray bytes = QByteArray::fromPercentEncoding(it.next().captured(1).toLatin1());
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString part = utf8.decode(bytes);
    EXPECT_FALSE(utf8.hasError()) << bytes.toHex().constData();
    name += part;
    ++pieces;
  }
  EXPECT_GT(pieces, 1);
  EXPECT_EQ(name, QFileInfo(japanese).fileName());
}

TEST(MimeBuild, AnAttachmentThatCannotBeReadFailsTheMessageNamingIt) {
  TempHome home;
  OutgoingMail m = mail(QStringLiteral("s"), QStringLiteral("b"));
  maillib::Result why;

  m.attachments = {home.path() + QStringLiteral("/なくなった.txt")};
  EXPECT_FALSE(maillib::buildMessage(m, &why).has_value());
  EXPECT_EQ(why.code, Code::AttachmentMissing);
  EXPECT_EQ(why.detail, m.attachments[0]);

  // A folder is no file (permissions cannot be tested reliably as root).
  m.attachments = {home.path()};
  EXPECT_FALSE(maillib::buildMessage(m, &why).has_value());
  EXPECT_EQ(why.code, Code::AttachmentIsFolder);
  EXPECT_EQ(why.detail, home.path());

  m.attachments = {QString()};
  EXPECT_FALSE(maillib::buildMessage(m, &why).has_value());
  EXPECT_EQ(why.code, Code::AttachmentNameEmpty);
}

TEST(MimeBuild, AttachmentListSplitsAtCommasYetKeepsAPathWithACommaWhole) {
  TempHome home;
  home.write(QStringLiteral("a,b.txt"), "1");
  home.write(QStringLiteral("c.txt"), "2");
  const QString a = home.path() + QStringLiteral("/a,b.txt");
  const QString c = home.path() + QStringLiteral("/c.txt");
  EXPECT_EQ(maillib::splitAttachmentList(a + u',' + c), (QStringList{a, c}));
  EXPECT_EQ(maillib::splitAttachmentList(c + u',' + a), (QStringList{c, a}));
  EXPECT_EQ(maillib::splitAttachmentList(c + u',' + c), (QStringList{c, c}));
  EXPECT_TRUE(maillib::splitAttachmentList(QString()).isEmpty());
  // A piece naming nothing stays as it is, so the failure can name it.
  const QString gone = home.path() + QStringLiteral("/gone.txt");
  EXPECT_EQ(maillib::splitAttachmentList(gone + u',' + c), (QStringList{gone, c}));
}

TEST(MimeBuild, LongLinesAreNotSentAsSevenBit) {
  const QString line = QString(600, QChar(u'あ'));  // 1200 bytes in ISO-2022-JP
  const QString body = QStringLiteral("短い行\n") + line + QStringLiteral("\n終わり");
  const QByteArray msg = build(mail(QStringLiteral("長い行"), body));
  for (const QByteArray& l : msg.split('\n')) EXPECT_LE(l.size(), 999);
  const ParsedMail p = parseMail(msg);
  EXPECT_EQ(p.text, canonical(body));
  EXPECT_EQ(p.textEncoding, QStringLiteral("base64"));
}

TEST(MimeBuild, FurtherHeaderFieldsGoOutFoldedAndNothingElseGetsIn) {
  maillib::Result why;
  const auto fields = maillib::parseExtraHeaders(QStringLiteral("In-Reply-To: <1@x.jp>\r\nReferences: <0@x.jp>\r\n <1@x.jp>"), &why);
  ASSERT_TRUE(fields.has_value()) << why.detail.toStdString();
  OutgoingMail m = mail(QStringLiteral("Re:  件名"), QStringLiteral("本文"));
  m.extraHeaders = *fields;
  const ParsedMail p = parseMail(build(m));
  EXPECT_EQ(p.rawHeader("In-Reply-To"), QByteArray("<1@x.jp>"));
  EXPECT_TRUE(p.headerBlock.contains("\r\nReferences: <0@x.jp>\r\n <1@x.jp>\r\n")) << p.headerBlock.toStdString();
  EXPECT_EQ(p.to, QStringLiteral("hanako@example.jp"));
  // What would add a recipient, contradict the library or break the header fails whole.
  const std::pair<const char*, Code> bad[] = {{"Bcc: victim@example.com", Code::HeaderNotAllowed},
                                              {"In-Reply-To: <a@x.jp>\r\nto: v@example.com", Code::HeaderNotAllowed},
                                              {"Content-Type: text/html", Code::HeaderNotAllowed},
                                              {"Message-ID: <mine@x.jp>", Code::HeaderNotAllowed},
                                              {" <leading@x.jp>", Code::HeaderContinuationFirst},
                                              {"NoColon", Code::HeaderMalformed},
                                              {"In-Reply-To:", Code::HeaderEmpty},
                                              {"X-Name: 日本語", Code::HeaderBadCharacter}};
  for (const auto& [text, code] : bad) {
    why = maillib::Result{};
    EXPECT_FALSE(maillib::parseExtraHeaders(QString::fromUtf8(text), &why).has_value()) << text;
    EXPECT_EQ(why.code, code) << text;
  }
  why = maillib::Result{};
  EXPECT_FALSE(maillib::parseExtraHeaders(u"X-Long: "_qs + QString(1000, u'a'), &why).has_value());
  EXPECT_EQ(why.code, Code::HeaderLineTooLong);
}

// Whatever a caller hands in, a line break never reaches the header: it
// would start a field (or a recipient) the reader does not see as typed.
// The message is refused, not quietly changed.
TEST(MimeBuild, ALineBreakInAHeaderTextRefusesTheMessage) {
  TempHome home;
  const QString odd = home.path() + QStringLiteral("/two\nlines.txt");
  home.write(QFileInfo(odd).fileName(), "x");
  const QString path = odd;
  for (const QString& broken : {u"a@example.jp\r\nRCPT TO:<b@example.jp>"_qs, u"a@example.jp\nBcc: b@example.jp"_qs,
                                u"a@example.jp\rX: y"_qs}) {
    maillib::Result why;
    OutgoingMail m = mail(QStringLiteral("s"), QStringLiteral("b"));
    m.to = broken;
    EXPECT_FALSE(maillib::buildMessage(m, &why).has_value()) << broken.toStdString();
    EXPECT_EQ(why.code, Code::RecipientLineBreak) << broken.toStdString();

    m = mail(broken, QStringLiteral("b"));
    EXPECT_FALSE(maillib::buildMessage(m, &why).has_value()) << broken.toStdString();
    EXPECT_EQ(why.code, Code::SubjectLineBreak) << broken.toStdString();

    m = mail(QStringLiteral("s"), QStringLiteral("b"));
    m.from = broken;
    EXPECT_FALSE(maillib::buildMessage(m, &why).has_value()) << broken.toStdString();
    EXPECT_EQ(why.code, Code::SenderLineBreak) << broken.toStdString();
  }
  maillib::Result why;
  OutgoingMail m = mail(QStringLiteral("s"), QStringLiteral("b"));
  m.attachments = {path};
  EXPECT_FALSE(maillib::buildMessage(m, &why).has_value());
  EXPECT_EQ(why.code, Code::AttachmentNameLineBreak);
  EXPECT_EQ(why.detail, home.path() + QStringLiteral("/two lines.txt"));

  // Line breaks in the body are the body's own.
  m = mail(QStringLiteral("s"), QStringLiteral("一行目\r\n二行目\n三行目"));
  EXPECT_TRUE(maillib::buildMessage(m, &why).has_value()) << int(why.code);
}
