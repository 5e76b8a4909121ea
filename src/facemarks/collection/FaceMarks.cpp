#include "FaceMarks.h"

#include "platform/Paths.h"
#include "platform/Text.h"

#include <QFile>
#include <QFileInfo>

namespace facemarks {

QString collectionFile() { return paths::resolve(paths::kFaceMarkFile); }

Collection load(const QString& path) {
  Collection c;
  QFile f(path);
  if (!QFileInfo::exists(path)) {
    c.state = Collection::State::Missing;
    return c;
  }
  if (!f.open(QIODevice::ReadOnly)) {
    c.state = Collection::State::Unreadable;
    c.error = f.errorString();
    return c;
  }
  const QByteArray bytes = f.readAll();
  if (f.error() != QFileDevice::NoError) {
    c.state = Collection::State::Unreadable;
    c.error = f.errorString();
    return c;
  }
  c.text = text::decodeText(bytes, text::detectEncoding(bytes));
  return c;
}

QString withFinalBreak(const QString& text) {
  if (text.endsWith(u'\n') || text.endsWith(u'\r')) return text;
  return text + QStringLiteral("\r\n");
}

textproc::WriteResult save(const QString& path, const QString& text, const textproc::AskLossy& ask, QString* error) {
  return textproc::writeDocument(path, withFinalBreak(text), ask, error);
}

}  // namespace facemarks
