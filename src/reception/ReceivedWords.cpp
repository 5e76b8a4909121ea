#include "ReceivedWords.h"

#include "store/RecordFile.h"
#include "store/words/StoreWords.h"

#include <QDir>

namespace reception {

QString faultText(const received::Fault& f) {
  using received::Code;
  const QString path = QDir::toNativeSeparators(f.path);
  switch (f.code) {
    case Code::None:
      return QString();
    case Code::CheckRunning:
      return QStringLiteral("別のメール受信を実行中です（同じプログラムフォルダ）。終わってから、もう一度受信して下さい。");
    case Code::LockUnmade:
      return QStringLiteral("データフォルダに「%1」を作れません（%2）。").arg(path, f.detail);
    case Code::LockUntaken:
      return QStringLiteral("「%1」を確保できません（%2）。").arg(path, f.detail);
    case Code::Unopenable:
      return QStringLiteral("「%1」を開けません（%2）。").arg(path, f.detail);
    case Code::Unreadable:
      return QStringLiteral("「%1」を読めません（%2）。").arg(path, f.detail);
    case Code::Unwritable:
      return QStringLiteral("「%1」を書き込めません（%2）。").arg(path, f.detail);
    case Code::Unremovable:
      return QStringLiteral("「%1」を消せません（%2）。").arg(path, f.detail);
    case Code::Unmendable:
      return QStringLiteral("「%1」を直せません（%2）。").arg(path, f.detail);
    case Code::FolderUnsynced:
      return QStringLiteral("データフォルダをディスクに書き出せません（%1）。").arg(f.detail);
    case Code::Records:
      return store::failureText(f.records);
    case Code::RecordsUnreadable:
      return QStringLiteral("受信メールのファイルを読めません（%1）。").arg(store::failureText(f.records));
    case Code::RecordsFull:
      return QStringLiteral("受信メールのファイルは既に %1 件で一杯です。「メールを見る」画面で不要なメールを削除して下さい。")
          .arg(store::kMaxRecords);
    case Code::JournalUnreadable:
      return QStringLiteral("受信の記録「%1」を読めません（%2）。").arg(path, f.detail);
    case Code::JournalUnwritable:
      return QStringLiteral("受信の記録「%1」に書き込めません（%2）。").arg(path, f.detail);
    case Code::CutBackFailed:
      return QStringLiteral("「%1」の途中までの受信を取り消せません（%2）。").arg(path, f.detail);
    case Code::UidListUnreadable:
      return QStringLiteral("受信済みメールの記録を読めません（%1）。").arg(f.detail);
    case Code::UidListUnwritable:
      return QStringLiteral("受信済みメールの記録を書き込めません（%1）。").arg(f.detail);
    case Code::OriginalsUnopenable:
      return QStringLiteral("原文の保存ファイルを開けません（%1）。").arg(f.detail);
    case Code::OriginalUnwritable:
      return QStringLiteral("原文を保存できません（%1）。").arg(f.detail);
    case Code::IndexUnwritable:
      return QStringLiteral("原文の索引を書き込めません（%1）。").arg(f.detail);
    case Code::OriginalsUnsynced:
      return QStringLiteral("原文をディスクに書き出せません（%1）。").arg(f.detail);
    case Code::OriginalMissing:
      return QStringLiteral("原文がありません");
    case Code::OriginalLost:
      return QStringLiteral("このメールの原文は、原文の保存ファイル「%1」から失われています。").arg(path);
    case Code::OriginalChanged:
      return QStringLiteral("原文の保存ファイル「%1」にあるこのメールの原文は、受信したときのものと違います。").arg(path);
    case Code::DeleteJournalUnwritable:
      return QStringLiteral("削除の記録を書き込めません（%1）。").arg(f.detail);
    case Code::DeleteUnfinished:
      return QStringLiteral("「%1」の削除を最後まで終えられません（%2）。次の受信か削除のときに続きを行います。").arg(path, f.detail);
  }
  return f.detail;
}

QString attachmentFaultText(const maillib::AttachmentFault& f) {
  using Code = maillib::AttachmentFault::Code;
  switch (f.code) {
    case Code::None:
      return QString();
    case Code::FolderMissing:
      return QStringLiteral("添付フォルダ「%1」がありません。").arg(f.path);
    case Code::Uncreatable:
      return QStringLiteral("「%1」を作れません（%2）。").arg(f.path, f.detail);
    case Code::NoFreeName:
      return QStringLiteral("「%1」を作れません。").arg(f.path);
    case Code::Unwritable:
      return QStringLiteral("「%1」を書き込めません（%2）。").arg(f.path, f.detail);
    case Code::Unflushed:
      return QStringLiteral("「%1」をディスクに書き込めません（%2）。").arg(f.path, f.detail);
    case Code::Refused:
      return f.detail;
  }
  return f.detail;
}

}  // namespace reception
