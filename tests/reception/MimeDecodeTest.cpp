// Received mail decoded into what a person reads: golden mails in
// tests/data/mail, named after what they exercise.
#include "reception/Charsets.h"
#include "reception/maillib/MailLib.h"
#include "reception/MimeDecode.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace maillib;

namespace {

QByteArray golden(const char* name) {
  QFile f(QStringLiteral(TOMOSHIBI_SOURCE_DIR "/tests/data/mail/") + QString::fromLatin1(name));
  EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << name;
  return f.readAll();
}

DecodedMail decodeGolden(const char* name) {
  MailLibInitialize();  // GMime set up
  return decodeMail(golden(name));
}

QString crlf(const QString& s) {
  QString t = s;
  return t.replace(u'\n', QStringLiteral("\r\n"));
}

}  // namespace

// --- Japanese charsets: the characters the strict tables lose ----------------

TEST(MimeDecode, Iso2022jpKeepsNecAndIbmCharacters) {
  const DecodedMail m = decodeGolden("iso2022jp-nec-specials.eml");
  // The subject's two encoded words split a character: joined as bytes first.
  EXPECT_EQ(m.subject, QStringLiteral("①会議は～髙橋さんの部屋で"));
  EXPECT_EQ(m.from, QStringLiteral("髙橋 一郎 <takahashi@example.jp>"));
  EXPECT_EQ(m.date, QStringLiteral("Tue, 2 Jan 2024 09:30:00 +0900"));
  EXPECT_EQ(m.body, crlf(QStringLiteral("お疲れさまです。\n①議題　②日程　③場所\n波ダッシュ～と全角チルダ～、平行記号∥。\n髙橋")));
  EXPECT_TRUE(m.attachments.isEmpty());
}

TEST(MimeDecode, ShiftJisIsReadAsWindowsDoes) {
  const DecodedMail m = decodeGolden("shift_jis-tilde-backslash.eml");
  // Raw 8-bit subject; a quoted name whose last byte before the quote is 0x5C.
  EXPECT_EQ(m.subject, QStringLiteral("生のShift_JIS件名　ソフト～表"));
  EXPECT_EQ(m.from, QStringLiteral("山田　表 <hyo@example.jp>"));
  EXPECT_EQ(m.body, crlf(QStringLiteral("パス: C:\\Users\\tomo\\ソフト\n~/bin と ～ と ①\n髙島屋の表示")));
}

TEST(MimeDecode, EucJpIsReadWithTheMicrosoftTable) {
  const DecodedMail m = decodeGolden("euc-jp-ms.eml");
  EXPECT_EQ(m.subject, QStringLiteral("EUC-JPの件名"));
  EXPECT_EQ(m.from, QStringLiteral("鈴木 <suzuki@example.jp>"));
  EXPECT_EQ(m.body, QStringLiteral("こんにちは。①番と～です。"));
}

TEST(MimeDecode, Utf8AndWesternCharsets) {
  const DecodedMail u = decodeGolden("utf8-quoted-printable.eml");
  EXPECT_EQ(u.subject, QStringLiteral("件名 with spaces"));
  EXPECT_EQ(u.from, QStringLiteral("佐藤 花子 <hanako@example.com>"));
  EXPECT_EQ(u.body, QStringLiteral("こんにちは、UTF-8の本文です。とても長い行なので途中で折り返されますが、文字の途中で切れても元通りになります。"));

  // Labelled Latin-1, written on Windows: 0x93/0x94/0x96 are quotes and a dash.
  const DecodedMail w = decodeGolden("latin1-windows1252.eml");
  EXPECT_EQ(w.subject, QStringLiteral("Café"));
  EXPECT_EQ(w.from, QStringLiteral("René Dupont <rene@example.fr>"));
  EXPECT_EQ(w.body, QStringLiteral("“Café” – crème brûlée"));
}

TEST(Charsets, LabelsAndGuesses) {
  // Shift_JIS labels mean CP932: 0x5C and 0x7E stay ASCII, NEC row 13 works.
  EXPECT_EQ(decodeCharset("\\~\x87\x40", "Shift_JIS"), QStringLiteral("\\~①"));
  // Half-width katakana in ISO-2022-JP, and JIS X 0212 (not in CP932) as 〓.
  EXPECT_EQ(decodeCharset("\x1b(I\x31\x32\x1b(B!", "iso-2022-jp"), QStringLiteral("ｱｲ!"));
  EXPECT_EQ(decodeCharset("\x1b$(D\x30\x21\x1b(Bx", "iso-2022-jp"), QStringLiteral("〓x"));
  // A wrong label does not turn the text into U+FFFD: CP932 bytes labelled UTF-8.
  EXPECT_EQ(decodeCharset(QStringLiteral("日本語").toUtf8(), "utf-8"), QStringLiteral("日本語"));
  EXPECT_EQ(decodeCharset(QByteArray("\x93\xfa\x96\x7b\x8c\xea"), "utf-8"), QStringLiteral("日本語"));
  // Unlabelled EUC-JP is not mistaken for CP932 half-width katakana.
  EXPECT_EQ(decodeGuess(QByteArray("\xa4\xb3\xa4\xf3\xa4\xcb\xa4\xc1\xa4\xcf")), QStringLiteral("こんにちは"));
  // Unknown labels and labels that try to steer iconv fall back to guessing.
  EXPECT_EQ(decodeCharset(QStringLiteral("テスト").toUtf8(), "x-no-such-charset"), QStringLiteral("テスト"));
  EXPECT_EQ(decodeCharset(QByteArray("\x93\xfa\x96\x7b\x8c\xea"), "UTF-8//TRANSLIT"), QStringLiteral("日本語"));
}

// --- headers ------------------------------------------------------------------

TEST(MimeDecode, EncodedWordsAndAddresses) {
  // Adjacent words joined without the space between them; text around kept.
  EXPECT_EQ(decodeHeaderText("=?UTF-8?B?5pel?= =?UTF-8?B?5pys?= and =?UTF-8?Q?=E8=AA=9E?= end"),
            QStringLiteral("日本 and 語 end"));
  // Glued to other text, as careless mailers write it.
  EXPECT_EQ(decodeHeaderText("Re:=?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?="), QStringLiteral("Re:テスト"));
  // Raw ISO-2022-JP in a header.
  EXPECT_EQ(decodeHeaderText("\x1b$B%F%9%H\x1b(B"), QStringLiteral("テスト"));
  // A broken word stays as it was written.
  EXPECT_EQ(decodeHeaderText("=?UTF-8?B?broken"), QStringLiteral("=?UTF-8?B?broken"));

  EXPECT_EQ(decodeAddresses("\"Yamada, Taro\" <taro@example.jp>, hanako@example.jp (Hanako)"),
            QStringLiteral("Yamada, Taro <taro@example.jp>, Hanako <hanako@example.jp>"));
  EXPECT_EQ(decodeAddresses("<only@example.jp>"), QStringLiteral("only@example.jp"));
  EXPECT_EQ(decodeAddresses("\"=?UTF-8?B?5bGx55Sw?=\" <y@example.jp>"), QStringLiteral("山田 <y@example.jp>"));
}

TEST(MimeDecode, FileNameParameters) {
  // RFC 2231 continuation without encoding, and a single encoded value.
  EXPECT_EQ(headerParameter("attachment; filename*0=\"long \"; filename*1=\"name.txt\"", "filename"),
            QStringLiteral("long name.txt"));
  EXPECT_EQ(headerParameter("attachment; filename*=UTF-8''%E8%A1%A8.txt", "filename"), QStringLiteral("表.txt"));
  // Raw Shift_JIS in quotes whose second byte is a backslash (表 = 95 5C).
  EXPECT_EQ(headerParameter("attachment; filename=\"\x95\x5c.txt\"; size=3", "filename"), QStringLiteral("表.txt"));
  EXPECT_TRUE(headerParameter("attachment; size=3", "filename").isNull());
}

// --- structure ------------------------------------------------------------------

TEST(MimeDecode, HtmlOnlyMailBecomesReadableText) {
  const DecodedMail m = decodeGolden("html-only.eml");
  EXPECT_EQ(m.body, crlf(QStringLiteral("こんにちは、HTMLだけのメールです。\n\n・一つ目\n・二つ目 & <三>\nline1\nline2 ①①")));
  EXPECT_EQ(htmlToText(QStringLiteral("<pre>a  b\n  c</pre>x &unknown; y")), QStringLiteral("a  b\n  c\nx &unknown; y"));
}

TEST(MimeDecode, AlternativePrefersPlainText) {
  EXPECT_EQ(decodeGolden("alternative-plain-html.eml").body, QStringLiteral("プレーンテキスト版です。"));
}

TEST(MimeDecode, NestedMessageIsShownInsideWithItsFiles) {
  const QByteArray raw = golden("nested-rfc822.eml");
  const DecodedMail m = decodeGolden("nested-rfc822.eml");
  EXPECT_EQ(m.subject, QStringLiteral("Fwd"));
  EXPECT_EQ(m.body, crlf(QStringLiteral("転送します。\n\n―――――― 添付されたメール ――――――\nSubject: 元のメール\n"
                                        "From: 田中 <tanaka@example.jp>\nDate: Mon, 1 Jan 2024 00:00:00 +0900\n\n元の本文です。")));
  ASSERT_EQ(m.attachments.size(), 2);
  // The attached mail itself, with its own bytes (no name: one from its type).
  EXPECT_EQ(m.attachments[0].name, QStringLiteral("message1.eml"));
  const qsizetype from = raw.indexOf("From: =?ISO-2022-JP");
  // Up to the line break that belongs to the outer delimiter.
  EXPECT_EQ(m.attachments[0].data, raw.mid(from, raw.indexOf("\r\n--OUT--") - from));
  EXPECT_EQ(m.attachments[1].name, QStringLiteral("memo.txt"));
  EXPECT_TRUE(m.attachments[1].data.startsWith("inner attachment"));
}

// --- mails others write: shapes the standards allow, and careless ones -------------

TEST(MimeDecode, InlineTextWithAFileNameIsShownAndSaved) {
  // Named in its disposition: read as the body, and saved as the file it
  // names; a text attachment beside it stays a file only; an unnamed text
  // after it is read too.
  const DecodedMail m = decodeGolden("inline-text-with-file-name.eml");
  EXPECT_EQ(m.body, crlf(QStringLiteral("本日の会議のメモです。\n出席者は三名でした。\n\n追伸：資料は来週送ります。")));
  ASSERT_EQ(m.attachments.size(), 2);
  EXPECT_EQ(m.attachments[0].name, QStringLiteral("notes.txt"));
  EXPECT_EQ(decodeCharset(m.attachments[0].data, "iso-2022-jp"),
            crlf(QStringLiteral("本日の会議のメモです。\n出席者は三名でした。")));
  EXPECT_EQ(m.attachments[1].name, QStringLiteral("log.txt"));

  // Named only in its Content-Type, with no disposition at all.
  const DecodedMail t = decodeGolden("text-named-only-by-content-type.eml");
  EXPECT_EQ(t.body, QStringLiteral("明日は１０時から表計算ソフトの説明会です。"));
  ASSERT_EQ(t.attachments.size(), 2);
  EXPECT_EQ(t.attachments[0].name, QStringLiteral("memo.txt"));
  EXPECT_EQ(t.attachments[1].name, QStringLiteral("dot.png"));

  // An unnamed text before it is the body: the named one is then a file only;
  // an attached mail's own texts count for it alone.
  const DecodedMail after = decodeMail(
      "From: a@b\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=B\r\n\r\n"
      "--B\r\nContent-Type: text/plain\r\n\r\nthe letter\r\n"
      "--B\r\nContent-Type: text/plain; name=\"notes.txt\"\r\nContent-Disposition: inline\r\n\r\nthe notes\r\n"
      "--B\r\nContent-Type: message/rfc822\r\n\r\nSubject: inner\r\nMIME-Version: 1.0\r\n"
      "Content-Type: multipart/mixed; boundary=I\r\n\r\n"
      "--I\r\nContent-Type: text/plain; name=\"inner.txt\"\r\n\r\nthe inner notes\r\n--I--\r\n"
      "--B--\r\n");
  EXPECT_TRUE(after.body.startsWith(QStringLiteral("the letter\r\n\r\n―"))) << after.body.toStdString();
  EXPECT_TRUE(after.body.endsWith(QStringLiteral("Subject: inner\r\nFrom: \r\nDate:\r\n\r\nthe inner notes")))
      << after.body.toStdString();
  QStringList names;
  for (const MailAttachment& a : after.attachments) names << a.name;
  EXPECT_EQ(names,
            (QStringList{QStringLiteral("notes.txt"), QStringLiteral("message1.eml"), QStringLiteral("inner.txt")}));

  // A named HTML part is a file, as before.
  const DecodedMail html = decodeMail(
      "From: a@b\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=B\r\n\r\n"
      "--B\r\nContent-Type: text/html; name=\"page.html\"\r\n\r\n<p>page</p>\r\n--B--\r\n");
  EXPECT_TRUE(html.body.isEmpty());
  ASSERT_EQ(html.attachments.size(), 1);
  EXPECT_EQ(html.attachments[0].name, QStringLiteral("page.html"));
}

TEST(MimeDecode, ContentTypeThatDoesNotParseIsPlainText) {
  const DecodedMail m = decodeGolden("content-type-text-without-subtype.eml");
  EXPECT_EQ(m.body, crlf(QStringLiteral("Backup finished.\n３件とも正常に終了しました。")));
  EXPECT_TRUE(m.attachments.isEmpty());

  // Inside a multipart, read in the charset it names; saved when it says
  // "attachment", as the text file it is.
  const DecodedMail b = decodeMail(
      "From: a@b\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=B\r\n\r\n"
      "--B\r\nContent-Type: plain text; charset=windows-1252\r\n\r\n\x93quoted\x94\r\n"
      "--B\r\nContent-Type: \"text/plain\"\r\nContent-Disposition: attachment\r\n\r\nsaved\r\n--B--\r\n");
  EXPECT_EQ(b.body, QStringLiteral("“quoted”"));
  ASSERT_EQ(b.attachments.size(), 1);
  EXPECT_EQ(b.attachments[0].name, QStringLiteral("text1.txt"));
  EXPECT_EQ(b.attachments[0].data, QByteArray("saved"));
}

TEST(MimeDecode, UnknownTextSubtypesAreReadAsPlainText) {
  const DecodedMail m = decodeGolden("unknown-text-subtypes.eml");
  EXPECT_EQ(m.body, crlf(QStringLiteral("# 週報\n- 予算の確認を終えました\n\nbuild 42 passed\n\n<bold>重要</bold>")));
  // A calendar is a file of its own.
  ASSERT_EQ(m.attachments.size(), 1);
  EXPECT_EQ(m.attachments[0].name, QStringLiteral("text1.ics"));

  // Among versions of the body the plain one is still the one read, and
  // the other is no file.
  const DecodedMail alt = decodeMail(
      "From: a@b\r\nMIME-Version: 1.0\r\nContent-Type: multipart/alternative; boundary=A\r\n\r\n"
      "--A\r\nContent-Type: text/plain\r\n\r\nplain\r\n"
      "--A\r\nContent-Type: text/enriched\r\n\r\n<bold>rich</bold>\r\n--A--\r\n");
  EXPECT_EQ(alt.body, QStringLiteral("plain"));
  EXPECT_TRUE(alt.attachments.isEmpty());

  // Sent as an attachment without a name, it is a text file.
  const DecodedMail file = decodeMail(
      "From: a@b\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=B\r\n\r\n"
      "--B\r\nContent-Type: text/plain\r\n\r\nsee the patch\r\n"
      "--B\r\nContent-Type: text/x-diff\r\nContent-Disposition: attachment\r\n\r\n-old\r\n+new\r\n--B--\r\n");
  EXPECT_EQ(file.body, QStringLiteral("see the patch"));
  ASSERT_EQ(file.attachments.size(), 1);
  EXPECT_EQ(file.attachments[0].name, QStringLiteral("text1.txt"));
}

TEST(MimeDecode, BodyStartsAtTheFirstLineThatCannotBeAHeaderField) {
  const DecodedMail m = decodeGolden("header-without-blank-line.eml");
  EXPECT_EQ(m.subject, QStringLiteral("空行なし"));
  EXPECT_EQ(m.from, QStringLiteral("tanaka@example.jp"));
  EXPECT_EQ(m.date, QStringLiteral("Sun, 7 Apr 2024 09:00:00 +0900"));
  // Its charset still counts; a later line that looks like a field is body.
  EXPECT_EQ(m.body, crlf(QStringLiteral("お世話になっております。\nThanks for the quick reply\nRegards: Tanaka")));

  const DecodedMail n = decodeGolden("no-header-at-all.eml");
  EXPECT_TRUE(n.subject.isEmpty());
  EXPECT_TRUE(n.from.isEmpty());
  EXPECT_EQ(n.body, crlf(QStringLiteral("Hello,\nthis mail came without any header.\n\nBye")));

  // A stray line before the empty line starts the body (bare LF lines too).
  const DecodedMail stray = decodeMail("From: a@b\nSubject: s\nnot a field\nTo: c@d\n\nrest\n");
  EXPECT_EQ(stray.subject, QStringLiteral("s"));
  EXPECT_EQ(stray.body, crlf(QStringLiteral("not a field\nTo: c@d\n\nrest")));
  // Folded lines, odd field names and a mailbox file's "From " line are header.
  const DecodedMail folded = decodeMail(
      "From sender@example.jp Mon Jan  1 00:00:00 2024\r\n"
      "Subject: one\r\n\ttwo\r\nX-Odd_Name!: v\r\n\r\nbody\r\n");
  EXPECT_EQ(folded.subject, QStringLiteral("one two"));
  EXPECT_EQ(folded.body, QStringLiteral("body"));
}

// --- every part saved, links kept -------------------------------------------------

TEST(MimeDecode, NewsletterKeepsItsLinksLinesAndInlinePicture) {
  const DecodedMail m = decodeGolden("newsletter-inline-image.eml");
  const QString b = m.body;
  // A link's address once after its text; none where the text is the address.
  EXPECT_TRUE(b.startsWith(crlf(QStringLiteral("灯火通信 <https://news.example.jp/>\n\n"
                                               "第1号の特集記事 <https://news.example.jp/articles/1?utm_source=mail&id=1>\n\n"
                                               "今週の話題その1です。季節の商品を①から順にご紹介します。"
                                               "続きはこちら <https://news.example.jp/articles/1>。\n\n"
                                               // list items one to a line, even as paragraphs; table rows too
                                               "・おすすめ商品 1-A\n・おすすめ商品 1-B\n\n価格  100円\n在庫  あり\n\n第2号"))))
      << b.left(600).toStdString();
  EXPECT_EQ(b.count(QStringLiteral("https://news.example.jp/articles/120")), 2);
  EXPECT_TRUE(b.endsWith(crlf(QStringLiteral("配信停止はhttps://news.example.jp/unsubscribe?u=tomo%40example.jpから。\n\n"
                                             "お問い合わせ: info@news.example.jp　サポート窓口 <support@news.example.jp>\n\n"
                                             "ページの先頭へ 閉じる"))))
      << b.right(300).toStdString();
  // The logo has no name: it gets one from its type.
  ASSERT_EQ(m.attachments.size(), 1);
  EXPECT_EQ(m.attachments[0].name, QStringLiteral("image1.png"));
  EXPECT_TRUE(m.attachments[0].data.startsWith("\x89PNG\r\n"));
}

TEST(MimeDecode, PhoneMailSavesThePicturesOfItsHtmlBranch) {
  const DecodedMail m = decodeGolden("phone-picture-in-html-branch.eml");
  EXPECT_EQ(m.subject, QStringLiteral("写真を送ります"));
  EXPECT_EQ(m.body, QStringLiteral("写真を送ります。"));  // the plain version, once
  ASSERT_EQ(m.attachments.size(), 2);
  EXPECT_EQ(m.attachments[0].name, QStringLiteral("image1.gif"));
  EXPECT_TRUE(m.attachments[0].data.startsWith("GIF89a"));
  EXPECT_EQ(m.attachments[1].name, QStringLiteral("IMG_0412.JPG"));
  EXPECT_TRUE(m.attachments[1].data.startsWith("\xff\xd8"));
}

TEST(MimeDecode, AttachedMailIsAFileOfItsOwnBytesAndStillShown) {
  const QByteArray raw = golden("attached-mail-fwd-eml.eml");
  const DecodedMail m = decodeGolden("attached-mail-fwd-eml.eml");
  EXPECT_TRUE(m.body.contains(QStringLiteral("―――――― 添付されたメール ――――――\r\nSubject: 元のメール")));
  EXPECT_TRUE(m.body.contains(QStringLiteral("元の本文です。\r\n.dot line kept as it is\r\nFrom the original sender")));
  ASSERT_EQ(m.attachments.size(), 2);
  EXPECT_EQ(m.attachments[0].name, QStringLiteral("fwd.eml"));
  const qsizetype from = raw.indexOf("From: =?ISO-2022-JP?B?GyRCRURDZhsoQg==?=");
  EXPECT_EQ(m.attachments[0].data, raw.mid(from, raw.indexOf("\r\n--OUT-fwd--") - from));
  EXPECT_EQ(m.attachments[1].name, QStringLiteral("map.png"));

  // Sent encoded, an attached mail is still a mail file; a name without
  // ".eml" gets it, so that a mail program opens it.
  const DecodedMail b = decodeMail(
      "From: a@b\r\nSubject: x\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=B\r\n\r\n"
      "--B\r\nContent-Type: text/plain\r\n\r\nhi\r\n--B\r\nContent-Type: message/rfc822; name=\"転送\"\r\n"
      "Content-Transfer-Encoding: base64\r\n\r\n" + QByteArray("From: c@d\r\nSubject: inner\r\n\r\nbody\r\n").toBase64() +
      "\r\n--B--\r\n");
  ASSERT_EQ(b.attachments.size(), 1);
  EXPECT_EQ(b.attachments[0].name, QStringLiteral("転送.eml"));
  EXPECT_EQ(b.attachments[0].data, QByteArray("From: c@d\r\nSubject: inner\r\n\r\nbody\r\n"));
}

TEST(MimeDecode, HtmlLinksOncePerLink) {
  EXPECT_EQ(htmlToText(QStringLiteral("<p>Read <a href='https://x.example/a?b=1&amp;c=2'>more</a>.</p>"
                                      "<p><a href=https://x.example/>https://x.example</a> "
                                      "<a href=\"https://www.y.example/\">y.example</a></p>"
                                      "<p><a href=\"https://z.example/\"><img src=\"cid:1\" alt=\"バナー\"></a>"
                                      "<a href=\"https://w.example/\"><img src=\"cid:2\"></a>"
                                      "<a name=\"top\">anchor</a> <a href=\"cid:3\">cid</a></p>"))
                .toStdString(),
            QStringLiteral("Read more <https://x.example/a?b=1&c=2>.\n\nhttps://x.example y.example\n\n"
                           "バナー <https://z.example/> <https://w.example/> anchor cid")
                .toStdString());
}

TEST(MimeDecode, JapaneseAttachmentNames) {
  const DecodedMail m = decodeGolden("rfc2231-japanese-split-filename.eml");
  EXPECT_EQ(m.body, QStringLiteral("See attachment."));
  ASSERT_EQ(m.attachments.size(), 3);
  // filename*0*/*1* split inside 求: joined as bytes, then decoded.
  EXPECT_EQ(m.attachments[0].name, QStringLiteral("請求書.pdf"));
  EXPECT_EQ(m.attachments[0].data, QByteArray("%PDF-1.4 test\x00\x01\x02\xff", 17));
  EXPECT_EQ(m.attachments[1].name, QStringLiteral("見積書.xls"));
  EXPECT_EQ(m.attachments[1].data, QByteArray("xls-bytes"));
  EXPECT_EQ(m.attachments[2].name, QStringLiteral("議事録①.txt"));
}

TEST(MimeDecode, GarbageGivesTheBestReadableText) {
  const DecodedMail m = decodeGolden("broken-garbage.eml");
  EXPECT_EQ(m.subject, QStringLiteral("生のJIS件名"));
  EXPECT_EQ(m.from, QStringLiteral("壊れた差出人 <broken@example.jp>"));
  EXPECT_EQ(m.date, QStringLiteral("garbage date"));
  EXPECT_TRUE(m.body.contains(QStringLiteral("読める本文の続"))) << m.body.toStdString();
  EXPECT_TRUE(m.body.contains(QStringLiteral("ラベルはASCIIでも中身はShift_JIS"))) << m.body.toStdString();
  EXPECT_FALSE(m.body.contains(QChar(0)));

  // Nothing at all, or no header at all.
  EXPECT_TRUE(decodeMail(QByteArray()).body.isEmpty());
  EXPECT_EQ(decodeMail("\r\njust a body").body, QStringLiteral("just a body"));
}

TEST(MimeDecode, PieceOfASplitMessageIsMarked) {
  const DecodedMail m = decodeGolden("message-partial.eml");
  EXPECT_TRUE(m.partial);
  EXPECT_TRUE(m.body.contains(QStringLiteral("first half of the text")));
  EXPECT_FALSE(decodeGolden("alternative-plain-html.eml").partial);
}

// --- files ----------------------------------------------------------------------

TEST(AttachmentFiles, HostileNamesStayInsideTheFolder) {
  const DecodedMail m = decodeGolden("dotdot-filename.eml");
  ASSERT_EQ(m.attachments.size(), 6);
  QStringList safe;
  for (const MailAttachment& a : m.attachments) safe << safeFileName(a.name);
  EXPECT_EQ(safe, (QStringList{QStringLiteral("bashrc"), QStringLiteral("passwd"), QStringLiteral("win.ini"),
                               QStringLiteral("evilgnp.exe"), QStringLiteral("添付ファイル"),
                               QStringLiteral("file1.bin")}));

  QTemporaryDir root;
  const QString folder = root.filePath(QStringLiteral("添付フォルダ"));
  ASSERT_TRUE(QDir().mkpath(folder));
  QStringList written;
  QString error;
  EXPECT_EQ(writeAttachments(m.attachments, folder, &written, &error), 1) << error.toStdString();
  EXPECT_EQ(written.size(), 6);
  for (const QString& f : written) EXPECT_EQ(QFileInfo(f).absolutePath(), QDir(folder).absolutePath());
  EXPECT_EQ(QDir(root.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
            QStringList{QStringLiteral("添付フォルダ")});
}

TEST(AttachmentFiles, NamesAreCleanedAndShortened) {
  EXPECT_EQ(safeFileName(QStringLiteral("a\tb\x01" "c:d*e?.txt ")), QStringLiteral("abc_d_e_.txt"));
  EXPECT_EQ(safeFileName(QStringLiteral("　. .")), QStringLiteral("添付ファイル"));
  const QString longName = QString(300, QChar(u'長')) + QStringLiteral(".docx");
  const QString cut = safeFileName(longName);
  EXPECT_LE(cut.toUtf8().size(), 200);
  EXPECT_TRUE(cut.endsWith(QStringLiteral("長.docx")));
}

TEST(AttachmentFiles, AnExistingFileIsNeverReplaced) {
  QTemporaryDir dir;
  {
    QFile old(dir.filePath(QStringLiteral("report.pdf")));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old");
  }
  QStringList written;
  QString error;
  ASSERT_EQ(writeAttachments({{QStringLiteral("report.pdf"), "new1"}, {QStringLiteral("report.pdf"), "new2"}},
                             dir.path(), &written, &error),
            1);
  EXPECT_EQ(written, (QStringList{dir.filePath(QStringLiteral("report (2).pdf")),
                                  dir.filePath(QStringLiteral("report (3).pdf"))}));
  QFile old(dir.filePath(QStringLiteral("report.pdf")));
  ASSERT_TRUE(old.open(QIODevice::ReadOnly));
  EXPECT_EQ(old.readAll(), QByteArray("old"));

  // No folder: a failure, and nothing of the call left behind.
  EXPECT_EQ(writeAttachments({{QStringLiteral("a.txt"), "x"}}, dir.filePath(QStringLiteral("missing")), nullptr, &error),
            -5);
  EXPECT_FALSE(error.isEmpty());
  EXPECT_EQ(writeAttachments({}, dir.path(), nullptr, &error), 0);
}
