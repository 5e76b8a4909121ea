#pragma once
// The two fixed-length record layouts, byte for byte: text fields are CP932,
// left-aligned and space-padded; integers are 16-bit little-endian.
#include <QByteArray>
#include <QString>
#include <cstdint>

namespace store {

struct Field {
  int offset;
  int width;
};

// A record of L bytes. A fresh record holds NUL bytes, as a field that no
// writer sets keeps whatever the buffer held before.
template <int L>
class FixedRecord {
 public:
  static constexpr int kLength = L;

  FixedRecord() : bytes_(L, '\0') {}
  explicit FixedRecord(const QByteArray& raw) : bytes_(raw.left(L)) {
    if (bytes_.size() < L) bytes_.append(L - bytes_.size(), '\0');
  }

  const QByteArray& bytes() const { return bytes_; }
  void setBytes(const QByteArray& raw) { *this = FixedRecord(raw); }
  char* data() { return bytes_.data(); }

  // The whole field decoded, padding included (readers trim or cut at NUL).
  QString text(Field f) const;
  QByteArray raw(Field f) const { return bytes_.mid(f.offset, f.width); }
  // The text cut to the field's width (never inside a double-byte character)
  // and padded with spaces.
  void setText(Field f, const QString& s);

  int16_t int16At(int offset) const {
    return int16_t(uint16_t(uint8_t(bytes_[offset])) | uint16_t(uint8_t(bytes_[offset + 1])) << 8);
  }
  void setInt16At(int offset, int16_t v) {
    bytes_[offset] = char(uint16_t(v) & 0xFF);
    bytes_[offset + 1] = char(uint16_t(v) >> 8);
  }

 protected:
  QByteArray bytes_;
};

// Mail record, 32284 bytes: received mail and held mail.
class MailRecord : public FixedRecord<32284> {
 public:
  static constexpr Field kSubject{0, 100};
  static constexpr Field kDate{100, 90};      // received mail only
  static constexpr Field kFrom{190, 90};      // sender; the recipient in held mail
  static constexpr Field kBody{280, 32000};
  static constexpr int kCrLfOffset = 32280;
  static constexpr int kFlagOffset = 32282;

  using FixedRecord::FixedRecord;
  QString subject() const { return text(kSubject); }
  QString date() const { return text(kDate); }
  QString from() const { return text(kFrom); }
  QString body() const { return text(kBody); }
  void setSubject(const QString& s) { setText(kSubject, s); }
  void setDate(const QString& s) { setText(kDate, s); }
  void setFrom(const QString& s) { setText(kFrom, s); }
  void setBody(const QString& s) { setText(kBody, s); }
  int16_t liveFlag() const { return int16At(kFlagOffset); }
  void setLiveFlag(int16_t v) { setInt16At(kFlagOffset, v); }
  // What every writer sets before writing: CR LF and the live flag 1.
  void markWritten() {
    bytes_[kCrLfOffset] = '\r';
    bytes_[kCrLfOffset + 1] = '\n';
    setLiveFlag(1);
  }
};

// Address record, 184 bytes.
class AddressRecord : public FixedRecord<184> {
 public:
  static constexpr Field kName{0, 90};
  static constexpr int kCrLfOffset = 90;
  static constexpr int kFlagOffset = 92;
  static constexpr Field kAddress{94, 90};

  using FixedRecord::FixedRecord;
  QString name() const { return text(kName); }
  QString address() const { return text(kAddress); }
  void setName(const QString& s) { setText(kName, s); }
  void setAddress(const QString& s) { setText(kAddress, s); }
  int16_t liveFlag() const { return int16At(kFlagOffset); }
  void setLiveFlag(int16_t v) { setInt16At(kFlagOffset, v); }
  void markWritten() {
    bytes_[kCrLfOffset] = '\r';
    bytes_[kCrLfOffset + 1] = '\n';
    setLiveFlag(1);
  }
};

// The process-wide record buffers, one per file, shared by every window that
// uses that file.
MailRecord& ReceivedMailBuffer();
MailRecord& HeldMailBuffer();
AddressRecord& AddressBuffer();

}  // namespace store
