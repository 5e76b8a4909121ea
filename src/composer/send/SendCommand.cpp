#include "SendCommand.h"

#include "composer/send/MailSend.h"
#include "platform/CommandLine.h"
#include "platform/Text.h"
#include "reception/maillib/MailLib.h"
#include "reception/words/MailWording.h"
#include "settings/files/AccountSettings.h"
#include "settings/secrets/Secrets.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <cstdio>

namespace {

void printError(const QString& s) {
  std::fputs(s.toUtf8().constData(), stderr);
  std::fputc('\n', stderr);
}

// A text file as scripts write it (UTF-8), or as this program's own text
// files are written (Shift-JIS) when it is not valid UTF-8.
QString decodeText(const QByteArray& bytes) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString s = utf8.decode(bytes);
  if (!utf8.hasError()) {
    if (s.startsWith(QChar(0xFEFF))) s.remove(0, 1);
    return s;
  }
  return text::fromCp932(bytes);
}

// A line break or another control character: none belongs in a header
// line, and a line break there would start another field (or, in an
// address, another recipient) than the one a reader sees.
bool hasControlCharacter(const QString& s) {
  for (QChar c : s)
    if (c.category() == QChar::Other_Control || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
      return true;
  return false;
}

// Why the arguments that go into the header cannot be sent, or empty.
QString refusedArgument(const CommandLine& cl) {
  const QString why = QStringLiteral("%1 に改行などの制御文字が含まれています。1行の文字にして下さい。メールは送っていません。");
  if (hasControlCharacter(cl.to)) return why.arg(u"--to"_qs);
  if (hasControlCharacter(cl.subject)) return why.arg(u"--subject"_qs);
  for (const QString& path : cl.attach.split(u',', Qt::SkipEmptyParts))
    if (hasControlCharacter(QFileInfo(path).fileName()))
      return why.arg(u"--attach"_qs) + QStringLiteral("（ファイル「%1」）").arg(path.simplified());
  return QString();
}

}  // namespace

int RunSendCommand(const CommandLine& cl) {
  if (const QString refused = refusedArgument(cl); !refused.isEmpty()) {
    printError(refused);
    return 1;
  }
  QFile f;
  const bool fromStdin = cl.bodyFile == u"-";
  const bool opened = fromStdin ? f.open(stdin, QIODevice::ReadOnly) : (f.setFileName(cl.bodyFile), f.open(QIODevice::ReadOnly));
  if (!opened) {
    printError(QStringLiteral("本文のファイル「%1」を読み込めません。").arg(cl.bodyFile));
    return 1;
  }
  const QString body = decodeText(f.readAll());
  f.close();

  LoadServerSettings();
  // Signed in with OAuth 2.0: the token alone, no password is read.
  if (AccountSettings().SignIn != 1) {
    // Never waits on a locked keyring: only the window may ask to unlock it.
    const AccountFileValues account = ReadAccountFile(secrets::Prompt::Never);
    if (account.status == secrets::Status::Locked || account.status == secrets::Status::Failed) {
      printError(wording::keyringFailure(account.status, account.detail, false) + u'\n' +
                 QStringLiteral("メールは送っていません。"));
      return account.status == secrets::Status::Locked ? kSendNeedsWindowExit : 1;
    }
    AccountSettings().UserId = account.id;
    AccountSettings().Password = account.password;
  }

  MailLibInitialize();
  const SendOutcome outcome = SendOneMail(cl.to, cl.subject, body, cl.attach, QString(), secrets::Prompt::Never);
  MailLibEnd();
  if (outcome.needsSignIn) {
    printError(outcome.error + u'\n' + QStringLiteral("メールは送っていません。"));
    return kSendNeedsWindowExit;
  }
  if (outcome.uncertain) {
    printError(outcome.error + u'\n' + QStringLiteral("もう一度送る前に、相手の方に届いたかどうかを確かめて下さい。"));
    return kSendUncertainExit;
  }
  if (outcome.unverified) {
    // Nobody to ask here: refused, with what the window would show.
    printError(outcome.error + u'\n' +
               QStringLiteral("この証明書を信頼するには、灯火亭の画面からメールを送信して下さい。"
                              "証明書の内容が表示され、信頼するかどうかを選べます。"));
    return 1;
  }
  if (!outcome.ok) {
    printError(outcome.error);
    return 1;
  }
  // Sent all the same: a script must not send it again.
  if (outcome.notKept) printError(notKeptText(outcome));
  return 0;
}
