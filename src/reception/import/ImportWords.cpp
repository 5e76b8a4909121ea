#include "ImportWords.h"

#include "reception/CheckWords.h"
#include "reception/ReceivedWords.h"
#include "store/RecordFile.h"

#include <QDir>
#include <QStringList>

namespace mailimport {

QString countsText(const ImportCounts& c) {
  return QStringLiteral("取り込み %1件、重複 %2件、読めないもの %3件").arg(c.stored).arg(c.duplicates).arg(c.unreadable);
}

QString progressText(const ImportProgress& p) {
  constexpr double kMb = 1024.0 * 1024.0;
  return QStringLiteral("取り込み中 %1件（%2/%3 MB）")
      .arg(p.counts.stored)
      .arg(double(p.bytesDone) / kMb, 0, 'f', 1)
      .arg(double(p.bytesTotal) / kMb, 0, 'f', 1);
}

QString failureText(const ImportFailure& f) {
  const QString path = QDir::toNativeSeparators(f.path);
  switch (f.code) {
    case ImportCode::None:
      return QString();
    case ImportCode::NotFound:
      return QStringLiteral("「%1」が見つかりません。").arg(path);
    case ImportCode::NotMailFolder:
      return QStringLiteral("フォルダ「%1」はメールのフォルダ（cur と new のある Maildir）ではありません。").arg(path);
    case ImportCode::Unopenable:
      return QStringLiteral("「%1」を読めません（%2）。").arg(path, f.detail);
    case ImportCode::Busy:
      return QStringLiteral("メールの受信中です。受信が終わってから取り込んで下さい。");
    case ImportCode::LockFailed:
    case ImportCode::RecoveryFailed:
    case ImportCode::Originals:
      return reception::faultText(f.fault);
    case ImportCode::RecordsFile:
      return QStringLiteral("受信メールのファイル「%1」を開けません（%2）。").arg(path, f.detail);
  }
  return f.detail;
}

QString summaryText(const ImportSummary& s) {
  QStringList out;
  if (s.failure) out << failureText(s.failure);
  if (!s.failure || s.counts.stored > 0) out.prepend(countsText(s.counts));
  if (s.counts.leftOut > 0)
    out << QStringLiteral("受信メールのファイルが %1件で一杯になるため、%2件は取り込みませんでした。")
               .arg(store::kMaxRecords)
               .arg(s.counts.leftOut);
  if (!s.left.isEmpty())
    out << QStringLiteral("%1件は添付ファイルを書き込めないため取り込みませんでした（%2）。")
               .arg(s.left.size())
               .arg(reception::leftText(s.left.last()));
  for (const reception::CheckProblem& p : s.problems) {
    if (p.code == reception::CheckCode::Unsaved || p.code == reception::CheckCode::Store ||
        p.code == reception::CheckCode::Unflushed)
      out << QStringLiteral("メールを保存できないため、取り込みを止めました（%1）。")
                 .arg(p.fault ? reception::faultText(p.fault) : reception::attachmentFaultText(p.attachment));
    else
      out << reception::problemText(p);
  }
  if (s.stopped) out << QStringLiteral("途中で取り込みを止めました。もう一度取り込むと、残りを取り込みます。");
  return out.join(u'\n');
}

}  // namespace mailimport
