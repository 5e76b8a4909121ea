#pragma once
// Laying out a complete program folder: every folder the program expects
// below it and the files that come with the program. Existing folders and
// files are kept as they are.
#include <QString>

bool layOutProgramFolder(const QString& folder, QString* error);

// The folders below the program folder, in the order they are laid out.
QStringList programSubfolders();
