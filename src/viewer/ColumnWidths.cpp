#include "ColumnWidths.h"

#include "platform/Paths.h"
#include "platform/Profile.h"

#include <cmath>

namespace viewer {
namespace {

const QString kSection = QStringLiteral("MailListView");
const QString kSubjectKey = QStringLiteral("SubjectWidth");
const QString kFromKey = QStringLiteral("FromWidth");
// Narrower than 10 pixels a column cannot be caught again; wider than the
// widest screen it is a slip.
constexpr int kLeast = 150;
constexpr int kMost = 60000;

std::optional<double> widthOf(const QString& key) {
  const QString file = paths::resolve(kColumnWidthsFile);
  const QString value = profile::GetPrivateProfileString(kSection, key, QString(), file);
  bool ok = false;
  const int twips = value.trimmed().toInt(&ok);
  if (!ok || twips < kLeast || twips > kMost) return std::nullopt;
  return double(twips);
}

}  // namespace

ColumnWidths readColumnWidths() { return {widthOf(kSubjectKey), widthOf(kFromKey)}; }

bool writeColumnWidths(double subject, double from) {
  const QString file = paths::resolve(kColumnWidthsFile);
  return profile::WritePrivateProfileString(kSection, kSubjectKey, QString::number(std::lround(subject)), file) &&
         profile::WritePrivateProfileString(kSection, kFromKey, QString::number(std::lround(from)), file);
}

}  // namespace viewer
