#include "ProgramFolder.h"

#include "platform/Durable.h"
#include "platform/Paths.h"
#include "platform/Text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

struct ShippedFile {
  const char* resource;  // in the program's resources
  const char* target;    // below the program folder
  bool cp932;            // the resource is UTF-8 text stored as CP932
};

// Files that come with the program. Later windows add their pages and tunes here.
const ShippedFile kShipped[] = {
    {":/home/Kao1.txt", "顔文字データ/Kao1.txt", true},
    // The shop: its tunes and scenery pages (UTF-8, as their meta line says)
    // with their pictures, and the author's page.
    {":/home/Sound/Kouka.mid", "Sound/Kouka.mid", false},
    {":/home/Sound/Kouka2.mid", "Sound/Kouka2.mid", false},
    {":/home/scenery/Back.htm", "画像データ/Back.htm", false},
    {":/home/scenery/Front.htm", "画像データ/Front.htm", false},
    {":/home/scenery/Back.png", "画像データ/Back.png", false},
    {":/home/scenery/Front.png", "画像データ/Front.png", false},
    {":/home/scenery/Home.htm", "画像データ/Home.htm", false},
    // The input method's character palette explained (UTF-8, as its meta line says).
    {":/home/IMEPAd/IME.htm", "IMEPAd/IME.htm", false},
};

}  // namespace

QStringList programSubfolders() {
  return {paths::kDataFolder,   paths::kAttachFolder, paths::kQuickSaveFolder, QStringLiteral("顔文字データ"),
          paths::kPictureFolder, paths::kSoundFolder,  paths::kImePadFolder};
}

bool layOutProgramFolder(const QString& folder, QString* error) {
  QDir root(folder);
  if (!root.exists() && !QDir().mkpath(folder)) {
    if (error) *error = QStringLiteral("フォルダ「%1」を作れません。").arg(folder);
    return false;
  }
  const QString base = QFileInfo(folder).absoluteFilePath();
  for (const QString& sub : programSubfolders()) {
    const QString path = paths::resolveIn(base, sub);  // "★MailData" counts as "★MAilData"
    if (!QFileInfo(path).isDir() && !QDir().mkpath(path)) {
      if (error) *error = QStringLiteral("フォルダ「%1」を作れません。").arg(path);
      return false;
    }
  }
  for (const ShippedFile& f : kShipped) {
    const QString target = paths::resolveIn(base, QString::fromUtf8(f.target));
    if (QFileInfo::exists(target)) continue;  // never replace the user's copy
    QFile res(QString::fromUtf8(f.resource));
    if (!res.open(QIODevice::ReadOnly)) {
      if (error) *error = QStringLiteral("組み込みのファイル %1 がありません。").arg(QString::fromUtf8(f.resource));
      return false;
    }
    QByteArray data = res.readAll();
    if (f.cp932) data = text::toCp932(text::toCrLf(QString::fromUtf8(data)));
    QString why;
    if (!durable::replaceFile(target, data, 0644, &why)) {
      if (error) *error = QStringLiteral("ファイル「%1」を書けません（%2）。").arg(target, why);
      return false;
    }
  }
  return true;
}
