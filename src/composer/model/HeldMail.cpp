#include "HeldMail.h"

#include "platform/Paths.h"
#include "platform/Text.h"

#include <QCryptographicHash>

namespace heldmail {
namespace {

constexpr int L = store::MailRecord::kLength;

// Characters that would be stored as "?" for want of a Shift-JIS code.
int unstorable(const QString& s) {
  return int(text::toCp932(s).count('?') - s.count(u'?'));
}

QString storedBody(const QString& body) { return text::trimSpaces(text::toCrLf(body)); }

}  // namespace

QByteArray fingerprint(const QByteArray& record) { return QCryptographicHash::hash(record, QCryptographicHash::Sha1); }

QString heldFile() { return paths::resolve(paths::kHeldMailFile); }
QString heldTemp() { return paths::resolve(paths::kHeldMailTemp); }

void fillBuffer(const Mail& mail) {
  store::MailRecord& r = store::HeldMailBuffer();
  r.setSubject(text::trimSpaces(mail.subject));
  r.setFrom(text::trimSpaces(mail.to));
  r.setBody(storedBody(mail.body));
  r.markWritten();
}

Mail fromRecord(const store::MailRecord& record) {
  Mail m;
  m.to = text::trimSpaces(record.from().left(90));
  m.subject = text::trimSpaces(record.subject().left(100));
  // The whole field: the body was stored whole and comes back whole.
  m.body = text::trimSpaces(record.body());
  m.body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return m;
}

QStringList losses(const Mail& mail) {
  QStringList out;
  auto tooLong = [&](const QString& s, store::Field f, const QString& box) {
    if (text::toCp932(s).size() > f.width)
      out << QStringLiteral("%1が長すぎるため、%2バイト（全角%3文字）を超える部分は保存されません。")
                 .arg(box)
                 .arg(f.width)
                 .arg(f.width / 2);
  };
  const QString to = text::trimSpaces(mail.to);
  const QString subject = text::trimSpaces(mail.subject);
  const QString body = storedBody(mail.body);
  tooLong(to, store::MailRecord::kFrom, QStringLiteral("宛先"));
  tooLong(subject, store::MailRecord::kSubject, QStringLiteral("件名"));
  tooLong(body, store::MailRecord::kBody, QStringLiteral("本文"));
  if (const int n = unstorable(to) + unstorable(subject) + unstorable(body); n > 0)
    out << QStringLiteral("保存できない文字が%1文字あり、「?」に置き換わります。").arg(n);
  return out;
}

Listing list() {
  Listing out;
  store::RecordFile f(heldFile(), L);
  if (!f.open()) {
    out.failure = f.failure();
    return out;
  }
  out.opened = true;
  const int count = f.recordCount();
  QByteArray raw, last;
  for (int n = 1; n <= count; ++n) {
    const store::ReadResult r = f.read(n, raw);
    if (r != store::ReadResult::Ok) {
      if (r == store::ReadResult::Error) out.failure = f.failure();
      break;
    }
    out.subjects << text::fromCp932(raw.mid(store::MailRecord::kSubject.offset, store::MailRecord::kSubject.width));
    out.numbers << int16_t(n);
    out.fingerprints << fingerprint(raw);
    last = raw;
  }
  // The buffer ends on the last record, as a reading loop through it leaves it.
  if (!out.numbers.isEmpty()) store::HeldMailBuffer().setBytes(last);
  return out;
}

int nextNumber(store::StoreFailure* failure) {
  store::RecordFile f(heldFile(), L);
  if (!f.open()) {
    if (failure) *failure = f.failure();
    return 0;
  }
  return f.nextRecordNumber();
}

store::StoreResult writeBuffer(int n) {
  store::StoreResult res;
  store::RecordFile f(heldFile(), L);
  if (!f.open() || !f.write(n, store::HeldMailBuffer().bytes()) || !f.sync()) {
    res.failure = f.failure();
    return res;
  }
  res.ok = true;
  res.recordNumber = n;
  return res;
}

bool read(int n, store::StoreFailure* failure) {
  store::RecordFile f(heldFile(), L);
  QByteArray raw;
  if (!f.open() || f.read(n, raw) != store::ReadResult::Ok) {
    if (failure) *failure = f.failure();
    return false;
  }
  store::HeldMailBuffer().setBytes(raw);
  return true;
}

bool fingerprintAt(int n, QByteArray& out) {
  store::RecordFile f(heldFile(), L);
  QByteArray raw;
  if (!f.open() || f.read(n, raw) != store::ReadResult::Ok) return false;
  out = fingerprint(raw);
  return true;
}

store::StoreResult remove(int n) {
  return store::deleteRecords(heldFile(), heldTemp(), L, store::MailRecord::kFlagOffset, {n});
}

}  // namespace heldmail
