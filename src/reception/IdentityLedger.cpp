#include "IdentityLedger.h"

#include "reception/maillib/MailLibCommon.h"

namespace reception {

using received::MailIdentity;

QString mailboxKey(const QString& userId, const QString& pop3Server) {
  const std::optional<maillib::ServerAddress> s = maillib::parseServer(pop3Server, maillib::Protocol::Pop3, nullptr);
  return userId + u'@' + (s ? s->host.toLower() : pop3Server.trimmed().toLower());
}

bool IdentityLedger::read(maillib::Pop3Session& session, const QString& userId, const QString& pop3Server,
                          CheckProblem* problem) {
  hasUidl_ = session.uniqueIds(&uids_);
  if (!session.alive()) {
    *problem = libraryProblem(session.failure());
    return false;
  }
  account_ = mailboxKey(userId, pop3Server);
  known_.emplace(received::receivedUidsPath(), account_);
  QString why;
  if (!known_->load(&why)) {
    // Without it a mail stored before could be stored again: nothing is
    // fetched, everything stays on the server.
    *problem = {CheckCode::UidListUnreadable, {}, why, received::receivedUidsPath()};
    return false;
  }
  if (hasUidl_) {
    // What the server no longer lists was deleted: forgotten.
    const int before = known_->size();
    QList<QByteArray> listed;
    for (const QByteArray& u : uids_)
      if (!u.isEmpty()) listed.append(u);
    known_->keepOnly(listed);
    changed_ = known_->size() != before;
  }
  return true;
}

MailIdentity IdentityLedger::identify(int number, const QByteArray& header, qint64 listedSize) const {
  return {hasUidl_ ? uids_.value(number - 1) : QByteArray(), received::mailDigest(header, listedSize)};
}

void IdentityLedger::deleteAnswered(int number, bool ok) {
  const MailIdentity id = deleting_.take(number);
  if (ok) deleted_.append(id);
}

bool IdentityLedger::settle(bool quitAnswered, bool examinedAll, CheckProblem* problem) {
  // Once QUIT is answered the deletions answered +OK have taken: their
  // mails are forgotten, so that a server reusing an ID has its next mail
  // stored, not deleted unread. Everything else stays known.
  if (quitAnswered) {
    for (const MailIdentity& id : deleted_) {
      // One stored by this check was never in the file: nothing to write.
      if (committed_.removeOne(id)) continue;
      known_->forget(id);
      changed_ = true;
    }
    if (!hasUidl_ && examinedAll) {
      const int before = known_->size();
      known_->dropUnclaimedWithoutUid();
      changed_ = changed_ || known_->size() != before;
    }
  }
  for (const MailIdentity& id : committed_) known_->add(id);
  changed_ = changed_ || !committed_.isEmpty();
  QString why;
  if (changed_ && !known_->save(&why)) {
    *problem = {CheckCode::UidListUnwritable, {}, why, received::receivedUidsPath()};
    return false;
  }
  return true;
}

}  // namespace reception
