#pragma once
// The text procedures' interfaces on the real things: a QPlainTextEdit body
// box and its window, the system clipboard, and the print dialog with the
// printer. The viewer uses them, and the compose window can.
#include "platform/Printing.h"
#include "viewer/TextProcedures.h"

#include <QPrinter>
#include <memory>

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
