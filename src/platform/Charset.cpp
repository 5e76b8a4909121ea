#include "Charset.h"

#include "Handles.h"

#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <map>
#include <string>

namespace charset {
namespace {

// One converter per direction and thread; iconv_open is not free (it loads
// the conversion modules again) and the list fill decodes thousands of fields.
struct Converter {
  handles::Owned<void, iconv_close> cd;
  Converter(const char* to, const char* from) {
    const iconv_t opened = iconv_open(to, from);
    if (opened != reinterpret_cast<iconv_t>(-1)) cd.reset(opened);
  }
  bool valid() const { return cd != nullptr; }
  iconv_t get() const { return cd.get(); }
  void reset() {
    if (cd) iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
  }
};

Converter& encoder() {
  thread_local Converter c("CP932", "UTF-16LE");
  return c;
}
Converter& decoder() {
  thread_local Converter c("UTF-16LE", "CP932");
  return c;
}

}  // namespace

QByteArray toCp932(const QString& s) {
  QByteArray out;
  if (s.isEmpty()) return out;
  // ASCII is the same in CP932: headers and padding need no iconv.
  bool ascii = true;
  for (QChar ch : s)
    if (ch.unicode() >= 0x80) {
      ascii = false;
      break;
    }
  if (ascii) return s.toLatin1();
  Converter& c = encoder();
  if (!c.valid()) return QByteArray(s.size(), '?');
  c.reset();
  const char16_t* data = reinterpret_cast<const char16_t*>(s.utf16());
  size_t inLeft = size_t(s.size()) * 2;
  char* in = const_cast<char*>(reinterpret_cast<const char*>(data));
  out.resize(s.size() * 2 + 4);
  char* outPtr = out.data();
  size_t outLeft = size_t(out.size());
  while (inLeft > 0) {
    size_t r = iconv(c.get(), &in, &inLeft, &outPtr, &outLeft);
    if (r != size_t(-1)) break;
    if (errno == E2BIG) {
      qsizetype used = outPtr - out.data();
      out.resize(out.size() * 2);
      outPtr = out.data() + used;
      outLeft = size_t(out.size() - used);
      continue;
    }
    // EILSEQ or EINVAL: one character without a code (a surrogate pair
    // counts as one), replaced by one '?'.
    if (outLeft < 1) {
      qsizetype used = outPtr - out.data();
      out.resize(out.size() + 16);
      outPtr = out.data() + used;
      outLeft = size_t(out.size() - used);
    }
    *outPtr++ = '?';
    --outLeft;
    char16_t u = *reinterpret_cast<const char16_t*>(in);
    size_t skip = 2;
    if (u >= 0xD800 && u <= 0xDBFF && inLeft >= 4) {
      char16_t lo = *reinterpret_cast<const char16_t*>(in + 2);
      if (lo >= 0xDC00 && lo <= 0xDFFF) skip = 4;
    }
    in += skip;
    inLeft -= skip;
    c.reset();
  }
  out.truncate(outPtr - out.data());
  return out;
}

namespace {

// Decodes to UTF-16 through `cd`; each byte it cannot read becomes one
// U+FFFD and decoding goes on with the next byte (glibc stops at the first).
QString decodeLoop(iconv_t cd, const char* data, qsizetype size, int* badBytes) {
  QString out;
  out.resize(size + 8);  // never more UTF-16 units than bytes, plus room for a state flush
  char* in = const_cast<char*>(data);
  size_t inLeft = size_t(size);
  char* outPtr = reinterpret_cast<char*>(out.data());
  size_t outLeft = size_t(out.size()) * 2;
  int bad = 0;
  auto grow = [&](qsizetype units) {
    const qsizetype used = (outPtr - reinterpret_cast<char*>(out.data())) / 2;
    out.resize(out.size() + units);
    outPtr = reinterpret_cast<char*>(out.data()) + used * 2;
    outLeft = size_t(out.size() - used) * 2;
  };
  while (inLeft > 0) {
    if (iconv(cd, &in, &inLeft, &outPtr, &outLeft) != size_t(-1)) break;
    if (errno == E2BIG) {
      grow(out.size());
      continue;
    }
    // EILSEQ, or EINVAL for a sequence cut off at the end.
    if (outLeft < 2) grow(16);
    const char16_t rep = 0xFFFD;
    memcpy(outPtr, &rep, 2);
    outPtr += 2;
    outLeft -= 2;
    ++in;
    --inLeft;
    ++bad;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  out.truncate(qsizetype((outPtr - reinterpret_cast<char*>(out.data())) / 2));
  if (badBytes) *badBytes = bad;
  return out;
}

}  // namespace

QString fromCp932(const char* data, qsizetype size) {
  if (size <= 0) return QString();
  // Pure ASCII is the common case for padding and headers: no iconv needed.
  qsizetype i = 0;
  while (i < size && static_cast<unsigned char>(data[i]) < 0x80) ++i;
  if (i == size) return QString::fromLatin1(data, size);
  Converter& c = decoder();
  if (!c.valid()) return QString(size, QChar(0xFFFD));
  c.reset();
  return decodeLoop(c.get(), data, size, nullptr);
}

std::optional<QString> decodeWith(const QByteArray& bytes, const char* charset, int* badBytes) {
  // One converter per charset and thread, kept: a mail check decodes every
  // header and part through here. Names come from mail, so only a few are
  // kept; an unknown name is remembered as unknown.
  constexpr size_t kKept = 32;
  thread_local std::map<std::string, Converter> converters;
  auto it = converters.find(charset);
  std::optional<Converter> scratch;
  Converter* c = nullptr;
  if (it != converters.end()) {
    c = &it->second;
  } else if (converters.size() < kKept) {
    c = &converters.try_emplace(charset, "UTF-16LE", charset).first->second;
  } else {
    c = &scratch.emplace("UTF-16LE", charset);
  }
  if (!c->valid()) return std::nullopt;
  c->reset();
  return decodeLoop(c->get(), bytes.constData(), bytes.size(), badBytes);
}

QString fromCp932(const QByteArray& bytes) { return fromCp932(bytes.constData(), bytes.size()); }

// --- text of received mail ---------------------------------------------------

namespace {

bool hasJisEscapes(const QByteArray& b) {
  return b.contains("\x1b$B") || b.contains("\x1b$@") || b.contains("\x1b(I") || b.contains("\x1b$(");
}

QString cp1252(const QByteArray& b) {
  if (auto s = decodeWith(b, "WINDOWS-1252")) return *s;
  return QString::fromLatin1(b);
}

// A C library without the converter: every 8-bit byte counts as unreadable.
QString unreadable(const QByteArray& b, int* errors) {
  int high = 0;
  QString out;
  out.reserve(b.size());
  for (char c : b) {
    const bool ascii = static_cast<unsigned char>(c) < 0x80;
    out.append(ascii ? QChar(c) : QChar(0xFFFD));
    if (!ascii) ++high;
  }
  if (errors) *errors = high;
  return out;
}

QString eucJp(const QByteArray& b, int* errors = nullptr) {
  if (auto s = decodeWith(b, "EUC-JP-MS", errors)) return *s;
  if (auto s = decodeWith(b, "EUC-JP", errors)) return *s;
  return unreadable(b, errors);
}

enum class Family { Guess, Ascii, Jis, Sjis, Euc, Utf8, Western, Chinese, Korean, Other };

Family familyOf(const QByteArray& label) {
  const QByteArray c = label;
  if (c.isEmpty() || c == "unknown" || c == "unknown-8bit" || c == "x-unknown" || c == "default" || c == "charset")
    return Family::Guess;
  if (c == "us-ascii" || c == "ascii" || c == "ansi_x3.4-1968" || c == "us") return Family::Ascii;
  if (c.startsWith("iso-2022-jp") || c.startsWith("iso2022jp") || c == "csiso2022jp" || c == "jis" || c == "x-jis" ||
      c == "jis7")
    return Family::Jis;
  if (c == "shift_jis" || c == "shift-jis" || c == "sjis" || c == "x-sjis" || c == "ms_kanji" || c == "csshiftjis" ||
      c == "cp932" || c == "windows-31j" || c == "ms932" || c == "x-ms-cp932" || c == "sjis-open" ||
      c == "sjis-win" || c == "shift_jisx0213" || c == "shift_jis-2004" || c == "windows-932" || c == "x-sjis-cp932")
    return Family::Sjis;
  if (c == "euc-jp" || c == "eucjp" || c == "x-euc-jp" || c == "x-euc" || c == "cseucpkdfmtjapanese" ||
      c == "euc-jp-ms" || c == "eucjp-ms" || c == "eucjp-win" || c == "euc-jisx0213" || c == "euc-jis-2004" ||
      c == "ujis")
    return Family::Euc;
  if (c == "utf-8" || c == "utf8" || c == "x-utf-8" || c == "unicode-1-1-utf-8") return Family::Utf8;
  // Mail labelled Latin-1 is usually written on Windows: its 0x80–0x9F are
  // the Windows characters (quotes, dashes, the euro).
  if (c == "iso-8859-1" || c == "iso8859-1" || c == "latin1" || c == "latin-1" || c == "l1" || c == "cp819" ||
      c == "iso_8859-1" || c == "windows-1252" || c == "cp1252" || c == "x-ansi")
    return Family::Western;
  if (c == "gb2312" || c == "gbk" || c == "x-gbk" || c == "euc-cn" || c == "cp936" || c == "csgb2312" ||
      c == "gb18030" || c == "x-gb2312")
    return Family::Chinese;
  if (c == "ks_c_5601-1987" || c == "ks_c_5601" || c == "euc-kr" || c == "cp949" || c == "ksc5601" ||
      c == "x-windows-949")
    return Family::Korean;
  return Family::Other;
}

}  // namespace

bool isSevenBit(const QByteArray& b) {
  const char* p = b.constData();
  qsizetype n = b.size();
  for (; n >= 8; p += 8, n -= 8) {
    quint64 w;
    memcpy(&w, p, 8);
    if (w & 0x8080808080808080ULL) return false;
  }
  for (; n > 0; ++p, --n)
    if (static_cast<unsigned char>(*p) >= 0x80) return false;
  return true;
}

bool isSevenBit(QStringView s) {
  const char16_t* p = s.utf16();
  qsizetype n = s.size();
  for (; n >= 4; p += 4, n -= 4) {
    quint64 w;
    memcpy(&w, p, 8);
    if (w & 0xFF80FF80FF80FF80ULL) return false;
  }
  for (; n > 0; ++p, --n)
    if (*p >= 0x80) return false;
  return true;
}

bool isValidUtf8(const QByteArray& b, Utf8End end) {
  const auto* p = reinterpret_cast<const unsigned char*>(b.constData());
  const qsizetype n = b.size();
  qsizetype i = 0;
  while (i < n) {
    unsigned char c = p[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    int len;
    unsigned int cp;
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      cp = c & 0x07;
    } else {
      return false;
    }
    // A character cut off at the very end (a truncated part, a cut field)
    // does not make the rest of the text something else.
    if (i + len > n) {
      if (end == Utf8End::Whole) return false;
      for (qsizetype k = i + 1; k < n; ++k)
        if ((p[k] & 0xC0) != 0x80) return false;
      return true;
    }
    for (int k = 1; k < len; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    if ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
      return false;
    i += len;
  }
  return true;
}

QByteArray iso2022jpToCp932(const QByteArray& in) {
  enum class Mode { Ascii, Kanji, Kana, Other94x94 };
  Mode mode = Mode::Ascii;
  Mode beforeShiftOut = Mode::Ascii;
  QByteArray out;
  out.reserve(in.size());
  const auto* p = reinterpret_cast<const unsigned char*>(in.constData());
  const qsizetype n = in.size();
  auto at = [&](qsizetype k) -> int { return k < n ? p[k] : -1; };
  for (qsizetype i = 0; i < n; ++i) {
    const unsigned char b = p[i];
    if (b == 0x1B) {
      const int c1 = at(i + 1), c2 = at(i + 2), c3 = at(i + 3);
      if (c1 == '(' && (c2 == 'B' || c2 == 'J' || c2 == 'H')) {
        mode = Mode::Ascii;
        i += 2;
      } else if (c1 == '(' && c2 == 'I') {
        mode = Mode::Kana;
        i += 2;
      } else if (c1 == '$' && (c2 == '@' || c2 == 'B')) {
        mode = Mode::Kanji;
        i += 2;
      } else if (c1 == '$' && c2 == '(' && (c3 == 'B' || c3 == 'Q' || c3 == 'O' || c3 == '@')) {
        // JIS X 0213 plane 1 agrees with JIS X 0208 where CP932 has characters.
        mode = Mode::Kanji;
        i += 3;
      } else if (c1 == '$' && c2 == '(' && c3 >= 0x40) {
        mode = Mode::Other94x94;  // JIS X 0212, KS C 5601 …
        i += 3;
      } else if (c1 == '$' && c2 == 'A') {
        mode = Mode::Other94x94;  // GB 2312 (ISO-2022-JP-2)
        i += 2;
      } else if (c1 == '&' && c2 == '@') {
        i += 2;  // announcer of the 1990 revision: nothing to switch
      } else if (c1 == '.' || c1 == 'N') {
        // 96-character sets of ISO-2022-JP-2: not representable, skip the designation.
        i += (c1 == '.' ? 2 : 1);
      } else {
        out.append(char(b));  // a lone ESC: keep it, the text goes on
      }
      continue;
    }
    if (b == 0x0E) {
      beforeShiftOut = mode;
      mode = Mode::Kana;
      continue;
    }
    if (b == 0x0F) {
      mode = beforeShiftOut;
      continue;
    }
    if ((mode == Mode::Kanji || mode == Mode::Other94x94) && b >= 0x21 && b <= 0x7E) {
      const int b2 = at(i + 1);
      if (b2 >= 0x21 && b2 <= 0x7E) {
        ++i;
        if (mode == Mode::Other94x94) {
          out.append("\x81\xAC", 2);  // 〓
          continue;
        }
        int s1 = ((b - 0x21) >> 1) + 0x81;
        if (s1 > 0x9F) s1 += 0x40;
        int s2;
        if (b & 1) {
          s2 = b2 + 0x1F;
          if (s2 >= 0x7F) ++s2;
        } else {
          s2 = b2 + 0x7E;
        }
        out.append(char(s1));
        out.append(char(s2));
        continue;
      }
      out.append(char(b));  // half a character: keep the byte, it decodes as what it is
      continue;
    }
    if (mode == Mode::Kana && b >= 0x21 && b <= 0x5F) {
      out.append(char(b + 0x80));
      continue;
    }
    out.append(char(b));
  }
  return out;
}

QString decodeGuess(const QByteArray& bytes) {
  if (bytes.isEmpty()) return QString();
  if (hasJisEscapes(bytes)) return fromCp932(iso2022jpToCp932(bytes));
  if (isSevenBit(bytes)) return QString::fromLatin1(bytes);
  if (isValidUtf8(bytes)) return QString::fromUtf8(bytes);
  int sjisErrors = 0, eucErrors = 0;
  const QString sjis = decodeWith(bytes, "CP932", &sjisErrors).value_or(QString());
  if (sjis.isNull()) sjisErrors = int(bytes.size());
  const QString euc = eucJp(bytes, &eucErrors);
  int highBytes = 0;
  for (char c : bytes)
    if (static_cast<unsigned char>(c) >= 0x80) ++highBytes;
  if (sjisErrors == 0 && eucErrors == 0) {
    // EUC-JP bytes also read as CP932 half-width katakana; real CP932 text
    // rarely consists of them.
    auto halfKana = [](const QString& s) {
      int k = 0;
      for (QChar ch : s)
        if (ch.unicode() >= 0xFF61 && ch.unicode() <= 0xFF9F) ++k;
      return k;
    };
    return halfKana(sjis) > halfKana(euc) ? euc : sjis;
  }
  // Japanese text with a stray undecodable byte or two still reads best as
  // Japanese; many errors mean it is something else (Western 8-bit text).
  const int best = std::min(sjisErrors, eucErrors);
  if (best * 10 <= highBytes) return sjisErrors <= eucErrors ? sjis : euc;
  return cp1252(bytes);
}

QString decodeCharset(const QByteArray& bytes, const QByteArray& label) {
  QByteArray c = label.trimmed().toLower();
  if (c.size() >= 2 && (c.startsWith('"') || c.startsWith('\''))) c = c.mid(1, c.size() - 2).trimmed();
  switch (familyOf(c)) {
    case Family::Guess:
      return decodeGuess(bytes);
    case Family::Ascii:
      if (isSevenBit(bytes) && !hasJisEscapes(bytes)) return QString::fromLatin1(bytes);
      return decodeGuess(bytes);
    case Family::Jis:
      return fromCp932(iso2022jpToCp932(bytes));
    case Family::Sjis:
      return fromCp932(bytes);
    case Family::Euc:
      return eucJp(bytes);
    case Family::Utf8:
      // Mislabelled mail is common: CP932 text declared as UTF-8 reads
      // better guessed than as a row of U+FFFD.
      if (isValidUtf8(bytes)) return QString::fromUtf8(bytes);
      return decodeGuess(bytes);
    case Family::Western:
      return cp1252(bytes);
    case Family::Chinese:
      if (auto s = decodeWith(bytes, "GB18030")) return *s;
      return decodeGuess(bytes);
    case Family::Korean:
      if (auto s = decodeWith(bytes, "CP949")) return *s;
      return decodeGuess(bytes);
    case Family::Other:
      break;
  }
  // Only plain names reach iconv: "//" suffixes and odd bytes in a label
  // from a mail must not steer the converter.
  bool plain = !c.isEmpty() && c.size() <= 40;
  for (char ch : c)
    if (!((ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9') || ch == '-' || ch == '_' || ch == '.' || ch == ':'))
      plain = false;
  if (plain)
    if (auto s = decodeWith(bytes, c.constData())) return *s;
  return decodeGuess(bytes);
}

}  // namespace charset
