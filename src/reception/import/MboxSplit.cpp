#include "MboxSplit.h"

#include "reception/MailExport.h"

namespace mailimport {

namespace {

bool isBlank(QByteArrayView l) { return l == "\n" || l == "\r\n"; }

// The "From " line without its line break ends with the export's mark.
bool markedByExport(QByteArrayView l) {
  while (!l.isEmpty() && (l.back() == '\n' || l.back() == '\r')) l.chop(1);
  const QByteArrayView mark(reception::kExportMark);
  return l.size() > mark.size() && l.endsWith(mark) && l[l.size() - mark.size() - 1] == ' ';
}

}  // namespace

void MboxSplitter::feed(QByteArrayView bytes) {
  while (!bytes.isEmpty()) {
    const qsizetype nl = bytes.indexOf('\n');
    if (nl < 0) {
      partial_ += bytes;
      // A line longer than any mail may be: it is handled as far as it
      // came, and the rest of it follows it.
      if (partial_.size() > maxMail_) {
        line(partial_, continuing_);
        partial_.clear();
        continuing_ = true;
      }
      return;
    }
    const QByteArrayView piece = bytes.first(nl + 1);
    if (partial_.isEmpty()) {
      line(piece, continuing_);
    } else {
      partial_ += piece;
      line(partial_, continuing_);
      partial_.clear();
    }
    continuing_ = false;
    bytes = bytes.sliced(nl + 1);
  }
}

void MboxSplitter::finish() {
  if (!partial_.isEmpty()) line(partial_, continuing_);
  partial_.clear();
  continuing_ = false;
  close();
  if (std::exchange(stray_, false)) ready_.push_back({QByteArray(), false, true});
}

SplitMail MboxSplitter::take() {
  SplitMail m = std::move(ready_.front());
  ready_.pop_front();
  return m;
}

void MboxSplitter::line(QByteArrayView l, bool continued) {
  if (continued) {
    // The rest of an over-long "From " line is no part of the mail.
    if (fromLine_)
      fromLine_ = !l.endsWith('\n');
    else if (inMail_)
      append(l);
    else
      stray_ = true;
    return;
  }
  const bool blank = isBlank(l);
  if (l.startsWith("From ") && (atStart_ || afterBlank_)) {
    close();
    if (std::exchange(stray_, false)) ready_.push_back({QByteArray(), false, true});
    inMail_ = true;
    // A "From " line longer than a mail may be is cut wherever its bytes
    // were cut: its end is not looked at.
    quotedMore_ = l.size() <= maxMail_ && markedByExport(l);
    fromLine_ = !l.endsWith('\n');
    atStart_ = afterBlank_ = false;
    return;
  }
  atStart_ = false;
  afterBlank_ = blank;
  if (!inMail_) {
    // Text before the first mail: empty lines are nothing, the rest is
    // told about.
    if (!blank) stray_ = true;
    return;
  }
  if (!blank_.isEmpty()) append(std::exchange(blank_, {}));
  if (blank) {
    blank_ = l.toByteArray();
    return;
  }
  qsizetype q = 0;
  while (q < l.size() && l[q] == '>') ++q;
  if (q > 0 && l.sliced(q).startsWith("From ") && (quotedMore_ || q == 1)) l = l.sliced(1);
  append(l);
}

void MboxSplitter::append(QByteArrayView bytes) {
  if (tooLarge_) return;
  if (mail_.size() + bytes.size() > maxMail_) {
    tooLarge_ = true;
    mail_ = QByteArray();
    return;
  }
  mail_ += bytes;
}

void MboxSplitter::close() {
  if (!inMail_) return;
  // The empty line held back separated this mail from the next.
  ready_.push_back({std::exchange(mail_, {}), tooLarge_, false});
  inMail_ = false;
  tooLarge_ = false;
  quotedMore_ = false;
  blank_.clear();
}

QList<SplitMail> splitMbox(QByteArrayView file, qint64 maxMail) {
  MboxSplitter s(maxMail);
  QList<SplitMail> out;
  s.feed(file);
  s.finish();
  while (s.hasMail()) out.append(s.take());
  return out;
}

QByteArray crlfLines(QByteArray mail) {
  qsizetype bare = 0;
  for (qsizetype i = mail.indexOf('\n'); i >= 0; i = mail.indexOf('\n', i + 1))
    if (i == 0 || mail[i - 1] != '\r') ++bare;
  if (bare == 0) return mail;
  QByteArray out;
  out.reserve(mail.size() + bare);
  qsizetype at = 0;
  for (qsizetype i = mail.indexOf('\n'); i >= 0; i = mail.indexOf('\n', i + 1)) {
    out.append(mail.constData() + at, i - at);
    if (i == 0 || mail[i - 1] != '\r') out += '\r';
    out += '\n';
    at = i + 1;
  }
  out.append(mail.constData() + at, mail.size() - at);
  return out;
}

}  // namespace mailimport
