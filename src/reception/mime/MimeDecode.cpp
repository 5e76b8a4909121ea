#include "MimeDecode.h"

#include "BodyText.h"
#include "GMimeHandles.h"
#include "HeaderSyntax.h"
#include "MessageWalk.h"
#include "platform/Charset.h"

#include <QStringList>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace maillib {

namespace {

// A header block read the same by anyone: CR LF lines, each a field
// ("Name: value", the name printable ASCII right before its colon) or the
// fold of one, no NUL, no line of blanks; the fields the body depends on
// (and those shown) at most once. `names` gets the fields' names, lower case.
bool plainHeader(const QByteArray& header, QList<QByteArray>* names) {
  static const QByteArray kOnce[] = {"content-type", "content-transfer-encoding", "content-disposition", "subject",
                                     "from", "sender", "date", "mime-version"};
  qsizetype at = 0;
  while (at < header.size()) {
    const qsizetype nl = header.indexOf('\n', at);
    if (nl < 0 || nl == at || header[nl - 1] != '\r') return false;
    const QByteArray line = QByteArray::fromRawData(header.constData() + at, nl - 1 - at);
    at = nl + 1;
    if (line.contains('\r') || line.contains('\0')) return false;
    if (line.startsWith(' ') || line.startsWith('\t')) {
      if (names->isEmpty() || line.trimmed().isEmpty()) return false;
      continue;
    }
    const qsizetype colon = line.indexOf(':');
    if (colon <= 0) return false;
    for (qsizetype i = 0; i < colon; ++i)
      if (uchar(line[i]) < 33 || uchar(line[i]) > 126) return false;
    const QByteArray name = line.left(colon).toLower();
    for (const QByteArray& once : kOnce)
      if (name == once && names->contains(name)) return false;
    names->append(name);
  }
  return true;
}

// A mail of one plain text part in no transfer encoding (most mail between
// people) read straight from its bytes, without building a MIME tree: the
// same text the tree gives, in a fraction of the time. Anything else (or
// anything unusual) is left to the tree.
std::optional<DecodedMail> decodePlainText(const QByteArray& raw) {
  const qsizetype end = raw.indexOf("\r\n\r\n");
  // A line ending in a bare LF before it fails plainHeader.
  if (end <= 0) return std::nullopt;
  const QByteArray header = raw.left(end + 2);
  QList<QByteArray> names;
  if (!plainHeader(header, &names) || names.contains("content-disposition")) return std::nullopt;
  TextPart how;
  if (names.contains("content-type")) {
    const QByteArray type = rawHeaderField(header, "Content-Type");
    const qsizetype semicolon = type.indexOf(';');
    if ((semicolon < 0 ? type : type.left(semicolon)).trimmed().toLower() != "text/plain") return std::nullopt;
    const QByteArray params = semicolon < 0 ? QByteArray() : type.mid(semicolon);
    // Only plain "name=value" parameters: quoting, comments and RFC 2231
    // continuations go to the tree.
    for (char c : params)
      if (c == '"' || c == '(' || c == '*' || c == '\\' || c == '\'') return std::nullopt;
    how.charset = headerParameter(type, "charset").toLatin1().toLower();
    how.flowed = headerParameter(type, "format").toLower() == u"flowed";
    how.delsp = headerParameter(type, "delsp").toLower() == u"yes";
    if (!headerParameter(type, "name").isEmpty()) return std::nullopt;
  }
  if (names.contains("content-transfer-encoding")) {
    const QByteArray cte = rawHeaderField(header, "Content-Transfer-Encoding").trimmed().toLower();
    if (cte != "7bit" && cte != "8bit" && cte != "binary") return std::nullopt;
  }
  DecodedMail mail;
  mail.subject = decodeHeaderText(rawHeaderField(header, "Subject"));
  QByteArray from = rawHeaderField(header, "From");
  if (from.isEmpty()) from = rawHeaderField(header, "Sender");
  mail.from = decodeAddresses(from);
  mail.date = cleanLine(decodeHeaderText(rawHeaderField(header, "Date")));
  QString t = partText(QByteArray::fromRawData(raw.constData() + end + 4, raw.size() - end - 4), how);
  qsizetype last = t.size();
  while (last > 0 && (t[last - 1] == u'\n' || t[last - 1] == u'\r' || t[last - 1] == u' ')) --last;
  t.truncate(last);
  mail.body = cleanBody(std::move(t));
  return mail;
}

}  // namespace

DecodedMail decodeMail(const QByteArray& raw) {
  QByteArray copy = raw;  // shared, not copied
  return decodeMail(std::move(copy));
}

DecodedMail decodeMail(QByteArray&& raw, AttachmentWriter* files) {
  if (std::optional<DecodedMail> plain = decodePlainText(raw)) return std::move(*plain);
  return decodeMailThroughTree(std::move(raw), files);
}

std::optional<DecodedMail> decodeMailWithoutTree(const QByteArray& raw) { return decodePlainText(raw); }

DecodedMail decodeMailThroughTree(QByteArray&& raw, AttachmentWriter* files) {
  static std::once_flag gmime;
  std::call_once(gmime, [] { g_mime_init(); });
  DecodedMail mail;
  // A header block cut short (or no header at all): the empty line put in
  // where the body begins, so that no line of the body is lost. GMime would
  // drop that line and read on for header fields.
  if (const qsizetype stray = headerscan::strayHeaderLine(raw); stray >= 0) {
    const qsizetype nl = raw.indexOf('\n', stray);
    const bool crlf = stray >= 2 ? raw[stray - 2] == '\r' : (nl < 0 || (nl > 0 && raw[nl - 1] == '\r'));
    raw.insert(stray, crlf ? "\r\n" : "\n");
  }
  // The parser reads the mail where it lies, not a copy of it: the stream
  // borrows the bytes (it never writes to them, and does not own them) and
  // gives them back before `raw` lets go of them.
  GByteArray* borrowed = g_byte_array_new_take(reinterpret_cast<guint8*>(raw.data()), gsize(raw.size()));
  std::unique_ptr<GByteArray, void (*)(GByteArray*)> giveBack(borrowed,
                                                             [](GByteArray* b) { g_byte_array_steal(b, nullptr); });
  GObjectRef<GMimeStream> stream(g_mime_stream_mem_new_with_byte_array(borrowed));
  g_mime_stream_mem_set_owner(GMIME_STREAM_MEM(stream.get()), FALSE);
  GObjectRef<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
  const GParserOptions options(g_mime_parser_options_new());
  g_mime_parser_options_set_rfc2047_compliance_mode(options.get(), GMIME_RFC_COMPLIANCE_LOOSE);
  g_mime_parser_options_set_parameter_compliance_mode(options.get(), GMIME_RFC_COMPLIANCE_LOOSE);
  g_mime_parser_options_set_address_compliance_mode(options.get(), GMIME_RFC_COMPLIANCE_LOOSE);
  const char* fallback[] = {"utf-8", "cp932", "euc-jp", "iso-8859-1", nullptr};
  g_mime_parser_options_set_fallback_charsets(options.get(), fallback);
  GObjectRef<GMimeMessage> message(g_mime_parser_construct_message(parser.get(), options.get()));
  if (message) {
    GMimeObject* mo = GMIME_OBJECT(message.get());
    mail.subject = decodeHeaderText(objectHeader(mo, "Subject"));
    QByteArray from = objectHeader(mo, "From");
    if (from.isEmpty()) from = objectHeader(mo, "Sender");
    mail.from = decodeAddresses(from);
    mail.date = cleanLine(decodeHeaderText(objectHeader(mo, "Date")));
    // Attached mails are cut out of the bytes the parser read.
    QList<BodyPiece> pieces = walkMessage(message.get(), raw, mail, files);
    // The parts' bytes are all out: the parsed message and the mail go
    // before the text is decoded.
    message.reset();
    parser.reset();
    stream.reset();
    giveBack.reset();
    raw = QByteArray();
    // Each piece is decoded and taken over, not copied: a long body is large.
    QStringList texts;
    for (BodyPiece& p : pieces) {
      QString t = p.content.owner ? partText(p.content.bytes, p.how) : std::move(p.text);
      p = BodyPiece();
      qsizetype end = t.size();
      while (end > 0 && (t[end - 1] == u'\n' || t[end - 1] == u'\r' || t[end - 1] == u' ')) --end;
      t.truncate(end);
      if (!t.isEmpty()) texts.append(std::move(t));
    }
    pieces.clear();
    mail.body = cleanBody(texts.size() == 1 ? std::move(texts.front()) : texts.join(QStringLiteral("\n\n")));
  } else {
    const RawMessage parts = splitMessage(raw);
    mail.subject = decodeHeaderText(rawHeaderField(parts.header, "Subject"));
    mail.from = decodeAddresses(rawHeaderField(parts.header, "From"));
    mail.date = cleanLine(decodeHeaderText(rawHeaderField(parts.header, "Date")));
    mail.body = cleanBody(charset::decodeGuess(parts.body));
  }
  return mail;
}

}  // namespace maillib
