// One raw mail through everything a check does with it apart from the
// server and the journal: the MIME walk, encoded words, addresses, RFC 2231
// parameters, HTML made text, every charset; its files written into an
// attachment folder, its record shaped; and what the viewer and a reply
// later read of it.
//
// Checks: a mail read straight from its bytes (one plain text part) reads
// as the MIME tree reads it; every text has whole surrogate pairs and one-line fields stay one
// line; each field of the record reads back as what was stored in CP932
// (up to the field's width); the record gives back the same bytes when its
// fields are written again; files land in the attachment folder and
// nowhere else, under names that are one path component; the quick-save
// name of the subject is one; a reply's thread fields are header lines of
// their own.
#include "FuzzCheck.h"
#include "composer/model/ReplyText.h"
#include "platform/HeaderScan.h"
#include "platform/Text.h"
#include "reception/AttachmentFiles.h"
#include "reception/BatchStore.h"
#include "reception/mime/MimeDecode.h"
#include "store/Records.h"
#include "store/received/ReceivedUids.h"
#include "viewer/core/MailText.h"

#include <QDir>
#include <QFileInfo>

using namespace fuzzcheck;

namespace {

void checkField(const store::MailRecord& record, store::Field field, const QString& given, const char* what) {
  const QByteArray stored = record.raw(field);
  const QString read = record.text(field);
  checkText(read, what);
  // Written again, the field is the same bytes.
  FUZZ_CHECK(text::fixedField(read, field.width) == stored,
             QStringLiteral("%1 changes when written again").arg(what));
  // What was stored is what was given, as CP932 has it, cut to the width.
  const QString expected = throughCp932(text::trimSpaces(given));
  const QString back = text::trimRight(read);
  if (charset::toCp932(expected).size() <= field.width)
    FUZZ_CHECK(back == text::trimRight(expected), QStringLiteral("%1 reads back as another text").arg(what));
  else
    FUZZ_CHECK(expected.startsWith(back), QStringLiteral("%1 reads back as another text").arg(what));
}

// A file name the folder keeps: one component, not a folder's own names.
void checkComponent(const QString& name, const char* what) {
  checkText(name, what);
  FUZZ_CHECK(!name.isEmpty() && name != u"." && name != u".." && !name.contains(u'/') && !name.contains(QChar(0)),
             QStringLiteral("%1 is no single file name: %2").arg(what, name));
  FUZZ_CHECK(name.toUtf8().size() <= 255, QStringLiteral("%1 is too long for a file system").arg(what));
}

// The files as the decoder hands them over, written by the check's own
// writer, with the names they were given.
class Recording : public maillib::AttachmentWriter {
 public:
  explicit Recording(maillib::AttachmentWriter& to) : to_(to) {}
  bool write(const QString& name, const QByteArray& bytes) override {
    given << name;
    checkText(name, "a file's name");
    return to_.write(name, bytes);
  }
  QStringList given;

 private:
  maillib::AttachmentWriter& to_;
};

// The name a file was written under: the given name made safe, or that
// name with a number when it was taken ("stem (2).ext").
bool nameFits(const QString& written, const QString& safe) {
  if (written == safe) return true;
  const qsizetype dot = safe.lastIndexOf(u'.');
  const QString stem = dot > 0 ? safe.left(dot) : safe;
  const QString ext = dot > 0 ? safe.mid(dot) : QString();
  if (!written.startsWith(stem + QStringLiteral(" (")) || !written.endsWith(u')' + ext)) return false;
  bool number = false;
  written.mid(stem.size() + 2, written.size() - stem.size() - 3 - ext.size()).toInt(&number);
  return number;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QString root = scratchFolder(QStringLiteral("mail"));
  const QString attach = root + QStringLiteral("/home/添付フォルダ");
  emptyFolder(root + QStringLiteral("/home"));
  QDir().mkpath(attach);
  QByteArray raw(reinterpret_cast<const char*>(data), qsizetype(size));
  const qsizetype headerLength = headerscan::bodyOffset(raw);
  FUZZ_CHECK(headerLength >= 0 && headerLength <= raw.size(), QStringLiteral("header length out of the mail"));
  const QByteArray header = raw.left(headerLength);
  FUZZ_CHECK(received::mailDigest(header, raw.size()).size() == 32, QStringLiteral("digest"));

  // A reply's thread fields: each line a field of its own or folded.
  const QString thread = replyThreadHeaders(messageHeaderBlock(raw));
  checkText(thread, "thread fields");
  if (!thread.isEmpty()) {
    for (const QString& line : thread.split(QStringLiteral("\r\n"))) {
      checkOneLine(line, "a thread field's line");
      FUZZ_CHECK(line.startsWith(QStringLiteral("In-Reply-To: ")) || line.startsWith(QStringLiteral("References: ")) ||
                     line.startsWith(u' '),
                 QStringLiteral("thread fields make a line of their own: %1").arg(line));
    }
  }

  // A mail the plain reading takes reads exactly as the MIME tree reads it.
  if (const std::optional<maillib::DecodedMail> plain = maillib::decodeMailWithoutTree(raw)) {
    QByteArray copy = raw;
    const maillib::DecodedMail tree = maillib::decodeMailThroughTree(std::move(copy));
    FUZZ_CHECK(plain->subject == tree.subject && plain->from == tree.from && plain->date == tree.date &&
                   plain->body == tree.body && tree.attachments.isEmpty() && !tree.partial,
               QStringLiteral("the plain reading differs from the tree's"));
  }

  const bool mentions = reception::mentionsAttachment(raw, headerLength);
  maillib::AttachmentFolder files(attach);
  Recording recording(files);
  const reception::ShapedMail shaped = reception::shapeMail(std::move(raw), mentions, &recording);
  FUZZ_CHECK(!files.failed(), QStringLiteral("a file could not be written: %1").arg(files.fault().path));

  checkOneLine(shaped.boxes.subject, "subject");
  checkOneLine(shaped.boxes.from, "sender");
  checkOneLine(shaped.boxes.date, "date");
  checkText(shaped.boxes.body, "body");
  FUZZ_CHECK(!shaped.boxes.body.contains(QChar(0)), QStringLiteral("a NUL in the body"));
  for (qsizetype i = shaped.boxes.body.indexOf(u'\n'); i >= 0; i = shaped.boxes.body.indexOf(u'\n', i + 1))
    FUZZ_CHECK(i > 0 && shaped.boxes.body[i - 1] == u'\r', QStringLiteral("a body line without CR LF"));

  FUZZ_CHECK(shaped.record.size() == store::MailRecord::kLength, QStringLiteral("record length"));
  const store::MailRecord record(shaped.record);
  checkField(record, store::MailRecord::kSubject, shaped.boxes.subject, "subject field");
  checkField(record, store::MailRecord::kFrom, shaped.boxes.from, "sender field");
  checkField(record, store::MailRecord::kDate, shaped.boxes.date, "date field");
  checkField(record, store::MailRecord::kBody, shaped.boxes.body, "body field");
  FUZZ_CHECK(record.liveFlag() == 1, QStringLiteral("live flag"));
  checkCp932Stable(shaped.boxes.subject, "subject");

  // Quick-saving the mail names a file after its stored subject.
  checkComponent(viewer::quickSaveFileName(text::trimSpaces(record.subject())), "quick-save name");

  // Every file in the attachment folder, and nothing anywhere else.
  const QStringList written = files.written();
  FUZZ_CHECK(written.size() == recording.given.size(), QStringLiteral("files handed over and written differ"));
  for (qsizetype i = 0; i < written.size(); ++i) {
    const QString& path = written[i];
    FUZZ_CHECK(QFileInfo(path).absolutePath() == attach, QStringLiteral("a file outside the folder: %1").arg(path));
    const QString name = QFileInfo(path).fileName();
    checkComponent(name, "attachment name");
    const QString safe = maillib::safeFileName(recording.given[i]);
    FUZZ_CHECK(nameFits(name, safe), QStringLiteral("\"%1\" written as \"%2\"").arg(safe, name));
  }
  const QMap<QString, QByteArray> home = snapshot(root + QStringLiteral("/home"));
  FUZZ_CHECK(home.size() == written.size() + 1, QStringLiteral("files written that were not handed out"));
  const QMap<QString, QByteArray> all = snapshot(root);
  FUZZ_CHECK(all.size() == home.size() + 1, QStringLiteral("something written beside the program folder"));
  return 0;
}
