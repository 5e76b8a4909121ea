#pragma once
// A loopback server reached by another address: connections to 127.0.0.2
// on port() are relayed to 127.0.0.1:target, so a client names the server
// by an address its certificate does not carry. listenOn() gives a socket
// that takes connections and never says a word.
#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

// A listening socket on `ip`, port chosen by the system.
inline int listenOn(const char* ip, int* port) {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  ::inet_pton(AF_INET, ip, &a.sin_addr);
  socklen_t length = sizeof a;
  if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(s, 8) != 0 ||
      ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &length) != 0) {
    ::close(s);
    return -1;
  }
  *port = ntohs(a.sin_port);
  return s;
}

// The server at 127.0.0.1:`target` reached through 127.0.0.2: an address
// the test certificates do not name.
class OtherAddress {
 public:
  explicit OtherAddress(int target) : target_(target) {
    listener_ = listenOn("127.0.0.2", &port_);
    if (listener_ >= 0) thread_ = std::thread([this] { serve(); });
  }
  ~OtherAddress() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listener_ >= 0) ::close(listener_);
  }
  int port() const { return port_; }

 private:
  void serve() {
    while (!stop_) {
      pollfd p{listener_, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      const int client = ::accept(listener_, nullptr, nullptr);
      if (client < 0) continue;
      const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_port = htons(uint16_t(target_));
      ::inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
      if (::connect(server, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) relay(client, server);
      ::close(server);
      ::close(client);
    }
  }
  void relay(int a, int b) {
    char buffer[16384];
    while (!stop_) {
      pollfd p[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
      if (::poll(p, 2, 100) <= 0) continue;
      for (int i = 0; i < 2; ++i) {
        if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        const ssize_t n = ::recv(p[i].fd, buffer, sizeof buffer, 0);
        if (n <= 0 || ::send(p[1 - i].fd, buffer, size_t(n), MSG_NOSIGNAL) != n) return;
      }
    }
  }
  int target_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};
