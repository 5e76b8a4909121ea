#pragma once
// The attachment panel of the compose and reply windows: the attachment
// list (full paths joined by single commas) and a list of the files' titles.
#include <QString>
#include <functional>

class QLineEdit;
class QListWidget;
class QPushButton;

struct AttachPanel {
  QLineEdit* list;         // AttachText
  QListWidget* titles;     // List2
  QPushButton* first;      // 添付File
  QPushButton* more;       // 追加
  QPushButton* cancel;     // 取り消し
  // The chosen file's full path, or an empty text when cancelled.
  std::function<QString()> choose;
};

// The name under which a file is shown: its name without the folder.
QString FileTitle(const QString& path);

// 添付File: the chosen file becomes the whole list; the button is spent
// whether or not a file was chosen.
void AttachFirstFile(const AttachPanel& panel);
// 追加: shows the titles; with a list started, appends one more file.
void AttachMoreFile(const AttachPanel& panel);
// 取り消し: drops every file.
void CancelAttachments(const AttachPanel& panel);
