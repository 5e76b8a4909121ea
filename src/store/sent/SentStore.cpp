#include "SentStore.h"

#include "platform/HeaderScan.h"
#include "platform/Paths.h"
#include "platform/TestHooks.h"
#include "platform/Text.h"

namespace sent {

namespace {

QString inData(const char* name) { return paths::resolve(QStringLiteral("★MAilData/") + QLatin1String(name)); }

}  // namespace

received::MailFiles sentFiles() {
  return {inData("sent.data"),           inData("SENT.TMP"),          inData("sent-originals.data"),
          inData("sent-originals.txt"),  inData("sent-originals.tmp"), inData("sent-delete-journal.txt"),
          inData("sent-journal.txt"),    inData("sent.lock")};
}

store::MailRecord sentRecord(const SentMail& mail) {
  store::MailRecord r;
  r.setSubject(mail.subject);
  r.setDate(mail.date);
  r.setFrom(mail.recipient);
  r.setBody(mail.body);
  r.markWritten();
  return r;
}

store::MailRecord sentRecord(const QByteArray& message, const QString& recipient, const QString& subject,
                             const QString& body) {
  const QByteArray date = headerscan::fieldValue(headerscan::headerBlock(message), "Date");
  return sentRecord({text::trimSpaces(recipient), text::trimSpaces(subject), body, QString::fromLatin1(date)});
}

received::Fault keep(const QByteArray& message, const store::MailRecord& record) {
  received::ReceivedStore s(sentFiles());
  received::Fault f = s.lock(true);
  // What a keep cut off left goes first: its half mail is cut back.
  if (!f) f = s.recover();
  if (f) return f;
  qint64 at = 0;
  f = s.appendOriginal(message, &at);
  if (f) return f;  // the journal cuts back whatever went to the disk
  TOMOSHIBI_KILL_POINT("sent-original");
  int number = 0;
  f = s.appendRecord(record.bytes(), at, message.size(), QByteArray(), &number);
  TOMOSHIBI_KILL_POINT("sent-record");
  if (!f) f = s.commit({});
  if (f) {
    s.rollBack();
    return f;
  }
  TOMOSHIBI_KILL_POINT("sent-commit");
  // An uncleared journal holds only this committed mail: the next keep
  // clears it.
  s.finish();
  return {};
}

received::Fault recover() {
  received::ReceivedStore s(sentFiles());
  received::Fault f = s.lock(true);
  if (!f) f = s.recover();
  return f;
}

QList<received::OriginalEntry> parseSentIndex(const QByteArray& text) { return received::parseIndex(text); }

received::Original original(int number) { return received::ReceivedStore::original(number, sentFiles()); }

received::Removal remove(const QList<int>& numbers) { return received::ReceivedStore::remove(numbers, sentFiles()); }

}  // namespace sent
