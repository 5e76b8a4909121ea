// The walk over whole mails: which parts are the body, in what order, and
// which are files, with their names and bytes. Golden mails in
// tests/data/mail, named after what they exercise.
#include "platform/Charset.h"
#include "reception/mime/MimeDecode.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace maillib;

namespace {

QByteArray golden(const char* name) {
  QFile f(QStringLiteral(TOMOSHIBI_SOURCE_DIR "/tests/data/mail/") + QString::fromLatin1(name));
  EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << name;
  return f.readAll();
}

DecodedMail decodeGolden(const char* name) { return decodeMail(golden(name)); }

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

// --- structure ------------------------------------------------------------------

TEST(MimeDecode, HtmlOnlyMailBecomesReadableText) {
  const DecodedMail m = decodeGolden("html-only.eml");
  EXPECT_EQ(m.body, crlf(QStringLiteral("こんにちは、HTMLだけのメールです。\n\n・一つ目\n・二つ目 & <三>\nline1\nline2 ①①")));
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
  EXPECT_EQ(charset::decodeCharset(m.attachments[0].data, "iso-2022-jp"),
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

// --- files handed to a writer --------------------------------------------------

namespace {

struct Recorder : AttachmentWriter {
  QStringList names;
  QList<QByteArray> data;
  int refuseAt = -1;  // the n-th file (from 0) is refused
  bool write(const QString& name, const QByteArray& bytes) override {
    names << name;
    data << QByteArray(bytes.constData(), bytes.size());  // a copy: `bytes` do not outlive the call
    return int(names.size()) - 1 != refuseAt;
  }
};

}  // namespace

TEST(MessageWalk, AWriterGetsEachFileInTheMailsOrderAndTheMailKeepsNone) {
  const DecodedMail kept = decodeGolden("attached-mail-fwd-eml.eml");
  Recorder r;
  const DecodedMail m = decodeMail(golden("attached-mail-fwd-eml.eml"), &r);
  EXPECT_TRUE(m.attachments.isEmpty());
  ASSERT_EQ(r.names.size(), kept.attachments.size());
  for (qsizetype i = 0; i < r.names.size(); ++i) {
    EXPECT_EQ(r.names[i], kept.attachments[i].name);
    EXPECT_EQ(r.data[i], kept.attachments[i].data);
  }
  EXPECT_EQ(m.body, kept.body);
  EXPECT_EQ(m.subject, kept.subject);
}

TEST(MessageWalk, AWriterThatRefusesAFileGetsNoMore) {
  Recorder r;
  r.refuseAt = 1;
  const DecodedMail m = decodeMail(golden("dotdot-filename.eml"), &r);
  EXPECT_EQ(r.names.size(), 2);
  EXPECT_TRUE(m.attachments.isEmpty());
  // The text is read all the same.
  EXPECT_EQ(m.body, decodeGolden("dotdot-filename.eml").body);
}
