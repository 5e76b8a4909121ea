#pragma once
// The procedures of the body boxes, shared by the viewer and the compose
// window: search, clipboard, caret, the current document, printing and the
// font-style toggles. Each works on the body box handed in through a small
// interface, with the clipboard and the printer likewise handed in, so one
// code serves both windows and none of it needs a display. The document
// state and the font-style counters are the process-wide ones of
// platform/SharedState.h.
#include <QString>
#include <functional>
#include <optional>

namespace textproc {

enum class FontStyle { Bold, Italic, Underline };

// What printing takes of the box's font.
struct PrintFont {
  QString family;
  double pointSize = 0;
  bool bold = false;
  bool italic = false;
};

// What the paste buttons need of a box, one-line boxes included.
class InsertTarget {
 public:
  virtual ~InsertTarget() = default;
  // The selection, or nothing at the caret, replaced by `text`.
  virtual void replaceSelection(const QString& text) = 0;
};

// A body box. Positions count characters from 0; a line break is one
// character and reads as "\n".
class TextBox : public InsertTarget {
 public:
  virtual QString text() const = 0;
  virtual void setText(const QString& text) = 0;
  virtual int selectionStart() const = 0;
  virtual int selectionLength() const = 0;
  virtual QString selectedText() const = 0;
  // Selects `length` characters from `start`, the caret after them.
  virtual void select(int start, int length) = 0;
  // The caret to `position`, nothing selected.
  virtual void setCaret(int position) = 0;
  virtual void setFocus() = 0;
  virtual void setVisible(bool visible) = 0;
  // The style for the box's whole font.
  virtual void setFontStyle(FontStyle style, bool on) = 0;
  virtual PrintFont printFont() const = 0;
  // The caption of the window the box belongs to.
  virtual void setCaption(const QString& caption) = 0;
};

class Clipboard {
 public:
  virtual ~Clipboard() = default;
  virtual void clear() = 0;
  virtual void setText(const QString& text) = 0;
  virtual QString text() const = 0;
};

class Printer {
 public:
  virtual ~Printer() = default;
  // The print dialog, its selection range chosen or disabled. False when
  // it was cancelled or failed; else `copies` holds the copies asked for.
  virtual bool choose(bool selectionRange, int* copies) = 0;
  // One copy of `text`, a print document of its own. False, with a reason
  // for the user, when it could not be printed.
  virtual bool printCopy(const QString& text, const PrintFont& font, QString* error) = 0;
  // After the last copy.
  virtual bool finish(QString* error) = 0;
};

// The file types the open and save dialogs offer.
inline const QString kTextFileFilter = QStringLiteral("txtファイル(*.txt,*.ini)|*.txt;*.ini");
// The name every new document gets.
inline const QString kNewDocumentName = QStringLiteral("新規作成.TXT");

// Search. `lastMatch` is the window's LastMatchPosition: the 1-based
// position of the last match, 0 when the last search found nothing. The
// comparison is exact; an empty search text finds nothing.
void FindFirst(TextBox& box, const QString& searchText, int& lastMatch);
void FindNext(TextBox& box, const QString& searchText, int& lastMatch);

void CutSelection(TextBox& box, Clipboard& clipboard);
void CopySelection(TextBox& box, Clipboard& clipboard);
void PasteClipboard(TextBox& box, Clipboard& clipboard);
// The clipboard's text, without spaces at both ends, in place of the
// box's selection; the focus stays where it is and the box stays in view.
void PasteTrimmed(InsertTarget& box, const Clipboard& clipboard);

void SelectAllText(TextBox& box);
void JumpToStart(TextBox& box);
void JumpToEnd(TextBox& box);

// When a document would be written as CP932 and CP932 has no code for some
// of its characters (`lost`), the user decides: UTF-8, which keeps them;
// CP932 all the same, each of them becoming '?'; or no write at all.
enum class LossyChoice { Utf8, Cp932, Cancel };
using AskLossy = std::function<LossyChoice(const QString& path, const QString& lost)>;

enum class WriteResult { Written, Declined, Failed };
// A user's text document: `text` with CR LF line ends in place of the file
// at `path`, whole or not at all, in the encoding the file has now (a
// UTF-8 file stays UTF-8), CP932 for a new or empty file. Characters
// CP932 lacks are never turned into '?' without `ask` (none given: the
// file is not written). `error` says why a write failed.
WriteResult writeDocument(const QString& path, const QString& text, const AskLossy& ask, QString* error);

// Writes the box's text to CurrentDocumentName as writeDocument does and
// clears DocumentModified. False when it did not: `error` then says why,
// or stays empty when no document is named (there is nowhere to write and
// nothing to tell) or the user declined to lose characters.
bool SaveDocument(const TextBox& box, QString* error, const AskLossy& ask = {});
// Starts "新規作成.TXT" beside the current document. Returns what the user
// must be told, empty when all went well. When the user declines the save
// of the modified document, nothing changes.
QString NewDocument(TextBox& box, const AskLossy& ask = {});
// The folder part of a document name: up to and including its last "\" or
// "/"; empty for a bare name.
QString documentFolder(const QString& name);
// Where a document name is written: existing names matched without regard
// to letter case, a relative name below the current folder.
QString documentPath(const QString& name);

// `text` as CP932 with CR LF line ends in place of the file at `path`,
// whole or not at all: a write that fails leaves the file as it was and no
// part of the new one. Characters CP932 lacks are never turned into '?'
// without `ask`, which may choose UTF-8 instead (none given: the file is
// not written). `error` says why a write failed.
WriteResult writeTextFile(const QString& path, const QString& text, const AskLossy& ask, QString* error);
// A text file as its lines, each followed by CR LF (the last one too),
// read in the encoding its bytes show (text::detectEncoding). Null when it
// cannot be read; `error` says why.
std::optional<QString> readTextLines(const QString& path, QString* error);

// Asks `chooseFile` for a file (an empty answer is a cancel) and puts its
// lines into the box. The current document stays as it is. Returns what
// the user must be told (empty when read or cancelled).
QString OpenTextIntoBody(TextBox& box, const std::function<QString()>& chooseFile);

// Asks `chooseFile` where to write (an empty answer is a cancel) and writes
// the box's text there as writeDocument does. The current document stays
// as it is. Returns what the user must be told (empty when written,
// cancelled or declined).
QString SaveTextAs(const TextBox& box, const std::function<QString()>& chooseFile, const AskLossy& ask);

// Prints the selection, or the whole text when nothing is selected, once
// per copy. Returns what the user must be told (empty when printed or
// cancelled).
QString PrintBody(TextBox& box, Printer& printer);

// Switches the style on for the whole box when its process-wide counter is
// even, off when it is odd.
void ToggleFontStyle(TextBox& box, FontStyle style);

}  // namespace textproc
