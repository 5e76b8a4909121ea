#include "AutoCheckFile.h"

#include "platform/Paths.h"
#include "platform/Profile.h"
#include "platform/Text.h"

#include <QFile>
#include <QStringList>
#include <optional>

namespace {

const QString kSection = QStringLiteral("AUTOCHECK");
const QString kOn = QStringLiteral("ON");
const QString kMinutes = QStringLiteral("MINUTES");

// The leading decimal number of a value, blanks around it ignored; none when
// it does not start with a digit (after an optional sign).
std::optional<long long> leadingNumber(const QString& value) {
  const QString t = value.trimmed();
  qsizetype i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == u'-' || t[i] == u'+')) negative = t[i++] == u'-';
  if (i >= t.size() || t[i] < u'0' || t[i] > u'9') return std::nullopt;
  long long n = 0;
  while (i < t.size() && t[i] >= u'0' && t[i] <= u'9') {
    n = n * 10 + (t[i++].unicode() - u'0');
    if (n > 1000000) n = 1000000;  // far past any limit, without overflowing
  }
  return negative ? -n : n;
}

}  // namespace

QString autoCheckFilePath() { return paths::resolve(QStringLiteral("★MAilData/tomoshibi.ini")); }

AutoCheckChoice parseAutoCheck(const QByteArray& fileBytes) {
  QString all = text::fromCp932(fileBytes);
  all.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  all.replace(u'\r', u'\n');
  std::optional<long long> on, minutes;
  bool inSection = false;
  for (const QString& line : all.split(u'\n')) {
    const QString t = line.trimmed();
    if (t.startsWith(u'[')) {
      const qsizetype close = t.indexOf(u']');
      inSection = close > 0 && t.mid(1, close - 1).trimmed().compare(kSection, Qt::CaseInsensitive) == 0;
      continue;
    }
    if (!inSection) continue;
    const qsizetype eq = line.indexOf(u'=');
    if (eq < 0) continue;
    const QString key = line.left(eq).trimmed();
    // The first of a key counts, as the profile functions read it.
    if (key.compare(kOn, Qt::CaseInsensitive) == 0 && !on) on = leadingNumber(line.mid(eq + 1)).value_or(0);
    if (key.compare(kMinutes, Qt::CaseInsensitive) == 0 && !minutes) minutes = leadingNumber(line.mid(eq + 1));
  }
  AutoCheckChoice choice;
  const bool inRange = minutes && *minutes >= kAutoCheckMinMinutes && *minutes <= kAutoCheckMaxMinutes;
  if (inRange) choice.minutes = int(*minutes);
  choice.on = on == 1 && inRange;
  return choice;
}

AutoCheckChoice ReadAutoCheck() {
  QFile f(autoCheckFilePath());
  if (!f.open(QIODevice::ReadOnly)) return {};
  return parseAutoCheck(f.readAll());
}

bool WriteAutoCheck(const AutoCheckChoice& choice) {
  const QString f = autoCheckFilePath();
  const bool minutes = profile::WritePrivateProfileString(kSection, kMinutes, QString::number(choice.minutes), f);
  const bool on = minutes && profile::WritePrivateProfileString(kSection, kOn, choice.on ? QStringLiteral("1")
                                                                                         : QStringLiteral("0"), f);
  return minutes && on;
}
