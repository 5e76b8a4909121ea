#include "MimeDecode.h"

#include "BodyText.h"
#include "GMimeHandles.h"
#include "HeaderSyntax.h"
#include "MessageWalk.h"
#include "platform/Charset.h"

#include <QStringList>
#include <mutex>
#include <utility>

namespace maillib {

DecodedMail decodeMail(const QByteArray& raw) {
  QByteArray copy = raw;  // shared, not copied
  return decodeMail(std::move(copy));
}

DecodedMail decodeMail(QByteArray&& raw, AttachmentWriter* files) {
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
  GObjectRef<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(raw.constData(), size_t(raw.size())));
  GObjectRef<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
  const GParserOptions options(g_mime_parser_options_new());
  g_mime_parser_options_set_rfc2047_compliance_mode(options.get(), GMIME_RFC_COMPLIANCE_LOOSE);
  g_mime_parser_options_set_parameter_compliance_mode(options.get(), GMIME_RFC_COMPLIANCE_LOOSE);
  g_mime_parser_options_set_address_compliance_mode(options.get(), GMIME_RFC_COMPLIANCE_LOOSE);
  const char* fallback[] = {"utf-8", "cp932", "euc-jp", "iso-8859-1", nullptr};
  g_mime_parser_options_set_fallback_charsets(options.get(), fallback);
  GObjectRef<GMimeMessage> message(g_mime_parser_construct_message(parser.get(), options.get()));
  if (message) {
    raw = QByteArray();  // the stream holds the bytes the message refers to
    GMimeObject* mo = GMIME_OBJECT(message.get());
    mail.subject = decodeHeaderText(objectHeader(mo, "Subject"));
    QByteArray from = objectHeader(mo, "From");
    if (from.isEmpty()) from = objectHeader(mo, "Sender");
    mail.from = decodeAddresses(from);
    mail.date = cleanLine(decodeHeaderText(objectHeader(mo, "Date")));
    // The parser's copy of the mail: attached mails are cut out of it.
    GByteArray* held = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream.get()));
    const QByteArray whole = QByteArray::fromRawData(reinterpret_cast<const char*>(held->data), qsizetype(held->len));
    QList<BodyPiece> pieces = walkMessage(message.get(), whole, mail, files);
    // The parts' bytes are all out: the parsed message and its copy of the
    // mail go before the text is decoded.
    message.reset();
    parser.reset();
    stream.reset();
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
