#pragma once
// An SMTP server in memory behind the link sending goes through: every mail
// handed over is recorded with its envelope and login, and the faults of
// real servers are played on request. Installed, it stands for every
// server the program sends to, until its guard ends.
#include "platform/TestHooks.h"
#include "reception/maillib/SmtpLink.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>

struct FakeSmtp {
  // What went out whole (its final dot reached the server), answered or not.
  struct Received {
    QString server;  // the server value the link was opened for
    QString mailFrom;
    QStringList rcptTos;
    maillib::Credentials login;
    QByteArray data;
  };

  // Faults, played on every mail.
  bool down = false;           // nobody answers: the connection fails, nothing goes out
  QStringList refuse;          // recipients refused at RCPT (550): the mail goes to nobody
  QStringList stall;           // for a mail to one of these the server falls silent before it goes out
  QStringList unconfirmed;     // a mail to one of these goes out whole, but its final dot is never answered

  QList<Received> received;
  int attempts = 0;  // mails handed to a link, whatever came of them
  int connections = 0;  // links opened

  struct Installed {
    ~Installed() { testhooks::smtpLinkFactory = nullptr; }
  };
  static std::unique_ptr<Installed> install(const std::shared_ptr<FakeSmtp>& server);
};

class FakeSmtpLink : public maillib::SmtpLink {
 public:
  FakeSmtpLink(std::shared_ptr<FakeSmtp> server, const maillib::ServerAddress& address)
      : server_(std::move(server)), address_(address) {}

  maillib::Result transfer(const maillib::Envelope& envelope, const QByteArray& message,
                           const maillib::Credentials& login) override {
    using maillib::Code;
    FakeSmtp& s = *server_;
    ++s.attempts;
    const QString& host = address_.host;
    if (s.down) return maillib::failed(Code::ConnectFailed, host);
    for (const QString& r : envelope.recipients) {
      if (s.refuse.contains(r, Qt::CaseInsensitive)) {
        maillib::Result refused = maillib::failed(Code::RecipientRefused, host, r);
        refused.reply = QStringLiteral("550 5.1.1 <%1>: Recipient address rejected").arg(r);
        return refused;
      }
    }
    bool unconfirmed = false;
    for (const QString& r : envelope.recipients) {
      if (s.stall.contains(r, Qt::CaseInsensitive)) return maillib::failed(Code::TimedOut, host);
      unconfirmed = unconfirmed || s.unconfirmed.contains(r, Qt::CaseInsensitive);
    }
    s.received.append({address_.value, envelope.sender, envelope.recipients, login, message});
    return unconfirmed ? maillib::failed(Code::UncertainTimedOut, host) : maillib::Result{};
  }

 private:
  std::shared_ptr<FakeSmtp> server_;
  maillib::ServerAddress address_;
};

inline std::unique_ptr<FakeSmtp::Installed> FakeSmtp::install(const std::shared_ptr<FakeSmtp>& server) {
  testhooks::smtpLinkFactory = [server](const maillib::ServerAddress& address) {
    ++server->connections;
    return std::make_unique<FakeSmtpLink>(server, address);
  };
  return std::make_unique<Installed>();
}
