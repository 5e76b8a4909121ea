#include "MailSearch.h"

#include "platform/Handles.h"
#include "platform/Text.h"
#include "store/Records.h"

#include <QFile>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <thread>
#include <vector>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace viewer {

namespace {

using store::MailRecord;

// One character as the search compares it, appended to `out`.
void appendKey(char32_t c, QString& out) {
  const QString decomposed = QString::fromUcs4(&c, 1).normalized(QString::NormalizationForm_KD);
  for (QChar ch : decomposed) {
    char16_t u = ch.unicode();
    if ((u >= 0x30A1 && u <= 0x30F6) || u == 0x30FD)
      u = char16_t(u - 0x60);  // katakana as hiragana
    else if (u == 0x301C)
      u = u'~';  // the wave dash, as ～ reads
    else if (u == 0x2212 || u == 0x2010 || u == 0x2011)
      u = u'-';  // the minus sign and hyphens, as － reads
    else
      u = QChar(u).toCaseFolded().unicode();
    out += QChar(u);
  }
}

// The key of every CP932 code, so that a record's bytes are decoded and
// folded in one pass: decoding 1 GB through iconv and normalising it would
// take seconds. An entry holds the key's length (low 8 bits) and either its
// one character or its offset in `pool_`; 0 is no character. The pairs'
// entries are packed by lead and trail (45 KB) to stay in the processor's
// cache.
class FoldTable {
 public:
  static constexpr int kTrails = 0xFC - 0x40 + 1;

  FoldTable() {
    int leads = 0;
    for (int b = 0; b < 256; ++b) {
      lead_[b] = -1;
      if (text::isCp932Lead(uchar(b))) {
        lead_[b] = leads++;
        single_[b] = kReplacement;  // a lead byte with no trail after it
        continue;
      }
      const char c = char(b);
      single_[b] = entryFor(text::fromCp932(&c, 1));
    }
    pairs_.assign(size_t(leads) * kTrails, 0);
    for (int lead = 0; lead < 256; ++lead) {
      if (lead_[lead] < 0) continue;
      for (int trail = 0x40; trail <= 0xFC; ++trail) {
        const char pair[2] = {char(lead), char(trail)};
        const QString s = text::fromCp932(pair, 2);
        if (s.size() == 1 && s[0] != QChar(0xFFFD)) pairs_[size_t(lead_[lead]) * kTrails + size_t(trail - 0x40)] = entryFor(s);
      }
    }
  }

  // Folds `n` bytes of CP932 into `out`, which has room for maxUnits(n).
  qsizetype fold(const uchar* p, qsizetype n, char16_t* out) const {
    char16_t* o = out;
    qsizetype i = 0;
    while (i < n) {
      const uchar b = p[i];
      uint32_t e = 0;
      const int lead = lead_[b];
      if (lead >= 0 && i + 1 < n) {
        const unsigned trail = unsigned(p[i + 1]) - 0x40u;
        if (trail < unsigned(kTrails)) e = pairs_[size_t(lead) * kTrails + trail];
      }
      if (e != 0) {
        i += 2;
      } else {
        // A byte on its own; a lead byte here starts no character and
        // reads as one U+FFFD, as the decoder reads it.
        e = single_[b];
        ++i;
      }
      const uint32_t length = e & 0xFF;
      if (length == 1) {
        *o++ = char16_t(e >> 8);
      } else {
        const char16_t* k = pool_.data() + (e >> 8);
        for (uint32_t j = 0; j < length; ++j) *o++ = k[j];
      }
    }
    return o - out;
  }

  qsizetype maxUnits(qsizetype bytes) const { return bytes * maxPerByte_; }

 private:
  static constexpr uint32_t kReplacement = 0xFFFDu << 8 | 1;

  uint32_t entryFor(const QString& decoded) {
    QString key;
    for (char32_t c : decoded.toUcs4()) appendKey(c, key);
    maxPerByte_ = std::max(maxPerByte_, key.size());
    if (key.size() == 1) return uint32_t(key[0].unicode()) << 8 | 1;
    const uint32_t entry = uint32_t(pool_.size()) << 8 | uint32_t(key.size());
    for (QChar ch : key) pool_.push_back(ch.unicode());
    return entry;
  }

  int lead_[256];
  uint32_t single_[256];
  std::vector<uint32_t> pairs_;
  std::vector<char16_t> pool_;
  qsizetype maxPerByte_ = 1;
};

const FoldTable& foldTable() {
  static const FoldTable table;
  return table;
}

// The field's length without its padding. Most of a body field is
// padding, so it is passed over 64 bytes at a time.
qsizetype textLength(const char* p, qsizetype n) {
#ifdef __SSE2__
  const __m128i spaces = _mm_set1_epi8(' ');
  while (n >= 64) {
    const char* q = p + n - 64;
    const __m128i a = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q)), spaces);
    const __m128i b = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 16)), spaces);
    const __m128i c = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 32)), spaces);
    const __m128i d = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 48)), spaces);
    if (_mm_movemask_epi8(_mm_and_si128(_mm_and_si128(a, b), _mm_and_si128(c, d))) != 0xFFFF) break;
    n -= 64;
  }
#else
  constexpr uint64_t kSpaces = 0x2020202020202020ull;
  while (n >= 8) {
    uint64_t w;
    std::memcpy(&w, p + n - 8, 8);
    if (w != kSpaces) break;
    n -= 8;
  }
#endif
  while (n > 0 && p[n - 1] == ' ') --n;
  return n;
}

}  // namespace

QString searchKey(QStringView s) {
  QString key;
  for (char32_t c : s.toUcs4()) appendKey(c, key);
  return key;
}

MailMatcher::MailMatcher(const QString& text)
    : key_(searchKey(QStringView(text).trimmed())), matcher_(key_, Qt::CaseSensitive) {}

bool MailMatcher::fieldHolds(const char* field, int width) const {
  const qsizetype n = textLength(field, width);
  if (n == 0) return false;
  const FoldTable& t = foldTable();
  const qsizetype room = t.maxUnits(n);
  if (folded_.size() < room) folded_.resize(room);
  char16_t* out = reinterpret_cast<char16_t*>(folded_.data());
  const qsizetype units = t.fold(reinterpret_cast<const uchar*>(field), n, out);
  return matcher_.indexIn(QStringView(out, units)) >= 0;
}

bool MailMatcher::matches(const char* record) const {
  if (key_.isEmpty()) return false;
  return fieldHolds(record + MailRecord::kSubject.offset, MailRecord::kSubject.width) ||
         fieldHolds(record + MailRecord::kFrom.offset, MailRecord::kFrom.width) ||
         fieldHolds(record + MailRecord::kBody.offset, MailRecord::kBody.width);
}

namespace {

constexpr qsizetype kRecordLength = MailRecord::kLength;

// Reads `count` records from record `row` + 1 into `buffer`.
bool readRows(int fd, int row, int count, QByteArray& buffer, QString* error) {
  const qsizetype want = count * kRecordLength;
  qsizetype got = 0;
  while (got < want) {
    const ssize_t r = ::pread(fd, buffer.data() + got, size_t(want - got), off_t(row) * kRecordLength + got);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) {
      *error = r < 0 ? QString::fromLocal8Bit(std::strerror(errno))
                     : QStringLiteral("受信メールのファイルが途中で短くなりました。");
      return false;
    }
    got += r;
  }
  return true;
}

// One share of a search, in the order the rows are searched: step k is
// row (first + k) mod rows. A share stops at its first match, or once an
// earlier step than its own has matched in another share.
struct Share {
  int begin = 0, end = 0;
  int found = -1;     // the step that matched
  int failedAt = -1;  // the step that could not be read
  QString error;
};

void searchShare(int fd, const QString& text, int rows, int first, std::atomic<int>& best, Share& share) {
  // A few records at a time: few calls, and the bytes still in the
  // processor's cache when they are searched.
  constexpr int kBatch = 8;
  const MailMatcher matcher(text);
  QByteArray buffer(kBatch * kRecordLength, Qt::Uninitialized);
  int k = share.begin;
  while (k < share.end && k < best.load(std::memory_order_relaxed)) {
    const int row = (first + k) % rows;
    const int count = std::min({kBatch, share.end - k, rows - row});
    if (!readRows(fd, row, count, buffer, &share.error)) {
      share.failedAt = k;
      return;
    }
    for (int j = 0; j < count; ++j) {
      if (!matcher.matches(buffer.constData() + j * kRecordLength)) continue;
      share.found = k + j;
      int seen = best.load();
      while (share.found < seen && !best.compare_exchange_weak(seen, share.found)) {
      }
      return;
    }
    k += count;
  }
}

}  // namespace

MailSearchResult findMailRow(const QString& file, int rows, int current, const QString& text) {
  MailSearchResult result;
  if (MailMatcher(text).isEmpty() || rows <= 0) return result;
  const handles::Fd fd(::open(QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC));
  struct stat st {};
  if (!fd.valid() || ::fstat(fd.get(), &st) != 0) {
    result.error = QString::fromLocal8Bit(std::strerror(errno));
    return result;
  }
  // Rows the file no longer holds whole are not searched.
  rows = int(std::min<qint64>(rows, st.st_size / kRecordLength));
  if (rows <= 0) return result;
  if (current < -1 || current >= rows) current = -1;
  const int first = current + 1;
  ::posix_fadvise(fd.get(), 0, off_t(rows) * kRecordLength, POSIX_FADV_SEQUENTIAL);

  // A long list is searched in shares side by side, one per processor;
  // the answer is the same as searching it in order.
  const int shares = rows < 1024 ? 1 : std::clamp(QThread::idealThreadCount(), 1, 4);
  std::vector<Share> parts(static_cast<size_t>(shares));
  for (int i = 0; i < shares; ++i) {
    parts[size_t(i)].begin = int(qint64(rows) * i / shares);
    parts[size_t(i)].end = int(qint64(rows) * (i + 1) / shares);
  }
  std::atomic<int> best{rows};
  std::vector<std::thread> workers;
  for (int i = 1; i < shares; ++i)
    workers.emplace_back(searchShare, fd.get(), std::cref(text), rows, first, std::ref(best), std::ref(parts[size_t(i)]));
  searchShare(fd.get(), text, rows, first, best, parts[0]);
  for (std::thread& w : workers) w.join();

  // The earliest step that matched, unless a step before it could not be read.
  for (const Share& share : parts) {
    if (share.failedAt >= 0) {
      result.error = share.error;
      return result;
    }
    if (share.found >= 0) {
      result.row = (first + share.found) % rows;
      return result;
    }
  }
  return result;
}

}  // namespace viewer
