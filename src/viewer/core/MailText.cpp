#include "MailText.h"

#include "platform/Paths.h"
#include "platform/Text.h"

namespace viewer {

QString HeaderBlock(const MailText& mail) {
  const QString crlf = QStringLiteral("\r\n");
  return QStringLiteral("Subject:  ") + mail.subject + crlf + QStringLiteral("From:  ") + mail.from + crlf +
         QStringLiteral("Date:  ") + mail.date + crlf + QStringLiteral("Body:  ") + text::toCrLf(mail.body);
}

QString quickSaveFileName(const QString& subject) {
  const QString extension = QStringLiteral(".txt");
  QString name = subject;
  bool onlyDots = !name.isEmpty();
  for (qsizetype i = 0; i < name.size(); ++i) {
    const char16_t u = name[i].unicode();
    const bool pair = QChar::isHighSurrogate(u) && i + 1 < name.size() && name[i + 1].isLowSurrogate();
    if (pair) {
      ++i;
    } else if (u == u'/' || u == u'\\' || u < 0x20 || (u >= 0x7F && u < 0xA0) || QChar::isSurrogate(u)) {
      // A separator would leave the folder; the others the file system
      // refuses or a listing cannot show.
      name[i] = QChar(kNameStandIn);
    }
    if (name[i] != u'.') onlyDots = false;
  }
  if (onlyDots) name.fill(QChar(kNameStandIn));

  const qsizetype room = 255 - extension.size();
  qsizetype bytes = 0, keep = 0;
  while (keep < name.size()) {
    const char16_t u = name[keep].unicode();
    const bool pair = QChar::isHighSurrogate(u) && keep + 1 < name.size();
    const int width = pair ? 4 : u < 0x80 ? 1 : u < 0x800 ? 2 : 3;
    if (bytes + width > room) break;
    bytes += width;
    keep += pair ? 2 : 1;
  }
  name.truncate(keep);
  return name + extension;
}

QString quickSavePath(const QString& subject) {
  return paths::resolve(paths::kQuickSaveFolder + u'/' + quickSaveFileName(subject));
}

}  // namespace viewer
