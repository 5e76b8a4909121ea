#include "platform/Paths.h"
#include "platform/SharedState.h"
#include "settings/AutoCheckForm.h"
#include "settings/IdPassForm.h"
#include "settings/OptionForm.h"
#include "settings/OptionSignIn.h"
#include "settings/SetForm.h"
#include "settings/files/AccountSettings.h"
#include "settings/files/AutoCheckFile.h"
#include "settings/files/StateFile.h"
#include "support/Gui.h"
#include "support/WindowRules.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QGroupBox>
#include <QSpinBox>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include "platform/TestHooks.h"
#include "platform/ui/MsgBox.h"
#include <gtest/gtest.h>

namespace {
void resetSettings() { AccountSettings() = AccountSettingsRecord{}; }
QByteArray pelkit() {
  QFile f(QDir::current().filePath(QStringLiteral("pelkit.ini")));
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
}  // namespace

TEST(ServerDialog, ConfirmStoresInMemoryAndFileAndReopensFilled) {
  TempHome home;
  resetSettings();
  OptionForm* d = OptionForm::showDialog();
  EXPECT_EQ(d->windowTitle(), QStringLiteral("サーバー設定"));
  EXPECT_TRUE(d->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_EQ(d->OkCommand->text(), QStringLiteral("設定"));
  EXPECT_EQ(d->CancelCommand->text(), QStringLiteral("中止"));
  EXPECT_EQ(d->ApopCheck->text(), QStringLiteral("APOP を使用する(&A)"));
  QTest::keyClicks(d->SmtpText, QStringLiteral("smtp.example"));
  QTest::keyClicks(d->Pop3Text, QStringLiteral("pop.example"));
  QTest::keyClicks(d->MailText, QStringLiteral("me@example"));
  d->ApopCheck->setChecked(true);
  d->OkCommand->click();
  pump();
  EXPECT_EQ(OptionForm::instance(), nullptr);  // closed and discarded
  EXPECT_EQ(AccountSettings().Pop3Server, QStringLiteral("pop.example"));
  EXPECT_EQ(AccountSettings().ApopFlag, 1);
  EXPECT_EQ(pelkit(), QByteArray("SMTP=smtp.example\r\nPOP3=pop.example\r\n" "MAIL=me@example\r\nAPOP=1\r\n"));

  d = OptionForm::showDialog();
  EXPECT_EQ(d->Pop3Text->text(), QStringLiteral("pop.example"));
  EXPECT_TRUE(d->ApopCheck->isChecked());
  // Esc cancels: nothing changes.
  d->Pop3Text->setText(QStringLiteral("changed"));
  QTest::keyClick(d->Pop3Text, Qt::Key_Escape);
  pump();
  EXPECT_EQ(OptionForm::instance(), nullptr);
  EXPECT_EQ(AccountSettings().Pop3Server, QStringLiteral("pop.example"));
  EXPECT_TRUE(pelkit().contains("POP3=pop.example\r\n"));
}

TEST(AccountDialog, LoadsSavedValuesAndSavesOnlyWhenAsked) {
  TempHome home;
  resetSettings();
  ASSERT_TRUE(WriteAccountFile(QStringLiteral("saved-id"), QStringLiteral("saved-pw"), true));
  IdPassForm* d = IdPassForm::instance();
  EXPECT_EQ(d->windowTitle(), QStringLiteral("ID,PASS"));
  EXPECT_EQ(d->IdText->text(), QStringLiteral("saved-id"));
  EXPECT_EQ(d->PassText->echoMode(), QLineEdit::Password);
  EXPECT_FALSE(d->Check1->isChecked());
  EXPECT_EQ(d->Label3->text(), QStringLiteral("IDパスワードを保存する"));
  d->showDialog();
  d->IdText->setText(QStringLiteral("typed-id"));
  d->PassText->setText(QStringLiteral("typed-pw"));
  QTest::keyClick(d->PassText, Qt::Key_Return);  // Enter confirms
  pump();
  EXPECT_EQ(IdPassForm::existing(), nullptr);
  EXPECT_EQ(AccountSettings().UserId, QStringLiteral("typed-id"));
  EXPECT_EQ(AccountSettings().Password, QStringLiteral("typed-pw"));
  EXPECT_EQ(ReadAccountFile().id, QStringLiteral("saved-id"));  // not saved: the earlier values stay

  d = IdPassForm::instance();
  d->IdText->setText(QStringLiteral("new-id"));
  d->Check1->setChecked(true);
  d->OKCommand->click();
  pump();
  EXPECT_EQ(ReadAccountFile().id, QStringLiteral("new-id"));
}

TEST(AccountDialog, AFailedSaveIsReported) {
  TempHome home(false);  // no data folder
  MsgBoxAnswerer answers;
  IdPassForm* d = IdPassForm::instance();
  d->IdText->setText(QStringLiteral("id"));
  d->Check1->setChecked(true);
  d->OKCommand->click();
  pump();
  ASSERT_EQ(answers.seen().size(), 1);
  EXPECT_TRUE(answers.seen()[0].text.contains(QStringLiteral("保存できませんでした")));
  EXPECT_EQ(AccountSettings().UserId, QStringLiteral("id"));  // still used for this run

  // Declining to save needs no file and says nothing.
  d = IdPassForm::instance();
  d->OKCommand->click();
  pump();
  EXPECT_EQ(answers.seen().size(), 1);
}

TEST(SettingsChooser, OpensEitherDialogAndStaysOpen) {
  TempHome home;
  SetForm* c = SetForm::showDialog();
  EXPECT_EQ(c->windowTitle(), QStringLiteral("設定"));
  c->Command2->click();
  ASSERT_NE(OptionForm::instance(), nullptr);
  EXPECT_TRUE(OptionForm::instance()->isVisible());
  c->Command1->click();
  ASSERT_NE(IdPassForm::existing(), nullptr);
  EXPECT_TRUE(IdPassForm::existing()->isVisible());
  EXPECT_TRUE(c->isVisible());
  OptionForm::instance()->close();
  IdPassForm::existing()->close();
  c->close();
  pump();
}

TEST(SettingsChooser, TheThirdButtonGoesAfterTheTwoAndOpensTheAutomaticCheck) {
  TempHome home;
  SetForm* c = SetForm::showDialog();
  pump();
  EXPECT_EQ(c->Command3->text(), QStringLiteral("自動受信"));
  // The two buttons first, in their order, the third after them, all seen whole.
  EXPECT_LT(c->Command1->geometry().right(), c->Command2->x());
  EXPECT_LT(c->Command2->geometry().right(), c->Command3->x());
  EXPECT_TRUE(c->rect().contains(c->Command3->geometry()));
  EXPECT_EQ(c->Command1->y(), c->Command3->y());
  c->Command3->click();
  ASSERT_NE(AutoCheckForm::instance(), nullptr);
  EXPECT_TRUE(AutoCheckForm::instance()->isVisible());
  EXPECT_TRUE(c->isVisible());
  EXPECT_TRUE(keepsScreenReaderRules(AutoCheckForm::instance()));
  EXPECT_EQ(spokenName(AutoCheckForm::instance()->MinutesSpin), QStringLiteral("受信の間隔（分）(N)"));
  AutoCheckForm::instance()->close();
  c->close();
  pump();
}

TEST(AutoCheckDialog, OffAtFirstThenKeptInItsOwnFileAndTheMainWindowTold) {
  TempHome home;
  ASSERT_TRUE(WriteStateFile(false, true));
  const QByteArray state = home.read(paths::kStateFile);
  int told = 0;
  shared::MainWindow.autoCheckChanged = [&] { ++told; };

  AutoCheckForm* d = AutoCheckForm::showDialog();
  EXPECT_EQ(d->windowTitle(), QStringLiteral("自動受信"));
  EXPECT_FALSE(d->AutoCheck->isChecked());
  EXPECT_EQ(d->MinutesSpin->value(), 10);
  EXPECT_FALSE(d->MinutesSpin->isEnabled());
  EXPECT_EQ(d->MinutesSpin->minimum(), 1);
  EXPECT_EQ(d->MinutesSpin->maximum(), 1440);

  // "中止" and Esc keep nothing.
  d->AutoCheck->setChecked(true);
  EXPECT_TRUE(d->MinutesSpin->isEnabled());
  d->CancelCommand->click();
  pump();
  d = AutoCheckForm::showDialog();
  d->AutoCheck->setChecked(true);
  QTest::keyClick(d, Qt::Key_Escape);
  pump();
  EXPECT_EQ(AutoCheckForm::instance(), nullptr);
  EXPECT_FALSE(QFile::exists(autoCheckFilePath()));
  EXPECT_EQ(told, 0);

  d = AutoCheckForm::showDialog();
  d->AutoCheck->setChecked(true);
  d->MinutesSpin->setValue(25);
  d->OkCommand->click();
  pump();
  EXPECT_EQ(AutoCheckForm::instance(), nullptr);
  EXPECT_EQ(told, 1);
  EXPECT_EQ(ReadAutoCheck(), (AutoCheckChoice{true, 25}));
  EXPECT_EQ(home.read(paths::kStateFile), state);

  d = AutoCheckForm::showDialog();
  EXPECT_TRUE(d->AutoCheck->isChecked());
  EXPECT_EQ(d->MinutesSpin->value(), 25);
  d->AutoCheck->setChecked(false);
  d->OkCommand->click();
  pump();
  EXPECT_EQ(told, 2);
  EXPECT_EQ(ReadAutoCheck(), (AutoCheckChoice{false, 25}));
  shared::MainWindow.autoCheckChanged = nullptr;
}

TEST(AutoCheckDialog, AFileThatCannotBeWrittenIsSaidAndNotInForce) {
  TempHome home(false);  // no data folder
  int told = 0;
  shared::MainWindow.autoCheckChanged = [&] { ++told; };
  MsgBoxAnswerer answers;
  AutoCheckForm* d = AutoCheckForm::showDialog();
  d->AutoCheck->setChecked(true);
  d->OkCommand->click();
  pump();
  ASSERT_EQ(answers.seen().size(), 1);
  EXPECT_TRUE(answers.seen()[0].text.startsWith(QStringLiteral("自動受信の設定を「")));
  EXPECT_EQ(told, 1);
  EXPECT_FALSE(ReadAutoCheck().on);
  shared::MainWindow.autoCheckChanged = nullptr;
}

TEST(JapaneseInterface, StandardButtonsAndQuestionsReadInJapanese) {
  QString yes, no;
  testhooks::msgBox = [&](QMessageBox* box) {
    yes = box->button(QMessageBox::Yes)->text();
    no = box->button(QMessageBox::No)->text();
    QTimer::singleShot(0, box, [box] { box->button(QMessageBox::No)->click(); });
  };
  EXPECT_EQ(MsgBox(QStringLiteral("よろしいですか"), MsgButtons::YesNo, MsgIcon::Question, QStringLiteral("確認")), MsgResult::No);
  testhooks::msgBox = nullptr;
  EXPECT_TRUE(yes.startsWith(QStringLiteral("はい"))) << yes.toStdString();
  EXPECT_TRUE(no.startsWith(QStringLiteral("いいえ"))) << no.toStdString();
}

TEST(ServerDialog, UnencryptedLoginIsAllowedForTheNamedServersOnly) {
  TempHome home;
  resetSettings();
  OptionForm* d = OptionForm::showDialog();
  EXPECT_EQ(d->PlainCheck->text(), QStringLiteral("暗号化なしの接続を許可する（非推奨）(&U)"));
  EXPECT_FALSE(d->PlainCheck->isChecked());
  QTest::keyClicks(d->SmtpText, QStringLiteral("127.0.0.1:2525"));
  QTest::keyClicks(d->Pop3Text, QStringLiteral("127.0.0.1:1110"));
  d->PlainCheck->click();
  d->OkCommand->click();
  pump();
  EXPECT_EQ(pelkit(), QByteArray("SMTP=127.0.0.1:2525\r\nPOP3=127.0.0.1:1110\r\n" "MAIL=\r\nAPOP=0\r\n"
                                 "ALLOWPLAIN_POP3=127.0.0.1:1110\r\nALLOWPLAIN_SMTP=127.0.0.1:2525\r\n"));

  // Reopened, the box shows the permission; a new server name does not
  // inherit it.
  d = OptionForm::showDialog();
  EXPECT_TRUE(d->PlainCheck->isChecked());
  d->Pop3Text->selectAll();
  QTest::keyClicks(d->Pop3Text, QStringLiteral("pop.isp.example"));
  EXPECT_FALSE(d->PlainCheck->isChecked());
  d->OkCommand->click();
  pump();
  EXPECT_EQ(pelkit(), QByteArray("SMTP=127.0.0.1:2525\r\nPOP3=pop.isp.example\r\n" "MAIL=\r\nAPOP=0\r\n"));
  EXPECT_TRUE(AccountSettings().PlainPop3Server.isEmpty());
  EXPECT_TRUE(AccountSettings().PlainSmtpServer.isEmpty());

  // Ticked again after the edit, it holds for the names confirmed.
  d = OptionForm::showDialog();
  d->PlainCheck->click();
  QTest::keyClicks(d->SmtpText, QStringLiteral("0"));
  EXPECT_TRUE(d->PlainCheck->isChecked());
  d->OkCommand->click();
  pump();
  EXPECT_EQ(AccountSettings().PlainSmtpServer, QStringLiteral("127.0.0.1:25250"));
  EXPECT_EQ(AccountSettings().PlainPop3Server, QStringLiteral("pop.isp.example"));
}

TEST(ServerDialog, LeavingMailOnTheServerIsAGroupBelowTheServerControlsAndGoesAfterTheFourLines) {
  TempHome home;
  resetSettings();
  OptionForm* d = OptionForm::showDialog();
  EXPECT_EQ(d->LeaveCheck->text(), QStringLiteral("サーバーにメールを残す"));
  EXPECT_EQ(d->LeaveWithHereCheck->text(), QStringLiteral("ここで削除したらサーバーからも削除"));
  pump();
  // Below every control the dialog always had, its buttons included, and
  // below the sign-in group: the dialog grows downwards.
  for (QWidget* above : {static_cast<QWidget*>(d->ApopCheck), static_cast<QWidget*>(d->PlainCheck),
                         static_cast<QWidget*>(d->OkCommand), static_cast<QWidget*>(d->CancelCommand)})
    EXPECT_GE(d->LeaveGroup->geometry().top(), above->geometry().bottom());
  EXPECT_GE(d->LeaveGroup->geometry().top(), d->SignInGroup->geometry().bottom());
  // The row reads "N日後にサーバーから削除" left to right, N in the box.
  EXPECT_LT(d->LeaveDaysCheck->geometry().right(), d->LeaveDaysSpin->geometry().left());
  EXPECT_LT(d->LeaveDaysSpin->geometry().right(), d->LeaveDaysLabel->geometry().left());
  EXPECT_EQ(QString::number(d->LeaveDaysSpin->value()) + d->LeaveDaysLabel->text(),
            QStringLiteral("14日後にサーバーから削除"));
  EXPECT_EQ(d->LeaveDaysSpin->minimum(), 1);
  EXPECT_EQ(d->LeaveDaysSpin->maximum(), 365);
  // The ways of deleting there wait for mail to be left at all.
  EXPECT_FALSE(d->LeaveDaysCheck->isEnabled());
  EXPECT_FALSE(d->LeaveWithHereCheck->isEnabled());
  EXPECT_FALSE(d->LeaveDaysSpin->isEnabled());
  d->LeaveCheck->click();
  EXPECT_TRUE(d->LeaveDaysCheck->isEnabled());
  EXPECT_FALSE(d->LeaveDaysSpin->isEnabled());
  d->LeaveDaysCheck->click();
  EXPECT_TRUE(d->LeaveDaysSpin->isEnabled());
  d->LeaveDaysSpin->setValue(3);
  d->LeaveWithHereCheck->click();
  QTest::keyClicks(d->Pop3Text, QStringLiteral("pop.example"));
  d->OkCommand->click();
  pump();
  EXPECT_EQ(pelkit(), QByteArray("SMTP=\r\nPOP3=pop.example\r\n" "MAIL=\r\nAPOP=0\r\n"
                                 "LEAVE_ON_SERVER=1\r\nLEAVE_DELETE_AFTER=1\r\nLEAVE_DAYS=3\r\n"
                                 "LEAVE_DELETE_WITH_HERE=1\r\n"));
  EXPECT_TRUE(AccountSettings().LeaveOnServer);
  EXPECT_EQ(AccountSettings().LeaveDays, 3);

  // Reopened filled; cancelled, nothing changes.
  d = OptionForm::showDialog();
  EXPECT_TRUE(d->LeaveCheck->isChecked());
  EXPECT_TRUE(d->LeaveDaysCheck->isChecked());
  EXPECT_EQ(d->LeaveDaysSpin->value(), 3);
  EXPECT_TRUE(d->LeaveWithHereCheck->isChecked());
  d->LeaveCheck->click();
  d->CancelCommand->click();
  pump();
  EXPECT_TRUE(AccountSettings().LeaveOnServer);

  // Unticked again, the file is the four server lines once more.
  d = OptionForm::showDialog();
  d->LeaveCheck->click();
  d->LeaveDaysCheck->setChecked(false);
  d->LeaveWithHereCheck->setChecked(false);
  d->LeaveDaysSpin->setValue(14);
  d->OkCommand->click();
  pump();
  EXPECT_EQ(pelkit(), QByteArray("SMTP=\r\nPOP3=pop.example\r\n" "MAIL=\r\nAPOP=0\r\n"));
}

TEST(SettingsScreenReader, EveryBoxIsNamedAndNoInternalNameShows) {
  TempHome home;
  SetForm* chooser = SetForm::showDialog();
  EXPECT_TRUE(keepsScreenReaderRules(chooser));
  OptionForm* server = OptionForm::showDialog();
  EXPECT_TRUE(keepsScreenReaderRules(server));
  EXPECT_EQ(spokenName(server->SmtpText), QStringLiteral("SMTPサーバー名(S)"));
  IdPassForm* account = IdPassForm::instance();
  account->showDialog();
  EXPECT_TRUE(keepsScreenReaderRules(account));
  EXPECT_EQ(spokenName(account->Check1), QStringLiteral("IDパスワードを保存する"));
  pump();
  EXPECT_LE(std::abs(markOffsetFromLabel(account->Check1, account->Label3)), 1);
  for (QWidget* w : {static_cast<QWidget*>(chooser), static_cast<QWidget*>(server), static_cast<QWidget*>(account)}) w->close();
  pump();
}
