#pragma once
// The start-up benchmark's mark (bench_targets): once the events a start
// posted are all handled, "idle MS" on standard output, MS the milliseconds
// since `startedNs` on CLOCK_MONOTONIC, and the program ends.
#include <QCoreApplication>
#include <QTimer>
#include <cstdio>
#include <ctime>

namespace idlereport {

inline void whenIdle(qint64 startedNs) {
  // A zero timer runs once the events the start posted are all handled.
  QTimer::singleShot(0, QCoreApplication::instance(), [startedNs] {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    std::printf("idle %.3f\n", double(qint64(now.tv_sec) * 1000000000 + now.tv_nsec - startedNs) / 1e6);
    std::fflush(stdout);
    QCoreApplication::quit();
  });
}

}  // namespace idlereport
