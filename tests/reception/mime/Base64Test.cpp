// The fast base64 of attached files: on the text mail programs write it
// takes, the same bytes as GMime's decoder, with and without the vector
// instructions; anything else left to GMime.
// GLib's headers name a field "signals": they come before Qt's.
#include <gmime/gmime.h>

#include "reception/mime/Base64.h"

#include <QByteArray>
#include <QList>
#include <QRandomGenerator>
#include <gtest/gtest.h>

using maillib::base64DecodedRoom;
using maillib::decodeCleanBase64;
using maillib::decodeCleanBase64Scalar;

namespace {

// What each decoder makes of `text`: its bytes, or a null array when it
// leaves the text to GMime.
QByteArray fast(const QByteArray& text, bool vector = true) {
  QByteArray out(base64DecodedRoom(text.size()), '\0');
  const qsizetype n = (vector ? decodeCleanBase64 : decodeCleanBase64Scalar)(
      text.constData(), text.size(), reinterpret_cast<unsigned char*>(out.data()));
  if (n < 0) return QByteArray();
  out.truncate(n);
  return out.isNull() ? QByteArray("") : out;
}

QByteArray gmime(const QByteArray& text) {
  QByteArray out(text.size() + 3, '\0');
  int state = 0;
  guint32 save = 0;
  const size_t n = g_mime_encoding_base64_decode_step(reinterpret_cast<const unsigned char*>(text.constData()),
                                                     size_t(text.size()), reinterpret_cast<unsigned char*>(out.data()),
                                                     &state, &save);
  out.truncate(qsizetype(n));
  return out;
}

// `bytes` as a mail program writes them: lines of 76 letters, ended by `eol`.
QByteArray wrapped(const QByteArray& bytes, const QByteArray& eol = "\r\n", int line = 76) {
  const QByteArray b64 = bytes.toBase64();
  QByteArray out;
  for (qsizetype i = 0; i < b64.size(); i += line) out += b64.mid(i, line) + eol;
  return out;
}

QByteArray randomBytes(QRandomGenerator& rng, int n) {
  QByteArray b(n, '\0');
  for (char& c : b) c = char(rng.bounded(256));
  return b;
}

}  // namespace

TEST(CleanBase64, DecodesWhatMailProgramsWriteAsGMimeDoes) {
  QRandomGenerator rng(7);
  // Every length up to a few lines (each padding, each split of the last
  // group), then long files; lines of 76 and of other lengths, CR LF and LF.
  QList<int> lengths;
  for (int n = 0; n <= 300; ++n) lengths << n;
  lengths << 4095 << 4096 << 65537 << 1000003;
  for (const int n : lengths) {
    const QByteArray bytes = randomBytes(rng, n);
    for (const auto& [eol, line] : QList<std::pair<QByteArray, int>>{{"\r\n", 76}, {"\n", 76}, {"\r\n", 64}}) {
      const QByteArray text = wrapped(bytes, eol, line);
      ASSERT_EQ(fast(text), bytes) << n << " bytes, lines of " << line;
      ASSERT_EQ(fast(text, false), bytes) << n << " bytes, lines of " << line;
      ASSERT_EQ(gmime(text), bytes) << n;
    }
    // Lines of 73 letters cut groups, and at times the padding, which is
    // then GMime's to read.
    const QByteArray text = wrapped(bytes, "\r\n", 73);
    ASSERT_EQ(fast(text), fast(text, false)) << n;
    const bool paddingCut = text.endsWith("=\r\n=\r\n");
    ASSERT_EQ(fast(text).isNull(), paddingCut) << n;
    if (!paddingCut) ASSERT_EQ(fast(text), bytes) << n;
  }
  // One long line, and no line end at the end.
  const QByteArray bytes = randomBytes(rng, 10000);
  EXPECT_EQ(fast(bytes.toBase64()), bytes);
}

TEST(CleanBase64, LeavesEverythingElseToGMime) {
  for (const QByteArray& t : QList<QByteArray>{
           "QQ",            // a last group without its padding
           "QQ=",           // half the padding
           "Q===",          // padding after one letter
           "QQ==QQ==",      // text after the padding
           "QQ== x",        // a space after the padding
           "QQ=\r\n=",      // the padding cut by a line end
           "QUJD\rQUJD",    // a bare CR
           "QUJD\r",        // a bare CR at the end
           "QQ==\r",        // a bare CR after the padding
           "QU JD",         // a space between letters
           "QUJD\tQUJD",    // a tab
           "QU-_",          // the URL-safe letters
           "QUJ\x80",       // a byte above ASCII
           QByteArray("QUJD\0QUJD", 9),  // a NUL
       }) {
    EXPECT_TRUE(fast(t).isNull()) << t.toPercentEncoding().constData();
    EXPECT_TRUE(fast(t, false).isNull()) << t.toPercentEncoding().constData();
  }
}

TEST(CleanBase64, AStrayByteAnywhereInA32LetterBlockIsFound) {
  // The vector decoder takes 32 letters at once: a byte that is not a
  // letter, at any place of the block and of any kind, must send the whole
  // text to GMime.
  QRandomGenerator rng(11);
  const QByteArray good = randomBytes(rng, 60).toBase64();  // 80 letters, no padding
  ASSERT_EQ(good.size(), 80);
  ASSERT_EQ(fast(good), QByteArray::fromBase64(good));
  for (int at = 0; at < good.size(); ++at) {
    for (int byte = 0; byte < 256; ++byte) {
      if (QByteArray("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/").contains(char(byte))) continue;
      // "=" in the last place is the padding of a group of three.
      if (byte == '=' && at == good.size() - 1) continue;
      QByteArray bad = good;
      bad[at] = char(byte);
      ASSERT_TRUE(fast(bad).isNull()) << "byte " << byte << " at " << at;
    }
  }
}

TEST(CleanBase64, WhatItTakesFromAnyMixOfLettersLineEndsAndPaddingIsGMimesReading) {
  QRandomGenerator rng(3);
  const QByteArray alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  int taken = 0;
  for (int round = 0; round < 20000; ++round) {
    QByteArray text;
    const int n = int(rng.bounded(120));
    for (int i = 0; i < n; ++i) {
      const quint32 pick = rng.bounded(100);
      text += pick < 88 ? alphabet[rng.bounded(64)] : pick < 93 ? '\n' : pick < 97 ? '\r' : '=';
    }
    const QByteArray mine = fast(text), scalar = fast(text, false);
    ASSERT_EQ(mine.isNull(), scalar.isNull()) << text.constData();
    ASSERT_EQ(mine, scalar) << text.constData();
    if (mine.isNull()) continue;
    ++taken;
    ASSERT_EQ(mine, gmime(text)) << text.toPercentEncoding().constData();
  }
  EXPECT_GT(taken, 300);
}
