#include "ProgramFolder.h"

#include "platform/Durable.h"
#include "platform/Paths.h"
#include "platform/Text.h"
#include "shell/CommandLine.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <climits>
#include <sys/stat.h>
#include <unistd.h>

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

// Copies what the starter folder holds into `base`, keeping every file and
// folder that is already there (matched in any letter case).
bool copyStarter(const QString& starter, const QString& base, QString* error) {
  const QDir from(starter);
  QDirIterator it(starter, QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot | QDir::NoSymLinks | QDir::Hidden,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QFileInfo source(it.next());
    const QString relative = from.relativeFilePath(source.filePath());
    const QString target = paths::resolveIn(base, relative);
    if (source.isDir()) {
      if (!QFileInfo(target).isDir() && !QDir().mkpath(target)) {
        if (error) *error = QStringLiteral("フォルダ「%1」を作れません。").arg(target);
        return false;
      }
      continue;
    }
    if (QFileInfo::exists(target)) continue;  // never replace the user's copy
    QFile in(source.filePath());
    if (!in.open(QIODevice::ReadOnly)) {
      if (error) *error = QStringLiteral("ファイル「%1」を読めません。").arg(source.filePath());
      return false;
    }
    const QString parent = QFileInfo(target).path();
    QString why;
    if ((!QFileInfo(parent).isDir() && !QDir().mkpath(parent)) || !durable::replaceFile(target, in.readAll(), 0644, &why)) {
      if (error) *error = QStringLiteral("ファイル「%1」を書けません（%2）。").arg(target, why);
      return false;
    }
  }
  return true;
}

}  // namespace

QStringList programSubfolders() {
  return {paths::kDataFolder,   paths::kAttachFolder, paths::kQuickSaveFolder, QStringLiteral("顔文字データ"),
          paths::kPictureFolder, paths::kSoundFolder,  paths::kImePadFolder};
}

bool layOutProgramFolder(const QString& folder, QString* error, const QString& starter) {
  QDir root(folder);
  if (!root.exists() && !QDir().mkpath(folder)) {
    if (error) *error = QStringLiteral("フォルダ「%1」を作れません。").arg(folder);
    return false;
  }
  const QString base = QFileInfo(folder).absoluteFilePath();
  // Laying out the starter folder itself (as the build does) copies nothing.
  if (!starter.isEmpty() && QFileInfo(starter).canonicalFilePath() != QFileInfo(base).canonicalFilePath() &&
      !copyStarter(starter, base, error))
    return false;
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

bool holdsDataFolder(const QString& folder) {
  return !folder.isEmpty() && QFileInfo(paths::resolveIn(folder, paths::kDataFolder)).isDir();
}

QString executableFolder() {
  char self[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return QDir::currentPath();
  return QFileInfo(QString::fromLocal8Bit(self, n)).absolutePath();
}

QString userProgramFolder() {
  QString data = qEnvironmentVariable("XDG_DATA_HOME");
  // A relative XDG_DATA_HOME is to be ignored.
  if (!QDir::isAbsolutePath(data)) data = QDir::homePath() + QStringLiteral("/.local/share");
  return QDir::cleanPath(data + QStringLiteral("/tomoshibi"));
}

QString starterFolder(const QString& exeFolder) {
  const QString share = QDir::cleanPath(exeFolder + QStringLiteral("/../share/tomoshibi"));
  return QFileInfo(share).isDir() ? share : QString();
}

QString findProgramFolder(const QString& home, const QString& exeFolder) {
  if (!home.isEmpty()) return QDir(home).absolutePath();
  if (holdsDataFolder(exeFolder)) return exeFolder;
  return userProgramFolder();
}

bool enterProgramFolder(const CommandLine& cl, bool layOutFirst, QString* error) {
  const QString exe = executableFolder();
  const QString folder = findProgramFolder(cl.home, exe);
  if (layOutFirst && cl.home.isEmpty() && !holdsDataFolder(folder)) {
    // Mail is the user's own: a folder made here is theirs alone.
    QDir().mkpath(QFileInfo(folder).path());
    if (!QFileInfo(folder).isDir()) ::mkdir(QFile::encodeName(folder).constData(), 0700);
    if (!layOutProgramFolder(folder, error, starterFolder(exe))) return false;
  }
  paths::setProgramFolder(folder);
  if (cl.fromDesktop && !QDir::setCurrent(folder)) {
    if (error)
      *error = QStringLiteral("プログラムフォルダ「%1」に移れません。\n"
                              "プログラムフォルダを作り直すには、次のコマンドを実行して下さい。\n"
                              "tomoshibi --init-home \"%1\"")
                   .arg(folder);
    return false;
  }
  return true;
}
