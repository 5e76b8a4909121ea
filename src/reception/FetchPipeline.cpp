#include "FetchPipeline.h"

namespace reception {

using Command = maillib::Pop3Session::Command;

std::unique_ptr<maillib::Pop3Session> FetchPipeline::connect(const QString& server, std::function<bool(qint64)> idle,
                                                             QString* host, QString* error) {
  const std::optional<maillib::ServerAddress> address = maillib::parseServer(server, maillib::Protocol::Pop3, error);
  if (!address) return nullptr;
  maillib::ensureInitialized();
  *host = address->host;
  QByteArray greeting;
  std::unique_ptr<maillib::Pop3Link> link = maillib::g_pop3LinkFactory
                                                ? maillib::g_pop3LinkFactory(*address, &greeting, error)
                                                : maillib::openCurlLink(*address, &greeting, error);
  if (!link) return nullptr;
  // The session the link serves, once it is made.
  auto made = std::make_shared<const maillib::Pop3Session*>(nullptr);
  link->setIdle([idle = std::move(idle), made] { return idle(*made ? (*made)->received() : 0); });
  auto session = std::make_unique<maillib::Pop3Session>(std::move(link), greeting, address->host);
  *made = session.get();
  session->readCapabilities();
  if (!session->alive()) {
    *error = session->error();
    return nullptr;
  }
  return session;
}

void FetchPipeline::sendDeletes() {
  while (!deletes_.empty() && session_.awaiting() < window()) {
    session_.queue(Command::Dele, deletes_.front());
    deletes_.pop_front();
  }
}

void FetchPipeline::fetch(const QList<int>& numbers, Handler& handler) {
  qsizetype next = 0;
  for (;;) {
    // Deletions first, then fetches, while there is room in the pipe.
    sendDeletes();
    while (session_.awaiting() < window() && handler.fetching() && next < numbers.size()) {
      const int n = numbers[next++];
      if (handler.admit(n)) session_.queue(Command::Retr, n);
    }
    if (session_.awaiting() == 0) break;
    maillib::Pop3Session::Answer a;
    QByteArray mail;
    if (!session_.next(&a, &mail)) break;
    if (a.command == Command::Dele)
      handler.deleted(a);
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
