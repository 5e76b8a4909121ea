// The command-string music layer with the real synthesizer and no sound
// device: the states a tune goes through, the failures that leave things as
// they were, and the one notice about missing sound.
#include "platform/sound/Mci.h"
#include "shell/shop/Tunes.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <functional>

namespace {

// A tune of `quarters` quarter notes at 240 a minute (a quarter of a second each).
QByteArray shortTune(int quarters) {
  std::string notes;
  for (int i = 0; i < quarters; ++i) notes += i % 2 ? "E5:q " : "C5:q ";
  tunes::Tune t;
  t.beatsPerBar = quarters;
  t.tempi = {{0, 240}};
  std::string error;
  t.parts = {tunes::Part{0, 0, 100, 100, tunes::parseNotes(notes, quarters, &error)}};
  EXPECT_TRUE(error.empty()) << error;
  const std::vector<std::uint8_t> smf = tunes::toSmf(t);
  return QByteArray(reinterpret_cast<const char*>(smf.data()), qsizetype(smf.size()));
}

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& data) {
  const QString path = dir.filePath(name);
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile f(path);
  EXPECT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(data);
  return path;
}

QString mode(const QString& device = QStringLiteral("bgm")) {
  QString reply;
  mciSendString(QStringLiteral("status %1 mode").arg(device), &reply);
  return reply;
}

// Milliseconds until `done`, or -1 when it did not come within `limitMs`.
qint64 waitFor(const std::function<bool()>& done, int limitMs) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < limitMs) {
    if (done()) return t.elapsed();
    QCoreApplication::processEvents();
    QThread::msleep(5);
  }
  return -1;
}

class Mci : public ::testing::Test {
 protected:
  void SetUp() override {
    mci::shutdown();
    mci::setOptions({QString(), true});
  }
  void TearDown() override {
    mci::setNoticeHandler(nullptr);
    mci::shutdown();
    mci::setOptions({});
  }
  QTemporaryDir dir_;
};

}  // namespace

TEST_F(Mci, ATuneRunsItsRealTimeStopsAtItsEndAndPlaysAgainFromTheTop) {
  ASSERT_FALSE(mci::soundFontPath().isEmpty()) << "no General MIDI sound font installed";
  const QString file = writeFile(dir_, QStringLiteral("曲 の/Kouka.mid"), shortTune(3));  // 0.75 s
  ASSERT_EQ(mciSendString(QStringLiteral("open \"%1\" alias bgm").arg(file)), 0);
  EXPECT_EQ(mode(), QStringLiteral("stopped"));  // open, not yet played
  ASSERT_EQ(mciSendString(QStringLiteral("play bgm")), 0);
  EXPECT_EQ(mode(), QStringLiteral("playing"));

  // No device: it is played silently in real time, and is over when its
  // notes are (not seconds later, when the synthesizer has faded out).
  const qint64 endedAfter = waitFor([] { return mode() == u"stopped"; }, 5000);
  EXPECT_GE(endedAfter, 500);
  EXPECT_LE(endedAfter, 1700);
  EXPECT_EQ(mode(), QStringLiteral("stopped"));

  // From the top again (looping), then stopped by hand and played on.
  ASSERT_EQ(mciSendString(QStringLiteral("play bgm from 0")), 0);
  EXPECT_EQ(mode(), QStringLiteral("playing"));
  QThread::msleep(150);
  EXPECT_EQ(mode(), QStringLiteral("playing"));
  EXPECT_EQ(mciSendString(QStringLiteral("stop bgm")), 0);
  EXPECT_EQ(mode(), QStringLiteral("stopped"));
  QThread::msleep(100);
  EXPECT_EQ(mode(), QStringLiteral("stopped"));
  EXPECT_EQ(mciSendString(QStringLiteral("play bgm")), 0);
  EXPECT_EQ(mode(), QStringLiteral("playing"));
  EXPECT_GE(waitFor([] { return mode() == u"stopped"; }, 5000), 0);
  // "play" after the end starts the tune again.
  EXPECT_EQ(mciSendString(QStringLiteral("play bgm")), 0);
  EXPECT_EQ(mode(), QStringLiteral("playing"));

  // Names and words are taken without regard to letter case.
  QString reply;
  EXPECT_EQ(mciSendString(QStringLiteral("STATUS BGM MODE"), &reply), 0);
  EXPECT_EQ(reply, QStringLiteral("playing"));

  EXPECT_EQ(mciSendString(QStringLiteral("stop bgm")), 0);
  EXPECT_EQ(mciSendString(QStringLiteral("close bgm")), 0);
  reply = QStringLiteral("old");
  EXPECT_EQ(mciSendString(QStringLiteral("status bgm mode"), &reply), mci::kInvalidDeviceName);
  EXPECT_TRUE(reply.isEmpty());
}

TEST_F(Mci, FailedCommandsLeaveEverythingAsItWas) {
  // Stopping and closing what is not open fail quietly.
  EXPECT_EQ(mciSendString(QStringLiteral("stop bgm")), mci::kInvalidDeviceName);
  EXPECT_EQ(mciSendString(QStringLiteral("close bgm")), mci::kInvalidDeviceName);
  // A missing tune: the open fails and so does everything after it.
  EXPECT_EQ(mciSendString(QStringLiteral("open \"%1\" alias bgm").arg(dir_.filePath(QStringLiteral("none.mid")))),
            mci::kFileNotFound);
  EXPECT_EQ(mciSendString(QStringLiteral("play bgm")), mci::kInvalidDeviceName);
  QString reply = QStringLiteral("old");
  EXPECT_NE(mciSendString(QStringLiteral("status bgm mode"), &reply), 0);
  EXPECT_TRUE(reply.isEmpty());
  // Not a MIDI file.
  const QString text = writeFile(dir_, QStringLiteral("notes.mid"), "just text");
  EXPECT_EQ(mciSendString(QStringLiteral("open \"%1\" alias bgm").arg(text)), mci::kInvalidFile);
  EXPECT_EQ(mciSendString(QStringLiteral("status bgm mode"), &reply), mci::kInvalidDeviceName);

  const QString tune = writeFile(dir_, QStringLiteral("t.mid"), shortTune(2));
  ASSERT_EQ(mciSendString(QStringLiteral("open \"%1\" alias bgm").arg(tune)), 0);
  EXPECT_EQ(mciSendString(QStringLiteral("open \"%1\" alias BGM").arg(tune)), mci::kDuplicateAlias);
  EXPECT_EQ(mciSendString(QStringLiteral("open \"%1\" alias bgm type waveaudio").arg(tune)), mci::kUnsupported);
  EXPECT_EQ(mciSendString(QStringLiteral("open")), mci::kMissingParameter);
  EXPECT_EQ(mciSendString(QStringLiteral("rewind bgm")), mci::kUnrecognizedCommand);
  EXPECT_EQ(mciSendString(QString()), mci::kUnrecognizedCommand);
  EXPECT_EQ(mciSendString(QStringLiteral("status bgm position"), &reply), mci::kUnsupported);
  EXPECT_EQ(mciSendString(QStringLiteral("play bgm from 100")), mci::kUnsupported);
  EXPECT_EQ(mciSendString(QStringLiteral("play bgm from x")), mci::kMissingParameter);
  // The device is still there, untouched by all of that.
  EXPECT_EQ(mode(), QStringLiteral("stopped"));
  EXPECT_EQ(mciSendString(QStringLiteral("play bgm")), 0);
  EXPECT_EQ(mode(), QStringLiteral("playing"));
  // A second device of another name plays beside it.
  ASSERT_EQ(mciSendString(QStringLiteral("open %1 alias other").arg(tune)), 0);
  EXPECT_EQ(mciSendString(QStringLiteral("play other")), 0);
  EXPECT_EQ(mode(QStringLiteral("other")), QStringLiteral("playing"));
  EXPECT_EQ(mciSendString(QStringLiteral("close other")), 0);
  EXPECT_EQ(mode(), QStringLiteral("playing"));
}

TEST_F(Mci, WithoutASoundFontTunesRunSilentlyAndTheUserIsToldOnce) {
  mci::setOptions({dir_.filePath(QStringLiteral("missing.sf2")), true});
  QStringList notices;
  mci::setNoticeHandler([&](const QString& t) { notices << t; });
  const QString tune = writeFile(dir_, QStringLiteral("t.mid"), shortTune(2));  // 0.5 s
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(mciSendString(QStringLiteral("open \"%1\" alias bgm").arg(tune)), 0);
    ASSERT_EQ(mciSendString(QStringLiteral("play bgm")), 0);
    EXPECT_EQ(mode(), QStringLiteral("playing"));
    EXPECT_GE(waitFor([] { return mode() == u"stopped"; }, 4000), 300);
    mciSendString(QStringLiteral("stop bgm"));
    mciSendString(QStringLiteral("close bgm"));
  }
  waitFor([] { return false; }, 50);
  ASSERT_EQ(notices.size(), 1);
  EXPECT_TRUE(notices[0].contains(QStringLiteral("サウンドフォント")));
  EXPECT_TRUE(mci::soundFontPath().isEmpty());
}

TEST_F(Mci, WithoutASoundDeviceTheUserIsToldOnceAndTheTuneStillEnds) {
  if (QFileInfo::exists(QStringLiteral("/dev/snd")) || !qEnvironmentVariableIsEmpty("PULSE_SERVER") ||
      QFileInfo::exists(qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/pulse/native")))
    GTEST_SKIP() << "this machine has sound";
  mci::setOptions({});
  QStringList notices;
  mci::setNoticeHandler([&](const QString& t) { notices << t; });
  const QString tune = writeFile(dir_, QStringLiteral("t.mid"), shortTune(2));
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(mciSendString(QStringLiteral("open \"%1\" alias bgm").arg(tune)), 0);
    ASSERT_EQ(mciSendString(QStringLiteral("play bgm")), 0);
    EXPECT_GE(waitFor([] { return mode() == u"stopped"; }, 4000), 300);
    mciSendString(QStringLiteral("close bgm"));
  }
  waitFor([] { return false; }, 50);
  ASSERT_EQ(notices.size(), 1);
  EXPECT_TRUE(notices[0].contains(QStringLiteral("音を出す装置")));
}
