#pragma once
// The texts a caller hands in as one line each, taken apart: address lists,
// the attachment list and further header fields.
#include "MailResult.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>
#include <utility>

namespace maillib {

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

// The further header fields a caller hands in as one text: "Name: value"
// lines separated by CR LF (or LF), a line that begins with a space or a
// tab continuing the one before. Only plain ASCII is taken, and no field
// the library writes itself (From, To, Subject, Date, Message-ID, the MIME
// fields, Cc, Bcc, Sender): anything else fails (the Header… codes), so a
// header can never add a recipient, split the message or go out half.
std::optional<QList<std::pair<QByteArray, QByteArray>>> parseExtraHeaders(const QString& text, Result* failure);

}  // namespace maillib
