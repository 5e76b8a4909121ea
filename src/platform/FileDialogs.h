#pragma once
// The open and save dialogs: one call that asks for a file name and gives
// back the chosen path, or an empty text when the user cancels. Tests answer
// from g_fileDialogHook instead of a dialog.
#include <QString>
#include <functional>

class QWidget;

struct FileDialogRequest {
  bool save = false;      // a save dialog (else an open dialog)
  QString title;
  QString filter;         // "vCard (*.vcf *.vcard)"
  QString suggestedName;  // save dialogs: the file name offered
  QString defaultSuffix;  // save dialogs: added to a name typed without one
};

QString chooseFileName(QWidget* parent, const FileDialogRequest& request);

inline std::function<QString(const FileDialogRequest&)> g_fileDialogHook;
