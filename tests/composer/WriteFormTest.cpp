// The compose window without sending: loading, the address side list, the
// stock phrases, the attachment panel, the sending modes and the help box.
#include "ComposeFixture.h"

#include "addressbook/FriendForm.h"
#include "addressbook/book/AddressBook.h"
#include "composer/BackColor.h"
#include "platform/SharedState.h"
#include "platform/ui/Twips.h"
#include "settings/files/AccountSettings.h"
#include "shell/MainForm.h"
#include "support/CaptionFit.h"
#include "support/WindowRules.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <memory>

namespace {

// 75 characters, as an address field may hold.
const QString kLongAddress = QStringLiteral("0123456789").repeated(6) + QStringLiteral("abcd@example.jp");

bool near(double a, double b) { return std::abs(a - b) <= 20; }

}  // namespace

TEST(ComposeWindow, LoadsWithTheAddressBookInTheSideList) {
  TempHome home;
  addAddress(home, QStringLiteral("山田 花子"), QStringLiteral("hanako@example.jp"));
  addAddress(home, QStringLiteral("Bob"), QStringLiteral("bob@example.com"));
  addAddress(home, QStringLiteral("会社"), QStringLiteral("office@example.co.jp"));
  shared::ListSource = 10;  // as a held list would leave it
  Compose c;
  EXPECT_EQ(c->windowTitle(), QStringLiteral("新規作成"));
  EXPECT_EQ(shared::ListSource, 0);
  ASSERT_EQ(c->List1->count(), 3);
  // Names as stored: 90 characters, padding included.
  EXPECT_EQ(c->List1->item(0)->text(), QStringLiteral("山田 花子").leftJustified(86, u' '));
  EXPECT_EQ(c->List1->item(2)->text().trimmed(), QStringLiteral("会社"));
  EXPECT_EQ(c->Text1->text(), QStringLiteral("3"));
  EXPECT_EQ(c->RowRecordMap, (QList<int16_t>{1, 2, 3}));
  EXPECT_TRUE(near(twips::outerWidth(c.get()), 9700)) << twips::outerWidth(c.get()) << " " << c->width();
  EXPECT_TRUE(c->List1->isVisibleTo(c.get()));
  EXPECT_FALSE(c->Picture7->isVisibleTo(c.get()));
  EXPECT_FALSE(c->List2->isVisibleTo(c.get()));
  EXPECT_EQ(c->Combo1->count(), 8);
  EXPECT_EQ(c->Combo1->itemText(0), QStringLiteral("御社益々ご清祥の事とお慶び申し上げます。"));
  EXPECT_EQ(c->Combo1->itemText(7), QStringLiteral("こんにちわ。お変わりなく、お元気ですか？"));
  EXPECT_TRUE(c->Combo1->currentText().isEmpty());
  EXPECT_TRUE(c->ToText->isEnabled());
  EXPECT_TRUE(c->Option2->isEnabled());
  EXPECT_FALSE(c->Option2->isChecked());
  EXPECT_EQ(backColor(c->ToText), QColor(255, 255, 255));
  EXPECT_TRUE(c->windowFlags() & Qt::WindowStaysOnTopHint);

  // One window per process: asking again gives the same one.
  EXPECT_EQ(WriteForm::instance(), c.get());
}

TEST(ComposeWindow, AMissingAddressBookIsCreatedEmpty) {
  TempHome home;
  QFile::remove(home.file(paths::kAddressFile));
  Compose c;
  EXPECT_EQ(c->List1->count(), 0);
  EXPECT_EQ(c->Text1->text(), QStringLiteral("0"));
  EXPECT_TRUE(QFileInfo::exists(home.file(paths::kAddressFile)));
}

TEST(ComposeWindow, PickingAnAddressPutsTheFirst60CharactersIntoTheRecipient) {
  TempHome home;
  addAddress(home, QStringLiteral("one"), QStringLiteral("  one@example.com"));
  addAddress(home, QStringLiteral("long"), kLongAddress);
  ASSERT_EQ(kLongAddress.size(), 75);
  Compose c;
  c->ToText->setText(QStringLiteral("earlier@example.com"));
  c.pressSideList(1);
  EXPECT_EQ(c->ToText->text(), kLongAddress.left(60));
  EXPECT_EQ(c->Text2->text(), QStringLiteral("1"));
  c.pressSideList(0);
  EXPECT_EQ(c->ToText->text(), QStringLiteral("one@example.com"));

  // The list filled again holds no selection: a press below the rows finds none.
  c->Command4->click();
  MsgBoxAnswerer boxes;
  c.pressSideList(-1);
  ASSERT_EQ(boxes.seen().size(), 1);
  EXPECT_EQ(boxes.seen()[0].text, QStringLiteral("データが選択されていません"));
  EXPECT_EQ(boxes.seen()[0].icon, QMessageBox::Warning);
  EXPECT_EQ(c->ToText->text(), QStringLiteral("one@example.com"));
}

// The address book window renumbers the file when it deletes: a row listed
// before must not put another person's address into the recipient box.
TEST(ComposeWindow, AnAddressBookChangedSinceListingNeverGivesAnotherPersonsAddress) {
  TempHome home;
  addAddress(home, QStringLiteral("田中"), QStringLiteral("tanaka@home.example.jp"));
  addAddress(home, QStringLiteral("田中"), QStringLiteral("tanaka@work.example.jp"));
  addAddress(home, QStringLiteral("鈴木"), QStringLiteral("suzuki@example.jp"));
  Compose c;
  ASSERT_EQ(c->List1->count(), 3);
  // Deleted while this window waited: the second row still shows the work
  // address, but record 2 is the other person now.
  ASSERT_TRUE(addressbook::deleteEntry(1).ok);
  {
    MsgBoxAnswerer boxes;
    c.pressSideList(1);
    ASSERT_EQ(boxes.seen().size(), 1);
    EXPECT_EQ(boxes.seen()[0].text, QStringLiteral("アドレス帳の一覧が古くなっていたため、読み直しました。もう一度選択して下さい。"));
    EXPECT_EQ(boxes.seen()[0].icon, QMessageBox::Warning);
  }
  EXPECT_TRUE(c->ToText->text().isEmpty()) << c->ToText->text().toStdString();
  ASSERT_EQ(c->List1->count(), 2);
  EXPECT_EQ(c->Text1->text(), QStringLiteral("2"));
  c.pressSideList(1);
  EXPECT_EQ(c->ToText->text(), QStringLiteral("suzuki@example.jp"));
  c.pressSideList(0);
  EXPECT_EQ(c->ToText->text(), QStringLiteral("tanaka@work.example.jp"));

  // Registered in the address book window, the entry is listed here when
  // the user comes back to this window.
  FriendForm* book = FriendForm::instance();
  book->Text2->setText(QStringLiteral("山本"));
  book->Text4->setText(QStringLiteral("yamamoto@example.jp"));
  book->show();
  book->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(book));
  {
    MsgBoxAnswerer boxes;
    boxes.answer(QMessageBox::Yes);
    book->Command3->click();
  }
  c->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(c.get()));
  ASSERT_EQ(c->List1->count(), 3);
  EXPECT_EQ(c->List1->item(2)->text().trimmed(), QStringLiteral("山本"));
  EXPECT_EQ(c->Text1->text(), QStringLiteral("3"));
  c.pressSideList(2);
  EXPECT_EQ(c->ToText->text(), QStringLiteral("yamamoto@example.jp"));
  book->close();
  destroyClosed();
}

TEST(ComposeWindow, TheTwoSizesShowAndHideTheSideList) {
  TempHome home;
  addAddress(home, QStringLiteral("one"), QStringLiteral("one@example.com"));
  Compose c;
  c->Command6->click();
  EXPECT_TRUE(near(twips::outerWidth(c.get()), 7100)) << twips::outerWidth(c.get());
  EXPECT_GE(c->List1->x(), c->centralWidget()->width());  // behind the right edge
  EXPECT_EQ(c->List1->count(), 1);

  addAddress(home, QStringLiteral("two"), QStringLiteral("two@example.com"));
  shared::ListSource = 10;
  c->Command4->click();
  EXPECT_TRUE(near(twips::outerWidth(c.get()), 9700)) << twips::outerWidth(c.get());
  EXPECT_LE(c->List1->geometry().right(), c->centralWidget()->width());
  EXPECT_EQ(c->List1->count(), 2);
  EXPECT_EQ(c->Text1->text(), QStringLiteral("2"));
  EXPECT_EQ(shared::ListSource, 0);
}

TEST(ComposeWindow, AStockPhraseReplacesTheWholeBodyWhenItsBoxLosesFocus) {
  TempHome home;
  Compose c;
  c->rtfEd->setPlainText(QStringLiteral("書きかけの本文"));

  // Leaving the box untouched keeps the body... until a phrase is chosen.
  c->Combo1->setFocus();
  c->Combo1->setCurrentIndex(3);
  QTest::mouseClick(c->rtfEd->viewport(), Qt::LeftButton);
  EXPECT_EQ(c->rtfEd->toPlainText(), QStringLiteral("いつもお世話になっております。"));

  c->Combo1->setFocus();
  c->Combo1->setCurrentIndex(5);
  // Opening the drop-down is no loss of focus.
  c->Combo1->showPopup();
  pump(50);
  c->Combo1->hidePopup();
  EXPECT_EQ(c->rtfEd->toPlainText(), QStringLiteral("いつもお世話になっております。"));
  QTest::mouseClick(c->rtfEd->viewport(), Qt::LeftButton);
  EXPECT_EQ(c->rtfEd->toPlainText(), QStringLiteral("はじめまして、突然のメールで恐縮です。"));

  // Whatever was typed into the box counts as well, an empty box included.
  c->Combo1->setFocus();
  c->Combo1->setEditText(QStringLiteral("自分で書いた挨拶"));
  QTest::keyClick(c->Combo1, Qt::Key_Tab);
  EXPECT_EQ(c->rtfEd->toPlainText(), QStringLiteral("自分で書いた挨拶"));
  c->Combo1->setFocus();
  c->Combo1->setEditText(QString());
  QTest::keyClick(c->Combo1, Qt::Key_Tab);
  EXPECT_TRUE(c->rtfEd->toPlainText().isEmpty());
}

// The phrase replaces the body as one edit, which Ctrl+Z takes back, and
// Tab goes from the subject straight to the body.
TEST(ComposeWindow, AStockPhraseCanBeUndoneAndTabFromTheSubjectSkipsIt) {
  TempHome home;
  Compose c;
  c->rtfEd->setPlainText(QStringLiteral("書きかけの本文\n二行目"));
  c->Combo1->setFocus();
  c->Combo1->setCurrentIndex(0);
  QTest::mouseClick(c->rtfEd->viewport(), Qt::LeftButton);
  ASSERT_EQ(c->rtfEd->toPlainText(), QStringLiteral("御社益々ご清祥の事とお慶び申し上げます。"));
  QTest::keyClick(c->rtfEd, Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(c->rtfEd->toPlainText(), QStringLiteral("書きかけの本文\n二行目"));
  QTest::keyClick(c->rtfEd, Qt::Key_Y, Qt::ControlModifier);
  EXPECT_EQ(c->rtfEd->toPlainText(), QStringLiteral("御社益々ご清祥の事とお慶び申し上げます。"));

  c->rtfEd->setPlainText(QStringLiteral("残る本文"));
  c->SubjectText->setFocus();
  QTest::keyClick(c->SubjectText, Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), c->rtfEd);
  EXPECT_EQ(c->rtfEd->toPlainText(), QStringLiteral("残る本文"));
  // Still there for the keyboard, right after the body.
  QWidget* next = c->rtfEd->nextInFocusChain();
  while (next != c->rtfEd && (c->rtfEd->isAncestorOf(next) || !(next->focusPolicy() & Qt::TabFocus)))
    next = next->nextInFocusChain();
  EXPECT_EQ(next, c->Combo1);
}

// The check box only decides whether "IMEパッドの表示" opens or closes the
// pad, and says so; nothing is attached.
TEST(ComposeWindow, TheCheckBoxBesideTheSendingModesNamesWhatItDoes) {
  TempHome home;
  Compose c;
  EXPECT_EQ(c->Check1->text(), QStringLiteral("IMEパッドを閉じる"));
  const QString help = c->helpTextOf(c->Check1);
  EXPECT_FALSE(help.contains(QStringLiteral("占い"))) << help.toStdString();
  EXPECT_TRUE(help.contains(QStringLiteral("IMEパッドの表示"))) << help.toStdString();
  EXPECT_GE(c->Check1->width(), c->Check1->sizeHint().width());
  EXPECT_TRUE(c->centralWidget()->rect().contains(c->Check1->geometry()));
  for (QWidget* w : c->centralWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    if (w != c->Check1 && w != c->Text14 && w->isVisibleTo(c.get()))
      EXPECT_FALSE(w->geometry().intersects(c->Check1->geometry())) << w->objectName().toStdString();
  c->Command17->click();  // the held-mail panel beside it
  EXPECT_FALSE(c->Picture7->geometry().intersects(c->Check1->geometry()));
}

TEST(AttachmentPanel, FirstFileThenFurtherFiles) {
  TempHome home;
  Compose c;
  const QString p1 = home.path() + QStringLiteral("/見積書.pdf");
  const QString p2 = home.path() + QStringLiteral("/写真 1.jpg");
  c.chooseFiles({p1, p2, p2});
  c->AttachCommand->click();
  EXPECT_EQ(c->AttachText->text(), p1);
  EXPECT_FALSE(c->AttachCommand->isEnabled());
  EXPECT_TRUE(c->Command9->isEnabled());
  c->Command9->click();
  EXPECT_EQ(c->AttachText->text(), p1 + u',' + p2);
  EXPECT_TRUE(c->List2->isVisibleTo(c.get()));
  // The same file twice is added twice.
  c->Command9->click();
  EXPECT_EQ(c->AttachText->text(), p1 + u',' + p2 + u',' + p2);
  ASSERT_EQ(c->List2->count(), 3);
  EXPECT_EQ(c->List2->item(0)->text(), QStringLiteral("見積書.pdf"));
  EXPECT_EQ(c->List2->item(1)->text(), QStringLiteral("写真 1.jpg"));
}

TEST(AttachmentPanel, ACancelledFirstChoiceLeavesOnlyTheListToShow) {
  TempHome home;
  Compose c;
  c.chooseFiles({QString(), home.path() + QStringLiteral("/never.txt")});
  c->AttachCommand->click();
  EXPECT_TRUE(c->AttachText->text().isEmpty());
  EXPECT_FALSE(c->AttachCommand->isEnabled());
  c->Command9->click();
  EXPECT_TRUE(c->List2->isVisibleTo(c.get()));
  EXPECT_TRUE(c->AttachText->text().isEmpty());
  EXPECT_EQ(c.dialogsShown(), 1);  // no dialog for "追加" without a first file
}

TEST(AttachmentPanel, ListButtonHidesAndShowsByTurns) {
  TempHome home;
  Compose c;
  const QString p1 = home.path() + QStringLiteral("/a.txt");
  c.chooseFiles({p1});
  c->AttachCommand->click();
  c->Command9->click();  // shows the list (the dialog is cancelled)
  ASSERT_TRUE(c->List2->isVisibleTo(c.get()));
  c->Command16->click();
  EXPECT_EQ(c->Command16->text(), QStringLiteral("非表示"));
  EXPECT_EQ(backColor(c->Command16), QColor(255, 255, 0));
  EXPECT_FALSE(c->List2->isVisibleTo(c.get()));
  c->Command16->click();
  EXPECT_EQ(c->Command16->text(), QStringLiteral("表示"));
  EXPECT_EQ(backColor(c->Command16), QColor(192, 192, 192));
  EXPECT_TRUE(c->List2->isVisibleTo(c.get()));
  EXPECT_EQ(c->AttachText->text(), p1);
  EXPECT_EQ(c->AttachListCounter, 2);
}

TEST(AttachmentPanel, CancelDropsEveryFileAndItsButtonStaysSpent) {
  TempHome home;
  Compose c;
  const QString p1 = home.path() + QStringLiteral("/a.txt");
  const QString p2 = home.path() + QStringLiteral("/b.txt");
  c.chooseFiles({p1, p2, p2});
  c->AttachCommand->click();
  c->Command9->click();
  c->Command10->click();
  EXPECT_TRUE(c->AttachText->text().isEmpty());
  EXPECT_EQ(c->List2->count(), 0);
  EXPECT_FALSE(c->List2->isVisibleTo(c.get()));
  EXPECT_FALSE(c->Command9->isEnabled());
  EXPECT_FALSE(c->Command10->isEnabled());
  EXPECT_TRUE(c->AttachCommand->isEnabled());
  c->AttachCommand->click();
  EXPECT_EQ(c->AttachText->text(), p2);
  EXPECT_TRUE(c->Command9->isEnabled());
  EXPECT_FALSE(c->Command10->isEnabled());
}

TEST(SendingModes, AllAddressesAskFirstAndCancelLeavesTheRecipientShut) {
  TempHome home;
  Compose c;
  c->ToText->setText(QStringLiteral("someone@example.com"));
  {
    MsgBoxAnswerer boxes;
    boxes.answer(QMessageBox::Yes);
    c->Option2->click();
    ASSERT_EQ(boxes.seen().size(), 1);
    const auto& box = boxes.seen()[0];
    EXPECT_EQ(box.title, QStringLiteral("確認"));
    EXPECT_EQ(box.icon, QMessageBox::Question);
    EXPECT_EQ(box.buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(box.text, QStringLiteral("アドレス帳に登録しているメールアドレスすべてに同様の件名、本文で送信します。\n\n"
                                       "件名、本文入力完了後、送信ボタンをクリックして下さい。"));
  }
  EXPECT_TRUE(c->Option2->isChecked());
  EXPECT_TRUE(c->ToText->text().isEmpty());
  EXPECT_FALSE(c->ToText->isEnabled());
  EXPECT_EQ(backColor(c->ToText), QColor(213, 239, 255));
  EXPECT_EQ(backColor(c->List1), QColor(0, 128, 0));

  c->Option1->click();
  EXPECT_TRUE(c->ToText->isEnabled());
  EXPECT_EQ(backColor(c->ToText), QColor(255, 255, 255));
  EXPECT_EQ(backColor(c->List1), QColor(255, 255, 255));
  EXPECT_FALSE(c->Option2->isChecked());

  c->ToText->setText(QStringLiteral("someone@example.com"));
  {
    MsgBoxAnswerer boxes;
    boxes.answer(QMessageBox::No);
    c->Option2->click();
  }
  EXPECT_FALSE(c->Option2->isChecked());
  EXPECT_FALSE(c->Option1->isChecked());
  EXPECT_TRUE(c->ToText->text().isEmpty());
  EXPECT_FALSE(c->ToText->isEnabled());  // until "取消"
  EXPECT_EQ(backColor(c->ToText), QColor(255, 255, 255));
  EXPECT_EQ(backColor(c->List1), QColor(255, 255, 255));
  c->Option1->click();
  EXPECT_TRUE(c->ToText->isEnabled());
}

TEST(ComposeWindow, RecipientTakesAtMost60TypedCharacters) {
  TempHome home;
  Compose c;
  c->ToText->setFocus();
  QTest::keyClicks(c->ToText, QString(70, QChar(u'x')));
  EXPECT_EQ(c->ToText->text().size(), 60);
}

TEST(HelpBox, FollowsTheMouseOverTheControls) {
  TempHome home;
  Compose c;
  auto over = [](QWidget* w) {
    QEvent e(QEvent::Enter);
    QCoreApplication::sendEvent(w, &e);
  };
  c->Text14->hide();
  over(c->Command1);
  EXPECT_TRUE(c->Text14->isVisibleTo(c.get()));
  EXPECT_EQ(c->Text14->toPlainText(), QStringLiteral("送信します。電話回線が接続されていない場合は、自動的に接続してメールを送信します。"));
  over(c->rtfEd->viewport());
  EXPECT_FALSE(c->Text14->isVisibleTo(c.get()));
  over(c->Option2);
  EXPECT_TRUE(c->Text14->isVisibleTo(c.get()));
  EXPECT_EQ(c->helpTextOf(c->Option2), QStringLiteral("アドレス帳に登録しているメールアドレスすべてに同様の件名、本文で送信します。\r\n\r\n"
                                                      "件名、本文入力完了後、送信ボタンをクリックして下さい。"));
  EXPECT_TRUE(c->Text14->toPlainText().startsWith(QStringLiteral("アドレス帳に登録している")));
  // A control without a help text changes nothing.
  over(c->SubjectText);
  EXPECT_TRUE(c->Text14->isVisibleTo(c.get()));
  EXPECT_TRUE(c->Text14->toPlainText().startsWith(QStringLiteral("アドレス帳に登録している")));
  for (QLabel* l : c->Label2) EXPECT_FALSE(c->helpTextOf(l).isEmpty());
  over(c->Frame1);
  EXPECT_FALSE(c->Text14->isVisibleTo(c.get()));
}

TEST(HelpBox, StaysOutOfSightWhileTheMainWindowHidesExplanations) {
  TempHome home;
  home.write(QStringLiteral("pelkit.ini"), "SMTP=smtp.example\r\nPOP3=pop.example\r\n" "MAIL=me@example\r\nAPOP=0\r\n");
  ASSERT_TRUE(WriteAccountFile(QStringLiteral("id"), QStringLiteral("pw"), true));
  auto main = std::make_unique<MainForm>();
  main->Check1->setChecked(false);
  {
    Compose c;
    EXPECT_TRUE(near(twips::top(c->Text14), -4000));
    QEvent e(QEvent::Enter);
    QCoreApplication::sendEvent(c->Command3, &e);
    EXPECT_EQ(c->Text14->toPlainText(), QStringLiteral("送信を中止します。"));
    EXPECT_LT(c->Text14->geometry().bottom(), 0);
  }
  main->Check1->setChecked(true);
  {
    Compose c;
    EXPECT_TRUE(near(twips::top(c->Text14), 3600));
  }
  // The main window's "新規作成" opens the window, one at a time.
  main->Command3->click();
  WriteForm* opened = WriteForm::existing();
  ASSERT_NE(opened, nullptr);
  EXPECT_TRUE(opened->isVisible());
  main->mshinki->trigger();
  EXPECT_EQ(WriteForm::existing(), opened);
  opened->Command3->click();  // 送信中止
  destroyClosed();
  EXPECT_EQ(WriteForm::existing(), nullptr);
  AccountSettings() = AccountSettingsRecord{};
}

TEST(ComposeScreenReader, NoInternalNameShowsAndTheStatusLineReadsAsItShows) {
  TempHome home;
  Compose c;
  EXPECT_TRUE(keepsScreenReaderRules(c.get()));
  // The status line reads as what it shows.
  c->Label7->setText(QStringLiteral("1件中1件の送信に失敗しました。"));
  EXPECT_EQ(spokenName(c->Label7), QStringLiteral("1件中1件の送信に失敗しました。"));
  EXPECT_FALSE(c->Text2->isVisibleTo(c.get()));
}

TEST(HelpBox, ShowsEveryTextWholeAndCoversOnlyTheBody) {
  TempHome home;
  Compose c;
  QPlainTextEdit* box = c->Text14;
  // It lies over the body and nothing else.
  const QRect help = box->geometry();
  EXPECT_TRUE(c->rtfEd->geometry().contains(help));
  for (QWidget* w : c->rtfEd->parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (w == box || w == c->rtfEd || !w->isVisibleTo(c.get())) continue;
    EXPECT_FALSE(w->geometry().intersects(help)) << w->objectName().toStdString();
  }
  EXPECT_TRUE(c->centralWidget()->rect().contains(c->Picture7->geometry()));
  // Every text fits: nothing is left to scroll to.
  int texts = 0;
  for (QWidget* w : c->findChildren<QWidget*>()) {
    if (c->helpTextOf(w).isEmpty()) continue;
    ++texts;
    QEvent e(QEvent::Enter);
    QCoreApplication::sendEvent(w, &e);
    pump();
    EXPECT_TRUE(box->isVisible());
    EXPECT_EQ(box->verticalScrollBar()->maximum(), 0) << w->objectName().toStdString();
  }
  EXPECT_GE(texts, 21);
}

TEST(ComposeWindow, AtItsDefaultSizeEveryCaptionShowsAndTheHeldPanelLiesInside) {
  TempHome home;
  addAddress(home, QStringLiteral("一郎"), QStringLiteral("ichiro@example.jp"));
  shared::DraftPanelCounter = 0;
  Compose c;
  pump();
  EXPECT_TRUE(showsEveryCaptionWhole(c.get()));
  EXPECT_EQ(c->Label1->text(), QStringLiteral("アドレス帳"));
  // The commands follow the sending modes without an empty band between.
  EXPECT_LE(c->Command1->y() - c->Frame1->geometry().bottom(), twips::toPx(300));

  // The held mails: the panel in view with its lower border, the side list
  // under a heading that says what it lists.
  c->Command17->click();  // 下書き
  c->Command14->click();  // 呼出
  pump();
  ASSERT_TRUE(c->Picture7->isVisible());
  const QRect client = c->centralWidget()->rect();
  EXPECT_TRUE(client.adjusted(0, 0, -1, -1).contains(c->Picture7->geometry()));
  EXPECT_LE(c->centralWidget()->mapTo(c.get(), client.bottomLeft()).y(), c->height() - 1);
  EXPECT_EQ(c->Label1->text(), QStringLiteral("保留メール"));
  EXPECT_EQ(spokenName(c->List1), QStringLiteral("保留メール"));
  EXPECT_TRUE(showsEveryCaptionWhole(c.get()));
  // Back to the address book, back to its heading.
  c->Command4->click();
  EXPECT_EQ(c->Label1->text(), QStringLiteral("アドレス帳"));
  EXPECT_EQ(spokenName(c->List1), QStringLiteral("アドレス帳"));
  c->Command17->click();
}
