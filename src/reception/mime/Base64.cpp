#include "Base64.h"

#include <array>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace maillib {

namespace {

// The value of each letter; -1 for every other byte.
constexpr std::array<int8_t, 256> kValue = [] {
  std::array<int8_t, 256> t{};
  for (int8_t& v : t) v = -1;
  const char* letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (int i = 0; i < 64; ++i) t[uint8_t(letters[i])] = int8_t(i);
  return t;
}();

// Decodes 32 letters at `in` into 24 bytes at `out` (writing 32): false,
// with nothing to use written, when one of them is not a letter. The
// letters are told apart by their two halves (a table for each, ANDed: not
// zero for anything else), shifted to their values by a third table, and
// packed four 6-bit values to three bytes.
#if defined(__x86_64__)
__attribute__((target("avx2"))) bool decode32(const char* in, unsigned char* out) {
  const __m256i text = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
  const __m256i lowLookup = _mm256_setr_epi8(0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A,
                                             0x1B, 0x1B, 0x1B, 0x1A, 0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11,
                                             0x11, 0x11, 0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A);
  const __m256i highLookup = _mm256_setr_epi8(0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10,
                                              0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08,
                                              0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10);
  const __m256i shifts = _mm256_setr_epi8(0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0, 0, 16, 19, 4, -65,
                                          -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0);
  const __m256i slash = _mm256_set1_epi8(0x2F);
  // The high bit is kept out of the indexes: a byte of 0x80 or more has a
  // high half of 8 to 15, which no letter has.
  const __m256i high = _mm256_and_si256(_mm256_srli_epi32(text, 4), slash);
  const __m256i low = _mm256_and_si256(text, slash);
  if (!_mm256_testz_si256(_mm256_shuffle_epi8(lowLookup, low), _mm256_shuffle_epi8(highLookup, high))) return false;
  // "/" shares its high half with "+": it takes the table's entry before.
  const __m256i index = _mm256_add_epi8(_mm256_cmpeq_epi8(text, slash), high);
  const __m256i values = _mm256_add_epi8(text, _mm256_shuffle_epi8(shifts, index));
  const __m256i pairs = _mm256_maddubs_epi16(values, _mm256_set1_epi32(0x01400140));
  const __m256i groups = _mm256_madd_epi16(pairs, _mm256_set1_epi32(0x00011000));
  const __m256i bytes = _mm256_shuffle_epi8(groups, _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1,
                                                                     -1, 2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1,
                                                                     -1, -1, -1));
  const __m256i packed = _mm256_permutevar8x32_epi32(bytes, _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), packed);
  return true;
}

bool haveAvx2() {
  static const bool have = __builtin_cpu_supports("avx2");
  return have;
}
#else
bool decode32(const char*, unsigned char*) { return false; }
bool haveAvx2() { return false; }
#endif

qsizetype decode(const char* in, qsizetype n, unsigned char* out, bool wide) {
  unsigned char* o = out;
  uint32_t group = 0;
  int letters = 0;  // of the group under way: it may go on past a line end
  qsizetype i = 0;
  bool tryWide = wide;  // not again on a line where 32 letters were not found
  while (i < n) {
    if (tryWide && letters == 0 && n - i >= 32) {
      if (decode32(in + i, o)) {
        i += 32;
        o += 24;
        continue;
      }
      tryWide = false;
    }
    const unsigned char c = uchar(in[i]);
    if (const int8_t v = kValue[c]; v >= 0) {
      group = group << 6 | uint32_t(v);
      if (++letters == 4) {
        o[0] = uchar(group >> 16);
        o[1] = uchar(group >> 8);
        o[2] = uchar(group);
        o += 3;
        letters = 0;
        group = 0;
      }
      ++i;
    } else if (c == '\n') {
      ++i;
      tryWide = wide;
    } else if (c == '\r' && i + 1 < n && in[i + 1] == '\n') {
      i += 2;
      tryWide = wide;
    } else if (c == '=') {
      // The padding: two letters and "==", or three and "=", then only
      // line ends.
      if (letters == 2 && i + 1 < n && in[i + 1] == '=') {
        *o++ = uchar(group >> 4);
        i += 2;
      } else if (letters == 3) {
        *o++ = uchar(group >> 10);
        *o++ = uchar(group >> 2);
        i += 1;
      } else {
        return -1;
      }
      for (; i < n; ++i) {
        if (in[i] == '\r' && i + 1 < n && in[i + 1] == '\n')
          ++i;
        else if (in[i] != '\n')
          return -1;
      }
      return o - out;
    } else {
      return -1;
    }
  }
  return letters == 0 ? o - out : -1;
}

}  // namespace

qsizetype decodeCleanBase64(const char* in, qsizetype n, unsigned char* out) { return decode(in, n, out, haveAvx2()); }

qsizetype decodeCleanBase64Scalar(const char* in, qsizetype n, unsigned char* out) { return decode(in, n, out, false); }

}  // namespace maillib
