#pragma once
// Signing in through the user's browser: the OAuth 2.0 authorization-code
// flow (RFC 6749 4.1) with PKCE S256 (RFC 7636) and the answer coming back
// to a listener on 127.0.0.1 (RFC 8252), made with QtNetworkAuth. Qt 6.4's
// flow knows no PKCE, so the challenge and the verifier go in through its
// parameter hook. The token endpoint's answer is read by parseTokenReply.
//
// Nothing here opens a window: the caller says how a page is opened (the
// desktop's browser from a window, a script in a test).
#include "Providers.h"

#include <QObject>
#include <QString>
#include <QUrl>
#include <functional>
#include <memory>

namespace signin {

struct SignInResult {
  enum class Status {
    Ok,
    NotConfigured,  // no endpoints or no client ID for this provider (`detail`: what is missing)
    NoListener,     // the loopback listener could not be opened
    NoBrowser,      // the page could not be opened
    Denied,         // the user (or the server, at /authorize) said no (`detail`: its error)
    Refused,        // the token endpoint refused the code (`detail`)
    Unreachable,    // the token endpoint could not be reached (`detail`)
    Malformed,      // its answer was not understood (`detail`)
    TimedOut,       // nothing came back in time
    Cancelled,
  };
  Status status = Status::Cancelled;
  QString accessToken;
  QString refreshToken;
  qint64 expiresIn = -1;
  QString detail;
  bool ok() const { return status == Status::Ok; }
};

class BrowserSignIn : public QObject {
  Q_OBJECT
 public:
  // Opens `url` in a browser; false when it could not.
  using Opener = std::function<bool(const QUrl& url)>;
  BrowserSignIn(const Provider& provider, Opener opener, QObject* parent = nullptr);
  ~BrowserSignIn() override;

  // Starts the sign-in; `finished` follows exactly once (queued when the
  // start itself fails). `timeoutMs`: how long the user may take.
  void start(int timeoutMs = 5 * 60 * 1000);
  void cancel();
  bool running() const { return running_; }

 signals:
  void finished(const signin::SignInResult& result);

 private:
  void finish(SignInResult result);
  struct Flow;
  std::unique_ptr<Flow> flow_;
  Provider provider_;
  Opener opener_;
  bool running_ = false;
};

// The whole sign-in in a local event loop: back when it has ended.
SignInResult signInWithBrowser(const Provider& provider, const BrowserSignIn::Opener& opener,
                               int timeoutMs = 5 * 60 * 1000);

}  // namespace signin
