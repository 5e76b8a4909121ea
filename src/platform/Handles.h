#pragma once
// Ownership of C handles: a file descriptor, or any pointer that a C library
// hands out with a function to free it (GMime objects, libcurl handles and
// lists, iconv descriptors). Released exactly once, on every path out.
#include <memory>
#include <unistd.h>
#include <utility>

namespace handles {

// Frees a pointer with `Free`; a null pointer is left alone.
template <auto Free>
struct FreeWith {
  template <class T>
  void operator()(T* p) const {
    if (p) Free(p);
  }
};

// A pointer of type T* owned together with the function that frees it, e.g.
// Owned<GMimeMessage, g_object_unref> or Owned<CURL, curl_easy_cleanup>.
template <class T, auto Free>
using Owned = std::unique_ptr<T, FreeWith<Free>>;

// A file descriptor, closed when this goes. -1 holds nothing.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { reset(); }
  Fd(Fd&& other) noexcept : fd_(other.release()) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  explicit operator bool() const { return valid(); }
  // Gives the descriptor up without closing it.
  int release() { return std::exchange(fd_, -1); }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  // Closes now and tells whether the close succeeded (a write can still
  // fail at close on some file systems).
  bool close() {
    const int fd = release();
    return fd < 0 || ::close(fd) == 0;
  }

 private:
  int fd_ = -1;
};

}  // namespace handles
