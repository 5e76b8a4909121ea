#pragma once
// A mailbox file taken apart into its mails, as the bytes come: a "From "
// line starts a mail only at the start of the file or after an empty line
// (a "From " line anywhere else is the mail's own text), and the empty line
// before it ends the mail before. The quoting of the "From " lines in the
// mails is undone: one ">" less before ">…From " in a mail whose "From "
// line carries this program's export mark (every such line was quoted one
// level more), one ">" less before ">From " alone in any other (the older
// writers quote "From " and nothing else).
//
// Nothing here reads a file or knows the mail: bytes in, mails out, line
// ends as they are in the file (LF or CR LF). No input makes it fail.
#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <deque>

namespace mailimport {

// A mail larger than this is not kept whole (its bytes are dropped).
inline constexpr qint64 kMaxMail = 256LL * 1024 * 1024;

struct SplitMail {
  QByteArray bytes;       // the mail without its "From " line, quoting undone
  bool tooLarge = false;  // it passed the limit: `bytes` is empty
  bool stray = false;     // text before the first "From " line, not a mail (`bytes` is empty)
};

class MboxSplitter {
 public:
  explicit MboxSplitter(qint64 maxMail = kMaxMail) : maxMail_(maxMail) {}

  // The next bytes of the file, in pieces of any size.
  void feed(QByteArrayView bytes);
  // The file has ended: the last mail is complete.
  void finish();
  // The mails complete so far, in the file's order.
  bool hasMail() const { return !ready_.empty(); }
  SplitMail take();

 private:
  void line(QByteArrayView l, bool continued);
  void append(QByteArrayView bytes);
  void close();

  qint64 maxMail_;
  QByteArray partial_;     // the start of a line whose end has not come
  bool continuing_ = false;  // the bytes to the next LF belong to a line already handled
  bool atStart_ = true;
  bool afterBlank_ = false;
  bool inMail_ = false;
  bool quotedMore_ = false;  // this mail came from this program's export
  bool fromLine_ = false;    // the "From " line handled has not ended yet
  QByteArray mail_;
  bool tooLarge_ = false;
  QByteArray blank_;  // an empty line held back: the end of the mail, or part of it
  bool stray_ = false;  // text that is no mail came before the next "From " line
  std::deque<SplitMail> ready_;
};

// A whole file at once.
QList<SplitMail> splitMbox(QByteArrayView file, qint64 maxMail = kMaxMail);

// Every bare LF made CR LF, as a mail arrives from a server.
QByteArray crlfLines(QByteArray mail);

}  // namespace mailimport
