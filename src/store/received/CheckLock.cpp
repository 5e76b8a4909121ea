#include "CheckLock.h"

#include "DataFiles.h"
#include "platform/Durable.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>

namespace received {

CheckLock CheckLock::tryAcquire() { return acquire(files::lockPath(), false); }

CheckLock CheckLock::acquire(const QString& path, bool wait) {
  CheckLock lock;
  lock.fd_.reset(::open(files::encoded(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (!lock.fd_) {
    lock.fault_ = {Code::LockUnmade, path, durable::lastErrorText()};
    return lock;
  }
  while (::flock(lock.fd_.get(), LOCK_EX | (wait ? 0 : LOCK_NB)) != 0) {
    if (errno == EINTR) continue;
    if (errno == EWOULDBLOCK) {
      lock.state_ = State::Busy;
      lock.fault_ = {Code::CheckRunning};
    } else {
      lock.fault_ = {Code::LockUntaken, path, durable::lastErrorText()};
    }
    lock.fd_.reset();
    return lock;
  }
  lock.state_ = State::Held;
  return lock;
}

}  // namespace received
