#pragma once
// The walk over a message GMime has parsed: which parts make the body, in
// what order, and which are files. Text parts are not decoded here: their
// bytes are kept so that they are decoded once the parsed message is gone.
#include "BodyText.h"
#include "MimeDecode.h"

#include <QList>
#include <gmime/gmime.h>
#include <memory>

namespace maillib {

// The decoded content of a part, in GLib's buffer: `bytes` looks into it
// without a copy (a large part is not held twice) while `owner` lives.
struct PartBytes {
  std::shared_ptr<GByteArray> owner;
  QByteArray bytes;
};

// A piece of the body: a text of its own, or a text part's bytes.
struct BodyPiece {
  QString text;
  PartBytes content;  // when set, the piece is this part's text
  TextPart how;
};

// Walks `message`, whose raw bytes as the parser holds them are `raw`
// (attached mails are cut out of them). Returns the body's pieces in
// reading order; each file goes to `files` as it is found, or into
// `mail.attachments` when `files` is null. Marks a split message in `mail`.
QList<BodyPiece> walkMessage(GMimeMessage* message, const QByteArray& raw, DecodedMail& mail,
                             AttachmentWriter* files);

// The raw value of header field `name` of a parsed part or message,
// unfolded; empty when it has none.
QByteArray objectHeader(GMimeObject* o, const char* name);

}  // namespace maillib
