#include "CheckMail.h"

#include "platform/SharedState.h"
#include "platform/ui/MsgBox.h"
#include "reception/CheckWords.h"
#include "settings/CertForm.h"
#include "reception/SignedInLogin.h"
#include "settings/IdPassForm.h"
#include "settings/OptionSignIn.h"
#include "shell/MainForm.h"
#include "store/Records.h"
#include "viewer/TyakuForm.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScopedValueRollback>

namespace {

// Input of every kind is swallowed while a check runs, as the windows were
// frozen before; painting, timers and the window system's other events go
// on. A message box of the check's own is answered normally.
class InputBlock : public QObject {
 public:
  InputBlock() { qApp->installEventFilter(this); }
  ~InputBlock() override { qApp->removeEventFilter(this); }
  void pause(bool paused) { paused_ = paused; }

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override {
    if (paused_) return QObject::eventFilter(watched, e);
    switch (e->type()) {
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseButtonDblClick:
      case QEvent::MouseMove:
      case QEvent::Wheel:
      case QEvent::KeyPress:
      case QEvent::KeyRelease:
      case QEvent::ShortcutOverride:
      case QEvent::Shortcut:
      case QEvent::ContextMenu:
      case QEvent::TouchBegin:
      case QEvent::TouchUpdate:
      case QEvent::TouchEnd:
      case QEvent::TabletPress:
      case QEvent::TabletRelease:
      case QEvent::InputMethod:
      case QEvent::DragEnter:
      case QEvent::DragMove:
      case QEvent::Drop:
      case QEvent::NonClientAreaMouseButtonPress:
      case QEvent::NonClientAreaMouseButtonDblClick:
        return true;
      case QEvent::Close:
        // The window manager's close button: not while the check runs.
        if (e->spontaneous()) {
          e->ignore();
          return true;
        }
        break;
      default:
        break;
    }
    return QObject::eventFilter(watched, e);
  }

 private:
  bool paused_ = false;
};

class WindowSink : public reception::CheckSink {
 public:
  // `judgeCertificate`: a server certificate that could not be verified is
  // kept for the certificate dialog (certificate()) instead of shown as an
  // error.
  WindowSink(bool judgeCertificate, bool automatic)
      : main_(MainForm::instance()), judgeCertificate_(judgeCertificate), automatic_(automatic) {}
  ~WindowSink() override {
    if (dialog_ && !dialogWasLoaded_ && !dialog_->isVisible()) dialog_->deleteLater();  // loaded only to be filled
  }

  bool canAsk() const override { return true; }
  void checking() override {
    if (main_) main_->Text1->setPlainText(reception::checkingText());
  }
  void status(reception::CheckStatus s) override {
    if (main_) main_->Text3->setText(reception::statusText(s));
  }
  void count(int n) override {
    if (main_) main_->Text6->setText(QString::number(n));
  }
  void event() override {
    if (main_) main_->mkakunin->trigger();
  }
  void accountRead(const QString& id, const QString& password) override {
    dialogWasLoaded_ = IdPassForm::existing() != nullptr;
    dialog_ = IdPassForm::instance();
    dialog_->IdText->setText(id);
    dialog_->PassText->setText(password);
  }
  void askAccount() override {
    if (dialog_) dialog_->showDialog();
  }
  void error(const reception::CheckFailure& f) override {
    // The sign-in is over: asked about once the check has ended, not shown
    // as an error.
    for (const reception::CheckProblem& p : f.problems)
      if (p.code == reception::CheckCode::SignInNeeded ||
          (p.code == reception::CheckCode::MailLibrary && p.library.code == maillib::Code::TokenRefused)) {
        signInQuestion_ = reception::failureText(f);
        return;
      }
    if (judgeCertificate_)
      for (const reception::CheckProblem& p : f.problems)
        if (!p.certificate.isNull()) {
          certificate_ = p.certificate;
          return;
        }
    box(reception::failureText(f), QStringLiteral("エラー"));
  }
  const std::optional<ServerCertificate>& certificate() const { return certificate_; }
  const QString& signInQuestion() const { return signInQuestion_; }
  void notice(const reception::CheckProblem& p) override {
    // The timer meets a scheduled check (or a delete) at work: that one
    // stores the mail, and the window learns of it from the file.
    if (automatic_ && p.code == reception::CheckCode::Busy) return;
    box(reception::problemText(p), kAppTitle);
  }
  bool showsMail() const override { return true; }
  void showMail(const reception::BoxedMail& m) override {
    TyakuForm::instance()->showMail(m.subject, m.from, m.date, m.body);
  }
  bool autoShowViewer() const override { return main_ && main_->Check2->isChecked(); }
  void showViewer() override {
    if (main_) main_->Command6->click();
  }
  void progress(const reception::CheckProgress& p) override {
    if (main_) main_->Text3->setText(reception::progressText(p));
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }

 private:
  void box(const QString& text, const QString& title) {
    block_.pause(true);
    MsgBox(text, MsgButtons::Ok, MsgIcon::None, title);
    block_.pause(false);
  }

  QPointer<MainForm> main_;
  QPointer<IdPassForm> dialog_;
  bool dialogWasLoaded_ = false;
  bool judgeCertificate_;
  bool automatic_;
  std::optional<ServerCertificate> certificate_;
  QString signInQuestion_;
  InputBlock block_;
};

}  // namespace

reception::CheckOutcome CheckMail(bool automatic) {
  reception::CheckOutcome out;
  const QScopedValueRollback running(shared::CheckRunning, true);
  std::optional<ServerCertificate> unverified;
  QString signInQuestion;
  // An account signed in with OAuth 2.0 logs in with its token (the
  // keyring may ask to be unlocked), never with a password.
  const reception::LoginSource login =
      reception::accountSignedIn() ? reception::signedInLogin(secrets::Prompt::Allowed) : reception::LoginSource{};
  {
    WindowSink sink(true, automatic);
    out = reception::runCheck(sink, login);
    unverified = sink.certificate();
    signInQuestion = sink.signInQuestion();
  }
  // The server's certificate could not be verified, and nothing but the
  // handshake went to it: the user judges the certificate, and once it is
  // trusted the check runs again with its key pinned.
  if (unverified && CertForm::ask(*unverified, MainForm::instance())) {
    WindowSink sink(false, automatic);
    out = reception::runCheck(sink, login);
    signInQuestion = sink.signInQuestion();
  }
  // The provider no longer takes the sign-in: the user may sign in again
  // in the browser at once, from the server dialog.
  if (!signInQuestion.isEmpty()) askToSignInAgain(signInQuestion);
  if (out.lastRecord > 0) {
    shared::CurrentRecordNumber = int16_t(out.lastRecord);
    store::ReceivedMailBuffer().setBytes(out.lastRecordBytes);
  }
  return out;
}
