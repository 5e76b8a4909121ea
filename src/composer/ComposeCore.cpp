#include "ComposeCore.h"

#include "composer/IMEForm.h"
#include "composer/send/SendRun.h"
#include "facemarks/KaoForm.h"
#include "platform/ui/Ime.h"
#include "platform/ui/MsgBox.h"
#include "platform/ui/SingleWindow.h"
#include "settings/CertForm.h"
#include "settings/OptionSignIn.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>

namespace {

const QString kSending = QStringLiteral("メールを送信中です。しばらくお待ち下さい。");

// The run holds the window until its last turn under the wait cursor; a box
// the user must answer comes up under the usual one.
class CursorPause {
 public:
  CursorPause() { QApplication::restoreOverrideCursor(); }
  ~CursorPause() { QApplication::setOverrideCursor(Qt::WaitCursor); }
};

}  // namespace

ComposeCore::ComposeCore(QWidget* window, const AttachPanel& attach, const HeldPanel& held, QCheckBox* imeClose,
                         QLabel* status, const std::function<QString()>* choose)
    : QObject(window), window_(window), attach_(attach), held_(held), imeClose_(imeClose), status_(status),
      choose_(choose) {
  connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
    if (now == held_.to || now == held_.subject || now == held_.body) lastTextBox_ = now;
  });
}

QFileDialog* ComposeCore::makeAttachDialog(QWidget* window) {
  auto* dialog = new QFileDialog(window);
  dialog->setObjectName(QStringLiteral("AttachCommonDialog"));
  dialog->setFileMode(QFileDialog::ExistingFile);
  dialog->setWindowTitle(QStringLiteral("添付ファイル"));
  return dialog;
}

QString ComposeCore::askAttachDialog(QFileDialog* dialog) {
  dialog->selectFile(QString());
  if (dialog->exec() != QDialog::Accepted) return QString();
  return dialog->selectedFiles().value(0);
}

QPlainTextEdit* ComposeCore::makeBody(const Controls& c, const char* name, const QRectF& at) {
  auto* body = named(new QPlainTextEdit(c.parent()), name);
  body->setAccessibleName(QStringLiteral("本文"));
  body->setFont(QFont(QStringLiteral("ＭＳ ゴシック"), 11));
  c.place(body, at.left(), at.top(), at.width(), at.height());
  return body;
}

QListWidget* ComposeCore::makeFileTitles(const Controls& c, const QRectF& at) {
  auto* titles = named(new QListWidget(c.parent()), "List2");
  titles->setAccessibleName(QStringLiteral("添付ファイル一覧"));
  c.place(titles, at.left(), at.top(), at.width(), at.height());
  return titles;
}

QFrame* ComposeCore::makePanelFrame(const Controls& c, const QRectF& at) {
  auto* panel = named(new QFrame(c.parent()), "Picture7");
  panel->setAccessibleName(QStringLiteral("下書き"));
  panel->setFrameShape(QFrame::Panel);
  panel->setFrameShadow(QFrame::Raised);
  c.place(panel, at.left(), at.top(), at.width(), at.height());
  return panel;
}

AttachPanel ComposeCore::attachPanel() const {
  AttachPanel p = attach_;
  p.choose = *choose_;
  return p;
}

void ComposeCore::tellImeInUse() {
  SendMessageA(ImmGetDefaultIMEWnd(window_), RegisterWindowMessageA(QStringLiteral("MSIMEService")), 0, 0);
}

void ComposeCore::showImeExplanation() { bringUp(IMEForm::instance()); }

void ComposeCore::toggleImePad() {
  // The panel serves the box the user was writing in, not the button.
  QWidget* box = lastTextBox_ ? lastTextBox_.data() : held_.body;
  box->setFocus(Qt::OtherFocusReason);
  const ImeWindow ime = ImmGetDefaultIMEWnd(window_);
  const unsigned message = RegisterWindowMessageA(QStringLiteral("MSIMEShowImePad"));
  if (imeClose_->checkState() == Qt::Checked)
    SendMessageA(ime, message, 0, 0);
  else
    SendMessageA(ime, message, 1, 1);
}

void ComposeCore::showFaceMarks() { KaoForm::showPicker(); }

void ComposeCore::pasteIntoBody() {
  PlainTextBox body(held_.body, window_);
  textproc::PasteTrimmed(body, SystemClipboard());
}

void ComposeCore::pasteIntoRecipient() {
  LineBox recipient(held_.to);
  textproc::PasteTrimmed(recipient, SystemClipboard());
}

void ComposeCore::showSending(const QString& sending) {
  // Only the status line and the recipient box are redrawn between turns.
  if (!status_) return;
  status_->setText(sending);
  status_->repaint();
  held_.to->repaint();
}

SendRunHooks ComposeCore::runHooks(const QString* sending, bool showField) {
  SendRunHooks hooks;
  hooks.starting = [this, sending, showField](const QString& field) {
    if (showField) held_.to->setText(field);
    showSending(*sending);
  };
  hooks.trust = [this](const ServerCertificate& shown) {
    CursorPause pause;
    return CertForm::ask(shown, window_);
  };
  hooks.ended = [](const SendTurn& turn) {
    // A declined certificate, or a run stopped before: nothing to tell.
    if (turn.skipped) return;
    const SendOutcome& o = turn.outcome;
    if (o.needsSignIn) {
      // Asked once; the other recipients wait for the sign-in with the mail.
      CursorPause pause;
      askToSignInAgain(o.error);
    } else if (o.uncertain) {
      // Perhaps delivered: kept, and the user told to check before a second try.
      CursorPause pause;
      MsgBox(o.error + u'\n' + kUncertainKeptText);
    } else if (!o.ok) {
      CursorPause pause;
      MsgBox(o.error, MsgButtons::Ok, MsgIcon::None, QStringLiteral("送信エラー"));
    } else if (o.notKept) {
      CursorPause pause;
      MsgBox(notKeptText(o), MsgButtons::Ok, MsgIcon::Exclamation);
    }
  };
  return hooks;
}

bool ComposeCore::sendTyped(const QString& header) {
  if (status_) status_->setText(kSending);
  const OutgoingMail mail{held_.subject->text(), held_.body->toPlainText(), attach_.list->text(), header};
  QApplication::setOverrideCursor(Qt::WaitCursor);
  SendRun run(mail, runHooks(&kSending, false));
  const QList<SendTurn> turns{run.send(held_.to->text())};
  QApplication::restoreOverrideCursor();
  return ended(turns, false);
}

bool ComposeCore::sendToEveryAddress(QSet<QString>& served) {
  if (status_) status_->setText(kSending);
  const QString typedRecipient = held_.to->text();
  const OutgoingMail mail{held_.subject->text(), held_.body->toPlainText(), attach_.list->text(), QString()};
  QString sending = kSending;
  SendRunHooks hooks = runHooks(&sending, true);
  // A second try says how many are left before it starts.
  const bool again = !served.isEmpty();
  hooks.counted = [this, &sending, again](int unserved) {
    if (again) sending = QStringLiteral("未送信%1件に再送します。").arg(unserved) + kSending;
    if (status_) status_->setText(sending);
  };
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const QList<SendTurn> turns = SendToEveryAddress(mail, served, std::move(hooks));
  QApplication::restoreOverrideCursor();
  if (!ended(turns, true)) {
    held_.to->setText(typedRecipient);
    return false;
  }
  return true;
}

bool ComposeCore::ended(const QList<SendTurn>& turns, bool everyAddress) {
  int failures = 0;
  int unconfirmed = 0;  // perhaps delivered: not failed, and not sent again
  for (const SendTurn& t : turns) {
    if (t.failed()) ++failures;
    if (!t.skipped && t.outcome.uncertain) ++unconfirmed;
  }
  if (failures > 0 || unconfirmed > 0) {
    // Nothing is claimed and nothing is lost: the mail stays in the window
    // for another try, which in the all-addresses mode skips those served
    // and those that perhaps have it.
    QString status = failures > 0 ? QStringLiteral("%1件中%2件の送信に失敗しました。").arg(turns.size()).arg(failures)
                                  : QStringLiteral("%1件中").arg(turns.size());
    if (unconfirmed > 0) status += QStringLiteral("%1件は送信されたか確認できませんでした。").arg(unconfirmed);
    status += QStringLiteral("内容はそのまま残してあります。");
    if (everyAddress && failures > 0)
      status += QStringLiteral("もう一度「送信」を押すと、未送信の%1件にだけ送ります。").arg(failures);
    if (status_) status_->setText(status);
    return false;
  }
  if (status_) status_->setText(QStringLiteral("送信完了です。"));
  return true;
}
