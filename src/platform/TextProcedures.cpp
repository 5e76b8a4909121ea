#include "TextProcedures.h"

#include "platform/Durable.h"
#include "platform/Paths.h"
#include "platform/SharedState.h"
#include "platform/Text.h"

#include <QDir>
#include <QFile>
#include <algorithm>

namespace textproc {

namespace {

// Searches count from 1, as the window's LastMatchPosition does; 0 is none.
int positionOf(const QString& text, const QString& s, int from) {
  if (s.isEmpty() || from < 1 || from > text.size()) return 0;
  return int(text.indexOf(s, from - 1, Qt::CaseSensitive)) + 1;
}

void selectMatch(TextBox& box, int position, int length) {
  box.setFocus();
  box.select(position - 1, length);
}

int16_t& counterOf(FontStyle style) {
  switch (style) {
    case FontStyle::Bold: return shared::BoldCounter;
    case FontStyle::Italic: return shared::ItalicCounter;
    case FontStyle::Underline: break;
  }
  return shared::UnderlineCounter;
}

}  // namespace

void FindFirst(TextBox& box, const QString& searchText, int& lastMatch) {
  lastMatch = positionOf(box.text(), searchText, 1);
  if (lastMatch > 0) selectMatch(box, lastMatch, int(searchText.size()));
}

void FindNext(TextBox& box, const QString& searchText, int& lastMatch) {
  // After a failed search this starts at the length of the text: its first
  // characters are not searched again until a FindFirst.
  lastMatch = positionOf(box.text(), searchText, lastMatch + int(searchText.size()));
  if (lastMatch > 0) selectMatch(box, lastMatch, int(searchText.size()));
}

void CutSelection(TextBox& box, Clipboard& clipboard) {
  box.setVisible(false);
  clipboard.clear();
  clipboard.setText(box.selectedText());
  box.replaceSelection(QString());
  box.setVisible(true);
  box.setFocus();
}

void CopySelection(TextBox& box, Clipboard& clipboard) {
  box.setVisible(false);
  const int length = box.selectionLength();
  const int caret = length != 0 ? box.selectionStart() + length : 0;
  clipboard.clear();
  clipboard.setText(box.selectedText());
  box.setCaret(caret);
  box.setVisible(true);
  box.setFocus();
}

void PasteClipboard(TextBox& box, Clipboard& clipboard) {
  box.setFocus();
  box.setVisible(false);
  box.replaceSelection(text::trimSpaces(clipboard.text()));
  box.setVisible(true);
  box.setFocus();
}

void PasteTrimmed(InsertTarget& box, const Clipboard& clipboard) {
  box.replaceSelection(text::trimSpaces(clipboard.text()));
}

void SelectAllText(TextBox& box) { box.select(0, int(box.text().size())); }

void JumpToStart(TextBox& box) {
  box.setCaret(0);
  box.setFocus();
}

void JumpToEnd(TextBox& box) {
  box.setCaret(int(box.text().size()));
  box.setFocus();
}

QString documentFolder(const QString& name) {
  const qsizetype cut = std::max(name.lastIndexOf(u'\\'), name.lastIndexOf(u'/'));
  return cut < 0 ? QString() : name.left(cut + 1);
}

QString documentPath(const QString& name) {
  QString n = name;
  n.replace(u'\\', u'/');
  if (n.startsWith(u'/')) return QDir::cleanPath(paths::resolveIn(QStringLiteral("/"), n));
  return paths::resolveIn(QDir::currentPath(), n);
}

namespace {

// `content` in `encoding` in place of the file at `path`; when that is
// CP932 and CP932 lacks some of its characters, as the user decides.
WriteResult writeAsking(const QString& path, const QString& content, text::FileEncoding encoding,
                        const AskLossy& ask, QString* error) {
  if (encoding == text::FileEncoding::Cp932) {
    const QString lost = text::cp932Missing(content);
    if (!lost.isEmpty()) {
      switch (ask ? ask(path, lost) : LossyChoice::Cancel) {
        case LossyChoice::Utf8: encoding = text::FileEncoding::Utf8; break;
        case LossyChoice::Cp932: break;
        case LossyChoice::Cancel: return WriteResult::Declined;
      }
    }
  }
  // An empty document is an empty file, without a byte-order mark.
  const QByteArray bytes = content.isEmpty() ? QByteArray() : text::encodeText(content, encoding);
  return durable::replaceFile(path, bytes, -1, error) ? WriteResult::Written : WriteResult::Failed;
}

}  // namespace

WriteResult writeDocument(const QString& path, const QString& text, const AskLossy& ask, QString* error) {
  text::FileEncoding encoding = text::FileEncoding::Cp932;
  QFile existing(path);
  if (existing.open(QIODevice::ReadOnly)) encoding = text::detectEncoding(existing.readAll());
  existing.close();
  return writeAsking(path, text::toCrLf(text), encoding, ask, error);
}

bool SaveDocument(const TextBox& box, QString* error, const AskLossy& ask) {
  if (error) error->clear();
  const QString name = shared::CurrentDocumentName;
  if (name.isEmpty()) return false;
  QString why;
  switch (writeDocument(documentPath(name), box.text(), ask, &why)) {
    case WriteResult::Written: break;
    case WriteResult::Declined: return false;
    case WriteResult::Failed:
      if (error)
        *error = QStringLiteral("文書「%1」を保存できませんでした（%2）。")
                     .arg(QDir::toNativeSeparators(documentPath(name)), why);
      return false;
  }
  shared::DocumentModified = 0;
  return true;
}

QString NewDocument(TextBox& box, const AskLossy& ask) {
  if (shared::CurrentDocumentName.contains(kNewDocumentName)) return {};
  if (shared::DocumentModified != 0 && !shared::CurrentDocumentName.isEmpty()) {
    // Emptying the box after a failed or declined save would lose the text.
    QString error;
    if (!SaveDocument(box, &error, ask)) {
      if (error.isEmpty()) return {};
      return error + QStringLiteral("\n新しい文書は始めず、本文はそのまま残しています。");
    }
  }
  box.setText(QString());
  shared::CurrentDocumentName = documentFolder(shared::CurrentDocumentName) + kNewDocumentName;
  QString error;
  SaveDocument(box, &error, ask);
  shared::DocumentModified = 0;
  box.setCaption(kNewDocumentName + QStringLiteral("      ") + shared::CurrentDocumentName);
  return error;
}

WriteResult writeTextFile(const QString& path, const QString& text, const AskLossy& ask, QString* error) {
  return writeAsking(path, text::toCrLf(text), text::FileEncoding::Cp932, ask, error);
}

std::optional<QString> readTextLines(const QString& path, QString* error) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) {
    if (error) *error = f.errorString();
    return std::nullopt;
  }
  const QByteArray bytes = f.readAll();
  if (f.error() != QFileDevice::NoError) {
    if (error) *error = f.errorString();
    return std::nullopt;
  }
  // Every line ends in CR LF, whatever ended it in the file (CR LF, CR or
  // LF), and so does a last line that had no ending.
  QString s = text::toCrLf(text::decodeText(bytes, text::detectEncoding(bytes)));
  if (!s.isEmpty() && !s.endsWith(QStringLiteral("\r\n"))) s += QStringLiteral("\r\n");
  return s;
}

QString OpenTextIntoBody(TextBox& box, const std::function<QString()>& chooseFile) {
  const QString file = chooseFile();
  if (file.isEmpty()) return {};
  QString error;
  const std::optional<QString> lines = readTextLines(file, &error);
  if (!lines) return QStringLiteral("ファイル「%1」を読めませんでした（%2）。").arg(QDir::toNativeSeparators(file), error);
  box.setText(*lines);
  return {};
}

QString SaveTextAs(const TextBox& box, const std::function<QString()>& chooseFile, const AskLossy& ask) {
  const QString file = chooseFile();
  if (file.isEmpty()) return {};
  QString error;
  if (writeDocument(file, box.text(), ask, &error) != WriteResult::Failed) return {};
  return QStringLiteral("ファイル「%1」に保存できませんでした（%2）。").arg(QDir::toNativeSeparators(file), error);
}

QString PrintBody(TextBox& box, Printer& printer) {
  // The selection of the body box itself, whichever control has the focus.
  const bool selection = box.selectionLength() != 0;
  const QString text = selection ? box.selectedText() : box.text();
  int copies = 0;
  if (!printer.choose(selection, &copies)) return {};
  const PrintFont font = box.printFont();
  QString error;
  bool ok = true;
  for (int i = 0; i < copies && ok; ++i) ok = printer.printCopy(text, font, &error);
  QString finishError;
  if (!printer.finish(&finishError) && ok) {
    ok = false;
    error = finishError;
  }
  if (ok) return {};
  return QStringLiteral("印刷できませんでした（%1）。").arg(error);
}

void ToggleFontStyle(TextBox& box, FontStyle style) {
  int16_t& counter = counterOf(style);
  const bool on = counter % 2 == 0;
  box.setFontStyle(style, on);
  counter = on ? 1 : 2;
}

}  // namespace textproc
