#pragma once
// The places where tests reach into the program: every one of them is here,
// and only in the test build (TOMOSHIBI_TEST_HOOKS, on with BUILD_TESTING).
// The program a user runs is built without them; the code that consults a
// hook does so inside #ifdef TOMOSHIBI_TEST_HOOKS and otherwise goes its
// own way.
//
// A hook names a library's types by declaration only: this header includes
// nothing above the platform.
#ifdef TOMOSHIBI_TEST_HOOKS

#include <QByteArray>
#include <functional>
#include <memory>
#include <utility>

namespace maillib {
class Pop3Link;
class SmtpLink;
struct ServerAddress;
struct Result;
struct Pop3Limits;
struct SmtpLimits;
}  // namespace maillib

namespace testhooks {

// The mail library. A factory, when set, opens the links to every server
// instead of libcurl (a mailbox or an SMTP server in memory); limits, when
// set, stand for the library's own (tests shorten the 60 s bounds).
inline std::function<std::unique_ptr<maillib::Pop3Link>(const maillib::ServerAddress&, QByteArray* greeting,
                                                         maillib::Result* failure)>
    pop3LinkFactory;
inline std::function<std::unique_ptr<maillib::SmtpLink>(const maillib::ServerAddress&)> smtpLinkFactory;
inline maillib::Pop3Limits* pop3Limits = nullptr;
inline maillib::SmtpLimits* smtpLimits = nullptr;

// Sets a hook for as long as this lives, then puts back what was there.
template <class T>
class Scoped {
 public:
  Scoped(T& hook, T value) : hook_(hook), saved_(std::exchange(hook, std::move(value))) {}
  ~Scoped() { hook_ = std::move(saved_); }
  Scoped(const Scoped&) = delete;
  Scoped& operator=(const Scoped&) = delete;

 private:
  T& hook_;
  T saved_;
};

}  // namespace testhooks

#endif  // TOMOSHIBI_TEST_HOOKS
