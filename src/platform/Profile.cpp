#include "Profile.h"

#include "Durable.h"
#include "Text.h"

#include <QFile>
#include <QList>
#include <optional>

namespace profile {
namespace {

// A line of the file without its terminator: its bytes, kept as they are
// when another line is set, and its text.
struct Line {
  QByteArray bytes;
  QString text;
};

// CR LF, CR and LF all end a line. CP932 never has a line break byte
// inside a character, so the lines can be told apart before decoding.
QList<Line> linesOf(const QByteArray& file) {
  QByteArray all = file;
  all.replace("\r\n", "\n");
  all.replace('\r', '\n');
  QList<QByteArray> raw = all.split('\n');
  if (!raw.isEmpty() && raw.last().isEmpty()) raw.removeLast();
  QList<Line> lines;
  lines.reserve(raw.size());
  for (const QByteArray& r : raw) lines.append({r, text::fromCp932(r)});
  return lines;
}

Line lineOf(const QString& text) { return {text::toCp932(text), text}; }

std::optional<QByteArray> readBytes(const QString& file) {
  QFile f(file);
  if (!f.open(QIODevice::ReadOnly)) return std::nullopt;
  return f.readAll();
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

std::optional<QString> findValue(const QString& section, const QString& key, const QList<Line>& lines) {
  bool in = false;
  for (const Line& l : lines) {
    const QString& line = l.text;
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

std::optional<QString> findValue(const QString& section, const QString& key, const QString& file) {
  const std::optional<QByteArray> bytes = readBytes(file);
  if (!bytes) return std::nullopt;
  return findValue(section, key, linesOf(*bytes));
}

QString stringOf(const std::optional<QString>& v, const QString& def) {
  QString value = v ? v->trimmed() : def;
  if (v && value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') && value.back() == value.front())
    value = value.mid(1, value.size() - 2);
  QByteArray bytes = text::toCp932(value);
  if (bytes.size() > 255) value = text::fromCp932(bytes.left(text::safeCut(bytes, 255)));
  return value;
}

int intOf(const std::optional<QString>& v, int def) {
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

// Every other line keeps its bytes: a line that is not CP932, or a
// character CP932 has two codes for, is not rewritten on the way.
QByteArray setIn(QList<Line> lines, const QString& section, const QString& key, const QString& value) {
  const QString entry = key + u'=' + value;
  qsizetype sectionAt = -1, lastInSection = -1, keyAt = -1;
  for (qsizetype i = 0; i < lines.size(); ++i) {
    QString name;
    if (isSectionLine(lines[i].text, &name)) {
      if (sectionAt >= 0) break;  // the section ended
      if (name.compare(section, Qt::CaseInsensitive) == 0) sectionAt = lastInSection = i;
      continue;
    }
    if (sectionAt < 0) continue;
    if (!lines[i].text.trimmed().isEmpty()) lastInSection = i;
    QString k;
    if (keyOf(lines[i].text, &k, nullptr) && k.compare(key, Qt::CaseInsensitive) == 0) {
      keyAt = i;
      break;
    }
  }
  if (keyAt >= 0) {
    lines[keyAt] = lineOf(entry);
  } else if (sectionAt >= 0) {
    lines.insert(lastInSection + 1, lineOf(entry));
  } else {
    lines << lineOf(u'[' + section + u']') << lineOf(entry);
  }
  QByteArray out;
  for (const Line& l : lines) out += l.bytes + "\r\n";
  return out;
}

}  // namespace

QString GetPrivateProfileString(const QString& section, const QString& key, const QString& def,
                                const QString& file) {
  return stringOf(findValue(section, key, file), def);
}

int GetPrivateProfileInt(const QString& section, const QString& key, int def, const QString& file) {
  return intOf(findValue(section, key, file), def);
}

bool WritePrivateProfileString(const QString& section, const QString& key, const QString& value,
                               const QString& file, int newFileMode) {
  const QList<Line> lines = linesOf(readBytes(file).value_or(QByteArray()));
  return durable::replaceFile(file, setIn(lines, section, key, value), newFileMode);
}

QString valueIn(const QByteArray& file, const QString& section, const QString& key) {
  const std::optional<QString> v = findValue(section, key, linesOf(file));
  return v ? stringOf(v, QString()) : QString();
}

int intIn(const QByteArray& file, const QString& section, const QString& key, int def) {
  return intOf(findValue(section, key, linesOf(file)), def);
}

QByteArray withValue(const QByteArray& file, const QString& section, const QString& key, const QString& value) {
  return setIn(linesOf(file), section, key, value);
}

}  // namespace profile
