#pragma once
// A text part's bytes made the text of the body: its charset, HTML made
// plain, flowed lines joined; and the body's lines as the record keeps them.
#include <QByteArray>
#include <QString>

namespace maillib {

// How a text part is to be read.
struct TextPart {
  QByteArray charset;  // as the part names it, lower case; empty when it names none
  bool html = false;
  bool flowed = false;  // text/plain; format=flowed (RFC 3676)
  bool delsp = false;   // … with delsp=yes
};

// The text of a part: decoded in its charset (an HTML document without one
// in its part by its own <meta>), HTML made plain text, flowed lines joined.
QString partText(const QByteArray& bytes, const TextPart& how);

// Flowed text: soft line breaks (a line ending in a space) joined again,
// space-stuffing undone.
QString unflow(const QString& text, bool delsp);

// Body text: CR LF lines, no NUL, no other C0 controls but tab and form
// feed, no-break spaces as plain ones. Text that needs nothing is passed on
// as it is.
QString cleanBody(const QString& s);

}  // namespace maillib
