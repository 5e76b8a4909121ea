#pragma once
// An HTML part read as plain text: what the page says, one paragraph after
// another, list items one to a line, and where each link leads.
#include <QString>

namespace maillib {

// Readable plain text of an HTML document (LF lines): markup, scripts and
// styles left out, entities decoded, <pre> kept as it is, a link's address
// after its text unless the text already says it.
QString htmlToText(const QString& html);

}  // namespace maillib
