#pragma once
// Received mail turned into what a person reads: subject, sender and date as
// text, the body as plain text, the attached files with their names. GMime
// finds the structure and undoes the transfer encodings; charsets, encoded
// words and file names are decoded by this library's own units (GMime's
// own decoding loses characters that Japanese mail is full of):
//   EncodedWords   unstructured header text (RFC 2047)
//   Addresses      address headers (RFC 5322)
//   Rfc2231Params  parameters of a content type or disposition (RFC 2231)
//   HtmlText       HTML read as plain text
//   BodyText       a text part's bytes made body text
//   MessageWalk    which parts are the body and which are files
// The decoder writes no files: it hands each file to an AttachmentWriter.
#include "Addresses.h"
#include "EncodedWords.h"
#include "HtmlText.h"
#include "Rfc2231Params.h"
#include "platform/HeaderScan.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <memory>
#include <optional>

namespace maillib {

struct MailAttachment {
  QString name;  // as the mail names it, decoded (not yet safe as a file name)
  QByteArray data;
  std::shared_ptr<const void> keep;  // owns the bytes `data` may only look into
};

struct DecodedMail {
  QString subject;
  QString from;  // "name <address>", or the address alone
  QString date;
  QString body;  // plain text, CR LF lines
  QList<MailAttachment> attachments;  // only when no writer was given
  bool partial = false;  // one piece of a split message (message/partial)
};

// Where the files of a mail go, one at a time as the decoder finds them, in
// the mail's order, so that a mail's files are never all held at once.
class AttachmentWriter {
 public:
  virtual ~AttachmentWriter() = default;
  // `name` as the mail names it, decoded; `bytes` last only through the
  // call. False stops the files: no further one is handed over.
  virtual bool write(const QString& name, const QByteArray& bytes) = 0;
};

// Never fails: garbage in gives the most readable text that can be had. The
// files are kept in `attachments`.
DecodedMail decodeMail(const QByteArray& raw);
// The same, letting go of `raw` as soon as the parser holds its own copy,
// so that a large mail is not held three times over; the files go to
// `files` instead, when given.
DecodedMail decodeMail(QByteArray&& raw, AttachmentWriter* files = nullptr);

// The two ways decodeMail reads a mail, for the test that holds them to
// each other: a mail of one plain text part straight from its bytes (none
// when the mail is not such a one), and any mail through GMime's tree.
std::optional<DecodedMail> decodeMailWithoutTree(const QByteArray& raw);
DecodedMail decodeMailThroughTree(QByteArray&& raw, AttachmentWriter* files = nullptr);

// The raw header, as the decoder reads it (HeaderScan.h).
using headerscan::bodyOffset;
using headerscan::RawMessage;
using headerscan::splitMessage;
inline QByteArray rawHeaderField(const QByteArray& header, const QByteArray& name) {
  return headerscan::fieldValue(header, name);
}

}  // namespace maillib
