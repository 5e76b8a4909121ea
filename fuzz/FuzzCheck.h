#pragma once
// What the fuzz targets check beyond "it did not crash", and the scratch
// folders they work in. A failed check prints what it found and aborts:
// libFuzzer keeps the input as a crash, a replay test fails.
#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringView>
#include <cstddef>
#include <cstdint>

namespace fuzzcheck {

[[noreturn]] void fail(const char* file, int line, const char* condition, const QString& detail);

#define FUZZ_CHECK(condition, detail)                                                         \
  do {                                                                                        \
    if (!(condition)) ::fuzzcheck::fail(__FILE__, __LINE__, #condition, QString(detail));     \
  } while (0)

// A text with half a surrogate pair cannot be written as UTF-8 or CP932
// without losing a character, nor shown: no reader may hand one out.
bool hasUnpairedSurrogate(QStringView s);
void checkText(QStringView s, const char* what);
// One line of a header field as the program shows it: no line break, no
// other control character (a tab is let through when `tabs`).
void checkOneLine(QStringView s, const char* what, bool tabs = false);

// What a CP932 field gives back of `s`: a character CP932 lacks as '?'.
QString throughCp932(const QString& s);
// A text once through CP932 goes through again unchanged.
void checkCp932Stable(const QString& s, const char* what);

// The bytes of a fuzz input, not copied.
inline QByteArray bytesOf(const uint8_t* data, size_t size) {
  return QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
}

// A fresh empty folder of this process, below the temporary folder (one
// per name), removed when the process ends.
QString scratchFolder(const QString& name);
// Empties `folder` (and creates it when missing).
void emptyFolder(const QString& folder);
void writeFile(const QString& path, const QByteArray& bytes);
QByteArray readFile(const QString& path);

// Every file below `folder` (relative path -> its bytes; folders as "name/"
// with no bytes), to tell that nothing outside a folder was touched.
QMap<QString, QByteArray> snapshot(const QString& folder);

// The first line of `input` (without its LF) and the rest, for targets
// that take a parameter and a body from one input.
struct Split {
  QByteArray head;
  QByteArray rest;
};
Split splitFirstLine(const QByteArray& input, qsizetype maxHead);

}  // namespace fuzzcheck
