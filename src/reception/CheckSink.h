#pragma once
// Where a mail check reports, in the order the check makes its effects:
// the main window and the viewer (shell/CheckMail), standard error for
// tomoshibi --check, memory for tests. The check itself needs no display
// and words nothing: it reports codes and the details that go with them,
// and each sink words them (CheckWords) as its user reads them.
#include "platform/ServerCertificate.h"
#include "reception/AttachmentFault.h"
#include "reception/maillib/MailResult.h"
#include "store/received/Fault.h"

#include <QList>
#include <QString>
#include <cstdint>

namespace reception {

// One mail as the viewer's boxes hold it: what the subject, sender and date
// boxes and the body box give back.
struct BoxedMail {
  QString subject;
  QString from;
  QString date;
  QString body;  // CR LF line ends
};

struct CheckProgress {
  int done = 0;    // mails dealt with (stored, skipped or left on the server)
  int total = 0;   // mails the server listed
  qint64 bytes = 0;  // received so far
};

// What the status line says at the end of a check.
enum class CheckStatus { AttachmentMail, NoNewMail, NewMail };

// A mail the check leaves on the server, and why.
struct LeftMail {
  enum class Why {
    TooLargeListed,    // its listed size passed the limit: not even asked for
    Refused,           // the server did not hand it over: `detail` is its answer
    TooLarge,          // it passed the limit while it came
    AttachmentFailed,  // a file of it could not be written: `fault`, or else `attachment`
  };
  int number = 0;
  Why why = Why::Refused;
  qint64 sizeMb = 0;   // TooLargeListed: the size listed
  qint64 limitMb = 0;  // TooLargeListed, TooLarge: the limit
  QString detail = {};
  received::Fault fault = {};
  maillib::AttachmentFault attachment = {};
};

enum class CheckCode {
  NoServer,           // no POP3 server is set and nobody can be asked
  Busy,               // another check holds the program folder (`fault`)
  LockFailed,         // the check lock could not be had (`fault`)
  RecoveryFailed,     // what an interrupted check left could not be made whole (`fault`)
  MailLibrary,        // a step of the mail library failed (`library`)
  NoAccount,          // no ID or password saved and nobody can be asked
  KeyringLocked,      // the saved password is in a locked keyring and nobody may be asked to unlock it
  KeyringNotUnlocked, // the keyring asked to be unlocked and was not
  KeyringFailed,      // the keyring did not give the saved password (`detail`)
  // An account signed in with OAuth 2.0 (`host`: the user the tokens are for):
  SignInNeeded,       // no refresh token, or the provider refused it: sign in again in the browser
  TokenLocked,        // the refresh token is in a locked keyring and nobody may be asked to unlock it
  TokenUnavailable,   // no access token now (`detail`; `count` 1: the token endpoint was not reached)
  UidListUnreadable,  // `path`, `detail`: nothing fetched
  UidListUnwritable,  // `path`, `detail`
  Unsaved,            // received mail could not be stored (`fault`)
  Store,              // the store's own words (`fault`)
  Unflushed,          // a batch did not reach the disk (`fault`, or else `attachment`)
  Stopped,            // the user asked the check to stop
  QuitUnanswered,     // `host`; `library`: why the session ended
  DeletesRefused,     // `host`, `count`; `detail`: the server's last refusal
  PartialMail,        // a mail in parts of which not all came
};

// Failures that only a window can get past (it may ask the user): a
// headless run ends with an exit status of its own for them.
inline bool needsWindow(CheckCode code) {
  return code == CheckCode::KeyringLocked || code == CheckCode::SignInNeeded || code == CheckCode::TokenLocked;
}

struct CheckProblem {
  CheckCode code = CheckCode::MailLibrary;
  received::Fault fault = {};
  QString detail = {};
  QString path = {};
  QString host = {};
  int count = 0;
  maillib::Result library = {};
  maillib::AttachmentFault attachment = {};
  // With a CertificateUnverified `library`: the certificate the server
  // shows, fetched for the user to judge (null when it could not be).
  ServerCertificate certificate = {};
};

// A failed step of the mail library, as the check reports it.
inline CheckProblem libraryProblem(const maillib::Result& failure) {
  CheckProblem p{CheckCode::MailLibrary};
  p.library = failure;
  return p;
}

// Why a check did not end normally: the mails it left on the server (out of
// `notReceived` not received) and what else went wrong, in order.
struct CheckFailure {
  int notReceived = 0;
  QList<LeftMail> left;
  QList<CheckProblem> problems;
};

class CheckSink {
 public:
  virtual ~CheckSink() = default;
  // Whether someone can be asked (the server dialog at start-up, the account
  // dialog): a window can, a headless run cannot and fails instead.
  virtual bool canAsk() const = 0;
  // The main window's help box (the check has begun), status line and
  // new-mail count.
  virtual void checking() = 0;
  virtual void status(CheckStatus status) = 0;
  virtual void count(int n) = 0;
  // The shop's event ("イベント確認").
  virtual void event() = 0;
  // The ID and password read for this check (the account dialog's boxes),
  // and the dialog shown when one of them is empty.
  virtual void accountRead(const QString& id, const QString& password) {
    Q_UNUSED(id);
    Q_UNUSED(password);
  }
  virtual void askAccount() {}
  // A failure, in a box titled "エラー"; a notice, under the program's title.
  virtual void error(const CheckFailure& failure) = 0;
  virtual void notice(const CheckProblem& problem) = 0;
  // The viewer's boxes, with the last mail the check passed through them;
  // only a sink that shows them gets the body (a long one is large).
  virtual bool showsMail() const { return false; }
  virtual void showMail(const BoxedMail& mail) { Q_UNUSED(mail); }
  // "新着メール有りで、メールを見るを自動表示" and "メールを見る".
  virtual bool autoShowViewer() const { return false; }
  virtual void showViewer() {}
  // At most ten times a second, from the waits on the server and between
  // mails: the window keeps painting here.
  virtual void progress(const CheckProgress& p) { Q_UNUSED(p); }
  // Asked as often as progress: true ends the check early and cleanly.
  virtual bool stopRequested() { return false; }
};

}  // namespace reception
