#pragma once
// The conversation of one check with the server after the login: TOP for
// the header of every mail that may be one left on the server, RETR for
// every mail asked for and DELE for every mail whose batch is on the disk
// (or whose time on the server is over),
// as many in flight as the server takes (a window of commands when it
// pipelines, one at a time when it does not), deletions ahead of further
// fetches, every answer handed to the check in order; then QUIT.
#include "reception/maillib/Pop3Session.h"

#include <QList>
#include <deque>
#include <functional>
#include <memory>

namespace reception {

// Commands in flight to a server that pipelines.
inline constexpr int kPipelineWindow = 64;

class FetchPipeline {
 public:
  // What the check does with each answer.
  class Handler {
   public:
    virtual ~Handler() = default;
    // Whether further mail may be asked for.
    virtual bool fetching() = 0;
    // Whether mail `number` is asked for at all (the handler notes why not).
    virtual bool admit(int number) = 0;
    virtual void retrieved(const maillib::Pop3Session::Answer& answer, QByteArray&& mail) = 0;
    // The header of a mail asked for by peek().
    virtual void peeked(const maillib::Pop3Session::Answer& answer, QByteArray&& header) = 0;
    virtual void deleted(const maillib::Pop3Session::Answer& answer) = 0;
    // While deletions are answered after the last mail.
    virtual void waiting() = 0;
  };

  // Connects to `server` (its plain-login permission set by the caller) and
  // reads what the server can do; `idle` is called with the bytes received
  // so far while the connection waits. None, with the reason in `failure`,
  // when that fails.
  static std::unique_ptr<maillib::Pop3Session> connect(const maillib::ServerAddress& server,
                                                       std::function<bool(qint64)> idle, maillib::Result* failure);

  explicit FetchPipeline(maillib::Pop3Session& session) : session_(session) {}

  // Mail `number` is to be deleted: DELE goes before any further RETR.
  void dele(int number) { deletes_.push_back(number); }
  // Asks for the mails `numbers` in turn until every one is answered, the
  // handler stops fetching or the connection is lost.
  void fetch(const QList<int>& numbers, Handler& handler) { run(numbers, handler, maillib::Pop3Session::Command::Retr); }
  // Asks for the headers of the mails `numbers` in turn (TOP n 0), as fetch() does.
  void peek(const QList<int>& numbers, Handler& handler) { run(numbers, handler, maillib::Pop3Session::Command::Top); }
  // Every deletion sent and answered, so that each refusal is known.
  void deleteAll(Handler& handler);

 private:
  int window() const { return session_.pipelines() ? kPipelineWindow : 1; }
  bool toppingUp() const;
  void sendDeletes();
  void run(const QList<int>& numbers, Handler& handler, maillib::Pop3Session::Command command);

  maillib::Pop3Session& session_;
  std::deque<int> deletes_;
};

}  // namespace reception
