#pragma once
// Which mails of the mailbox a check has met before: the server's unique
// IDs, the digests of the mails' headers, the list of mails stored whose
// deletion the server has not confirmed (received::ReceivedUidList) and
// the mails stored and left on the server (received::LeftLedger), brought
// up to date at the end of the check.
#include "CheckSink.h"
#include "reception/maillib/Pop3Session.h"
#include "store/received/LeftOnServer.h"
#include "store/received/ReceivedUids.h"

#include <QDate>

#include <QHash>
#include <QList>
#include <optional>

namespace reception {

// The mailbox a list belongs to: the user at the server's host. Port and
// TLS are ways to reach the mailbox, not another mailbox.
QString mailboxKey(const QString& userId, const QString& pop3Server);

// What becomes of a mail once stored: deleted on the server (the default),
// or left there, perhaps for a number of days, perhaps until deleted here.
struct LeavePolicy {
  bool leave = false;
  int days = 0;           // deleted there once stored this many days ago; 0: never
  bool withHere = false;  // a mail deleted here is deleted there
  QDate today;
  // The user's choices in the server dialog, and today's date.
  static LeavePolicy fromSettings();
};

class IdentityLedger {
 public:
  explicit IdentityLedger(LeavePolicy policy = {}) : policy_(std::move(policy)) {}
  const LeavePolicy& policy() const { return policy_; }

  // The server's IDs and the list of mails stored before. False, with the
  // problem that ends the check, when either cannot be had: then nothing
  // may be fetched.
  bool read(maillib::Pop3Session& session, const QString& userId, const QString& pop3Server, CheckProblem* problem);
  const QString& account() const { return account_; }

  received::MailIdentity identify(int number, const QByteArray& header, qint64 listedSize) const;
  // True when the mail was stored by an earlier check whose deletion the
  // server did not confirm.
  bool storedBefore(const received::MailIdentity& id) { return known_->claim(id); }
  // A mail of this check's committed batches, deleted on the server.
  void committed(const received::MailIdentity& id) { committed_.append(id); }
  // A mail of this check's committed batches, left on the server.
  void leave(const received::MailIdentity& id, qint64 listedSize);
  // A mail stored by an earlier check that was cut off before it was
  // deleted, now to be left on the server.
  void adopt(const received::MailIdentity& id, qint64 listedSize);

  // Whether mail `number` may be one stored and left on the server: its
  // header decides (matchLeft).
  bool mayBeLeft(int number) const;
  enum class Left { No, Keep, Delete };
  // Whether the mail is one stored and left, and whether its time on the
  // server is over (then its deletion is noted: the caller sends DELE).
  // `anyId`: the whole mail was fetched, and its digest decides even under
  // another ID than the one it was left under.
  Left matchLeft(int number, const received::MailIdentity& id, bool anyId = false);
  // A deletion asked for, and the server's answer to it.
  void deleting(int number, const received::MailIdentity& id) { deleting_.insert(number, id); }
  void deleteAnswered(int number, bool ok);

  // Once the session is over: with QUIT answered the deletions answered
  // +OK have taken, and their mails are forgotten; every mail committed by
  // this check is added, to the mails left when it was left. The mails
  // left are saved first. False, with the problem, when the list cannot be
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

  bool saveLeft(bool quitAnswered, bool examinedAll, CheckProblem* problem);
  LeavePolicy policy_;
  QList<received::LeftEntry> left_;  // every account's
  QList<bool> leftClaimed_;          // by a mail of this session
  QHash<int, qsizetype> leftDeleting_;  // mail number -> entry
  QList<qsizetype> leftDeleted_;     // entries whose DELE was answered +OK
  QList<received::LeftEntry> newlyLeft_;
  bool leftChanged_ = false;
};

}  // namespace reception
