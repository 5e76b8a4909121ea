// GLib headers use "signals" as a name: no Qt keywords in this file.
#define QT_NO_KEYWORDS
#include "ParsedMail.h"

#include <gmime/gmime.h>
#include <mutex>

namespace {

void initOnce() {
  static std::once_flag once;
  std::call_once(once, [] { g_mime_init(); });
}

QString fromUtf8(const char* s) { return s ? QString::fromUtf8(s) : QString(); }

QByteArray partBytes(GMimePart* part) {
  GMimeDataWrapper* w = g_mime_part_get_content(part);
  if (!w) return {};
  GMimeStream* out = g_mime_stream_mem_new();
  g_mime_data_wrapper_write_to_stream(w, out);
  GByteArray* ba = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out));
  QByteArray bytes(reinterpret_cast<const char*>(ba->data), qsizetype(ba->len));
  g_object_unref(out);
  return bytes;
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
  char* d = g_mime_utils_header_decode_text(nullptr, text.constData());
  QString s = fromUtf8(d);
  g_free(d);
  return s;
}

ParsedMail parseMail(const QByteArray& raw) {
  initOnce();
  ParsedMail m;
  const qsizetype end = raw.indexOf("\r\n\r\n");
  m.headerBlock = raw.left(end < 0 ? raw.size() : end + 2);

  GMimeStream* stream = g_mime_stream_mem_new_with_buffer(raw.constData(), size_t(raw.size()));
  GMimeParser* parser = g_mime_parser_new_with_stream(stream);
  GMimeMessage* message = g_mime_parser_construct_message(parser, nullptr);
  g_object_unref(parser);
  g_object_unref(stream);
  if (!message) return m;
  m.ok = true;
  m.subject = fromUtf8(g_mime_message_get_subject(message));
  auto list = [](InternetAddressList* l) {
    if (!l) return QString();
    char* s = internet_address_list_to_string(l, nullptr, FALSE);
    QString out = fromUtf8(s);
    g_free(s);
    return out;
  };
  m.from = list(g_mime_message_get_from(message));
  m.to = list(g_mime_message_get_to(message));
  m.date = QString::fromLatin1(m.rawHeader("Date"));
  m.messageId = QString::fromLatin1(m.rawHeader("Message-Id"));
  m.mimeVersion = QString::fromLatin1(m.rawHeader("MIME-Version"));

  GMimePartIter* it = g_mime_part_iter_new(GMIME_OBJECT(message));
  bool textSeen = false;
  auto visit = [&](GMimeObject* obj) {
    if (!GMIME_IS_PART(obj)) return;
    GMimePart* part = GMIME_PART(obj);
    GMimeContentType* ct = g_mime_object_get_content_type(obj);
    char* mime = g_mime_content_type_get_mime_type(ct);
    const QString type = fromUtf8(mime);
    g_free(mime);
    const char* filename = g_mime_part_get_filename(part);
    if (!textSeen && GMIME_IS_TEXT_PART(obj) && !filename) {
      textSeen = true;
      m.textCharset = fromUtf8(g_mime_object_get_content_type_parameter(obj, "charset"));
      m.textEncoding = fromUtf8(g_mime_content_encoding_to_string(g_mime_part_get_content_encoding(part)));
      char* t = g_mime_text_part_get_text(GMIME_TEXT_PART(obj));
      m.text = fromUtf8(t);
      g_free(t);
      return;
    }
    m.attachments << ParsedMail::Attachment{fromUtf8(filename), type, partBytes(part)};
  };
  if (g_mime_part_iter_is_valid(it)) {
    do {
      visit(g_mime_part_iter_get_current(it));
    } while (g_mime_part_iter_next(it));
  }
  g_mime_part_iter_free(it);
  g_object_unref(message);
  return m;
}
