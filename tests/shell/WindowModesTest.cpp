// The main window's window modes as a user meets them: kept on top and back
// to normal order, standby with its clock and "復帰" (and the close box),
// and the window that explains the input method's character palette.
#include "platform/Mci.h"
#include "platform/Paths.h"
#include "platform/Twips.h"
#include "settings/AccountSettings.h"
#include "settings/IdPassForm.h"
#include "shell/IMEForm.h"
#include "shell/MainForm.h"
#include "shell/TaikiForm.h"
#include "support/Gui.h"
#include "support/WindowRules.h"

#include <QAction>
#include <QFile>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTest>
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
    home_.write(QStringLiteral("pelkit.ini"), "SMTP=smtp.example\r\nPOP3=pop.example\r\nMAIL=me@example\r\nAPOP=0\r\n");
    ASSERT_TRUE(WriteAccountFile(QStringLiteral("tomo"), QStringLiteral("secret"), true));
    mci::g_commandHook = [this](const QString& c) {
      if (!c.startsWith(u"status")) sent_ << c;
    };
    main_ = std::make_unique<MainForm>();
    main_->show();
    pump();
  }
  void TearDown() override {
    mci::g_commandHook = nullptr;
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

TEST_F(WindowModes, OnTopAndBackToNormalOrderKeepTheWindowWhereItWasAndInView) {
  MainForm& m = *main_;
  m.move(40, 30);
  pump();
  const QRect before = m.geometry();
  m.mzenmen->trigger();
  EXPECT_TRUE(onTop(&m));
  EXPECT_TRUE(m.isVisible());
  EXPECT_EQ(m.geometry(), before);
  m.mkaijyo->trigger();
  EXPECT_FALSE(onTop(&m));
  EXPECT_TRUE(m.isVisible());
  EXPECT_EQ(m.geometry(), before);
  EXPECT_TRUE(boxes_.seen().isEmpty());
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
  EXPECT_EQ(t->Command1->text(), QStringLiteral("復帰"));
  EXPECT_EQ(t->Timer1->interval(), 1000);
  EXPECT_TRUE(t->Timer1->isActive());
  // The clock shows the time from the start, and keeps it.
  EXPECT_EQ(t->Text1->text(), TaikiForm::clockText(QTime::currentTime(), QLocale::system()));
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
  EXPECT_TRUE(boxes_.seen().isEmpty());
}

TEST_F(WindowModes, ClosingTheStandbyWindowBringsTheMainWindowBackToo) {
  main_->mtaiki->trigger();
  pump();
  ASSERT_FALSE(main_->isVisible());
  ASSERT_NE(TaikiForm::existing(), nullptr);
  TaikiForm::existing()->close();  // the close box, or Alt+F4
  destroyClosed();
  EXPECT_EQ(TaikiForm::existing(), nullptr);
  EXPECT_TRUE(main_->isVisible());
  // And standby can be entered again.
  main_->mtaiki->trigger();
  pump();
  EXPECT_NE(TaikiForm::existing(), nullptr);
  EXPECT_FALSE(main_->isVisible());
}

TEST(StandbyClock, TheSystemsLongTimeFormatWithoutTheTimeZone) {
  const QTime t(16, 5, 9);
  EXPECT_EQ(TaikiForm::clockText(t, QLocale(QStringLiteral("ja_JP"))), QStringLiteral("16時05分09秒"));
  EXPECT_EQ(TaikiForm::clockText(t, QLocale::c()), QStringLiteral("16:05:09"));
  EXPECT_EQ(TaikiForm::clockText(t, QLocale(QStringLiteral("en_US"))), QStringLiteral("4:05:09 PM"));
}

TEST_F(WindowModes, TheImePageShowsOfflineAndOnTop) {
  IMEForm* f = IMEForm::instance();
  pump();
  EXPECT_EQ(f->windowTitle(), QStringLiteral("Form1"));
  EXPECT_TRUE(f->isVisible());
  EXPECT_TRUE(onTop(f));
  EXPECT_EQ(f->WebBrowser1->source(), QUrl::fromLocalFile(home_.file(QStringLiteral("IMEPAd/IME.htm"))));
  const QString page = f->WebBrowser1->toPlainText();
  EXPECT_TRUE(page.contains(QStringLiteral("fcitx5"))) << page.toStdString();
  EXPECT_TRUE(page.contains(QStringLiteral("IBus")));
  EXPECT_TRUE(page.contains(QStringLiteral("文字パレット")));
  EXPECT_TRUE(keepsScreenReaderRules(f));
  // Offline: a link off this machine leads nowhere; one within the page does.
  const QUrl shown = f->WebBrowser1->source();
  emit f->WebBrowser1->anchorClicked(QUrl(QStringLiteral("https://example.jp/")));
  EXPECT_EQ(f->WebBrowser1->source(), shown);
  emit f->WebBrowser1->anchorClicked(QUrl(QStringLiteral("#ibus")));
  EXPECT_EQ(f->WebBrowser1->source().fileName(), QStringLiteral("IME.htm"));
  // One window: asking again gives the one that is open.
  EXPECT_EQ(IMEForm::instance(), f);
}

TEST_F(WindowModes, TheImePageFollowsTheWindowSizeAndNeverGoesNegative) {
  IMEForm* f = IMEForm::instance();
  pump();
  auto near = [](double a, double b) { return std::abs(a - b) <= 15; };
  f->resize(twips::toPx(6000), twips::toPx(5000));
  pump();
  const double w = twips::outerWidth(f), h = twips::outerHeight(f);
  EXPECT_TRUE(near(twips::width(f->WebBrowser1), w - 100)) << twips::width(f->WebBrowser1) << " " << w;
  EXPECT_TRUE(near(twips::height(f->WebBrowser1), h - 400)) << twips::height(f->WebBrowser1) << " " << h;
  // Narrower than 100 twips and lower than 400: no room, and no harm.
  EXPECT_EQ(IMEForm::browserSize(60, 300), QSizeF(0, 0));
  EXPECT_EQ(IMEForm::browserSize(1100, 1400), QSizeF(1000, 1000));
  f->resize(3, 3);
  pump();
  EXPECT_GE(f->WebBrowser1->width(), 0);
  EXPECT_GE(f->WebBrowser1->height(), 0);
}

TEST_F(WindowModes, AMissingImePageSaysSoInTheWindow) {
  ASSERT_TRUE(QFile::remove(home_.file(QStringLiteral("IMEPAd/IME.htm"))));
  IMEForm* f = IMEForm::instance();
  pump();
  const QString page = f->WebBrowser1->toPlainText();
  EXPECT_TRUE(page.contains(QStringLiteral("ページが見つかりません"))) << page.toStdString();
  EXPECT_TRUE(page.contains(QStringLiteral("IME.htm")));
  EXPECT_TRUE(boxes_.seen().isEmpty());
}
