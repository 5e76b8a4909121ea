// GLib headers use "signals" as a name: no Qt keywords in this file.
#define QT_NO_KEYWORDS
#include "ParsedMail.h"

#include "reception/mime/GMimeHandles.h"

#include <mutex>

using maillib::GObjectRef;
using maillib::GPartIter;
using maillib::GText;

namespace {

void initOnce() {
  static std::once_flag once;
  std::call_once(once, [] { g_mime_init(); });
}

QString fromUtf8(const char* s) { return s ? QString::fromUtf8(s) : QString(); }

QByteArray partBytes(GMimePart* part) {
  GMimeDataWrapper* w = g_mime_part_get_content(part);
  if (!w) return {};
  const GObjectRef<GMimeStream> out(g_mime_stream_mem_new());
  g_mime_data_wrapper_write_to_stream(w, out.get());
  GByteArray* ba = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out.get()));
  return QByteArray(reinterpret_cast<const char*>(ba->data), qsizetype(ba->len));
}

}  // namespace

QByteArray ParsedMail::rawHeader(const QByteArray& name) const {
  QByteArray value;
  bool in = false;
  for (const QByteArray& line : headerBlock.split('\n')) {
    const QByteArray l = line.endsWith('\r') ? line.chopped(1) : line;
    if (!l.isEmpty() && (l[0] == ' ' || l[0] == '\t')) {
      if (in) value += l;
      continue;
    }
    in = l.toLower().startsWith(name.toLower() + ':');
    if (in) value = l.mid(name.size() + 1).trimmed();
  }
  return value;
}

QString decodeHeaderText(const QByteArray& text) {
  initOnce();
  const GText d(g_mime_utils_header_decode_text(nullptr, text.constData()));
  return fromUtf8(d.get());
}

ParsedMail parseMail(const QByteArray& raw) {
  initOnce();
  ParsedMail m;
  const qsizetype end = raw.indexOf("\r\n\r\n");
  m.headerBlock = raw.left(end < 0 ? raw.size() : end + 2);

  GObjectRef<GMimeMessage> message;
  {
    const GObjectRef<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(raw.constData(), size_t(raw.size())));
    const GObjectRef<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    message.reset(g_mime_parser_construct_message(parser.get(), nullptr));
  }
  if (!message) return m;
  m.ok = true;
  m.subject = fromUtf8(g_mime_message_get_subject(message.get()));
  auto list = [](InternetAddressList* l) {
    if (!l) return QString();
    const GText s(internet_address_list_to_string(l, nullptr, FALSE));
    return fromUtf8(s.get());
  };
  m.from = list(g_mime_message_get_from(message.get()));
  m.to = list(g_mime_message_get_to(message.get()));
  m.date = QString::fromLatin1(m.rawHeader("Date"));
  m.messageId = QString::fromLatin1(m.rawHeader("Message-Id"));
  m.mimeVersion = QString::fromLatin1(m.rawHeader("MIME-Version"));

  const GPartIter it(g_mime_part_iter_new(GMIME_OBJECT(message.get())));
  bool textSeen = false;
  auto visit = [&](GMimeObject* obj) {
    if (!GMIME_IS_PART(obj)) return;
    GMimePart* part = GMIME_PART(obj);
    GMimeContentType* ct = g_mime_object_get_content_type(obj);
    const QString type = fromUtf8(GText(g_mime_content_type_get_mime_type(ct)).get());
    const char* filename = g_mime_part_get_filename(part);
    if (!textSeen && GMIME_IS_TEXT_PART(obj) && !filename) {
      textSeen = true;
      m.textCharset = fromUtf8(g_mime_object_get_content_type_parameter(obj, "charset"));
      m.textEncoding = fromUtf8(g_mime_content_encoding_to_string(g_mime_part_get_content_encoding(part)));
      m.text = fromUtf8(GText(g_mime_text_part_get_text(GMIME_TEXT_PART(obj))).get());
      return;
    }
    m.attachments << ParsedMail::Attachment{fromUtf8(filename), type, partBytes(part)};
  };
  if (g_mime_part_iter_is_valid(it.get())) {
    do {
      visit(g_mime_part_iter_get_current(it.get()));
    } while (g_mime_part_iter_next(it.get()));
  }
  return m;
}
