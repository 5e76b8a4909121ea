// The shop of the main window as a user meets it: the tunes and their
// toggle, looking into the shop and leaving it, the new-mail event, the
// drift of the scenery page, the music monitor and the home page. Tunes run
// in real time without a sound device; the commands sent are watched.
#include "platform/Paths.h"
#include "platform/SharedState.h"
#include "platform/TestHooks.h"
#include "platform/sound/Mci.h"
#include "platform/ui/Browser.h"
#include "platform/ui/Twips.h"
#include "settings/IdPassForm.h"
#include "settings/files/AccountSettings.h"
#include "shell/MainForm.h"
#include "shell/shop/Tunes.h"
#include "support/FakePop3.h"
#include "support/Gui.h"
#include "viewer/TyakuForm.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTextBrowser>
#include <QTimer>
#include <gtest/gtest.h>
#include <functional>
#include <memory>

namespace {

QByteArray shortTune(int quarters) {
  std::string notes, error;
  for (int i = 0; i < quarters; ++i) notes += "G4:q ";
  tunes::Tune t;
  t.beatsPerBar = quarters;
  t.tempi = {{0, 240}};
  t.parts = {tunes::Part{0, 0, 100, 100, tunes::parseNotes(notes, quarters, &error)}};
  const std::vector<std::uint8_t> smf = tunes::toSmf(t);
  return QByteArray(reinterpret_cast<const char*>(smf.data()), qsizetype(smf.size()));
}

QString mode() {
  QString reply;
  mciSendString(QStringLiteral("status bgm mode"), &reply);
  return reply;
}

bool waitFor(const std::function<bool()>& done, int limitMs) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > limitMs) return false;
    pump(10);
  }
  return true;
}

class Shop : public ::testing::Test {
 protected:
  void SetUp() override {
    AccountSettings() = AccountSettingsRecord{};
    home_.write(QStringLiteral("pelkit.ini"), "SMTP=smtp.example\r\nPOP3=pop.example\r\n" "MAIL=me@example\r\nAPOP=0\r\n");
    ASSERT_TRUE(WriteAccountFile(QStringLiteral("tomo"), QStringLiteral("secret"), true));
    shared::TuneToggleCounter = 0;
    // What the window sends, less the monitor's (and the tests') questions.
    testhooks::mciCommand = [this](const QString& c) {
      if (!c.startsWith(u"status")) sent_ << c;
    };
    form_ = std::make_unique<MainForm>();
    pump();
    sent_.clear();
  }
  void TearDown() override {
    testhooks::mciCommand = nullptr;
    testhooks::browser = nullptr;
    delete TyakuForm::existing();
    if (IdPassForm* i = IdPassForm::existing()) i->close();
    form_.reset();
    pump();
    mci::shutdown();
    mci::setOptions({QString(), true});
  }

  QString openOf(const char* tune) const {
    return QStringLiteral("open \"%1\" alias bgm").arg(QDir::toNativeSeparators(home_.file(QStringLiteral("Sound/") + QLatin1String(tune))));
  }
  QStringList start(const char* tune) const {
    return {QStringLiteral("stop bgm"), QStringLiteral("close bgm"), openOf(tune), QStringLiteral("play bgm")};
  }
  QStringList takeSent() {
    QStringList s = sent_;
    sent_.clear();
    return s;
  }
  QString pageShown() const { return form_->WebBrowser1->source().toLocalFile(); }
  bool oneOfPictureAndPage() const {
    return form_->Picture3->isVisibleTo(form_.get()) != form_->WebBrowser1->isVisibleTo(form_.get());
  }
  // One tick of whichever drift timer runs.
  void driftTick() {
    if (form_->Timer3->isActive()) {
      form_->Timer3_Timer();
    } else if (form_->Timer4->isActive()) {
      form_->Timer4_Timer();
    }
  }

  TempHome home_;
  MsgBoxAnswerer boxes_;
  std::unique_ptr<MainForm> form_;
  QStringList sent_;
};

}  // namespace

TEST_F(Shop, BgmOnPlaysTheSelectedTuneAndTheToggleTurnsOnEveryOtherClick) {
  MainForm& m = *form_;
  // Right after start: tune 1, from the top again when pressed while it plays.
  m.Command2->click();
  EXPECT_EQ(takeSent(), start("Kouka.mid"));
  EXPECT_EQ(mode(), QStringLiteral("playing"));
  EXPECT_TRUE(m.Timer1->isActive());
  EXPECT_EQ(m.Timer1->interval(), 100);
  m.Command2->click();
  EXPECT_EQ(takeSent(), start("Kouka.mid"));

  // The first click changes nothing to be seen; the second selects tune 2.
  m.Command8->click();
  EXPECT_EQ(m.Text5->text(), QStringLiteral("0"));
  EXPECT_EQ(m.Command8->text(), QStringLiteral("宵待ち草(Click)"));
  m.Command8->click();
  EXPECT_EQ(m.Text5->text(), QStringLiteral("1"));
  EXPECT_EQ(m.Command8->text(), QStringLiteral("ドンパン節(Click)"));
  EXPECT_TRUE(takeSent().isEmpty());  // the toggle starts no music
  EXPECT_EQ(mode(), QStringLiteral("playing"));
  m.Command2->click();
  EXPECT_EQ(takeSent(), start("Kouka2.mid"));
  m.Command8->click();
  EXPECT_EQ(m.Text5->text(), QStringLiteral("0"));
  EXPECT_EQ(m.Command8->text(), QStringLiteral("宵待ち草(Click)"));

  m.Command7->click();
  EXPECT_EQ(takeSent(), QStringList({QStringLiteral("stop bgm"), QStringLiteral("close bgm")}));
  EXPECT_FALSE(m.Timer1->isActive());
  EXPECT_TRUE(mode().isEmpty());  // nothing open

  // A selector that is neither 0 nor 1 stops the music and starts none.
  m.Text5->setText(QStringLiteral("2"));
  m.Command2->click();
  EXPECT_EQ(takeSent(), QStringList({QStringLiteral("stop bgm"), QStringLiteral("close bgm")}));

  // The 16-bit counter wraps and keeps turning.
  shared::TuneToggleCounter = 32767;
  m.Command8->click();
  EXPECT_EQ(m.Text5->text(), QStringLiteral("1"));
  EXPECT_EQ(shared::TuneToggleCounter, -32768);
  m.Command8->click();
  EXPECT_EQ(m.Text5->text(), QStringLiteral("0"));
  EXPECT_EQ(shared::TuneToggleCounter, -32767);
}

TEST_F(Shop, TheMonitorRestartsAFinishedTuneWhenLoopingAndStopsItOtherwise) {
  MainForm& m = *form_;
  home_.write(QStringLiteral("Sound/Kouka.mid"), shortTune(2));  // half a second
  m.Check3->setChecked(true);
  m.Command2->click();
  takeSent();
  ASSERT_TRUE(waitFor([&] { return sent_.contains(QStringLiteral("play bgm from 0")); }, 3000));
  EXPECT_EQ(mode(), QStringLiteral("playing"));
  EXPECT_TRUE(m.Timer1->isActive());
  // It loops again and again.
  sent_.clear();
  ASSERT_TRUE(waitFor([&] { return sent_.contains(QStringLiteral("play bgm from 0")); }, 3000));

  m.Check3->setChecked(false);
  sent_.clear();
  ASSERT_TRUE(waitFor([&] { return sent_.contains(QStringLiteral("close bgm")); }, 3000));
  EXPECT_FALSE(sent_.contains(QStringLiteral("play bgm from 0")));
  EXPECT_EQ(sent_.mid(sent_.size() - 2), QStringList({QStringLiteral("stop bgm"), QStringLiteral("close bgm")}));
  EXPECT_FALSE(m.Timer1->isActive());
  EXPECT_TRUE(mode().isEmpty());
}

TEST_F(Shop, LookingInShowsTheBackPageAndTuneOneAndTheEventSwitchesBoth) {
  MainForm& m = *form_;
  m.Command9->click();
  EXPECT_TRUE(oneOfPictureAndPage());
  EXPECT_FALSE(m.Picture3->isVisibleTo(&m));
  EXPECT_EQ(pageShown(), home_.file(QStringLiteral("画像データ/Back.htm")));
  EXPECT_TRUE(m.WebBrowser1->toPlainText().contains(QStringLiteral("いらっしゃいませ")));
  EXPECT_EQ(m.Command8->text(), QStringLiteral("宵待ち草(Click)"));
  EXPECT_EQ(takeSent(), start("Kouka.mid"));
  EXPECT_EQ(mode(), QStringLiteral("playing"));
  EXPECT_TRUE(m.Timer3->isActive());
  EXPECT_EQ(m.Timer3->interval(), 200);
  EXPECT_FALSE(m.Timer4->isActive());

  // The event: the front page at its start place and tune 2, while "BGM ON"
  // still plays tune 1.
  for (int i = 0; i < 5; ++i) m.Timer3_Timer();
  m.mkakunin->trigger();
  EXPECT_TRUE(oneOfPictureAndPage());
  EXPECT_EQ(pageShown(), home_.file(QStringLiteral("画像データ/Front.htm")));
  EXPECT_TRUE(m.WebBrowser1->toPlainText().contains(QStringLiteral("お便りが届きました")));
  EXPECT_EQ(m.sceneryLeft(), 120);
  EXPECT_TRUE(m.Timer3->isActive());
  EXPECT_FALSE(m.Timer4->isActive());
  EXPECT_EQ(m.Command8->text(), QStringLiteral("ドンパン節(Click)"));
  EXPECT_EQ(m.Text5->text(), QStringLiteral("0"));
  EXPECT_EQ(takeSent(), start("Kouka2.mid"));
  EXPECT_EQ(mode(), QStringLiteral("playing"));
  m.Command2->click();
  EXPECT_EQ(takeSent(), start("Kouka.mid"));
}

TEST_F(Shop, LeavingStopsTheMusicWhileTheHiddenPageDriftsOn) {
  MainForm& m = *form_;
  for (QAction* leave : {static_cast<QAction*>(nullptr), m.mmodosu}) {
    m.Command9->click();
    for (int i = 0; i < 7; ++i) m.Timer3_Timer();
    sent_.clear();
    if (leave) {
      leave->trigger();  // "戻す" does what "店を出る" does
    } else {
      m.Command11->click();
    }
    EXPECT_TRUE(m.Picture3->isVisibleTo(&m));
    EXPECT_FALSE(m.WebBrowser1->isVisibleTo(&m));
    EXPECT_EQ(m.sceneryLeft(), 120);
    EXPECT_EQ(takeSent(), QStringList({QStringLiteral("stop bgm"), QStringLiteral("close bgm")}));
    EXPECT_TRUE(mode().isEmpty());
    EXPECT_FALSE(m.Timer1->isActive());
    // The drift was left running: the hidden page moves on by itself.
    EXPECT_TRUE(m.Timer3->isActive());
    ASSERT_TRUE(waitFor([&] { return m.sceneryLeft() < 120; }, 2000));
  }
}

TEST_F(Shop, DriftSwingsBetweenMinus122And122InExactTwips) {
  MainForm& m = *form_;
  m.mkakunin->trigger();
  double low = 1e9, high = -1e9;
  int firstTurn = -1;
  for (int tick = 0; tick < 1000; ++tick) {
    driftTick();
    if (firstTurn < 0 && m.Timer4->isActive()) firstTurn = tick;
    EXPECT_EQ(m.Timer3->isActive() + m.Timer4->isActive(), 1);
    EXPECT_EQ(std::fmod(m.sceneryLeft(), 2.0), 0.0);
    EXPECT_EQ(m.WebBrowser1->x(), twips::toPx(m.sceneryLeft()));
    low = std::min(low, m.sceneryLeft());
    high = std::max(high, m.sceneryLeft());
  }
  EXPECT_EQ(low, -122);
  EXPECT_EQ(high, 122);
  EXPECT_EQ(firstTurn, 120);  // from 120 down to -120, two twips a tick

  // Sent left from -122, just after a turn: it turns back at once instead
  // of drifting away for good.
  m.setSceneryLeft(-122);
  m.Command9->click();
  low = 1e9;
  high = -1e9;
  for (int tick = 0; tick < 600; ++tick) {
    driftTick();
    low = std::min(low, m.sceneryLeft());
    high = std::max(high, m.sceneryLeft());
  }
  EXPECT_GE(low, -124);
  EXPECT_EQ(high, 122);
}

TEST_F(Shop, ScreenshotsShowTheDriftingPageMoved) {
  MainForm& m = *form_;
  m.resize(m.sizeHint());
  m.show();
  m.Command9->click();
  pump(50);
  QWidget* surface = m.centralWidget();
  const QImage before = surface->grab().toImage();
  const QRect page = m.WebBrowser1->geometry();
  // At 200 ms a tick and 2 twips a step, a pixel goes by within a second or two.
  ASSERT_TRUE(waitFor([&] { return m.WebBrowser1->x() != page.x(); }, 5000));
  pump(20);
  const QImage after = surface->grab().toImage();
  const int dx = m.WebBrowser1->x() - page.x();
  EXPECT_LT(dx, 0);  // drifting left

  // The picture is the same, moved by dx: compare the page's inner part.
  const qreal dpr = before.devicePixelRatio();
  auto same = [&](int shift) {
    int equal = 0, all = 0;
    for (int y = page.top() + 10; y < page.bottom() - 10; y += 3)
      for (int x = page.left() + 10; x < page.right() - 10; x += 3, ++all)
        equal += before.pixel(int(x * dpr), int(y * dpr)) == after.pixel(int((x + shift) * dpr), int(y * dpr));
    return double(equal) / all;
  };
  EXPECT_GT(same(dx), 0.99);
  EXPECT_LT(same(0), same(dx));
  EXPECT_NE(before, after);
}

TEST_F(Shop, AMailCheckThatFetchedMailRunsTheEvent) {
  MainForm& m = *form_;
  auto box = std::make_shared<FakeMailbox>();
  auto installed = FakeMailbox::install(box);
  m.Command4->click();  // nothing waiting: no event
  pump();
  EXPECT_TRUE(m.Picture3->isVisibleTo(&m));
  EXPECT_FALSE(sent_.contains(openOf("Kouka2.mid")));

  box->add("1", "From: a@example.jp\r\nSubject: hello\r\n\r\nbody\r\n");
  m.Command4->click();
  pump();
  EXPECT_EQ(m.Text6->text(), QStringLiteral("1"));
  EXPECT_FALSE(m.Picture3->isVisibleTo(&m));
  EXPECT_EQ(pageShown(), home_.file(QStringLiteral("画像データ/Front.htm")));
  EXPECT_EQ(m.Command8->text(), QStringLiteral("ドンパン節(Click)"));
  EXPECT_TRUE(sent_.contains(openOf("Kouka2.mid")));
  EXPECT_EQ(mode(), QStringLiteral("playing"));
}

TEST_F(Shop, MissingFilesAndSoundAreNoErrorBoxes) {
  MainForm& m = *form_;
  QFile::remove(home_.file(QStringLiteral("Sound/Kouka.mid")));
  QFile::remove(home_.file(QStringLiteral("画像データ/Back.htm")));
  mci::shutdown();
  mci::setOptions({home_.file(QStringLiteral("no.sf2")), true});
  m.Command9->click();
  // The page tells what is missing; the tune cannot open and nobody says so.
  EXPECT_TRUE(m.WebBrowser1->isVisibleTo(&m));
  EXPECT_TRUE(m.WebBrowser1->toPlainText().contains(QStringLiteral("ページが見つかりません")));
  EXPECT_TRUE(m.WebBrowser1->toPlainText().contains(QStringLiteral("Back.htm")));
  EXPECT_TRUE(mode().isEmpty());
  pump(250);
  EXPECT_TRUE(m.Timer1->isActive());  // the monitor never hears "stopped"

  // Without a sound font every tune still runs, and the window says so once.
  for (int i = 0; i < 3; ++i) {
    m.mkakunin->trigger();
    EXPECT_EQ(mode(), QStringLiteral("playing"));
    pump(30);
  }
  ASSERT_TRUE(waitFor([&] { return !m.statusBar()->currentMessage().isEmpty(); }, 2000));
  EXPECT_TRUE(m.statusBar()->currentMessage().contains(QStringLiteral("サウンドフォント")));
  EXPECT_TRUE(boxes_.seen().isEmpty());
}

TEST_F(Shop, HomePageOpensInTheBrowserAndABrowserThatWillNotStartIsToldOnce) {
  MainForm& m = *form_;
  QList<QUrl> opened;
  bool works = true;
  testhooks::browser = [&](const QUrl& u) {
    opened << u;
    return works;
  };
  m.Command10->click();
  m.mhome->trigger();
  const QUrl page = QUrl::fromLocalFile(home_.file(QStringLiteral("画像データ/Home.htm")));
  EXPECT_EQ(opened, QList<QUrl>({page, page}));
  EXPECT_TRUE(boxes_.seen().isEmpty());

  works = false;
  m.Command10->click();
  m.mhome->trigger();
  ASSERT_EQ(boxes_.seen().size(), 1);
  EXPECT_TRUE(boxes_.seen()[0].text.contains(QStringLiteral("ブラウザを起動できませんでした")));
  EXPECT_TRUE(boxes_.seen()[0].text.contains(QDir::toNativeSeparators(page.toLocalFile())));
  EXPECT_EQ(opened.size(), 4);
}

TEST_F(Shop, ShutdownStopsTheMusic) {
  MainForm& m = *form_;
  m.Command9->click();
  ASSERT_EQ(mode(), QStringLiteral("playing"));
  sent_.clear();
  m.mend->trigger();
  EXPECT_EQ(sent_.mid(0, 2), QStringList({QStringLiteral("stop bgm"), QStringLiteral("close bgm")}));
  EXPECT_TRUE(mode().isEmpty());
  EXPECT_FALSE(m.Timer1->isActive());
}
