#pragma once
// The program folder and the fixed paths below it. Every name is matched
// without regard to letter case, as the stored data spells the same folder
// and files in more than one way ("★MAilData" / "★MailData").
#include <QString>

namespace paths {

// The folder of the executable unless --home named another.
void setProgramFolder(const QString& folder);
QString programFolder();

// `relative` below `base`, each existing component matched without regard to
// letter case; "\" and "/" both separate folders. Components that do not exist
// keep the spelling given, so a file about to be created gets that name.
QString resolveIn(const QString& base, const QString& relative);
// The same below the program folder.
QString resolve(const QString& relative);
// True when the folder of `relative` below the program folder exists.
bool folderExists(const QString& relative);
// True when `path` (existing or about to be made) lies below the program
// folder, symbolic links followed.
bool insideProgramFolder(const QString& path);

// Fixed paths below the program folder.
inline const QString kDataFolder = QStringLiteral("★MAilData");
inline const QString kReceivedMailFile = QStringLiteral("★MAilData/plkdata2.data");
inline const QString kReceivedMailTemp = QStringLiteral("★MAilData/PLKDATA2.TMP");
inline const QString kHeldMailFile = QStringLiteral("★MAilData/plkdata10.data");
inline const QString kHeldMailTemp = QStringLiteral("★MAilData/PLKDATA10.TMP");
inline const QString kAddressFile = QStringLiteral("★MAilData/plkdata20.data");
inline const QString kAddressTemp = QStringLiteral("★MAilData/PLKDATA20.TMP");
inline const QString kStateFile = QStringLiteral("★MailData/ini.ini");
inline const QString kAccountFile = QStringLiteral("★MailData/iniIdPass.ini");
inline const QString kAttachFolder = QStringLiteral("添付フォルダ");
inline const QString kMessageTextFile = QStringLiteral("添付フォルダ/0.txt");
inline const QString kQuickSaveFolder = QStringLiteral("■TextQuickSave");
inline const QString kFaceMarkFile = QStringLiteral("顔文字データ/Kao1.txt");
inline const QString kPictureFolder = QStringLiteral("画像データ");
inline const QString kSoundFolder = QStringLiteral("Sound");
inline const QString kImePadFolder = QStringLiteral("IMEPAd");
// The server settings file lives in the current directory, not the program folder.
inline const QString kServerSettingsFile = QStringLiteral("pelkit.ini");

}  // namespace paths
