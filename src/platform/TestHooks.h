#pragma once
// The places where tests reach into the program: every one of them is here,
// and only in the test build (TOMOSHIBI_TEST_HOOKS, on with BUILD_TESTING).
// The program a user runs is built without them; the code that consults a
// hook does so inside #ifdef TOMOSHIBI_TEST_HOOKS and otherwise goes its
// own way.
//
// A hook names a library's types by declaration only: this header includes
// nothing above the platform.
#ifdef TOMOSHIBI_TEST_HOOKS

#include <QByteArray>
#include <QDate>
#include <QString>
#include <atomic>
#include <csignal>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>

class QDialog;
class QMessageBox;
class QPrinter;
class QUrl;

namespace filedialog {
struct Request;
}  // namespace filedialog

namespace store {
enum class RewriteStep;
}  // namespace store

namespace maillib {
class Pop3Link;
class SmtpLink;
struct ServerAddress;
struct Result;
struct Pop3Limits;
struct SmtpLimits;
}  // namespace maillib

namespace testhooks {

// --- platform (Durable): durable::replaceFile calls this with the
// temporary file's path once the new text is in it and flushed, just before
// it takes the file's name; false makes the write fail there.
inline std::function<bool(const QString& temp)> replaceFile;

// --- platform/ui: every message box just before it is shown (tests answer
// it here); the open and save dialogs, answered instead of shown (the path
// chosen, or an empty text for a cancel); the print dialog, answered
// instead of shown with the printer and whether the selection range is
// offered (true to print); the desktop's browser, taken the place of.
inline std::function<void(QMessageBox*)> msgBox;
inline std::function<QString(const filedialog::Request&)> fileDialog;
inline std::function<bool(QPrinter&, bool selectionRange)> printDialog;
inline std::function<bool(const QUrl&)> browser;

// --- settings (CertForm): the certificate dialog just before it is shown
// (tests answer it here, as message boxes are answered).
inline std::function<void(QDialog*)> certForm;

// --- shell (MainForm): the length of one minute of the automatic check, in
// milliseconds (0: a real minute), so that a test waits seconds, not minutes.
inline int autoCheckMinuteMs = 0;

// --- platform/ui (Ime): every message sent to an input-method window: the
// registered name (or the number of another message), the parameters and
// the owning window's objectName.
inline std::function<void(const QString& message, uintptr_t wParam, intptr_t lParam, const QString& window)>
    imeMessage;

// --- platform/sound (Mci): every command just before it is carried out.
inline std::function<void(const QString&)> mciCommand;

// --- store (RecordFile): true makes that step of a rewrite through the
// temporary copy fail.
inline std::function<bool(store::RewriteStep)> rewriteStep;

// --- store/received: after each write of the receive journal, and after
// each step of a delete (1 = records copied, 2 = index written, 3 = journal
// committed, 4 = records renamed, 5 = index renamed, 6 = originals removed,
// 7 = journal cleared).
inline void (*afterJournalWrite)() = nullptr;
inline void (*deleteStep)(int step) = nullptr;

// --- reception/maillib (the mail library): a factory, when set, opens the
// links to every server instead of libcurl (a mailbox or an SMTP server in
// memory); limits, when set, stand for the library's own (tests shorten the
// 60 s bounds).
inline std::function<std::unique_ptr<maillib::Pop3Link>(const maillib::ServerAddress&, QByteArray* greeting,
                                                         maillib::Result* failure)>
    pop3LinkFactory;
inline std::function<std::unique_ptr<maillib::SmtpLink>(const maillib::ServerAddress&)> smtpLinkFactory;
inline maillib::Pop3Limits* pop3Limits = nullptr;
inline maillib::SmtpLimits* smtpLimits = nullptr;

// --- reception (the receive engine): the kill harness, driven from the
// environment so that it reaches the real program. TOMOSHIBI_TEST_KILL_AT=
// STEP:N ends the process with SIGKILL at the N-th passing of STEP
// (connected, retrieved, original, record, journal, dele, before-quit,
// quit-answered; an import passes original, record and journal too, and
// imported once a mail of it is stored; with mail left on the server:
// peeked, left-saved); TOMOSHIBI_TEST_BATCH=N makes batches of N mails.
// A check stores its mails on a thread of its own: the steps are counted
// from both.
struct KillAt {
  QByteArray step;
  int at = 0;  // 0: never
  std::atomic<int> seen = 0;
  KillAt() {
    const QByteArray wanted = qgetenv("TOMOSHIBI_TEST_KILL_AT");
    const qsizetype colon = wanted.indexOf(':');
    if (colon <= 0) return;
    step = wanted.left(colon);
    at = wanted.mid(colon + 1).toInt();
  }
};

inline KillAt& killAt() {
  static KillAt k;
  return k;
}

inline void passing(const char* step) {
  KillAt& k = killAt();
  if (k.at > 0 && k.step == step && ++k.seen == k.at) ::raise(SIGKILL);
}

// The batch size asked for; 0: the usual one.
inline int batchMails() { return qEnvironmentVariableIntValue("TOMOSHIBI_TEST_BATCH"); }

// --- store/received (mail left on the server): the day taken for today,
// TOMOSHIBI_TEST_TODAY=YYYY-MM-DD; not set: the real one.
inline QDate today() { return QDate::fromString(qEnvironmentVariable("TOMOSHIBI_TEST_TODAY"), Qt::ISODate); }

// --- shell/entry (the start-up benchmark): the moment, on CLOCK_MONOTONIC in
// nanoseconds, the benchmark started the program. When given, the window
// program prints "idle MS" once its main window is up and nothing is left
// to do, and ends.
inline qint64 startedAtNs() { return qEnvironmentVariable("TOMOSHIBI_TEST_STARTED_NS").toLongLong(); }

// Sets a hook for as long as this lives, then puts back what was there.
template <class T>
class Scoped {
 public:
  Scoped(T& hook, T value) : hook_(hook), saved_(std::exchange(hook, std::move(value))) {}
  ~Scoped() { hook_ = std::move(saved_); }
  Scoped(const Scoped&) = delete;
  Scoped& operator=(const Scoped&) = delete;

 private:
  T& hook_;
  T saved_;
};

}  // namespace testhooks

// A step of a mail check the kill harness can stop the process at.
#define TOMOSHIBI_KILL_POINT(step) ::testhooks::passing(step)

#else

#define TOMOSHIBI_KILL_POINT(step) static_cast<void>(0)

#endif  // TOMOSHIBI_TEST_HOOKS
