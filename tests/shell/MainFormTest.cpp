#include "platform/Profile.h"
#include "settings/IdPassForm.h"
#include "settings/OptionForm.h"
#include "settings/SetForm.h"
#include "settings/files/AccountSettings.h"
#include "shell/MainForm.h"
#include "support/Gui.h"
#include "support/WindowRules.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTextBrowser>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>

namespace {

constexpr qint64 L = 32284;

void writeState(const TempHome& home, const QByteArray& content) { home.write(QStringLiteral("★MailData/ini.ini"), content); }

// Everything a start needs so that no start-up dialog opens.
void configure(const TempHome& home) {
  home.write(QStringLiteral("pelkit.ini"), "SMTP=smtp.example\r\nPOP3=pop.example\r\n" "MAIL=me@example\r\nAPOP=0\r\n");
  ASSERT_TRUE(WriteAccountFile(QStringLiteral("id"), QStringLiteral("pw"), true));
}

struct Started {
  std::unique_ptr<MainForm> form;
  explicit Started() : form(std::make_unique<MainForm>()) { pump(); }
  ~Started() {
    for (QWidget* w : {static_cast<QWidget*>(OptionForm::instance()), static_cast<QWidget*>(IdPassForm::existing()),
                       static_cast<QWidget*>(SetForm::instance())})
      if (w) w->close();
    pump();
  }
};

void resetSettings() { AccountSettings() = AccountSettingsRecord{}; }

}  // namespace

// First in this file: no test before it has played a tune in this process.
TEST(MainWindowStart, TheSynthesizerIsLoadedAtTheFirstTuneNotAtTheStart) {
  const auto synthesizerLoaded = [] {
    QFile maps(QStringLiteral("/proc/self/maps"));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("libfluidsynth");
  };
  TempHome home;
  resetSettings();
  configure(home);
  Started s;
  pump(200);
  EXPECT_FALSE(synthesizerLoaded()) << "the window's start loaded the synthesizer";
  s.form->Command2->click();  // BGM: the first tune
  pump();
  EXPECT_TRUE(synthesizerLoaded());
  s.form->Command7->click();
}

TEST(MainWindowStart, FirstStartCreatesTheMailFileAndAsksForTheServer) {
  TempHome home;
  resetSettings();
  Started s;
  MainForm& m = *s.form;
  EXPECT_EQ(m.windowTitle(), QStringLiteral("灯火亭　Ver 1.0"));
  EXPECT_TRUE(QFile::exists(home.file(QStringLiteral("★MAilData/plkdata2.data"))));
  EXPECT_EQ(QFileInfo(home.file(QStringLiteral("★MAilData/plkdata2.data"))).size(), 0);
  EXPECT_EQ(m.Text4->text(), QStringLiteral("0"));
  EXPECT_EQ(m.Command8->text(), QStringLiteral("宵待ち草(Click)"));
  EXPECT_EQ(m.Text5->text(), QStringLiteral("0"));
  EXPECT_FALSE(m.WebBrowser1->isVisibleTo(&m));
  EXPECT_TRUE(m.Picture3->isVisibleTo(&m));
  // No POP3 server and no account yet: both dialogs are up.
  ASSERT_NE(OptionForm::instance(), nullptr);
  EXPECT_TRUE(OptionForm::instance()->isVisible());
  ASSERT_NE(IdPassForm::existing(), nullptr);
  EXPECT_TRUE(IdPassForm::existing()->isVisible());
}

TEST(MainWindowStart, ConfiguredStartOpensNoDialog) {
  TempHome home;
  resetSettings();
  configure(home);
  Started s;
  EXPECT_EQ(OptionForm::instance(), nullptr);
  EXPECT_TRUE(IdPassForm::existing() == nullptr || !IdPassForm::existing()->isVisible());
  EXPECT_EQ(AccountSettings().Pop3Server, QStringLiteral("pop.example"));
}

TEST(MainWindowStart, StoredCountIsTheNumberOfCompleteRecords) {
  // A partial tail is never a mail, here as in the viewer's list.
  const std::pair<qint64, const char*> cases[] = {{3 * L, "3"}, {L + L / 2, "1"}, {2 * L + L / 2, "2"}, {2 * L + L * 6 / 10, "2"}, {L - 1, "0"}};
  for (const auto& [bytes, shown] : cases) {
    TempHome home;
    configure(home);
    QFile f(home.file(QStringLiteral("★MAilData/plkdata2.data")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_TRUE(f.resize(bytes));
    f.close();
    Started s;
    EXPECT_EQ(s.form->Text4->text(), QString::fromLatin1(shown)) << bytes;
  }
}

TEST(MainWindowState, ChoicesAreReadAtStartAndWrittenAtEnd) {
  TempHome home;
  configure(home);
  writeState(home, "[EXEINI]\r\nNUMBER=1\r\nNUMBER2=0\r\n");
  {
    Started s;
    EXPECT_TRUE(s.form->Check1->isChecked());
    EXPECT_FALSE(s.form->Check2->isChecked());
    EXPECT_TRUE(s.form->Text1->isVisibleTo(s.form.get()));  // explanations shown
    s.form->mend->trigger();
  }
  EXPECT_EQ(home.read(QStringLiteral("★MailData/ini.ini")), QByteArray("[EXEINI]\r\nNUMBER=1\r\nNUMBER2=0\r\n"));

  // 2 is neither on nor off: the box keeps its unchecked state and 0 goes back.
  writeState(home, "[EXEINI]\r\nNUMBER=2\r\nNUMBER2=1\r\n");
  {
    Started s;
    EXPECT_FALSE(s.form->Check1->isChecked());
    EXPECT_TRUE(s.form->Check2->isChecked());
    s.form->Check2->setChecked(false);
    s.form->Check1->setChecked(true);
    s.form->close();  // closing the window runs the same steps
  }
  EXPECT_EQ(home.read(QStringLiteral("★MailData/ini.ini")), QByteArray("[EXEINI]\r\nNUMBER=1\r\nNUMBER2=0\r\n"));
}

TEST(MainWindowState, NoStateFileClosingCreatesItWithZeros) {
  TempHome home;
  configure(home);
  {
    Started s;
    EXPECT_FALSE(s.form->Check1->isChecked());
    s.form->mend->trigger();
  }
  EXPECT_EQ(home.read(QStringLiteral("★MailData/ini.ini")), QByteArray("[EXEINI]\r\nNUMBER=0\r\nNUMBER2=0\r\n"));
}

TEST(MainWindowStart, MissingDataFolderSaysHowToLayItOutAndCarriesOn) {
  TempHome home(false);
  resetSettings();
  MsgBoxAnswerer answers;
  Started s;
  ASSERT_EQ(answers.seen().size(), 1);
  const QString text = answers.seen()[0].text;
  EXPECT_TRUE(text.contains(QStringLiteral("★MAilData")));
  EXPECT_TRUE(text.contains(QStringLiteral("--init-home")));
  EXPECT_TRUE(text.contains(home.path()));
  EXPECT_EQ(s.form->Text4->text(), QStringLiteral("0"));
  EXPECT_TRUE(QDir(home.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty());  // nothing created
  // It carries on: closing still works (the state cannot be written).
  s.form->mend->trigger();
  EXPECT_EQ(answers.seen().size(), 1);
}

TEST(MainWindowHelp, TextFollowsTheMouseAndCheck1ShowsTheBox) {
  TempHome home;
  configure(home);
  Started s;
  MainForm& m = *s.form;
  EXPECT_FALSE(m.Text1->isVisibleTo(&m));
  m.Check1->setChecked(true);
  EXPECT_TRUE(m.Text1->isVisibleTo(&m));
  QEvent enter(QEvent::Enter);
  QCoreApplication::sendEvent(m.Command4, &enter);
  EXPECT_EQ(m.Text1->toPlainText(), QStringLiteral("新着メールの受信を行います。"));
  // A control without help text leaves the last text.
  QCoreApplication::sendEvent(m.Command2, &enter);
  QCoreApplication::sendEvent(m.Text2, &enter);
  EXPECT_EQ(m.Text1->toPlainText(), QStringLiteral("新着メールの受信を行います。"));
  QCoreApplication::sendEvent(m.Text4, &enter);
  EXPECT_TRUE(m.Text1->toPlainText().startsWith(QStringLiteral("これまでに受信したメールの累積数")));
  m.Check1->setChecked(false);
  EXPECT_FALSE(m.Text1->isVisibleTo(&m));
}

TEST(MainWindowLayout, ControlsMenuAndClock) {
  TempHome home;
  configure(home);
  Started s;
  MainForm& m = *s.form;
  const QStringList captions = {m.Command4->text(), m.Command6->text(), m.Command3->text(), m.Command5->text(),
                                m.Command1->text(), m.Command2->text(), m.Command7->text(), m.Command9->text(),
                                m.Command11->text(), m.Command10->text()};
  EXPECT_EQ(captions, QStringList({QStringLiteral("メール受信"), QStringLiteral("メールを見る"), QStringLiteral("新規作成"),
                                   QStringLiteral("アドレス帳"), QStringLiteral("初期設定"), QStringLiteral("BGM ON"),
                                   QStringLiteral("BGM OFF"), QStringLiteral("店を覗く"), QStringLiteral("店を出る"),
                                   QStringLiteral("HP")}));
  EXPECT_EQ(m.Label5->text(), QStringLiteral("　新着数"));
  EXPECT_EQ(m.Label4->text(), QStringLiteral("着信数（累積）"));
  EXPECT_EQ(m.Check1->accessibleName(), QStringLiteral("説明表示"));

  QMenu* file = m.menuBar()->findChild<QMenu*>(QStringLiteral("mFile"));
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->title(), QStringLiteral("ファイル(&F)"));
  QStringList items;
  for (QAction* a : file->actions()) items << (a->isSeparator() ? QStringLiteral("–") : a->text());
  EXPECT_EQ(items, QStringList({QStringLiteral("メールチェック"), QStringLiteral("メールを見る"), QStringLiteral("新規作成"),
                                QStringLiteral("アドレス帳"), QStringLiteral("–"), QStringLiteral("常に前面表示"),
                                QStringLiteral("常に前面表示解除"), QStringLiteral("待機"), QStringLiteral("–"),
                                QStringLiteral("イベント確認"), QStringLiteral("戻す"), QStringLiteral("–"),
                                QStringLiteral("作者のホームページ"), QStringLiteral("–"), QStringLiteral("終了")}));

  EXPECT_EQ(m.Timer2->interval(), 20);
  EXPECT_TRUE(m.Timer2->isActive());
  const QRegularExpression clock(QStringLiteral("^\\d{4}/\\d{2}/\\d{2}  \\d{1,2}:\\d{2}:\\d{2}$"));
  EXPECT_TRUE(clock.match(m.Text2->text()).hasMatch()) << m.Text2->text().toStdString();
  const QString before = m.Text2->text();
  pump(1100);
  EXPECT_NE(m.Text2->text(), before);  // the clock runs

  m.Command1->click();
  ASSERT_NE(SetForm::instance(), nullptr);
  EXPECT_TRUE(SetForm::instance()->isVisible());
}

TEST(MainWindowScreenReader, StatusBoxesReadTheirValueUnderTheirNameAndNoInternalNameShows) {
  TempHome home;
  configure(home);
  Started s;
  MainForm& m = *s.form;
  EXPECT_TRUE(keepsScreenReaderRules(&m));
  m.Text3->setText(QStringLiteral("新着メールが2件あります。"));
  m.Text6->setText(QStringLiteral("2"));
  const struct {
    QWidget* box;
    QString name, value;
  } boxes[] = {{m.Text3, QStringLiteral("受信状況"), QStringLiteral("新着メールが2件あります。")},
               {m.Text6, QStringLiteral("新着数"), QStringLiteral("2")},
               {m.Text4, QStringLiteral("着信数（累積）"), QStringLiteral("0")}};
  for (const auto& b : boxes) {
    EXPECT_EQ(spokenName(b.box), b.name);
    EXPECT_EQ(spokenValue(b.box), b.value);
  }
  EXPECT_EQ(spokenName(m.Label2), QStringLiteral("新着メール有りで、メールを見るを自動表示"));
  EXPECT_EQ(spokenName(m.Check2), QStringLiteral("新着メール有りで、メールを見るを自動表示"));
}

TEST(MainWindowLayout, CheckBoxMarksLineUpWithTheFirstLineOfTheirLabels) {
  TempHome home;
  configure(home);
  Started s;
  MainForm& m = *s.form;
  m.show();
  pump();
  for (const auto& [box, label] : {std::pair{m.Check1, m.Label1}, std::pair{m.Check2, m.Label2}, std::pair{m.Check3, m.Label3}})
    EXPECT_LE(std::abs(markOffsetFromLabel(box, label)), 1) << label->text().toStdString() << ": " << markOffsetFromLabel(box, label);
}
