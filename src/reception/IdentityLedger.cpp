#include "IdentityLedger.h"

#include <QSet>

#include "platform/TestHooks.h"
#include "reception/maillib/MailLibCommon.h"
#include "settings/files/AccountSettings.h"

#include <algorithm>

namespace reception {

using received::MailIdentity;

QString mailboxKey(const QString& userId, const QString& pop3Server) {
  const std::optional<maillib::ServerAddress> s = maillib::parseServer(pop3Server, maillib::Protocol::Pop3, nullptr);
  return userId + u'@' + (s ? s->host.toLower() : pop3Server.trimmed().toLower());
}

LeavePolicy LeavePolicy::fromSettings() {
  const AccountSettingsRecord& s = AccountSettings();
  LeavePolicy p;
  p.leave = s.LeaveOnServer;
  p.days = s.LeaveOnServer && s.LeaveDeleteAfterDays ? std::clamp(s.LeaveDays, 1, AccountSettingsRecord::kMaxLeaveDays) : 0;
  p.withHere = s.LeaveOnServer && s.LeaveDeleteWithHere;
  p.today = received::leftLedgerToday();
  return p;
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
  received::LeftLedger left;
  if (!received::loadLeftLedger(&left, &why)) {
    // Without it a mail left on the server would be stored again.
    *problem = {CheckCode::UidListUnreadable, {}, why, received::leftOnServerPath()};
    return false;
  }
  left_ = left.entries;
  leftChanged_ = left.skipped > 0;
  leftClaimed_ = QList<bool>(left_.size(), false);
  return true;
}

void IdentityLedger::leave(const MailIdentity& id, qint64 listedSize) {
  newlyLeft_.append({account_, id, listedSize, policy_.today, false});
}

void IdentityLedger::adopt(const MailIdentity& id, qint64 listedSize) {
  known_->forget(id);
  changed_ = true;
  leave(id, listedSize);
}

namespace {
// IDs that may name the same mail: the same, or one side without (a server
// that gives IDs since, or no longer does): then the digest alone decides.
bool idsMayMatch(const QByteArray& a, const QByteArray& b) { return a == b || a.isEmpty() || b.isEmpty(); }
}  // namespace

bool IdentityLedger::mayBeLeft(int number) const {
  const QByteArray uid = hasUidl_ ? uids_.value(number - 1) : QByteArray();
  for (qsizetype i = 0; i < left_.size(); ++i)
    if (!leftClaimed_[i] && left_[i].account == account_ && idsMayMatch(left_[i].id.uid, uid)) return true;
  return false;
}

IdentityLedger::Left IdentityLedger::matchLeft(int number, const MailIdentity& id, bool anyId) {
  for (qsizetype i = 0; i < left_.size(); ++i) {
    received::LeftEntry& e = left_[i];
    // The ID alone is not enough: a server may give a new mail the ID of
    // one deleted there.
    if (leftClaimed_[i] || e.account != account_ || e.id.digest != id.digest) continue;
    if (!anyId && !idsMayMatch(e.id.uid, id.uid)) continue;
    leftClaimed_[i] = true;
    if (!id.uid.isEmpty() && e.id.uid != id.uid) {
      // A server whose IDs do not last (numbers): the one it gives now.
      e.id.uid = id.uid;
      leftChanged_ = true;
    }
    const bool due = !policy_.leave || (policy_.days > 0 && e.stored.daysTo(policy_.today) >= policy_.days) ||
                     (e.deletedHere && policy_.withHere);
    if (!due) return Left::Keep;
    leftDeleting_.insert(number, i);
    return Left::Delete;
  }
  return Left::No;
}

MailIdentity IdentityLedger::identify(int number, const QByteArray& header, qint64 listedSize) const {
  return {hasUidl_ ? uids_.value(number - 1) : QByteArray(), received::mailDigest(header, listedSize)};
}

void IdentityLedger::deleteAnswered(int number, bool ok) {
  if (leftDeleting_.contains(number)) {
    const qsizetype entry = leftDeleting_.take(number);
    if (ok) leftDeleted_.append(entry);
    return;
  }
  const MailIdentity id = deleting_.take(number);
  if (ok) deleted_.append(id);
}

bool IdentityLedger::saveLeft(bool quitAnswered, bool examinedAll, CheckProblem* problem) {
  QList<bool> drop(left_.size(), false);
  if (quitAnswered) {
    // Deleted there for good: forgotten.
    for (qsizetype i : leftDeleted_) drop[i] = true;
  }
  // Every mail of the server looked at: what none of them matched is gone
  // from it (deleted by another program). Not told by the IDs listed: a
  // server whose IDs do not last may list a left mail under another.
  if (examinedAll)
    for (qsizetype i = 0; i < left_.size(); ++i)
      if (left_[i].account == account_ && !leftClaimed_[i]) drop[i] = true;
  QList<received::LeftEntry> next;
  for (qsizetype i = 0; i < left_.size(); ++i)
    if (!drop[i]) next.append(left_[i]);
  leftChanged_ = leftChanged_ || next.size() != left_.size() || !newlyLeft_.isEmpty();
  next += newlyLeft_;
  QString why;
  if (leftChanged_ && !received::saveLeftLedger(next, &why)) {
    *problem = {CheckCode::UidListUnwritable, {}, why, received::leftOnServerPath()};
    return false;
  }
  if (leftChanged_) TOMOSHIBI_KILL_POINT("left-saved");
  return true;
}

bool IdentityLedger::settle(bool quitAnswered, bool examinedAll, CheckProblem* problem) {
  // The mails left first: a mail committed and left is in the journal until
  // the list below is written, and a check after a cut-off adopts it from there.
  if (!saveLeft(quitAnswered, examinedAll, problem)) return false;
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
