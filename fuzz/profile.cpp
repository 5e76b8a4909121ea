// INI files of a program folder copied from another machine, read and
// written as the private-profile functions do: the account file
// (iniIdPass.ini: NAME, NAME2, NAME3) and the window choices (ini.ini:
// NUMBER, NUMBER2), section EXEINI, and any other section the file has.
//
// Checks: values are text with whole surrogate pairs and no line break;
// a value set reads back as set; setting one key keeps every other line
// of the file byte for byte, and every other key's value.
#include "FuzzCheck.h"
#include "platform/Profile.h"
#include "platform/Text.h"

#include <QList>
#include <QStringList>

using namespace fuzzcheck;

namespace {

const QStringList kKeys{QStringLiteral("NAME"), QStringLiteral("NAME2"), QStringLiteral("NAME3"),
                        QStringLiteral("NUMBER"), QStringLiteral("NUMBER2")};

// The file's lines as bytes, as the reader splits them (CR LF, CR or LF).
QList<QByteArray> byteLines(QByteArray b) {
  b.replace("\r\n", "\n");
  b.replace('\r', '\n');
  QList<QByteArray> lines = b.split('\n');
  if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
  return lines;
}

// A value that a write keeps as it is: no blanks or quotes around it, one
// line, characters CP932 has, at most 255 bytes.
bool plainValue(const QString& v) {
  if (v != v.trimmed() || v.contains(u'\r') || v.contains(u'\n') || v.contains(QChar(0))) return false;
  if (v.size() >= 2 && (v.front() == u'"' || v.front() == u'\'') && v.back() == v.front()) return false;
  if (throughCp932(v) != v) return false;
  return text::toCp932(v).size() <= 255;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray file = bytesOf(data, size);
  QStringList sections{QStringLiteral("EXEINI")};
  // The first section the file names, whatever it is, when the program
  // could name it too (its name written in CP932 is the same name).
  for (const QByteArray& bytes : byteLines(file)) {
    const QString t = text::fromCp932(bytes).trimmed();
    if (t.startsWith(u'[') && t.indexOf(u']') > 1) {
      const QString name = t.mid(1, t.indexOf(u']') - 1).trimmed();
      if (throughCp932(name) == name) sections << name;
      break;
    }
  }
  for (const QString& section : sections)
    for (const QString& key : kKeys) {
      const QString v = profile::valueIn(file, section, key);
      // Other control characters are the file's own, handed back as they are.
      checkText(v, "a value");
      FUZZ_CHECK(!v.contains(u'\r') && !v.contains(u'\n'), QStringLiteral("a value of more than one line"));
      (void)profile::intIn(file, section, key, -1);
    }

  // Set each key to a value made from the file's last line, and to plain ones.
  const QList<QByteArray> lines = byteLines(file);
  QStringList values{QStringLiteral("1"), QStringLiteral("0"), QStringLiteral("パスワード①")};
  if (!lines.isEmpty()) values << text::fromCp932(lines.last()).trimmed();
  for (const QString& section : sections) {
    for (const QString& key : kKeys) {
      for (const QString& value : values) {
        if (!plainValue(value)) continue;
        const QByteArray after = profile::withValue(file, section, key, value);
        FUZZ_CHECK(profile::valueIn(after, section, key) == value,
                   QStringLiteral("[%1] %2 set to \"%3\" reads \"%4\"")
                       .arg(section, key, value, profile::valueIn(after, section, key)));
        // Every other value as it was.
        for (const QString& other : sections)
          for (const QString& k : kKeys) {
            if (other.compare(section, Qt::CaseInsensitive) == 0 && k.compare(key, Qt::CaseInsensitive) == 0)
              continue;
            FUZZ_CHECK(profile::valueIn(after, other, k) == profile::valueIn(file, other, k),
                       QStringLiteral("setting [%1] %2 changed [%3] %4").arg(section, key, other, k));
          }
        // Every line of the file but the one set, byte for byte, in order:
        // the key's line replaced, or one line put in, or the section and
        // the line added at the end.
        const QList<QByteArray> now = byteLines(after);
        const QString where = QStringLiteral("setting [%1] %2").arg(section, key);
        if (now.size() == lines.size()) {
          qsizetype differ = 0;
          for (qsizetype i = 0; i < lines.size(); ++i) {
            if (now[i] == lines[i]) continue;
            ++differ;
            const QString t = text::fromCp932(lines[i]);
            const qsizetype eq = t.indexOf(u'=');
            FUZZ_CHECK(eq > 0 && t.left(eq).trimmed().compare(key, Qt::CaseInsensitive) == 0,
                       where + QStringLiteral(" changed the line \"%1\"").arg(QString::fromLatin1(lines[i].toPercentEncoding())));
          }
          // None when the key already had the value.
          FUZZ_CHECK(differ <= 1, where + QStringLiteral(" changed %1 lines").arg(differ));
        } else if (now.size() == lines.size() + 1) {
          qsizetype k = 0;
          while (k < lines.size() && now[k] == lines[k]) ++k;
          FUZZ_CHECK(now.mid(k + 1) == lines.mid(k), where + QStringLiteral(" changed lines after the one put in"));
        } else {
          FUZZ_CHECK(now.size() == lines.size() + 2 && now.first(lines.size()) == lines,
                     where + QStringLiteral(" changed the file's lines"));
        }
      }
    }
  }
  return 0;
}
