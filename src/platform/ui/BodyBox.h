#pragma once
// The text procedures' interfaces on the real things: a QPlainTextEdit body
// box and its window, a one-line box, the system clipboard, and the print
// dialog with the printer; and the body commands the viewer and the
// compose windows offer, on them.
#include "platform/TextProcedures.h"
#include "platform/ui/Printing.h"

#include <QPrinter>
#include <memory>

class QLineEdit;
class QPlainTextEdit;
class QWidget;

class PlainTextBox : public textproc::TextBox {
 public:
  PlainTextBox(QPlainTextEdit* edit, QWidget* window) : edit_(edit), window_(window) {}
  QString text() const override;
  void setText(const QString& text) override;
  int selectionStart() const override;
  int selectionLength() const override;
  QString selectedText() const override;
  void select(int start, int length) override;
  void replaceSelection(const QString& text) override;
  void setCaret(int position) override;
  void setFocus() override;
  void setVisible(bool visible) override;
  void setFontStyle(textproc::FontStyle style, bool on) override;
  textproc::PrintFont printFont() const override;
  void setCaption(const QString& caption) override;

 private:
  QPlainTextEdit* edit_;
  QWidget* window_;
};

class SystemClipboard : public textproc::Clipboard {
 public:
  void clear() override;
  void setText(const QString& text) override;
  QString text() const override;
};

// The print dialog over `parent`, then a printing::Job.
class DialogPrinter : public textproc::Printer {
 public:
  explicit DialogPrinter(QWidget* parent) : parent_(parent) {}
  bool choose(bool selectionRange, int* copies) override;
  bool printCopy(const QString& text, const textproc::PrintFont& font, QString* error) override;
  bool finish(QString* error) override;

 private:
  QWidget* parent_;
  QPrinter printer_;
  std::unique_ptr<printing::Job> job_;
};

// A one-line box as the paste buttons see it.
class LineBox : public textproc::InsertTarget {
 public:
  explicit LineBox(QLineEdit* edit) : edit_(edit) {}
  void replaceSelection(const QString& text) override;

 private:
  QLineEdit* edit_;
};

// Asks the user, in a message box, what to do with the characters `lost`
// that CP932 cannot hold when `path` is written.
textproc::LossyChoice askBeforeLosing(const QString& path, const QString& lost);

// The body commands of the text windows, on one body box and its window:
// the system clipboard, the print and file dialogs, and a message box for
// whatever the user must be told or asked.
class BodyCommands {
 public:
  BodyCommands(QPlainTextEdit* body, QWidget* window) : box_(body, window), window_(window) {}
  void newDocument();
  // The open dialog, then the file's lines into the body. The file read,
  // or an empty text when none was.
  QString openTextFile();
  // The save dialog, offering `suggested`, then the body into that file.
  void saveTextAs(const QString& suggested);
  void print();
  void cut();
  void copy();
  void paste();
  void selectAll();
  void jumpToStart();
  void jumpToEnd();
  void toggle(textproc::FontStyle style);

 private:
  PlainTextBox box_;
  QWidget* window_;
};
