#include "BodyBox.h"

#include "platform/ui/FileDialog.h"
#include "platform/ui/MsgBox.h"

#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <QLineEdit>
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

void LineBox::replaceSelection(const QString& text) { edit_->insert(text); }

textproc::LossyChoice askBeforeLosing(const QString& path, const QString& lost) {
  // A few of them are enough to recognise; unprintable ones by their code.
  constexpr int kShown = 20;
  QString shown;
  int count = 0;
  for (char32_t cp : lost.toUcs4()) {
    if (count++ == kShown) continue;
    if (!shown.isEmpty()) shown += u'　';
    shown += QChar::isPrint(cp) ? QString::fromUcs4(&cp, 1)
                                : QStringLiteral("U+%1").arg(uint(cp), 4, 16, QChar(u'0')).toUpper();
  }
  if (count > kShown) shown += QStringLiteral("　ほか%1文字").arg(count - kShown);
  QString prompt = QStringLiteral("ファイル「%1」はシフトJIS（CP932）で保存しますが、次の文字はシフトJISにありません。\n\n%2\n\n")
                       .arg(QDir::toNativeSeparators(path), shown);
  if (lost.contains(QChar::ReplacementCharacter))
    prompt += QStringLiteral("（「\uFFFD」は、ファイルを開いたときに読めなかった文字です。）\n\n");
  prompt += QStringLiteral("「はい」　　　UTF-8 で保存します。すべての文字が残ります。\n"
                           "「いいえ」　　シフトJIS で保存します。これらの文字は「?」になります。\n"
                           "「キャンセル」保存しません。");
  switch (MsgBox(prompt, MsgButtons::YesNoCancel, MsgIcon::Question, QStringLiteral("確認"))) {
    case MsgResult::Yes: return textproc::LossyChoice::Utf8;
    case MsgResult::No: return textproc::LossyChoice::Cp932;
    case MsgResult::Ok:
    case MsgResult::Cancel: break;
  }
  return textproc::LossyChoice::Cancel;
}

namespace {
void tell(const QString& message) {
  if (!message.isEmpty()) MsgBox(message, MsgButtons::Ok, MsgIcon::Exclamation);
}
}  // namespace

void BodyCommands::newDocument() { tell(textproc::NewDocument(box_, askBeforeLosing)); }

QString BodyCommands::openTextFile() {
  QString chosen;
  const QString told = textproc::OpenTextIntoBody(box_, [&] {
    filedialog::Request r;
    r.kind = filedialog::Kind::Open;
    r.title = QStringLiteral("開く");
    r.filter = textproc::kTextFileFilter;
    chosen = filedialog::choose(window_, r);
    return chosen;
  });
  tell(told);
  return told.isEmpty() ? chosen : QString();
}

void BodyCommands::saveTextAs(const QString& suggested) {
  const QFileInfo offered(suggested);
  tell(textproc::SaveTextAs(
      box_,
      [&] {
        filedialog::Request r;
        r.kind = filedialog::Kind::Save;
        r.title = QStringLiteral("名前を付けて保存");
        r.filter = textproc::kTextFileFilter;
        r.defaultSuffix = QStringLiteral("txt");
        if (!suggested.isEmpty()) {
          r.folder = offered.absolutePath();
          r.suggestedName = offered.fileName();
        }
        return filedialog::choose(window_, r);
      },
      askBeforeLosing));
}

void BodyCommands::print() {
  DialogPrinter printer(window_);
  tell(textproc::PrintBody(box_, printer));
}

void BodyCommands::cut() {
  SystemClipboard clipboard;
  textproc::CutSelection(box_, clipboard);
}

void BodyCommands::copy() {
  SystemClipboard clipboard;
  textproc::CopySelection(box_, clipboard);
}

void BodyCommands::paste() {
  SystemClipboard clipboard;
  textproc::PasteClipboard(box_, clipboard);
}

void BodyCommands::selectAll() { textproc::SelectAllText(box_); }

void BodyCommands::jumpToStart() { textproc::JumpToStart(box_); }

void BodyCommands::jumpToEnd() { textproc::JumpToEnd(box_); }

void BodyCommands::toggle(textproc::FontStyle style) { textproc::ToggleFontStyle(box_, style); }
