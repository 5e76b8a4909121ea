#include "BodyBox.h"

#include <QClipboard>
#include <QFont>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <algorithm>

namespace {
// The box's own line break (a paragraph separator) read as "\n".
QString plain(QString s) {
  s.replace(QChar::ParagraphSeparator, u'\n');
  s.replace(QChar::LineSeparator, u'\n');
  return s;
}
}  // namespace

QString PlainTextBox::text() const { return edit_->toPlainText(); }

void PlainTextBox::setText(const QString& text) { edit_->setPlainText(text); }

int PlainTextBox::selectionStart() const { return edit_->textCursor().selectionStart(); }

int PlainTextBox::selectionLength() const {
  const QTextCursor c = edit_->textCursor();
  return c.selectionEnd() - c.selectionStart();
}

QString PlainTextBox::selectedText() const { return plain(edit_->textCursor().selectedText()); }

void PlainTextBox::select(int start, int length) {
  const int end = int(text().size());
  QTextCursor c = edit_->textCursor();
  c.setPosition(std::clamp(start, 0, end));
  c.setPosition(std::clamp(start + length, 0, end), QTextCursor::KeepAnchor);
  edit_->setTextCursor(c);
}

void PlainTextBox::replaceSelection(const QString& text) {
  QTextCursor c = edit_->textCursor();
  c.insertText(text);
  edit_->setTextCursor(c);
}

void PlainTextBox::setCaret(int position) {
  QTextCursor c = edit_->textCursor();
  c.setPosition(std::clamp(position, 0, int(text().size())));
  edit_->setTextCursor(c);
}

void PlainTextBox::setFocus() { edit_->setFocus(Qt::OtherFocusReason); }

void PlainTextBox::setVisible(bool visible) { edit_->setVisible(visible); }

void PlainTextBox::setFontStyle(textproc::FontStyle style, bool on) {
  QFont f = edit_->font();
  switch (style) {
    case textproc::FontStyle::Bold: f.setBold(on); break;
    case textproc::FontStyle::Italic: f.setItalic(on); break;
    case textproc::FontStyle::Underline: f.setUnderline(on); break;
  }
  edit_->setFont(f);
}

textproc::PrintFont PlainTextBox::printFont() const {
  const QFont f = edit_->font();
  return {f.family(), f.pointSizeF(), f.bold(), f.italic()};
}

void PlainTextBox::setCaption(const QString& caption) { window_->setWindowTitle(caption); }

void SystemClipboard::clear() { QGuiApplication::clipboard()->clear(QClipboard::Clipboard); }

void SystemClipboard::setText(const QString& text) { QGuiApplication::clipboard()->setText(text, QClipboard::Clipboard); }

QString SystemClipboard::text() const { return QGuiApplication::clipboard()->text(QClipboard::Clipboard); }

bool DialogPrinter::choose(bool selectionRange, int* copies) {
  if (!printing::showPrintDialog(printer_, parent_, selectionRange)) return false;
  *copies = std::max(1, printer_.copyCount());
  job_ = std::make_unique<printing::Job>(printer_);
  return true;
}

bool DialogPrinter::printCopy(const QString& text, const textproc::PrintFont& font, QString* error) {
  if (!job_) return false;
  QFont f(font.family);
  if (font.pointSize > 0) f.setPointSizeF(font.pointSize);
  f.setBold(font.bold);
  f.setItalic(font.italic);
  return job_->printCopy(text, f, error);
}

bool DialogPrinter::finish(QString* error) { return !job_ || job_->finish(error); }
