// The main window's shop: background music, the scenery page that drifts to
// and fro, the new-mail event and the author's home page.
#include "MainForm.h"

#include "platform/Paths.h"
#include "platform/SharedState.h"
#include "platform/sound/Mci.h"
#include "platform/ui/Browser.h"
#include "platform/ui/MsgBox.h"
#include "platform/ui/Twips.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QStatusBar>
#include <QTextBrowser>
#include <QTimer>
#include <QUrl>

namespace {

const QString kTune1 = QStringLiteral("Sound/Kouka.mid");
const QString kTune2 = QStringLiteral("Sound/Kouka2.mid");
const QString kBackPage = QStringLiteral("画像データ/Back.htm");
const QString kFrontPage = QStringLiteral("画像データ/Front.htm");
// The author's page comes with the program, so it opens without a network
// and the user may make it their own.
const QString kHomePage = QStringLiteral("画像データ/Home.htm");
const QString kTune1Caption = QStringLiteral("宵待ち草(Click)");
const QString kTune2Caption = QStringLiteral("ドンパン節(Click)");

constexpr int kDriftMs = 200;
constexpr double kDriftStep = 2;  // twips per tick
constexpr double kDriftTurn = 120;

// A timer's interval in the window's terms: 0 is idle. An interval given
// again to a running timer leaves its beat alone.
void setTimerInterval(QTimer* t, int ms) {
  if (ms == 0) {
    t->stop();
  } else if (!t->isActive() || t->interval() != ms) {
    t->start(ms);
  }
}

}  // namespace

void MainForm::connectShop() {
  connect(Command2, &QPushButton::clicked, this, &MainForm::Command2_Click);
  connect(Command7, &QPushButton::clicked, this, &MainForm::Command7_Click);
  connect(Command8, &QPushButton::clicked, this, &MainForm::Command8_Click);
  connect(Command9, &QPushButton::clicked, this, &MainForm::Command9_Click);
  connect(Command11, &QPushButton::clicked, this, &MainForm::Command11_Click);
  connect(Command10, &QPushButton::clicked, this, &MainForm::Command10_Click);
  connect(mkakunin, &QAction::triggered, this, &MainForm::mkakunin_Click);
  connect(mhome, &QAction::triggered, this, &MainForm::Command10_Click);
  connect(Timer1, &QTimer::timeout, this, &MainForm::Timer1_Timer);
  connect(Timer3, &QTimer::timeout, this, &MainForm::Timer3_Timer);
  connect(Timer4, &QTimer::timeout, this, &MainForm::Timer4_Timer);

  // The page is a picture in a frame of its own size: no scroll bars, no border.
  WebBrowser1->setFrameShape(QFrame::NoFrame);
  WebBrowser1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  WebBrowser1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  WebBrowser1->setOpenLinks(false);

  mci::setNoticeHandler([self = QPointer<MainForm>(this)](const QString& text) {
    if (self) self->showShopNotice(text);
  });
  // The synthesizer and its sound font load at the first tune, not here:
  // most starts never play one, and the window comes up twice as fast.
}

void MainForm::showShopNotice(const QString& text) {
  statusBar()->setObjectName(QStringLiteral("ShopNotice"));
  statusBar()->showMessage(text);
}

void MainForm::setSceneryLeft(double tw) {
  sceneryLeft_ = tw;
  WebBrowser1->move(twips::toPx(tw), WebBrowser1->y());
}

void MainForm::stopMusic() {
  mciSendString(QStringLiteral("stop bgm"));
  mciSendString(QStringLiteral("close bgm"));
  Timer1->stop();
}

void MainForm::startTune(int tune) {
  const QString file = QDir::toNativeSeparators(paths::resolve(tune == 1 ? kTune1 : kTune2));
  mciSendString(QStringLiteral("open \"%1\" alias bgm").arg(file));
  mciSendString(QStringLiteral("play bgm"));
  Timer1->start(100);
}

void MainForm::showPage(const QString& relative) {
  const QString file = paths::resolve(relative);
  if (QFileInfo(file).isFile()) {
    WebBrowser1->setSource(QUrl::fromLocalFile(file));
  } else {
    // What a browser shows for a page that is not there.
    WebBrowser1->setHtml(QStringLiteral("<p>ページが見つかりません。</p><p>%1</p>").arg(QDir::toNativeSeparators(file).toHtmlEscaped()));
  }
}

void MainForm::Command2_Click() {
  stopMusic();
  if (Text5->text() == u"0") startTune(1);
  if (Text5->text() == u"1") startTune(2);
}

void MainForm::Command7_Click() { stopMusic(); }

void MainForm::Command8_Click() {
  if (shared::TuneToggleCounter % 2 == 0) {
    Text5->setText(QStringLiteral("0"));
    Command8->setText(kTune1Caption);
  } else {
    Text5->setText(QStringLiteral("1"));
    Command8->setText(kTune2Caption);
  }
  // Wraps at 32767 to -32768, which keeps the parity turning.
  shared::TuneToggleCounter = int16_t(shared::TuneToggleCounter + 1);
}

void MainForm::Command9_Click() {
  stopMusic();
  Picture3->hide();
  showPage(kBackPage);
  Command8->setText(kTune1Caption);
  WebBrowser1->show();
  startTune(1);
  setTimerInterval(Timer4, 0);
  setTimerInterval(Timer3, kDriftMs);
}

void MainForm::Command11_Click() {
  Picture3->show();
  WebBrowser1->hide();
  setSceneryLeft(120);
  stopMusic();
}

void MainForm::mkakunin_Click() {
  Picture3->hide();
  WebBrowser1->show();
  setSceneryLeft(120);
  setTimerInterval(Timer3, kDriftMs);
  setTimerInterval(Timer4, 0);
  Command8->setText(kTune2Caption);
  stopMusic();
  showPage(kFrontPage);
  startTune(2);
}

void MainForm::Timer1_Timer() {
  QString mode;
  mciSendString(QStringLiteral("status bgm mode"), &mode);
  if (mode.left(7) != u"stopped") return;
  if (Check3->checkState() != Qt::Unchecked) {
    mciSendString(QStringLiteral("play bgm from 0"));
  } else {
    stopMusic();
  }
}

// The page turns at ±120 and moves on by one step, so it swings between
// -122 and 122. Turning at or beyond the mark (not only on it) brings back a
// page that was set going the other way from -122 or 122.
void MainForm::Timer3_Timer() {
  if (sceneryLeft_ <= -kDriftTurn) {
    setTimerInterval(Timer4, kDriftMs);
    setTimerInterval(Timer3, 0);
  }
  setSceneryLeft(sceneryLeft_ - kDriftStep);
}

void MainForm::Timer4_Timer() {
  if (sceneryLeft_ >= kDriftTurn) {
    setTimerInterval(Timer3, kDriftMs);
    setTimerInterval(Timer4, 0);
  }
  setSceneryLeft(sceneryLeft_ + kDriftStep);
}

void MainForm::Command10_Click() {
  const QString page = paths::resolve(kHomePage);
  if (openInBrowser(QUrl::fromLocalFile(page)) || browserFailureTold_) return;
  browserFailureTold_ = true;
  MsgBox(QStringLiteral("ホームページを開くためのブラウザを起動できませんでした。\n"
                        "ブラウザで次のページを開いて下さい。\n%1")
             .arg(QDir::toNativeSeparators(page)),
         MsgButtons::Ok, MsgIcon::Exclamation);
}
