// The address book window: loading, registering, named addresses, picking,
// deleting, the paste buttons, the help box, vCard export and import, and
// the compose window reading what it wrote.
#include "addressbook/AddressListModel.h"
#include "addressbook/AddressListView.h"
#include "addressbook/FriendForm.h"
#include "addressbook/book/AddressBook.h"
#include "composer/SideList.h"
#include "composer/WriteForm.h"
#include "platform/Paths.h"
#include "platform/TestHooks.h"
#include "platform/Text.h"
#include "platform/ui/FileDialog.h"
#include "platform/ui/ListHeaders.h"
#include "platform/ui/Twips.h"
#include "settings/files/AccountSettings.h"
#include "shell/MainForm.h"
#include "store/RecordFile.h"
#include "support/Gui.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

namespace {

constexpr int L = store::AddressRecord::kLength;

void destroyClosed() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  pump();
}

class Book {
 public:
  Book() : form_(FriendForm::instance()) {
    form_->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(form_));
  }
  ~Book() {
    if (form_) form_->close();
    destroyClosed();
    testhooks::fileDialog = nullptr;
  }
  FriendForm* operator->() const { return form_; }
  FriendForm* get() const { return form_; }

  // A mouse button pressed over row `row` of the list (-1: below the rows).
  void press(int row) {
    QWidget* vp = form_->MailListView->viewport();
    const QPoint at = row >= 0 ? form_->MailListView->visualRect(form_->addressList->index(row, 0)).center()
                               : QPoint(vp->width() / 2, vp->height() - 2);
    QTest::mousePress(vp, Qt::LeftButton, {}, at);
    QTest::mouseRelease(vp, Qt::LeftButton, {}, at);
  }
  void enter(const QString& name, const QString& address) {
    form_->Text2->setText(name);
    form_->Text4->setText(address);
    form_->Command3->click();
  }
  QStringList column(int c) const {
    QStringList out;
    for (int r = 0; r < form_->addressList->rowCount(); ++r) out << form_->addressList->cell(r, c).trimmed();
    return out;
  }

 private:
  QPointer<FriendForm> form_;
};

QString pathInHome(const TempHome& home, const char* name) { return home.path() + u'/' + QString::fromUtf8(name); }

}  // namespace

TEST(AddressBookWindow, LoadsWithItsControlsColumnsAndDrawnHeadings) {
  TempHome home;
  QFile::remove(home.file(paths::kAddressFile));
  Book b;
  EXPECT_EQ(b->windowTitle(), QStringLiteral("アドレス帳"));
  EXPECT_TRUE(QFileInfo::exists(home.file(paths::kAddressFile)));
  EXPECT_EQ(b->Text3->text(), QStringLiteral("0"));
  EXPECT_TRUE(b->Label7->text().isEmpty());
  const struct {
    QWidget* w;
    const char* name;
    QString caption;
  } captions[] = {
      {b->Command1, "Command1", QStringLiteral("貼付")},       {b->Command5, "Command5", QStringLiteral("貼付")},
      {b->Command38, "Command38", QStringLiteral("名刺挿入")}, {b->Command3, "Command3", QStringLiteral("登録")},
      {b->Command4, "Command4", QStringLiteral("削除")},       {b->Label1, "Label1", QStringLiteral("メールアドレス")},
      {b->Label2, "Label2", QStringLiteral("名前（名称）")},   {b->Label3, "Label3", QStringLiteral("名刺")},
      {b->Label4, "Label4", QStringLiteral("登録件数")},
      {b->Label5, "Label5", QStringLiteral("名刺は新規作成で宛先を一発挿入した際の確認用として使用します。")},
  };
  for (const auto& c : captions) {
    EXPECT_EQ(c.w->objectName(), QLatin1String(c.name));
    if (auto* button = qobject_cast<QPushButton*>(c.w)) EXPECT_EQ(button->text(), c.caption);
    if (auto* label = qobject_cast<QLabel*>(c.w)) EXPECT_EQ(label->text(), c.caption);
  }
  for (QWidget* w : std::initializer_list<QWidget*>{b->Text2, b->Text3, b->Text4, b->Text5, b->Text50, b->MailListView})
    EXPECT_FALSE(w->accessibleName().isEmpty()) << w->objectName().toStdString();
  EXPECT_TRUE(b->Text3->isReadOnly());

  QHeaderView* header = b->MailListView->header();
  EXPECT_EQ(b->addressList->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Address"));
  EXPECT_EQ(b->addressList->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Name"));
  const double w = twips::width(b->MailListView);
  EXPECT_EQ(header->sectionSize(0), twips::toPx(w / 2));
  EXPECT_EQ(header->sectionSize(1), twips::toPx(w / 2.38));
  EXPECT_TRUE(listHeadersHooked(header));
  // One window: asking again gives the same one. Closing gives the header
  // its own drawing back first.
  EXPECT_EQ(FriendForm::instance(), b.get());
  b->close();
  EXPECT_FALSE(listHeadersHooked(header));
}

TEST(AddressBookWindow, RegisteringAppendsAndListsTheFile) {
  TempHome home;
  Book b;
  b.enter(QStringLiteral("山田 花子"), QStringLiteral("hanako@example.jp"));
  EXPECT_EQ(QFileInfo(home.file(paths::kAddressFile)).size(), L);
  EXPECT_EQ(b->Text3->text(), QStringLiteral("1"));
  EXPECT_EQ(b->Label7->text(), QStringLiteral("　登録が完了しました。"));
  // The boxes keep their contents; the same entry may go in again, and so
  // may empty boxes.
  EXPECT_EQ(b->Text4->text(), QStringLiteral("hanako@example.jp"));
  b->Command3->click();
  b.enter(QString(), QString());
  EXPECT_EQ(b->Text3->text(), QStringLiteral("3"));
  EXPECT_EQ(b.column(0), (QStringList{QStringLiteral("hanako@example.jp"), QStringLiteral("hanako@example.jp"), QString()}));
  EXPECT_EQ(b.column(1), (QStringList{QStringLiteral("山田 花子"), QStringLiteral("山田 花子"), QString()}));
  // Cells are the fields as stored, padding kept; they are drawn without it.
  EXPECT_EQ(b->addressList->cell(0, 1), QStringLiteral("山田 花子").leftJustified(86, u' '));
  EXPECT_EQ(b->addressList->data(b->addressList->index(0, 1)).toString(), QStringLiteral("山田 花子"));
}

TEST(AddressBookWindow, TypingStopsAt30And60CharactersButAPlacedTextIsStoredUpTo90Bytes) {
  TempHome home;
  Book b;
  b->Text2->setFocus();
  QTest::keyClicks(b->Text2, QString(40, u'n'));
  EXPECT_EQ(b->Text2->text().size(), 30);
  b->Text4->setFocus();
  QTest::keyClicks(b->Text4, QString(70, u'a'));
  EXPECT_EQ(b->Text4->text().size(), 60);
  // A text put in by a caller is kept whole, can be shortened, not lengthened.
  b->Text4->setText(QString(100, u'b'));
  QTest::keyClick(b->Text4, Qt::Key_Backspace);
  EXPECT_EQ(b->Text4->text().size(), 99);
  QTest::keyClicks(b->Text4, QStringLiteral("cc"));
  EXPECT_EQ(b->Text4->text().size(), 99);
  b->Command3->click();
  EXPECT_EQ(addressbook::readAll().entry(0).address(), QString(90, u'b'));
  // A paste is cut to what fits, in the middle of the text too.
  b->Text4->setText(QStringLiteral("ab"));
  b->Text4->setCursorPosition(1);
  QGuiApplication::clipboard()->setText(QString(70, u'x'));
  QTest::keyClick(b->Text4, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(b->Text4->text(), u'a' + QString(58, u'x') + u'b');
  EXPECT_EQ(b->Text4->cursorPosition(), 59);
}

TEST(AddressBookWindow, NamedAddressFromTheCardName) {
  TempHome home;
  Book b;
  {
    MsgBoxAnswerer boxes;
    b->Command38->click();
    b->Text4->setText(QStringLiteral("  taro@example.jp  "));
    b->Command38->click();
    ASSERT_EQ(boxes.seen().size(), 2);
    EXPECT_EQ(boxes.seen()[0].text, QStringLiteral("メールアドレスが入力されていません"));
    EXPECT_EQ(boxes.seen()[1].text, QStringLiteral("名詞が入力されていません"));
    for (const auto& s : boxes.seen()) {
      EXPECT_EQ(s.title, QStringLiteral("灯火亭"));
      EXPECT_EQ(s.icon, QMessageBox::NoIcon);
      EXPECT_EQ(s.buttons, QMessageBox::Ok);
    }
  }
  EXPECT_EQ(b->Text4->text(), QStringLiteral("  taro@example.jp  "));
  b->Text50->setText(QStringLiteral("日本太郎"));
  b->Command38->click();
  EXPECT_EQ(b->Text4->text(), QStringLiteral("日本太郎<taro@example.jp>"));
  EXPECT_EQ(QFileInfo(home.file(paths::kAddressFile)).size(), 0);  // nothing written yet
  // Pressed again, the brackets nest; registered, the text is cut to 90 bytes.
  const QString nested = QString(40, u'長') + QStringLiteral("<日本太郎<taro@example.jp>>");  // 107 bytes
  b->Text50->setText(QString(40, u'長'));
  b->Command38->click();
  EXPECT_EQ(b->Text4->text(), nested);
  b->Command3->click();
  const QByteArray stored = addressbook::readAll().entry(0).raw(store::AddressRecord::kAddress);
  EXPECT_EQ(stored, text::toCp932(nested).left(90));
}

TEST(AddressBookWindow, PickingAnEntryAndDeletingIt) {
  TempHome home;
  Book b;
  b.enter(QStringLiteral("一郎"), QStringLiteral("ichiro@example.jp"));
  b.enter(QStringLiteral("二郎"), QStringLiteral("  jiro@example.jp "));
  b.enter(QStringLiteral("三郎"), QStringLiteral("saburo@example.jp"));
  b->Text2->clear();
  b->Text4->clear();
  b.press(1);
  EXPECT_EQ(b->Text2->text(), QStringLiteral("二郎"));
  EXPECT_EQ(b->Text4->text(), QStringLiteral("jiro@example.jp"));
  EXPECT_EQ(b->Label7->text(), QStringLiteral("　選択しました。"));

  // No: the file is rewritten with the same entries in the same order.
  const QByteArray before = home.read(paths::kAddressFile);
  b->Text50->setText(QStringLiteral("名刺"));
  {
    MsgBoxAnswerer boxes;
    boxes.answer(QMessageBox::No);
    b->Command4->click();
    ASSERT_EQ(boxes.seen().size(), 1);
    EXPECT_EQ(boxes.seen()[0].text, QStringLiteral("選択された（行、青色）データを削除します。よろしいですか"));
    EXPECT_EQ(boxes.seen()[0].title, QStringLiteral("確認"));
    EXPECT_EQ(boxes.seen()[0].icon, QMessageBox::Question);
    EXPECT_EQ(boxes.seen()[0].buttons, QMessageBox::Yes | QMessageBox::No);
  }
  EXPECT_EQ(home.read(paths::kAddressFile), before);
  EXPECT_EQ(b->Label7->text(), QStringLiteral(" "));
  EXPECT_TRUE(b->Text4->text().isEmpty());
  EXPECT_TRUE(b->Text50->text().isEmpty());

  // An empty address box, or no row chosen: nothing happens but the message.
  {
    MsgBoxAnswerer boxes;
    b->Command4->click();
    b->Text4->setText(QStringLiteral("typed@example.jp"));
    b->Command4->click();
    EXPECT_EQ(boxes.texts(), QStringList(2, QStringLiteral("データが選択されていません")));
  }
  EXPECT_EQ(home.read(paths::kAddressFile), before);

  // Yes: row 2 goes, the former record 3 is record 2 now.
  b.press(1);
  {
    MsgBoxAnswerer boxes;
    boxes.answer(QMessageBox::Yes);
    b->Command4->click();
  }
  EXPECT_EQ(b.column(1), (QStringList{QStringLiteral("一郎"), QStringLiteral("三郎")}));
  EXPECT_EQ(b->Text3->text(), QStringLiteral("2"));
  EXPECT_EQ(b->Label7->text(), QStringLiteral("削除が完了しました"));
  EXPECT_EQ(home.read(paths::kAddressFile), before.left(L) + before.mid(2 * L));
  EXPECT_FALSE(QFileInfo::exists(home.file(paths::kAddressTemp)));
  EXPECT_TRUE(b->Text2->text().isEmpty());
}

TEST(AddressBookWindow, ADeleteThatCannotFinishLeavesTheBookAsItWas) {
  TempHome home;
  Book b;
  b.enter(QStringLiteral("一郎"), QStringLiteral("ichiro@example.jp"));
  b.enter(QStringLiteral("二郎"), QStringLiteral("jiro@example.jp"));
  const QByteArray before = home.read(paths::kAddressFile);
  testhooks::rewriteStep = [](store::RewriteStep s) { return s == store::RewriteStep::SurvivorsWritten; };
  b.press(0);
  MsgBoxAnswerer boxes;
  boxes.answer(QMessageBox::Yes);
  b->Command4->click();
  testhooks::rewriteStep = nullptr;
  ASSERT_EQ(boxes.seen().size(), 2);
  EXPECT_TRUE(boxes.seen()[1].text.contains(QStringLiteral("元のファイルはそのまま残っています"))) << boxes.seen()[1].text.toStdString();
  EXPECT_EQ(home.read(paths::kAddressFile), before);
  EXPECT_EQ(b->Text3->text(), QStringLiteral("2"));
  EXPECT_EQ(b->Text4->text(), QStringLiteral("ichiro@example.jp"));
  EXPECT_NE(b->Label7->text(), QStringLiteral("削除が完了しました"));
}

TEST(AddressBookWindow, PasteButtonsTakeTheClipboardsFirstLine) {
  TempHome home;
  Book b;
  QGuiApplication::clipboard()->setText(QStringLiteral("\r\n  taro@example.jp\r\nRCPT TO:<x@example.com>\r\n"));
  b->Command1->click();
  EXPECT_EQ(b->Text4->text(), QStringLiteral("  taro@example.jp"));
  QGuiApplication::clipboard()->setText(QStringLiteral("日本太郎"));
  b->Command5->click();
  EXPECT_EQ(b->Text2->text(), QStringLiteral("日本太郎"));
  QGuiApplication::clipboard()->clear();
  b->Command1->click();
  b->Command5->click();
  EXPECT_TRUE(b->Text4->text().isEmpty());
  EXPECT_TRUE(b->Text2->text().isEmpty());
}

TEST(AddressBookWindow, HelpBoxFollowsTheMouseAndHidesWithoutExplanations) {
  TempHome home;
  Book b;
  auto over = [](QWidget* w) {
    QEvent e(QEvent::Enter);
    QCoreApplication::sendEvent(w, &e);
  };
  over(b->Command38);
  EXPECT_TRUE(b->Text5->isVisibleTo(b.get()));
  const QString help = b->helpTextOf(b->Command38);
  EXPECT_TRUE(help.startsWith(QStringLiteral("名詞の挿入を行います。")));
  EXPECT_TRUE(help.contains(QStringLiteral("日本太郎<nihon.taro@example.jp>")));
  EXPECT_TRUE(help.endsWith(QStringLiteral("\r\n\r\n必要なければ挿入する必要はありません。")));
  EXPECT_EQ(b->Text5->toPlainText(), QString(help).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
  over(b->Command3);
  EXPECT_EQ(b->Text5->toPlainText(), QStringLiteral("登録を行います。これにより新規作成でのメールアドレスの一発入力が可能になります。"));
  EXPECT_EQ(b->helpTextOf(b->Command1), QStringLiteral("コピーして来たメールアドレスを貼り付けます。"));
  EXPECT_EQ(b->helpTextOf(b->Command4), QStringLiteral("不要になったメールアドレスを削除します。"));
  EXPECT_TRUE(b->helpTextOf(b->Command5).isEmpty());
  // The bare window hides it again.
  QWidget* surface = b->centralWidget();
  QTest::mouseMove(surface, QPoint(surface->width() - 2, 2));
  QMouseEvent move(QEvent::MouseMove, QPointF(surface->width() - 2, 2), QPointF(), Qt::NoButton, Qt::NoButton, {});
  QCoreApplication::sendEvent(surface, &move);
  EXPECT_FALSE(b->Text5->isVisibleTo(b.get()));
  b->close();
  destroyClosed();

  home.write(QStringLiteral("pelkit.ini"), "SMTP=smtp.example\r\nPOP3=pop.example\r\n" "MAIL=me@example\r\nAPOP=0\r\n");
  ASSERT_TRUE(WriteAccountFile(QStringLiteral("id"), QStringLiteral("pw"), true));
  auto main = std::make_unique<MainForm>();
  main->Check1->setChecked(false);
  {
    Book hidden;
    EXPECT_NEAR(twips::top(hidden->Text5), -4000, 20);
  }
  main->Check1->setChecked(true);
  {
    Book shown;
    EXPECT_NEAR(twips::top(shown->Text5), 3240, 20);
  }
  // The main window's button and menu item open it, one window at a time.
  main->Command5->click();
  FriendForm* opened = FriendForm::existing();
  ASSERT_NE(opened, nullptr);
  EXPECT_TRUE(opened->isVisible());
  main->mfriend->trigger();
  EXPECT_EQ(FriendForm::existing(), opened);
  opened->close();
  destroyClosed();
  AccountSettings() = AccountSettingsRecord{};
}

TEST(AddressBookWindow, ExportDeleteEverythingImportBack) {
  TempHome home;
  Book b;
  b.enter(QStringLiteral("山田 花子"), QStringLiteral("hanako@example.jp"));
  b->Text2->setText(QStringLiteral("日本さん"));
  b->Text4->setText(QStringLiteral("taro@example.jp"));
  b->Text50->setText(QStringLiteral("日本太郎"));
  b->Command38->click();
  b->Command3->click();
  b.enter(QStringLiteral("Bob"), QStringLiteral("bob@example.com"));
  const QByteArray book = home.read(paths::kAddressFile);

  QList<filedialog::Request> asked;
  QString answer;
  testhooks::fileDialog = [&](const filedialog::Request& r) {
    asked << r;
    return answer;
  };
  b->ExportCommand->click();  // cancelled
  ASSERT_EQ(asked.size(), 1);
  EXPECT_EQ(asked[0].kind, filedialog::Kind::Save);
  EXPECT_EQ(asked[0].defaultSuffix, QStringLiteral("vcf"));
  answer = pathInHome(home, "連絡先.vcf");
  b->ExportCommand->click();
  EXPECT_EQ(b->Label7->text(), QStringLiteral("　3件をエクスポートしました。"));
  const QByteArray vcf = home.read(QStringLiteral("連絡先.vcf"));
  EXPECT_EQ(vcf.count("BEGIN:VCARD\r\nVERSION:3.0\r\n"), 3);
  EXPECT_TRUE(vcf.contains("EMAIL;TYPE=INTERNET:taro@example.jp\r\n"));

  // Delete everything, from the top.
  for (int i = 0; i < 3; ++i) {
    b.press(0);
    MsgBoxAnswerer boxes;
    boxes.answer(QMessageBox::Yes);
    b->Command4->click();
  }
  EXPECT_EQ(QFileInfo(home.file(paths::kAddressFile)).size(), 0);

  {
    MsgBoxAnswerer boxes;
    b->ImportCommand->click();
    ASSERT_EQ(boxes.seen().size(), 1);
    EXPECT_EQ(boxes.seen()[0].icon, QMessageBox::Information);
    EXPECT_EQ(boxes.seen()[0].text, QStringLiteral("「連絡先.vcf」から読み込みました。\n\n追加：3件\n"
                                                   "登録済みのため追加しなかったもの：0件\n名前かメールアドレスを切り詰めたもの：0件"));
  }
  EXPECT_EQ(asked.last().kind, filedialog::Kind::Open);
  EXPECT_EQ(home.read(paths::kAddressFile), book);
  EXPECT_EQ(b->Text3->text(), QStringLiteral("3"));
  EXPECT_EQ(b->Label7->text(), QStringLiteral("　インポートが完了しました。"));
  {
    // Once more: everything is registered already.
    MsgBoxAnswerer boxes;
    b->ImportCommand->click();
    EXPECT_TRUE(boxes.texts().value(0).contains(QStringLiteral("追加：0件\n登録済みのため追加しなかったもの：3件")));
  }
  EXPECT_EQ(home.read(paths::kAddressFile), book);
  {
    MsgBoxAnswerer boxes;
    home.write(QStringLiteral("memo.vcf"), "just a note\r\n");
    answer = pathInHome(home, "memo.vcf");
    b->ImportCommand->click();
    EXPECT_EQ(boxes.seen().value(0).icon, QMessageBox::Warning);
  }
  EXPECT_EQ(home.read(paths::kAddressFile), book);
}

// As a new user tries it: the book, then the compose window's side list.
TEST(AddressBookWindow, TheComposeWindowListsWhatTheBookHolds) {
  TempHome home;
  {
    Book b;
    b.enter(QStringLiteral("一郎"), QStringLiteral("ichiro@example.jp"));
    b.enter(QStringLiteral("二郎"), QStringLiteral("jiro@example.jp"));
    // A named address of 74 characters is stored whole.
    b->Text2->setText(QStringLiteral("三郎"));
    b->Text4->setText(QStringLiteral("saburo.") + QString(40, u's') + QStringLiteral("@example.jp"));
    b->Text50->setText(QStringLiteral("Saburo Yamada "));
    b->Command38->click();
    ASSERT_EQ(b->Text4->text().size(), 74);
    b->Command3->click();
    b.press(1);
    MsgBoxAnswerer boxes;
    boxes.answer(QMessageBox::Yes);
    b->Command4->click();
    EXPECT_EQ(addressbook::readAll().entry(1).address().trimmed().size(), 74);
  }
  WriteForm* w = WriteForm::instance();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
  ASSERT_EQ(w->List1->count(), 2);
  EXPECT_EQ(w->List1->item(0)->text().trimmed(), QStringLiteral("一郎"));
  EXPECT_EQ(w->List1->item(1)->text().trimmed(), QStringLiteral("三郎"));
  auto pick = [&](int row) {
    const QPoint at = w->List1->visualItemRect(w->List1->item(row)).center();
    QTest::mousePress(w->List1->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseRelease(w->List1->viewport(), Qt::LeftButton, {}, at);
  };
  pick(0);
  EXPECT_EQ(w->ToText->text(), QStringLiteral("ichiro@example.jp"));
  pick(1);
  EXPECT_EQ(w->ToText->text(), (QStringLiteral("Saburo Yamada <saburo.") + QString(40, u's')).left(60));
  w->close();
  destroyClosed();
}
