#include "CheckReport.h"

namespace reception {

namespace {
constexpr int kProgressMs = 100;
}  // namespace

bool CheckReport::tick(qint64 bytes, bool force) {
  if (!force && sinceTick_.isValid() && sinceTick_.elapsed() < kProgressMs) return !stopRequested_;
  sinceTick_.start();
  progress_.bytes = bytes;
  sink_.progress(progress_);
  if (!stopRequested_ && sink_.stopRequested()) {
    stopRequested_ = true;
    stopStoring({CheckCode::Stopped});
  }
  return !stopRequested_;
}

void CheckReport::fail(const CheckProblem& problem) {
  sink_.error({0, {}, {problem}});
  failed_ = true;
  if (needsWindow(problem.code)) needsWindow_ = true;
}

void CheckReport::stopStoring(const CheckProblem& why) {
  if (!stopped_) problems_.append(why);
  stopped_ = true;
}

bool CheckReport::hasLibraryProblem(const maillib::Result& failure) const {
  for (const CheckProblem& p : problems_)
    if (p.code == CheckCode::MailLibrary && p.library == failure) return true;
  return false;
}

void CheckReport::conclude() {
  count_ = stored_;
  const int notReceived = progress_.total - stored_ - duplicates_;
  if (problems_.isEmpty() && notReceived <= 0) return;
  sink_.error({notReceived, left_, problems_});
  failed_ = true;
}

CheckOutcome CheckReport::finish(int16_t attachFlag) {
  if (attachFlag > 0) {
    sink_.status(CheckStatus::AttachmentMail);
    sink_.event();
  }
  if (count_ < 1) {
    sink_.status(CheckStatus::NoNewMail);
  } else {
    sink_.status(CheckStatus::NewMail);
    sink_.event();
  }
  sink_.count(count_);
  if (count_ > 0 && sink_.autoShowViewer()) sink_.showViewer();
  CheckOutcome out;
  out.failed = failed_;
  out.needsWindow = needsWindow_;
  out.count = count_;
  out.stored = stored_;
  out.duplicates = duplicates_;
  return out;
}

}  // namespace reception
