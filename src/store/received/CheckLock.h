#pragma once
// One check at a time per program folder: an advisory lock (flock) on a
// file in the data folder, held for the whole check, from the window or
// from --check, and by whatever rewrites the received-mail file.
#include "Fault.h"
#include "platform/Handles.h"

namespace received {

class CheckLock {
 public:
  enum class State { Held, Busy, Failed };
  static CheckLock tryAcquire();
  State state() const { return state_; }
  // Busy: Code::CheckRunning; Failed: why the lock could not be had.
  const Fault& fault() const { return fault_; }

 private:
  CheckLock() = default;
  handles::Fd fd_;
  State state_ = State::Failed;
  Fault fault_;
};

}  // namespace received
