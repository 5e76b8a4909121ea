#include "HeadlessCheck.h"

#include "CheckWords.h"
#include "ReceiveEngine.h"
#include "SignedInLogin.h"
#include "platform/Paths.h"
#include "reception/maillib/MailLib.h"
#include "settings/files/AccountSettings.h"
#include "store/RecordFile.h"
#include "store/words/StoreWords.h"

#include <QDir>
#include <csignal>
#include <cstdio>
#include <malloc.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t g_stop = 0;

void onStopSignal(int sig) {
  g_stop = 1;
  // A second one ends the process at once (the journal keeps that safe).
  std::signal(sig, SIG_DFL);
}

class ConsoleSink : public reception::CheckSink {
 public:
  ConsoleSink() : terminal_(::isatty(STDERR_FILENO) == 1) {}
  ~ConsoleSink() override { endProgress(); }

  bool canAsk() const override { return false; }
  void checking() override { line(reception::checkingText()); }
  void status(reception::CheckStatus s) override { line(reception::statusText(s)); }
  void count(int n) override { line(QStringLiteral("新着数: %1").arg(n)); }
  void event() override {}
  void error(const reception::CheckFailure& f) override { line(QStringLiteral("エラー: ") + reception::failureText(f)); }
  void notice(const reception::CheckProblem& p) override { notice(reception::problemText(p)); }
  void notice(const QString& t) { line(QStringLiteral("灯火亭: ") + t); }
  void progress(const reception::CheckProgress& p) override {
    if (!terminal_) return;
    std::fprintf(stderr, "\r%s\033[K", reception::progressText(p).toUtf8().constData());
    std::fflush(stderr);
    progressShown_ = true;
  }
  bool stopRequested() override { return g_stop != 0; }

 private:
  void endProgress() {
    if (!progressShown_) return;
    std::fputs("\r\033[K", stderr);
    progressShown_ = false;
  }
  void line(const QString& t) {
    endProgress();
    std::fprintf(stderr, "%s\n", t.toUtf8().constData());
    std::fflush(stderr);
  }

  bool terminal_;
  bool progressShown_ = false;
};

}  // namespace

int RunHeadlessCheck() {
  // Mail passes through in pieces of up to a few megabytes, one mail after
  // another: freed pieces are kept for the next mail rather than handed back
  // to the system and faulted in again (the process ends with the check).
  mallopt(M_MMAP_THRESHOLD, 64 * 1024 * 1024);
  mallopt(M_TRIM_THRESHOLD, 256 * 1024 * 1024);
  std::signal(SIGINT, onStopSignal);
  std::signal(SIGTERM, onStopSignal);
  ConsoleSink sink;
  store::StoreFailure why;
  if (!store::ensureFile(paths::resolve(paths::kReceivedMailFile), &why)) {
    sink.notice(QStringLiteral("受信メールのファイルを開けません（%1）。\nプログラムフォルダ「%2」を確かめて下さい。")
                   .arg(store::failureText(why), QDir::toNativeSeparators(paths::programFolder())));
    return 1;
  }
  LoadServerSettings();
  MailLibInitialize();
  MailLibSetOption(1, 8192);
  // Signed in with OAuth 2.0: the kept sign-in only, never a prompt.
  const reception::CheckOutcome outcome = reception::runCheck(
      sink, reception::accountSignedIn() ? reception::signedInLogin(secrets::Prompt::Never) : reception::LoginSource{});
  MailLibEnd();
  if (outcome.busy) return kCheckBusyExit;
  if (outcome.needsWindow) return kNeedsWindowExit;
  return outcome.failed ? 1 : 0;
}
