#include "AttachmentFiles.h"

#include "platform/Durable.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <fcntl.h>

namespace maillib {
namespace {

bool isDirectionOrInvisible(char16_t u) {
  return (u >= 0x200B && u <= 0x200F) || (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069) ||
         u == 0xFEFF || u == 0x061C;
}

}  // namespace

QString safeFileName(const QString& nameIn) {
  QString name = nameIn;
  name.replace(u'\\', u'/');
  if (const qsizetype slash = name.lastIndexOf(u'/'); slash >= 0) name = name.mid(slash + 1);
  QString clean;
  clean.reserve(name.size());
  for (QChar c : name) {
    const char16_t u = c.unicode();
    if (u < 0x20 || u == 0x7F || (u >= 0x80 && u <= 0x9F) || isDirectionOrInvisible(u)) continue;
    if (QStringLiteral(":*?\"<>|").contains(c)) {
      clean.append(u'_');
    } else {
      clean.append(c);
    }
  }
  // Leading dots would hide the file (or make it ".."); trailing dots and
  // spaces are dropped by Windows.
  auto edge = [](QChar c) { return c == u'.' || c == u' ' || c == QChar(0x3000); };
  while (!clean.isEmpty() && edge(clean.front())) clean.remove(0, 1);
  while (!clean.isEmpty() && edge(clean.back())) clean.chop(1);
  if (clean.isEmpty()) clean = QStringLiteral("添付ファイル");
  // File systems allow 255 bytes; room is left for " (99999)".
  constexpr qsizetype kMaxBytes = 200;
  if (clean.toUtf8().size() > kMaxBytes) {
    const qsizetype dot = clean.lastIndexOf(u'.');
    QString ext = (dot > 0 && clean.size() - dot <= 16) ? clean.mid(dot) : QString();
    QString stem = ext.isEmpty() ? clean : clean.left(dot);
    while (!stem.isEmpty() && (stem + ext).toUtf8().size() > kMaxBytes) {
      stem.chop(1);
      if (!stem.isEmpty() && stem.back().isHighSurrogate()) stem.chop(1);
    }
    clean = stem + ext;
  }
  return clean;
}

QString freeFileName(const QString& folder, const QString& name) {
  const QDir dir(folder);
  if (!QFileInfo::exists(dir.filePath(name))) return name;
  const qsizetype dot = name.lastIndexOf(u'.');
  const QString stem = dot > 0 ? name.left(dot) : name;
  const QString ext = dot > 0 ? name.mid(dot) : QString();
  // In one pass: a "%2" in the mail's own name is part of the name.
  for (int k = 2;; ++k) {
    const QString candidate = QStringLiteral("%1 (%2)%3").arg(stem, QString::number(k), ext);
    if (!QFileInfo::exists(dir.filePath(candidate))) return candidate;
  }
}

AttachmentFolder::AttachmentFolder(QString folder, Announce announce)
    : folder_(std::move(folder)), announce_(std::move(announce)) {}

bool AttachmentFolder::fail(AttachmentFault why) {
  for (const QString& f : mine_) QFile::remove(f);
  mine_.clear();
  fault_ = std::move(why);
  failed_ = true;
  return false;
}

bool AttachmentFolder::write(const QString& name, const QByteArray& bytes) {
  if (failed_) return false;
  if (!checked_ && !QFileInfo(folder_).isDir()) return fail({AttachmentFault::Code::FolderMissing, folder_});
  checked_ = true;
  const QDir dir(folder_);
  const QString safe = safeFileName(name);
  QFile f;
  // Exclusive creation: an existing file is never replaced, even one that
  // appeared since the name was chosen.
  for (int attempt = 0; attempt < 100; ++attempt) {
    f.setFileName(dir.filePath(freeFileName(folder_, safe)));
    QString why;
    if (announce_ && !announce_(f.fileName(), &why)) return fail({AttachmentFault::Code::Refused, f.fileName(), why});
    // The user's alone, as everything in the program folder.
    if (f.open(QIODevice::WriteOnly | QIODevice::NewOnly, QFileDevice::ReadOwner | QFileDevice::WriteOwner)) break;
    if (QFileInfo::exists(f.fileName())) continue;
    return fail({AttachmentFault::Code::Uncreatable, f.fileName(), f.errorString()});
  }
  if (!f.isOpen()) return fail({AttachmentFault::Code::NoFreeName, f.fileName()});
  mine_.append(f.fileName());
  if (f.write(bytes) != bytes.size() || !f.flush()) {
    AttachmentFault why{AttachmentFault::Code::Unwritable, f.fileName(), durable::lastErrorText()};
    f.close();
    return fail(why);
  }
  // The disk starts on the file now, while the next mails arrive; the
  // flush before the journal's commit (flushFiles) then mostly finds it
  // done. Only a hint: that flush is what makes the file durable.
  ::sync_file_range(f.handle(), 0, 0, SYNC_FILE_RANGE_WRITE);
  f.close();
  return true;
}

bool flushFiles(const QStringList& files, AttachmentFault* fault) {
  QSet<QString> folders;
  for (const QString& path : files) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || !durable::syncFd(f.handle())) {
      if (fault) *fault = {AttachmentFault::Code::Unflushed, path, durable::lastErrorText()};
      return false;
    }
    folders.insert(QFileInfo(path).absolutePath());
  }
  for (const QString& folder : folders) durable::syncFolder(folder);
  return true;
}

}  // namespace maillib
