#include "ProgramFolder.h"

#include "platform/CommandLine.h"
#include "platform/Durable.h"
#include "platform/Paths.h"
#include "platform/Text.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
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

// Makes the folder `path` below `base`, and every missing folder between,
// each the user's alone.
bool makePrivateFolders(const QString& base, const QString& path) {
  QString current = base;
  for (const QString& part : QDir(base).relativeFilePath(path).split(u'/', Qt::SkipEmptyParts)) {
    current += u'/' + part;
    if (!durable::makePrivateFolder(current)) return false;
  }
  return true;
}

// True when `path`, a folder or a file of the user's (never a symbolic
// link), is open to group or others; `mode` then holds its permission.
bool isOpen(const QString& path, mode_t* mode = nullptr) {
  struct stat st;
  if (::lstat(QFile::encodeName(path).constData(), &st) != 0 || !(S_ISDIR(st.st_mode) || S_ISREG(st.st_mode)) ||
      st.st_uid != ::geteuid() || (st.st_mode & 077) == 0)
    return false;
  if (mode) *mode = st.st_mode;
  return true;
}

// Takes group and other access away from `path` when it has any; the
// owner's stays. True when it had any.
bool tighten(const QString& path) {
  mode_t mode;
  return isOpen(path, &mode) && ::chmod(QFile::encodeName(path).constData(), mode & 0700) == 0;
}

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
      if (!QFileInfo(target).isDir() && !makePrivateFolders(base, target)) {
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
    if ((!QFileInfo(parent).isDir() && !makePrivateFolders(base, parent)) ||
        !durable::replaceFile(target, in.readAll(), durable::kPrivateFile, &why)) {
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
  const QString base = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
  // The folders above it are anyone's; the program folder is the user's alone.
  if (!QFileInfo(base).isDir() &&
      (!QDir().mkpath(QFileInfo(base).absolutePath()) || !durable::makePrivateFolder(base))) {
    if (error) *error = QStringLiteral("フォルダ「%1」を作れません。").arg(folder);
    return false;
  }
  // Laying out the starter folder itself (as the build does) copies nothing.
  if (!starter.isEmpty() && QFileInfo(starter).canonicalFilePath() != QFileInfo(base).canonicalFilePath() &&
      !copyStarter(starter, base, error))
    return false;
  for (const QString& sub : programSubfolders()) {
    const QString path = paths::resolveIn(base, sub);  // "★MailData" counts as "★MAilData"
    if (!QFileInfo(path).isDir() && !makePrivateFolders(base, path)) {
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
    if (!durable::replaceFile(target, data, durable::kPrivateFile, &why)) {
      if (error) *error = QStringLiteral("ファイル「%1」を書けません（%2）。").arg(target, why);
      return false;
    }
  }
  return true;
}

bool tightenProgramFolder(const QString& folder) {
  const QString base = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
  QStringList top = {base};
  for (const QString& sub : programSubfolders()) top << paths::resolveIn(base, sub);
  // Nothing below a folder closed to others is in their reach: while the
  // program folder and its own folders are closed, every start (a check
  // from a timer too) is spared the walk through all that lies below, and
  // a file put in by hand is left as it is.
  if (std::none_of(top.cbegin(), top.cend(), [](const QString& p) { return isOpen(p); })) return false;
  top << paths::resolveIn(base, paths::kServerSettingsFile);
  for (const QString& path : std::as_const(top)) {
    tighten(path);
    if (path == base || !QFileInfo(path).isDir() || QFileInfo(path).isSymLink()) continue;
    QDirIterator it(path, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot | QDir::NoSymLinks,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) tighten(it.next());
  }
  return true;
}

QString tightenedText(const QString& folder) {
  return QStringLiteral("プログラムフォルダ「%1」のメールや設定が、ほかのユーザーからも読める状態になっていました。\n"
                        "あなただけが読み書きできるように直しました。")
      .arg(QDir::toNativeSeparators(QDir::cleanPath(QFileInfo(folder).absoluteFilePath())));
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

bool enterProgramFolder(const CommandLine& cl, bool layOutFirst, QString* error, QString* notice) {
  const QString exe = executableFolder();
  const QString folder = findProgramFolder(cl.home, exe);
  if (layOutFirst && cl.home.isEmpty() && !holdsDataFolder(folder) &&
      !layOutProgramFolder(folder, error, starterFolder(exe)))
    return false;
  // Mail is the user's own: a folder laid out with a looser umask, or by
  // an earlier version, is closed to others at the first start that finds it.
  if (holdsDataFolder(folder) && tightenProgramFolder(folder) && notice) *notice = tightenedText(folder);
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
