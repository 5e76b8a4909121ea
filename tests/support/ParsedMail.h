#pragma once
// A message as a reader sees it, parsed with GMime: what the end-to-end
// tests compare with what was typed.
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

struct ParsedMail {
  bool ok = false;
  QByteArray headerBlock;  // the raw header lines, up to the blank line
  QString from;            // decoded, as GMime formats an address list
  QString to;
  QString subject;         // decoded
  QString date;            // raw header value
  QString messageId;
  QString mimeVersion;
  QString textCharset;     // of the first text/plain part
  QString textEncoding;    // its Content-Transfer-Encoding
  QString text;            // its content, decoded to Unicode
  struct Attachment {
    QString fileName;
    QString contentType;
    QByteArray data;
  };
  QList<Attachment> attachments;

  // The raw value of a top-level header, unfolded (empty when missing).
  QByteArray rawHeader(const QByteArray& name) const;
};

ParsedMail parseMail(const QByteArray& raw);

// One RFC 2047 encoded word decoded on its own.
QString decodeHeaderText(const QByteArray& text);
