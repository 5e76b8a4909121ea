#include "StoreWords.h"

#include <QFileInfo>

namespace store {

QString failureText(const StoreFailure& f) {
  const QString& path = f.path;
  switch (f.code) {
    case StoreCode::None:
      return QString();
    case StoreCode::FolderMissing:
      return QStringLiteral("データフォルダ「%1」が見つかりません。").arg(QFileInfo(path).absolutePath());
    case StoreCode::Unopenable:
      return QStringLiteral("ファイル「%1」を開けません（%2）。").arg(path, f.cause);
    case StoreCode::Unreadable:
      return f.cause.isEmpty() ? QStringLiteral("ファイル「%1」を読めません。").arg(path)
                               : QStringLiteral("ファイル「%1」を読めません（%2）。").arg(path, f.cause);
    case StoreCode::BadRecordNumber:
      return QStringLiteral("記録番号 %1 には書き込めません。").arg(f.number);
    case StoreCode::Unwritable:
      return QStringLiteral("ファイル「%1」に書き込めません（%2）。").arg(path, f.cause);
    case StoreCode::Unsynced:
      return QStringLiteral("ファイル「%1」をディスクに書き出せません（%2）。").arg(path, f.cause);
    case StoreCode::Untruncatable:
      return QStringLiteral("ファイル「%1」を元の長さに戻せません（%2）。").arg(path, f.cause);
    case StoreCode::Full:
      return QStringLiteral("「%1」には既に %2 件が記録されていて、これ以上追加できません。不要なデータを削除して下さい。")
          .arg(QFileInfo(path).fileName())
          .arg(kMaxRecords);
    case StoreCode::TempUnwritable:
      return QStringLiteral("一時ファイル「%1」に書き込めません（%2）。元のファイルはそのまま残っています。").arg(path, f.cause);
    case StoreCode::Unreplaceable:
      return QStringLiteral("「%1」を置き換えられません（%2）。元のファイルはそのまま残っています。").arg(path, f.cause);
  }
  return f.cause;
}

}  // namespace store
