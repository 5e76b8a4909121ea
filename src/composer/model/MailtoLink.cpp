#include "MailtoLink.h"

#include "platform/Text.h"

#include <QStringDecoder>

namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "%XX" becomes its byte; a "%" not followed by two hex digits stays as it is.
QByteArray percentDecoded(const QByteArray& in) {
  QByteArray out;
  out.reserve(in.size());
  for (qsizetype i = 0; i < in.size(); ++i) {
    if (in[i] == '%' && i + 2 < in.size()) {
      const int hi = hexValue(in[i + 1]), lo = hexValue(in[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out += char(hi * 16 + lo);
        i += 2;
        continue;
      }
    }
    out += in[i];
  }
  return out;
}

QString decodedText(const QByteArray& bytes) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString s = utf8(bytes);
  if (!utf8.hasError()) return s;
  int bad = 0;
  const std::optional<QString> cp932 = text::decodeWith(bytes, "CP932", &bad);
  if (cp932 && bad == 0) return *cp932;
  return s;
}

bool isControl(QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7F; }

// One header line: every run of control characters (line breaks included)
// becomes one space.
QString oneLine(const QString& s) {
  QString out;
  out.reserve(s.size());
  bool inRun = false;
  for (const QChar c : s) {
    if (isControl(c)) {
      if (!inRun) out += u' ';
      inRun = true;
    } else {
      out += c;
      inRun = false;
    }
  }
  return out.trimmed();
}

// A body: CR LF and lone CR end lines as LF; other control characters but
// the tab go.
QString bodyText(const QString& s) {
  QString out;
  out.reserve(s.size());
  for (qsizetype i = 0; i < s.size(); ++i) {
    const QChar c = s[i];
    if (c == u'\r') {
      out += u'\n';
      if (i + 1 < s.size() && s[i + 1] == u'\n') ++i;
    } else if (c == u'\n' || c == u'\t' || !isControl(c)) {
      out += c;
    }
  }
  return out;
}

void addAddresses(QStringList& to, const QString& value) {
  for (const QString& part : oneLine(value).split(u',')) {
    const QString a = part.trimmed();
    if (!a.isEmpty()) to << a;
  }
}

}  // namespace

MailtoLink parseMailto(const QString& link) {
  MailtoLink m;
  const QByteArray raw = link.toUtf8();
  if (raw.size() > kMaxMailtoLength) {
    m.error = QStringLiteral("メールのリンクが長すぎるため開けません（%1 バイト。%2 バイトまで）。")
                  .arg(raw.size())
                  .arg(kMaxMailtoLength);
    return m;
  }
  if (!raw.toLower().startsWith("mailto:")) {
    m.error = QStringLiteral("mailto: のリンクではありません。");
    return m;
  }
  const QByteArray rest = raw.mid(7);
  const qsizetype q = rest.indexOf('?');
  // Fields are split before decoding: "%26" and "%3D" are text, not separators.
  addAddresses(m.to, decodedText(percentDecoded(q < 0 ? rest : rest.left(q))));
  bool haveSubject = false, haveBody = false;
  if (q >= 0) {
    for (const QByteArray& field : rest.mid(q + 1).split('&')) {
      const qsizetype eq = field.indexOf('=');
      if (eq <= 0) continue;
      const QString name = decodedText(percentDecoded(field.left(eq))).toLower();
      const QString value = decodedText(percentDecoded(field.mid(eq + 1)));
      if (name == u"to") {
        addAddresses(m.to, value);
      } else if (name == u"cc") {
        addAddresses(m.cc, value);
      } else if (name == u"bcc") {
        addAddresses(m.bcc, value);
      } else if (name == u"subject" && !haveSubject) {
        m.subject = oneLine(value);
        haveSubject = true;
      } else if (name == u"body" && !haveBody) {
        m.body = bodyText(value);
        haveBody = true;
      }
    }
  }
  return m;
}

QString mailtoRecipients(const MailtoLink& link) { return (link.to + link.cc).join(QStringLiteral(", ")); }
