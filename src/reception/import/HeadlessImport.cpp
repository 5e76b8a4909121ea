// tomoshibi --import: the import without a window, told on the terminal.
#include "ImportWords.h"
#include "MailImport.h"
#include "reception/HeadlessCheck.h"

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace mailimport {

namespace {

volatile std::sig_atomic_t g_stop = 0;

void onStopSignal(int sig) {
  g_stop = 1;
  // A second one ends the process at once (the journal keeps that safe).
  std::signal(sig, SIG_DFL);
}

class ConsoleSink : public ImportSink {
 public:
  ConsoleSink() : terminal_(::isatty(STDERR_FILENO) == 1) {}
  ~ConsoleSink() override {
    if (shown_) std::fputs("\r\033[K", stderr);
  }
  void progress(const ImportProgress& p) override {
    if (!terminal_) return;
    std::fprintf(stderr, "\r%s\033[K", progressText(p).toUtf8().constData());
    std::fflush(stderr);
    shown_ = true;
  }
  bool stopRequested() override { return g_stop != 0; }

 private:
  bool terminal_;
  bool shown_ = false;
};

}  // namespace

int RunImport(const QString& path) {
  std::signal(SIGINT, onStopSignal);
  std::signal(SIGTERM, onStopSignal);
  ImportSummary s;
  {
    ConsoleSink sink;
    s = importMail(path, sink);
  }
  if (s.failure.code == ImportCode::Busy) {
    std::fprintf(stderr, "%s\n", failureText(s.failure).toUtf8().constData());
    return kCheckBusyExit;
  }
  // The counts on standard output, what went wrong on standard error.
  const QStringList lines = summaryText(s).split(u'\n');
  const bool counted = !s.failure || s.counts.stored > 0;
  for (qsizetype i = 0; i < lines.size(); ++i)
    std::fprintf(i == 0 && counted ? stdout : stderr, "%s\n", lines[i].toUtf8().constData());
  return s.complete() ? 0 : 1;
}

}  // namespace mailimport
