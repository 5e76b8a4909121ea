// The main window's automatic check, what it learns of the mail another
// check stored (tomoshibi --check from a timer of the system), and the
// desktop notice of new mail while the window is out of sight.
#include "MainForm.h"

#include "platform/Paths.h"
#include "platform/SharedState.h"
#include "platform/TestHooks.h"
#include "platform/Text.h"
#include "platform/notify/DesktopNotice.h"
#include "reception/CheckWords.h"
#include "settings/files/AutoCheckFile.h"
#include "shell/CheckMail.h"
#include "shell/TaikiForm.h"
#include "store/RecordFile.h"
#include "store/Records.h"
#include "store/received/CheckLock.h"

#include <QAction>
#include <QCheckBox>
#include <QApplication>
#include <QDateTime>
#include <QEvent>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

namespace {

// A check swallows the user's input while it runs: it does not start while
// the user is typing or clicking, but this long after the last of it.
constexpr int kQuietMs = 3000;
// How soon a tick that had to wait tries again.
constexpr int kRetryMs = 3000;
// Changes of the mail file come in runs: read once they have ended.
constexpr int kSettleMs = 300;
// How many subjects a notice lists.
constexpr int kNoticeSubjects = 3;

int minuteMs() {
#ifdef TOMOSHIBI_TEST_HOOKS
  if (testhooks::autoCheckMinuteMs > 0) return testhooks::autoCheckMinuteMs;
#endif
  return 60 * 1000;
}

QString mailFile() { return paths::resolve(paths::kReceivedMailFile); }

int storedCount() {
  store::RecordFile f(mailFile(), store::MailRecord::kLength);
  if (!f.open()) return 0;
  const int n = f.recordCount();
  f.close();
  return n;
}

// The subjects of records first..last (at most kNoticeSubjects of them).
QStringList subjects(int first, int last) {
  QStringList out;
  store::RecordFile f(mailFile(), store::MailRecord::kLength);
  if (!f.open()) return out;
  QByteArray raw;
  for (int n = first; n <= last && out.size() < kNoticeSubjects; ++n) {
    if (f.read(n, raw) != store::ReadResult::Ok) break;
    const QString s = text::trimSpaces(store::MailRecord(raw).subject());
    out << (s.isEmpty() ? QStringLiteral("（件名なし）") : s);
  }
  f.close();
  return out;
}

// When the user last typed or clicked, in any window of the program.
class InputClock : public QObject {
 public:
  InputClock(qint64* last, QObject* parent) : QObject(parent), last_(last) { qApp->installEventFilter(this); }
  ~InputClock() override { qApp->removeEventFilter(this); }

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override {
    switch (e->type()) {
      case QEvent::KeyPress:
      case QEvent::MouseButtonPress:
      case QEvent::InputMethod:
        if (e->spontaneous()) *last_ = QDateTime::currentMSecsSinceEpoch();
        break;
      default:
        break;
    }
    return QObject::eventFilter(watched, e);
  }

 private:
  qint64* last_;
};

}  // namespace

void MainForm::buildAutoCheck() {
  AutoTimer = new QTimer(this);
  AutoTimer->setObjectName(QStringLiteral("AutoTimer"));
  connect(AutoTimer, &QTimer::timeout, this, &MainForm::AutoTimer_Timer);
  retry_ = new QTimer(this);
  retry_->setSingleShot(true);
  connect(retry_, &QTimer::timeout, this, &MainForm::AutoTimer_Timer);
  settle_ = new QTimer(this);
  settle_->setSingleShot(true);
  connect(settle_, &QTimer::timeout, this, &MainForm::learnStoredMail);
  new InputClock(&lastInput_, this);
  notice_ = new notify::DesktopNotice(QStringLiteral("灯火亭"), QStringLiteral("tomoshibi"), this);
  connect(notice_, &notify::DesktopNotice::clicked, this, &MainForm::noticeClicked);
}

void MainForm::loadAutoCheck() {
  const AutoCheckChoice c = ReadAutoCheck();
  retry_->stop();
  if (!c.on) {
    AutoTimer->stop();
    return;
  }
  AutoTimer->start(c.minutes * minuteMs());
}

bool MainForm::userIsBusy() const {
  return lastInput_ > 0 && QDateTime::currentMSecsSinceEpoch() - lastInput_ < kQuietMs;
}

void MainForm::AutoTimer_Timer() {
  // Not over a check that runs, a question waiting for its answer, or the
  // user's typing: a little later instead.
  if (shared::CheckRunning || QApplication::activeModalWidget() || userIsBusy()) {
    retry_->start(kRetryMs);
    return;
  }
  retry_->stop();
  runCheck(true);
}

void MainForm::runCheck(bool automatic) {
  // What another check stored is told first, as its own news.
  if (settle_->isActive()) {
    settle_->stop();
    learnStoredMail();
  }
  const reception::CheckOutcome out = CheckMail(automatic);
  // What this check stored is told here; the changes it made to the file
  // are no news any more. A check that found another at work read nothing:
  // that one's records, half written or not, are its own news.
  if (!out.busy) knownCount_ = storedCount();
  if (out.stored > 0 && out.lastRecord > 0) tellDesktop(out.lastRecord - out.stored + 1, out.lastRecord);
  if (viewWanted_) {
    viewWanted_ = false;
    Command6->click();
  }
}

void MainForm::watchMailFile() {
  knownCount_ = storedCount();
  if (!mailWatch_) {
    mailWatch_ = new QFileSystemWatcher(this);
    auto changed = [this] {
      // A file replaced by a rewrite is watched again under its name.
      const QString file = mailFile();
      if (!mailWatch_->files().contains(file) && QFileInfo::exists(file)) mailWatch_->addPath(file);
      settle_->start(kSettleMs);
    };
    connect(mailWatch_, &QFileSystemWatcher::fileChanged, this, changed);
    connect(mailWatch_, &QFileSystemWatcher::directoryChanged, this, changed);
  }
  // The folder as well: the journal beside the file comes and goes with
  // every check, and a file replaced is seen there.
  const QString folder = paths::resolve(paths::kDataFolder);
  if (QFileInfo(folder).isDir()) mailWatch_->addPath(folder);
  if (QFileInfo::exists(mailFile())) mailWatch_->addPath(mailFile());
}

void MainForm::mailBroughtIn(bool done) {
  if (!done) {
    if (settle_->isActive()) {
      settle_->stop();
      learnStoredMail();
    }
    return;
  }
  settle_->stop();
  knownCount_ = storedCount();
}

void MainForm::learnStoredMail() {
  // This window's own check tells its own news when it ends.
  if (shared::CheckRunning) return;
  int count = 0;
  {
    // Read between checks, not in the middle of one.
    const received::CheckLock lock = received::CheckLock::tryAcquire();
    if (lock.state() == received::CheckLock::State::Busy) {
      settle_->start(kRetryMs / 6);
      return;
    }
    count = storedCount();
  }
  if (count <= knownCount_) {
    knownCount_ = count;  // mail deleted: the viewer shows that itself
    return;
  }
  const int first = knownCount_ + 1;
  knownCount_ = count;
  // Told as this window's own check tells it.
  const int n = count - first + 1;
  Text3->setText(reception::statusText(reception::CheckStatus::NewMail));
  mkakunin->trigger();
  Text6->setText(QString::number(n));
  if (Check2->isChecked()) Command6->click();
  tellDesktop(first, count);
}

void MainForm::tellDesktop(int first, int last) {
  // Only while the window is out of sight: in sight, the shop says it.
  const TaikiForm* standby = TaikiForm::existing();
  const bool outOfSight = !isVisible() || isMinimized() || (standby && standby->isVisible());
  if (!outOfSight || last < first) return;
  const int n = last - first + 1;
  QStringList lines = subjects(first, last);
  if (n > lines.size()) lines << QStringLiteral("ほか%1件").arg(n - lines.size());
  notice_->show(QStringLiteral("新着メールが%1件あります").arg(n), lines.join(u'\n'));
}

void MainForm::noticeClicked() {
  // As "メールを見る" does; after a check that runs now, not in its middle.
  if (shared::CheckRunning) {
    viewWanted_ = true;
    return;
  }
  Command6->click();
}
