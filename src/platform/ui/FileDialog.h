#pragma once
// The open and save dialogs. A filter is written as the windows give it,
// "description|pattern;pattern"; the answer is the chosen file's full path,
// or an empty text when the user cancelled. Tests answer the dialogs
// instead of showing them (platform/TestHooks.h).
#include <QString>

class QWidget;

namespace filedialog {

// OpenFileOrFolder: an existing file, or the folder the dialog shows.
enum class Kind { Open, Save, OpenFileOrFolder };

struct Request {
  Kind kind = Kind::Open;
  QString title;
  QString filter;         // "txtファイル(*.txt,*.ini)|*.txt;*.ini"; several pairs may follow each other
  QString suggestedName;  // save: the file name offered
  QString defaultSuffix;  // save: added to a name typed without one
  QString folder;         // where the dialog starts; empty: the current folder
};

// Open: only an existing file. Save: asks before replacing an existing
// file. Both accept only folders that exist.
QString choose(QWidget* parent, const Request& request);

// The filter as the dialog takes it: "description (pattern pattern)".
QString dialogFilter(const QString& filter);

}  // namespace filedialog
