#pragma once
// Building an outgoing message: the header texts (RFC 2047 encoded words,
// folded), the text part (ISO-2022-JP when the text fits it, UTF-8
// otherwise) and the attached files (base64, names in RFC 2231 form).
// Everything this produces uses CR LF line ends, ready for SMTP.
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
};

// The further header fields a caller hands in as one text: "Name: value"
// lines separated by CR LF (or LF), a line that begins with a space or a
// tab continuing the one before. Only plain ASCII is taken, and no field
// the library writes itself (From, To, Subject, Date, Message-ID, the MIME
// fields, Cc, Bcc, Sender): anything else fails with a sentence, so a
// header can never add a recipient, split the message or go out half.
std::optional<QList<std::pair<QByteArray, QByteArray>>> parseExtraHeaders(const QString& text, QString* error);

// The items of an address list: split at "," and ";" outside quotes and
// angle brackets, each trimmed, empty items dropped.
QStringList splitAddressList(const QString& list);
// The bare address of one item: the text inside <…> when there is one,
// otherwise the whole item trimmed.
QString bareAddress(const QString& item);

// The attachment list split at commas into paths. A piece that names no
// file is joined with the following pieces while that gives an existing
// file, so a path holding a comma still arrives whole.
QStringList splitAttachmentList(const QString& list);

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

// The whole message, CR LF throughout. Fails with a sentence naming the
// file when an attached file cannot be read.
std::optional<QByteArray> buildMessage(const OutgoingMail& mail, QString* error);

}  // namespace maillib
