#pragma once
// The face-mark collection: one text file below the program folder, read
// whole when the picker opens and written back when it closes. No window.
#include "platform/TextProcedures.h"

#include <QString>

namespace facemarks {

QString collectionFile();

struct Collection {
  enum class State { Read, Missing, Unreadable };
  State state = State::Read;
  QString text;   // line breaks as read (CR LF in the shipped file)
  QString error;  // why an existing file could not be read
};

// The file's text, in the encoding its bytes show (CP932 as shipped).
Collection load(const QString& path);

// The text as it is written back: ending with one line break, none added
// when it already ends with one.
QString withFinalBreak(const QString& text);

// Writes `text` (with its final line break) in place of the file, whole or
// not at all, keeping the file's encoding; characters CP932 lacks are
// asked about first. A failed or declined write leaves the old file.
textproc::WriteResult save(const QString& path, const QString& text, const textproc::AskLossy& ask, QString* error);

}  // namespace facemarks
