#pragma once
// Laying out a complete program folder: every folder the program expects
// below it and the files that come with the program. Existing folders and
// files are kept as they are.
#include <QString>

struct CommandLine;

// `starter`, when given, is a folder of starter content (an installed
// share/tomoshibi): everything in it is copied over first; the program's
// own files fill in whatever it lacks. Those come from the resources under
// :/home that a program links in (tomoshibi_starter, shell/shop/): without
// them this fails, naming the first file missing.
bool layOutProgramFolder(const QString& folder, QString* error, const QString& starter = QString());

// The folders below the program folder, in the order they are laid out.
QStringList programSubfolders();

// Everything the program lays out and writes inside the program folder is
// the user's alone: folders 0700, files 0600. This closes a folder that is
// not (laid out with a looser umask, or by an earlier version) to group and
// others: the program folder itself, the server settings file in it, and
// every folder and file below the program's own folders; the owner's
// access stays as it is and symbolic links are left alone. As nothing
// below a closed folder is in others' reach, this happens only when the
// program folder or one of the program's own folders is open. True when
// it happened.
bool tightenProgramFolder(const QString& folder);
// What the user is told once `folder` has been closed to others.
QString tightenedText(const QString& folder);

// True when `folder` holds the data folder (in any letter case).
bool holdsDataFolder(const QString& folder);
// The folder of the running executable.
QString executableFolder();
// The user's own program folder: $XDG_DATA_HOME/tomoshibi, or
// ~/.local/share/tomoshibi when XDG_DATA_HOME is unset or not absolute.
QString userProgramFolder();
// The starter content of an installed program: share/tomoshibi beside the
// bin/ folder `exeFolder`, or an empty text when there is none.
QString starterFolder(const QString& exeFolder);

// The program folder of a run: `home` (--home) when given; else
// `exeFolder` when it holds the data folder (the build tree, a program
// folder copied in whole); else the user's own program folder.
QString findProgramFolder(const QString& home, const QString& exeFolder);

// Settles the program folder of this run and makes it the program's. With
// `layOutFirst`, the user's own folder is laid out at its first start (when
// it does not hold the data folder yet) from the starter content. With
// --from-desktop the folder becomes the current directory, so that every
// desktop start reads the same "pelkit.ini". A folder holding the data
// folder is closed to others (tightenProgramFolder); `notice` then holds
// what the user is to be told. False, with a sentence in `error`, when the
// folder cannot be laid out or entered.
bool enterProgramFolder(const CommandLine& cl, bool layOutFirst, QString* error, QString* notice = nullptr);
