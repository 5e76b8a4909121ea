#include "ExportWords.h"

#include "ReceivedWords.h"

#include <QDir>

namespace reception {

QString noOriginalText() { return QStringLiteral("原文がありません"); }

QString exportFaultText(const ExportFault& f) {
  switch (f.code) {
    case ExportFault::Code::None:
      return QString();
    case ExportFault::Code::LinksUnresolved:
      return QStringLiteral("「%1」のリンクをたどりきれません。").arg(QDir::toNativeSeparators(f.path));
    case ExportFault::Code::InsideDataFolder:
      return QStringLiteral("データフォルダの中には書き出せません。");
    case ExportFault::Code::Unsaved:
      return f.detail;
    case ExportFault::Code::Unwritable:
      return QStringLiteral("「%1」に書き込めません（%2）。").arg(QDir::toNativeSeparators(f.path), f.detail);
    case ExportFault::Code::Received:
      return faultText(f.received);
  }
  return f.detail;
}

QString exportedText(const ExportSummary& s, const QString& target) {
  QString t = QStringLiteral("%1 通のメールを「%2」に書き出しました。").arg(s.exported).arg(QDir::toNativeSeparators(target));
  if (const int before = s.withoutOriginal - s.unreadable; before > 0)
    t += QStringLiteral("\n%1 通は%2（原文を残す前に受信したメール）。").arg(before).arg(noOriginalText());
  if (s.unreadable > 0)
    t += QStringLiteral("\n%1 通は原文が失われているか読めないため、書き出していません。").arg(s.unreadable);
  return t;
}

}  // namespace reception
