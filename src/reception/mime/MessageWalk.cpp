#include "MessageWalk.h"

#include "Base64.h"
#include "GMimeHandles.h"
#include "HeaderSyntax.h"
#include "platform/Charset.h"
#include "platform/HeaderScan.h"

#include <QHash>
#include <QSet>
#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>

namespace maillib {

QByteArray objectHeader(GMimeObject* o, const char* name) {
  GMimeHeaderList* list = g_mime_object_get_header_list(o);
  if (!list) return {};
  GMimeHeader* h = g_mime_header_list_get_header(list, name);
  if (!h) return {};
  const char* raw = g_mime_header_get_raw_value(h);
  return raw ? headerscan::unfold(QByteArray(raw)) : QByteArray();
}

namespace {

QString extensionFor(const QByteArray& type, const QByteArray& subtype) {
  static const QHash<QByteArray, QString> known{
      {"text/plain", u"txt"_qs},       {"text/html", u"html"_qs},        {"text/calendar", u"ics"_qs},
      {"text/csv", u"csv"_qs},         {"text/x-vcard", u"vcf"_qs},      {"text/vcard", u"vcf"_qs},
      {"image/jpeg", u"jpg"_qs},       {"image/pjpeg", u"jpg"_qs},       {"image/png", u"png"_qs},
      {"image/gif", u"gif"_qs},        {"image/bmp", u"bmp"_qs},         {"image/webp", u"webp"_qs},
      {"image/tiff", u"tif"_qs},       {"application/pdf", u"pdf"_qs},   {"application/zip", u"zip"_qs},
      {"message/rfc822", u"eml"_qs},   {"audio/mpeg", u"mp3"_qs},        {"video/mp4", u"mp4"_qs},
      {"application/msword", u"doc"_qs}, {"application/vnd.ms-excel", u"xls"_qs},
      {"application/ms-tnef", u"dat"_qs}, {"application/pgp-signature", u"asc"_qs},
      {"application/pkcs7-signature", u"p7s"_qs}, {"application/x-pkcs7-signature", u"p7s"_qs},
      {"text/rtf", u"rtf"_qs},
  };
  const QByteArray key = type.toLower() + '/' + subtype.toLower();
  if (auto it = known.constFind(key); it != known.constEnd()) return *it;
  // Any other text is read as plain text, and saved as such.
  return type.toLower() == "text" ? u"txt"_qs : u"bin"_qs;
}

QByteArray lower(const char* s) { return s ? QByteArray(s).toLower() : QByteArray(); }

bool isTokenChar(char c) {
  return c > ' ' && c < 0x7F && !QByteArrayView("()<>@,;:\\\"/[]?=").contains(c);
}

// Whether a Content-Type value reads as "type/subtype", comments and
// parameters aside.
bool typeParses(const QByteArray& value) {
  QByteArray v;
  int comment = 0;
  for (char c : value) {
    if (c == '(') ++comment;
    else if (c == ')' && comment > 0) --comment;
    else if (!comment && c == ';') break;
    else if (!comment && c != ' ' && c != '\t') v.append(c);
  }
  const qsizetype slash = v.indexOf('/');
  if (slash <= 0 || slash + 1 >= v.size()) return false;
  return std::all_of(v.cbegin(), v.cend(), [](char c) { return c == '/' || isTokenChar(c); }) &&
         v.count('/') == 1;
}

struct MediaType {
  QByteArray type, subtype;  // lower case
  bool unreadable = false;   // the header's value did not parse
};

// The type a part is read as. A Content-Type that does not parse (GMime
// makes it application/octet-stream) means plain text (RFC 2045 5.2).
MediaType mediaTypeOf(GMimeObject* o) {
  GMimeContentType* ct = g_mime_object_get_content_type(o);
  if (!ct) return {"text", "plain"};
  MediaType t{lower(g_mime_content_type_get_media_type(ct)), lower(g_mime_content_type_get_media_subtype(ct))};
  if (t.type == "application" && t.subtype == "octet-stream" && !typeParses(objectHeader(o, "Content-Type")))
    return {"text", "plain", true};
  return t;
}

// Text kinds that are files to keep (an invitation, a table, an address
// card, a document); every other text is for reading (RFC 2046 4.1.4).
bool isTextFile(const QByteArray& subtype) {
  return subtype == "calendar" || subtype == "csv" || subtype == "vcard" || subtype == "x-vcard" ||
         subtype == "rtf";
}

// The encoded bytes of a part: where they lie in the parsed mail when the
// stream is a slice of it (checked against the stream's own first bytes),
// else a copy read from the stream. None when the stream cannot be read.
std::optional<QByteArray> encodedBytes(GMimeStream* source, gint64 length) {
  if (g_mime_stream_reset(source) != 0) return std::nullopt;
  const gint64 start = g_mime_stream_tell(source);
  if (GMIME_IS_STREAM_MEM(source) && start >= 0) {
    const GByteArray* all = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(source));
    if (all && start + length <= gint64(all->len)) {
      char head[64];
      const gint64 want = std::min<gint64>(length, sizeof head);
      const gint64 got = want > 0 ? g_mime_stream_read(source, head, size_t(want)) : 0;
      g_mime_stream_reset(source);
      if (got == want && std::memcmp(head, all->data + start, size_t(want)) == 0)
        return QByteArray::fromRawData(reinterpret_cast<const char*>(all->data + start), qsizetype(length));
    }
  }
  QByteArray copy(qsizetype(length), Qt::Uninitialized);
  qsizetype done = 0;
  while (done < copy.size()) {
    const gint64 got = g_mime_stream_read(source, copy.data() + done, size_t(copy.size() - done));
    if (got <= 0) break;
    done += qsizetype(got);
  }
  g_mime_stream_reset(source);
  if (done != copy.size()) return std::nullopt;
  return copy;
}

PartBytes partContent(GMimePart* part) {
  GMimeDataWrapper* w = g_mime_part_get_content(part);
  if (!w) return {};
  GMimeStream* source = g_mime_data_wrapper_get_stream(w);
  const gint64 encoded = source ? g_mime_stream_length(source) : -1;
  // base64 as mail programs write it is decoded here, straight from the
  // mail's bytes and several times faster than GMime's filter; anything
  // else goes through that filter, which takes whatever comes.
  if (encoded > 0 && encoded <= 256LL * 1024 * 1024 &&
      g_mime_data_wrapper_get_encoding(w) == GMIME_CONTENT_ENCODING_BASE64) {
    if (const std::optional<QByteArray> text = encodedBytes(source, encoded)) {
      const qsizetype room = base64DecodedRoom(text->size());
      GByteArray* ba = g_byte_array_sized_new(guint(room));
      g_byte_array_set_size(ba, guint(room));
      const qsizetype n = decodeCleanBase64(text->constData(), text->size(), ba->data);
      if (n >= 0) {
        g_byte_array_set_size(ba, guint(n));
        return {std::shared_ptr<GByteArray>(ba, g_byte_array_unref),
                QByteArray::fromRawData(reinterpret_cast<const char*>(ba->data), n)};
      }
      g_byte_array_unref(ba);
    }
  }
  // Sized for the encoded content, which the decoded never exceeds by much.
  GByteArray* ba = g_byte_array_sized_new(guint(std::clamp<gint64>(encoded, 0, 64 * 1024 * 1024)));
  PartBytes out{std::shared_ptr<GByteArray>(ba, g_byte_array_unref), {}};
  {
    const GObjectRef<GMimeStream> mem(g_mime_stream_mem_new_with_byte_array(ba));
    g_mime_stream_mem_set_owner(GMIME_STREAM_MEM(mem.get()), FALSE);
    g_mime_data_wrapper_write_to_stream(w, mem.get());
    ba = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem.get()));
  }
  out.bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(ba->data), qsizetype(ba->len));
  return out;
}

// Where an entity (a header block and its body) lies in the raw mail.
struct Range {
  qsizetype begin = 0;
  qsizetype end = -1;  // -1: not known
  bool known() const { return end >= begin; }
};

qsizetype entityBody(const QByteArray& raw, Range r) {
  const QByteArray entity = QByteArray::fromRawData(raw.constData() + r.begin, r.end - r.begin);
  return r.begin + headerscan::bodyOffset(entity);
}

// The parts of a multipart entity as they lie in the raw mail, between its
// delimiter lines ("--boundary", the line break before it belonging to it).
// Empty when they cannot be found.
QList<Range> partRanges(const QByteArray& raw, Range entity, const QByteArray& boundary) {
  QList<Range> parts;
  if (!entity.known() || boundary.isEmpty()) return parts;
  const QByteArray delimiter = "--" + boundary;
  qsizetype open = -1;
  auto close = [&](qsizetype lineStart) {
    if (open < 0) return;
    qsizetype e = lineStart;
    if (e - 2 >= open && raw[e - 2] == '\r' && raw[e - 1] == '\n') {
      e -= 2;
    } else if (e - 1 >= open && raw[e - 1] == '\n') {
      e -= 1;
    }
    parts.append({open, e});
  };
  for (qsizetype at = entityBody(raw, entity); at < entity.end;) {
    const qsizetype nl = raw.indexOf('\n', at);
    const qsizetype next = (nl < 0 || nl >= entity.end) ? entity.end : nl + 1;
    QByteArrayView line(raw.constData() + at, next - at);
    if (line.startsWith(delimiter)) {
      QByteArrayView rest = line.sliced(delimiter.size());
      if (rest.startsWith("--")) {
        close(at);
        return parts;
      }
      if (rest.trimmed().isEmpty()) {
        close(at);
        open = next;
      }
    }
    at = next;
  }
  close(entity.end);
  return parts;
}

bool holdsMessagePart(GMimeObject* o) {
  if (GMIME_IS_MESSAGE_PART(o)) return true;
  if (!GMIME_IS_MULTIPART(o)) return false;
  GMimeMultipart* mp = GMIME_MULTIPART(o);
  for (int i = 0; i < g_mime_multipart_get_count(mp); ++i)
    if (holdsMessagePart(g_mime_multipart_get_part(mp, i))) return true;
  return false;
}

struct Walker {
  DecodedMail& out;
  const QByteArray& raw;  // the mail the parser holds
  AttachmentWriter* writer;  // null: the files are kept in `out`
  QList<BodyPiece> pieces;
  bool writerStopped = false;  // the writer refused one: no more are handed over
  QHash<QString, int> unnamed;  // names made from types so far, per kind
  bool unnamedText = false;     // a text without a file name read in this message so far

  BodyPiece textOf(GMimeObject* o) {
    const MediaType type = mediaTypeOf(o);
    BodyPiece p;
    p.content = partContent(GMIME_PART(o));
    TextPart& how = p.how;
    how.charset = lower(g_mime_object_get_content_type_parameter(o, "charset"));
    // GMime keeps no parameters of a type it could not read: a charset the
    // sender named is still used.
    if (type.unreadable) how.charset = headerParameter(objectHeader(o, "Content-Type"), "charset").toLatin1().toLower();
    how.html = type.subtype == "html";
    how.flowed = !how.html && lower(g_mime_object_get_content_type_parameter(o, "format")) == "flowed";
    how.delsp = lower(g_mime_object_get_content_type_parameter(o, "delsp")) == "yes";
    return p;
  }

  // A file of the mail, to the writer at once (its bytes go when it has
  // them), or kept.
  void keep(const QString& name, PartBytes content) {
    if (!writer) {
      out.attachments.append({name, content.bytes, std::move(content.owner)});
    } else if (!writerStopped) {
      writerStopped = !writer->write(name, content.bytes);
    }
  }

  QString fileNameOf(GMimeObject* o) {
    QString name = headerParameter(objectHeader(o, "Content-Disposition"), "filename");
    if (name.trimmed().isEmpty()) name = headerParameter(objectHeader(o, "Content-Type"), "name");
    return cleanLine(name);
  }

  // A name for a part that has none: its kind and a number ("image1.png").
  QString nameFromType(GMimeObject* o) {
    const MediaType t = mediaTypeOf(o);
    static const QSet<QByteArray> kinds{"image", "audio", "video", "text", "message"};
    const QString kind = kinds.contains(t.type) ? QString::fromLatin1(t.type) : QStringLiteral("file");
    return kind + QString::number(++unnamed[kind]) + u'.' + extensionFor(t.type, t.subtype);
  }

  bool isAttachmentDisposition(GMimeObject* o) {
    GMimeContentDisposition* cd = g_mime_object_get_content_disposition(o);
    return cd && lower(g_mime_content_disposition_get_disposition(cd)) == "attachment";
  }

  // Text to read: plain, HTML, or a text kind not known here (read as
  // plain); not a text kind that is a file of its own.
  bool isText(GMimeObject* o, bool* html) {
    const MediaType t = mediaTypeOf(o);
    if (html) *html = t.type == "text" && t.subtype == "html";
    return t.type == "text" && !isTextFile(t.subtype);
  }

  // A text that is one version of the body, not a file.
  bool isBodyText(GMimeObject* o) {
    bool html = false;
    return GMIME_IS_PART(o) && !GMIME_IS_MESSAGE_PARTIAL(o) && isText(o, &html) && !isAttachmentDisposition(o) &&
           fileNameOf(o).isEmpty();
  }

  static bool isMessageType(GMimeObject* o) {
    GMimeContentType* ct = g_mime_object_get_content_type(o);
    return ct && lower(g_mime_content_type_get_media_type(ct)) == "message" &&
           lower(g_mime_content_type_get_media_subtype(ct)) == "rfc822";
  }

  static QString asEml(QString name) {
    return name.endsWith(QStringLiteral(".eml"), Qt::CaseInsensitive) ? name : name + QStringLiteral(".eml");
  }

  void attach(GMimeObject* o) { attach(o, partContent(GMIME_PART(o))); }
  void attach(GMimeObject* o, PartBytes content) {
    QString name = fileNameOf(o);
    if (name.isEmpty()) name = nameFromType(o);
    // A mail sent encoded (base64) is a part to GMime: still a mail file.
    if (isMessageType(o)) name = asEml(name);
    keep(name, std::move(content));
  }

  // An attached mail as a file of its own bytes, as it lies in the mail.
  void attachMessage(GMimeMessagePart* part, Range r) {
    GMimeObject* o = GMIME_OBJECT(part);
    QString name = fileNameOf(o);
    name = asEml(name.isEmpty() ? nameFromType(o) : name);
    QByteArray bytes;
    if (r.known()) {
      bytes = raw.mid(entityBody(raw, r), r.end - entityBody(raw, r));
    } else if (GMimeMessage* inner = g_mime_message_part_get_message(part)) {
      // Where the parts could not be told apart by their delimiters, the
      // parser's own rendering of the mail.
      char* text = g_mime_object_to_string(GMIME_OBJECT(inner), nullptr);
      bytes = QByteArray(text);
      g_free(text);
    }
    keep(name, {nullptr, bytes});
  }

  void addText(const QString& t) { pieces.append(BodyPiece{t, {}, {}}); }

  void message(GMimeMessage* m, bool nested, Range r) {
    GMimeObject* mo = GMIME_OBJECT(m);
    if (nested) {
      QString head = QStringLiteral("―――――― 添付されたメール ――――――\n");
      const QString s = decodeHeaderText(objectHeader(mo, "Subject"));
      const QString f = decodeAddresses(objectHeader(mo, "From"));
      const QString d = cleanLine(decodeHeaderText(objectHeader(mo, "Date")));
      head += QStringLiteral("Subject: ") + cleanLine(s) + u'\n';
      head += QStringLiteral("From: ") + f + u'\n';
      head += QStringLiteral("Date: ") + d;
      addText(head);
    }
    // The message's own header is its body part's header as well. An
    // attached mail's texts count for it alone.
    const bool outer = std::exchange(unnamedText, false);
    if (GMimeObject* body = g_mime_message_get_mime_part(m)) object(body, true, r);
    unnamedText = outer;
  }

  // The inner mail of a message part: where it lies, and the mail itself.
  Range innerRange(Range r) {
    if (!r.known()) return r;
    return {entityBody(raw, r), r.end};
  }

  void object(GMimeObject* o, bool topOfMessage, Range r) {
    if (GMIME_IS_MESSAGE_PART(o)) {
      GMimeMessagePart* part = GMIME_MESSAGE_PART(o);
      attachMessage(part, r);
      // Its text is shown too, and its own files are saved as before.
      if (GMimeMessage* inner = g_mime_message_part_get_message(part)) message(inner, true, innerRange(r));
      return;
    }
    if (GMIME_IS_MESSAGE_PARTIAL(o)) {
      out.partial = true;
      addText(charset::decodeGuess(partContent(GMIME_PART(o)).bytes));
      return;
    }
    if (GMIME_IS_MULTIPART(o)) {
      multipart(GMIME_MULTIPART(o), r);
      return;
    }
    if (!GMIME_IS_PART(o)) return;
    bool html = false;
    const bool text = isText(o, &html) && !isAttachmentDisposition(o);
    const bool named = !fileNameOf(o).isEmpty();
    if (text && (topOfMessage || !named)) {
      // The whole message being one text part: that is the body, whatever
      // it is called.
      pieces.append(textOf(o));
      unnamedText = unnamedText || !named;
    } else if (text && !html && !unnamedText) {
      // An inline text that names a file is meant to be read (RFC 2183):
      // the body, unless a text without a name came before it, and the
      // file it names all the same.
      BodyPiece p = textOf(o);
      attach(o, p.content);
      pieces.append(std::move(p));
    } else {
      attach(o);
    }
  }

  // The files of a part not read as the body (another version of it, a
  // picture an HTML page shows): everything but its versions of the text.
  void files(GMimeObject* o, Range r, bool resource) {
    if (GMIME_IS_MESSAGE_PART(o)) {
      attachMessage(GMIME_MESSAGE_PART(o), r);
      if (GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(o)))
        if (GMimeObject* body = g_mime_message_get_mime_part(inner)) files(body, innerRange(r), false);
      return;
    }
    if (GMIME_IS_MULTIPART(o)) {
      GMimeMultipart* mp = GMIME_MULTIPART(o);
      const QList<Range> ranges = childRanges(mp, r);
      // The signature of a signed part is not for reading.
      GMimeContentType* ct = g_mime_object_get_content_type(o);
      const int n = lower(ct ? g_mime_content_type_get_media_subtype(ct) : nullptr) == "signed"
                        ? std::min(1, g_mime_multipart_get_count(mp))
                        : g_mime_multipart_get_count(mp);
      for (int i = 0; i < n; ++i) files(g_mime_multipart_get_part(mp, i), ranges.value(i), false);
      return;
    }
    if (!GMIME_IS_PART(o) || GMIME_IS_MESSAGE_PARTIAL(o)) return;
    if (!resource && isBodyText(o)) return;
    attach(o);
  }

  // True when `o` is or holds a text/plain body.
  bool holdsPlain(GMimeObject* o) {
    if (GMIME_IS_MULTIPART(o)) {
      GMimeMultipart* mp = GMIME_MULTIPART(o);
      for (int i = 0; i < g_mime_multipart_get_count(mp); ++i)
        if (holdsPlain(g_mime_multipart_get_part(mp, i))) return true;
      return false;
    }
    if (!GMIME_IS_PART(o) || GMIME_IS_MESSAGE_PARTIAL(o) || isAttachmentDisposition(o)) return false;
    const MediaType t = mediaTypeOf(o);
    return t.type == "text" && t.subtype == "plain";
  }

  // The children's places in the raw mail, looked for only where an
  // attached mail needs its own bytes; unknown when they do not add up.
  QList<Range> childRanges(GMimeMultipart* mp, Range r) {
    if (!r.known() || !holdsMessagePart(GMIME_OBJECT(mp))) return {};
    const char* boundary = g_mime_multipart_get_boundary(mp);
    QList<Range> ranges = partRanges(raw, r, boundary ? QByteArray(boundary) : QByteArray());
    if (ranges.size() != g_mime_multipart_get_count(mp)) return {};
    return ranges;
  }

  void multipart(GMimeMultipart* mp, Range r) {
    GMimeContentType* ct = g_mime_object_get_content_type(GMIME_OBJECT(mp));
    const QByteArray sub = lower(ct ? g_mime_content_type_get_media_subtype(ct) : nullptr);
    const int n = g_mime_multipart_get_count(mp);
    if (n <= 0) return;
    const QList<Range> ranges = childRanges(mp, r);
    if (sub == "alternative") {
      // The plain-text version when there is one (the last, as the sender
      // ordered them by preference), else the richest (last) version; the
      // pictures and files of the other versions are saved all the same.
      int pick = -1;
      for (int i = 0; i < n; ++i)
        if (holdsPlain(g_mime_multipart_get_part(mp, i))) pick = i;
      if (pick < 0) pick = n - 1;
      object(g_mime_multipart_get_part(mp, pick), false, ranges.value(pick));
      for (int i = 0; i < n; ++i)
        if (i != pick) files(g_mime_multipart_get_part(mp, i), ranges.value(i), false);
      return;
    }
    if (sub == "related") {
      // The root document, and every piece it shows, named or not.
      object(g_mime_multipart_get_part(mp, 0), false, ranges.value(0));
      for (int i = 1; i < n; ++i) files(g_mime_multipart_get_part(mp, i), ranges.value(i), true);
      return;
    }
    if (sub == "signed") {
      object(g_mime_multipart_get_part(mp, 0), false, ranges.value(0));  // the signature is not for reading
      return;
    }
    for (int i = 0; i < n; ++i) object(g_mime_multipart_get_part(mp, i), false, ranges.value(i));
  }
};

}  // namespace

QList<BodyPiece> walkMessage(GMimeMessage* message, const QByteArray& raw, DecodedMail& mail,
                             AttachmentWriter* files) {
  Walker w{mail, raw, files, {}, false, {}, false};
  w.message(message, false, {0, raw.size()});
  return std::move(w.pieces);
}

}  // namespace maillib
