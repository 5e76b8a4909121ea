#include "StateFile.h"

#include "platform/Paths.h"
#include "platform/Profile.h"

QString stateFilePath() { return paths::resolve(paths::kStateFile); }

StateChoices ReadStateFile() {
  const QString f = stateFilePath();
  return {profile::GetPrivateProfileInt(QStringLiteral("EXEINI"), QStringLiteral("NUMBER"), 0, f),
          profile::GetPrivateProfileInt(QStringLiteral("EXEINI"), QStringLiteral("NUMBER2"), 0, f)};
}

bool WriteStateFile(bool number, bool number2) {
  const QString f = stateFilePath();
  const bool a = profile::WritePrivateProfileString(QStringLiteral("EXEINI"), QStringLiteral("NUMBER"),
                                                    number ? QStringLiteral("1") : QStringLiteral("0"), f);
  const bool b = profile::WritePrivateProfileString(QStringLiteral("EXEINI"), QStringLiteral("NUMBER2"),
                                                    number2 ? QStringLiteral("1") : QStringLiteral("0"), f);
  return a && b;
}
