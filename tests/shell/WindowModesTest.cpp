// The main window's window modes as a user meets them: kept on top and back
// to normal order, standby with its clock and "復帰" (and the close box),
// and the window that explains the input method's character palette.
#include "composer/IMEForm.h"
#include "platform/Paths.h"
#include "platform/TestHooks.h"
#include "platform/sound/Mci.h"
#include "platform/ui/Twips.h"
#include "settings/IdPassForm.h"
#include "settings/files/AccountSettings.h"
#include "shell/MainForm.h"
#include "shell/TaikiForm.h"
#include "support/Gui.h"
#include "support/WindowRules.h"

#include <QAction>
#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTextBrowser>
#include <QTime>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>

namespace {

QString mode() {
  QString reply;
  mciSendString(QStringLiteral("status bgm mode"), &reply);
  return reply;
}

bool onTop(const QWidget* w) { return w->windowFlags() & Qt::WindowStaysOnTopHint; }

class WindowModes : public ::testing::Test {
 protected:
  void SetUp() override {
    AccountSettings() = AccountSettingsRecord{};
    home_.write(QStringLiteral("pelkit.ini"), "SMTP=smtp.example\r\nPOP3=pop.example\r\n" "MAIL=me@example\r\nAPOP=0\r\n");
    ASSERT_TRUE(WriteAccountFile(QStringLiteral("tomo"), QStringLiteral("secret"), true));
    testhooks::mciCommand = [this](const QString& c) {
      if (!c.startsWith(u"status")) sent_ << c;
    };
    main_ = std::make_unique<MainForm>();
    main_->show();
    pump();
  }
  void TearDown() override {
    testhooks::mciCommand = nullptr;
    delete TaikiForm::existing();
    delete IMEForm::existing();
    if (IdPassForm* i = IdPassForm::existing()) i->close();
    main_.reset();
    pump();
    mci::shutdown();
    mci::setOptions({QString(), true});
  }
  static void destroyClosed() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    pump();
  }

  TempHome home_;
  MsgBoxAnswerer boxes_;
  std::unique_ptr<MainForm> main_;
  QStringList sent_;
};

}  // namespace

TEST_F(WindowModes, OnTopAndBackToNormalOrderKeepTheWindowInView) {
  MainForm& m = *main_;
  m.mzenmen->trigger();
  EXPECT_TRUE(onTop(&m));
  m.mkaijyo->trigger();
  EXPECT_FALSE(onTop(&m));
  EXPECT_TRUE(m.isVisible());
}

TEST_F(WindowModes, StandbyHidesTheMainWindowAndComeBackRestoresIt) {
  MainForm& m = *main_;
  m.mzenmen->trigger();  // standby leaves the main window's order alone
  m.Command2->click();   // a tune plays
  ASSERT_EQ(mode(), QStringLiteral("playing"));
  const QRect before = m.geometry();
  sent_.clear();

  m.mtaiki->trigger();
  pump();
  TaikiForm* t = TaikiForm::existing();
  ASSERT_NE(t, nullptr);
  EXPECT_TRUE(t->isVisible());
  EXPECT_EQ(t->windowTitle(), QStringLiteral("待機中"));
  EXPECT_TRUE(onTop(t));
  EXPECT_TRUE(t->Timer1->isActive());
  // The clock shows the time from the start (the second may have turned
  // since it was set).
  const QTime now = QTime::currentTime();
  EXPECT_TRUE(t->Text1->text() == TaikiForm::clockText(now, QLocale::system()) ||
              t->Text1->text() == TaikiForm::clockText(now.addSecs(-1), QLocale::system()))
      << t->Text1->text().toStdString();
  EXPECT_TRUE(keepsScreenReaderRules(t));
  // The main window is hidden, not gone: its clock and the music go on.
  EXPECT_FALSE(m.isVisible());
  EXPECT_TRUE(m.Timer2->isActive());
  EXPECT_EQ(mode(), QStringLiteral("playing"));
  EXPECT_TRUE(sent_.isEmpty()) << sent_.join(u'|').toStdString();

  t->Command1->click();
  destroyClosed();
  EXPECT_EQ(TaikiForm::existing(), nullptr);
  EXPECT_TRUE(m.isVisible());
  EXPECT_EQ(m.geometry(), before);
  EXPECT_TRUE(onTop(&m));
  EXPECT_EQ(mode(), QStringLiteral("playing"));

  // Closed any other way, the standby window brings the main window back too.
  m.mtaiki->trigger();
  pump();
  ASSERT_FALSE(m.isVisible());
  TaikiForm::existing()->close();
  destroyClosed();
  EXPECT_TRUE(m.isVisible());
  EXPECT_TRUE(boxes_.seen().isEmpty());
}

TEST(StandbyClock, TheSystemsLongTimeFormatWithoutTheTimeZone) {
  const QTime t(16, 5, 9);
  EXPECT_EQ(TaikiForm::clockText(t, QLocale(QStringLiteral("ja_JP"))), QStringLiteral("16時05分09秒"));
  EXPECT_EQ(TaikiForm::clockText(t, QLocale(QStringLiteral("en_US"))), QStringLiteral("4:05:09 PM"));
}

TEST_F(WindowModes, TheImePageShowsOfflineOnTopAndFitsItsWindow) {
  IMEForm* f = IMEForm::instance();
  pump();
  EXPECT_EQ(f->windowTitle(), QStringLiteral("Form1"));
  EXPECT_TRUE(onTop(f));
  EXPECT_EQ(f->WebBrowser1->source(), QUrl::fromLocalFile(home_.file(QStringLiteral("IMEPAd/IME.htm"))));
  const QString page = f->WebBrowser1->toPlainText();
  EXPECT_TRUE(page.contains(QStringLiteral("fcitx5")) && page.contains(QStringLiteral("IBus"))) << page.toStdString();
  EXPECT_TRUE(keepsScreenReaderRules(f));
  // Offline: a link off this machine leads nowhere.
  const QUrl shown = f->WebBrowser1->source();
  emit f->WebBrowser1->anchorClicked(QUrl(QStringLiteral("https://example.jp/")));
  EXPECT_EQ(f->WebBrowser1->source(), shown);

  f->resize(twips::toPx(6000), twips::toPx(5000));
  pump();
  EXPECT_NEAR(twips::width(f->WebBrowser1), twips::outerWidth(f) - 100, 15);
  EXPECT_NEAR(twips::height(f->WebBrowser1), twips::outerHeight(f) - 400, 15);
  // Narrower than 100 twips and lower than 400: no room, and no harm.
  EXPECT_EQ(IMEForm::browserSize(60, 300), QSizeF(0, 0));
  f->resize(3, 3);
  pump();
  EXPECT_GE(f->WebBrowser1->width(), 0);
}

TEST_F(WindowModes, AMissingImePageSaysSoInTheWindow) {
  ASSERT_TRUE(QFile::remove(home_.file(QStringLiteral("IMEPAd/IME.htm"))));
  IMEForm* f = IMEForm::instance();
  pump();
  EXPECT_TRUE(f->WebBrowser1->toPlainText().contains(QStringLiteral("ページが見つかりません")));
  EXPECT_TRUE(boxes_.seen().isEmpty());
}
