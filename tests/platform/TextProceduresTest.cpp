// The body boxes' procedures on a box in memory, for what the window tests
// do not reach: failed saves and prints, long search positions, the shared
// font-style counters and text files.
#include "platform/SharedState.h"
#include "platform/Text.h"
#include "platform/TextProcedures.h"
#include "support/TempHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

using namespace textproc;

namespace {

class MemoryBox : public TextBox {
 public:
  explicit MemoryBox(QString s = {}) : text_(std::move(s)) {}
  QString text() const override { return text_; }
  void setText(const QString& s) override {
    text_ = s;
    text_.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    start_ = length_ = 0;
  }
  int selectionStart() const override { return start_; }
  int selectionLength() const override { return length_; }
  QString selectedText() const override { return text_.mid(start_, length_); }
  void select(int start, int length) override {
    start_ = start;
    length_ = length;
  }
  void replaceSelection(const QString& s) override {
    text_.replace(start_, length_, s);
    start_ += int(s.size());
    length_ = 0;
  }
  void setCaret(int position) override {
    start_ = position;
    length_ = 0;
  }
  void setFocus() override { ++focused; }
  void setVisible(bool) override {}
  void setFontStyle(FontStyle style, bool on) override { styles[int(style)] = on; }
  PrintFont printFont() const override { return {}; }
  void setCaption(const QString& c) override { caption = c; }

  int focused = 0;
  bool styles[3] = {false, false, false};
  QString caption;

 private:
  QString text_;
  int start_ = 0, length_ = 0;
};

class ScriptedPrinter : public Printer {
 public:
  bool choose(bool selection, int* n) override {
    offeredSelection = selection;
    *n = copies;
    return true;
  }
  bool printCopy(const QString& text, const PrintFont&, QString* error) override {
    if (int(printed.size()) == failAt) {
      *error = QStringLiteral("紙がありません");
      return false;
    }
    printed << text;
    return true;
  }
  bool finish(QString*) override {
    finished = true;
    return true;
  }
  int copies = 1;
  int failAt = -1;
  bool offeredSelection = false;
  bool finished = false;
  QStringList printed;
};

class DocumentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    shared::CurrentDocumentName.clear();
    shared::DocumentModified = 0;
  }
  void TearDown() override { shared::CurrentDocumentName.clear(); }
  TempHome home_{false};
};

}  // namespace

TEST(BodySearch, IsExactAndAnEmptyTextFindsNothing) {
  MemoryBox box(QStringLiteral("abc"));
  int last = 3;
  FindFirst(box, QStringLiteral("ABC"), last);
  EXPECT_EQ(last, 0);
  EXPECT_EQ(box.focused, 0);
  FindNext(box, QString(), last);
  EXPECT_EQ(last, 0);
  EXPECT_EQ(box.focused, 0);
  // Positions past 32767 are kept whole.
  MemoryBox longBox(QString(40000, u'x') + QStringLiteral("終わり"));
  FindFirst(longBox, QStringLiteral("終わり"), last);
  EXPECT_EQ(last, 40001);
  EXPECT_EQ(longBox.selectionStart(), 40000);
}

TEST_F(DocumentTest, NewDocumentBesideANamedDocumentSavesItFirst) {
  QDir(home_.path()).mkdir(QStringLiteral("docs"));
  shared::CurrentDocumentName = home_.path() + QStringLiteral("/docs/memo.txt");
  shared::DocumentModified = -1;
  MemoryBox box(QStringLiteral("①㈱～\n二行目"));
  EXPECT_EQ(NewDocument(box), QString());
  EXPECT_EQ(home_.read(QStringLiteral("docs/memo.txt")), text::toCp932(QStringLiteral("①㈱～\r\n二行目")));
  EXPECT_EQ(shared::CurrentDocumentName, home_.path() + QStringLiteral("/docs/新規作成.TXT"));
  EXPECT_TRUE(QFileInfo::exists(home_.path() + QStringLiteral("/docs/新規作成.TXT")));
  EXPECT_FALSE(QFileInfo::exists(home_.path() + QStringLiteral("/docs/memo.txt.new")));
}

TEST_F(DocumentTest, ASaveThatFailsSaysSoAndKeepsTheText) {
  // The document's folder is gone: nothing can be written there.
  shared::CurrentDocumentName = home_.path() + QStringLiteral("/gone/memo.txt");
  shared::DocumentModified = -1;
  MemoryBox box(QStringLiteral("消えては困る文"));
  QString error;
  EXPECT_FALSE(SaveDocument(box, &error));
  EXPECT_TRUE(error.contains(QStringLiteral("memo.txt"))) << error.toStdString();
  EXPECT_EQ(shared::DocumentModified, -1);
  const QString told = NewDocument(box);
  EXPECT_TRUE(told.contains(QStringLiteral("本文はそのまま"))) << told.toStdString();
  EXPECT_EQ(box.text(), QStringLiteral("消えては困る文"));
  EXPECT_EQ(shared::CurrentDocumentName, home_.path() + QStringLiteral("/gone/memo.txt"));

  // No document named: nowhere to write and nothing to tell.
  shared::CurrentDocumentName.clear();
  EXPECT_FALSE(SaveDocument(box, &error));
  EXPECT_TRUE(error.isEmpty());

  // A new document that cannot be made is reported; the box is empty all the same.
  shared::CurrentDocumentName = home_.path() + QStringLiteral("/gone/");
  shared::DocumentModified = 0;
  const QString made = NewDocument(box);
  EXPECT_TRUE(made.contains(QStringLiteral("新規作成.TXT"))) << made.toStdString();
  EXPECT_EQ(box.text(), QString());
  EXPECT_EQ(box.caption, QStringLiteral("新規作成.TXT      ") + home_.path() + QStringLiteral("/gone/新規作成.TXT"));
}

TEST_F(DocumentTest, AUserFileKeepsItsEncodingAndNoCharacterIsLostUnasked) {
  const QString utf8File = home_.path() + QStringLiteral("/utf8.txt");
  const QString cp932File = home_.path() + QStringLiteral("/sjis.txt");
  home_.write(QStringLiteral("utf8.txt"), QStringLiteral("元の文\n").toUtf8());
  home_.write(QStringLiteral("sjis.txt"), text::toCp932(QStringLiteral("元の文\r\n")));
  QStringList asked;
  LossyChoice answer = LossyChoice::Cancel;
  const AskLossy ask = [&](const QString& path, const QString& lost) {
    asked << QFileInfo(path).fileName() + u':' + lost;
    return answer;
  };
  const QString text = QStringLiteral("①～😀\n終わり");
  QString error;
  // Over a UTF-8 file: UTF-8 again, nothing to ask.
  EXPECT_EQ(writeDocument(utf8File, text, ask, &error), WriteResult::Written);
  EXPECT_EQ(home_.read(QStringLiteral("utf8.txt")), QStringLiteral("①～😀\r\n終わり").toUtf8());
  EXPECT_TRUE(asked.isEmpty());
  // Over a CP932 file the emoji needs a word: declined, the file is as it was.
  EXPECT_EQ(writeDocument(cp932File, text, ask, &error), WriteResult::Declined);
  EXPECT_EQ(asked, QStringList{QStringLiteral("sjis.txt:😀")});
  EXPECT_EQ(home_.read(QStringLiteral("sjis.txt")), text::toCp932(QStringLiteral("元の文\r\n")));
  EXPECT_EQ(writeDocument(cp932File, text, {}, &error), WriteResult::Declined);  // no one to ask
  answer = LossyChoice::Cp932;
  EXPECT_EQ(writeDocument(cp932File, text, ask, &error), WriteResult::Written);
  EXPECT_EQ(home_.read(QStringLiteral("sjis.txt")), text::toCp932(QStringLiteral("①～?\r\n終わり")));
  answer = LossyChoice::Utf8;
  EXPECT_EQ(writeDocument(cp932File, text, ask, &error), WriteResult::Written);
  EXPECT_EQ(home_.read(QStringLiteral("sjis.txt")), QStringLiteral("①～😀\r\n終わり").toUtf8());
  // An empty document is an empty file, even over one with a byte-order mark.
  home_.write(QStringLiteral("bom.txt"), "\xEF\xBB\xBFx");
  EXPECT_EQ(writeDocument(home_.path() + QStringLiteral("/bom.txt"), QString(), ask, &error), WriteResult::Written);
  EXPECT_EQ(home_.read(QStringLiteral("bom.txt")), QByteArray());
  EXPECT_EQ(asked.size(), 3);
}

TEST_F(DocumentTest, ADeclinedSaveStartsNoNewDocument) {
  shared::CurrentDocumentName = home_.path() + QStringLiteral("/memo.txt");
  shared::DocumentModified = -1;
  home_.write(QStringLiteral("memo.txt"), "old");
  MemoryBox box(QStringLiteral("絵文字😀入り"));
  int asked = 0;
  const AskLossy decline = [&](const QString&, const QString&) {
    ++asked;
    return LossyChoice::Cancel;
  };
  QString error = QStringLiteral("x");
  EXPECT_FALSE(SaveDocument(box, &error, decline));
  EXPECT_TRUE(error.isEmpty());
  EXPECT_EQ(shared::DocumentModified, -1);
  EXPECT_EQ(NewDocument(box, decline), QString());
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(box.text(), QStringLiteral("絵文字😀入り"));
  EXPECT_EQ(shared::CurrentDocumentName, home_.path() + QStringLiteral("/memo.txt"));
  EXPECT_EQ(home_.read(QStringLiteral("memo.txt")), QByteArray("old"));
  EXPECT_TRUE(box.caption.isEmpty());
  // Saved as UTF-8, the new document starts.
  EXPECT_EQ(NewDocument(box, [](const QString&, const QString&) { return LossyChoice::Utf8; }), QString());
  EXPECT_EQ(home_.read(QStringLiteral("memo.txt")), QStringLiteral("絵文字😀入り").toUtf8());
  EXPECT_EQ(shared::CurrentDocumentName, home_.path() + QStringLiteral("/新規作成.TXT"));
}

TEST(DocumentNames, FolderPartAndCaseInsensitivePath) {
  EXPECT_EQ(documentFolder(QStringLiteral("C:\\文書\\a.txt")), QStringLiteral("C:\\文書\\"));
  EXPECT_EQ(documentFolder(QStringLiteral("/home/u/a.txt")), QStringLiteral("/home/u/"));
  EXPECT_EQ(documentFolder(QStringLiteral("a.txt")), QString());
  EXPECT_EQ(documentFolder(QString()), QString());
  TempHome home(false);
  home.write(QStringLiteral("新規作成.txt"), "x");
  // An existing file spelt in another case is the one written.
  EXPECT_EQ(documentPath(QStringLiteral("新規作成.TXT")), home.path() + QStringLiteral("/新規作成.txt"));
  EXPECT_EQ(documentPath(home.path() + QStringLiteral("/新規作成.TXT")), home.path() + QStringLiteral("/新規作成.txt"));
}

TEST(PrintBody, TheBodysSelectionOncePerCopyAndAFailedCopyIsReported) {
  MemoryBox box(QStringLiteral("abcdefg"));
  box.select(2, 3);
  ScriptedPrinter printer;
  printer.copies = 3;
  printer.failAt = 2;
  const QString told = PrintBody(box, printer);
  EXPECT_TRUE(printer.offeredSelection);
  EXPECT_EQ(printer.printed, (QStringList{QStringLiteral("cde"), QStringLiteral("cde")}));
  EXPECT_TRUE(told.contains(QStringLiteral("紙がありません"))) << told.toStdString();
  EXPECT_TRUE(printer.finished);
}

TEST(FontStyles, CountersAreSharedByEveryBox) {
  shared::BoldCounter = shared::ItalicCounter = shared::UnderlineCounter = 0;
  MemoryBox viewer, composer;
  ToggleFontStyle(viewer, FontStyle::Bold);
  EXPECT_TRUE(viewer.styles[0]);
  ToggleFontStyle(viewer, FontStyle::Bold);
  EXPECT_FALSE(viewer.styles[0]);
  EXPECT_EQ(shared::BoldCounter, 2);
  // The other window's next click follows the shared counter.
  ToggleFontStyle(composer, FontStyle::Bold);
  EXPECT_TRUE(composer.styles[0]);
  EXPECT_EQ(shared::BoldCounter, 1);
  shared::BoldCounter = shared::ItalicCounter = shared::UnderlineCounter = 0;
}

TEST(TextFiles, LinesEndInCrLfAndWritesAreWholeOrNothing) {
  TempHome home(false);
  home.write(QStringLiteral("ab.txt"), "a\r\nb");
  EXPECT_EQ(readTextLines(home.file(QStringLiteral("ab.txt")), nullptr), QStringLiteral("a\r\nb\r\n"));
  home.write(QStringLiteral("lf.txt"), text::toCp932(QStringLiteral("①\n㈱\n")));
  EXPECT_EQ(readTextLines(home.file(QStringLiteral("lf.txt")), nullptr), QStringLiteral("①\r\n㈱\r\n"));
  home.write(QStringLiteral("empty.txt"), "");
  EXPECT_EQ(readTextLines(home.file(QStringLiteral("empty.txt")), nullptr), QString());
  QString error;
  EXPECT_FALSE(readTextLines(home.file(QStringLiteral("none.txt")), &error).has_value());
  EXPECT_FALSE(error.isEmpty());

  const QString path = home.file(QStringLiteral("out.txt"));
  ASSERT_EQ(writeTextFile(path, QStringLiteral("一\n二～"), {}, &error), WriteResult::Written);
  EXPECT_EQ(home.read(QStringLiteral("out.txt")), text::toCp932(QStringLiteral("一\r\n二～")));
  // Over a folder of that name the write fails and leaves nothing beside it.
  QDir(home.path()).mkdir(QStringLiteral("dir.txt"));
  EXPECT_EQ(writeTextFile(home.file(QStringLiteral("dir.txt")), QStringLiteral("x"), {}, &error), WriteResult::Failed);
  EXPECT_EQ(QDir(home.path()).entryList(QDir::Files | QDir::Hidden).size(), 4);
  // A name near the file system's limit (253 bytes) is written all the same.
  const QString longName = QString(83, QChar(0xFF71)) + QStringLiteral(".txt");
  ASSERT_EQ(writeTextFile(home.path() + u'/' + longName, QStringLiteral("ｱ"), {}, &error), WriteResult::Written)
      << error.toStdString();
  EXPECT_EQ(home.read(longName), QByteArray("\xB1"));
  EXPECT_EQ(QDir(home.path()).entryList(QDir::Files | QDir::Hidden).size(), 5);
}

TEST(TextFiles, UnicodeFilesReadRight) {
  TempHome home(false);
  const QString text = QStringLiteral("①㈱～\n😀");
  for (auto e : {text::FileEncoding::Utf8, text::FileEncoding::Utf8Bom, text::FileEncoding::Utf16Le}) {
    home.write(QStringLiteral("u.txt"), text::encodeText(text, e));
    EXPECT_EQ(readTextLines(home.file(QStringLiteral("u.txt")), nullptr), QStringLiteral("①㈱～\r\n😀\r\n")) << int(e);
  }
}
