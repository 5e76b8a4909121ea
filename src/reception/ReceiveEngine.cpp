#include "ReceiveEngine.h"

#include "BatchStore.h"
#include "FetchPipeline.h"
#include "IdentityLedger.h"
#include "SignedInLogin.h"
#include "platform/HeaderScan.h"
#include "platform/Paths.h"
#include "platform/TestHooks.h"
#include "reception/maillib/Pop3Session.h"
#include "reception/maillib/TlsCertificate.h"
#include "settings/files/AccountSettings.h"
#include "settings/files/PinnedKeys.h"
#include "settings/secrets/Secrets.h"

#include <QSet>
#include <csignal>

namespace reception {

namespace {

using Answer = maillib::Pop3Session::Answer;

// One check once the server has taken the login: the pieces, and the
// answers of the server handed from one to the next.
class Check : public FetchPipeline::Handler {
 public:
  Check(maillib::Pop3Session& session, QString host, received::ReceivedStore& store, IdentityLedger& ledger,
        CheckReport& report)
      : session_(session),
        host_(std::move(host)),
        pipeline_(session),
        batch_(store, report, paths::resolve(paths::kAttachFolder), BatchStore::Storing::Alongside),
        ledger_(ledger),
        report_(report) {}

  void fetchAll();
  // The server has no mail: every one of it was looked at.
  void nothingWaiting() { examinedAll_ = true; }
  // Commits what is stored, waits for every deletion, ends the session and
  // brings the ledger up to date; false when the ledger could not be saved.
  bool finish();
  const std::optional<BatchStore::LastMail>& last() const { return batch_.last(); }

  bool fetching() override { return report_.storing(); }
  bool admit(int number) override;
  void retrieved(const Answer& a, QByteArray&& raw) override;
  void peeked(const Answer& a, QByteArray&& header) override;
  void deleted(const Answer& a) override;
  void waiting() override { report_.tick(session_.received()); }

 private:
  void commit();
  // A mail stored and left on the server, met again: kept there, or its
  // deletion asked for when its time there is over.
  void leftAgain(int number, IdentityLedger::Left verdict);

  maillib::Pop3Session& session_;
  QString host_;
  FetchPipeline pipeline_;
  BatchStore batch_;
  IdentityLedger& ledger_;
  CheckReport& report_;
  int perBatch_ = kCommitMails;
  bool examinedAll_ = false;
  bool skippedAny_ = false;  // a mail neither fetched nor known by its header
  int refusedDeletes_ = 0;
  QByteArray lastRefusal_;
  QSet<int> settled_;  // mails left on the server that the header showed
};

void Check::fetchAll() {
#ifdef TOMOSHIBI_TEST_HOOKS
  if (const int n = testhooks::batchMails(); n > 0) perBatch_ = n;
#endif
  QList<int> numbers, peek;
  for (int n = 1; n <= session_.count(); ++n) {
    if (session_.size(n) < 0) continue;
    numbers.append(n);
    if (ledger_.mayBeLeft(n)) peek.append(n);
  }
  // The mails left on the server are known by their headers: not fetched
  // whole again.
  if (!peek.isEmpty()) {
    pipeline_.peek(peek, *this);
    numbers.removeIf([&](int n) { return settled_.contains(n); });
  }
  report_.progress().total = int(numbers.size());
  report_.tick(session_.received(), true);
  pipeline_.fetch(numbers, *this);
  batch_.settle();
  // A mail left on the server that could not be looked at must not pass
  // for one gone from it.
  examinedAll_ = session_.alive() && report_.storing() && !skippedAny_;
}

void Check::leftAgain(int number, IdentityLedger::Left verdict) {
  settled_.insert(number);
  if (verdict == IdentityLedger::Left::Delete) pipeline_.dele(number);
}

void Check::peeked(const Answer& a, QByteArray&& header) {
  TOMOSHIBI_KILL_POINT("peeked");
  // A refused TOP: the whole mail decides.
  if (!a.ok || a.tooLarge) return;
  const received::MailIdentity id =
      ledger_.identify(a.number, header.left(headerscan::bodyOffset(header)), session_.size(a.number));
  if (const IdentityLedger::Left verdict = ledger_.matchLeft(a.number, id); verdict != IdentityLedger::Left::No)
    leftAgain(a.number, verdict);
  report_.tick(session_.received());
}

bool Check::admit(int number) {
  const qint64 limit = maillib::pop3Limits().maxMail;
  if (session_.size(number) <= limit) return true;
  // Not even asked for: the listed size alone is too much. Reported after
  // the mails before it.
  batch_.settle();
  LeftMail left{number, LeftMail::Why::TooLargeListed};
  left.sizeMb = session_.size(number) / (1024 * 1024);
  left.limitMb = limit / (1024 * 1024);
  report_.leave(left);
  skippedAny_ = true;
  ++report_.progress().done;
  return false;
}

void Check::retrieved(const Answer& a, QByteArray&& raw) {
  TOMOSHIBI_KILL_POINT("retrieved");
  ++report_.progress().done;
  // A mail not handed to the batch is reported after the mails before it,
  // and a stop of their storing is known before it is judged.
  if (!a.ok || a.tooLarge || batch_.stopping()) batch_.settle();
  if (!report_.storing() || !a.ok || a.tooLarge) skippedAny_ = true;
  if (!report_.storing()) {
    // Asked for before storing stopped: it stays on the server.
  } else if (!a.ok) {
    LeftMail left{a.number, LeftMail::Why::Refused};
    left.detail = QString::fromUtf8(a.status.trimmed().left(200));
    report_.leave(left);
  } else if (a.tooLarge) {
    LeftMail left{a.number, LeftMail::Why::TooLarge};
    left.limitMb = maillib::pop3Limits().maxMail / (1024 * 1024);
    report_.leave(left);
  } else {
    const qsizetype headerLength = headerscan::bodyOffset(raw);
    const received::MailIdentity id = ledger_.identify(a.number, raw.left(headerLength), session_.size(a.number));
    const IdentityLedger::Left left = ledger_.matchLeft(a.number, id, true);
    if (left != IdentityLedger::Left::No) {
      // Left on the server, and known only once fetched (a server without
      // TOP, or one that lists the mail under another ID now).
      report_.duplicate();
      leftAgain(a.number, left);
    } else if (ledger_.storedBefore(id)) {
      // Stored by an earlier check whose deletion the server did not
      // confirm, or that was cut off before the mail was noted as left.
      report_.duplicate();
      if (ledger_.policy().leave) {
        ledger_.adopt(id, session_.size(a.number));
      } else {
        ledger_.deleting(a.number, id);
        pipeline_.dele(a.number);
      }
    } else {
      batch_.add(a.number, id, std::move(raw), headerLength);
    }
  }
  // The batch is committed after the mail that fills it, as when each mail
  // was stored before the next was read.
  if (batch_.mayBeFull(perBatch_)) {
    batch_.settle();
    if (!batch_.isEmpty() && batch_.full(perBatch_)) commit();
  }
  report_.tick(session_.received());
}

void Check::deleted(const Answer& a) {
  TOMOSHIBI_KILL_POINT("dele");
  ledger_.deleteAnswered(a.number, a.ok);
  if (!a.ok) {
    ++refusedDeletes_;
    lastRefusal_ = a.status.trimmed();
  }
}

void Check::commit() {
  for (const BatchStore::Stored& s : batch_.commit(ledger_.account())) {
    if (ledger_.policy().leave) {
      ledger_.leave(s.id, session_.size(s.number));
      continue;
    }
    ledger_.committed(s.id);
    ledger_.deleting(s.number, s.id);
    pipeline_.dele(s.number);
  }
}

bool Check::finish() {
  // What is stored is committed even when the server has gone: its mails
  // stay there, known, and are not stored twice.
  commit();
  pipeline_.deleteAll(*this);
  bool answered = false;
  if (session_.alive()) {
    TOMOSHIBI_KILL_POINT("before-quit");
    session_.quit(&answered);
    if (!answered) {
      CheckProblem p{CheckCode::QuitUnanswered};
      p.host = host_;
      p.library = session_.failure();
      report_.problem(p);
    }
  } else if (const maillib::Result& lost = session_.failure();
             !lost.ok() && lost.code != maillib::Code::Stopped && !report_.hasLibraryProblem(lost)) {
    // A wait given up on is the user's stop, reported once as such.
    report_.problem(libraryProblem(lost));
  }
  if (answered) TOMOSHIBI_KILL_POINT("quit-answered");
  if (refusedDeletes_ > 0) {
    CheckProblem p{CheckCode::DeletesRefused};
    p.host = host_;
    p.count = refusedDeletes_;
    p.detail = QString::fromUtf8(lastRefusal_.left(200));
    report_.problem(p);
  }
  CheckProblem unsaved;
  if (ledger_.settle(answered, examinedAll_, &unsaved)) return true;
  report_.problem(unsaved);
  return false;
}

// The connection failed for the server's certificate: the certificate is
// fetched for the user to judge, on a connection that ends after the
// handshake. A server whose pinned key it does not carry has changed its key.
CheckProblem certificateProblem(const maillib::Result& failure, const maillib::ServerAddress& server,
                                CheckReport& report) {
  CheckProblem p = libraryProblem(failure);
  if (failure.code != maillib::Code::CertificateUnverified) return p;
  const std::optional<ServerCertificate> shown =
      tls::fetchCertificate(server, nullptr, [&] { return report.tick(0); });
  if (!shown) return p;
  if (!tls::matchesPin(*shown, server)) {
    p.library.code = maillib::Code::PinnedKeyChanged;
    return p;
  }
  p.certificate = *shown;
  return p;
}

// The account's POP3 server as the check reaches it: the server value, the
// user's permission to go without encryption and the key the user trusted
// for it.
std::optional<maillib::ServerAddress> accountPop3Server(maillib::Result* failure) {
  const AccountSettingsRecord& account = AccountSettings();
  std::optional<maillib::ServerAddress> address =
      maillib::parseServer(account.Pop3Server, maillib::Protocol::Pop3, failure);
  if (!address) return address;
  address->plainAllowed = PlainLoginAllowed(account.PlainPop3Server, address->value);
  // The encryption the user chose over what the port suggests.
  if (account.Pop3Tls == u"implicit")
    address->implicitTls = true;
  else if (account.Pop3Tls == u"starttls")
    address->implicitTls = false;
  if (const std::optional<pins::Pin> pin = pins::find(address->host, address->port)) {
    address->pinnedKey = pin->key;
    address->pinnedAnyName = pin->anyName;
  }
  return address;
}

}  // namespace

CheckOutcome runCheck(CheckSink& sink, const LoginSource& login) {
  // A file that passes its size limit fails its write (and is cut back)
  // instead of ending the process in the middle of a record.
  std::signal(SIGXFSZ, SIG_IGN);
  CheckReport report(sink);
  AccountSettingsRecord& account = AccountSettings();

  if (account.Pop3Server.isEmpty()) {
    // The main window asks for the server at start-up; a run without
    // windows has nobody to ask.
    if (!sink.canAsk()) report.fail({CheckCode::NoServer});
    return report.finish();
  }
  received::ReceivedStore store;
  if (const received::Fault f = store.lock()) {
    if (f.code == received::Code::CheckRunning) {
      // Another check works on these files: this one changes nothing.
      report.notice({CheckCode::Busy, f});
      return report.busy();
    }
    report.fail({CheckCode::LockFailed, f});
    return report.finish();
  }
  if (const received::Fault f = store.recover()) {
    report.fail({CheckCode::RecoveryFailed, f});
    return report.finish();
  }

  // Nothing to log in with: the account dialog, or a failure without it.
  auto noLogin = [&](const std::optional<CheckProblem>& why) {
    if (why) {
      report.fail(*why);
    } else if (sink.canAsk()) {
      sink.askAccount();  // the check does not wait for the answer
    } else {
      report.fail({CheckCode::NoAccount});
    }
  };
  // A caller's login is known before the connection is made: a bearer
  // token goes over TLS only, whatever the user allowed for a password.
  std::optional<maillib::Credentials> given;
  if (login) {
    std::optional<CheckProblem> why;
    given = login(false, &why);
    if (!given) {
      sink.checking();
      noLogin(why);
      return report.finish();
    }
  }
  const bool bearer = given && given->mechanism == maillib::Mechanism::Bearer;

  maillib::Result notConnected;
  std::unique_ptr<maillib::Pop3Session> session;
  std::optional<maillib::ServerAddress> address = accountPop3Server(&notConnected);
  auto connect = [&] {
    session = FetchPipeline::connect(*address, [&](qint64 received) { return report.tick(received); }, &notConnected);
    // Not the password's permission to ask for: a token needs TLS.
    if (!session && bearer && notConnected.code == maillib::Code::PlainRefused)
      notConnected.code = maillib::Code::TokenNeedsTls;
    return session != nullptr;
  };
  if (address) {
    if (bearer) address->plainAllowed = false;
    connect();
  }
  sink.checking();
  if (!session) {
    report.fail(address ? certificateProblem(notConnected, *address, report) : libraryProblem(notConnected));
    return report.finish();
  }
  TOMOSHIBI_KILL_POINT("connected");

  maillib::Credentials credentials;
  if (given) {
    credentials = *given;
  } else {
    // A window may ask the keyring to be unlocked; a headless run may not
    // and never waits on a locked one.
    const bool mayAsk = sink.canAsk();
    const AccountFileValues saved = ReadAccountFile(mayAsk ? secrets::Prompt::Allowed : secrets::Prompt::Never);
    if (saved.status == secrets::Status::Locked || saved.status == secrets::Status::Failed) {
      CheckProblem p{saved.status == secrets::Status::Failed ? CheckCode::KeyringFailed
                     : mayAsk                                ? CheckCode::KeyringNotUnlocked
                                                             : CheckCode::KeyringLocked};
      p.detail = saved.detail;
      report.fail(p);
      session->quit();
      return report.finish();
    }
    account.UserId = saved.id;
    account.Password = saved.password;
    sink.accountRead(saved.id, saved.password);
    if (account.UserId.isEmpty() || account.Password.isEmpty()) {
      noLogin(std::nullopt);
      session->quit();
      return report.finish();
    }
    credentials = {account.UserId, account.Password,
                   account.ApopFlag != 0 ? maillib::Mechanism::Apop : maillib::Mechanism::Password};
  }
  // What the server says is waiting, or why the login failed; the count
  // shown is always the mails this check stored.
  int waiting = session->login(credentials);
  if (waiting < 0 && login && session->failure().code == maillib::Code::TokenRefused) {
    // Once more with a fresh token, on the same connection while it lasts.
    std::optional<CheckProblem> why;
    if (std::optional<maillib::Credentials> fresh = login(true, &why)) {
      credentials = *fresh;
      if (session->alive() || connect()) waiting = session->login(credentials);
    } else if (why) {
      report.fail(*why);
      session->quit();
      return report.finish();
    }
  }
  if (!session) {
    report.fail(libraryProblem(notConnected));
    return report.finish();
  }
  if (waiting < 0) {
    const CheckProblem refused = libraryProblem(session->failure());
    report.fail(refused);
    session->quit();
    CheckOutcome out = report.finish();
    // A fresh token refused as well: only signing in again can help.
    if (login && needsSignInWindow(refused)) out.needsWindow = true;
    return out;
  }
  IdentityLedger ledger(LeavePolicy::fromSettings());
  CheckProblem unreadable;
  if (!ledger.read(*session, credentials.user, account.Pop3Server, &unreadable)) {
    report.fail(unreadable);
    session->quit();
    return report.finish();
  }
  Check check(*session, address->host, store, ledger, report);
  if (waiting > 0)
    check.fetchAll();
  else
    check.nothingWaiting();
  if (check.finish()) {
    if (const received::Fault f = store.finish()) report.problem({CheckCode::Store, f});
  }
  report.conclude();
  const std::optional<BatchStore::LastMail>& last = check.last();
  if (!last) return report.finish();
  sink.showMail(last->boxes);
  CheckOutcome out = report.finish(last->attachFlag);
  out.lastRecord = last->recordNumber;
  out.lastRecordBytes = last->record;
  return out;
}

}  // namespace reception
