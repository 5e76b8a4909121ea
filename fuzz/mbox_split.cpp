// Mailbox files brought in from other programs, taken apart into mails.
// The first byte of the input chooses the sizes of the pieces the file is
// fed in (as it is read from a disk in blocks) and the size limit; the rest
// is the file.
//
// Checks: the pieces' sizes never change the mails; a mail is never longer
// than what was given; too large and stray parts carry no bytes; the mails
// written out again as this program exports them are read back the same
// (the export and the import undo each other, quoting and all; the
// export ends every line with LF).
#include "FuzzCheck.h"
#include "reception/MailExport.h"
#include "reception/import/MboxSplit.h"

using namespace fuzzcheck;
using mailimport::SplitMail;

namespace {

bool same(const QList<SplitMail>& a, const QList<SplitMail>& b) {
  if (a.size() != b.size()) return false;
  for (qsizetype i = 0; i < a.size(); ++i)
    if (a[i].bytes != b[i].bytes || a[i].tooLarge != b[i].tooLarge || a[i].stray != b[i].stray) return false;
  return true;
}

// A mail as the export writes its lines: each ended by LF, the one CR
// before its end (CR LF, or a CR cut off from its LF at the mail's end)
// dropped.
QByteArray exportLines(const QByteArray& mail) {
  QByteArray out;
  for (qsizetype at = 0; at < mail.size();) {
    const qsizetype nl = mail.indexOf('\n', at);
    const qsizetype next = nl < 0 ? mail.size() : nl + 1;
    QByteArray line = mail.mid(at, (nl < 0 ? mail.size() : nl) - at);
    if (line.endsWith('\r')) line.chop(1);
    out += line + '\n';
    at = next;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const unsigned choice = data[0];
  const QByteArray file = bytesOf(data + 1, size - 1);
  const qint64 limit = (choice & 0x80) ? 64 + (choice & 0x3F) * 16 : mailimport::kMaxMail;

  const QList<SplitMail> whole = mailimport::splitMbox(file, limit);
  mailimport::MboxSplitter splitter(limit);
  QList<SplitMail> pieces;
  const qsizetype step = 1 + (choice & 0x3F);
  for (qsizetype at = 0; at < file.size(); at += step) {
    splitter.feed(QByteArrayView(file).sliced(at, std::min(step, file.size() - at)));
    while (splitter.hasMail()) pieces << splitter.take();
  }
  splitter.finish();
  while (splitter.hasMail()) pieces << splitter.take();
  FUZZ_CHECK(same(whole, pieces), QStringLiteral("the file read in pieces of %1 gives other mails").arg(step));

  QByteArray exported;
  QList<QByteArray> kept;
  for (const SplitMail& m : whole) {
    FUZZ_CHECK(m.bytes.size() <= file.size(), QStringLiteral("a mail longer than the file"));
    if (m.tooLarge || m.stray) FUZZ_CHECK(m.bytes.isEmpty(), QStringLiteral("bytes kept of a part that is no mail"));
    const QByteArray lines = exportLines(m.bytes);
    // Line breaks alone are no mail to bring back.
    if (m.tooLarge || m.stray || lines.count('\n') == lines.size()) continue;
    kept << lines;
    exported += reception::mboxrdEntry(m.bytes, 1700000000);
  }
  QList<QByteArray> back;
  for (const SplitMail& m : mailimport::splitMbox(exported)) {
    FUZZ_CHECK(!m.tooLarge && !m.stray, QStringLiteral("an exported file read as no mail"));
    back << m.bytes;
  }
  FUZZ_CHECK(back == kept, QStringLiteral("%1 mails exported, %2 read back, or read back changed")
                               .arg(kept.size())
                               .arg(back.size()));
  return 0;
}
