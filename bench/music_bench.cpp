// The music layer: how long the synthesizer takes to start, what a tune
// start and a monitor question cost the window's thread, and the processor
// time a tune takes while it plays (silently, as without a sound device).
//   ninja -C build bench_music && build/bench/bench_music [SOUNDFONT]
#include "platform/sound/Mci.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <sys/resource.h>

namespace {

double cpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  mci::setOptions({argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString(), true});
  QTemporaryDir dir;
  const QString tune = dir.filePath(QStringLiteral("Kouka.mid"));
  if (!QFile::copy(QStringLiteral(":/home/Sound/Kouka.mid"), tune)) return 1;
  const QString open = QStringLiteral("open \"%1\" alias bgm").arg(tune);

  QElapsedTimer t;
  t.start();
  mciSendString(open);
  const double startMs = t.nsecsElapsed() / 1e6;
  std::printf("sound font: %s\n", qPrintable(mci::soundFontPath()));
  std::printf("first open (synthesizer and sound font started): %.1f ms\n", startMs);

  constexpr int kStarts = 200;
  t.restart();
  for (int i = 0; i < kStarts; ++i) {
    mciSendString(QStringLiteral("stop bgm"));
    mciSendString(QStringLiteral("close bgm"));
    mciSendString(open);
    mciSendString(QStringLiteral("play bgm"));
  }
  std::printf("tune start (stop, close, open, play): %.3f ms\n", t.nsecsElapsed() / 1e6 / kStarts);

  constexpr int kQuestions = 10000;
  QString reply;
  t.restart();
  for (int i = 0; i < kQuestions; ++i) mciSendString(QStringLiteral("status bgm mode"), &reply);
  std::printf("status bgm mode: %.4f ms (%s)\n", t.nsecsElapsed() / 1e6 / kQuestions, qPrintable(reply));

  const double cpu0 = cpuSeconds();
  t.restart();
  QThread::sleep(5);
  std::printf("while playing: %.1f %% of one core\n", (cpuSeconds() - cpu0) / (t.nsecsElapsed() / 1e9) * 100);
  mciSendString(QStringLiteral("close bgm"));
  const double cpu1 = cpuSeconds();
  t.restart();
  QThread::sleep(3);
  std::printf("nothing open: %.2f %% of one core\n", (cpuSeconds() - cpu1) / (t.nsecsElapsed() / 1e9) * 100);
  mci::shutdown();
  return 0;
}
