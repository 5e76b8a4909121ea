#pragma once
// Building an outgoing message: the header texts (RFC 2047 encoded words,
// folded), the text part (ISO-2022-JP when the text fits it, UTF-8
// otherwise) and the attached files (base64, names in RFC 2231 form).
// Everything this produces uses CR LF line ends, ready for SMTP.
#include "MailFields.h"
#include "MailResult.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>
#include <utility>

namespace maillib {

struct OutgoingMail {
  QString from;     // the sender, "addr" or "Name <addr>"
  QString to;       // the recipient text as typed: addresses separated by "," or ";"
  QString subject;
  QString body;
  QStringList attachments;  // full paths, read when the message is built
  // Further header fields, each a name and its value (folded with "\n "),
  // written after the ones the library writes itself.
  QList<std::pair<QByteArray, QByteArray>> extraHeaders;
  // Further address lists whose addresses get the mail without being named
  // in the header: the envelope only.
  QStringList unlisted;
};

// The text in ISO-2022-JP when every character has a code there.
std::optional<QByteArray> toIso2022jp(const QString& text);

// An unstructured header value (a subject): plain ASCII stays as it is,
// anything else becomes encoded words of at most 75 characters, each
// decoding to whole characters. Lines are folded with "\n " and kept within
// 76 characters where possible; `used` is the length already taken on the
// first line ("Subject: " = 9).
QByteArray encodeUnstructured(const QString& value, int used);
// An address list for From or To: display names outside ASCII become
// encoded words, addresses stay as typed, items are joined by ", ".
QByteArray encodeAddressList(const QString& list, int used);

// The whole message, CR LF throughout. Fails when a text meant for one
// header line holds a line break (…LineBreak) or an attached file cannot be
// read (Attachment…, the path as the detail).
std::optional<QByteArray> buildMessage(const OutgoingMail& mail, Result* failure);

}  // namespace maillib
