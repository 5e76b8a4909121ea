#include "FetchPipeline.h"

namespace reception {

using Command = maillib::Pop3Session::Command;

std::unique_ptr<maillib::Pop3Session> FetchPipeline::connect(const maillib::ServerAddress& server,
                                                             std::function<bool(qint64)> idle,
                                                             maillib::Result* failure) {
  QByteArray greeting;
  std::unique_ptr<maillib::Pop3Link> link = maillib::openPop3Link(server, &greeting, failure);
  if (!link) return nullptr;
  // The session the link serves, once it is made.
  auto made = std::make_shared<const maillib::Pop3Session*>(nullptr);
  link->setIdle([idle = std::move(idle), made] { return idle(*made ? (*made)->received() : 0); });
  auto session = std::make_unique<maillib::Pop3Session>(std::move(link), greeting, server.host);
  *made = session.get();
  session->readCapabilities();
  if (!session->alive()) {
    *failure = session->failure();
    return nullptr;
  }
  return session;
}

bool FetchPipeline::toppingUp() const {
  // The pipe is topped up once half of it is answered, not at every answer:
  // the commands then leave together, in one TLS record and one system call,
  // instead of one each. Half a window still keeps the server busy.
  return session_.awaiting() <= window() / 2;
}

void FetchPipeline::sendDeletes() {
  if (!toppingUp()) return;
  while (!deletes_.empty() && session_.awaiting() < window()) {
    session_.queue(Command::Dele, deletes_.front());
    deletes_.pop_front();
  }
}

void FetchPipeline::run(const QList<int>& numbers, Handler& handler, Command command) {
  qsizetype next = 0;
  for (;;) {
    // Deletions first, then fetches, while there is room in the pipe.
    const bool room = toppingUp();
    sendDeletes();
    while (room && session_.awaiting() < window() && handler.fetching() && next < numbers.size()) {
      const int n = numbers[next++];
      if (command == Command::Top || handler.admit(n)) session_.queue(command, n);
    }
    if (session_.awaiting() == 0) break;
    maillib::Pop3Session::Answer a;
    QByteArray mail;
    if (!session_.next(&a, &mail)) break;
    if (a.command == Command::Dele)
      handler.deleted(a);
    else if (a.command == Command::Top)
      handler.peeked(a, std::move(mail));
    else
      handler.retrieved(a, std::move(mail));
  }
}

void FetchPipeline::deleteAll(Handler& handler) {
  while (session_.alive() && (!deletes_.empty() || session_.awaiting() > 0)) {
    sendDeletes();
    maillib::Pop3Session::Answer a;
    if (!session_.next(&a, nullptr)) break;
    if (a.command == Command::Dele) handler.deleted(a);
    handler.waiting();
  }
}

}  // namespace reception
