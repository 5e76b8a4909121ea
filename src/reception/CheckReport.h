#pragma once
// The report of one mail check: what it counted (listed, dealt with,
// stored, found stored before), the mails it leaves on the server and why,
// what else went wrong, and the end the main window shows (status line,
// count, event, viewer). It tells the sink as the check goes, in codes.
#include "CheckSink.h"

#include <QElapsedTimer>

namespace reception {

struct CheckOutcome {
  bool failed = false;  // the check did not end normally; the sink was told why
  bool busy = false;    // another check held the program folder: nothing was done
  // Only a window can go on (the keyring must be unlocked): nothing was
  // done, and a headless run says so with an exit status of its own.
  bool needsWindow = false;
  int count = 0;        // what the new-mail count shows
  // What the check stored: the mails, those it found stored before, and
  // the last mail's record (number 0: none), whole.
  int stored = 0;
  int duplicates = 0;
  int lastRecord = 0;
  QByteArray lastRecordBytes = {};
};

class CheckReport {
 public:
  explicit CheckReport(CheckSink& sink) : sink_(sink) {}

  CheckSink& sink() { return sink_; }
  CheckProgress& progress() { return progress_; }
  // Progress at most ten times a second (always when forced), and whether
  // the user has asked the check to stop (then storing stops).
  bool tick(qint64 bytes, bool force = false);

  // A failure that ends the check where it is.
  void fail(const CheckProblem& problem);
  void notice(const CheckProblem& problem) { sink_.notice(problem); }
  // Nothing more is stored; the first reason is kept.
  void stopStoring(const CheckProblem& why);
  void stopStoring() { stopped_ = true; }
  bool storing() const { return !stopped_; }
  // A problem reported with the rest at the end.
  void problem(const CheckProblem& p) { problems_.append(p); }
  bool hasLibraryProblem(const maillib::Result& failure) const;
  void leave(const LeftMail& left) { left_.append(left); }
  void stored() { ++stored_; }
  void unstored(int n) { stored_ -= n; }
  void duplicate() { ++duplicates_; }

  // The check ran its course: the count is what it stored, and whatever it
  // left or met is reported as one failure.
  void conclude();
  // The end the main window shows; `attachFlag` is the last stored mail's.
  CheckOutcome finish(int16_t attachFlag = 0);
  CheckOutcome busy() const { return {true, true, 0}; }

 private:
  CheckSink& sink_;
  CheckProgress progress_;
  QElapsedTimer sinceTick_;
  bool stopRequested_ = false;
  bool stopped_ = false;
  bool failed_ = false;
  bool needsWindow_ = false;
  int count_ = 0;
  int stored_ = 0;
  int duplicates_ = 0;
  QList<LeftMail> left_;
  QList<CheckProblem> problems_;
};

}  // namespace reception
