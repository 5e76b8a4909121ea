#pragma once
// Which mails of the mailbox a check has met before: the server's unique
// IDs, the digests of the mails' headers, and the list of mails stored
// whose deletion the server has not confirmed (received::ReceivedUidList),
// brought up to date at the end of the check.
#include "CheckSink.h"
#include "reception/maillib/Pop3Session.h"
#include "store/received/ReceivedUids.h"

#include <QHash>
#include <QList>
#include <optional>

namespace reception {

// The mailbox a list belongs to: the user at the server's host. Port and
// TLS are ways to reach the mailbox, not another mailbox.
QString mailboxKey(const QString& userId, const QString& pop3Server);

class IdentityLedger {
 public:
  // The server's IDs and the list of mails stored before. False, with the
  // problem that ends the check, when either cannot be had: then nothing
  // may be fetched.
  bool read(maillib::Pop3Session& session, const QString& userId, const QString& pop3Server, CheckProblem* problem);
  const QString& account() const { return account_; }

  received::MailIdentity identify(int number, const QByteArray& header, qint64 listedSize) const;
  // True when the mail was stored by an earlier check whose deletion the
  // server did not confirm.
  bool storedBefore(const received::MailIdentity& id) { return known_->claim(id); }
  // A mail of this check's committed batches.
  void committed(const received::MailIdentity& id) { committed_.append(id); }
  // A deletion asked for, and the server's answer to it.
  void deleting(int number, const received::MailIdentity& id) { deleting_.insert(number, id); }
  void deleteAnswered(int number, bool ok);

  // Once the session is over: with QUIT answered the deletions answered
  // +OK have taken, and their mails are forgotten; every mail committed by
  // this check is added. False, with the problem, when the list cannot be
  // written (the journal then keeps the batches).
  bool settle(bool quitAnswered, bool examinedAll, CheckProblem* problem);

 private:
  bool hasUidl_ = false;
  QList<QByteArray> uids_;
  std::optional<received::ReceivedUidList> known_;
  QString account_;
  bool changed_ = false;
  QList<received::MailIdentity> committed_;
  QHash<int, received::MailIdentity> deleting_;
  QList<received::MailIdentity> deleted_;  // answered +OK
};

}  // namespace reception
