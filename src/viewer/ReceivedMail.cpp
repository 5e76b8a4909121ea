#include "ReceivedMail.h"

#include "composer/model/ReplyText.h"
#include "platform/Paths.h"
#include "platform/ui/MsgBox.h"
#include "store/RecordFile.h"
#include "store/received/Originals.h"
#include "viewer/MailListModel.h"
#include "viewer/core/HeadIndex.h"

#include <QDir>
#include <cstring>
#include <fcntl.h>

namespace viewer {

namespace {
void scanHeads(store::RecordFile& f, int count, MailListScan& s);
}  // namespace

MailListScan scanReceivedMail() { return scanRecordsOf(paths::resolve(paths::kReceivedMailFile)); }

MailListScan scanRecordsOf(const QString& path) {
  MailListScan s;
  constexpr int L = store::MailRecord::kLength;
  constexpr int kHead = MailListModel::kHeadLength;
  store::RecordFile f(path, L);
  if (!f.open()) {
    s.folderMissing = dataFolderMissing();
    s.failure = f.failure();
    return s;
  }
  s.opened = true;
  s.recordsInFile = f.byteLength() / L;
  const int count = f.recordCount();
  const std::optional<RecordFileStamp> stamp = stampOf(f.fd());
  std::optional<QByteArray> indexed;
  if (stamp && stamp->length == f.byteLength()) indexed = readHeadIndex(path, *stamp, kHead, count);
  if (indexed) {
    s.heads = std::move(*indexed);
    s.rows = count;
  } else {
    scanHeads(f, count, s);
    // Made again only from a scan of the whole file, unchanged meanwhile.
    if (!s.failure && s.rows == count && stamp && stampOf(f.fd()) == stamp)
      writeHeadIndex(path, *stamp, kHead, s.heads);
  }
  if (s.rows > 0) {
    QByteArray whole;
    if (f.read(s.rows, whole) == store::ReadResult::Ok) {
      s.last.setBytes(whole);
    } else {
      // The last head was read a moment ago; keep it with an empty body.
      QByteArray head = s.heads.right(kHead);
      head.append(L - kHead, ' ');
      s.last.setBytes(head);
      if (!s.failure) s.failure = f.failure();
    }
  }
  return s;
}

namespace {

// The heads of records 1 to `count`, read from the records themselves.
void scanHeads(store::RecordFile& f, int count, MailListScan& s) {
  constexpr int L = store::MailRecord::kLength;
  constexpr int kHead = MailListModel::kHeadLength;
  // Only a few hundred bytes of every 32 KB record are wanted. Reading ahead
  // would pull the whole file through the cache; instead every head is asked
  // for at once, so a disk can fetch them side by side rather than one by one.
  ::posix_fadvise(f.fd(), 0, 0, POSIX_FADV_RANDOM);
  for (int n = 1; n <= count; ++n) ::posix_fadvise(f.fd(), off_t(n - 1) * L, kHead, POSIX_FADV_WILLNEED);
  s.heads.resize(qsizetype(count) * kHead);
  QByteArray part;
  for (int n = 1; n <= count; ++n) {
    const store::ReadResult r = f.readPart(n, 0, kHead, part);
    if (r != store::ReadResult::Ok) {
      // The file shrank or a read failed: list what was read.
      if (r == store::ReadResult::Error) s.failure = f.failure();
      break;
    }
    std::memcpy(s.heads.data() + qsizetype(n - 1) * kHead, part.constData(), kHead);
    s.rows = n;
  }
  s.heads.truncate(qsizetype(s.rows) * kHead);
}

}  // namespace

std::optional<QByteArray> originalHeader(int number, const QByteArray& record) {
  // Mail received before originals were kept, or an archive that cannot be
  // read, gives a reply without thread fields: the reply itself still works.
  received::OriginalArchive archive;
  if (!archive.load()) return std::nullopt;
  const std::optional<received::OriginalEntry> entry = archive.forRecord(number, record);
  if (!entry) return std::nullopt;
  const QByteArray raw = archive.read(*entry);
  if (raw.isEmpty()) return std::nullopt;
  return messageHeaderBlock(raw);
}

bool dataFolderMissing() { return !paths::folderExists(paths::kDataFolder); }

void reportDataFolderMissing() {
  MsgBox(QStringLiteral("データフォルダ「%1」が見つかりません。\n"
                        "受信したメールを読むことも削除することもできません。何も書き込んでいません。\n\n"
                        "プログラムフォルダを作り直すには、次のコマンドを実行して下さい。\n"
                        "tomoshibi --init-home \"%2\"")
             .arg(QDir::toNativeSeparators(paths::resolve(paths::kDataFolder)),
                  QDir::toNativeSeparators(paths::programFolder())),
         MsgButtons::Ok, MsgIcon::Exclamation);
}

}  // namespace viewer
