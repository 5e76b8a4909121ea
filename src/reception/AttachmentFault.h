#pragma once
// What went wrong with a file of the attachment folder (AttachmentFiles.h):
// a code with the file it concerns and the system's words. The sentence a
// user reads is made by the windows and the headless check (ReceivedWords),
// never by the files' writer.
#include <QString>

namespace maillib {

struct AttachmentFault {
  enum class Code {
    None,
    FolderMissing,  // path: the attachment folder is not there
    Uncreatable,    // path, detail: a file could not be made
    NoFreeName,     // path: every free name tried was taken meanwhile
    Unwritable,     // path, detail
    Unflushed,      // path, detail: a file did not reach the disk
    Refused,        // detail: the one told of each file said no, in its words
  };
  Code code = Code::None;
  QString path = {};
  QString detail = {};

  explicit operator bool() const { return code != Code::None; }
};

}  // namespace maillib
