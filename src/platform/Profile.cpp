#include "Profile.h"

#include "Durable.h"
#include "Text.h"

#include <QFile>
#include <QStringList>
#include <optional>

namespace profile {
namespace {

// Lines of the file without their terminators; CR LF, CR and LF all end a line.
std::optional<QStringList> readLines(const QString& file) {
  QFile f(file);
  if (!f.open(QIODevice::ReadOnly)) return std::nullopt;
  QString all = text::fromCp932(f.readAll());
  all.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  all.replace(u'\r', u'\n');
  QStringList lines = all.split(u'\n');
  if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
  return lines;
}

bool isSectionLine(const QString& line, QString* name) {
  QString t = line.trimmed();
  if (!t.startsWith(u'[')) return false;
  qsizetype close = t.indexOf(u']');
  if (close < 0) return false;
  if (name) *name = t.mid(1, close - 1).trimmed();
  return true;
}

bool keyOf(const QString& line, QString* key, QString* value) {
  qsizetype eq = line.indexOf(u'=');
  if (eq < 0) return false;
  if (key) *key = line.left(eq).trimmed();
  if (value) *value = line.mid(eq + 1);
  return true;
}

std::optional<QString> findValue(const QString& section, const QString& key, const QString& file) {
  auto lines = readLines(file);
  if (!lines) return std::nullopt;
  bool in = false;
  for (const QString& line : *lines) {
    QString name;
    if (isSectionLine(line, &name)) {
      in = name.compare(section, Qt::CaseInsensitive) == 0;
      continue;
    }
    if (!in) continue;
    QString k, v;
    if (keyOf(line, &k, &v) && k.compare(key, Qt::CaseInsensitive) == 0) return v;
  }
  return std::nullopt;
}

}  // namespace

QString GetPrivateProfileString(const QString& section, const QString& key, const QString& def,
                                const QString& file) {
  auto v = findValue(section, key, file);
  QString value = v ? v->trimmed() : def;
  if (v && value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') && value.back() == value.front())
    value = value.mid(1, value.size() - 2);
  QByteArray bytes = text::toCp932(value);
  if (bytes.size() > 255) value = text::fromCp932(bytes.left(text::safeCut(bytes, 255)));
  return value;
}

int GetPrivateProfileInt(const QString& section, const QString& key, int def, const QString& file) {
  auto v = findValue(section, key, file);
  if (!v) return def;
  QString t = v->trimmed();
  qsizetype i = 0;
  bool neg = false;
  if (i < t.size() && (t[i] == u'-' || t[i] == u'+')) neg = t[i++] == u'-';
  long long n = 0;
  while (i < t.size() && t[i] >= u'0' && t[i] <= u'9') {
    n = n * 10 + (t[i++].unicode() - u'0');
    if (n > 0x7fffffffLL) n = 0x7fffffffLL;
  }
  return int(neg ? -n : n);
}

bool WritePrivateProfileString(const QString& section, const QString& key, const QString& value,
                               const QString& file, int newFileMode) {
  QStringList lines = readLines(file).value_or(QStringList());
  const QString entry = key + u'=' + value;
  qsizetype sectionAt = -1, lastInSection = -1, keyAt = -1;
  for (qsizetype i = 0; i < lines.size(); ++i) {
    QString name;
    if (isSectionLine(lines[i], &name)) {
      if (sectionAt >= 0) break;  // the section ended
      if (name.compare(section, Qt::CaseInsensitive) == 0) sectionAt = lastInSection = i;
      continue;
    }
    if (sectionAt < 0) continue;
    if (!lines[i].trimmed().isEmpty()) lastInSection = i;
    QString k;
    if (keyOf(lines[i], &k, nullptr) && k.compare(key, Qt::CaseInsensitive) == 0) {
      keyAt = i;
      break;
    }
  }
  if (keyAt >= 0) {
    lines[keyAt] = entry;
  } else if (sectionAt >= 0) {
    lines.insert(lastInSection + 1, entry);
  } else {
    lines << u'[' + section + u']' << entry;
  }
  QByteArray out = text::toCp932(lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"));
  return durable::replaceFile(file, out, newFileMode);
}

}  // namespace profile
