#include "MimeBuild.h"

#include "MailLibCommon.h"
#include "platform/Handles.h"
#include "platform/Text.h"

#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <algorithm>
#include <cerrno>
#include <gmime/gmime.h>
#include <iconv.h>

namespace maillib {
namespace {

// A GMime object and the reference it holds.
template <class T>
using GObject = handles::Owned<T, g_object_unref>;

// Lines of a header are kept within this many characters where possible.
constexpr int kLineLimit = 76;
// RFC 2047: an encoded word is at most 75 characters long.
constexpr int kMaxWord = 75;
// RFC 5321: a line of the message body is at most 998 octets.
constexpr int kMaxBodyLine = 998;

bool isPrintableAscii(const QString& s) {
  for (QChar c : s)
    if (c.unicode() < 0x20 || c.unicode() > 0x7E) return false;
  return true;
}

// Line breaks and tabs have no place inside one header line.
QString flatten(const QString& s) {
  QString out = s;
  for (QChar& c : out)
    if (c == u'\r' || c == u'\n' || c == u'\t') c = u' ';
  return out;
}

// The text split into whole code points, so a surrogate pair is never cut.
QStringList codePoints(const QString& s) {
  QStringList out;
  for (qsizetype i = 0; i < s.size(); ++i) {
    if (s[i].isHighSurrogate() && i + 1 < s.size() && s[i + 1].isLowSurrogate()) {
      out << s.mid(i, 2);
      ++i;
    } else {
      out << QString(s[i]);
    }
  }
  return out;
}

// RFC 2047 Q form of UTF-8 bytes, with only the characters that are safe
// in every header position left as they are.
QByteArray qEncoded(const QByteArray& bytes) {
  QByteArray out;
  for (unsigned char c : bytes) {
    if (c == ' ') {
      out += '_';
    } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '!' || c == '*' ||
               c == '+' || c == '-' || c == '/') {
      out += char(c);
    } else {
      out += '=';
      out += QByteArray::number(c, 16).toUpper().rightJustified(2, '0');
    }
  }
  return out;
}

// Encoded words for `text`, the first at most `firstMax` characters long,
// the others at most 75. Each word is a complete piece of its own: in
// ISO-2022-JP it starts and ends in ASCII state, so every word decodes alone.
//
// Readers that join adjacent words of one charset and encoding before
// decoding (GMime does) lose everything after a base64 "=" padding inside
// the run. So every word but the last carries a multiple of 3 bytes; where
// no split point gives that, the padded word is followed by a word in the
// Q form, which such readers do not join with it.
QList<QByteArray> encodedWords(const QString& text, int firstMax) {
  const bool jis = toIso2022jp(text).has_value();
  const QByteArray prefix = jis ? QByteArrayLiteral("=?ISO-2022-JP?B?") : QByteArrayLiteral("=?UTF-8?B?");
  const QStringList all = codePoints(text);
  auto joined = [&](qsizetype from, qsizetype n) { return all.mid(from, n).join(QString()); };
  auto bytesOf = [&](qsizetype from, qsizetype n) {
    const QString s = joined(from, n);
    return jis ? toIso2022jp(s).value_or(QByteArray()) : s.toUtf8();
  };
  auto bWord = [&](qsizetype from, qsizetype n) { return prefix + bytesOf(from, n).toBase64() + "?="; };
  auto qWord = [&](qsizetype from, qsizetype n) { return "=?UTF-8?Q?" + qEncoded(joined(from, n).toUtf8()) + "?="; };

  QList<QByteArray> words;
  qsizetype pos = 0;
  int max = firstMax;
  bool qNext = false;
  while (pos < all.size()) {
    auto make = [&](qsizetype from, qsizetype count) { return qNext ? qWord(from, count) : bWord(from, count); };
    // The longest run of characters that fits (at least one).
    qsizetype n = 1;
    while (pos + n < all.size() && make(pos, n + 1).size() <= max) ++n;
    bool padded = false;
    if (!qNext && pos + n < all.size()) {
      qsizetype k = n;
      while (k >= 1 && bytesOf(pos, k).size() % 3 != 0) --k;
      if (k >= 1)
        n = k;
      else
        padded = bytesOf(pos, n).size() % 3 != 0;
    }
    words << make(pos, n);
    pos += n;
    max = kMaxWord;
    qNext = padded;
  }
  return words;
}

// Joins atoms with single spaces, folding ("\n ") in place of a space where
// the line would grow past the limit.
class Folder {
 public:
  explicit Folder(int used) : line_(used) {}
  void add(const QByteArray& atom, bool spaceBefore = true) {
    if (first_) {
      out_ += atom;
      line_ += int(atom.size());
      first_ = false;
      return;
    }
    if (spaceBefore && line_ + 1 + atom.size() > kLineLimit) {
      out_ += "\n ";
      line_ = 1;
    } else if (spaceBefore) {
      out_ += ' ';
      ++line_;
    }
    out_ += atom;
    line_ += int(atom.size());
  }
  QByteArray result() const { return out_; }

 private:
  QByteArray out_;
  int line_;
  bool first_ = true;
};

QByteArray quoted(const QString& s) {
  QByteArray out = "\"";
  for (char c : s.toLatin1()) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + '"';
}

// One address item for a header: kept as typed when it is plain ASCII; a
// display name outside ASCII becomes encoded words before "<address>".
void addAddressItem(Folder& f, const QString& item, bool last) {
  const QByteArray comma = last ? QByteArray() : QByteArrayLiteral(",");
  if (isPrintableAscii(item)) {
    // Atoms split at spaces, so a long list folds between words.
    const QStringList parts = item.split(u' ');
    for (qsizetype i = 0; i < parts.size(); ++i)
      f.add(parts[i].toLatin1() + (i + 1 == parts.size() ? comma : QByteArray()));
    return;
  }
  const qsizetype lt = item.lastIndexOf(u'<');
  if (lt < 0 || !item.endsWith(u'>')) {
    // An address outside ASCII has no encoded form; it goes over as UTF-8.
    f.add(item.toUtf8() + comma);
    return;
  }
  QString name = item.left(lt).trimmed();
  if (name.size() >= 2 && name.startsWith(u'"') && name.endsWith(u'"')) name = name.mid(1, name.size() - 2);
  const QString address = item.mid(lt);
  if (!name.isEmpty()) {
    if (isPrintableAscii(name)) {
      f.add(quoted(name));
    } else {
      for (const QByteArray& w : encodedWords(name, kMaxWord)) f.add(w);
    }
  }
  f.add(address.toUtf8() + comma);
}

// RFC 2231 attribute characters: everything else is written as %XX.
bool isAttrChar(unsigned char c) {
  if (c >= 'a' && c <= 'z') return true;
  if (c >= 'A' && c <= 'Z') return true;
  if (c >= '0' && c <= '9') return true;
  return QByteArray("!#$&+-.^_`|~").contains(char(c));
}

QByteArray percentEncoded(const QString& s) {
  QByteArray out;
  for (unsigned char c : s.toUtf8()) {
    if (isAttrChar(c)) {
      out += char(c);
    } else {
      out += '%';
      out += QByteArray::number(c, 16).toUpper().rightJustified(2, '0');
    }
  }
  return out;
}

// A file-name parameter. Plain ASCII names are quoted; others are written
// in RFC 2231 form as UTF-8, split into numbered pieces at character
// boundaries when one line would not hold them (some readers decode each
// piece alone).
QByteArray fileNameParameter(const QByteArray& attribute, const QString& name) {
  if (isPrintableAscii(name)) return ";\n " + attribute + '=' + quoted(name);
  const QByteArray whole = attribute + "*=UTF-8''" + percentEncoded(name);
  if (1 + whole.size() + 1 <= kLineLimit) return ";\n " + whole;
  QByteArray out;
  QByteArray piece;
  int n = 0;
  auto head = [&] {
    return attribute + '*' + QByteArray::number(n) + "*=" + (n == 0 ? QByteArrayLiteral("UTF-8''") : QByteArray());
  };
  for (const QString& cp : codePoints(name)) {
    const QByteArray enc = percentEncoded(cp);
    if (!piece.isEmpty() && 1 + head().size() + piece.size() + enc.size() + 1 > kLineLimit) {
      out += ";\n " + head() + piece;
      ++n;
      piece.clear();
    }
    piece += enc;
  }
  out += ";\n " + head() + piece;
  return out;
}

// The same name for readers that look only at the Content-Type's "name":
// encoded words inside quotes, as the common mail programs write it.
QByteArray nameParameter(const QString& name) {
  if (isPrintableAscii(name)) return ";\n name=" + quoted(name);
  QByteArray out = ";\n name=\"";
  const QList<QByteArray> words = encodedWords(name, kLineLimit - 8);
  for (qsizetype i = 0; i < words.size(); ++i) out += (i ? QByteArrayLiteral("\n ") : QByteArray()) + words[i];
  return out + '"';
}

// Replaces what GMime would write after "Name:" with our own text.
void setRawHeader(GMimeObject* object, const char* name, const QByteArray& value) {
  g_mime_object_set_header(object, name, "", nullptr);
  GMimeHeader* h = g_mime_header_list_get_header(g_mime_object_get_header_list(object), name);
  const QByteArray raw = (value.isEmpty() ? QByteArray() : QByteArrayLiteral(" ") + value) + '\n';
  g_mime_header_set_raw_value(h, raw.constData());
}

// Content from bytes; GMime takes its own copy.
void setContent(GMimePart* part, const QByteArray& bytes) {
  const GObject<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(bytes.constData(), size_t(bytes.size())));
  const GObject<GMimeDataWrapper> wrapper(
      g_mime_data_wrapper_new_with_stream(stream.get(), GMIME_CONTENT_ENCODING_DEFAULT));
  g_mime_part_set_content(part, wrapper.get());
}

bool hasLongLine(const QByteArray& bytes) {
  for (const QByteArray& line : bytes.split('\n')) {
    const qsizetype len = line.endsWith('\r') ? line.size() - 1 : line.size();
    if (len > kMaxBodyLine) return true;
  }
  return false;
}

bool isAscii(const QString& s) {
  for (QChar c : s)
    if (c.unicode() > 0x7F) return false;
  return true;
}

GObject<GMimePart> textPart(const QString& body) {
  QString text = text::toCrLf(body);
  // Text lines end with CR LF, the last one included.
  if (!text.isEmpty() && !text.endsWith(u'\n')) text += QStringLiteral("\r\n");
  GObject<GMimePart> owned(g_mime_part_new_with_type("text", "plain"));
  GMimePart* part = owned.get();
  GMimeObject* obj = GMIME_OBJECT(part);
  QByteArray bytes;
  const std::optional<QByteArray> jis = isAscii(text) ? std::nullopt : toIso2022jp(text);
  if (isAscii(text)) {
    bytes = text.toLatin1();
    g_mime_object_set_content_type_parameter(obj, "charset", "US-ASCII");
    setContent(part, bytes);
    g_mime_part_set_content_encoding(part, hasLongLine(bytes) ? GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE
                                                              : GMIME_CONTENT_ENCODING_7BIT);
  } else if (jis) {
    // The form Japanese mail readers expect; 7 bit unless a line is too long.
    bytes = *jis;
    g_mime_object_set_content_type_parameter(obj, "charset", "ISO-2022-JP");
    setContent(part, bytes);
    g_mime_part_set_content_encoding(part, hasLongLine(bytes) ? GMIME_CONTENT_ENCODING_BASE64
                                                              : GMIME_CONTENT_ENCODING_7BIT);
  } else {
    bytes = text.toUtf8();
    g_mime_object_set_content_type_parameter(obj, "charset", "UTF-8");
    setContent(part, bytes);
    // Quoted-printable for mostly-ASCII text, base64 otherwise.
    g_mime_part_set_content_encoding(part, g_mime_part_get_best_content_encoding(part, GMIME_ENCODING_CONSTRAINT_7BIT));
  }
  return owned;
}

std::optional<QByteArray> readAttachment(const QString& path, Result* failure) {
  const QFileInfo fi(path);
  auto fail = [&](Code why, const QString& cause = QString()) -> std::optional<QByteArray> {
    if (failure) {
      *failure = failed(why, QString(), path);
      failure->cause = cause;
    }
    return std::nullopt;
  };
  if (path.isEmpty()) return fail(Code::AttachmentNameEmpty);
  if (!fi.exists()) return fail(Code::AttachmentMissing);
  if (fi.isDir()) return fail(Code::AttachmentIsFolder);
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) {
    if (!fi.isReadable()) return fail(Code::AttachmentNotPermitted);
    return fail(Code::AttachmentUnreadable, f.errorString());
  }
  QByteArray data = f.readAll();
  if (f.error() != QFileDevice::NoError) return fail(Code::AttachmentUnreadable, f.errorString());
  return data;
}

GObject<GMimePart> attachmentPart(const QString& path, const QByteArray& data) {
  const QString name = QFileInfo(path).fileName();
  const QString type = QMimeDatabase().mimeTypeForFile(path, QMimeDatabase::MatchExtension).name();
  const QByteArray mime = type.isEmpty() || !type.contains(u'/') ? QByteArrayLiteral("application/octet-stream")
                                                                  : type.toLatin1();
  const qsizetype slash = mime.indexOf('/');
  GObject<GMimePart> part(g_mime_part_new_with_type(mime.left(slash).constData(), mime.mid(slash + 1).constData()));
  setContent(part.get(), data);
  g_mime_part_set_content_encoding(part.get(), GMIME_CONTENT_ENCODING_BASE64);
  GMimeObject* obj = GMIME_OBJECT(part.get());
  setRawHeader(obj, "Content-Type", mime + nameParameter(name));
  setRawHeader(obj, "Content-Disposition", "attachment" + fileNameParameter("filename", name));
  return part;
}

QByteArray messageIdDomain(const QString& from) {
  const QStringList items = splitAddressList(from);
  const QString address = items.isEmpty() ? QString() : bareAddress(items.first());
  const QString domain = address.section(u'@', -1);
  if (!address.contains(u'@') || domain.isEmpty() || !isPrintableAscii(domain) || domain.contains(u' ') ||
      domain.contains(u'>'))
    return QByteArrayLiteral("localhost");
  return domain.toLatin1();
}

}  // namespace

std::optional<QByteArray> toIso2022jp(const QString& text) {
  if (text.isEmpty()) return QByteArray();
  iconv_t opened = iconv_open("ISO-2022-JP", "UTF-8");
  if (opened == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  const handles::Owned<void, iconv_close> converter(opened);
  iconv_t cd = converter.get();
  QByteArray in = text.toUtf8();
  QByteArray out(in.size() * 3 + 16, '\0');
  char* inPtr = in.data();
  size_t inLeft = size_t(in.size());
  char* outPtr = out.data();
  size_t outLeft = size_t(out.size());
  bool ok = true;
  while (inLeft > 0) {
    if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != size_t(-1)) break;
    if (errno != E2BIG) {
      ok = false;
      break;
    }
    const qsizetype used = outPtr - out.data();
    out.resize(out.size() * 2);
    outPtr = out.data() + used;
    outLeft = size_t(out.size() - used);
  }
  // Back to ASCII at the end.
  if (ok && iconv(cd, nullptr, nullptr, &outPtr, &outLeft) == size_t(-1)) ok = false;
  if (!ok) return std::nullopt;
  out.truncate(outPtr - out.data());
  return out;
}

QByteArray encodeUnstructured(const QString& value, int used) {
  const QString v = flatten(value);
  Folder f(used);
  if (isPrintableAscii(v) && !v.contains(u"=?")) {
    for (const QString& atom : v.split(u' ')) f.add(atom.toLatin1());
    return f.result();
  }
  const QList<QByteArray> words = encodedWords(v, std::max(kLineLimit - used, 24));
  for (const QByteArray& w : words) f.add(w);
  return f.result();
}

QByteArray encodeAddressList(const QString& list, int used) {
  const QStringList items = splitAddressList(flatten(list));
  Folder f(used);
  for (qsizetype i = 0; i < items.size(); ++i) addAddressItem(f, items[i], i + 1 == items.size());
  return f.result();
}

namespace {

bool hasLineBreak(const QString& s) { return s.contains(u'\r') || s.contains(u'\n'); }

// Whether a text meant for one header line holds a line break. Such a
// text is refused, not flattened: what went out would not be what the
// caller was shown (an address list with a break can even name another
// recipient in the header than in the envelope).
Result lineBreakRefusal(const OutgoingMail& mail) {
  if (hasLineBreak(mail.from)) return failed(Code::SenderLineBreak);
  if (hasLineBreak(mail.to)) return failed(Code::RecipientLineBreak);
  if (hasLineBreak(mail.subject)) return failed(Code::SubjectLineBreak);
  for (const QString& path : mail.attachments)
    if (hasLineBreak(QFileInfo(path).fileName()))
      return failed(Code::AttachmentNameLineBreak, QString(), QString(path).replace(u'\r', u' ').replace(u'\n', u' '));
  return Result{};
}

}  // namespace

std::optional<QByteArray> buildMessage(const OutgoingMail& mail, Result* failure) {
  ensureInitialized();
  if (const Result why = lineBreakRefusal(mail); !why.ok()) {
    if (failure) *failure = why;
    return std::nullopt;
  }
  // Every file first: a missing one fails the send before anything is built.
  QList<QByteArray> contents;
  for (const QString& path : mail.attachments) {
    std::optional<QByteArray> data = readAttachment(path, failure);
    if (!data) return std::nullopt;
    contents << *data;
  }

  const GObject<GMimeMessage> message(g_mime_message_new(FALSE));
  GMimeObject* m = GMIME_OBJECT(message.get());
  setRawHeader(m, "From", encodeAddressList(mail.from, 6));
  setRawHeader(m, "To", encodeAddressList(mail.to, 4));
  setRawHeader(m, "Subject", encodeUnstructured(mail.subject, 9));
  const handles::Owned<GDateTime, g_date_time_unref> now(g_date_time_new_now_local());
  g_mime_message_set_date(message.get(), now.get());
  const handles::Owned<char, g_free> id(g_mime_utils_generate_message_id(messageIdDomain(mail.from).constData()));
  g_mime_message_set_message_id(message.get(), id.get());
  for (const auto& [name, value] : mail.extraHeaders) setRawHeader(m, name.constData(), value);

  const GObject<GMimePart> text = textPart(mail.body);
  if (mail.attachments.isEmpty()) {
    g_mime_message_set_mime_part(message.get(), GMIME_OBJECT(text.get()));
  } else {
    const GObject<GMimeMultipart> mixed(g_mime_multipart_new_with_subtype("mixed"));
    g_mime_multipart_add(mixed.get(), GMIME_OBJECT(text.get()));
    for (qsizetype i = 0; i < mail.attachments.size(); ++i)
      g_mime_multipart_add(mixed.get(), GMIME_OBJECT(attachmentPart(mail.attachments[i], contents[i]).get()));
    g_mime_message_set_mime_part(message.get(), GMIME_OBJECT(mixed.get()));
  }

  const handles::Owned<GMimeFormatOptions, g_mime_format_options_free> options(g_mime_format_options_new());
  g_mime_format_options_set_newline_format(options.get(), GMIME_NEWLINE_FORMAT_DOS);
  const GObject<GMimeStream> out(g_mime_stream_mem_new());
  g_mime_object_write_to_stream(m, options.get(), out.get());
  GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out.get()));
  return QByteArray(reinterpret_cast<const char*>(bytes->data), qsizetype(bytes->len));
}

}  // namespace maillib
