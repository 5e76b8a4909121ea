// The list of mails stored whose deletion is not confirmed
// (received-uids.txt), as a folder copied from another machine or a crash
// leaves it. The first line of the input names identities the check adds
// ("UID DIGEST ...", a pair each), the rest is the file.
//
// Checks: the list written and read again is the same list and the same
// bytes; every identity added is still known (claimed) after the list was
// written and read back, so that its mail is never stored twice.
#include "FuzzCheck.h"
#include "store/received/ReceivedUids.h"

using namespace fuzzcheck;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Split in = splitFirstLine(bytesOf(data, size), 400);
  const QString account = QStringLiteral("pop.example.jp:110:user");
  received::ReceivedUidList list(QString(), account);
  list.read(in.rest);
  const int before = list.size();
  QList<received::MailIdentity> added;
  const QList<QByteArray> words = in.head.split(' ');
  for (qsizetype i = 0; i + 1 < words.size(); i += 2) {
    const received::MailIdentity id{words[i], words[i + 1]};
    const int n = list.size();
    list.add(id);
    if (list.size() > n) added << id;
  }
  const QByteArray written = list.text();

  received::ReceivedUidList again(QString(), account);
  again.read(written);
  FUZZ_CHECK(again.size() == before + added.size(), QStringLiteral("entries lost: %1 of %2")
                                                         .arg(again.size())
                                                         .arg(before + added.size()));
  FUZZ_CHECK(again.text() == written, QStringLiteral("the list changes when written again"));
  for (const received::MailIdentity& id : added)
    FUZZ_CHECK(again.claim(id), QStringLiteral("mail %1 %2 no longer known after the list was saved")
                                    .arg(QString::fromLatin1(id.uid), QString::fromLatin1(id.digest)));
  return 0;
}
