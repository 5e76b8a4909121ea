#pragma once
// A received mail taken out of the viewer as text: the header block that
// quick-save and save-as write, and the name a quick-save gives its file.
#include <QString>

namespace viewer {

struct MailText {
  QString subject, from, date, body;
};

// "Subject:", two spaces and the subject, CR LF, then the "From:", "Date:"
// and "Body:" lines built the same way; no CR LF after the body.
QString HeaderBlock(const MailText& mail);

// What stands in a quick-save file name for a character it cannot hold.
inline constexpr char16_t kNameStandIn = u'_';
// The quick-save file name for `subject`: the subject and ".txt", with "/",
// "\", control characters and a subject of only dots made kNameStandIn,
// cut before the first character that would take the name past 255 bytes
// of UTF-8. Everything else of the subject is kept.
QString quickSaveFileName(const QString& subject);
// That name in the quick-save folder, an existing file's name matched
// without regard to letter case.
QString quickSavePath(const QString& subject);

}  // namespace viewer
