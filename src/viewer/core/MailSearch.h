#pragma once
// Finding mails in the received-mail list: the next row whose subject,
// sender or body holds a text, compared the way a Japanese reader reads
// (full-width and half-width alike, hiragana and katakana alike, letters in
// either case). Reads the record file straight, without a display.
#include <QString>
#include <QStringMatcher>
#include <QStringView>

namespace viewer {

// The form texts are compared in: compatibility forms decomposed (NFKD, so
// full-width and half-width forms are one, ① is 1 and ガ is カ with its
// mark), katakana made hiragana, letters case-folded, 〜 made ~ and − made -.
QString searchKey(QStringView s);

class MailMatcher {
 public:
  // `text` with spaces at its ends left out.
  explicit MailMatcher(const QString& text);
  // True when there is nothing to look for.
  bool isEmpty() const { return key_.isEmpty(); }
  // True when the subject, the sender or the body of `record` (the bytes of
  // a mail record as stored) holds the text.
  bool matches(const char* record) const;

 private:
  bool fieldHolds(const char* field, int width) const;

  QString key_;
  QStringMatcher matcher_;
  mutable QString folded_;  // scratch space for one field
};

struct MailSearchResult {
  int row = -1;   // the row found (from 0), -1 when none holds the text
  QString error;  // set when the file could not be read
};

// The first row after `current` (from 0; -1 for none) whose mail holds
// `text`, going on from the top after the last row and ending with
// `current` itself. Row i stands for record i + 1 of `file`; only `rows`
// rows are searched.
MailSearchResult findMailRow(const QString& file, int rows, int current, const QString& text);

}  // namespace viewer
