// The ledger of mails stored here and left on the server
// (left-on-server.txt), as a folder copied from another machine or a hand
// edit leaves it.
//
// Checks: what is read is written and read back as the same entries and
// the same bytes, with nothing skipped; every line is either an entry or
// counted as skipped (a check must never forget a mail it left, nor take a
// torn line for one); an account read is text with whole surrogate pairs.
#include "FuzzCheck.h"
#include "store/received/LeftOnServer.h"

using namespace fuzzcheck;

namespace {

// Lines that are neither empty nor a comment: each is an entry or skipped.
int dataLines(const QByteArray& bytes) {
  int n = 0;
  for (QByteArray line : bytes.split('\n')) {
    if (line.endsWith('\r')) line.chop(1);
    if (!line.isEmpty() && !line.startsWith('#')) ++n;
  }
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray bytes = bytesOf(data, size);
  const received::LeftLedger ledger = received::parseLeftLedger(bytes);
  FUZZ_CHECK(ledger.entries.size() + ledger.skipped == dataLines(bytes),
             QStringLiteral("%1 entries and %2 skipped of %3 lines")
                 .arg(ledger.entries.size())
                 .arg(ledger.skipped)
                 .arg(dataLines(bytes)));
  for (const received::LeftEntry& e : ledger.entries) {
    checkText(e.account, "the account of a ledger line");
    FUZZ_CHECK(!e.account.isEmpty() && e.stored.isValid() && e.size >= 0 && !e.id.digest.isEmpty(),
               QStringLiteral("an entry read that cannot be one"));
  }

  const QByteArray written = received::leftLedgerText(ledger.entries);
  const received::LeftLedger again = received::parseLeftLedger(written);
  FUZZ_CHECK(again.skipped == 0, QStringLiteral("%1 lines written cannot be read").arg(again.skipped));
  FUZZ_CHECK(again.entries == ledger.entries, QStringLiteral("the entries change when written and read"));
  FUZZ_CHECK(received::leftLedgerText(again.entries) == written, QStringLiteral("the file changes when written again"));
  return 0;
}
