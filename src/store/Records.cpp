#include "Records.h"

#include "platform/Text.h"

#include <cstring>

namespace store {

template <int L>
QString FixedRecord<L>::text(Field f) const {
  return text::fromCp932(bytes_.constData() + f.offset, f.width);
}

template <int L>
void FixedRecord<L>::setText(Field f, const QString& s) {
  const QByteArray b = text::fixedField(s, f.width);
  memcpy(bytes_.data() + f.offset, b.constData(), size_t(f.width));
}

template class FixedRecord<MailRecord::kLength>;
template class FixedRecord<AddressRecord::kLength>;

MailRecord& ReceivedMailBuffer() {
  static MailRecord r;
  return r;
}
MailRecord& HeldMailBuffer() {
  static MailRecord r;
  return r;
}
AddressRecord& AddressBuffer() {
  static AddressRecord r;
  return r;
}

}  // namespace store
