#pragma once
// Received mail turned into what a person reads: subject, sender and date as
// text, the body as plain text, the attached files with their names. GMime
// finds the structure and undoes the transfer encodings; charsets, encoded
// words and file names are decoded here (Charsets.h), because GMime's own
// decoding loses characters that Japanese mail is full of.
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

namespace maillib {

struct MailAttachment {
  QString name;  // as the mail names it, decoded; safeFileName makes it usable
  QByteArray data;
  std::shared_ptr<const void> keep;  // owns the bytes `data` may only look into
};

struct DecodedMail {
  QString subject;
  QString from;  // "name <address>", or the address alone
  QString date;
  QString body;  // plain text, CR LF lines
  QList<MailAttachment> attachments;
  bool partial = false;  // one piece of a split message (message/partial)
};

// Never fails: garbage in gives the most readable text that can be had.
DecodedMail decodeMail(const QByteArray& raw);
// The same, letting go of `raw` as soon as the parser holds its own copy,
// so that a large mail is not held three times over.
DecodedMail decodeMail(QByteArray&& raw);

// The header block and the body of a raw message (split at the first empty
// line; bare LF accepted).
struct RawMessage {
  QByteArray header;
  QByteArray body;
};
RawMessage splitMessage(const QByteArray& raw);
// Where the body starts (after the empty line; raw.size() when there is none).
qsizetype bodyOffset(const QByteArray& raw);
// The raw value of the first header field `name` in a header block, unfolded.
QByteArray rawHeaderField(const QByteArray& header, const QByteArray& name);

// An unstructured header value (Subject …): RFC 2047 encoded words (adjacent
// words of one charset joined as bytes first), raw ISO-2022-JP and raw 8-bit
// text in whatever charset it looks like.
QString decodeHeaderText(const QByteArray& raw);
// An address header (From …) as a person reads it: "name <address>" per
// address, the address alone when there is no name; several joined by ", ".
QString decodeAddresses(const QByteArray& raw);
// A parameter of a Content-Type or Content-Disposition value, decoded:
// RFC 2231 (pieces joined as bytes before decoding), RFC 2047 inside quotes,
// raw 8-bit. Null when the parameter is absent.
QString headerParameter(const QByteArray& rawValue, const QByteArray& name);

// Readable plain text of an HTML document.
QString htmlToText(const QString& html);

// A name from a mail made safe as a file name in one folder: no folders, no
// "..", no control or direction characters, no characters Windows refuses,
// not hidden, not empty, not too long (the extension kept).
QString safeFileName(const QString& name);
// `name` in `folder` when no file of that name exists there, else
// "stem (2).ext", "stem (3).ext" …
QString freeFileName(const QString& folder, const QString& name);

// Writes each attachment into `folder` under its safe, free name. 1 = files
// written, 0 = nothing to write, -5 = a file could not be written (then
// nothing of this call is left behind). The files reach the disk with
// flushFiles. `announce`, when given, is told each full path before its
// file is created, and a false answer fails the call.
int writeAttachments(const QList<MailAttachment>& attachments, const QString& folder, QStringList* written,
                     QString* error, const std::function<bool(const QString&, QString*)>& announce = {});
// Flushes the files and the folders holding them to the disk.
bool flushFiles(const QStringList& files, QString* error);

}  // namespace maillib
