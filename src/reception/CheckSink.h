#pragma once
// Where a mail check reports, in the order the check makes its effects:
// the main window and the viewer (CheckMail), standard error for
// tomoshibi --check, memory for tests. The check itself needs no display.
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
// "受信中 12/340件（3.4 MB）"
QString progressText(const CheckProgress& p);

class CheckSink {
 public:
  virtual ~CheckSink() = default;
  // Whether someone can be asked (the server dialog at start-up, the account
  // dialog): a window can, a headless run cannot and fails instead.
  virtual bool canAsk() const = 0;
  // The main window's help box, status line and new-mail count.
  virtual void help(const QString& text) = 0;
  virtual void status(const QString& text) = 0;
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
  virtual void error(const QString& text) = 0;
  virtual void notice(const QString& text) = 0;
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
