#pragma once
// A mail's header read straight from its raw bytes, without a MIME parser:
// where the header block ends, the raw value of a field, folded lines made
// one. Used wherever a raw mail is looked into (the decoder, the list of
// received mails, replies, export), so that they all read a header alike.
// CR LF and bare LF lines are both accepted.
#include <QByteArray>
#include <QByteArrayList>
#include <QByteArrayView>

namespace headerscan {

// Where the empty line that ends the header block begins (`headerEnd`, 0
// when the mail starts with it) and where the body begins after it. A mail
// without the empty line is all header: both are its size.
struct Bounds {
  qsizetype headerEnd = 0;
  qsizetype bodyStart = 0;
};
Bounds bounds(const QByteArray& raw);
inline qsizetype bodyOffset(const QByteArray& raw) { return bounds(raw).bodyStart; }
// The header block without the empty line that ends it.
QByteArray headerBlock(const QByteArray& raw);

// The header block with the line break of its last line, and the body.
struct RawMessage {
  QByteArray header;
  QByteArray body;
};
RawMessage splitMessage(const QByteArray& raw);

// How a field's name is matched (any letter case either way): right before
// the colon, or with blanks before the colon allowed, as older mail writes it.
enum class NameMatch { Exact, BlanksBeforeColon };

// The first field called `name` in a header block: the rest of its first
// line after the colon, then each folded line after it, every line without
// the CR of its CR LF. Empty when there is no such field.
QByteArrayList fieldLines(const QByteArray& header, const QByteArray& name, NameMatch match = NameMatch::Exact);

// A folded value made one line: line breaks (and any CR) left out, the
// blanks of folded lines kept, blanks at both ends trimmed.
QByteArray unfold(const QByteArray& value);

// The raw value of the first field `name` in a header block, unfolded.
QByteArray fieldValue(const QByteArray& header, const QByteArray& name);

// Whether a line is a header field's first line: a name of printable
// characters without a colon, then the colon (blanks before it allowed).
bool isFieldLine(QByteArrayView line);

// In a mail whose header block stops without its empty line, where the body
// begins: the first line before the empty line that cannot be header (not
// a field, not the folded rest of one; a mailbox file's "From " line may
// come first). -1 when every line up to the empty line is header.
qsizetype strayHeaderLine(const QByteArray& raw);

}  // namespace headerscan
