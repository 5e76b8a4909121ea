#pragma once
// One check at a time per program folder: an advisory lock (flock) on a
// file in the data folder, held for the whole check, from the window or
// from --check, and by whatever rewrites the received-mail file. Sent
// mail has a lock of its own (a send never waits for a check).
#include "Fault.h"
#include "platform/Handles.h"

#include <QString>

namespace received {

class CheckLock {
 public:
  enum class State { Held, Busy, Failed };
  static CheckLock tryAcquire();
  // The lock of another set of files (MailFiles::lock); `wait`: until the
  // holder lets go (a writer that holds it only for a moment).
  static CheckLock acquire(const QString& path, bool wait);
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
